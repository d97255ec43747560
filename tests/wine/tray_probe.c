/* What the tray test asks of the Windows side, as the shell and the user
 * would do it:
 *   tray_probe icon MESSAGE  posts the notification area's callback (the
 *                            mouse message, as a number) to ovrin-tray
 *   tray_probe shown CLASS   status 0 when a window of CLASS is visible
 *   tray_probe front TITLE   brings the window of TITLE to the front
 *   tray_probe choose LETTER chooses the open menu's item by its letter
 *   tray_probe type TEXT     types TEXT where the focus is (a tab or a line
 *                            end as the Tab or the Enter key)
 *   tray_probe press CLASS TEXT  pushes the button TEXT of the window of CLASS
 *   tray_probe clipboard     prints the clipboard's text
 *   tray_probe broadcast NAME  what Explorer does as it starts: the message
 *                            NAME (TaskbarCreated) to every top-level window
 *   tray_probe hold N        holds the key FN as another program's hot key
 *                            (prints "held"), until it is killed
 *   tray_probe shot FILE [CLASS]  the screen (or the window of CLASS and a
 *                            margin, once its middle is drawn: not black)
 *                            as a 24-bit BMP file */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND Find(const char* kind) {
  int tries;
  for (tries = 0; tries < 100; ++tries) {
    HWND window = FindWindowA(kind, NULL);
    if (window != NULL && IsWindowVisible(window)) return window;
    Sleep(50);
  }
  return NULL;
}

/* A 24-bit bitmap of width x height selected into memory; its pixels in *bits. */
static HBITMAP Canvas(HDC memory, int width, int height, BITMAPINFOHEADER* header, void** bits) {
  HBITMAP canvas;
  memset(header, 0, sizeof *header);
  header->biSize = sizeof *header;
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = 24;
  canvas = CreateDIBSection(memory, (BITMAPINFO*)header, DIB_RGB_COLORS, bits, NULL, 0);
  SelectObject(memory, canvas);
  return canvas;
}

/* The whole screen is taken, as Wine copies it whole, and the window's part
 * cut from it. */
static int Shot(const char* path, const char* kind) {
  RECT area;
  HDC screen = GetDC(NULL), whole = CreateCompatibleDC(screen), part = CreateCompatibleDC(screen);
  BITMAPINFOHEADER header;
  BITMAPFILEHEADER file;
  FILE* out;
  void* bits;
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN), row, tries;
  SetRect(&area, 0, 0, width, height);
  if (kind != NULL) {
    HWND window = Find(kind);
    if (window == NULL) return 1;
    GetWindowRect(window, &area);
    InflateRect(&area, 12, 12);
  }
  Canvas(whole, width, height, &header, &bits);
  for (tries = 0; tries < 100; ++tries) {
    BitBlt(whole, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    if (GetPixel(whole, (area.left + area.right) / 2, (area.top + area.bottom) / 2) != RGB(0, 0, 0)) break;
    Sleep(50);
  }
  width = area.right - area.left;
  height = area.bottom - area.top;
  Canvas(part, width, height, &header, &bits);
  BitBlt(part, 0, 0, width, height, whole, area.left, area.top, SRCCOPY);
  GdiFlush();
  row = (width * 3 + 3) / 4 * 4;
  memset(&file, 0, sizeof file);
  file.bfType = 0x4d42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + (DWORD)(row * height);
  out = fopen(path, "wb");
  if (out == NULL) return 1;
  fwrite(&file, sizeof file, 1, out);
  fwrite(&header, sizeof header, 1, out);
  fwrite(bits, (size_t)(row * height), 1, out);
  fclose(out);
  return 0;
}

/* The key of an item's underlined letter, as the open menu reads it from
 * its thread's queue. */
static int Choose(char letter) {
  HWND window = Find("#32768");
  return window != NULL && PostMessageA(window, WM_CHAR, (WPARAM)letter, 1) ? 0 : 1;
}

static int Type(const char* text) {
  INPUT keys[2];
  for (; *text != '\0'; ++text) {
    memset(keys, 0, sizeof keys);
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    if (*text == '\t' || *text == '\n') {
      keys[0].ki.wVk = keys[1].ki.wVk = *text == '\t' ? VK_TAB : VK_RETURN;
      keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    } else {
      keys[0].ki.wScan = keys[1].ki.wScan = (WORD)(unsigned char)*text;
      keys[0].ki.dwFlags = KEYEVENTF_UNICODE;
      keys[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    }
    if (SendInput(2, keys, sizeof keys[0]) != 2) return 1;
    Sleep(30);
  }
  return 0;
}

static int Press(const char* kind, const char* text) {
  HWND window = Find(kind);
  HWND button = window != NULL ? FindWindowExA(window, NULL, "BUTTON", text) : NULL;
  return button != NULL && SendMessageA(button, BM_CLICK, 0, 0) == 0 ? 0 : 1;
}

static int PrintClipboard(void) {
  HANDLE text;
  char utf8[8192];
  if (!OpenClipboard(NULL)) return 1;
  text = GetClipboardData(CF_UNICODETEXT);
  if (text != NULL && WideCharToMultiByte(CP_UTF8, 0, (WCHAR*)GlobalLock(text), -1, utf8, sizeof utf8, NULL, NULL)) {
    fputs(utf8, stdout);
  }
  if (text != NULL) GlobalUnlock(text);
  CloseClipboard();
  return text != NULL ? 0 : 1;
}

static int Hold(int key) {
  MSG message;
  if (!RegisterHotKey(NULL, 1, MOD_NOREPEAT, (UINT)(VK_F1 + key - 1))) return 1;
  printf("held\n");
  fflush(stdout);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "icon") == 0) {
    HWND tray = FindWindowA("Ovrin70Tray", NULL);
    return tray != NULL && PostMessageA(tray, WM_APP + 1, 1, atoi(argv[2])) ? 0 : 1;
  }
  if (argc >= 3 && strcmp(argv[1], "front") == 0) return SetForegroundWindow(FindWindowA(NULL, argv[2])) ? 0 : 1;
  if (argc >= 4 && strcmp(argv[1], "press") == 0) return Press(argv[2], argv[3]);
  if (argc >= 2 && strcmp(argv[1], "clipboard") == 0) return PrintClipboard();
  if (argc >= 3 && strcmp(argv[1], "broadcast") == 0) {
    return PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(argv[2]), 0, 0) ? 0 : 1;
  }
  if (argc >= 3 && strcmp(argv[1], "hold") == 0) return Hold(atoi(argv[2]));
  if (argc >= 3 && strcmp(argv[1], "type") == 0) return Type(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "choose") == 0) return Choose(argv[2][0]);
  if (argc >= 3 && strcmp(argv[1], "shown") == 0) return Find(argv[2]) != NULL ? 0 : 1;
  if (argc >= 3 && strcmp(argv[1], "shot") == 0) return Shot(argv[2], argc >= 4 ? argv[3] : NULL);
  fprintf(stderr,
          "usage: tray_probe icon | shown | front | choose | type | press | clipboard | broadcast | hold | shot\n");
  return 2;
}
