// Faults on real pseudo-terminals: meters that vanish, flood, send garbage,
// stop answering; Close racing the receive thread; settings files in the way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <random>
#include <thread>

#include "ovrin_readings.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;
using Clock = std::chrono::steady_clock;

std::string ProbeOnly(const std::string& command) { return command == "N02N" ? "12....+00000042\r\n" : ""; }

class FaultTest : public ::testing::Test {
 protected:
  void Open(PtyMeter& meter) {
    environment_.SetPorts({meter.Path()});
    std::string port;
    ASSERT_EQ(comm_.Open(port, &queue_), 1);
  }
  // Every notification that comes within ms.
  std::vector<unsigned> Drain(int ms) {
    std::vector<unsigned> messages;
    ovrin::Notification note{};
    while (queue_.Wait(note, ms)) messages.push_back(note.message);
    return messages;
  }
  static double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
  // Close must not wait for anything once the thread has ended or been woken.
  void ExpectPromptClose(int expected = 1) {
    const auto start = Clock::now();
    EXPECT_EQ(comm_.Close(), expected);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250));
  }

  PortEnvironment environment_{{}};
  ovrin::NotifyQueue queue_;
  OvrinComm comm_;
};

TEST_F(FaultTest, MeterVanishingWhileIdleCostsNothingAfterwards) {
  auto meter = std::make_unique<PtyMeter>(ProbeOnly);
  ovrin::NotifyLinkLost(comm_, true);
  Open(*meter);
  meter->Hangup();
  EXPECT_EQ(Drain(1000), (std::vector<unsigned>{WM_LINK_LOST}));
  const double before = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_LT(CpuSeconds() - before, 0.25);
  ExpectPromptClose();
}

TEST_F(FaultTest, GarbageNulsLoneCrsAndHugeLinesLeaveTheNextLineIntact) {
  PtyMeter meter(ProbeOnly);
  Open(meter);
  std::mt19937 random(42);
  std::string garbage(100000, '\0');
  for (char& byte : garbage) byte = static_cast<char>(random() % 256);
  meter.Send(garbage);
  meter.Send(std::string(10000, 'x') + "\r\r\r\n\0\r" + std::string(10000, '\0'));
  meter.Send("\r\n12....+00000777\r\n");
  std::vector<unsigned> messages = Drain(1000);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(ovrin::LatestRecord(comm_).value1, 777);
  for (unsigned message : messages) EXPECT_EQ(message, static_cast<unsigned>(WM_MEASURE_READY));
  ExpectPromptClose();
}

TEST_F(FaultTest, MeterThatAnswersOnlyTheProbe) {
  PtyMeter meter(ProbeOnly);
  Open(meter);
  EXPECT_EQ(comm_.DistanceMeasure(), 1);
  EXPECT_TRUE(Drain(500).empty());
  ExpectPromptClose();
}

TEST_F(FaultTest, MeasuringWhileLinesStreamIn) {
  PtyMeter meter(ProbeOnly);
  Open(meter);
  std::thread stream([&meter] {
    for (int i = 0; i < 300; ++i) meter.Send("12....+00000001\r\n");
  });
  for (int i = 0; i < 100; ++i) EXPECT_EQ(comm_.DistanceMeasure(), 1);
  stream.join();
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "g\r\n";
  EXPECT_TRUE(meter.AwaitReceived(expected));
  EXPECT_EQ(Drain(500).size(), 300u);
  ExpectPromptClose();
}

TEST_F(FaultTest, CloseRacingTheCompletionOfALine) {
  PtyMeter meter(ProbeOnly);
  for (int i = 0; i < 30; ++i) {
    Open(meter);
    meter.Send("12....+00000001\r\n12....+0000");
    std::this_thread::sleep_for(std::chrono::microseconds(100 * i));
    ExpectPromptClose();
  }
  Drain(100);
}

TEST_F(FaultTest, SettingsThatCannotBeUsed) {
  PtyMeter meter;
  const std::string quenmark = environment_.ConfigHome() + "/Quenmark";
  struct Case {
    const char* name;
    std::function<void()> arrange;
  };
  const std::string settings = environment_.SettingsFile();
  const std::string huge = "COMPort=/dev/elsewhere\n" + std::string(100000, '#');
  const Case cases[] = {
      {"parent is a file", [&] { testing_support::WriteFile(quenmark, "not a directory"); }},
      {"huge file",
       [&] {
         mkdir(quenmark.c_str(), 0700);
         testing_support::WriteFile(settings, huge);
       }},
  };
  for (const Case& c : cases) {
    std::system(("rm -rf '" + quenmark + "'").c_str());
    c.arrange();
    Open(meter);
    comm_.Close();
    if (std::string(c.name) == "huge file") {
      EXPECT_EQ(testing_support::ReadFile(settings), huge) << "a file too big to read is left alone";
    }
  }
}

}  // namespace
