// Text between the library's UTF-8 and Windows' UTF-16.
#pragma once

#include <string>

namespace ovrin_tray {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

}  // namespace ovrin_tray
