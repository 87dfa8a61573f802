// Wildcard matching of a six-part node name against the patterns the daemon
// matches configuration changes with, in matches per second
// (items_per_second).
//
// Floors measured in the same run:
//  - BM_Floor_Strcmp: one strcmp of the name against each pattern, the least
//    any matcher that reads both texts must spend;
//  - BM_SplitThenMatch: splitting the name and every pattern into parts
//    first and matching the parts, the straightforward way the text walker
//    replaces.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bnode/bnode.h"

namespace
{

// The intake's pattern table and the change-notification interests, in
// the order the intake tries them.
const char *const config_patterns[] = {
    "/logging/syslog/facility/system",
    "/qz/iptrackd/config/oper/**",
    "/qz/iptrackd/config/action/**",
    "/qz/iptrackd/config/manager/**",
    "/qz/iflabels/**",
    "/qz/iflabels/config/*/*",
    "/net/interface/config/*/label",
    "/qz/tunneld/system/config/router/*/ip/*/label",
    "/qz/tunneld/system/config/router/*/dhcp/*/label",
    "/tun/config/*/config_bin",
    "/tun/config/*",
    "/net/if2/config/virtual/loopback/*/label",
    "/net/if2/config/virtual/vti/*/label",
    "/qz/rtlabels/config/*/is_down_condition_any",
    "/qz/tunneld/system/config/router/**",
    "/qz/redd/net/interface/vrrp/**",
    "/qz/iptrackd/config/manager/*/attributes",
    "/qz/iptrackd/config/oper/*/attributes",
    "/qz/iptrackd/config/action/*/attributes",
    "/qz/iptrackd/**",
};
constexpr size_t num_patterns = sizeof(config_patterns) / sizeof(config_patterns[0]);

// Six-part names: leaves of a manager, an operation and an action, and a
// node of another daemon that only the late patterns decide.
const char *const names[] = {
    "/qz/iptrackd/config/manager/m1/enable",
    "/qz/iptrackd/config/oper/op-17/attributes",
    "/qz/iptrackd/config/action/act_up/attributes",
    "/qz/redd/net/interface/vrrp/eth1",
};
constexpr size_t num_names = sizeof(names) / sizeof(names[0]);

void BM_PatternMatch(benchmark::State &state)
{
    size_t matched = 0;
    for (auto _ : state) {
        for (const char *name : names) {
            for (const char *pattern : config_patterns) {
                matched += bn_binding_name_pattern_match(name, pattern);
            }
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(int64_t(state.iterations()) * num_names * num_patterns);
}
BENCHMARK(BM_PatternMatch);

// The daemon splits each changed name once and matches its parts.
void BM_PartsPatternMatch(benchmark::State &state)
{
    std::vector<tstr_array *> parts(num_names);
    for (size_t i = 0; i < num_names; ++i) {
        if (bn_binding_name_to_parts(names[i], &parts[i], nullptr) != 0) {
            state.SkipWithError("split failed");
            return;
        }
    }
    size_t matched = 0;
    for (auto _ : state) {
        for (tstr_array *p : parts) {
            for (const char *pattern : config_patterns) {
                matched += bn_binding_name_parts_pattern_match(p, true, pattern);
            }
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(int64_t(state.iterations()) * num_names * num_patterns);
    for (tstr_array *&p : parts) (void)tstr_array_free(&p);
}
BENCHMARK(BM_PartsPatternMatch);

void BM_Floor_Strcmp(benchmark::State &state)
{
    int sum = 0;
    for (auto _ : state) {
        for (const char *name : names) {
            for (const char *pattern : config_patterns) {
                benchmark::DoNotOptimize(name);
                sum += strcmp(name, pattern) == 0;
            }
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(int64_t(state.iterations()) * num_names * num_patterns);
}
BENCHMARK(BM_Floor_Strcmp);

void BM_SplitThenMatch(benchmark::State &state)
{
    size_t matched = 0;
    for (auto _ : state) {
        for (const char *name : names) {
            for (const char *pattern : config_patterns) {
                tstr_array *n = nullptr;
                tstr_array *p = nullptr;
                bool na = false;
                bool pa = false;
                if (bn_binding_name_to_parts(name, &n, &na) == 0 &&
                    bn_binding_name_to_parts(pattern, &p, &pa) == 0) {
                    matched += bn_binding_name_parts_pattern_parts_match(n, na, p, pa);
                }
                (void)tstr_array_free(&n);
                (void)tstr_array_free(&p);
            }
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(int64_t(state.iterations()) * num_names * num_patterns);
}
BENCHMARK(BM_SplitThenMatch);

} // namespace
