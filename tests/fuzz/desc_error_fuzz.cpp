// DescError with any code and any length writes exactly the buffer it is given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ovrin_comm.h"

namespace {

int gCode;
int gCalls;
int* CodeSource() {
  ++gCalls;
  return &gCode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  std::memcpy(&gCode, data, sizeof gCode);
  std::int16_t length16;
  std::memcpy(&length16, data + 4, sizeof length16);
  const int length = length16 % 300;  // may be 0 or negative
  gCalls = 0;
  if (length < 1) {
    char untouched = 'x';
    DescError(CodeSource, &untouched, length);
    if (untouched != 'x' || gCalls != 0) std::abort();
    return 0;
  }
  // Exactly `length` bytes on the heap: a write past them is caught.
  std::vector<char> buffer(static_cast<std::size_t>(length), '\x7f');
  DescError(CodeSource, buffer.data(), length);
  if (gCalls != 1 || buffer[static_cast<std::size_t>(length) - 1] != '\0') std::abort();
  const std::size_t text = std::strlen(buffer.data());
  for (std::size_t i = text; i < buffer.size(); ++i) {
    if (buffer[i] != '\0') std::abort();  // the rest is NUL bytes
  }
  if (text > 62) std::abort();
  return 0;
}
