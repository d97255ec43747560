// The exported headers compile for a Windows host on their own, and bring no
// <windows.h> with them: a host decides itself what of Windows it includes.
#include <ovrin.h>
#include <ovrin_comm.h>
#include <ovrin_readings.h>

#if defined(_WINDOWS_) || defined(_INC_WINDOWS)
#error "an exported header included <windows.h>"
#endif

// A host that includes <windows.h> afterwards passes its HWND as it is.
#include <windows.h>

static_assert(sizeof(ovrin::WindowHandle) == sizeof(HWND), "a window is an HWND");
int PassesAWindow(OvrinComm& comm, std::string& port, HWND window) { return comm.Open(port, window); }
