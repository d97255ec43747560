#include "pacing.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ovrin_sim {
namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;

bool WriteAll(int fd, const char* bytes, std::size_t count, const std::atomic<bool>& stop) {
  while (count > 0 && !stop) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return count == 0;
}

}  // namespace

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

bool SleepUntil(std::int64_t ns, const std::atomic<bool>& stop) {
  const timespec when{static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
  while (!stop) {
    const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
    if (result == 0) return true;
    if (result != EINTR) return false;
  }
  return false;
}

std::int64_t Deliver(int fd, const std::string& bytes, int delayMs, const Pacing& pacing,
                     const std::atomic<bool>& stop) {
  std::int64_t next = MonotonicNs() + std::int64_t{delayMs} * 1000000;
  if (!SleepUntil(next, stop)) return -1;
  const std::int64_t byteNs = pacing.baud > 0 ? 10 * kNsPerSecond / pacing.baud : 0;
  const std::size_t piece = pacing.fragment > 0 ? pacing.fragment : bytes.size();
  std::int64_t lastByteAt = MonotonicNs();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    if (at > 0 && pacing.gapMs > 0 && !SleepUntil(next = MonotonicNs() + std::int64_t{pacing.gapMs} * 1000000, stop)) {
      return -1;
    }
    const std::size_t size = std::min(piece, bytes.size() - at);
    if (byteNs == 0) {
      lastByteAt = MonotonicNs();
      if (!WriteAll(fd, bytes.data() + at, size, stop)) return -1;
      continue;
    }
    for (std::size_t i = 0; i < size; ++i) {
      lastByteAt = MonotonicNs();
      if (!WriteAll(fd, bytes.data() + at + i, 1, stop)) return -1;
      next += byteNs;
      if (!SleepUntil(next, stop)) return -1;
    }
  }
  return lastByteAt;
}

}  // namespace ovrin_sim
