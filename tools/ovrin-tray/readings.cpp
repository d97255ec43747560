// The Readings window: the last readings, newest first, as time, the value
// as typed and the line the meter sent; Copy puts them on the clipboard as
// tab-separated text, Open the log opens the CSV file.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include "resource.h"
#include "text.h"
#include "tray.h"

namespace ovrin_tray {
namespace {

constexpr wchar_t kClass[] = L"Ovrin70Readings";
enum Child : int { kList = 1, kCopy, kOpenLog };

// Pixels at 96 dots per inch scaled to the window's monitor (Windows 10 and
// later tell it; before, 96).
int Scaled(HWND window, int pixels) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto dpiFor = reinterpret_cast<DpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = dpiFor != nullptr ? dpiFor(window) : 96;
  return MulDiv(pixels, static_cast<int>(dpi != 0 ? dpi : 96), 96);
}

void SetCell(HWND list, int item, int column, const std::string& text) {
  std::wstring wide = Wide(text);
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = &wide[0];
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
}

void InsertRow(HWND list, int at, const ReadingRow& row) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = at;
  std::wstring time = Wide(row.time);
  item.pszText = &time[0];
  const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  SetCell(list, index, 1, row.typed);
  SetCell(list, index, 2, row.line);
}

void CopyRows(HWND window, const TrayApp& app) {
  std::wstring text = L"time\tvalue\tline\r\n";
  for (const ReadingRow& row : app.Rows()) text += Wide(row.time + "\t" + row.typed + "\t" + row.line) + L"\r\n";
  if (OpenClipboard(window) == 0) return;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (memory != nullptr) {
    CopyMemory(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

void Layout(HWND window) {
  RECT area;
  GetClientRect(window, &area);
  const int margin = Scaled(window, 8);
  const int button = Scaled(window, 26);
  const int width = Scaled(window, 110);
  MoveWindow(GetDlgItem(window, kList), margin, margin, area.right - 2 * margin, area.bottom - 3 * margin - button,
             TRUE);
  const int y = area.bottom - margin - button;
  MoveWindow(GetDlgItem(window, kCopy), margin, y, width, button, TRUE);
  MoveWindow(GetDlgItem(window, kOpenLog), 2 * margin + width, y, width, button, TRUE);
}

void MakeChildren(HWND window, const TrayApp& app) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 0, 0,
                              window, reinterpret_cast<HMENU>(kList), instance, nullptr);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
  const wchar_t* titles[] = {L"Time", L"Value", L"Line"};
  const int widths[] = {190, 150, 190};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(titles[i]);
    column.cx = Scaled(window, widths[i]);
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  int at = 0;
  for (const ReadingRow& row : app.Rows()) InsertRow(list, at++, row);
  for (const auto& [id, title] : {std::pair<int, const wchar_t*>{kCopy, L"&Copy"}, {kOpenLog, L"Open the &log"}}) {
    HWND button = CreateWindowExW(0, L"BUTTON", title, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                  window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  Layout(window);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* app = reinterpret_cast<const TrayApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      app = static_cast<const TrayApp*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
      MakeChildren(window, *app);
      return 0;
    case WM_SIZE:
      Layout(window);
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kCopy) CopyRows(window, *app);
      if (LOWORD(wParam) == kOpenLog) {
        ShellExecuteW(window, L"open", Wide(app->LogPath()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

HWND ShowReadings(HINSTANCE instance, HWND existing, const TrayApp& app) {
  HWND window = existing;
  if (window == nullptr || !IsWindow(window)) {
    WNDCLASSEXW kind{};
    kind.cbSize = sizeof kind;
    kind.lpfnWndProc = Procedure;
    kind.hInstance = instance;
    kind.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TRAY));
    kind.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    kind.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    kind.lpszClassName = kClass;
    RegisterClassExW(&kind);
    window = CreateWindowExW(0, kClass, L"Ovrin70 readings", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 600,
                             400, nullptr, nullptr, instance, const_cast<TrayApp*>(&app));
    if (window == nullptr) return nullptr;
  }
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
  return window;
}

void AddReadingRow(HWND readings, const ReadingRow& row) {
  HWND list = GetDlgItem(readings, kList);
  InsertRow(list, 0, row);
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int last = count - 1; last >= 1000; --last) SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(last), 0);
}

}  // namespace ovrin_tray
