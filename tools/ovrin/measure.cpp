#include <cstdio>

#include "commands.h"
#include "sink.h"
#include "waiting.h"

namespace ovrin_tool {
namespace {

// How long the meter may take to answer the start-up command before a
// measurement is asked for.
constexpr int kStartupReplyMs = 500;

int MeasureOn(OvrinComm& comm, const Options& options, ReadingSink& sink) {
  ovrin::Reading reading{};
  std::uint64_t seq = 0;
  // The answer to the start-up command, if the meter gives one, is no measurement.
  if (AwaitReading(comm, &reading, kStartupReplyMs) == Waited::kReading && options.verbose &&
      !sink.Write({++seq, reading})) {
    return kOutputFailed;
  }
  for (long i = 0; i < options.count; ++i) {
    if (i > 0 && !Pause(static_cast<int>(options.intervalMs))) return kOk;
    if (comm.DistanceMeasure() != 1) {
      std::fprintf(stderr, "ovrin: the measure command could not be sent\n");
      return kNoReply;
    }
    switch (AwaitReading(comm, &reading, static_cast<int>(options.timeoutMs))) {
      case Waited::kReading:
        if (!sink.Write({++seq, reading})) return kOutputFailed;
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
    if (!sink.Write({++seq, reading})) return kOutputFailed;
  }
  return kOk;
}

}  // namespace

int Measure(const Options& options, Listeners& listeners) {
  return WithSink(options, SinkUse::kStdout, [&](ReadingSink* sink) -> int {
    OvrinComm comm;
    std::string port;
    if (!OpenMeter(comm, options, listeners, &port, false)) return kNoMeter;
    const int result = MeasureOn(comm, options, *sink);
    comm.Close();
    return result;
  });
}

}  // namespace ovrin_tool
