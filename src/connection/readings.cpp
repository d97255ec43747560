// The readings functions of the interface, each on the connection's state.
#include "connection_state.h"

namespace ovrin {
namespace {

void InvokeHandler(const Reading& reading, void (*target)(), void* context) {
  reinterpret_cast<ReadingHandler>(target)(reading, context);
}

}  // namespace

void SetReadingInvoker(OvrinComm& connection, ReadingInvoker invoke, void (*target)(), void* context) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection, target != nullptr);
  if (state != nullptr) state->SetHandler(invoke, target, context);
}

bool NextReading(const OvrinComm& connection, Reading* reading) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection);
  return state != nullptr && reading != nullptr && state->Take(reading);
}

ReadingWait WaitReading(const OvrinComm& connection, Reading* reading, int timeoutMs) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection);
  if (state == nullptr || reading == nullptr) return ReadingWait::kNoMore;
  // On the connection's own receive thread (in a handler) no reading can
  // come while it waits: it takes what is queued or answers at once.
  return state->WaitAndTake(reading, state->OnReceiveThread() ? 0 : timeoutMs);
}

std::uint64_t DroppedReadings(const OvrinComm& connection) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection);
  return state != nullptr ? state->Dropped() : 0;
}

bool SetReadingCapacity(OvrinComm& connection, std::size_t capacity) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection, true);
  return state != nullptr && state->SetCapacity(capacity);
}

MeasureRecord LatestRecord(const OvrinComm& connection) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection);
  // Without a state the connection was never opened: nothing writes the record.
  return state != nullptr ? state->Latest() : connection.measurement;
}

void NotifyLinkLost(OvrinComm& connection, bool notify) {
  const std::shared_ptr<ConnectionState> state = StateOf(connection, notify);
  if (state != nullptr) state->SetNotifyLinkLost(notify);
}

void SetReadingHandler(OvrinComm& connection, ReadingHandler handler, void* context) {
  SetReadingInvoker(connection, InvokeHandler, reinterpret_cast<void (*)()>(handler), context);
}

}  // namespace ovrin
