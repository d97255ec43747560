// The C interface: each function hands over to OvrinComm or DescError.
#include "ovrin.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>

#include "connection/comm_access.h"
#include "connection/connection_state.h"
#include "connection/host_messages.h"
#include "connection/trace.h"
#include "ovrin_comm.h"
#include "ovrin_diagnostics.h"
#include "ovrin_readings.h"

static_assert(sizeof(OvrinRecord) == sizeof(MeasureRecord), "records differ");
static_assert(offsetof(OvrinRecord, auxDigit) == offsetof(MeasureRecord, auxDigit), "records differ");
static_assert(offsetof(OvrinRecord, value1) == offsetof(MeasureRecord, value1), "records differ");
static_assert(offsetof(OvrinRecord, value2) == offsetof(MeasureRecord, value2), "records differ");
static_assert(sizeof(OvrinReading) == sizeof(ovrin::Reading), "readings differ");
static_assert(offsetof(OvrinReading, sequence) == offsetof(ovrin::Reading, sequence), "readings differ");
static_assert(offsetof(OvrinReading, utcNs) == offsetof(ovrin::Reading, utcNs), "readings differ");
static_assert(offsetof(OvrinReading, monotonicNs) == offsetof(ovrin::Reading, monotonicNs), "readings differ");
static_assert(offsetof(OvrinReading, lineLength) == offsetof(ovrin::Reading, lineLength), "readings differ");
static_assert(offsetof(OvrinReading, line) == offsetof(ovrin::Reading, line), "readings differ");
static_assert(sizeof(OvrinTrace) == sizeof(ovrin::Trace), "traces differ");
static_assert(offsetof(OvrinTrace, port) == offsetof(ovrin::Trace, port), "traces differ");
static_assert(offsetof(OvrinTrace, size) == offsetof(ovrin::Trace, size), "traces differ");
static_assert(offsetof(OvrinTrace, monotonicNs) == offsetof(ovrin::Trace, monotonicNs), "traces differ");
static_assert(offsetof(OvrinTrace, systemError) == offsetof(ovrin::Trace, systemError), "traces differ");

struct OvrinConnection {
  OvrinComm comm;
};

namespace {

// DescError asks a function for the code's address.
thread_local int tCode = 0;
int* CurrentCode() { return &tCode; }

void CopyReading(const ovrin::Reading& from, OvrinReading* to) { std::memcpy(to, &from, sizeof *to); }

// A C callback, called with its own reading type.
void InvokeCallback(const ovrin::Reading& reading, void (*target)(), void* context) {
  OvrinReading copy;
  CopyReading(reading, &copy);
  reinterpret_cast<OvrinReadingCallback>(target)(&copy, context);
}

// A C trace callback, called with its own event type.
void InvokeTraceCallback(const ovrin::Trace& trace, void (*target)(), void* context) {
  const OvrinTrace copy{static_cast<int>(trace.kind),
                        static_cast<int>(trace.outcome),
                        trace.port,
                        trace.bytes,
                        trace.size,
                        trace.monotonicNs,
                        trace.systemError};
  reinterpret_cast<OvrinTraceCallback>(target)(&copy, context);
}

// A C message-box handler, called in its own convention.
int InvokeMessageBoxHandler(const char* text, unsigned style, void (*target)(), void* context) {
  return reinterpret_cast<OvrinMessageBoxHandler>(target)(text, style, context);
}

}  // namespace

OvrinConnection* OVRIN_CALL ovrin_create(void) { return new (std::nothrow) OvrinConnection; }

void OVRIN_CALL ovrin_destroy(OvrinConnection* connection) {
  if (connection == nullptr) return;
  OvrinCommAccess::Close(connection->comm, false);
  // The port is back; the connection and the callback's context stay until
  // a callback that is running has returned.
  const std::shared_ptr<ovrin::ConnectionState> state = ovrin::StateOf(connection->comm);
  if (state != nullptr) state->WaitForHandler();
  delete connection;
}

int OVRIN_CALL ovrin_open(OvrinConnection* connection, char* port, size_t portSize, OvrinWindow window) {
  std::string name;
  // A reopen does not wait for a callback of the run before either.
  if (connection != nullptr) OvrinCommAccess::Close(connection->comm, false);
  // On Windows both are the HWND; on POSIX an OvrinQueue begins with its NotifyQueue.
  const int opened = connection != nullptr ? ovrin::OpenConcurrently(connection->comm, name,
                                                                     reinterpret_cast<ovrin::WindowHandle>(window))
                                           : 0;
  if (port != nullptr && portSize > 0) {
    const std::size_t length = name.size() < portSize ? name.size() : portSize - 1;
    std::memcpy(port, name.data(), length);
    port[length] = '\0';
  }
  return opened;
}

int OVRIN_CALL ovrin_close(OvrinConnection* connection) {
  return connection != nullptr ? OvrinCommAccess::Close(connection->comm, false) : 0;
}

int OVRIN_CALL ovrin_measure(OvrinConnection* connection) {
  return connection != nullptr ? connection->comm.DistanceMeasure() : 0;
}

void OVRIN_CALL ovrin_set_listen(OvrinConnection* connection, int listen) {
  if (connection != nullptr) connection->comm.SetListen(listen);
}

void OVRIN_CALL ovrin_latest_record(const OvrinConnection* connection, OvrinRecord* record) {
  if (record == nullptr) return;
  const MeasureRecord latest = connection != nullptr ? ovrin::LatestRecord(connection->comm) : MeasureRecord{};
  std::memcpy(record, &latest, sizeof *record);
}

int OVRIN_CALL ovrin_next_reading(OvrinConnection* connection, OvrinReading* reading) {
  // Checked before anything is taken: a reading taken for nowhere is lost.
  if (connection == nullptr || reading == nullptr) return 0;
  ovrin::Reading taken;
  if (!ovrin::NextReading(connection->comm, &taken)) return 0;
  CopyReading(taken, reading);
  return 1;
}

int OVRIN_CALL ovrin_wait_reading(OvrinConnection* connection, OvrinReading* reading, int timeoutMs) {
  if (connection == nullptr || reading == nullptr) return -1;
  ovrin::Reading taken;
  switch (ovrin::WaitReading(connection->comm, &taken, timeoutMs)) {
    case ovrin::ReadingWait::kTaken:
      CopyReading(taken, reading);
      return 1;
    case ovrin::ReadingWait::kTimedOut:
      return 0;
    case ovrin::ReadingWait::kNoMore:
      break;
  }
  return -1;
}

OvrinUInt64 OVRIN_CALL ovrin_dropped_readings(const OvrinConnection* connection) {
  return connection != nullptr ? ovrin::DroppedReadings(connection->comm) : 0;
}

int OVRIN_CALL ovrin_set_reading_capacity(OvrinConnection* connection, size_t capacity) {
  return connection != nullptr && ovrin::SetReadingCapacity(connection->comm, capacity) ? 1 : 0;
}

void OVRIN_CALL ovrin_notify_link_lost(OvrinConnection* connection, int notify) {
  if (connection != nullptr) ovrin::NotifyLinkLost(connection->comm, notify != 0);
}

void OVRIN_CALL ovrin_set_reading_callback(OvrinConnection* connection, OvrinReadingCallback callback, void* context) {
  if (connection == nullptr) return;
  ovrin::SetReadingInvoker(connection->comm, InvokeCallback, reinterpret_cast<void (*)()>(callback), context);
}

void OVRIN_CALL ovrin_set_trace_callback(OvrinTraceCallback callback, void* context) {
  ovrin::SetTraceInvoker(InvokeTraceCallback, reinterpret_cast<void (*)()>(callback), context);
}

namespace {

// Copies text into a fixed field, cut to fit, always NUL-terminated.
template <std::size_t N>
void CopyField(const std::string& text, char (&field)[N]) {
  const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, length);
  field[length] = '\0';
}

}  // namespace

int OVRIN_CALL ovrin_identify_port(const char* port, OvrinPortIdentity* identity) {
  if (port == nullptr || identity == nullptr) return 0;
  const ovrin::PortIdentity known = ovrin::IdentifyPort(port);
  identity->kind = static_cast<int>(known.kind);
  CopyField(known.description, identity->description);
  CopyField(known.hardwareId, identity->hardwareId);
  CopyField(known.vid, identity->vid);
  CopyField(known.pid, identity->pid);
  CopyField(known.serialNumber, identity->serialNumber);
  CopyField(known.manufacturer, identity->manufacturer);
  CopyField(known.product, identity->product);
  CopyField(known.bluetoothAddress, identity->bluetoothAddress);
  return 1;
}

const char* OVRIN_CALL ovrin_outcome_text(int outcome) {
  return ovrin::OutcomeText(static_cast<ovrin::PortOutcome>(outcome));
}

void OVRIN_CALL ovrin_error_text(int code, char* buffer, int bufferLength) {
  tCode = code;
  DescError(CurrentCode, buffer, bufferLength);
}

void OVRIN_CALL ovrin_set_message_box_handler(OvrinMessageBoxHandler handler, void* context) {
  ovrin::SetMessageBoxInvoker(InvokeMessageBoxHandler, reinterpret_cast<void (*)()>(handler), context);
}

int OVRIN_CALL ovrin_set_remembered_port(const char* port) { return ovrin::SetRememberedPort(port) ? 1 : 0; }
