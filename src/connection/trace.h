// The trace of what the library does, for the host's trace handler.
#pragma once

#include <cstddef>
#include <string>

#include "ovrin_diagnostics.h"

namespace ovrin {

// Calls `target` with an event; lets the C interface bind callbacks of its own
// type (as the reading handler does).
using TraceInvoker = void (*)(const Trace& trace, void (*target)(), void* context);
void SetTraceInvoker(TraceInvoker invoke, void (*target)(), void* context);

// True while a handler is set: events are made only then.
bool Tracing();

void TraceCandidate(const std::string& port, PortOutcome outcome, int systemError = 0);
void TraceLink(TraceKind kind, const std::string& port);
void TraceBytes(TraceKind kind, const std::string& port, const char* bytes, std::size_t size);

}  // namespace ovrin
