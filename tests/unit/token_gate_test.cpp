// The limit on wrong tokens of serve beyond loopback: whom it counts
// together, and that what it keeps stays bounded however many addresses come.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "web/access.h"

namespace ovrin_tool {
namespace {

std::string Hex(std::size_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%zx", number);
  return text;
}

TEST(TokenGate, CountsAnIpv6AddressWithItsSlash64AndAnIpv4AddressAlone) {
  TokenGate gate("0123456789abcdef0123456789abcdef");
  for (std::size_t i = 1; i <= TokenGate::kWrongPerMinute; ++i) gate.CountWrong("2001:db8:1:2::" + Hex(i));
  EXPECT_TRUE(gate.Limited("2001:db8:1:2:ffff:ffff:ffff:ffff"));
  EXPECT_TRUE(gate.Limited("2001:0db8:0001:0002::7%eth0"));
  EXPECT_FALSE(gate.Limited("2001:db8:1:3::1"));
  for (std::size_t i = 0; i < TokenGate::kWrongPerMinute; ++i) gate.CountWrong("::ffff:192.0.2.7");
  EXPECT_TRUE(gate.Limited("192.0.2.7"));
  EXPECT_FALSE(gate.Limited("192.0.2.8"));
  EXPECT_EQ(gate.Counted(), 2u);
}

TEST(TokenGate, CountsABoundedNumberOfAddresses) {
  TokenGate gate("0123456789abcdef0123456789abcdef");
  for (std::size_t i = 0; i < TokenGate::kMaxAddresses + 100; ++i) gate.CountWrong("2001:db8:" + Hex(i) + "::1");
  EXPECT_EQ(gate.Counted(), TokenGate::kMaxAddresses);
}

}  // namespace
}  // namespace ovrin_tool
