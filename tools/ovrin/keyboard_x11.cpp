// The keyboard on X11: XTest types into the window with the focus, XGrabKey
// holds the measure key. libX11 and libXtst are loaded when `type` needs
// them, so that ovrin, and its package, run without a desktop.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <poll.h>

#include <atomic>
#include <cstdlib>
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
        Bind(x11, "XGetKeyboardMapping", &x.GetKeyboardMapping) && Bind(x11, "XDisplayKeycodes", &x.DisplayKeycodes) &&
        Bind(x11, "XChangeKeyboardMapping", &x.ChangeKeyboardMapping) && Bind(x11, "XFree", &x.Free) &&
        Bind(x11, "XSync", &x.Sync) && Bind(x11, "XGrabKey", &x.GrabKey) && Bind(x11, "XUngrabKey", &x.UngrabKey) &&
        Bind(x11, "XDefaultRootWindow", &x.RootWindowOf) && Bind(x11, "XSetErrorHandler", &x.SetErrorHandler) &&
        Bind(x11, "XPending", &x.Pending) && Bind(x11, "XNextEvent", &x.NextEvent) &&
        Bind(x11, "XPeekEvent", &x.PeekEvent) && Bind(x11, "XConnectionNumber", &x.ConnectionOf) &&
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
    x_.CloseDisplay(display_);
  }
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  bool Type(const std::string& text, FinalKey then) override {
    const std::lock_guard<std::mutex> lock(typing_);
    bool typed = true;
    for (const char c : text) typed = Press(SymOf(c)) && typed;
    if (then == FinalKey::kEnter) typed = Press(XK_Return) && typed;
    if (then == FinalKey::kTab) typed = Press(XK_Tab) && typed;
    if (then == FinalKey::kSpace) typed = Press(XK_space) && typed;
    x_.Sync(display_, False);
    return typed;
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
  // Presses and releases the key of `sym`, with Shift where the layout wants
  // it; a sym the layout lacks is put on a spare key for the moment.
  bool Press(KeySym sym) {
    KeyCode code = x_.KeysymToKeycode(display_, sym);
    const bool spare = code == 0;
    if (spare) code = SpareKey(sym);
    if (code == 0) return false;
    const bool shifted = !spare && NeedsShift(code, sym);
    const KeyCode shift = x_.KeysymToKeycode(display_, XK_Shift_L);
    if (shifted) x_.TestFakeKeyEvent(display_, shift, True, CurrentTime);
    x_.TestFakeKeyEvent(display_, code, True, CurrentTime);
    x_.TestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shifted) x_.TestFakeKeyEvent(display_, shift, False, CurrentTime);
    if (spare) {
      x_.Sync(display_, False);
      KeySym none = NoSymbol;
      x_.ChangeKeyboardMapping(display_, code, 1, &none, 1);
    }
    return true;
  }

  bool NeedsShift(KeyCode code, KeySym sym) {
    int perKey = 0;
    KeySym* syms = x_.GetKeyboardMapping(display_, code, 1, &perKey);
    const bool shifted = syms != nullptr && perKey > 1 && syms[0] != sym && syms[1] == sym;
    if (syms != nullptr) x_.Free(syms);
    return shifted;
  }

  // A key with no symbol, given `sym` until it has been pressed.
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
    }
    return found;
  }

  const XLibrary& x_;
  Display* display_;
  std::mutex typing_;
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
