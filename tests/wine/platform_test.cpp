// The Windows platform layer on COM ports that are pseudo-terminals under
// Wine: port names, writes, waits woken by a character and by WakeWaiters.
#include <windows.h>

#include <string>

#include "check.h"
#include "connection/comm_access.h"
#include "platform/platform.h"

namespace platform = ovrin::platform;

namespace {

void ListedNamesBecomePortNames() {
  struct Case {
    const char* listed;
    bool usable;
    const char* name;
  };
  const Case cases[] = {{"COM3", true, "COM3"},
                        {"com3", true, "COM3"},
                        {"com12", true, "\\\\.\\COM12"},
                        {"\\\\.\\COM5", false, ""},
                        {"lpt1", false, ""},
                        {"CO", false, ""},
                        {"", false, ""},
                        {"Com255", true, "\\\\.\\COM255"}};
  for (const Case& c : cases) {
    std::string name = c.listed;
    const bool usable = platform::PortNameFromListing(&name);
    CHECK(usable == c.usable);
    if (usable) CHECK(name == c.name);
  }
}

DWORD WINAPI WaitWithoutLimit(void* port) {
  platform::Event* event = platform::CreateManualEvent(false);
  const platform::WaitResult result = platform::WaitForInput(static_cast<platform::Port*>(port), event, -1);
  platform::CloseEvent(event);
  return static_cast<DWORD>(result);
}

void WritesAndWaitsOnTheMetersPort(const std::string& name) {
  platform::Port* port = platform::OpenPort(name, nullptr);
  if (!CHECK(port != platform::NoPort())) return;
  CHECK(platform::ConfigureForMeter(port));
  platform::DiscardQueues(port);
  platform::Event* event = platform::CreateManualEvent(false);
  const char command[] = "xyz\r\n";  // the simulated meter answers "@E203"
  std::uint32_t written = 0;
  const platform::WriteResult wrote = platform::WritePort(port, event, command, 5, 100, &written);
  CHECK(wrote == platform::WriteResult::kDoneAtOnce || wrote == platform::WriteResult::kDoneAfterWait);
  CHECK(platform::WaitForInput(port, event, 3000) == platform::WaitResult::kReady);
  Sleep(200);
  char answer[64] = {};
  CHECK(platform::CountQueuedInput(port) == 7);
  CHECK(platform::ReadQueued(port, event, answer, sizeof answer) == 7);
  CHECK(std::string(answer) == "@E203\r\n");
  CHECK(platform::ReadQueued(port, event, answer, sizeof answer) == 0);  // never waits
  platform::CloseEvent(event);
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);
}

void WaitsOnASilentPort(const std::string& name) {
  platform::Port* port = platform::OpenPort(name, nullptr);
  if (!CHECK(port != platform::NoPort())) return;
  CHECK(platform::ConfigureForMeter(port));
  platform::Event* event = platform::CreateManualEvent(false);
  const DWORD start = GetTickCount();
  CHECK(platform::WaitForInput(port, event, 300) == platform::WaitResult::kTimedOut);
  CHECK(GetTickCount() - start >= 250);
  platform::CloseEvent(event);

  // A wait without limit blocks until WakeWaiters, and later waits return at once.
  HANDLE waiter = CreateThread(nullptr, 0, WaitWithoutLimit, port, 0, nullptr);
  CHECK(WaitForSingleObject(waiter, 500) == WAIT_TIMEOUT);
  platform::WakeWaiters(port);
  CHECK(WaitForSingleObject(waiter, 3000) == WAIT_OBJECT_0);
  CloseHandle(waiter);
  waiter = CreateThread(nullptr, 0, WaitWithoutLimit, port, 0, nullptr);
  CHECK(WaitForSingleObject(waiter, 3000) == WAIT_OBJECT_0);
  CloseHandle(waiter);
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);
}

// Line settings, time-outs and the event mask, as the opened port reports
// them; flow control stays as the port had it.
void LineSettingsReadBack(const std::string& name) {
  platform::Port* port = platform::OpenPort(name, nullptr);
  if (!CHECK(port != platform::NoPort())) return;
  DCB before{};
  before.DCBlength = sizeof before;
  CHECK(GetCommState(port, &before));
  // Flow control a user may have chosen for the port before.
  before.BaudRate = CBR_19200;
  before.Parity = EVENPARITY;
  before.fOutX = TRUE;
  before.fInX = TRUE;
  before.XonChar = 0x11;
  before.XoffChar = 0x13;
  before.fOutxCtsFlow = TRUE;
  before.fRtsControl = RTS_CONTROL_HANDSHAKE;
  CHECK(SetCommState(port, &before));
  CHECK(GetCommState(port, &before));
  CHECK(platform::ConfigureForMeter(port));
  DCB after{};
  after.DCBlength = sizeof after;
  CHECK(GetCommState(port, &after));
  CHECK(after.BaudRate == CBR_9600 && after.ByteSize == 8 && after.Parity == NOPARITY && after.StopBits == ONESTOPBIT);
  // Wine keeps no event character (a tty has none): when a value set directly
  // does not read back either, EvtChar cannot be seen here.
  DCB probe = after;
  probe.EvtChar = 0x0B;
  SetCommState(port, &probe);
  GetCommState(port, &probe);
  if (probe.EvtChar == 0x0B) {
    CHECK(after.EvtChar == 0x0A);
  } else {
    std::printf("  EvtChar: the port keeps none (Wine); not checked\n");
  }
  CHECK(after.fOutX == before.fOutX && after.fInX == before.fInX && after.XonChar == before.XonChar &&
        after.XoffChar == before.XoffChar && after.fOutxCtsFlow == before.fOutxCtsFlow &&
        after.fOutxDsrFlow == before.fOutxDsrFlow && after.fRtsControl == before.fRtsControl &&
        after.fDtrControl == before.fDtrControl && after.XonLim == before.XonLim && after.XoffLim == before.XoffLim);
  CHECK(before.fOutX && before.fOutxCtsFlow);  // the port kept what was set, so the comparison means something
  COMMTIMEOUTS timeouts{};
  CHECK(GetCommTimeouts(port, &timeouts));
  CHECK(timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
        timeouts.ReadTotalTimeoutConstant == 0 && timeouts.WriteTotalTimeoutMultiplier == 50 &&
        timeouts.WriteTotalTimeoutConstant == 1000);
  DWORD mask = 0;
  CHECK(GetCommMask(port, &mask) && mask == EV_RXCHAR);
  // Back to plain settings for the tests after this one.
  before.fOutX = before.fInX = before.fOutxCtsFlow = FALSE;
  before.fRtsControl = RTS_CONTROL_ENABLE;
  SetCommState(port, &before);
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);
}

double NowMs() {
  LARGE_INTEGER count{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// SendMsg waits at most 100 ms for a write that stays pending, and leaves
// nothing pending: the meter on DEAF_PORT reads nothing for 3 s after its
// start-up answer, so the terminal fills and a write can no longer leave.
// Once the meter reads again it answers every command line it got with
// "@E203": exactly one for each SendMsg that reported its write.
void SendMsgBoundWhenTheWriteStaysPending(const std::string& name) {
  platform::Port* port = platform::OpenPort(name, nullptr);
  if (!CHECK(port != platform::NoPort()) || !CHECK(platform::ConfigureForMeter(port))) return;
  platform::DiscardQueues(port);
  OvrinComm comm;
  OvrinCommAccess::SendMsg(comm, port, "sm 1");
  platform::Event* event = platform::CreateManualEvent(false);
  CHECK(platform::WaitForInput(port, event, 2000) == platform::WaitResult::kReady);
  Sleep(100);
  char buffer[8192];
  CHECK(platform::ReadQueued(port, event, buffer, sizeof buffer) == 3);  // "?\r\n": the meter is deaf now
  const std::string command(125, 'A');
  int written = 0;
  double pendingMs = -1;
  for (int i = 0; i < 2000 && pendingMs < 0; ++i) {
    const double start = NowMs();
    if (OvrinCommAccess::SendMsg(comm, port, command) != 0) {
      ++written;
    } else {
      pendingMs = NowMs() - start;
    }
  }
  std::printf("  %d commands written, then SendMsg gave up after %.1f ms\n", written, pendingMs);
  CHECK(pendingMs >= 95 && pendingMs < 400);
  Sleep(3500);  // the meter reads again and answers
  std::string answers;
  while (platform::WaitForInput(port, event, 1000) == platform::WaitResult::kReady) {
    const long received = platform::ReadQueued(port, event, buffer, sizeof buffer);
    if (received > 0) answers.append(buffer, static_cast<std::size_t>(received));
  }
  const long answered = static_cast<long>(answers.size() / 7);
  std::printf("  the meter answered %ld command lines\n", answered);
  CHECK(answers.size() % 7 == 0 && answered == written);
  platform::CloseEvent(event);
  platform::ClosePort(port, platform::PendingOutput::kLetLeave);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: platform_test METER_PORT SILENT_PORT DEAF_PORT\n");
    return 2;
  }
  ListedNamesBecomePortNames();
  WritesAndWaitsOnTheMetersPort(argv[1]);
  WaitsOnASilentPort(argv[2]);
  LineSettingsReadBack(argv[2]);
  SendMsgBoundWhenTheWriteStaysPending(argv[3]);
  return wine_check::Finish("platform_test");
}
