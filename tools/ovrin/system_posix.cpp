#include <dirent.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>

#include "system.h"

namespace ovrin_tool {
namespace {

volatile sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
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

ToolLock::ToolLock() : lock_(new pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER)) {}
ToolLock::~ToolLock() { delete static_cast<pthread_mutex_t*>(lock_); }
void ToolLock::Enter() { pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock_)); }
void ToolLock::Leave() { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock_)); }
void SleepMs(int milliseconds) { poll(nullptr, 0, milliseconds); }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool SyncFile(std::FILE* file) { return fsync(fileno(file)) == 0 || errno == EINVAL; }  // EINVAL: a pipe, say

std::vector<std::pair<std::string, std::string>> PortDetails(const std::string& port) {
  std::vector<std::pair<std::string, std::string>> details;
  const std::string device = RealPath(port);
  if (device.empty()) return details;
  if (device != port) details.emplace_back("device", device);
  const std::string name = BaseName(device);
  if (name.compare(0, 6, "rfcomm") == 0) details.emplace_back("bluetooth", "rfcomm");
  const std::string sysfs = RealPath("/sys/class/tty/" + name + "/device");
  if (!sysfs.empty()) {
    const std::string driver = BaseName(RealPath(sysfs + "/driver"));
    if (!driver.empty()) details.emplace_back("driver", driver);
    // The USB device is the nearest directory above that has vendor and product ids.
    for (std::string dir = sysfs; dir.size() > 1; dir = dir.substr(0, dir.find_last_of('/'))) {
      const std::string vendor = FirstLine(dir + "/idVendor");
      if (vendor.empty()) continue;
      details.emplace_back("usb", vendor + ":" + FirstLine(dir + "/idProduct"));
      const std::string serial = FirstLine(dir + "/serial");
      if (!serial.empty()) details.emplace_back("serial", serial);
      break;
    }
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

}  // namespace ovrin_tool
