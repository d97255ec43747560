/* A Win32 window whose EDIT control has the keyboard focus, for ovrin.exe
 * type to type into: whatever the control holds is written, as UTF-8, to the
 * file given (argv[1]) as it changes. A Unicode window, as the programs
 * people type readings into are. A Tab or Enter that comes with Shift held
 * (which a spreadsheet takes as "back" or "up") is written as <S-Tab> or
 * <S-Enter> instead. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static HWND gEdit;
static const char* gOut;
static char gSaved[4096];

static void CALLBACK Save(HWND window, UINT message, UINT_PTR timer, DWORD time) {
  WCHAR wide[2048];
  char text[4096];
  FILE* file;
  (void)window;
  (void)message;
  (void)timer;
  (void)time;
  /* The field takes the focus back whenever its window is active again, as
   * a form's field does. */
  if (GetForegroundWindow() == GetParent(gEdit) && GetFocus() != gEdit) SetFocus(gEdit);
  GetWindowTextW(gEdit, wide, (int)(sizeof wide / sizeof wide[0]));
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, (int)sizeof text, NULL, NULL) == 0) return;
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
  window = CreateWindowExW(0, L"STATIC", L"type target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, NULL, NULL,
                           GetModuleHandleW(NULL), NULL);
  gEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 400, 300, window,
                          NULL, GetModuleHandleW(NULL), NULL);
  SetForegroundWindow(window);
  SetFocus(gEdit);
  file = fopen(gOut, "wb"); /* ready */
  if (file != NULL) fclose(file);
  SetTimer(NULL, 0, 50, Save);
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    if (message.message == WM_KEYDOWN && (message.wParam == VK_TAB || message.wParam == VK_RETURN) &&
        GetKeyState(VK_SHIFT) < 0) {
      SendMessageW(gEdit, EM_REPLACESEL, FALSE, (LPARAM)(message.wParam == VK_TAB ? L"<S-Tab>" : L"<S-Enter>"));
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
