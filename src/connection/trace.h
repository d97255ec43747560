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

// `detail`: what became of the port in words, where the outcome alone does
// not tell it ("not needed: the meter answered on COM7 first").
void TraceCandidate(const std::string& port, PortOutcome outcome, int systemError = 0, const std::string& detail = {});
void TraceLink(TraceKind kind, const std::string& port);
void TraceBytes(TraceKind kind, const std::string& port, const char* bytes, std::size_t size);

}  // namespace ovrin
