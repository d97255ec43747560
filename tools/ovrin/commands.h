// The tool's commands, one file each.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"
#include "session.h"

namespace ovrin_tool {

int Find(const Options& options, Listeners& listeners);
int Measure(const Options& options, Listeners& listeners);
int Monitor(const Options& options, Listeners& listeners);
int Serve(const Options& options, Listeners& listeners);
int Type(const Options& options, Listeners& listeners);
int Ports(const Options& options);

// value × scale with `decimals` places, rounded half away from zero, with
// `separator` before the decimals: what `type` types for a reading.
std::string TypedNumber(std::int32_t value, const Scale& scale, int decimals, char separator);

}  // namespace ovrin_tool
