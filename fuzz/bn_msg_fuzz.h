// The one check of the message decoder fuzz targets, for requests and
// responses alike: messages arrive from the peer, so decoding must refuse
// any bytes it cannot take without crashing, leaking or allocating beyond
// the input, and what it takes must dump, and encode to bytes that decode
// and encode again to the same bytes (a copy too).
#pragma once

#include <cstdlib>
#include <cstring>

#include "mgmt/bnode_proto.h"

namespace bn_fuzz
{

inline void drop_line(int, const char *, void *) {}

inline bool same_bytes(const tbuf *a, const tbuf *b)
{
    return tb_length(a) == tb_length(b) && memcmp(tb_buf(a), tb_buf(b), tb_length(a)) == 0;
}

template <class Msg> struct ops {
    int (*decode)(const uint8 *, uint32, Msg **);
    int (*encode)(Msg *, uint32, tbuf **);
    int (*dup)(const Msg *, Msg **);
    int (*dump)(const gcl_session *, const Msg *, int32, const char *);
};

template <class Msg> int one_input(const ops<Msg> &op, const uint8_t *data, size_t size)
{
    // Dumps are formatted in full and dropped.
    static const bool quiet = [] {
        lc_log_set_sink(drop_line, nullptr);
        lc_log_set_effective_level_for_tests(LCL_DEBUG);
        return true;
    }();
    (void)quiet;
    if (size > 0xFFFFFFFFu) return 0;
    constexpr uint32 reserve = bn_frame_header_reserve;

    owned<Msg> msg;
    if (op.decode(data, uint32(size), msg.out()) != 0) {
        if (msg) abort(); // a failure returns nothing
        return 0;
    }
    if (op.dump(nullptr, msg.get(), LCL_DEBUG, "FUZZ") != 0) abort();
    owned<tbuf> once, twice, thrice;
    if (op.encode(msg.get(), reserve, once.out()) != 0) abort();
    owned<Msg> again;
    if (op.decode(tb_buf(once.get()) + reserve, tb_length(once.get()) - reserve, again.out()) != 0)
        abort();
    if (op.encode(again.get(), reserve, twice.out()) != 0) abort();
    if (!same_bytes(once.get(), twice.get())) abort();
    owned<Msg> copy;
    if (op.dup(again.get(), copy.out()) != 0) abort();
    if (op.encode(copy.get(), reserve, thrice.out()) != 0) abort();
    if (!same_bytes(once.get(), thrice.get())) abort();
    return 0;
}

} // namespace bn_fuzz
