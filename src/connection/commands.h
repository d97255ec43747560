// The bytes of the commands, for those that report what was written.
#pragma once

#include <string>

namespace ovrin {

// What SendMsg writes for `text`: the text, CR, LF and a NUL.
std::string CommandFrame(const std::string& text);

}  // namespace ovrin
