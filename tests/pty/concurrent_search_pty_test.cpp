// The concurrent search among real pseudo-terminals: silent ports cost
// nothing, only the meter's answer is accepted, the remembered meter wins.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "ovrin.h"
#include "ovrin_comm.h"
#include "ovrin_diagnostics.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;
using testing_support::SimProcess;
using Clock = std::chrono::steady_clock;

std::string Silent(const std::string&) { return ""; }

std::map<std::string, ovrin::PortOutcome> gOutcomes;
void Collect(const ovrin::Trace& trace, void*) {
  if (trace.kind == ovrin::TraceKind::kCandidate && trace.outcome != ovrin::PortOutcome::kOpened) {
    gOutcomes[trace.port] = trace.outcome;
  }
}

class ConcurrentSearchPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gOutcomes.clear();
    ovrin::SetTraceHandler(Collect, nullptr);
  }
  void TearDown() override { ovrin::SetTraceHandler(nullptr, nullptr); }

  // Opens through the C interface, as every binding does; the port, or "".
  static std::string OpenC(double* ms = nullptr) {
    OvrinConnection* connection = ovrin_create();
    char port[256] = "";
    const auto start = Clock::now();
    const int opened = ovrin_open(connection, port, sizeof port, nullptr);
    if (ms != nullptr) *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ovrin_destroy(connection);
    return opened == 1 ? port : "";
  }
  static std::vector<std::unique_ptr<PtyMeter>> SilentPorts(int count, std::vector<std::string>* paths) {
    std::vector<std::unique_ptr<PtyMeter>> ports;
    for (int i = 0; i < count; ++i) {
      ports.push_back(std::make_unique<PtyMeter>(Silent));
      paths->push_back(ports.back()->Path());
    }
    return ports;
  }
};

TEST_F(ConcurrentSearchPtyTest, SixteenSilentPortsCostNothing) {
  PtyMeter meter;
  PortEnvironment environment({meter.Path()});
  double aloneMs = 0;
  ASSERT_EQ(OpenC(&aloneMs), meter.Path());
  std::vector<std::string> paths;
  const auto silent = SilentPorts(16, &paths);
  paths.push_back(meter.Path());
  environment.SetPorts(paths);
  double manyMs = 0;
  ASSERT_EQ(OpenC(&manyMs), meter.Path());
  // One by one, sixteen silent ports cost 8 s; here the meter alone sets the
  // time (the bound is generous for a loaded machine, and far below 8 s).
  EXPECT_LT(manyMs, aloneMs + 2000) << "alone " << aloneMs << " ms";
  // A silent port was probed but not waited for; on a loaded machine it may still have been opening.
  const auto silentOutcome = gOutcomes[paths.front()];
  EXPECT_TRUE(silentOutcome == ovrin::PortOutcome::kNotNeeded || silentOutcome == ovrin::PortOutcome::kGivenUp)
      << static_cast<int>(silentOutcome);
}

TEST_F(ConcurrentSearchPtyTest, OnlyTheMetersAnswerIsAccepted) {
  SimProcess late("--probe-delay 700");
  SimProcess beyond128(std::string("--baud 0 --probe-reply ") + std::string(125, 'x') + "12....+1");
  PtyMeter other([](const std::string&) { return std::string("ERR\r\n"); });
  SimProcess afterPause("--baud 0 --probe-reply ......................12....+1 --fragment 8 --gap 150");
  PortEnvironment environment({"/dev/nonexistent", late.Path(), beyond128.Path(), other.Path()});
  EXPECT_EQ(OpenC(), "");
  EXPECT_EQ(gOutcomes[beyond128.Path()], ovrin::PortOutcome::kWrongAnswer);
  EXPECT_EQ(gOutcomes[other.Path()], ovrin::PortOutcome::kWrongAnswer);
  EXPECT_EQ(gOutcomes["/dev/nonexistent"], ovrin::PortOutcome::kNoSuchDevice);
  EXPECT_EQ(gOutcomes[late.Path()], ovrin::PortOutcome::kNoAnswer);
  // No fixed pause: a pattern that comes in pieces counts once it is whole.
  environment.SetPorts({other.Path(), afterPause.Path()});
  EXPECT_EQ(OpenC(), afterPause.Path());
}

TEST_F(ConcurrentSearchPtyTest, TheRememberedMeterWinsAmongManyThoughAnotherAnswersFirst) {
  PtyMeter quick;
  SimProcess remembered("--probe-delay 200");
  std::vector<std::string> paths{quick.Path()};
  const auto silent = SilentPorts(8, &paths);
  paths.push_back(remembered.Path());
  PortEnvironment environment(paths);
  EXPECT_EQ(OpenC(), quick.Path()) << "nothing remembered: the first that answers";
  ASSERT_TRUE(ovrin::SetRememberedPort(remembered.Path().c_str()));
  OvrinComm comm;
  std::string port;
  ASSERT_EQ(ovrin::OpenConcurrently(comm, port, nullptr), 1);
  EXPECT_EQ(port, remembered.Path());
  EXPECT_EQ(gOutcomes[quick.Path()], ovrin::PortOutcome::kNotNeeded);
  // The loser was closed at once: it can be opened again while the winner is held.
  EXPECT_EQ(ovrin::CheckPort(quick.Path(), nullptr), ovrin::PortOutcome::kOpened);
  EXPECT_EQ(ovrin::CheckPort(remembered.Path(), nullptr), ovrin::PortOutcome::kBusy);
  comm.Close();
}

}  // namespace
