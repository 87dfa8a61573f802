// Internals shared by the attribute sources (bnode_types*.cc): the per-type
// table and the value-level parse and print steps.  Not for other modules.
#pragma once

#include <array>
#include <cstring>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_time.h"

namespace detail
{

// Class bits of the per-type table.
enum bn_type_class_bit : uint8 {
    btc_valid = 0x01,
    btc_allocs = 0x02,
    btc_string = 0x04,
    btc_tbuf = 0x08,
    btc_numeric = 0x10,
    btc_ordered = 0x20,
    btc_fixed = 0x40, // has a fixed size (bn_type_fixed_size succeeds)
};

struct bn_type_info {
    uint8 classes;
    uint8 size; // fixed size, or the inline size of "ipaddr"/"ipprefix"
};

constexpr uint8 btc_int = btc_valid | btc_numeric | btc_ordered | btc_fixed;
constexpr uint8 btc_ord = btc_valid | btc_ordered | btc_fixed;
constexpr uint8 btc_str = btc_valid | btc_allocs | btc_string;

constexpr std::array<bn_type_info, bn_type_table_size> build_type_infos()
{
    std::array<bn_type_info, bn_type_table_size> t{};
    auto set = [&](bn_type code, uint8 classes, uint8 size) { t[code] = {classes, size}; };
    set(bt_uint8, btc_int, 1);
    set(bt_int8, btc_int, 1);
    set(bt_uint16, btc_int, 2);
    set(bt_int16, btc_int, 2);
    set(bt_uint32, btc_int, 4);
    set(bt_int32, btc_int, 4);
    set(bt_uint64, btc_int, 8);
    set(bt_int64, btc_int, 8);
    set(bt_bool, btc_ord, 4);
    set(bt_float32, btc_int, 4);
    set(bt_float64, btc_int, 8);
    set(bt_char, btc_ord, 1);
    set(bt_ipaddr, btc_valid, sizeof(lc_ipaddr));
    set(bt_ipprefix, btc_valid, sizeof(lc_ipprefix));
    set(bt_ipv4addr, btc_ord, 4);
    set(bt_ipv4prefix, btc_ord, 8);
    set(bt_macaddr802, btc_ord, bn_macaddr802_size);
    set(bt_ipv6addr, btc_ord, sizeof(lc_ipv6addr));
    set(bt_ipv6prefix, btc_ord, sizeof(lc_ipv6prefix));
    for (bn_type c : {bt_date, bt_time_sec, bt_datetime_sec}) set(c, btc_ord, 4);
    for (bn_type c : {bt_time_ms, bt_time_us, bt_datetime_ms, bt_datetime_us}) set(c, btc_ord, 8);
    set(bt_duration_sec, btc_int, 4);
    set(bt_duration_ms, btc_int, 8);
    set(bt_duration_us, btc_int, 8);
    set(bt_none, btc_valid | btc_fixed, 0);
    set(bt_any, btc_valid, 0);
    set(bt_btype, btc_ord, 4);
    set(bt_attribute, btc_ord, 4);
    for (bn_type c : {bt_string, bt_utf8_string, bt_oid, bt_link, bt_name, bt_hostname, bt_uri,
                      bt_charlist, bt_regex, bt_globpattern, bt_secret})
        set(c, btc_str, 0);
    set(bt_binary, btc_valid | btc_allocs | btc_tbuf, 0);
    return t;
}

// Indexed by code; an all-zero row is not a type.
inline constexpr std::array<bn_type_info, bn_type_table_size> bn_type_infos = build_type_infos();

inline constexpr bn_type_info bn_no_type_info{};

constexpr const bn_type_info &type_info(bn_type type)
{
    return type < bn_type_table_size ? bn_type_infos[type] : bn_no_type_info;
}
constexpr bool type_has(bn_type type, uint8 bits)
{
    return (type_info(type).classes & bits) != 0;
}
constexpr bool type_valid(bn_type type)
{
    return type_has(type, btc_valid);
}

// The inline value as a typed object (value area is 8-byte aligned).
template <class T> inline T value_as(const bn_attrib *a)
{
    T v;
    memcpy(&v, a->value.bytes, sizeof v);
    return v;
}
template <class T> inline void value_store(bn_attrib *a, const T &v)
{
    memcpy(a->value.bytes, &v, sizeof v);
}

// Stores id, type and flags after freeing the old value.
int attrib_reset_header(bn_attrib *a, bn_attribute_id id, bn_type type, uint32 flags);

// Converts `text` (non-empty) into the inline value of a type below 101;
// lc_err_unexpected_case (unlogged here) for a type with no text form.
int parse_inline(bn_type type, uint32 flags, const char *text, uint8 *value, uint32 *ret_len);

// Text of one value: either in `local` or borrowed from the attribute.
struct printed {
    const char *text = nullptr; // null: absent string/buffer
    uint32 len = 0;
    char local[128];
};
// Prints `a` (any expected-type check already done).
int print_attrib(const bn_attrib *a, printed *out);

} // namespace detail
