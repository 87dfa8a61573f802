// String-array reads on arbitrary bytes: any input is read without fault,
// and what is read, written back with the same flags, gives exactly the
// bytes that were consumed.
//
// Input layout: flags (1 byte: expect_zero, with_length, swap), then the
// bytes of the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "log/logging.h"
#include "util/tbuffer.h"
#include "util/tstr_array.h"

namespace
{

void drop_line(int, const char *, void *) {}

} // namespace

// Refused inputs log a line each; keep them off the host's syslog.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    lc_log_set_sink(drop_line, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 0x10000) return 0;
    const tbool expect_zero = data[0] & 1, with_length = (data[0] >> 1) & 1,
                swap = (data[0] >> 2) & 1;
    owned<tbuf> in;
    if (tb_new_buf_const(in.out(), data + 1, int32(size - 1)) != 0) abort();

    owned<tstr_array> arr;
    uint32 consumed = 0;
    if (tb_get_tstr_array(in.get(), 0, expect_zero, with_length, swap, arr.out(), &consumed) != 0)
        return 0;
    if (consumed > size - 1) abort();

    owned<tbuf> out;
    uint32 written = 0;
    if (tb_new(out.out()) != 0 ||
        tb_append_tstr_array(out.get(), expect_zero, with_length, swap, arr.get(), &written) != 0)
        abort();
    if (written != consumed || out->length != consumed ||
        memcmp(out->bytes, data + 1, consumed) != 0)
        abort();
    return 0;
}
