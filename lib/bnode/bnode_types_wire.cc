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
#include "util/byte_cursor.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace
{

constexpr auto be = lc_bytes::order::big;

constexpr uint32 off_encoding = 0;
constexpr uint32 off_id = 4;
constexpr uint32 off_type = bn_attrib_wire_type_offset;
constexpr uint32 off_flags = 12;
constexpr uint32 off_value = 16;
static_assert(off_value == bn_attrib_wire_header_size);
constexpr uint32 addr_bytes = 16;

uint32 encoding_of(bn_type type)
{
    if (type == bt_macaddr802) return bae_raw;
    if (detail::type_has(type, detail::btc_allocs)) return bae_string;
    return bae_numeric;
}

// The one failure of a record cut short.
int short_record()
{
    bail_force(lc_err_no_buffer_space);
}

int write_header(const bn_attrib *a, lc_tbuf_writer &w)
{
    lc_byte_writer rec;
    bail_error(w.record(off_value, &rec));
    const bool ok = rec.put_at<be>(off_encoding, encoding_of(a->type)) &&
                    rec.put_at<be>(off_id, a->attribute_id) && rec.put_at<be>(off_type, a->type) &&
                    rec.put_at<be>(off_flags, a->type_flags);
    bail_require(ok);
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
    lc_tbuf_writer w(buf);
    bail_error(write_header(a, w));
    const uint32 size = detail::type_info(a->type).size;
    const uint32 n = a->value_length == size ? size : 0;
    bail_error(w.be32(n));
    if (n == 0) return 0;
    if (!is_integer_value(a->type)) return w.bytes(a->value.bytes, n);
    switch (n) {
    case 1:
        return w.u8(detail::value_as<uint8>(a));
    case 2:
        return w.be16(detail::value_as<uint16>(a));
    case 4:
        return w.be32(detail::value_as<uint32>(a));
    case 8:
        return w.be64(detail::value_as<uint64>(a));
    }
    return lc_err_unexpected_case;
}

int copy_out_addr(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    lc_tbuf_writer w(buf);
    bail_error(write_header(a, w));
    auto v = detail::value_as<lc_ipaddr>(a);
    bail_error(w.u8(v.family));
    return w.bytes(v.addr, addr_bytes);
}

int copy_out_prefix(const bn_attrib *a, tbuf *buf)
{
    bail_null(a);
    bail_null(buf);
    lc_tbuf_writer w(buf);
    bail_error(write_header(a, w));
    auto v = detail::value_as<lc_ipprefix>(a);
    bail_error(w.u8(v.family));
    bail_error(w.u8(v.mask_len));
    return w.bytes(v.addr, addr_bytes);
}

int copy_out_bytes(const bn_attrib *a, tbuf *buf, const void *bytes, uint32 len)
{
    lc_tbuf_writer w(buf);
    bail_error(write_header(a, w));
    return w.counted_be32(bytes, len);
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

// Reads and checks the header, leaving `r` at the value; on success the
// attribute holds id, type and flags with no value.  Failures are logged
// here; callers pass them on quietly.
int read_header(bn_attrib *a, lc_byte_reader &r, bn_type expect_class_type)
{
    uint32 encoding = 0, flags = 0;
    bn_attribute_id id = 0;
    bn_type type = 0;
    if (!r.holds(1, off_value)) return short_record();
    if (!(r.get_at<be>(off_encoding, &encoding) && r.get_at<be>(off_id, &id) &&
          r.get_at<be>(off_type, &type) && r.get_at<be>(off_flags, &flags) && r.skip(off_value)))
        return short_record();
    // The id indexes the binding's attribute array: bound it here.
    if (!detail::type_valid(type) || id > ba_LAST || encoding != encoding_of(type) ||
        encoding_of(type) != encoding_of(expect_class_type))
        bail_force(lc_err_parse_error);
    detail::attrib_reset_header(a, id, type, flags);
    return 0;
}

// A fixed-size value of `n` bytes (0 or the type's size), big-endian when it
// is one integer.
int read_numeric_value(bn_attrib *a, lc_byte_reader &r, uint32 n)
{
    bool ok = true;
    if (!is_integer_value(a->type)) {
        ok = r.bytes(a->value.bytes, n);
    } else if (n == 1) {
        uint8 v = 0;
        if ((ok = r.u8(&v))) detail::value_store(a, v);
    } else if (n == 2) {
        uint16 v = 0;
        if ((ok = r.be16(&v))) detail::value_store(a, v);
    } else if (n == 4) {
        uint32 v = 0;
        if ((ok = r.be32(&v))) detail::value_store(a, v);
    } else if (n == 8) {
        uint64 v = 0;
        if ((ok = r.be64(&v))) detail::value_store(a, v);
    }
    return ok ? 0 : short_record();
}

int copy_in_numeric(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    lc_byte_reader r(bytes, avail);
    bn_type t = 0;
    if (!r.get_at<be>(off_type, &t) || !r.holds(1, off_value)) return short_record();
    if (!detail::type_has(t, detail::btc_fixed)) bail_force(lc_err_parse_error);
    bail_error_quiet(read_header(a, r, t));
    uint32 n = 0;
    if (!r.be32(&n)) return short_record();
    const uint32 size = detail::type_info(a->type).size;
    if (n != 0 && n != size) bail_force(lc_err_parse_error);
    bail_error_quiet(read_numeric_value(a, r, n));
    a->value_length = n;
    *ret_used = avail - uint32(r.remaining());
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
    lc_byte_reader r(bytes, avail);
    bail_error_quiet(read_header(a, r, bt_ipaddr));
    lc_ipaddr v{};
    if (!r.holds(1, 1 + addr_bytes)) return short_record();
    if (!(r.u8(&v.family) && r.bytes(v.addr, addr_bytes))) return short_record();
    bail_error_quiet(check_family(v.family));
    detail::value_store(a, v);
    a->value_length = sizeof v;
    *ret_used = avail - uint32(r.remaining());
    return 0;
}

int copy_in_prefix(bn_attrib *a, const uint8 *bytes, uint32 avail, uint32 *ret_used)
{
    bail_null(ret_used);
    *ret_used = 0;
    bail_null(a);
    bail_null(bytes);
    lc_byte_reader r(bytes, avail);
    bail_error_quiet(read_header(a, r, bt_ipprefix));
    lc_ipprefix v{};
    if (!r.holds(1, 2 + addr_bytes)) return short_record();
    if (!(r.u8(&v.family) && r.u8(&v.mask_len) && r.bytes(v.addr, addr_bytes)))
        return short_record();
    bail_error_quiet(check_family(v.family));
    if (v.mask_len > (v.family == lc_ipf_ipv4 ? 32 : 128)) bail_force(lc_err_parse_error);
    detail::value_store(a, v);
    a->value_length = sizeof v;
    *ret_used = avail - uint32(r.remaining());
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
    lc_byte_reader r(bytes, avail);
    bail_error_quiet(read_header(a, r, class_type));
    uint32 n = 0;
    const uint8 *v = nullptr;
    if (!(r.be32(&n) && r.view(n, &v))) return short_record();
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
    *ret_used = avail - uint32(r.remaining());
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
