// Request messages arrive from the peer: decoding must refuse any bytes it
// cannot take without crashing, leaking or allocating beyond the input, and
// what it takes must encode to bytes that decode to the same message.
#include <cstdlib>
#include <cstring>

#include "mgmt/bnode_proto.h"

namespace
{

void drop_line(int, const char *, void *) {}

bool same_bytes(const tbuf *a, const tbuf *b)
{
    return tb_length(a) == tb_length(b) && memcmp(tb_buf(a), tb_buf(b), tb_length(a)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        lc_log_set_sink(drop_line, nullptr);
        lc_log_set_effective_level_for_tests(LCL_DEBUG);
        return true;
    }();
    (void)quiet;
    if (size > 0xFFFFFFFFu) return 0;

    bn_request *msg = nullptr;
    if (bn_request_msg_deserialize(data, uint32(size), &msg) != 0) {
        if (msg != nullptr) abort(); // a failure returns nothing
        return 0;
    }
    // Every decoded message can be dumped and encoded.
    if (bn_request_msg_dump(nullptr, msg, LCL_DEBUG, "FUZZ") != 0) abort();
    tbuf *once = nullptr;
    if (bn_request_msg_serialize(msg, bn_frame_header_reserve, &once) != 0) abort();
    bn_request *again = nullptr;
    if (bn_request_msg_deserialize(tb_buf(once) + bn_frame_header_reserve,
                                   tb_length(once) - bn_frame_header_reserve, &again) != 0)
        abort();
    tbuf *twice = nullptr;
    if (bn_request_msg_serialize(again, bn_frame_header_reserve, &twice) != 0) abort();
    if (!same_bytes(once, twice)) abort();

    // A copy encodes alike too.
    bn_request *copy = nullptr;
    if (bn_request_msg_dup(again, &copy) != 0) abort();
    tbuf *thrice = nullptr;
    if (bn_request_msg_serialize(copy, bn_frame_header_reserve, &thrice) != 0) abort();
    if (!same_bytes(once, thrice)) abort();

    (void)tb_free(&thrice);
    (void)tb_free(&twice);
    (void)tb_free(&once);
    (void)bn_request_msg_free(&copy);
    (void)bn_request_msg_free(&again);
    (void)bn_request_msg_free(&msg);
    return 0;
}
