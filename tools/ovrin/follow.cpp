#include "follow.h"

#include <cstdio>

#include "system.h"
#include "waiting.h"

namespace ovrin_tool {
namespace {

// How often a connection without readings looks whether it was abandoned.
constexpr int kAbandonCheckMs = 500;

// Every reading of one connection until the link is lost or abandoned
// (kLinkLost), the user interrupts (kOk) or the follower fails.
int ReadUntilLost(const OvrinComm& comm, Follower& follower, std::uint64_t* seq) {
  for (;;) {
    if (follower.Abandoned()) return kLinkLost;
    ovrin::Reading reading{};
    switch (AwaitReading(comm, &reading, kAbandonCheckMs)) {
      case Waited::kReading:
        if (!follower.Take({++*seq, reading})) return kOutputFailed;
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
  std::uint64_t seq = 0;  // the run's numbering goes on across reconnects
  bool lost = false;
  for (;;) {
    std::string port;
    follower.Changed({lost ? LinkState::kReconnecting : LinkState::kSearching, "", ""});
    // Why no meter was found is told once, not at every try.
    if (!OpenMeter(comm, options, listeners, &port, options.reconnect && failures > 0)) {
      if (!options.reconnect) return kNoMeter;
      if (!Pause(BackoffMs(failures++))) return kOk;
      continue;
    }
    failures = 0;
    follower.Changed({LinkState::kConnected, port, PortLabel(ovrin::IdentifyPort(port))});
    follower.Attach(&comm);
    const int result = ReadUntilLost(comm, follower, &seq);
    follower.Attach(nullptr);
    comm.Close();
    if (result != kLinkLost) return result;
    follower.Changed({LinkState::kLost, port, ""});
    lost = true;
    if (!options.reconnect) {
      std::fprintf(stderr, "ovrin: the link to the meter was lost\n");
      return kLinkLost;
    }
    if (!Pause(BackoffMs(0))) return kOk;
  }
}

void TellLinkState(const LinkChange& change) { WriteText(stderr, "ovrin: " + LinkText(change) + "\n"); }

}  // namespace ovrin_tool
