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
  // Whether the user holds a modifier key now (Shift, Ctrl, Alt, AltGr, the
  // logo key): typed under one, a digit can come out as a sign and Tab as
  // Shift+Tab, so typing waits for them.
  virtual bool ModifiersHeld() = 0;
  // Types text (digits, '-', '.', ',') and then `then`, as one unit that no
  // other typing of this program comes between, whatever lock keys (Caps
  // Lock) are on. False, with *error, when it could not; a text with a
  // character the keyboard has no key for is not begun.
  virtual bool Type(const std::string& text, FinalKey then, std::string* error) = 0;
  // Makes `key` ("F1" to "F24") a system-wide hot key: `pressed` is called on
  // a thread of the keyboard's own each time it is pressed, until the
  // keyboard goes. False, with *error, when another program holds the key.
  virtual bool WatchHotKey(const std::string& key, std::function<void()> pressed, std::string* error) = 0;
};

// How typing one reading went.
enum class Typing { kTyped, kModifierHeld, kInterrupted, kRefused };

// Types text and then `then` once the user has let go of the modifier keys,
// waiting up to 5 s for that (calling `waiting` once when it has to), rather
// than letting go of them for the user: a key pressed again after the user
// let go of it would stay down. Anything but kTyped comes with *why.
Typing TypeWhenLetGo(Keyboard& keyboard, const std::string& text, FinalKey then, const std::function<void()>& waiting,
                     std::string* why);

// The keyboard of this session; null, with *error naming what is missing and
// how to get it, when there is no way to type.
std::unique_ptr<Keyboard> OpenKeyboard(std::string* error);

}  // namespace ovrin_tool
