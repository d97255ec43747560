/* A Win32 window whose EDIT control has the keyboard focus, for ovrin.exe
 * type to type into: whatever the control holds is written to the file
 * given (argv[1]) as it changes. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static HWND gEdit;
static const char* gOut;
static char gSaved[4096];

static void CALLBACK Save(HWND window, UINT message, UINT_PTR timer, DWORD time) {
  char text[4096];
  FILE* file;
  (void)window;
  (void)message;
  (void)timer;
  (void)time;
  GetWindowTextA(gEdit, text, (int)sizeof text);
  if (strcmp(text, gSaved) == 0) return;
  file = fopen(gOut, "wb");
  if (file == NULL) return;
  fputs(text, file);
  fclose(file);
  strcpy(gSaved, text);
}

int main(int argc, char** argv) {
  HWND window;
  FILE* file;
  MSG message;
  if (argc < 2) return 2;
  gOut = argv[1];
  window = CreateWindowExA(0, "STATIC", "type target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
  gEdit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 400, 300, window,
                          NULL, GetModuleHandleA(NULL), NULL);
  SetForegroundWindow(window);
  SetFocus(gEdit);
  file = fopen(gOut, "wb"); /* ready */
  if (file != NULL) fclose(file);
  SetTimer(NULL, 0, 50, Save);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
