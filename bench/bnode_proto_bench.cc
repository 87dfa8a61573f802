// Encoding and decoding a 100-node action request (a uint32, a string and
// an ipv4addr binding in turn, names of four parts) in bytes per second,
// beside floors in the same run:
// - a hand-written bounds-checked cursor that writes the same fields from
//   plain structures (it checks that its bytes equal the codec's), and
//   reads them back either into borrowed views (nothing allocated) or into
//   owned standard strings, freed each round as the codec's message is;
// - copying the same number of bytes with memcpy.
// The codec is held to 3x the encode floor and 8x the owned decode floor:
// decoding builds the message model (a string per name part, arrays, the
// joined name), which the view floor does not.
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

// ---------------------------------------------------------------------------
// The hand-written floor: the same request as plain fields.

struct plain_node {
    uint32 id;
    std::string name; // absolute, parts split on "/" (no escapes in these names)
    uint32 type;
    uint32 number;    // uint32 and ipv4addr values
    std::string text; // string values
};

struct plain_request {
    uint32 msg_id = 0, transaction_id = 0;
    std::vector<plain_node> nodes;
    std::string action;
};

// What decoding leaves: field values and borrowed views, nothing allocated.
struct decoded_node {
    uint32 id, parts, type, number;
    const uint8 *part[8];
    uint32 part_len[8];
    const uint8 *text;
    uint32 text_len;
};

constexpr uint32 floor_string_encoding = 4, floor_numeric_encoding = 1;

// A minimal bounds-checked cursor: each access checks the room first.
struct floor_cursor {
    uint8 *p;
    const uint8 *end;
    bool ok = true;

    bool room(size_t n)
    {
        ok = ok && size_t(end - p) >= n;
        return ok;
    }
    void u8(uint8 v)
    {
        if (room(1)) *p++ = v;
    }
    void be16(uint16 v)
    {
        if (!room(2)) return;
        v = __builtin_bswap16(v);
        memcpy(p, &v, 2);
        p += 2;
    }
    void be32(uint32 v)
    {
        if (!room(4)) return;
        v = __builtin_bswap32(v);
        memcpy(p, &v, 4);
        p += 4;
    }
    void str(const void *s, uint32 n)
    {
        be32(n);
        if (!room(n)) return;
        memcpy(p, s, n);
        p += n;
    }
    uint8 get8() { return room(1) ? *p++ : 0; }
    uint16 get16()
    {
        uint16 v = 0;
        if (room(2)) memcpy(&v, p, 2), p += 2;
        return __builtin_bswap16(v);
    }
    uint32 get32()
    {
        uint32 v = 0;
        if (room(4)) memcpy(&v, p, 4), p += 4;
        return __builtin_bswap32(v);
    }
    const uint8 *view(uint32 n)
    {
        const uint8 *v = p;
        if (room(n)) p += n;
        return v;
    }
};

plain_request make_plain(const bn_request *msg)
{
    plain_request r;
    r.msg_id = msg->msg_id;
    r.transaction_id = msg->transaction_id;
    r.action = ts_str(msg->action_name);
    for (uint32 i = 0; i < node_count; ++i) {
        plain_node n;
        n.id = bn_request_per_node_array_get_quick(msg->nodes, i)->node_id;
        n.name = "/qz/iptrackd/oper/op" + std::to_string(i);
        n.type = i % 3 == 0 ? bt_uint32 : i % 3 == 1 ? bt_string : bt_ipv4addr;
        n.number = i % 3 == 0 ? 1000 : 0x0a141e28;
        n.text = "target-host.example";
        r.nodes.push_back(std::move(n));
    }
    return r;
}

uint32 floor_encode(const plain_request &r, uint8 *out, size_t cap)
{
    floor_cursor c{out, out + cap};
    c.be16(0); // service id
    c.be16(bbmt_action_request);
    c.be32(0); // length, patched below
    c.be32(r.msg_id);
    c.be32(r.transaction_id);
    c.be32(0); // no audit information
    c.be32(uint32(r.nodes.size()));
    for (const plain_node &n : r.nodes) {
        c.be32(n.id);
        c.u8(1);
        uint8 *count_at = c.p;
        c.be32(0);
        uint32 parts = 0;
        const char *s = n.name.c_str() + 1, *e = n.name.c_str() + n.name.size();
        while (s <= e) {
            const char *slash = static_cast<const char *>(memchr(s, '/', size_t(e - s)));
            const char *stop = slash ? slash : e;
            c.str(s, uint32(stop - s));
            ++parts;
            s = stop + 1;
        }
        if (c.ok) parts = __builtin_bswap32(parts), memcpy(count_at, &parts, 4);
        c.be32(1); // one attribute
        const bool text = n.type == bt_string;
        c.be32(text ? floor_string_encoding : floor_numeric_encoding);
        c.be32(ba_value);
        c.be32(n.type);
        c.be32(0);
        if (text) {
            c.str(n.text.data(), uint32(n.text.size()));
        } else {
            c.be32(4);
            c.be32(n.number);
        }
    }
    c.str(r.action.data(), uint32(r.action.size()));
    if (!c.ok) return 0;
    const uint32 len = uint32(c.p - out);
    const uint32 be_len = __builtin_bswap32(len);
    memcpy(out + 4, &be_len, 4);
    return len;
}

bool floor_decode(const uint8 *bytes, uint32 len, std::vector<decoded_node> *nodes)
{
    floor_cursor c{const_cast<uint8 *>(bytes), bytes + len};
    c.get16();
    if (c.get16() != bbmt_action_request || c.get32() != len) return false;
    c.get32();
    c.get32();
    c.view(c.get32()); // audit information
    const uint32 count = c.get32();
    if (!c.ok || count > len / 13 || count > nodes->size()) return false;
    for (uint32 i = 0; i < count && c.ok; ++i) {
        decoded_node &d = (*nodes)[i];
        d.id = c.get32();
        if (c.get8() > 1) return false;
        d.parts = c.get32();
        if (d.parts > 8) return false;
        for (uint32 k = 0; k < d.parts; ++k) {
            d.part_len[k] = c.get32();
            d.part[k] = c.view(d.part_len[k]);
        }
        const uint32 attribs = c.get32();
        for (uint32 k = 0; k < attribs && c.ok; ++k) {
            const uint32 encoding = c.get32();
            c.get32(); // attribute id
            d.type = c.get32();
            c.get32(); // type flags
            const uint32 n = c.get32();
            if (encoding == floor_string_encoding) {
                d.text = c.view(n);
                d.text_len = n;
            } else if (n == 4) {
                d.number = c.get32();
            } else {
                c.view(n);
            }
        }
    }
    c.view(c.get32()); // action name
    return c.ok && c.p == bytes + len;
}

// The request's encoding without a reserved prefix, as the decoders read it.
owned<tbuf> encoded_request()
{
    owned<bn_request> msg = make_request();
    owned<tbuf> buf;
    if (bn_request_msg_serialize(msg.get(), 0, buf.out()) != 0) abort();
    return buf;
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
    const owned<tbuf> buf = encoded_request();
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

// The floor of encoding: the same fields from plain structures through the
// hand-written cursor, into a buffer of the same starting size as the codec's.
void BM_RequestEncodeFloor(benchmark::State &state)
{
    owned<bn_request> msg = make_request();
    const plain_request plain = make_plain(msg.get());
    owned<tbuf> ref;
    if (bn_request_msg_serialize(msg.get(), 0, ref.out()) != 0) abort();
    std::vector<uint8> out(tb_length(ref.get()) + 64);
    // The floor must write exactly the codec's bytes, or it measures another job.
    const uint32 check = floor_encode(plain, out.data(), out.size());
    if (check != tb_length(ref.get()) || memcmp(out.data(), tb_buf(ref.get()), check) != 0) abort();
    uint32 len = 0;
    for (auto _ : state) {
        len = floor_encode(plain, out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_RequestEncodeFloor);

// The floor of decoding: the same fields read and checked through the
// hand-written cursor into preallocated plain records.
void BM_RequestDecodeFloor(benchmark::State &state)
{
    const owned<tbuf> buf = encoded_request();
    const uint32 len = tb_length(buf.get());
    std::vector<decoded_node> nodes(node_count);
    if (!floor_decode(tb_buf(buf.get()), len, &nodes) || nodes[1].text_len != 19) abort();
    for (auto _ : state) {
        if (!floor_decode(tb_buf(buf.get()), len, &nodes)) abort();
        benchmark::DoNotOptimize(nodes.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_RequestDecodeFloor);

// The same job with owned results: every node, name part and string value
// read into a fresh standard container, freed again each round as the
// codec's message is.
struct owned_node {
    uint32 id = 0, type = 0, number = 0;
    std::vector<std::string> parts;
    std::string text;
};

bool floor_decode_owned(const uint8 *bytes, uint32 len, std::vector<owned_node> *nodes)
{
    floor_cursor c{const_cast<uint8 *>(bytes), bytes + len};
    c.get16();
    if (c.get16() != bbmt_action_request || c.get32() != len) return false;
    c.get32();
    c.get32();
    c.view(c.get32()); // audit information
    const uint32 count = c.get32();
    if (!c.ok || count > len / 13) return false;
    nodes->resize(count);
    for (uint32 i = 0; i < count && c.ok; ++i) {
        owned_node &d = (*nodes)[i];
        d.id = c.get32();
        if (c.get8() > 1) return false;
        const uint32 parts = c.get32();
        if (parts > len / 4) return false;
        d.parts.reserve(parts);
        for (uint32 k = 0; k < parts && c.ok; ++k) {
            const uint32 n = c.get32();
            const uint8 *p = c.view(n);
            if (c.ok) d.parts.emplace_back(reinterpret_cast<const char *>(p), n);
        }
        const uint32 attribs = c.get32();
        for (uint32 k = 0; k < attribs && c.ok; ++k) {
            const uint32 encoding = c.get32();
            c.get32(); // attribute id
            d.type = c.get32();
            c.get32(); // type flags
            const uint32 n = c.get32();
            if (encoding == floor_string_encoding) {
                const uint8 *p = c.view(n);
                if (c.ok) d.text.assign(reinterpret_cast<const char *>(p), n);
            } else if (n == 4) {
                d.number = c.get32();
            } else {
                c.view(n);
            }
        }
    }
    c.view(c.get32()); // action name
    return c.ok && c.p == bytes + len;
}

void BM_RequestDecodeOwnedFloor(benchmark::State &state)
{
    const owned<tbuf> buf = encoded_request();
    const uint32 len = tb_length(buf.get());
    for (auto _ : state) {
        std::vector<owned_node> nodes;
        if (!floor_decode_owned(tb_buf(buf.get()), len, &nodes)) abort();
        benchmark::DoNotOptimize(nodes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.counters["bytes"] = len;
}
BENCHMARK(BM_RequestDecodeOwnedFloor);

// The floor of moving bytes at all: copying as many as the encoding holds.
void BM_MemcpyFloor(benchmark::State &state)
{
    const owned<tbuf> buf = encoded_request();
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
