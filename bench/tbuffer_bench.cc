// Appending 32-bit values to a tbuf against the floor of a std::vector<uint8_t>
// taking the same four bytes.  "Fresh" builds a new container per round (so
// growth is included); "Reused" clears and refills one container (per-append
// cost only).  Rounds append state.range(0) values.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "util/tbuffer.h"

namespace
{

void append_values(tbuf *b, int64_t n)
{
    for (int64_t i = 0; i < n; ++i)
        if (tb_append_uint32(b, uint32(i)) != 0) abort();
}

void push_values(std::vector<uint8_t> &v, int64_t n)
{
    for (int64_t i = 0; i < n; ++i) {
        uint8_t bytes[4];
        const uint32 x = uint32(i);
        memcpy(bytes, &x, 4);
        v.insert(v.end(), bytes, bytes + 4);
    }
}

void BM_TbufAppendUint32Fresh(benchmark::State &state)
{
    for (auto _ : state) {
        owned<tbuf> b;
        if (tb_new(b.out()) != 0) abort();
        append_values(b.get(), state.range(0));
        benchmark::DoNotOptimize(b->bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_VectorPush4Fresh(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<uint8_t> v;
        push_values(v, state.range(0));
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_TbufAppendUint32Reused(benchmark::State &state)
{
    owned<tbuf> b;
    if (tb_new(b.out()) != 0) abort();
    for (auto _ : state) {
        if (tb_set_length(b.get(), 0) != 0) abort();
        append_values(b.get(), state.range(0));
        benchmark::DoNotOptimize(b->bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_VectorPush4Reused(benchmark::State &state)
{
    std::vector<uint8_t> v;
    for (auto _ : state) {
        v.clear();
        push_values(v, state.range(0));
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_TbufAppendUint32Fresh)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_VectorPush4Fresh)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_TbufAppendUint32Reused)->Arg(1024);
BENCHMARK(BM_VectorPush4Reused)->Arg(1024);
