// Attribute records of the message encoding, pinned by golden bytes written
// out by hand from the layout: decode and check, encode again and compare;
// malformed records each give one code and one log line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bnode/bnode_types.h"
#include "support/log_capture.h"
#include "util/byte_cursor.h"
#include "util/tbuffer.h"

namespace
{

using bytes = std::vector<uint8>;

// Header: encoding, id 1 ("value"), type, flags.
bytes hdr(uint8 enc, uint8 type, uint8 flags_hi = 0, uint8 id = 1)
{
    return {0, 0, 0, enc, 0, 0, 0, id, 0, 0, 0, type, 0, flags_hi, 0, 0};
}

bytes cat(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct golden {
    const char *what;
    bn_type type;
    uint32 flags;
    const char *text; // the value as text
    bytes wire;
};

const bytes zeros12(12, 0);

const golden goldens[] = {
    {"uint32", bt_uint32, 0, "16909060", cat(hdr(1, 5), {0, 0, 0, 4, 1, 2, 3, 4})},
    {"int16 text form", bt_int16, btf_text_form, "-2",
     cat(hdr(1, 4, 0x01), {0, 0, 0, 2, 0xff, 0xfe})},
    {"uint64", bt_uint64, 0, "72623859790382856",
     cat(hdr(1, 7), {0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8})},
    {"bool", bt_bool, 0, "true", cat(hdr(1, 9), {0, 0, 0, 4, 0, 0, 0, 1})},
    {"float64", bt_float64, 0, "1", cat(hdr(1, 21), {0, 0, 0, 8, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0})},
    {"char", bt_char, 0, "A", cat(hdr(1, 40), {0, 0, 0, 1, 'A'})},
    {"ipv4addr", bt_ipv4addr, 0, "10.1.2.3", cat(hdr(1, 60), {0, 0, 0, 4, 10, 1, 2, 3})},
    {"ipv4prefix", bt_ipv4prefix, 0, "10.1.2.3/24",
     cat(hdr(1, 61), {0, 0, 0, 8, 10, 1, 2, 3, 0xff, 0xff, 0xff, 0})},
    {"macaddr802", bt_macaddr802, 0, "00:11:22:33:44:55",
     cat(hdr(2, 62), {0, 0, 0, 6, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55})},
    {"ipv6addr", bt_ipv6addr, 0, "2001:db8::1",
     cat(hdr(1, 63), {0, 0, 0, 16, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
    {"ipv6prefix", bt_ipv6prefix, 0, "2001:db8::/32",
     cat(hdr(1, 64),
         {0, 0, 0, 17, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32})},
    {"ipaddr", bt_ipaddr, 0, "10.1.2.3", cat(cat(hdr(1, 50), {4, 10, 1, 2, 3}), zeros12)},
    {"ipprefix", bt_ipprefix, 0, "10.0.0.0/8", cat(cat(hdr(1, 51), {4, 8, 10, 0, 0, 0}), zeros12)},
    {"string", bt_string, 0, "ab", cat(hdr(4, 101), {0, 0, 0, 2, 'a', 'b'})},
    {"empty string", bt_name, 0, "", cat(hdr(4, 121), {0, 0, 0, 0})},
    {"binary", bt_binary, 0, "xyz", cat(hdr(4, 103), {0, 0, 0, 3, 'x', 'y', 'z'})},
    {"invalid uint8", bt_uint8, btf_invalid, "", cat(hdr(1, 1, 0x04), {0, 0, 0, 1, 0})},
    {"valueless string", bt_string, btf_no_value | btf_deleted, "",
     cat(hdr(4, 101, 0x18), {0, 0, 0, 0})},
};

int write_record(const bn_attrib *a, tbuf *buf)
{
    auto out = bn_attrib_copy_funcs[a->type].copy_out;
    return out ? out(a, buf) : lc_err_not_found;
}

int read_record(const bytes &in, bn_attrib *a, uint32 *used)
{
    // Too short to name its type: let the "uint32" row see it.
    bn_type type = bt_uint32;
    (void)lc_byte_reader(in.data(), in.size())
        .get_at<lc_bytes::order::big>(bn_attrib_wire_type_offset, &type);
    if (type >= bn_type_table_size || !bn_attrib_copy_funcs[type].copy_in) return lc_err_not_found;
    return bn_attrib_copy_funcs[type].copy_in(a, in.data(), uint32(in.size()), used);
}

TEST(BnAttribWire, GoldenRecordsDecodeAndEncodeByteForByte)
{
    LogCapture cap;
    for (const golden &g : goldens) {
        SCOPED_TRACE(g.what);
        owned<bn_attrib> want;
        ASSERT_EQ(bn_attrib_new_str(want.out(), ba_value, g.type, g.flags, g.text), 0);

        owned<tbuf> enc;
        ASSERT_EQ(tb_new(enc.out()), 0);
        ASSERT_EQ(write_record(want.get(), enc.get()), 0);
        EXPECT_EQ(bytes(tb_buf(enc.get()), tb_buf(enc.get()) + tb_length(enc.get())), g.wire);

        owned<bn_attrib> got;
        ASSERT_EQ(bn_attrib_new(got.out()), 0);
        // Trailing bytes are left to the caller.
        uint32 used = 0;
        ASSERT_EQ(read_record(cat(g.wire, {0xee, 0xee}), got.get(), &used), 0);
        EXPECT_EQ(used, g.wire.size());
        EXPECT_EQ(got->type, g.type);
        EXPECT_EQ(got->type_flags, g.flags);
        EXPECT_EQ(got->attribute_id, uint32(ba_value));
        EXPECT_EQ(got->value_length, want->value_length);
        int32 cmp = 99;
        ASSERT_EQ(bn_attrib_compare(got.get(), want.get(), &cmp), 0);
        EXPECT_EQ(cmp, 0);
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

struct malformed {
    const char *what;
    bytes wire;
    int code;
};

TEST(BnAttribWire, MalformedRecordsFailWithOneCodeAndLine)
{
    const malformed cases[] = {
        // 15 of the header's 16 bytes.
        {"truncated header", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0}, lc_err_no_buffer_space},
        {"missing value length", hdr(1, 5), lc_err_no_buffer_space},
        {"truncated value", cat(hdr(1, 5), {0, 0, 0, 4, 1, 2, 3}), lc_err_no_buffer_space},
        {"value length not the size", cat(hdr(1, 5), {0, 0, 0, 3, 1, 2, 3}), lc_err_parse_error},
        {"string length past end", cat(hdr(4, 101), {0, 0, 0, 9, 'a'}), lc_err_no_buffer_space},
        {"huge string length", cat(hdr(4, 101), {0xff, 0xff, 0xff, 0xff, 'a'}),
         lc_err_no_buffer_space},
        {"string encoding on uint32", cat(hdr(4, 5), {0, 0, 0, 4, 1, 2, 3, 4}), lc_err_parse_error},
        {"numeric encoding on string", cat(hdr(1, 101), {0, 0, 0, 0}), lc_err_parse_error},
        {"raw encoding on uint32", cat(hdr(2, 5), {0, 0, 0, 4, 1, 2, 3, 4}), lc_err_parse_error},
        {"id beyond the last", cat(hdr(1, 5, 0, 131), {0, 0, 0, 4, 1, 2, 3, 4}),
         lc_err_parse_error},
        {"bad family", cat(cat(hdr(1, 50), {5, 10, 1, 2, 3}), zeros12), lc_err_parse_error},
        {"ipv4 prefix too long", cat(cat(hdr(1, 51), {4, 33, 10, 0, 0, 0}), zeros12),
         lc_err_parse_error},
        {"truncated address", cat(hdr(1, 50), {4, 10, 1}), lc_err_no_buffer_space},
    };
    for (const malformed &m : cases) {
        SCOPED_TRACE(m.what);
        LogCapture cap;
        owned<bn_attrib> a;
        ASSERT_EQ(bn_attrib_new(a.out()), 0);
        uint32 used = 77;
        EXPECT_EQ(read_record(m.wire, a.get(), &used), m.code);
        EXPECT_EQ(used, 0u);
        char line[64];
        snprintf(line, sizeof line, "Bail forced with error code %d (", m.code);
        EXPECT_EQ(cap.count(line), 1u) << cap.dump();
        EXPECT_EQ(cap.lines().size(), 1u) << cap.dump();
    }
}

} // namespace
