// ParseReply and line assembly per line, over a mix like a meter's traffic.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "protocol/line_assembler.h"
#include "protocol/reply_parser.h"

namespace {

// Mostly distances, some other data lines, errors, acknowledgements and noise.
const std::vector<std::string> kMix = {
    "31..00+00012345", "31..00+00012398", "31..06-00000250",
    "12....+00001234", "13....+12345678", "14....+12345678",
    "314.03-00000500", "@E252",           "?",
    "99....+00000042", "31..00+00012401", "31..00+00012377",
    "4001..+00000007", "5001..+00000011", "31..00+00099999",
    "31..00+00000001",
};

void BM_ParseReply(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    MeasureRecord record = ovrin::ParseReply(kMix[i++ % kMix.size()].c_str());
    benchmark::DoNotOptimize(record);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseReply);

// Reads of 8 bytes, as a 9600-baud link delivers them to a waiting reader.
void BM_AssembleAndParse(benchmark::State& state) {
  std::string stream;
  for (const std::string& line : kMix) stream += line + "\r\n";
  ovrin::LineAssembler assembler;
  std::int64_t lines = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += 8) {
      const std::size_t count = std::min<std::size_t>({8, stream.size() - at, assembler.SpaceLeft()});
      stream.copy(assembler.Space(), count, at);
      assembler.Commit(count, [&lines](const char* line, std::size_t) {
        MeasureRecord record = ovrin::ParseReply(line);
        benchmark::DoNotOptimize(record);
        ++lines;
      });
    }
  }
  state.SetItemsProcessed(lines);
}
BENCHMARK(BM_AssembleAndParse);

}  // namespace

BENCHMARK_MAIN();
