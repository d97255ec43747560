// Finding the meter among real pseudo-terminals, with simulated meters that
// answer in every way the search must tell apart.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>

#include <fcntl.h>
#include <unistd.h>

#include "connection/comm_access.h"
#include "platform/platform.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;
using testing_support::SimProcess;

namespace platform = ovrin::platform;

int Proceed(const char*, unsigned style, void*) { return style == ovrin::kStyleYesNo ? ovrin::kButtonYes : 1; }

class DiscoveryPtyTest : public ::testing::Test {
 protected:
  void SetUp() override { ovrin::SetMessageBoxHandler(Proceed, nullptr); }
  void TearDown() override { ovrin::SetMessageBoxHandler(nullptr, nullptr); }

  // Searches; returns the name found, or "" (and closes what was found).
  std::string Find(std::string preferred = "") {
    OvrinComm comm;
    platform::Port* found = OvrinCommAccess::FindAndOpen(comm, preferred);
    if (found == platform::NoPort()) return "";
    found_ = found;
    return preferred;
  }
  void CloseFound() {
    if (found_ != nullptr) platform::ClosePort(found_, platform::PendingOutput::kLetLeave);
    found_ = nullptr;
  }
  platform::Port* found_ = nullptr;
};

TEST_F(DiscoveryPtyTest, OnlyTheRealMeterIsAccepted) {
  SimProcess silent("--silent");
  SimProcess late("--probe-delay 700");
  SimProcess afterPause("--baud 0 --probe-reply ......................12....+1 --fragment 8 --gap 150");
  SimProcess beyond128(std::string("--baud 0 --probe-reply ") + std::string(125, 'x') + "12....+1");
  SimProcess meter;
  PortEnvironment environment(
      {"/dev/nonexistent", silent.Path(), late.Path(), afterPause.Path(), beyond128.Path(), meter.Path()});
  EXPECT_EQ(Find(), meter.Path());
  CloseFound();
}

TEST_F(DiscoveryPtyTest, FoundPortIsLeftOpenWithTheMetersLineSettings) {
  PtyMeter meter;
  PortEnvironment environment({meter.Path()});
  ASSERT_EQ(Find(), meter.Path());
  termios line{};
  ASSERT_EQ(tcgetattr(meter.MasterFd(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);
  // Still open and ours: a second search cannot have it.
  EXPECT_EQ(Find(meter.Path()), "");
  CloseFound();
}

TEST_F(DiscoveryPtyTest, StaleBytesNeverCount) {
  // The pattern sits in the queue before the probe, and the port then stays silent.
  PtyMeter stale([](const std::string&) { return std::string(); });
  stale.Send("12....+00000042\r\n");
  PortEnvironment environment({stale.Path()});
  EXPECT_EQ(Find(), "");
}

TEST_F(DiscoveryPtyTest, PortsInUseAreSkippedSilently) {
  PtyMeter first;
  PtyMeter second;
  PortEnvironment environment({first.Path(), second.Path()});
  OvrinComm holder;
  std::string held;
  ASSERT_EQ(holder.Open(held, nullptr), 1);
  ASSERT_EQ(held, first.Path());
  EXPECT_EQ(Find(), second.Path());  // another connection of this process holds the first
  CloseFound();
  holder.Close();

  // Another process holds the first port.
  const std::string command = "flock -n '" + first.Path() + "' sleep 3 & sleep 0.5";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Find(), second.Path());
  CloseFound();
}

TEST_F(DiscoveryPtyTest, ListedNamesThatAreNotPathsAreSkipped) {
  PtyMeter meter;
  PortEnvironment environment({"", "COM3", "ttyS0", meter.Path()});
  EXPECT_EQ(Find(), meter.Path());
  CloseFound();
}

}  // namespace
