// OvrinComm as Visual C++ 7.0 and MFC hosts declare, call and lay it out:
// compiled for Visual C++'s ABI (decorated names, __thiscall on x86, the
// callee destroying by-value arguments), with no C runtime. Each member
// converts its arguments and hands over to the connection code through
// vc_bridge.h; nothing of the connection is done here.
#include "../vc_bridge.h"
#include "atl_string.h"

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

class __declspec(dllexport) OvrinComm {
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
  HANDLE FindAndOpen(CString& port);
  int SendMsg(HANDLE port, CString text);

  // Where the host's layout has them; the connection code reads and writes them.
  [[maybe_unused]] int isOpen;
  [[maybe_unused]] HANDLE portHandle;
  [[maybe_unused]] HWND notifyWindow;
  [[maybe_unused]] HANDLE listenEvent;
  [[maybe_unused]] HANDLE idleEvent;
  [[maybe_unused]] CWinThread* receiveThread;
};

__declspec(dllexport) void DescError(int* (*codeSource)(), char* buffer, int bufferLength);

static_assert(sizeof(OvrinComm) == (sizeof(void*) == 8 ? 72 : 44), "a vtable pointer and the seven fields");

#if defined(_M_IX86)
#define OVRIN_THISCALL __thiscall
#else
#define OVRIN_THISCALL
#endif

namespace {

HANDLE const kNoPort = reinterpret_cast<HANDLE>(-1);

// Visual C++'s deleting destructor, the one slot of the vtable: bit 0 of
// flags frees the memory, bit 1 means an array made by new[] (its count in
// the word before the first object). The memory goes back to the C runtime
// whose heap holds it, whichever module made or deletes the object: the
// library's own runtime never had it.
void* OVRIN_THISCALL DeletingDestructor(OvrinComm* self, unsigned flags) {
  void* block = self;
  if ((flags & 2) != 0) {
    auto* count = reinterpret_cast<__SIZE_TYPE__*>(self) - 1;
    for (__SIZE_TYPE__ i = *count; i > 0; --i) self[i - 1].OvrinComm::~OvrinComm();
    block = count;
  } else {
    self->OvrinComm::~OvrinComm();
  }
  if ((flags & 1) != 0) ovrin_vc_free_host_block(block);
  return block;
}

// The vtable the constructors install: the compiler's own would free with a
// runtime's delete and knows no arrays.
void* const kVtable[] = {reinterpret_cast<void*>(&DeletingDestructor)};

void InstallVtable(OvrinComm* self) { *reinterpret_cast<void* const**>(self) = kVtable; }

}  // namespace

// The compiler's own deleting destructor, which no vtable of the face names,
// still refers to a global delete: it is never called.
void operator delete(void*) noexcept { __builtin_trap(); }

OvrinComm::OvrinComm() {
  ovrin_vc_construct(this);
  InstallVtable(this);
}

OvrinComm::OvrinComm(const OvrinComm& other) {
  ovrin_vc_copy(this, &other);
  InstallVtable(this);
}

OvrinComm& OvrinComm::operator=(const OvrinComm& other) {
  ovrin_vc_assign(this, &other);
  return *this;
}

OvrinComm::~OvrinComm() { ovrin_vc_destroy(this); }

int OvrinComm::Open(CString& port, HWND notifyWindow) {
  char name[OVRIN_VC_PORT_SIZE];
  int length = 0;
  const int opened = ovrin_vc_open(this, name, &length, notifyWindow);
  // An open connection whose port the host's string cannot take is no success.
  if (ovrin_vc::Assign(port, name, length)) return opened;
  if (opened != 0) Close();
  return 0;
}

int OvrinComm::Close() { return ovrin_vc_close(this); }
int OvrinComm::DistanceMeasure() { return ovrin_vc_measure(this); }
void OvrinComm::SetListen(int listen) { ovrin_vc_set_listen(this, listen); }
int OvrinComm::SendCommand(unsigned a, unsigned b, unsigned c) { return ovrin_vc_send_command(this, a, b, c); }

HANDLE OvrinComm::FindAndOpen(CString& port) {
  char name[OVRIN_VC_PORT_SIZE];
  int length = 0;
  HANDLE found = ovrin_vc_find_and_open(this, port.m_pszData, ovrin_vc::DataOf(port)->nDataLength, name, &length);
  if (found == kNoPort || ovrin_vc::Assign(port, name, length)) return found;
  ovrin_vc_release_port(found);
  return kNoPort;
}

// `text` is this call's own copy: Visual C++ has the callee destroy it, which
// the compiler does here on return (CStringT's destructor below).
int OvrinComm::SendMsg(HANDLE port, CString text) {
  return ovrin_vc_send_msg(this, port, text.m_pszData, ovrin_vc::DataOf(text)->nDataLength);
}

void DescError(int* (*codeSource)(), char* buffer, int bufferLength) {
  ovrin_vc_desc_error(codeSource, buffer, bufferLength);
}
