// The concurrent search where the system misbehaves: opens that block, a
// cancelled open, a probe event that cannot be had. On the scripted platform.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "connection/concurrent_search.h"
#include "fake_platform.h"

namespace {

using ovrin::PortOutcome;
using ovrin::platform::NoPort;

struct Reported {
  PortOutcome outcome;
  std::string detail;
};
std::map<std::string, Reported> gReported;  // by port

void Collect(const ovrin::Trace& trace, void*) {
  if (trace.kind != ovrin::TraceKind::kCandidate || trace.outcome == PortOutcome::kOpened) return;
  gReported[trace.port] = {trace.outcome, trace.bytes != nullptr ? std::string(trace.bytes, trace.size) : ""};
}

// Waits until no handle of the fake is left; false after 5 s.
bool AllReleased() {
  for (int i = 0; i < 500; ++i) {
    if (fake::Locked()->liveHandles == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class ConcurrentSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    gReported.clear();
    ovrin::SetTraceHandler(Collect, nullptr);
  }
  void TearDown() override {
    ovrin::SetTraceHandler(nullptr, nullptr);
    EXPECT_TRUE(AllReleased()) << "the search left something open";
    EXPECT_TRUE(fake::Snapshot().boxes.empty()) << "the concurrent search shows no message box";
    fake::Reset();
  }
  // A port whose open blocks, listed before the meter.
  void BlockedThenMeter() {
    fake::ListMeter("COM2");
    auto world = fake::Locked();
    world->listed.insert(world->listed.begin(), fake::Entry{"COM1"});
    world->ports["COM1"].openBlocks = true;
  }
  std::string Find() {
    std::string port;
    ovrin::platform::Port* found = ovrin::SearchConcurrently(comm_, port);
    if (found == NoPort()) return "";
    ovrin::platform::ClosePort(found, ovrin::platform::PendingOutput::kDiscard);
    return port;
  }
  OvrinComm comm_;
};

TEST_F(ConcurrentSearchTest, AnOpenThatCompletesAfterTheSearchIsClosedByItsThread) {
  BlockedThenMeter();
  EXPECT_EQ(Find(), "COM2");
  EXPECT_EQ(gReported["COM1"].outcome, PortOutcome::kGivenUp);
  EXPECT_NE(gReported["COM1"].detail.find("still opening after "), std::string::npos);
  EXPECT_NE(gReported["COM1"].detail.find(" ms: given up"), std::string::npos);
  EXPECT_TRUE(fake::LogOf("close COM1").empty()) << "the blocked open has not completed yet";
  fake::ReleaseBlockedOpens();
  ASSERT_TRUE(AllReleased());
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u) << "the late open's port is closed, not kept";
}

TEST_F(ConcurrentSearchTest, AnOpenTheSystemCancelsEndsWithoutAPort) {
  BlockedThenMeter();
  fake::Locked()->cancelHonoured = true;
  EXPECT_EQ(Find(), "COM2");
  ASSERT_TRUE(AllReleased());
  EXPECT_EQ(fake::Snapshot().cancels, 1);
  EXPECT_EQ(fake::LogOf("cancelled COM1").size(), 1u);
  EXPECT_TRUE(fake::LogOf("close COM1").empty());
}

TEST_F(ConcurrentSearchTest, AProbeEventThatCannotBeCreatedFailsThatPortOnly) {
  fake::ListMeter("COM1");
  fake::Locked()->eventFails = [](int index) { return index == 0; };
  EXPECT_EQ(Find(), "");
  EXPECT_EQ(gReported["COM1"].outcome, PortOutcome::kCannotOpen);
  EXPECT_EQ(gReported["COM1"].detail, "no event to probe it with: not probed");
  EXPECT_EQ(fake::LogOf("close COM1").size(), 1u);
}

}  // namespace
