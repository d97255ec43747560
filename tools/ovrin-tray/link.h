// The tray program's link to the meter, on a thread of its own so that a
// search never blocks the window: ovrin's Follow, with every reading typed
// as `ovrin type` types it, appended to the CSV log, kept for the live page,
// and told to the window.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "follow.h"
#include "keyboard.h"
#include "sink.h"
#include "web/reading_log.h"

namespace ovrin_tray {

// Messages the link posts to the window; lParam owns what it points to.
enum LinkMessage : UINT {
  kReadingMessage = WM_APP + 10,  // a ReadingRow
  kStateMessage,                  // a LinkStatus
  kProblemMessage,                // a std::string to show in a balloon
};

struct ReadingRow {
  std::string time;
  std::string typed;  // the value as typed, or what became of the reading
  std::string line;   // as the meter sent it
};

struct LinkStatus {
  ovrin_tool::LinkState state;
  std::string text;  // as the tooltip says it
};

class TrayLink : public ovrin_tool::Follower {
 public:
  TrayLink(HWND window, ovrin_tool::ReadingLog& page) : window_(window), page_(page) {}
  ~TrayLink() override { Stop(); }
  TrayLink(const TrayLink&) = delete;
  TrayLink& operator=(const TrayLink&) = delete;

  // Takes the typing options, the log file and the sound from `options`;
  // while running too.
  void Configure(const ovrin_tool::Options& options, bool typing, bool sound);
  // Searches on its own thread with `options` (kept until Stop).
  void Start(const ovrin_tool::Options& options);
  // Ends the run: the link closed, the log synced and closed.
  void Stop();
  // Asks the meter to measure; false when no meter is connected.
  bool Measure();

  bool Take(const ovrin_tool::NumberedReading& reading) override;
  void Changed(const ovrin_tool::LinkChange& change) override;

 private:
  void Tell(const ovrin_tool::LinkChange& change, const std::string& typingProblem);
  void Post(UINT message, void* owned);
  std::string TypeReading(const ovrin_tool::NumberedReading& reading);

  HWND window_;
  ovrin_tool::ReadingLog& page_;
  std::unique_ptr<ovrin_tool::Keyboard> keyboard_;
  std::mutex settingsLock_;  // the options, the log and the flags below
  ovrin_tool::Options options_;
  std::unique_ptr<ovrin_tool::ReadingSink> log_;
  bool typing_ = true;
  bool sound_ = false;
  bool logFailed_ = false;
  bool opened_ = false;  // the log was opened (or tried) once
  ovrin_tool::Options linkOptions_;
  ovrin_tool::Listeners listeners_;
  ovrin_tool::LinkChange link_{ovrin_tool::LinkState::kSearching, "", ""};
  std::thread thread_;
};

}  // namespace ovrin_tray
