// Serial ports on Windows: overlapped I/O on a COM port. Every operation
// leaves nothing pending when it returns, so its OVERLAPPED record may live on
// the stack.
#include <windows.h>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

// A port is a HANDLE in disguise, and so is an event.
HANDLE Win(Port* port) { return port; }
HANDLE Win(Event* event) { return event; }

constexpr DWORD kQueueSize = 128;
constexpr DWORD kWriteMsPerByte = 50;
constexpr DWORD kWriteMsConstant = 1000;
constexpr DWORD kInputMask = EV_RXCHAR;
// Queued bytes are there already: a read of them that takes longer is stuck.
constexpr DWORD kReadCompletionMs = 1000;

OVERLAPPED Overlapped(Event* event) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = Win(event);
  return overlapped;
}

// Cancels a pending transfer and waits until the system is done with it.
bool CancelAndFinish(HANDLE port, OVERLAPPED* overlapped, DWORD* transferred) {
  CancelIoEx(port, overlapped);
  return GetOverlappedResult(port, overlapped, transferred, TRUE) != FALSE;
}

bool Woken(HANDLE port) {
  DWORD mask = kInputMask;
  return GetCommMask(port, &mask) && mask == 0;
}

}  // namespace

Port* OpenPort(const std::string& name, OpenFailure* failure) {
  const HANDLE port =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE && failure != nullptr) {
    const DWORD error = GetLastError();
    // A COM port that someone holds answers "access denied": on Windows
    // that means busy, not a lack of rights.
    const bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
    const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_UNIT ||
                      error == ERROR_DEV_NOT_EXIST;
    failure->reason = busy ? OpenError::kBusy : gone ? OpenError::kNoSuchDevice : OpenError::kOther;
    failure->systemError = static_cast<int>(error);
  }
  return static_cast<Port*>(port);
}

bool ConfigureForMeter(Port* meter) {
  const HANDLE port = Win(meter);
  SetupComm(port, kQueueSize, kQueueSize);
  SetCommMask(port, kInputMask);
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, kWriteMsPerByte, kWriteMsConstant};
  SetCommTimeouts(port, &timeouts);
  DCB line{};
  line.DCBlength = sizeof line;
  if (!GetCommState(port, &line)) return false;
  // Everything else, flow control included, stays as the port had it.
  line.BaudRate = CBR_9600;
  line.ByteSize = 8;
  line.Parity = NOPARITY;
  line.StopBits = ONESTOPBIT;
  line.EvtChar = 0x0A;
  SetCommState(port, &line);
  return true;
}

void DiscardQueues(Port* port) { PurgeComm(Win(port), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR); }

std::uint32_t CountQueuedInput(Port* port) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(Win(port), &errors, &status) ? status.cbInQue : 0;
}

long ReadQueued(Port* meter, Event* event, char* buffer, std::size_t capacity) {
  // Asks only for what is queued: some serial drivers (Wine's among them)
  // keep an overlapped read of an empty queue pending despite the read
  // time-outs, and a read must never wait.
  const std::uint32_t queued = CountQueuedInput(meter);
  const HANDLE port = Win(meter);
  if (queued == 0) return 0;
  const DWORD wanted = static_cast<DWORD>(queued < capacity ? queued : capacity);
  OVERLAPPED overlapped = Overlapped(event);
  DWORD received = 0;
  if (!ReadFile(port, buffer, wanted, &received, &overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return 0;
    const bool done = WaitForSingleObject(Win(event), kReadCompletionMs) == WAIT_OBJECT_0;
    if (!(done ? GetOverlappedResult(port, &overlapped, &received, FALSE) != FALSE
               : CancelAndFinish(port, &overlapped, &received))) {
      return 0;
    }
  }
  return static_cast<long>(received);
}

WaitResult WaitForInput(Port* meter, Event* event, int timeoutMs) {
  const HANDLE port = Win(meter);
  OVERLAPPED overlapped = Overlapped(event);
  DWORD mask = 0;
  DWORD ignored = 0;
  ::ResetEvent(Win(event));
  // A port woken by WakeWaiters has mask 0: a wait on it must not begin.
  if (Woken(port)) return WaitResult::kReady;
  if (WaitCommEvent(port, &mask, &overlapped)) return WaitResult::kReady;
  if (GetLastError() != ERROR_IO_PENDING) return WaitResult::kFailed;
  if (Woken(port)) {
    // Woken between the test and the start of this wait: end it as the wake
    // would have.
    SetCommMask(port, 0);
    GetOverlappedResult(port, &overlapped, &ignored, TRUE);
    return WaitResult::kReady;
  }
  // Bytes that arrived before the wait began do not end it on every driver
  // (Wine's watches only for what comes after): once it is pending, a look
  // at the queue finds them. Ending the wait by setting the mask again is
  // safe even against a wake at this moment: the receive thread looks at
  // isOpen before it waits again.
  if (CountQueuedInput(meter) > 0) {
    SetCommMask(port, kInputMask);
    GetOverlappedResult(port, &overlapped, &ignored, TRUE);
    return WaitResult::kReady;
  }
  const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  if (WaitForSingleObject(Win(event), limit) != WAIT_OBJECT_0) {
    // Setting the mask again completes the pending wait at once (cancelling
    // it is not honoured by every serial driver). Were WakeWaiters called at
    // this very moment, this would undo it; it cannot be: only the search
    // waits with a time-out, on a candidate no other thread knows, while
    // WakeWaiters is called by Close on a connection's port, whose receive
    // thread waits without one.
    SetCommMask(port, kInputMask);
    GetOverlappedResult(port, &overlapped, &ignored, TRUE);
    return WaitResult::kTimedOut;
  }
  if (GetOverlappedResult(port, &overlapped, &ignored, FALSE)) return WaitResult::kReady;
  // Some drivers abort a wait nobody cancelled: wait again rather than give up.
  return GetLastError() == ERROR_OPERATION_ABORTED ? WaitResult::kReady : WaitResult::kFailed;
}

// The overlapped wait for port events, then the read of what it announced.
long ReadWhenQueued(Port* port, Event* event, char* buffer, std::size_t capacity) {
  if (WaitForInput(port, event, kNoTimeLimit) == WaitResult::kFailed) return -1;
  return ReadQueued(port, event, buffer, capacity);
}

void WakeWaiters(Port* port) { SetCommMask(Win(port), 0); }

WriteResult WritePort(Port* meter, Event* event, const void* data, std::uint32_t size, int timeoutMs,
                      std::uint32_t* written) {
  const HANDLE port = Win(meter);
  OVERLAPPED overlapped = Overlapped(event);
  DWORD done = 0;
  if (WriteFile(port, data, size, &done, &overlapped)) {
    *written = done;
    return done == size ? WriteResult::kDoneAtOnce : WriteResult::kTimedOut;
  }
  if (GetLastError() != ERROR_IO_PENDING) return WriteResult::kFailed;
  // Without a limit of its own the write ends by the port's write time-out.
  if (timeoutMs >= 0 && WaitForSingleObject(Win(event), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    CancelAndFinish(port, &overlapped, &done);
    return WriteResult::kTimedOut;
  }
  if (!GetOverlappedResult(port, &overlapped, &done, TRUE)) return WriteResult::kFailed;
  *written = done;
  return done == size ? WriteResult::kDoneAfterWait : WriteResult::kTimedOut;
}

// Output still on its way is not purged: a command written just before
// Close still leaves. The driver sends it within the port's write time-out,
// and closing the handle does not wait for it, so a rejected candidate needs
// nothing else either.
void ClosePort(Port* port, PendingOutput) { CloseHandle(Win(port)); }

}  // namespace platform
}  // namespace ovrin
