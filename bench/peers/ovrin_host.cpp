// Ours in the peer benchmarks, doing the host's job (send "g", be told of
// each reply line, decode it) by one of its two paths:
//   handler   a reading handler on the receive thread (as libserialport's
//             host reads on its own thread)
//   queue     the host's thread takes each reading from the queue (as a
//             pyserial host is handed lines by its ReaderThread)
//
//   ovrin_host PATH stream N       one "g", then N lines: prints "sequence receipt_ns" per line
//                                  and "# cpu NS", the CPU time of all its threads they took
//   ovrin_host PATH quiet N        the same, printing only "# lines COUNT" and "# cpu NS", so
//                                  that the work per line is the receiving alone
//   ovrin_host PATH roundtrip N    N times "g" and its reply: prints "i round_trip_ns"
//   ovrin_host PATH idle SECONDS   open and listen, nothing else
// The port comes from OVRIN_SERIAL_PORTS, set by the runner.
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ovrin_readings.h"

namespace {

long long Clock(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}
long long NowNs() { return Clock(CLOCK_MONOTONIC); }

using Seen = std::vector<std::pair<long, long long>>;

// What the handler records on the receive thread; the host's thread is woken
// only when it waits for a count to be reached.
struct Handled {
  std::mutex lock;
  std::condition_variable reached;
  Seen seen;
  std::size_t wanted = 0;
};

void OnReading(const ovrin::Reading& reading, void* context) {
  const long long at = NowNs();
  auto* handled = static_cast<Handled*>(context);
  std::lock_guard<std::mutex> hold(handled->lock);
  if (reading.record.kind != Reply12) return;  // the answer to the start-up command
  handled->seen.emplace_back(reading.record.value1, at);
  if (handled->seen.size() == handled->wanted) handled->reached.notify_one();
}

// Waits until `count` lines have been handled in all; the receipt time of the
// last of them, or -1 after 2 s without a line.
long long AwaitHandled(Handled& handled, std::size_t count) {
  std::unique_lock<std::mutex> hold(handled.lock);
  handled.wanted = count;
  std::size_t last = handled.seen.size();
  while (handled.seen.size() < count) {
    if (!handled.reached.wait_for(hold, std::chrono::seconds(2), [&] { return handled.seen.size() >= count; }) &&
        handled.seen.size() == last) {
      return -1;
    }
    last = handled.seen.size();
  }
  return handled.seen.back().second;
}

// Takes the next data reading from the queue; -1 after 2 s without one.
long long NextFromQueue(const OvrinComm& meter, long* value) {
  ovrin::Reading reading{};
  while (ovrin::WaitReading(meter, &reading, 2000) == ovrin::ReadingWait::kTaken) {
    if (reading.record.kind != Reply12) continue;
    *value = reading.record.value1;
    return NowNs();
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const bool handler = std::string(argv[1]) == "handler";
  const bool quiet = std::string(argv[2]) == "quiet";
  const std::string mode = quiet ? "stream" : argv[2];
  const long count = std::atol(argv[3]);
  OvrinComm meter;
  Handled handled;
  handled.seen.reserve(static_cast<std::size_t>(count));
  ovrin::SetReadingCapacity(meter, static_cast<std::size_t>(count) + 16);
  if (handler) ovrin::SetReadingHandler(meter, OnReading, &handled);
  std::string port;
  if (meter.Open(port, nullptr) != 1) return 1;
  Seen seen;
  seen.reserve(static_cast<std::size_t>(count));
  long long cpuStart = 0;
  long long cpuEnd = 0;
  if (mode == "idle") {
    sleep(static_cast<unsigned>(count));
  } else if (mode == "stream") {
    cpuStart = Clock(CLOCK_PROCESS_CPUTIME_ID);
    meter.DistanceMeasure();
    if (handler) {
      AwaitHandled(handled, static_cast<std::size_t>(count));
    } else {
      long value = 0;
      for (long long at; static_cast<long>(seen.size()) < count && (at = NextFromQueue(meter, &value)) >= 0;) {
        seen.emplace_back(value, at);
      }
    }
    cpuEnd = Clock(CLOCK_PROCESS_CPUTIME_ID);
  } else {
    for (long i = 0; i < count; ++i) {
      const long long start = NowNs();
      meter.DistanceMeasure();
      long value = 0;
      long long at = -1;
      if (handler) {
        at = AwaitHandled(handled, static_cast<std::size_t>(i) + 1);
      } else {
        at = NextFromQueue(meter, &value);
      }
      if (at < 0) break;
      seen.emplace_back(i, at - start);
    }
  }
  meter.Close();
  if (handler && mode == "stream") seen = handled.seen;
  if (quiet) {
    std::printf("# lines %zu\n", seen.size());
  } else {
    for (const auto& line : seen) std::printf("%ld %lld\n", line.first, line.second);
  }
  std::printf("# cpu %lld\n", cpuEnd - cpuStart);
  return 0;
}
