// ovrin-tray: the meter in the notification area, each reading typed where
// the cursor is. One runs at a time: a second start opens the running one's
// Readings window, --measure makes it measure and --quit ends it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "system.h"
#include "text.h"
#include "tray.h"

namespace {

using ovrin_tray::Wide;

// The running program's window, waiting a little for one that is starting.
HWND RunningWindow() {
  for (int tries = 0; tries < 50; ++tries) {
    HWND window = FindWindowW(ovrin_tray::kWindowClass, nullptr);
    if (window != nullptr) return window;
    Sleep(100);
  }
  return nullptr;
}

// Asks the running program; what it was asked to end, ended (within 20 s).
int Ask(HWND running, UINT message) {
  DWORD process = 0;
  GetWindowThreadProcessId(running, &process);
  AllowSetForegroundWindow(process);  // the Readings window may come to the front
  HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
  PostMessageW(running, message, 0, 0);
  const bool ended =
      message != ovrin_tray::kQuitMessage || handle == nullptr || WaitForSingleObject(handle, 20000) == WAIT_OBJECT_0;
  if (handle != nullptr) CloseHandle(handle);
  return ended ? 0 : 1;
}

void Tell(const std::string& text, UINT icon) {
  ovrin_tool::WriteText(stderr, "ovrin-tray: " + text + "\n");
  MessageBoxW(nullptr, Wide(text).c_str(), L"Ovrin70", MB_OK | icon);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  UINT ask = 0;
  for (int i = 1; i < count; ++i) {
    const std::string arg = ovrin_tray::Utf8(arguments[i]);
    if (arg == "--measure") {
      ask = ovrin_tray::kMeasureMessage;
    } else if (arg == "--quit") {
      ask = ovrin_tray::kQuitMessage;
    } else {
      args.push_back(arg);
    }
  }
  LocalFree(arguments);

  HANDLE once = CreateMutexW(nullptr, FALSE, L"Local\\Ovrin70.Tray");
  const bool running = GetLastError() == ERROR_ALREADY_EXISTS;
  if (running || ask != 0) {
    HWND window = running ? RunningWindow() : nullptr;
    if (window != nullptr) return Ask(window, ask != 0 ? ask : ovrin_tray::kShowReadingsMessage);
    ovrin_tool::WriteText(stderr, "ovrin-tray: it is not running\n");
    return 1;
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  ovrin_tray::TrayApp app(args);
  std::string error;
  if (!app.Start(instance, &error)) {
    Tell(error, MB_ICONERROR);
    CloseHandle(once);
    return ovrin_tool::kBadArguments;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  CloseHandle(once);
  return 0;
}
