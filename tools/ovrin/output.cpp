#include "output.h"

#include <cstdio>

namespace ovrin_tool {
namespace {

int gCode = 0;
int* CodeSource() { return &gCode; }

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string ErrorText(int code) {
  gCode = code;
  char text[64];
  DescError(CodeSource, text, sizeof text);
  return text;
}

std::string FormatReply(const MeasureRecord& record, bool json) {
  char line[160];
  if (record.kind == ReplyError) {
    const std::string text = ErrorText(record.value1);
    if (json) {
      std::snprintf(line, sizeof line, "{\"kind\":1,\"code\":%d,\"error\":%s}", static_cast<int>(record.value1),
                    JsonString(text).c_str());
    } else {
      std::snprintf(line, sizeof line, "error %d: %s", static_cast<int>(record.value1), text.c_str());
    }
    return line;
  }
  std::snprintf(
      line, sizeof line,
      json ? "{\"kind\":%d,\"auxDigit\":%d,\"value1\":%d,\"value2\":%d}" : "kind %d  auxDigit %d  value1 %d  value2 %d",
      static_cast<int>(record.kind), static_cast<int>(record.auxDigit), static_cast<int>(record.value1),
      static_cast<int>(record.value2));
  return line;
}

}  // namespace ovrin_tool
