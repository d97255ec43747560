// ovrin: finds the meter, measures, monitors, serves a live page, lists the
// ports, and explains error codes.
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "format.h"
#include "system.h"

int main(int argc, char** argv) {
  using namespace ovrin_tool;
  Options options;
  const int parsed = ParseOptions(argc, argv, &options);
  if (parsed >= 0) return parsed;
  switch (options.command) {
    case Command::kError:
      for (int code : options.codes) {
        if (options.json) {
          std::printf("%s\n", FormatErrorCode(code).c_str());
        } else {
          std::printf("%d: %s\n", code, ErrorText(code).c_str());
        }
      }
      return kOk;
    case Command::kPorts:
      return Ports(options);
    default:
      break;
  }
  Listeners listeners;
  if (!options.record.empty()) {
    std::string error;
    listeners.recorder = std::make_unique<Recorder>();
    if (!listeners.recorder->Start(options.record, &error)) {
      std::fprintf(stderr, "ovrin: %s\n", error.c_str());
      return kOutputFailed;
    }
  }
  Listen(&listeners, &options);
  CatchInterrupts();
  int result = kOk;
  switch (options.command) {
    case Command::kFind:
      result = Find(options, listeners);
      break;
    case Command::kMeasure:
      result = Measure(options, listeners);
      break;
    case Command::kServe:
      result = Serve(options, listeners);
      break;
    case Command::kType:
      result = Type(options, listeners);
      break;
    default:
      result = Monitor(options, listeners);
      break;
  }
  Listen(nullptr, nullptr);
  return result;
}
