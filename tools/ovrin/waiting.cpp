#include "waiting.h"

#include <chrono>

namespace ovrin_tool {
namespace {

constexpr int kSliceMs = 100;  // how soon an interrupt is noticed while waiting

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at most kSliceMs; -1 when it has passed.
int NextSlice(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return -1;
  return left < kSliceMs ? static_cast<int>(left) : kSliceMs;
}

}  // namespace

Waited NextReading(const OvrinComm& comm, ovrin::Reading* reading, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Interrupted()) {
    const int slice = timeoutMs < 0 ? kSliceMs : NextSlice(deadline);
    switch (ovrin::WaitReading(comm, reading, slice < 0 ? 0 : slice)) {
      case ovrin::ReadingWait::kTaken:
        return Waited::kReading;
      case ovrin::ReadingWait::kNoMore:
        return Waited::kLinkLost;
      case ovrin::ReadingWait::kTimedOut:
        if (slice < 0) return Waited::kTimedOut;
        break;
    }
  }
  return Waited::kInterrupted;
}

bool Pause(int milliseconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (int slice; (slice = NextSlice(deadline)) >= 0;) {
    if (Interrupted()) return false;
    SleepMs(slice);
  }
  return !Interrupted();
}

}  // namespace ovrin_tool
