// The system's serial ports on Windows: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, read one by one.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

constexpr char kPortListKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kNameBufferSize = 25;
constexpr DWORD kDataBufferSize = 80;
constexpr char kDevicePrefix[] = "\\\\.\\";  // \\.\ for COM10 and above

// A port list is an HKEY in disguise.
HKEY Win(PortList* list) { return reinterpret_cast<HKEY>(list); }

}  // namespace

PortList* OpenPortList() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortListKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return reinterpret_cast<PortList*>(key);
}

ListEntry ReadPortListEntry(PortList* list, std::uint32_t index, std::string* data, std::string* label) {
  char name[kNameBufferSize];
  DWORD nameSize = kNameBufferSize;
  BYTE value[kDataBufferSize];
  DWORD valueSize = kDataBufferSize;
  DWORD type = 0;
  const LONG result = RegEnumValueA(Win(list), index, name, &nameSize, nullptr, &type, value, &valueSize);
  if (result == ERROR_MORE_DATA) {
    if (label != nullptr) label->clear();  // the name may not have fitted either
    return ListEntry::kUnfit;
  }
  if (result != ERROR_SUCCESS) return ListEntry::kEnd;
  if (label != nullptr) label->assign(name, nameSize);
  // The text of the value: up to its NUL, never beyond the bytes delivered.
  const char* text = reinterpret_cast<const char*>(value);
  data->assign(text, strnlen(text, valueSize));
  return ListEntry::kName;
}

void ClosePortList(PortList* list) { RegCloseKey(Win(list)); }

bool PortNameFromListing(std::string* name) {
  if (!name->empty()) CharUpperBuffA(&(*name)[0], static_cast<DWORD>(name->size()));
  if (name->compare(0, 3, "COM") != 0) return false;
  if (name->size() > 4) name->insert(0, kDevicePrefix);
  return true;
}

}  // namespace platform
}  // namespace ovrin
