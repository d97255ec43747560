// Line assembly fed arbitrary bytes in arbitrary chunks gives exactly the
// lines of a byte-at-a-time reference model: each complete line once, in
// order; a line that fills the buffer without CR LF dropped up to its CR LF.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/line_assembler.h"

namespace {

std::vector<std::string> ReferenceLines(const std::string& stream) {
  constexpr std::size_t kCapacity = ovrin::LineAssembler::kCapacity;
  std::vector<std::string> lines;
  std::string current;
  bool discarding = false;
  for (char byte : stream) {
    current += byte;
    if (current.size() >= 2 && current.compare(current.size() - 2, 2, "\r\n") == 0) {
      if (!discarding) lines.push_back(current.substr(0, current.size() - 2));
      current.clear();
      discarding = false;
    } else if (current.size() == kCapacity) {
      discarding = true;
      current = current.back() == '\r' ? "\r" : "";
    }
  }
  return lines;
}

}  // namespace

// The first bytes choose the chunk sizes (1 to 64, cycling); the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t sizes = 1 + data[0] % 8;
  if (size < 1 + sizes) return 0;
  const std::string stream(reinterpret_cast<const char*>(data + 1 + sizes), size - 1 - sizes);

  ovrin::LineAssembler assembler;
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t chunk = 0; at < stream.size(); ++chunk) {
    std::size_t count = 1 + data[1 + chunk % sizes] % 64;
    if (count > assembler.SpaceLeft()) count = assembler.SpaceLeft();
    if (count > stream.size() - at) count = stream.size() - at;
    stream.copy(assembler.Space(), count, at);
    at += count;
    assembler.Commit(count, [&lines](const char* line, std::size_t length) {
      if (line[length] != '\0') std::abort();  // the text ends where the line does
      lines.emplace_back(line, length);
    });
    if (assembler.SpaceLeft() == 0) std::abort();  // a full buffer is never left full
  }
  if (lines != ReferenceLines(stream)) std::abort();
  return 0;
}
