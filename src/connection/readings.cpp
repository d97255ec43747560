#include "readings.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "comm_access.h"
#include "receive_thread.h"

namespace ovrin {
namespace {

using Table = std::map<const OvrinComm*, std::shared_ptr<ReadingChannel>>;

// Guarded by the process lock.
Table& Channels() {
  static Table* channels = new Table;  // never destroyed: receive threads may outlive static destruction
  return *channels;
}

void InvokeHandler(const Reading& reading, void (*target)(), void* context) {
  reinterpret_cast<ReadingHandler>(target)(reading, context);
}

}  // namespace

bool ReadingChannel::Begin(const std::string& port) {
  platform::MonitorLock hold(monitor_);
  port_ = port;
  if (ring_ == nullptr || size_ != capacity_) {
    ring_.reset(new (std::nothrow) Reading[capacity_]);
    size_ = ring_ != nullptr ? capacity_ : 0;
  }
  oldest_ = count_ = 0;
  sequence_ = dropped_ = 0;
  ++runs_;
  running_ = ring_ != nullptr;
  return running_;
}

void ReadingChannel::End() {
  platform::MonitorLock hold(monitor_);
  running_ = false;
  monitor_.WakeAll();
}

bool ReadingChannel::SetCapacity(std::size_t capacity) {
  if (capacity < 1 || capacity > kMaxReadingCapacity) return false;
  platform::MonitorLock hold(monitor_);
  if (running_) return false;
  capacity_ = capacity;
  return true;
}

void ReadingChannel::Deliver(MeasureRecord* measurement, const MeasureRecord& record, const char* line,
                             std::size_t length, const Receipt& receipt) {
  Reading reading;
  reading.record = record;
  reading.utcNs = receipt.utcNs;
  reading.monotonicNs = receipt.monotonicNs;
  length = std::min(length, sizeof reading.line - 1);
  reading.lineLength = static_cast<std::uint32_t>(length);
  reading.reserved = 0;
  std::memcpy(reading.line, line, length);
  std::memset(reading.line + length, 0, sizeof reading.line - length);
  ReadingInvoker invoke;
  void (*target)();
  void* context;
  {
    platform::MonitorLock hold(monitor_);
    *measurement = record;
    reading.sequence = ++sequence_;
    if (count_ == size_) {  // full: the oldest goes
      oldest_ = (oldest_ + 1) % size_;
      --count_;
      ++dropped_;
    }
    ring_[(oldest_ + count_) % size_] = reading;
    ++count_;
    invoke = invoke_;
    target = target_;
    context = context_;
    monitor_.WakeAll();
  }
  if (invoke != nullptr) invoke(reading, target, context);
}

bool ReadingChannel::TakeInside(Reading* reading) {
  if (count_ == 0) return false;
  *reading = ring_[oldest_];
  oldest_ = (oldest_ + 1) % size_;
  --count_;
  return true;
}

bool ReadingChannel::Take(Reading* reading) {
  platform::MonitorLock hold(monitor_);
  return TakeInside(reading);
}

ReadingWait ReadingChannel::WaitAndTake(Reading* reading, int timeoutMs) {
  const platform::Deadline deadline(timeoutMs);
  platform::MonitorLock hold(monitor_);
  // A waiter answers for the run it began in: when that run ends and another
  // begins before the waiter looks again, its answer is still "no more".
  const std::uint64_t run = runs_;
  for (;;) {
    if (runs_ != run) return ReadingWait::kNoMore;
    if (TakeInside(reading)) return ReadingWait::kTaken;
    if (!running_) return ReadingWait::kNoMore;
    if (deadline.Passed()) return ReadingWait::kTimedOut;
    monitor_.Wait(deadline);
  }
}

std::uint64_t ReadingChannel::Dropped() {
  platform::MonitorLock hold(monitor_);
  return dropped_;
}

MeasureRecord ReadingChannel::Latest(const MeasureRecord& measurement) {
  platform::MonitorLock hold(monitor_);
  return measurement;
}

void ReadingChannel::SetHandler(ReadingInvoker invoke, void (*target)(), void* context) {
  platform::MonitorLock hold(monitor_);
  invoke_ = target != nullptr ? invoke : nullptr;
  target_ = target;
  context_ = context;
}

void ReadingChannel::SetNotifyLinkLost(bool notify) {
  platform::MonitorLock hold(monitor_);
  notifyLinkLost_ = notify;
}

bool ReadingChannel::NotifiesLinkLost() {
  platform::MonitorLock hold(monitor_);
  return notifyLinkLost_;
}

std::shared_ptr<ReadingChannel> ChannelOf(const OvrinComm& connection, bool create) {
  platform::ScopedProcessLock lock;
  Table& channels = Channels();
  auto found = channels.find(&connection);
  if (found != channels.end()) return found->second;
  if (!create) return nullptr;
  try {
    return channels.emplace(&connection, std::make_shared<ReadingChannel>()).first->second;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ForgetChannel(const OvrinComm& connection) {
  std::shared_ptr<ReadingChannel> gone;  // released outside the lock
  platform::ScopedProcessLock lock;
  auto found = Channels().find(&connection);
  if (found == Channels().end()) return;
  gone = std::move(found->second);
  Channels().erase(found);
}

void SetReadingInvoker(OvrinComm& connection, ReadingInvoker invoke, void (*target)(), void* context) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, target != nullptr);
  if (channel != nullptr) channel->SetHandler(invoke, target, context);
}

// ---- The exported functions ----

bool NextReading(const OvrinComm& connection, Reading* reading) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, false);
  return channel != nullptr && reading != nullptr && channel->Take(reading);
}

ReadingWait WaitReading(const OvrinComm& connection, Reading* reading, int timeoutMs) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, false);
  if (channel == nullptr || reading == nullptr) return ReadingWait::kNoMore;
  // On the connection's own receive thread (in a handler) no reading can
  // come while it waits: it takes what is queued or answers at once.
  return channel->WaitAndTake(reading, OnReceiveThreadOf(connection) ? 0 : timeoutMs);
}

std::uint64_t DroppedReadings(const OvrinComm& connection) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, false);
  return channel != nullptr ? channel->Dropped() : 0;
}

bool SetReadingCapacity(OvrinComm& connection, std::size_t capacity) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, true);
  return channel != nullptr && channel->SetCapacity(capacity);
}

MeasureRecord LatestRecord(const OvrinComm& connection) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, false);
  // Without a channel the connection was never opened: nothing writes the record.
  return channel != nullptr ? channel->Latest(connection.measurement) : connection.measurement;
}

void NotifyLinkLost(OvrinComm& connection, bool notify) {
  const std::shared_ptr<ReadingChannel> channel = ChannelOf(connection, notify);
  if (channel != nullptr) channel->SetNotifyLinkLost(notify);
}

void SetReadingHandler(OvrinComm& connection, ReadingHandler handler, void* context) {
  SetReadingInvoker(connection, InvokeHandler, reinterpret_cast<void (*)()>(handler), context);
}

}  // namespace ovrin
