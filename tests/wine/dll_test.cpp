// Ovrin70.dll as a Windows host uses it, under Wine: error texts, message
// boxes, and a whole connection to a simulated meter on a COM port.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "connection/comm_access.h"
#include "ovrin_comm.h"

namespace {

int gCode = 0;
int* CodeSource() { return &gCode; }

std::string Describe(int code, int length) {
  gCode = code;
  std::string buffer(static_cast<std::size_t>(length), 'x');
  DescError(CodeSource, &buffer[0], length);
  return buffer;
}

std::vector<std::pair<std::string, unsigned>> gBoxes;
int RecordBox(const char* text, unsigned style, void*) {
  gBoxes.emplace_back(text, style);
  return style == ovrin::kStyleYesNo ? ovrin::kButtonYes : ovrin::kButtonOk;
}

// The next posted message for window within timeoutMs; 0 when none came.
UINT NextMessage(HWND window, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message{};
    if (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
      if (message.message == WM_MEASURE_READY) CHECK(message.wParam == 1 && message.lParam == 0);
      return message.message;
    }
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) return 0;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent, QS_POSTMESSAGE);
  }
}

std::string RememberedPort() {
  char value[80] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Quenmark\\OVRIN", "COMPort", RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return "";
  }
  return value;
}

void ErrorTextsThroughTheDll() {
  CHECK(Describe(203, 64) == std::string("Invalid command or invalid parameter") + std::string(28, '\0'));
  CHECK(Describe(243, 63) == "General communication error with the internal BLUETOOTH module" + std::string(1, '\0'));
  CHECK(Describe(243, 62).compare(0, 61, "General communication error with the internal BLUETOOTH modul") == 0);
  CHECK(Describe(0, 13) == std::string("unkown error") + '\0');
  CHECK(Describe(-7, 13) == std::string("unkown error") + '\0');
  CHECK(Describe(290, 1) == std::string(1, '\0'));
}

void NeverOpenedConnectionRefusesToMeasure() {
  gBoxes.clear();
  OvrinComm comm;
  CHECK(comm.DistanceMeasure() == 0);
  CHECK(gBoxes.size() == 1 && gBoxes[0].first == "Can't Send Command" && gBoxes[0].second == 0);
  CHECK(comm.Close() == 0);
}

void WholeConnection(const std::string& meterPort) {
  HWND window = CreateWindowExA(0, "STATIC", "test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  CHECK(window != nullptr);
  OvrinComm comm;
  std::string port = "stale";
  CHECK(comm.Open(port, window) == 1);
  CHECK(port == meterPort);
  CHECK(RememberedPort() == meterPort);
  CHECK(WaitForSingleObject(OvrinCommAccess::ListenEvent(comm), 0) == WAIT_OBJECT_0);
  CHECK(NextMessage(window, 5000) == WM_MEASURE_READY);  // the answer to "sm 1"
  CHECK(comm.measurement.kind == ReplyNone);
  CHECK(comm.DistanceMeasure() == 1);
  CHECK(NextMessage(window, 5000) == WM_MEASURE_READY);
  CHECK(comm.measurement.kind == Reply31 && comm.measurement.value1 == 12345);
  CHECK(WaitForSingleObject(OvrinCommAccess::IdleEvent(comm), 0) == WAIT_OBJECT_0);
  CHECK(WaitForSingleObject(OvrinCommAccess::ListenEvent(comm), 0) == WAIT_TIMEOUT);
  comm.SetListen(1);
  CHECK(WaitForSingleObject(OvrinCommAccess::ListenEvent(comm), 0) == WAIT_OBJECT_0);
  const DWORD start = GetTickCount();
  CHECK(comm.Close() == 1);
  CHECK(GetTickCount() - start < 2000);
  CHECK(comm.Close() == 0);
  CHECK(NextMessage(window, 300) == 0);

  // Open again: the remembered port first, and the copy rules.
  CHECK(comm.Open(port, window) == 1);
  CHECK(port == meterPort);
  OvrinComm copy(comm);
  CHECK(copy.Close() == 0);
  CHECK(comm.DistanceMeasure() == 1);
  UINT message = NextMessage(window, 5000);
  if (comm.measurement.kind == ReplyNone) message = NextMessage(window, 5000);  // "sm 1" answered first
  CHECK(message == WM_MEASURE_READY && comm.measurement.value1 == 12345);
  CHECK(comm.Close() == 1);
  DestroyWindow(window);
}

// The handles this process holds, as the system lists them (Wine has no
// GetProcessHandleCount).
long HandleCount() {
  struct Entry {
    ULONG process;
    UCHAR type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<char> buffer(1 << 22);
  ULONG size = 0;
  if (query == nullptr || query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size)) {
    return -1;
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].process == GetCurrentProcessId() ? 1 : 0;
  return count;
}

// Open, measure, close, many times: the process holds no more handles after.
void HandlesStayFlat(const std::string& meterPort) {
  HWND window = CreateWindowExA(0, "STATIC", "load", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  auto cycle = [&] {
    OvrinComm comm;
    std::string port;
    if (!CHECK(comm.Open(port, window) == 1) || !CHECK(port == meterPort)) return false;
    CHECK(comm.DistanceMeasure() == 1);
    for (int replies = 0; replies < 2;) {  // the start-up answer and the measurement
      const UINT message = NextMessage(window, 5000);
      if (!CHECK(message == WM_MEASURE_READY)) return false;
      ++replies;
    }
    return CHECK(comm.Close() == 1);
  };
  cycle();  // first-use allocations of the system before counting
  const long before = HandleCount();
  for (int i = 0; i < 100 && cycle(); ++i) {
  }
  const long after = HandleCount();
  std::printf("  handles before %ld, after 100 cycles %ld\n", before, after);
  CHECK(before > 0 && after == before);
  DestroyWindow(window);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: dll_test METER_PORT\n");
    return 2;
  }
  ovrin::SetMessageBoxHandler(RecordBox, nullptr);
  ErrorTextsThroughTheDll();
  NeverOpenedConnectionRefusesToMeasure();
  WholeConnection(argv[1]);
  HandlesStayFlat(argv[1]);
  return wine_check::Finish("dll_test");
}
