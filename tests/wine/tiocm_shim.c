/* Preloaded into Wine for the tests, and into the libserialport benchmark
 * peer. A pseudo-terminal refuses the modem-status requests (TIOCMGET and
 * friends) that serial code makes: Wine then completes every wait for port
 * events at once, and libserialport refuses to open the port. Answering them
 * as a port with no modem lines does makes both behave as on a real port.
 *
 * Built for 64- and 32-bit processes. 32-bit glibc with 64-bit time routes
 * ioctl through __ioctl_time64, so that is answered as well. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

typedef int (*IoctlFunction)(int, unsigned long, ...);

static int Answer(IoctlFunction real, int fd, unsigned long request, void* argument) {
  int result = real(fd, request, argument);
  if (result < 0 && (errno == ENOTTY || errno == EINVAL) &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)) {
    if (request == TIOCMGET && argument) *(int*)argument = 0;
    errno = 0;
    return 0;
  }
  return result;
}

#define WRAP(name)                                            \
  int name(int fd, unsigned long request, ...) {              \
    static IoctlFunction real;                                \
    va_list args;                                             \
    void* argument;                                           \
    if (!real) real = (IoctlFunction)dlsym(RTLD_NEXT, #name); \
    va_start(args, request);                                  \
    argument = va_arg(args, void*);                           \
    va_end(args);                                             \
    return Answer(real, fd, request, argument);               \
  }

WRAP(ioctl)
#if defined(__i386__)
WRAP(__ioctl_time64)
#endif
