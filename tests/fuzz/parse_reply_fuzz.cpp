// Any line decodes into a record that keeps the record's rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/reply_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);  // NUL-terminated by c_str()
  const MeasureRecord record = ovrin::ParseReply(line.c_str());
  const int kind = record.kind;
  const bool hasAux = kind == 6 || kind == 10 || kind == 11;
  const bool hasValue2 = kind == 3 || kind == 4;
  if (kind < 0 || kind > 16 || record.reserved1 != 0 || record.reserved2 != 0) std::abort();
  if (record.auxDigit < 0 || record.auxDigit > 9 || (!hasAux && record.auxDigit != 0)) std::abort();
  if (!hasValue2 && record.value2 != 0) std::abort();
  if (record.value1 > 999999999 || record.value1 < -999999999) std::abort();
  if (line.c_str()[0] == '?' && record.value1 != 0) std::abort();
  return 0;
}
