// Following the meter: every reading of a run as it comes, across the meter's
// sleeps and lost links when asked to, for the commands that keep listening
// (monitor, serve).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "format.h"
#include "ovrin_readings.h"
#include "session.h"

namespace ovrin_tool {

// What a command does with what the run brings.
class Follower {
 public:
  virtual ~Follower() = default;
  // One reading, numbered once for every sink; false ends the run with
  // kOutputFailed.
  virtual bool Take(const NumberedReading& reading) = 0;
  // How the link stands.
  virtual void Changed(const LinkChange& change) = 0;

  // Follow lends the open connection while it is open (null just before it
  // closes it), for commands sent from other threads: the page's Measure
  // button, the measure key.
  void Attach(OvrinComm* comm) {
    const std::lock_guard<std::mutex> lock(mutex_);
    comm_ = comm;
    abandoned_ = false;
  }
  // Whether the follower gave the open connection up (Abandon).
  bool Abandoned() const { return abandoned_; }

 protected:
  // Runs send(connection), or send(nullptr) when none is open; the
  // connection is not closed while it runs.
  template <typename Send>
  auto WithConnection(Send send) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return send(comm_);
  }
  // Gives the open connection up as lost, from any thread: a command that
  // could not be written tells of a port that is gone where the system does
  // not report it to a reader (a hung-up pseudo-terminal under Wine). Follow
  // ends the connection as kLinkLost.
  void Abandon() { abandoned_ = true; }

 private:
  std::mutex mutex_;
  OvrinComm* comm_ = nullptr;
  std::atomic<bool> abandoned_{false};
};

// Opens the meter and hands every reading to `follower` until the user
// interrupts (kOk), the link is lost (kLinkLost) or the follower fails; with
// --reconnect, searches again (backing off) instead of ending.
int Follow(const Options& options, Listeners& listeners, Follower& follower);

// Tells the user on stderr how the link stands: "ovrin: connected COM7 — ...".
void TellLinkState(const LinkChange& change);

}  // namespace ovrin_tool
