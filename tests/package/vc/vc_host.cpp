// A host as Visual C++ 7.0 builds one with MFC used as a DLL: the class
// declared as its interface gives it, MFC's CString reproduced from ATL's
// layout with a string manager that counts what it hands out and takes back,
// new and delete from MSVCR70.DLL. Compiled by clang for Visual C++'s ABI,
// linked by lld-link against Ovrin70.lib. The meter is on COM12, the only
// port listed. Prints what it checks; the exit status is the failure count.
#include "host_support.h"

class __declspec(dllimport) OvrinComm {
 public:
  OvrinComm();
  OvrinComm(const OvrinComm& other);
  OvrinComm& operator=(const OvrinComm& other);
  virtual ~OvrinComm();
  int Open(CString& port, HWND notifyWindow);
  int Close();
  int DistanceMeasure();
  void SetListen(int listen);
  int SendCommand(unsigned a, unsigned b, unsigned c);

  MeasureRecord measurement;

 private:
  friend struct Private;  // the test's way in, as a friend of a host's own might be
  HANDLE FindAndOpen(CString& port);
  int SendMsg(HANDLE port, CString text);

  int isOpen;
  HANDLE portHandle;
  HWND notifyWindow;
  HANDLE listenEvent;
  HANDLE idleEvent;
  CWinThread* receiveThread;
};

__declspec(dllimport) void DescError(int* (*codeSource)(), char* buffer, int bufferLength);

struct Private {
  static HANDLE FindAndOpen(OvrinComm& comm, CString& port) { return comm.FindAndOpen(port); }
  static int SendMsg(OvrinComm& comm, HANDLE port, CString text) { return comm.SendMsg(port, text); }
  static int IsOpen(const OvrinComm& comm) { return comm.isOpen; }
};

CountingManager gManager;

namespace {

int gCode;
int* Code() { return &gCode; }

const char kPort[] = "\\\\.\\COM12";

// Waits up to 5 s for WM_MEASURE_READY with a distance, then reads the record in place.
int MeasuredDistance(OvrinComm& meter, HWND window) {
  for (int waited = 0; waited < 5000; waited += 10) {
    MSG message;
    while (PeekMessageA(&message, window, kMeasureReady, kMeasureReady, kRemove)) {
      if (meter.measurement.kind == 6) return meter.measurement.value1;
    }
    Sleep(10);
  }
  return -1;
}

void Connection(HWND window) {
  // Open writes the port into a string whose buffer another string shares.
  CString port("remembered text");
  CString other(port);
  OvrinComm meter;
  Check(meter.Open(port, window) == 1, "Open");
  Check(Equal(port, kPort), "the port written back");
  Check(Equal(other, "remembered text"), "the string that shared the buffer keeps its text");
  Check(RefsOf(other) == 1 && RefsOf(port) == 1, "neither buffer shared any more");
  Check(Private::IsOpen(meter) == 1, "isOpen where the host reads it");
  Check(meter.DistanceMeasure() == 1, "DistanceMeasure");
  Check(MeasuredDistance(meter, window) == 12345, "the record read in place after WM_MEASURE_READY");
  Check(meter.SendCommand(1, 2, 3) == 1, "SendCommand");
  meter.SetListen(1);

  OvrinComm copy(meter);  // never shares the connection
  Check(copy.measurement.value1 == 12345 && copy.Close() == 0, "a copy has the record and is not open");
  OvrinComm assigned;
  assigned = meter;
  Check(assigned.measurement.value1 == 12345 && assigned.Close() == 0, "an assigned one too");
  Check(meter.Close() == 1 && meter.Close() == 0, "Close, once");

  // A string too short for the name grows through its own manager; an empty
  // one (the manager's nil string) gets a buffer of its own.
  CString tiny("x");
  const int reallocations = gManager.reallocated;
  Check(meter.Open(tiny, window) == 1 && Equal(tiny, kPort), "Open into a string too short for the name");
  Check(gManager.reallocated == reallocations + 1, "grown by the string's manager");
  meter.Close();
  CString empty;
  Check(meter.Open(empty, window) == 1 && Equal(empty, kPort), "Open into an empty string");
  meter.Close();

  // The private members, as a friend reaches them: FindAndOpen writes the
  // port found; SendMsg takes its string by value and releases that copy.
  CString found("");
  HANDLE handle = Private::FindAndOpen(meter, found);
  Check(handle != kInvalidHandle && Equal(found, kPort), "FindAndOpen");
  CString text("sm 1");
  Check(Private::SendMsg(meter, handle, text) == 7, "SendMsg framed \"sm 1\" with CR, LF and a NUL");
  Check(RefsOf(text) == 1, "SendMsg released its copy of the string");
  CloseHandle(handle);
}

// delete through the vtable gives the memory back to MSVCR70's heap; so does
// Visual C++'s array delete (the deleting destructor with flags 3).
void Deleting() {
  const int before = HeapBlocksInUse();
  OvrinComm* single = new OvrinComm;
  Check(HeapBlocksInUse() == before + 1, "new took a block of MSVCR70's heap");
  delete single;
  Check(HeapBlocksInUse() == before, "delete gave it back");

  const unsigned count = 3;
  void* block = operator new(sizeof(__SIZE_TYPE__) + count * sizeof(OvrinComm));
  *static_cast<__SIZE_TYPE__*>(block) = count;
  OvrinComm* array = reinterpret_cast<OvrinComm*>(static_cast<__SIZE_TYPE__*>(block) + 1);
  for (unsigned i = 0; i < count; ++i) new (&array[i]) OvrinComm;
  CallDeletingDestructor(array, 3);
  Check(HeapBlocksInUse() == before, "an array deleted through the vtable gave its block back");
}

}  // namespace

extern "C" int start() {
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, kMessageOnly, nullptr, nullptr, nullptr);
  Check(window != nullptr, "a message-only window");
  Connection(window);
  Check(gManager.allocated == gManager.freed, "every string buffer given back to the string manager");
  Deleting();
  char text[64];
  gCode = 252;
  DescError(Code, text, sizeof text);
  Check(Equal(text, "Temperature too high"), "DescError");
  Check(gManager.foreign == 0, "the string manager was given back only its own blocks, each once");
  printf("vc_host: %d failed\n", gFailures);
  ExitProcess(static_cast<unsigned>(gFailures));
  return gFailures;
}
