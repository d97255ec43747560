// What the simulated meter answers, apart from how the bytes are delivered.
#pragma once

#include <string>
#include <vector>

namespace ovrin_sim {

struct MeterOptions {
  std::string probeReply = "12....+00000042";
  std::string startReply = "?";
  long value = 12345;   // the distance "g" answers with
  long step = 0;        // added to the value after every measurement
  int errorCode = 0;    // nonzero: "g" answers "@E" and this code
  int repeat = 1;       // lines per answer, all in one write
  int burst = 0;        // distances sent with the start-up answer, in the same write
  bool silent = false;  // answers nothing at all
};

// Splits the bytes a host sends into command lines: each ends in CR LF, and a
// NUL may follow it (framing of the host's own messages).
class CommandReader {
 public:
  // Adds bytes; returns the commands they complete.
  std::vector<std::string> Feed(const char* bytes, std::size_t count);

 private:
  std::string pending_;
};

class Meter {
 public:
  explicit Meter(const MeterOptions& options) : options_(options), value_(options.value) {}
  // The bytes to send in answer to one command line (empty: no answer).
  std::string Answer(const std::string& command);

 private:
  std::string Line(const std::string& text) const;
  // The next distance line's text; advances the value by the step.
  std::string NextDistance();
  MeterOptions options_;
  long value_;
};

// Shows bytes for a log: printable ASCII as is, the rest as \r, \n, \0, \xNN.
std::string Escape(const std::string& bytes);

}  // namespace ovrin_sim
