// The tool's side of notifications: a queue on POSIX, a hidden window on
// Windows; and the terminal it runs in.
#pragma once

#include "ovrin_comm.h"

namespace ovrin_tool {

enum class Waited { kNotification, kTimedOut, kInterrupted };

class HostLoop {
 public:
  HostLoop();
  ~HostLoop();
  HostLoop(const HostLoop&) = delete;
  HostLoop& operator=(const HostLoop&) = delete;

  // Where the library posts its notifications.
  ovrin::WindowHandle Window() const;
  // The next notification, unless the time-out passes (timeoutMs -1: none) or
  // the user interrupts (Ctrl-C) first.
  Waited Wait(ovrin::Notification* out, int timeoutMs);
  // Sleeps; false when the user interrupted.
  bool Pause(int milliseconds);

 private:
  struct State;
  State* state_;
};

bool StdinIsTerminal();
bool StderrIsTerminal();

}  // namespace ovrin_tool
