// How the tool waits: for the meter's readings, for a pause to pass, or for
// the user to interrupt (Ctrl-C; SIGINT or SIGTERM on POSIX).
#pragma once

#include "ovrin_readings.h"

namespace ovrin_tool {

enum class Waited { kReading, kTimedOut, kLinkLost, kInterrupted };

// Catches Ctrl-C and the like from now on: Interrupted() tells.
void CatchInterrupts();
bool Interrupted();

// Takes the next reading of comm, waiting up to timeoutMs (-1: no limit).
Waited NextReading(const OvrinComm& comm, ovrin::Reading* reading, int timeoutMs);
// Sleeps; false when the user interrupted.
bool Pause(int milliseconds);

bool StdinIsTerminal();
bool StderrIsTerminal();
void SleepMs(int milliseconds);

}  // namespace ovrin_tool
