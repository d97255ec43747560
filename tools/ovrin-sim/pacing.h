// How a meter's bytes go onto the line: no faster than its baud rate, in
// pieces with gaps, after a delay.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ovrin_sim {

struct Pacing {
  long baud = 9600;          // 10 bits a byte; 0: as fast as the terminal takes them
  std::size_t fragment = 0;  // bytes a piece; 0: the whole answer in one piece
  int gapMs = 0;             // pause between pieces
};

// Now on the monotonic clock, in nanoseconds.
std::int64_t MonotonicNs();

// Sleeps until the monotonic time `ns`; false when `stop` was set first.
bool SleepUntil(std::int64_t ns, const std::atomic<bool>& stop);

// Writes `bytes` to fd after delayMs, paced. Returns the monotonic time at
// which the last byte was handed to the terminal, or -1 when it could not be
// written or `stop` was set first.
std::int64_t Deliver(int fd, const std::string& bytes, int delayMs, const Pacing& pacing,
                     const std::atomic<bool>& stop);

}  // namespace ovrin_sim
