#include "reply_parser.h"

#include <cstring>

namespace ovrin {
namespace {

// A field of columns [first, last] of a line, cut short at the line's end.
struct Columns {
  std::size_t first;
  std::size_t last;
};

constexpr Columns kNoField{0, 0};
constexpr Columns kSignedValue{6, 14};

struct KeyRule {
  const char* key;
  ReplyKind kind;
  bool readsAuxDigit;  // column 5
  Columns value1;
  Columns value2;
};

// A rule's value field is read when its last column is not 0.
constexpr KeyRule kRules[] = {
    {"@E", ReplyError, false, {2, 4}, kNoField},        {"12..", Reply12, false, kSignedValue, kNoField},
    {"13..", Reply13, false, {7, 10}, {11, 14}},        {"14..", Reply14, false, {7, 12}, {13, 14}},
    {"15..", Reply15, false, kSignedValue, kNoField},   {"31..", Reply31, true, kSignedValue, kNoField},
    {"40..", Reply40, false, kSignedValue, kNoField},   {"51..", Reply51, false, kSignedValue, kNoField},
    {"53..", Reply53, false, kSignedValue, kNoField},   {"314.", Reply314, true, kSignedValue, kNoField},
    {"315.", Reply315, true, kSignedValue, kNoField},   {"4001", Reply4001, false, kSignedValue, kNoField},
    {"4002", Reply4002, false, kSignedValue, kNoField}, {"4003", Reply4003, false, kSignedValue, kNoField},
    {"5000", Reply5000, false, kSignedValue, kNoField}, {"5001", Reply5001, false, kSignedValue, kNoField},
};

constexpr KeyRule kUnmatched{"", ReplyNone, false, kSignedValue, kNoField};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Optional white space, one optional sign, decimal digits up to the first
// other character. At most nine characters, so the value always fits.
std::int32_t ReadNumber(const char* line, std::size_t length, Columns field) {
  if (field.last == 0 || field.first >= length) return 0;
  const char* p = line + field.first;
  const char* end = line + (field.last + 1 < length ? field.last + 1 : length);
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::int32_t value = 0;
  for (; p < end && IsDigit(*p); ++p) value = value * 10 + (*p - '0');
  return negative ? -value : value;
}

}  // namespace

MeasureRecord ParseReply(const char* line) {
  MeasureRecord record{};
  if (line[0] == '?') return record;
  const std::size_t length = std::strlen(line);
  const KeyRule* rule = &kUnmatched;
  for (const KeyRule& candidate : kRules) {
    if (std::strncmp(line, candidate.key, std::strlen(candidate.key)) == 0) {
      rule = &candidate;
      break;
    }
  }
  record.kind = rule->kind;
  if (rule->readsAuxDigit && length > 5 && IsDigit(line[5])) {
    record.auxDigit = static_cast<std::int16_t>(line[5] - '0');
  }
  record.value1 = ReadNumber(line, length, rule->value1);
  record.value2 = ReadNumber(line, length, rule->value2);
  return record;
}

}  // namespace ovrin
