#include "meter.h"

#include <cstdio>

namespace ovrin_sim {

std::vector<std::string> CommandReader::Feed(const char* bytes, std::size_t count) {
  pending_.append(bytes, count);
  std::vector<std::string> commands;
  for (std::size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
    std::string command = pending_.substr(0, end);
    // The NUL that ends the previous command's frame.
    if (!command.empty() && command[0] == '\0') command.erase(0, 1);
    commands.push_back(command);
    pending_.erase(0, end + 2);
  }
  return commands;
}

std::string Meter::Line(const std::string& text) const {
  std::string bytes;
  for (int i = 0; i < options_.repeat; ++i) bytes += text + "\r\n";
  return bytes;
}

std::string Meter::NextDistance() {
  char text[32];
  std::snprintf(text, sizeof text, "31..00%c%08ld", value_ < 0 ? '-' : '+', value_ < 0 ? -value_ : value_);
  value_ += options_.step;
  return text;
}

std::string Meter::Answer(const std::string& command) {
  if (options_.silent) return {};
  if (command == "N02N") return Line(options_.probeReply);
  if (command == "sm 1") {
    std::string answer = Line(options_.startReply);
    for (int i = 0; i < options_.burst; ++i) answer += NextDistance() + "\r\n";
    return answer;
  }
  if (command != "g") return Line("@E203");  // invalid command
  if (options_.errorCode == 0) return Line(NextDistance());
  char text[32];
  std::snprintf(text, sizeof text, "@E%03d", options_.errorCode);
  return Line(text);
}

std::string Escape(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\0') {
      shown += "\\0";
    } else if (c < 0x20 || c >= 0x7f || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

}  // namespace ovrin_sim
