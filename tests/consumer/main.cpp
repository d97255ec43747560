// A C++11 host built against the installed package alone: the error texts,
// and one measurement against the meter on the first port the search finds.
#include <ovrin_readings.h>

#include <cstdio>
#include <cstring>
#include <string>

static int gCode = 203;
static int* Code() { return &gCode; }

int main() {
  char text[64];
  DescError(Code, text, sizeof text);
  if (std::strcmp(text, "Invalid command or invalid parameter") != 0) {
    std::printf("c++ consumer FAILED: DescError gave \"%s\"\n", text);
    return 1;
  }
  OvrinComm comm;
  std::string port;
  if (comm.Open(port, nullptr) != 1) {
    std::printf("c++ consumer FAILED: no meter\n");
    return 1;
  }
  comm.DistanceMeasure();
  ovrin::Reading reading;
  while (ovrin::WaitReading(comm, &reading, 5000) == ovrin::ReadingWait::kTaken) {
    if (reading.record.kind == Reply31) {
      std::printf("c++ consumer ok: distance %d on %s\n", static_cast<int>(reading.record.value1), port.c_str());
      return 0;
    }
  }
  std::printf("c++ consumer FAILED: no distance\n");
  return 1;
}
