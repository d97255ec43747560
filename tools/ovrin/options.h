// The command line of the ovrin tool.
#pragma once

#include <string>
#include <vector>

namespace ovrin_tool {

// What the tool's exit status means.
enum ExitCode {
  kOk = 0,
  kNoMeter = 1,       // no meter found
  kBadArguments = 2,  // the command line is wrong
  kNoReply = 3,       // a command could not be sent, or no reply came in time
  kLinkLost = 4,      // the link to the meter was lost
  kOutputFailed = 5,  // the output file could not be opened or written
  kCannotListen = 6   // serve: the address could not be listened on
};

enum class Command { kFind, kMeasure, kMonitor, kServe, kPorts, kError };
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
