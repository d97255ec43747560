#include <cstdio>

#include "commands.h"

namespace ovrin_tool {

int Find(const Options& options, Listeners& listeners) {
  listeners.verbose = options.verbose;
  OvrinComm comm;
  std::string port;
  if (!OpenMeter(comm, options, listeners, &port, false)) return kNoMeter;
  std::printf("%s\n", port.c_str());
  comm.Close();
  return kOk;
}

}  // namespace ovrin_tool
