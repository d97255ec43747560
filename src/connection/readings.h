// The readings of one connection: a bounded queue that the receive thread
// fills and the host drains, and the handler called for each. They live beside
// the OvrinComm object, in a table keyed by its address, because hosts rely on
// the object's exported layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ovrin_readings.h"
#include "platform/platform.h"

namespace ovrin {

// Calls `target` for a reading; lets the C interface bind callbacks of its own
// type without converting function pointers back and forth unsafely.
using ReadingInvoker = void (*)(const Reading& reading, void (*target)(), void* context);

// When a read delivered the bytes that completed a line.
struct Receipt {
  std::int64_t utcNs;
  std::int64_t monotonicNs;
};

class ReadingChannel {
 public:
  ReadingChannel() = default;
  ReadingChannel(const ReadingChannel&) = delete;
  ReadingChannel& operator=(const ReadingChannel&) = delete;

  // ---- Open and Close ----
  // Starts a new run on `port`: an empty queue of the set capacity, sequence
  // and dropped count from 0. False when the queue's memory cannot be had.
  bool Begin(const std::string& port);
  // The port of the run. Set by Begin before the receive thread starts and
  // not changed while it runs, so both threads read it without the lock.
  const std::string& Port() const { return port_; }
  // No reading will come any more: waiters return.
  void End();
  bool SetCapacity(std::size_t capacity);

  // ---- The receive thread ----
  // Writes the record into `measurement` and queues its reading, in one step
  // under the channel's lock; then calls the handler. Never allocates.
  void Deliver(MeasureRecord* measurement, const MeasureRecord& record, const char* line, std::size_t length,
               const Receipt& receipt);

  // ---- Commands ----
  // Held while a command is written: DistanceMeasure may come from several
  // threads at once, and two commands must never interleave on the wire.
  platform::Monitor& Sending() { return sending_; }

  // ---- The host ----
  bool Take(Reading* reading);
  ReadingWait WaitAndTake(Reading* reading, int timeoutMs);
  std::uint64_t Dropped();
  MeasureRecord Latest(const MeasureRecord& measurement);
  void SetHandler(ReadingInvoker invoke, void (*target)(), void* context);
  // Whether the host asked for WM_LINK_LOST.
  void SetNotifyLinkLost(bool notify);
  bool NotifiesLinkLost();

 private:
  bool TakeInside(Reading* reading);

  platform::Monitor monitor_;
  platform::Monitor sending_;
  std::unique_ptr<Reading[]> ring_;
  std::size_t capacity_ = kDefaultReadingCapacity;  // for the next Begin
  std::size_t size_ = 0;                            // of the ring in use
  std::size_t oldest_ = 0;
  std::size_t count_ = 0;
  std::uint64_t sequence_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t runs_ = 0;  // Begin counts the runs
  bool running_ = false;
  bool notifyLinkLost_ = false;
  std::string port_;
  ReadingInvoker invoke_ = nullptr;
  void (*target_)() = nullptr;
  void* context_ = nullptr;
};

// The channel of a connection; made on first use when `create`, else null
// when the connection has none.
std::shared_ptr<ReadingChannel> ChannelOf(const OvrinComm& connection, bool create);
// Drops the channel of a connection that is going away.
void ForgetChannel(const OvrinComm& connection);

// Binds a handler of any type through its invoker (the C interface's callback).
void SetReadingInvoker(OvrinComm& connection, ReadingInvoker invoke, void (*target)(), void* context);

}  // namespace ovrin
