// A session with the meter: opening it and telling the user why that failed,
// capturing what goes over the line, and keeping a connection going across
// the meter's sleeps and lost links.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "ovrin_diagnostics.h"
#include "ovrin_readings.h"

namespace ovrin_tool {

// Writes every byte to and from the meter's port to a capture file.
class Recorder {
 public:
  Recorder() = default;
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Starts capturing into `path` (appending); false, with *error, when it
  // cannot be written.
  bool Start(const std::string& path, std::string* error);
  // Takes one trace event; what went to and from the port that the search
  // accepts, and to and from the connection after, is written.
  void Take(const ovrin::Trace& trace);

 private:
  void Write(const ovrin::Trace& trace);

  std::FILE* file_ = nullptr;
  std::int64_t startNs_ = 0;
  std::string connected_;               // the port whose bytes are written as they come
  std::vector<std::string> candidate_;  // the current candidate's lines, until it is accepted
};

// Collects what the search found of each port, to tell the user.
class SearchReport {
 public:
  void Take(const ovrin::Trace& trace);
  // Forgets what an earlier search found.
  void Clear() { lines_.clear(); }
  // One line for every port the search looked at:
  // "PORT[ (what it is)]: outcome[ (hint)]".
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Everything that listens to the library's trace in one run of the tool.
struct Listeners {
  SearchReport report;
  std::unique_ptr<Recorder> recorder;
  bool verbose = false;  // print every candidate's outcome as it comes
};

// Routes the library's trace and its message boxes to the tool for this run;
// null for both ends that.
void Listen(Listeners* listeners, const Options* options);

// Opens the meter (the --port first). On failure tells the user why, port by
// port. `quiet`: no messages (the reconnect loop tells its own).
bool OpenMeter(OvrinComm& comm, const Options& options, Listeners& listeners, std::string* port, bool quiet);

// The wait before the next search after `failures` searches that found
// nothing: 0.5 s, doubling up to 30 s, with a little jitter.
int BackoffMs(int failures);

}  // namespace ovrin_tool
