// Serial ports on POSIX: termios for the line, poll for the search's waits,
// a blocking read for the receive thread's, an eventfd and a non-blocking
// switch that wake them when the connection closes.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/deadline.h"
#include "platform/platform.h"

namespace ovrin {
namespace platform {

struct Port {
  int fd;      // non-blocking: reads and writes that never wait
  int readFd;  // the same tty, blocking until WakeWaiters: the receive thread's wait and read
  int wakeFd;  // readable once WakeWaiters was called, until re-armed
};

namespace {

// Write time-outs as the meter's port has them: 50 ms per byte plus 1 s.
constexpr int kWriteMsPerByte = 50;
constexpr int kWriteMsConstant = 1000;
// How often Close looks whether output has drained.
constexpr int kDrainPollMs = 5;
// What Close lets output take beyond the write time-out's constant: a full
// 128-byte output queue at 9600 baud (133 ms), as much as the Windows build's
// port holds. A UART whose flow control is held off would otherwise keep a
// large queue, and Close, for minutes.
constexpr int kOutputQueueMs = 150;

int QueuedOutput(int fd) {
  int queued = 0;
  return ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

int QueuedInput(int fd) {
  int queued = 0;
  return ioctl(fd, FIONREAD, &queued) == 0 && queued > 0 ? queued : 0;
}

// Opens `name` once more, read-only, and checks that it is the device `fd`
// holds (the name could have been replaced in between); -1 with errno set.
int OpenSameTty(const std::string& name, int fd) {
  const int again = open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (again < 0) return -1;
  struct stat first {};
  struct stat second {};
  if (fstat(fd, &first) != 0 || fstat(again, &second) != 0 || first.st_rdev != second.st_rdev) {
    close(again);
    errno = EBUSY;
    return -1;
  }
  return again;
}

void SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

}  // namespace

Port* OpenPort(const std::string& name, OpenFailure* failure) {
  auto fail = [failure](int error) {
    if (failure != nullptr) {
      const bool busy = error == EBUSY || error == EWOULDBLOCK;
      const bool denied = error == EACCES || error == EPERM;
      const bool gone = error == ENOENT || error == ENODEV || error == ENXIO;
      const bool notSerial = error == EISDIR || error == ENOTTY;
      failure->reason = busy        ? OpenError::kBusy
                        : denied    ? OpenError::kNoPermission
                        : gone      ? OpenError::kNoSuchDevice
                        : notSerial ? OpenError::kNotSerial
                                    : OpenError::kOther;
      failure->systemError = error;
    }
    return NoPort();
  };
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  // flock keeps out other processes and other descriptors of this one (even
  // root's); TIOCEXCL keeps out later plain opens of other programs.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    return fail(error);
  }
  // A description of its own for the receive thread, whose reads block
  // while the search's and the writes never do; opened before TIOCEXCL,
  // which would refuse it.
  const int readFd = OpenSameTty(name, fd);
  if (readFd < 0) {
    const int error = errno;
    close(fd);
    return fail(error);
  }
  ioctl(fd, TIOCEXCL);
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  Port* port = wakeFd >= 0 ? new (std::nothrow) Port{fd, readFd, wakeFd} : nullptr;
  if (port == nullptr) {
    const int error = wakeFd < 0 ? errno : ENOMEM;
    if (wakeFd >= 0) close(wakeFd);
    ioctl(fd, TIOCNXCL);
    close(readFd);
    close(fd);
    return fail(error);
  }
  return port;
}

bool ConfigureForMeter(Port* port) {
  termios settings{};
  if (tcgetattr(port->fd, &settings) != 0) return false;
  // Raw 8N1 at 9600; the flow-control flags (CRTSCTS, IXON, IXOFF) stay as found.
  settings.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IUCLC | IMAXBEL);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  // A blocking read returns as soon as one byte is there, with all that is.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  tcsetattr(port->fd, TCSANOW, &settings);
  std::uint64_t drained = 0;
  while (read(port->wakeFd, &drained, sizeof drained) > 0) {
  }
  SetBlocking(port->readFd, true);
  return true;
}

void DiscardQueues(Port* port) { tcflush(port->fd, TCIOFLUSH); }

std::uint32_t CountQueuedInput(Port* port) { return static_cast<std::uint32_t>(QueuedInput(port->fd)); }

long ReadQueued(Port* port, Event* /*event*/, char* buffer, std::size_t capacity) {
  const ssize_t n = read(port->fd, buffer, capacity);
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

WaitResult WaitForInput(Port* port, Event* /*event*/, int timeoutMs) {
  const Deadline deadline(timeoutMs);
  pollfd fds[2] = {{port->fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, 2, deadline.LeftMs());
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return WaitResult::kFailed;
    if (ready == 0) return WaitResult::kTimedOut;
    if (fds[1].revents != 0) return WaitResult::kReady;
    // A hung-up tty polls ready for ever and reads nothing: that is the end
    // of the link, once what it still holds has been read.
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      return QueuedInput(port->fd) > 0 ? WaitResult::kReady : WaitResult::kFailed;
    }
    return WaitResult::kReady;
  }
}

long ReadWhenQueued(Port* port, Event* event, char* buffer, std::size_t capacity) {
  // One system call per wake where poll and read would be two.
  const ssize_t n = read(port->readFd, buffer, capacity);
  if (n > 0) return static_cast<long>(n);
  if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
  // A blocking read returns nothing only from a hung-up tty, once what it
  // held has been read; the wait tells that apart from a wake.
  return WaitForInput(port, event, 0) == WaitResult::kFailed ? -1 : 0;
}

void WakeWaiters(Port* port) {
  const std::uint64_t one = 1;
  // The eventfd stays readable: every later wait returns at once too.
  (void)!write(port->wakeFd, &one, sizeof one);
  // A read blocked for its first byte looks at its description's flags again
  // whenever Linux's line discipline wakes the tty's readers, as a change of
  // settings does (here to the same ones): finding it non-blocking, it
  // returns. No signal is needed; those belong to the host.
  SetBlocking(port->readFd, false);
  termios settings{};
  if (tcgetattr(port->fd, &settings) == 0) tcsetattr(port->fd, TCSANOW, &settings);
}

WriteResult WritePort(Port* port, Event* /*event*/, const void* data, std::uint32_t size, int timeoutMs,
                      std::uint32_t* written) {
  const Deadline deadline(timeoutMs < 0 ? kWriteMsPerByte * static_cast<int>(size) + kWriteMsConstant : timeoutMs);
  const char* bytes = static_cast<const char*>(data);
  std::uint32_t done = 0;
  bool waited = false;
  for (;;) {
    const ssize_t n = write(port->fd, bytes + done, size - done);
    if (n > 0) done += static_cast<std::uint32_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return WriteResult::kFailed;
    if (done == size) break;
    pollfd out{port->fd, POLLOUT, 0};
    const int left = deadline.LeftMs();
    if (left == 0 || poll(&out, 1, left) == 0) return WriteResult::kTimedOut;
    if ((out.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return WriteResult::kFailed;
    waited = true;
  }
  *written = done;
  return waited ? WriteResult::kDoneAfterWait : WriteResult::kDoneAtOnce;
}

void ClosePort(Port* port, PendingOutput output) {
  // A command written just before Close still leaves, within the bound. What
  // is then still left is discarded, or close() would wait up to 30 s for
  // the tty to send it. Nothing is flushed when nothing is left: on some
  // drivers (pseudo-terminals among them) a flush also drops what is already
  // on its way to the far end.
  if (output == PendingOutput::kLetLeave) {
    const Deadline deadline(kOutputQueueMs + kWriteMsConstant);
    while (QueuedOutput(port->fd) > 0 && !deadline.Passed()) SleepMs(kDrainPollMs);
  }
  tcflush(port->fd, output == PendingOutput::kDiscard || QueuedOutput(port->fd) > 0 ? TCIOFLUSH : TCIFLUSH);
  ioctl(port->fd, TIOCNXCL);
  flock(port->fd, LOCK_UN);
  close(port->fd);
  close(port->readFd);
  close(port->wakeFd);
  delete port;
}

}  // namespace platform
}  // namespace ovrin
