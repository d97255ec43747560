// A UART whose hardware flow control is held off keeps its output queued, and
// Close must not wait long for it. A pseudo-terminal never reports queued
// output (TIOCOUTQ is always 0 there), so while a test holds the output back
// this program answers that request itself; every other request goes to the
// system.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <cstdarg>

#include "platform/platform.h"
#include "pty_meter.h"

namespace {

std::atomic<bool> gOutputHeld{false};

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (request == TIOCOUTQ && gOutputHeld.load()) {
    *static_cast<int*>(argument) = 4096;  // held back for good
    return 0;
  }
  using Ioctl = int (*)(int, unsigned long, void*);
  static const auto system = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  return system(fd, request, argument);
}

namespace {

namespace platform = ovrin::platform;
using Clock = std::chrono::steady_clock;

TEST(HeldOutput, ClosingWaitsAtMostAboutASecondAndACandidateNotAtAll) {
  struct Case {
    platform::PendingOutput output;
    Clock::duration atLeast;
    Clock::duration below;
  };
  // Before, a connection's Close gave 50 ms per queued byte plus 1 s: 205 s
  // for 4 KB; a rejected candidate the same.
  const Case cases[] = {{platform::PendingOutput::kLetLeave, std::chrono::seconds(1), std::chrono::seconds(10)},
                        {platform::PendingOutput::kDiscard, Clock::duration::zero(), std::chrono::seconds(1)}};
  testing_support::PtyMeter meter([](const std::string&) { return std::string(); });
  for (const Case& c : cases) {
    platform::Port* port = platform::OpenPort(meter.Path(), nullptr);
    ASSERT_NE(port, platform::NoPort());
    ASSERT_TRUE(platform::ConfigureForMeter(port));
    gOutputHeld = true;
    const Clock::time_point start = Clock::now();
    platform::ClosePort(port, c.output);
    const Clock::duration took = Clock::now() - start;
    gOutputHeld = false;
    EXPECT_GE(took, c.atLeast) << static_cast<int>(c.output);
    EXPECT_LT(took, c.below) << static_cast<int>(c.output);
  }
}

}  // namespace
