// What a COM port is, from SetupAPI: every device of the Ports class whose
// PortName is the port, with its friendly name, hardware id and instance id.
// A Bluetooth serial port (BTHENUM\{00001101-...}) carries the device's
// address in its instance id, all zeros for an incoming port; USB ids come
// from the hardware id (USB\VID_xxxx&PID_xxxx).
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <string>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

// Port names and device ids are ASCII.
std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  return text;
}

// A text property (the first string of a multi-string one); empty if none.
std::wstring Property(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property) {
  wchar_t buffer[512] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(devices, device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                         sizeof buffer - sizeof(wchar_t), nullptr)) {
    return {};
  }
  return buffer;
}

std::wstring PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA* device) {
  HKEY key = SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  const bool read =
      RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
      type == REG_SZ;
  RegCloseKey(key);
  return read ? name : L"";
}

// The four hex digits after `key` ("VID_") in an id; empty if absent.
std::string IdAfter(const std::wstring& id, const wchar_t* key) {
  const std::size_t at = id.find(key);
  if (at == std::wstring::npos || at + 4 + 4 > id.size()) return {};
  std::string digits = Utf8(id.substr(at + 4, 4));
  for (char& c : digits) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  return digits;
}

void Identify(const std::wstring& instance, const std::wstring& hardware, PortIdentity* identity) {
  const std::wstring upper = Upper(instance);
  if (upper.rfind(L"BTHENUM\\", 0) == 0) {
    // ...\7&1e2e9e5b&0&001122334455_C00000000: the address is the twelve
    // digits between the last '&' and the '_' after it.
    const std::size_t start = upper.rfind(L'&');
    const std::size_t end = upper.find(L'_', start);
    const std::wstring address = start != std::wstring::npos && end != std::wstring::npos && end - start == 13
                                     ? upper.substr(start + 1, 12)
                                     : L"";
    identity->kind = address == L"000000000000" ? PortKind::kBluetoothIncoming : PortKind::kBluetoothOutgoing;
    if (address.size() == 12 && address != L"000000000000") {
      for (std::size_t i = 0; i < 12; i += 2) {
        identity->bluetoothAddress += (i > 0 ? ":" : "") + Utf8(address.substr(i, 2));
      }
    }
    return;
  }
  const std::wstring hardwareUpper = Upper(hardware);
  identity->vid = IdAfter(hardwareUpper, L"VID_");
  identity->pid = IdAfter(hardwareUpper, L"PID_");
  if (!identity->vid.empty()) {
    identity->kind = PortKind::kUsb;
    // USB\VID_0403&PID_6001\A12345: the last part is the serial number when
    // the device has one (else Windows makes one up, with '&' in it).
    const std::size_t slash = instance.rfind(L'\\');
    const std::wstring last = slash != std::wstring::npos ? instance.substr(slash + 1) : L"";
    if (upper.rfind(L"USB\\", 0) == 0 && last.find(L'&') == std::wstring::npos) identity->serialNumber = Utf8(last);
  } else if (upper.rfind(L"ACPI\\", 0) == 0) {
    identity->kind = PortKind::kBuiltIn;
  }
}

}  // namespace

PortIdentity IdentifyPort(const std::string& name) {
  PortIdentity identity;
  std::string bare = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
  const std::wstring wanted = Upper(std::wstring(bare.begin(), bare.end()));
  HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return identity;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    if (Upper(PortNameOf(devices, &device)) != wanted) continue;
    wchar_t instance[512] = {};
    SetupDiGetDeviceInstanceIdW(devices, &device, instance, 511, nullptr);
    const std::wstring hardware = Property(devices, &device, SPDRP_HARDWAREID);
    identity.description = Utf8(Property(devices, &device, SPDRP_FRIENDLYNAME));
    identity.hardwareId = Utf8(hardware);
    Identify(instance, hardware, &identity);
    if (identity.kind == PortKind::kUsb) {
      identity.manufacturer = Utf8(Property(devices, &device, SPDRP_MFG));
      identity.product = Utf8(Property(devices, &device, SPDRP_DEVICEDESC));
    }
    break;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return identity;
}

}  // namespace platform
}  // namespace ovrin
