// Host services on POSIX: the default message box writes to stderr, and
// notifications go to the host's NotifyQueue.
#include <iconv.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

// The library's texts are code page 936 (ASCII is the same there).
std::string Cp936ToUtf8(const char* text) {
  iconv_t converter = iconv_open("UTF-8", "CP936");
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  std::string in(text);
  std::string out(in.size() * 3 + 1, '\0');
  char* inPtr = &in[0];
  char* outPtr = &out[0];
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  const bool ok = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  if (!ok) return text;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

int DefaultMessageBox(const char* text, unsigned style) {
  std::fprintf(stderr, "Ovrin70: %s\n", Cp936ToUtf8(text).c_str());
  return style == kStyleYesNo ? kButtonYes : kButtonOk;
}

void PostNotification(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  window->Post(Notification{message, wParam, lParam});
}

}  // namespace platform

struct NotifyQueue::State {
  std::mutex lock;
  std::condition_variable posted;
  std::deque<Notification> pending;
  int fd = -1;           // eventfd, readable while `pending` is not empty ...
  bool fdInUse = false;  // ... once the host has asked for it: until then
                         // each notification costs no system call for it
  void SignalFd() {
    const std::uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
  }
};

NotifyQueue::NotifyQueue() : state_(new State) {
  state_->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state_->fd < 0) {
    delete state_;
    throw std::system_error(errno, std::generic_category(), "NotifyQueue: eventfd");
  }
}

NotifyQueue::~NotifyQueue() {
  close(state_->fd);
  delete state_;
}

bool NotifyQueue::Post(const Notification& notification) {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    try {
      state_->pending.push_back(notification);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (state_->fdInUse && state_->pending.size() == 1) state_->SignalFd();
  }
  // Told after the lock is released, the host does not wake only to wait for it.
  state_->posted.notify_one();
  return true;
}

bool NotifyQueue::Wait(Notification& out, int timeoutMs) {
  const platform::Deadline deadline(timeoutMs);
  std::unique_lock<std::mutex> hold(state_->lock);
  auto hasOne = [this] { return !state_->pending.empty(); };
  if (deadline.Never()) {
    state_->posted.wait(hold, hasOne);
  } else if (!state_->posted.wait_until(hold, deadline.End(), hasOne)) {
    return false;
  }
  out = state_->pending.front();
  state_->pending.pop_front();
  if (state_->fdInUse && state_->pending.empty()) {
    std::uint64_t count = 0;
    (void)!read(state_->fd, &count, sizeof count);
  }
  return true;
}

int NotifyQueue::Fd() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  if (!state_->fdInUse && !state_->pending.empty()) state_->SignalFd();
  state_->fdInUse = true;
  return state_->fd;
}

}  // namespace ovrin
