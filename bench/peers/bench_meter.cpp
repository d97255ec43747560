// The meter of the peer benchmarks: a pseudo-terminal that answers the probe
// and, on "g", either streams numbered lines or answers once, logging when the
// LF of every line it sends was written (CLOCK_MONOTONIC nanoseconds).
//
//   bench_meter --log FILE --stream N [--interval-us U]   on "g": N lines, U apart
//   bench_meter --log FILE --echo [--baud B]              every "g": one line, paced at B
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t gStop = 0;
void OnStop(int) { gStop = 1; }

long long NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

void SleepUntilNs(long long when) {
  const timespec at{static_cast<time_t>(when / 1000000000LL), static_cast<long>(when % 1000000000LL)};
  while (!gStop && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
  }
}

struct Options {
  const char* log = "/dev/null";
  long stream = 0;
  long intervalUs = 0;
  bool echo = false;
  long baud = 0;
};

// Writes one numbered line; with a baud rate, byte by byte at its pace. The
// time logged is taken just before the write that carries the LF.
void SendLine(int master, long sequence, long baud, FILE* log) {
  char line[32];
  const int size = std::snprintf(line, sizeof line, "12....+%08ld\r\n", sequence);
  long long lineFeedAt = 0;
  if (baud <= 0) {
    lineFeedAt = NowNs();
    if (write(master, line, static_cast<std::size_t>(size)) != size) return;
  } else {
    const long long byteNs = 10LL * 1000000000LL / baud;
    long long next = NowNs();
    for (int i = 0; i < size; ++i) {
      lineFeedAt = NowNs();
      if (write(master, line + i, 1) != 1) return;
      SleepUntilNs(next += byteNs);
    }
  }
  std::fprintf(log, "%ld %lld\n", sequence, lineFeedAt);
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
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  const int keepOpen = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(keepOpen, &raw);
  cfmakeraw(&raw);
  tcsetattr(keepOpen, TCSANOW, &raw);
  FILE* log = std::fopen(options.log, "w");
  if (log == nullptr) return 1;
  std::printf("%s\n", ptsname(master));
  std::fflush(stdout);

  std::string pending;
  long sequence = 0;
  char buffer[256];
  while (!gStop) {
    pollfd input{master, POLLIN, 0};
    if (poll(&input, 1, -1) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos; pending.erase(0, end + 2)) {
      std::string command = pending.substr(0, end);
      if (!command.empty() && command[0] == '\0') command.erase(0, 1);
      if (command == "N02N") {
        const char answer[] = "12....+00000042\r\n";
        if (write(master, answer, sizeof answer - 1) < 0) return 1;
      } else if (command == "g" && options.echo) {
        // The request's own 3 bytes take their wire time before the meter has them.
        if (options.baud > 0) SleepUntilNs(NowNs() + 3 * 10LL * 1000000000LL / options.baud);
        SendLine(master, ++sequence, options.baud, log);
      } else if (command == "g") {
        long long next = NowNs();
        for (long i = 1; i <= options.stream && !gStop; ++i) {
          SendLine(master, i, 0, log);
          if (options.intervalUs > 0) SleepUntilNs(next += options.intervalUs * 1000LL);
        }
      }
    }
    std::fflush(log);
  }
  std::fclose(log);
  close(keepOpen);
  close(master);
  return 0;
}
