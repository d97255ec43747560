// The simulated meter's answers: what tests and host developers rely on.
#include <gtest/gtest.h>

#include "meter.h"
#include "protocol/reply_parser.h"

namespace {

using ovrin_sim::CommandReader;
using ovrin_sim::Meter;
using ovrin_sim::MeterOptions;

TEST(SimCommandReader, SplitsFramedCommands) {
  CommandReader reader;
  EXPECT_EQ(reader.Feed("N02N\r\n\0sm", 9), (std::vector<std::string>{"N02N"}));
  EXPECT_EQ(reader.Feed(" 1\r\n\0g\r", 7), (std::vector<std::string>{"sm 1"}));
  EXPECT_EQ(reader.Feed("\n", 1), (std::vector<std::string>{"g"}));
}

TEST(SimMeter, AnswersDecodeAsTheLibraryExpects) {
  MeterOptions options;
  options.value = -250;
  options.step = 100;
  Meter meter(options);
  EXPECT_NE(meter.Answer("N02N").find("12....+"), std::string::npos);
  EXPECT_EQ(meter.Answer("sm 1"), "?\r\n");
  for (int expected : {-250, -150, -50, 50}) {
    const std::string answer = meter.Answer("g");
    ASSERT_EQ(answer.substr(answer.size() - 2), "\r\n");
    const MeasureRecord record = ovrin::ParseReply(answer.substr(0, answer.size() - 2).c_str());
    EXPECT_EQ(record.kind, Reply31);
    EXPECT_EQ(record.value1, expected);
  }
  EXPECT_EQ(meter.Answer("xyz"), "@E203\r\n");
}

TEST(SimMeter, ErrorRepeatBurstAndSilence) {
  MeterOptions options;
  options.errorCode = 252;
  options.repeat = 2;
  EXPECT_EQ(Meter(options).Answer("g"), "@E252\r\n@E252\r\n");
  options.errorCode = 0;
  options.repeat = 1;
  options.burst = 2;
  options.step = 5;
  EXPECT_EQ(Meter(options).Answer("sm 1"), "?\r\n31..00+00012345\r\n31..00+00012350\r\n");
  options.silent = true;
  EXPECT_EQ(Meter(options).Answer("N02N"), "");
}

}  // namespace
