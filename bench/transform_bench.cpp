// Throughput of the transform alone, from memory to memory: the streams are
// fmemopen buffers, so only copies in memory come with it.
#include "transform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Page-aligned, as the pages of a file in the page cache are.
struct PageDelete {
    void operator()(char* p) const { ::operator delete (p, std::align_val_t{4096}); }
};
using Pages = std::unique_ptr<char[], PageDelete>;
Pages pages(std::size_t size)
{
    return Pages(static_cast<char*>(::operator new (size, std::align_val_t{4096})));
}

void negate_in_memory(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const Pages in = pages(size);
    const Pages out = pages(size + 1);
    std::memset(in.get(), 0x5a, size);
    for (auto _ : state) {
        std::FILE* const from = fmemopen(in.get(), size, "rb");
        std::FILE* const to = fmemopen(out.get(), size + 1, "wb");
        negate_odd_words(from, to);
        std::fclose(from);
        std::fclose(to);
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}

} // namespace

BENCHMARK(negate_in_memory)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
