// The one door from the portable code to the operating system. Not part of
// the library's interface. Each build links exactly one implementation:
// win32/, posix/, or the tests' scripted fake.
//
// Every kind of handle has a type of its own, so that an event cannot be
// passed where a port belongs. The types are opaque: only the implementation
// behind this seam knows what they are (on Windows a HANDLE or HKEY in
// disguise; on POSIX a structure of its own). OvrinComm's exported fields hold
// plain OvrinHandles; src/connection/handles.h converts between the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ovrin_diagnostics.h"
#include "ovrin_host.h"
#include "ovrin_types.h"
#include "platform/deadline.h"

namespace ovrin {
namespace platform {

struct Port;
struct Event;
struct Thread;
struct PortList;
struct Settings;

// The port of a connection that holds no port (INVALID_HANDLE_VALUE on Windows).
inline Port* NoPort() { return reinterpret_cast<Port*>(static_cast<std::intptr_t>(-1)); }

// ---- Serial port -------------------------------------------------------------

// Why a port could not be opened.
enum class OpenError { kBusy, kNoPermission, kNoSuchDevice, kNotSerial, kOther };
struct OpenFailure {
  OpenError reason;
  int systemError;  // errno, GetLastError()
};
// Opens a port for exclusive use; NoPort() when it cannot be had, and then
// *failure (unless null) says why.
Port* OpenPort(const std::string& name, OpenFailure* failure);
// Sets the meter's line (9600 8N1, flow control as found), read calls that
// never wait, write time-outs of 50 ms per byte + 1 s, and re-arms waits after
// WakeWaiters. False only when the current settings cannot be read.
bool ConfigureForMeter(Port* port);
// Discards both queues and aborts pending transfers.
void DiscardQueues(Port* port);
// Clears the port's error state; returns how many received bytes are queued.
std::uint32_t CountQueuedInput(Port* port);
// Clears the port's error state and reads up to `capacity` queued bytes
// without waiting (`event` as for WaitForInput). Bytes read (0 when none are
// queued), or -1 when the port can no longer be read.
long ReadQueued(Port* port, Event* event, char* buffer, std::size_t capacity);

enum class WaitResult {
  kReady,     // input arrived, or the wait was woken or interrupted: look again
  kTimedOut,  // nothing within the time-out
  kFailed     // the port cannot be waited on any more: the link is gone
};
// Waits for input on the port; timeoutMs -1 waits without limit. `event` is a
// manual-reset event for this wait (Windows signals it; POSIX needs none). No
// wait is left pending on return.
WaitResult WaitForInput(Port* port, Event* event, int timeoutMs);
// The receive thread's wait and read in one: waits without limit until input
// is queued, then reads up to `capacity` bytes of it (`event` as for
// WaitForInput). Bytes read; 0 when the wait was woken or found nothing to
// read (look again); -1 when the link is gone.
long ReadWhenQueued(Port* port, Event* event, char* buffer, std::size_t capacity);
// Ends every pending WaitForInput and ReadWhenQueued on the port at once, and
// makes later ones return at once until ConfigureForMeter re-arms the port.
void WakeWaiters(Port* port);

enum class WriteResult {
  kDoneAtOnce,     // written within the call, nothing to wait for
  kDoneAfterWait,  // written within the time-out
  kFailed,         // not written
  kTimedOut        // not written in time; no longer pending on return
};
// Writes `size` bytes as one transfer. timeoutMs -1 waits until the port's
// own write time-out ends it. `written` receives the byte count on kDoneAtOnce.
WriteResult WritePort(Port* port, Event* event, const void* data, std::uint32_t size, int timeoutMs,
                      std::uint32_t* written);
// What becomes of output still on its way when a port is released.
enum class PendingOutput {
  kLetLeave,  // a connection's last command: given the time a full 128-byte
              // output queue takes at 9600 baud plus the write time-out's
              // constant (1.15 s in all), then discarded
  kDiscard    // a rejected search candidate: its probe was answered or not
};
// Releases the port. Never waits longer than kLetLeave's bound.
void ClosePort(Port* port, PendingOutput output);

// ---- Events, locks, threads, time -------------------------------------------

// A manual-reset event; nullptr when it cannot be created. The connection's
// listening and idle states, and the completion of one transfer on Windows.
Event* CreateManualEvent(bool signalled);
void SignalEvent(Event* event);
void UnsignalEvent(Event* event);
bool IsSignalled(Event* event);
void CloseEvent(Event* event);

// Holds one process-wide lock for its lifetime: for short changes that must
// not interleave (the two event changes of SetListen, the host's handler).
class ScopedProcessLock {
 public:
  ScopedProcessLock();
  ~ScopedProcessLock();
  ScopedProcessLock(const ScopedProcessLock&) = delete;
  ScopedProcessLock& operator=(const ScopedProcessLock&) = delete;
};

// A lock with a condition on it: state that a receive thread shares with
// the host's threads, and waiting until that state changes.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void Enter();
  void Leave();
  // Called inside the monitor: leaves it until WakeAll or the deadline, and
  // enters again. False on time-out; may also return early, so callers look
  // at their state again.
  bool Wait(const Deadline& deadline);
  void WakeAll();

 private:
  alignas(16) unsigned char storage_[128];  // the platform's lock and condition
};

class MonitorLock {
 public:
  explicit MonitorLock(Monitor& monitor) : monitor_(monitor) { monitor_.Enter(); }
  ~MonitorLock() { monitor_.Leave(); }
  MonitorLock(const MonitorLock&) = delete;
  MonitorLock& operator=(const MonitorLock&) = delete;

 private:
  Monitor& monitor_;
};

// Now, as nanoseconds since 1970-01-01 UTC, and on a clock that never goes back.
std::int64_t UtcNowNs();
std::int64_t MonotonicNowNs();

using ThreadProc = unsigned (*)(void* argument);
// Creates a thread that runs proc(argument) once ResumeThread lets it;
// nullptr when it cannot be created.
Thread* StartThreadSuspended(ThreadProc proc, void* argument);
void ResumeThread(Thread* thread);
// Waits until the thread has ended (at once if it has) and releases it.
void JoinThread(Thread* thread);
// Lets the thread run to its end with nobody waiting, and releases it.
void DetachThread(Thread* thread);
// Ends a blocking open the thread is making (a Bluetooth link being paged),
// where the system allows it (CancelSynchronousIo on Windows); elsewhere the
// open takes its course. Harmless when the thread makes no such call. Before
// DetachThread, which releases the thread.
void CancelBlockingCall(Thread* thread);
void SleepMs(int milliseconds);

// ---- Host ------------------------------------------------------------------

// Shows text with the given style when the host has no handler of its own.
int DefaultMessageBox(const char* text, unsigned style);
// Queues a notification for the host without waiting.
void PostNotification(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

// ---- The system's list of serial ports -------------------------------------

// nullptr when the list cannot be opened.
PortList* OpenPortList();
enum class ListEntry { kName, kUnfit, kEnd };
// Entry `index` of the list: its data in *data (kName), an entry that does not
// fit the buffers (kUnfit), or the end of the list (kEnd). *label (unless
// null) receives what the system calls the entry (kName and kUnfit).
ListEntry ReadPortListEntry(PortList* list, std::uint32_t index, std::string* data, std::string* label);
void ClosePortList(PortList* list);
// Turns a listed entry into the name to open; false when it is no port name
// this platform uses.
bool PortNameFromListing(std::string* name);
// What the system tells of a port: its kind, its name for it, its USB or
// Bluetooth identity. Every field may be unknown.
PortIdentity IdentifyPort(const std::string& name);

// ---- The remembered port ---------------------------------------------------

// Opens the per-user setting, creating it if needed; nullptr when neither
// works. *created tells whether it was new.
Settings* OpenSettings(bool* created);
// The remembered name; false when there is none or it does not fit 80 bytes.
bool ReadRememberedPort(Settings* settings, std::string* name);
// False when the name could not be stored.
bool WriteRememberedPort(Settings* settings, const std::string& name);
void CloseSettings(Settings* settings);

}  // namespace platform
}  // namespace ovrin
