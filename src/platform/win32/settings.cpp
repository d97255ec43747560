// The remembered port on Windows: the string value "COMPort" under
// HKCU\Software\Quenmark\OVRIN.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

constexpr char kSettingsKey[] = "Software\\Quenmark\\OVRIN";
constexpr char kPortValue[] = "COMPort";
constexpr DWORD kDataBufferSize = 80;  // terminating NUL included

// The settings are an HKEY in disguise.
HKEY Win(Settings* settings) { return reinterpret_cast<HKEY>(settings); }

}  // namespace

Settings* OpenSettings(bool* created) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                      nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  *created = disposition == REG_CREATED_NEW_KEY;
  return reinterpret_cast<Settings*>(key);
}

bool ReadRememberedPort(Settings* settings, std::string* name) {
  BYTE value[kDataBufferSize];
  DWORD size = kDataBufferSize;
  // Whatever the value's type, its bytes are taken as text: up to its NUL,
  // never beyond the bytes delivered.
  if (RegQueryValueExA(Win(settings), kPortValue, nullptr, nullptr, value, &size) != ERROR_SUCCESS) return false;
  const char* text = reinterpret_cast<const char*>(value);
  name->assign(text, strnlen(text, size));
  return true;
}

bool WriteRememberedPort(Settings* settings, const std::string& name) {
  return RegSetValueExA(Win(settings), kPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                        static_cast<DWORD>(name.size() + 1)) == ERROR_SUCCESS;
}

void CloseSettings(Settings* settings) { RegCloseKey(Win(settings)); }

}  // namespace platform
}  // namespace ovrin
