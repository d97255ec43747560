#include "connection_state.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <vector>

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

// Open runs whose object was freed without its destructor, and whose
// address another connection took: found again by the handles a copy carries.
std::vector<std::shared_ptr<ConnectionState>>& Unowned() {
  static auto* unowned = new std::vector<std::shared_ptr<ConnectionState>>;
  return *unowned;
}

// Under the process lock: the state of the open run whose handles a moved
// copy carries, taken out of where it was kept; null when none holds them.
std::shared_ptr<ConnectionState> TakeMovedRun(const OvrinComm& copy) {
  platform::Port* const port = OvrinCommAccess::PortHandle(copy);
  if (port == platform::NoPort()) return nullptr;
  platform::Event* const listening = OvrinCommAccess::ListenEvent(copy);
  platform::Event* const idle = OvrinCommAccess::IdleEvent(copy);
  for (auto entry = States().begin(); entry != States().end(); ++entry) {
    if (!entry->second->Holds(port, listening, idle)) continue;
    std::shared_ptr<ConnectionState> state = std::move(entry->second);
    States().erase(entry);
    return state;
  }
  auto& unowned = Unowned();
  for (auto entry = unowned.begin(); entry != unowned.end(); ++entry) {
    if (!(*entry)->Holds(port, listening, idle)) continue;
    std::shared_ptr<ConnectionState> state = std::move(*entry);
    unowned.erase(entry);
    return state;
  }
  return nullptr;
}

// The state whose receive thread this is, on that thread: Close and Open
// called from a handler on it must not wait for the thread itself.
thread_local const ConnectionState* tReceivingFor = nullptr;

}  // namespace

ConnectionState::ConnectionState(OvrinComm& owner) : record_(&owner.measurement) {}

std::uint64_t ConnectionState::Begin(const RunHandles& run) {
  // A command from a handler of a run given up may still be tracing.
  platform::MonitorLock sending(sending_);
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
  handlersFor_ = runs_;
  receiving_.store(running_ ? runs_ : 0);
  return running_ ? runs_ : 0;
}

void ConnectionState::Cancel() {
  platform::MonitorLock hold(monitor_);
  receiving_.store(0);
  running_ = false;
  run_.portHandle = platform::NoPort();
  run_.listening = run_.idle = nullptr;
  monitor_.WakeAll();
}

bool ConnectionState::Stop(bool waitForHandler) {
  platform::MonitorLock hold(monitor_);
  receiving_.store(0);
  if (waitForHandler) return false;
  handlersFor_ = 0;
  if (handlerRun_ != runs_) return false;
  abandoned_ = runs_;
  running_ = false;
  monitor_.WakeAll();
  return true;
}

void ConnectionState::WaitForHandler() {
  if (OnReceiveThread()) return;
  platform::MonitorLock hold(monitor_);
  const platform::Deadline never(platform::kNoTimeLimit);
  ++handlerWaiters_;
  while (handlersRunning_ != 0) monitor_.Wait(never);
  --handlerWaiters_;
}

bool ConnectionState::HoldsPort(platform::Port* port) {
  platform::MonitorLock hold(monitor_);
  return port != platform::NoPort() && run_.portHandle == port;
}

bool ConnectionState::Holds(platform::Port* port, platform::Event* listening, platform::Event* idle) {
  platform::MonitorLock hold(monitor_);
  return run_.portHandle != platform::NoPort() && run_.portHandle == port && run_.listening == listening &&
         run_.idle == idle;
}

void ConnectionState::BindRecord(MeasureRecord& record) {
  platform::MonitorLock hold(monitor_);
  record_ = &record;
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

void ConnectionState::Deliver(std::uint64_t run, const MeasureRecord& record, const char* line, std::size_t length,
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
  WindowHandle window;
  {
    platform::MonitorLock hold(monitor_);
    if (Abandoned(run)) return;
    *record_ = record;
    reading.sequence = ++sequence_;
    if (count_ == size_) {  // full: the oldest goes
      oldest_ = (oldest_ + 1) % size_;
      --count_;
      ++dropped_;
    }
    ring_[(oldest_ + count_) % size_] = reading;
    ++count_;
    invoke = handlersFor_ == run ? invoke_ : nullptr;
    target = target_;
    context = context_;
    window = run_.window;
    // Idle before anyone sees the reading: a command the host or the handler
    // sends at once sets listening after this, never before.
    SwitchInside(false);
    if (invoke != nullptr) {
      handlerRun_ = run;
      ++handlersRunning_;
    }
  }
  // Waiters are woken once the lock is free: woken inside it, each would
  // only wait for the lock next.
  monitor_.WakeAll();
  if (invoke != nullptr) {
    // No handler once a close that does not wait for it has begun, though it
    // began only now (the class's Close lets the line's pass run to its end).
    if (handlersFor_.load() == run) invoke(reading, target, context);
    bool wake = false;
    {
      platform::MonitorLock hold(monitor_);
      if (handlerRun_ == run) handlerRun_ = 0;
      --handlersRunning_;
      wake = handlerWaiters_ != 0;
      // Closed meanwhile without waiting: the window may be gone with it.
      if (Abandoned(run)) window = nullptr;
    }
    if (wake) monitor_.WakeAll();
  }
  if (window != nullptr) platform::PostNotification(window, WM_MEASURE_READY, 1, 0);
}

void ConnectionState::ThreadEnded(std::uint64_t run, bool lost) {
  bool notify;
  {
    platform::MonitorLock hold(monitor_);
    if (Abandoned(run)) return;
    running_ = false;
    notify = notifyLinkLost_;
  }
  monitor_.WakeAll();
  if (!lost) return;
  TraceLink(TraceKind::kLinkLost, run_.port);
  if (run_.window != nullptr && notify) platform::PostNotification(run_.window, WM_LINK_LOST, 0, 0);
}

void ConnectionState::SetListening(bool listen) {
  if (receiving_.load() == 0) return;
  // Under the lock: the two changes go together, and Finish does not take
  // the events away between them.
  platform::MonitorLock hold(monitor_);
  SwitchInside(listen);
}

void ConnectionState::SwitchInside(bool listen) {
  if (receiving_.load() == 0 || run_.listening == nullptr) return;
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
  return *record_;
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
  // Every object is made writable; a copy that takes over its original's run
  // binds the record to its own field.
  return StateOf(const_cast<OvrinComm&>(connection), false);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

std::shared_ptr<ConnectionState> StateOf(OvrinComm& connection, bool create) {
  std::shared_ptr<ConnectionState> gone;  // released outside the lock
  platform::ScopedProcessLock lock;
  Table& states = States();
  auto found = states.find(&connection);
  const bool carries = OvrinCommAccess::PortHandle(connection) != platform::NoPort();
  if (found != states.end() && (!carries || found->second->Holds(OvrinCommAccess::PortHandle(connection),
                                                                 OvrinCommAccess::ListenEvent(connection),
                                                                 OvrinCommAccess::IdleEvent(connection)))) {
    return found->second;
  }
  try {
    // Handles of a run that is not this address's own: the object was moved
    // here from where that run began.
    std::shared_ptr<ConnectionState> moved = carries ? TakeMovedRun(connection) : nullptr;
    if (moved != nullptr) {
      moved->BindRecord(connection.measurement);
      if (found == states.end()) return states.emplace(&connection, std::move(moved)).first->second;
      // What was here moved on too (CArray::InsertAt): findable by its handles.
      gone = std::move(found->second);
      const RunHandles& run = gone->Run();
      if (gone->Holds(run.portHandle, run.listening, run.idle)) Unowned().push_back(std::move(gone));
      found->second = std::move(moved);
      return found->second;
    }
    // Handles of no open run (a copy of an object closed since) reach nothing.
    if (carries) return nullptr;
    if (found != states.end()) return found->second;
    if (!create) return nullptr;
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
  const RunHandles& run = gone->Run();
  if (gone->Holds(run.portHandle, run.listening, run.idle)) {
    try {
      Unowned().push_back(std::move(gone));
    } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): then only Close on its copy cannot find it
    }
  }
}

}  // namespace ovrin
