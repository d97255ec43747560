// Cuts the byte stream from the meter into lines ended by CR LF.
#pragma once

#include <cstddef>
#include <cstring>

namespace ovrin {

// Bytes are read straight into the assembler's buffer (Space/SpaceLeft), then
// handed over with Commit. Framing looks at bytes only: a NUL never hides a
// CR LF. Every complete line is reported once, in order, also several lines
// from one read. A line that fills the whole buffer without CR LF is dropped
// up to and including its CR LF; its tail is never reported as a line.
class LineAssembler {
 public:
  static constexpr std::size_t kCapacity = 128;

  char* Space() { return buffer_ + fill_; }
  std::size_t SpaceLeft() const { return kCapacity - fill_; }

  // Takes `count` bytes written at Space() and calls onLine(line, length) for
  // every line completed: its bytes without CR LF, NUL-terminated in place of
  // the CR (a NUL inside the line ends it as text, not as bytes).
  template <typename OnLine>
  void Commit(std::size_t count, OnLine&& onLine) {
    fill_ += count;
    std::size_t lineStart = 0;
    for (std::size_t i = scanFrom_; i + 1 < fill_; ++i) {
      // The next CR with a byte after it: one search per line, not a test per byte.
      const void* cr = std::memchr(buffer_ + i, '\r', fill_ - 1 - i);
      if (cr == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(cr) - buffer_);
      if (buffer_[i + 1] != '\n') continue;
      buffer_[i] = '\0';
      if (!discarding_) onLine(static_cast<const char*>(buffer_ + lineStart), i - lineStart);
      discarding_ = false;
      lineStart = ++i + 1;
    }
    fill_ -= lineStart;
    std::memmove(buffer_, buffer_ + lineStart, fill_);
    if (fill_ == kCapacity) DropOverlongLine();
    // The last byte may be the CR of a CR LF whose LF comes with the next read.
    scanFrom_ = fill_ > 0 ? fill_ - 1 : 0;
  }

 private:
  void DropOverlongLine() {
    const bool endsInCr = buffer_[kCapacity - 1] == '\r';
    fill_ = 0;
    if (endsInCr) buffer_[fill_++] = '\r';
    discarding_ = true;
  }

  char buffer_[kCapacity];
  std::size_t fill_ = 0;
  std::size_t scanFrom_ = 0;
  bool discarding_ = false;
};

}  // namespace ovrin
