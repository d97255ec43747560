#pragma once

#include "ovrin_comm.h"

namespace ovrin {

// The receive thread of an open connection; argument: the OvrinComm. Returns 0
// after a normal stop, 0xFFFFFFFF when it could not run or the link was lost.
unsigned ReceiveThreadProc(void* connection);

// True on the receive thread of `connection` (in a handler it calls).
bool OnReceiveThreadOf(const OvrinComm& connection);

}  // namespace ovrin
