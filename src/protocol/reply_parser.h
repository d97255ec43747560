// Decoding of the meter's reply lines into MeasureRecord.
#pragma once

#include "ovrin_types.h"

namespace ovrin {

// Decodes one reply line (NUL-terminated, without its CR LF). Every line
// yields a record; fields a line lacks are 0.
MeasureRecord ParseReply(const char* line);

}  // namespace ovrin
