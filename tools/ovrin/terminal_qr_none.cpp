// A build without a QR encoder (Windows: Debian packages none for MinGW):
// the links are printed without their picture.
#include "terminal_qr.h"

namespace ovrin_tool {

std::string TerminalQr(const std::string&) { return ""; }

}  // namespace ovrin_tool
