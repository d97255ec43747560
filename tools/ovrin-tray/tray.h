// The tray program's window: hidden, it owns the icon in the notification
// area, its menu, the measure key and the link; the Readings window and the
// Settings dialog open from it.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "keyboard.h"
#include "link.h"
#include "settings.h"
#include "web/reading_log.h"
#include "web/server.h"

namespace ovrin_tray {

// The class of the hidden window, which a second start finds.
constexpr wchar_t kWindowClass[] = L"Ovrin70Tray";

// What a second start asks of the running program.
enum AppMessage : UINT {
  kIconMessage = WM_APP + 1,  // from the notification area
  kMeasureMessage,
  kShowReadingsMessage,
  kQuitMessage,
};

class TrayApp {
 public:
  // args: the command line's options, over the settings for this run.
  explicit TrayApp(std::vector<std::string> args) : args_(std::move(args)) {}
  // Creates the window, the icon and the link; false, with *error, when the
  // command line or the window cannot be.
  bool Start(HINSTANCE instance, std::string* error);

  // The Readings window's side.
  const std::deque<ReadingRow>& Rows() const { return rows_; }
  const std::string& LogPath() const { return options_.output; }
  // The Settings dialog's side: true when the settings were taken.
  const TraySettings& Settings() const { return settings_; }
  bool Apply(const TraySettings& settings, std::string* error);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowIcon(bool add);
  void Balloon(const std::string& text);
  void WatchKey();
  void ShowMenu();
  void Command(UINT id);
  void MeasureInto(HWND target);
  void OpenPage();
  void Quit();
  void Say(const std::string& text);  // on stderr, for whoever started the program

  std::vector<std::string> args_;
  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HWND readings_ = nullptr;
  UINT taskbarCreated_ = 0;
  TraySettings settings_;
  ovrin_tool::Options options_;
  ovrin_tool::ReadingLog page_;
  std::unique_ptr<TrayLink> link_;
  std::unique_ptr<ovrin_tool::Keyboard> hotKey_;
  std::unique_ptr<ovrin_tool::WebServer> server_;
  std::deque<ReadingRow> rows_;
  ovrin_tool::LinkState state_ = ovrin_tool::LinkState::kSearching;
  std::string status_ = "searching";
  std::string keyProblem_;
  HICON icon_ = nullptr;
};

// The Readings window: the last readings, copy, open the log. Shown (made
// when there is none) and brought to the front; its window.
HWND ShowReadings(HINSTANCE instance, HWND existing, const TrayApp& app);
// Puts the newest row at the top of a Readings window.
void AddReadingRow(HWND readings, const ReadingRow& row);
// The Settings dialog, modal.
void EditSettings(HINSTANCE instance, HWND owner, TrayApp& app);
// The icon with a dot of the link state's colour.
HICON StateIcon(HINSTANCE instance, ovrin_tool::LinkState state);

}  // namespace ovrin_tray
