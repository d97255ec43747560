#include <cstdio>

#include "commands.h"

namespace ovrin_tool {

int Serve(const Options&, Listeners&) {
  std::fprintf(stderr, "ovrin: serve is not built yet\n");
  return kCannotServe;
}

}  // namespace ovrin_tool
