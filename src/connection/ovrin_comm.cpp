// The connection object: construction, copies, Close and the listening state.
#include "ovrin_comm.h"

#include "handles.h"
#include "platform/platform.h"
#include "readings.h"
#include "receive_thread.h"
#include "trace.h"

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
  ovrin::ForgetChannel(*this);
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
  ovrin::ForgetChannel(*this);
}

int OvrinComm::Close() {
  // From a handler on its own receive thread, the wait for that thread would
  // never end: refused, as on a connection that is not open.
  if (isOpen.load() == 0 || ovrin::OnReceiveThreadOf(*this)) return 0;
  isOpen.store(0);
  {
    platform::ScopedProcessLock lock;  // the receive thread may be in SetListen
    platform::SignalEvent(ovrin::AsEvent(listenEvent));
  }
  // The receive thread's wait ends; it finds isOpen 0 after its pass and ends.
  platform::WakeWaiters(ovrin::AsPort(portHandle));
  platform::JoinThread(ovrin::AsThread(receiveThread));
  receiveThread = nullptr;
  platform::ClosePort(ovrin::AsPort(portHandle), platform::PendingOutput::kLetLeave);
  platform::CloseEvent(ovrin::AsEvent(listenEvent));
  platform::CloseEvent(ovrin::AsEvent(idleEvent));
  portHandle = platform::NoPort();
  listenEvent = nullptr;
  idleEvent = nullptr;
  if (ovrin::Tracing()) {
    const std::shared_ptr<ovrin::ReadingChannel> run = ovrin::ChannelOf(*this, false);
    if (run != nullptr) ovrin::TraceLink(ovrin::TraceKind::kClosed, run->Port());
  }
  return 1;
}

void OvrinComm::SetListen(int listen) {
  if (isOpen.load() == 0) return;
  platform::ScopedProcessLock lock;
  platform::Event* listening = ovrin::AsEvent(listenEvent);
  platform::Event* idle = ovrin::AsEvent(idleEvent);
  if (listen != 0) {
    platform::SignalEvent(listening);
    platform::UnsignalEvent(idle);
  } else {
    platform::UnsignalEvent(listening);
    platform::SignalEvent(idle);
  }
}

int OvrinComm::SendCommand(std::uint32_t, std::uint32_t, std::uint32_t) { return 1; }
