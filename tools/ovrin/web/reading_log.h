// The readings of a serve run, kept in memory for the page and its streams:
// as numbered by the run, the oldest dropped past a bound, and the link's state.
// The meter's side only appends under a short lock; every reader copies what
// it needs and formats it on its own thread, so a slow client slows only
// itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "format.h"

namespace ovrin_tool {

// What a stream gets at one wake.
struct LogNews {
  std::vector<NumberedReading> readings;  // after the stream's seq, in order
  std::string state;                      // the state's JSON, when it changed
  bool closed = false;                    // the run is ending
};

class ReadingLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 100000;

  explicit ReadingLog(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // Keeps a reading (numbered above the last); drops the oldest past the
  // capacity.
  void Add(const NumberedReading& reading);
  // The link's state as a JSON object (see LinkStateJson).
  void SetState(const std::string& stateJson);
  // Wakes every stream; they end.
  void Close();

  // The readings after seq `after` still kept, at most `limit`.
  std::vector<NumberedReading> After(std::uint64_t after, std::size_t limit) const;
  std::string State() const;
  std::uint64_t LastSeq() const;

  // Waits up to `timeout` for readings after *after or a state newer than
  // *stateVersion, and moves both cursors past what it returns.
  LogNews Wait(std::uint64_t* after, std::uint64_t* stateVersion, std::chrono::milliseconds timeout,
               std::size_t limit) const;

 private:
  std::vector<NumberedReading> AfterLocked(std::uint64_t after, std::size_t limit) const;

  std::size_t capacity_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<NumberedReading> readings_;
  std::uint64_t lastSeq_ = 0;
  std::string state_ = "{}";
  std::uint64_t stateVersion_ = 0;
  bool closed_ = false;
};

}  // namespace ovrin_tool
