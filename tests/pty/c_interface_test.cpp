// The C interface handed bad pointers and time-outs, against a meter on a
// pseudo-terminal: nothing crashes, nothing waits, nothing is taken off the
// queue for nowhere.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ovrin.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;

std::string ProbeOnly(const std::string& command) { return command == "N02N" ? "12....+00000042\r\n" : ""; }
void Ignore(const OvrinReading*, void*) {}

TEST(CInterface, BadPointersDoNothingAndTakeNothing) {
  PtyMeter meter(ProbeOnly);
  PortEnvironment environment({meter.Path()});
  OvrinConnection* connection = ovrin_create();
  OvrinQueue* queue = ovrin_queue_create();
  char port[256];
  ASSERT_EQ(ovrin_open(connection, port, sizeof port, nullptr), 1);
  meter.Send("12....+00000077\r\n");
  OvrinRecord record{};
  for (int i = 0; i < 5000 && record.value1 != 77; ++i) {
    ovrin_latest_record(connection, &record);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(record.value1, 77);

  OvrinReading reading{};
  OvrinPortIdentity identity{};
  unsigned message = 0;
  struct Row {
    const char* call;
    std::function<long long()> run;
    long long expected;
  };
  const Row rows[] = {
      {"ovrin_next_reading(c, NULL)", [&] { return ovrin_next_reading(connection, nullptr); }, 0},
      {"ovrin_wait_reading(c, NULL, -1)", [&] { return ovrin_wait_reading(connection, nullptr, -1); }, -1},
      {"ovrin_next_reading(NULL, r)", [&] { return ovrin_next_reading(nullptr, &reading); }, 0},
      {"ovrin_wait_reading(NULL, r, -1)", [&] { return ovrin_wait_reading(nullptr, &reading, -1); }, -1},
      {"ovrin_latest_record(c, NULL)", [&] { return ovrin_latest_record(connection, nullptr), 0; }, 0},
      {"ovrin_latest_record(NULL, r)",
       [&] { return ovrin_latest_record(nullptr, &record), static_cast<long long>(record.value1); }, 0},
      {"ovrin_open(NULL, port)",
       [&] { return ovrin_open(nullptr, port, sizeof port, nullptr) * 1000LL + static_cast<long long>(port[0]); }, 0},
      {"ovrin_close(NULL)", [&] { return ovrin_close(nullptr); }, 0},
      {"ovrin_measure(NULL)", [&] { return ovrin_measure(nullptr); }, 0},
      {"ovrin_set_listen(NULL)", [&] { return ovrin_set_listen(nullptr, 1), 0; }, 0},
      {"ovrin_dropped_readings(NULL)", [&] { return static_cast<long long>(ovrin_dropped_readings(nullptr)); }, 0},
      {"ovrin_set_reading_capacity(NULL)", [&] { return ovrin_set_reading_capacity(nullptr, 8); }, 0},
      {"ovrin_set_reading_callback(NULL)", [&] { return ovrin_set_reading_callback(nullptr, Ignore, nullptr), 0; }, 0},
      {"ovrin_destroy(NULL)", [&] { return ovrin_destroy(nullptr), 0; }, 0},
      {"ovrin_queue_wait(NULL, m, -1)", [&] { return ovrin_queue_wait(nullptr, &message, -1); }, -1},
      {"ovrin_queue_fd(NULL)", [&] { return ovrin_queue_fd(nullptr); }, -1},
      {"ovrin_identify_port(NULL, i)", [&] { return ovrin_identify_port(nullptr, &identity) * 10 + identity.kind; }, 0},
      {"ovrin_identify_port(port, NULL)", [&] { return ovrin_identify_port(port, nullptr); }, 0},
      // The one call that succeeds: the meter's pseudo-terminal, named as such.
      {"ovrin_identify_port(meter, i)",
       [&] {
         return ovrin_identify_port(meter.Path().c_str(), &identity) * 10 + identity.kind +
                (std::string(identity.description) == "pseudo-terminal" ? 100 : 0);
       },
       115},
      // Below -1 a time-out does not wait, as 0 does not.
      {"ovrin_queue_wait(q, m, -2)", [&] { return ovrin_queue_wait(queue, &message, -2); }, 0},
  };
  for (const Row& row : rows) EXPECT_EQ(row.run(), row.expected) << row.call;

  // The one line the meter sent is still queued.
  ASSERT_EQ(ovrin_next_reading(connection, &reading), 1) << "a bad call took the reading";
  EXPECT_EQ(reading.record.value1, 77);
  EXPECT_EQ(ovrin_wait_reading(connection, &reading, -2), 0) << "below -1: no wait";
  ovrin_destroy(connection);
  ovrin_queue_destroy(queue);
}

}  // namespace
