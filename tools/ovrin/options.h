// The command line of the ovrin tool.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

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
enum class Format { kText, kJson, kCsv };

struct Options {
  Command command = Command::kFind;
  std::string port;  // --port: tried first
  Answer answer = Answer::kAsk;
  bool verbose = false;  // find: every candidate; measure: the start-up reply too
  // measure and monitor
  long count = 1;          // --count
  long intervalMs = 0;     // --interval
  long timeoutMs = 10000;  // --timeout: wait for each reply
  Format format = Format::kText;
  std::string output;      // --output FILE: append there instead of stdout
  std::string record;      // --record FILE: capture every byte
  bool reconnect = false;  // monitor, serve: keep going when the link drops
  // type
  std::set<int> typeKinds{6};            // --kinds: the answer to the measure command
  Scale typeScale;                       // --scale
  int typeDecimals = 0;                  // --decimals
  char typeSeparator = '.';              // --decimal-separator
  FinalKey typeThen = FinalKey::kEnter;  // --then
  bool dryRun = false;                   // --dry-run: print instead of typing
  std::string measureKey;                // --measure-key F1..F24
  // serve --listen ADDR:PORT
  std::string listenHost = "127.0.0.1";
  int listenPort = 8070;
  // ports, error
  bool json = false;
  std::vector<int> codes;  // ovrin error CODE...
};

// Parses argv. Returns -1 to go on with *options, else the exit status to end
// with (help and version print and end with 0; errors print and end with 2).
int ParseOptions(int argc, char** argv, Options* options);

}  // namespace ovrin_tool
