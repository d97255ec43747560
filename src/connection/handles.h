// OvrinComm's exported fields hold plain handles, as hosts know them; the
// platform seam has a type for each kind. This is the one place where one
// becomes the other.
#pragma once

#include "ovrin_types.h"
#include "platform/platform.h"

namespace ovrin {

inline platform::Port* AsPort(OvrinHandle handle) { return static_cast<platform::Port*>(handle); }
inline platform::Event* AsEvent(OvrinHandle handle) { return static_cast<platform::Event*>(handle); }
inline platform::Thread* AsThread(OvrinHandle handle) { return static_cast<platform::Thread*>(handle); }
// The other way needs no help: every kind goes into a field as it is.

}  // namespace ovrin
