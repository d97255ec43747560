/* A host that binds to Ovrin70.dll at run time, as C#, Delphi and Python
 * hosts do: LoadLibrary, then GetProcAddress by each function's plain name,
 * called in the interface's convention (__stdcall on x86).
 * Opens the meter, measures once, takes the reply as a reading. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <ovrin.h>

typedef OvrinConnection*(OVRIN_CALL* CreateFunction)(void);
typedef void(OVRIN_CALL* DestroyFunction)(OvrinConnection*);
typedef int(OVRIN_CALL* OpenFunction)(OvrinConnection*, char*, size_t, OvrinWindow);
typedef int(OVRIN_CALL* ConnectionFunction)(OvrinConnection*);
typedef int(OVRIN_CALL* WaitFunction)(OvrinConnection*, OvrinReading*, int);
typedef void(OVRIN_CALL* ErrorTextFunction)(int, char*, int);

static HMODULE gLibrary;
static int gMissing;

typedef void (*AnyFunction)(void);

/* The function called name, or NULL (counted) when the DLL lacks it. As
 * AnyFunction, which every function pointer type converts to and back. */
static AnyFunction Bind(const char* name) {
  AnyFunction function = (AnyFunction)GetProcAddress(gLibrary, name);
  if (function == NULL) {
    printf("dynamic_host: %s not found\n", name);
    ++gMissing;
  }
  return function;
}

int main(void) {
  CreateFunction create;
  DestroyFunction destroy;
  OpenFunction open;
  ConnectionFunction close, measure;
  WaitFunction wait;
  ErrorTextFunction errorText;
  OvrinConnection* connection;
  OvrinReading reading;
  char port[256];
  char text[64];
  int failures = 0;

  gLibrary = LoadLibraryA("Ovrin70.dll");
  if (gLibrary == NULL) {
    printf("dynamic_host: Ovrin70.dll not loaded\n");
    return 1;
  }
  create = (CreateFunction)Bind("ovrin_create");
  destroy = (DestroyFunction)Bind("ovrin_destroy");
  open = (OpenFunction)Bind("ovrin_open");
  close = (ConnectionFunction)Bind("ovrin_close");
  measure = (ConnectionFunction)Bind("ovrin_measure");
  wait = (WaitFunction)Bind("ovrin_wait_reading");
  errorText = (ErrorTextFunction)Bind("ovrin_error_text");
  if (gMissing > 0) return 1;

  errorText(252, text, (int)sizeof text);
  if (strcmp(text, "Temperature too high") != 0) ++failures;
  connection = create();
  if (connection == NULL || open(connection, port, sizeof port, NULL) != 1) {
    printf("dynamic_host: no meter\n");
    return 1;
  }
  wait(connection, &reading, 500); /* the answer to the start-up command */
  if (measure(connection) != 1) ++failures;
  if (wait(connection, &reading, 5000) != 1 || reading.record.kind != 6) ++failures;
  printf("dynamic_host: %s, kind %d value1 %d\n", port, reading.record.kind, reading.record.value1);
  if (close(connection) != 1) ++failures;
  destroy(connection);
  FreeLibrary(gLibrary);
  printf("dynamic_host: %d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
