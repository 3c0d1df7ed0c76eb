// Throughput of the transform alone, from memory to memory.
#include "transform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

static void negate_in_memory(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<char> in(size, '\x5a');
    std::vector<char> out(size + 1);
    for (auto _ : state) {
        std::FILE* const from = fmemopen(in.data(), size, "rb");
        std::FILE* const to = fmemopen(out.data(), out.size(), "wb");
        negate_odd_words(from, to);
        std::fclose(from);
        std::fclose(to);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}
BENCHMARK(negate_in_memory)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
