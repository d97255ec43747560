// A meter that plays back a capture: after each command of the host that
// matches the capture's next command, the meter's chunks that followed it
// there, with their timing.
#pragma once

#include <string>
#include <vector>

#include "capture.h"

namespace ovrin_sim {

struct TimedChunk {
  double delayMs;  // after the command arrived
  std::string bytes;
};

class Replay {
 public:
  // speed: 2 plays twice as fast as captured.
  Replay(std::vector<ovrin_capture::Chunk> chunks, double speed) : chunks_(std::move(chunks)), speed_(speed) {}
  // What the meter sends in answer to one command line: nothing when the
  // capture holds no such command further on.
  std::vector<TimedChunk> Answer(const std::string& command);

 private:
  std::vector<ovrin_capture::Chunk> chunks_;
  std::size_t next_ = 0;  // the first chunk not played yet
  double speed_;
};

}  // namespace ovrin_sim
