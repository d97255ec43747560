// The connection object: construction, copies, Close and the listening state.
#include "ovrin_comm.h"

#include "comm_access.h"
#include "connection_state.h"
#include "handles.h"
#include "platform/platform.h"
#include "receive_thread.h"

namespace platform = ovrin::platform;

OvrinComm::OvrinComm()
    : measurement(),
      isOpen(0),
      portHandle(platform::NoPort()),
      notifyWindow(nullptr),
      listenEvent(nullptr),
      idleEvent(nullptr),
      receiveThread(nullptr) {
  // An object that was freed without its destructor (a C host's free, a
  // memory pool) may have left an entry at this address: a new connection
  // inherits no handler, context or queue from it.
  ovrin::ForgetState(*this);
}

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
  ovrin::ForgetState(*this);
}

int OvrinComm::Close() { return OvrinCommAccess::Close(*this, true); }

int OvrinCommAccess::Close(OvrinComm& c, bool waitForHandler) {
  // From a handler on its own receive thread, the wait for that thread would
  // never end: refused, as on a connection that is not open.
  if (c.isOpen.load() == 0 || ovrin::OnReceiveThreadOf(c)) return 0;
  // A copy the host moved byte for byte (as MFC's CArray grows) finds its
  // original's run through the handles it carries.
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(c);
  c.isOpen.store(0);
  if (state == nullptr) {
    // Handles of no open run (a copy of an object closed since): not ours to release.
    c.portHandle = platform::NoPort();
    c.listenEvent = c.idleEvent = nullptr;
    c.receiveThread = nullptr;
    return 0;
  }
  const bool abandoned = state->Stop(waitForHandler);
  platform::SignalEvent(ovrin::AsEvent(c.listenEvent));
  // The receive thread's wait ends; it finds the run stopped after its pass
  // and ends. One abandoned in a handler ends by itself once the handler
  // returns, and never touches the port again.
  platform::WakeWaiters(ovrin::AsPort(c.portHandle));
  if (abandoned) {
    platform::DetachThread(ovrin::AsThread(c.receiveThread));
  } else {
    platform::JoinThread(ovrin::AsThread(c.receiveThread));
  }
  c.receiveThread = nullptr;
  {
    // A command under way (from a handler given up) ends before the port goes.
    platform::MonitorLock sending(state->Sending());
    state->Finish();
  }
  platform::ClosePort(ovrin::AsPort(c.portHandle), platform::PendingOutput::kLetLeave);
  platform::CloseEvent(ovrin::AsEvent(c.listenEvent));
  platform::CloseEvent(ovrin::AsEvent(c.idleEvent));
  c.portHandle = platform::NoPort();
  c.listenEvent = nullptr;
  c.idleEvent = nullptr;
  return 1;
}

void OvrinComm::SetListen(int listen) {
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(*this);
  if (state != nullptr) state->SetListening(listen != 0);
}

int OvrinComm::SendCommand(std::uint32_t, std::uint32_t, std::uint32_t) { return 1; }
