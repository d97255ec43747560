#include <io.h>
#include <windows.h>

#include <cstdio>

#include "waiting.h"

namespace ovrin_tool {
namespace {

volatile LONG gInterrupted = 0;

// Ctrl-C, Ctrl-Break and closing the console arrive on a thread of their own.
BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&gInterrupted, 1);
  return TRUE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
bool Interrupted() { return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0; }
void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace ovrin_tool
