#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <string>

#include "ovrin_comm.h"

namespace {

int gCode = 0;
int gCalls = 0;
int* CodeSource() {
  ++gCalls;
  return &gCode;
}

std::string Describe(int code, int length = 64) {
  gCode = code;
  std::string buffer(static_cast<std::size_t>(length), '\x55');
  DescError(CodeSource, &buffer[0], length);
  return buffer;
}

std::string Text(int code) { return Describe(code).c_str(); }

const std::map<int, std::string> kListed = {
    {203, "Invalid command or invalid parameter"},
    {204, "Dimension error"},
    {221, "Parity error"},
    {222, "UART buffer overflow"},
    {223, "UART framing error"},
    {224, "Receive buffer overflow"},
    {240, "Data transmission not comfirmed(within the expected time)"},
    {241, "[cfm]-Command received but not expected"},
    {242, "BLUETOOTH module not ready"},
    {243, "General communication error with the internal BLUETOOTH module"},
    {244, "On/Off-key pressed(during an established BLUETOOTH link)"},
    {245, "2nd-Function Key pressed(but no BLUETOOTH connection exist)"},
    {251, "Battery voltage too low"},
    {252, "Temperature too high"},
    {253, "Temperature too low"},
    {255, "Receiver signal too low"},
    {256, "Receiver signal too high"},
    {257, "Too much ambient light"},
    {260, "Moving target (pointing with shaky hands)"},
    {272, "Internal measuring module error"},
    {273, "Internal measuring module error"},
    {274, "Internal measuring module error"},
    {275, "Internal measuring module error"},
    {279, "Internal measuring module error"},
    {285, "EEPROM: BT section checksum error"},
    {286, "Internal measuring module error"},
    {287, "EEPROM: HMI section checksum error"},
    {288, "Internal measuring module error"},
    {289, "EEPROM: DMC section checksum error"},
    {290, "Internal measuring module error"},
    {294, "Display overflow"},
};

TEST(DescError, EveryCodeFrom190To300) {
  for (int code = 190; code <= 300; ++code) {
    const auto listed = kListed.find(code);
    EXPECT_EQ(Text(code), listed == kListed.end() ? "unkown error" : listed->second) << code;
  }
}

TEST(DescError, CodesOutsideTheTable) {
  for (int code : {0, -1, -203, 1, 202, 295, 1000, INT_MIN, INT_MAX}) EXPECT_EQ(Text(code), "unkown error") << code;
}

TEST(DescError, FillsTheWholeBufferWithNulsAfterTheText) {
  const std::string buffer = Describe(203, 64);
  EXPECT_EQ(buffer, std::string("Invalid command or invalid parameter") + std::string(28, '\0'));
}

TEST(DescError, BufferLengths) {
  struct Case {
    int code;
    int length;
    std::string expected;  // all `length` bytes
  };
  const Case cases[] = {
      {221, 1, std::string(1, '\0')},
      {243, 1, std::string(1, '\0')},
      {221, 12, std::string("Parity erro") + '\0'},
      {221, 13, std::string("Parity error") + '\0'},
      {221, 20, std::string("Parity error") + std::string(8, '\0')},
      {243, 63, kListed.at(243) + '\0'},
      {243, 62, kListed.at(243).substr(0, 61) + '\0'},
      {0, 5, std::string("unko") + '\0'},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(c.code, c.length), c.expected) << c.code << "/" << c.length;
}

TEST(DescError, CallsTheCodeSourceExactlyOnce) {
  gCalls = 0;
  Describe(203);
  Describe(999);
  EXPECT_EQ(gCalls, 2);
}

TEST(DescError, RefusesArgumentsItCannotUse) {
  char buffer[8] = "xxxxxxx";
  gCalls = 0;
  DescError(CodeSource, buffer, 0);
  DescError(CodeSource, buffer, -5);
  DescError(CodeSource, nullptr, 8);
  DescError(nullptr, buffer, 8);
  EXPECT_EQ(gCalls, 0);
  EXPECT_STREQ(buffer, "xxxxxxx");
}

}  // namespace
