// What both searches share: the probe, its answer, and how a failed open is
// reported.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "ovrin_diagnostics.h"
#include "platform/platform.h"

namespace ovrin {

constexpr char kProbeCommand[] = "N02N";
constexpr char kProbeAnswer[] = "12....+";  // full stops are literal
// The first character of the answer comes within this time of the probe.
constexpr int kAnswerWindowMs = 500;
// The pattern counts only within the first bytes of the answer.
constexpr std::size_t kAnswerBufferSize = 128;

inline bool ContainsProbeAnswer(const char* bytes, std::size_t count) {
  const char* end = bytes + count;
  return std::search(bytes, end, kProbeAnswer, kProbeAnswer + sizeof kProbeAnswer - 1) != end;
}

// The outcome a failed open reports.
PortOutcome OutcomeOf(platform::OpenError error);

// The listed entries that name a port, as the search opens them, leaving out
// one equal to `preferred` (tried on its own); *listed false when the system's
// list cannot be read.
std::vector<PortCandidate> ListedCandidates(const std::string& preferred, bool* listed);

}  // namespace ovrin
