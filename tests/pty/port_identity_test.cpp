// What the POSIX layer tells of a port, from a small sysfs tree built here:
// a USB adapter, an rfcomm link, a built-in port, one listed by no device,
// and a pseudo-terminal (a real one is named so in the C interface's test).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ovrin_diagnostics.h"
#include "platform/posix/port_identity.h"
#include "pty_meter.h"

namespace ovrin {
namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

void MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

// The tree as Linux lays it out: class/tty/NAME links into devices/.
void AddTty(const std::string& root, const std::string& name, const std::string& deviceFolder) {
  MakeFolders(root + "/" + deviceFolder + "/" + name);
  MakeFolders(root + "/class/tty/" + name);
  ASSERT_EQ(symlink((root + "/" + deviceFolder).c_str(), (root + "/class/tty/" + name + "/device").c_str()), 0);
}

TEST(PortIdentity, SysfsTellsWhatEachPortIs) {
  TempDir sys;
  const std::string root = sys.Path();
  const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
  AddTty(root, "ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
  WriteFile(root + "/" + usb + "/idVendor", "0403\n");
  WriteFile(root + "/" + usb + "/idProduct", "6001\n");
  WriteFile(root + "/" + usb + "/serial", "A12345\n");
  WriteFile(root + "/" + usb + "/manufacturer", "FTDI\n");
  WriteFile(root + "/" + usb + "/product", "FT232R USB UART\n");
  MakeFolders(root + "/class/tty/rfcomm0");
  WriteFile(root + "/class/tty/rfcomm0/address", "00:11:22:aa:bb:cc\n");
  WriteFile(root + "/class/tty/rfcomm0/channel", "1\n");
  AddTty(root, "ttyS0", "devices/platform/serial8250/tty/ttyS0");

  struct Case {
    const char* device;
    PortKind kind;
    const char* description;
    const char* vid;
    const char* pid;
    const char* serial;
    const char* product;
    const char* address;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", PortKind::kUsb, "FT232R USB UART", "0403", "6001", "A12345", "FT232R USB UART", ""},
      {"/dev/rfcomm0", PortKind::kBluetoothOutgoing, "Bluetooth serial link (channel 1)", "", "", "", "",
       "00:11:22:AA:BB:CC"},
      {"/dev/ttyS0", PortKind::kBuiltIn, "built-in serial port", "", "", "", "", ""},
      {"/dev/ttyS1", PortKind::kUnknown, "", "", "", "", "", ""},  // listed by no device
      {"/dev/pts/7", PortKind::kVirtual, "pseudo-terminal", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    const PortIdentity identity = platform::IdentifyPortIn(root, c.device);
    EXPECT_EQ(identity.kind, c.kind) << c.device;
    EXPECT_EQ(identity.description, c.description) << c.device;
    EXPECT_EQ(identity.vid, c.vid) << c.device;
    EXPECT_EQ(identity.pid, c.pid) << c.device;
    EXPECT_EQ(identity.serialNumber, c.serial) << c.device;
    EXPECT_EQ(identity.product, c.product) << c.device;
    EXPECT_EQ(identity.bluetoothAddress, c.address) << c.device;
  }
  EXPECT_EQ(platform::IdentifyPortIn(root, "/dev/ttyUSB0").manufacturer, "FTDI");
  EXPECT_EQ(platform::IdentifyPortIn(root, "/dev/ttyUSB0").hardwareId, "USB VID:PID=0403:6001 SER=A12345");
}

}  // namespace
}  // namespace ovrin
