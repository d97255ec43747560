// The concurrent search: one thread per candidate opens it, sets it up and
// probes it, while the searching thread decides. A port whose open blocks is
// left to its thread, which closes what it gets once the open completes.
#include "concurrent_search.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "comm_access.h"
#include "commands.h"
#include "ovrin_diagnostics.h"
#include "probe.h"
#include "trace.h"

namespace ovrin {
namespace {

// Threads cost little next to a port that keeps one waiting; the bound holds
// only for systems that list very many ports.
constexpr std::size_t kMostAtOnce = 128;
// With no answer anywhere, how long opens that block are waited for: longer
// than a Bluetooth page time-out, so a meter just switched on is still found.
constexpr int kOpenPatienceMs = 15000;

enum class Stage { kWaiting, kOpening, kProbing, kDone };

struct Traffic {
  TraceKind kind;
  std::string bytes;
};

struct Candidate {
  Candidate(std::string n, bool r) : name(std::move(n)), remembered(r) {}
  std::string name;  // never changes once the search has begun
  bool remembered = false;
  // The rest is guarded by Search::monitor.
  Stage stage = Stage::kWaiting;
  bool opened = false;
  PortOutcome outcome = PortOutcome::kNoAnswer;
  int systemError = 0;
  std::string detail;
  std::vector<Traffic> traffic;
  platform::Port* port = platform::NoPort();  // while probing, and the accepted port
  platform::Thread* thread = nullptr;
  std::int64_t startNs = 0;
  std::uint32_t acceptedAs = 0;  // 1 for the first port accepted, then 2...
};

// Shared by the searching thread and every candidate's thread; a thread left
// opening keeps it alive after the search.
struct Search {
  explicit Search(OvrinComm& c) : comm(c) {}
  platform::Monitor monitor;
  OvrinComm& comm;  // only for its SendMsg, which reads no field
  std::vector<Candidate> candidates;
  bool over = false;  // the searching thread has decided
  std::uint32_t accepted = 0;
};

struct ThreadStart {
  std::shared_ptr<Search> search;
  std::size_t index;
};

bool Over(Search& search) {
  platform::MonitorLock held(search.monitor);
  return search.over;
}

// Reads the answer until its pattern has arrived, then the rest of its line,
// all within the answer window. The bytes that were read go to `traffic`.
PortOutcome ReadAnswer(Search& search, platform::Port* port, platform::Event* event, std::vector<Traffic>* traffic) {
  const platform::Deadline window(kAnswerWindowMs);
  std::string answer;
  std::size_t lineFrom = std::string::npos;  // where the pattern was found
  while (!Over(search)) {
    const platform::WaitResult waited = platform::WaitForInput(port, event, window.LeftMs());
    if (waited != platform::WaitResult::kReady) break;
    char chunk[kAnswerBufferSize];
    // Only the first bytes of the answer may hold the pattern.
    const std::size_t room = lineFrom != std::string::npos ? sizeof chunk : kAnswerBufferSize - answer.size();
    const long received = platform::ReadQueued(port, event, chunk, room);
    if (received < 0) break;
    if (received == 0) {
      platform::SleepMs(1);  // a wait that ends at once with nothing (Wine on a pseudo-terminal) must not spin
      continue;
    }
    traffic->push_back({TraceKind::kReceived, std::string(chunk, static_cast<std::size_t>(received))});
    answer.append(chunk, static_cast<std::size_t>(received));
    if (lineFrom == std::string::npos && ContainsProbeAnswer(answer.data(), answer.size())) {
      lineFrom = answer.find(kProbeAnswer);
    }
    if (lineFrom == std::string::npos && answer.size() >= kAnswerBufferSize) return PortOutcome::kWrongAnswer;
    if (lineFrom != std::string::npos && answer.find("\r\n", lineFrom) != std::string::npos) break;
  }
  if (lineFrom != std::string::npos) return PortOutcome::kAccepted;
  return answer.empty() ? PortOutcome::kNoAnswer : PortOutcome::kWrongAnswer;
}

// Sets up and probes an open candidate; kAccepted leaves the port open.
PortOutcome Probe(Search& search, platform::Port* port, std::vector<Traffic>* traffic, std::string* detail) {
  if (!platform::ConfigureForMeter(port)) return PortOutcome::kNotSerial;
  platform::Event* event = platform::CreateManualEvent(false);
  if (event == nullptr) {
    *detail = "no event to probe it with: not probed";
    return PortOutcome::kCannotOpen;
  }
  platform::DiscardQueues(port);
  if (OvrinCommAccess::SendMsg(search.comm, port, kProbeCommand) != 0) {
    traffic->push_back({TraceKind::kSent, CommandFrame(kProbeCommand)});
  }
  const PortOutcome outcome = ReadAnswer(search, port, event, traffic);
  platform::CloseEvent(event);
  return outcome;
}

unsigned RunCandidate(void* raw) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  Search& search = *start->search;
  Candidate& candidate = search.candidates[start->index];
  if (IdentifyPort(candidate.name).kind == PortKind::kBluetoothIncoming) {
    platform::MonitorLock held(search.monitor);
    candidate.outcome = PortOutcome::kNotProbed;
    candidate.detail = "incoming Bluetooth port, which never reaches a meter: not probed";
    candidate.stage = Stage::kDone;
    search.monitor.WakeAll();
    return 0;
  }
  platform::OpenFailure failure{platform::OpenError::kOther, 0};
  platform::Port* port = platform::OpenPort(candidate.name, &failure);
  {
    platform::MonitorLock held(search.monitor);
    // Given up while it was opening: what the open brought is closed here,
    // and nobody waits for that.
    if (search.over || port == platform::NoPort()) {
      if (port != platform::NoPort()) platform::ClosePort(port, platform::PendingOutput::kDiscard);
      if (!search.over) {
        candidate.outcome = OutcomeOf(failure.reason);
        candidate.systemError = failure.systemError;
        candidate.stage = Stage::kDone;
        search.monitor.WakeAll();
      }
      return 0;
    }
    candidate.opened = true;
    candidate.port = port;
    candidate.stage = Stage::kProbing;
  }
  std::vector<Traffic> traffic;
  std::string detail;
  PortOutcome outcome = Probe(search, port, &traffic, &detail);
  platform::MonitorLock held(search.monitor);
  // Accepted after the search was decided: another port won.
  if (search.over) outcome = PortOutcome::kNotNeeded;
  if (outcome == PortOutcome::kAccepted) {
    candidate.acceptedAs = ++search.accepted;
  } else {
    platform::ClosePort(port, platform::PendingOutput::kDiscard);
    candidate.port = platform::NoPort();
  }
  candidate.outcome = outcome;
  candidate.detail = detail;
  candidate.traffic = std::move(traffic);
  candidate.stage = Stage::kDone;
  search.monitor.WakeAll();
  return 0;
}

// Starts the candidates waiting for a thread, as far as the bound allows.
// Called inside the monitor.
void StartWaiting(const std::shared_ptr<Search>& search) {
  std::size_t running = 0;
  for (const Candidate& c : search->candidates) {
    if (c.stage == Stage::kOpening || c.stage == Stage::kProbing) ++running;
  }
  for (std::size_t i = 0; i < search->candidates.size() && running < kMostAtOnce; ++i) {
    Candidate& c = search->candidates[i];
    if (c.stage != Stage::kWaiting) continue;
    ThreadStart* start = new (std::nothrow) ThreadStart{search, i};
    c.thread = start != nullptr ? platform::StartThreadSuspended(RunCandidate, start) : nullptr;
    if (c.thread == nullptr) {
      delete start;
      c.outcome = PortOutcome::kCannotOpen;
      c.detail = "no thread to probe it on: not probed";
      c.stage = Stage::kDone;
      continue;
    }
    c.stage = Stage::kOpening;
    c.startNs = platform::MonotonicNowNs();
    ++running;
    platform::ResumeThread(c.thread);
  }
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What the search does next, inside the monitor: kNone with *decided false
// to wait on; else the winner (kNone: no meter anywhere).
std::size_t Decide(const Search& search, bool patienceOver, bool rememberedOpenWaited, bool* decided) {
  std::size_t first = kNone;
  const Candidate* remembered = nullptr;
  bool pending = false;  // a candidate that may still answer
  for (std::size_t i = 0; i < search.candidates.size(); ++i) {
    const Candidate& c = search.candidates[i];
    if (c.remembered) remembered = &c;
    if (c.stage == Stage::kDone && c.outcome == PortOutcome::kAccepted) {
      if (c.remembered) {
        *decided = true;
        return i;
      }
      if (first == kNone || c.acceptedAs < search.candidates[first].acceptedAs) first = i;
    }
    if (c.stage == Stage::kWaiting || c.stage == Stage::kProbing || (c.stage == Stage::kOpening && !patienceOver)) {
      pending = true;
    }
  }
  // The remembered port wins when it answers: once its probe has begun, its
  // answer window is waited out, and its open for as long as that window
  // from the start of the search (a slow open elsewhere, as under Wine, must
  // not lose it; one that blocks must not hold up the result).
  const bool rememberedMayWin =
      remembered != nullptr &&
      (remembered->stage == Stage::kProbing || (remembered->stage == Stage::kOpening && !rememberedOpenWaited));
  *decided = first != kNone ? !rememberedMayWin : !pending;
  return first;
}

std::string MsSince(std::int64_t startNs) { return std::to_string((platform::MonotonicNowNs() - startNs) / 1000000); }

// Ends every candidate but the winner, inside the monitor: wakes those
// probing, gives up those opening, and waits until no probe runs.
void EndOthers(Search& search, std::size_t winner) {
  search.over = true;
  const std::string why =
      winner != kNone ? "not needed: the meter answered on " + search.candidates[winner].name + " first" : "";
  for (std::size_t i = 0; i < search.candidates.size(); ++i) {
    Candidate& c = search.candidates[i];
    if (i == winner) continue;
    if (c.stage == Stage::kProbing) platform::WakeWaiters(c.port);
    if (c.stage == Stage::kOpening) {
      c.outcome = PortOutcome::kGivenUp;
      c.detail = "still opening after " + MsSince(c.startNs) + " ms: given up";
      platform::CancelBlockingCall(c.thread);
    }
    if (c.stage == Stage::kWaiting) c.outcome = PortOutcome::kNotNeeded;
    if (c.stage == Stage::kDone && c.outcome == PortOutcome::kAccepted) {
      // A second meter, or one that answered after the remembered port.
      platform::ClosePort(c.port, platform::PendingOutput::kDiscard);
      c.port = platform::NoPort();
      c.outcome = PortOutcome::kNotNeeded;
    }
  }
  auto probing = [&search] {
    for (const Candidate& c : search.candidates) {
      if (c.stage == Stage::kProbing) return true;
    }
    return false;
  };
  while (probing()) search.monitor.Wait(platform::Deadline(platform::kNoTimeLimit));
  for (Candidate& c : search.candidates) {
    if (c.outcome == PortOutcome::kNotNeeded) c.detail = why;
    if (c.thread != nullptr) platform::DetachThread(c.thread);
    c.thread = nullptr;
  }
}

// Reports every candidate, in the order of the search, from the searching
// thread: a handler never hears two threads at once.
void Report(const std::vector<Candidate>& candidates) {
  for (const Candidate& c : candidates) {
    if (c.opened) TraceCandidate(c.name, PortOutcome::kOpened);
    for (const Traffic& t : c.traffic) TraceBytes(t.kind, c.name, t.bytes.data(), t.bytes.size());
    TraceCandidate(c.name, c.outcome, c.systemError, c.detail);
  }
}

thread_local bool tConcurrent = false;

}  // namespace

platform::Port* SearchConcurrently(OvrinComm& comm, std::string& port) {
  std::shared_ptr<Search> search(new (std::nothrow) Search(comm));
  if (search == nullptr) return platform::NoPort();
  bool listed = false;
  std::vector<PortCandidate> order = ListedCandidates(port, &listed);
  if (!port.empty()) search->candidates.push_back(Candidate{port, true});
  for (const PortCandidate& entry : order) {
    // A port listed twice is probed once: two probes on one port would read
    // each other's answer where the system does not keep the second open out.
    bool known = !entry.fits;
    for (const Candidate& c : search->candidates) known = known || c.name == entry.name;
    if (!known) search->candidates.push_back(Candidate{entry.name, false});
  }
  std::vector<Candidate> outcome;
  platform::Port* found = platform::NoPort();
  {
    platform::MonitorLock held(search->monitor);
    const platform::Deadline patience(kOpenPatienceMs);
    const platform::Deadline rememberedOpen(kAnswerWindowMs);
    std::size_t winner = kNone;
    for (bool decided = false; !decided;) {
      StartWaiting(search);
      winner = Decide(*search, patience.Passed(), rememberedOpen.Passed(), &decided);
      if (decided) break;
      if (!rememberedOpen.Passed()) {
        search->monitor.Wait(rememberedOpen);
      } else {
        search->monitor.Wait(patience.Passed() ? platform::Deadline(platform::kNoTimeLimit) : patience);
      }
    }
    EndOthers(*search, winner);
    if (winner != kNone) {
      found = search->candidates[winner].port;
      port = search->candidates[winner].name;
    }
    outcome = search->candidates;
  }
  Report(outcome);
  return found;
}

bool ConcurrentSearchWanted() { return tConcurrent; }

int OpenConcurrently(OvrinComm& connection, std::string& port, WindowHandle notifyWindow) {
  struct Scope {
    Scope() { tConcurrent = true; }
    ~Scope() { tConcurrent = false; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
  } concurrent;
  return connection.Open(port, notifyWindow);
}

}  // namespace ovrin
