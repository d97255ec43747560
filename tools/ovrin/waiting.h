// How the tool waits: for the meter's readings or for a pause to pass, both
// cut short when the user interrupts (Ctrl-C; SIGINT or SIGTERM on POSIX).
#pragma once

#include "ovrin_readings.h"

namespace ovrin_tool {

enum class Waited { kReading, kTimedOut, kLinkLost, kInterrupted };

// Takes the next reading of comm, waiting up to timeoutMs (-1: no limit).
Waited AwaitReading(const OvrinComm& comm, ovrin::Reading* reading, int timeoutMs);
// Sleeps; false when the user interrupted.
bool Pause(int milliseconds);

}  // namespace ovrin_tool
