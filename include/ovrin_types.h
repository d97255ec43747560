/// @file
/// The plain types of Ovrin70: the decoded record, the notifications, the
/// handle type of the connection's fields, and the error texts. No class, no
/// system header: the library's own layers build on these alone.
#ifndef OVRIN_TYPES_H
#define OVRIN_TYPES_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(OVRIN_BUILDING)
#define OVRIN_API __declspec(dllexport)
#elif defined(OVRIN_STATIC)  // linked with the library's objects, not the DLL
#define OVRIN_API
#else
#define OVRIN_API __declspec(dllimport)
#endif
#else
#define OVRIN_API __attribute__((visibility("default")))
#endif

/// Posted to the host's window after every reply line: wParam 1, lParam 0.
#define WM_MEASURE_READY 1124
/// Posted once when the receive thread ends because the link to the meter is
/// gone (never on Close), to hosts that asked for it with ovrin::NotifyLinkLost:
/// wParam 0, lParam 0.
#define WM_LINK_LOST 1125

/// What a reply line was, by the key it starts with.
enum ReplyKind : std::int16_t {
  ReplyNone = 0,   ///< "?" or a line with no known key
  ReplyError = 1,  ///< "@E": value1 is the device error code, see DescError
  Reply12 = 2,     ///< "12.."
  Reply13 = 3,     ///< "13..": value1 and value2
  Reply14 = 4,     ///< "14..": value1 and value2
  Reply15 = 5,     ///< "15.."
  Reply31 = 6,     ///< "31..": auxDigit too
  Reply40 = 7,     ///< "40.."
  Reply51 = 8,     ///< "51.."
  Reply53 = 9,     ///< "53.."
  Reply314 = 10,   ///< "314.": auxDigit too
  Reply315 = 11,   ///< "315.": auxDigit too
  Reply4001 = 12,  ///< "4001"
  Reply4002 = 13,  ///< "4002"
  Reply4003 = 14,  ///< "4003"
  Reply5000 = 15,  ///< "5000"
  Reply5001 = 16   ///< "5001"
};

/// One decoded reply line. Hosts read it in place, so its layout is fixed.
struct MeasureRecord {
  ReplyKind kind;          ///< what the line was
  std::int16_t reserved1;  ///< always 0
  std::int16_t auxDigit;   ///< kinds 6, 10, 11: the digit in column 5
  std::int16_t reserved2;  ///< always 0
  std::int32_t value1;     ///< the value the line carries (the error code for kind 1)
  std::int32_t value2;     ///< kinds 3 and 4 only
};

static_assert(sizeof(MeasureRecord) == 16, "MeasureRecord is 16 bytes");
static_assert(sizeof(ReplyKind) == 2, "kind is 16 bits");
static_assert(offsetof(MeasureRecord, kind) == 0, "kind at 0");
static_assert(offsetof(MeasureRecord, reserved1) == 2, "reserved1 at 2");
static_assert(offsetof(MeasureRecord, auxDigit) == 4, "auxDigit at 4");
static_assert(offsetof(MeasureRecord, reserved2) == 6, "reserved2 at 6");
static_assert(offsetof(MeasureRecord, value1) == 8, "value1 at 8");
static_assert(offsetof(MeasureRecord, value2) == 12, "value2 at 12");

/// An operating-system handle as the connection's fields hold it: a HANDLE on
/// Windows (which is a void*), an opaque pointer elsewhere; (void*)-1 is "no port".
typedef void* OvrinHandle;

/// Copies the English text of a device error code into buffer (bufferLength
/// bytes, all written, always NUL-terminated). codeSource is called once and
/// returns the address of the code. Nothing happens when buffer or codeSource
/// is null or bufferLength is below 1.
OVRIN_API void DescError(int* (*codeSource)(), char* buffer, int bufferLength);

#endif  // OVRIN_TYPES_H
