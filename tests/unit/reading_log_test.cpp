// The readings serve keeps for its page: the bound, the cursors of the
// streams, and many streams reading while the meter's side appends.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "web/reading_log.h"

namespace ovrin_tool {
namespace {

using std::chrono::milliseconds;

// The reading numbered `value` of a run, with that value.
NumberedReading Distance(std::int32_t value) {
  NumberedReading reading{static_cast<std::uint64_t>(value), {}};
  reading.reading.record.kind = Reply31;
  reading.reading.record.value1 = value;
  return reading;
}

std::vector<std::uint64_t> Seqs(const std::vector<NumberedReading>& readings) {
  std::vector<std::uint64_t> seqs;
  for (const NumberedReading& entry : readings) seqs.push_back(entry.seq);
  return seqs;
}

TEST(ReadingLog, KeepsTheNewestUpToItsBoundAndFindsThemBySeq) {
  ReadingLog log(3);
  for (int value = 1; value <= 5; ++value) log.Add(Distance(value));
  EXPECT_EQ(log.LastSeq(), 5U);
  struct Case {
    std::uint64_t after;
    std::size_t limit;
    std::vector<std::uint64_t> seqs;
  };
  for (const Case& c : {Case{0, 10, {3, 4, 5}}, Case{1, 10, {3, 4, 5}}, Case{3, 10, {4, 5}}, Case{5, 10, {}},
                        Case{9, 10, {}}, Case{0, 2, {3, 4}}}) {
    EXPECT_EQ(Seqs(log.After(c.after, c.limit)), c.seqs) << "after " << c.after << ", limit " << c.limit;
  }
  EXPECT_EQ(log.After(3, 1).front().reading.record.value1, 4);
}

TEST(ReadingLog, AWaitBringsEachStateAndReadingOnceAndMovesTheCursors) {
  ReadingLog log;
  std::uint64_t after = 0;
  std::uint64_t version = 0;
  log.SetState(LinkStateJson({LinkState::kConnected, "COM3", ""}, 0));
  log.Add(Distance(1));
  LogNews news = log.Wait(&after, &version, milliseconds(0), 100);
  EXPECT_EQ(news.state, R"({"event":"connected","state":"connected","time":"1970-01-01T00:00:00.000Z","port":"COM3"})");
  EXPECT_EQ(Seqs(news.readings), std::vector<std::uint64_t>{1});
  EXPECT_EQ(after, 1U);
  news = log.Wait(&after, &version, milliseconds(10), 100);
  EXPECT_TRUE(news.state.empty());
  EXPECT_TRUE(news.readings.empty());
  EXPECT_FALSE(news.closed);
}

TEST(ReadingLog, CloseWakesAStreamThatWouldWaitLong) {
  ReadingLog log;
  LogNews news;
  std::thread stream([&] {
    std::uint64_t after = 0;
    std::uint64_t version = 0;
    news = log.Wait(&after, &version, std::chrono::hours(1), 100);
  });
  log.Close();
  stream.join();  // a lost wake-up hangs here until the test's time-out
  EXPECT_TRUE(news.closed);
}

TEST(ReadingLog, EveryStreamGetsEveryReadingInOrderWhileTheMeterAppends) {
  constexpr int kReadings = 20000;
  ReadingLog log(kReadings);
  std::vector<std::vector<std::int32_t>> seen(8);
  std::vector<std::thread> streams;
  for (auto& values : seen) {
    streams.emplace_back([&log, &values] {
      std::uint64_t after = 0;
      std::uint64_t version = 0;
      while (after < kReadings) {
        for (const NumberedReading& entry : log.Wait(&after, &version, milliseconds(100), 64).readings) {
          values.push_back(entry.reading.record.value1);
        }
      }
    });
  }
  for (int value = 1; value <= kReadings; ++value) log.Add(Distance(value));
  for (auto& stream : streams) stream.join();
  std::vector<std::int32_t> expected(kReadings);
  for (int i = 0; i < kReadings; ++i) expected[static_cast<std::size_t>(i)] = i + 1;
  for (const auto& values : seen) EXPECT_EQ(values, expected);
}

}  // namespace
}  // namespace ovrin_tool
