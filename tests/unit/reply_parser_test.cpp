#include <gtest/gtest.h>

#include <cstring>

#include "protocol/reply_parser.h"

namespace {

struct Case {
  const char* line;
  int kind;
  int auxDigit;
  int value1;
  int value2;
};

void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class ParseReplyTest : public ::testing::TestWithParam<Case> {};

TEST_P(ParseReplyTest, DecodesLine) {
  const Case& c = GetParam();
  const MeasureRecord record = ovrin::ParseReply(c.line);
  EXPECT_EQ(record.kind, c.kind);
  EXPECT_EQ(record.auxDigit, c.auxDigit);
  EXPECT_EQ(record.value1, c.value1);
  EXPECT_EQ(record.value2, c.value2);
  EXPECT_EQ(record.reserved1, 0);
  EXPECT_EQ(record.reserved2, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKey, ParseReplyTest,
    ::testing::Values(Case{"?", 0, 0, 0, 0}, Case{"?....+00000042", 0, 0, 0, 0}, Case{"@E203", 1, 0, 203, 0},
                      Case{"12....+00001234", 2, 0, 1234, 0}, Case{"13....+12345678", 3, 0, 1234, 5678},
                      Case{"14....+12345678", 4, 0, 123456, 78}, Case{"15....+00000015", 5, 0, 15, 0},
                      Case{"31..02+00012345", 6, 2, 12345, 0}, Case{"40....+00000040", 7, 0, 40, 0},
                      Case{"51....-00000051", 8, 0, -51, 0}, Case{"53....+00000053", 9, 0, 53, 0},
                      Case{"314.03-00000500", 10, 3, -500, 0}, Case{"315.09+00000315", 11, 9, 315, 0},
                      Case{"4001..+00000007", 12, 0, 7, 0}, Case{"4002..+00000008", 13, 0, 8, 0},
                      Case{"4003..-00000009", 14, 0, -9, 0}, Case{"5000..+00000010", 15, 0, 10, 0},
                      Case{"5001..+00000011", 16, 0, 11, 0}));

INSTANTIATE_TEST_SUITE_P(
    FieldsAndBoundaries, ParseReplyTest,
    ::testing::Values(Case{"", 0, 0, 0, 0}, Case{"12....-00001234", 2, 0, -1234, 0},
                      Case{"12....+0000123X", 2, 0, 123, 0}, Case{"12..", 2, 0, 0, 0}, Case{"12....+12", 2, 0, 12, 0},
                      Case{"12....", 2, 0, 0, 0}, Case{"12.....", 2, 0, 0, 0},
                      // Column 6 carries the sign; nine characters at most, so no overflow.
                      Case{"12....999999999", 2, 0, 999999999, 0}, Case{"12....-99999999", 2, 0, -99999999, 0},
                      Case{"12....+000012345", 2, 0, 1234, 0},  // column 15 is never read
                      Case{"12....+00001234 77", 2, 0, 1234, 0}, Case{"12.... \t+0000012", 2, 0, 1, 0},
                      Case{"12....+-0000012", 2, 0, 0, 0}, Case{"12....++0000012", 2, 0, 0, 0},
                      Case{"12...x+00001234", 2, 0, 1234, 0},  // columns 4 and 5 are not read
                      Case{"13....-12345678", 3, 0, 1234, 5678}, Case{"13....+123", 3, 0, 123, 0},
                      Case{"13....+1234567", 3, 0, 1234, 567}, Case{"13....+12a45678", 3, 0, 12, 5678},
                      Case{"13....+1234-678", 3, 0, 1234, -678}, Case{"14....+1234", 4, 0, 1234, 0},
                      Case{"14....+12345678999", 4, 0, 123456, 78}, Case{"14....+123456-7", 4, 0, 123456, -7},
                      Case{"31..0.+00012345", 6, 0, 12345, 0}, Case{"31..0", 6, 0, 0, 0},
                      Case{"31..0x+00000001", 6, 0, 1, 0}, Case{"31..0-+00000001", 6, 0, 1, 0},
                      Case{"314.", 10, 0, 0, 0}, Case{"315.07", 11, 7, 0, 0}, Case{"31.4", 0, 0, 0, 0},
                      Case{"31.4..+00000042", 0, 0, 42, 0}, Case{"@E", 1, 0, 0, 0}, Case{"@E20", 1, 0, 20, 0},
                      Case{"@E2034", 1, 0, 203, 0}, Case{"@e203", 0, 0, 0, 0}, Case{"@E 12", 1, 0, 12, 0},
                      Case{"5001", 16, 0, 0, 0}, Case{"99....+00000042", 0, 0, 42, 0}, Case{"1", 0, 0, 0, 0},
                      Case{"12.", 0, 0, 0, 0}, Case{"12,,..+00000001", 0, 0, 1, 0},
                      Case{"\xff\xfe....+00000003", 0, 0, 3, 0}));

TEST(ParseReply, StopsAtTheFirstNul) {
  const char line[] =
      "12....+00\0"
      "001234";
  EXPECT_EQ(ovrin::ParseReply(line).value1, 0);
}

TEST(ParseReply, NothingOfAnEarlierReplySurvives) {
  MeasureRecord record = ovrin::ParseReply("13....+12345678");
  record = ovrin::ParseReply("?");
  const MeasureRecord zero{};
  EXPECT_EQ(0, std::memcmp(&record, &zero, sizeof record));
}

}  // namespace
