/* A C89 host built against the installed package alone: it measures once
 * against the meter on the first port the search finds. */
#include <ovrin.h>
#include <stdio.h>

int main(void) {
  OvrinConnection* connection = ovrin_create();
  OvrinReading reading;
  char port[64];
  int distance = -1;
  if (connection == NULL || ovrin_open(connection, port, sizeof port, 0) != 1) {
    printf("c consumer FAILED: no meter\n");
    return 1;
  }
  if (ovrin_measure(connection) == 1) {
    while (ovrin_wait_reading(connection, &reading, 5000) == 1) {
      if (reading.record.kind == 6) {
        distance = reading.record.value1;
        break;
      }
    }
  }
  ovrin_destroy(connection);
  printf(distance >= 0 ? "c consumer ok: distance %d\n" : "c consumer FAILED: no distance\n", distance);
  return distance >= 0 ? 0 : 1;
}
