// Parse and print of attribute values ("uint32", "ipv4addr", "string"),
// each beside its floor: the bare C library conversion of the same text
// (strtoul / snprintf, inet_pton / inet_ntop, malloc + memcpy), so the cost
// of the attribute layer is read off as the distance between the two.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bnode/bnode_types.h"

namespace
{

const char *const uint32_text = "4000000000";
const char *const ipv4_text = "192.168.100.200";
const char *const string_text = "/qz/iptrackd/config/manager/m1/attributes";

// Reports the iterations per second of CPU time.
void rate(benchmark::State &state)
{
    state.counters["ops/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void parse(benchmark::State &state, bn_type type, const char *text)
{
    owned<bn_attrib> a;
    if (bn_attrib_new(a.out()) != 0) state.SkipWithError("new failed");
    for (auto _ : state) {
        int err = bn_attrib_set_str(a.get(), ba_value, type, 0, text);
        benchmark::DoNotOptimize(err);
        benchmark::ClobberMemory();
    }
    rate(state);
}

void print(benchmark::State &state, bn_type type, const char *text)
{
    owned<bn_attrib> a;
    if (bn_attrib_new_str(a.out(), ba_value, type, 0, text) != 0)
        state.SkipWithError("parse failed");
    char buf[128];
    for (auto _ : state) {
        int err = bn_attrib_get_buf(a.get(), nullptr, type, nullptr, buf, sizeof buf);
        benchmark::DoNotOptimize(err);
        benchmark::DoNotOptimize(buf);
    }
    rate(state);
}

// Printing into a new heap string, the form most callers use.
void print_heap(benchmark::State &state, bn_type type, const char *text)
{
    owned<bn_attrib> a;
    if (bn_attrib_new_str(a.out(), ba_value, type, 0, text) != 0)
        state.SkipWithError("parse failed");
    for (auto _ : state) {
        char *s = nullptr;
        int err = bn_attrib_get_str(a.get(), nullptr, type, nullptr, &s);
        benchmark::DoNotOptimize(err);
        benchmark::DoNotOptimize(s);
        free(s);
    }
    rate(state);
}

void BM_ParseUint32(benchmark::State &s)
{
    parse(s, bt_uint32, uint32_text);
}
void BM_PrintUint32(benchmark::State &s)
{
    print(s, bt_uint32, uint32_text);
}
void BM_PrintUint32Heap(benchmark::State &s)
{
    print_heap(s, bt_uint32, uint32_text);
}
void BM_ParseIpv4addr(benchmark::State &s)
{
    parse(s, bt_ipv4addr, ipv4_text);
}
void BM_PrintIpv4addr(benchmark::State &s)
{
    print(s, bt_ipv4addr, ipv4_text);
}
void BM_PrintIpv4addrHeap(benchmark::State &s)
{
    print_heap(s, bt_ipv4addr, ipv4_text);
}
void BM_ParseString(benchmark::State &s)
{
    parse(s, bt_string, string_text);
}
void BM_PrintString(benchmark::State &s)
{
    print(s, bt_string, string_text);
}
void BM_PrintStringHeap(benchmark::State &s)
{
    print_heap(s, bt_string, string_text);
}

// Floors.

void BM_FloorParseUint32Strtoul(benchmark::State &state)
{
    for (auto _ : state) {
        char *end = nullptr;
        unsigned long v = strtoul(uint32_text, &end, 10);
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(end);
    }
    rate(state);
}

void BM_FloorPrintUint32Snprintf(benchmark::State &state)
{
    char buf[32];
    uint32 v = 4000000000u;
    benchmark::DoNotOptimize(v);
    for (auto _ : state) {
        int n = snprintf(buf, sizeof buf, "%u", v);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buf);
    }
    rate(state);
}

void BM_FloorParseIpv4InetPton(benchmark::State &state)
{
    in_addr addr;
    for (auto _ : state) {
        int ok = inet_pton(AF_INET, ipv4_text, &addr);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(addr);
    }
    rate(state);
}

void BM_FloorPrintIpv4InetNtop(benchmark::State &state)
{
    in_addr addr;
    (void)inet_pton(AF_INET, ipv4_text, &addr);
    char buf[INET_ADDRSTRLEN];
    for (auto _ : state) {
        const char *p = inet_ntop(AF_INET, &addr, buf, sizeof buf);
        benchmark::DoNotOptimize(p);
    }
    rate(state);
}

void BM_FloorCopyStringMalloc(benchmark::State &state)
{
    const size_t n = strlen(string_text);
    for (auto _ : state) {
        char *p = static_cast<char *>(malloc(n + 1));
        memcpy(p, string_text, n + 1);
        benchmark::DoNotOptimize(p);
        free(p);
    }
    rate(state);
}

BENCHMARK(BM_ParseUint32);
BENCHMARK(BM_FloorParseUint32Strtoul);
BENCHMARK(BM_PrintUint32);
BENCHMARK(BM_PrintUint32Heap);
BENCHMARK(BM_FloorPrintUint32Snprintf);
BENCHMARK(BM_ParseIpv4addr);
BENCHMARK(BM_FloorParseIpv4InetPton);
BENCHMARK(BM_PrintIpv4addr);
BENCHMARK(BM_PrintIpv4addrHeap);
BENCHMARK(BM_FloorPrintIpv4InetNtop);
BENCHMARK(BM_ParseString);
BENCHMARK(BM_PrintString);
BENCHMARK(BM_PrintStringHeap);
BENCHMARK(BM_FloorCopyStringMalloc);

} // namespace
