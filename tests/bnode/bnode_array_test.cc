// Binding arrays: lookups by name and pattern, detaching, collectors, the
// dump lines and the address orderings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bnode/bnode.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"

namespace
{

using bnode_test::strings_of;
using bnode_test::tstrs;
using names_t = bnode_test::strings_t;

// An array of string bindings whose value is "v:<name>".
owned<bn_binding_array> make_array(const names_t &names)
{
    owned<bn_binding_array> a;
    EXPECT_EQ(bn_binding_array_new(a.out()), 0);
    for (const std::string &n : names) {
        bn_binding *b = nullptr;
        EXPECT_EQ(bn_binding_new_str(&b, n.c_str(), ba_value, bt_string, 0, ("v:" + n).c_str()), 0);
        EXPECT_EQ(bn_binding_array_append_takeover(a.get(), &b), 0);
    }
    return a;
}

using bnode_test::names_of;

// ---------------------------------------------------------------------------
// By name

TEST(BnodeArrayByName, FindsTheFirstExactNameSortedOrNot)
{
    owned<bn_binding_array> a = make_array({"/c", "/a/b", "/a", "/b", "/a"});
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass ? "sorted" : "unsorted");
        uint32 idx = 0;
        ASSERT_EQ(bn_binding_array_get_index_by_name(a.get(), "/a", &idx), 0);
        EXPECT_EQ(idx, pass ? 0u : 2u);
        ASSERT_EQ(bn_binding_array_get_index_by_name(a.get(), "/zz", &idx), 0);
        EXPECT_EQ(idx, 0xFFFFFFFFu);
        ASSERT_EQ(bn_binding_array_get_index_by_name(a.get(), "/", &idx), 0);
        EXPECT_EQ(idx, 0xFFFFFFFFu);

        const bn_binding *b = reinterpret_cast<const bn_binding *>(0x1);
        ASSERT_EQ(bn_binding_array_get_binding_by_name(a.get(), "/nope", &b), 0);
        EXPECT_EQ(b, nullptr);
        ASSERT_EQ(bn_binding_array_get_binding_by_name_rel(a.get(), "/a", "b", &b), 0);
        ASSERT_NE(b, nullptr);
        EXPECT_STREQ(ts_str(bn_binding_get_name_quick(b)), "/a/b");
        ASSERT_EQ(bn_binding_array_get_binding_by_name_fmt(a.get(), &b, "/%c", 'c'), 0);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(bn_binding_array_sort(a.get()), 0);
    }
    EXPECT_EQ(names_of(a.get()), (names_t{"/a", "/a", "/a/b", "/b", "/c"}));
}

TEST(BnodeArrayByName, DetachShiftsTheRestDown)
{
    owned<bn_binding_array> a = make_array({"/x", "/y", "/z"});
    bn_binding *b = nullptr;
    ASSERT_EQ(bn_binding_array_detach_binding_by_name(a.get(), "/y", &b), 0);
    owned<bn_binding> hold{b};
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(names_of(a.get()), (names_t{"/x", "/z"}));
    ASSERT_EQ(bn_binding_array_detach_binding_by_name(a.get(), "/y", &b), 0);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(bn_binding_array_detach_binding_by_name_rel(a.get(), "", "z", &b), 0);
    hold.reset(b);
    EXPECT_EQ(names_of(a.get()), (names_t{"/x"}));
}

TEST(BnodeArrayByName, ReadsValues)
{
    owned<bn_binding_array> a = make_array({"/s"});
    bn_binding *flag = nullptr;
    ASSERT_EQ(bn_binding_new_tbool(&flag, "/flag", ba_value, 0, true), 0);
    ASSERT_EQ(bn_binding_array_append_takeover(a.get(), &flag), 0);

    tstring *v = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name(a.get(), "/s", &taf, &v), 0);
    owned<tstring> hold{v};
    EXPECT_STREQ(ts_str(v), "v:/s");
    EXPECT_EQ(taf, uint32(bt_string));
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name_rel(a.get(), "", "flag", &taf, &v), 0);
    hold.reset(v);
    EXPECT_STREQ(ts_str(v), "true");
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name(a.get(), "/none", &taf, &v), 0);
    EXPECT_EQ(v, nullptr);

    tbool on = false;
    ASSERT_EQ(bn_binding_array_get_value_tbool_by_name(a.get(), "/flag", &taf, &on), 0);
    EXPECT_TRUE(on);
}

// ---------------------------------------------------------------------------
// By pattern

TEST(BnodeArrayByPattern, ScansFromStart)
{
    owned<bn_binding_array> a =
        make_array({"/qz/m/a/enable", "/qz/m/a/comment", "/qz/m/b/enable", "/qz/other"});
    uint32 idx = 0;
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_binding_array_get_first_matching_binding(a.get(), "/qz/m/*/enable", 1, &idx, &b),
              0);
    EXPECT_EQ(idx, 2u);
    ASSERT_NE(b, nullptr);

    ASSERT_EQ(bn_binding_array_get_first_matching_binding(a.get(), "/qz/m/*/enable", 3, &idx, &b),
              0);
    EXPECT_EQ(idx, 0xFFFFFFFFu);
    EXPECT_EQ(b, nullptr);

    tstring *v = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_array_get_first_matching_value_tstr(a.get(), "/qz/*", 0, &idx, &taf, &v),
              0);
    owned<tstring> hold{v};
    EXPECT_STREQ(ts_str(v), "v:/qz/other");
    EXPECT_EQ(idx, 3u);

    bn_binding *taken = nullptr;
    ASSERT_EQ(bn_binding_array_detach_first_matching_binding(a.get(), "/qz/m/**", 0, &idx, &taken),
              0);
    owned<bn_binding> hold_b{taken};
    EXPECT_EQ(idx, 0u);
    EXPECT_EQ(names_of(a.get()), (names_t{"/qz/m/a/comment", "/qz/m/b/enable", "/qz/other"}));
}

TEST(BnodeArrayByPattern, DetachesTheSubtreeBelowANode)
{
    owned<bn_binding_array> a = make_array({"/a", "/a/b", "/ab", "/a/b/c"});
    bn_binding_array *sub = nullptr;
    ASSERT_EQ(bn_bindings_array_detach_subtree(a.get(), "/a", &sub), 0);
    owned<bn_binding_array> hold{sub};
    EXPECT_EQ(names_of(a.get()), (names_t{"/a", "/ab"}));
    EXPECT_EQ(names_of(sub), (names_t{"/a/b", "/a/b/c"}));

    // Without a place for them the detached bindings are freed.
    ASSERT_EQ(bn_bindings_array_detach_subtree(a.get(), "/", nullptr), 0);
    EXPECT_EQ(names_of(a.get()), (names_t{"/a", "/ab"}));

    // The name must leave room for "/**" in 256 bytes.
    LogCapture cap;
    const std::string fits(252, 'n');
    const std::string too_long(253, 'n');
    EXPECT_EQ(bn_bindings_array_detach_subtree(a.get(), fits.c_str(), nullptr), 0);
    EXPECT_EQ(bn_bindings_array_detach_subtree(a.get(), too_long.c_str(), nullptr),
              lc_err_assertion_failed);
}

// ---------------------------------------------------------------------------
// Collectors

TEST(BnodeArrayCollect, NamePartsOfLinkValuesAndLastParts)
{
    owned<bn_binding_array> a;
    ASSERT_EQ(bn_binding_array_new(a.out()), 0);
    const char *rows[][2] = {
        {"/x/1/link", "/qz/iptrackd/config/manager/m1"},
        {"/x/2/link", "/qz/iptrackd/config/manager/m\\/2"},
        {"/x/3/other", "/qz/iptrackd/config/manager/m3"},
        {"/x/4/link", "/short"},
    };
    for (const auto &r : rows) {
        bn_binding *b = nullptr;
        ASSERT_EQ(bn_binding_new_str(&b, r[0], ba_value, bt_link, 0, r[1]), 0);
        ASSERT_EQ(bn_binding_array_append_takeover(a.get(), &b), 0);
    }
    tstr_array *parts = nullptr;
    ASSERT_EQ(bn_binding_array_get_name_part_tstr_array(a.get(), "/x/*/link", 4, &parts), 0);
    owned<tstr_array> hold{parts};
    EXPECT_EQ(strings_of(parts), (names_t{"m1", "m/2"}));

    ASSERT_EQ(bn_binding_array_get_last_name_parts(a.get(), &parts), 0);
    hold.reset(parts);
    EXPECT_EQ(strings_of(parts), (names_t{"link", "link", "other", "link"}));
}

// ---------------------------------------------------------------------------
// Dump

TEST(BnodeArrayDump, LinesAreByteExact)
{
    owned<bn_binding_array> a;
    ASSERT_EQ(bn_binding_array_new(a.out()), 0);
    bn_binding *b = nullptr;
    ASSERT_EQ(bn_binding_new_uint32(&b, "/qz/iptrackd/config/manager/m1/label_id", ba_value, 0, 7),
              0);
    ASSERT_EQ(bn_binding_array_append_takeover(a.get(), &b), 0);
    ASSERT_EQ(bn_binding_new_str(&b, "/qz/a\\/b", ba_value, bt_string, 0, "x y"), 0);
    ASSERT_EQ(bn_binding_array_append_takeover(a.get(), &b), 0);
    tbuf *buf = nullptr;
    ASSERT_EQ(tb_new_buf(&buf, "\x01\x02\x00\x04\x05", 5), 0);
    ASSERT_EQ(bn_binding_new_binary_takeover(&b, "/qz/iptrackd/state/mgr", ba_value, 0, &buf), 0);
    ASSERT_EQ(bn_binding_array_append_takeover(a.get(), &b), 0);
    ASSERT_EQ(bn_binding_array_set(a.get(), 4, nullptr), 0); // slot 3 and 4 empty
    ASSERT_EQ(bn_binding_new_named(&b, "/novalue"), 0);
    ASSERT_EQ(bn_binding_array_set_takeover(a.get(), 4, &b), 0);

    LogCapture cap;
    // Every line carries the logger's header; learn it from a line of ours.
    lc_log_basic(LCL_INFO, "REF");
    ASSERT_EQ(bn_binding_array_dump("resp", a.get(), LCL_INFO), 0);
    ASSERT_EQ(bn_binding_array_dump(nullptr, a.get(), LCL_INFO), 0);
    const std::vector<std::string> lines = cap.lines();
    ASSERT_EQ(lines.size(), 11u) << cap.dump();
    ASSERT_GE(lines[0].size(), 3u);
    const std::string header = lines[0].substr(0, lines[0].size() - 3);
    // Each row with the prefix, then each without it.
    const std::vector<std::string> rows = {
        "[0] /qz/iptrackd/config/manager/m1/label_id = 7 (uint32)",
        "[1] /qz/a\\/b = x y (string)",
        "[2] /qz/iptrackd/state/mgr = [Binary data: length 5] (binary)",
        "[3] NULL",
        "[4] /novalue = (null) (none)",
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(lines[1 + i], header + "resp: " + rows[i]);
        EXPECT_EQ(lines[1 + rows.size() + i], header + rows[i]);
    }

    // Nothing at a level that is not enabled.
    cap.clear();
    lc_log_set_effective_level_for_tests(LCL_NOTICE);
    ASSERT_EQ(bn_binding_array_dump("resp", a.get(), LCL_DEBUG), 0);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

// ---------------------------------------------------------------------------
// Address orderings

TEST(BnodeAddressOrder, Ipv4ByValueThenLength)
{
    owned<tstr_array> a = tstrs({"10.0.0.10", "9.255.255.255", "10.0.0.9/24", "10.0.0.9",
                                 "10.0.0.9/8", "192.168.1.1", "garbage", "1.2.3.4"});
    ASSERT_EQ(tstr_array_sort_custom(a.get(), tstr_compare_ip), 0);
    EXPECT_EQ(strings_of(a.get()),
              (names_t{"garbage", "1.2.3.4", "9.255.255.255", "10.0.0.9", "10.0.0.9/8",
                       "10.0.0.9/24", "10.0.0.10", "192.168.1.1"}));

    // Bindings are ordered by their last name part.
    owned<bn_binding_array> b =
        make_array({"/ip/10.0.0.10", "/ip/10.0.0.2", "/ip/2.0.0.1\\/32", "/ip/2.0.0.1\\/0"});
    ASSERT_EQ(bn_binding_array_sort_custom(b.get(), bn_binding_name_compare_ip), 0);
    EXPECT_EQ(names_of(b.get()),
              (names_t{"/ip/2.0.0.1\\/0", "/ip/2.0.0.1\\/32", "/ip/10.0.0.2", "/ip/10.0.0.10"}));
}

TEST(BnodeAddressOrder, Ipv6FirstByteLeastSignificant)
{
    // Read as one number whose first address byte is least significant:
    // 1:: and 2:: differ in byte 1 only, ::2:0 sets byte 13 and ::1 byte 15.
    owned<tstr_array> a = tstrs({"::2:0", "1::", "::1", "2::/64", "2::", "::"});
    ASSERT_EQ(tstr_array_sort_custom(a.get(), tstr_compare_ipv6), 0);
    EXPECT_EQ(strings_of(a.get()), (names_t{"::", "1::", "2::", "2::/64", "::2:0", "::1"}));

    owned<bn_binding_array> b = make_array({"/v6/::1", "/v6/1::"});
    ASSERT_EQ(bn_binding_array_sort_custom(b.get(), bn_binding_name_compare_ipv6), 0);
    EXPECT_EQ(names_of(b.get()), (names_t{"/v6/1::", "/v6/::1"}));
}

} // namespace
