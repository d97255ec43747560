/* A C89 host: opens the meter, measures once, prints the record. Shared by
 * the POSIX and the Windows program, which supply the notifications. */
#include "c_host.h"

#include <stdio.h>
#include <string.h>

int RunMeasurement(OvrinWindow window, WaitFunction wait) {
  OvrinConnection* connection = ovrin_create();
  OvrinRecord record;
  char port[256];
  char text[64];
  unsigned message = 0;
  int failures = 0;

  ovrin_error_text(252, text, (int)sizeof text);
  if (strcmp(text, "Temperature too high") != 0) ++failures;
  if (connection == NULL || ovrin_open(connection, port, sizeof port, window) != 1) {
    printf("c_host: no meter\n");
    ovrin_destroy(connection);
    return 1;
  }
  printf("c_host: meter on %s\n", port);
  wait(&message, 500); /* the answer to the start-up command */
  if (ovrin_measure(connection) != 1) ++failures;
  if (!wait(&message, 5000) || message != OVRIN_MEASURE_READY) ++failures;
  ovrin_latest_record(connection, &record);
  printf("c_host: kind %d value1 %d\n", record.kind, record.value1);
  if (record.kind != 6 || record.reserved1 != 0) ++failures;
  if (ovrin_close(connection) != 1 || ovrin_close(connection) != 0) ++failures;
  ovrin_destroy(connection);
  printf("c_host: %d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
