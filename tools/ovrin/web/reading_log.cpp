#include "reading_log.h"

#include <algorithm>

#include "format.h"

namespace ovrin_tool {

void ReadingLog::Add(const NumberedReading& reading) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    readings_.push_back(reading);
    lastSeq_ = reading.seq;
    if (readings_.size() > capacity_) readings_.pop_front();
  }
  changed_.notify_all();
}

void ReadingLog::SetState(const std::string& stateJson) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_ = stateJson;
    ++stateVersion_;
  }
  changed_.notify_all();
}

void ReadingLog::Close() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

std::vector<NumberedReading> ReadingLog::AfterLocked(std::uint64_t after, std::size_t limit) const {
  std::vector<NumberedReading> found;
  if (readings_.empty() || after >= lastSeq_) return found;
  // Seqs are consecutive, so the first one after `after` is found by its number.
  const std::uint64_t first = readings_.front().seq;
  const std::size_t start = after < first ? 0 : static_cast<std::size_t>(after + 1 - first);
  const std::size_t count = std::min(limit, readings_.size() - start);
  found.assign(readings_.begin() + static_cast<std::ptrdiff_t>(start),
               readings_.begin() + static_cast<std::ptrdiff_t>(start + count));
  return found;
}

std::vector<NumberedReading> ReadingLog::After(std::uint64_t after, std::size_t limit) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return AfterLocked(after, limit);
}

std::string ReadingLog::State() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

std::uint64_t ReadingLog::LastSeq() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lastSeq_;
}

LogNews ReadingLog::Wait(std::uint64_t* after, std::uint64_t* stateVersion, std::chrono::milliseconds timeout,
                         std::size_t limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return closed_ || lastSeq_ > *after || stateVersion_ != *stateVersion; });
  LogNews news;
  news.closed = closed_;
  if (stateVersion_ != *stateVersion) {
    news.state = state_;
    *stateVersion = stateVersion_;
  }
  news.readings = AfterLocked(*after, limit);
  if (!news.readings.empty()) *after = news.readings.back().seq;
  return news;
}

}  // namespace ovrin_tool
