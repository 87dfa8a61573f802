// Text to inline value, for every type whose value lives in the attribute
// record (codes below 101).  Converters never log: an unparsable text is
// the caller's business.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"

namespace detail
{
namespace
{

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Base-10 conversion of the whole text in the manner of strtoull/strtoll:
// leading white space and one sign are allowed, nothing may follow the
// digits, and the value must fit the 64-bit type.
bool whole_u64(const char *text, uint64 *ret)
{
    const char *p = text;
    while (is_space(*p)) ++p;
    if (*p == '-') return false;
    if (*p == '+') ++p;
    const char *end = p + strlen(p);
    auto [ptr, ec] = std::from_chars(p, end, *ret, 10);
    return ec == std::errc() && ptr == end && ptr != p;
}

bool whole_i64(const char *text, int64 *ret)
{
    const char *p = text;
    while (is_space(*p)) ++p;
    bool neg = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const char *end = p + strlen(p);
    uint64 mag = 0;
    auto [ptr, ec] = std::from_chars(p, end, mag, 10);
    if (ec != std::errc() || ptr != end || ptr == p) return false;
    if (neg) {
        if (mag > uint64(INT64_MAX) + 1) return false;
        *ret = int64(0 - mag);
    } else {
        if (mag > uint64(INT64_MAX)) return false;
        *ret = int64(mag);
    }
    return true;
}

template <class T> int parse_unsigned(const char *text, uint8 *value)
{
    uint64 v;
    if (!whole_u64(text, &v) || v > uint64(std::numeric_limits<T>::max())) return lc_err_bad_type;
    T t = T(v);
    memcpy(value, &t, sizeof t);
    return 0;
}

template <class T> int parse_signed(const char *text, uint8 *value)
{
    int64 v;
    if (!whole_i64(text, &v) || v < int64(std::numeric_limits<T>::min()) ||
        v > int64(std::numeric_limits<T>::max()))
        return lc_err_bad_type;
    T t = T(v);
    memcpy(value, &t, sizeof t);
    return 0;
}

int parse_bool(std::string_view s, uint8 *value)
{
    static constexpr std::string_view yes[] = {"true", "TRUE", "t", "T", "on", "ON"};
    static constexpr std::string_view no[] = {"false", "FALSE", "f", "F", "off", "OFF"};
    tbool v;
    if (std::find(std::begin(yes), std::end(yes), s) != std::end(yes))
        v = 1;
    else if (std::find(std::begin(no), std::end(no), s) != std::end(no))
        v = 0;
    else
        return lc_err_bad_type;
    memcpy(value, &v, sizeof v);
    return 0;
}

template <class T> int parse_float(const char *text, uint8 *value)
{
    char *end = nullptr;
    errno = 0;
    T v = std::is_same_v<T, float> ? strtof(text, &end) : strtod(text, &end);
    if (end == text || *end != '\0') return lc_err_bad_type;
    if (errno == ERANGE && std::isinf(v)) return lc_err_bad_type;
    memcpy(value, &v, sizeof v);
    return 0;
}

// Four base-10 octets separated by "."; *rest gets what follows the fourth.
bool parse_quad(const char *text, uint32 *ret, const char **rest)
{
    uint32 v = 0;
    const char *p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.') return false;
        uint32 octet = 0;
        const char *start = p;
        while (*p >= '0' && *p <= '9' && p - start < 4) octet = octet * 10 + uint32(*p++ - '0');
        if (p == start || octet > 255) return false;
        v = v << 8 | octet;
    }
    *ret = v;
    *rest = p;
    return true;
}

int parse_ipv4addr(const char *text, uint8 *value)
{
    uint32 v;
    const char *rest;
    if (!parse_quad(text, &v, &rest) || *rest != '\0') return lc_err_bad_type;
    memcpy(value, &v, sizeof v);
    return 0;
}

int parse_ipv4prefix(const char *text, uint8 *value)
{
    uint32 addr;
    const char *rest;
    if (!parse_quad(text, &addr, &rest) || *rest != '/') return lc_err_bad_type;
    uint64 len;
    // An unparsable length is an assertion failure, as for "ipaddr".
    if (!whole_u64(rest + 1, &len) || len > 32) return lc_err_assertion_failed;
    uint32 mask = len == 0 ? 0 : ~uint32(0) << (32 - len);
    uint64 v = uint64(addr) << 32 | mask;
    memcpy(value, &v, sizeof v);
    return 0;
}

// Hex groups separated by ":" or "."; a group of one or two digits is one
// byte, a group of three or four digits (or above 255) is two bytes, so
// both 00:11:22:33:44:55 and 0011.2233.4455 give six bytes.
int parse_mac(const char *text, uint8 *value)
{
    uint8 mac[bn_macaddr802_size];
    uint32 n = 0;
    const char *p = text;
    for (;;) {
        uint32 group = 0, digits = 0;
        for (;; ++p, ++digits) {
            char c = *p;
            int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (d < 0) break;
            if (digits == 4) return lc_err_bad_type;
            group = group << 4 | uint32(d);
        }
        if (digits == 0) return lc_err_bad_type;
        if (digits > 2 || group > 255) {
            if (n + 2 > bn_macaddr802_size) return lc_err_bad_type;
            mac[n++] = uint8(group >> 8);
            mac[n++] = uint8(group);
        } else {
            if (n + 1 > bn_macaddr802_size) return lc_err_bad_type;
            mac[n++] = uint8(group);
        }
        if (*p == '\0') break;
        if (*p != ':' && *p != '.') return lc_err_bad_type;
        ++p;
    }
    if (n != bn_macaddr802_size) return lc_err_bad_type;
    memcpy(value, mac, sizeof mac);
    return 0;
}

int parse_enum(const lc_enum_string_map *map, const char *text, uint8 *value)
{
    int32 v = 0;
    if (lc_string_to_enum(map, text, &v) != 0) return lc_err_bad_type;
    uint32 u = uint32(v);
    memcpy(value, &u, sizeof u);
    return 0;
}

template <class T> int store_addr(int err, const T &v, uint8 *value)
{
    if (err) return err;
    memcpy(value, &v, sizeof v);
    return 0;
}

} // namespace

int parse_inline(bn_type type, uint32 flags, const char *text, uint8 *value, uint32 *ret_len)
{
    *ret_len = type_info(type).size;
    if (time_valued(type, flags)) return parse_time(type, text, value);
    switch (type) {
    case bt_uint8:
        return parse_unsigned<uint8>(text, value);
    case bt_uint16:
        return parse_unsigned<uint16>(text, value);
    case bt_uint32:
        return parse_unsigned<uint32>(text, value);
    case bt_uint64:
        return parse_unsigned<uint64>(text, value);
    case bt_int8:
        return parse_signed<int8>(text, value);
    case bt_int16:
        return parse_signed<int16>(text, value);
    case bt_int32:
        return parse_signed<int32>(text, value);
    case bt_int64:
        return parse_signed<int64>(text, value);
    case bt_bool:
        return parse_bool(text, value);
    case bt_float32:
        return parse_float<float32>(text, value);
    case bt_float64:
        return parse_float<float64>(text, value);
    case bt_char:
        if (text[0] == '\0' || text[1] != '\0') return lc_err_bad_type;
        value[0] = uint8(text[0]);
        return 0;
    case bt_ipaddr: {
        lc_ipaddr a;
        // An unparsable address is an assertion failure, not a bad type.
        if (lc_ipaddr_from_str(text, &a) != 0) return lc_err_assertion_failed;
        return store_addr(0, a, value);
    }
    case bt_ipprefix: {
        lc_ipprefix p;
        return store_addr(lc_ipprefix_from_str(text, &p), p, value);
    }
    case bt_ipv4addr:
        return parse_ipv4addr(text, value);
    case bt_ipv4prefix:
        return parse_ipv4prefix(text, value);
    case bt_macaddr802:
        return parse_mac(text, value);
    case bt_ipv6addr: {
        lc_ipv6addr a;
        return store_addr(lc_ipv6addr_from_str(text, &a), a, value);
    }
    case bt_ipv6prefix: {
        lc_ipv6prefix p;
        return store_addr(lc_ipv6prefix_from_str(text, &p), p, value);
    }
    // Plain durations: whole-text unsigned numbers.
    case bt_duration_sec:
        return parse_unsigned<uint32>(text, value);
    case bt_duration_ms:
    case bt_duration_us:
        return parse_unsigned<uint64>(text, value);
    case bt_btype:
        return parse_enum(bn_type_name_map, text, value);
    case bt_attribute:
        return parse_enum(bn_attribute_id_name_map, text, value);
    default:
        return lc_err_unexpected_case;
    }
}

} // namespace detail
