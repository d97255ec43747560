// A stand-in for a Visual C++ debug runtime (msvcr110d, msvcr120d: Wine has
// none) that, as those do when they share the process heap, calls every block
// on it its own. Built under each of those names; counts the blocks it is
// asked to free and frees none, so that the host sees whether one was given.
extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) int __stdcall HeapValidate(void* heap, unsigned long flags, const void* block);

int gFrees = 0;

__declspec(dllexport) int _CrtIsValidHeapPointer(const void* block) { return HeapValidate(GetProcessHeap(), 0, block); }
__declspec(dllexport) void free(void*) { ++gFrees; }
__declspec(dllexport) int StandInFrees() { return gFrees; }
}
