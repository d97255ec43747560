#pragma once

#include <cstdint>
#include <memory>

#include "ovrin_comm.h"

namespace ovrin {

class ConnectionState;

// What a receive thread is given, and deletes when it ends.
struct ReceiveRun {
  std::shared_ptr<ConnectionState> state;
  std::uint64_t number;  // as Begin returned it
};

// The receive thread of an open connection; argument: a new ReceiveRun.
// Returns 0 after a normal stop, 0xFFFFFFFF when it could not run or the
// link was lost.
unsigned ReceiveThreadProc(void* run);

// True on the receive thread of `connection` (in a handler it calls).
bool OnReceiveThreadOf(const OvrinComm& connection);

}  // namespace ovrin
