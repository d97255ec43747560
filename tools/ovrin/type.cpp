// ovrin type: every reading of the chosen kinds typed where the user's
// cursor is, followed by one key; a hot key that measures.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "follow.h"
#include "keyboard.h"
#include "sink.h"
#include "system.h"

namespace ovrin_tool {
namespace {

const char* KeyName(FinalKey key) {
  switch (key) {
    case FinalKey::kEnter:
      return "<Enter>";
    case FinalKey::kTab:
      return "<Tab>";
    case FinalKey::kSpace:
      return "<Space>";
    case FinalKey::kNone:
      break;
  }
  return "";
}

// Types the readings of the chosen kinds (or prints them, on a dry run),
// reports error replies on stderr, writes every reading to --output, and
// lends the open connection to the hot key. A reading that cannot be typed
// is named on stderr with its text, and the link's state says so until a
// reading is typed again.
class Typist : public Follower {
 public:
  Typist(const Options& options, Keyboard* keyboard, ReadingSink* file)
      : options_(options), keyboard_(keyboard), file_(file) {}

  bool Take(const NumberedReading& reading) override {
    if (file_ != nullptr && !file_->Write(reading)) return false;
    const MeasureRecord& record = reading.reading.record;
    if (record.kind == ReplyError) {
      std::fprintf(stderr, "ovrin: error %d: %s\n", static_cast<int>(record.value1), ErrorText(record.value1).c_str());
      return true;
    }
    if (options_.typeKinds.count(record.kind) == 0) return true;
    const std::string text =
        TypedNumber(record.value1, options_.typeScale, options_.typeDecimals, options_.typeSeparator);
    if (keyboard_ == nullptr) {
      std::printf("%s%s\n", text.c_str(), KeyName(options_.typeThen));
      std::fflush(stdout);
      return true;
    }
    std::string why;
    const auto waiting = [&reading] {
      std::fprintf(stderr, "ovrin: reading %s waits until the modifier keys (Shift, Ctrl, Alt) are let go\n",
                   std::to_string(reading.seq).c_str());
    };
    if (TypeWhenLetGo(*keyboard_, text, options_.typeThen, waiting, &why) == Typing::kTyped) {
      if (link_.state == LinkState::kTypingFailed) Tell({LinkState::kConnected, link_.port, link_.device});
      return true;
    }
    std::fprintf(stderr, "ovrin: reading %s was not typed: %s%s (%s)\n", std::to_string(reading.seq).c_str(),
                 text.c_str(), KeyName(options_.typeThen), why.c_str());
    if (link_.state != LinkState::kTypingFailed) Tell({LinkState::kTypingFailed, link_.port, link_.device});
    return true;
  }

  void Changed(const LinkChange& change) override { Tell(change); }

  // The measure key, on the keyboard's thread.
  void Measure() {
    const bool sent = WithConnection([](OvrinComm* comm) { return comm != nullptr && comm->DistanceMeasure() == 1; });
    if (!sent) std::fprintf(stderr, "ovrin: no meter to measure with\n");
  }

 private:
  void Tell(const LinkChange& change) {
    link_ = change;
    TellLinkState(change);
    if (file_ != nullptr) file_->Write(change);
  }

  const Options& options_;
  Keyboard* keyboard_;
  ReadingSink* file_;
  LinkChange link_{LinkState::kSearching, "", ""};
};

// Types until the run ends; the keyboard (or a dry run) first.
int TypeInto(const Options& options, Listeners& listeners, ReadingSink* file) {
  std::unique_ptr<Keyboard> keyboard;
  if (!options.dryRun) {
    std::string error;
    keyboard = OpenKeyboard(&error);
    if (keyboard == nullptr) {
      std::fprintf(stderr, "ovrin: cannot type: %s\n", error.c_str());
      return kCannotType;
    }
  }
  Typist typist(options, keyboard.get(), file);
  if (!options.measureKey.empty()) {
    std::string error;
    if (keyboard == nullptr || !keyboard->WatchHotKey(
                                   options.measureKey, [&typist] { typist.Measure(); }, &error)) {
      std::fprintf(stderr, "ovrin: %s\n", keyboard == nullptr ? "a dry run has no measure key" : error.c_str());
      return kKeyTaken;
    }
  }
  const int result = Follow(options, listeners, typist);
  keyboard.reset();  // no hot key after the connection is gone
  return result;
}

}  // namespace

std::string TypedNumber(std::int32_t value, const Scale& scale, int decimals, char separator) {
  // value × mantissa is exact in 64 bits (|value| <= 2^31, |mantissa| < 10^9),
  // and so is the one rounding to `decimals` places: places added are zeros
  // written, places dropped are divided off together, half away from zero.
  // Binary floating point would type 1.014 for 1015 × 0.001; rounding place
  // by place would type 1.5 for 1445 × 0.001 at one decimal.
  const std::int64_t product = static_cast<std::int64_t>(value) * scale.mantissa;
  std::uint64_t magnitude = product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  std::string digits;
  if (scale.exponent <= decimals) {
    digits = std::to_string(magnitude);
    if (magnitude != 0) digits.append(static_cast<std::size_t>(decimals - scale.exponent), '0');
  } else {
    // 10^19 is the largest power of ten in 64 bits; past it every product
    // (below 2^62) is under half a unit and rounds to 0.
    const int dropped = scale.exponent - decimals;
    if (dropped > 19) {
      magnitude = 0;
    } else {
      std::uint64_t unit = 1;
      for (int i = 0; i < dropped; ++i) unit *= 10;
      const std::uint64_t rest = magnitude % unit;
      magnitude = magnitude / unit + (rest >= unit - rest ? 1 : 0);
    }
    digits = std::to_string(magnitude);
  }
  if (decimals > 0) {
    if (digits.size() <= static_cast<std::size_t>(decimals)) digits.insert(0, decimals + 1 - digits.size(), '0');
    digits.insert(digits.size() - decimals, 1, separator);
  }
  return (product < 0 && magnitude != 0 ? "-" : "") + digits;
}

int Type(const Options& options, Listeners& listeners) {
  return WithSink(options, SinkUse::kOnlyAFile, [&](ReadingSink* file) { return TypeInto(options, listeners, file); });
}

}  // namespace ovrin_tool
