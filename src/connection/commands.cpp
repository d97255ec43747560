// Commands to the meter: SendMsg frames any text, DistanceMeasure writes "g".
#include <algorithm>
#include <iterator>

#include "commands.h"
#include "connection_state.h"
#include "handles.h"
#include "host_messages.h"
#include "ovrin_comm.h"
#include "platform/platform.h"

namespace platform = ovrin::platform;

namespace {

constexpr std::size_t kStagingSize = 128;
constexpr char kFrameEnd[] = {'\r', '\n', '\0'};  // the NUL goes onto the wire
constexpr int kSendMsgWaitMs = 100;
constexpr char kMeasureCommand[] = {'g', '\r', '\n'};

}  // namespace

std::string ovrin::CommandFrame(const std::string& text) {
  return text + std::string(std::begin(kFrameEnd), std::end(kFrameEnd));
}

int OvrinComm::SendMsg(OvrinHandle port, std::string text) {
  // Longer texts would not fit the staging buffer with their frame end.
  if (text.size() > kStagingSize - sizeof kFrameEnd) return 0;
  platform::Port* const target = ovrin::AsPort(port);
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) return 0;
  char staging[kStagingSize];
  std::copy(text.begin(), text.end(), staging);  // by length: a NUL in the text is sent too
  std::copy(std::begin(kFrameEnd), std::end(kFrameEnd), staging + text.size());
  const auto size = static_cast<std::uint32_t>(text.size() + sizeof kFrameEnd);

  platform::CountQueuedInput(target);  // clears the port's error state
  std::uint32_t written = 0;
  int result = 0;
  switch (platform::WritePort(target, event, staging, size, kSendMsgWaitMs, &written)) {
    case platform::WriteResult::kDoneAtOnce:
      result = static_cast<int>(written);
      break;
    case platform::WriteResult::kDoneAfterWait:
      result = 1;
      break;
    case platform::WriteResult::kFailed:
    case platform::WriteResult::kTimedOut:
      break;
  }
  platform::CloseEvent(event);
  return result;
}

int OvrinComm::DistanceMeasure() {
  // The event comes first: without it nothing can be written, port or not.
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) {
    ovrin::ShowMessage(ovrin::kCantCreateEvent, ovrin::kStyleOk);
    return -1;
  }
  platform::Port* const port = ovrin::AsPort(portHandle);
  // An open port always has its run; the run holds the lock for commands.
  const std::shared_ptr<ovrin::ConnectionState> run = port != platform::NoPort() ? ovrin::StateOf(*this) : nullptr;
  if (run == nullptr) {
    ovrin::ShowMessage(ovrin::kCantSendCommand, ovrin::kStyleOk);
    platform::CloseEvent(event);
    return 0;
  }
  std::uint32_t written = 0;
  bool sent = false;
  {
    // A handler that measures while another thread closes the connection
    // without waiting for it finds the port given back, never a closed one.
    platform::MonitorLock sending(run->Sending());
    if (run->HoldsPort(port)) {
      const platform::WriteResult result =
          platform::WritePort(port, event, kMeasureCommand, sizeof kMeasureCommand, -1, &written);
      // 1 only when the command reached the port; a lost command is no success.
      sent = result == platform::WriteResult::kDoneAtOnce || result == platform::WriteResult::kDoneAfterWait;
      if (sent) run->TraceBytes(ovrin::TraceKind::kSent, kMeasureCommand, sizeof kMeasureCommand);
    }
  }
  platform::CloseEvent(event);
  return sent ? 1 : 0;
}
