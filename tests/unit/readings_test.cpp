// The queue of readings and the reading handler, on the scripted platform.
#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "ovrin_readings.h"

namespace {

using ovrin::Reading;
using ovrin::ReadingWait;

std::string Lines(int first, int last) {
  std::string bytes;
  for (int i = first; i <= last; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "12....+%08d\r\n", i);
    bytes += line;
  }
  return bytes;
}

class ReadingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::ListMeter("COM1");
  }
  void TearDown() override {
    comm_.Close();
    fake::Reset();
  }
  void Open() {
    std::string port;
    ASSERT_EQ(comm_.Open(port, nullptr), 1);
  }
  // Waits until the record shows value1 (queued in the same step).
  void AwaitRecord(int value1) {
    for (int i = 0; i < 5000 && ovrin::LatestRecord(comm_).value1 != value1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Waits for `count` readings; what came, in order.
  std::vector<Reading> Take(std::size_t count) {
    std::vector<Reading> taken;
    Reading reading{};
    while (taken.size() < count && ovrin::WaitReading(comm_, &reading, 5000) == ReadingWait::kTaken) {
      taken.push_back(reading);
    }
    return taken;
  }

  OvrinComm comm_;
};

TEST_F(ReadingsTest, EachLineOnceInOrderWithItsBytesAndTime) {
  Open();
  const std::int64_t before = ovrin::platform::UtcNowNs();
  fake::Receive("COM1", Lines(1, 2) + std::string("@E2\0x52\r\n", 9));
  const std::vector<Reading> taken = Take(3);
  const std::int64_t after = ovrin::platform::UtcNowNs();
  ASSERT_EQ(taken.size(), 3u);
  for (std::size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ(taken[i].sequence, i + 1);
    EXPECT_GE(taken[i].utcNs, before);
    EXPECT_LE(taken[i].utcNs, after);
    EXPECT_EQ(taken[i].monotonicNs, taken[0].monotonicNs) << "one read, one time of receipt";
  }
  EXPECT_EQ(taken[1].record.value1, 2);
  EXPECT_EQ(std::string(taken[1].line), "12....+00000002");
  EXPECT_EQ(taken[1].lineLength, 15u);
  // The bytes as received, a NUL among them too; the record reads up to it.
  EXPECT_EQ(std::string(taken[2].line, taken[2].lineLength), std::string("@E2\0x52", 7));
  EXPECT_EQ(taken[2].record.kind, ReplyError);
  EXPECT_EQ(taken[2].record.value1, 2);
  EXPECT_EQ(ovrin::LatestRecord(comm_).value1, 2);
  Reading none{};
  EXPECT_FALSE(ovrin::NextReading(comm_, &none));
}

TEST_F(ReadingsTest, FullQueueDropsTheOldestAndCountsThem) {
  EXPECT_FALSE(ovrin::SetReadingCapacity(comm_, 0));
  EXPECT_FALSE(ovrin::SetReadingCapacity(comm_, ovrin::kMaxReadingCapacity + 1));
  ASSERT_TRUE(ovrin::SetReadingCapacity(comm_, 3));
  Open();
  EXPECT_FALSE(ovrin::SetReadingCapacity(comm_, 10)) << "refused while open";
  fake::Receive("COM1", Lines(1, 10));
  fake::Receive("COM1", Lines(11, 11));
  AwaitRecord(11);  // every line in before the first is taken
  const std::vector<Reading> taken = Take(3);
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].sequence, 9u);
  EXPECT_EQ(taken[2].record.value1, 11);
  EXPECT_EQ(ovrin::DroppedReadings(comm_), 8u);
}

TEST_F(ReadingsTest, WaitEndsWithTheLinkOrTheConnection) {
  Reading reading{};
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, -1), ReadingWait::kNoMore) << "never opened";
  Open();
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, 50), ReadingWait::kTimedOut);
  fake::Receive("COM1", Lines(1, 1));
  fake::LoseLink("COM1");
  // What came before the link was lost is still taken first.
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, -1), ReadingWait::kTaken);
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, -1), ReadingWait::kNoMore);
  EXPECT_EQ(comm_.Close(), 1);

  // A new run starts from sequence 1; Close ends a wait on another thread.
  fake::Locked()->ports["COM1"].waitResults.clear();
  Open();
  fake::Receive("COM1", Lines(5, 5));
  ASSERT_EQ(Take(1).at(0).sequence, 1u);
  ReadingWait waited = ReadingWait::kTaken;
  std::thread waiter([&] { waited = ovrin::WaitReading(comm_, &reading, -1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(comm_.Close(), 1);
  waiter.join();
  EXPECT_EQ(waited, ReadingWait::kNoMore);
}

TEST_F(ReadingsTest, ReadingsLeftAtCloseCanStillBeTaken) {
  Open();
  fake::Receive("COM1", Lines(1, 2));
  AwaitRecord(2);
  comm_.Close();
  Reading reading{};
  EXPECT_TRUE(ovrin::NextReading(comm_, &reading));
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, -1), ReadingWait::kTaken);
  EXPECT_EQ(reading.record.value1, 2);
  EXPECT_EQ(ovrin::WaitReading(comm_, &reading, -1), ReadingWait::kNoMore);
}

struct HandlerLog {
  OvrinComm* comm = nullptr;
  std::vector<std::uint64_t> sequences;  // written on the receive thread, read after Close
  std::vector<int> closes;
  std::vector<int> opens;
};

void Record(const Reading& reading, void* context) {
  auto* log = static_cast<HandlerLog*>(context);
  log->sequences.push_back(reading.sequence);
  if (reading.record.value1 == 3) {
    std::string port;
    log->closes.push_back(log->comm->Close());
    log->opens.push_back(log->comm->Open(port, nullptr));
  }
}

TEST_F(ReadingsTest, HandlerSeesEveryReadingAndCannotCloseFromInside) {
  HandlerLog log;
  log.comm = &comm_;
  ovrin::SetReadingHandler(comm_, Record, &log);
  fake::Locked()->ports["COM1"].startAnswer = Lines(1, 1);
  Open();
  fake::Receive("COM1", Lines(2, 4));
  ASSERT_EQ(Take(4).size(), 4u) << "handled readings stay queued";
  ovrin::SetReadingHandler(comm_, nullptr, nullptr);
  fake::Receive("COM1", Lines(5, 5));
  ASSERT_EQ(Take(1).size(), 1u);
  EXPECT_EQ(comm_.Close(), 1) << "still open: the handler's Close did nothing";
  EXPECT_EQ(log.sequences, (std::vector<std::uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(log.closes, std::vector<int>{0});
  EXPECT_EQ(log.opens, std::vector<int>{0});
  EXPECT_EQ(fake::LogOf("open COM1").size(), 1u);
}

// ---- The edges of the queue ----

struct Drainer {
  OvrinComm* comm = nullptr;
  std::vector<std::uint64_t> taken;  // on the receive thread; read after Close
  std::vector<ReadingWait> waits;
};

// Takes everything queued, then waits for more on its own receive thread.
void DrainThenWait(const Reading&, void* context) {
  auto* drainer = static_cast<Drainer*>(context);
  Reading reading{};
  while (ovrin::NextReading(*drainer->comm, &reading)) drainer->taken.push_back(reading.sequence);
  drainer->waits.push_back(ovrin::WaitReading(*drainer->comm, &reading, -1));
}

void Count(const Reading&, void* context) { ++*static_cast<int*>(context); }

TEST_F(ReadingsTest, AWaitInTheHandlerAnswersAtOnceAndCloseReturns) {
  Drainer drainer;
  drainer.comm = &comm_;
  ovrin::SetReadingHandler(comm_, DrainThenWait, &drainer);
  Open();
  fake::Receive("COM1", Lines(1, 3));
  AwaitRecord(3);
  EXPECT_EQ(comm_.Close(), 1);  // a handler blocked in its wait would hold this for ever
  EXPECT_EQ(drainer.taken, (std::vector<std::uint64_t>{1, 2, 3}));
  EXPECT_EQ(drainer.waits, std::vector<ReadingWait>(3, ReadingWait::kTimedOut));
}

TEST_F(ReadingsTest, TimeOutsBelowMinusOneDoNotWait) {
  Open();
  Reading reading{};
  for (int timeoutMs : {0, -2, -1000})
    EXPECT_EQ(ovrin::WaitReading(comm_, &reading, timeoutMs), ReadingWait::kTimedOut);
}

TEST_F(ReadingsTest, AWaiterAnswersForItsOwnRunWhenTheNextBeginsFirst) {
  Open();
  ReadingWait waited = ReadingWait::kTaken;
  std::thread waiter([&] {
    Reading reading{};
    waited = ovrin::WaitReading(comm_, &reading, -1);
  });
  ASSERT_TRUE(fake::AwaitWaiters(1, 0));
  // Woken by the lost link, the waiter is held back until a new run began.
  fake::HoldWokenWaiters(true);
  fake::LoseLink("COM1");
  ASSERT_TRUE(fake::AwaitWaiters(0, 1));
  comm_.Close();
  fake::Locked()->ports["COM1"].waitResults.clear();
  Open();
  fake::HoldWokenWaiters(false);
  waiter.join();
  EXPECT_EQ(waited, ReadingWait::kNoMore) << "the run it waited on ended";
}

TEST_F(ReadingsTest, AnObjectAtAFreedOnesAddressStartsClean) {
  int calls = 0;
  alignas(OvrinComm) unsigned char storage[sizeof(OvrinComm)];
  // A host that frees a connection without destroying it leaves its entry.
  auto* freed = new (storage) OvrinComm;
  ovrin::SetReadingHandler(*freed, Count, &calls);
  ASSERT_TRUE(ovrin::SetReadingCapacity(*freed, 1));
  auto* fresh = new (storage) OvrinComm;
  std::string port;
  ASSERT_EQ(fresh->Open(port, nullptr), 1);
  fake::Receive("COM1", Lines(1, 2));
  Reading reading{};
  EXPECT_EQ(ovrin::WaitReading(*fresh, &reading, 5000), ReadingWait::kTaken);
  EXPECT_EQ(reading.sequence, 1u) << "the old capacity of 1 would have dropped it";
  fresh->~OvrinComm();
  EXPECT_EQ(calls, 0) << "the old handler was inherited";
}

}  // namespace
