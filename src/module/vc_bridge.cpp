// The connection code behind the Visual C++ face (vc/): the host's object is
// treated as the OvrinComm it is laid out as. Only the constructors write a
// vtable pointer, and the face's is put back after them: nothing here calls
// through one.
#include "vc_bridge.h"

#include <cstring>
#include <new>
#include <string>

#include "connection/comm_access.h"
#include "ovrin_comm.h"
#include "platform/platform.h"

// The face's object is a vtable pointer and the seven fields, as here.
static_assert(sizeof(OvrinComm) == (sizeof(void*) == 8 ? 72 : 44), "OvrinComm as Visual C++ lays it out");

namespace {

OvrinComm& Comm(void* object) { return *static_cast<OvrinComm*>(object); }
const OvrinComm& Comm(const void* object) { return *static_cast<const OvrinComm*>(object); }

// Runs a constructor of the connection on the host's object and keeps the
// face's vtable pointer, which the constructor overwrites.
template <typename Construct>
void KeepingVtable(void* object, Construct construct) {
  void* vtable = nullptr;
  std::memcpy(&vtable, object, sizeof vtable);
  construct();
  std::memcpy(object, &vtable, sizeof vtable);
}

int CopyOut(const std::string& name, char* port, int* portLength) {
  const std::size_t length = name.size() < OVRIN_VC_PORT_SIZE ? name.size() : OVRIN_VC_PORT_SIZE - 1;
  std::memcpy(port, name.data(), length);
  port[length] = '\0';
  *portLength = static_cast<int>(length);
  return *portLength;
}

}  // namespace

void ovrin_vc_construct(void* object) {
  KeepingVtable(object, [object] { new (object) OvrinComm; });
}

void ovrin_vc_copy(void* object, const void* other) {
  KeepingVtable(object, [object, other] { new (object) OvrinComm(Comm(other)); });
}

void ovrin_vc_assign(void* object, const void* other) { Comm(object) = Comm(other); }

void ovrin_vc_destroy(void* object) { Comm(object).OvrinComm::~OvrinComm(); }

int ovrin_vc_open(void* object, char* port, int* portLength, void* window) {
  std::string name;
  const int opened = Comm(object).Open(name, static_cast<ovrin::WindowHandle>(window));
  CopyOut(name, port, portLength);
  return opened;
}

void* ovrin_vc_find_and_open(void* object, const char* preferred, int preferredLength, char* port, int* portLength) {
  std::string name(preferred, static_cast<std::size_t>(preferredLength));
  ovrin::platform::Port* found = OvrinCommAccess::FindAndOpen(Comm(object), name);
  CopyOut(name, port, portLength);
  return found;
}

void ovrin_vc_release_port(void* port) {
  ovrin::platform::ClosePort(static_cast<ovrin::platform::Port*>(port), ovrin::platform::PendingOutput::kDiscard);
}

int ovrin_vc_send_msg(void* object, void* port, const char* text, int length) {
  return OvrinCommAccess::SendMsg(Comm(object), static_cast<ovrin::platform::Port*>(port),
                                  std::string(text, static_cast<std::size_t>(length)));
}

int ovrin_vc_close(void* object) { return Comm(object).Close(); }
int ovrin_vc_measure(void* object) { return Comm(object).DistanceMeasure(); }
void ovrin_vc_set_listen(void* object, int listen) { Comm(object).SetListen(listen); }
int ovrin_vc_send_command(void* object, unsigned a, unsigned b, unsigned c) {
  return Comm(object).SendCommand(a, b, c);
}

void ovrin_vc_desc_error(int* (*codeSource)(void), char* buffer, int bufferLength) {
  DescError(codeSource, buffer, bufferLength);
}
