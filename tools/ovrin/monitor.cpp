#include <cstdio>

#include "commands.h"
#include "output.h"
#include "waiting.h"

namespace ovrin_tool {
namespace {

// Tells the user how the connection stands: on stderr, and in a JSON stream.
void Announce(ReadingSink& sink, const char* event, const std::string& port) {
  std::fprintf(stderr, "ovrin: %s%s%s\n", event, port.empty() ? "" : " ", port.c_str());
  sink.WriteEvent(event, port);
}

// Every reading of one connection until the link is lost (kLinkLost), the
// user interrupts (kOk) or the output fails.
int ReadUntilLost(const OvrinComm& comm, ReadingSink& sink) {
  for (;;) {
    ovrin::Reading reading{};
    switch (NextReading(comm, &reading, -1)) {
      case Waited::kReading:
        if (!sink.Write(reading)) return kOutputFailed;
        break;
      case Waited::kLinkLost:
        return kLinkLost;
      case Waited::kInterrupted:
        return kOk;
      case Waited::kTimedOut:
        break;
    }
  }
}

// The run: open, read until the link is lost; with --reconnect, search again
// (and again, backing off) until the user interrupts.
int Run(const Options& options, Listeners& listeners, ReadingSink& sink) {
  OvrinComm comm;
  int failures = 0;
  for (;;) {
    std::string port;
    if (options.reconnect) Announce(sink, "searching", "");
    // Why no meter was found is told once, not at every try.
    if (!OpenMeter(comm, options, listeners, &port, options.reconnect && failures > 0)) {
      if (!options.reconnect) return kNoMeter;
      if (!Pause(BackoffMs(failures++))) return kOk;
      continue;
    }
    failures = 0;
    if (options.reconnect) Announce(sink, "connected", port);
    const int result = ReadUntilLost(comm, sink);
    comm.Close();
    if (result != kLinkLost) return result;
    if (!options.reconnect) {
      std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
      return kLinkLost;
    }
    Announce(sink, "lost", port);
    if (!Pause(BackoffMs(0))) return kOk;
  }
}

}  // namespace

int Monitor(const Options& options, Listeners& listeners) {
  ReadingSink sink(options.format);
  if (!sink.Open(options.output)) {
    std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
    return kOutputFailed;
  }
  int result = Run(options, listeners, sink);
  if (!sink.Close() && result == kOk) result = kOutputFailed;
  if (result == kOutputFailed) std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
  return result;
}

}  // namespace ovrin_tool
