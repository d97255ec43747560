/* Makes opening one path slow, as a switched-off Bluetooth meter's port is:
 * LD_PRELOAD it with OVRIN_SLOW_OPEN=PATH and OVRIN_SLOW_OPEN_MS (5000 when
 * unset). Every other open goes straight through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef int (*OpenFunction)(const char*, int, ...);

/* Only the open for reading and writing: the one that pages the device. */
static void DelayIfSlow(const char* path, int flags) {
  const char* slow = getenv("OVRIN_SLOW_OPEN");
  if (slow == NULL || strcmp(path, slow) != 0 || (flags & O_ACCMODE) != O_RDWR) return;
  const char* ms = getenv("OVRIN_SLOW_OPEN_MS");
  const long delay = ms != NULL ? atol(ms) : 5000;
  struct timespec left = {delay / 1000, (delay % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
  }
}

static int Forward(const char* name, const char* path, int flags, va_list arguments) {
  const OpenFunction real = (OpenFunction)dlsym(RTLD_NEXT, name);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
  DelayIfSlow(path, flags);
  return real(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = Forward("open", path, flags, arguments);
  va_end(arguments);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = Forward("open64", path, flags, arguments);
  va_end(arguments);
  return fd;
}
