// The host's notification queue: order, time-outs, and a descriptor that is
// readable exactly while notifications are pending.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

#include "ovrin_host.h"

namespace {

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, 0) == 1;
}

TEST(NotifyQueue, KeepsOrderAndTimesOut) {
  ovrin::NotifyQueue queue;
  ovrin::Notification note{};
  EXPECT_FALSE(queue.Wait(note, 0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.Wait(note, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  for (unsigned i = 0; i < 1000; ++i) EXPECT_TRUE(queue.Post({i, i, 0}));
  for (unsigned i = 0; i < 1000; ++i) {
    ASSERT_TRUE(queue.Wait(note, 0));
    EXPECT_EQ(note.message, i);
  }
}

TEST(NotifyQueue, DescriptorIsReadableWhileNotificationsWait) {
  ovrin::NotifyQueue queue;
  ovrin::Notification note{};
  queue.Post({1, 0, 0});  // posted before the host asked for the descriptor
  EXPECT_TRUE(Readable(queue.Fd()));
  queue.Post({2, 0, 0});
  ASSERT_TRUE(queue.Wait(note, 0));
  EXPECT_TRUE(Readable(queue.Fd()));  // one still waits
  ASSERT_TRUE(queue.Wait(note, 0));
  EXPECT_FALSE(Readable(queue.Fd()));
  queue.Post({3, 0, 0});
  EXPECT_TRUE(Readable(queue.Fd()));
}

TEST(NotifyQueue, WaitWithoutLimitWakesOnPost) {
  ovrin::NotifyQueue queue;
  std::thread poster([&queue] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Post({1124u, 1, 0});
  });
  ovrin::Notification note{};
  EXPECT_TRUE(queue.Wait(note, -1));
  EXPECT_EQ(note.message, 1124u);
  poster.join();
}

}  // namespace
