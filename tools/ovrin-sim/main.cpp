// ovrin-sim: a simulated distance meter on a pseudo-terminal.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "meter.h"
#include "pacing.h"
#include "replay.h"
#include "terminal.h"

namespace {

std::atomic<bool> gStop{false};  // lock-free: set from signal handlers
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from signal handlers");

void OnStopSignal(int) { gStop = true; }

constexpr char kDescription[] =
    "A simulated distance meter on a pseudo-terminal. Prints the terminal's\n"
    "device path on stdout, then answers until SIGINT or SIGTERM:\n"
    "  \"N02N\" (probe)  with the probe reply (contains \"12....+\")\n"
    "  \"sm 1\"          with the start reply\n"
    "  \"g\"             with a distance \"31..00+VVVVVVVV\" or \"@ECCC\"\n"
    "  anything else   with \"@E203\"\n"
    "Every answer line ends in CR LF. Commands end in CR LF; a NUL may follow.\n"
    "With --replay it plays a meter's side of an ovrin capture instead.";

struct Settings {
  ovrin_sim::MeterOptions meter;
  ovrin_sim::Pacing how;
  int delayMs = 0;
  int probeDelayMs = -1;  // -1: as delayMs
  std::string link;
  bool verbose = false;
  long vanishAt = 0;  // answers until the meter goes away; 0: never
  long deafMs = 0;    // after the start-up answer, reads nothing this long
  std::string replay;
  double speed = 1.0;
};

// Parses the command line; returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Settings* settings) {
  ovrin_sim::MeterOptions& meter = settings->meter;
  ovrin_sim::Pacing& how = settings->how;
  CLI::App app{kDescription, "ovrin-sim"};
  app.set_version_flag("--version", OVRIN_VERSION);
  app.add_option("--link", settings->link, "also make PATH a symbolic link to the terminal")->type_name("PATH");
  app.add_option("--value", meter.value, "distance that \"g\" answers with")->capture_default_str();
  app.add_option("--step", meter.step, "add N to the distance after every measurement");
  app.add_option("--error", meter.errorCode, "answer \"g\" with \"@E\" and CODE instead")
      ->check(CLI::NonNegativeNumber)
      ->type_name("CODE");
  app.add_option("--probe-reply", meter.probeReply, "line answering \"N02N\"")->capture_default_str();
  app.add_option("--start-reply", meter.startReply, "line answering \"sm 1\"")->capture_default_str();
  app.add_option("--delay", settings->delayMs, "wait MS before every answer")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--probe-delay", settings->probeDelayMs, "wait MS before answering the probe (default: --delay)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--baud", how.baud, "bytes leave no faster than N baud, 10 bits a byte (0: as fast as they can)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--fragment", how.fragment, "write answers in pieces of N bytes");
  app.add_option("--gap", how.gapMs, "pause between pieces")->check(CLI::NonNegativeNumber)->type_name("MS");
  app.add_option("--repeat", meter.repeat, "send every answer line N times in one write")->check(CLI::PositiveNumber);
  app.add_option("--burst", meter.burst,
                 "with the start-up answer, in the same write, send N distances (each --step further)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--silent", meter.silent, "never answer");
  app.add_option("--deaf", settings->deafMs,
                 "after the start-up answer, read nothing for MS: what the host sends waits in the terminal")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--vanish", settings->vanishAt,
                 "send half of the Nth answer, then close the terminal and exit (the meter goes away mid-line)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--verbose", settings->verbose, "log every byte received on stderr");
  app.add_option("--replay", settings->replay, "play back the meter's side of an ovrin capture (ovrin --record)")
      ->check(CLI::ExistingFile)
      ->type_name("FILE");
  app.add_option("--speed", settings->speed, "play the capture X times as fast")
      ->check(CLI::PositiveNumber)
      ->type_name("X");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& failure) {
    std::fprintf(stderr, "ovrin-sim: %s\nRun \"ovrin-sim --help\" for more.\n", failure.what());
    return 2;
  }
  return -1;
}

// The capture to play back; false, with the reason told, when it is none.
bool LoadReplay(const Settings& settings, std::optional<ovrin_sim::Replay>* replay) {
  if (settings.replay.empty()) return true;
  std::ifstream file(settings.replay, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<ovrin_capture::Chunk> chunks;
  std::string error;
  if (!ovrin_capture::ReadCapture(text.str(), &chunks, &error)) {
    std::fprintf(stderr, "ovrin-sim: %s: %s\n", settings.replay.c_str(), error.c_str());
    return false;
  }
  replay->emplace(std::move(chunks), settings.speed);
  return true;
}

// Sends a capture's chunks at their times after the command arrived.
void Play(int meter, const std::vector<ovrin_sim::TimedChunk>& chunks) {
  const std::int64_t arrived = ovrin_sim::MonotonicNs();
  ovrin_sim::Pacing asCaptured;
  asCaptured.baud = 0;  // each chunk left as the host read it
  for (const ovrin_sim::TimedChunk& chunk : chunks) {
    const std::int64_t at = arrived + static_cast<std::int64_t>(chunk.delayMs * 1e6);
    const std::int64_t now = ovrin_sim::MonotonicNs();
    if (ovrin_sim::Deliver(meter, chunk.bytes, at > now ? static_cast<int>((at - now) / 1000000) : 0, asCaptured,
                           gStop) < 0) {
      return;
    }
  }
}

int Run(int argc, char** argv) {
  Settings settings;
  const int exitCode = ParseArguments(argc, argv, &settings);
  if (exitCode >= 0) return exitCode;
  std::optional<ovrin_sim::Replay> replay;
  if (!LoadReplay(settings, &replay)) return 2;
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
      if (replay) {
        Play(meter, replay->Answer(command));
        continue;
      }
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

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {  // out of memory, say
    std::fprintf(stderr, "ovrin-sim: %s\n", error.what());
    return 1;
  }
}
