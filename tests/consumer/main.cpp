// Builds against the installed headers alone (C++11) and calls the library.
#include <ovrin_comm.h>

#include <cstdio>
#include <cstring>

static int gCode = 203;
static int* Code() { return &gCode; }

int main() {
  char text[64];
  DescError(Code, text, sizeof text);
  OvrinComm comm;
  const bool ok = std::strcmp(text, "Invalid command or invalid parameter") == 0 && comm.Close() == 0;
  std::printf("%s\n", ok ? "consumer ok" : "consumer FAILED");
  return ok ? 0 : 1;
}
