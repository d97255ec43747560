// What a port is, for telling the user which port is the meter.
#include "ovrin_diagnostics.h"
#include "platform/platform.h"

namespace ovrin {

PortIdentity IdentifyPort(const std::string& name) { return platform::IdentifyPort(name); }

const char* PortKindText(PortKind kind) {
  switch (kind) {
    case PortKind::kBluetoothOutgoing:
      return "Bluetooth (outgoing)";
    case PortKind::kBluetoothIncoming:
      return "Bluetooth (incoming: cannot reach a meter)";
    case PortKind::kUsb:
      return "USB";
    case PortKind::kBuiltIn:
      return "built-in";
    case PortKind::kVirtual:
      return "virtual";
    case PortKind::kUnknown:
      break;
  }
  return "unknown";
}

}  // namespace ovrin
