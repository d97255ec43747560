#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "host_loop.h"

namespace ovrin_tool {
namespace {

volatile sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

constexpr int kSliceMs = 100;  // how soon an interrupt is noticed

}  // namespace

struct HostLoop::State {
  ovrin::NotifyQueue queue;
};

HostLoop::HostLoop() : state_(new State) {
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGTERM, &interrupt, nullptr);
}

HostLoop::~HostLoop() { delete state_; }

ovrin::WindowHandle HostLoop::Window() const { return &state_->queue; }

Waited HostLoop::Wait(ovrin::Notification* out, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!gInterrupted) {
    int slice = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return state_->queue.Wait(*out, 0) ? Waited::kNotification : Waited::kTimedOut;
      if (left < slice) slice = static_cast<int>(left);
    }
    if (state_->queue.Wait(*out, slice)) return Waited::kNotification;
  }
  return Waited::kInterrupted;
}

bool HostLoop::Pause(int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!gInterrupted) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return true;
    poll(nullptr, 0, static_cast<int>(left < kSliceMs ? left : kSliceMs));
  }
  return false;
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace ovrin_tool
