// A plugin DLL as Visual C++ 7.1 builds one: new, delete and the heap from
// MSVCR71.DLL, not the program's MSVCR70.DLL. The host program (vc_host.cpp)
// gives it objects it made to delete, and deletes objects the plugin made.
#include "host_support.h"

extern "C" {

__declspec(dllexport) OvrinComm* PluginNew() { return new OvrinComm; }

__declspec(dllexport) void PluginDelete(OvrinComm* comm) { delete comm; }

// Visual C++'s delete[] of objects made by new[]: the deleting destructor
// through the vtable, flags 3.
__declspec(dllexport) void PluginDeleteArray(OvrinComm* first) { CallDeletingDestructor(first, 3); }

// What the optimiser makes of a function whose last statement is `delete`:
// a jump to the deleting destructor, which then returns to this function's
// caller, in another module.
__declspec(dllexport) void* HOST_THISCALL PluginTailDelete(OvrinComm* comm, unsigned flags) {
  using Deleting = void*(HOST_THISCALL*)(OvrinComm * self, unsigned flags);
  const Deleting deleting = reinterpret_cast<Deleting>((*reinterpret_cast<void***>(comm))[0]);
  [[clang::musttail]] return deleting(comm, flags);
}

__declspec(dllexport) int PluginHeapBlocks() { return HeapBlocksInUse(); }

__declspec(dllexport) int PluginHeapSound() { return _heapchk() == kHeapOk ? 1 : 0; }
}
