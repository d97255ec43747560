// FindAndOpen: tries the preferred port, then every port the system lists, and
// keeps the first one on which the meter answers the probe.
#include <algorithm>
#include <cstring>
#include <vector>

#include "comm_access.h"
#include "commands.h"
#include "handles.h"
#include "host_messages.h"
#include "ovrin_comm.h"
#include "ovrin_diagnostics.h"
#include "platform/platform.h"
#include "probe.h"
#include "trace.h"

namespace platform = ovrin::platform;

namespace {

using ovrin::ContainsProbeAnswer;
using ovrin::kAnswerBufferSize;
using ovrin::kProbeCommand;
using ovrin::OutcomeOf;

constexpr int kFirstAnswerWaitMs = ovrin::kAnswerWindowMs;
constexpr int kAnswerPauseMs = 100;
// The user is asked whether to go on before the fourth listed port.
constexpr std::uint32_t kQuestionPass = 4;

// How the probe ended on a candidate; kNoEvent ends the whole search.
struct ProbeResult {
  bool noEvent;
  ovrin::PortOutcome outcome;
};

// Probes one open, configured candidate. Only the bytes of this probe's own
// read are searched.
ProbeResult Probe(OvrinComm& comm, platform::Port* port, const std::string& name) {
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) return {true, ovrin::PortOutcome::kNoAnswer};
  platform::DiscardQueues(port);
  // A probe not written just draws no answer.
  if (OvrinCommAccess::SendMsg(comm, port, kProbeCommand) != 0) {
    const std::string frame = ovrin::CommandFrame(kProbeCommand);
    ovrin::TraceBytes(ovrin::TraceKind::kSent, name, frame.data(), frame.size());
  }
  const platform::WaitResult waited = platform::WaitForInput(port, event, kFirstAnswerWaitMs);
  ovrin::PortOutcome outcome = ovrin::PortOutcome::kNoAnswer;
  // The count taken before the pause decides; the read then takes what has
  // arrived by the end of it. With nothing queued the pause is skipped.
  if (waited != platform::WaitResult::kFailed && platform::CountQueuedInput(port) > 0) {
    platform::SleepMs(kAnswerPauseMs);
    char answer[kAnswerBufferSize];
    const long received = platform::ReadQueued(port, event, answer, sizeof answer);
    if (received > 0) {
      ovrin::TraceBytes(ovrin::TraceKind::kReceived, name, answer, static_cast<std::size_t>(received));
      outcome = ContainsProbeAnswer(answer, static_cast<std::size_t>(received)) ? ovrin::PortOutcome::kAccepted
                                                                                : ovrin::PortOutcome::kWrongAnswer;
    }
  }
  platform::CloseEvent(event);
  return {false, outcome};
}

// Opens and sets up one candidate as the search does; NoPort() when that fails,
// with the reason traced.
platform::Port* OpenCandidate(const std::string& name) {
  platform::OpenFailure failure{platform::OpenError::kOther, 0};
  platform::Port* port = platform::OpenPort(name, &failure);
  if (port == platform::NoPort()) {
    ovrin::TraceCandidate(name, OutcomeOf(failure.reason), failure.systemError);
    return port;
  }
  if (!platform::ConfigureForMeter(port)) {
    platform::ClosePort(port, platform::PendingOutput::kDiscard);
    ovrin::TraceCandidate(name, ovrin::PortOutcome::kNotSerial);
    return platform::NoPort();
  }
  ovrin::TraceCandidate(name, ovrin::PortOutcome::kOpened);
  return port;
}

// A listed entry as the name to open in a pass after the first; false when
// the entry names no port, or the one pass 0 tried (byte for byte, as given).
bool CandidateFromListing(const std::string& preferred, std::string* listed) {
  return platform::PortNameFromListing(listed) && *listed != preferred;
}

}  // namespace

ovrin::PortOutcome ovrin::OutcomeOf(platform::OpenError error) {
  switch (error) {
    case platform::OpenError::kBusy:
      return ovrin::PortOutcome::kBusy;
    case platform::OpenError::kNoPermission:
      return ovrin::PortOutcome::kNoPermission;
    case platform::OpenError::kNoSuchDevice:
      return ovrin::PortOutcome::kNoSuchDevice;
    case platform::OpenError::kNotSerial:
      return ovrin::PortOutcome::kNotSerial;
    case platform::OpenError::kOther:
      break;
  }
  return ovrin::PortOutcome::kCannotOpen;
}

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
      const platform::ListEntry entry = platform::ReadPortListEntry(list, pass - 1, &listed, nullptr);
      if (entry == platform::ListEntry::kEnd) break;
      if (pass >= kQuestionPass && mayAsk) {
        if (ovrin::ShowMessage(ovrin::kKeepSearchingQuestion, ovrin::kStyleYesNo) == ovrin::kButtonNo) {
          break;
        }
        mayAsk = false;
      }
      // An entry too long for its buffers hides nothing after it: skip it.
      if (entry == platform::ListEntry::kUnfit || !CandidateFromListing(port, &listed)) continue;
      candidate = listed;
    }
    if (candidate.empty()) continue;

    platform::Port* handle = OpenCandidate(candidate);
    if (handle == platform::NoPort()) continue;
    const ProbeResult probed = Probe(*this, handle, candidate);
    if (!probed.noEvent) ovrin::TraceCandidate(candidate, probed.outcome);
    if (probed.outcome == ovrin::PortOutcome::kAccepted) {
      found = handle;
      port = candidate;
      break;
    }
    // Without an event no candidate can be probed: the whole search ends.
    if (probed.noEvent) ovrin::ShowMessage(ovrin::kCantCreateEvent, ovrin::kStyleOk);
    // Its probe was answered or not: nothing it wrote needs to leave.
    platform::ClosePort(handle, platform::PendingOutput::kDiscard);
    if (probed.noEvent) break;
  }
  platform::ClosePortList(list);
  return found;
}

std::vector<ovrin::PortCandidate> ovrin::ListedCandidates(const std::string& preferred, bool* listed) {
  std::vector<PortCandidate> order;
  platform::PortList* list = platform::OpenPortList();
  *listed = list != nullptr;
  if (list == nullptr) return order;
  for (std::uint32_t index = 0;; ++index) {
    std::string data;
    std::string label;
    const platform::ListEntry entry = platform::ReadPortListEntry(list, index, &data, &label);
    if (entry == platform::ListEntry::kEnd) break;
    PortCandidate candidate{data, label, data, false, entry == platform::ListEntry::kName};
    if (candidate.fits && !CandidateFromListing(preferred, &candidate.name)) continue;
    order.push_back(candidate);
  }
  platform::ClosePortList(list);
  return order;
}

std::vector<ovrin::PortCandidate> ovrin::SearchOrder() {
  std::vector<PortCandidate> order;
  std::string remembered;
  {
    bool created = false;
    platform::Settings* settings = platform::OpenSettings(&created);
    if (settings != nullptr) {
      if (!created) platform::ReadRememberedPort(settings, &remembered);
      platform::CloseSettings(settings);
    }
  }
  if (!remembered.empty()) order.push_back(PortCandidate{remembered, "", "", true, true});
  bool listed = false;
  for (PortCandidate& candidate : ListedCandidates(remembered, &listed)) order.push_back(candidate);
  return order;
}

ovrin::PortOutcome ovrin::CheckPort(const std::string& name, int* systemError) {
  platform::OpenFailure failure{platform::OpenError::kOther, 0};
  platform::Port* port = platform::OpenPort(name, &failure);
  if (systemError != nullptr) *systemError = port == platform::NoPort() ? failure.systemError : 0;
  if (port == platform::NoPort()) return OutcomeOf(failure.reason);
  platform::ClosePort(port, platform::PendingOutput::kDiscard);
  return PortOutcome::kOpened;
}
