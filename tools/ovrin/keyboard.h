// Typing into the window that has the keyboard focus, and a system-wide key
// that measures: one file for each system (keyboard_x11.cpp: XTest, with the X
// libraries loaded at run time, so that nothing else of ovrin needs X;
// keyboard_win32.cpp: SendInput and RegisterHotKey).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace ovrin_tool {

// The key pressed after a reading's text.
enum class FinalKey { kEnter, kTab, kSpace, kNone };

class Keyboard {
 public:
  virtual ~Keyboard() = default;
  // Types text (digits, '-', '.', ',') and then `then`, as one unit that no
  // other typing of this program comes between. False when it could not.
  virtual bool Type(const std::string& text, FinalKey then) = 0;
  // Makes `key` ("F1" to "F24") a system-wide hot key: `pressed` is called on
  // a thread of the keyboard's own each time it is pressed, until the
  // keyboard goes. False, with *error, when another program holds the key.
  virtual bool WatchHotKey(const std::string& key, std::function<void()> pressed, std::string* error) = 0;
};

// The keyboard of this session; null, with *error naming what is missing and
// how to get it, when there is no way to type.
std::unique_ptr<Keyboard> OpenKeyboard(std::string* error);

}  // namespace ovrin_tool
