// The command line of the ovrin tool.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "format.h"
#include "keyboard.h"

namespace ovrin_tool {

// What the tool's exit status means.
enum ExitCode {
  kOk = 0,
  kNoMeter = 1,       // no meter found
  kBadArguments = 2,  // the command line is wrong
  kNoReply = 3,       // a command could not be sent, or no reply came in time
  kLinkLost = 4,      // the link to the meter was lost
  kOutputFailed = 5,  // the output file could not be opened or written
  kCannotListen = 6,  // serve: the address could not be listened on
  kCannotType = 7,    // type: no display, or no X libraries, to type with
  kKeyTaken = 8       // type: another program holds the measure key
};

enum class Command { kFind, kMeasure, kMonitor, kServe, kType, kPorts, kError };

// A factor as written on the command line, kept exact: mantissa × 10^-exponent.
struct Scale {
  std::int64_t mantissa = 1;
  int exponent = 0;
};
enum class Answer { kAsk, kYes, kNo };  // to the "keep searching?" question

// Ordered by size (no padding to speak of); each field names its command.
struct Options {
  std::string port;                      // --port: tried first
  std::string output;                    // measure, monitor, type, serve --output FILE: append there
  std::string record;                    // --record FILE: capture every byte
  std::string measureKey;                // type --measure-key F1..F24
  std::string listenHost = "127.0.0.1";  // serve --listen ADDR:PORT
  std::string tokenFile;                 // serve --token-file: the link's token, kept across runs
  std::set<int> typeKinds{6};            // type --kinds: the answer to the measure command
  std::vector<int> codes;                // error CODE...
  Scale typeScale;                       // type --scale
  long count = 1;                        // measure --count
  long intervalMs = 0;                   // measure --interval
  long timeoutMs = 10000;                // measure --timeout: wait for each reply
  Command command = Command::kFind;
  Answer answer = Answer::kAsk;
  Format format = Format::kText;
  FinalKey typeThen = FinalKey::kEnter;  // type --then
  int typeDecimals = 0;                  // type --decimals
  int listenPort = 8070;                 // serve --listen ADDR:PORT
  char typeSeparator = '.';              // type --decimal-separator
  bool verbose = false;                  // find: every candidate; measure: the start-up reply too
  bool reconnect = false;                // monitor, serve, type: keep going when the link drops
  bool dryRun = false;                   // type --dry-run: print instead of typing
  bool noToken = false;                  // serve --no-token: only with a loopback --listen
  bool json = false;                     // ports, error
};

// Parses argv. Returns -1 to go on with *options, else the exit status to end
// with (help and version print and end with 0; errors print and end with 2).
int ParseOptions(int argc, char** argv, Options* options);

}  // namespace ovrin_tool
