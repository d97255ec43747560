// The remembered port on POSIX: a line "COMPort=NAME" in
// $XDG_CONFIG_HOME/Quenmark/OVRIN.conf (default $HOME/.config), replaced
// atomically so that a crash never leaves half a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/platform.h"

namespace ovrin {
namespace platform {

struct Settings {
  std::string path;
  std::string content;  // as read; other lines are written back unchanged
  bool readable = false;
};

namespace {

constexpr char kKey[] = "COMPort=";
constexpr std::size_t kMaxValueBytes = 80;  // terminating NUL included
// A settings file larger than this is not ours to read or rewrite.
constexpr off_t kMaxFileBytes = off_t{64} * 1024;

std::string ConfigDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/Quenmark";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/Quenmark";
  return {};
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool ReadFile(const std::string& path, std::string* content) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes;
  char chunk[4096];
  while (ok) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0 || static_cast<off_t>(content->size()) + n > kMaxFileBytes) {
      ok = n == 0;
      break;
    }
    content->append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok;
}

// Start of the value of the first "COMPort=" line, or npos.
std::size_t FindValue(const std::string& content) {
  for (std::size_t line = 0; line < content.size(); line = content.find('\n', line) + 1) {
    if (content.compare(line, sizeof kKey - 1, kKey) == 0) return line + sizeof kKey - 1;
    if (content.find('\n', line) == std::string::npos) break;
  }
  return std::string::npos;
}

}  // namespace

Settings* OpenSettings(bool* created) {
  const std::string directory = ConfigDirectory();
  if (directory.empty() || !MakeDirectories(directory)) return nullptr;
  Settings* settings = new (std::nothrow) Settings{directory + "/OVRIN.conf", {}, false};
  if (settings == nullptr) return nullptr;
  const int fd = open(settings->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  *created = fd >= 0;
  if (fd >= 0) {
    close(fd);
    settings->readable = true;
  } else {
    settings->readable = ReadFile(settings->path, &settings->content);
  }
  return settings;
}

bool ReadRememberedPort(Settings* handle, std::string* name) {
  const Settings& settings = *handle;
  const std::size_t start = FindValue(settings.content);
  if (!settings.readable || start == std::string::npos) return false;
  std::string value = settings.content.substr(start, settings.content.find('\n', start) - start);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  value.resize(std::min(value.find('\0'), value.size()));  // text up to its first NUL
  if (value.size() + 1 > kMaxValueBytes) return false;
  *name = value;
  return true;
}

bool WriteRememberedPort(Settings* handle, const std::string& name) {
  const Settings& settings = *handle;
  if (!settings.readable) return false;  // never overwrite what could not be read
  std::string current;
  if (ReadRememberedPort(handle, &current) && current == name) return true;  // no rewrite, no fsync
  std::string content = settings.content;
  const std::size_t start = FindValue(content);
  if (start == std::string::npos) {
    if (!content.empty() && content.back() != '\n') content += '\n';
    content += kKey + name + '\n';
  } else {
    const std::size_t end = content.find('\n', start);
    content.replace(start, end == std::string::npos ? std::string::npos : end - start, name);
    if (end == std::string::npos) content += '\n';
  }
  // Written beside the file and renamed over it: a symbolic link in its place
  // is replaced, never written through.
  std::string temporary = settings.path + ".XXXXXX";
  const int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return false;
  const bool written =
      write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) && fsync(fd) == 0;
  close(fd);
  if (written && rename(temporary.c_str(), settings.path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

void CloseSettings(Settings* settings) { delete settings; }

}  // namespace platform
}  // namespace ovrin
