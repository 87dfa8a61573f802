// The binding record: constructors, the name and its cached parts,
// attribute access and the binding-level per-type family.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bnode/bnode.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"

namespace
{

using parts_t = bnode_test::strings_t;

using bnode_test::strings_of;
using bnode_test::tstrs;

using bnode_test::name_of;
using bnode_test::value_of;

// ---------------------------------------------------------------------------
// Construction

TEST(BnodeBinding, NamesComeFromNameOrParts)
{
    owned<tstr_array> parts = tstrs({"qz", "a/b"});

    // Parts alone: the name is joined from them and the parts are cached.
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), nullptr, parts.get(), true, nullptr), 0);
    EXPECT_EQ(name_of(b.get()), "/qz/a\\/b");
    bool abs = false;
    const tstr_array *cached = nullptr;
    ASSERT_EQ(bn_binding_get_name_parts_const(b.get(), &cached, &abs), 0);
    EXPECT_EQ(strings_of(cached), (parts_t{"qz", "a/b"}));
    EXPECT_TRUE(abs);

    // A name alone is parsed into the cache.
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), "/x/y", nullptr, false, nullptr), 0);
    ASSERT_EQ(bn_binding_get_name_parts_const(b.get(), &cached, &abs), 0);
    EXPECT_EQ(strings_of(cached), (parts_t{"x", "y"}));
    EXPECT_TRUE(abs);

    // Both are taken as given, even when they disagree.
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), "/other", parts.get(), true, nullptr), 0);
    EXPECT_EQ(name_of(b.get()), "/other");
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(b.get())), (parts_t{"qz", "a/b"}));

    // Neither: an empty name.
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), nullptr, nullptr, true, nullptr), 0);
    EXPECT_EQ(name_of(b.get()), "");

    // A plain named binding parses nothing until asked.
    ASSERT_EQ(bn_binding_new_named(b.out(), "/a/b"), 0);
    EXPECT_EQ(bn_binding_get_name_parts_quick(b.get()), nullptr);
}

TEST(BnodeBinding, TakeoverClearsTheCallersPointers)
{
    tstring *name = nullptr;
    tstr_array *parts = nullptr;
    ASSERT_EQ(ts_new_str(&name, "/a/b"), 0);
    parts = tstrs({"a", "b"}).release();
    owned<bn_binding> b;
    bn_attrib_array *attribs = nullptr;
    ASSERT_EQ(bn_binding_new_parts_components_takeover(b.out(), &name, &parts, true, &attribs), 0);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(parts, nullptr);
    EXPECT_EQ(name_of(b.get()), "/a/b");

    // On failure (no place for the result) what was passed is freed, not
    // leaked, and the caller's pointers are cleared all the same.
    LogCapture cap;
    ASSERT_EQ(ts_new_str(&name, "/c"), 0);
    parts = tstrs({"c"}).release();
    EXPECT_EQ(bn_binding_new_parts_components_takeover(nullptr, &name, &parts, true, &attribs),
              lc_err_unexpected_null);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(parts, nullptr);
    EXPECT_TRUE(cap.contains("Unexpected NULL"));
}

TEST(BnodeBinding, DupCopiesNamePartsAndAttributes)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_uint32(b.out(), "/qz/n", ba_value, 0, 42), 0);
    tstr_array *parts = nullptr;
    ASSERT_EQ(bn_binding_get_name_parts(b.get(), &parts), 0);
    (void)tstr_array_free(&parts);

    owned<bn_binding> copy;
    ASSERT_EQ(bn_binding_dup(b.get(), copy.out()), 0);
    EXPECT_EQ(name_of(copy.get()), "/qz/n");
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(copy.get())), (parts_t{"qz", "n"}));
    // The copy is independent of the original.
    ASSERT_EQ(bn_binding_set_uint32(b.get(), ba_value, 0, 7), 0);
    EXPECT_EQ(value_of(copy.get()), "42");
    EXPECT_EQ(value_of(b.get()), "7");
}

// ---------------------------------------------------------------------------
// Names and cached parts

TEST(BnodeBinding, SetNameDropsTheCachedParts)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/old/name"), 0);
    tstr_array *parts = nullptr;
    ASSERT_EQ(bn_binding_get_name_parts(b.get(), &parts), 0);
    EXPECT_EQ(strings_of(parts), (parts_t{"old", "name"}));
    (void)tstr_array_free(&parts);

    ASSERT_EQ(bn_binding_set_name(b.get(), "/new/x/y"), 0);
    EXPECT_EQ(bn_binding_get_name_parts_quick(b.get()), nullptr);
    ASSERT_EQ(bn_binding_get_name_parts(b.get(), &parts), 0);
    EXPECT_EQ(strings_of(parts), (parts_t{"new", "x", "y"}));
    (void)tstr_array_free(&parts);

    // Parts are only stored into an empty cache.
    owned<tstr_array> other = tstrs({"z"});
    ASSERT_EQ(bn_binding_set_name_parts(b.get(), other.get(), true), 0);
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(b.get())), (parts_t{"new", "x", "y"}));

    // A relative name has none.
    LogCapture cap;
    ASSERT_EQ(bn_binding_set_name(b.get(), "rel/name"), 0);
    EXPECT_EQ(bn_binding_get_name_parts(b.get(), &parts), lc_err_assertion_failed);
    EXPECT_EQ(parts, nullptr);
    EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
}

TEST(BnodeBinding, SelectsPartsOfItsName)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/qz/iptrackd/config/manager/m1/enable"), 0);
    tstring *mgr = nullptr;
    ASSERT_EQ(bn_binding_get_name_parts_va(b.get(), false, 1, 4, &mgr), 0);
    owned<tstring> hold{mgr};
    EXPECT_STREQ(ts_str(mgr), "m1");
    // The binding's own cache is untouched by the selection.
    EXPECT_EQ(tstr_array_length_quick(bn_binding_get_name_parts_quick(b.get())), 6u);
    EXPECT_STREQ(tstr_array_get_str_quick(bn_binding_get_name_parts_quick(b.get()), 4), "m1");

    char *last = nullptr;
    ASSERT_EQ(bn_binding_get_name_last_part(b.get(), &last), 0);
    EXPECT_STREQ(last, "enable");
    free(last);
}

// ---------------------------------------------------------------------------
// Attributes

TEST(BnodeBinding, AttributesLiveInTheSlotOfTheirId)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/a"), 0);
    const bn_attrib *got = nullptr;
    ASSERT_EQ(bn_binding_get_attrib(b.get(), ba_value, &got), 0);
    EXPECT_EQ(got, nullptr);

    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_uint16(a.out(), ba_node_count, 0, 9), 0);
    ASSERT_EQ(bn_binding_set_attrib(b.get(), ba_node_count, a.get()), 0);
    ASSERT_EQ(bn_binding_set_uint32(b.get(), ba_value, 0, 5), 0);
    uint32 n = 0;
    ASSERT_EQ(bn_binding_get_num_attribs(b.get(), &n), 0);
    EXPECT_EQ(n, 2u);

    bn_type type = 0;
    uint32 flags = 1;
    ASSERT_EQ(bn_binding_get_type(b.get(), ba_node_count, &type, &flags), 0);
    EXPECT_EQ(type, bn_type(bt_uint16));
    EXPECT_EQ(flags, 0u);
    // An empty slot inside the array has no type.
    ASSERT_EQ(bn_binding_get_type(b.get(), 65, &type, &flags), 0);
    EXPECT_EQ(type, 0u);

    bn_attrib *taken = nullptr;
    ASSERT_EQ(bn_binding_get_attrib_detach(b.get(), ba_node_count, &taken), 0);
    owned<bn_attrib> hold{taken};
    ASSERT_NE(taken, nullptr);
    ASSERT_EQ(bn_binding_get_num_attribs(b.get(), &n), 0);
    EXPECT_EQ(n, 1u);

    bn_attrib_array *all = nullptr;
    ASSERT_EQ(bn_binding_get_attribs_detach(b.get(), &all), 0);
    owned<bn_attrib_array> hold_all{all};
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(bn_binding_get_attribs(b.get(), const_cast<const bn_attrib_array **>(&all)), 0);
    EXPECT_EQ(all, nullptr);
}

// ---------------------------------------------------------------------------
// The per-type family at binding level

template <class T> struct family_case;

#define FAMILY_CASE(T, code, val, text)                                                            \
    template <> struct family_case<T> {                                                            \
        static int set(bn_binding *b, T v) { return bn_binding_set_##T(b, ba_value, 0, v); }       \
        static int make(bn_binding **r, T v)                                                       \
        {                                                                                          \
            return bn_binding_new_##T(r, "/qz/x", ba_value, 0, v);                                 \
        }                                                                                          \
        static int make_parts(bn_binding **r, const tstr_array *p, T v)                            \
        {                                                                                          \
            return bn_binding_new_parts_##T(r, nullptr, p, true, ba_value, 0, v);                  \
        }                                                                                          \
        static int get(const bn_binding *b, uint32 *taf, T *out)                                   \
        {                                                                                          \
            return bn_binding_get_##T(b, ba_value, taf, out);                                      \
        }                                                                                          \
        static constexpr bn_type type = code;                                                      \
        static T value() { return val; }                                                           \
        static const char *printed() { return text; }                                              \
    };
FAMILY_CASE(uint8, bt_uint8, 200, "200")
FAMILY_CASE(int16, bt_int16, -300, "-300")
FAMILY_CASE(uint32, bt_uint32, 4000000000u, "4000000000")
FAMILY_CASE(int64, bt_int64, -5, "-5")
FAMILY_CASE(tbool, bt_bool, 1, "true")
FAMILY_CASE(char, bt_char, 'q', "q")
#undef FAMILY_CASE

template <class T> class BnodeBindingFamily : public ::testing::Test
{
};
using FamilyTypes = ::testing::Types<uint8, int16, uint32, int64, tbool, char>;
TYPED_TEST_SUITE(BnodeBindingFamily, FamilyTypes);

TYPED_TEST(BnodeBindingFamily, SetsGetsAndPrintsTheValueAttribute)
{
    using C = family_case<TypeParam>;
    owned<bn_binding> b;
    ASSERT_EQ(C::make(b.out(), C::value()), 0);
    TypeParam out{};
    uint32 taf = 0;
    ASSERT_EQ(C::get(b.get(), &taf, &out), 0);
    EXPECT_EQ(out, C::value());
    EXPECT_EQ(taf, C::type);
    EXPECT_EQ(value_of(b.get()), C::printed());

    owned<tstr_array> parts = tstrs({"qz", "p"});
    ASSERT_EQ(C::make_parts(b.out(), parts.get(), C::value()), 0);
    EXPECT_EQ(name_of(b.get()), "/qz/p");
    ASSERT_EQ(C::set(b.get(), C::value()), 0);
    ASSERT_EQ(C::get(b.get(), &taf, &out), 0);
    EXPECT_EQ(out, C::value());
}

TEST(BnodeBindingFamilyRules, EmptySlotMissingArrayAndWrongType)
{
    LogCapture cap;
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/qz/x"), 0);
    uint32 out = 77;
    uint32 taf = 5;
    // No attribute array at all.
    EXPECT_EQ(bn_binding_get_uint32(b.get(), ba_value, &taf, &out), lc_err_unexpected_null);

    // An empty slot: success, type 0, output untouched.
    ASSERT_EQ(bn_binding_set_uint32(b.get(), ba_node_count, 0, 1), 0);
    ASSERT_EQ(bn_binding_get_uint32(b.get(), ba_value, &taf, &out), 0);
    EXPECT_EQ(taf, 0u);
    EXPECT_EQ(out, 77u);
    // An id beyond the array.
    EXPECT_EQ(bn_binding_get_uint32(b.get(), 200, &taf, &out), lc_err_not_found);

    // The wrong type.
    cap.clear();
    int32 wrong = 0;
    EXPECT_EQ(bn_binding_get_int32(b.get(), ba_node_count, &taf, &wrong), lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("Tried to get a uint32 attribute as a int32")) << cap.dump();

    cap.clear();
    EXPECT_EQ(bn_binding_get_uint32(nullptr, ba_value, &taf, &out), lc_err_unexpected_null);
    EXPECT_TRUE(cap.contains("NULL binding passed"));
}

TEST(BnodeBindingFamilyRules, TextConstructorsAndAutoinval)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_str(b.out(), "/qz/s", ba_value, bt_string, 0, "hello"), 0);
    EXPECT_EQ(value_of(b.get()), "hello");

    LogCapture cap;
    EXPECT_EQ(bn_binding_new_str(b.out(), "/qz/n", ba_value, bt_uint8, 0, "256"), lc_err_bad_type);
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    ASSERT_EQ(bn_binding_new_str_autoinval(b.out(), "/qz/n", ba_value, bt_uint8, 0, "256"), 0);
    bn_type type = 0;
    uint32 flags = 0;
    ASSERT_EQ(bn_binding_get_type(b.get(), ba_value, &type, &flags), 0);
    EXPECT_EQ(type, bn_type(bt_uint8));
    EXPECT_TRUE(flags & btf_invalid);

    owned<tstr_array> parts = tstrs({"qz", "m"});
    ASSERT_EQ(bn_binding_new_parts_str_autoinval(b.out(), nullptr, parts.get(), true, ba_value,
                                                 bt_bool, 0, "on"),
              0);
    EXPECT_EQ(name_of(b.get()), "/qz/m");
    EXPECT_EQ(value_of(b.get()), "true");
}

TEST(BnodeBindingReaders, BorrowDetachAndReportMissingAttributes)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_str(b.out(), "/qz/s", ba_value, bt_string, 0, "text"), 0);

    const tstring *borrowed = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_get_tstring_const(b.get(), ba_value, bt_string, &taf, &borrowed), 0);
    EXPECT_STREQ(ts_str(borrowed), "text");

    char buf[8];
    ASSERT_EQ(bn_binding_get_buf(b.get(), ba_value, 0, &taf, buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "text");

    // A type mismatch leaves the attribute where it was.
    tstring *taken = nullptr;
    EXPECT_NE(bn_binding_get_tstring_detach(b.get(), ba_value, bt_uint32, &taf, &taken), 0);
    EXPECT_EQ(taken, nullptr);
    ASSERT_EQ(bn_binding_get_tstring_detach(b.get(), ba_value, bt_string, &taf, &taken), 0);
    owned<tstring> hold{taken};
    EXPECT_STREQ(ts_str(taken), "text");
    const bn_attrib *slot = nullptr;
    ASSERT_EQ(bn_binding_get_attrib(b.get(), ba_value, &slot), 0);
    EXPECT_EQ(slot, nullptr);

    // The slot is now empty: success and nothing.
    char *text = reinterpret_cast<char *>(0x1);
    ASSERT_EQ(bn_binding_get_str(b.get(), ba_value, 0, &taf, &text), 0);
    EXPECT_EQ(text, nullptr);

    LogCapture cap;
    EXPECT_EQ(bn_binding_get_str(b.get(), 120, 0, &taf, &text), lc_err_not_found);
    EXPECT_TRUE(cap.contains("Can't get attribute")) << cap.dump();
}

TEST(BnodeBindingReaders, BinaryBindingsHandOutTheirBuffer)
{
    tbuf *buf = nullptr;
    ASSERT_EQ(tb_new_buf(&buf, "abc", 3), 0);
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_binary_takeover(b.out(), "/qz/state/mgr", ba_value, 0, &buf), 0);
    EXPECT_EQ(buf, nullptr);

    const uint8 *bytes = nullptr;
    uint32 len = 0;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_get_buf_const(b.get(), ba_value, &taf, &bytes, &len), 0);
    ASSERT_EQ(len, 3u);
    EXPECT_EQ(memcmp(bytes, "abc", 3), 0);

    tbuf *out = nullptr;
    ASSERT_EQ(bn_binding_get_tbuf_detach(b.get(), ba_value, &taf, &out), 0);
    ASSERT_NE(out, nullptr);
    (void)tb_free(&out);
}

TEST(BnodeBindingReaders, SecretsComeBackDecoded)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_str(b.out(), "/qz/pw", ba_value, bt_secret, 0, "s3cret/x"), 0);
    // Stored encoded, handed out plain.
    const tstring *stored = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_get_tstring_const(b.get(), ba_value, bt_secret, &taf, &stored), 0);
    EXPECT_STRNE(ts_str(stored), "s3cret/x");
    char *plain = nullptr;
    ASSERT_EQ(bn_binding_get_secret(b.get(), ba_value, &plain), 0);
    EXPECT_STREQ(plain, "s3cret/x");
    free(plain);
}

TEST(BnodeBinding, NewAttribPlacesACopyAtItsId)
{
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_str(a.out(), ba_module_name, bt_string, 0, "iptrackd"), 0);
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_attrib(b.out(), "/qz/m", a.get()), 0);
    bn_attrib *copy = nullptr;
    ASSERT_EQ(bn_binding_get_attrib_copy(b.get(), ba_module_name, &copy), 0);
    owned<bn_attrib> hold{copy};
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, a.get());
    int32 r = 1;
    ASSERT_EQ(bn_attrib_compare(copy, a.get(), &r), 0);
    EXPECT_EQ(r, 0);
    // Ids below it are empty slots.
    const bn_attrib *slot = reinterpret_cast<const bn_attrib *>(0x1);
    ASSERT_EQ(bn_binding_get_attrib(b.get(), ba_value, &slot), 0);
    EXPECT_EQ(slot, nullptr);
}

} // namespace
