// Ordering of attributes: the general comparison (missing and invalid
// values last, then by type code, then by value) and the numeric
// comparison with its operator codes, against another value or zero.
#include <cstring>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace
{

int sign(int v)
{
    return (v > 0) - (v < 0);
}

template <class T> int cmp3(T a, T b)
{
    return (a > b) - (a < b);
}

// "ipv6addr" orders as a 128-bit number whose LAST address byte is the most
// significant, so the walk starts at the end.
int cmp_ipv6_bytes(const uint8 *a, const uint8 *b)
{
    for (int i = 15; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// A value of any integer-like or float ordered type, widened so that any
// two compare correctly, across types too.
struct wide {
    bool is_float;
    __int128 i;
    long double f;
};

bool widen(const bn_attrib *a, wide *w)
{
    using detail::value_as;
    w->is_float = false;
    w->i = 0;
    w->f = 0;
    switch (a->type) {
    case bt_uint8:
        w->i = value_as<uint8>(a);
        return true;
    case bt_int8:
        w->i = value_as<int8>(a);
        return true;
    case bt_char:
        w->i = value_as<char>(a);
        return true;
    case bt_uint16:
        w->i = value_as<uint16>(a);
        return true;
    case bt_int16:
        w->i = value_as<int16>(a);
        return true;
    case bt_uint32:
    case bt_ipv4addr:
    case bt_btype:
    case bt_attribute:
        w->i = value_as<uint32>(a);
        return true;
    case bt_int32:
    case bt_bool:
    case bt_date:
    case bt_time_sec:
    case bt_datetime_sec:
    case bt_duration_sec:
        w->i = value_as<int32>(a);
        return true;
    case bt_uint64:
        w->i = value_as<uint64>(a);
        return true;
    case bt_int64:
    case bt_time_ms:
    case bt_time_us:
    case bt_datetime_ms:
    case bt_datetime_us:
    case bt_duration_ms:
    case bt_duration_us:
        w->i = value_as<int64>(a);
        return true;
    case bt_float32:
        w->is_float = true;
        w->f = value_as<float32>(a);
        return true;
    case bt_float64:
        w->is_float = true;
        w->f = value_as<float64>(a);
        return true;
    default:
        return false;
    }
}

int cmp_wide(const wide &a, const wide &b)
{
    if (!a.is_float && !b.is_float) return cmp3(a.i, b.i);
    const long double fa = a.is_float ? a.f : (long double)a.i;
    const long double fb = b.is_float ? b.f : (long double)b.i;
    return cmp3(fa, fb);
}

// Three-way comparison of two ordered-numeric values of the same type.
int cmp_same_type(const bn_attrib *a, const bn_attrib *b)
{
    using detail::value_as;
    switch (a->type) {
    case bt_ipv4prefix:
        return cmp3(value_as<uint64>(a), value_as<uint64>(b));
    case bt_macaddr802:
        return sign(memcmp(a->value.bytes, b->value.bytes, bn_macaddr802_size));
    case bt_ipv6addr:
        return cmp_ipv6_bytes(a->value.bytes, b->value.bytes);
    case bt_ipv6prefix: {
        if (int c = cmp_ipv6_bytes(a->value.bytes, b->value.bytes)) return c;
        return cmp3(value_as<lc_ipv6prefix>(a).mask_len, value_as<lc_ipv6prefix>(b).mask_len);
    }
    default: {
        // Callers check ordered-numeric first, so every other type widens.
        wide wa, wb;
        widen(a, &wa);
        widen(b, &wb);
        return cmp_wide(wa, wb);
    }
    }
}

int apply_op(uint32 op, int c, int32 *ret)
{
    switch (op) {
    case bno_gt:
        *ret = c > 0;
        return 0;
    case bno_ge:
        *ret = c >= 0;
        return 0;
    case bno_lt:
        *ret = c < 0;
        return 0;
    case bno_le:
        *ret = c <= 0;
        return 0;
    case bno_eq:
        *ret = c == 0;
        return 0;
    case bno_three_way:
        *ret = c;
        return 0;
    default:
        return lc_err_unexpected_case;
    }
}

} // namespace

int bn_type_numeric_compare(const bn_attrib *a, const bn_attrib *b, uint32 op, int32 *ret_result)
{
    bail_null(ret_result);
    *ret_result = 0;
    bail_null(a);
    bail_null(b);
    bail_require(bn_type_ordered_numeric(a->type, a->type_flags) &&
                 bn_type_ordered_numeric(b->type, b->type_flags));
    if (a->type != b->type) return bn_type_numeric_compare_crosstype(a, b, op, ret_result);
    return apply_op(op, cmp_same_type(a, b), ret_result);
}

int bn_type_numeric_compare_crosstype(const bn_attrib *a, const bn_attrib *b, uint32 op,
                                      int32 *ret_result)
{
    bail_null(ret_result);
    *ret_result = 0;
    bail_null(a);
    bail_null(b);
    bail_require(bn_type_ordered_numeric(a->type, a->type_flags) &&
                 bn_type_ordered_numeric(b->type, b->type_flags));
    if (a->type == b->type) return apply_op(op, cmp_same_type(a, b), ret_result);
    wide wa, wb;
    if (!widen(a, &wa) || !widen(b, &wb)) return lc_err_bad_type;
    const int c = cmp_wide(wa, wb);
    return apply_op(op, c, ret_result);
}

int bn_type_numeric_compare_zero(const bn_attrib *a, uint32 op, int32 *ret_result)
{
    bail_null(ret_result);
    *ret_result = 0;
    bail_null(a);
    bail_require(bn_type_numeric(a->type, a->type_flags));
    wide wa;
    bail_require(widen(a, &wa));
    const wide zero{wa.is_float, 0, 0};
    return apply_op(op, cmp_wide(wa, zero), ret_result);
}

int bn_attrib_compare(const bn_attrib *a, const bn_attrib *b, int32 *ret_result)
{
    bail_null(ret_result);
    *ret_result = 0;
    if (!a || !b) {
        *ret_result = (a == nullptr) - (b == nullptr);
        return 0;
    }
    const bool ia = a->type_flags & btf_invalid, ib = b->type_flags & btf_invalid;
    if (ia || ib) {
        *ret_result = int32(ia) - int32(ib);
        return 0;
    }
    if (a->type != b->type) {
        *ret_result = int32(a->type) - int32(b->type);
        return 0;
    }
    const bn_type t = a->type;
    if (detail::type_has(t, detail::btc_string)) {
        const tstring *sa = bn_type_string(t, a->type_flags) ? a->value.ts : nullptr;
        const tstring *sb = bn_type_string(t, b->type_flags) ? b->value.ts : nullptr;
        *ret_result = ts_cmp(sa, sb);
        return 0;
    }
    if (t == bt_binary) {
        const tbuf *ba = bn_type_tbuf(t, a->type_flags) ? a->value.tb : nullptr;
        const tbuf *bb = bn_type_tbuf(t, b->type_flags) ? b->value.tb : nullptr;
        if (!ba || !bb) {
            *ret_result = (ba != nullptr) - (bb != nullptr);
            return 0;
        }
        uint32 la = tb_length(ba), lb = tb_length(bb);
        int c = memcmp(tb_buf(ba), tb_buf(bb), la < lb ? la : lb);
        *ret_result = c ? sign(c) : cmp3(la, lb);
        return 0;
    }
    if (bn_type_ordered_numeric(t, a->type_flags) && bn_type_ordered_numeric(t, b->type_flags))
        return bn_type_numeric_compare(a, b, bno_three_way, ret_result);
    switch (t) {
    case bt_ipaddr: {
        auto va = detail::value_as<lc_ipaddr>(a), vb = detail::value_as<lc_ipaddr>(b);
        *ret_result = sign(lc_ipaddr_cmp(&va, &vb));
        return 0;
    }
    case bt_ipprefix: {
        auto va = detail::value_as<lc_ipprefix>(a), vb = detail::value_as<lc_ipprefix>(b);
        *ret_result = sign(lc_ipprefix_cmp(&va, &vb));
        return 0;
    }
    case bt_none:
        return 0;
    default:
        // Ordered types that carry no value (btf_no_value) compare equal.
        if (detail::type_has(t, detail::btc_ordered)) return 0;
        return lc_err_bad_type;
    }
}
