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
  return wine_check::Finish("dll_test");
}
