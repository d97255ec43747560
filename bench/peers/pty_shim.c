/* Preloaded into the libserialport peer: libserialport looks a port up in
 * /sys/class/tty, where a pseudo-terminal has no entry of its kind. This
 * answers for /dev/pts paths as for a native port; nothing else changes. The
 * modem-status requests it makes next are answered by tests/wine/tiocm_shim.c,
 * preloaded with it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int IsPtsEntry(const char* path) { return strncmp(path, "/sys/class/tty/pts/", 19) == 0; }

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
  if (!real) real = (ssize_t(*)(const char*, char*, size_t))dlsym(RTLD_NEXT, "readlink");
  return real(path, buffer, size);
}
