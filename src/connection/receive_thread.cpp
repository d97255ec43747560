// The receive thread: reads what the meter sends, decodes each line into the
// connection's record and tells the host.
#include "receive_thread.h"

#include "connection_state.h"
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

// Runs the passes until Close stops the run (true) or the link is lost (false).
bool ReceiveUntilStopped(ConnectionState& state, std::uint64_t run, platform::Event* event) {
  platform::Port* const port = state.Run().portHandle;
  LineAssembler lines;
  int emptyPasses = 0;
  // What is queued already is read at once; only an empty queue is waited on.
  bool queued = true;
  do {
    const std::size_t asked = lines.SpaceLeft();
    const long received = queued ? platform::ReadQueued(port, event, lines.Space(), asked)
                                 : platform::ReadWhenQueued(port, event, lines.Space(), asked);
    if (received < 0) return !state.Receiving(run);
    if (received == 0) {
      if (!queued && ++emptyPasses > kEmptyPassesBeforeThrottle) platform::SleepMs(kThrottleMs);
      queued = false;
      continue;
    }
    // Every line this read completes was received now.
    const Receipt receipt{platform::UtcNowNs(), platform::MonotonicNowNs()};
    state.TraceBytes(TraceKind::kReceived, lines.Space(), static_cast<std::size_t>(received));
    // Decoded aside and copied in one step with its reading: a host
    // reading the record sees the old or the new one, never a mix.
    lines.Commit(static_cast<std::size_t>(received), [&](const char* line, std::size_t length) {
      state.Deliver(run, ParseReply(line), line, length, receipt);
    });
    emptyPasses = 0;
    // A read that left space took all that was queued: wait, without
    // asking once more for nothing.
    queued = static_cast<std::size_t>(received) == asked;
  } while (state.Receiving(run));
  return true;
}

}  // namespace

bool OnReceiveThreadOf(const OvrinComm& connection) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection);
  return state != nullptr && state->OnReceiveThread();
}

unsigned ReceiveThreadProc(void* argument) {
  // The thread keeps the state: a connection closed while a handler ran may
  // be destroyed before the handler returns.
  const std::unique_ptr<ReceiveRun> run(static_cast<ReceiveRun*>(argument));
  ConnectionState& state = *run->state;
  state.EnterReceiveThread();
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) {
    state.ThreadEnded(run->number, false);
    ShowMessage(kCantCreateEvent, kStyleOk);
    return kFailed;
  }
  bool stopped = true;
  if (state.Receiving(run->number)) stopped = ReceiveUntilStopped(state, run->number, event);
  platform::CloseEvent(event);
  // No reading comes after this: hosts waiting for one are told.
  state.ThreadEnded(run->number, !stopped);
  return stopped ? kStopped : kFailed;
}

}  // namespace ovrin
