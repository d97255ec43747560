// ovrin-sim: a simulated distance meter on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "meter.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int) { gStop = 1; }

constexpr char kUsage[] =
    "Usage: ovrin-sim [OPTIONS]\n"
    "A simulated distance meter on a pseudo-terminal. Prints the terminal's\n"
    "device path on stdout, then answers until SIGINT or SIGTERM:\n"
    "  \"N02N\" (probe)  with the probe reply (contains \"12....+\")\n"
    "  \"sm 1\"          with the start reply\n"
    "  \"g\"             with a distance \"31..00+VVVVVVVV\" or \"@ECCC\"\n"
    "  anything else   with \"@E203\"\n"
    "Every answer line ends in CR LF. Commands end in CR LF; a NUL may follow.\n"
    "\n"
    "Options:\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "  --value N            distance that \"g\" answers with (default 12345)\n"
    "  --step N             add N to the distance after every measurement\n"
    "  --error CODE         answer \"g\" with \"@E\" and CODE instead\n"
    "  --probe-reply TEXT   line answering \"N02N\" (default \"12....+00000042\")\n"
    "  --start-reply TEXT   line answering \"sm 1\" (default \"?\")\n"
    "  --delay MS           wait MS before every answer (default 0)\n"
    "  --probe-delay MS     wait MS before answering the probe (default: --delay)\n"
    "  --baud N             bytes leave no faster than N baud, 10 bits a byte\n"
    "                       (default 9600; 0: as fast as the terminal takes them)\n"
    "  --fragment N         write answers in pieces of N bytes\n"
    "  --gap MS             pause between pieces (default 0)\n"
    "  --repeat N           send every answer line N times in one write\n"
    "  --burst N            with the start-up answer, in the same write, send N\n"
    "                       distances (each --step further than the last)\n"
    "  --burst N            with the start-up answer, in the same write, send N\n"
    "                       distances (each --step further than the last)\n"
    "  --silent             never answer\n"
    "  --deaf MS            after the start-up answer, read nothing for MS: what\n"
    "                       the host sends waits in the terminal meanwhile\n"
    "  --vanish N           send half of the Nth answer, then close the terminal\n"
    "                       and exit (the meter goes away mid-line)\n"
    "  --verbose            log every byte received on stderr\n"
    "  --help               show this text\n";

struct Delivery {
  int delayMs = 0;
  int probeDelayMs = -1;
  long baud = 9600;
  std::size_t fragment = 0;
  int gapMs = 0;
};

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec After(timespec start, long nanoseconds) {
  start.tv_nsec += nanoseconds % 1000000000L;
  start.tv_sec += static_cast<time_t>(nanoseconds / 1000000000L);
  if (start.tv_nsec >= 1000000000L) {
    start.tv_nsec -= 1000000000L;
    ++start.tv_sec;
  }
  return start;
}

// Sleeps until `when`; false when a stop signal came first.
bool SleepUntil(timespec when) {
  while (!gStop) {
    const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
    if (result == 0) return true;
    if (result != EINTR) return false;
  }
  return false;
}

bool WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0 && !gStop) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return count == 0;
}

// Writes an answer in pieces, each byte no sooner than the line's pace allows.
void Deliver(int fd, const std::string& answer, int delayMs, const Delivery& how) {
  timespec next = After(Now(), delayMs * 1000000L);
  if (!SleepUntil(next)) return;
  const long byteNs = how.baud > 0 ? 10L * 1000000000L / how.baud : 0;
  const std::size_t piece = how.fragment > 0 ? how.fragment : answer.size();
  for (std::size_t at = 0; at < answer.size(); at += piece) {
    if (at > 0 && how.gapMs > 0 && !SleepUntil(next = After(Now(), how.gapMs * 1000000L))) return;
    const std::size_t size = std::min(piece, answer.size() - at);
    if (byteNs == 0) {
      if (!WriteAll(fd, answer.data() + at, size)) return;
      continue;
    }
    for (std::size_t i = 0; i < size; ++i) {
      if (!WriteAll(fd, answer.data() + at + i, 1)) return;
      next = After(next, byteNs);
      if (!SleepUntil(next)) return;
    }
  }
}

int OpenTerminal(std::string* path, int* keepOpen) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  *path = ptsname(master);
  // The simulator holds the terminal open itself: a host closing its side
  // then never hangs the terminal up. Raw from the start, so nothing echoes.
  *keepOpen = open(path->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (*keepOpen < 0 || tcgetattr(*keepOpen, &raw) != 0) return -1;
  cfmakeraw(&raw);
  tcsetattr(*keepOpen, TCSANOW, &raw);
  return master;
}

bool ParseNumber(const char* text, long* out) {
  char* end = nullptr;
  errno = 0;
  *out = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0';
}

struct Settings {
  ovrin_sim::MeterOptions meter;
  Delivery how;
  std::string link;
  bool verbose = false;
  long vanishAt = 0;  // answers until the meter goes away; 0: never
  long deafMs = 0;    // after the start-up answer, reads nothing this long
};

// Parses the command line; returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Settings* settings) {
  ovrin_sim::MeterOptions& meter = settings->meter;
  Delivery& how = settings->how;
  struct NumberOption {
    const char* name;
    long minimum;
    std::function<void(long)> set;
  };
  const NumberOption numbers[] = {
      {"--value", LONG_MIN, [&](long n) { meter.value = n; }},
      {"--step", LONG_MIN, [&](long n) { meter.step = n; }},
      {"--error", 0, [&](long n) { meter.errorCode = static_cast<int>(n); }},
      {"--delay", 0, [&](long n) { how.delayMs = static_cast<int>(n); }},
      {"--probe-delay", 0, [&](long n) { how.probeDelayMs = static_cast<int>(n); }},
      {"--baud", 0, [&](long n) { how.baud = n; }},
      {"--fragment", 0, [&](long n) { how.fragment = static_cast<std::size_t>(n); }},
      {"--gap", 0, [&](long n) { how.gapMs = static_cast<int>(n); }},
      {"--repeat", 1, [&](long n) { meter.repeat = static_cast<int>(n); }},
      {"--burst", 0, [&](long n) { meter.burst = static_cast<int>(n); }},
      {"--vanish", 0, [&](long n) { settings->vanishAt = n; }},
      {"--deaf", 0, [&](long n) { settings->deafMs = n; }},
  };
  const std::pair<const char*, std::string*> texts[] = {
      {"--link", &settings->link}, {"--probe-reply", &meter.probeReply}, {"--start-reply", &meter.startReply}};
  const std::pair<const char*, bool*> flags[] = {{"--silent", &meter.silent}, {"--verbose", &settings->verbose}};

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    bool known = false;
    for (const auto& flag : flags) {
      if (arg == flag.first) known = *flag.second = true;
    }
    if (known) continue;
    if (i + 1 >= argc) {
      std::fprintf(stderr, "ovrin-sim: unknown option or missing value: \"%s\"\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const char* value = argv[++i];
    for (const auto& text : texts) {
      if (arg != text.first) continue;
      *text.second = value;
      known = true;
    }
    for (const NumberOption& number : numbers) {
      if (arg != number.name) continue;
      long parsed = 0;
      if (!ParseNumber(value, &parsed) || parsed < number.minimum) {
        std::fprintf(stderr, "ovrin-sim: %s needs a number of at least %ld, not \"%s\"\n", number.name, number.minimum,
                     value);
        return 2;
      }
      number.set(parsed);
      known = true;
    }
    if (!known) {
      std::fprintf(stderr, "ovrin-sim: unknown option \"%s\"\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  const int exitCode = ParseArguments(argc, argv, &settings);
  if (exitCode >= 0) return exitCode;
  const Delivery& how = settings.how;
  const std::string& link = settings.link;

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;  // no SA_RESTART: blocking calls return
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string path;
  int keepOpen = -1;
  const int master = OpenTerminal(&path, &keepOpen);
  if (master < 0) {
    std::perror("ovrin-sim: pseudo-terminal");
    return 1;
  }
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(path.c_str(), link.c_str()) != 0) {
      std::perror("ovrin-sim: --link");
      return 1;
    }
  }
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);

  ovrin_sim::Meter answers(settings.meter);
  long vanishAt = settings.vanishAt;
  ovrin_sim::CommandReader reader;
  char buffer[512];
  while (!gStop) {
    pollfd input{master, POLLIN, 0};
    if (poll(&input, 1, -1) < 0) continue;  // EINTR: look at gStop
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (settings.verbose) {
      const std::string bytes(buffer, static_cast<std::size_t>(n));
      std::fprintf(stderr, "ovrin-sim: received \"%s\"\n", ovrin_sim::Escape(bytes).c_str());
    }
    for (const std::string& command : reader.Feed(buffer, static_cast<std::size_t>(n))) {
      std::string answer = answers.Answer(command);
      const bool vanish = !answer.empty() && --vanishAt == 0;
      if (vanish) answer.resize(answer.size() / 2);
      const bool probe = command == "N02N";
      Deliver(master, answer, probe && how.probeDelayMs >= 0 ? how.probeDelayMs : how.delayMs, how);
      if (vanish) gStop = 1;
      if (command == "sm 1" && settings.deafMs > 0) SleepUntil(After(Now(), settings.deafMs * 1000000L));
    }
  }
  if (!link.empty()) unlink(link.c_str());
  close(keepOpen);
  close(master);
  return 0;
}
