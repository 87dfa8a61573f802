// Value to text, for every type: the formats are fixed (they are what the
// management tools show and parse back).
#include <cinttypes>
#include <cstdio>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace detail
{
namespace
{

// snprintf into the local buffer of `out`.
[[gnu::format(printf, 2, 3)]] int print_local(printed *out, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(out->local, sizeof out->local, fmt, ap);
    va_end(ap);
    if (n < 0 || size_t(n) >= sizeof out->local) return lc_err_no_buffer_space;
    out->text = out->local;
    out->len = uint32(n);
    return 0;
}

int local_done(printed *out, int err)
{
    if (err) return err;
    out->text = out->local;
    out->len = uint32(strlen(out->local));
    return 0;
}

int print_ipv4addr(uint32 v, printed *out)
{
    return print_local(out, "%u.%u.%u.%u", v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int print_ipv4prefix(uint64 v, printed *out)
{
    uint32 addr = uint32(v >> 32), mask = uint32(v);
    int len = mask == 0 ? 0 : 32 - __builtin_ctz(mask);
    return print_local(out, "%d%c%d%c%d%c%d%c%d", int(addr >> 24), '.', int((addr >> 16) & 0xFF),
                       '.', int((addr >> 8) & 0xFF), '.', int(addr & 0xFF), '/', len);
}

int print_enum(const lc_enum_string_map *map, uint32 v, printed *out)
{
    const char *name = lc_enum_to_string_quiet_null(map, int32(v));
    if (name == nullptr) return lc_err_bad_type;
    out->text = name;
    out->len = uint32(strlen(name));
    return 0;
}

} // namespace

int print_attrib(const bn_attrib *a, printed *out)
{
    out->text = nullptr;
    out->len = 0;
    const bn_type t = a->type;
    if (bn_type_string(t, a->type_flags)) {
        if (a->value.ts) {
            out->text = ts_str(a->value.ts);
            out->len = ts_length(a->value.ts);
        }
        return 0;
    }
    if (bn_type_tbuf(t, a->type_flags)) {
        // The bytes up to the first zero byte (a tbuf is always terminated).
        if (a->value.tb) {
            out->text = reinterpret_cast<const char *>(tb_buf(a->value.tb));
            out->len = uint32(strlen(out->text));
        }
        return 0;
    }
    // A string or binary type marked invalid or valueless has nothing to show.
    if (type_has(t, btc_allocs)) {
        out->local[0] = '\0';
        return local_done(out, 0);
    }
    if (time_valued(t, a->type_flags))
        return local_done(out, print_time(t, a->value.bytes, out->local, sizeof out->local));
    switch (t) {
    case bt_uint8:
        return print_local(out, "%hhu", value_as<uint8>(a));
    case bt_int8:
        return print_local(out, "%hhd", value_as<int8>(a));
    case bt_uint16:
        return print_local(out, "%hu", value_as<uint16>(a));
    case bt_int16:
        return print_local(out, "%hd", value_as<int16>(a));
    case bt_uint32:
        return print_local(out, "%u", value_as<uint32>(a));
    case bt_int32:
        return print_local(out, "%d", value_as<int32>(a));
    case bt_uint64:
        return print_local(out, "%" PRIu64, value_as<uint64>(a));
    case bt_int64:
        return print_local(out, "%" PRId64, value_as<int64>(a));
    case bt_bool:
        return print_local(out, "%s", value_as<tbool>(a) ? "true" : "false");
    case bt_float32:
        return print_local(out, "%.9f", double(value_as<float32>(a)));
    case bt_float64:
        return print_local(out, "%.18g", value_as<float64>(a));
    case bt_char:
        return print_local(out, "%c", value_as<char>(a));
    case bt_ipaddr: {
        auto v = value_as<lc_ipaddr>(a);
        return local_done(out, lc_ipaddr_to_buf(&v, out->local, sizeof out->local));
    }
    case bt_ipprefix: {
        auto v = value_as<lc_ipprefix>(a);
        return local_done(out, lc_ipprefix_to_buf(&v, out->local, sizeof out->local));
    }
    case bt_ipv4addr:
        return print_ipv4addr(value_as<uint32>(a), out);
    case bt_ipv4prefix:
        return print_ipv4prefix(value_as<uint64>(a), out);
    case bt_macaddr802: {
        const uint8 *m = a->value.bytes;
        return print_local(out, "%02X%c%02X%c%02X%c%02X%c%02X%c%02X", m[0], ':', m[1], ':', m[2],
                           ':', m[3], ':', m[4], ':', m[5]);
    }
    case bt_ipv6addr: {
        auto v = value_as<lc_ipv6addr>(a);
        return local_done(out, lc_ipv6addr_to_buf(&v, out->local, sizeof out->local));
    }
    case bt_ipv6prefix: {
        auto v = value_as<lc_ipv6prefix>(a);
        return local_done(out, lc_ipv6prefix_to_buf(&v, out->local, sizeof out->local));
    }
    case bt_duration_sec:
        return print_local(out, "%d", value_as<int32>(a));
    case bt_duration_ms:
    case bt_duration_us:
        return print_local(out, "%" PRId64, value_as<int64>(a));
    case bt_none:
        out->local[0] = '\0';
        return local_done(out, 0);
    case bt_btype:
        return print_enum(bn_type_name_map, value_as<uint32>(a), out);
    case bt_attribute:
        return print_enum(bn_attribute_id_name_map, value_as<uint32>(a), out);
    default:
        return lc_err_unexpected_case;
    }
}

} // namespace detail
