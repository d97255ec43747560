/// @file
/// Ovrin70: connection to a hand-held optical distance meter over a serial link.
/// The chief header: the connection class. Its plain types and DescError are in
/// ovrin_types.h, the host services in ovrin_host.h, the readings in
/// ovrin_readings.h and the C interface in ovrin.h.
#ifndef OVRIN_COMM_H
#define OVRIN_COMM_H

#include <atomic>
#include <cstdint>
#include <string>

#include "ovrin_host.h"
#include "ovrin_types.h"

/// One connection with one meter. An open connection runs one receive thread
/// of its own.
///
/// Threads:
/// - Open, Close, copying, assignment and destruction: one thread at a time,
///   and not while another call on the same connection runs (the reading
///   functions excepted). From the connection's own receive thread (a reading
///   handler) Open and Close return 0 at once.
/// - DistanceMeasure, SetListen and SendCommand: any thread, the receive
///   thread too, also at the same time as each other and as the reading
///   functions; not while the same connection is being opened, closed or
///   destroyed. A host that measures from a second thread keeps the
///   connection open meanwhile.
/// - The reading functions of ovrin_readings.h and DescError: any thread, at
///   any time while the object exists. Close on another thread ends a
///   WaitReading; on the receive thread WaitReading never waits.
///
/// An open object that the host moves byte for byte and frees without its
/// destructor (as MFC's CArray does when it grows) is found again through the
/// handles its copy carries: the first call on the copy (Close, its
/// destructor, DistanceMeasure, a reading function) takes the connection
/// over, and from then on the record goes to the copy. Until then the receive
/// thread still writes each line's record into the old place, which the host
/// may have given to something else: move an open object only when no line
/// can arrive, or close it first.
class OVRIN_API OvrinComm {
 public:
  OvrinComm();
  /// A copy never shares the port, the events or the thread: it takes
  /// measurement and notifyWindow and is not open.
  OvrinComm(const OvrinComm& other);
  /// Closes an open target first, then copies as the copy constructor does.
  OvrinComm& operator=(const OvrinComm& other);
  virtual ~OvrinComm();

  /// Finds the meter (remembered port first), opens it and starts receiving.
  /// port receives the name of the port that was opened. 1 on success, 0 if
  /// not. On a connection that is open already, closes it and opens anew.
  /// Called on the connection's own receive thread (from a handler), 0 at once.
  int Open(std::string& port, ovrin::WindowHandle notifyWindow);
  /// 1 when the connection was open and is closed now, 0 when it was not open
  /// or when called on its own receive thread (from a handler), which it
  /// cannot wait for.
  int Close();
  /// Writes the measure command: 1 written, 0 not written (with no port the
  /// user is told "Can't Send Command"), -1 when no event could be created.
  int DistanceMeasure();
  /// Nonzero: listening; 0: idle. No effect on a connection that is not open.
  void SetListen(int listen);
  /// Placeholder kept for hosts: writes nothing and returns 1.
  int SendCommand(std::uint32_t a, std::uint32_t b, std::uint32_t c);

  /// The latest decoded reply line; valid after the first WM_MEASURE_READY.
  MeasureRecord measurement;

 private:
  OvrinHandle FindAndOpen(std::string& port);
  int SendMsg(OvrinHandle port, std::string text);
  friend struct OvrinCommAccess;  ///< the receive thread and the tests

  std::atomic<std::int32_t> isOpen;
  OvrinHandle portHandle;
  ovrin::WindowHandle notifyWindow;
  OvrinHandle listenEvent;
  OvrinHandle idleEvent;
  OvrinHandle receiveThread;
};

static_assert(sizeof(std::atomic<std::int32_t>) == 4, "isOpen is a 32-bit flag");

namespace ovrin {

/// Opens as OvrinComm::Open does, but searches every port at once: the meter
/// is found in the time of its answer however many ports the system lists.
/// The remembered port wins when it answers, else the first port that does;
/// no question is asked and no message box shown; incoming Bluetooth ports
/// are passed over, and a port whose open blocks is given up once the meter
/// has answered elsewhere. The C interface and the tools open this way.
OVRIN_API int OpenConcurrently(OvrinComm& connection, std::string& port, WindowHandle notifyWindow);

}  // namespace ovrin

#endif  // OVRIN_COMM_H
