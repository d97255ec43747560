// Open: the remembered port, discovery, the events and the receive thread.
#include <cstring>
#include <new>

#include "commands.h"
#include "concurrent_search.h"
#include "connection_state.h"
#include "handles.h"
#include "ovrin_comm.h"
#include "platform/platform.h"
#include "receive_thread.h"
#include "trace.h"

namespace platform = ovrin::platform;

namespace {

constexpr char kStartupCommand[] = "sm 1";
constexpr std::size_t kMaxRememberedBytes = 80;  // terminating NUL included

// The port setting as it was found, and written back once a port worked.
class RememberedPort {
 public:
  RememberedPort() : settings_(platform::OpenSettings(&created_)) {}
  ~RememberedPort() {
    if (settings_ != nullptr) platform::CloseSettings(settings_);
  }
  RememberedPort(const RememberedPort&) = delete;
  RememberedPort& operator=(const RememberedPort&) = delete;

  // A setting made just now holds nothing yet and is not read.
  std::string Read() const {
    std::string name;
    if (settings_ == nullptr || created_ || !platform::ReadRememberedPort(settings_, &name)) return {};
    return name;
  }
  bool Write(const std::string& name) const {
    return settings_ != nullptr && platform::WriteRememberedPort(settings_, name);
  }

 private:
  bool created_ = false;
  platform::Settings* settings_;
};

}  // namespace

int OvrinComm::Open(std::string& port, ovrin::WindowHandle window) {
  // From a handler on its own receive thread, closing would wait for itself.
  if (ovrin::OnReceiveThreadOf(*this)) return 0;
  // Hosts that open twice mean to reconnect; two receive threads on one
  // object would share its fields.
  if (isOpen.load() != 0) Close();
  // The state of this run, looked up while the object carries no handles.
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(*this, true);
  {
    RememberedPort remembered;
    port = remembered.Read();
    portHandle = ovrin::ConcurrentSearchWanted() ? ovrin::SearchConcurrently(*this, port) : FindAndOpen(port);
    if (ovrin::AsPort(portHandle) == platform::NoPort()) return 0;
    remembered.Write(port);
  }
  notifyWindow = window;
  listenEvent = platform::CreateManualEvent(true);
  idleEvent = listenEvent != nullptr ? platform::CreateManualEvent(false) : nullptr;
  // A new, empty queue, sequence from 1.
  const std::uint64_t run = state != nullptr && idleEvent != nullptr
                                ? state->Begin({port, ovrin::AsPort(portHandle), ovrin::AsEvent(listenEvent),
                                                ovrin::AsEvent(idleEvent), window})
                                : 0;
  auto* const start = run != 0 ? new (std::nothrow) ovrin::ReceiveRun{state, run} : nullptr;
  receiveThread = start != nullptr ? platform::StartThreadSuspended(ovrin::ReceiveThreadProc, start) : nullptr;
  if (receiveThread == nullptr) {
    // Nothing of a failed open stays behind.
    delete start;
    if (run != 0) state->Cancel();
    if (idleEvent != nullptr) platform::CloseEvent(ovrin::AsEvent(idleEvent));
    if (listenEvent != nullptr) platform::CloseEvent(ovrin::AsEvent(listenEvent));
    listenEvent = idleEvent = nullptr;
    platform::ClosePort(ovrin::AsPort(portHandle), platform::PendingOutput::kLetLeave);
    portHandle = platform::NoPort();
    return 0;
  }
  // The host's view; the thread goes by the run, which Begin started.
  isOpen.store(1);
  platform::ResumeThread(ovrin::AsThread(receiveThread));
  ovrin::TraceLink(ovrin::TraceKind::kConnected, port);
  // Its answer arrives as a reply line.
  if (SendMsg(portHandle, kStartupCommand) != 0) {
    const std::string frame = ovrin::CommandFrame(kStartupCommand);
    state->TraceBytes(ovrin::TraceKind::kSent, frame.data(), frame.size());
  }
  return 1;
}

bool ovrin::SetRememberedPort(const char* port) {
  if (port == nullptr || port[0] == '\0' || std::strlen(port) + 1 > kMaxRememberedBytes) return false;
  return RememberedPort().Write(port);
}
