// The connection object: construction, copies, Close and the listening state.
#include "ovrin_comm.h"

#include "platform/platform.h"
#include "readings.h"
#include "receive_thread.h"

namespace platform = ovrin::platform;

OvrinComm::OvrinComm()
    : measurement(),
      isOpen(0),
      portHandle(platform::NoPort()),
      notifyWindow(nullptr),
      listenEvent(nullptr),
      idleEvent(nullptr),
      receiveThread(nullptr) {}

// Handles are never shared between objects: two owners would release them
// twice. A copy takes what is plain data.
OvrinComm::OvrinComm(const OvrinComm& other) : OvrinComm() {
  measurement = other.measurement;
  notifyWindow = other.notifyWindow;
}

OvrinComm& OvrinComm::operator=(const OvrinComm& other) {
  if (this == &other) return *this;
  if (isOpen.load() != 0) Close();
  measurement = other.measurement;
  notifyWindow = other.notifyWindow;
  return *this;
}

OvrinComm::~OvrinComm() {
  if (isOpen.load() != 0) Close();
  ovrin::ForgetChannel(*this);
}

int OvrinComm::Close() {
  // From a handler on its own receive thread, the wait for that thread would
  // never end: refused, as on a connection that is not open.
  if (isOpen.load() == 0 || ovrin::OnReceiveThreadOf(*this)) return 0;
  isOpen.store(0);
  {
    platform::ScopedProcessLock lock;  // the receive thread may be in SetListen
    platform::SetEvent(listenEvent);
  }
  // The receive thread's wait ends; it finds isOpen 0 after its pass and ends.
  platform::WakeWaiters(portHandle);
  platform::JoinThread(receiveThread);
  receiveThread = nullptr;
  platform::ClosePort(portHandle);
  platform::CloseEvent(listenEvent);
  platform::CloseEvent(idleEvent);
  portHandle = platform::NoPort();
  listenEvent = nullptr;
  idleEvent = nullptr;
  return 1;
}

void OvrinComm::SetListen(int listen) {
  if (isOpen.load() == 0) return;
  platform::ScopedProcessLock lock;
  if (listen != 0) {
    platform::SetEvent(listenEvent);
    platform::ResetEvent(idleEvent);
  } else {
    platform::ResetEvent(listenEvent);
    platform::SetEvent(idleEvent);
  }
}

int OvrinComm::SendCommand(std::uint32_t, std::uint32_t, std::uint32_t) { return 1; }
