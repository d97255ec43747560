#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace ovrin_tool {

const char kUsage[] =
    "Usage: ovrin COMMAND [OPTIONS]\n"
    "Works with a hand-held distance meter on a serial port.\n"
    "\n"
    "Commands:\n"
    "  find                 search for the meter and print its port\n"
    "  measure              measure and print each reply\n"
    "  monitor              print every reply line until interrupted\n"
    "  error CODE...        print the text of device error codes\n"
    "  help                 show this text\n"
    "\n"
    "Options:\n"
    "  --port NAME          try NAME first (it becomes the remembered port)\n"
    "  --count N            measurements to take (default 1)\n"
    "  --interval MS        pause between measurements (default 0)\n"
    "  --timeout MS         wait at most MS for each reply (default 10000)\n"
    "  --json               one JSON object per reply\n"
    "  --verbose            also print the meter's answer to the start-up command\n"
    "  --yes, --no          answer the \"keep searching?\" question in advance\n"
    "\n"
    "Exit status: 0 done, 1 no meter found, 2 bad arguments, 3 a command could\n"
    "not be sent or no reply came in time, 4 the link to the meter was lost.\n";

namespace {

bool ParseLong(const char* text, long minimum, long* out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < minimum) return false;
  *out = value;
  return true;
}

bool ParseCommand(const std::string& word, Command* command) {
  static const struct {
    const char* word;
    Command command;
  } kCommands[] = {{"find", Command::kFind},   {"measure", Command::kMeasure}, {"monitor", Command::kMonitor},
                   {"error", Command::kError}, {"help", Command::kHelp},       {"--help", Command::kHelp}};
  for (const auto& entry : kCommands) {
    if (word == entry.word) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  if (argc < 2) {
    *error = "no command given";
    return false;
  }
  if (!ParseCommand(argv[1], &options->command)) {
    *error = std::string("unknown command \"") + argv[1] + "\"";
    return false;
  }
  struct NumberOption {
    const char* name;
    long* target;
    long minimum;
  };
  const NumberOption numbers[] = {
      {"--count", &options->count, 1}, {"--interval", &options->intervalMs, 0}, {"--timeout", &options->timeoutMs, 1}};
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    bool matched = false;
    for (const NumberOption& number : numbers) {
      if (arg != number.name) continue;
      matched = true;
      if (!hasValue || !ParseLong(argv[++i], number.minimum, number.target)) {
        *error = arg + " needs a whole number of at least " + std::to_string(number.minimum);
        return false;
      }
    }
    if (matched) continue;
    if (arg == "--port") {
      if (!hasValue || argv[i + 1][0] == '\0') {
        *error = "--port needs a port name";
        return false;
      }
      options->port = argv[++i];
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--yes" || arg == "--no") {
      options->answer = arg == "--yes" ? Answer::kYes : Answer::kNo;
    } else if (options->command == Command::kError) {
      long code = 0;
      if (!ParseLong(arg.c_str(), LONG_MIN, &code) || code < INT_MIN || code > INT_MAX) {
        *error = "\"" + arg + "\" is not an error code";
        return false;
      }
      options->codes.push_back(static_cast<int>(code));
    } else {
      *error = "unknown option \"" + arg + "\"";
      return false;
    }
  }
  if (options->command == Command::kError && options->codes.empty()) {
    *error = "error needs at least one CODE";
    return false;
  }
  return true;
}

}  // namespace ovrin_tool
