/* A C89 host with no window and no message loop: it takes every reading of a
 * burst from the queue with ovrin_wait_reading, as a Python or C# host on
 * Windows does. The meter answers the start-up command with "?" and then
 * distances 1..N (ovrin-sim --burst N --value 1 --step 1).
 * Usage: c_readings N [PORT]   (PORT: tried first) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ovrin.h>

static OvrinConnection* gConnection;
static int gAccepted;
static int gConnected;
static volatile unsigned long gCalls; /* written on the receive thread */
static int gClosedFromCallback = -1;

/* On the receive thread: counts, and tries to close from inside. */
static void OVRIN_CALL OnReading(const OvrinReading* reading, void* context) {
  (void)context;
  if (reading->sequence != gCalls + 1) return;
  ++gCalls;
  if (gCalls == 1) gClosedFromCallback = ovrin_close(gConnection);
}

/* The search and the link, as the library tells them. */
static void OVRIN_CALL OnTrace(const OvrinTrace* trace, void* context) {
  (void)context;
  if (trace->kind == OVRIN_TRACE_CANDIDATE && trace->outcome == OVRIN_PORT_ACCEPTED) ++gAccepted;
  if (trace->kind == OVRIN_TRACE_CONNECTED) ++gConnected;
}

int main(int argc, char** argv) {
  long expected = argc > 1 ? atol(argv[1]) : 0;
  OvrinReading reading;
  char port[256];
  long value = 1;
  int failures = 0;
  int waits;

  if (argc > 2 && !ovrin_set_remembered_port(argv[2])) return 1;
  gConnection = ovrin_create();
  if (gConnection == NULL || !ovrin_set_reading_capacity(gConnection, (size_t)expected + 1)) return 1;
  ovrin_set_reading_callback(gConnection, OnReading, NULL);
  ovrin_set_trace_callback(OnTrace, NULL);
  if (ovrin_open(gConnection, port, sizeof port, NULL) != 1) {
    printf("c_readings: no meter\n");
    ovrin_destroy(gConnection);
    return 1;
  }
  if (ovrin_wait_reading(gConnection, &reading, 5000) != 1 || reading.sequence != 1 || reading.record.kind != 0 ||
      strcmp(reading.line, "?") != 0 || reading.lineLength != 1) {
    ++failures;
  }
  while (value <= expected && ovrin_wait_reading(gConnection, &reading, 5000) == 1) {
    if (reading.sequence != (OvrinUInt64)value + 1 || reading.record.value1 != value) break;
    ++value;
  }
  if (value != expected + 1) {
    printf("c_readings: reading %ld missing or out of order\n", value);
    ++failures;
  }
  if (ovrin_next_reading(gConnection, &reading) != 0 || ovrin_dropped_readings(gConnection) != 0) ++failures;
  /* ovrin_close does not wait for the last reading's callback: up to 5 s for
   * it, waiting on the queue, where nothing more may come. */
  for (waits = 0; waits < 500 && gCalls < (unsigned long)expected + 1; ++waits) {
    if (ovrin_wait_reading(gConnection, &reading, 10) != 0) ++failures;
  }
  if (ovrin_close(gConnection) != 1) ++failures;
  if (ovrin_wait_reading(gConnection, &reading, -1) != -1) ++failures;
  if (gCalls != (unsigned long)expected + 1 || gClosedFromCallback != 0) ++failures;
  if (gAccepted != 1 || gConnected != 1 || strcmp(ovrin_outcome_text(OVRIN_PORT_NO_ANSWER), "no answer") != 0) {
    ++failures;
  }
  ovrin_set_trace_callback(NULL, NULL);
  printf("c_readings: %ld distances, %lu readings in the callback, %d failed\n", value - 1, gCalls, failures);
  ovrin_destroy(gConnection);
  return failures == 0 ? 0 : 1;
}
