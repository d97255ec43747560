// How the ovrin tool prints replies.
#pragma once

#include <string>

#include "ovrin_comm.h"

namespace ovrin_tool {

// The text DescError gives for a device error code.
std::string ErrorText(int code);
// One reply as a line of text, or as a JSON object.
std::string FormatReply(const MeasureRecord& record, bool json);

}  // namespace ovrin_tool
