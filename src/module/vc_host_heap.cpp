// Where the block of an object a Visual C++ host made goes back to when the
// face's deleting destructor frees it: to the C runtime whose heap holds the
// block, asked of every Visual C++ runtime loaded in the process. Who calls
// `delete` says nothing about it (a plugin may delete what the program made,
// and a tail-called delete returns to the caller's caller), and a runtime that
// does not hold the block must never free it. A block is freed only when
// exactly one owner answers for it; when none does, or several do (debug
// runtimes that share the process heap each call every block on it theirs),
// the object is destroyed and its memory stays the host's: a leak, never a
// corrupted heap.
#include <windows.h>
// psapi.h after windows.h: EnumProcessModules is kernel32's K32EnumProcessModules.
#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "vc_bridge.h"

namespace {

// The C runtimes of Visual C++, by a module's base name: msvcrt.dll (up to
// 6.0), msvcr70.dll to msvcr120.dll and ucrtbase.dll, and the debug builds of
// the last two kinds (a "d" before ".dll"; msvcrtd.dll, 6.0's, hosts no face
// of MFC 7.0). Sets *debug for a debug build.
bool IsVisualCppRuntime(std::wstring name, bool* debug) {
  for (wchar_t& c : name) c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
  if (name.size() < 5 || name.compare(name.size() - 4, 4, L".dll") != 0) return false;
  std::wstring stem = name.substr(0, name.size() - 4);
  *debug = false;
  if (stem == L"msvcrt") return true;
  *debug = stem.back() == L'd';
  if (*debug) stem.pop_back();
  if (stem == L"ucrtbase") return true;
  return stem.size() > 5 && stem.compare(0, 5, L"msvcr") == 0 &&
         stem.find_first_not_of(L"0123456789", 5) == std::wstring::npos;
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = GetProcAddress(module, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof found, "a function pointer");
  std::memcpy(&function, &found, sizeof function);
  return function;
}

// A runtime module held loaded while it is asked: another thread may unload
// a plugin, and its runtime with it, at any moment.
class HeldRuntime {
 public:
  // Holds the module now at `base`, if it is a Visual C++ runtime.
  explicit HeldRuntime(HMODULE base) {
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(base), &module_)) {
      module_ = nullptr;
      return;
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module_, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      path_.assign(path, length);
      const std::size_t slash = path_.find_last_of(L'\\');
      if (IsVisualCppRuntime(path_.substr(slash == std::wstring::npos ? 0 : slash + 1), &debug_)) return;
    }
    FreeLibrary(module_);
    module_ = nullptr;
  }
  ~HeldRuntime() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HeldRuntime(HeldRuntime&& other) noexcept
      : module_(std::exchange(other.module_, nullptr)), path_(std::move(other.path_)), debug_(other.debug_) {}
  HeldRuntime(const HeldRuntime&) = delete;
  HeldRuntime& operator=(const HeldRuntime&) = delete;
  HeldRuntime& operator=(HeldRuntime&&) = delete;

  bool IsRuntime() const { return module_ != nullptr; }
  HMODULE Module() const { return module_; }
  const std::wstring& Path() const { return path_; }
  bool Debug() const { return debug_; }

 private:
  HMODULE module_ = nullptr;
  std::wstring path_;
  bool debug_ = false;
};

// The modules of the process. The list may change while it is read (a DLL
// loaded or unloaded meanwhile makes EnumProcessModules fail): read again.
std::vector<HMODULE> ProcessModules() {
  const HANDLE process = GetCurrentProcess();
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD needed = 0;
    if (!EnumProcessModules(process, nullptr, 0, &needed)) continue;
    std::vector<HMODULE> modules(needed / sizeof(HMODULE) + 16);  // room for modules loaded meanwhile
    if (!EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
      continue;
    }
    if (needed > modules.size() * sizeof(HMODULE)) continue;
    modules.resize(needed / sizeof(HMODULE));
    return modules;
  }
  return {};
}

bool IsLiveHeap(HANDLE heap) {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);  // room for heaps made meanwhile
  const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  heaps.resize(std::min<std::size_t>(count, heaps.size()));
  return std::find(heaps.begin(), heaps.end(), heap) != heaps.end();
}

using Allocate = void*(__cdecl*)(std::size_t size);
using Release = void(__cdecl*)(void* block);
using IsValidHeapPointer = int(__cdecl*)(const void* block);  // debug builds

// The heap a release runtime takes its blocks from: the process heap that
// holds a block its malloc gives. Large enough that no runtime serves it
// from a small-block heap of its own inside a bigger block.
HANDLE FindHeapOf(const HeldRuntime& runtime) {
  const auto allocate = Export<Allocate>(runtime.Module(), "malloc");
  const auto release = Export<Release>(runtime.Module(), "free");
  if (allocate == nullptr || release == nullptr) return nullptr;
  void* const probe = allocate(4096);
  if (probe == nullptr) return nullptr;
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
  heaps.resize(std::min<std::size_t>(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()), heaps.size()));
  HANDLE found = nullptr;
  for (HANDLE heap : heaps) {
    if (HeapValidate(heap, 0, probe)) found = heap;
  }
  release(probe);
  return found;
}

// Each release runtime's heap, found once: by module and path, so that a
// runtime loaded again at the same place is looked at anew once its old heap
// has gone.
class HeapMap {
 public:
  HANDLE HeapOf(const HeldRuntime& runtime) {
    const Key key{runtime.Module(), runtime.Path()};
    AcquireSRWLockShared(&lock_);
    const auto found = heaps_.find(key);
    const HANDLE known = found != heaps_.end() ? found->second : nullptr;
    ReleaseSRWLockShared(&lock_);
    if (known != nullptr && IsLiveHeap(known)) return known;
    const HANDLE heap = FindHeapOf(runtime);
    AcquireSRWLockExclusive(&lock_);
    try {
      heaps_[key] = heap;
    } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): looked for again next time
    }
    ReleaseSRWLockExclusive(&lock_);
    return heap;
  }

 private:
  using Key = std::pair<HMODULE, std::wstring>;
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::map<Key, HANDLE> heaps_;
};

HeapMap& Heaps() {
  static HeapMap* heaps = new HeapMap;  // never destroyed: a delete may come during static destruction
  return *heaps;
}

// The runtime that alone answers for `block`; none when no runtime or more
// than one does. Release runtimes on one heap free alike (HeapFree on that
// heap) and answer as one; each debug runtime answers for itself.
const HeldRuntime* OnlyOwner(const std::vector<HeldRuntime>& runtimes, const void* block) {
  const HeldRuntime* owner = nullptr;
  HANDLE ownerHeap = nullptr;
  int owners = 0;
  for (const HeldRuntime& runtime : runtimes) {
    if (runtime.Debug()) {
      const auto check = Export<IsValidHeapPointer>(runtime.Module(), "_CrtIsValidHeapPointer");
      if (check == nullptr || check(block) == 0) continue;
      owner = &runtime;
      ++owners;
      continue;
    }
    const HANDLE heap = Heaps().HeapOf(runtime);
    if (heap == nullptr || (owners > 0 && heap == ownerHeap) || !HeapValidate(heap, 0, block)) continue;
    owner = &runtime;
    ownerHeap = heap;
    ++owners;
  }
  return owners == 1 ? owner : nullptr;
}

}  // namespace

void ovrin_vc_free_host_block(void* block) {
  // What the host's own delete calls: the runtime's operator delete (a debug
  // build's frees a block of any type), where it has one, else its free.
  const char* const operatorDelete = sizeof(void*) == 8 ? "??3@YAXPEAX@Z" : "??3@YAXPAX@Z";
  try {
    std::vector<HeldRuntime> runtimes;
    for (HMODULE module : ProcessModules()) {
      HeldRuntime runtime(module);
      if (runtime.IsRuntime()) runtimes.push_back(std::move(runtime));
    }
    const HeldRuntime* const owner = OnlyOwner(runtimes, block);
    if (owner == nullptr) return;  // the block stays the host's
    Release release = Export<Release>(owner->Module(), operatorDelete);
    if (release == nullptr) release = Export<Release>(owner->Module(), "free");
    if (release != nullptr) release(block);
  } catch (const std::bad_alloc&) {
    // No memory to look with: the block stays the host's.
  }
}
