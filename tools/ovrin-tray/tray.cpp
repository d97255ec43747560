#include "tray.h"

#include <shellapi.h>

#include <cstdio>

#include "resource.h"
#include "system.h"
#include "text.h"

namespace ovrin_tray {
namespace {

constexpr UINT kIconId = 1;
constexpr std::size_t kRowsKept = 1000;
enum MenuItem : UINT { kMeasure = 1, kTyping, kReadings, kSettings, kLivePage, kStartWithWindows, kQuit };

// The window that had the focus last, other than the taskbar and this
// program's own: a click on the icon measures into it.
HWND gLastForeground = nullptr;

void CALLBACK OnForeground(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  const std::wstring kind = name;
  if (process == GetCurrentProcessId() || kind == L"Shell_TrayWnd" || kind == L"Shell_SecondaryTrayWnd" ||
      kind == L"NotifyIconOverflowWindow") {
    return;
  }
  gLastForeground = window;
}

void CopyInto(wchar_t* field, std::size_t size, const std::string& text) {
  const std::wstring wide = Wide(text);
  lstrcpynW(field, wide.c_str(), static_cast<int>(size));
}

}  // namespace

bool TrayApp::Start(HINSTANCE instance, std::string* error) {
  instance_ = instance;
  settings_ = LoadSettings();
  if (!MakeOptions(settings_, args_, &options_, error)) return false;
  WNDCLASSEXW kind{};
  kind.cbSize = sizeof kind;
  kind.lpfnWndProc = Procedure;
  kind.hInstance = instance;
  kind.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TRAY));
  kind.lpszClassName = kWindowClass;
  RegisterClassExW(&kind);
  // A hidden top-level window, not a message-only one: only top-level
  // windows hear TaskbarCreated.
  window_ = CreateWindowExW(0, kWindowClass, L"Ovrin70", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                            nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    *error = "cannot create the program's window";
    return false;
  }
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, OnForeground, 0, 0,
                  WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  gLastForeground = GetForegroundWindow();
  ShowIcon(true);
  WatchKey();
  link_ = std::make_unique<TrayLink>(window_, page_);
  link_->Configure(options_, settings_.typing, settings_.sound);
  link_->Start(options_);
  return true;
}

bool TrayApp::Apply(const TraySettings& settings, std::string* error) {
  ovrin_tool::Options options;
  if (!MakeOptions(settings, args_, &options, error)) return false;
  if (!SaveSettings(settings)) {
    *error = "cannot write the settings to HKEY_CURRENT_USER\\Software\\Ovrin70\\Tray";
    return false;
  }
  const bool keyChanged = options.measureKey != options_.measureKey;
  settings_ = settings;
  options_ = options;
  link_->Configure(options_, settings_.typing, settings_.sound);
  if (keyChanged) WatchKey();
  return true;
}

LRESULT CALLBACK TrayApp::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* app = static_cast<TrayApp*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    app->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
  }
  auto* app = reinterpret_cast<TrayApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return app != nullptr ? app->Handle(message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TrayApp::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kIconMessage:
      if (LOWORD(lParam) == WM_LBUTTONUP) MeasureInto(gLastForeground);
      if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU) ShowMenu();
      return 0;
    case kMeasureMessage:  // the measure key, or --measure: into whatever has the focus
      MeasureInto(nullptr);
      return 0;
    case kShowReadingsMessage:
      readings_ = ShowReadings(instance_, readings_, *this);
      return 0;
    case kQuitMessage:
    case WM_CLOSE:
      Quit();
      return 0;
    case kReadingMessage: {
      const std::unique_ptr<ReadingRow> row(reinterpret_cast<ReadingRow*>(lParam));
      rows_.push_front(*row);
      if (rows_.size() > kRowsKept) rows_.pop_back();
      if (readings_ != nullptr && IsWindow(readings_)) AddReadingRow(readings_, *row);
      return 0;
    }
    case kStateMessage: {
      const std::unique_ptr<LinkStatus> status(reinterpret_cast<LinkStatus*>(lParam));
      state_ = status->state;
      status_ = status->text;
      ShowIcon(false);
      Say(status_);
      if (state_ == ovrin_tool::LinkState::kTypingFailed) Balloon(status_);
      return 0;
    }
    case kProblemMessage: {
      const std::unique_ptr<std::string> problem(reinterpret_cast<std::string*>(lParam));
      Say(*problem);
      Balloon(*problem);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    // Explorer started again, without the icons it had (or with this one,
    // when it only says so): added anew.
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window_;
    icon.uID = kIconId;
    Shell_NotifyIconW(NIM_DELETE, &icon);
    ShowIcon(true);
    return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// Adds the icon (add) or changes it to the link's state.
void TrayApp::ShowIcon(bool add) {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window_;
  icon.uID = kIconId;
  icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  icon.uCallbackMessage = kIconMessage;
  HICON old = icon_;
  icon_ = StateIcon(instance_, state_);
  icon.hIcon = icon_;
  CopyInto(icon.szTip, ARRAYSIZE(icon.szTip), keyProblem_.empty() ? status_ : status_ + "\n" + keyProblem_);
  const bool shown = Shell_NotifyIconW(add ? NIM_ADD : NIM_MODIFY, &icon) != FALSE;
  if (add) Say(shown ? "the icon is in the notification area" : "the notification area took no icon");
  if (old != nullptr) DestroyIcon(old);
}

void TrayApp::Balloon(const std::string& text) {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window_;
  icon.uID = kIconId;
  icon.uFlags = NIF_INFO;
  icon.dwInfoFlags = NIIF_WARNING;
  CopyInto(icon.szInfoTitle, ARRAYSIZE(icon.szInfoTitle), "Ovrin70");
  CopyInto(icon.szInfo, ARRAYSIZE(icon.szInfo), text);
  Shell_NotifyIconW(NIM_MODIFY, &icon);
}

// Holds the measure key; a key another program holds is told in the
// tooltip and a balloon, and the program goes on without it.
void TrayApp::WatchKey() {
  hotKey_.reset();  // lets go of the key it held
  std::string error;
  hotKey_ = ovrin_tool::OpenKeyboard(&error);
  HWND window = window_;
  const auto pressed = [window] { PostMessageW(window, kMeasureMessage, 0, 0); };
  if (hotKey_->WatchHotKey(options_.measureKey, pressed, &error)) {
    keyProblem_.clear();
  } else {
    hotKey_.reset();
    keyProblem_ = "the measure key " + options_.measureKey + " is taken by another program: choose another in Settings";
    Say(keyProblem_);
    Balloon(keyProblem_);
  }
  ShowIcon(false);
}

void TrayApp::ShowMenu() {
  HMENU menu = CreatePopupMenu();
  const std::wstring measure = L"&Measure\t" + Wide(options_.measureKey);
  AppendMenuW(menu, MF_STRING, kMeasure, measure.c_str());
  AppendMenuW(menu, MF_STRING | (settings_.typing ? MF_CHECKED : 0), kTyping, L"&Typing");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kReadings, L"&Readings\u2026");
  AppendMenuW(menu, MF_STRING, kSettings, L"&Settings\u2026");
  AppendMenuW(menu, MF_STRING, kLivePage, L"Open the &live page");
  AppendMenuW(menu, MF_STRING | (StartsWithWindows() ? MF_CHECKED : 0), kStartWithWindows, L"Start with &Windows");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kQuit, L"&Quit");
  SetMenuDefaultItem(menu, kMeasure, FALSE);
  POINT at;
  GetCursorPos(&at);
  SetForegroundWindow(window_);  // else the menu stays open when the user clicks elsewhere
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, window_, nullptr));
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  Command(chosen);
}

void TrayApp::Command(UINT id) {
  std::string error;
  switch (id) {
    case kMeasure:
      MeasureInto(gLastForeground);
      break;
    case kTyping: {
      TraySettings changed = settings_;
      changed.typing = !changed.typing;
      if (!Apply(changed, &error)) Balloon(error);
      break;
    }
    case kReadings:
      readings_ = ShowReadings(instance_, readings_, *this);
      break;
    case kSettings:
      EditSettings(instance_, window_, *this);
      break;
    case kLivePage:
      OpenPage();
      break;
    case kStartWithWindows:
      if (!SetStartWithWindows(!StartsWithWindows())) Balloon("cannot change the HKCU Run value");
      break;
    case kQuit:
      Quit();
      break;
    default:
      break;
  }
}

// The reading goes to the window with the focus: `target` (the window the
// user was in before clicking the icon) is given it back first.
void TrayApp::MeasureInto(HWND target) {
  if (target != nullptr && IsWindow(target)) SetForegroundWindow(target);
  if (!link_->Measure()) Balloon("no meter to measure with: " + status_);
}

// The live page of `ovrin serve`, on loopback, served by this process.
void TrayApp::OpenPage() {
  if (server_ == nullptr) {
    TrayLink* link = link_.get();
    server_ = std::make_unique<ovrin_tool::WebServer>(
        page_,
        [link] { return link->Measure() ? ovrin_tool::MeasureResult::kSent : ovrin_tool::MeasureResult::kNoMeter; },
        "");
    std::string error;
    if (!server_->Bind("127.0.0.1", 0, &error)) {
      server_.reset();
      Balloon(error);
      return;
    }
    server_->Start();
  }
  const std::wstring url = Wide(server_->Url());
  Say("the live page is at " + server_->Url());
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Ends cleanly: the link closed, the log synced, the icon removed.
void TrayApp::Quit() {
  link_->Stop();
  if (server_ != nullptr) server_->Stop();
  hotKey_.reset();
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window_;
  icon.uID = kIconId;
  Shell_NotifyIconW(NIM_DELETE, &icon);
  if (readings_ != nullptr) DestroyWindow(readings_);
  Say("quit");
  DestroyWindow(window_);
}

void TrayApp::Say(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n') c = ';';
  }
  ovrin_tool::WriteText(stderr, "ovrin-tray: " + line + "\n");
  std::fflush(stderr);
}

}  // namespace ovrin_tray
