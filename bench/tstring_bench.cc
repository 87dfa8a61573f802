// tstring speed against its floors: appending short pieces (std::string
// append) and splitting a 1,000-part node name (a plain std::string split
// into a vector, without escapes).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

constexpr const char *kPiece = "part-42/"; // 8 bytes

void BM_TsAppendStrShort(benchmark::State &state)
{
    const auto pieces = static_cast<int>(state.range(0));
    const char *piece = kPiece;
    benchmark::DoNotOptimize(piece); // no constant folding of its length
    for (auto _ : state) {
        owned<tstring> ts;
        if (ts_new(ts.out()) != 0) state.SkipWithError("ts_new");
        for (int i = 0; i < pieces; ++i)
            if (ts_append_str(ts.get(), piece) != 0) state.SkipWithError("append");
        benchmark::DoNotOptimize(ts->buf);
    }
    state.SetBytesProcessed(state.iterations() * pieces * 8);
}
BENCHMARK(BM_TsAppendStrShort)->Arg(16)->Arg(1000)->Arg(100000);

void BM_StdStringAppendShort(benchmark::State &state)
{
    const auto pieces = static_cast<int>(state.range(0));
    const char *piece = kPiece;
    benchmark::DoNotOptimize(piece);
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < pieces; ++i) s.append(piece);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed(state.iterations() * pieces * 8);
}
BENCHMARK(BM_StdStringAppendShort)->Arg(16)->Arg(1000)->Arg(100000);

std::string long_name(int parts)
{
    std::string name;
    for (int i = 0; i < parts; ++i) name += "/part" + std::to_string(i);
    return name;
}

void BM_TsTokenizeName(benchmark::State &state)
{
    const std::string name = long_name(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        owned<tstr_array> parts;
        if (ts_tokenize_str(name.c_str(), '/', '\\', 0, 0x04 | 0x08 | 0x20, parts.out()) != 0)
            state.SkipWithError("tokenize");
        benchmark::DoNotOptimize(parts.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TsTokenizeName)->Arg(1000);

void BM_StdSplitName(benchmark::State &state)
{
    const std::string name = long_name(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<std::string> parts;
        size_t start = 1;
        while (start <= name.size()) {
            size_t end = name.find('/', start);
            if (end == std::string::npos) end = name.size();
            parts.emplace_back(name, start, end - start);
            start = end + 1;
        }
        benchmark::DoNotOptimize(parts.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StdSplitName)->Arg(1000);

void BM_TsJoinName(benchmark::State &state)
{
    owned<tstr_array> parts;
    const std::string name = long_name(static_cast<int>(state.range(0)));
    if (ts_tokenize_str(name.c_str(), '/', '\\', 0, 0x04 | 0x08 | 0x20, parts.out()) != 0)
        state.SkipWithError("tokenize");
    for (auto _ : state) {
        owned<tstring> joined;
        if (ts_join_tokens(parts.get(), '/', '\\', 0, 0x100, joined.out()) != 0)
            state.SkipWithError("join");
        benchmark::DoNotOptimize(joined.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TsJoinName)->Arg(1000);

} // namespace
