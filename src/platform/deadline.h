// A point in time that a wait must not pass, after pyserial's Timeout: made
// once from a time-out in milliseconds, then asked as often as needed how much
// of it is left. Not part of the library's interface.
#pragma once

#include <chrono>

namespace ovrin {
namespace platform {

// The time-out that waits without limit, in every timed call of the library.
constexpr int kNoTimeLimit = -1;

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // kNoTimeLimit: a deadline that never comes. Any other negative time-out
  // has passed already: a host whose remaining time went below 0 must not
  // wait for ever.
  explicit Deadline(int timeoutMs)
      : never_(timeoutMs == kNoTimeLimit),
        end_(Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0)) {}

  bool Never() const { return never_; }
  bool Passed() const { return !never_ && Clock::now() >= end_; }
  // When it comes (meaningless when Never()).
  Clock::time_point End() const { return end_; }
  // Milliseconds left, rounded up so that a wait for them does not end early;
  // 0 once passed, kNoTimeLimit for a deadline that never comes.
  int LeftMs() const {
    if (never_) return kNoTimeLimit;
    const auto left = end_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>((std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 999) / 1000);
  }

 private:
  bool never_;
  Clock::time_point end_;
};

}  // namespace platform
}  // namespace ovrin
