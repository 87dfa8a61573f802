// The per-type copy table of the message encoding: each row writes or reads
// one whole attribute record, field by field at fixed offsets, big-endian.
//
//   offset 0  encoding (4)      1 numeric/address, 2 raw bytes (MAC), 4 string/buffer
//   offset 4  attribute id (4)
//   offset 8  type (4)
//   offset 12 type flags (4)
//   offset 16 value:
//     numeric: value length (4), then that many bytes (0 or the fixed size);
//              integers and floats big-endian, MAC and IPv6 bytes as stored
//     ipaddr:  family (1), address (16)
//     ipprefix: family (1), prefix length (1), address (16)
//     string, binary: length (4), bytes
//
// Reads check the bytes present before every field and never size anything
// beyond what is present.
#include <cstring>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace
{

constexpr uint32 off_encoding = 0;
constexpr uint32 off_id = 4;
constexpr uint32 off_type = 8;
constexpr uint32 off_flags = 12;
constexpr uint32 off_value = 16;
static_assert(off_value == bn_attrib_wire_header_size);
constexpr uint32 addr_bytes = 16;

uint32 get_be32(const uint8 *p)
{
    return uint32(p[0]) << 24 | uint32(p[1]) << 16 | uint32(p[2]) << 8 | p[3];
}

uint64 get_be(const uint8 *p, uint32 n)
{
    uint64 v = 0;
    for (uint32 i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

int put_be(tbuf *buf, uint64 v, uint32 n)
{
    uint8 b[8];
    for (uint32 i = 0; i < n; ++i) b[i] = uint8(v >> (8 * (n - 1 - i)));
    return tb_append_buf(buf, b, int32(n));
}

uint32 encoding_of(bn_type type)
{
    if (type == bt_macaddr802) return bae_raw;
    if (detail::type_has(type, detail::btc_allocs)) return bae_string;
    return bae_numeric;
}

int write_header(const bn_attrib *a, tbuf *buf)
{
    bail_error(tb_append_uint32_be(buf, encoding_of(a->type)));
    bail_error(tb_append_uint32_be(buf, a->attribute_id));
    bail_error(tb_append_uint32_be(buf, a->type));
    bail_error(tb_append_uint32_be(buf, a->type_flags));
    return 0;
}

// True when the value bytes of a numeric type are one integer to swap.
bool is_integer_value(bn_type type)
{
    return type != bt_macaddr802 && type != bt_ipv6addr && type != bt_ipv6prefix;
}

int copy_out_numeric(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    bail_error(write_header(a, buf));
    const uint32 size = detail::type_info(a->type).size;
    const uint32 n = a->value_length == size ? size : 0;
    bail_error(tb_append_uint32_be(buf, n));
    if (n == 0) return 0;
    if (!is_integer_value(a->type)) return tb_append_buf(buf, a->value.bytes, int32(n));
    uint64 v = 0;
    switch (n) {
    case 1:
        v = detail::value_as<uint8>(a);
        break;
    case 2:
        v = detail::value_as<uint16>(a);
        break;
    case 4:
        v = detail::value_as<uint32>(a);
        break;
    case 8:
        v = detail::value_as<uint64>(a);
        break;
    }
    return put_be(buf, v, n);
}

int copy_out_addr(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    bail_error(write_header(a, buf));
    auto v = detail::value_as<lc_ipaddr>(a);
    bail_error(tb_append_byte(buf, v.family));
    return tb_append_buf(buf, v.addr, addr_bytes);
}

int copy_out_prefix(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    bail_error(write_header(a, buf));
    auto v = detail::value_as<lc_ipprefix>(a);
    bail_error(tb_append_byte(buf, v.family));
    bail_error(tb_append_byte(buf, v.mask_len));
    return tb_append_buf(buf, v.addr, addr_bytes);
}

int copy_out_bytes(const bn_attrib *a, tbuf *buf, const void *bytes, uint32 len)
{
    bail_error(write_header(a, buf));
    bail_error(tb_append_uint32_be(buf, len));
    if (len) bail_error(tb_append_buf(buf, bytes, int32(len)));
    return 0;
}

int copy_out_string(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    const tstring *ts = bn_type_string(a->type, a->type_flags) ? a->value.ts : nullptr;
    return copy_out_bytes(a, buf, ts ? ts_str(ts) : nullptr, ts ? ts_length(ts) : 0);
}

int copy_out_buffer(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    const tbuf *tb = bn_type_tbuf(a->type, a->type_flags) ? a->value.tb : nullptr;
    return copy_out_bytes(a, buf, tb ? tb_buf(tb) : nullptr, tb ? tb_length(tb) : 0);
}

// Reads and checks the header; on success the attribute holds id, type and
// flags with no value.  Failures are logged here; callers pass them on
// quietly.
int read_header(bn_attrib *a, const uint8 *bytes, uint32 avail, bn_type expect_class_type)
{
    if (avail < off_value) bail_force(lc_err_no_buffer_space);
    const uint32 encoding = get_be32(bytes + off_encoding);
    const bn_attribute_id id = get_be32(bytes + off_id);
    const bn_type type = get_be32(bytes + off_type);
    const uint32 flags = get_be32(bytes + off_flags);
    // The id indexes the binding's attribute array: bound it here.
    if (!detail::type_valid(type) || id > ba_LAST || encoding != encoding_of(type) ||
        encoding_of(type) != encoding_of(expect_class_type))
        bail_force(lc_err_parse_error);
    detail::attrib_reset_header(a, id, type, flags);
    return 0;
}

int copy_in_numeric(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    if (avail >= off_value) {
        const bn_type t = get_be32(bytes + off_type);
        if (!detail::type_has(t, detail::btc_fixed)) bail_force(lc_err_parse_error);
        bail_error_quiet(read_header(a, bytes, avail, t));
    } else {
        bail_force(lc_err_no_buffer_space);
    }
    if (avail - off_value < 4) bail_force(lc_err_no_buffer_space);
    const uint32 n = get_be32(bytes + off_value);
    const uint32 size = detail::type_info(a->type).size;
    if (n != 0 && n != size) bail_force(lc_err_parse_error);
    if (avail - off_value - 4 < n) bail_force(lc_err_no_buffer_space);
    const uint8 *v = bytes + off_value + 4;
    if (!is_integer_value(a->type)) {
        memcpy(a->value.bytes, v, n);
    } else {
        uint64 x = get_be(v, n);
        switch (n) {
        case 1:
            detail::value_store(a, uint8(x));
            break;
        case 2:
            detail::value_store(a, uint16(x));
            break;
        case 4:
            detail::value_store(a, uint32(x));
            break;
        case 8:
            detail::value_store(a, x);
            break;
        }
    }
    a->value_length = n;
    *ret_used = off_value + 4 + n;
    return 0;
}

int check_family(uint8 family)
{
    if (family != lc_ipf_none && family != lc_ipf_ipv4 && family != lc_ipf_ipv6)
        bail_force(lc_err_parse_error);
    return 0;
}

int copy_in_addr(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    bail_error_quiet(read_header(a, bytes, avail, bt_ipaddr));
    constexpr uint32 need = 1 + addr_bytes;
    if (avail - off_value < need) bail_force(lc_err_no_buffer_space);
    lc_ipaddr v{};
    v.family = bytes[off_value];
    bail_error_quiet(check_family(v.family));
    memcpy(v.addr, bytes + off_value + 1, addr_bytes);
    detail::value_store(a, v);
    a->value_length = sizeof v;
    *ret_used = off_value + need;
    return 0;
}

int copy_in_prefix(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    bail_error_quiet(read_header(a, bytes, avail, bt_ipprefix));
    constexpr uint32 need = 2 + addr_bytes;
    if (avail - off_value < need) bail_force(lc_err_no_buffer_space);
    lc_ipprefix v{};
    v.family = bytes[off_value];
    v.mask_len = bytes[off_value + 1];
    bail_error_quiet(check_family(v.family));
    if (v.mask_len > (v.family == lc_ipf_ipv4 ? 32 : 128)) bail_force(lc_err_parse_error);
    memcpy(v.addr, bytes + off_value + 2, addr_bytes);
    detail::value_store(a, v);
    a->value_length = sizeof v;
    *ret_used = off_value + need;
    return 0;
}

// String and buffer records: a length and that many bytes.
int copy_in_counted(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used,
                    bn_type class_type)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    bail_error_quiet(read_header(a, bytes, avail, class_type));
    if (avail - off_value < 4) bail_force(lc_err_no_buffer_space);
    const uint32 n = get_be32(bytes + off_value);
    if (avail - off_value - 4 < n) bail_force(lc_err_no_buffer_space);
    const uint8 *v = bytes + off_value + 4;
    if (bn_type_string(a->type, a->type_flags)) {
        owned<tstring> ts;
        bail_error(ts_new_size(ts.out(), n + 1));
        bail_error(ts_append_buffer(ts.get(), v, n));
        a->value.ts = ts.release();
        a->value_length = n;
    } else if (bn_type_tbuf(a->type, a->type_flags)) {
        bail_error(tb_new_buf(&a->value.tb, v, int32(n)));
        a->value_length = n;
    }
    *ret_used = off_value + 4 + n;
    return 0;
}

int copy_in_string(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    return copy_in_counted(a, bytes, avail, ret_used, bt_string);
}

int copy_in_buffer(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    return copy_in_counted(a, bytes, avail, ret_used, bt_binary);
}

constexpr std::array<bn_attrib_copy_func_pair, bn_type_table_size> build_copy_funcs()
{
    std::array<bn_attrib_copy_func_pair, bn_type_table_size> t{};
    for (bn_type c = 1; c < bn_type_table_size; ++c) {
        if (detail::type_has(c, detail::btc_string))
            t[c] = {copy_in_string, copy_out_string};
        else if (detail::type_has(c, detail::btc_fixed))
            t[c] = {copy_in_numeric, copy_out_numeric};
    }
    t[bt_ipaddr] = {copy_in_addr, copy_out_addr};
    t[bt_ipprefix] = {copy_in_prefix, copy_out_prefix};
    t[bt_binary] = {copy_in_buffer, copy_out_buffer};
    return t;
}

} // namespace

constexpr std::array<bn_attrib_copy_func_pair, bn_type_table_size> bn_attrib_copy_funcs =
    build_copy_funcs();
