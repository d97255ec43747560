// The exact bytes the library puts on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "connection/comm_access.h"
#include "platform/platform.h"
#include "pty_meter.h"
#include "terminal.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;

namespace platform = ovrin::platform;

std::string Framed(const std::string& text) { return text + std::string("\r\n\0", 3); }

TEST(Wire, SendMsgFramesEveryTextWithCrLfNul) {
  PtyMeter meter([](const std::string&) { return std::string(); });
  platform::Port* port = platform::OpenPort(meter.Path(), nullptr);
  ASSERT_NE(port, platform::NoPort());
  ASSERT_TRUE(platform::ConfigureForMeter(port));
  OvrinComm comm;
  const std::string texts[] = {"N02N", "sm 1", "", std::string(125, 'x'), std::string("a\0b", 3)};
  std::string expected;
  for (const std::string& text : texts) {
    EXPECT_EQ(OvrinCommAccess::SendMsg(comm, port, text), static_cast<int>(text.size() + 3));
    expected += Framed(text);
  }
  EXPECT_EQ(OvrinCommAccess::SendMsg(comm, port, std::string(126, 'x')), 0);
  ASSERT_TRUE(meter.AwaitReceived(expected));
  EXPECT_EQ(meter.Received(), expected);  // nothing of the refused text
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);
}

TEST(Wire, OpenProbesStartsAndMeasures) {
  PtyMeter meter;
  PortEnvironment environment({meter.Path()});
  OvrinComm comm;
  std::string port;
  ASSERT_EQ(comm.Open(port, nullptr), 1);
  ASSERT_TRUE(meter.AwaitReceived(Framed("sm 1")));
  ASSERT_EQ(comm.DistanceMeasure(), 1);
  ASSERT_TRUE(meter.AwaitReceived("g\r\n"));
  EXPECT_EQ(meter.Received(), Framed("N02N") + Framed("sm 1") + "g\r\n");
  comm.Close();
}

TEST(Wire, WriteThatCannotCompleteGivesUpAfterItsTimeOut) {
  // A terminal whose far side nobody reads: its buffers fill, writes stall.
  ovrin_sim::MeterTerminal deaf;
  platform::Port* port = platform::OpenPort(deaf.Path(), nullptr);
  ASSERT_NE(port, platform::NoPort());
  ASSERT_TRUE(platform::ConfigureForMeter(port));
  OvrinComm comm;
  int result = 1;
  int sent = 0;
  const auto start = std::chrono::steady_clock::now();
  while (result != 0 && sent < 100000) {
    result = OvrinCommAccess::SendMsg(comm, port, std::string(125, 'q'));
    ++sent;
  }
  EXPECT_EQ(result, 0) << "after " << sent << " writes";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);  // does not wait for the stalled output
}

}  // namespace
