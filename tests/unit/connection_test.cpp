// The connection object and its commands, on the scripted platform.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "connection/comm_access.h"
#include "connection/connection_state.h"
#include "fake_platform.h"
#include "ovrin_readings.h"

namespace {

using ovrin::platform::WriteResult;

const std::string kProbe("N02N\r\n\0", 7);
const std::string kStart("sm 1\r\n\0", 7);

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { fake::Reset(); }

  // A world with one meter on COM1; opens `comm` on it.
  void OpenOnMeter(OvrinComm& comm, ovrin::WindowHandle window = nullptr) {
    fake::ListMeter("COM1");
    std::string port;
    ASSERT_EQ(comm.Open(port, window), 1);
    ASSERT_EQ(port, "COM1");
  }
  static bool Listening(const OvrinComm& comm) {
    return ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm));
  }
  static bool Idle(const OvrinComm& comm) { return ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(comm)); }
};

ovrin::WindowHandle SomeWindow() { return reinterpret_cast<ovrin::WindowHandle>(0x1234); }

TEST_F(ConnectionTest, NewConnectionHoldsNothing) {
  {
    OvrinComm comm;
    EXPECT_EQ(OvrinCommAccess::PortHandle(comm), ovrin::platform::NoPort());
    EXPECT_EQ(comm.Close(), 0);
    comm.SetListen(1);
    comm.SetListen(0);
    EXPECT_EQ(comm.SendCommand(1, 2, 3), 1);
  }
  EXPECT_EQ(fake::Locked()->liveHandles, 0);
  EXPECT_EQ(fake::Locked()->eventsCreated, 0);
  EXPECT_TRUE(fake::Locked()->writes.empty());
}

TEST_F(ConnectionTest, CloseReleasesEverythingOnceAndTheDestructorCloses) {
  {
    OvrinComm comm;
    OpenOnMeter(comm);
    EXPECT_GT(fake::Locked()->liveHandles, 0);
    EXPECT_EQ(comm.Close(), 1);
    EXPECT_EQ(fake::Locked()->liveHandles, 0);
    EXPECT_EQ(OvrinCommAccess::PortHandle(comm), ovrin::platform::NoPort());
    EXPECT_EQ(OvrinCommAccess::ListenEvent(comm), nullptr);
    EXPECT_EQ(comm.Close(), 0);
    OpenOnMeter(comm);
  }
  EXPECT_EQ(fake::Locked()->liveHandles, 0);  // the destructor closed the second open
  EXPECT_EQ(fake::LogOf("close COM1").size(), 2u);
}

TEST_F(ConnectionTest, SetListenSwitchesTheTwoEvents) {
  OvrinComm comm;
  OpenOnMeter(comm);
  EXPECT_TRUE(Listening(comm));
  EXPECT_FALSE(Idle(comm));
  for (int listen : {0, 5, 0, 1, -1}) {
    comm.SetListen(listen);
    EXPECT_EQ(Listening(comm), listen != 0) << listen;
    EXPECT_EQ(Idle(comm), listen == 0) << listen;
  }
}

TEST_F(ConnectionTest, CopiesNeverShareTheConnection) {
  OvrinComm open;
  OpenOnMeter(open, SomeWindow());
  open.measurement.value1 = 77;

  OvrinComm copy(open);
  EXPECT_EQ(copy.Close(), 0);  // not open: nothing of the original is released
  EXPECT_EQ(copy.measurement.value1, 77);
  EXPECT_EQ(OvrinCommAccess::NotifyWindow(copy), SomeWindow());
  EXPECT_EQ(OvrinCommAccess::PortHandle(copy), ovrin::platform::NoPort());

  OvrinComm target;
  target = open;
  EXPECT_EQ(target.Close(), 0);
  EXPECT_EQ(target.measurement.value1, 77);

  // Assigning onto an open connection closes it first.
  OvrinComm plain;
  plain.measurement.value1 = 5;
  open = plain;
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u);
  EXPECT_EQ(open.Close(), 0);
  EXPECT_EQ(open.measurement.value1, 5);
  EXPECT_EQ(fake::Locked()->liveHandles, 0);

  OvrinComm self;
  OpenOnMeter(self);
  const OvrinComm& alias = self;
  self = alias;
  EXPECT_EQ(self.Close(), 1);
}

// As MFC's CArray grows: the bytes copied to a new block, the old block
// freed without a destructor and given to something else.
TEST_F(ConnectionTest, AnOpenObjectMovedByteForByteIsTakenOverByItsCopy) {
  alignas(OvrinComm) unsigned char oldPlace[sizeof(OvrinComm)];
  alignas(OvrinComm) unsigned char newPlace[sizeof(OvrinComm)];
  auto* original = new (oldPlace) OvrinComm;
  OpenOnMeter(*original);
  std::memcpy(newPlace, oldPlace, sizeof oldPlace);
  std::memset(oldPlace, 0xDD, sizeof oldPlace);
  auto* moved = reinterpret_cast<OvrinComm*>(newPlace);
  // The first call on the copy takes the run over: the next record is its own.
  ovrin::Reading reading;
  EXPECT_FALSE(ovrin::NextReading(*moved, &reading));  // "sm 1" got no answer yet
  fake::Receive("COM1", "12....+00001234\r\n");
  ASSERT_EQ(ovrin::WaitReading(*moved, &reading, 5000), ovrin::ReadingWait::kTaken);
  EXPECT_EQ(moved->measurement.value1, 1234);
  EXPECT_EQ(moved->DistanceMeasure(), 1);
  EXPECT_EQ(moved->Close(), 1);
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u);
  EXPECT_EQ(fake::Locked()->liveHandles, 0);
  moved->~OvrinComm();
  // The meter is free for the next object.
  OvrinComm next;
  OpenOnMeter(next);
  EXPECT_EQ(next.Close(), 1);
}

// The C interface's close, while a handler waits for the closing thread (as
// a form's Invoke does): the port goes back at once and the handler finishes
// later. The same connection opened and closed again meanwhile is closed as
// usual: its new thread, in no handler, is not given up.
TEST_F(ConnectionTest, ACloseThatDoesNotWaitGivesThePortBackWhileAHandlerRuns) {
  struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
    std::atomic<int> calls{0};
  } gate;
  OvrinComm comm;
  ovrin::SetReadingHandler(
      comm,
      [](const ovrin::Reading&, void* context) {
        auto* held = static_cast<Gate*>(context);
        if (++held->calls > 1) return;  // the first alone is held
        held->entered = true;
        while (!held->released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      &gate);
  OpenOnMeter(comm);
  fake::Receive("COM1", "12....+00000001\r\n");
  for (int waited = 0; waited < 5000 && !gate.entered; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(gate.entered);
  EXPECT_EQ(OvrinCommAccess::Close(comm, false), 1);
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u);
  std::string port;
  ASSERT_EQ(comm.Open(port, nullptr), 1);
  // The new run's handler comes and goes; a destroy still waits for the
  // handler of the run given up, whose context it would free.
  fake::Receive("COM1", "12....+00000002\r\n");
  for (int waited = 0; waited < 5000 && gate.calls < 2; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(gate.calls, 2);
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(comm);
  std::atomic<bool> waitEnded{false};
  std::thread destroying([&] {
    state->WaitForHandler();
    waitEnded = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(waitEnded) << "the wait ended while the first handler still ran";
  EXPECT_EQ(OvrinCommAccess::Close(comm, false), 1);
  EXPECT_EQ(fake::LogOf("close COM1").size(), 2u);
  gate.released = true;
  destroying.join();
  for (int waited = 0; waited < 5000 && fake::Locked()->liveHandles != 0; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(fake::Locked()->liveHandles, 0);
}

TEST_F(ConnectionTest, DistanceMeasureWritesGWithCrLf) {
  OvrinComm comm;
  OpenOnMeter(comm);
  fake::Locked()->writes.clear();
  EXPECT_EQ(comm.DistanceMeasure(), 1);
  ASSERT_EQ(fake::Locked()->writes.size(), 1u);
  EXPECT_EQ(fake::Locked()->writes[0].bytes, "g\r\n");
  EXPECT_LT(fake::Locked()->writes[0].timeoutMs, 0);  // to completion
  EXPECT_TRUE(fake::Locked()->boxes.empty());
}

TEST_F(ConnectionTest, DistanceMeasureFailures) {
  struct Case {
    const char* name;
    bool opened;
    bool eventFails;
    WriteResult write;
    int expected;
    const char* box;
  };
  const Case cases[] = {
      {"never opened", false, false, WriteResult::kDoneAtOnce, 0, "Can't Send Command"},
      {"no event, no port", false, true, WriteResult::kDoneAtOnce, -1, "Can't create event object!"},
      {"no event", true, true, WriteResult::kDoneAtOnce, -1, "Can't create event object!"},
      {"write fails at once", true, false, WriteResult::kFailed, 0, nullptr},
      {"write never completes", true, false, WriteResult::kTimedOut, 0, nullptr},
      {"write completes later", true, false, WriteResult::kDoneAfterWait, 1, nullptr},
  };
  for (const Case& c : cases) {
    fake::Reset();
    OvrinComm comm;
    if (c.opened) OpenOnMeter(comm);
    fake::Locked()->ports["COM1"].writeResult = c.write;
    fake::Locked()->boxes.clear();
    // Only the host's thread is refused events, not the receive thread.
    const std::thread::id host = std::this_thread::get_id();
    if (c.eventFails) fake::Locked()->eventFails = [host](int) { return std::this_thread::get_id() == host; };
    const std::size_t writesBefore = fake::Locked()->writes.size();
    EXPECT_EQ(comm.DistanceMeasure(), c.expected) << c.name;
    if (c.box != nullptr) {
      ASSERT_EQ(fake::Locked()->boxes.size(), 1u) << c.name;
      EXPECT_EQ(fake::Locked()->boxes[0].first, c.box) << c.name;
      EXPECT_EQ(fake::Locked()->boxes[0].second, 0u) << c.name;
      EXPECT_EQ(fake::Locked()->writes.size(), writesBefore) << c.name;
    } else {
      EXPECT_TRUE(fake::Locked()->boxes.empty()) << c.name;
    }
    comm.Close();
    EXPECT_EQ(fake::Locked()->liveHandles, 0) << c.name;
  }
}

TEST_F(ConnectionTest, DistanceMeasureAfterCloseRefuses) {
  OvrinComm comm;
  OpenOnMeter(comm);
  comm.Close();
  EXPECT_EQ(comm.DistanceMeasure(), 0);
  ASSERT_EQ(fake::Locked()->boxes.size(), 1u);
  EXPECT_EQ(fake::Locked()->boxes[0].first, "Can't Send Command");
}

TEST_F(ConnectionTest, MessageBoxesGoThroughTheHostsHandler) {
  std::vector<std::pair<std::string, unsigned>> seen;
  ovrin::SetMessageBoxHandler(
      [](const char* text, unsigned style, void* context) {
        static_cast<std::vector<std::pair<std::string, unsigned>>*>(context)->emplace_back(text, style);
        return 1;
      },
      &seen);
  OvrinComm comm;
  EXPECT_EQ(comm.DistanceMeasure(), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, "Can't Send Command");
  EXPECT_TRUE(fake::Locked()->boxes.empty());  // the default was not used
  ovrin::SetMessageBoxHandler(nullptr, nullptr);
  EXPECT_EQ(comm.DistanceMeasure(), 0);
  EXPECT_EQ(fake::Locked()->boxes.size(), 1u);
}

class SendMsgTest : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    fake::Locked()->ports["COM9"] = {};
    port_ = ovrin::platform::OpenPort("COM9", nullptr);
  }
  void TearDown() override {
    ovrin::platform::ClosePort(port_, ovrin::platform::PendingOutput::kLetLeave);
    EXPECT_EQ(fake::Locked()->liveHandles, 0);  // the write's event was closed
    ConnectionTest::TearDown();
  }
  int Send(const std::string& text) { return OvrinCommAccess::SendMsg(comm_, port_, text); }

  OvrinComm comm_;
  ovrin::platform::Port* port_ = nullptr;
};

TEST_F(SendMsgTest, FramesTheTextWithCrLfNul) {
  const std::string longest(125, 'a');
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(Send("N02N"), 7);
  EXPECT_EQ(Send("sm 1"), 7);
  EXPECT_EQ(Send(""), 3);
  EXPECT_EQ(Send(longest), 128);
  EXPECT_EQ(Send(withNul), 6);
  ASSERT_EQ(fake::Locked()->writes.size(), 5u);
  EXPECT_EQ(fake::Locked()->writes[0].bytes, kProbe);
  EXPECT_EQ(fake::Locked()->writes[1].bytes, kStart);
  EXPECT_EQ(fake::Locked()->writes[2].bytes, std::string("\r\n\0", 3));
  EXPECT_EQ(fake::Locked()->writes[3].bytes, longest + std::string("\r\n\0", 3));
  EXPECT_EQ(fake::Locked()->writes[4].bytes, withNul + std::string("\r\n\0", 3));
  for (const fake::Write& write : fake::Snapshot().writes) EXPECT_EQ(write.timeoutMs, 100);
}

TEST_F(SendMsgTest, RefusesWhatItCannotSend) {
  EXPECT_EQ(Send(std::string(126, 'a')), 0);
  fake::Locked()->eventFails = [](int) { return true; };
  EXPECT_EQ(Send("N02N"), 0);
  EXPECT_TRUE(fake::Locked()->writes.empty());
  EXPECT_TRUE(fake::Locked()->boxes.empty());
}

TEST_F(SendMsgTest, ResultFollowsTheWrite) {
  const std::pair<WriteResult, int> cases[] = {{WriteResult::kDoneAtOnce, 7},
                                               {WriteResult::kDoneAfterWait, 1},
                                               {WriteResult::kFailed, 0},
                                               {WriteResult::kTimedOut, 0}};
  for (const auto& c : cases) {
    fake::Locked()->ports["COM9"].writeResult = c.first;
    EXPECT_EQ(Send("N02N"), c.second);
  }
}

}  // namespace
