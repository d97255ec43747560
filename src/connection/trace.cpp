#include "trace.h"

#include <atomic>

#include "platform/platform.h"

namespace ovrin {
namespace {

// Guarded by the process lock; gTracing lets the receive thread skip the
// lock for every read while nobody listens.
TraceInvoker gInvoke = nullptr;
void (*gTarget)() = nullptr;
void* gContext = nullptr;
std::atomic<bool> gTracing{false};

void InvokeHandler(const Trace& trace, void (*target)(), void* context) {
  reinterpret_cast<TraceHandler>(target)(trace, context);
}

void Emit(Trace trace) {
  TraceInvoker invoke;
  void (*target)();
  void* context;
  {
    platform::ScopedProcessLock lock;
    invoke = gInvoke;
    target = gTarget;
    context = gContext;
  }
  if (invoke == nullptr) return;
  trace.monotonicNs = platform::MonotonicNowNs();
  invoke(trace, target, context);
}

}  // namespace

void SetTraceInvoker(TraceInvoker invoke, void (*target)(), void* context) {
  platform::ScopedProcessLock lock;
  gInvoke = target != nullptr ? invoke : nullptr;
  gTarget = target;
  gContext = context;
  gTracing = target != nullptr;
}

void SetTraceHandler(TraceHandler handler, void* context) {
  SetTraceInvoker(InvokeHandler, reinterpret_cast<void (*)()>(handler), context);
}

bool Tracing() { return gTracing.load(std::memory_order_relaxed); }

void TraceCandidate(const std::string& port, PortOutcome outcome, int systemError, const std::string& detail) {
  if (!Tracing()) return;
  Emit(Trace{TraceKind::kCandidate, outcome, port.c_str(), detail.empty() ? nullptr : detail.c_str(), detail.size(), 0,
             systemError});
}

void TraceLink(TraceKind kind, const std::string& port) {
  if (Tracing()) Emit(Trace{kind, PortOutcome::kOpened, port.c_str(), nullptr, 0, 0, 0});
}

void TraceBytes(TraceKind kind, const std::string& port, const char* bytes, std::size_t size) {
  if (Tracing()) Emit(Trace{kind, PortOutcome::kOpened, port.c_str(), bytes, size, 0, 0});
}

const char* OutcomeText(PortOutcome outcome) {
  switch (outcome) {
    case PortOutcome::kOpened:
      return "opened";
    case PortOutcome::kBusy:
      return "busy";
    case PortOutcome::kNoPermission:
      return "no permission";
    case PortOutcome::kNoSuchDevice:
      return "no such device";
    case PortOutcome::kNotSerial:
      return "not a serial device";
    case PortOutcome::kNoAnswer:
      return "no answer";
    case PortOutcome::kWrongAnswer:
      return "wrong answer";
    case PortOutcome::kAccepted:
      return "accepted";
    case PortOutcome::kNotProbed:
      return "not probed";
    case PortOutcome::kNotNeeded:
      return "not needed";
    case PortOutcome::kGivenUp:
      return "given up";
    case PortOutcome::kCannotOpen:
      break;
  }
  return "cannot be opened";
}

}  // namespace ovrin
