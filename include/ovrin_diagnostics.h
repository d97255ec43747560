/// @file
/// Why the meter was not found, and what went over the line: a trace of what
/// the library does, the ports the search would try, and whether a port can be
/// opened. For telling the user what is wrong, and for capturing a session.
#ifndef OVRIN_DIAGNOSTICS_H
#define OVRIN_DIAGNOSTICS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ovrin_types.h"

namespace ovrin {

/// What became of a port the search looked at, or that CheckPort opened.
enum class PortOutcome : int {
  kOpened = 0,        ///< opened and set up; the probe comes next
  kBusy = 1,          ///< another program (or connection) holds it
  kNoPermission = 2,  ///< the user may not open it
  kNoSuchDevice = 3,  ///< nothing is there (anymore)
  kNotSerial = 4,     ///< it opened, but it is no serial port (its line settings cannot be read)
  kNoAnswer = 5,      ///< the probe drew no answer in time
  kWrongAnswer = 6,   ///< it answered, but not as the meter does
  kAccepted = 7,      ///< the meter answered: the search ends here
  kCannotOpen = 8,    ///< it could not be opened for another reason (see systemError)
  kNotProbed = 9,     ///< passed over: an incoming Bluetooth port, which never reaches a meter
  kNotNeeded = 10,    ///< the meter answered on another port first (concurrent search)
  kGivenUp = 11       ///< still opening when the meter answered elsewhere (concurrent search)
};

/// What a trace event is about.
enum class TraceKind : int {
  kCandidate = 0,  ///< the search got this far with `port`: see `outcome`
  kConnected = 1,  ///< Open succeeded on `port`
  kLinkLost = 2,   ///< the receive thread ended because the meter is gone
  kClosed = 3,     ///< Close released `port`
  kSent = 4,       ///< `bytes` were written to `port`
  kReceived = 5    ///< `bytes` were read from `port`
};

/// One event. The pointers are valid only during the call of the handler.
/// The same layout as OvrinTrace of the C interface.
struct Trace {
  TraceKind kind;            ///< what the event is about
  PortOutcome outcome;       ///< kCandidate
  const char* port;          ///< the port's name, NUL-terminated
  const char* bytes;         ///< kSent, kReceived: the bytes (not NUL-terminated); kCandidate: what became of
                             ///< the port in words where there is more to tell than the outcome, else null
  std::size_t size;          ///< of `bytes`
  std::int64_t monotonicNs;  ///< when, on the system's monotonic clock
  int systemError;           ///< kCandidate: the system's error code where it tells more (errno, GetLastError), else 0
};

/// Called for every event, on the thread where it happens (the host's during
/// Open and the commands, a receive thread for what it reads and for a lost
/// link). Process-wide; null removes it. The handler must be short, and may
/// not call back into the connection the event is about.
typedef void (*TraceHandler)(const Trace& trace, void* context);
/// Sets the process's trace handler (see TraceHandler).
OVRIN_API void SetTraceHandler(TraceHandler handler, void* context);

/// A port the search would try, in its order.
struct PortCandidate {
  std::string name;        ///< as the search opens it
  std::string listedAs;    ///< the system's entry: the SERIALCOMM value name on Windows; where the name came
                           /// from on POSIX ("OVRIN_SERIAL_PORTS", "/sys/class/tty", "/dev/rfcomm*")
  std::string listedData;  ///< the entry's data as listed ("com3", "/dev/ttyUSB0")
  bool remembered;         ///< the remembered port, tried first
  bool fits;               ///< false: the entry is too long for the search, which passes it over
};

/// The ports the search would try now, in its order: the remembered port first,
/// then every listed entry that names a port (an entry equal to the remembered
/// name is tried once only).
OVRIN_API std::vector<PortCandidate> SearchOrder();

/// Opens `name` as the search does and releases it at once: kOpened, or why it
/// cannot be opened now (busy, no permission, no such device, kCannotOpen).
/// *systemError (may be null) receives the system's error code, else 0.
OVRIN_API PortOutcome CheckPort(const std::string& name, int* systemError);

/// A short English text for an outcome ("no answer", "busy", ...).
OVRIN_API const char* OutcomeText(PortOutcome outcome);

/// What kind of port a name is, as far as the system tells.
enum class PortKind : int {
  kUnknown = 0,            ///< the system does not tell
  kBluetoothOutgoing = 1,  ///< a Bluetooth serial link this computer opens: the one that reaches a meter
  kBluetoothIncoming = 2,  ///< a Bluetooth serial service others connect to: never the meter
  kUsb = 3,                ///< a USB serial adapter or device
  kBuiltIn = 4,            ///< a port of the computer itself
  kVirtual = 5             ///< a pseudo-terminal or another port with no device behind it
};

/// What is known of a port. Every field may be unknown: empty, or kUnknown.
struct PortIdentity {
  PortKind kind = PortKind::kUnknown;  ///< what kind of port it is
  std::string description;             ///< the system's friendly name
  std::string hardwareId;              ///< the system's hardware id
  std::string vid;                     ///< USB vendor id, four hex digits ("0403")
  std::string pid;                     ///< USB product id, four hex digits
  std::string serialNumber;            ///< USB serial number
  std::string manufacturer;            ///< USB manufacturer
  std::string product;                 ///< USB product name
  std::string bluetoothAddress;        ///< the Bluetooth device's address, "00:11:22:33:44:55"
};

/// What the system knows of the port `name` (as SearchOrder lists it). The
/// search and the probe do not depend on it; it is for telling the user
/// which port is which.
OVRIN_API PortIdentity IdentifyPort(const std::string& name);

/// A short English text for a kind ("USB", "Bluetooth (incoming: cannot reach a meter)", ...).
OVRIN_API const char* PortKindText(PortKind kind);

}  // namespace ovrin

#endif  // OVRIN_DIAGNOSTICS_H
