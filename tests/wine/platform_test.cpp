// The Windows platform layer on COM ports that are pseudo-terminals under
// Wine: port names, writes, waits woken by a character and by WakeWaiters.
#include <windows.h>

#include <string>

#include "check.h"
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
  platform::Handle event = platform::CreateManualEvent(false);
  const platform::WaitResult result = platform::WaitForInput(port, event, -1);
  platform::CloseEvent(event);
  return static_cast<DWORD>(result);
}

void WritesAndWaitsOnTheMetersPort(const std::string& name) {
  platform::Handle port = platform::OpenPort(name);
  if (!CHECK(port != platform::NoPort())) return;
  CHECK(platform::ConfigurePort(port));
  platform::PurgePort(port);
  platform::Handle event = platform::CreateManualEvent(false);
  const char command[] = "xyz\r\n";  // the simulated meter answers "@E203"
  std::uint32_t written = 0;
  const platform::WriteResult wrote = platform::WritePort(port, event, command, 5, 100, &written);
  CHECK(wrote == platform::WriteResult::kDoneAtOnce || wrote == platform::WriteResult::kDoneAfterWait);
  CHECK(platform::WaitForInput(port, event, 3000) == platform::WaitResult::kReady);
  Sleep(200);
  char answer[64] = {};
  CHECK(platform::ClearErrorsAndCountQueued(port) == 7);
  CHECK(platform::ReadQueued(port, event, answer, sizeof answer) == 7);
  CHECK(std::string(answer) == "@E203\r\n");
  CHECK(platform::ReadQueued(port, event, answer, sizeof answer) == 0);  // never waits
  platform::CloseEvent(event);
  platform::ClosePort(port);
}

void WaitsOnASilentPort(const std::string& name) {
  platform::Handle port = platform::OpenPort(name);
  if (!CHECK(port != platform::NoPort())) return;
  CHECK(platform::ConfigurePort(port));
  platform::Handle event = platform::CreateManualEvent(false);
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
  platform::ClosePort(port);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: platform_test METER_PORT SILENT_PORT\n");
    return 2;
  }
  ListedNamesBecomePortNames();
  WritesAndWaitsOnTheMetersPort(argv[1]);
  WaitsOnASilentPort(argv[2]);
  return wine_check::Finish("platform_test");
}
