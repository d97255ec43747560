#include "fake_platform.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace fake {
namespace {

using ovrin::platform::Handle;
using ovrin::platform::ListEntry;

World* gWorld = new World;

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
};

struct List {};
struct Settings {};

std::map<std::string, Port*>& OpenPorts() {
  static std::map<std::string, Port*> ports;
  return ports;
}

Port* AsPort(Handle handle) { return static_cast<Port*>(handle); }
PortScript& ScriptOf(const Port* port) { return TheWorld().ports[port->name]; }

}  // namespace

World& TheWorld() { return *gWorld; }

void Reset() {
  for (auto& open : OpenPorts()) delete open.second;
  OpenPorts().clear();
  delete gWorld;
  gWorld = new World;
  ovrin::SetMessageBoxHandler(nullptr, nullptr);
}

void Receive(const std::string& name, const std::string& chunk) {
  World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
  auto open = OpenPorts().find(name);
  if (open == OpenPorts().end()) return;
  open->second->received.push_back(chunk);
  world.changed.notify_all();
}

void LoseLink(const std::string& name) {
  World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
  auto open = OpenPorts().find(name);
  if (open != OpenPorts().end()) open->second->lost = true;
  world.changed.notify_all();
}

bool AwaitPosted(std::size_t count) {
  World& world = TheWorld();
  std::unique_lock<std::mutex> hold(world.lock);
  return world.changed.wait_for(hold, std::chrono::seconds(5), [&] { return world.posted.size() >= count; });
}

std::vector<std::string> LogOf(const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& entry : TheWorld().log) {
    if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
  }
  return found;
}

}  // namespace fake

namespace ovrin {
namespace platform {

using fake::TheWorld;

Handle OpenPort(const std::string& name) {
  fake::World& world = TheWorld();
  world.log.push_back("open " + name);
  auto script = world.ports.find(name);
  if (script == world.ports.end() || !script->second.opens || fake::OpenPorts().count(name) != 0) return NoPort();
  std::lock_guard<std::mutex> hold(world.lock);
  auto* port = new fake::Port{name, {}, false, false};
  fake::OpenPorts()[name] = port;
  ++world.liveHandles;
  return port;
}

bool ConfigurePort(Handle port) {
  fake::AsPort(port)->woken = false;
  return fake::ScriptOf(fake::AsPort(port)).configures;
}

void PurgePort(Handle port) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  fake::AsPort(port)->received.clear();
}

std::uint32_t ClearErrorsAndCountQueued(Handle handle) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  std::size_t queued = 0;
  for (const std::string& chunk : fake::AsPort(handle)->received) queued += chunk.size();
  return static_cast<std::uint32_t>(queued);
}

long ReadQueued(Handle handle, Handle, char* buffer, std::size_t capacity) {
  fake::Port* port = fake::AsPort(handle);
  if (fake::ScriptOf(port).readFails) return -1;
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  if (port->received.empty()) return 0;
  std::string& chunk = port->received.front();
  const std::size_t count = std::min(capacity, chunk.size());
  chunk.copy(buffer, count);
  chunk.erase(0, count);
  if (chunk.empty()) port->received.pop_front();
  return static_cast<long>(count);
}

WaitResult WaitForInput(Handle handle, Handle, int timeoutMs) {
  fake::Port* port = fake::AsPort(handle);
  fake::World& world = TheWorld();
  std::unique_lock<std::mutex> hold(world.lock);
  std::deque<WaitResult>& scripted = world.ports[port->name].waitResults;
  if (!scripted.empty()) {
    const WaitResult result = scripted.front();
    scripted.pop_front();
    return result;
  }
  auto ready = [port] { return !port->received.empty() || port->woken || port->lost; };
  // A bounded wait is the probe's: nothing else feeds the port during a
  // search, so what is not there now never comes.
  if (timeoutMs >= 0 && !ready()) return WaitResult::kTimedOut;
  world.changed.wait(hold, ready);
  return port->lost && port->received.empty() && !port->woken ? WaitResult::kFailed : WaitResult::kReady;
}

void WakeWaiters(Handle handle) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  fake::AsPort(handle)->woken = true;
  TheWorld().changed.notify_all();
}

WriteResult WritePort(Handle handle, Handle, const void* data, std::uint32_t size, int timeoutMs,
                      std::uint32_t* written) {
  fake::Port* port = fake::AsPort(handle);
  fake::World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
  const std::string bytes(static_cast<const char*>(data), size);
  world.writes.push_back(fake::Write{port->name, bytes, timeoutMs});
  const fake::PortScript& script = world.ports[port->name];
  if (script.writeResult != WriteResult::kDoneAtOnce && script.writeResult != WriteResult::kDoneAfterWait) {
    return script.writeResult;
  }
  *written = size;
  const std::string* answer = nullptr;
  if (bytes == std::string("N02N\r\n\0", 7)) answer = &script.probeAnswer;
  if (bytes == std::string("sm 1\r\n\0", 7)) answer = &script.startAnswer;
  if (bytes == "g\r\n") answer = &script.measureAnswer;
  if (answer != nullptr && !answer->empty()) port->received.push_back(*answer);
  world.changed.notify_all();
  return script.writeResult;
}

void ClosePort(Handle handle) {
  fake::Port* port = fake::AsPort(handle);
  fake::World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
  world.log.push_back("close " + port->name);
  fake::OpenPorts().erase(port->name);
  --world.liveHandles;
  delete port;
}

Handle CreateManualEvent(bool signalled) {
  fake::World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
  if (world.eventFails(world.eventsCreated++)) return nullptr;
  ++world.liveHandles;
  auto* event = new fake::Event;
  event->set = signalled;
  return event;
}

void SetEvent(Handle event) { static_cast<fake::Event*>(event)->set = true; }
void ResetEvent(Handle event) { static_cast<fake::Event*>(event)->set = false; }
bool IsEventSet(Handle event) { return static_cast<fake::Event*>(event)->set; }

void CloseEvent(Handle event) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  --TheWorld().liveHandles;
  delete static_cast<fake::Event*>(event);
}

namespace {
std::mutex gProcessLock;
}  // namespace

ScopedProcessLock::ScopedProcessLock() { gProcessLock.lock(); }
ScopedProcessLock::~ScopedProcessLock() { gProcessLock.unlock(); }

Handle StartThreadSuspended(ThreadProc proc, void* argument) {
  fake::World& world = TheWorld();
  if (world.threadFails) return nullptr;
  auto* thread = new fake::Thread;
  thread->thread = std::thread([thread, proc, argument] {
    {
      std::unique_lock<std::mutex> hold(TheWorld().lock);
      TheWorld().changed.wait(hold, [thread] { return thread->resumed; });
    }
    proc(argument);
  });
  std::lock_guard<std::mutex> hold(world.lock);
  ++world.liveHandles;
  ++world.threadsStarted;
  return thread;
}

void ResumeThread(Handle handle) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  static_cast<fake::Thread*>(handle)->resumed = true;
  TheWorld().changed.notify_all();
}

void JoinThread(Handle handle) {
  ResumeThread(handle);
  auto* thread = static_cast<fake::Thread*>(handle);
  thread->thread.join();
  delete thread;
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  --TheWorld().liveHandles;
}

void SleepMs(int milliseconds) {
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  TheWorld().slept += milliseconds;
}

int DefaultMessageBox(const char* text, unsigned style) {
  fake::World& world = TheWorld();
  std::lock_guard<std::mutex> hold(world.lock);
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
  std::lock_guard<std::mutex> hold(TheWorld().lock);
  TheWorld().posted.push_back(Notification{message, wParam, lParam});
  TheWorld().changed.notify_all();
}

Handle OpenPortList() {
  if (!TheWorld().listOpens) return nullptr;
  ++TheWorld().liveHandles;
  return new fake::List;
}

ListEntry ReadPortListEntry(Handle, std::uint32_t index, std::string* data) {
  fake::World& world = TheWorld();
  world.log.push_back("list " + std::to_string(index));
  if (index >= world.listed.size()) return ListEntry::kEnd;
  if (world.listed[index].unfit) return ListEntry::kUnfit;
  *data = world.listed[index].data;
  return ListEntry::kName;
}

void ClosePortList(Handle list) {
  --TheWorld().liveHandles;
  delete static_cast<fake::List*>(list);
}

// The fake names ports as Windows does: upper case, "COM" only, \\.\ beyond
// four characters.
bool PortNameFromListing(std::string* name) {
  for (char& c : *name) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (name->compare(0, 3, "COM") != 0) return false;
  if (name->size() > 4) name->insert(0, "\\\\.\\");
  return true;
}

Handle OpenSettings(bool* created) {
  fake::World& world = TheWorld();
  if (!world.settingsOpen) return nullptr;
  *created = world.settingsCreated;
  ++world.liveHandles;
  return new fake::Settings;
}

bool ReadRememberedPort(Handle, std::string* name) {
  TheWorld().log.push_back("read remembered");
  if (!TheWorld().hasRemembered) return false;
  *name = TheWorld().remembered;
  return true;
}

bool WriteRememberedPort(Handle, const std::string& name) {
  TheWorld().log.push_back("remember " + name);
  TheWorld().hasRemembered = true;
  TheWorld().remembered = name;
  return true;
}

void CloseSettings(Handle settings) {
  --TheWorld().liveHandles;
  delete static_cast<fake::Settings*>(settings);
}

}  // namespace platform
}  // namespace ovrin
