#pragma once

#include "ovrin_comm.h"

namespace ovrin {

// The receive thread of an open connection; argument: the OvrinComm. Returns 0
// after a normal stop, 0xFFFFFFFF when it could not run or the link was lost.
unsigned ReceiveThreadProc(void* connection);

// A copy of the connection's record that is never half of one line and half
// of the next: the receive thread writes it under the same lock.
MeasureRecord LatestRecord(const OvrinComm& connection);

}  // namespace ovrin
