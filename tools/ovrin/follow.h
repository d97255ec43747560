// Following the meter: every reading of a run as it comes, across the meter's
// sleeps and lost links when asked to, for the commands that keep listening
// (monitor, serve).
#pragma once

#include <string>

#include "ovrin_readings.h"
#include "session.h"

namespace ovrin_tool {

// What a command does with what the run brings.
class Follower {
 public:
  virtual ~Follower() = default;
  // One reading; false ends the run with kOutputFailed.
  virtual bool Take(const ovrin::Reading& reading) = 0;
  // How the connection stands: "searching", "connected" (with its port),
  // "lost" (with the port it was on).
  virtual void Changed(const char* event, const std::string& port) = 0;
  // The open connection while it is open, null just before it closes.
  virtual void Attach(OvrinComm* /*comm*/) {}
};

// Opens the meter and hands every reading to `follower` until the user
// interrupts (kOk), the link is lost (kLinkLost) or the follower fails; with
// --reconnect, searches again (backing off) instead of ending.
int Follow(const Options& options, Listeners& listeners, Follower& follower);

}  // namespace ovrin_tool
