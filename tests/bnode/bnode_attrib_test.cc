// One attribute record: the per-type family (checked once, generically, for
// every member of BN_ATTRIB_TYPES), copies and release, the borrowing and
// takeover getters, and the ordering of attributes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bnode/bnode_types.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace
{

owned<bn_attrib> attr(bn_type type, const char *text, uint32 flags = 0)
{
    owned<bn_attrib> a;
    EXPECT_EQ(bn_attrib_new_str(a.out(), ba_value, type, flags, text), 0)
        << bn_type_to_name(type) << " " << text;
    return a;
}

// ---------------------------------------------------------------------------
// The family, generically

// A sample value of a member's argument type and a place for the getter.
template <bn_type code> struct sample {
    using arg_t = typename bn_family<code>::arg_type;
    using val_t = std::remove_pointer_t<typename bn_family<code>::ret_type>;
    val_t in{}, out{};
    sample()
    {
        memset(&in, 0x5A, sizeof in);
        memset(&out, 0, sizeof out);
    }
    arg_t arg() { return in; }
    val_t *ret() { return &out; }
    bool round_tripped() const { return memcmp(&in, &out, sizeof in) == 0; }
    uint32 length() const { return sizeof in; }
};

template <> struct sample<bt_macaddr802> {
    uint8 in[bn_macaddr802_size] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    uint8 out[bn_macaddr802_size] = {};
    const uint8 *arg() { return in; }
    uint8 *ret() { return out; }
    bool round_tripped() const { return memcmp(in, out, sizeof in) == 0; }
    uint32 length() const { return sizeof in; }
};

template <> struct sample<bt_binary> {
    owned<tbuf> in, out;
    sample() { EXPECT_EQ(tb_new_buf(in.out(), "\x01\x00\x02", 3), 0); }
    const tbuf *arg() { return in.get(); }
    tbuf **ret() { return out.out(); }
    bool round_tripped() const
    {
        return out && out.get() != in.get() && tb_length(out.get()) == 3 &&
               memcmp(tb_buf(out.get()), "\x01\x00\x02", 3) == 0;
    }
    uint32 length() const { return 3; }
};

template <bn_type code> void check_member()
{
    using F = bn_family<code>;
    SCOPED_TRACE(F::member);
    LogCapture cap;
    sample<code> s;

    owned<bn_attrib> a;
    ASSERT_EQ(F::make(a.out(), ba_revision_id, btf_text_form | 0xFFFF, s.arg()), 0);
    EXPECT_EQ(a->type, code);
    EXPECT_EQ(a->type_flags, uint32(btf_text_form));
    EXPECT_EQ(a->attribute_id, uint32(ba_revision_id));
    EXPECT_EQ(a->value_length, s.length());

    bn_attribute_id id = 0;
    uint32 taf = 0;
    ASSERT_EQ(F::get(a.get(), &id, &taf, s.ret()), 0);
    EXPECT_TRUE(s.round_tripped());
    EXPECT_EQ(id, uint32(ba_revision_id));
    EXPECT_EQ(taf, code | btf_text_form);

    // A copy is equal and independent.
    owned<bn_attrib> copy;
    ASSERT_EQ(bn_attrib_dup(a.get(), copy.out()), 0);
    int32 cmp = 99;
    ASSERT_EQ(bn_attrib_compare(a.get(), copy.get(), &cmp), 0);
    EXPECT_EQ(cmp, 0);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    // Re-setting frees the old value (checked by the sanitizer build).
    ASSERT_EQ(F::set(a.get(), ba_value, 0, s.arg()), 0);

    // Bad ids fail quietly in the setter, with the prescribed lines in new.
    for (bn_attribute_id bad : {0u, 4u, 131u})
        EXPECT_EQ(F::set(a.get(), bad, 0, s.arg()), lc_err_assertion_failed);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    bn_attrib *raw = reinterpret_cast<bn_attrib *>(0x1);
    EXPECT_EQ(F::make(&raw, ba_none, 0, s.arg()), lc_err_cancelled);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(cap.count("Error setting attribute"), 1u) << cap.dump();
    EXPECT_EQ(F::make(nullptr, ba_value, 0, s.arg()), lc_err_cancelled);
    EXPECT_EQ(cap.count("Return attribute pointer was NULL"), 1u) << cap.dump();

    // The getter wants the exact type.
    cap.clear();
    owned<bn_attrib> other;
    ASSERT_EQ(bn_attrib_new(other.out()), 0);
    EXPECT_EQ(F::get(other.get(), &id, &taf, s.ret()), lc_err_assertion_failed);
    EXPECT_EQ(taf, 0u);
    EXPECT_EQ(cap.count(std::string("Tried to get a none attribute as a ") + bn_type_to_name(code)),
              1u)
        << cap.dump();
}

TEST(BnAttribFamily, EveryMemberStoresReturnsAndChecksAlike)
{
#define X(name, code, arg_t, ret_t) check_member<code>();
    BN_ATTRIB_TYPES(X)
#undef X
}

TEST(BnAttribFamily, MacAndIpv6PrefixStoreTheTypeOnlyWithoutAValue)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_macaddr802(a.out(), ba_value, btf_no_value, nullptr), 0);
    EXPECT_EQ(a->type, uint32(bt_macaddr802));
    EXPECT_EQ(a->value_length, 0u);
    ASSERT_EQ(bn_attrib_set_ipv6prefix(a.get(), ba_value, btf_no_value, lc_ipv6prefix{}), 0);
    EXPECT_EQ(a->type, uint32(bt_ipv6prefix));
    EXPECT_EQ(a->value_length, 0u);
    LogCapture cap;
    EXPECT_EQ(bn_attrib_set_macaddr802(a.get(), ba_value, 0, nullptr), lc_err_unexpected_null);
    EXPECT_EQ(cap.count("Unexpected NULL"), 1u) << cap.dump();
}

TEST(BnAttribFamily, BinaryTakeoverOwnsTheBufferOnFailureToo)
{
    owned<tbuf> buf;
    ASSERT_EQ(tb_new_buf(buf.out(), "abc", 3), 0);
    tbuf *raw = buf.release();
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new(a.out()), 0);
    ASSERT_EQ(bn_attrib_set_binary_takeover(a.get(), ba_value, 0, &raw), 0);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(a->value_length, 3u);
    ASSERT_EQ(tb_new_buf(buf.out(), "x", 1), 0);
    raw = buf.release();
    EXPECT_EQ(bn_attrib_set_binary_takeover(a.get(), ba_none, 0, &raw), lc_err_assertion_failed);
    EXPECT_EQ(raw, nullptr); // freed, not leaked (sanitizer build)
}

// ---------------------------------------------------------------------------
// Record operations and getters

TEST(BnAttrib, NewFreeValueAndDupKeepTheHeaderRules)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new(a.out()), 0);
    EXPECT_EQ(a->type, uint32(bt_none));
    EXPECT_EQ(a->attribute_id, uint32(ba_none));
    EXPECT_EQ(a->type_flags, 0u);

    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_node_info, bt_string, btf_deleted, "text"), 0);
    owned<bn_attrib> copy;
    ASSERT_EQ(bn_attrib_dup(a.get(), copy.out()), 0);
    EXPECT_NE(copy->value.ts, a->value.ts);
    EXPECT_STREQ(ts_str(copy->value.ts), "text");
    EXPECT_EQ(copy->attribute_id, uint32(ba_node_info));
    EXPECT_EQ(copy->type_flags, uint32(btf_deleted));
    EXPECT_EQ(copy->value_length, 4u);

    ASSERT_EQ(bn_attrib_free_value(a.get()), 0);
    EXPECT_EQ(a->type, uint32(bt_none));
    EXPECT_EQ(a->attribute_id, uint32(ba_none));
    EXPECT_EQ(a->type_flags, 0u);
    EXPECT_EQ(a->value.ts, nullptr);

    bn_attrib *p = copy.release();
    EXPECT_EQ(bn_attrib_free(&p), 0);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(bn_attrib_free(&p), 0);
}

TEST(BnAttrib, SetTypeNeverMakesTheRecordMisreadItsValue)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new(a.out()), 0);
    ASSERT_EQ(bn_attrib_set_type(a.get(), bt_string), 0); // empty area: fine
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_string, 0, "x"), 0);
    ASSERT_EQ(bn_attrib_set_type(a.get(), bt_link), 0); // string to string
    LogCapture cap;
    EXPECT_EQ(bn_attrib_set_type(a.get(), bt_uint32), lc_err_assertion_failed);
    EXPECT_EQ(bn_attrib_set_type(a.get(), bt_binary), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 2u) << cap.dump();
    bn_type t = 0;
    uint32 f = 1;
    ASSERT_EQ(bn_attrib_get_type(a.get(), &t, &f), 0);
    EXPECT_EQ(t, uint32(bt_link));
    EXPECT_EQ(f, 0u);
}

TEST(BnAttrib, StringGettersBorrowTakeOverAndRefuseOtherTypes)
{
    owned<bn_attrib> a = attr(bt_link, "/a/b");
    const tstring *borrowed = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_attrib_get_tstring_const(a.get(), nullptr, 0, &taf, &borrowed), 0);
    EXPECT_EQ(borrowed, a->value.ts);
    EXPECT_EQ(taf, uint32(bt_link));

    owned<bn_attrib> num = attr(bt_uint8, "1");
    LogCapture cap;
    EXPECT_EQ(bn_attrib_get_tstring_const(num.get(), nullptr, 0, nullptr, &borrowed),
              lc_err_assertion_failed);
    EXPECT_EQ(borrowed, nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    bn_attrib *raw = a.release();
    tstring *taken = nullptr;
    ASSERT_EQ(bn_attrib_get_tstring_takeover(&raw, nullptr, bt_link, nullptr, &taken), 0);
    EXPECT_EQ(raw, nullptr);
    EXPECT_STREQ(ts_str(taken), "/a/b");
    ts_free(&taken);

    // The attribute is freed when the takeover fails as well.
    raw = num.release();
    EXPECT_EQ(bn_attrib_get_tstring_takeover(&raw, nullptr, 0, nullptr, &taken),
              lc_err_assertion_failed);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(taken, nullptr);
}

TEST(BnAttrib, AbsentStringsPrintAsNullAndBinaryStopsAtZero)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new(a.out()), 0);
    a->type = bt_string; // a string type that holds no string
    char *text = reinterpret_cast<char *>(0x1);
    ASSERT_EQ(bn_attrib_get_str(a.get(), nullptr, bt_string, nullptr, &text), 0);
    EXPECT_EQ(text, nullptr);
    char buf[8] = "junk";
    ASSERT_EQ(bn_attrib_get_buf(a.get(), nullptr, 0, nullptr, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");

    owned<tbuf> tb;
    ASSERT_EQ(tb_new_buf(tb.out(), "ab\0cd", 5), 0);
    ASSERT_EQ(bn_attrib_set_binary(a.get(), ba_value, 0, tb.get()), 0);
    ASSERT_EQ(bn_attrib_get_str(a.get(), nullptr, bt_binary, nullptr, &text), 0);
    EXPECT_STREQ(text, "ab");
    free(text);
    const uint8 *bytes = nullptr;
    uint32 len = 0;
    ASSERT_EQ(bn_attrib_get_buf_const(a.get(), nullptr, nullptr, &bytes, &len), 0);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(memcmp(bytes, "ab\0cd", 5), 0);
    bn_attrib *raw = a.release();
    tbuf *taken = nullptr;
    ASSERT_EQ(bn_attrib_get_tbuf_takeover(&raw, nullptr, nullptr, &taken), 0);
    EXPECT_EQ(tb_length(taken), 5u);
    tb_free(&taken);
}

TEST(BnAttrib, OidSplitsIntoAtMostTheRequestedComponents)
{
    owned<bn_attrib> a = attr(bt_oid, "1.3.6.1.4.1.99");
    uint32 comps[4] = {9, 9, 9, 9}, count = 0;
    ASSERT_EQ(bn_attrib_get_oid(a.get(), nullptr, nullptr, 4, comps, &count), 0);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(std::vector<uint32>(comps, comps + 4), (std::vector<uint32>{1, 3, 6, 1}));
    LogCapture cap;
    EXPECT_EQ(bn_attrib_get_oid(a.get(), nullptr, nullptr, 4, comps, nullptr),
              lc_err_assertion_failed);
    owned<bn_attrib> empty = attr(bt_oid, "");
    ASSERT_EQ(bn_attrib_get_oid(empty.get(), nullptr, nullptr, 4, comps, &count), 0);
    EXPECT_EQ(count, 0u);
    owned<bn_attrib> s = attr(bt_string, "1.2");
    EXPECT_EQ(bn_attrib_get_oid(s.get(), nullptr, nullptr, 4, comps, &count),
              lc_err_assertion_failed);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnAttrib, ArrayPrintsSlotsByAttributeId)
{
    owned<bn_attrib_array> arr;
    ASSERT_EQ(bn_attrib_array_new(arr.out()), 0);
    owned<bn_attrib> v = attr(bt_ipv4addr, "10.0.0.1");
    ASSERT_EQ(bn_attrib_array_set(arr.get(), ba_value, v.get()), 0);
    tstring *ts = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_attrib_array_get_attrib_tstr(arr.get(), ba_value, &taf, &ts), 0);
    EXPECT_STREQ(ts_str(ts), "10.0.0.1");
    EXPECT_EQ(taf, uint32(bt_ipv4addr));
    ts_free(&ts);
    for (bn_attribute_id empty : {0u, 2u, 4000u}) {
        ASSERT_EQ(bn_attrib_array_get_attrib_tstr(arr.get(), empty, &taf, &ts), 0);
        EXPECT_EQ(ts, nullptr);
        EXPECT_EQ(taf, 0u);
    }
    // The array owns a copy.
    owned<bn_attrib_array> copy;
    ASSERT_EQ(bn_attrib_array_duplicate(arr.get(), copy.out()), 0);
    EXPECT_NE(bn_attrib_array_get_quick(copy.get(), ba_value), v.get());
}

// ---------------------------------------------------------------------------
// Ordering

int32 compare(const bn_attrib *a, const bn_attrib *b)
{
    int32 r = 99;
    EXPECT_EQ(bn_attrib_compare(a, b, &r), 0);
    return r;
}

int32 sign(int32 v)
{
    return (v > 0) - (v < 0);
}

TEST(BnAttribCompare, MissingAndInvalidSortLastThenTypeCodeDecides)
{
    owned<bn_attrib> u8 = attr(bt_uint8, "200"), u16 = attr(bt_uint16, "1");
    owned<bn_attrib> bad = attr(bt_uint8, "x", btf_invalid),
                     bad2 = attr(bt_string, "", btf_invalid);
    EXPECT_EQ(compare(nullptr, nullptr), 0);
    EXPECT_EQ(compare(u8.get(), nullptr), -1);
    EXPECT_EQ(compare(nullptr, u8.get()), 1);
    EXPECT_EQ(compare(bad.get(), u8.get()), 1);
    EXPECT_EQ(compare(u8.get(), bad.get()), -1);
    EXPECT_EQ(compare(bad.get(), bad2.get()), 0);
    EXPECT_EQ(compare(u8.get(), u16.get()), -2); // type code difference, not value
    EXPECT_EQ(compare(u16.get(), u8.get()), 2);
}

struct order_case {
    bn_type type;
    const char *lo, *hi;
};

// Each pair: lo sorts strictly before hi.
const order_case order_cases[] = {
    {bt_uint8, "9", "10"},
    {bt_int8, "-5", "3"},
    {bt_uint64, "9223372036854775808", "18446744073709551615"},
    {bt_int64, "-9223372036854775808", "0"},
    {bt_bool, "false", "true"},
    {bt_float32, "-1.5", "0.25"},
    {bt_float64, "1e-300", "1e300"},
    {bt_char, "A", "a"},
    {bt_ipv4addr, "9.255.255.255", "10.0.0.0"},
    {bt_ipv4prefix, "10.0.0.0/8", "10.0.0.0/16"}, // address, then mask
    {bt_ipv4prefix, "9.0.0.0/32", "10.0.0.0/8"},
    {bt_macaddr802, "00:FF:FF:FF:FF:FF", "01:00:00:00:00:00"},
    // First address byte least significant: "2001::" is small, "::1" large.
    {bt_ipv6addr, "2001::", "::1"},
    {bt_ipv6addr, "ff00::", "::100"},
    {bt_ipv6prefix, "::1/64", "::1/65"},
    {bt_ipv6prefix, "ff::/128", "::1/0"},
    {bt_duration_sec, "59", "60"},
    {bt_btype, "uint8", "string"},
    {bt_attribute, "value", "node_count"},
    {bt_string, "abc", "abd"},
    {bt_string, "ab", "abc"},
    {bt_binary, "ab", "abc"},
    {bt_binary, "abc", "abd"},
    {bt_ipaddr, "10.0.0.1", "10.0.0.2"},
    {bt_ipaddr, "255.255.255.255", "::"}, // family 4 before 6
    {bt_ipprefix, "10.0.0.0/8", "10.0.0.0/9"},
};

TEST(BnAttribCompare, SameTypeOrdersByValue)
{
    for (const order_case &c : order_cases) {
        owned<bn_attrib> lo = attr(c.type, c.lo), hi = attr(c.type, c.hi);
        EXPECT_EQ(sign(compare(lo.get(), hi.get())), -1) << c.lo << " < " << c.hi;
        EXPECT_EQ(sign(compare(hi.get(), lo.get())), 1) << c.hi << " > " << c.lo;
        EXPECT_EQ(compare(lo.get(), lo.get()), 0) << c.lo;
    }
}

TEST(BnAttribCompare, NullBinarySortsFirstAndUnorderedTypesFail)
{
    owned<bn_attrib> none, some = attr(bt_binary, "");
    ASSERT_EQ(bn_attrib_new(none.out()), 0);
    none->type = bt_binary;
    EXPECT_EQ(compare(none.get(), some.get()), -1);
    EXPECT_EQ(compare(some.get(), none.get()), 1);
    owned<bn_attrib> n1, n2;
    ASSERT_EQ(bn_attrib_new(n1.out()), 0);
    ASSERT_EQ(bn_attrib_new(n2.out()), 0);
    EXPECT_EQ(compare(n1.get(), n2.get()), 0);
    n1->type = n2->type = bt_any;
    int32 r = 5;
    LogCapture cap;
    EXPECT_EQ(bn_attrib_compare(n1.get(), n2.get(), &r), lc_err_bad_type);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnAttribCompare, NumericOperatorCodes)
{
    owned<bn_attrib> two = attr(bt_int32, "2"), three = attr(bt_int32, "3");
    struct {
        uint32 op;
        int32 lt, eq, gt; // results for 2?3, 2?2, 3?2
    } const ops[] = {{bno_gt, 0, 0, 1}, {bno_ge, 0, 1, 1}, {bno_lt, 1, 0, 0},
                     {bno_le, 1, 1, 0}, {bno_eq, 0, 1, 0}, {bno_three_way, -1, 0, 1}};
    for (const auto &o : ops) {
        int32 r = 99;
        ASSERT_EQ(bn_type_numeric_compare(two.get(), three.get(), o.op, &r), 0);
        EXPECT_EQ(r, o.lt) << o.op;
        ASSERT_EQ(bn_type_numeric_compare(two.get(), two.get(), o.op, &r), 0);
        EXPECT_EQ(r, o.eq) << o.op;
        ASSERT_EQ(bn_type_numeric_compare(three.get(), two.get(), o.op, &r), 0);
        EXPECT_EQ(r, o.gt) << o.op;
    }
    int32 r = 0;
    EXPECT_EQ(bn_type_numeric_compare(two.get(), three.get(), 7, &r), lc_err_unexpected_case);
    EXPECT_EQ(bn_type_numeric_compare(two.get(), three.get(), 0, &r), lc_err_unexpected_case);

    LogCapture cap;
    owned<bn_attrib> s = attr(bt_string, "2");
    EXPECT_EQ(bn_type_numeric_compare(two.get(), s.get(), bno_eq, &r), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 1u) << cap.dump();
}

TEST(BnAttribCompare, CrossTypeComparesValuesWithTheirSignedness)
{
    owned<bn_attrib> neg = attr(bt_int8, "-1"), big = attr(bt_uint64, "18446744073709551615");
    owned<bn_attrib> half = attr(bt_float64, "0.5"), zero = attr(bt_uint32, "0");
    owned<bn_attrib> mac = attr(bt_macaddr802, "00:00:00:00:00:00");
    int32 r = 0;
    ASSERT_EQ(bn_type_numeric_compare(neg.get(), big.get(), bno_three_way, &r), 0);
    EXPECT_EQ(r, -1);
    ASSERT_EQ(bn_type_numeric_compare(half.get(), zero.get(), bno_gt, &r), 0);
    EXPECT_EQ(r, 1);
    ASSERT_EQ(bn_type_numeric_compare(neg.get(), half.get(), bno_lt, &r), 0);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(bn_type_numeric_compare(mac.get(), zero.get(), bno_eq, &r), lc_err_bad_type);
}

} // namespace
