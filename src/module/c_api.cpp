// The C interface: each function hands over to OvrinComm or DescError.
#include "ovrin.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>

#include "connection/receive_thread.h"
#include "ovrin_comm.h"

static_assert(sizeof(OvrinRecord) == sizeof(MeasureRecord), "records differ");
static_assert(offsetof(OvrinRecord, auxDigit) == offsetof(MeasureRecord, auxDigit), "records differ");
static_assert(offsetof(OvrinRecord, value1) == offsetof(MeasureRecord, value1), "records differ");
static_assert(offsetof(OvrinRecord, value2) == offsetof(MeasureRecord, value2), "records differ");

struct OvrinConnection {
  OvrinComm comm;
};

namespace {

// DescError asks a function for the code's address.
thread_local int tCode = 0;
int* CurrentCode() { return &tCode; }

}  // namespace

OvrinConnection* ovrin_create(void) { return new (std::nothrow) OvrinConnection; }

void ovrin_destroy(OvrinConnection* connection) { delete connection; }

int ovrin_open(OvrinConnection* connection, char* port, size_t portSize, OvrinWindow window) {
  std::string name;
  // On Windows both are the HWND; on POSIX an OvrinQueue begins with its NotifyQueue.
  const int opened = connection->comm.Open(name, reinterpret_cast<ovrin::WindowHandle>(window));
  if (port != nullptr && portSize > 0) {
    const std::size_t length = name.size() < portSize ? name.size() : portSize - 1;
    std::memcpy(port, name.data(), length);
    port[length] = '\0';
  }
  return opened;
}

int ovrin_close(OvrinConnection* connection) { return connection->comm.Close(); }

int ovrin_measure(OvrinConnection* connection) { return connection->comm.DistanceMeasure(); }

void ovrin_set_listen(OvrinConnection* connection, int listen) { connection->comm.SetListen(listen); }

void ovrin_latest_record(const OvrinConnection* connection, OvrinRecord* record) {
  const MeasureRecord latest = ovrin::LatestRecord(connection->comm);
  std::memcpy(record, &latest, sizeof *record);
}

void ovrin_error_text(int code, char* buffer, int bufferLength) {
  tCode = code;
  DescError(CurrentCode, buffer, bufferLength);
}

void ovrin_set_message_box_handler(OvrinMessageBoxHandler handler, void* context) {
  ovrin::SetMessageBoxHandler(handler, context);
}

int ovrin_set_remembered_port(const char* port) { return ovrin::SetRememberedPort(port) ? 1 : 0; }
