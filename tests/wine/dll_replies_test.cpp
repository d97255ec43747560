// How reply lines reach a Windows host through Ovrin70.dll under Wine, with
// simulated meters that send lines in bursts, in pieces, too long, or vanish.
// The ports are set up by run.sh: COM8 repeats every line, COM9 sends
// 4-byte pieces, COM11 answers "sm 1" with a line too long to keep, COM10
// goes away in the middle of its answer to the first measurement.
#include <windows.h>

#include <cstdio>
#include <string>

#include "check.h"
#include "ovrin_comm.h"

namespace {

// Notifications of one kind that arrive within timeoutMs.
int CountMessages(HWND window, UINT kind, DWORD timeoutMs) {
  int count = 0;
  const DWORD start = GetTickCount();
  for (DWORD spent = 0; spent < timeoutMs; spent = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent, QS_POSTMESSAGE);
    MSG message{};
    while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) count += message.message == kind ? 1 : 0;
  }
  return count;
}

bool OpenOn(OvrinComm& comm, const char* port, HWND window) {
  std::string found;
  if (!CHECK(ovrin::SetRememberedPort(port)) || !CHECK(comm.Open(found, window) == 1)) return false;
  if (CHECK(found == port)) return true;
  std::printf("  opened %s instead of %s\n", found.c_str(), port);
  return false;
}

void SetRememberedValue(DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quenmark\\OVRIN", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, "COMPort", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

void TwoLinesInOneWriteAreBothAnnounced(HWND window) {
  OvrinComm comm;
  if (!OpenOn(comm, "COM8", window)) return;
  CHECK(CountMessages(window, WM_MEASURE_READY, 1000) == 2);  // "?" twice
  CHECK(comm.DistanceMeasure() == 1);
  CHECK(CountMessages(window, WM_MEASURE_READY, 1000) == 2);
  CHECK(comm.measurement.kind == Reply31 && comm.measurement.value1 == 12345);
  CHECK(comm.Close() == 1);
}

void LineInPiecesIsDecodedOnce(HWND window) {
  OvrinComm comm;
  if (!OpenOn(comm, "COM9", window)) return;
  CHECK(CountMessages(window, WM_MEASURE_READY, 1000) == 1);
  CHECK(comm.DistanceMeasure() == 1);  // "31.." "00+0" "0012" "345\r" "\n"
  CHECK(CountMessages(window, WM_MEASURE_READY, 1500) == 1);
  CHECK(comm.measurement.kind == Reply31 && comm.measurement.value1 == 12345);
  CHECK(comm.Close() == 1);
}

void OverlongLineIsDropped(HWND window) {
  OvrinComm comm;
  if (!OpenOn(comm, "\\\\.\\COM11", window)) return;  // COM10 and above need the device path
  CHECK(CountMessages(window, WM_MEASURE_READY, 700) == 0);
  CHECK(comm.DistanceMeasure() == 1);
  CHECK(CountMessages(window, WM_MEASURE_READY, 700) == 1);
  CHECK(comm.measurement.value1 == 12345);
  CHECK(comm.Close() == 1);
}

void WithoutAWindowTheRecordStillChanges() {
  OvrinComm comm;
  if (!OpenOn(comm, "COM8", nullptr)) return;
  comm.measurement = MeasureRecord{};
  CHECK(comm.DistanceMeasure() == 1);
  for (int i = 0; i < 300 && comm.measurement.kind != Reply31; ++i) Sleep(10);
  CHECK(comm.measurement.value1 == 12345);
  CHECK(comm.Close() == 1);
}

void RememberedValuesOfEveryShape() {
  OvrinComm comm;
  std::string port;
  SetRememberedValue(REG_SZ, std::string(100, 'C') + '\0');  // does not fit 80 bytes: searched instead
  CHECK(comm.Open(port, nullptr) == 1);
  CHECK(port == "COM7");
  comm.Close();
  SetRememberedValue(REG_BINARY, std::string("COM8\0junk", 9));  // any type is read as text
  CHECK(comm.Open(port, nullptr) == 1);
  CHECK(port == "COM8");
  comm.Close();
}

void MeterVanishingMidLine(HWND window) {
  OvrinComm comm;
  if (!OpenOn(comm, "\\\\.\\COM10", window)) return;
  CountMessages(window, WM_MEASURE_READY, 500);
  CHECK(comm.DistanceMeasure() == 1);
  // Wine does not report a vanished pseudo-terminal to a waiting reader, so
  // WM_LINK_LOST may not come here; what must hold is that nothing spins
  // and Close ends the connection at once.
  std::printf("  link lost reported: %d\n", CountMessages(window, WM_LINK_LOST, 1000));
  const double before = CpuSeconds();
  Sleep(1000);
  CHECK(CpuSeconds() - before < 0.3);
  const DWORD start = GetTickCount();
  CHECK(comm.Close() == 1);
  CHECK(GetTickCount() - start < 1000);
}

}  // namespace

int main() {
  HWND window = CreateWindowExA(0, "STATIC", "test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  TwoLinesInOneWriteAreBothAnnounced(window);
  LineInPiecesIsDecodedOnce(window);
  OverlongLineIsDropped(window);
  WithoutAWindowTheRecordStillChanges();
  RememberedValuesOfEveryShape();
  MeterVanishingMidLine(window);
  DestroyWindow(window);
  return wine_check::Finish("dll_replies_test");
}
