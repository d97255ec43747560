// The trace of the search and the link, the search order and CheckPort, on
// the scripted platform.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "ovrin_diagnostics.h"
#include "ovrin_readings.h"

namespace {

using ovrin::PortOutcome;
using ovrin::TraceKind;

struct Event {
  TraceKind kind;
  PortOutcome outcome;
  std::string port;
  std::string bytes;
  bool operator==(const Event& other) const {
    return kind == other.kind && outcome == other.outcome && port == other.port && bytes == other.bytes;
  }
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
  return out << static_cast<int>(event.kind) << "/" << ovrin::OutcomeText(event.outcome) << " " << event.port << " \""
             << event.bytes << "\"";
}

// Kept by the host's thread and the receive thread alike: read after Close.
std::vector<Event> gEvents;
std::mutex gEventsLock;

void Keep(const ovrin::Trace& trace, void*) {
  std::lock_guard<std::mutex> hold(gEventsLock);
  gEvents.push_back({trace.kind, trace.kind == TraceKind::kCandidate ? trace.outcome : PortOutcome::kOpened, trace.port,
                     std::string(trace.bytes != nullptr ? trace.bytes : "", trace.size)});
}

Event Candidate(const char* port, PortOutcome outcome) { return {TraceKind::kCandidate, outcome, port, ""}; }
Event Bytes(TraceKind kind, const char* port, const std::string& bytes) {
  return {kind, PortOutcome::kOpened, port, bytes};
}

class DiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    gEvents.clear();
    ovrin::SetTraceHandler(Keep, nullptr);
  }
  void TearDown() override {
    ovrin::SetTraceHandler(nullptr, nullptr);
    fake::Reset();
  }
};

TEST_F(DiagnosticsTest, EveryCandidateAndTheLinkAreTraced) {
  {
    auto world = fake::Locked();
    world->listed = {{"COM1"}, {"COM2"}, {"COM3"}, {"COM4"}, {"COM5"}, {"COM6"}};
    world->ports["COM1"].opens = false;
    world->ports["COM2"].opens = false;
    world->ports["COM2"].openError = ovrin::platform::OpenError::kNoPermission;
    world->ports["COM3"].configures = false;
    world->ports["COM4"];  // silent
    world->ports["COM5"].probeAnswer = "13....+1\r\n";
    world->ports["COM6"].probeAnswer = "12....+00000042\r\n";
    world->ports["COM6"].startAnswer = "?\r\n";
  }
  OvrinComm comm;
  std::string port;
  ASSERT_EQ(comm.Open(port, nullptr), 1);
  ovrin::Reading reading{};
  ASSERT_EQ(ovrin::WaitReading(comm, &reading, 5000), ovrin::ReadingWait::kTaken);
  fake::LoseLink("COM6");
  ASSERT_EQ(ovrin::WaitReading(comm, &reading, 5000), ovrin::ReadingWait::kNoMore);
  ASSERT_EQ(comm.Close(), 1);
  const std::string probe("N02N\r\n\0", 7);
  std::vector<Event> events = gEvents;
  const std::vector<Event> wanted = {
      Candidate("COM1", PortOutcome::kBusy),
      Candidate("COM2", PortOutcome::kNoPermission),
      Candidate("COM3", PortOutcome::kNotSerial),
      Candidate("COM4", PortOutcome::kOpened),
      Bytes(TraceKind::kSent, "COM4", probe),
      Candidate("COM4", PortOutcome::kNoAnswer),
      Candidate("COM5", PortOutcome::kOpened),
      Bytes(TraceKind::kSent, "COM5", probe),
      Bytes(TraceKind::kReceived, "COM5", "13....+1\r\n"),
      Candidate("COM5", PortOutcome::kWrongAnswer),
      Candidate("COM6", PortOutcome::kOpened),
      Bytes(TraceKind::kSent, "COM6", probe),
      Bytes(TraceKind::kReceived, "COM6", "12....+00000042\r\n"),
      Candidate("COM6", PortOutcome::kAccepted),
      {TraceKind::kConnected, PortOutcome::kOpened, "COM6", ""},
      Bytes(TraceKind::kSent, "COM6", std::string("sm 1\r\n\0", 7)),
      Bytes(TraceKind::kReceived, "COM6", "?\r\n"),
      {TraceKind::kLinkLost, PortOutcome::kOpened, "COM6", ""},
      {TraceKind::kClosed, PortOutcome::kOpened, "COM6", ""},
  };
  // The receive thread's first read and Open's "sm 1" may come in either order.
  ASSERT_EQ(events.size(), wanted.size());
  if (events[15].kind == TraceKind::kReceived) std::swap(events[15], events[16]);
  EXPECT_EQ(events, wanted);
}

TEST_F(DiagnosticsTest, MeasureCommandsAreTracedWithTheConnectionsPort) {
  fake::ListMeter("COM7");
  OvrinComm comm;
  std::string port;
  ASSERT_EQ(comm.Open(port, nullptr), 1);
  gEvents.clear();
  ASSERT_EQ(comm.DistanceMeasure(), 1);
  fake::Locked()->ports["COM7"].writeResult = ovrin::platform::WriteResult::kFailed;
  ASSERT_EQ(comm.DistanceMeasure(), 0);  // not written: nothing to tell of
  comm.Close();
  ASSERT_GE(gEvents.size(), 1u);
  EXPECT_EQ(gEvents[0], Bytes(TraceKind::kSent, "COM7", "g\r\n"));
  EXPECT_EQ(gEvents.size(), 2u);  // and the close
}

TEST_F(DiagnosticsTest, SearchOrderIsTheSearchsOwn) {
  {
    auto world = fake::Locked();
    world->hasRemembered = true;
    world->remembered = "COM3";
    world->listed = {{"com1"}, {"lpt1"}, {"COM3"}, {"", true, "Serial9"}, {"com12", false, "\\Device\\Serial2"}};
  }
  const std::vector<ovrin::PortCandidate> order = ovrin::SearchOrder();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_TRUE(order[0].remembered);
  EXPECT_EQ(order[0].name, "COM3");
  EXPECT_EQ(order[1].name, "COM1");
  EXPECT_EQ(order[1].listedData, "com1");
  EXPECT_FALSE(order[2].fits);  // too long: the search passes it over
  EXPECT_EQ(order[2].listedAs, "Serial9");
  EXPECT_EQ(order[3].name, "\\\\.\\COM12");
  EXPECT_EQ(order[3].listedAs, "\\Device\\Serial2");
  EXPECT_EQ(fake::Locked()->liveHandles, 0);
}

TEST_F(DiagnosticsTest, CheckPortOpensAndReleases) {
  fake::Locked()->ports["COM1"];
  fake::Locked()->ports["COM2"].opens = false;
  int error = -1;
  EXPECT_EQ(ovrin::CheckPort("COM1", &error), PortOutcome::kOpened);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ovrin::CheckPort("COM2", nullptr), PortOutcome::kBusy);
  EXPECT_EQ(ovrin::CheckPort("COM9", nullptr), PortOutcome::kNoSuchDevice);
  EXPECT_EQ(fake::Locked()->liveHandles, 0);
  EXPECT_TRUE(gEvents.empty());  // a check is no search
}

}  // namespace
