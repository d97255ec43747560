#pragma once

#include "ovrin_comm.h"

namespace ovrin {

// The receive thread of an open connection; argument: its ConnectionState,
// which outlives the thread (Close joins it before the state can go). Returns
// 0 after a normal stop, 0xFFFFFFFF when it could not run or the link was lost.
unsigned ReceiveThreadProc(void* state);

// True on the receive thread of `connection` (in a handler it calls).
bool OnReceiveThreadOf(const OvrinComm& connection);

}  // namespace ovrin
