/// @file
/// Host services of Ovrin70: where notifications go and how message boxes are shown.
#ifndef OVRIN_HOST_H
#define OVRIN_HOST_H

#include <cstdint>

#include "ovrin_types.h"

#if defined(_WIN32)
/// The window type as <windows.h> declares it (STRICT, the default), without
/// pulling that header into every host.
struct HWND__;
#endif

namespace ovrin {

/// One notification: the same three words a window message carries.
struct Notification {
  unsigned message;       ///< WM_MEASURE_READY or WM_LINK_LOST
  std::uintptr_t wParam;  ///< as the message's wParam
  std::intptr_t lParam;   ///< as the message's lParam
};

#if defined(_WIN32)

/// Notifications are posted to a window of the host: an HWND.
typedef ::HWND__* WindowHandle;

#else

/// A host-owned queue standing in for a window. The library posts to it from its
/// receive threads; the host waits on it or polls Fd() in its own event loop.
class OVRIN_API NotifyQueue {
 public:
  NotifyQueue();
  ~NotifyQueue();
  NotifyQueue(const NotifyQueue&) = delete;
  NotifyQueue& operator=(const NotifyQueue&) = delete;

  /// Appends a notification. Never blocks; false only when memory runs out.
  bool Post(const Notification& notification);
  /// Takes the oldest notification. timeoutMs -1 waits without limit; 0, or
  /// any other negative value, does not wait. False on time-out.
  bool Wait(Notification& out, int timeoutMs);
  /// A descriptor that is readable while notifications are pending.
  int Fd() const;

 private:
  struct State;
  State* state_;
};

/// Where the notifications go: a queue the host owns, standing in for a window.
typedef NotifyQueue* WindowHandle;

#endif

/// Buttons a message-box handler returns.
enum MessageBoxButton { kButtonOk = 1, kButtonYes = 6, kButtonNo = 7 };
/// Styles the library asks for: OK, OK with an exclamation icon, Yes/No.
enum MessageBoxStyle { kStyleOk = 0x00, kStyleWarning = 0x30, kStyleYesNo = 0x04 };

/// Shows a message to the user and returns the button pressed. text is the
/// library's own 8-bit text (the search question is in code page 936). Called
/// on the thread that hits the situation: the host's or a receive thread.
typedef int (*MessageBoxHandler)(const char* text, unsigned style, void* context);

/// Routes every message box of the process through handler; null restores the
/// default (Windows: a real message box; elsewhere: the text on stderr,
/// answered with OK or Yes).
OVRIN_API void SetMessageBoxHandler(MessageBoxHandler handler, void* context);

/// Stores port as the remembered port, the one the next Open tries first (for
/// a host that lets the user pick the port). False when it is empty, longer
/// than 79 bytes, or cannot be stored.
OVRIN_API bool SetRememberedPort(const char* port);

}  // namespace ovrin

#endif  // OVRIN_HOST_H
