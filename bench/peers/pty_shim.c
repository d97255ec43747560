/* Preloaded into the libserialport peer: libserialport looks a port up in
 * /sys/class/tty and asks it for modem status, which a pseudo-terminal has
 * neither of. This answers both for /dev/pts paths, as for a port with no
 * modem lines; nothing else changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

static int IsPtsEntry(const char* path) {
  return strncmp(path, "/sys/class/tty/pts/", 19) == 0;
}

int lstat(const char* path, struct stat* info) {
  static int (*real)(const char*, struct stat*);
  if (IsPtsEntry(path)) {
    memset(info, 0, sizeof *info);
    info->st_mode = S_IFLNK | 0777;
    return 0;
  }
  if (!real) real = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "lstat");
  return real(path, info);
}

int __lxstat(int version, const char* path, struct stat* info) {
  static int (*real)(int, const char*, struct stat*);
  if (IsPtsEntry(path)) return lstat(path, info);
  if (!real) real = (int (*)(int, const char*, struct stat*))dlsym(RTLD_NEXT, "__lxstat");
  return real(version, path, info);
}

ssize_t readlink(const char* path, char* buffer, size_t size) {
  static ssize_t (*real)(const char*, char*, size_t);
  if (IsPtsEntry(path)) {
    const char target[] = "../../devices/virtual/tty/pts";
    size_t length = sizeof target - 1 < size ? sizeof target - 1 : size;
    memcpy(buffer, target, length);
    return (ssize_t)length;
  }
  if (!real) real = (ssize_t (*)(const char*, char*, size_t))dlsym(RTLD_NEXT, "readlink");
  return real(path, buffer, size);
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  va_list args;
  void* argument;
  int result;
  if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  va_start(args, request);
  argument = va_arg(args, void*);
  va_end(args);
  result = real(fd, request, argument);
  if (result < 0 && (errno == ENOTTY || errno == EINVAL) &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)) {
    if (request == TIOCMGET && argument) *(int*)argument = 0;
    errno = 0;
    return 0;
  }
  return result;
}
