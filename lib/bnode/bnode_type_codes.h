// The attribute type codes and type flags alone, for modules that need the codes without
// the attribute record (and without the container headers it pulls in).
#pragma once

#include "log/common.h"

// ---------------------------------------------------------------------------
// Type codes

typedef uint32 bn_type;

enum bn_type_code : uint32 {
    bt_NONE = 0, // no type at all (not a valid attribute type)
    bt_uint8 = 1,
    bt_int8 = 2,
    bt_uint16 = 3,
    bt_int16 = 4,
    bt_uint32 = 5,
    bt_int32 = 6,
    bt_uint64 = 7,
    bt_int64 = 8,
    bt_bool = 9,
    bt_float32 = 20,
    bt_float64 = 21,
    bt_char = 40,
    bt_ipaddr = 50,
    bt_ipprefix = 51,
    bt_ipv4addr = 60,
    bt_ipv4prefix = 61,
    bt_macaddr802 = 62,
    bt_ipv6addr = 63,
    bt_ipv6prefix = 64,
    bt_date = 70,
    bt_time_sec = 71,
    bt_time_ms = 72,
    bt_time_us = 73,
    bt_datetime_sec = 74,
    bt_datetime_ms = 75,
    bt_datetime_us = 76,
    bt_duration_sec = 77,
    bt_duration_ms = 78,
    bt_duration_us = 79,
    bt_none = 90,
    bt_any = 91,
    bt_btype = 92,
    bt_attribute = 93,
    bt_string = 101,
    bt_utf8_string = 102,
    bt_binary = 103,
    bt_oid = 105,
    bt_link = 120,
    bt_name = 121,
    bt_hostname = 130,
    bt_uri = 131,
    bt_charlist = 132,
    bt_regex = 133,
    bt_globpattern = 134,
    bt_secret = 135,
};

// Highest valid code; per-type tables have bn_type_table_size rows.
constexpr bn_type bt_LAST = bt_secret;
constexpr uint32 bn_type_table_size = bt_LAST + 1;
// Codes 1..bn_type_fixed_limit are the candidates of bn_type_fixed_size.
constexpr bn_type bn_type_fixed_limit = 100;
// Bytes of the value area of an attribute.
constexpr uint32 bn_attrib_value_area_size = 32;

// ---------------------------------------------------------------------------
// Type flags (high 16 bits; the low 16 are cleared whenever flags are stored)

enum bn_type_flag : uint32 {
    btf_none = 0,
    btf_text_form = 0x10000, // durations in the human duration form
    btf_invalid = 0x40000,   // type present, value invalid (zeroed)
    btf_deleted = 0x80000,   // the carrying node was deleted
    btf_no_value = 0x100000, // type only, no value stored
};
constexpr uint32 btf_mask = 0xFFFF0000u;
