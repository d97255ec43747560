#include "fake_platform.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

// What the scripted platform's handles are.
namespace ovrin {
namespace platform {

struct Port {
  std::string name;
  std::deque<std::string> received;
  bool woken = false;
  bool lost = false;
};

struct Event {
  std::atomic<bool> set;
};

struct Thread {
  std::thread thread;
  bool resumed = false;
  int owners = 2;         // under the fake lock: the thread until it has ended, and its creator
  bool detached = false;  // under the fake lock
};

struct PortList {};
struct Settings {};

}  // namespace platform
}  // namespace ovrin

namespace fake {
namespace {

using ovrin::platform::ListEntry;
using ovrin::platform::Port;

// The world, the lock every access to it takes, and the condition that tells
// waiters it changed.
World* gWorld = new World;
std::mutex gLock;
std::condition_variable gChanged;

// Guarded by gLock, as the world is.
std::map<std::string, Port*>& OpenPorts() {
  static std::map<std::string, Port*> ports;
  return ports;
}

// Call with gLock held.
PortScript& ScriptOf(const Port* port) { return gWorld->ports[port->name]; }

}  // namespace

LockedWorld Locked() { return LockedWorld(*gWorld, gLock); }

namespace {
// Threads inside a Monitor's Wait, and the gate that holds woken ones back.
std::mutex gGateLock;
std::condition_variable gGateChanged;
bool gGateHeld = false;
int gWaiting = 0;
int gHeldBack = 0;
}  // namespace

void HoldWokenWaiters(bool hold) {
  {
    std::lock_guard<std::mutex> guard(gGateLock);
    gGateHeld = hold;
  }
  gGateChanged.notify_all();
}

bool AwaitWaiters(int waiting, int heldBack) {
  std::unique_lock<std::mutex> guard(gGateLock);
  return gGateChanged.wait_for(guard, std::chrono::seconds(5),
                               [&] { return gWaiting >= waiting && gHeldBack >= heldBack; });
}

void MonitorWaitBegins() {
  {
    std::lock_guard<std::mutex> guard(gGateLock);
    ++gWaiting;
  }
  gGateChanged.notify_all();
}

void MonitorWaitEnds() {
  std::unique_lock<std::mutex> guard(gGateLock);
  --gWaiting;
  if (!gGateHeld) return;
  ++gHeldBack;
  gGateChanged.notify_all();
  gGateChanged.wait(guard, [] { return !gGateHeld; });
  --gHeldBack;
}

World Snapshot() {
  std::lock_guard<std::mutex> hold(gLock);
  return *gWorld;
}

void Reset() {
  std::lock_guard<std::mutex> hold(gLock);
  for (auto& open : OpenPorts()) delete open.second;
  OpenPorts().clear();
  delete gWorld;
  gWorld = new World;
  ovrin::SetMessageBoxHandler(nullptr, nullptr);
}

void ListMeter(const std::string& name) {
  std::lock_guard<std::mutex> hold(gLock);
  gWorld->ports[name].probeAnswer = "12....+00000042\r\n";
  gWorld->listed = {{name}};
}

void Receive(const std::string& name, const std::string& chunk) {
  std::lock_guard<std::mutex> hold(gLock);
  auto open = OpenPorts().find(name);
  if (open == OpenPorts().end()) return;
  open->second->received.push_back(chunk);
  gChanged.notify_all();
}

void ReleaseBlockedOpens() {
  std::lock_guard<std::mutex> hold(gLock);
  gWorld->openReleased = true;
  gChanged.notify_all();
}

void LoseLink(const std::string& name) {
  std::lock_guard<std::mutex> hold(gLock);
  auto open = OpenPorts().find(name);
  if (open != OpenPorts().end()) open->second->lost = true;
  gChanged.notify_all();
}

bool AwaitPosted(std::size_t count) {
  std::unique_lock<std::mutex> hold(gLock);
  return gChanged.wait_for(hold, std::chrono::seconds(5), [&] { return gWorld->posted.size() >= count; });
}

std::vector<std::string> LogOf(const std::string& prefix) {
  std::lock_guard<std::mutex> hold(gLock);
  std::vector<std::string> found;
  for (const std::string& entry : gWorld->log) {
    if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
  }
  return found;
}

}  // namespace fake

namespace ovrin {
namespace platform {

using Hold = std::lock_guard<std::mutex>;

Port* OpenPort(const std::string& name, OpenFailure* failure) {
  std::unique_lock<std::mutex> hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  world.log.push_back("open " + name);
  auto script = world.ports.find(name);
  if (script != world.ports.end() && script->second.openBlocks) {
    // A cancel counts even when it came before the open began: the thread
    // may not have reached the call yet when the search gives it up.
    auto ends = [&world] { return world.openReleased || (world.cancelHonoured && world.cancels > 0); };
    fake::gChanged.wait(hold, ends);
    if (!world.openReleased) {
      world.log.push_back("cancelled " + name);
      if (failure != nullptr) *failure = {OpenError::kOther, 995};  // ERROR_OPERATION_ABORTED
      return NoPort();
    }
  }
  if (script == world.ports.end() || !script->second.opens || fake::OpenPorts().count(name) != 0) {
    if (failure != nullptr) {
      const bool exists = script != world.ports.end();
      *failure = {!exists                ? OpenError::kNoSuchDevice
                  : script->second.opens ? OpenError::kBusy
                                         : script->second.openError,
                  0};
    }
    return NoPort();
  }
  auto* port = new Port{name, {}, false, false};
  fake::OpenPorts()[name] = port;
  ++world.liveHandles;
  return port;
}

bool ConfigureForMeter(Port* port) {
  Hold hold(fake::gLock);
  port->woken = false;
  return fake::ScriptOf(port).configures;
}

void DiscardQueues(Port* port) {
  Hold hold(fake::gLock);
  port->received.clear();
}

std::uint32_t CountQueuedInput(Port* port) {
  Hold hold(fake::gLock);
  std::size_t queued = 0;
  for (const std::string& chunk : port->received) queued += chunk.size();
  return static_cast<std::uint32_t>(queued);
}

long ReadQueued(Port* port, Event*, char* buffer, std::size_t capacity) {
  Hold hold(fake::gLock);
  if (fake::ScriptOf(port).readFails) return -1;
  if (port->received.empty()) return 0;
  std::string& chunk = port->received.front();
  const std::size_t count = std::min(capacity, chunk.size());
  chunk.copy(buffer, count);
  chunk.erase(0, count);
  if (chunk.empty()) port->received.pop_front();
  return static_cast<long>(count);
}

WaitResult WaitForInput(Port* port, Event*, int timeoutMs) {
  std::unique_lock<std::mutex> hold(fake::gLock);
  std::deque<WaitResult>& scripted = fake::ScriptOf(port).waitResults;
  if (!scripted.empty()) {
    const WaitResult result = scripted.front();
    scripted.pop_front();
    return result;
  }
  auto ready = [port] { return !port->received.empty() || port->woken || port->lost; };
  // A bounded wait is the probe's: nothing else feeds the port during a
  // search, so what is not there now never comes.
  if (timeoutMs >= 0 && !ready()) return WaitResult::kTimedOut;
  fake::gChanged.wait(hold, ready);
  return port->lost && port->received.empty() && !port->woken ? WaitResult::kFailed : WaitResult::kReady;
}

// The scripted wait, then the read: waitResults script both.
long ReadWhenQueued(Port* port, Event* event, char* buffer, std::size_t capacity) {
  if (WaitForInput(port, event, kNoTimeLimit) == WaitResult::kFailed) return -1;
  return ReadQueued(port, event, buffer, capacity);
}

void WakeWaiters(Port* port) {
  Hold hold(fake::gLock);
  port->woken = true;
  fake::gChanged.notify_all();
}

WriteResult WritePort(Port* port, Event*, const void* data, std::uint32_t size, int timeoutMs, std::uint32_t* written) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  const std::string bytes(static_cast<const char*>(data), size);
  world.writes.push_back(fake::Write{port->name, bytes, timeoutMs});
  const fake::PortScript& script = fake::ScriptOf(port);
  if (script.writeResult != WriteResult::kDoneAtOnce && script.writeResult != WriteResult::kDoneAfterWait) {
    return script.writeResult;
  }
  *written = size;
  const std::string* answer = nullptr;
  if (bytes == std::string("N02N\r\n\0", 7)) answer = &script.probeAnswer;
  if (bytes == std::string("sm 1\r\n\0", 7)) answer = &script.startAnswer;
  if (bytes == "g\r\n") answer = &script.measureAnswer;
  if (answer != nullptr && !answer->empty()) port->received.push_back(*answer);
  fake::gChanged.notify_all();
  return script.writeResult;
}

void ClosePort(Port* port, PendingOutput output) {
  Hold hold(fake::gLock);
  fake::gWorld->log.push_back("close " + port->name);
  if (output == PendingOutput::kDiscard) fake::gWorld->discarded.push_back(port->name);
  fake::OpenPorts().erase(port->name);
  --fake::gWorld->liveHandles;
  delete port;
}

Event* CreateManualEvent(bool signalled) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  if (world.eventFails(world.eventsCreated++)) return nullptr;
  ++world.liveHandles;
  auto* event = new Event;
  event->set = signalled;
  return event;
}

void SignalEvent(Event* event) { event->set = true; }
void UnsignalEvent(Event* event) { event->set = false; }
bool IsSignalled(Event* event) { return event->set; }

void CloseEvent(Event* event) {
  Hold hold(fake::gLock);
  --fake::gWorld->liveHandles;
  delete event;
}

namespace {
std::mutex gProcessLock;

struct MonitorState {
  std::mutex lock;
  std::condition_variable changed;
};
MonitorState& StateOf(unsigned char* storage) { return *reinterpret_cast<MonitorState*>(storage); }

}  // namespace

Monitor::Monitor() {
  static_assert(sizeof(MonitorState) <= sizeof storage_, "Monitor storage too small");
  new (storage_) MonitorState;
}
Monitor::~Monitor() { StateOf(storage_).~MonitorState(); }
void Monitor::Enter() { StateOf(storage_).lock.lock(); }
void Monitor::Leave() { StateOf(storage_).lock.unlock(); }
void Monitor::WakeAll() { StateOf(storage_).changed.notify_all(); }

bool Monitor::Wait(const Deadline& deadline) {
  MonitorState& state = StateOf(storage_);
  std::unique_lock<std::mutex> held(state.lock, std::adopt_lock);
  bool woken = true;
  // Counted while the monitor is still entered: a wake sent after a test saw
  // the count reaches this wait.
  fake::MonitorWaitBegins();
  if (deadline.Never()) {
    state.changed.wait(held);
  } else {
    woken = state.changed.wait_until(held, deadline.End()) == std::cv_status::no_timeout;
  }
  // A test may hold a woken waiter back, as a busy system can, before it
  // looks at its state again.
  held.unlock();
  fake::MonitorWaitEnds();
  held.lock();
  held.release();  // still entered: the caller leaves
  return woken;
}

std::int64_t UtcNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}
std::int64_t MonotonicNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ScopedProcessLock::ScopedProcessLock() { gProcessLock.lock(); }
ScopedProcessLock::~ScopedProcessLock() { gProcessLock.unlock(); }

Thread* StartThreadSuspended(ThreadProc proc, void* argument) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  if (world.threadFails) return nullptr;
  auto* thread = new Thread;
  thread->thread = std::thread([thread, proc, argument] {
    {
      std::unique_lock<std::mutex> waiting(fake::gLock);
      fake::gChanged.wait(waiting, [thread] { return thread->resumed; });
    }
    proc(argument);
    // A detached thread's handle is live until the thread has ended.
    Hold ended(fake::gLock);
    if (thread->detached) {
      --fake::gWorld->liveHandles;
      fake::gChanged.notify_all();
    }
    if (--thread->owners == 0) delete thread;
  });
  ++world.liveHandles;
  ++world.threadsStarted;
  return thread;
}

void ResumeThread(Thread* thread) {
  Hold hold(fake::gLock);
  thread->resumed = true;
  fake::gChanged.notify_all();
}

void JoinThread(Thread* thread) {
  ResumeThread(thread);
  thread->thread.join();
  delete thread;
  Hold hold(fake::gLock);
  --fake::gWorld->liveHandles;
}

void CancelBlockingCall(Thread*) {
  Hold hold(fake::gLock);
  ++fake::gWorld->cancels;
  fake::gChanged.notify_all();
}

void DetachThread(Thread* thread) {
  ResumeThread(thread);
  Hold hold(fake::gLock);
  thread->thread.detach();
  thread->detached = true;
  if (--thread->owners > 0) return;  // it ends later, and says so
  delete thread;
  --fake::gWorld->liveHandles;
}

void SleepMs(int milliseconds) {
  Hold hold(fake::gLock);
  fake::gWorld->slept += milliseconds;
}

int DefaultMessageBox(const char* text, unsigned style) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  world.boxes.emplace_back(text, style);
  world.log.push_back(std::string("box ") + text);
  if (!world.answers.empty()) {
    const int answer = world.answers.front();
    world.answers.pop_front();
    return answer;
  }
  return style == kStyleYesNo ? kButtonYes : kButtonOk;
}

void PostNotification(WindowHandle, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  Hold hold(fake::gLock);
  fake::gWorld->posted.push_back(Notification{message, wParam, lParam});
  fake::gChanged.notify_all();
}

PortList* OpenPortList() {
  Hold hold(fake::gLock);
  if (!fake::gWorld->listOpens) return nullptr;
  ++fake::gWorld->liveHandles;
  return new PortList;
}

ListEntry ReadPortListEntry(PortList*, std::uint32_t index, std::string* data, std::string* label) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  world.log.push_back("list " + std::to_string(index));
  if (index >= world.listed.size()) return ListEntry::kEnd;
  if (label != nullptr) *label = world.listed[index].label;
  if (world.listed[index].unfit) return ListEntry::kUnfit;
  *data = world.listed[index].data;
  return ListEntry::kName;
}

void ClosePortList(PortList* list) {
  Hold hold(fake::gLock);
  --fake::gWorld->liveHandles;
  delete list;
}

// The fake names ports as Windows does: upper case, "COM" only, \\.\ beyond
// four characters.
bool PortNameFromListing(std::string* name) {
  for (char& c : *name) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (name->compare(0, 3, "COM") != 0) return false;
  if (name->size() > 4) name->insert(0, "\\\\.\\");
  return true;
}

// The fake's ports are no devices anyone could name.
PortIdentity IdentifyPort(const std::string&) { return PortIdentity{}; }

Settings* OpenSettings(bool* created) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  if (!world.settingsOpen) return nullptr;
  *created = world.settingsCreated;
  ++world.liveHandles;
  return new Settings;
}

bool ReadRememberedPort(Settings*, std::string* name) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  world.log.push_back("read remembered");
  if (!world.hasRemembered) return false;
  *name = world.remembered;
  return true;
}

bool WriteRememberedPort(Settings*, const std::string& name) {
  Hold hold(fake::gLock);
  fake::World& world = *fake::gWorld;
  world.log.push_back("remember " + name);
  world.hasRemembered = true;
  world.remembered = name;
  return true;
}

void CloseSettings(Settings* settings) {
  Hold hold(fake::gLock);
  --fake::gWorld->liveHandles;
  delete settings;
}

}  // namespace platform
}  // namespace ovrin
