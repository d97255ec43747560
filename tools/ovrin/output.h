// How the ovrin tool prints readings.
#pragma once

#include <cstdint>
#include <string>

#include "ovrin_readings.h"

namespace ovrin_tool {

// The text DescError gives for a device error code.
std::string ErrorText(int code);
// A time in nanoseconds since 1970 as ISO 8601 UTC with milliseconds:
// "2026-12-08T20:27:04.123Z".
std::string IsoTime(std::int64_t utcNs);
// Bytes as the inside of a JSON string: printable ASCII as it is, the rest
// escaped.
std::string JsonEscape(const char* bytes, std::size_t count);
// One reading as a line of text, or as a JSON object; seq counts the
// readings of the run.
std::string FormatReading(const ovrin::Reading& reading, std::uint64_t seq, bool json);
// The JSON object of a device error code alone (ovrin error --json).
std::string FormatErrorCode(int code);

}  // namespace ovrin_tool
