#include "link.h"

#include "commands.h"
#include "system.h"

namespace ovrin_tray {

using ovrin_tool::LinkChange;
using ovrin_tool::LinkState;

void TrayLink::Configure(const ovrin_tool::Options& options, bool typing, bool sound) {
  const std::lock_guard<std::mutex> lock(settingsLock_);
  if (!opened_ || options.output != options_.output) {
    opened_ = true;
    log_.reset();  // synced and closed
    log_ = std::make_unique<ovrin_tool::ReadingSink>(ovrin_tool::Format::kCsv);
    logFailed_ = !log_->Open(options.output);
    if (logFailed_) {
      Post(kProblemMessage, new std::string("log: " + log_->Error()));
      log_.reset();  // no log this run, until the settings name another
    }
  }
  options_ = options;
  typing_ = typing;
  sound_ = sound;
}

void TrayLink::Start(const ovrin_tool::Options& options) {
  linkOptions_ = options;
  std::string error;
  keyboard_ = ovrin_tool::OpenKeyboard(&error);
  ovrin_tool::Listen(&listeners_, &linkOptions_);
  thread_ = std::thread([this] { ovrin_tool::Follow(linkOptions_, listeners_, *this); });
}

void TrayLink::Stop() {
  if (thread_.joinable()) {
    ovrin_tool::Interrupt();
    thread_.join();
    ovrin_tool::Listen(nullptr, nullptr);
  }
  const std::lock_guard<std::mutex> lock(settingsLock_);
  log_.reset();
}

bool TrayLink::Measure() {
  const int sent = WithConnection([](OvrinComm* comm) { return comm != nullptr ? comm->DistanceMeasure() : -1; });
  if (sent == 0) Abandon();  // the port took nothing: it is gone
  return sent == 1;
}

bool TrayLink::Take(const ovrin_tool::NumberedReading& reading) {
  const std::lock_guard<std::mutex> lock(settingsLock_);
  page_.Add(reading);
  // A log that cannot be written is shown once, and the readings go on.
  if (log_ != nullptr) {
    const bool logged = log_->Write(reading);
    if (!logged && !logFailed_) Post(kProblemMessage, new std::string("log: " + log_->Error()));
    logFailed_ = !logged;
  }
  const ovrin::Reading& got = reading.reading;
  auto* row = new ReadingRow{ovrin_tool::IsoTime(got.utcNs), "", std::string(got.line, got.lineLength)};
  if (got.record.kind == ReplyError) {
    row->typed = "error " + std::to_string(got.record.value1) + ": " + ovrin_tool::ErrorText(got.record.value1);
  } else if (options_.typeKinds.count(got.record.kind) != 0) {
    row->typed = TypeReading(reading);
  }
  Post(kReadingMessage, row);
  return true;
}

// Types the reading as `ovrin type` does; the text, or what kept it from
// being typed. A reading that cannot be typed stays in the Readings window
// and the log, and the icon says so until one is typed again.
std::string TrayLink::TypeReading(const ovrin_tool::NumberedReading& reading) {
  const std::string text = ovrin_tool::TypedNumber(reading.reading.record.value1, options_.typeScale,
                                                   options_.typeDecimals, options_.typeSeparator);
  if (sound_) MessageBeep(MB_OK);
  if (!typing_) return text + " (typing off)";
  std::string why;
  const ovrin_tool::Typing typed = ovrin_tool::TypeWhenLetGo(
      *keyboard_, text, options_.typeThen, [] {}, &why);
  if (typed == ovrin_tool::Typing::kTyped) {
    if (link_.state == LinkState::kTypingFailed) Tell({LinkState::kConnected, link_.port, link_.device}, "");
    return text;
  }
  // Windows drops input to a window of a program with more rights (UIPI).
  if (typed == ovrin_tool::Typing::kRefused) why = "the window runs as administrator";
  Tell({LinkState::kTypingFailed, link_.port, link_.device}, why);
  return text + " (not typed: " + why + ")";
}

void TrayLink::Changed(const LinkChange& change) { Tell(change, ""); }

void TrayLink::Tell(const LinkChange& change, const std::string& typingProblem) {
  link_ = change;
  page_.SetState(ovrin_tool::LinkStateJson(change, ovrin_tool::WallClockNs()));
  std::string text;
  if (change.state == LinkState::kTypingFailed) {
    text = "typing failed: " + typingProblem + "\n" +
           ovrin_tool::LinkText({LinkState::kConnected, change.port, change.device});
  } else {
    text = ovrin_tool::LinkText(change);
  }
  Post(kStateMessage, new LinkStatus{change.state, text});
}

void TrayLink::Post(UINT message, void* owned) {
  if (PostMessageW(window_, message, 0, reinterpret_cast<LPARAM>(owned)) != 0) return;
  // The window is gone: nobody takes it.
  if (message == kReadingMessage) delete static_cast<ReadingRow*>(owned);
  if (message == kStateMessage) delete static_cast<LinkStatus*>(owned);
  if (message == kProblemMessage) delete static_cast<std::string*>(owned);
}

}  // namespace ovrin_tray
