/// @file
/// Every reply line of a connection once, in order, with its time: a queue of
/// readings beside the in-place record, and a handler on the receive thread.
///
/// The in-place `measurement` and one WM_MEASURE_READY per line stay as they
/// are; a host that is a moment late may find `measurement` already holding a
/// later line. The queue keeps each line: the receive thread adds a reading for
/// every line it decodes, in the same step that updates `measurement`.
#ifndef OVRIN_READINGS_H
#define OVRIN_READINGS_H

#include <cstddef>
#include <cstdint>

#include "ovrin_comm.h"

namespace ovrin {

/// One reply line as it was received. The same 176 bytes as OvrinReading of
/// the C interface.
struct Reading {
  MeasureRecord record;      ///< the line decoded, as `measurement` took it
  std::uint64_t sequence;    ///< 1 for the first line after Open, then +1 per line
  std::int64_t utcNs;        ///< time of receipt, nanoseconds since 1970-01-01 UTC
  std::int64_t monotonicNs;  ///< time of receipt on the system's monotonic clock
  std::uint32_t lineLength;  ///< bytes in `line`, without CR LF (at most 127)
  std::uint32_t reserved;    ///< 0
  char line[128];            ///< the bytes as received, then a NUL
};

static_assert(sizeof(Reading) == 176, "Reading is 176 bytes on every platform");

/// Readings a connection keeps until they are taken, unless set otherwise.
constexpr std::size_t kDefaultReadingCapacity = 4096;
/// The most readings a connection can be set to keep.
constexpr std::size_t kMaxReadingCapacity = std::size_t{1} << 20;

/// Takes the oldest reading not yet taken. False when there is none.
OVRIN_API bool NextReading(const OvrinComm& connection, Reading* reading);

/// How a WaitReading ended.
enum class ReadingWait {
  kTaken,     ///< *reading holds the oldest reading
  kTimedOut,  ///< none came within the time-out
  kNoMore     ///< none is queued and none will come for the run the wait began in: the link is
              ///< lost, or the connection is not open or was closed (and maybe opened again)
};
/// Takes the oldest reading, waiting up to timeoutMs for one (-1: no limit; 0
/// or any other negative value: no wait). Needs no window and no message loop.
/// A Close on another thread ends the wait. Called on the connection's own
/// receive thread (in a handler) it never waits, since no reading can come
/// meanwhile: it takes what is queued or answers kTimedOut at once.
OVRIN_API ReadingWait WaitReading(const OvrinComm& connection, Reading* reading, int timeoutMs);

/// Readings dropped since Open because the queue was full: the oldest go first.
OVRIN_API std::uint64_t DroppedReadings(const OvrinComm& connection);

/// How many readings the queue holds (1 to kMaxReadingCapacity). Takes effect
/// at the next Open; false, and nothing changes, while the connection is open
/// or for a size out of range.
OVRIN_API bool SetReadingCapacity(OvrinComm& connection, std::size_t capacity);

/// A copy of `measurement` that is never half of one line and half of the next.
OVRIN_API MeasureRecord LatestRecord(const OvrinComm& connection);

/// Posts WM_LINK_LOST (wParam 0, lParam 0) to the connection's window when the
/// receive thread ends because the link is gone. Off unless asked for: a
/// classic host may use WM_USER + 101 for a message of its own. Stays as set
/// across Close and Open.
OVRIN_API void NotifyLinkLost(OvrinComm& connection, bool notify);

/// Called on the receive thread for every reading, in order, just after it was
/// queued and before WM_MEASURE_READY is posted; the reading stays queued as
/// well. For hosts with threads of their own: no hand-over to another thread.
/// The handler holds up the receive thread while it runs, so it must be short
/// and must not wait for the meter. It may call DistanceMeasure, SetListen and
/// the reading functions (WaitReading there does not wait). Close and Open
/// called from it return 0 at once without doing anything, and it must not
/// destroy the connection. Null removes the handler; a call already under way
/// may still finish after that.
typedef void (*ReadingHandler)(const Reading& reading, void* context);
/// Sets the connection's reading handler (see ReadingHandler).
OVRIN_API void SetReadingHandler(OvrinComm& connection, ReadingHandler handler, void* context);

}  // namespace ovrin

#endif  // OVRIN_READINGS_H
