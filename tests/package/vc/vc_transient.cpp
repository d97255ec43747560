// A plugin that a host loads and unloads while it works: its runtime,
// MSVCR90.DLL, comes into the process with it and leaves with it.
#include "host_support.h"

extern "C" __declspec(dllexport) int TransientHeapBlocks() { return HeapBlocksInUse(); }
