#include <windows.h>

#include "c_host.h"

static HWND gWindow;

static int WaitOnWindow(unsigned* message, int timeoutMs) {
  DWORD start = GetTickCount();
  MSG posted;
  for (;;) {
    DWORD spent;
    if (PeekMessageA(&posted, gWindow, 0, 0, PM_REMOVE)) {
      *message = posted.message;
      return 1;
    }
    spent = GetTickCount() - start;
    if (spent >= (DWORD)timeoutMs) return 0;
    MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)timeoutMs - spent, QS_POSTMESSAGE);
  }
}

int main(void) {
  gWindow = CreateWindowExA(0, "STATIC", "c_host", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
  return RunMeasurement(gWindow, WaitOnWindow);
}
