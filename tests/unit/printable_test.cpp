// Text from the system shown on a terminal: control characters and bytes
// that are not UTF-8 are escaped, every other character passes as it is.
#include <gtest/gtest.h>

#include "format.h"

namespace ovrin_tool {
namespace {

TEST(Printable, EscapesControlCharactersAndBytesThatAreNotUtf8) {
  const struct {
    const char* text;
    const char* shown;
  } rows[] = {
      {"USB Serial \xc3\xa9\xe2\x80\x94\xf0\x9f\x93\x8f", "USB Serial \xc3\xa9\xe2\x80\x94\xf0\x9f\x93\x8f"},
      {"\x1b[31mred\x1b[0m\r\n\t\x7f", "\\x1b[31mred\\x1b[0m\\x0d\\x0a\\x09\\x7f"},
      {"C1 \xc2\x9b"
       "31m, \xc2\x85 and \xc2\xa0",
       "C1 \\xc2\\x9b31m, \\xc2\\x85 and \xc2\xa0"},  // CSI, NEL; NBSP is shown
      {"raw \x9b"
       "31m",
       "raw \\x9b31m"},
      {"overlong \xc0\xaf, surrogate \xed\xa0\x80, past U+10FFFF \xf4\x90\x80\x80",
       "overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80, past U+10FFFF \\xf4\\x90\\x80\\x80"},
      {"cut \xe2\x80", "cut \\xe2\\x80"},
  };
  for (const auto& row : rows) EXPECT_EQ(Printable(row.text), row.shown) << row.text;
}

}  // namespace
}  // namespace ovrin_tool
