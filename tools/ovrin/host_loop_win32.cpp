#include <io.h>
#include <windows.h>

#include <cstdio>

#include "host_loop.h"

namespace ovrin_tool {
namespace {

constexpr UINT kInterruptMessage = WM_APP + 1;
HWND gWindow = nullptr;

// Ctrl-C arrives on a thread of its own: hand it to the loop as a message.
BOOL WINAPI OnConsoleControl(DWORD) {
  PostMessageA(gWindow, kInterruptMessage, 0, 0);
  return TRUE;
}

}  // namespace

struct HostLoop::State {
  HWND window = nullptr;
  bool interrupted = false;
};

HostLoop::HostLoop() : state_(new State) {
  // A message-only window: receives posted messages, never shows.
  state_->window = CreateWindowExA(0, "STATIC", "ovrin", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  gWindow = state_->window;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

HostLoop::~HostLoop() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  DestroyWindow(state_->window);
  delete state_;
}

ovrin::WindowHandle HostLoop::Window() const { return state_->window; }

Waited HostLoop::Wait(ovrin::Notification* out, int timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message{};
    while (PeekMessageA(&message, state_->window, 0, 0, PM_REMOVE)) {
      if (message.message == kInterruptMessage) state_->interrupted = true;
      if (state_->interrupted) return Waited::kInterrupted;
      if (message.message == WM_MEASURE_READY || message.message == WM_LINK_LOST) {
        *out = ovrin::Notification{message.message, message.wParam, message.lParam};
        return Waited::kNotification;
      }
    }
    DWORD limit = INFINITE;
    if (timeoutMs >= 0) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= static_cast<DWORD>(timeoutMs)) return Waited::kTimedOut;
      limit = static_cast<DWORD>(timeoutMs) - spent;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, limit, QS_POSTMESSAGE);
  }
}

bool HostLoop::Pause(int milliseconds) {
  const DWORD start = GetTickCount();
  while (!state_->interrupted) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= static_cast<DWORD>(milliseconds)) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(milliseconds) - spent, QS_POSTMESSAGE);
    MSG message{};
    if (PeekMessageA(&message, state_->window, kInterruptMessage, kInterruptMessage, PM_REMOVE)) {
      state_->interrupted = true;
    }
  }
  return false;
}

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace ovrin_tool
