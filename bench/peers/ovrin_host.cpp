// Ours in the peer benchmarks: OvrinComm with a NotifyQueue, doing the host's
// job (send "g", be told of each reply line, decode it).
//   ovrin_host stream N       one "g", then N lines: prints "sequence receipt_ns" per line
//                             and "# cpu NS", the process CPU time they took
//   ovrin_host roundtrip N    N times "g" and its reply: prints "i round_trip_ns"
//   ovrin_host idle SECONDS   open and listen, nothing else
// The port comes from OVRIN_SERIAL_PORTS, set by the runner.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ovrin_comm.h"

namespace {

long long Clock(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}
long long NowNs() { return Clock(CLOCK_MONOTONIC); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string mode = argv[1];
  const long count = std::atol(argv[2]);
  ovrin::NotifyQueue queue;
  OvrinComm meter;
  std::string port;
  if (meter.Open(port, &queue) != 1) return 1;
  std::vector<std::pair<long, long long>> seen;
  seen.reserve(static_cast<std::size_t>(count));
  ovrin::Notification note{};
  long long cpuStart = 0;
  long long cpuEnd = 0;
  if (mode == "idle") {
    sleep(static_cast<unsigned>(count));
  } else if (mode == "stream") {
    cpuStart = Clock(CLOCK_PROCESS_CPUTIME_ID);
    meter.DistanceMeasure();
    while (static_cast<long>(seen.size()) < count && queue.Wait(note, 2000)) {
      const long long at = NowNs();
      seen.emplace_back(meter.measurement.value1, at);
    }
    cpuEnd = Clock(CLOCK_PROCESS_CPUTIME_ID);
  } else {
    for (long i = 0; i < count; ++i) {
      const long long start = NowNs();
      meter.DistanceMeasure();
      if (!queue.Wait(note, 2000)) break;
      seen.emplace_back(i, NowNs() - start);
    }
  }
  meter.Close();
  for (const auto& line : seen) std::printf("%ld %lld\n", line.first, line.second);
  std::printf("# cpu %lld\n", cpuEnd - cpuStart);
  return 0;
}
