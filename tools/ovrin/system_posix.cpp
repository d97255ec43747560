#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "system.h"

namespace ovrin_tool {
namespace {

volatile sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// `text` as one word of a shell's command line.
std::string ShellWord(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./-") ==
                           std::string::npos) {
    return text;
  }
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The names in /dev/serial/by-id that lead to `device`.
std::string ById(const std::string& device) {
  std::string found;
  if (DIR* dir = opendir("/dev/serial/by-id")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const std::string link = std::string("/dev/serial/by-id/") + entry->d_name;
      if (RealPath(link) == device) found += (found.empty() ? "" : " ") + link;
    }
    closedir(dir);
  }
  return found;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGTERM, &interrupt, nullptr);
}

bool Interrupted() { return gInterrupted != 0; }
void Interrupt() { gInterrupted = 1; }

void SleepMs(int milliseconds) { poll(nullptr, 0, milliseconds); }
bool WriteText(std::FILE* stream, const std::string& text) { return std::fputs(text.c_str(), stream) >= 0; }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool SyncFile(std::FILE* file) { return fsync(fileno(file)) == 0 || errno == EINVAL; }  // EINVAL: a pipe, say

std::vector<std::pair<std::string, std::string>> PortDetails(const std::string& port) {
  std::vector<std::pair<std::string, std::string>> details;
  const std::string device = RealPath(port);
  if (device.empty()) return details;
  if (device != port) details.emplace_back("device", device);
  const std::string sysfs = RealPath("/sys/class/tty/" + BaseName(device) + "/device");
  if (!sysfs.empty()) {
    const std::string driver = BaseName(RealPath(sysfs + "/driver"));
    if (!driver.empty()) details.emplace_back("driver", driver);
  }
  const std::string byId = ById(device);
  if (!byId.empty()) details.emplace_back("by-id", byId);
  return details;
}

std::string PermissionHint(const std::string& port) {
  struct stat info {};
  if (stat(port.c_str(), &info) != 0) return "";
  if (info.st_gid == 0) return "only root may open it; a udev rule can give it a group of its own";
  const group* owner = getgrgid(info.st_gid);
  if (owner == nullptr) return "";
  const std::string name = owner->gr_name;
  return "the device belongs to group \"" + name + "\"; to join it: sudo usermod -aG " + name +
         " \"$USER\", then log in again";
}

std::string SecretFileProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return "";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return "\"" + path + "\" holds the secret of the link, and other users may read or change it (mode " + mode +
         "): make it private with: chmod 600 " + ShellWord(path);
}

bool WriteSecretFile(const std::string& path, const std::string& text) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file < 0) return false;
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(file, text.data() + written, text.size() - written);
    if (n < 0 && errno != EINTR) break;
    if (n > 0) written += static_cast<std::size_t>(n);
  }
  return close(file) == 0 && written == text.size();
}

bool Ipv6Bytes(const std::string& text, unsigned char (&bytes)[16]) {
  return inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), bytes) == 1;
}

bool RandomBytes(unsigned char* bytes, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = getrandom(bytes + got, count - got, 0);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<std::string> ReachableAddresses(const std::string& host) {
  if (host != "0.0.0.0" && host != "::") return {host.find(':') != std::string::npos ? "[" + host + "]" : host};
  std::vector<std::string> found;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return found;
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ifa_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
      found.emplace_back(text);
    } else if (entry->ifa_addr->sa_family == AF_INET6 && host == "::") {
      const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
      if (IN6_IS_ADDR_LINKLOCAL(&address)) continue;
      inet_ntop(AF_INET6, &address, text, sizeof text);
      found.push_back("[" + std::string(text) + "]");
    }
  }
  freeifaddrs(interfaces);
  return found;
}

}  // namespace ovrin_tool
