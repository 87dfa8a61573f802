// Containers against their standard-library floors, in the same run:
//   ht insert / lookup        vs std::unordered_map<std::string, void *>
//   array append              vs std::vector<void *>::push_back
//   array sorted insertion    vs std::vector upper_bound + insert
// Keys are short strings ("k0000123"); both tables copy the key on insert.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "util/array.h"
#include "util/hash_table.h"

namespace
{

const std::vector<std::string> &keys(size_t n)
{
    static std::unordered_map<size_t, std::vector<std::string>> cache;
    auto &v = cache[n];
    if (v.empty()) {
        v.reserve(n);
        char buf[32];
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof(buf), "k%07zu", i);
            v.emplace_back(buf);
        }
        std::shuffle(v.begin(), v.end(), std::mt19937(42));
    }
    return v;
}

// Copies the key, keeps the value pointer: what the unordered_map does.
int copy_key_set(const void *key, uint32 key_len, void *value, void **ret_key, uint32 *ret_key_len,
                 void **ret_value)
{
    char *k = static_cast<char *>(std::malloc(key_len + 1));
    std::memcpy(k, key, key_len);
    k[key_len] = '\0';
    *ret_key = k;
    *ret_key_len = key_len;
    *ret_value = value;
    return 0;
}

void free_key(void *key, uint32, void *)
{
    std::free(key);
}

owned<ht> fill_ht(const std::vector<std::string> &ks)
{
    ht_options o = ht_default_options;
    o.set = copy_key_set;
    o.free = free_key;
    owned<ht> t;
    if (ht_new(t.out(), &o) != 0) std::abort();
    for (const auto &k : ks)
        if (ht_insert(t.get(), k.data(), static_cast<int32>(k.size()), nullptr) != 0) std::abort();
    return t;
}

void BM_HtInsert(benchmark::State &st)
{
    const auto &ks = keys(static_cast<size_t>(st.range(0)));
    for (auto _ : st) {
        owned<ht> t = fill_ht(ks);
        benchmark::DoNotOptimize(t.get());
        st.PauseTiming();
        t.reset();
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(ks.size()));
}

void BM_StdUnorderedMapInsert(benchmark::State &st)
{
    const auto &ks = keys(static_cast<size_t>(st.range(0)));
    for (auto _ : st) {
        auto *m = new std::unordered_map<std::string, void *>;
        for (const auto &k : ks) (*m)[k] = nullptr;
        benchmark::DoNotOptimize(m);
        st.PauseTiming();
        delete m;
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(ks.size()));
}

void BM_HtLookup(benchmark::State &st)
{
    const auto &ks = keys(static_cast<size_t>(st.range(0)));
    owned<ht> t = fill_ht(ks);
    for (auto _ : st) {
        for (const auto &k : ks) {
            tbool found = false;
            void *v = nullptr;
            (void)ht_lookup(t.get(), k.data(), static_cast<int32>(k.size()), &found, nullptr,
                            nullptr, &v);
            benchmark::DoNotOptimize(found);
        }
    }
    st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(ks.size()));
}

void BM_StdUnorderedMapLookup(benchmark::State &st)
{
    const auto &ks = keys(static_cast<size_t>(st.range(0)));
    std::unordered_map<std::string, void *> m;
    for (const auto &k : ks) m[k] = nullptr;
    for (auto _ : st) {
        for (const auto &k : ks) {
            auto it = m.find(k);
            benchmark::DoNotOptimize(it);
        }
    }
    st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(ks.size()));
}

int copy_value(const void *e, void **ret)
{
    *ret = const_cast<void *>(e);
    return 0;
}

owned<array> value_array()
{
    array_options o;
    (void)array_options_get_defaults(&o);
    o.dup = copy_value;
    owned<array> a;
    if (array_new(a.out(), &o) != 0) std::abort();
    return a;
}

void BM_ArrayAppend(benchmark::State &st)
{
    const int64_t n = st.range(0);
    for (auto _ : st) {
        owned<array> a = value_array();
        for (int64_t i = 1; i <= n; ++i)
            if (array_append(a.get(), reinterpret_cast<void *>(i)) != 0) std::abort();
        benchmark::DoNotOptimize(a.get());
    }
    st.SetItemsProcessed(st.iterations() * n);
}

void BM_StdVectorPushBack(benchmark::State &st)
{
    const int64_t n = st.range(0);
    for (auto _ : st) {
        std::vector<void *> v;
        for (int64_t i = 1; i <= n; ++i) v.push_back(reinterpret_cast<void *>(i));
        benchmark::DoNotOptimize(v.data());
    }
    st.SetItemsProcessed(st.iterations() * n);
}

std::vector<intptr_t> random_values(int64_t n)
{
    std::vector<intptr_t> v(static_cast<size_t>(n));
    std::mt19937 rng(7);
    for (auto &x : v) x = static_cast<intptr_t>(rng() % 1000000) + 1;
    return v;
}

void BM_ArrayInsertSorted(benchmark::State &st)
{
    const auto vals = random_values(st.range(0));
    for (auto _ : st) {
        owned<array> a = value_array();
        for (intptr_t x : vals)
            if (array_insert_sorted(a.get(), reinterpret_cast<void *>(x)) != 0) std::abort();
        benchmark::DoNotOptimize(a.get());
    }
    st.SetItemsProcessed(st.iterations() * st.range(0));
}

void BM_StdVectorInsertSorted(benchmark::State &st)
{
    const auto vals = random_values(st.range(0));
    for (auto _ : st) {
        std::vector<intptr_t> v;
        for (intptr_t x : vals) v.insert(std::upper_bound(v.begin(), v.end(), x), x);
        benchmark::DoNotOptimize(v.data());
    }
    st.SetItemsProcessed(st.iterations() * st.range(0));
}

} // namespace

BENCHMARK(BM_HtInsert)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMapInsert)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtLookup)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMapLookup)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayAppend)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdVectorPushBack)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayInsertSorted)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdVectorInsertSorted)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
