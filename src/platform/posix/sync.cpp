// Events, the process lock and threads on POSIX.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <new>

#include "platform/platform.h"

namespace ovrin {
namespace platform {

// A manual-reset event is its state alone: nothing on POSIX waits for one
// (I/O completes without it, and the listening state is only looked at), so
// it needs no descriptor and changing it no system call.
struct Event {
  std::atomic<bool> signalled;
};

struct Thread {
  pthread_t id;
  ThreadProc proc;
  void* argument;
  pthread_mutex_t gateLock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t gateOpened = PTHREAD_COND_INITIALIZER;
  bool resumed = false;
  std::atomic<int> owners{2};  // the thread until it has started, and its creator
};

namespace {

pthread_mutex_t gProcessLock = PTHREAD_MUTEX_INITIALIZER;

void* RunWhenResumed(void* raw) {
  Thread* thread = static_cast<Thread*>(raw);
  pthread_mutex_lock(&thread->gateLock);
  while (!thread->resumed) pthread_cond_wait(&thread->gateOpened, &thread->gateLock);
  pthread_mutex_unlock(&thread->gateLock);
  const ThreadProc proc = thread->proc;
  void* const argument = thread->argument;
  if (--thread->owners == 0) delete thread;
  proc(argument);
  return nullptr;
}

struct MonitorState {
  pthread_mutex_t lock;
  pthread_cond_t changed;
};

MonitorState& StateOf(unsigned char* storage) { return *reinterpret_cast<MonitorState*>(storage); }

std::int64_t NowNs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

Monitor::Monitor() {
  static_assert(sizeof(MonitorState) <= sizeof storage_, "Monitor storage too small");
  MonitorState* state = new (storage_) MonitorState;
  pthread_mutex_init(&state->lock, nullptr);
  // Timed waits measure on the monotonic clock: setting the date moves no deadline.
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state->changed, &attributes);
  pthread_condattr_destroy(&attributes);
}

Monitor::~Monitor() {
  pthread_cond_destroy(&StateOf(storage_).changed);
  pthread_mutex_destroy(&StateOf(storage_).lock);
}

void Monitor::Enter() { pthread_mutex_lock(&StateOf(storage_).lock); }
void Monitor::Leave() { pthread_mutex_unlock(&StateOf(storage_).lock); }
void Monitor::WakeAll() { pthread_cond_broadcast(&StateOf(storage_).changed); }

bool Monitor::Wait(const Deadline& deadline) {
  MonitorState& state = StateOf(storage_);
  if (deadline.Never()) return pthread_cond_wait(&state.changed, &state.lock) == 0;
  // The steady clock is CLOCK_MONOTONIC, the clock the condition waits on.
  const std::int64_t until =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.End().time_since_epoch()).count();
  const timespec end{static_cast<time_t>(until / 1000000000), static_cast<long>(until % 1000000000)};
  return pthread_cond_timedwait(&state.changed, &state.lock, &end) != ETIMEDOUT;
}

std::int64_t UtcNowNs() { return NowNs(CLOCK_REALTIME); }
std::int64_t MonotonicNowNs() { return NowNs(CLOCK_MONOTONIC); }

Event* CreateManualEvent(bool signalled) {
  Event* event = new (std::nothrow) Event;
  if (event != nullptr) event->signalled = signalled;
  return event;
}

void SignalEvent(Event* event) { event->signalled = true; }
void UnsignalEvent(Event* event) { event->signalled = false; }
bool IsSignalled(Event* event) { return event->signalled.load(); }
void CloseEvent(Event* event) { delete event; }

ScopedProcessLock::ScopedProcessLock() { pthread_mutex_lock(&gProcessLock); }
ScopedProcessLock::~ScopedProcessLock() { pthread_mutex_unlock(&gProcessLock); }

namespace {

// The signals the thread starts with blocked: those sent to the process, so
// that the host's handlers run on the host's threads. Left open: the faults
// a thread raises itself (a runtime whose handler runs on this thread, as
// .NET's does, turns them into exceptions; blocked, they end the process),
// and the signals a runtime sends to one thread to stop it for its garbage
// collector (Mono: SIGPWR and SIGXCPU; others: the real-time signals), which
// would otherwise wait for this thread for ever.
void SignalsToBlock(sigset_t* blocked) {
  sigfillset(blocked);
  for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(blocked, fault);
  sigdelset(blocked, SIGXCPU);
#ifdef SIGPWR
  sigdelset(blocked, SIGPWR);
#endif
  for (int realTime = SIGRTMIN; realTime <= SIGRTMAX; ++realTime) sigdelset(blocked, realTime);
}

}  // namespace

Thread* StartThreadSuspended(ThreadProc proc, void* argument) {
  Thread* thread = new (std::nothrow) Thread{};
  if (thread == nullptr) return nullptr;
  thread->proc = proc;
  thread->argument = argument;
  sigset_t blocked;
  sigset_t previous;
  SignalsToBlock(&blocked);
  // Added to what the creating thread blocks: a signal the host keeps for a
  // thread of its own (blocked everywhere else, taken with sigwaitinfo) must
  // never land here, where its default action would end the process.
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  const int created = pthread_create(&thread->id, nullptr, RunWhenResumed, thread);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (created != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void ResumeThread(Thread* thread) {
  pthread_mutex_lock(&thread->gateLock);
  thread->resumed = true;
  pthread_cond_signal(&thread->gateOpened);
  pthread_mutex_unlock(&thread->gateLock);
}

void JoinThread(Thread* thread) {
  ResumeThread(thread);  // a thread never let run could not end
  pthread_join(thread->id, nullptr);
  delete thread;
}

// A POSIX open cannot be cancelled: it is left to complete on its thread.
void CancelBlockingCall(Thread*) {}

void DetachThread(Thread* thread) {
  ResumeThread(thread);
  pthread_detach(thread->id);
  if (--thread->owners == 0) delete thread;
}

void SleepMs(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
}  // namespace ovrin
