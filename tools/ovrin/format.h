// How the ovrin tool writes what it learns, with no idea of where it goes:
// readings, error codes, times and the state of the link, as text, CSV and
// JSON.
#pragma once

#include <cstdint>
#include <string>

#include "ovrin_diagnostics.h"
#include "ovrin_readings.h"

namespace ovrin_tool {

enum class Format { kText, kJson, kCsv };

// A reading with its number in the tool's run: from 1, across reconnects.
struct NumberedReading {
  std::uint64_t seq;
  ovrin::Reading reading;
};

// How the link to the meter stands, as monitor, serve and type tell it.
enum class LinkState {
  kSearching,     // for a meter, the first time
  kConnected,     // to the meter on a port
  kLost,          // the link to it is gone
  kReconnecting,  // searching again after a lost link
  kTypingFailed,  // connected, but type could not type the last reading
};

// A change of the link: its state, the port connected to or lost (else
// empty), and, when connected, what that port is (else empty).
struct LinkChange {
  LinkState state;
  std::string port;
  std::string device;
};

// The text DescError gives for a device error code.
std::string ErrorText(int code);
// Now, in nanoseconds since 1970 UTC.
std::int64_t WallClockNs();
// A time in nanoseconds since 1970 as ISO 8601 UTC with milliseconds:
// "2026-12-08T20:27:04.123Z".
std::string IsoTime(std::int64_t utcNs);
// Bytes as the inside of a JSON string: printable ASCII as it is, the rest
// escaped.
std::string JsonEscape(const char* bytes, std::size_t count);
// A JSON string of UTF-8 text (a name the system gives): in quotes, with
// quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text);
// Text from the system (a USB product name, a port name) made safe to show
// on a terminal: control characters (C0, DEL, C1) and bytes that are not
// UTF-8 as \xNN, other UTF-8 as it is.
std::string Printable(const std::string& text);
// The JSON object of a device error code alone (ovrin error --json).
std::string FormatErrorCode(int code);

// The first line of a CSV file of readings.
extern const char kCsvHeader[];
// One reading in a format, without the line end.
std::string FormatReading(const NumberedReading& numbered, Format format);

// "searching", "connected", "lost", "reconnecting", "typing-failed".
const char* LinkStateName(LinkState state);
// The one JSON object of a change of the link, in monitor's stream and on
// the page: {"event":"searching","state":"reconnecting","time":"...","device":"...","port":"COM3"}.
// "event" is what happened (a search after a lost link is a search), "state"
// how the link stands; "device" and "port" only when known.
std::string LinkStateJson(const LinkChange& change, std::int64_t utcNs);
// As the user reads it: "connected COM7 — Standard Serial over Bluetooth link (00:11:22:33:44:55)",
// with "; typing failed" after it when that is the state; Printable.
std::string LinkText(const LinkChange& change);

// What a port is, in a few words ("" when nothing is known): the system's
// name for it, with the Bluetooth address, or what kind of port it is.
std::string PortLabel(const ovrin::PortIdentity& identity);
// The identity's known fields as JSON members, each with a comma before it:
// kind, description, hardwareId, vid, pid, serialNumber, manufacturer,
// product, bluetoothAddress.
std::string PortIdentityJson(const ovrin::PortIdentity& identity);

}  // namespace ovrin_tool
