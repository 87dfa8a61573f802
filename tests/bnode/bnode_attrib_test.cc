// Attribute records: the per-type family (checked once, generically, for
// every member of BN_ATTRIB_TYPES), copies, release and getters; the text
// form of every type (conversions that fail return their code without a log
// line); type sizes, classes and names; ordering and the numeric family; the
// records of the message encoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bnode/bnode_types.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"
#include "util/byte_cursor.h"
#include "util/tbuffer.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

using namespace bnode_test;

owned<bn_attrib> attr(bn_type type, const char *text, uint32 flags = 0)
{
    owned<bn_attrib> a;
    EXPECT_EQ(bn_attrib_new_str(a.out(), ba_value, type, flags, text), 0)
        << bn_type_to_name(type) << " " << text;
    return a;
}

// A new record, as made; or with `type` forced into it without a value.
owned<bn_attrib> blank(bn_type type = bt_none)
{
    owned<bn_attrib> a;
    EXPECT_EQ(bn_attrib_new(a.out()), 0);
    if (a && type != bt_none) a->type = type;
    return a;
}

// The value as printed, whatever its type.
std::string printed(const bn_attrib *a)
{
    char *out = nullptr;
    EXPECT_EQ(bn_attrib_get_str(a, nullptr, 0, nullptr, &out), 0);
    heap_str hold(out);
    return out ? out : "<null>";
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
    owned<bn_attrib> other = blank();
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

TEST(BnAttribFamily, ValuelessMacAndIpv6PrefixAndTheBinaryTakeover)
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

    // The binary takeover owns the buffer, on failure too.
    owned<tbuf> buf;
    ASSERT_EQ(tb_new_buf(buf.out(), "abc", 3), 0);
    tbuf *raw = buf.release();
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

TEST(BnAttrib, DupAndFreeValueKeepTheHeaderRules)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_node_info, bt_string, btf_deleted, "text"), 0);
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
    owned<bn_attrib> a = blank();
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
    owned<tstring> taken;
    ASSERT_EQ(bn_attrib_get_tstring_takeover(&raw, nullptr, bt_link, nullptr, taken.out()), 0);
    EXPECT_EQ(raw, nullptr);
    EXPECT_STREQ(ts_str(taken.get()), "/a/b");

    // The attribute is freed when the takeover fails as well.
    raw = num.release();
    EXPECT_EQ(bn_attrib_get_tstring_takeover(&raw, nullptr, 0, nullptr, taken.out()),
              lc_err_assertion_failed);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(taken.get(), nullptr);
}

TEST(BnAttrib, AbsentStringsPrintAsNullAndBinaryStopsAtZero)
{
    owned<bn_attrib> a = blank(bt_string); // a string type that holds no string
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
    owned<tbuf> taken;
    ASSERT_EQ(bn_attrib_get_tbuf_takeover(&raw, nullptr, nullptr, taken.out()), 0);
    EXPECT_EQ(tb_length(taken.get()), 5u);
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
    owned<tstring> ts;
    uint32 taf = 0;
    ASSERT_EQ(bn_attrib_array_get_attrib_tstr(arr.get(), ba_value, &taf, ts.out()), 0);
    EXPECT_STREQ(ts_str(ts.get()), "10.0.0.1");
    EXPECT_EQ(taf, uint32(bt_ipv4addr));
    for (bn_attribute_id empty : {0u, 2u, 4000u}) {
        ASSERT_EQ(bn_attrib_array_get_attrib_tstr(arr.get(), empty, &taf, ts.out()), 0);
        EXPECT_EQ(ts.get(), nullptr);
        EXPECT_EQ(taf, 0u);
    }
    // The array owns a copy.
    owned<bn_attrib_array> copy;
    ASSERT_EQ(bn_attrib_array_duplicate(arr.get(), copy.out()), 0);
    EXPECT_NE(bn_attrib_array_get_quick(copy.get(), ba_value), v.get());
}

// ---------------------------------------------------------------------------
// Text forms

TEST(BnAttribText, EveryTypeParsesAndPrintsAsTabled)
{
    LogCapture cap;
    for (const text_case &c : text_cases) {
        owned<bn_attrib> a = attr(c.type, c.text, c.flags);
        EXPECT_EQ(a ? printed(a.get()) : "<parse failed>", c.printed ? c.printed : c.text)
            << bn_type_to_name(c.type) << " \"" << c.text << "\"";
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

struct fail_case {
    bn_type type;
    uint32 flags;
    const char *text;
    int code;
};

const fail_case fail_cases[] = {
    {bt_uint8, 0, "256", lc_err_bad_type},
    {bt_uint32, 0, "-1", lc_err_bad_type},
    {bt_uint32, 0, " -1", lc_err_bad_type},
    {bt_uint64, 0, "18446744073709551616", lc_err_bad_type},
    {bt_int32, 0, "12x", lc_err_bad_type},
    {bt_uint16, 0, "", lc_err_bad_type},
    {bt_int8, 0, "-129", lc_err_bad_type},
    {bt_int64, 0, "-9223372036854775809", lc_err_bad_type},
    {bt_uint8, 0, "0x10", lc_err_bad_type},
    {bt_bool, 0, "yes", lc_err_bad_type},
    {bt_bool, 0, "True", lc_err_bad_type},
    {bt_float32, 0, "1.5x", lc_err_bad_type},
    {bt_float64, 0, "1e999", lc_err_bad_type},
    {bt_char, 0, "ab", lc_err_bad_type},
    {bt_char, 0, "", lc_err_bad_type},
    {bt_ipaddr, 0, "1.2.3.256", lc_err_assertion_failed},
    {bt_ipprefix, 0, "10.0.0.0", lc_err_bad_type},
    {bt_ipprefix, 0, "10.0.0.0/33", lc_err_assertion_failed},
    {bt_ipprefix, 0, "10.0.0.0/255.0.255.0", lc_err_assertion_failed},
    {bt_ipv4addr, 0, "1.2.3", lc_err_bad_type},
    {bt_ipv4addr, 0, "1.2.3.4.5", lc_err_bad_type},
    {bt_ipv4addr, 0, "256.1.1.1", lc_err_bad_type},
    {bt_ipv4addr, 0, "1.2.3.4 ", lc_err_bad_type},
    {bt_ipv4prefix, 0, "10.1.2.3", lc_err_bad_type},
    {bt_ipv4prefix, 0, "10.1.2.3/33", lc_err_assertion_failed},
    {bt_ipv4prefix, 0, "10.1.2.3/x", lc_err_assertion_failed},
    {bt_macaddr802, 0, "00:11:22:33:44", lc_err_bad_type},
    {bt_macaddr802, 0, "00:11:22:33:44:55:66", lc_err_bad_type},
    {bt_macaddr802, 0, "0011.2233.44556", lc_err_bad_type},
    {bt_macaddr802, 0, "00:11:22:33:44:gg", lc_err_bad_type},
    {bt_macaddr802, 0, "00::11:22:33:44:55", lc_err_bad_type},
    {bt_ipv6addr, 0, "2001::db8::1", lc_err_bad_type},
    {bt_ipv6prefix, 0, "::/129", lc_err_bad_type},
    {bt_ipv6prefix, 0, "::", lc_err_bad_type},
    {bt_ipv6prefix, 0, "10.0.0.0/8", lc_err_bad_type},
    {bt_date, 0, "2026/13/01", lc_err_bad_type},
    {bt_date, 0, "2026/12/05 10:00", lc_err_bad_type},
    {bt_time_sec, 0, "25:00", lc_err_bad_type},
    {bt_datetime_sec, 0, "yesterday", lc_err_bad_type},
    {bt_duration_us, btf_text_form, "soon", lc_err_bad_type},
    {bt_duration_sec, 0, "-5", lc_err_bad_type},
    {bt_duration_sec, 0, "4294967296", lc_err_bad_type},
    {bt_duration_ms, 0, "1.5", lc_err_bad_type},
    {bt_btype, 0, "nosuch", lc_err_bad_type},
    {bt_attribute, 0, "bogus", lc_err_bad_type},
    {bt_hostname, 0, "-ab", lc_err_bad_type},
    {bt_hostname, 0, "a_b", lc_err_bad_type},
};

TEST(BnAttribText, FailedConversionsReturnTheirCodeWithoutALogLine)
{
    LogCapture cap;
    for (const fail_case &c : fail_cases) {
        owned<bn_attrib> a;
        EXPECT_EQ(bn_attrib_new_str(a.out(), ba_value, c.type, c.flags, c.text), c.code)
            << bn_type_to_name(c.type) << " \"" << c.text << "\"";
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnAttribText, FailedSetsKeepTheValueAndOnlyAnyIsAForcedBail)
{
    LogCapture cap;
    // A failed parse leaves the value as it was.
    owned<bn_attrib> a = attr(bt_uint32, "42");
    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_uint8, 0, "300"), lc_err_bad_type);
    uint32 v = 0, taf = 0;
    ASSERT_EQ(bn_attrib_get_uint32(a.get(), nullptr, &taf, &v), 0);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(taf, uint32(bt_uint32));

    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_string, 0, nullptr), lc_err_unexpected_null);
    for (bn_attribute_id bad : {0u, 4u, 131u})
        EXPECT_EQ(bn_attrib_set_str(a.get(), bad, bt_string, 0, "x"), lc_err_assertion_failed);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_any, 0, "x"), lc_err_unexpected_case);
    EXPECT_EQ(cap.count("Bail forced with error code 14019 (unexpected case in switch statement)"),
              1u)
        << cap.dump();
    // The empty text fails as a bad type before the type is looked at.
    cap.clear();
    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_any, 0, ""), lc_err_bad_type);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    // Printing one is a forced bail too.
    cap.clear();
    a->type = bt_any;
    char *out = nullptr;
    EXPECT_EQ(bn_attrib_get_str(a.get(), nullptr, 0, nullptr, &out), lc_err_unexpected_case);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cap.count("Bail forced with error code 14019"), 1u) << cap.dump();
}

TEST(BnAttribText, InvalidAndNoValueFlagsStoreTheTypeOnly)
{
    LogCapture cap;
    owned<bn_attrib> a = attr(bt_uint64, "junk", btf_invalid | 0x1234);
    EXPECT_EQ(a->type, uint32(bt_uint64));
    EXPECT_EQ(a->type_flags, uint32(btf_invalid)); // low 16 bits dropped
    EXPECT_EQ(a->value_length, 8u);
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_string, btf_invalid, "junk"), 0);
    EXPECT_EQ(a->value_length, 0u);
    EXPECT_EQ(a->value.ts, nullptr);
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_ipaddr, btf_invalid, nullptr), 0);
    EXPECT_EQ(a->value_length, 0u); // "ipaddr" has no fixed size
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_uint32, btf_no_value | btf_deleted, nullptr),
              0);
    EXPECT_EQ(a->type_flags, uint32(btf_no_value | btf_deleted));
    EXPECT_EQ(a->value_length, 0u);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnAttribText, SecretsAreStoredEncodedOnceAndEveryByteDecodesBack)
{
    owned<bn_attrib> a = attr(bt_secret, "hunter2");
    const std::string stored = printed(a.get());
    EXPECT_TRUE(is_encrypted_secret(stored.c_str())) << stored;
    EXPECT_EQ(stored.find("hunter2"), std::string::npos);
    // Setting the encoded text again keeps it as it is.
    EXPECT_EQ(printed(attr(bt_secret, stored.c_str()).get()), stored);

    std::string all;
    for (int c = 1; c < 256; ++c) all += char(c);
    char *enc = nullptr, *dec = nullptr;
    ASSERT_EQ(bn_encrypt_encode_str(all.c_str(), &enc), 0);
    heap_str h1(enc);
    ASSERT_TRUE(is_encrypted_secret(enc));
    ASSERT_EQ(bn_decode_decrypt_str(enc, &dec), 0);
    heap_str h2(dec);
    EXPECT_EQ(all, dec);
    EXPECT_FALSE(is_encrypted_secret("$bns1$abc"));  // odd number of digits
    EXPECT_FALSE(is_encrypted_secret("$bns1$ABCD")); // upper-case is not ours

    // The empty secret stays empty; plain text does not decode.
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_secret, 0, ""), 0);
    EXPECT_EQ(ts_length(a->value.ts), 0u);
    EXPECT_EQ(bn_decode_decrypt_str("not encoded", &dec), lc_err_bad_type);
    EXPECT_EQ(dec, nullptr);
}

TEST(BnAttribText, PrintingChecksTheCallersBufferAndExpectedType)
{
    owned<bn_attrib> a = attr(bt_ipv4addr, "192.168.100.200");
    char buf[16];
    uint32 taf = 0;
    bn_attribute_id id = 0;
    ASSERT_EQ(bn_attrib_get_buf(a.get(), &id, bt_ipv4addr, &taf, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "192.168.100.200");
    EXPECT_EQ(id, uint32(ba_value));
    EXPECT_EQ(taf, uint32(bt_ipv4addr));
    LogCapture cap;
    EXPECT_EQ(bn_attrib_get_buf(a.get(), nullptr, 0, nullptr, buf, 15), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 1u) << cap.dump();
    EXPECT_STREQ(buf, "");

    // Another expected type fails quietly and hands out nothing.
    cap.clear();
    char *out = nullptr;
    tstring *ts = nullptr;
    EXPECT_EQ(bn_attrib_get_str(a.get(), nullptr, bt_int32, nullptr, &out),
              lc_err_assertion_failed);
    EXPECT_EQ(bn_attrib_get_tstr(a.get(), nullptr, bt_int32, nullptr, &ts),
              lc_err_assertion_failed);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ts, nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnTypes, FixedSizesAndTheirFailures)
{
    // The family members' sizes are checked with the family; these are the
    // odd ones out.
    // Size and whether numeric.
    auto fixed = [](bn_type t) {
        std::pair<uint32, tbool> r{99, 99};
        EXPECT_EQ(bn_type_fixed_size(t, 0, &r.first, &r.second), 0) << t;
        return r;
    };
    LogCapture cap;
    EXPECT_EQ(fixed(bt_macaddr802), std::pair(6u, 0));
    EXPECT_EQ(fixed(bt_ipv6prefix), std::pair(17u, 1));
    EXPECT_EQ(fixed(bt_none), std::pair(0u, 1));
    uint32 size = 99;
    for (bn_type t : {bt_ipaddr, bt_ipprefix, bt_any})
        EXPECT_EQ(bn_type_fixed_size(t, 0, &size, nullptr), lc_err_bad_type) << t;
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    EXPECT_EQ(bn_type_fixed_size(bt_string, 0, &size, nullptr), lc_err_assertion_failed);
    EXPECT_EQ(bn_type_fixed_size(0, 0, &size, nullptr), lc_err_assertion_failed);
    EXPECT_EQ(bn_type_fixed_size(bt_uint8, btf_invalid, &size, nullptr), lc_err_assertion_failed);
    EXPECT_EQ(bn_type_fixed_size(bt_uint8, btf_no_value, &size, nullptr), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 4u) << cap.dump();
}

TEST(BnTypes, ClassesFollowTheCodeListsAndFailOnValuelessFlags)
{
    auto members = [](bool (*cls)(bn_type, uint32), uint32 flags = btf_text_form | btf_deleted) {
        std::string s;
        for (bn_type t = 0; t < bn_type_table_size + 5; ++t)
            if (cls(t, flags)) s += std::to_string(t) + " ";
        return s;
    };
    EXPECT_EQ(members(bn_type_allocs), "101 102 103 105 120 121 130 131 132 133 134 135 ");
    EXPECT_EQ(members(bn_type_string), "101 102 105 120 121 130 131 132 133 134 135 ");
    EXPECT_EQ(members(bn_type_tbuf), "103 ");
    EXPECT_EQ(members(bn_type_numeric), "1 2 3 4 5 6 7 8 20 21 77 78 79 ");
    EXPECT_EQ(members(bn_type_ordered_numeric),
              "1 2 3 4 5 6 7 8 9 20 21 40 60 61 62 63 64 70 71 72 73 74 75 76 77 78 79 92 93 ");
    for (auto cls :
         {bn_type_allocs, bn_type_string, bn_type_tbuf, bn_type_numeric, bn_type_ordered_numeric})
        for (uint32 f : {uint32(btf_invalid), uint32(btf_no_value)}) EXPECT_EQ(members(cls, f), "");
}

TEST(BnTypes, ConverterMapsEveryStorableTypeNameExactly)
{
    void *conv = nullptr;
    ASSERT_EQ(bn_init_type_converter(&conv), 0);
    for (const lc_enum_string_map *e = bn_type_name_map; e->lesm_name; ++e) {
        // "none" and "any" name no storable type.
        const bool storable = e->lesm_value != bt_none && e->lesm_value != bt_any;
        bn_type t = 7;
        EXPECT_EQ(bn_get_type_for_str(conv, e->lesm_name, &t), storable ? 0 : lc_err_not_found)
            << e->lesm_name;
        EXPECT_EQ(t, storable ? uint32(e->lesm_value) : 0u) << e->lesm_name;
    }
    bn_type t = 7;
    EXPECT_EQ(bn_get_type_for_str(conv, "UINT32", &t), lc_err_not_found);
    EXPECT_EQ(t, 0u);
    EXPECT_EQ(bn_deinit_type_converter(&conv), 0);
    EXPECT_EQ(conv, nullptr);
}

TEST(BnValidation, ChoicesAndCharRanges)
{
    owned<tstr_array> choices = tstrs({"up", "down", "Auto"});
    EXPECT_TRUE(bn_str_limit_choices("down", true, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("auto", true, choices.get()));
    EXPECT_TRUE(bn_str_limit_choices("auto", false, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("dow", false, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("", false, choices.get()));

    owned<tstr_array> digits, hex = tstrs({"0123456789", "abcdef"}), bad = tstrs({"0"});
    ASSERT_EQ(tstr_array_new_charlist(digits.out(), nullptr, "0123456789"), 0);
    EXPECT_TRUE(bn_str_limit_char_range("2026", true, digits.get(), nullptr));
    EXPECT_FALSE(bn_str_limit_char_range("20x6", true, digits.get(), nullptr));
    EXPECT_TRUE(bn_str_limit_char_range("", true, digits.get(), bad.get()));
    EXPECT_TRUE(bn_str_limit_char_range("beef", true, hex.get(), nullptr));
    EXPECT_FALSE(bn_str_limit_char_range("BEEF", true, hex.get(), nullptr));
    EXPECT_TRUE(bn_str_limit_char_range("BEEF", false, hex.get(), nullptr));
    EXPECT_FALSE(bn_str_limit_char_range("2026", true, digits.get(), bad.get()));
    EXPECT_TRUE(bn_str_limit_char_range("any text", true, nullptr, nullptr));
}

// ---------------------------------------------------------------------------
// Ordering

int32 compare(const bn_attrib *a, const bn_attrib *b)
{
    int32 r = 99;
    EXPECT_EQ(bn_attrib_compare(a, b, &r), 0);
    return r;
}

TEST(BnAttribCompare, MissingInvalidNullAndUnorderedRecords)
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

    // A binary attribute without a buffer sorts before any buffer.
    owned<bn_attrib> none = blank(bt_binary), some = attr(bt_binary, "");
    EXPECT_EQ(compare(none.get(), some.get()), -1);
    EXPECT_EQ(compare(some.get(), none.get()), 1);

    // Two typeless records are equal; a type without an order fails quietly.
    owned<bn_attrib> n1 = blank(), n2 = blank();
    EXPECT_EQ(compare(n1.get(), n2.get()), 0);
    n1->type = n2->type = bt_any;
    int32 r = 5;
    LogCapture cap;
    EXPECT_EQ(bn_attrib_compare(n1.get(), n2.get(), &r), lc_err_bad_type);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
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
    {bt_char, "A", "a"},
    {bt_ipv4addr, "9.255.255.255", "10.0.0.0"},
    {bt_ipv4prefix, "10.0.0.0/8", "10.0.0.0/16"}, // address, then mask
    {bt_ipv4prefix, "9.0.0.0/32", "10.0.0.0/8"},
    {bt_macaddr802, "00:FF:FF:FF:FF:FF", "01:00:00:00:00:00"},
    // First address byte least significant: "2001::" is small, "::1" large.
    {bt_ipv6addr, "2001::", "::1"},
    {bt_ipv6prefix, "::1/64", "::1/65"},
    {bt_ipv6prefix, "ff::/128", "::1/0"},
    {bt_btype, "uint8", "string"},
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
        EXPECT_LT(compare(lo.get(), hi.get()), 0) << c.lo << " < " << c.hi;
        EXPECT_GT(compare(hi.get(), lo.get()), 0) << c.hi << " > " << c.lo;
        EXPECT_EQ(compare(lo.get(), lo.get()), 0) << c.lo;
    }
}

TEST(BnAttribCompare, NumericOperatorCodesWithinAndAcrossTypes)
{
    owned<bn_attrib> two = attr(bt_int32, "2"), three = attr(bt_int32, "3");
    struct {
        uint32 op;
        int32 lt, eq, gt; // results for 2?3, 2?2, 3?2
    } const ops[] = {{bno_gt, 0, 0, 1}, {bno_ge, 0, 1, 1}, {bno_lt, 1, 0, 0},
                     {bno_le, 1, 1, 0}, {bno_eq, 0, 1, 0}, {bno_three_way, -1, 0, 1}};
    auto num_compare = [](const owned<bn_attrib> &a, const owned<bn_attrib> &b, uint32 op) {
        int32 r = 99;
        EXPECT_EQ(bn_type_numeric_compare(a.get(), b.get(), op, &r), 0) << op;
        return r;
    };
    for (const auto &o : ops) {
        EXPECT_EQ(num_compare(two, three, o.op), o.lt) << o.op;
        EXPECT_EQ(num_compare(two, two, o.op), o.eq) << o.op;
        EXPECT_EQ(num_compare(three, two, o.op), o.gt) << o.op;
    }
    int32 r = 0;
    EXPECT_EQ(bn_type_numeric_compare(two.get(), three.get(), 7, &r), lc_err_unexpected_case);
    EXPECT_EQ(bn_type_numeric_compare(two.get(), three.get(), 0, &r), lc_err_unexpected_case);

    LogCapture cap;
    owned<bn_attrib> s = attr(bt_string, "2");
    EXPECT_EQ(bn_type_numeric_compare(two.get(), s.get(), bno_eq, &r), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 1u) << cap.dump();

    // Across types, values compare with their signedness.
    owned<bn_attrib> neg = attr(bt_int8, "-1"), big = attr(bt_uint64, "18446744073709551615");
    owned<bn_attrib> half = attr(bt_float64, "0.5"), zero = attr(bt_uint32, "0");
    owned<bn_attrib> mac = attr(bt_macaddr802, "00:00:00:00:00:00");
    EXPECT_EQ(num_compare(neg, big, bno_three_way), -1);
    EXPECT_EQ(num_compare(half, zero, bno_gt), 1);
    EXPECT_EQ(num_compare(neg, half, bno_lt), 1);
    EXPECT_EQ(bn_type_numeric_compare(mac.get(), zero.get(), bno_eq, &r), lc_err_bad_type);
}

// ---------------------------------------------------------------------------
// Numeric family: deltas, arithmetic and comparison with zero

struct delta_case {
    bn_type type;
    const char *a, *b;
    bn_type widened;
    const char *delta;
};

const delta_case delta_cases[] = {
    {bt_uint8, "3", "250", bt_int16, "-247"},
    {bt_int8, "-128", "127", bt_int16, "-255"},
    {bt_uint16, "0", "65535", bt_int32, "-65535"},
    {bt_int16, "32767", "-32768", bt_int32, "65535"},
    {bt_uint32, "0", "4294967295", bt_int64, "-4294967295"},
    {bt_int32, "-2147483648", "2147483647", bt_int64, "-4294967295"},
    {bt_duration_sec, "10", "70", bt_int64, "-60"},
    {bt_duration_ms, "5", "2", bt_int64, "3"},
    // 64-bit counters: the step across a wrap, modulo 2^64.
    {bt_uint64, "1", "18446744073709551615", bt_int64, "2"},
    {bt_int64, "-9223372036854775808", "1", bt_int64, "9223372036854775807"},
    {bt_float32, "0.5", "2", bt_float64, "-1.5"},
    {bt_float64, "1.5", "-2.25", bt_float64, "3.75"},
};

TEST(BnNumeric, DeltaWidensEachWidthToItsSignedType)
{
    for (const delta_case &c : delta_cases) {
        SCOPED_TRACE(bn_type_to_name(c.type));
        bn_type widened = 0;
        ASSERT_EQ(bn_type_numeric_delta_type(c.type, &widened), 0);
        EXPECT_EQ(widened, c.widened);
        owned<bn_attrib> a = attr(c.type, c.a), b = attr(c.type, c.b), d;
        ASSERT_EQ(bn_type_numeric_delta(a.get(), b.get(), d.out()), 0);
        EXPECT_EQ(d->type, c.widened);
        EXPECT_EQ(printed(d.get()), c.delta);
    }
    bn_type widened = bt_uint8;
    EXPECT_EQ(bn_type_numeric_delta_type(bt_bool, &widened), lc_err_bad_type);
    EXPECT_EQ(bn_type_numeric_delta_type(bt_ipv4addr, &widened), lc_err_bad_type);
    EXPECT_EQ(widened, bt_none);
}

TEST(BnNumeric, DeltaOfDifferentTypesLogsBothNamesAndMakesNothing)
{
    owned<bn_attrib> a = attr(bt_uint8, "1"), b = attr(bt_uint16, "1"), d;
    LogCapture cap;
    EXPECT_EQ(bn_type_numeric_delta(a.get(), b.get(), d.out()), lc_err_bad_type);
    EXPECT_EQ(d.get(), nullptr);
    ASSERT_EQ(cap.lines().size(), 1u) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with(
        ": Cannot compute delta of attributes of different types: uint8 and uint16"))
        << cap.dump();
    EXPECT_EQ(cap.priorities(), std::vector<int>{LOG_ERR});

    // A value that is not numeric is refused before any type comparison.
    cap.clear();
    owned<bn_attrib> flag = attr(bt_bool, "true");
    EXPECT_EQ(bn_type_numeric_delta(flag.get(), a.get(), d.out()), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 1u) << cap.dump();
}

TEST(BnNumeric, ArithmeticWrapsAtTheTypeWidthAndRefusesZeroDivisors)
{
    struct arith_case {
        bn_type type;
        const char *a, *b;
        uint32 op;
        const char *result;
    } cases[] = {
        {bt_uint8, "250", "10", bna_add, "4"},
        {bt_uint32, "0", "1", bna_subtract, "4294967295"},
        {bt_int16, "300", "300", bna_multiply, "24464"}, // 90000 mod 2^16
        {bt_int8, "-128", "-1", bna_divide, "-128"},     // the one signed overflow of division
        {bt_int32, "7", "-2", bna_divide, "-3"},         // toward zero
        {bt_int64, "-9223372036854775808", "1", bna_subtract, "9223372036854775807"},
        {bt_float64, "1.5", "2", bna_multiply, "3"},
        {bt_duration_sec, "90", "30", bna_add, "120"},
    };
    for (const arith_case &c : cases) {
        SCOPED_TRACE(std::string(bn_type_to_name(c.type)) + " " + c.a + " op " +
                     std::to_string(c.op) + " " + c.b);
        owned<bn_attrib> a = attr(c.type, c.a), b = attr(c.type, c.b), r;
        ASSERT_EQ(bn_type_numeric_arithmetic(a.get(), b.get(), c.op, r.out()), 0);
        EXPECT_EQ(r->type, c.type);
        EXPECT_EQ(printed(r.get()), c.result);
    }

    LogCapture cap;
    owned<bn_attrib> r;
    for (bn_type t : {bt_uint64, bt_float32}) {
        owned<bn_attrib> a = attr(t, "1"), zero = attr(t, "0");
        EXPECT_EQ(bn_type_numeric_arithmetic(a.get(), zero.get(), bna_divide, r.out()),
                  lc_err_divide_by_zero);
        EXPECT_EQ(r.get(), nullptr);
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    owned<bn_attrib> a = attr(bt_uint32, "1"), b = attr(bt_int32, "1");
    EXPECT_EQ(bn_type_numeric_arithmetic(a.get(), a.get(), 9, r.out()), lc_err_unexpected_case);
    EXPECT_EQ(cap.count("Bail forced with error code 14019"), 1u) << cap.dump();
    EXPECT_EQ(bn_type_numeric_arithmetic(a.get(), b.get(), bna_add, r.out()),
              lc_err_assertion_failed);
    EXPECT_EQ(r.get(), nullptr);
}

TEST(BnNumeric, CompareZeroFollowsTheSignednessOfTheType)
{
    struct zero_case {
        bn_type type;
        const char *value;
        int32 three_way;
    } cases[] = {
        {bt_int8, "-1", -1},      {bt_uint8, "255", 1},
        {bt_uint64, "0", 0},      {bt_int64, "-9223372036854775808", -1},
        {bt_float64, "-0.5", -1}, {bt_float32, "0", 0},
        {bt_duration_ms, "1", 1},
    };
    for (const zero_case &c : cases) {
        SCOPED_TRACE(std::string(bn_type_to_name(c.type)) + " " + c.value);
        owned<bn_attrib> a = attr(c.type, c.value);
        int32 result = 99;
        ASSERT_EQ(bn_type_numeric_compare_zero(a.get(), bno_three_way, &result), 0);
        EXPECT_EQ(result, c.three_way);
        ASSERT_EQ(bn_type_numeric_compare_zero(a.get(), bno_ge, &result), 0);
        EXPECT_EQ(result, c.three_way >= 0);
    }
    LogCapture cap;
    owned<bn_attrib> addr = attr(bt_ipv4addr, "10.0.0.1");
    int32 result = 5;
    EXPECT_EQ(bn_type_numeric_compare_zero(addr.get(), bno_gt, &result), lc_err_assertion_failed);
    EXPECT_EQ(result, 0);
    owned<bn_attrib> one = attr(bt_int32, "1");
    EXPECT_EQ(bn_type_numeric_compare_zero(one.get(), 0, &result), lc_err_unexpected_case);
}

// ---------------------------------------------------------------------------
// The message encoding, pinned by golden bytes written out by hand from the
// layout: decode and check, encode again and compare; malformed records each
// give one code and one log line.

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
        owned<bn_attrib> want = attr(g.type, g.text, g.flags);

        owned<tbuf> enc;
        ASSERT_EQ(tb_new(enc.out()), 0);
        ASSERT_EQ(write_record(want.get(), enc.get()), 0);
        EXPECT_EQ(bytes(tb_buf(enc.get()), tb_buf(enc.get()) + tb_length(enc.get())), g.wire);

        owned<bn_attrib> got = blank();
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
        owned<bn_attrib> a = blank();
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
