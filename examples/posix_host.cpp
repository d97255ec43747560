// A POSIX host: opens the meter, measures a few times, and handles the
// library's notifications in a poll loop beside its other descriptors.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ovrin_comm.h"

namespace {

int gCode;
int* CurrentCode() { return &gCode; }

}  // namespace

int main(int argc, char** argv) {
  const int measurements = argc > 1 ? std::atoi(argv[1]) : 3;
  ovrin::NotifyQueue queue;  // stands in for a window
  OvrinComm meter;
  std::string port;
  if (meter.Open(port, &queue) != 1) {
    std::fprintf(stderr, "no meter found\n");
    return 1;
  }
  std::printf("meter on %s\n", port.c_str());

  int taken = 0;
  meter.DistanceMeasure();
  while (taken < measurements) {
    // A real host polls its sockets, timers, ... here as well.
    pollfd fds[] = {{queue.Fd(), POLLIN, 0}};
    if (poll(fds, 1, 5000) <= 0) {
      std::fprintf(stderr, "no reply\n");
      return 1;
    }
    ovrin::Notification note{};
    while (queue.Wait(note, 0)) {
      if (note.message == WM_LINK_LOST) {
        std::fprintf(stderr, "the meter is gone\n");
        return 1;
      }
      // The record holds the latest reply; read it when told.
      const MeasureRecord record = meter.measurement;
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
  }
  meter.Close();
  return 0;
}
