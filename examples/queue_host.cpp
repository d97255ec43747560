// A host with threads of its own: it opens the meter without a window and
// takes every reply line, once and in order, from the connection's queue of
// readings. Works the same on every platform.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ovrin_readings.h"

namespace {

int gCode;
int* CurrentCode() { return &gCode; }

}  // namespace

int main(int argc, char** argv) {
  const int measurements = argc > 1 ? std::atoi(argv[1]) : 3;
  OvrinComm meter;
  std::string port;
  if (meter.Open(port, nullptr) != 1) {  // no window: readings only
    std::fprintf(stderr, "no meter found\n");
    return 1;
  }
  std::printf("meter on %s\n", port.c_str());

  int taken = 0;
  meter.DistanceMeasure();
  while (taken < measurements) {
    ovrin::Reading reading{};
    switch (ovrin::WaitReading(meter, &reading, 5000)) {
      case ovrin::ReadingWait::kTimedOut:
        std::fprintf(stderr, "no reply\n");
        return 1;
      case ovrin::ReadingWait::kNoMore:
        std::fprintf(stderr, "the meter is gone\n");
        return 1;
      case ovrin::ReadingWait::kTaken:
        break;
    }
    const MeasureRecord& record = reading.record;  // this line's own record, whatever came after it
    if (record.kind == ReplyError) {
      char text[64];
      gCode = record.value1;
      DescError(CurrentCode, text, sizeof text);
      std::printf("error %d: %s\n", static_cast<int>(record.value1), text);
    } else if (record.kind != ReplyNone) {
      std::printf("distance %d\n", static_cast<int>(record.value1));
    } else {
      continue;  // the meter's answer to the start-up command
    }
    if (++taken < measurements) meter.DistanceMeasure();
  }
  meter.Close();
  return 0;
}
