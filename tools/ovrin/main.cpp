// ovrin: finds the meter, measures, monitors, and explains error codes.
#include <cstdio>
#include <iostream>
#include <string>

#include "host_loop.h"
#include "options.h"
#include "output.h"
#include "ovrin_comm.h"

namespace ovrin_tool {
namespace {

enum ExitCode { kOk = 0, kNoMeter = 1, kBadArguments = 2, kNoReply = 3, kLinkLost = 4, kInterrupted = 130 };

// How long the meter may take to answer the start-up command before a
// measurement is asked for.
constexpr int kStartupReplyMs = 500;

int OnMessageBox(const char* text, unsigned style, void* context) {
  const Options& options = *static_cast<const Options*>(context);
  if (style != ovrin::kStyleYesNo) {
    std::fprintf(stderr, "ovrin: %s\n", text);
    return ovrin::kButtonOk;
  }
  // The one question: the meter did not answer on the first ports tried.
  if (options.answer != Answer::kAsk) return options.answer == Answer::kYes ? ovrin::kButtonYes : ovrin::kButtonNo;
  if (!StdinIsTerminal()) return ovrin::kButtonYes;
  std::fprintf(stderr, "The meter may not be connected properly. Keep searching? [Y/n] ");
  std::string reply;
  std::getline(std::cin, reply);
  return !reply.empty() && (reply[0] == 'n' || reply[0] == 'N') ? ovrin::kButtonNo : ovrin::kButtonYes;
}

bool OpenMeter(OvrinComm& comm, HostLoop& loop, const Options& options, std::string* port) {
  if (!options.port.empty() && !ovrin::SetRememberedPort(options.port.c_str())) {
    std::fprintf(stderr, "ovrin: cannot use \"%s\" as the port to try first\n", options.port.c_str());
  }
  if (StderrIsTerminal()) std::fprintf(stderr, "ovrin: searching for the meter...\n");
  if (comm.Open(*port, loop.Window()) != 1) {
    std::fprintf(stderr, "ovrin: no meter found%s%s\n", options.port.empty() ? "" : " (tried first: ",
                 options.port.empty() ? "" : (options.port + ")").c_str());
    return false;
  }
  if (!options.port.empty() && *port != options.port) {
    std::fprintf(stderr, "ovrin: no meter on %s; found one on %s\n", options.port.c_str(), port->c_str());
  }
  return true;
}

void PrintReply(const MeasureRecord& record, const Options& options) {
  std::printf("%s\n", FormatReply(record, options.json).c_str());
  std::fflush(stdout);
}

// Waits for the next reply line and prints it.
int AwaitReply(OvrinComm& comm, HostLoop& loop, const Options& options, int timeoutMs) {
  for (;;) {
    ovrin::Notification note{};
    switch (loop.Wait(&note, timeoutMs)) {
      case Waited::kTimedOut:
        std::fprintf(stderr, "ovrin: no reply within %d ms\n", timeoutMs);
        return kNoReply;
      case Waited::kInterrupted:
        return kInterrupted;
      case Waited::kNotification:
        break;
    }
    if (note.message == WM_LINK_LOST) {
      std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
      return kLinkLost;
    }
    if (note.message != WM_MEASURE_READY) continue;
    PrintReply(comm.measurement, options);
    return kOk;
  }
}

int Measure(OvrinComm& comm, HostLoop& loop, const Options& options) {
  ovrin::Notification note{};
  // The answer to the start-up command, if the meter gives one.
  if (loop.Wait(&note, kStartupReplyMs) == Waited::kNotification && note.message == WM_MEASURE_READY &&
      options.verbose) {
    PrintReply(comm.measurement, options);
  }
  for (long i = 0; i < options.count; ++i) {
    if (i > 0 && !loop.Pause(static_cast<int>(options.intervalMs))) return kInterrupted;
    if (comm.DistanceMeasure() != 1) {
      std::fprintf(stderr, "ovrin: the measure command could not be sent\n");
      return kNoReply;
    }
    const int result = AwaitReply(comm, loop, options, static_cast<int>(options.timeoutMs));
    if (result != kOk) return result;
  }
  return kOk;
}

int Monitor(OvrinComm& comm, HostLoop& loop, const Options& options) {
  for (;;) {
    const int result = AwaitReply(comm, loop, options, -1);
    if (result == kInterrupted) return kOk;
    if (result != kOk) return result;
  }
}

int RunWithMeter(const Options& options) {
  HostLoop loop;
  OvrinComm comm;
  std::string port;
  if (!OpenMeter(comm, loop, options, &port)) return kNoMeter;
  int result = kOk;
  switch (options.command) {
    case Command::kFind:
      std::printf("%s\n", port.c_str());
      break;
    case Command::kMeasure:
      result = Measure(comm, loop, options);
      break;
    default:
      result = Monitor(comm, loop, options);
      break;
  }
  comm.Close();
  return result;
}

}  // namespace
}  // namespace ovrin_tool

int main(int argc, char** argv) {
  using namespace ovrin_tool;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "ovrin: %s\n\n%s", error.c_str(), kUsage);
    return kBadArguments;
  }
  ovrin::SetMessageBoxHandler(OnMessageBox, &options);
  switch (options.command) {
    case Command::kHelp:
      std::fputs(kUsage, stdout);
      return kOk;
    case Command::kError:
      for (int code : options.codes) {
        if (options.json) {
          MeasureRecord record{};
          record.kind = ReplyError;
          record.value1 = code;
          std::printf("%s\n", FormatReply(record, true).c_str());
        } else {
          std::printf("%d: %s\n", code, ErrorText(code).c_str());
        }
      }
      return kOk;
    default:
      return RunWithMeter(options);
  }
}
