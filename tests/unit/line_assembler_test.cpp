#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/line_assembler.h"

namespace {

// Feeds the chunks as separate reads and returns the lines reported.
std::vector<std::string> Lines(const std::vector<std::string>& chunks) {
  ovrin::LineAssembler assembler;
  std::vector<std::string> lines;
  for (const std::string& chunk : chunks) {
    std::size_t at = 0;
    while (at < chunk.size()) {  // a read never asks for more than the space left
      const std::size_t count = std::min(assembler.SpaceLeft(), chunk.size() - at);
      chunk.copy(assembler.Space(), count, at);
      at += count;
      assembler.Commit(count, [&lines](const char* line, std::size_t length) { lines.emplace_back(line, length); });
    }
  }
  return lines;
}

using Lines_t = std::vector<std::string>;

TEST(LineAssembler, Framing) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    Lines_t expected;
  };
  const std::string nul(1, '\0');
  const Case cases[] = {
      {"one line", {"12....+00001234\r\n"}, {"12....+00001234"}},
      {"empty line", {"\r\n"}, {""}},
      {"two lines in one read", {"?\r\n@E203\r\n"}, {"?", "@E203"}},
      {"tail starts the next line", {"?\r\n@E2", "03\r\n"}, {"?", "@E203"}},
      {"CR and LF in different reads", {"12....+1\r", "\n"}, {"12....+1"}},
      {"pieces of one byte", {"a", "b", "\r", "\n", "c", "\r", "\n"}, {"ab", "c"}},
      {"lone CR and lone LF are bytes", {"a\rb\nc\r\n"}, {"a\rb\nc"}},
      {"CR CR LF", {"a\r\r\n"}, {"a\r"}},
      {"LF CR LF", {"\n\r\n"}, {"\n"}},
      {"no line end yet", {"12....+00001234"}, {}},
      {"NUL never hides a CR LF", {"ab" + nul + "cd\r\n?\r\n"}, {"ab" + nul + "cd", "?"}},
      {"shorter line after a longer one", {"12....+00001234\r\n", "?\r\n"}, {"12....+00001234", "?"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(c.chunks), c.expected) << c.name;
}

TEST(LineAssembler, LongestLineThatFitsIsKept) {
  const std::string line(126, 'x');
  EXPECT_EQ(Lines({line + "\r\n", "?\r\n"}), (Lines_t{line, "?"}));
}

TEST(LineAssembler, OverlongLineIsDroppedUpToItsLineEnd) {
  const std::string overlong(127, 'x');
  // 127 bytes and the CR fill the buffer; the LF then ends the dropped line.
  EXPECT_EQ(Lines({overlong + "\r\n?\r\n"}), (Lines_t{"?"}));
  EXPECT_EQ(Lines({std::string(128, 'x'), "tail\r\n", "?\r\n"}), (Lines_t{"?"}));
  EXPECT_EQ(Lines({std::string(10000, 'y') + "\r\n12....+1\r\n"}), (Lines_t{"12....+1"}));
  EXPECT_EQ(Lines({std::string(128, 'x'), std::string(128, 'z'), "\r\n", "?\r\n"}), (Lines_t{"?"}));
}

TEST(LineAssembler, EveryChunkingGivesTheSameLines) {
  const std::string stream = "?\r\n12....+00001234\r\n\r\n" + std::string(130, 'x') + "\r\n@E203\r\nrest";
  const Lines_t expected = {"?", "12....+00001234", "", "@E203"};
  for (std::size_t size = 1; size <= stream.size(); ++size) {
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < stream.size(); at += size) chunks.push_back(stream.substr(at, size));
    EXPECT_EQ(Lines(chunks), expected) << "chunks of " << size;
  }
}

}  // namespace
