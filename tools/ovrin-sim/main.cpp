// ovrin-sim: a simulated distance meter on a pseudo-terminal.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "meter.h"
#include "pacing.h"
#include "terminal.h"

namespace {

std::atomic<bool> gStop{false};  // lock-free: set from signal handlers
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from signal handlers");

void OnStopSignal(int) { gStop = true; }

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

bool ParseNumber(const char* text, long* out) {
  char* end = nullptr;
  errno = 0;
  *out = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0';
}

struct Settings {
  ovrin_sim::MeterOptions meter;
  ovrin_sim::Pacing how;
  int delayMs = 0;
  int probeDelayMs = -1;  // -1: as delayMs
  std::string link;
  bool verbose = false;
  long vanishAt = 0;  // answers until the meter goes away; 0: never
  long deafMs = 0;    // after the start-up answer, reads nothing this long
};

// Parses the command line; returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Settings* settings) {
  ovrin_sim::MeterOptions& meter = settings->meter;
  ovrin_sim::Pacing& how = settings->how;
  struct NumberOption {
    const char* name;
    long minimum;
    std::function<void(long)> set;
  };
  const NumberOption numbers[] = {
      {"--value", LONG_MIN, [&](long n) { meter.value = n; }},
      {"--step", LONG_MIN, [&](long n) { meter.step = n; }},
      {"--error", 0, [&](long n) { meter.errorCode = static_cast<int>(n); }},
      {"--delay", 0, [&](long n) { settings->delayMs = static_cast<int>(n); }},
      {"--probe-delay", 0, [&](long n) { settings->probeDelayMs = static_cast<int>(n); }},
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
  const std::string& link = settings.link;

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;  // no SA_RESTART: blocking calls return
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<ovrin_sim::MeterTerminal> terminal;
  try {
    terminal = std::make_unique<ovrin_sim::MeterTerminal>();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ovrin-sim: %s\n", error.what());
    return 1;
  }
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(terminal->Path().c_str(), link.c_str()) != 0) {
      std::perror("ovrin-sim: --link");
      return 1;
    }
  }
  std::printf("%s\n", terminal->Path().c_str());
  std::fflush(stdout);

  const int meter = terminal->Fd();
  ovrin_sim::Meter answers(settings.meter);
  long vanishAt = settings.vanishAt;
  ovrin_sim::CommandReader reader;
  char buffer[512];
  while (!gStop) {
    pollfd input{meter, POLLIN, 0};
    if (poll(&input, 1, -1) < 0) continue;  // EINTR: look at gStop
    const ssize_t n = read(meter, buffer, sizeof buffer);
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
      ovrin_sim::Deliver(meter, answer, probe && settings.probeDelayMs >= 0 ? settings.probeDelayMs : settings.delayMs,
                         settings.how, gStop);
      if (vanish) gStop = true;
      if (command == "sm 1" && settings.deafMs > 0) {
        ovrin_sim::SleepUntil(ovrin_sim::MonotonicNs() + settings.deafMs * 1000000L, gStop);
      }
    }
  }
  if (!link.empty()) unlink(link.c_str());
  return 0;
}
