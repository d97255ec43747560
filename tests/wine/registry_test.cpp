// The registry and the search, through the real Windows layer under Wine:
// the remembered port under HKCU, the port list under HKLM SERIALCOMM, and
// how the probe is timed. run.sh sets up the meters: COM7 answers at once,
// COM5 never, COM13 350 ms after the probe, COM14 700 ms after it, and COM15
// begins at once but sends "12....+" only after the probe's 100 ms pause.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "connection/comm_access.h"
#include "platform/platform.h"

namespace platform = ovrin::platform;

namespace {

constexpr char kSettingsKey[] = "Software\\Quenmark\\OVRIN";
constexpr char kPortListKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

using Values = std::vector<std::pair<std::string, std::string>>;  // name, data

// Replaces the system's port list with `values`. Wine lists values by name,
// Windows in the order they were made: the names keep both orders the same.
void ListPorts(const Values& values) {
  HKEY key = nullptr;
  if (!CHECK(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortListKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS)) return;
  char name[256];
  for (DWORD size = sizeof name;
       RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; size = sizeof name) {
    RegDeleteValueA(key, name);
  }
  for (const auto& value : values) {
    RegSetValueExA(key, value.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                   static_cast<DWORD>(value.second.size() + 1));
  }
  RegCloseKey(key);
}

void SetRemembered(DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, "COMPort", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

std::vector<std::pair<std::string, unsigned>> gBoxes;
int AnswerYes(const char* text, unsigned style, void*) {
  gBoxes.emplace_back(text, style);
  return style == ovrin::kStyleYesNo ? ovrin::kButtonYes : ovrin::kButtonOk;
}

// Runs the search from `preferred`; the name found, or "" for none.
std::string Search(const std::string& preferred) {
  OvrinComm comm;
  std::string port = preferred;
  platform::Port* const found = OvrinCommAccess::FindAndOpen(comm, port);
  if (found == platform::NoPort()) return "";
  platform::ClosePort(found, platform::PendingOutput::kLetLeave);
  return port;
}

void RememberedPortInTheRegistry() {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  bool created = false;
  platform::Settings* settings = platform::OpenSettings(&created);
  CHECK(settings != nullptr && created);  // a new key: Open reads nothing from it
  CHECK(platform::WriteRememberedPort(settings, "\\\\.\\COM13"));
  platform::CloseSettings(settings);
  settings = platform::OpenSettings(&created);
  CHECK(settings != nullptr && !created);
  // Stored as REG_SZ, the terminating NUL counted in its size.
  DWORD type = 0;
  DWORD size = 0;
  HKEY key = nullptr;
  CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS);
  CHECK(RegQueryValueExA(key, "COMPort", nullptr, &type, nullptr, &size) == ERROR_SUCCESS);
  RegCloseKey(key);
  CHECK(type == REG_SZ && size == 10);
  std::string name;
  CHECK(platform::ReadRememberedPort(settings, &name) && name == "\\\\.\\COM13");
  // 79 characters and the NUL fill the 80 bytes that are read; one more does not fit.
  SetRemembered(REG_SZ, std::string(79, 'C') + '\0');
  CHECK(platform::ReadRememberedPort(settings, &name) && name == std::string(79, 'C'));
  SetRemembered(REG_SZ, std::string(80, 'C') + '\0');
  CHECK(!platform::ReadRememberedPort(settings, &name));
  // The value's type is not looked at: its bytes are read as text.
  SetRemembered(REG_BINARY, std::string("COM7\0junk", 9));
  CHECK(platform::ReadRememberedPort(settings, &name) && name == "COM7");
  platform::CloseSettings(settings);
}

void PortListEntries() {
  ListPorts({{"Serial0", "com3"},
             {"Serial1", std::string(100, 'C')},          // data longer than 80 bytes
             {"Serial2" + std::string(30, 'N'), "COM4"},  // a name longer than 25 characters
             {"Serial3", "COM12"}});
  platform::PortList* list = platform::OpenPortList();
  if (!CHECK(list != nullptr)) return;
  std::string data;
  CHECK(platform::ReadPortListEntry(list, 0, &data, nullptr) == platform::ListEntry::kName && data == "com3");
  CHECK(platform::ReadPortListEntry(list, 1, &data, nullptr) == platform::ListEntry::kUnfit);
  CHECK(platform::ReadPortListEntry(list, 2, &data, nullptr) == platform::ListEntry::kUnfit);
  CHECK(platform::ReadPortListEntry(list, 3, &data, nullptr) == platform::ListEntry::kName && data == "COM12");
  CHECK(platform::ReadPortListEntry(list, 4, &data, nullptr) == platform::ListEntry::kEnd);
  platform::ClosePortList(list);
}

// What the system lists becomes the names opened: upper case, "COM" only, the
// device path from COM10 on; entries that do not fit are passed over.
void SearchThroughTheListedPorts() {
  gBoxes.clear();
  ListPorts({{"Serial0", "lpt1"},
             {"Serial1", std::string(100, 'C')},
             {"Serial2", "\\\\.\\COM7"},  // a meter, but not listed by a COM name
             {"Serial3", "com5"},         // silent
             {"Serial4", "com13"}});
  CHECK(Search("") == "\\\\.\\COM13");
  // The question came once, before the fourth entry was looked at.
  CHECK(gBoxes.size() == 1 && gBoxes[0].second == ovrin::kStyleYesNo);
}

// The meter must begin its answer within 500 ms of the probe, and the answer
// must hold "12....+" by the end of the 100 ms pause that follows.
void ProbeTiming() {
  ListPorts({});
  const DWORD start = GetTickCount();
  CHECK(Search("\\\\.\\COM13") == "\\\\.\\COM13");  // answers after 350 ms
  CHECK(Search("\\\\.\\COM14").empty());            // 700 ms: too late
  CHECK(Search("\\\\.\\COM15").empty());            // the pattern comes after the pause
  CHECK(Search("COM7") == "COM7");
  std::printf("  four probes took %lu ms\n", GetTickCount() - start);
}

}  // namespace

int main() {
  ovrin::SetMessageBoxHandler(AnswerYes, nullptr);
  RememberedPortInTheRegistry();
  PortListEntries();
  SearchThroughTheListedPorts();
  ProbeTiming();
  ListPorts({{"Serial5", "COM5"}, {"Serial6", "COM6"}, {"Serial7", "COM7"}});  // as run.sh set it
  return wine_check::Finish("registry_test");
}
