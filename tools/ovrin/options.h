// Command line of the ovrin tool.
#pragma once

#include <string>
#include <vector>

namespace ovrin_tool {

enum class Command { kFind, kMeasure, kMonitor, kError, kHelp };
enum class Answer { kAsk, kYes, kNo };  // to the "keep searching?" question

struct Options {
  Command command = Command::kHelp;
  std::string port;        // --port: tried first
  long count = 1;          // --count
  long intervalMs = 0;     // --interval
  long timeoutMs = 10000;  // --timeout: wait for each reply
  bool json = false;       // --json
  bool verbose = false;    // --verbose: also the start-up reply
  Answer answer = Answer::kAsk;
  std::vector<int> codes;  // ovrin error CODE...
};

extern const char kUsage[];

// Parses argv; on failure returns false with a message in *error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

}  // namespace ovrin_tool
