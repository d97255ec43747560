// Events, the process lock and threads on Windows.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace ovrin {
namespace platform {

struct Thread {
  HANDLE handle;
  ThreadProc proc;
  void* argument;
  std::atomic<int> owners;  // the thread until it has started, and its handle's holder
  HMODULE module;           // held while the thread runs
};

namespace {

SRWLOCK gProcessLock = SRWLOCK_INIT;

// An event is a HANDLE in disguise.
HANDLE Win(Event* event) { return event; }

DWORD WINAPI RunThread(void* raw) {
  Thread* thread = static_cast<Thread*>(raw);
  const ThreadProc proc = thread->proc;
  void* const argument = thread->argument;
  const HMODULE module = thread->module;
  if (--thread->owners == 0) delete thread;
  const DWORD result = proc(argument);
  // A thread nobody joins may still be running when the host frees the
  // library: its code stays mapped until the thread is gone.
  if (module != nullptr) FreeLibraryAndExitThread(module, result);
  return result;
}

struct MonitorState {
  SRWLOCK lock;
  CONDITION_VARIABLE changed;
};

MonitorState& StateOf(unsigned char* storage) { return *reinterpret_cast<MonitorState*>(storage); }

// FILETIME counts 100 ns since 1601-01-01; 11 644 473 600 s lie before 1970.
constexpr std::int64_t kFileTimeAt1970 = 116444736000000000;

}  // namespace

Monitor::Monitor() {
  static_assert(sizeof(MonitorState) <= sizeof storage_, "Monitor storage too small");
  MonitorState* state = new (storage_) MonitorState;
  InitializeSRWLock(&state->lock);
  InitializeConditionVariable(&state->changed);
}

Monitor::~Monitor() {}  // neither needs releasing

void Monitor::Enter() { AcquireSRWLockExclusive(&StateOf(storage_).lock); }
void Monitor::Leave() { ReleaseSRWLockExclusive(&StateOf(storage_).lock); }
void Monitor::WakeAll() { WakeAllConditionVariable(&StateOf(storage_).changed); }

bool Monitor::Wait(const Deadline& deadline) {
  MonitorState& state = StateOf(storage_);
  const DWORD limit = deadline.Never() ? INFINITE : static_cast<DWORD>(deadline.LeftMs());
  return SleepConditionVariableSRW(&state.changed, &state.lock, limit, 0) != FALSE;
}

namespace {

// The precise clock arrived with Windows 8; Windows 7 has the coarse one
// (1 to 16 ms) only. Looked up once, so the DLL still loads on Windows 7.
using FileTimeClock = void(WINAPI*)(FILETIME*);
FileTimeClock SystemTimeClock() {
  static const FileTimeClock clock = [] {
    const FARPROC precise = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    FileTimeClock found = GetSystemTimeAsFileTime;
    if (precise != nullptr) std::memcpy(&found, &precise, sizeof found);
    return found;
  }();
  return clock;
}

}  // namespace

std::int64_t UtcNowNs() {
  FILETIME now{};
  SystemTimeClock()(&now);
  const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - kFileTimeAt1970) * 100;
}

std::int64_t MonotonicNowNs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  LARGE_INTEGER count{};
  QueryPerformanceCounter(&count);
  // Split so that the product cannot overflow after a long uptime.
  return count.QuadPart / frequency * 1000000000 + count.QuadPart % frequency * 1000000000 / frequency;
}

Event* CreateManualEvent(bool signalled) {
  return static_cast<Event*>(CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
}
void SignalEvent(Event* event) { ::SetEvent(Win(event)); }
void UnsignalEvent(Event* event) { ::ResetEvent(Win(event)); }
bool IsSignalled(Event* event) { return WaitForSingleObject(Win(event), 0) == WAIT_OBJECT_0; }
void CloseEvent(Event* event) { CloseHandle(Win(event)); }

ScopedProcessLock::ScopedProcessLock() { AcquireSRWLockExclusive(&gProcessLock); }
ScopedProcessLock::~ScopedProcessLock() { ReleaseSRWLockExclusive(&gProcessLock); }

Thread* StartThreadSuspended(ThreadProc proc, void* argument) {
  Thread* thread = new (std::nothrow) Thread{nullptr, proc, argument, {2}, nullptr};
  if (thread == nullptr) return nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunThread),
                          &thread->module)) {
    thread->module = nullptr;
  }
  thread->handle = CreateThread(nullptr, 0, RunThread, thread, CREATE_SUSPENDED, nullptr);
  if (thread->handle == nullptr) {
    if (thread->module != nullptr) FreeLibrary(thread->module);
    delete thread;
    return nullptr;
  }
  return thread;
}

void ResumeThread(Thread* thread) { ::ResumeThread(thread->handle); }

void JoinThread(Thread* thread) {
  ::ResumeThread(thread->handle);  // a thread never let run could not end
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

void CancelBlockingCall(Thread* thread) { CancelSynchronousIo(thread->handle); }

void DetachThread(Thread* thread) {
  ::ResumeThread(thread->handle);
  CloseHandle(thread->handle);
  if (--thread->owners == 0) delete thread;
}

void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace platform
}  // namespace ovrin
