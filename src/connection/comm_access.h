// Access to the connection's private fields for the library's own parts (the
// receive thread) and its tests, with each handle as the platform types it.
#pragma once

#include <string>

#include "handles.h"
#include "ovrin_comm.h"

struct OvrinCommAccess {
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
