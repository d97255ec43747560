#include "session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <random>

#include "capture.h"
#include "format.h"
#include "system.h"

namespace ovrin_tool {
namespace {

Listeners* gListeners = nullptr;
const Options* gOptions = nullptr;
std::mutex gRecorderLock;  // the recorder hears the host's thread and the receive thread

std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void OnTrace(const ovrin::Trace& trace, void*) {
  if (trace.kind == ovrin::TraceKind::kCandidate) {
    gListeners->report.Take(trace);
    if (gListeners->verbose && trace.outcome != ovrin::PortOutcome::kOpened) {
      WriteText(stderr, "ovrin: " + gListeners->report.Lines().back() + "\n");
    }
  }
  if (gListeners->recorder != nullptr) {
    const std::lock_guard<std::mutex> held(gRecorderLock);
    gListeners->recorder->Take(trace);
  }
}

int OnMessageBox(const char* text, unsigned style, void*) {
  if (style != ovrin::kStyleYesNo) {
    std::fprintf(stderr, "ovrin: %s\n", text);
    return ovrin::kButtonOk;
  }
  // The one question: the meter did not answer on the first ports tried. A
  // run that reconnects on its own never asks.
  if (gOptions->reconnect) return ovrin::kButtonYes;
  if (gOptions->answer != Answer::kAsk) return gOptions->answer == Answer::kYes ? ovrin::kButtonYes : ovrin::kButtonNo;
  if (!StdinIsTerminal()) return ovrin::kButtonYes;
  std::fprintf(stderr, "The meter may not be connected properly. Keep searching? [Y/n] ");
  std::string reply;
  std::getline(std::cin, reply);
  return !reply.empty() && (reply[0] == 'n' || reply[0] == 'N') ? ovrin::kButtonNo : ovrin::kButtonYes;
}

bool Final(ovrin::PortOutcome outcome) { return outcome != ovrin::PortOutcome::kOpened; }

}  // namespace

// ---- Recorder ----------------------------------------------------------------

Recorder::~Recorder() {
  if (file_ != nullptr) {
    SyncFile(file_);
    std::fclose(file_);
  }
}

bool Recorder::Start(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "cannot write the capture \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  startNs_ = MonotonicNs();
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  std::fprintf(file_, "%s\n# started %s\n", ovrin_capture::kFirstLine,
               IsoTime(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()).c_str());
  std::fflush(file_);
  return true;
}

void Recorder::Take(const ovrin::Trace& trace) {
  const std::string port = trace.port != nullptr ? trace.port : "";
  switch (trace.kind) {
    case ovrin::TraceKind::kSent:
    case ovrin::TraceKind::kReceived: {
      const ovrin_capture::Chunk chunk{static_cast<double>(trace.monotonicNs - startNs_) / 1e9,
                                       trace.kind == ovrin::TraceKind::kSent ? ovrin_capture::Direction::kToMeter
                                                                             : ovrin_capture::Direction::kFromMeter,
                                       std::string(trace.bytes, trace.size)};
      if (port == connected_) {
        std::fprintf(file_, "%s\n", ovrin_capture::FormatChunk(chunk).c_str());
        std::fflush(file_);
      } else {
        candidate_.push_back(ovrin_capture::FormatChunk(chunk));
      }
      break;
    }
    case ovrin::TraceKind::kCandidate:
      // A candidate's exchange is kept only if it turns out to be the meter.
      if (trace.outcome == ovrin::PortOutcome::kAccepted) {
        std::fprintf(file_, "# the meter on %s\n", port.c_str());
        for (const std::string& line : candidate_) std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
        connected_ = port;
      }
      candidate_.clear();
      break;
    case ovrin::TraceKind::kConnected:
      connected_ = port;
      break;
    case ovrin::TraceKind::kLinkLost:
    case ovrin::TraceKind::kClosed:
      std::fprintf(file_, "# %s %s\n", trace.kind == ovrin::TraceKind::kLinkLost ? "lost" : "closed", port.c_str());
      std::fflush(file_);
      connected_.clear();
      break;
  }
}

// ---- SearchReport --------------------------------------------------------------

void SearchReport::Take(const ovrin::Trace& trace) {
  if (!Final(trace.outcome)) return;  // the probe's outcome follows
  // Which port is which: what the system calls it, beside its name.
  const std::string label = PortLabel(ovrin::IdentifyPort(trace.port));
  // The search's own words where it has them ("not needed: the meter answered on COM7 first").
  const std::string outcome =
      trace.bytes != nullptr ? std::string(trace.bytes, trace.size) : ovrin::OutcomeText(trace.outcome);
  std::string line = std::string(trace.port) + (label.empty() ? "" : " (" + label + ")") + ": " + outcome;
  if (trace.outcome == ovrin::PortOutcome::kNoPermission) {
    const std::string hint = PermissionHint(trace.port);
    if (!hint.empty()) line += " (" + hint + ")";
  }
  lines_.push_back(Printable(line));
}

// ---- Opening -------------------------------------------------------------------

void Listen(Listeners* listeners, const Options* options) {
  gListeners = listeners;
  gOptions = options;
  ovrin::SetMessageBoxHandler(listeners != nullptr ? OnMessageBox : nullptr, nullptr);
  ovrin::SetTraceHandler(listeners != nullptr ? OnTrace : nullptr, nullptr);
}

bool OpenMeter(OvrinComm& comm, const Options& options, Listeners& listeners, std::string* port, bool quiet) {
  if (!options.port.empty() && !ovrin::SetRememberedPort(options.port.c_str())) {
    std::fprintf(stderr, "ovrin: cannot use \"%s\" as the port to try first\n", options.port.c_str());
  }
  if (!quiet && StderrIsTerminal()) std::fprintf(stderr, "ovrin: searching for the meter...\n");
  listeners.report.Clear();
  if (ovrin::OpenConcurrently(comm, *port, nullptr) == 1) {
    if (!options.port.empty() && *port != options.port) {
      std::fprintf(stderr, "ovrin: no meter on %s; found one on %s\n", options.port.c_str(), port->c_str());
    }
    return true;
  }
  if (quiet) return false;
  const std::vector<std::string>& tried = listeners.report.Lines();
  std::fprintf(stderr, "ovrin: no meter found%s\n", tried.empty() ? ": there is no serial port to search" : "");
  if (!listeners.verbose) {
    for (const std::string& line : tried) WriteText(stderr, "  " + line + "\n");
  }
  return false;
}

int BackoffMs(int failures) {
  static std::minstd_rand random(static_cast<unsigned>(MonotonicNs()));
  const int base = std::min(500 << std::min(failures, 6), 30000);
  // A tenth either way, so that many hosts that lost a meter at once do not
  // search in step.
  return base + static_cast<int>(random() % static_cast<unsigned>(base / 5 + 1)) - base / 10;
}

}  // namespace ovrin_tool
