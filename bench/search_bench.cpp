// What a search costs: a port that does not exist, a silent port, a meter on
// the preferred port; and the classic search against the concurrent one as
// silent ports are listed before the meter, and with a port whose open takes
// 5 s (bench/peers/slow_open_shim.c, which this program preloads for itself).
// Real pseudo-terminals and ovrin-sim processes.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connection/comm_access.h"
#include "connection/concurrent_search.h"
#include "platform/platform.h"
#include "pty_meter.h"

namespace {

using testing_support::PortEnvironment;
using testing_support::PtyMeter;
using testing_support::SimProcess;
using Clock = std::chrono::steady_clock;

// Milliseconds of one search with the given preferred name; the found port is closed.
double SearchMs(const std::string& preferred, bool concurrent = false) {
  OvrinComm comm;
  std::string port = preferred;
  const auto start = Clock::now();
  ovrin::platform::Port* found =
      concurrent ? ovrin::SearchConcurrently(comm, port) : OvrinCommAccess::FindAndOpen(comm, port);
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

// Median of `runs` searches of each kind, the meter listed last.
void Compare(const char* what, const std::vector<std::string>& ports, int classicRuns, int concurrentRuns) {
  PortEnvironment environment(ports);
  std::vector<double> classic;
  std::vector<double> concurrent;
  for (int i = 0; i < classicRuns; ++i) classic.push_back(SearchMs(""));
  for (int i = 0; i < concurrentRuns; ++i) concurrent.push_back(SearchMs("", true));
  std::printf("| %-34s | %10.0f | %13.1f |\n", what, Median(classic), Median(concurrent));
}

// Runs again with the slow-open shim preloaded, unless it is.
void PreloadSlowOpen(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload != nullptr && std::strstr(preload, OVRIN_SLOW_OPEN_SHIM) != nullptr) return;
  setenv("LD_PRELOAD", OVRIN_SLOW_OPEN_SHIM, 1);
  execv("/proc/self/exe", argv);
  std::perror("search_bench: cannot preload the slow-open shim");
}

}  // namespace

int main(int, char** argv) {
  PreloadSlowOpen(argv);
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

  std::printf("\n| meter listed after                 | classic ms | concurrent ms |\n|---|---:|---:|\n");
  std::vector<std::unique_ptr<PtyMeter>> silent;
  for (int i = 0; i < 64; ++i) silent.push_back(std::make_unique<PtyMeter>([](const std::string&) { return ""; }));
  for (const int count : {0, 4, 16, 64}) {
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i) ports.push_back(silent[static_cast<std::size_t>(i)]->Path());
    ports.push_back(meter.Path());
    const std::string what = std::to_string(count) + " silent ports";
    Compare(what.c_str(), ports, count >= 16 ? 1 : 3, 11);
  }
  setenv("OVRIN_SLOW_OPEN", silent1.Path().c_str(), 1);
  setenv("OVRIN_SLOW_OPEN_MS", "5000", 1);
  Compare("a port whose open takes 5 s", {silent1.Path(), meter.Path()}, 1, 3);
  return 0;
}
