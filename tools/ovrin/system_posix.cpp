#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "waiting.h"

namespace ovrin_tool {
namespace {

volatile sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

void CatchInterrupts() {
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGTERM, &interrupt, nullptr);
}

bool Interrupted() { return gInterrupted != 0; }
void SleepMs(int milliseconds) { poll(nullptr, 0, milliseconds); }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace ovrin_tool
