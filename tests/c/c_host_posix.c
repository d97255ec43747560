#include "c_host.h"

static OvrinQueue* gQueue;

static int WaitOnQueue(unsigned* message, int timeoutMs) { return ovrin_queue_wait(gQueue, message, timeoutMs); }

int main(void) {
  int result;
  gQueue = ovrin_queue_create();
  result = RunMeasurement(gQueue, WaitOnQueue);
  ovrin_queue_destroy(gQueue);
  return result;
}
