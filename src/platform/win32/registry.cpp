// The registry: the system's list of serial ports and the remembered port.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

constexpr char kPortListKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kSettingsKey[] = "Software\\Quenmark\\OVRIN";
constexpr char kPortValue[] = "COMPort";
constexpr DWORD kNameBufferSize = 25;
constexpr DWORD kDataBufferSize = 80;
constexpr char kDevicePrefix[] = "\\\\.\\";  // \\.\ for COM10 and above

HKEY AsKey(Handle handle) { return static_cast<HKEY>(handle); }

// The text of a value: up to its NUL, never beyond the bytes delivered.
std::string TextOf(const BYTE* data, DWORD size) {
  const char* text = reinterpret_cast<const char*>(data);
  return std::string(text, strnlen(text, size));
}

}  // namespace

Handle OpenPortList() {
  HKEY key = nullptr;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortListKey, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

ListEntry ReadPortListEntry(Handle list, std::uint32_t index, std::string* data) {
  char name[kNameBufferSize];
  DWORD nameSize = kNameBufferSize;
  BYTE value[kDataBufferSize];
  DWORD valueSize = kDataBufferSize;
  DWORD type = 0;
  const LONG result = RegEnumValueA(AsKey(list), index, name, &nameSize, nullptr, &type, value, &valueSize);
  if (result == ERROR_MORE_DATA) return ListEntry::kUnfit;
  if (result != ERROR_SUCCESS) return ListEntry::kEnd;
  *data = TextOf(value, valueSize);
  return ListEntry::kName;
}

void ClosePortList(Handle list) { RegCloseKey(AsKey(list)); }

bool PortNameFromListing(std::string* name) {
  if (!name->empty()) CharUpperBuffA(&(*name)[0], static_cast<DWORD>(name->size()));
  if (name->compare(0, 3, "COM") != 0) return false;
  if (name->size() > 4) name->insert(0, kDevicePrefix);
  return true;
}

Handle OpenSettings(bool* created) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                      nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  *created = disposition == REG_CREATED_NEW_KEY;
  return key;
}

bool ReadRememberedPort(Handle settings, std::string* name) {
  BYTE value[kDataBufferSize];
  DWORD size = kDataBufferSize;
  // Whatever the value's type, its bytes are taken as text.
  if (RegQueryValueExA(AsKey(settings), kPortValue, nullptr, nullptr, value, &size) != ERROR_SUCCESS) return false;
  *name = TextOf(value, size);
  return true;
}

bool WriteRememberedPort(Handle settings, const std::string& name) {
  return RegSetValueExA(AsKey(settings), kPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                        static_cast<DWORD>(name.size() + 1)) == ERROR_SUCCESS;
}

void CloseSettings(Handle settings) { RegCloseKey(AsKey(settings)); }

}  // namespace platform
}  // namespace ovrin
