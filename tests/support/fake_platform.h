// A scripted platform for the connection code: ports, the port list, the
// remembered port, events and message boxes as the test sets them up, with a
// log of what the code did. For failures the real OS will not produce on demand.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ovrin_host.h"
#include "platform/platform.h"

namespace fake {

using ovrin::platform::WaitResult;
using ovrin::platform::WriteResult;

struct PortScript {
  bool opens = true;
  ovrin::platform::OpenError openError = ovrin::platform::OpenError::kBusy;  // when it does not open
  bool configures = true;                                                    // GetCommState succeeds
  std::string probeAnswer;                                                   // queued when the probe is written
  std::string startAnswer;                                                   // queued when "sm 1" is written
  std::string measureAnswer;                                                 // queued when "g" is written
  WriteResult writeResult = WriteResult::kDoneAtOnce;
  std::deque<WaitResult> waitResults;  // returned first by WaitForInput, in order
  bool readFails = false;
  bool openBlocks = false;  // the open waits until World::openReleased (or a cancel it honours)
};

struct Entry {
  std::string data;
  bool unfit = false;
  std::string label = "Serial";  // what the system calls the entry
};

struct Write {
  std::string port;
  std::string bytes;
  int timeoutMs;
};

// Everything the fake knows: the script a test sets up and what the code did.
// It is shared with receive threads, so it is reached only under its lock:
// through Locked() or Snapshot() in a test, and inside every fake call.
struct World {
  // Set up by the test.
  std::map<std::string, PortScript> ports;
  std::vector<Entry> listed;
  bool listOpens = true;
  std::function<bool(int index)> eventFails = [](int) { return false; };  // by creation index
  bool threadFails = false;
  bool settingsOpen = true;
  bool settingsCreated = false;
  bool hasRemembered = false;
  std::string remembered;
  std::deque<int> answers;      // buttons the default message box returns; else Yes/OK
  bool openReleased = false;    // blocked opens complete
  bool cancelHonoured = false;  // CancelBlockingCall ends a blocked open, which then fails

  // What the code did. `log` holds "open NAME", "close NAME", "box TEXT", "list N".
  std::vector<std::string> log;
  std::vector<std::string> discarded;  // ports closed with their output discarded
  std::vector<Write> writes;
  std::vector<std::pair<std::string, unsigned>> boxes;
  std::vector<ovrin::Notification> posted;
  int eventsCreated = 0;
  int liveHandles = 0;  // ports, events, lists, settings and threads not released
  int slept = 0;
  int threadsStarted = 0;
  int cancels = 0;  // CancelBlockingCall calls
};

// The world under its lock for as long as this object lives. A test sets up or
// looks at it in one expression (`fake::Locked()->ports["COM1"].opens = false;`)
// or holds one in a block; never across a call into the library, whose fake
// calls take the same lock.
class LockedWorld {
 public:
  LockedWorld(World& world, std::mutex& lock) : world_(world), hold_(lock) {}
  World* operator->() { return &world_; }
  World& operator*() { return world_; }

 private:
  World& world_;
  std::unique_lock<std::mutex> hold_;
};

LockedWorld Locked();
// A copy of the world, taken under its lock: for looking through while a
// receive thread may still add to it.
World Snapshot();
// A new, empty world. Only while no thread of the library runs.
void Reset();

// The system lists one port, `name`, and a meter answers the probe on it.
void ListMeter(const std::string& name);
// Bytes the meter "sends": queued on the open port called name, read in one
// ReadQueued each (a chunk is never merged with the next).
void Receive(const std::string& name, const std::string& chunk);
// Lets every blocked open complete (PortScript::openBlocks).
void ReleaseBlockedOpens();
// Makes the next waits of port name fail (the link is gone).
void LoseLink(const std::string& name);
// While held, a waiter woken inside a Monitor stops before it looks at its
// state again, until released: as a busy system may keep it from running.
void HoldWokenWaiters(bool hold);
// Waits until at least `waiting` threads wait inside a Monitor and
// `heldBack` woken ones are held back; false after 5 s.
bool AwaitWaiters(int waiting, int heldBack);
// Called by the fake Monitor around every wait.
void MonitorWaitBegins();
void MonitorWaitEnds();
// Waits until `count` notifications were posted; false after 5 s.
bool AwaitPosted(std::size_t count);
// The log entries that start with prefix.
std::vector<std::string> LogOf(const std::string& prefix);

}  // namespace fake
