// Small conversions shared by the binding tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bnode/bnode.h"
#include "bnode/bnode_types.h"
#include "util/tstr_array.h"

namespace bnode_test
{

using strings_t = std::vector<std::string>;

// The texts of a string array ("<null>" for an empty slot).
inline strings_t strings_of(const tstr_array *a)
{
    strings_t v;
    for (uint32 i = 0; i < tstr_array_length_quick(a); ++i) {
        const char *s = tstr_array_get_str_quick(a, i);
        v.push_back(s ? s : "<null>");
    }
    return v;
}

inline owned<tstr_array> tstrs(const strings_t &v)
{
    owned<tstr_array> a;
    EXPECT_EQ(tstr_array_new(a.out(), nullptr), 0);
    for (const std::string &s : v) EXPECT_EQ(tstr_array_append_str(a.get(), s.c_str()), 0);
    return a;
}

inline std::string name_of(const bn_binding *b)
{
    return b ? ts_str(b->name) : "(null)";
}

// The value as text; "(none)" when there is no binding or no value.
inline std::string value_of(const bn_binding *b)
{
    owned<tstring> v;
    if (!b || bn_binding_get_tstr(b, ba_value, 0, nullptr, v.out()) != 0 || !v) return "(none)";
    return ts_str(v.get());
}

inline strings_t names_of(const bn_binding_array *a)
{
    strings_t out;
    for (uint32 i = 0; i < bn_binding_array_length_quick(a); ++i)
        out.push_back(name_of(bn_binding_array_get_quick(a, i)));
    return out;
}

struct free_str {
    void operator()(char *p) const { free(p); }
};
// Holds a malloc()ed string.
using heap_str = std::unique_ptr<char, free_str>;

struct text_case {
    bn_type type;
    uint32 flags;
    const char *text;
    const char *printed; // null: prints as given
};

// Every type, parsed from these texts, prints as tabled; shared by the
// tests of the text forms and of the message encoding.  Each spelling of a
// truth value is taken in lower or upper case, not mixed.
inline const text_case text_cases[] = {
    {bt_uint8, 0, "255", nullptr},
    {bt_int8, 0, "-128", nullptr},
    {bt_uint16, 0, "65535", nullptr},
    {bt_int16, 0, "-32768", nullptr},
    {bt_uint32, 0, "4294967295", nullptr},
    {bt_uint32, 0, "+7", "7"},
    {bt_int32, 0, "-2147483648", nullptr},
    {bt_uint64, 0, "18446744073709551615", nullptr},
    {bt_int64, 0, "-9223372036854775808", nullptr},
    {bt_bool, 0, "true", nullptr},
    {bt_bool, 0, "T", "true"},
    {bt_bool, 0, "on", "true"},
    {bt_bool, 0, "false", nullptr},
    {bt_bool, 0, "f", "false"},
    {bt_bool, 0, "OFF", "false"},
    {bt_float32, 0, "0.1", "0.100000001"},
    {bt_float64, 0, "0.1", "0.100000000000000006"},
    {bt_float64, 0, "-2.5e10", "-25000000000"},
    {bt_char, 0, "x", nullptr},
    {bt_ipaddr, 0, "10.1.2.3", nullptr},
    {bt_ipaddr, 0, "2001:0db8:0:0::1", "2001:db8::1"},
    {bt_ipprefix, 0, "10.0.0.0/8", nullptr},
    {bt_ipprefix, 0, "10.1.0.0/255.255.0.0", "10.1.0.0/16"},
    {bt_ipprefix, 0, "2001:db8::/32", nullptr},
    {bt_ipv4addr, 0, "192.168.1.254", nullptr},
    {bt_ipv4prefix, 0, "10.1.2.3/24", nullptr},
    {bt_ipv4prefix, 0, "10.1.2.3/0", nullptr},
    {bt_macaddr802, 0, "0011.2233.4455", "00:11:22:33:44:55"},
    {bt_macaddr802, 0, "aa:bb:cc:dd:ee:ff", "AA:BB:CC:DD:EE:FF"},
    {bt_macaddr802, 0, "0:1:2:3:4:5", "00:01:02:03:04:05"},
    {bt_ipv6addr, 0, "2001:0db8:0000::0001", "2001:db8::1"},
    {bt_ipv6addr, 0, "::", nullptr},
    {bt_ipv6prefix, 0, "fe80::/10", nullptr},
    {bt_date, 0, "2026/12/05", nullptr},
    {bt_time_sec, 0, "12:30:00", nullptr},
    {bt_time_sec, 0, "12:30", "12:30:00"},
    {bt_time_ms, 0, "12:30:01.250", nullptr},
    {bt_time_us, 0, "23:59:59.000001", nullptr},
    {bt_datetime_sec, 0, "2026/12/05 10:20:30", nullptr},
    {bt_datetime_ms, 0, "2026/12/05 10:20:31.250", nullptr},
    {bt_datetime_us, 0, "2026/12/05 10:20:31.000001", nullptr},
    {bt_datetime_us, 0, "2026/12/05 10:20", "2026/12/05 10:20:00"},
    {bt_duration_sec, 0, "90", nullptr},
    {bt_duration_sec, btf_text_form, "90", "90.000000 seconds"},
    {bt_duration_ms, btf_text_form, "1.5", "1.500000 seconds"},
    {bt_duration_us, btf_text_form, "0.000001 seconds", "0.000001 seconds"},
    {bt_duration_ms, 0, "1500", nullptr},
    {bt_duration_us, 0, "18446744073709551615", "-1"},
    {bt_none, 0, "ignored", ""},
    {bt_btype, 0, "ipv4addr", nullptr},
    {bt_btype, 0, "any", nullptr},
    {bt_attribute, 0, "value", nullptr},
    {bt_string, 0, "hello world", nullptr},
    {bt_string, 0, "", nullptr},
    {bt_utf8_string, 0, "gr\xc3\xbc\xc3\x9f", nullptr},
    {bt_utf8_string, 0, "\xff\xfe", nullptr}, // not validated
    {bt_binary, 0, "raw bytes", nullptr},
    {bt_oid, 0, "1.3.6.1.4.1", nullptr},
    {bt_link, 0, "/qz/iptrackd/config", nullptr},
    {bt_name, 0, "m1", nullptr},
    {bt_hostname, 0, "a-b.c", nullptr},
    {bt_hostname, 0, "", nullptr},
    {bt_uri, 0, "http://example.com/x?y=1", nullptr},
    {bt_charlist, 0, "abc", nullptr},
    {bt_regex, 0, "^a.*b$", nullptr},
    {bt_globpattern, 0, "*.conf", nullptr},
};

} // namespace bnode_test
