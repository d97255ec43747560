// A Windows host: a window receives WM_MEASURE_READY and reads the record.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ovrin_readings.h"

namespace {

OvrinComm gMeter;
int gTaken = 0;
constexpr int kMeasurements = 3;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MEASURE_READY: {
      const MeasureRecord record = gMeter.measurement;  // the latest reply
      if (record.kind == ReplyNone) return 0;           // answer to the start-up command
      std::printf("kind %d, value %d\n", static_cast<int>(record.kind), static_cast<int>(record.value1));
      if (++gTaken < kMeasurements) {
        gMeter.DistanceMeasure();
      } else {
        PostQuitMessage(0);
      }
      return 0;
    }
    case WM_LINK_LOST:
      std::printf("the meter is gone\n");
      PostQuitMessage(1);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "OvrinHostExample";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "meter", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  std::string port;
  ovrin::NotifyLinkLost(gMeter, true);  // WM_LINK_LOST is posted only on request
  if (gMeter.Open(port, window) != 1) {
    std::printf("no meter found\n");
    return 1;
  }
  std::printf("meter on %s\n", port.c_str());
  gMeter.DistanceMeasure();
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  gMeter.Close();
  DestroyWindow(window);
  return static_cast<int>(message.wParam);
}
