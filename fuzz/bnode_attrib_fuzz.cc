// Attribute values arrive from outside twice: as attribute records of the
// message encoding and as text in configuration.  Both must hold up on any
// bytes, and what they accept must come back the same way it went out.
//
// Input: the first byte picks the path (even: a wire record from byte 1 on;
// odd: text from byte 2 on, parsed as the type in byte 1).
#include "bnode/bnode_types.h"
#include "fuzz_common.h"
#include "util/byte_cursor.h"

namespace
{

using fuzz::require;

int decode(const uint8 *p, size_t n, bn_attrib *a, uint32 *used)
{
    bn_type t = bt_uint32;
    (void)lc_byte_reader(p, n).get_at<lc_bytes::order::big>(bn_attrib_wire_type_offset, &t);
    if (t >= bn_type_table_size || !bn_attrib_copy_funcs[t].copy_in) return lc_err_not_found;
    return bn_attrib_copy_funcs[t].copy_in(a, p, uint32(n), used);
}

std::string encode(const bn_attrib *a)
{
    owned<tbuf> b;
    require(tb_new(b.out()) == 0 && bn_attrib_copy_funcs[a->type].copy_out(a, b.get()) == 0);
    return std::string(fuzz::bytes(b.get()));
}

void wire(const uint8 *p, size_t n)
{
    owned<bn_attrib> a, b, copy;
    require(bn_attrib_new(a.out()) == 0 && bn_attrib_new(b.out()) == 0);
    uint32 used = 0;
    if (decode(p, n, a.get(), &used) != 0) return;
    require(used <= n);
    // Once normalised by a decode, a record encodes to itself.
    const std::string once = encode(a.get());
    require(decode(reinterpret_cast<const uint8 *>(once.data()), once.size(), b.get(), &used) == 0);
    require(used == once.size() && encode(b.get()) == once);
    require(bn_attrib_dup(a.get(), copy.out()) == 0);
}

std::string print(const bn_attrib *a)
{
    char *s = nullptr;
    require(bn_attrib_get_str(a, nullptr, 0, nullptr, &s) == 0);
    std::string out = s ? s : "<null>";
    free(s);
    return out;
}

void text(bn_type type, const uint8 *p, size_t n)
{
    owned<bn_attrib> a;
    require(bn_attrib_new(a.out()) == 0);
    if (bn_attrib_set_str(a.get(), ba_value, type, 0, fuzz::text(p, n).c_str()) != 0) return;
    const std::string first = print(a.get());
    // Local date-times may land in a zone gap or overlap; every other type
    // prints a text that parses back to itself.
    if (type >= bt_datetime_sec && type <= bt_datetime_us) return;
    if (type == bt_none || type == bt_binary) return;
    // Plain durations parse as unsigned and print signed: values past the
    // signed range print negative and do not parse back, by design.
    if (type >= bt_duration_sec && type <= bt_duration_us && first[0] == '-') return;
    require(bn_attrib_set_str(a.get(), ba_value, type, 0, first.c_str()) == 0);
    require(print(a.get()) == first);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::quiet_logs(LCL_EMERG);
    if (size < 2) return 0;
    if (data[0] % 2 == 0)
        wire(data + 1, size - 1);
    else
        text(bn_type(data[1]) % bn_type_table_size, data + 2, size - 2);
    return 0;
}
