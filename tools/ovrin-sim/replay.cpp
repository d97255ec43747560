#include "replay.h"

#include "meter.h"

namespace ovrin_sim {
namespace {

using ovrin_capture::Direction;

// The command a chunk from the host carries ("" when none).
std::string CommandOf(const std::string& bytes) {
  CommandReader reader;
  const std::vector<std::string> commands = reader.Feed(bytes.data(), bytes.size());
  return commands.empty() ? std::string() : commands.front();
}

}  // namespace

std::vector<TimedChunk> Replay::Answer(const std::string& command) {
  std::vector<TimedChunk> answer;
  for (std::size_t at = next_; at < chunks_.size(); ++at) {
    if (chunks_[at].direction != Direction::kToMeter || CommandOf(chunks_[at].bytes) != command) continue;
    std::size_t after = at + 1;
    for (; after < chunks_.size() && chunks_[after].direction == Direction::kFromMeter; ++after) {
      answer.push_back({(chunks_[after].seconds - chunks_[at].seconds) * 1000.0 / speed_, chunks_[after].bytes});
    }
    next_ = after;
    break;
  }
  return answer;
}

}  // namespace ovrin_sim
