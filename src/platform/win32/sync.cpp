// Events, the process lock and threads on Windows.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

SRWLOCK gProcessLock = SRWLOCK_INIT;

struct Thread {
  HANDLE handle;
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI RunThread(void* raw) {
  Thread* thread = static_cast<Thread*>(raw);
  return thread->proc(thread->argument);
}

}  // namespace

Handle CreateManualEvent(bool signalled) { return CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr); }
void SetEvent(Handle event) { ::SetEvent(event); }
void ResetEvent(Handle event) { ::ResetEvent(event); }
bool IsEventSet(Handle event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
void CloseEvent(Handle event) { CloseHandle(event); }

ScopedProcessLock::ScopedProcessLock() { AcquireSRWLockExclusive(&gProcessLock); }
ScopedProcessLock::~ScopedProcessLock() { ReleaseSRWLockExclusive(&gProcessLock); }

Handle StartThreadSuspended(ThreadProc proc, void* argument) {
  Thread* thread = new (std::nothrow) Thread{nullptr, proc, argument};
  if (thread == nullptr) return nullptr;
  thread->handle = CreateThread(nullptr, 0, RunThread, thread, CREATE_SUSPENDED, nullptr);
  if (thread->handle == nullptr) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void ResumeThread(Handle handle) { ::ResumeThread(static_cast<Thread*>(handle)->handle); }

void JoinThread(Handle handle) {
  Thread* thread = static_cast<Thread*>(handle);
  ::ResumeThread(thread->handle);  // a thread never let run could not end
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace platform
}  // namespace ovrin
