// Ovrin70: connection to a hand-held optical distance meter over a serial link.
#ifndef OVRIN_COMM_H
#define OVRIN_COMM_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ovrin_host.h"

// Posted to the host's window after every reply line: wParam 1, lParam 0.
#define WM_MEASURE_READY 1124
// Posted once when the receive thread ends because the link to the meter is
// gone (never on Close): wParam 0, lParam 0.
#define WM_LINK_LOST 1125

// What a reply line was, by the key it starts with.
enum ReplyKind : std::int16_t {
  ReplyNone = 0,   // "?" or a line with no known key
  ReplyError = 1,  // "@E": value1 is the device error code, see DescError
  Reply12 = 2,     // "12.."
  Reply13 = 3,     // "13..": value1 and value2
  Reply14 = 4,     // "14..": value1 and value2
  Reply15 = 5,     // "15.."
  Reply31 = 6,     // "31..": auxDigit too
  Reply40 = 7,     // "40.."
  Reply51 = 8,     // "51.."
  Reply53 = 9,     // "53.."
  Reply314 = 10,   // "314.": auxDigit too
  Reply315 = 11,   // "315.": auxDigit too
  Reply4001 = 12,  // "4001"
  Reply4002 = 13,  // "4002"
  Reply4003 = 14,  // "4003"
  Reply5000 = 15,  // "5000"
  Reply5001 = 16   // "5001"
};

// One decoded reply line. Hosts read it in place, so its layout is fixed.
struct MeasureRecord {
  ReplyKind kind;
  std::int16_t reserved1;  // always 0
  std::int16_t auxDigit;   // kinds 6, 10, 11: the digit in column 5
  std::int16_t reserved2;  // always 0
  std::int32_t value1;
  std::int32_t value2;  // kinds 3 and 4 only
};

static_assert(sizeof(MeasureRecord) == 16, "MeasureRecord is 16 bytes");
static_assert(sizeof(ReplyKind) == 2, "kind is 16 bits");
static_assert(offsetof(MeasureRecord, kind) == 0, "kind at 0");
static_assert(offsetof(MeasureRecord, reserved1) == 2, "reserved1 at 2");
static_assert(offsetof(MeasureRecord, auxDigit) == 4, "auxDigit at 4");
static_assert(offsetof(MeasureRecord, reserved2) == 6, "reserved2 at 6");
static_assert(offsetof(MeasureRecord, value1) == 8, "value1 at 8");
static_assert(offsetof(MeasureRecord, value2) == 12, "value2 at 12");

#if defined(_WIN32)
typedef HANDLE OvrinHandle;
#else
typedef void* OvrinHandle;
#endif

// One connection with one meter. Every member is called on the host's thread;
// an open connection runs one receive thread of its own.
class OVRIN_API OvrinComm {
 public:
  OvrinComm();
  // A copy never shares the port, the events or the thread: it takes
  // measurement and notifyWindow and is not open.
  OvrinComm(const OvrinComm& other);
  // Closes an open target first, then copies as the copy constructor does.
  OvrinComm& operator=(const OvrinComm& other);
  virtual ~OvrinComm();

  // Finds the meter (remembered port first), opens it and starts receiving.
  // port receives the name of the port that was opened. 1 on success, 0 if
  // not. On a connection that is open already, closes it and opens anew.
  // Called on the connection's own receive thread (from a handler), 0 at once.
  int Open(std::string& port, ovrin::WindowHandle notifyWindow);
  // 1 when the connection was open and is closed now, 0 when it was not open
  // or when called on its own receive thread (from a handler), which it
  // cannot wait for.
  int Close();
  // Writes the measure command: 1 written, 0 not written (with no port the
  // user is told "Can't Send Command"), -1 when no event could be created.
  int DistanceMeasure();
  // Nonzero: listening; 0: idle. No effect on a connection that is not open.
  void SetListen(int listen);
  // Placeholder kept for hosts: writes nothing and returns 1.
  int SendCommand(std::uint32_t a, std::uint32_t b, std::uint32_t c);

  // The latest decoded reply line; valid after the first WM_MEASURE_READY.
  MeasureRecord measurement;

 private:
  OvrinHandle FindAndOpen(std::string& port);
  int SendMsg(OvrinHandle port, std::string text);
  friend struct OvrinCommAccess;  // the receive thread and the tests

  std::atomic<std::int32_t> isOpen;
  OvrinHandle portHandle;
  ovrin::WindowHandle notifyWindow;
  OvrinHandle listenEvent;
  OvrinHandle idleEvent;
  OvrinHandle receiveThread;
};

static_assert(sizeof(std::atomic<std::int32_t>) == 4, "isOpen is a 32-bit flag");

// Copies the English text of a device error code into buffer (bufferLength
// bytes, all written, always NUL-terminated). codeSource is called once and
// returns the address of the code. Nothing happens when buffer or codeSource
// is null or bufferLength is below 1.
OVRIN_API void DescError(int* (*codeSource)(), char* buffer, int bufferLength);

#endif  // OVRIN_COMM_H
