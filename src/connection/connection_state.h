// The private state of one connection, beside the OvrinComm object that hosts
// see: its readings (a bounded queue that the receive thread fills and the
// host drains, and the handler called for each), the port name, the
// listen/idle switch, which thread is the receive thread, and the trace. It
// lives in a table keyed by the object's address, because hosts rely on the
// object's exported layout; the receive thread, the commands and Close talk
// to it alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ovrin_diagnostics.h"
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

// What a run works with: made by Open, owned by the OvrinComm's fields.
struct RunHandles {
  std::string port;
  platform::Port* portHandle;
  platform::Event* listening;
  platform::Event* idle;
  WindowHandle window;  // told of readings and, when asked, of a lost link
};

class ConnectionState {
 public:
  // The state of `owner`: the record it writes is the object's own exported
  // field (until a moved copy binds its own).
  explicit ConnectionState(OvrinComm& owner);
  ConnectionState(const ConnectionState&) = delete;
  ConnectionState& operator=(const ConnectionState&) = delete;

  // ---- Open and Close ----
  // Starts a new run: an empty queue of the set capacity, sequence and
  // dropped count from 0. Returns the run's number, which the receive thread
  // passes back; 0 when the queue's memory cannot be had.
  std::uint64_t Begin(const RunHandles& run);
  // Open failed after Begin: the run ends, its handles are forgotten and
  // waiters return.
  void Cancel();
  // Tells the receive thread to stop after its pass. A close that must not
  // wait for a handler (`waitForHandler` false) also ends the calling of
  // handlers; when one is running now, the run is abandoned: it has ended
  // for the host, and its thread, once the handler returns, ends without
  // touching the object or the run's handles. True when abandoned.
  bool Stop(bool waitForHandler);
  // After Close has stopped (or abandoned) the thread: the run's handles are
  // forgotten (the switch then does nothing) and the trace says it closed.
  void Finish();
  bool SetCapacity(std::size_t capacity);
  // Set by Begin before the receive thread starts and not changed while it
  // runs, so the thread and Close read them without the lock. (A thread
  // given up in a handler no longer reads them: its run may have a successor.)
  const RunHandles& Run() const { return run_; }
  // Whether the run holds exactly these handles (an object moved byte for
  // byte still carries them).
  bool Holds(platform::Port* port, platform::Event* listening, platform::Event* idle);
  bool HoldsPort(platform::Port* port);
  // Where the record goes: the object's own field, or a moved copy's.
  void BindRecord(MeasureRecord& record);
  // Until no handler runs (at once on the receive thread): the connection
  // and the handler's context may go once it returns.
  void WaitForHandler();

  // ---- The receive thread (`run` as Begin returned it) ----
  void EnterReceiveThread();
  bool OnReceiveThread() const;
  bool Receiving(std::uint64_t run) const { return receiving_.load() == run; }
  // Writes the record into the object, queues its reading and switches to
  // idle, in one step under the lock; then calls the handler and tells the
  // window. Never allocates. Nothing of an abandoned run.
  void Deliver(std::uint64_t run, const MeasureRecord& record, const char* line, std::size_t length,
               const Receipt& receipt);
  // The thread ends: the end of the run, and of the link when `lost` (the
  // window hears of it when the host asked). Nothing of an abandoned run.
  void ThreadEnded(std::uint64_t run, bool lost);

  // ---- Commands and the switch ----
  // Held while a command is written: DistanceMeasure may come from several
  // threads at once, and two commands must never interleave on the wire.
  platform::Monitor& Sending() { return sending_; }
  // Listening (the listen event set, idle clear) or idle (the other way).
  void SetListening(bool listen);
  void TraceBytes(TraceKind kind, const char* bytes, std::size_t size) const;

  // ---- The host ----
  bool Take(Reading* reading);
  ReadingWait WaitAndTake(Reading* reading, int timeoutMs);
  std::uint64_t Dropped();
  MeasureRecord Latest();
  void SetHandler(ReadingInvoker invoke, void (*target)(), void* context);
  // Whether the host asked for WM_LINK_LOST.
  void SetNotifyLinkLost(bool notify);

 private:
  bool TakeInside(Reading* reading);
  void SwitchInside(bool listen);  // SetListening inside the lock
  bool Abandoned(std::uint64_t run) const { return run != runs_ || run == abandoned_; }

  MeasureRecord* record_;  // the owner's public field
  // The run the receive thread goes on for; 0 once Close stopped it.
  std::atomic<std::uint64_t> receiving_{0};
  platform::Monitor monitor_;
  platform::Monitor sending_;
  RunHandles run_{};
  std::unique_ptr<Reading[]> ring_;
  std::size_t capacity_ = kDefaultReadingCapacity;  // for the next Begin
  std::size_t size_ = 0;                            // of the ring in use
  std::size_t oldest_ = 0;
  std::size_t count_ = 0;
  std::uint64_t sequence_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t runs_ = 0;  // Begin counts the runs
  // The run whose readings reach the handler: 0 once a close that does not
  // wait has begun. Written under the lock, read outside it just before a call.
  std::atomic<std::uint64_t> handlersFor_{0};
  std::uint64_t abandoned_ = 0;   // the last run given up while in a handler
  std::uint64_t handlerRun_ = 0;  // the run whose handler is running, 0 when none
  // Handlers under way: that of a run given up may still run beside the
  // next run's, and a destroy waits for both.
  int handlersRunning_ = 0;
  int handlerWaiters_ = 0;  // WaitForHandler calls waiting for them to return
  bool running_ = false;
  bool notifyLinkLost_ = false;
  ReadingInvoker invoke_ = nullptr;
  void (*target_)() = nullptr;
  void* context_ = nullptr;
};

// The state of a connection; made on first use when `create`, else null when
// the connection has none. An object moved byte for byte finds the state of
// its original's open run through the handles it carries, and takes it over:
// the record goes to the new place from then on.
std::shared_ptr<ConnectionState> StateOf(OvrinComm& connection, bool create);
std::shared_ptr<ConnectionState> StateOf(const OvrinComm& connection);
// Drops the state of a connection that is going away. A state whose run is
// still open (its object was freed without its destructor) stays findable
// through its handles.
void ForgetState(const OvrinComm& connection);

// Binds a handler of any type through its invoker (the C interface's callback).
void SetReadingInvoker(OvrinComm& connection, ReadingInvoker invoke, void (*target)(), void* context);

}  // namespace ovrin
