// Events, the process lock and threads on POSIX.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

// A manual-reset event is an eventfd: readable (signalled) while its counter
// is above 0, reset by reading the counter back to 0.
int EventFd(Handle event) { return static_cast<int>(reinterpret_cast<std::intptr_t>(event)) - 1; }

pthread_mutex_t gProcessLock = PTHREAD_MUTEX_INITIALIZER;

struct Thread {
  pthread_t id;
  ThreadProc proc;
  void* argument;
  pthread_mutex_t gateLock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t gateOpened = PTHREAD_COND_INITIALIZER;
  bool resumed = false;
};

void* RunWhenResumed(void* raw) {
  Thread* thread = static_cast<Thread*>(raw);
  pthread_mutex_lock(&thread->gateLock);
  while (!thread->resumed) pthread_cond_wait(&thread->gateOpened, &thread->gateLock);
  pthread_mutex_unlock(&thread->gateLock);
  thread->proc(thread->argument);
  return nullptr;
}

}  // namespace

Handle CreateManualEvent(bool signalled) {
  const int fd = eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd < 0 ? nullptr : reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1);
}

void SetEvent(Handle event) {
  const std::uint64_t one = 1;
  (void)!write(EventFd(event), &one, sizeof one);
}

void ResetEvent(Handle event) {
  std::uint64_t count = 0;
  (void)!read(EventFd(event), &count, sizeof count);
}

bool IsEventSet(Handle event) {
  pollfd fd{EventFd(event), POLLIN, 0};
  return poll(&fd, 1, 0) > 0;
}

void CloseEvent(Handle event) { close(EventFd(event)); }

ScopedProcessLock::ScopedProcessLock() { pthread_mutex_lock(&gProcessLock); }
ScopedProcessLock::~ScopedProcessLock() { pthread_mutex_unlock(&gProcessLock); }

Handle StartThreadSuspended(ThreadProc proc, void* argument) {
  Thread* thread = new (std::nothrow) Thread{};
  if (thread == nullptr) return nullptr;
  thread->proc = proc;
  thread->argument = argument;
  // The thread starts with every signal blocked: the host's handlers run on
  // the host's threads.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const int created = pthread_create(&thread->id, nullptr, RunWhenResumed, thread);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (created != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void ResumeThread(Handle handle) {
  Thread* thread = static_cast<Thread*>(handle);
  pthread_mutex_lock(&thread->gateLock);
  thread->resumed = true;
  pthread_cond_signal(&thread->gateOpened);
  pthread_mutex_unlock(&thread->gateLock);
}

void JoinThread(Handle handle) {
  ResumeThread(handle);  // a thread never let run could not end
  Thread* thread = static_cast<Thread*>(handle);
  pthread_join(thread->id, nullptr);
  delete thread;
}

void SleepMs(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
}  // namespace ovrin
