// The capture file: every chunk of bytes between a host and the meter, with
// its time, as text that a user can send with a bug report and ovrin-sim can
// play back.
//
//   # ovrin capture 1
//   # started 2026-12-08T20:27:04.123Z
//   0.000000 > 4e30324e0d0a00
//   0.012480 < 31322e2e2e2e2b30303030303034320d0a
//
// The first line names the format and its version. Lines starting with "#"
// are comments. Every other line is one chunk: seconds since the capture
// began, ">" for host to meter or "<" for meter to host, and the bytes in hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ovrin_capture {

constexpr char kFirstLine[] = "# ovrin capture 1";

enum class Direction { kToMeter, kFromMeter };

struct Chunk {
  double seconds;
  Direction direction;
  std::string bytes;
};

// One line of the file for a chunk (without the line end).
std::string FormatChunk(const Chunk& chunk);

// Reads a capture; false, with a message in *error, when it is not one.
bool ReadCapture(const std::string& text, std::vector<Chunk>* chunks, std::string* error);

}  // namespace ovrin_capture
