// Defining and looking up a module's worth of symbols.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "Assembler.h"

namespace {

std::vector<std::string> Names(int count) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) names.push_back(std::string("symbol_").append(std::to_string(i * 7919)));
  return names;
}

void DefineAndLookUp(benchmark::State& state) {
  const auto names = Names(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::ostringstream out;
    torvik::CObjectFile image;
    torvik::CAssembler assembler(image, out);
    torvik::CSymTable& symbols = assembler.Symbols();
    std::int32_t value = 0;
    for (const auto& name : names) symbols.Define(name, value++ & 0x3FFF, false, true, false, std::nullopt);
    std::int64_t sum = 0;
    for (const auto& name : names) sum += symbols.Value(name);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(DefineAndLookUp)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
