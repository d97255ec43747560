// ovrin: finds the meter, measures, monitors, and explains error codes.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "options.h"
#include "output.h"
#include "ovrin_readings.h"
#include "waiting.h"

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

bool OpenMeter(OvrinComm& comm, const Options& options, std::string* port) {
  if (!options.port.empty() && !ovrin::SetRememberedPort(options.port.c_str())) {
    std::fprintf(stderr, "ovrin: cannot use \"%s\" as the port to try first\n", options.port.c_str());
  }
  if (StderrIsTerminal()) std::fprintf(stderr, "ovrin: searching for the meter...\n");
  // No window: the tool takes every reading from the connection's queue.
  if (comm.Open(*port, nullptr) != 1) {
    std::fprintf(stderr, "ovrin: no meter found%s%s\n", options.port.empty() ? "" : " (tried first: ",
                 options.port.empty() ? "" : (options.port + ")").c_str());
    return false;
  }
  if (!options.port.empty() && *port != options.port) {
    std::fprintf(stderr, "ovrin: no meter on %s; found one on %s\n", options.port.c_str(), port->c_str());
  }
  return true;
}

// Prints readings, each once, numbered from 1 for the run.
class Printer {
 public:
  explicit Printer(const Options& options) : options_(options) {}
  void Print(const ovrin::Reading& reading) {
    std::printf("%s\n", FormatReading(reading, ++printed_, options_.json).c_str());
    std::fflush(stdout);
  }

 private:
  const Options& options_;
  std::uint64_t printed_ = 0;
};

// Waits for the next reading and prints it.
int AwaitReading(const OvrinComm& comm, Printer& printer, int timeoutMs) {
  ovrin::Reading reading{};
  switch (NextReading(comm, &reading, timeoutMs)) {
    case Waited::kReading:
      printer.Print(reading);
      return kOk;
    case Waited::kTimedOut:
      std::fprintf(stderr, "ovrin: no reply within %d ms\n", timeoutMs);
      return kNoReply;
    case Waited::kLinkLost:
      std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
      return kLinkLost;
    case Waited::kInterrupted:
      break;
  }
  return kInterrupted;
}

int Measure(OvrinComm& comm, const Options& options) {
  Printer printer(options);
  ovrin::Reading reading{};
  // The answer to the start-up command, if the meter gives one, is no measurement.
  if (NextReading(comm, &reading, kStartupReplyMs) == Waited::kReading && options.verbose) printer.Print(reading);
  for (long i = 0; i < options.count; ++i) {
    if (i > 0 && !Pause(static_cast<int>(options.intervalMs))) return kInterrupted;
    if (comm.DistanceMeasure() != 1) {
      std::fprintf(stderr, "ovrin: the measure command could not be sent\n");
      return kNoReply;
    }
    const int result = AwaitReading(comm, printer, static_cast<int>(options.timeoutMs));
    if (result != kOk) return result;
  }
  // Lines that came with the last reply are readings too.
  while (ovrin::NextReading(comm, &reading)) printer.Print(reading);
  return kOk;
}

int Monitor(const OvrinComm& comm, const Options& options) {
  Printer printer(options);
  for (;;) {
    const int result = AwaitReading(comm, printer, -1);
    if (result == kInterrupted) return kOk;
    if (result != kOk) return result;
  }
}

int RunWithMeter(const Options& options) {
  CatchInterrupts();
  OvrinComm comm;
  std::string port;
  if (!OpenMeter(comm, options, &port)) return kNoMeter;
  int result = kOk;
  switch (options.command) {
    case Command::kFind:
      std::printf("%s\n", port.c_str());
      break;
    case Command::kMeasure:
      result = Measure(comm, options);
      break;
    default:
      result = Monitor(comm, options);
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
          std::printf("%s\n", FormatErrorCode(code).c_str());
        } else {
          std::printf("%d: %s\n", code, ErrorText(code).c_str());
        }
      }
      return kOk;
    default:
      return RunWithMeter(options);
  }
}
