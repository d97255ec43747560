#include <cstdio>

#include "commands.h"
#include "output.h"
#include "waiting.h"

namespace ovrin_tool {
namespace {

// How long the meter may take to answer the start-up command before a
// measurement is asked for.
constexpr int kStartupReplyMs = 500;

int MeasureOn(OvrinComm& comm, const Options& options, ReadingSink& sink) {
  ovrin::Reading reading{};
  // The answer to the start-up command, if the meter gives one, is no measurement.
  if (NextReading(comm, &reading, kStartupReplyMs) == Waited::kReading && options.verbose && !sink.Write(reading)) {
    return kOutputFailed;
  }
  for (long i = 0; i < options.count; ++i) {
    if (i > 0 && !Pause(static_cast<int>(options.intervalMs))) return kOk;
    if (comm.DistanceMeasure() != 1) {
      std::fprintf(stderr, "ovrin: the measure command could not be sent\n");
      return kNoReply;
    }
    switch (NextReading(comm, &reading, static_cast<int>(options.timeoutMs))) {
      case Waited::kReading:
        if (!sink.Write(reading)) return kOutputFailed;
        break;
      case Waited::kTimedOut:
        std::fprintf(stderr, "ovrin: no reply within %ld ms\n", options.timeoutMs);
        return kNoReply;
      case Waited::kLinkLost:
        std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
        return kLinkLost;
      case Waited::kInterrupted:
        return kOk;
    }
  }
  // Lines that came with the last reply are readings too.
  while (ovrin::NextReading(comm, &reading)) {
    if (!sink.Write(reading)) return kOutputFailed;
  }
  return kOk;
}

}  // namespace

int Measure(const Options& options, Listeners& listeners) {
  ReadingSink sink(options.format);
  if (!sink.Open(options.output)) {
    std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
    return kOutputFailed;
  }
  OvrinComm comm;
  std::string port;
  if (!OpenMeter(comm, options, listeners, &port, false)) return kNoMeter;
  int result = MeasureOn(comm, options, sink);
  comm.Close();
  if (!sink.Close() && result == kOk) result = kOutputFailed;
  if (result == kOutputFailed) std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
  return result;
}

}  // namespace ovrin_tool
