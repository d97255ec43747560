#include "follow.h"

#include <cstdio>

#include "waiting.h"

namespace ovrin_tool {
namespace {

// Every reading of one connection until the link is lost (kLinkLost), the
// user interrupts (kOk) or the follower fails.
int ReadUntilLost(const OvrinComm& comm, Follower& follower) {
  for (;;) {
    ovrin::Reading reading{};
    switch (NextReading(comm, &reading, -1)) {
      case Waited::kReading:
        if (!follower.Take(reading)) return kOutputFailed;
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

}  // namespace

int Follow(const Options& options, Listeners& listeners, Follower& follower) {
  OvrinComm comm;
  int failures = 0;
  for (;;) {
    std::string port;
    follower.Changed("searching", "");
    // Why no meter was found is told once, not at every try.
    if (!OpenMeter(comm, options, listeners, &port, options.reconnect && failures > 0)) {
      if (!options.reconnect) return kNoMeter;
      if (!Pause(BackoffMs(failures++))) return kOk;
      continue;
    }
    failures = 0;
    follower.Changed("connected", port);
    follower.Attach(&comm);
    const int result = ReadUntilLost(comm, follower);
    follower.Attach(nullptr);
    comm.Close();
    if (result != kLinkLost) return result;
    follower.Changed("lost", port);
    if (!options.reconnect) {
      std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
      return kLinkLost;
    }
    if (!Pause(BackoffMs(0))) return kOk;
  }
}

}  // namespace ovrin_tool
