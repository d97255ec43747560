// Where the block of an object a Visual C++ host made goes back to when the
// face's deleting destructor frees it: to the C runtime whose heap holds the
// block, asked of every Visual C++ runtime loaded in the process. Who calls
// `delete` says nothing about it (a plugin may delete what the program made,
// and a tail-called delete returns to the caller's caller), and a runtime that
// does not hold the block must never free it.
#include <windows.h>
// psapi.h after windows.h: EnumProcessModules is kernel32's K32EnumProcessModules.
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "vc_bridge.h"

namespace {

// The C runtimes of Visual C++, by a module's base name: msvcrt.dll (up to
// 6.0), msvcr70.dll to msvcr120.dll and ucrtbase.dll, and the debug builds of
// the last two kinds (a "d" before ".dll"; msvcrtd.dll, 6.0's, hosts no face
// of MFC 7.0). Sets *debug for a debug build.
bool IsVisualCppRuntime(std::string name, bool* debug) {
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (name.size() < 5 || name.compare(name.size() - 4, 4, ".dll") != 0) return false;
  std::string stem = name.substr(0, name.size() - 4);
  *debug = false;
  if (stem == "msvcrt") return true;
  *debug = stem.back() == 'd';
  if (*debug) stem.pop_back();
  if (stem == "ucrtbase") return true;
  return stem.size() > 5 && stem.compare(0, 5, "msvcr") == 0 &&
         stem.find_first_not_of("0123456789", 5) == std::string::npos;
}

struct Runtime {
  HMODULE module;
  bool debug;
};

// Every Visual C++ runtime loaded in the process, release builds first: a
// debug build's check looks at the header before the block, which a block of
// a release build lacks.
std::vector<Runtime> LoadedRuntimes() {
  const HANDLE process = GetCurrentProcess();
  DWORD needed = 0;
  if (!EnumProcessModules(process, nullptr, 0, &needed)) return {};
  std::vector<HMODULE> modules(needed / sizeof(HMODULE) + 16);  // room for modules loaded meanwhile
  if (!EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
    return {};
  }
  modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
  std::vector<Runtime> runtimes;
  for (const bool debugPass : {false, true}) {
    for (HMODULE module : modules) {
      char path[MAX_PATH] = {};
      const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
      if (length == 0 || length >= MAX_PATH) continue;
      const std::string file(path, length);
      bool debug = false;
      if (IsVisualCppRuntime(file.substr(file.find_last_of('\\') + 1), &debug) && debug == debugPass) {
        runtimes.push_back({module, debug});
      }
    }
  }
  return runtimes;
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = GetProcAddress(module, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof found, "a function pointer");
  std::memcpy(&function, &found, sizeof function);
  return function;
}

// The heaps that exist now: a runtime whose heap is gone (its DLL detached
// at exit) holds nothing.
bool IsLiveHeap(HANDLE heap) {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);  // room for heaps made meanwhile
  const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  heaps.resize(std::min<std::size_t>(count, heaps.size()));
  return std::find(heaps.begin(), heaps.end(), heap) != heaps.end();
}

// What each runtime has to tell whether its heap holds a block.
using IsValidHeapPointer = int(__cdecl*)(const void* block);  // debug builds
using GetHeapHandle = intptr_t(__cdecl*)();                   // msvcr80 and later, msvcrt, ucrtbase
struct HeapInfo {
  int* entry;
  size_t size;
  int used;
};
using HeapWalk = int(__cdecl*)(HeapInfo* info);  // every one; walks the runtime's own heap
constexpr int kHeapWalkEntry = -2;               // _HEAPOK: one more entry
constexpr int kUsedEntry = 1;                    // _USEDENTRY

bool HoldsBlock(const Runtime& runtime, const void* block) {
  if (runtime.debug) {
    const auto check = Export<IsValidHeapPointer>(runtime.module, "_CrtIsValidHeapPointer");
    return check != nullptr && check(block) != 0;
  }
  if (const auto heapOf = Export<GetHeapHandle>(runtime.module, "_get_heap_handle")) {
    const auto heap = reinterpret_cast<HANDLE>(heapOf());
    return IsLiveHeap(heap) && HeapValidate(heap, 0, block);
  }
  // msvcr70 names no heap: its own walk looks for the block among its entries.
  const auto walk = Export<HeapWalk>(runtime.module, "_heapwalk");
  if (walk == nullptr) return false;
  HeapInfo info{nullptr, 0, 0};
  while (walk(&info) == kHeapWalkEntry) {
    if (info.entry == block) return info.used == kUsedEntry;
  }
  return false;
}

}  // namespace

void ovrin_vc_free_host_block(void* block) {
  // What the host's own delete calls: the runtime's operator delete (a debug
  // build's frees a block of any type), where it has one, else its free.
  using Release = void(__cdecl*)(void* block);
  const char* const operatorDelete = sizeof(void*) == 8 ? "??3@YAXPEAX@Z" : "??3@YAXPAX@Z";
  try {
    for (const Runtime& runtime : LoadedRuntimes()) {
      if (!HoldsBlock(runtime, block)) continue;
      Release release = Export<Release>(runtime.module, operatorDelete);
      if (release == nullptr) release = Export<Release>(runtime.module, "free");
      if (release != nullptr) release(block);
      return;
    }
  } catch (const std::bad_alloc&) {
    // No memory to look with: the block stays the host's.
  }
  // No runtime holds it: the host got it from an allocator of its own (a
  // runtime linked into its program, or none), and it stays the host's.
}
