// Throughput of the digest text parser on a large text of written records.
#include <benchmark/benchmark.h>

#include <clocale>
#include <string>

#include "digest/digest_parser.h"

namespace {

std::string Records(std::size_t bytes) {
  std::string text;
  text.reserve(bytes + 128);
  for (std::size_t i = 0; text.size() < bytes; ++i) {
    text += "d41d8cd98f00b204e9800998ecf8427e *folder name/file number ";
    text += std::to_string(i);
    text += ".dat\n";
  }
  return text;
}

void BM_Parse(benchmark::State& state) {
  std::setlocale(LC_ALL, "C.UTF-8");
  const std::string text = Records(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    digest::DigestList list;
    digest::DigestParser parser(list);
    benchmark::DoNotOptimize(parser.Parse(text.c_str(), common::CALG_MD5));
    state.counters["records"] = static_cast<double>(list.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Parse)
    ->Arg(100 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
