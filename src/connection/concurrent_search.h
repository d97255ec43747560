// The concurrent search: every candidate probed at once, for every host but
// the classic class, whose FindAndOpen searches one port at a time.
#pragma once

#include <string>

#include "ovrin_comm.h"
#include "platform/platform.h"

namespace ovrin {

// Probes `port` (the remembered name, may be empty) and every listed port at
// once, a bounded number at a time; accepts a port as soon as the probe's
// answer pattern has arrived, and takes the rest of that answer line off it.
// The remembered port wins when it answers, else the first that answers. No
// question, no message box. The accepted port, open and configured, with its
// name in `port`; NoPort() (and `port` untouched) when none answered.
platform::Port* SearchConcurrently(OvrinComm& comm, std::string& port);

// True inside OpenConcurrently: Open then searches concurrently.
bool ConcurrentSearchWanted();

}  // namespace ovrin
