// String-array reads on arbitrary bytes: any input is read without fault,
// and what is read, written back with the same flags, gives exactly the
// bytes that were consumed.
//
// Input layout: flags (1 byte: expect_zero, with_length, swap), then the
// bytes of the buffer.
#include "fuzz_common.h"
#include "util/tbuffer.h"
#include "util/tstr_array.h"

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::quiet_logs(); // refused inputs log a line each
    if (size < 1 || size > 0x10000) return 0;
    const tbool expect_zero = data[0] & 1, with_length = (data[0] >> 1) & 1,
                swap = (data[0] >> 2) & 1;
    owned<tbuf> in, out;
    require(tb_new_buf_const(in.out(), data + 1, int32(size - 1)) == 0);

    owned<tstr_array> arr;
    uint32 consumed = 0, written = 0;
    if (tb_get_tstr_array(in.get(), 0, expect_zero, with_length, swap, arr.out(), &consumed) != 0)
        return 0;
    require(consumed <= size - 1);
    require(tb_new(out.out()) == 0 && tb_append_tstr_array(out.get(), expect_zero, with_length,
                                                           swap, arr.get(), &written) == 0);
    require(written == consumed && fuzz::bytes(out.get()) == fuzz::text(data + 1, consumed));
    return 0;
}
