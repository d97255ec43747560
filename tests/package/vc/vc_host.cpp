// A host as Visual C++ 7.0 builds one with MFC used as a DLL: the class
// declared as its interface gives it, MFC's CString reproduced from ATL's
// layout with a string manager that counts what it hands out and takes back,
// new and delete from MSVCR70.DLL, and a plugin DLL on MSVCR71.DLL
// (vc_plugin.cpp). Compiled by clang for Visual C++'s ABI, linked by lld-link
// against Ovrin70.lib and the plugin's import library. The meter is on COM12,
// the only port listed. Prints what it checks; the exit status is the failure
// count.
#include "host_support.h"

struct Private {
  static HANDLE FindAndOpen(OvrinComm& comm, CString& port) { return comm.FindAndOpen(port); }
  static int SendMsg(OvrinComm& comm, HANDLE port, CString text) { return comm.SendMsg(port, text); }
  static int IsOpen(const OvrinComm& comm) { return comm.isOpen; }
};

CountingManager gManager;

// The plugin on MSVCR71.DLL (vc_plugin.cpp).
extern "C" {
__declspec(dllimport) OvrinComm* PluginNew();
__declspec(dllimport) void PluginDelete(OvrinComm* comm);
__declspec(dllimport) void PluginDeleteArray(OvrinComm* first);
__declspec(dllimport) void* HOST_THISCALL PluginTailDelete(OvrinComm* comm, unsigned flags);
__declspec(dllimport) int PluginHeapBlocks();
__declspec(dllimport) int PluginHeapSound();
}

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

// An open object moved as MFC's CArray moves its elements when it grows: its
// bytes copied to a new block and the old block freed without a destructor.
// Close on the copy ends the original's receive thread and lets go of the
// port, and a new object opens the meter. (Once the startup answer has come:
// until the copy's first call, a line's record still goes to the old block.)
void MovedAsCArrayGrows(HWND window) {
  CString port("");
  OvrinComm* original = new OvrinComm;
  Check(original->Open(port, window) == 1, "Open an object a CArray holds");
  MSG message;
  for (int waited = 0; waited < 5000 && !PeekMessageA(&message, window, kMeasureReady, kMeasureReady, kRemove);
       waited += 10) {
    Sleep(10);
  }
  void* grown = operator new(sizeof(OvrinComm));
  memcpy(grown, static_cast<void*>(original), sizeof(OvrinComm));  // as CArray does, vtable pointer and all
  operator delete(original);
  OvrinComm* moved = static_cast<OvrinComm*>(grown);
  Check(moved->Close() == 1 && Private::IsOpen(*moved) == 0, "Close on the moved copy closes the connection");
  CString again("");
  OvrinComm next;
  Check(next.Open(again, window) == 1 && next.DistanceMeasure() == 1 && MeasuredDistance(next, window) == 12345,
        "and the meter, let go, opens for a new object and measures");
  next.Close();
  delete moved;
}

// delete through the vtable gives the memory back to the C runtime whose
// heap holds it, whichever module deletes: this program (MSVCR70.DLL) and a
// plugin on MSVCR71.DLL (vc_plugin.cpp) delete what the other made, once in
// a delete the plugin tail-calls (it returns here, to a module on MSVCR70),
// and an array made by new[] here is deleted[] there. Both heaps balance and
// stay sound.
struct HeapCounts {
  int ours;    // blocks in use in MSVCR70's heap
  int theirs;  // in MSVCR71's
  bool operator==(const HeapCounts& other) const { return ours == other.ours && theirs == other.theirs; }
};
HeapCounts Now() { return {HeapBlocksInUse(), PluginHeapBlocks()}; }
bool Sound() { return _heapchk() == kHeapOk && PluginHeapSound(); }

void Deleting() {
  HeapCounts before = Now();
  OvrinComm* made = new OvrinComm;
  Check(Now() == HeapCounts{before.ours + 1, before.theirs}, "new took a block of MSVCR70's heap");
  delete made;
  Check(Now() == before && Sound(), "delete gave it back");
  PluginDelete(new OvrinComm);
  Check(Now() == before && Sound(), "made here, deleted by the plugin on MSVCR71: back to MSVCR70's heap");
  before = Now();
  made = PluginNew();
  Check(Now() == HeapCounts{before.ours, before.theirs + 1}, "the plugin's new took a block of MSVCR71's heap");
  delete made;
  Check(Now() == before && Sound(), "made by the plugin, deleted here: back to MSVCR71's heap");
  before = Now();
  PluginTailDelete(PluginNew(), 1);
  Check(Now() == before && Sound(), "a delete the plugin tail-called, returning here: back to MSVCR71's heap");

  before = Now();
  const unsigned count = 3;
  void* block = operator new(sizeof(__SIZE_TYPE__) + count * sizeof(OvrinComm));
  *static_cast<__SIZE_TYPE__*>(block) = count;
  OvrinComm* array = reinterpret_cast<OvrinComm*>(static_cast<__SIZE_TYPE__*>(block) + 1);
  for (unsigned i = 0; i < count; ++i) new (&array[i]) OvrinComm;
  PluginDeleteArray(array);
  Check(Now() == before && Sound(), "new[] here, delete[] by the plugin: back to MSVCR70's heap");

  // A heap of the program's own, as a runtime linked into it has: no loaded
  // runtime holds the block, so the object is destroyed and the block stays.
  HANDLE own = HeapCreate(0, 0, 0);
  OvrinComm* kept = new (HeapAlloc(own, 0, sizeof(OvrinComm))) OvrinComm;
  CallDeletingDestructor(kept, 1);
  Check(Now() == before && HeapValidate(own, 0, kept) && HeapValidate(own, 0, nullptr),
        "a block of a heap no runtime has: left to the program");
  HeapDestroy(own);
}

// Deletes while other threads change the process: one allocates and frees on
// this program's heap, one loads and unloads a plugin and its runtime
// (vc_transient.dll on MSVCR90.DLL). Every block goes back, and nothing
// crashes.
volatile long gStop;
unsigned long HOST_CALLBACK Churn(void*) {
  while (!gStop) free(malloc(48));
  return 0;
}
unsigned long HOST_CALLBACK LoadAndUnload(void*) {
  while (!gStop) {
    void* plugin = LoadLibraryA("vc_transient.dll");
    if (plugin == nullptr) return 1;
    FreeLibrary(plugin);
  }
  return 0;
}
void DeletingWhileTheProcessChanges() {
  const int before = HeapBlocksInUse();
  gStop = 0;
  HANDLE threads[] = {CreateThread(nullptr, 0, Churn, nullptr, 0, nullptr),
                      CreateThread(nullptr, 0, LoadAndUnload, nullptr, 0, nullptr)};
  for (int i = 0; i < 2000; ++i) delete new OvrinComm;
  gStop = 1;
  bool ended = true;
  for (HANDLE thread : threads) {
    ended = thread != nullptr && WaitForSingleObject(thread, 10000) == 0 && ended;
    if (thread != nullptr) CloseHandle(thread);
  }
  Check(ended && HeapBlocksInUse() == before && Sound(),
        "2000 deletes while a thread allocates and frees and a plugin comes and goes: every block back");
}

// Debug runtimes that share the process heap each call a block there their
// own (stand-ins of debug_runtime.cpp, loaded one and then two): the block is
// freed by the one owner, and by none of two.
void DebugRuntimesOnTheProcessHeap() {
  const char* const names[] = {"msvcr110d.dll", "msvcr120d.dll"};
  using Frees = int (*)();
  Frees frees[2] = {};
  for (int loaded = 0; loaded < 2; ++loaded) {
    void* module = LoadLibraryA(names[loaded]);
    frees[loaded] = module != nullptr ? reinterpret_cast<Frees>(GetProcAddress(module, "StandInFrees")) : nullptr;
    if (frees[loaded] == nullptr) {
      Check(false, "a stand-in debug runtime loaded");
      return;
    }
    const int before = frees[0]() + (loaded == 1 ? frees[1]() : 0);
    Block block = HeapAlloc(GetProcessHeap(), 0, sizeof(OvrinComm));
    CallDeletingDestructor(new (block) OvrinComm, 1);
    const int given = frees[0]() + (loaded == 1 ? frees[1]() : 0) - before;
    if (loaded == 0) {
      Check(given == 1, "one debug runtime says the block is its own: it frees it");
    } else {
      Check(given == 0 && HeapValidate(GetProcessHeap(), 0, block),
            "two debug runtimes say so: the object is destroyed, its block left to the program");
    }
    HeapFree(GetProcessHeap(), 0, block);
  }
}

}  // namespace

extern "C" int start() {
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, kMessageOnly, nullptr, nullptr, nullptr);
  Check(window != nullptr, "a message-only window");
  Connection(window);
  MovedAsCArrayGrows(window);
  Check(gManager.allocated == gManager.freed, "every string buffer given back to the string manager");
  Deleting();
  DeletingWhileTheProcessChanges();
  DebugRuntimesOnTheProcessHeap();
  char text[64];
  gCode = 252;
  DescError(Code, text, sizeof text);
  Check(Equal(text, "Temperature too high"), "DescError");
  Check(gManager.foreign == 0, "the string manager was given back only its own blocks, each once");
  printf("vc_host: %d failed\n", gFailures);
  ExitProcess(static_cast<unsigned>(gFailures));
  return gFailures;
}
