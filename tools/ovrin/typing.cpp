#include "keyboard.h"
#include "system.h"

namespace ovrin_tool {
namespace {

// How long a reading waits for the user to let go of the modifier keys.
constexpr int kModifierWaitMs = 5000;
constexpr int kModifierPollMs = 20;

}  // namespace

Typing TypeWhenLetGo(Keyboard& keyboard, const std::string& text, FinalKey then, const std::function<void()>& waiting,
                     std::string* why) {
  if (keyboard.ModifiersHeld()) {
    waiting();
    int waited = 0;
    while (keyboard.ModifiersHeld()) {
      if (Interrupted()) {
        *why = "interrupted";
        return Typing::kInterrupted;
      }
      if (waited >= kModifierWaitMs) {
        *why = "a modifier key was held for " + std::to_string(kModifierWaitMs / 1000) + " s";
        return Typing::kModifierHeld;
      }
      SleepMs(kModifierPollMs);
      waited += kModifierPollMs;
    }
  }
  return keyboard.Type(text, then, why) ? Typing::kTyped : Typing::kRefused;
}

}  // namespace ovrin_tool
