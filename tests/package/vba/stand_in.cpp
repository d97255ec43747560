// A stand-in for VBA: calls Ovrin70.dll as the Declare lines of
// bindings/vba/Ovrin70.bas say, through pointer types written from them by
// declares.py (vba_declares.h): LoadLibrary, then GetProcAddress by each
// declared name, and the steps of its macro MeasureIntoActiveCell. It checks
// the declarations (names, argument types and order, the convention, the
// Types' layout), not VBA itself. The meter is on COM12.
#include "vba_declares.h"

extern "C" {
__declspec(dllimport) void* VBA_CALL LoadLibraryA(const char* name);
__declspec(dllimport) void* VBA_CALL GetProcAddress(void* module, const char* name);
__declspec(dllimport) void VBA_CALL ExitProcess(unsigned code);
__declspec(dllimport) void VBA_CALL Sleep(unsigned long milliseconds);
int printf(const char* format, ...);
}

static_assert(sizeof(OvrinRecord) == 16 && sizeof(OvrinReading) == 176, "the Types as the library lays them out");

namespace {

int gFailures = 0;
void Check(bool passed, const char* what) {
  printf("  %s: %s\n", what, passed ? "ok" : "FAILED");
  if (!passed) ++gFailures;
}
bool Same(const char* text, const char* expected) {
  int i = 0;
  while (text[i] != 0 && text[i] == expected[i]) ++i;
  return text[i] == expected[i];
}

// Whether VBA shows `number` for what a declared function returned (the
// overload of the type declared for this word size is used).
[[maybe_unused]] bool Shows(int32_t value, int64_t number) { return value == number; }
[[maybe_unused]] bool Shows(int64_t value, int64_t number) { return value == number; }
[[maybe_unused]] bool Shows(VbaCurrency value, int64_t number) { return value.scaled == number * 10000; }

#define DECLARED(name) name##_t name;
struct Declared {
  OVRIN_VBA_DECLARES(DECLARED)
};

}  // namespace

extern "C" int start() {
  void* library = LoadLibraryA("Ovrin70.dll");
  Check(library != nullptr, "LoadLibrary(\"Ovrin70.dll\")");
  if (library == nullptr) ExitProcess(1);
  Declared call{};
  bool found = true;
#define BIND(name) found = (call.name = reinterpret_cast<name##_t>(GetProcAddress(library, #name))) != nullptr && found;
  OVRIN_VBA_DECLARES(BIND)
  Check(found, "every declared function by its plain name");
  if (!found) ExitProcess(1);

  // MeasureIntoActiveCell, step by step, with room for one reading: the
  // start-up answer is dropped when the distance comes.
  const auto connection = call.ovrin_create();
  using SetCapacity = int(VBA_CALL*)(decltype(connection), __SIZE_TYPE__);
  Check(reinterpret_cast<SetCapacity>(GetProcAddress(library, "ovrin_set_reading_capacity"))(connection, 1) == 1,
        "room for one reading");
  char port[257] = {};
  Check(call.ovrin_open(connection, port, 256, 0) == 1 && Same(port, "\\\\.\\COM12"), "ovrin_open, the port filled in");
  Check(call.ovrin_measure(connection) == 1, "ovrin_measure");
  OvrinRecord record{};
  for (int waited = 0; record.kind != 6 && waited < 5000; waited += 10) {
    Sleep(10);
    call.ovrin_latest_record(connection, &record);
  }
  Check(record.value1 == 12345, "ovrin_latest_record");
  Check(Shows(call.ovrin_dropped_readings(connection), 1), "ovrin_dropped_readings: VBA shows the count");
  OvrinReading reading{};
  int distance = -1;
  while (distance < 0 && call.ovrin_wait_reading(connection, &reading, 5000) == 1) {
    if (reading.record.kind == 6) distance = reading.record.value1;
  }
  Check(distance == 12345 && reading.lineLength == 15 && Same(reinterpret_cast<char*>(reading.line), "31..00+00012345"),
        "ovrin_wait_reading: the distance, its line");
  Check(call.ovrin_next_reading(connection, &reading) == 0, "ovrin_next_reading");
  char text[64] = {};
  call.ovrin_error_text(252, text, 64);
  Check(Same(text, "Temperature too high"), "ovrin_error_text");
  Check(call.ovrin_close(connection) == 1, "ovrin_close");
  call.ovrin_destroy(connection);
  char remembered[] = "COM12";
  Check(call.ovrin_set_remembered_port(remembered) == 1, "ovrin_set_remembered_port");
  printf("vba stand-in: %d failed\n", gFailures);
  ExitProcess(static_cast<unsigned>(gFailures));
  return gFailures;
}
