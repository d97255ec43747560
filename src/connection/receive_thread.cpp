// The receive thread: reads what the meter sends, decodes each line into the
// connection's record and tells the host.
#include "receive_thread.h"

#include "comm_access.h"
#include "host_messages.h"
#include "platform/platform.h"
#include "protocol/line_assembler.h"
#include "protocol/reply_parser.h"

namespace ovrin {
namespace {

constexpr unsigned kStopped = 0;
constexpr unsigned kFailed = 0xFFFFFFFFu;
// Waits in a row that end without a byte to read (input reported, none there).
// Beyond this the thread throttles itself instead of spinning.
constexpr int kEmptyPassesBeforeThrottle = 16;
constexpr int kThrottleMs = 20;

void DeliverLine(OvrinComm& comm, const char* line) {
  // Decoded aside and copied in one step: a host reading the record sees
  // the old or the new one, not a half-written mix.
  const MeasureRecord record = ParseReply(line);
  {
    platform::ScopedProcessLock lock;
    comm.measurement = record;
  }
  comm.SetListen(0);
  const WindowHandle window = OvrinCommAccess::NotifyWindow(comm);
  if (window != nullptr) platform::PostNotification(window, WM_MEASURE_READY, 1, 0);
}

// Runs the passes until Close clears isOpen (true) or the link is lost (false).
bool ReceiveUntilStopped(OvrinComm& comm, platform::Handle event) {
  const platform::Handle port = OvrinCommAccess::PortHandle(comm);
  std::atomic<std::int32_t>& isOpen = OvrinCommAccess::IsOpen(comm);
  LineAssembler lines;
  int emptyPasses = 0;
  do {
    // What is queued is read at once; only an empty queue is waited on.
    const long received = platform::ReadQueued(port, event, lines.Space(), lines.SpaceLeft());
    if (received < 0) return isOpen.load() == 0;
    if (received > 0) {
      lines.Commit(static_cast<std::size_t>(received),
                   [&comm](const char* line, std::size_t) { DeliverLine(comm, line); });
      emptyPasses = 0;
    } else if (platform::WaitForInput(port, event, -1) == platform::WaitResult::kFailed) {
      return isOpen.load() == 0;
    } else if (++emptyPasses > kEmptyPassesBeforeThrottle) {
      platform::SleepMs(kThrottleMs);
    }
  } while (isOpen.load() != 0);
  return true;
}

}  // namespace

MeasureRecord LatestRecord(const OvrinComm& connection) {
  platform::ScopedProcessLock lock;
  return connection.measurement;
}

unsigned ReceiveThreadProc(void* connection) {
  OvrinComm& comm = *static_cast<OvrinComm*>(connection);
  platform::Handle event = platform::CreateManualEvent(false);
  if (event == nullptr) {
    ShowMessage(kCantCreateEvent, kStyleOk);
    return kFailed;
  }
  bool stopped = true;
  if (OvrinCommAccess::IsOpen(comm).load() != 0) stopped = ReceiveUntilStopped(comm, event);
  platform::CloseEvent(event);
  if (stopped) return kStopped;
  const WindowHandle window = OvrinCommAccess::NotifyWindow(comm);
  if (window != nullptr) platform::PostNotification(window, WM_LINK_LOST, 0, 0);
  return kFailed;
}

}  // namespace ovrin
