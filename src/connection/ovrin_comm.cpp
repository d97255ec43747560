// The connection object: construction, copies, Close and the listening state.
#include "ovrin_comm.h"

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

int OvrinComm::Close() {
  // From a handler on its own receive thread, the wait for that thread would
  // never end: refused, as on a connection that is not open.
  if (isOpen.load() == 0 || ovrin::OnReceiveThreadOf(*this)) return 0;
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(*this);
  if (state == nullptr) {
    // Open made the state of an open connection at its address; an object
    // the host moved byte for byte (as MFC's CArray grows) has none at its
    // new one. The handles are the original's to release: this one is not open.
    isOpen.store(0);
    portHandle = platform::NoPort();
    listenEvent = idleEvent = nullptr;
    receiveThread = nullptr;
    return 0;
  }
  isOpen.store(0);
  platform::SignalEvent(ovrin::AsEvent(listenEvent));
  // The receive thread's wait ends; it finds isOpen 0 after its pass and ends.
  platform::WakeWaiters(ovrin::AsPort(portHandle));
  platform::JoinThread(ovrin::AsThread(receiveThread));
  receiveThread = nullptr;
  state->Finish();
  platform::ClosePort(ovrin::AsPort(portHandle), platform::PendingOutput::kLetLeave);
  platform::CloseEvent(ovrin::AsEvent(listenEvent));
  platform::CloseEvent(ovrin::AsEvent(idleEvent));
  portHandle = platform::NoPort();
  listenEvent = nullptr;
  idleEvent = nullptr;
  return 1;
}

void OvrinComm::SetListen(int listen) {
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(*this);
  if (state != nullptr) state->SetListening(listen != 0);
}

int OvrinComm::SendCommand(std::uint32_t, std::uint32_t, std::uint32_t) { return 1; }
