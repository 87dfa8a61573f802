// Encoding and decoding a 100-node action request (a uint32, a string and
// an ipv4addr binding in turn, names of four parts) in bytes per second,
// beside the floor of copying the same number of bytes with memcpy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mgmt/bnode_proto.h"

namespace
{

constexpr uint32 node_count = 100;

owned<bn_request> make_request()
{
    owned<bn_request> msg;
    if (bn_action_request_msg_create(msg.out(), "/qz/iptrackd/action/ip_mon") != 0) abort();
    for (uint32 i = 0; i < node_count; ++i) {
        const std::string name = "/qz/iptrackd/oper/op" + std::to_string(i);
        int err = 0;
        switch (i % 3) {
        case 0:
            err = bn_action_request_msg_append_new_binding(msg.get(), 0, name.c_str(), bt_uint32,
                                                           "1000", nullptr);
            break;
        case 1:
            err = bn_action_request_msg_append_new_binding(msg.get(), 0, name.c_str(), bt_string,
                                                           "target-host.example", nullptr);
            break;
        default:
            err = bn_action_request_msg_append_new_binding(msg.get(), 0, name.c_str(), bt_ipv4addr,
                                                           "10.20.30.40", nullptr);
        }
        if (err) abort();
    }
    return msg;
}

void BM_RequestEncode(benchmark::State &state)
{
    owned<bn_request> msg = make_request();
    uint32 len = 0;
    for (auto _ : state) {
        owned<tbuf> buf;
        if (bn_request_msg_serialize(msg.get(), bn_frame_header_reserve, buf.out()) != 0) abort();
        len = tb_length(buf.get());
        benchmark::DoNotOptimize(tb_buf(buf.get()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_RequestEncode);

void BM_RequestDecode(benchmark::State &state)
{
    owned<bn_request> msg = make_request();
    owned<tbuf> buf;
    if (bn_request_msg_serialize(msg.get(), 0, buf.out()) != 0) abort();
    const uint32 len = tb_length(buf.get());
    for (auto _ : state) {
        owned<bn_request> back;
        if (bn_request_msg_deserialize(tb_buf(buf.get()), len, back.out()) != 0) abort();
        benchmark::DoNotOptimize(back.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_RequestDecode);

// The floor: copying as many bytes as the encoding holds.
void BM_MemcpyFloor(benchmark::State &state)
{
    owned<bn_request> msg = make_request();
    owned<tbuf> buf;
    if (bn_request_msg_serialize(msg.get(), 0, buf.out()) != 0) abort();
    const uint32 len = tb_length(buf.get());
    std::vector<uint8> dst(len);
    for (auto _ : state) {
        memcpy(dst.data(), tb_buf(buf.get()), len);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_MemcpyFloor);

} // namespace
