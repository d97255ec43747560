#include <io.h>
#include <windows.h>

#include "system.h"

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

ToolLock::ToolLock() : lock_(new SRWLOCK(SRWLOCK_INIT)) {}
ToolLock::~ToolLock() { delete static_cast<SRWLOCK*>(lock_); }
void ToolLock::Enter() { AcquireSRWLockExclusive(static_cast<SRWLOCK*>(lock_)); }
void ToolLock::Leave() { ReleaseSRWLockExclusive(static_cast<SRWLOCK*>(lock_)); }
void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool SyncFile(std::FILE* file) { return _commit(_fileno(file)) == 0 || _isatty(_fileno(file)) != 0; }

// What Windows knows of a port is its SERIALCOMM entry, which the search order
// already gives.
std::vector<std::pair<std::string, std::string>> PortDetails(const std::string&) { return {}; }

// A COM port has no per-user rights to give: "access denied" means it is in use.
std::string PermissionHint(const std::string&) { return ""; }

}  // namespace ovrin_tool
