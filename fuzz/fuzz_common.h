// Shared by the fuzz targets.  Log lines are formatted in full and then
// dropped, never sent to the host's syslog.  Messages arrive from the peer,
// so decoding must refuse any bytes it cannot take without crashing, leaking
// or allocating beyond the input, and what it takes must dump, and encode to
// bytes that decode and encode again to the same bytes (a copy too).
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "mgmt/bnode_proto.h"

namespace fuzz
{

inline void quiet_logs(int32 level = LCL_DEBUG)
{
    static const bool once = [level] {
        lc_log_set_sink([](int, const char *, void *) {}, nullptr);
        lc_log_set_effective_level_for_tests(level);
        return true;
    }();
    (void)once;
}

inline void require(bool ok)
{
    if (!ok) abort();
}

inline std::string text(const uint8_t *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

inline std::string_view bytes(const tbuf *b)
{
    return {reinterpret_cast<const char *>(tb_buf(b)), tb_length(b)};
}

template <class Msg>
int decode_message(const uint8_t *data, size_t size, int (*decode)(const uint8 *, uint32, Msg **),
                   int (*encode)(Msg *, uint32, tbuf **), int (*dup)(const Msg *, Msg **),
                   int (*dump)(const gcl_session *, const Msg *, int32, const char *))
{
    quiet_logs();
    if (size > 0xFFFFFFFFu) return 0;
    constexpr uint32 reserve = bn_frame_header_reserve;
    owned<Msg> msg, again, copy;
    if (decode(data, uint32(size), msg.out()) != 0) {
        require(!msg); // a failure returns nothing
        return 0;
    }
    require(dump(nullptr, msg.get(), LCL_DEBUG, "FUZZ") == 0);
    owned<tbuf> once, twice, thrice;
    require(encode(msg.get(), reserve, once.out()) == 0);
    require(decode(tb_buf(once.get()) + reserve, tb_length(once.get()) - reserve, again.out()) ==
            0);
    require(encode(again.get(), reserve, twice.out()) == 0);
    require(bytes(once.get()) == bytes(twice.get()));
    require(dup(again.get(), copy.out()) == 0);
    require(encode(copy.get(), reserve, thrice.out()) == 0);
    require(bytes(once.get()) == bytes(thrice.get()));
    return 0;
}

} // namespace fuzz
