// The keyboard on X11: XTest types into the window with the focus, XGrabKey
// holds the measure key. libX11 and libXtst are loaded when `type` needs
// them, so that ovrin, and its package, run without a desktop.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "keyboard.h"

namespace ovrin_tool {
namespace {

// The functions used, from the libraries loaded at run time.
struct XLibrary {
  decltype(&XOpenDisplay) OpenDisplay;
  decltype(&XCloseDisplay) CloseDisplay;
  decltype(&XKeysymToKeycode) KeysymToKeycode;
  decltype(&XStringToKeysym) StringToKeysym;
  decltype(&XKeysymToString) KeysymToString;
  decltype(&XGetKeyboardMapping) GetKeyboardMapping;
  decltype(&XDisplayKeycodes) DisplayKeycodes;
  decltype(&XChangeKeyboardMapping) ChangeKeyboardMapping;
  decltype(&XFree) Free;
  decltype(&XSync) Sync;
  decltype(&XGrabKey) GrabKey;
  decltype(&XUngrabKey) UngrabKey;
  decltype(&XDefaultRootWindow) RootWindowOf;
  decltype(&XSetErrorHandler) SetErrorHandler;
  decltype(&XPending) Pending;
  decltype(&XNextEvent) NextEvent;
  decltype(&XPeekEvent) PeekEvent;
  decltype(&XConnectionNumber) ConnectionOf;
  decltype(&XkbGetState) GetState;
  decltype(&XkbLockModifiers) LockModifiers;
  decltype(&XkbLatchModifiers) LatchModifiers;
  decltype(&XkbLockGroup) LockGroup;
  decltype(&XTestQueryExtension) TestQueryExtension;
  decltype(&XTestFakeKeyEvent) TestFakeKeyEvent;
};

template <typename Function>
bool Bind(void* library, const char* name, Function* function) {
  void* found = dlsym(library, name);
  *function = reinterpret_cast<Function>(found);
  return found != nullptr;
}

// Loaded once for the process; null when a library or a function is missing.
const XLibrary* LoadX() {
  static const XLibrary* loaded = []() -> const XLibrary* {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    void* xtst = x11 != nullptr ? dlopen("libXtst.so.6", RTLD_NOW) : nullptr;
    if (xtst == nullptr) return nullptr;
    static XLibrary x;
    const bool bound =
        Bind(x11, "XOpenDisplay", &x.OpenDisplay) && Bind(x11, "XCloseDisplay", &x.CloseDisplay) &&
        Bind(x11, "XKeysymToKeycode", &x.KeysymToKeycode) && Bind(x11, "XStringToKeysym", &x.StringToKeysym) &&
        Bind(x11, "XKeysymToString", &x.KeysymToString) && Bind(x11, "XGetKeyboardMapping", &x.GetKeyboardMapping) &&
        Bind(x11, "XDisplayKeycodes", &x.DisplayKeycodes) &&
        Bind(x11, "XChangeKeyboardMapping", &x.ChangeKeyboardMapping) && Bind(x11, "XFree", &x.Free) &&
        Bind(x11, "XSync", &x.Sync) && Bind(x11, "XGrabKey", &x.GrabKey) && Bind(x11, "XUngrabKey", &x.UngrabKey) &&
        Bind(x11, "XDefaultRootWindow", &x.RootWindowOf) && Bind(x11, "XSetErrorHandler", &x.SetErrorHandler) &&
        Bind(x11, "XPending", &x.Pending) && Bind(x11, "XNextEvent", &x.NextEvent) &&
        Bind(x11, "XPeekEvent", &x.PeekEvent) && Bind(x11, "XConnectionNumber", &x.ConnectionOf) &&
        Bind(x11, "XkbGetState", &x.GetState) && Bind(x11, "XkbLockModifiers", &x.LockModifiers) &&
        Bind(x11, "XkbLatchModifiers", &x.LatchModifiers) && Bind(x11, "XkbLockGroup", &x.LockGroup) &&
        Bind(xtst, "XTestQueryExtension", &x.TestQueryExtension) &&
        Bind(xtst, "XTestFakeKeyEvent", &x.TestFakeKeyEvent);
    return bound ? &x : nullptr;
  }();
  return loaded;
}

// BadAccess from XGrabKey: another client holds the key. Xlib reports errors
// through one process-wide handler; only the grab's own error is noted.
std::atomic<bool> gGrabRefused{false};
int NoteError(Display*, XErrorEvent* error) {
  if (error->error_code == BadAccess) gGrabRefused = true;
  return 0;
}

KeySym SymOf(char c) {
  if (c >= '0' && c <= '9') return XK_0 + (c - '0');
  if (c == '-') return XK_minus;
  if (c == ',') return XK_comma;
  return XK_period;
}

class X11Keyboard : public Keyboard {
 public:
  X11Keyboard(const XLibrary& x, Display* display) : x_(x), display_(display) {}
  ~X11Keyboard() override {
    stop_ = true;
    if (watcher_.joinable()) watcher_.join();
    // The spare keys lose their symbols only now: a client may look a key
    // up well after the server delivered its press.
    for (const auto& spare : spares_) {
      KeySym none = NoSymbol;
      x_.ChangeKeyboardMapping(display_, spare.second, 1, &none, 1);
    }
    x_.CloseDisplay(display_);
  }
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  bool ModifiersHeld() override {
    XkbStateRec state{};
    return x_.GetState(display_, XkbUseCoreKbd, &state) == Success && state.base_mods != 0;
  }

  bool Type(const std::string& text, FinalKey then, std::string* error) override {
    const std::lock_guard<std::mutex> lock(typing_);
    std::vector<KeySym> syms;
    for (const char c : text) syms.push_back(SymOf(c));
    if (then != FinalKey::kNone) {
      syms.push_back(then == FinalKey::kTab ? XK_Tab : then == FinalKey::kSpace ? XK_space : XK_Return);
    }
    std::vector<Key> keys;
    for (const KeySym sym : syms) {
      keys.push_back(KeyFor(sym));
      if (keys.back().code == 0) {
        *error =
            std::string("the keyboard has no key for \"") + x_.KeysymToString(sym) + "\" and no spare key to give it";
        return false;
      }
    }
    // Caps Lock (which turns the digits of some layouts into signs) and a
    // latched modifier are off while the keys go out, and put back after;
    // so is a second layout (us,ru: "." would be typed as another letter),
    // since the keys were looked up in the first one's columns.
    XkbStateRec state{};
    x_.GetState(display_, XkbUseCoreKbd, &state);
    x_.LockModifiers(display_, XkbUseCoreKbd, state.locked_mods, 0);
    x_.LatchModifiers(display_, XkbUseCoreKbd, state.latched_mods, 0);
    x_.LockGroup(display_, XkbUseCoreKbd, 0);
    const KeyCode shift = x_.KeysymToKeycode(display_, XK_Shift_L);
    for (const Key& key : keys) {
      if (key.shifted) x_.TestFakeKeyEvent(display_, shift, True, CurrentTime);
      x_.TestFakeKeyEvent(display_, key.code, True, CurrentTime);
      x_.TestFakeKeyEvent(display_, key.code, False, CurrentTime);
      if (key.shifted) x_.TestFakeKeyEvent(display_, shift, False, CurrentTime);
    }
    x_.LockModifiers(display_, XkbUseCoreKbd, state.locked_mods, state.locked_mods);
    x_.LatchModifiers(display_, XkbUseCoreKbd, state.latched_mods, state.latched_mods);
    x_.LockGroup(display_, XkbUseCoreKbd, state.locked_group);
    x_.Sync(display_, False);
    return true;
  }

  bool WatchHotKey(const std::string& key, std::function<void()> pressed, std::string* error) override {
    Display* display = x_.OpenDisplay(nullptr);
    if (display == nullptr) {
      *error = "cannot open the X display for the measure key";
      return false;
    }
    const KeyCode code = x_.KeysymToKeycode(display, x_.StringToKeysym(key.c_str()));
    const Window root = x_.RootWindowOf(display);
    // The key counts with Caps Lock and Num Lock on or off.
    const unsigned locks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    gGrabRefused = false;
    XErrorHandler previous = x_.SetErrorHandler(NoteError);
    for (const unsigned lock : locks) x_.GrabKey(display, code, lock, root, True, GrabModeAsync, GrabModeAsync);
    x_.Sync(display, False);
    x_.SetErrorHandler(previous);
    if (code == 0 || gGrabRefused) {
      *error = code == 0 ? "the keyboard has no key " + key
                         : "the key " + key + " is taken by another program: choose another with --measure-key";
      x_.CloseDisplay(display);
      return false;
    }
    // The key measures when it is let go: while it is down the grab sends
    // every key to this program, the reading typed in reply too.
    watcher_ = std::thread([this, display, code, pressed] {
      pollfd ready{x_.ConnectionOf(display), POLLIN, 0};
      while (!stop_) {
        while (x_.Pending(display) > 0) {
          XEvent event;
          x_.NextEvent(display, &event);
          if (event.type != KeyRelease || event.xkey.keycode != code) continue;
          // A key held down repeats as a release and a press at the same moment.
          XEvent next;
          if (x_.Pending(display) > 0 && x_.PeekEvent(display, &next) == 1 && next.type == KeyPress &&
              next.xkey.keycode == code && next.xkey.time == event.xkey.time) {
            continue;
          }
          pressed();
        }
        poll(&ready, 1, 100);  // how soon the watcher notices that it is to stop
      }
      x_.CloseDisplay(display);
    });
    return true;
  }

 private:
  // A key and whether it types its symbol with Shift.
  struct Key {
    KeyCode code;
    bool shifted;
  };

  // The key that types `sym` without a modifier or with Shift; else a spare
  // key given `sym` (code 0 when there is none).
  Key KeyFor(KeySym sym) {
    const auto spare = spares_.find(sym);
    const KeyCode code = spare != spares_.end() ? spare->second : x_.KeysymToKeycode(display_, sym);
    const int level = LevelOf(code, sym);
    if (level >= 0) return {code, level == 1};
    if (spare != spares_.end()) spares_.erase(spare);  // a new layout was loaded over it
    return {SpareKey(sym), false};
  }

  // 0 when `code` types `sym` alone, 1 with Shift, else -1.
  int LevelOf(KeyCode code, KeySym sym) {
    if (code == 0) return -1;
    int perKey = 0;
    KeySym* syms = x_.GetKeyboardMapping(display_, code, 1, &perKey);
    if (syms == nullptr) return -1;
    const int level = perKey > 0 && syms[0] == sym ? 0 : perKey > 1 && syms[1] == sym ? 1 : -1;
    x_.Free(syms);
    return level;
  }

  // A key with no symbol, given `sym` for as long as this keyboard lives.
  KeyCode SpareKey(KeySym sym) {
    int low = 0;
    int high = 0;
    x_.DisplayKeycodes(display_, &low, &high);
    int perKey = 0;
    KeySym* syms = x_.GetKeyboardMapping(display_, static_cast<KeyCode>(low), high - low + 1, &perKey);
    KeyCode found = 0;
    for (int code = high; syms != nullptr && code >= low && found == 0; --code) {
      bool empty = true;
      for (int i = 0; i < perKey; ++i) empty = empty && syms[(code - low) * perKey + i] == NoSymbol;
      if (empty) found = static_cast<KeyCode>(code);
    }
    if (syms != nullptr) x_.Free(syms);
    if (found != 0) {
      x_.ChangeKeyboardMapping(display_, found, 1, &sym, 1);
      x_.Sync(display_, False);
      spares_[sym] = found;
    }
    return found;
  }

  const XLibrary& x_;
  Display* display_;
  std::mutex typing_;
  std::map<KeySym, KeyCode> spares_;  // symbols the layout lacks, on keys that had none
  std::thread watcher_;
  std::atomic<bool> stop_{false};
};

}  // namespace

std::unique_ptr<Keyboard> OpenKeyboard(std::string* error) {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') {
    *error =
        "there is no X display ($DISPLAY is not set). ovrin types into X11 windows: run it in the desktop "
        "session (under Wayland, through XWayland)";
    return nullptr;
  }
  const XLibrary* x = LoadX();
  if (x == nullptr) {
    *error = "the X libraries are missing: install libx11-6 and libxtst6 (sudo apt install libxtst6)";
    return nullptr;
  }
  Display* display = x->OpenDisplay(nullptr);
  if (display == nullptr) {
    *error = std::string("cannot open the X display \"") + name + "\"";
    return nullptr;
  }
  int event = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!x->TestQueryExtension(display, &event, &errorBase, &major, &minor)) {
    x->CloseDisplay(display);
    *error = "the X server has no XTest extension, which typing needs";
    return nullptr;
  }
  return std::make_unique<X11Keyboard>(*x, display);
}

}  // namespace ovrin_tool
