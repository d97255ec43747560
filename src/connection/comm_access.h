// Access to the connection's private fields for the library's own parts (the
// receive thread) and its tests.
#pragma once

#include <string>

#include "ovrin_comm.h"

struct OvrinCommAccess {
  static std::atomic<std::int32_t>& IsOpen(OvrinComm& c) { return c.isOpen; }
  static OvrinHandle PortHandle(const OvrinComm& c) { return c.portHandle; }
  static ovrin::WindowHandle NotifyWindow(const OvrinComm& c) { return c.notifyWindow; }
  static OvrinHandle ListenEvent(const OvrinComm& c) { return c.listenEvent; }
  static OvrinHandle IdleEvent(const OvrinComm& c) { return c.idleEvent; }
  static OvrinHandle FindAndOpen(OvrinComm& c, std::string& port) { return c.FindAndOpen(port); }
  static int SendMsg(OvrinComm& c, OvrinHandle port, const std::string& text) { return c.SendMsg(port, text); }
};
