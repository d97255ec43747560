#include "waiting.h"

#include <algorithm>

#include "system.h"

namespace ovrin_tool {
namespace {

// How soon an interrupt is noticed while waiting: waits are made of slices
// this long, and a time-out is a count of them.
constexpr int kSliceMs = 100;

}  // namespace

Waited AwaitReading(const OvrinComm& comm, ovrin::Reading* reading, int timeoutMs) {
  for (int waited = 0; !Interrupted(); waited += kSliceMs) {
    const bool last = timeoutMs >= 0 && timeoutMs - waited <= kSliceMs;
    switch (ovrin::WaitReading(comm, reading, last ? std::max(timeoutMs - waited, 0) : kSliceMs)) {
      case ovrin::ReadingWait::kTaken:
        return Waited::kReading;
      case ovrin::ReadingWait::kNoMore:
        return Waited::kLinkLost;
      case ovrin::ReadingWait::kTimedOut:
        if (last) return Waited::kTimedOut;
        break;
    }
  }
  return Waited::kInterrupted;
}

bool Pause(int milliseconds) {
  for (int left = milliseconds; left > 0 && !Interrupted(); left -= kSliceMs) SleepMs(std::min(left, kSliceMs));
  return !Interrupted();
}

}  // namespace ovrin_tool
