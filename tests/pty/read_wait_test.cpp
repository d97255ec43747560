// The receive thread's wait and read on a real pseudo-terminal, from a thread
// that blocks every signal as the receive thread does: what arrives is
// returned at once, WakeWaiters ends a read that waits, a lost link is told.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/platform.h"
#include "terminal.h"

namespace {

namespace platform = ovrin::platform;

std::future<std::string> ReadWhenQueued(platform::Port* port) {
  return std::async(std::launch::async, [port] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    char buffer[128];
    const long n = platform::ReadWhenQueued(port, nullptr, buffer, sizeof buffer);
    return n < 0 ? std::string("lost") : std::string(buffer, static_cast<std::size_t>(n));
  });
}

bool Waits(std::future<std::string>& read) {
  return read.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout;
}

// What the read returned; a read still waiting after 5 s is let go (a byte
// from the meter, a wake) and counts as a failure.
std::string Result(std::future<std::string>& read, platform::Port* port, int meter) {
  if (read.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
    (void)!write(meter, "!", 1);
    platform::WakeWaiters(port);
    return "still waiting: " + read.get();
  }
  return read.get();
}

TEST(ReadWhenQueued, ReturnsWhatArrivesAndEndsWhenWoken) {
  ovrin_sim::MeterTerminal meter;
  platform::Port* port = platform::OpenPort(meter.Path(), nullptr);
  ASSERT_NE(port, platform::NoPort());
  ASSERT_TRUE(platform::ConfigureForMeter(port));

  std::future<std::string> read = ReadWhenQueued(port);
  EXPECT_TRUE(Waits(read));
  EXPECT_EQ(write(meter.Fd(), "12....+0000", 11), 11);
  EXPECT_EQ(Result(read, port, meter.Fd()), "12....+0000");

  read = ReadWhenQueued(port);
  EXPECT_TRUE(Waits(read));
  platform::WakeWaiters(port);
  EXPECT_EQ(Result(read, port, meter.Fd()), "");
  // Woken it stays, until the port is configured again.
  read = ReadWhenQueued(port);
  EXPECT_EQ(Result(read, port, meter.Fd()), "");
  ASSERT_TRUE(platform::ConfigureForMeter(port));
  read = ReadWhenQueued(port);
  EXPECT_TRUE(Waits(read));
  EXPECT_EQ(write(meter.Fd(), "\r\n", 2), 2);
  EXPECT_EQ(Result(read, port, meter.Fd()), "\r\n");

  read = ReadWhenQueued(port);
  EXPECT_TRUE(Waits(read));
  meter.Close();
  EXPECT_EQ(Result(read, port, -1), "lost");
  platform::ClosePort(port, platform::PendingOutput::kDiscard);
}

// The receive thread's signals: those sent to the process stay blocked, and
// so does any the host blocks in the thread that opens (one it takes with
// sigwaitinfo on a thread of its own); a runtime's thread-directed stop
// signals and the faults stay open.
TEST(StartThreadSuspended, BlocksWhatTheHostBlocksAndWhatIsSentToTheProcess) {
  sigset_t hostOwned;
  sigemptyset(&hostOwned);
  sigaddset(&hostOwned, SIGRTMIN);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &hostOwned, &before);
  sigset_t seen;
  platform::Thread* thread = platform::StartThreadSuspended(
      [](void* mask) -> unsigned { return pthread_sigmask(SIG_BLOCK, nullptr, static_cast<sigset_t*>(mask)); }, &seen);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_NE(thread, nullptr);
  platform::ResumeThread(thread);
  platform::JoinThread(thread);
  EXPECT_EQ(sigismember(&seen, SIGRTMIN), 1);
  EXPECT_EQ(sigismember(&seen, SIGINT), 1);
  EXPECT_EQ(sigismember(&seen, SIGPWR), 0);
  EXPECT_EQ(sigismember(&seen, SIGRTMIN + 1), 0);
  EXPECT_EQ(sigismember(&seen, SIGSEGV), 0);
}

}  // namespace
