// The meter of the peer benchmarks: a pseudo-terminal that answers the probe
// and, on "g", either streams numbered lines or answers once, logging when the
// LF of every line it sends was written (CLOCK_MONOTONIC nanoseconds).
//
//   bench_meter --log FILE --stream N [--interval-us U]   on "g": N lines, at least U apart
//   bench_meter --log FILE --echo [--baud B]              every "g": one line, paced at B
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "meter.h"
#include "pacing.h"
#include "terminal.h"

namespace {

std::atomic<bool> gStop{false};
void OnStop(int) { gStop = true; }

struct Options {
  const char* log = "/dev/null";
  long stream = 0;
  long intervalUs = 0;
  bool echo = false;
  long baud = 0;
};

// Writes one numbered line, at the given pace (0: in one write), and logs
// when its LF was handed to the terminal.
void SendLine(int meter, long sequence, long baud, FILE* log) {
  char line[32];
  std::snprintf(line, sizeof line, "12....+%08ld\r\n", sequence);
  ovrin_sim::Pacing pacing;
  pacing.baud = baud;
  const long long lineFeedAt = ovrin_sim::Deliver(meter, line, 0, pacing, gStop);
  if (lineFeedAt >= 0) std::fprintf(log, "%ld %lld\n", sequence, lineFeedAt);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc || (i < argc && std::strcmp(argv[i], "--echo") == 0); ++i) {
    const std::string arg = argv[i];
    if (arg == "--echo") {
      options.echo = true;
    } else if (arg == "--log") {
      options.log = argv[++i];
    } else if (arg == "--stream") {
      options.stream = std::atol(argv[++i]);
    } else if (arg == "--interval-us") {
      options.intervalUs = std::atol(argv[++i]);
    } else if (arg == "--baud") {
      options.baud = std::atol(argv[++i]);
    } else {
      std::fprintf(stderr, "bench_meter: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  ovrin_sim::MeterTerminal terminal;
  FILE* log = std::fopen(options.log, "w");
  if (log == nullptr) return 1;
  std::printf("%s\n", terminal.Path().c_str());
  std::fflush(stdout);

  const int meter = terminal.Fd();
  ovrin_sim::CommandReader reader;
  long sequence = 0;
  char buffer[256];
  while (!gStop) {
    pollfd input{meter, POLLIN, 0};
    if (poll(&input, 1, -1) <= 0) continue;
    const ssize_t n = read(meter, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (const std::string& command : reader.Feed(buffer, static_cast<std::size_t>(n))) {
      if (command == "N02N") {
        const char answer[] = "12....+00000042\r\n";
        if (write(meter, answer, sizeof answer - 1) < 0) return 1;
      } else if (command == "g" && options.echo) {
        // The request's own 3 bytes take their wire time before the meter has them.
        if (options.baud > 0)
          ovrin_sim::SleepUntil(ovrin_sim::MonotonicNs() + 3 * 10LL * 1000000000LL / options.baud, gStop);
        SendLine(meter, ++sequence, options.baud, log);
      } else if (command == "g") {
        for (long i = 1; i <= options.stream && !gStop; ++i) {
          SendLine(meter, i, 0, log);
          // Measured from this line: a meter held up by a busy machine does
          // not catch up with a burst, so every line comes on its own.
          if (options.intervalUs > 0)
            ovrin_sim::SleepUntil(ovrin_sim::MonotonicNs() + options.intervalUs * 1000LL, gStop);
        }
      }
    }
    std::fflush(log);
  }
  std::fclose(log);
  return 0;
}
