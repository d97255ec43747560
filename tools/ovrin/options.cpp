#include "options.h"

#include <CLI/CLI.hpp>

#include "web/access.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ovrin_tool {
namespace {

constexpr char kExitStatus[] =
    "Exit status: 0 done (also after Ctrl-C), 1 no meter found, 2 bad arguments,\n"
    "3 a command could not be sent or no reply came in time, 4 the link to the\n"
    "meter was lost, 5 the output file could not be opened or written, 6 serve\n"
    "could not listen on its address, 7 type has no way to type (no display or\n"
    "no X libraries), 8 another program holds type's measure key.";

// A whole number of at least `minimum` (CLI11's own checks speak of floating
// point ranges).
CLI::Validator AtLeast(long minimum) {
  return CLI::Validator(
      [minimum](std::string& text) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (errno != 0 || end == text.c_str() || *end != '\0' || value < minimum) {
          return "needs a whole number of at least " + std::to_string(minimum) + ", not \"" + text + "\"";
        }
        return std::string();
      },
      "at least " + std::to_string(minimum));
}

// Options every command that opens the meter has.
void AddSearchOptions(CLI::App* command, Options* options) {
  command->add_option("--port", options->port, "try NAME first (it becomes the remembered port)")
      ->type_name("NAME")
      ->check([](const std::string& name) { return name.empty() ? std::string("needs a port name") : std::string(); });
  command->add_flag_callback(
      "--yes", [options] { options->answer = Answer::kYes; },
      "answer \"keep searching?\" with yes (the search no longer asks: kept for scripts)");
  command->add_flag_callback(
      "--no", [options] { options->answer = Answer::kNo; },
      "answer \"keep searching?\" with no (the search no longer asks: kept for scripts)");
}

// Where readings go: --format, --json, --output, --record.
void AddOutputOptions(CLI::App* command, Options* options) {
  command
      ->add_option_function<std::string>(
          "--format",
          [options](const std::string& name) {
            options->format = name == "json" ? Format::kJson : name == "csv" ? Format::kCsv : Format::kText;
          },
          "text (the default), json (one object a line) or csv")
      ->check(CLI::IsMember({"text", "json", "csv"}))
      ->type_name("FORMAT");
  command->add_flag_callback(
      "--json", [options] { options->format = Format::kJson; }, "the same as --format json");
  command
      ->add_option("--output", options->output,
                   "append the readings to FILE (a CSV header only when it is new), flushed as they come")
      ->type_name("FILE");
  command->add_option("--record", options->record, "capture every byte to and from the meter in FILE")
      ->type_name("FILE");
}

// ADDR:PORT ("127.0.0.1:8070", "[::1]:8070"; port 0: any free one) into
// host and port; an error text, or empty when it is good.
std::string ParseListen(const std::string& text, Options* options) {
  const std::size_t colon = text.rfind(':');
  std::string bad = "needs ADDR:PORT (127.0.0.1:8070, [::1]:8070), not \"" + text + "\"";
  if (colon == std::string::npos || colon == 0) return bad;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return bad;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return bad;  // an IPv6 address goes in brackets
  }
  const std::string port = text.substr(colon + 1);
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || errno != 0 || *end != '\0' || number < 0 || number > 65535) return bad;
  options->listenHost = host;
  options->listenPort = static_cast<int>(number);
  return std::string();
}

// A factor in plain decimal notation ("0.001", "2.54", "-1") into *scale,
// exactly; an error text, or empty when it is good.
std::string ParseScale(const std::string& text, Scale* scale) {
  std::string bad = "needs a number such as 0.001 or 2.54, not \"" + text + "\"";
  std::size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  std::string digits;
  int exponent = -1;
  for (; i < text.size(); ++i) {
    if (text[i] == '.' && exponent < 0) {
      exponent = 0;
    } else if (text[i] >= '0' && text[i] <= '9') {
      digits += text[i];
      if (exponent >= 0) ++exponent;
    } else {
      return bad;
    }
  }
  if (digits.empty() || exponent == 0) return bad;
  // Zeros at the end of the fraction change nothing: 2.540000000 is 2.54.
  while (exponent > 0 && digits.back() == '0') {
    digits.pop_back();
    --exponent;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (digits.empty() || (first != std::string::npos && digits.size() - first > 9)) return bad;
  scale->mantissa = std::strtoll(digits.c_str(), nullptr, 10) * (text[0] == '-' ? -1 : 1);
  scale->exponent = exponent < 0 ? 0 : exponent;
  return std::string();
}

std::string CheckMeasureKey(const std::string& key) {
  const long number = key.size() >= 2 && key[0] == 'F' ? std::strtol(key.c_str() + 1, nullptr, 10) : 0;
  if (number >= 1 && number <= 24 && key == "F" + std::to_string(number)) return std::string();
  return "needs a function key, F1 to F24, not \"" + key + "\"";
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* options) {
  CLI::App app{"Works with a hand-held distance meter on a serial port.", "ovrin"};
  app.footer(kExitStatus);
  app.set_version_flag("--version", OVRIN_VERSION);
  app.require_subcommand(1);

  CLI::App* find = app.add_subcommand("find", "search for the meter and print its port");
  AddSearchOptions(find, options);
  find->add_flag("--verbose", options->verbose, "tell how every port tried fared");
  find->final_callback([options] { options->command = Command::kFind; });

  CLI::App* measure = app.add_subcommand("measure", "measure and print each reading");
  AddSearchOptions(measure, options);
  AddOutputOptions(measure, options);
  measure->add_option("--count", options->count, "measurements to take")->check(AtLeast(1))->capture_default_str();
  measure->add_option("--interval", options->intervalMs, "pause between measurements, in ms")
      ->check(AtLeast(0))
      ->type_name("MS")
      ->capture_default_str();
  measure->add_option("--timeout", options->timeoutMs, "wait at most MS for each reply")
      ->check(AtLeast(1))
      ->type_name("MS")
      ->capture_default_str();
  measure->add_flag("--verbose", options->verbose, "also print the meter's answer to the start-up command");
  measure->final_callback([options] { options->command = Command::kMeasure; });

  CLI::App* monitor = app.add_subcommand("monitor", "print every reading as it comes, until Ctrl-C");
  AddSearchOptions(monitor, options);
  AddOutputOptions(monitor, options);
  monitor->add_flag("--reconnect", options->reconnect,
                    "when the meter is gone or not found, search again (0.5 s, doubling up to 30 s)");
  monitor->final_callback([options] { options->command = Command::kMonitor; });

  CLI::App* serve = app.add_subcommand("serve", "show the readings live on a page in the browser");
  AddSearchOptions(serve, options);
  AddOutputOptions(serve, options);
  // Checking the address is parsing it: the check keeps what it read.
  serve->add_option("--listen", "listen on ADDR:PORT (default 127.0.0.1:8070, this machine only; port 0: any free one)")
      ->check([options](const std::string& text) { return ParseListen(text, options); })
      ->type_name("ADDR:PORT");
  serve->add_flag("--reconnect", options->reconnect,
                  "when the meter is gone or not found, search again (0.5 s, doubling up to 30 s)");
  serve
      ->add_option("--token-file", options->tokenFile,
                   "beyond loopback: take the link's token from FILE, or keep a new one there; only you may read it")
      ->type_name("FILE");
  serve->add_flag("--no-token", options->noToken, "no token (refused unless --listen is this machine only)");
  serve->final_callback([options] { options->command = Command::kServe; });

  CLI::App* type = app.add_subcommand("type", "type every reading where the cursor is, as if at the keyboard");
  AddSearchOptions(type, options);
  AddOutputOptions(type, options);
  type->add_option_function<std::vector<int>>(
          "--kinds",
          [options](const std::vector<int>& kinds) {
            options->typeKinds = {kinds.begin(), kinds.end()};
          },
          "the kinds of reading to type (default 6, the answer to the measure command)")
      ->delimiter(',')
      ->check(CLI::Range(0, 16))
      ->type_name("LIST");
  type->add_option("--scale", "type value1 times F (default 1)")
      ->check([options](const std::string& text) { return ParseScale(text, &options->typeScale); })
      ->type_name("F");
  type->add_option("--decimals", options->typeDecimals, "decimals to type")
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
  type->add_option_function<std::string>(
          "--decimal-separator", [options](const std::string& text) { options->typeSeparator = text[0]; },
          "the separator before the decimals (default .)")
      ->check(CLI::IsMember({".", ","}))
      ->type_name(".|,");
  type->add_option_function<std::string>(
          "--then",
          [options](const std::string& key) {
            options->typeThen = key == "tab"     ? FinalKey::kTab
                                : key == "space" ? FinalKey::kSpace
                                : key == "none"  ? FinalKey::kNone
                                                 : FinalKey::kEnter;
          },
          "the key pressed after each reading (default enter)")
      ->check(CLI::IsMember({"enter", "tab", "space", "none"}))
      ->type_name("enter|tab|space|none");
  type->add_option("--measure-key", options->measureKey, "a key (F1 to F24) that measures, wherever the focus is")
      ->check(CheckMeasureKey)
      ->type_name("KEY");
  type->add_flag("--dry-run", options->dryRun, "print what would be typed, one reading a line, instead of typing it");
  type->add_flag("--reconnect", options->reconnect,
                 "when the meter is gone or not found, search again (0.5 s, doubling up to 30 s)");
  type->final_callback([options] { options->command = Command::kType; });

  CLI::App* ports = app.add_subcommand("ports", "list the ports the search would try, in its order");
  ports->add_flag("--json", options->json, "as a JSON array");
  ports->final_callback([options] { options->command = Command::kPorts; });

  CLI::App* error = app.add_subcommand("error", "print the texts of device error codes");
  error->add_flag("--json", options->json, "one JSON object a code");
  error->add_option("CODE", options->codes, "device error codes")->required()->allow_extra_args();
  error->final_callback([options] { options->command = Command::kError; });

  try {
    app.parse(argc, argv);
    // There is no way to expose Measure to the network without a secret.
    if (options->noToken && !IsLoopback(options->listenHost)) {
      throw CLI::ValidationError("--no-token", "only with a loopback --listen (127.0.0.1, ::1, localhost)");
    }
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& failure) {
    std::fprintf(stderr, "ovrin: %s\nRun \"ovrin --help\" or \"ovrin COMMAND --help\" for more.\n", failure.what());
    return kBadArguments;
  }
  return -1;
}

}  // namespace ovrin_tool
