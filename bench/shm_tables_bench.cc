// Interface lookups by name in the shared interface table (4,096
// interfaces), against the floor: a std::unordered_map from name to the same
// record, looked up with the same keys in the same order and copied out.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "appliance/qz_shm_publish.h"
#include "appliance/qz_shm_tables.h"

namespace
{

constexpr uint32 interfaces = 4096;

struct fixture {
    std::vector<std::string> names;
    std::unordered_map<std::string, qz_l3if_info> map;
    owned<qz_shm_publisher> pub;
    const cmem_block *table = nullptr;

    fixture()
    {
        const std::string prefix = "ipt-bench-" + std::to_string(getpid()) + "-";
        cmem_set_name_prefix_for_tests(prefix.c_str());
        if (qz_shm_pub_open(qz_shm_kind_l3if, nullptr, interfaces, pub.out()) != 0) abort();
        for (uint32 i = 0; i < interfaces; ++i) {
            qz_l3if_info info{};
            snprintf(info.name, sizeof info.name, "%s%u", i % 2 ? "lan" : "wan", i);
            snprintf(info.label, sizeof info.label, "label%u", i % 64);
            info.kind = qz_l3if_kind_port;
            info.ip_version = 4;
            if (lc_str_to_ipaddr_quiet("10.0.0.1", &info.address) != 0) abort();
            if (qz_shm_pub_put_l3if(pub.get(), &info) != 0) abort();
            names.emplace_back(info.name);
            map.emplace(info.name, info);
        }
        if (cmem_attach_block_read_only(QZ_SHM_L3IF, &table) != 0) abort();
        // Probe in a scattered order so that neither side walks memory in
        // insertion order.
        for (size_t i = 0; i < names.size(); ++i)
            std::swap(names[i], names[(i * 2654435761u) % names.size()]);
    }
    ~fixture()
    {
        (void)qz_shm_pub_unlink(QZ_SHM_L3IF);
        cmem_detach_all();
        cmem_set_name_prefix_for_tests(nullptr);
    }
};

fixture &shared()
{
    static fixture f;
    return f;
}

void BM_SharedTableLookupByName(benchmark::State &state)
{
    fixture &f = shared();
    size_t i = 0;
    for (auto _ : state) {
        qz_l3if_info info;
        if (qz_l3if_get_by_name(f.table, f.names[i].c_str(), &info) != 0) abort();
        benchmark::DoNotOptimize(info);
        i = (i + 1) % f.names.size();
    }
}
BENCHMARK(BM_SharedTableLookupByName);

// Floor: the same keys in a process-private hash map, the record copied out.
void BM_UnorderedMapLookupByName(benchmark::State &state)
{
    fixture &f = shared();
    size_t i = 0;
    for (auto _ : state) {
        auto it = f.map.find(f.names[i]);
        if (it == f.map.end()) abort();
        qz_l3if_info info = it->second;
        benchmark::DoNotOptimize(info);
        i = (i + 1) % f.names.size();
    }
}
BENCHMARK(BM_UnorderedMapLookupByName);

} // namespace
