// What sysfs tells of a serial port, read under a root given by the caller:
// the real one ("/sys") in the library, a small tree of their own in tests.
#pragma once

#include <string>

#include "ovrin_diagnostics.h"

namespace ovrin {
namespace platform {

// `device` is the port's real path ("/dev/ttyUSB0", "/dev/pts/3").
PortIdentity IdentifyPortIn(const std::string& sysRoot, const std::string& device);

}  // namespace platform
}  // namespace ovrin
