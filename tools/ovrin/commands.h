// The tool's commands, one file each.
#pragma once

#include "options.h"
#include "session.h"

namespace ovrin_tool {

int Find(const Options& options, Listeners& listeners);
int Measure(const Options& options, Listeners& listeners);
int Monitor(const Options& options, Listeners& listeners);
int Serve(const Options& options, Listeners& listeners);
int Ports(const Options& options);

}  // namespace ovrin_tool
