// The C interface's notification queue (POSIX): an ovrin::NotifyQueue.
#include <new>
#include <type_traits>

#include "ovrin.h"
#include "ovrin_host.h"

struct OvrinQueue {
  ovrin::NotifyQueue queue;
};
// ovrin_open hands an OvrinQueue* on as the NotifyQueue* it begins with.
static_assert(std::is_standard_layout<OvrinQueue>::value, "OvrinQueue starts with its NotifyQueue");

OvrinQueue* OVRIN_CALL ovrin_queue_create(void) {
  try {
    return new OvrinQueue;
  } catch (...) {  // no memory or no descriptor left
    return nullptr;
  }
}

void OVRIN_CALL ovrin_queue_destroy(OvrinQueue* queue) { delete queue; }

int OVRIN_CALL ovrin_queue_wait(OvrinQueue* queue, unsigned* message, int timeoutMs) {
  if (queue == nullptr) return -1;
  ovrin::Notification note{};
  if (!queue->queue.Wait(note, timeoutMs)) return 0;
  if (message != nullptr) *message = note.message;
  return 1;
}

int OVRIN_CALL ovrin_queue_fd(const OvrinQueue* queue) { return queue != nullptr ? queue->queue.Fd() : -1; }
