// A QR code drawn in the terminal, so that a phone's camera can open a link.
#pragma once

#include <string>

namespace ovrin_tool {

// `text` as a QR code of Unicode half blocks, two modules to a character row,
// with the quiet zone around it; "" where this build has no QR encoder.
std::string TerminalQr(const std::string& text);

}  // namespace ovrin_tool
