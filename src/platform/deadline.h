// A point in time that a wait must not pass, after pyserial's Timeout: made
// once from a time-out in milliseconds, then asked as often as needed how much
// of it is left. Not part of the library's interface.
#pragma once

#include <chrono>

namespace ovrin {
namespace platform {

class Deadline {
 public:
  // timeoutMs below 0: a deadline that never comes.
  explicit Deadline(int timeoutMs)
      : never_(timeoutMs < 0), end_(Clock::now() + std::chrono::milliseconds(never_ ? 0 : timeoutMs)) {}

  bool Never() const { return never_; }
  bool Passed() const { return !never_ && Clock::now() >= end_; }
  // Milliseconds left, rounded up so that a wait for them does not end early;
  // 0 once passed, -1 for a deadline that never comes.
  int LeftMs() const {
    if (never_) return -1;
    const auto left = end_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>((std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 999) / 1000);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool never_;
  Clock::time_point end_;
};

}  // namespace platform
}  // namespace ovrin
