// What a port is, from sysfs, as pyserial's list_ports reads it: the USB
// device above a ttyUSB or ttyACM, the address and channel of an rfcomm link,
// a built-in port, a pseudo-terminal.
#include "port_identity.h"

#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/platform.h"

namespace ovrin {
namespace platform {
namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The USB device is the nearest folder above the tty's that has a vendor id.
void ReadUsb(const std::string& ttyDevice, PortIdentity* identity) {
  for (std::string dir = ttyDevice; dir.size() > 1; dir = dir.substr(0, dir.find_last_of('/'))) {
    const std::string vendor = FirstLine(dir + "/idVendor");
    if (vendor.empty()) continue;
    identity->kind = PortKind::kUsb;
    identity->vid = vendor;
    identity->pid = FirstLine(dir + "/idProduct");
    identity->serialNumber = FirstLine(dir + "/serial");
    identity->manufacturer = FirstLine(dir + "/manufacturer");
    identity->product = FirstLine(dir + "/product");
    identity->description = !identity->product.empty() ? identity->product : "USB serial device";
    identity->hardwareId = "USB VID:PID=" + identity->vid + ":" + identity->pid;
    if (!identity->serialNumber.empty()) identity->hardwareId += " SER=" + identity->serialNumber;
    return;
  }
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

PortIdentity IdentifyPortIn(const std::string& sysRoot, const std::string& device) {
  PortIdentity identity;
  if (StartsWith(device, "/dev/pts/") || device == "/dev/ptmx") {
    identity.kind = PortKind::kVirtual;
    identity.description = "pseudo-terminal";
    return identity;
  }
  const std::string name = device.substr(device.find_last_of('/') + 1);
  const std::string tty = sysRoot + "/class/tty/" + name;
  if (StartsWith(name, "rfcomm")) {
    // A bound rfcomm link is one this computer opens to the device.
    identity.kind = PortKind::kBluetoothOutgoing;
    identity.bluetoothAddress = UpperCase(FirstLine(tty + "/address"));
    const std::string channel = FirstLine(tty + "/channel");
    identity.description = "Bluetooth serial link" + (channel.empty() ? "" : " (channel " + channel + ")");
    return identity;
  }
  const std::string ttyDevice = RealPath(tty + "/device");
  if (ttyDevice.empty()) return identity;
  if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) {
    ReadUsb(ttyDevice, &identity);
  } else if (StartsWith(name, "ttyS") || StartsWith(name, "ttyAMA")) {
    identity.kind = PortKind::kBuiltIn;
    identity.description = "built-in serial port";
  }
  return identity;
}

PortIdentity IdentifyPort(const std::string& name) {
  const std::string device = RealPath(name);
  return IdentifyPortIn("/sys", device.empty() ? name : device);
}

}  // namespace platform
}  // namespace ovrin
