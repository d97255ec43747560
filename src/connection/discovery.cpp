// FindAndOpen: tries the preferred port, then every port the system lists, and
// keeps the first one on which the meter answers the probe.
#include <algorithm>
#include <cstring>

#include "comm_access.h"
#include "handles.h"
#include "host_messages.h"
#include "ovrin_comm.h"
#include "platform/platform.h"

namespace platform = ovrin::platform;

namespace {

constexpr char kProbeCommand[] = "N02N";
constexpr char kProbeAnswer[] = "12....+";  // full stops are literal
constexpr int kFirstAnswerWaitMs = 500;
constexpr int kAnswerPauseMs = 100;
constexpr std::size_t kAnswerBufferSize = 128;
// The user is asked whether to go on before the fourth listed port.
constexpr std::uint32_t kQuestionPass = 4;

enum class ProbeOutcome { kAccepted, kRejected, kNoEvent };

bool ContainsProbeAnswer(const char* bytes, std::size_t count) {
  const char* end = bytes + count;
  return std::search(bytes, end, kProbeAnswer, kProbeAnswer + sizeof kProbeAnswer - 1) != end;
}

// Probes one open, configured candidate. Only the bytes of this probe's own
// read are searched.
ProbeOutcome Probe(OvrinComm& comm, platform::Port* port) {
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) return ProbeOutcome::kNoEvent;
  platform::DiscardQueues(port);
  OvrinCommAccess::SendMsg(comm, port, kProbeCommand);  // a probe not written just draws no answer
  const platform::WaitResult waited = platform::WaitForInput(port, event, kFirstAnswerWaitMs);
  ProbeOutcome outcome = ProbeOutcome::kRejected;
  if (waited != platform::WaitResult::kFailed) {
    // The count taken before the pause decides; the read then takes what has
    // arrived by the end of it. With nothing queued the pause is skipped.
    if (platform::CountQueuedInput(port) > 0) {
      platform::SleepMs(kAnswerPauseMs);
      char answer[kAnswerBufferSize];
      const long received = platform::ReadQueued(port, event, answer, sizeof answer);
      if (received > 0 && ContainsProbeAnswer(answer, static_cast<std::size_t>(received))) {
        outcome = ProbeOutcome::kAccepted;
      }
    }
  }
  platform::CloseEvent(event);
  return outcome;
}

}  // namespace

OvrinHandle OvrinComm::FindAndOpen(std::string& port) {
  std::string candidate = port;
  platform::PortList* list = platform::OpenPortList();
  if (list == nullptr) {
    ovrin::ShowMessage(ovrin::kPortListError, ovrin::kStyleWarning);
    return platform::NoPort();
  }
  bool mayAsk = true;
  platform::Port* found = platform::NoPort();
  for (std::uint32_t pass = 0;; ++pass) {
    if (pass > 0) {
      // Pass n looks at the listed entry n - 1.
      std::string listed;
      const platform::ListEntry entry = platform::ReadPortListEntry(list, pass - 1, &listed);
      if (entry == platform::ListEntry::kEnd) break;
      if (pass >= kQuestionPass && mayAsk) {
        if (ovrin::ShowMessage(ovrin::kKeepSearchingQuestion, ovrin::kStyleYesNo) == ovrin::kButtonNo) {
          break;
        }
        mayAsk = false;
      }
      // An entry too long for its buffers hides nothing after it: skip it.
      if (entry == platform::ListEntry::kUnfit) continue;
      if (!platform::PortNameFromListing(&listed)) continue;
      // Already tried in pass 0 (byte for byte, as given).
      if (listed == port) continue;
      candidate = listed;
    }
    if (candidate.empty()) continue;

    platform::Port* handle = platform::OpenPort(candidate);
    if (handle == platform::NoPort()) continue;
    if (!platform::ConfigureForMeter(handle)) {
      platform::ClosePort(handle);
      continue;
    }
    const ProbeOutcome outcome = Probe(*this, handle);
    if (outcome == ProbeOutcome::kAccepted) {
      found = handle;
      port = candidate;
      break;
    }
    // Without an event no candidate can be probed: the whole search ends.
    if (outcome == ProbeOutcome::kNoEvent) ovrin::ShowMessage(ovrin::kCantCreateEvent, ovrin::kStyleOk);
    platform::ClosePort(handle);
    if (outcome == ProbeOutcome::kNoEvent) break;
  }
  platform::ClosePortList(list);
  return found;
}
