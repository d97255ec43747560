// A whole connection on a real pseudo-terminal: Open, replies, notifications,
// the remembered port, Close, and a meter that goes away.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "connection/comm_access.h"
#include "ovrin_readings.h"
#include "platform/platform.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;
using Clock = std::chrono::steady_clock;

std::string Silent(const std::string&) { return ""; }

// A meter that answers the probe only: every reply line comes from the test.
std::string ProbeOnly(const std::string& command) { return command == "N02N" ? "12....+00000042\r\n" : ""; }

class EndToEndTest : public ::testing::Test {
 protected:
  // Opens on `meter` (listed alone); the start-up command draws no reply.
  void OpenOn(PtyMeter& meter, PortEnvironment& environment, ovrin::WindowHandle window) {
    environment.SetPorts({meter.Path()});
    std::string port;
    ASSERT_EQ(comm_.Open(port, window), 1);
    ASSERT_EQ(port, meter.Path());
    ASSERT_TRUE(meter.AwaitReceived(std::string("sm 1\r\n\0", 7)));
  }
  // The next notification, which must come within 5 s.
  ovrin::Notification Next() {
    ovrin::Notification note{};
    EXPECT_TRUE(queue_.Wait(note, 5000)) << "no notification";
    return note;
  }
  // Decoded value1 of every reply line in the next `count` notifications.
  std::vector<int> NextValues(int count) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) {
      const ovrin::Notification note = Next();
      EXPECT_EQ(note.message, static_cast<unsigned>(WM_MEASURE_READY));
      values.push_back(Latest().value1);
    }
    return values;
  }
  // The record as a host takes it while lines may still arrive.
  MeasureRecord Latest() const { return ovrin::LatestRecord(comm_); }
  bool NothingMore(int ms = 300) {
    ovrin::Notification note{};
    return !queue_.Wait(note, ms);
  }

  ovrin::NotifyQueue queue_;
  OvrinComm comm_;
};

TEST_F(EndToEndTest, MeasurementCycle) {
  // The start-up answer comes late enough to see the connection listening first.
  PtyMeter meter([](const std::string& command) {
    if (command == "sm 1") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return PtyMeter::MeterAnswers(command);
  });
  PortEnvironment environment({});
  OpenOn(meter, environment, &queue_);
  EXPECT_TRUE(ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_)));
  // The answer to the start-up command.
  ovrin::Notification note = Next();
  EXPECT_EQ(note.message, static_cast<unsigned>(WM_MEASURE_READY));
  EXPECT_EQ(note.wParam, 1u);
  EXPECT_EQ(note.lParam, 0);
  EXPECT_EQ(Latest().kind, ReplyNone);

  ASSERT_EQ(comm_.DistanceMeasure(), 1);
  note = Next();
  EXPECT_EQ(note.message, static_cast<unsigned>(WM_MEASURE_READY));
  EXPECT_EQ(Latest().kind, Reply31);
  EXPECT_EQ(Latest().auxDigit, 0);
  EXPECT_EQ(Latest().value1, 12345);
  EXPECT_TRUE(ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(comm_)));
  EXPECT_FALSE(ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_)));
  EXPECT_EQ(comm_.Close(), 1);
  EXPECT_TRUE(NothingMore());
}

// A handler that starts listening for the next line keeps it so: the
// connection went idle before the handler ran, not after it.
TEST_F(EndToEndTest, AHandlerThatListensAgainStaysListening) {
  PtyMeter meter(PtyMeter::MeterAnswers);
  PortEnvironment environment({});
  static std::atomic<int> idleInHandler{-1};
  ovrin::SetReadingHandler(
      comm_,
      [](const ovrin::Reading& reading, void* context) {
        if (reading.record.kind != Reply31) return;
        auto* comm = static_cast<OvrinComm*>(context);
        idleInHandler = ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(*comm)) ? 1 : 0;
        comm->SetListen(1);
      },
      &comm_);
  OpenOn(meter, environment, &queue_);
  Next();  // the start-up answer
  ASSERT_EQ(comm_.DistanceMeasure(), 1);
  EXPECT_EQ(Next().message, static_cast<unsigned>(WM_MEASURE_READY));  // posted once the handler returned
  EXPECT_EQ(idleInHandler, 1) << "the handler ran before the connection went idle";
  EXPECT_TRUE(ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_)));
  EXPECT_FALSE(ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(comm_)));
  EXPECT_EQ(comm_.Close(), 1);
}

// The record holds the latest line: where several lines arrive at once, the
// notifications all come and the record shows the last of them.
TEST_F(EndToEndTest, EveryLineIsAnnouncedWhateverHowItArrives) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, &queue_);
  struct Case {
    const char* name;
    std::vector<std::string> writes;  // 100 ms apart
    int lines;
    int lastValue;
  };
  const Case cases[] = {
      {"two lines in one write", {"12....+00000001\r\n12....+00000002\r\n"}, 2, 2},
      {"CR and LF apart", {"12....+00000003\r", "\n12....+0000", "0004\r\n"}, 2, 4},
      {"NUL before the CR LF", {std::string("12....+5\0\r\n12....+6\r\n", 22)}, 2, 6},
      {"over-long line dropped", {std::string(300, '7') + "\r\n12....+8\r\n"}, 1, 8},
      {"lone CR is no line end", {"12....+9\r", "x\r\n"}, 1, 9},
      {"empty line", {"\r\n"}, 1, 0},
  };
  for (const Case& c : cases) {
    for (const std::string& bytes : c.writes) {
      meter.Send(bytes);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    NextValues(c.lines - 1);
    EXPECT_EQ(NextValues(1), (std::vector<int>{c.lastValue})) << c.name;
    EXPECT_TRUE(NothingMore(100)) << c.name;
  }
}

TEST_F(EndToEndTest, FloodOfLinesArrivesCompleteAndInOrder) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, &queue_);
  std::string burst;
  for (int i = 1; i <= 2000; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "12....+%08d\r\n", i);
    burst += line;
    if (burst.size() > 1000 || i == 2000) {
      meter.Send(burst);
      burst.clear();
    }
  }
  for (int i = 1; i <= 2000; ++i) {
    ASSERT_EQ(Next().message, static_cast<unsigned>(WM_MEASURE_READY)) << i;
  }
  EXPECT_EQ(Latest().value1, 2000);
}

// Every line becomes one reading, whatever the host is doing: here it drains
// the queue while the lines are still being written.
TEST_F(EndToEndTest, EveryLineIsOneReadingInOrder) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, nullptr);
  std::string burst;
  for (int i = 1; i <= 1000; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "12....+%08d\r\n", i);
    burst += line;
  }
  std::uint64_t nextSequence = 1;
  for (const std::size_t piece : {burst.size(), std::size_t{1}}) {
    std::thread writer([&] {
      for (std::size_t at = 0; at < burst.size(); at += piece) meter.Send(burst.substr(at, piece));
    });
    ovrin::Reading reading{};
    int value = 1;
    while (value <= 1000 && ovrin::WaitReading(comm_, &reading, 5000) == ovrin::ReadingWait::kTaken) {
      ASSERT_EQ(reading.sequence, nextSequence++);
      ASSERT_EQ(reading.record.value1, value++) << "pieces of " << piece;
    }
    writer.join();
    EXPECT_EQ(value, 1001) << "pieces of " << piece;
    EXPECT_EQ(ovrin::WaitReading(comm_, &reading, 200), ovrin::ReadingWait::kTimedOut);
  }
  EXPECT_EQ(ovrin::DroppedReadings(comm_), 0u);
}

TEST_F(EndToEndTest, ListeningStateFromTheHostWhileLinesArrive) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, &queue_);
  for (int i = 0; i < 200; ++i) {
    meter.Send("?\r\n");
    comm_.SetListen(i % 2);
  }
  for (int i = 0; i < 200; ++i) Next();
  comm_.SetListen(1);
  const bool listening = ovrin::platform::IsSignalled(OvrinCommAccess::ListenEvent(comm_));
  const bool idle = ovrin::platform::IsSignalled(OvrinCommAccess::IdleEvent(comm_));
  EXPECT_TRUE(listening);
  EXPECT_FALSE(idle);
}

TEST_F(EndToEndTest, WithoutAWindowLinesAreStillDecoded) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, nullptr);
  meter.Send("@E252\r\n");
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Latest().kind != ReplyError && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Latest().value1, 252);
}

TEST_F(EndToEndTest, CloseWhileALineIsArrivingAndOpenAgain) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, &queue_);
  meter.Send("12....+0000");
  const auto start = Clock::now();
  EXPECT_EQ(comm_.Close(), 1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  OpenOn(meter, environment, &queue_);  // a partial line is not carried over
  meter.Send("12....+00000042\r\n");
  EXPECT_EQ(NextValues(1), (std::vector<int>{42}));
}

// The meter reads nothing while more than a terminal takes in is written, so
// the last commands are still on their way when Close releases the port.
TEST_F(EndToEndTest, CloseKeepsTheLastCommand) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({});
  OpenOn(meter, environment, nullptr);
  meter.PauseReading();
  std::string sent;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(comm_.DistanceMeasure(), 1);
    sent += "g\r\n";
  }
  EXPECT_EQ(comm_.Close(), 1);
  meter.ResumeReading();
  EXPECT_TRUE(meter.AwaitReceived(sent, 2000)) << meter.Received().size() << " bytes arrived";
}

TEST_F(EndToEndTest, RemembersThePortAndTriesItFirstNextTime) {
  PtyMeter silent(Silent);
  PtyMeter meter;
  PortEnvironment environment({silent.Path(), meter.Path()});
  std::string port;
  ASSERT_EQ(comm_.Open(port, nullptr), 1);
  EXPECT_EQ(port, meter.Path());
  EXPECT_EQ(testing_support::ReadFile(environment.SettingsFile()), "COMPort=" + meter.Path() + "\n");
  comm_.Close();
  const std::size_t probesOfSilent = silent.Received().size();
  ASSERT_EQ(comm_.Open(port, nullptr), 1);
  EXPECT_EQ(port, meter.Path());
  EXPECT_EQ(silent.Received().size(), probesOfSilent);  // not probed again
}

TEST_F(EndToEndTest, RememberedValuesThatCannotBeUsed) {
  PtyMeter meter;
  PortEnvironment environment({meter.Path()});
  mkdir((environment.ConfigHome() + "/Quenmark").c_str(), 0700);
  const std::string cases[] = {
      "other=1\n",                                        // no value: kept as it is
      "COMPort=" + std::string(80, 'x') + "\nother=2\n",  // too long to be a port
      "COMPort=/dev/nonexistent\r\n",                     // a port that is gone
      std::string("\0\xff\n", 3),                         // not text at all
  };
  for (const std::string& content : cases) {
    testing_support::WriteFile(environment.SettingsFile(), content);
    std::string port;
    ASSERT_EQ(comm_.Open(port, nullptr), 1);
    EXPECT_EQ(port, meter.Path());
    const std::string written = testing_support::ReadFile(environment.SettingsFile());
    EXPECT_NE(written.find("COMPort=" + meter.Path() + "\n"), std::string::npos) << written;
    const bool hadOther = content.find("other=") != std::string::npos;
    EXPECT_EQ(written.find("other=") != std::string::npos, hadOther) << written;
    comm_.Close();
  }
}

TEST_F(EndToEndTest, SettingsFileInTheWayDoesNotStopOpen) {
  PtyMeter meter;
  PortEnvironment environment({meter.Path()});
  mkdir((environment.ConfigHome() + "/Quenmark").c_str(), 0700);
  mkdir(environment.SettingsFile().c_str(), 0700);  // a directory where the file belongs
  std::string port;
  EXPECT_EQ(comm_.Open(port, nullptr), 1);
  comm_.Close();
  rmdir(environment.SettingsFile().c_str());
  // A symbolic link is replaced, never written through.
  const std::string target = environment.ConfigHome() + "/elsewhere";
  testing_support::WriteFile(target, "untouched\n");
  ASSERT_EQ(symlink(target.c_str(), environment.SettingsFile().c_str()), 0);
  EXPECT_EQ(comm_.Open(port, nullptr), 1);
  comm_.Close();
  EXPECT_EQ(testing_support::ReadFile(target), "untouched\n");
}

TEST_F(EndToEndTest, LostLinkMidLineStopsTheThreadAndTellsTheHost) {
  PortEnvironment environment({});
  auto meter = std::make_unique<PtyMeter>(ProbeOnly);
  ovrin::NotifyLinkLost(comm_, true);
  OpenOn(*meter, environment, &queue_);
  meter->Send("12....+000");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  meter->Hangup();
  const ovrin::Notification note = Next();
  EXPECT_EQ(note.message, static_cast<unsigned>(WM_LINK_LOST));
  // The thread has ended: no CPU is spent while the connection waits for Close.
  const std::clock_t before = std::clock();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 5);
  const auto start = Clock::now();
  EXPECT_EQ(comm_.Close(), 1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(NothingMore());
}

}  // namespace
