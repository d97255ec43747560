// Open, measure and close again and again, on one connection and on many:
// descriptors, threads and memory in use are the same afterwards.
// OVRIN_LOAD_CYCLES sets the number of cycles of each test (default 1000).
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "ovrin_comm.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;

int Cycles() {
  const char* text = std::getenv("OVRIN_LOAD_CYCLES");
  return text != nullptr ? std::atoi(text) : 1000;
}

int CountEntries(const char* directory) {
  int count = 0;
  if (DIR* dir = opendir(directory)) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
    closedir(dir);
  }
  return count;
}

struct Usage {
  int descriptors = CountEntries("/proc/self/fd");
  int threads = CountEntries("/proc/self/task");
  std::size_t heapInUse = mallinfo2().uordblks;
};

// One cycle: open, measure, take the reply, close.
void Cycle(OvrinComm& comm, ovrin::NotifyQueue& queue, PtyMeter& meter) {
  meter.ClearReceived();  // the test's own log must not grow
  std::string port;
  ASSERT_EQ(comm.Open(port, &queue), 1);
  ASSERT_EQ(comm.DistanceMeasure(), 1);
  ovrin::Notification note{};
  for (int replies = 0; replies < 2;) {  // the start-up answer and the measurement
    ASSERT_TRUE(queue.Wait(note, 5000));
    replies += note.message == WM_MEASURE_READY ? 1 : 0;
  }
  ASSERT_EQ(comm.Close(), 1);
}

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override { environment_.SetPorts({meter_.Path()}); }
  void ExpectUnchangedSince(const Usage& before) {
    const Usage after;
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    // A leak of a few bytes a cycle shows over the cycles; allocator
    // bookkeeping does not grow with them.
    EXPECT_LT(after.heapInUse, before.heapInUse + 4096) << before.heapInUse << " -> " << after.heapInUse;
  }

  PtyMeter meter_;
  PortEnvironment environment_{{}};
  ovrin::NotifyQueue queue_;
};

// The first third of the cycles warms up: the allocator and the containers
// of the process settle (measured: they stop growing within 100 cycles).
int WarmUpCycles() { return Cycles() / 3 + 1; }

TEST_F(LoadTest, OneConnectionOpenedAgainAndAgain) {
  OvrinComm comm;
  for (int i = 0; i < WarmUpCycles() && !HasFatalFailure(); ++i) Cycle(comm, queue_, meter_);
  const Usage before;
  for (int i = WarmUpCycles(); i < Cycles() && !HasFatalFailure(); ++i) Cycle(comm, queue_, meter_);
  ExpectUnchangedSince(before);
}

TEST_F(LoadTest, ManyConnectionsOneAfterAnother) {
  for (int i = 0; i < WarmUpCycles() && !HasFatalFailure(); ++i) {
    OvrinComm warmUp;
    Cycle(warmUp, queue_, meter_);
  }
  const Usage before;
  for (int i = WarmUpCycles(); i < Cycles() && !HasFatalFailure(); ++i) {
    auto comm = std::make_unique<OvrinComm>();
    Cycle(*comm, queue_, meter_);
    if (i % 2 == 0) {
      // Every other one is left open for its destructor to close.
      std::string port;
      ASSERT_EQ(comm->Open(port, &queue_), 1);
    }
  }
  ovrin::Notification note{};
  while (queue_.Wait(note, 100)) {
  }
  ExpectUnchangedSince(before);
}

}  // namespace
