// The receive thread: reads what the meter sends, decodes each line into the
// connection's record and tells the host.
#include "receive_thread.h"

#include "comm_access.h"
#include "handles.h"
#include "host_messages.h"
#include "platform/platform.h"
#include "protocol/line_assembler.h"
#include "protocol/reply_parser.h"
#include "readings.h"
#include "trace.h"

namespace ovrin {
namespace {

constexpr unsigned kStopped = 0;
constexpr unsigned kFailed = 0xFFFFFFFFu;
// Waits in a row that end without a byte to read (input reported, none there).
// Beyond this the thread throttles itself instead of spinning.
constexpr int kEmptyPassesBeforeThrottle = 16;
constexpr int kThrottleMs = 20;

// The connection whose receive thread this is, on that thread: Close and
// Open called from a handler on it must not wait for the thread itself.
thread_local const OvrinComm* tReceivingFor = nullptr;

void DeliverLine(OvrinComm& comm, ReadingChannel& readings, const char* line, std::size_t length,
                 const Receipt& receipt) {
  // Decoded aside and copied in one step with its reading: a host reading the
  // record sees the old or the new one, never a half-written mix.
  readings.Deliver(&comm.measurement, ParseReply(line), line, length, receipt);
  comm.SetListen(0);
  const WindowHandle window = OvrinCommAccess::NotifyWindow(comm);
  if (window != nullptr) platform::PostNotification(window, WM_MEASURE_READY, 1, 0);
}

// Runs the passes until Close clears isOpen (true) or the link is lost (false).
bool ReceiveUntilStopped(OvrinComm& comm, ReadingChannel& readings, platform::Event* event) {
  platform::Port* const port = OvrinCommAccess::PortHandle(comm);
  std::atomic<std::int32_t>& isOpen = OvrinCommAccess::IsOpen(comm);
  LineAssembler lines;
  int emptyPasses = 0;
  bool readFirst = true;
  do {
    // What is queued is read at once; only an empty queue is waited on.
    if (readFirst) {
      const std::size_t asked = lines.SpaceLeft();
      const long received = platform::ReadQueued(port, event, lines.Space(), asked);
      if (received < 0) return isOpen.load() == 0;
      if (received > 0) {
        // Every line this read completes was received now.
        const Receipt receipt{platform::UtcNowNs(), platform::MonotonicNowNs()};
        TraceBytes(TraceKind::kReceived, readings.Port(), lines.Space(), static_cast<std::size_t>(received));
        lines.Commit(static_cast<std::size_t>(received),
                     [&](const char* line, std::size_t length) { DeliverLine(comm, readings, line, length, receipt); });
        emptyPasses = 0;
        // A read that left space took all that was queued: wait, without
        // asking once more for nothing.
        readFirst = static_cast<std::size_t>(received) == asked;
        continue;
      }
    }
    readFirst = true;
    if (platform::WaitForInput(port, event, -1) == platform::WaitResult::kFailed) return isOpen.load() == 0;
    if (++emptyPasses > kEmptyPassesBeforeThrottle) platform::SleepMs(kThrottleMs);
  } while (isOpen.load() != 0);
  return true;
}

}  // namespace

bool OnReceiveThreadOf(const OvrinComm& connection) { return tReceivingFor == &connection; }

unsigned ReceiveThreadProc(void* connection) {
  OvrinComm& comm = *static_cast<OvrinComm*>(connection);
  tReceivingFor = &comm;
  // Open made the channel before it started the thread.
  const std::shared_ptr<ReadingChannel> readings = ChannelOf(comm, false);
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) {
    readings->End();
    ShowMessage(kCantCreateEvent, kStyleOk);
    return kFailed;
  }
  bool stopped = true;
  if (OvrinCommAccess::IsOpen(comm).load() != 0) stopped = ReceiveUntilStopped(comm, *readings, event);
  platform::CloseEvent(event);
  // No reading comes after this: hosts waiting for one are told.
  readings->End();
  if (stopped) return kStopped;
  TraceLink(TraceKind::kLinkLost, readings->Port());
  const WindowHandle window = OvrinCommAccess::NotifyWindow(comm);
  if (window != nullptr && readings->NotifiesLinkLost()) platform::PostNotification(window, WM_LINK_LOST, 0, 0);
  return kFailed;
}

}  // namespace ovrin
