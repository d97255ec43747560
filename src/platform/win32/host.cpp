// Host services on Windows: a real message box, PostMessage to the window.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

// The library's texts are code page 936 (ASCII is the same there); shown as
// UTF-16 they read right whatever the system's code page is.
std::wstring FromCodePage936(const char* text) {
  const int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring(text, text + lstrlenA(text));
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(936, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

}  // namespace

int DefaultMessageBox(const char* text, unsigned style) {
  return MessageBoxW(nullptr, FromCodePage936(text).c_str(), L"Ovrin70", style | MB_TASKMODAL);
}

void PostNotification(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  PostMessageA(window, message, wParam, lParam);
}

}  // namespace platform
}  // namespace ovrin
