// What a host built by Visual C++ 7.0 with MFC as a DLL has and the test
// hosts need, without a C runtime's or MFC's headers: MFC's CString after
// ATL's layout, with a string manager that counts; the C runtime's heap
// (MSVCR70.DLL's, or the one build_msvc_host.sh --runtime names); the few
// Win32 calls the tests make; the class OvrinComm.
#pragma once

typedef __SIZE_TYPE__ size_t;
struct HWND__;
typedef HWND__* HWND;
typedef void* HANDLE;
class CWinThread;

struct MeasureRecord {
  short kind;
  short reserved1;
  short auxDigit;
  short reserved2;
  int value1;
  int value2;
};

// ---- The C runtime (MSVCR70.DLL) ----
struct HeapEntry {
  int* entry;
  size_t size;
  int used;  // 1 in use
};
extern "C" {
void* malloc(size_t size);
void* realloc(void* block, size_t size);
void free(void* block);
void* memcpy(void* to, const void* from, size_t size);
int printf(const char* format, ...);
int _heapwalk(HeapEntry* entry);
int _heapchk();
}
const int kHeapOk = -2;  // _HEAPOK
void* operator new(size_t size);
void operator delete(void* block) noexcept;
inline void* operator new(size_t, void* place) noexcept { return place; }

// Blocks in use in the C runtime's heap.
inline int HeapBlocksInUse() {
  HeapEntry entry{nullptr, 0, 0};
  int used = 0;
  while (_heapwalk(&entry) == -2) used += entry.used == 1 ? 1 : 0;  // -2: another entry
  return used;
}

// ---- Win32 ----
#if defined(_M_IX86)
#define HOST_API __declspec(dllimport) __stdcall
#define HOST_CALLBACK __stdcall
#define HOST_THISCALL __thiscall
#else
#define HOST_API __declspec(dllimport)
#define HOST_CALLBACK
#define HOST_THISCALL
#endif
typedef void* Block;
struct MSG {
  HWND window;
  unsigned message;
  size_t wParam;
  size_t lParam;
  unsigned long rest[8];
};
extern "C" {
HWND HOST_API CreateWindowExA(unsigned long exStyle, const char* className, const char* name, unsigned long style,
                              int x, int y, int width, int height, HWND parent, void* menu, void* instance,
                              void* parameter);
int HOST_API PeekMessageA(MSG* message, HWND window, unsigned first, unsigned last, unsigned remove);
void HOST_API Sleep(unsigned long milliseconds);
int HOST_API CloseHandle(HANDLE handle);
HANDLE HOST_API HeapCreate(unsigned long options, size_t initialSize, size_t maximumSize);
Block HOST_API HeapAlloc(HANDLE heap, unsigned long flags, size_t size);
int HOST_API HeapValidate(HANDLE heap, unsigned long flags, const void* block);
int HOST_API HeapDestroy(HANDLE heap);
HANDLE HOST_API GetProcessHeap();
int HOST_API HeapFree(HANDLE heap, unsigned long flags, Block block);
void HOST_API ExitProcess(unsigned code);
HANDLE HOST_API CreateThread(void* security, size_t stackSize, unsigned long(HOST_CALLBACK* start)(void* argument),
                             void* argument, unsigned long flags, unsigned long* id);
unsigned long HOST_API WaitForSingleObject(HANDLE handle, unsigned long milliseconds);
Block HOST_API LoadLibraryA(const char* name);
int HOST_API FreeLibrary(void* module);
Block HOST_API GetProcAddress(void* module, const char* name);
}
const HWND kMessageOnly = reinterpret_cast<HWND>(-3);
const HANDLE kInvalidHandle = reinterpret_cast<HANDLE>(-1);
const unsigned kMeasureReady = 1124;
const unsigned kRemove = 1;

// ---- MFC's CString, after ATL's layout ----
namespace ATL {
struct CStringData;
class IAtlStringMgr {
 public:
  virtual CStringData* Allocate(int nAllocLength, int nCharSize) = 0;
  virtual void Free(CStringData* pData) = 0;
  virtual CStringData* Reallocate(CStringData* pData, int nAllocLength, int nCharSize) = 0;
  virtual CStringData* GetNilString() = 0;
  virtual IAtlStringMgr* Clone() = 0;
};
struct CStringData {
  IAtlStringMgr* pStringMgr;
  int nDataLength;
  int nAllocLength;
  long nRefs;
  char* data() { return reinterpret_cast<char*>(this + 1); }
};
template <typename BaseType>
class ChTraitsCRT {};
}  // namespace ATL

template <typename BaseType, class StringTraits = ATL::ChTraitsCRT<BaseType>>
class StrTraitMFC_DLL {};

// Hands out CStringData blocks from MSVCR70's heap and counts them; knows
// each block it gave, so that it can tell one it never gave.
class CountingManager : public ATL::IAtlStringMgr {
 public:
  struct Nil {
    ATL::CStringData data;
    char chars[2];
  };
  constexpr CountingManager() : nil_{{this, 0, 0, 2}, {0, 0}} {}

  ATL::CStringData* Allocate(int length, int charSize) override {
    auto* data = static_cast<ATL::CStringData*>(malloc(sizeof(ATL::CStringData) + (length + 1) * charSize));
    *data = ATL::CStringData{this, 0, length, 1};
    data->data()[0] = 0;
    Keep(data);
    ++allocated;
    return data;
  }
  void Free(ATL::CStringData* data) override {
    if (!Forget(data)) {
      ++foreign;
      return;
    }
    ++freed;
    free(data);
  }
  ATL::CStringData* Reallocate(ATL::CStringData* data, int length, int charSize) override {
    if (!Forget(data)) {
      ++foreign;
      return nullptr;
    }
    data = static_cast<ATL::CStringData*>(realloc(data, sizeof(ATL::CStringData) + (length + 1) * charSize));
    data->nAllocLength = length;
    Keep(data);
    ++reallocated;
    return data;
  }
  ATL::CStringData* GetNilString() override {
    ++nil_.data.nRefs;
    return &nil_.data;
  }
  ATL::IAtlStringMgr* Clone() override { return this; }

  int allocated = 0;
  int freed = 0;
  int reallocated = 0;
  int foreign = 0;  // blocks to free or grow that it never gave, or took back already

 private:
  void Keep(ATL::CStringData* data) {
    for (ATL::CStringData*& slot : given_) {
      if (slot == nullptr) {
        slot = data;
        return;
      }
    }
  }
  bool Forget(ATL::CStringData* data) {
    for (ATL::CStringData*& slot : given_) {
      if (slot == data) {
        slot = nullptr;
        return true;
      }
    }
    return false;
  }

  Nil nil_;
  ATL::CStringData* given_[64] = {};
};

extern CountingManager gManager;

namespace ATL {
template <typename BaseType, class StringTraits>
class CStringT {
 public:
  CStringT() : m_pszData(gManager.GetNilString()->data()) {}
  explicit CStringT(const char* text) : CStringT() {
    int length = 0;
    while (text[length] != 0) ++length;
    if (length == 0) return;
    ATL::CStringData* data = gManager.Allocate(length, 1);
    for (int i = 0; i <= length; ++i) data->data()[i] = text[i];
    data->nDataLength = length;
    Release();
    m_pszData = data->data();
  }
  CStringT(const CStringT& other) : m_pszData(other.m_pszData) { ++Data()->nRefs; }  // shares the buffer
  ~CStringT() { Release(); }
  CStringT& operator=(const CStringT&) = delete;

  CStringData* Data() const { return reinterpret_cast<CStringData*>(m_pszData) - 1; }
  void Release() {
    if (--Data()->nRefs <= 0) Data()->pStringMgr->Free(Data());
  }

  BaseType* m_pszData;
};
}  // namespace ATL
typedef ATL::CStringT<char, StrTraitMFC_DLL<char>> CString;

inline long RefsOf(const CString& text) { return text.Data()->nRefs; }

// ---- Checks ----
inline int gFailures = 0;
inline void Check(bool passed, const char* what) {
  printf("  %s: %s\n", what, passed ? "ok" : "FAILED");
  if (!passed) ++gFailures;
}
inline bool Equal(const char* text, const char* expected) {
  int i = 0;
  while (text[i] != 0 && text[i] == expected[i]) ++i;
  return text[i] == expected[i];
}
inline bool Equal(const CString& text, const char* expected) {
  int length = 0;
  while (expected[length] != 0) ++length;
  return text.Data()->nDataLength == length && Equal(text.m_pszData, expected);
}

// ---- The class, as its interface declares it ----
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

// What Visual C++ compiles delete[] of a class with a virtual destructor to:
// its deleting destructor through the vtable, flags 3.
template <typename T>
void CallDeletingDestructor(T* first, unsigned flags) {
  using Deleting = void*(HOST_THISCALL*)(void* self, unsigned flags);
  Deleting deleting = reinterpret_cast<Deleting>((*reinterpret_cast<void***>(first))[0]);
  deleting(first, flags);
}
