/* A host as Visual Studio builds one: compiled for the MSVC ABI with no C
 * runtime, linked by an MSVC-style linker against the package's Ovrin70.lib
 * alone. It measures once against the meter on the remembered port (argv is
 * not read without a runtime: the port is COM5) and tells how it went by its
 * exit status. */
#include <ovrin.h>

enum { kMeasured = 0, kNoMeter = 2, kNotSent = 3, kNoDistance = 4, kWrongDistance = 5 };

/* No message boxes: "keep searching?" is answered no. */
static int OVRIN_CALL Answer(const char* text, unsigned style, void* context) {
  (void)text;
  (void)style;
  (void)context;
  return OVRIN_BUTTON_NO;
}

int start(void) {
  OvrinConnection* connection = ovrin_create();
  OvrinReading reading;
  char port[64];
  int result = kNoDistance;
  ovrin_set_message_box_handler(Answer, 0);
  ovrin_set_remembered_port("COM5");
  if (ovrin_open(connection, port, sizeof port, 0) != 1) return kNoMeter;
  if (ovrin_measure(connection) != 1) {
    result = kNotSent;
  } else {
    while (ovrin_wait_reading(connection, &reading, 5000) == 1) {
      if (reading.record.kind == 6) {
        result = reading.record.value1 == 12345 ? kMeasured : kWrongDistance;
        break;
      }
    }
  }
  ovrin_destroy(connection);
  return result;
}
