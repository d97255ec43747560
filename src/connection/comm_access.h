// Access to the connection's private fields for the library's own parts (the
// receive thread) and its tests, with each handle as the platform types it.
#pragma once

#include <cstddef>
#include <string>

#include "handles.h"
#include "ovrin_comm.h"

struct OvrinCommAccess {
// The layout hosts read in place, on both word sizes: a vtable pointer, the
// 16-byte record, the 32-bit flag, then five pointer-sized handles (44 bytes
// on x86, 72 on x64). OvrinComm is not standard-layout (it has a vtable), so
// offsetof is only conditionally supported; every compiler used here has it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static constexpr std::size_t kPointer = sizeof(void*);
  static_assert(offsetof(OvrinComm, measurement) == kPointer, "measurement after the vtable pointer");
  static_assert(offsetof(OvrinComm, isOpen) == kPointer + 16, "isOpen after the record");
  static_assert(offsetof(OvrinComm, portHandle) == 2 * kPointer + 16, "portHandle");
  static_assert(offsetof(OvrinComm, notifyWindow) == 3 * kPointer + 16, "notifyWindow");
  static_assert(offsetof(OvrinComm, listenEvent) == 4 * kPointer + 16, "listenEvent");
  static_assert(offsetof(OvrinComm, idleEvent) == 5 * kPointer + 16, "idleEvent");
  static_assert(offsetof(OvrinComm, receiveThread) == 6 * kPointer + 16, "receiveThread");
  static_assert(sizeof(OvrinComm) == 7 * kPointer + 16, "44 bytes on x86, 72 on x64");
#pragma GCC diagnostic pop

  // Close, and for the C interface a close that never waits for a handler
  // (`waitForHandler` false): a run whose handler is running is abandoned,
  // its port released at once.
  static int Close(OvrinComm& c, bool waitForHandler);

  static std::atomic<std::int32_t>& IsOpen(OvrinComm& c) { return c.isOpen; }
  static ovrin::platform::Port* PortHandle(const OvrinComm& c) { return ovrin::AsPort(c.portHandle); }
  static ovrin::WindowHandle NotifyWindow(const OvrinComm& c) { return c.notifyWindow; }
  static ovrin::platform::Event* ListenEvent(const OvrinComm& c) { return ovrin::AsEvent(c.listenEvent); }
  static ovrin::platform::Event* IdleEvent(const OvrinComm& c) { return ovrin::AsEvent(c.idleEvent); }
  static ovrin::platform::Port* FindAndOpen(OvrinComm& c, std::string& port) {
    return ovrin::AsPort(c.FindAndOpen(port));
  }
  static int SendMsg(OvrinComm& c, ovrin::platform::Port* port, const std::string& text) {
    return c.SendMsg(port, text);
  }
};
