// What a search costs: a port that does not exist, a silent port, a meter on
// the preferred port. Real pseudo-terminals and ovrin-sim processes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "connection/comm_access.h"
#include "platform/platform.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::SimProcess;
using Clock = std::chrono::steady_clock;

// Milliseconds of one search with the given preferred name; the found port is closed.
double SearchMs(const std::string& preferred) {
  OvrinComm comm;
  std::string port = preferred;
  const auto start = Clock::now();
  ovrin::platform::Port* found = OvrinCommAccess::FindAndOpen(comm, port);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (found != ovrin::platform::NoPort()) ovrin::platform::ClosePort(found, ovrin::platform::PendingOutput::kDiscard);
  return ms;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Report(const char* what, const std::vector<std::string>& ports, const std::string& preferred, int runs,
            int perSearch) {
  PortEnvironment environment(ports);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(SearchMs(preferred) / perSearch);
  std::printf("| %-34s | %9.2f | %9.2f |\n", what, Median(times), *std::max_element(times.begin(), times.end()));
}

}  // namespace

int main() {
  ovrin::SetMessageBoxHandler([](const char*, unsigned, void*) -> int { return ovrin::kButtonYes; }, nullptr);
  std::printf("| search (per port where noted)      | median ms |    max ms |\n|---|---:|---:|\n");
  std::vector<std::string> absent;
  for (int i = 0; i < 20; ++i) absent.push_back("/dev/ovrin-absent-" + std::to_string(i));
  Report("absent port, per port", absent, "", 20, 20);
  SimProcess silent1("--silent");
  SimProcess silent2("--silent");
  Report("silent port, per port", {silent1.Path(), silent2.Path()}, "", 5, 2);
  SimProcess meter;
  Report("meter on the preferred port", {meter.Path()}, meter.Path(), 20, 1);
  Report("meter listed after 2 silent ports", {silent1.Path(), silent2.Path(), meter.Path()}, "", 5, 1);
  return 0;
}
