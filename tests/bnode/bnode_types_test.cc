// Text forms of attribute values: every type parses its text and prints it
// back as tabled; conversions that fail return their code without a log
// line; flags, fixed sizes, classes and the type-name converter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bnode/bnode_types.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

using bnode_test::heap_str;

// Parses `text` as `type` into a fresh attribute and prints it back.
std::string round_trip(bn_type type, uint32 flags, const char *text, int *err)
{
    owned<bn_attrib> a;
    *err = bn_attrib_new_str(a.out(), ba_value, type, flags, text);
    if (*err) return "<parse failed>";
    char *out = nullptr;
    *err = bn_attrib_get_str(a.get(), nullptr, type, nullptr, &out);
    heap_str hold(out);
    if (*err) return "<print failed>";
    return out ? out : "<null>";
}

using bnode_test::text_case;
using bnode_test::text_cases;

TEST(BnAttribText, EveryTypeParsesAndPrintsAsTabled)
{
    LogCapture cap;
    for (const text_case &c : text_cases) {
        int err = 0;
        std::string got = round_trip(c.type, c.flags, c.text, &err);
        EXPECT_EQ(err, 0) << bn_type_to_name(c.type) << " \"" << c.text << "\"";
        EXPECT_EQ(got, c.printed ? c.printed : c.text)
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
    {bt_int32, 0, "2147483648", lc_err_bad_type},
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
    {bt_ipaddr, 0, "junk", lc_err_assertion_failed},
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
    {bt_ipv6prefix, 0, "10.0.0.0/33", lc_err_bad_type},
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
        int err = 0;
        round_trip(c.type, c.flags, c.text, &err);
        EXPECT_EQ(err, c.code) << bn_type_to_name(c.type) << " \"" << c.text << "\"";
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST(BnAttribText, FailedSetsKeepTheValueAndOnlyAnyIsAForcedBail)
{
    LogCapture cap;
    owned<bn_attrib> a;
    // A failed parse leaves the value as it was.
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_value, bt_uint32, 0, "42"), 0);
    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_uint8, 0, "300"), lc_err_bad_type);
    uint32 v = 0, taf = 0;
    ASSERT_EQ(bn_attrib_get_uint32(a.get(), nullptr, &taf, &v), 0);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(taf, uint32(bt_uint32));

    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_string, 0, nullptr), lc_err_unexpected_null);
    EXPECT_EQ(bn_attrib_set_str(a.get(), ba_none, bt_string, 0, "x"), lc_err_assertion_failed);
    EXPECT_EQ(bn_attrib_set_str(a.get(), 131, bt_string, 0, "x"), lc_err_assertion_failed);
    EXPECT_EQ(bn_attrib_set_str(a.get(), 0, bt_string, 0, "x"), lc_err_assertion_failed);
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
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_value, bt_uint64, btf_invalid | 0x1234, "junk"), 0);
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

TEST(BnAttribText, SecretsAreStoredEncodedOnceAndDecodeBack)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_value, bt_secret, 0, "hunter2"), 0);
    char *stored = nullptr;
    ASSERT_EQ(bn_attrib_get_str(a.get(), nullptr, bt_secret, nullptr, &stored), 0);
    heap_str hold(stored);
    EXPECT_TRUE(is_encrypted_secret(stored)) << stored;
    EXPECT_EQ(std::string(stored).find("hunter2"), std::string::npos);

    // Setting the encoded text again keeps it as it is.
    owned<bn_attrib> b;
    ASSERT_EQ(bn_attrib_new_str(b.out(), ba_value, bt_secret, 0, stored), 0);
    char *again = nullptr;
    ASSERT_EQ(bn_attrib_get_str(b.get(), nullptr, bt_secret, nullptr, &again), 0);
    heap_str hold2(again);
    EXPECT_STREQ(again, stored);

    char *plain = nullptr;
    ASSERT_EQ(bn_decode_decrypt_str(stored, &plain), 0);
    heap_str hold3(plain);
    EXPECT_STREQ(plain, "hunter2");

    // The empty secret stays empty.
    ASSERT_EQ(bn_attrib_set_str(a.get(), ba_value, bt_secret, 0, ""), 0);
    EXPECT_EQ(ts_length(a->value.ts), 0u);
    EXPECT_EQ(bn_decode_decrypt_str("not encoded", &plain), lc_err_bad_type);
    EXPECT_EQ(plain, nullptr);
}

TEST(BnAttribText, SecretCoderRoundTripsEveryByte)
{
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
}

TEST(BnAttribText, PrintingIntoACallerBufferChecksItsSize)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_value, bt_ipv4addr, 0, "192.168.100.200"), 0);
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
}

TEST(BnAttribText, ExpectedTypeMismatchFailsQuietly)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_value, bt_uint32, 0, "5"), 0);
    LogCapture cap;
    char *out = nullptr;
    tstring *ts = nullptr;
    EXPECT_EQ(bn_attrib_get_str(a.get(), nullptr, bt_int32, nullptr, &out),
              lc_err_assertion_failed);
    EXPECT_EQ(bn_attrib_get_tstr(a.get(), nullptr, bt_int32, nullptr, &ts),
              lc_err_assertion_failed);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ts, nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    ASSERT_EQ(bn_attrib_get_tstr(a.get(), nullptr, 0, nullptr, &ts), 0);
    EXPECT_STREQ(ts_str(ts), "5");
    ts_free(&ts);
}

TEST(BnTypes, FixedSizesAndTheirFailures)
{
    struct {
        bn_type type;
        uint32 size;
        tbool numeric;
    } const sizes[] = {{bt_uint8, 1, 1},      {bt_int16, 2, 1},     {bt_bool, 4, 1},
                       {bt_float64, 8, 1},    {bt_char, 1, 1},      {bt_ipv4prefix, 8, 1},
                       {bt_macaddr802, 6, 0}, {bt_ipv6addr, 16, 1}, {bt_ipv6prefix, 17, 1},
                       {bt_date, 4, 1},       {bt_time_us, 8, 1},   {bt_duration_sec, 4, 1},
                       {bt_none, 0, 1},       {bt_btype, 4, 1},     {bt_attribute, 4, 1}};
    LogCapture cap;
    for (const auto &s : sizes) {
        uint32 size = 99;
        tbool numeric = 99;
        ASSERT_EQ(bn_type_fixed_size(s.type, 0, &size, &numeric), 0) << s.type;
        EXPECT_EQ(size, s.size) << s.type;
        EXPECT_EQ(numeric, s.numeric) << s.type;
    }
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
    auto members = [](bool (*cls)(bn_type, uint32)) {
        std::string s;
        for (bn_type t = 0; t < bn_type_table_size + 5; ++t)
            if (cls(t, btf_text_form | btf_deleted)) s += std::to_string(t) + " ";
        return s;
    };
    EXPECT_EQ(members(bn_type_allocs), "101 102 103 105 120 121 130 131 132 133 134 135 ");
    EXPECT_EQ(members(bn_type_string), "101 102 105 120 121 130 131 132 133 134 135 ");
    EXPECT_EQ(members(bn_type_tbuf), "103 ");
    EXPECT_EQ(members(bn_type_numeric), "1 2 3 4 5 6 7 8 20 21 77 78 79 ");
    EXPECT_EQ(members(bn_type_ordered_numeric),
              "1 2 3 4 5 6 7 8 9 20 21 40 60 61 62 63 64 70 71 72 73 74 75 76 77 78 79 92 93 ");
    for (uint32 f : {uint32(btf_invalid), uint32(btf_no_value)}) {
        EXPECT_FALSE(bn_type_string(bt_string, f));
        EXPECT_FALSE(bn_type_allocs(bt_binary, f));
        EXPECT_FALSE(bn_type_numeric(bt_uint32, f));
        EXPECT_FALSE(bn_type_ordered_numeric(bt_uint32, f));
    }
}

TEST(BnTypes, ConverterMapsTheFortyThreeNames)
{
    void *conv = nullptr;
    ASSERT_EQ(bn_init_type_converter(&conv), 0);
    int found = 0;
    for (const lc_enum_string_map *e = bn_type_name_map; e->lesm_name; ++e) {
        bn_type t = 0;
        int err = bn_get_type_for_str(conv, e->lesm_name, &t);
        if (e->lesm_value == bt_none || e->lesm_value == bt_any) {
            EXPECT_EQ(err, lc_err_not_found) << e->lesm_name;
            continue;
        }
        ASSERT_EQ(err, 0) << e->lesm_name;
        EXPECT_EQ(t, uint32(e->lesm_value));
        ++found;
    }
    EXPECT_EQ(found, 43);
    bn_type t = 7;
    EXPECT_EQ(bn_get_type_for_str(conv, "UINT32", &t), lc_err_not_found);
    EXPECT_EQ(t, 0u);
    EXPECT_EQ(bn_deinit_type_converter(&conv), 0);
    EXPECT_EQ(conv, nullptr);
}

using bnode_test::tstrs;

TEST(BnValidation, ChoicesMatchWholeTextsWithOrWithoutCase)
{
    owned<tstr_array> choices = tstrs({"up", "down", "Auto"});
    EXPECT_TRUE(bn_str_limit_choices("down", true, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("auto", true, choices.get()));
    EXPECT_TRUE(bn_str_limit_choices("auto", false, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("dow", false, choices.get()));
    EXPECT_FALSE(bn_str_limit_choices("", false, choices.get()));
}

TEST(BnValidation, CharRangeChecksAllowedAndDisallowedSets)
{
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
// Numeric family: comparison with zero, arithmetic and deltas

owned<bn_attrib> num(bn_type type, const char *text)
{
    owned<bn_attrib> a;
    EXPECT_EQ(bn_attrib_new_str(a.out(), ba_value, type, 0, text), 0) << text;
    return a;
}

bn_type type_of(const bn_attrib *a)
{
    bn_type t = 0;
    uint32 flags = 0;
    EXPECT_EQ(bn_attrib_get_type(a, &t, &flags), 0);
    return t;
}

std::string printed(const bn_attrib *a)
{
    char *out = nullptr;
    EXPECT_EQ(bn_attrib_get_str(a, nullptr, type_of(a), nullptr, &out), 0);
    heap_str hold(out);
    return out ? out : "<null>";
}

// Whether the one captured line ends with `message`.
bool logged_once(const LogCapture &cap, const std::string &message)
{
    const std::vector<std::string> lines = cap.lines();
    return lines.size() == 1 && lines[0].size() >= message.size() &&
           lines[0].compare(lines[0].size() - message.size(), message.size(), message) == 0;
}

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

} // namespace

TEST(BnNumeric, DeltaWidensEachWidthToItsSignedType)
{
    for (const delta_case &c : delta_cases) {
        SCOPED_TRACE(bn_type_to_name(c.type));
        bn_type widened = 0;
        ASSERT_EQ(bn_type_numeric_delta_type(c.type, &widened), 0);
        EXPECT_EQ(widened, c.widened);
        owned<bn_attrib> a = num(c.type, c.a), b = num(c.type, c.b), d;
        ASSERT_EQ(bn_type_numeric_delta(a.get(), b.get(), d.out()), 0);
        EXPECT_EQ(type_of(d.get()), c.widened);
        EXPECT_EQ(printed(d.get()), c.delta);
    }
    bn_type widened = bt_uint8;
    EXPECT_EQ(bn_type_numeric_delta_type(bt_bool, &widened), lc_err_bad_type);
    EXPECT_EQ(bn_type_numeric_delta_type(bt_ipv4addr, &widened), lc_err_bad_type);
    EXPECT_EQ(widened, bt_none);
}

TEST(BnNumeric, DeltaOfDifferentTypesLogsBothNamesAndMakesNothing)
{
    owned<bn_attrib> a = num(bt_uint8, "1"), b = num(bt_uint16, "1"), d;
    LogCapture cap;
    EXPECT_EQ(bn_type_numeric_delta(a.get(), b.get(), d.out()), lc_err_bad_type);
    EXPECT_EQ(d.get(), nullptr);
    EXPECT_TRUE(logged_once(
        cap, ": Cannot compute delta of attributes of different types: uint8 and uint16"))
        << cap.dump();
    EXPECT_EQ(cap.priorities(), std::vector<int>{LOG_ERR});

    // A value that is not numeric is refused before any type comparison.
    cap.clear();
    owned<bn_attrib> flag = num(bt_bool, "true");
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
        owned<bn_attrib> a = num(c.type, c.a), b = num(c.type, c.b), r;
        ASSERT_EQ(bn_type_numeric_arithmetic(a.get(), b.get(), c.op, r.out()), 0);
        EXPECT_EQ(type_of(r.get()), c.type);
        EXPECT_EQ(printed(r.get()), c.result);
    }

    LogCapture cap;
    owned<bn_attrib> r;
    for (bn_type t : {bt_uint64, bt_float32}) {
        owned<bn_attrib> a = num(t, "1"), zero = num(t, "0");
        EXPECT_EQ(bn_type_numeric_arithmetic(a.get(), zero.get(), bna_divide, r.out()),
                  lc_err_divide_by_zero);
        EXPECT_EQ(r.get(), nullptr);
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    owned<bn_attrib> a = num(bt_uint32, "1"), b = num(bt_int32, "1");
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
        owned<bn_attrib> a = num(c.type, c.value);
        int32 result = 99;
        ASSERT_EQ(bn_type_numeric_compare_zero(a.get(), bno_three_way, &result), 0);
        EXPECT_EQ(result, c.three_way);
        ASSERT_EQ(bn_type_numeric_compare_zero(a.get(), bno_ge, &result), 0);
        EXPECT_EQ(result, c.three_way >= 0);
    }
    LogCapture cap;
    owned<bn_attrib> addr = num(bt_ipv4addr, "10.0.0.1");
    int32 result = 5;
    EXPECT_EQ(bn_type_numeric_compare_zero(addr.get(), bno_gt, &result), lc_err_assertion_failed);
    EXPECT_EQ(result, 0);
    owned<bn_attrib> one = num(bt_int32, "1");
    EXPECT_EQ(bn_type_numeric_compare_zero(one.get(), 0, &result), lc_err_unexpected_case);
}
