// Opening a connection and the receive thread, on the scripted platform.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "connection/comm_access.h"
#include "fake_platform.h"
#include "ovrin_readings.h"

namespace {

ovrin::WindowHandle SomeWindow() { return reinterpret_cast<ovrin::WindowHandle>(0x1234); }

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::ListMeter("COM1");
  }
  void TearDown() override {
    comm_.Close();
    EXPECT_EQ(fake::Locked()->liveHandles, 0);
    fake::Reset();
  }
  int Open(ovrin::WindowHandle window = SomeWindow()) { return comm_.Open(port_, window); }

  OvrinComm comm_;
  std::string port_ = "stale text";
};

TEST_F(OpenTest, RemembersThePortThatWorked) {
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(port_, "COM1");
  EXPECT_EQ(fake::Locked()->remembered, "COM1");
  const std::string start("sm 1\r\n\0", 7);
  EXPECT_EQ(fake::Locked()->writes.back().bytes, start);
  EXPECT_EQ(fake::Locked()->threadsStarted, 1);
}

TEST_F(OpenTest, RememberedPortIsTriedFirst) {
  fake::Locked()->ports["COM7"].probeAnswer = "12....+00000042\r\n";
  fake::Locked()->hasRemembered = true;
  fake::Locked()->remembered = "COM7";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(port_, "COM7");
  EXPECT_EQ(fake::LogOf("open"), (std::vector<std::string>{"open COM7"}));
}

TEST_F(OpenTest, NewSettingIsNotRead) {
  fake::Locked()->settingsCreated = true;
  fake::Locked()->hasRemembered = true;
  fake::Locked()->remembered = "COM7";
  ASSERT_EQ(Open(), 1);
  EXPECT_TRUE(fake::LogOf("read remembered").empty());
  EXPECT_EQ(port_, "COM1");
}

TEST_F(OpenTest, SettingThatCannotBeOpenedStillLetsTheSearchRun) {
  fake::Locked()->settingsOpen = false;
  ASSERT_EQ(Open(), 1);
  EXPECT_TRUE(fake::LogOf("remember").empty());
}

TEST_F(OpenTest, NoMeterLeavesSettingAndWindowAlone) {
  fake::Locked()->ports["COM1"].probeAnswer.clear();
  fake::Locked()->hasRemembered = true;
  fake::Locked()->remembered = "COM7";
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(port_, "COM7");  // the remembered name, as discovery left it
  EXPECT_TRUE(fake::LogOf("remember").empty());
  EXPECT_EQ(OvrinCommAccess::NotifyWindow(comm_), nullptr);
  EXPECT_EQ(comm_.Close(), 0);
}

TEST_F(OpenTest, FailuresAfterTheSearchReleaseEverything) {
  // Events made by Open: probe (0), probe write (1), listen (2), idle (3).
  struct Case {
    const char* name;
    int failingEvent;
    bool threadFails;
  };
  const Case cases[] = {{"listen event", 2, false}, {"idle event", 3, false}, {"thread", -1, true}};
  for (const Case& c : cases) {
    SetUp();
    const int failing = c.failingEvent;
    fake::Locked()->eventFails = [failing](int index) { return index == failing; };
    fake::Locked()->threadFails = c.threadFails;
    EXPECT_EQ(Open(), 0) << c.name;
    EXPECT_EQ(fake::Locked()->liveHandles, 0) << c.name;
    EXPECT_EQ(OvrinCommAccess::PortHandle(comm_), ovrin::platform::NoPort()) << c.name;
    EXPECT_EQ(fake::Locked()->remembered, "COM1") << c.name;  // stored before the failure
    EXPECT_EQ(comm_.Close(), 0) << c.name;
    EXPECT_EQ(comm_.DistanceMeasure(), 0) << c.name;
  }
}

TEST_F(OpenTest, OpenOnAnOpenConnectionReconnects) {
  ASSERT_EQ(Open(), 1);
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u);
  EXPECT_EQ(fake::Locked()->threadsStarted, 2);
}

TEST_F(OpenTest, EveryLineIsDecodedAndAnnouncedInOrder) {
  fake::Locked()->ports["COM1"].startAnswer = "?\r\n";
  ASSERT_EQ(Open(), 1);
  ASSERT_TRUE(fake::AwaitPosted(1));
  EXPECT_EQ(comm_.measurement.kind, ReplyNone);
  fake::Receive("COM1", "12....+00000001\r\n12....+00000002\r\n12....+0000");
  fake::Receive("COM1", "0003\r");
  fake::Receive("COM1", "\n");
  ASSERT_TRUE(fake::AwaitPosted(4));
  comm_.Close();
  ASSERT_EQ(fake::Locked()->posted.size(), 4u);
  for (const ovrin::Notification& note : fake::Snapshot().posted) {
    EXPECT_EQ(note.message, static_cast<unsigned>(WM_MEASURE_READY));
    EXPECT_EQ(note.wParam, 1u);
    EXPECT_EQ(note.lParam, 0);
  }
  EXPECT_EQ(comm_.measurement.value1, 3);
}

TEST_F(OpenTest, ReplyLeavesTheConnectionIdle) {
  ASSERT_EQ(Open(nullptr), 1);
  EXPECT_TRUE(ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_)));
  fake::Locked()->ports["COM1"].measureAnswer = "@E252\r\n";
  ASSERT_EQ(comm_.DistanceMeasure(), 1);
  // Nothing is posted without a window: wait for the record instead.
  for (int i = 0; i < 500 && ovrin::LatestRecord(comm_).kind != ReplyError; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ovrin::LatestRecord(comm_).value1, 252);
  EXPECT_TRUE(ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(comm_)));
  EXPECT_FALSE(ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_)));
  EXPECT_TRUE(fake::Locked()->posted.empty());
}

TEST_F(OpenTest, ThreadWithoutItsEventTellsTheUserAndCloseStillWorks) {
  const std::thread::id host = std::this_thread::get_id();
  fake::Locked()->eventFails = [host](int) { return std::this_thread::get_id() != host; };
  ASSERT_EQ(Open(), 1);
  comm_.Close();  // waits for the thread, which ends after its box
  ASSERT_EQ(fake::Locked()->boxes.size(), 1u);
  EXPECT_EQ(fake::Locked()->boxes[0].first, "Can't create event object!");
  EXPECT_TRUE(fake::Locked()->posted.empty());
}

TEST_F(OpenTest, LostLinkEndsTheThreadAndTellsOnlyAHostThatAsked) {
  for (const bool asked : {false, true}) {
    fake::Locked()->ports["COM1"].waitResults.clear();
    fake::Locked()->posted.clear();
    ovrin::NotifyLinkLost(comm_, asked);
    ASSERT_EQ(Open(), 1);
    fake::Receive("COM1", "12....+000");  // mid-line
    fake::Receive("COM1", "?\r\n");
    ASSERT_TRUE(fake::AwaitPosted(1));
    fake::LoseLink("COM1");
    ovrin::Reading reading{};
    while (ovrin::WaitReading(comm_, &reading, 5000) == ovrin::ReadingWait::kTaken) {
    }
    EXPECT_EQ(comm_.Close(), 1);
    const std::vector<ovrin::Notification> posted = fake::Snapshot().posted;
    ASSERT_EQ(posted.size(), asked ? 2u : 1u) << "a classic host may use WM_USER + 101 itself";
    EXPECT_EQ(posted[0].message, static_cast<unsigned>(WM_MEASURE_READY));
    if (asked) {
      EXPECT_EQ(posted[1].message, static_cast<unsigned>(WM_LINK_LOST));
      EXPECT_EQ(posted[1].wParam, 0u);
      EXPECT_EQ(posted[1].lParam, 0);
    }
  }
}

TEST_F(OpenTest, WaitFailingForGoodIsALostLink) {
  ovrin::NotifyLinkLost(comm_, true);
  ASSERT_EQ(Open(), 1);
  fake::Receive("COM1", "?\r\n");
  ASSERT_TRUE(fake::AwaitPosted(1));
  fake::Locked()->ports["COM1"].waitResults = {ovrin::platform::WaitResult::kFailed};
  fake::Receive("COM1", "x");  // wakes a wait already pending; the next one fails
  ASSERT_TRUE(fake::AwaitPosted(2));
  EXPECT_EQ(fake::Locked()->posted[0].message, static_cast<unsigned>(WM_MEASURE_READY));
  EXPECT_EQ(fake::Locked()->posted[1].message, static_cast<unsigned>(WM_LINK_LOST));
}

TEST_F(OpenTest, CloseIsNoLostLink) {
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(comm_.Close(), 1);
  EXPECT_TRUE(fake::Locked()->posted.empty());
}

TEST_F(OpenTest, ReadsThatDeliverNothingDoNotSpin) {
  ASSERT_EQ(Open(), 1);
  fake::Locked()->ports["COM1"].waitResults.assign(100, ovrin::platform::WaitResult::kReady);
  fake::Receive("COM1", "?\r\n");
  ASSERT_TRUE(fake::AwaitPosted(1));
  // Past the first few empty passes the thread pauses between them.
  for (int i = 0; i < 500; ++i) {
    if (fake::Locked()->ports["COM1"].waitResults.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GT(fake::Locked()->slept, 0);
  EXPECT_EQ(comm_.Close(), 1);
}

}  // namespace
