// Cost of logging: a message filtered out by level (the common case for
// DEBUG lines) must cost no more than the level check, and is compared with
// an empty loop; a written message is measured up to a sink that drops it.
#include <benchmark/benchmark.h>

#include "log/logging.h"

namespace
{

void drop(int, const char *line, void *)
{
    benchmark::DoNotOptimize(line);
}

// A daemon-like logger at `level`; written lines go to `sink` (null: syslog).
void setup(int32 level, lc_log_sink_fn sink)
{
    (void)lc_log_init("log_bench", nullptr, 0, lc_log_component_word(269), LCL_DEBUG, LOG_USER,
                      lc_log_output_syslog);
    lc_log_set_effective_level_for_tests(level);
    lc_log_set_sink(sink, nullptr);
}

// The floor: the same loop with nothing in it.
void BM_EmptyLoop(benchmark::State &state)
{
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(i);
        ++i;
    }
}
BENCHMARK(BM_EmptyLoop);

void BM_FilteredDebug(benchmark::State &state)
{
    setup(LCL_NOTICE, nullptr);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(i);
        lc_log_basic(LCL_DEBUG, "filtered %d %s", i, "never formatted");
        ++i;
    }
}
BENCHMARK(BM_FilteredDebug);

void BM_WrittenToSink(benchmark::State &state)
{
    setup(LCL_DEBUG, drop);
    int i = 0;
    for (auto _ : state) {
        lc_log_basic(LCL_INFO, "written %d %s", i, "to the sink");
        ++i;
    }
    lc_log_set_sink(nullptr, nullptr);
}
BENCHMARK(BM_WrittenToSink);

void BM_WrittenWithSourceInfo(benchmark::State &state)
{
    setup(LCL_DEBUG, drop);
    for (auto _ : state) lc_bail_report_error(lc_err_not_found, __func__, __FILE__, __LINE__);
    lc_log_set_sink(nullptr, nullptr);
}
BENCHMARK(BM_WrittenWithSourceInfo);

} // namespace
