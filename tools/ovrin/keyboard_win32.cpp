// The keyboard on Windows: SendInput types into the window with the focus
// (the text as Unicode characters, the final key as a virtual key), and
// RegisterHotKey holds the measure key on a thread with a message loop.
#include <windows.h>

#include <future>
#include <thread>
#include <vector>

#include "keyboard.h"

namespace ovrin_tool {
namespace {

INPUT KeyInput(WORD virtualKey, WORD character, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = character;
  input.ki.dwFlags = flags;
  return input;
}

class WindowsKeyboard : public Keyboard {
 public:
  WindowsKeyboard() = default;
  ~WindowsKeyboard() override {
    if (!watcher_.joinable()) return;
    PostThreadMessageW(watcherId_, WM_QUIT, 0, 0);
    watcher_.join();
  }
  WindowsKeyboard(const WindowsKeyboard&) = delete;
  WindowsKeyboard& operator=(const WindowsKeyboard&) = delete;

  bool ModifiersHeld() override {
    for (const int key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN}) {
      if ((GetAsyncKeyState(key) & 0x8000) != 0) return true;
    }
    return false;
  }

  // One SendInput call: Windows puts its events into the input stream
  // together, with nothing of the user's or another program's between them.
  // Characters go as Unicode, which no lock key changes; Caps Lock leaves
  // Enter, Tab and Space alone.
  bool Type(const std::string& text, FinalKey then, std::string* error) override {
    std::vector<INPUT> inputs;
    for (const char c : text) {
      inputs.push_back(KeyInput(0, static_cast<WORD>(c), KEYEVENTF_UNICODE));
      inputs.push_back(KeyInput(0, static_cast<WORD>(c), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    const WORD key = then == FinalKey::kEnter   ? VK_RETURN
                     : then == FinalKey::kTab   ? VK_TAB
                     : then == FinalKey::kSpace ? VK_SPACE
                                                : 0;
    if (key != 0) {
      inputs.push_back(KeyInput(key, 0, 0));
      inputs.push_back(KeyInput(key, 0, KEYEVENTF_KEYUP));
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size()) return true;
    *error = "Windows did not take the key presses (a window of a program run as administrator has the focus?)";
    return false;
  }

  bool WatchHotKey(const std::string& key, std::function<void()> pressed, std::string* error) override {
    const UINT virtualKey = VK_F1 + static_cast<UINT>(std::stoi(key.substr(1))) - 1;
    std::promise<bool> registered;
    std::future<bool> answer = registered.get_future();
    // A hot key belongs to the thread that registers it, whose messages bring it.
    watcher_ = std::thread([this, virtualKey, pressed, &registered] {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue, before anyone posts to it
      watcherId_ = GetCurrentThreadId();
      const bool ok = RegisterHotKey(nullptr, 1, MOD_NOREPEAT, virtualKey) != FALSE;
      registered.set_value(ok);
      if (!ok) return;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_HOTKEY) pressed();
      }
      UnregisterHotKey(nullptr, 1);
    });
    if (answer.get()) return true;
    watcher_.join();
    *error = "the key " + key + " is taken by another program: choose another with --measure-key";
    return false;
  }

 private:
  std::thread watcher_;
  DWORD watcherId_ = 0;
};

}  // namespace

std::unique_ptr<Keyboard> OpenKeyboard(std::string*) { return std::make_unique<WindowsKeyboard>(); }

}  // namespace ovrin_tool
