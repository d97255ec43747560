#include "connection_state.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "comm_access.h"
#include "host_messages.h"
#include "trace.h"

namespace ovrin {
namespace {

using Table = std::map<const OvrinComm*, std::shared_ptr<ConnectionState>>;

// Guarded by the process lock.
Table& States() {
  static Table* states = new Table;  // never destroyed: receive threads may outlive static destruction
  return *states;
}

// The state whose receive thread this is, on that thread: Close and Open
// called from a handler on it must not wait for the thread itself.
thread_local const ConnectionState* tReceivingFor = nullptr;

}  // namespace

ConnectionState::ConnectionState(OvrinComm& owner)
    : record_(owner.measurement), isOpen_(OvrinCommAccess::IsOpen(owner)) {}

bool ConnectionState::Begin(const RunHandles& run) {
  platform::MonitorLock hold(monitor_);
  run_ = run;
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

void ConnectionState::End() {
  platform::MonitorLock hold(monitor_);
  running_ = false;
  monitor_.WakeAll();
}

void ConnectionState::Finish() {
  {
    platform::MonitorLock hold(monitor_);
    run_.portHandle = platform::NoPort();
    run_.listening = run_.idle = nullptr;
  }
  TraceLink(TraceKind::kClosed, run_.port);
}

bool ConnectionState::SetCapacity(std::size_t capacity) {
  if (capacity < 1 || capacity > kMaxReadingCapacity) return false;
  platform::MonitorLock hold(monitor_);
  if (running_) return false;
  capacity_ = capacity;
  return true;
}

void ConnectionState::EnterReceiveThread() { tReceivingFor = this; }

bool ConnectionState::OnReceiveThread() const { return tReceivingFor == this; }

void ConnectionState::Deliver(const MeasureRecord& record, const char* line, std::size_t length,
                              const Receipt& receipt) {
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
    record_ = record;
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
  }
  // Waiters are woken once the lock is free: woken inside it, each would
  // only wait for the lock next.
  monitor_.WakeAll();
  if (invoke != nullptr) invoke(reading, target, context);
  SetListening(false);
  if (run_.window != nullptr) platform::PostNotification(run_.window, WM_MEASURE_READY, 1, 0);
}

void ConnectionState::LinkLost() {
  TraceLink(TraceKind::kLinkLost, run_.port);
  bool notify;
  {
    platform::MonitorLock hold(monitor_);
    notify = notifyLinkLost_;
  }
  if (run_.window != nullptr && notify) platform::PostNotification(run_.window, WM_LINK_LOST, 0, 0);
}

void ConnectionState::SetListening(bool listen) {
  if (!IsOpen()) return;
  // Under the lock: the two changes go together, and Finish does not take
  // the events away between them.
  platform::MonitorLock hold(monitor_);
  if (run_.listening == nullptr) return;
  if (listen) {
    platform::SignalEvent(run_.listening);
    platform::UnsignalEvent(run_.idle);
  } else {
    platform::UnsignalEvent(run_.listening);
    platform::SignalEvent(run_.idle);
  }
}

void ConnectionState::TraceBytes(TraceKind kind, const char* bytes, std::size_t size) const {
  ovrin::TraceBytes(kind, run_.port, bytes, size);
}

bool ConnectionState::TakeInside(Reading* reading) {
  if (count_ == 0) return false;
  *reading = ring_[oldest_];
  oldest_ = (oldest_ + 1) % size_;
  --count_;
  return true;
}

bool ConnectionState::Take(Reading* reading) {
  platform::MonitorLock hold(monitor_);
  return TakeInside(reading);
}

ReadingWait ConnectionState::WaitAndTake(Reading* reading, int timeoutMs) {
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

std::uint64_t ConnectionState::Dropped() {
  platform::MonitorLock hold(monitor_);
  return dropped_;
}

MeasureRecord ConnectionState::Latest() {
  platform::MonitorLock hold(monitor_);
  return record_;
}

void ConnectionState::SetHandler(ReadingInvoker invoke, void (*target)(), void* context) {
  platform::MonitorLock hold(monitor_);
  invoke_ = target != nullptr ? invoke : nullptr;
  target_ = target;
  context_ = context;
}

void ConnectionState::SetNotifyLinkLost(bool notify) {
  platform::MonitorLock hold(monitor_);
  notifyLinkLost_ = notify;
}

std::shared_ptr<ConnectionState> StateOf(const OvrinComm& connection) {
  platform::ScopedProcessLock lock;
  auto found = States().find(&connection);
  return found != States().end() ? found->second : nullptr;
}

std::shared_ptr<ConnectionState> StateOf(OvrinComm& connection, bool create) {
  platform::ScopedProcessLock lock;
  Table& states = States();
  auto found = states.find(&connection);
  if (found != states.end()) return found->second;
  if (!create) return nullptr;
  try {
    return states.emplace(&connection, std::make_shared<ConnectionState>(connection)).first->second;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ForgetState(const OvrinComm& connection) {
  std::shared_ptr<ConnectionState> gone;  // released outside the lock
  platform::ScopedProcessLock lock;
  auto found = States().find(&connection);
  if (found == States().end()) return;
  gone = std::move(found->second);
  States().erase(found);
}

}  // namespace ovrin
