// The system's serial ports on POSIX: OVRIN_SERIAL_PORTS when set, otherwise
// the ttys of /sys/class/tty that have a device behind them, and /dev/rfcomm*.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ovrin {
namespace platform {

using PortNames = std::vector<std::string>;

struct PortList {
  PortNames names;
  std::vector<const char*> labels;  // where each name came from
};

namespace {

std::vector<std::string> DirectoryEntries(const char* path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path)) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// ttyS0..ttyS31 exist whether or not a UART is there; type 0 means none.
bool HasNoUart(const std::string& name) {
  if (name.compare(0, 4, "ttyS") != 0) return false;
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int value = -1;
  return type >> value && value == 0;
}

// ttyUSB2 before ttyUSB10: digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
      while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
      const unsigned long long x = std::strtoull(a.substr(i, endA - i).c_str(), nullptr, 10);
      const unsigned long long y = std::strtoull(b.substr(j, endB - j).c_str(), nullptr, 10);
      if (x != y) return x < y;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

constexpr char kFromSysfs[] = "/sys/class/tty";
constexpr char kFromRfcomm[] = "/dev/rfcomm*";
constexpr char kFromEnvironment[] = "OVRIN_SERIAL_PORTS";

PortList* SystemPorts() {
  PortNames ports;
  for (const std::string& name : DirectoryEntries("/sys/class/tty")) {
    if (Exists("/sys/class/tty/" + name + "/device") && !HasNoUart(name)) ports.push_back("/dev/" + name);
  }
  // A bound Bluetooth port has no device link until it is opened.
  for (const std::string& name : DirectoryEntries("/dev")) {
    if (name.compare(0, 6, "rfcomm") == 0) ports.push_back("/dev/" + name);
  }
  std::sort(ports.begin(), ports.end(), NaturalLess);
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  auto* list = new PortList{std::move(ports), {}};
  for (const std::string& port : list->names) {
    list->labels.push_back(port.compare(0, 11, "/dev/rfcomm") == 0 ? kFromRfcomm : kFromSysfs);
  }
  return list;
}

PortNames PortsFromEnvironment(const char* list) {
  PortNames ports;
  std::string rest = list;
  if (rest.empty()) return ports;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = rest.find(':', start);
    ports.push_back(rest.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) return ports;
    start = colon + 1;
  }
}

}  // namespace

PortList* OpenPortList() {
  const char* fromEnvironment = std::getenv(kFromEnvironment);
  try {
    if (fromEnvironment == nullptr) return SystemPorts();
    auto* list = new PortList{PortsFromEnvironment(fromEnvironment), {}};
    list->labels.assign(list->names.size(), kFromEnvironment);
    return list;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ListEntry ReadPortListEntry(PortList* list, std::uint32_t index, std::string* data, std::string* label) {
  if (index >= list->names.size()) return ListEntry::kEnd;
  *data = list->names[index];
  if (label != nullptr) *label = list->labels[index];
  return ListEntry::kName;
}

void ClosePortList(PortList* list) { delete list; }

bool PortNameFromListing(std::string* name) { return !name->empty() && (*name)[0] == '/'; }

}  // namespace platform
}  // namespace ovrin
