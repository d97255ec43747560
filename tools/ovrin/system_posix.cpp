#include <arpa/inet.h>
#include <dirent.h>
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

void SleepMs(int milliseconds) { poll(nullptr, 0, milliseconds); }
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
