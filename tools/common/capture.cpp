#include "capture.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ovrin_capture {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

}  // namespace

std::string FormatChunk(const Chunk& chunk) {
  char head[48];
  std::snprintf(head, sizeof head, "%.6f %c ", chunk.seconds, chunk.direction == Direction::kToMeter ? '>' : '<');
  std::string line = head;
  static const char kDigits[] = "0123456789abcdef";
  for (unsigned char byte : chunk.bytes) {
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0x0f];
  }
  return line;
}

bool ReadCapture(const std::string& text, std::vector<Chunk>* chunks, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line.compare(0, sizeof kFirstLine - 1, kFirstLine) != 0) {
    *error = "not an ovrin capture (its first line is not \"" + std::string(kFirstLine) + "\")";
    return false;
  }
  chunks->clear();
  for (int number = 2; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Chunk chunk{};
    std::string direction;
    std::string hex;
    if (!(fields >> chunk.seconds >> direction >> hex) || (direction != ">" && direction != "<") ||
        !ParseHex(hex, &chunk.bytes) || chunk.seconds < 0) {
      *error = "line " + std::to_string(number) + " is no chunk: \"" + line + "\"";
      return false;
    }
    chunk.direction = direction == ">" ? Direction::kToMeter : Direction::kFromMeter;
    chunks->push_back(chunk);
  }
  return true;
}

}  // namespace ovrin_capture
