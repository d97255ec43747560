// The held-modifier rule that `ovrin type` and ovrin-tray share: typing waits
// until the user lets go of Shift, Ctrl or Alt, and says why it did not type.
#include <gtest/gtest.h>

#include "keyboard.h"

namespace ovrin_tool {
namespace {

// A keyboard whose modifiers are held for the first `heldPolls` looks, and
// which takes the keys or refuses them (as Windows does for a window of a
// program with more rights).
class ScriptedKeyboard : public Keyboard {
 public:
  ScriptedKeyboard(int heldPolls, bool accepts) : heldPolls_(heldPolls), accepts_(accepts) {}
  bool ModifiersHeld() override { return polls_++ < heldPolls_; }
  bool Type(const std::string& text, FinalKey, std::string* error) override {
    typedWhileHeld_ = polls_ <= heldPolls_;
    typed_ = text;
    if (!accepts_) *error = "refused";
    return accepts_;
  }
  bool WatchHotKey(const std::string&, std::function<void()>, std::string*) override { return false; }

  int heldPolls_;
  bool accepts_;
  int polls_ = 0;
  bool typedWhileHeld_ = false;
  std::string typed_;
};

TEST(TypeWhenLetGo, WaitsForTheModifiersAndTellsWhatBecameOfTheText) {
  struct Case {
    int heldPolls;
    bool accepts;
    Typing result;
    int waits;  // times the caller is told that typing waits
    const char* why;
  };
  const Case cases[] = {
      {0, true, Typing::kTyped, 0, ""},
      {3, true, Typing::kTyped, 1, ""},
      {0, false, Typing::kRefused, 0, "refused"},
      {2, false, Typing::kRefused, 1, "refused"},
  };
  for (const Case& c : cases) {
    ScriptedKeyboard keyboard(c.heldPolls, c.accepts);
    int waits = 0;
    std::string why;
    EXPECT_EQ(TypeWhenLetGo(
                  keyboard, "1,234", FinalKey::kTab, [&waits] { ++waits; }, &why),
              c.result)
        << c.heldPolls;
    EXPECT_EQ(keyboard.typed_, "1,234");
    EXPECT_FALSE(keyboard.typedWhileHeld_) << c.heldPolls;
    EXPECT_EQ(waits, c.waits) << c.heldPolls;
    EXPECT_EQ(why, c.why) << c.heldPolls;
  }
}

}  // namespace
}  // namespace ovrin_tool
