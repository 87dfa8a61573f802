// Node names: splitting, escaping, joining, part selection and wildcard
// patterns; the binding record: constructors, the name and its cached parts,
// attribute access and the binding-level per-type family; binding arrays:
// lookups by name and pattern, detaching, collectors, the dump lines and the
// address orderings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bnode/bnode.h"
#include "bnode/bnode_name_walk.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"

namespace
{

using namespace bnode_test;
using parts_t = strings_t;

parts_t split(const char *name, bool *is_absolute = nullptr)
{
    owned<tstr_array> parts;
    bool abs = false;
    EXPECT_EQ(bn_binding_name_to_parts(name, parts.out(), &abs), 0) << name;
    if (is_absolute) *is_absolute = abs;
    return strings_of(parts.get());
}

std::string join(const parts_t &v, bool is_absolute)
{
    owned<tstr_array> a = tstrs(v);
    char *name = nullptr;
    EXPECT_EQ(bn_binding_name_parts_to_name(a.get(), is_absolute, &name), 0);
    heap_str hold{name};
    return name ? name : "<null>";
}

// The parts the text walker cuts, unescaped.
parts_t walk(const char *name, bool *is_absolute)
{
    detail::raw_name_parts w{name};
    *is_absolute = w.absolute();
    parts_t v;
    while (!w.at_end()) {
        const detail::name_part p = w.next();
        std::string s;
        size_t i = 0;
        while (i < p.text.size()) s.push_back(detail::raw_part_next_char(p.text, &i));
        v.push_back(s);
    }
    return v;
}

// The wildcard rule written out step by step over split parts.
bool reference_match(const parts_t &n, bool a, const parts_t &q, bool b)
{
    if (a != b) return false;
    if (n.empty() && q.empty()) return true;
    if (n.empty() || q.empty()) return false;
    if (q.size() > n.size()) return false;
    for (size_t i = 0; i < q.size(); ++i) {
        if (q[i] == "**") return true;
        if (q[i] != "*" && q[i] != n[i]) return false;
    }
    return n.size() == q.size();
}

std::string random_text(std::mt19937 &rng, size_t max_len, const std::string &alphabet)
{
    std::uniform_int_distribution<size_t> len(0, max_len);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s.push_back(alphabet[pick(rng)]);
    return s;
}

// ---------------------------------------------------------------------------
// Names

TEST(BnodeName, SplitsAtUnescapedSlashesOnly)
{
    bool abs = false;
    EXPECT_EQ(split("/a/b\\/c/d", &abs), (parts_t{"a", "b/c", "d"}));
    EXPECT_TRUE(abs);
    EXPECT_EQ(join({"a", "b/c", "d"}, true), "/a/b\\/c/d");

    // A backslash before anything else stays, with that character; one at
    // the very end stays too.
    EXPECT_EQ(split("/a\\xb/c\\"), (parts_t{"a\\xb", "c\\"}));
    EXPECT_EQ(split("/a\\\\/b"), (parts_t{"a\\", "b"}));
    EXPECT_EQ(split("rel/x", &abs), (parts_t{"rel", "x"}));
    EXPECT_FALSE(abs);

    // Empty names have no parts.
    EXPECT_EQ(split("", &abs), parts_t{});
    EXPECT_FALSE(abs);
    EXPECT_EQ(split("/", &abs), parts_t{});
    EXPECT_TRUE(abs);
    // Every separator ends a part, so doubled and trailing ones give empty
    // parts.
    EXPECT_EQ(split("/a//b/"), (parts_t{"a", "", "b", ""}));
    EXPECT_EQ(join({}, true), "/");
    EXPECT_EQ(join({}, false), "");
}

TEST(BnodeName, SplitJoinRoundTripsAnyParts)
{
    std::mt19937 rng(20261205);
    const std::string alphabet = "ab/\\*x.-_ \xc3\xa9";
    for (int round = 0; round < 3000; ++round) {
        std::uniform_int_distribution<int> count(0, 6);
        parts_t parts;
        for (int n = count(rng); n > 0; --n) parts.push_back(random_text(rng, 6, alphabet));
        // An empty first part cannot be told from the leading separator.
        if (!parts.empty() && parts[0].empty()) parts[0] = "*";
        const bool abs = round % 2 == 0;
        const std::string name = join(parts, abs);
        bool back_abs = !abs;
        ASSERT_EQ(split(name.c_str(), &back_abs), parts) << "name " << name;
        ASSERT_EQ(back_abs, abs) << "name " << name;
    }
}

TEST(BnodeName, EscapesOnePart)
{
    const struct {
        const char *part;
        const char *escaped;
    } cases[] = {
        {"plain", "plain"}, {"b/c", "b\\/c"},       {"a\\b", "a\\b"}, {"a\\/b", "a\\\\\\/b"},
        {"a\\", "a\\\\"},   {"a\\\\b", "a\\\\\\b"}, {"*", "*"},
    };
    for (const auto &c : cases) {
        char *out = nullptr;
        ASSERT_EQ(bn_binding_name_escape_str(c.part, &out), 0);
        heap_str hold{out};
        EXPECT_STREQ(out, c.escaped) << c.part;
        EXPECT_EQ(split(out), parts_t{c.part});
    }
}

TEST(BnodeName, JoinsPartialRangesAndArguments)
{
    // The call's malloc()ed result as text ("<null>" for none), freed;
    // "<unset>" when the call left it alone.
    char *const unset = reinterpret_cast<char *>(0x1);
    char *out = unset;
    auto text = [&](int err) {
        EXPECT_EQ(err, 0);
        char *p = std::exchange(out, unset);
        if (p == unset) return std::string("<unset>");
        heap_str hold{p};
        return std::string(p ? p : "<null>");
    };
    owned<tstr_array> parts = tstrs({"qz", "iptrackd", "config", "a/b"});
    EXPECT_EQ(text(bn_binding_name_parts_partial_to_name(parts.get(), 1, 3, true, &out)),
              "/iptrackd/config");
    EXPECT_EQ(text(bn_binding_name_parts_partial_to_name(parts.get(), 2, -1, false, &out)),
              "config/a\\/b");
    // Empty ranges, a negative end and a null array give nothing, successfully.
    EXPECT_EQ(text(bn_binding_name_parts_partial_to_name(parts.get(), 3, 3, true, &out)), "<null>");
    EXPECT_EQ(text(bn_binding_name_parts_partial_to_name(parts.get(), 0, -2, true, &out)),
              "<null>");
    EXPECT_EQ(text(bn_binding_name_parts_partial_to_name(nullptr, 0, -1, true, &out)), "<null>");

    EXPECT_EQ(text(bn_binding_name_parts_to_name_va(true, &out, 3, "qz", "a/b", "c")),
              "/qz/a\\/b/c");
    EXPECT_EQ(text(bn_binding_name_append_part("/qz/x", "m/1", &out)), "/qz/x/m\\/1");
    EXPECT_EQ(text(bn_binding_name_append_part("rel", "x", &out)), "rel/x");
    EXPECT_EQ(text(bn_binding_name_get_last_part("/qz/a\\/b", &out)), "a/b");
    EXPECT_EQ(text(bn_binding_name_get_last_part("/", &out)), "<null>");
}

// ---------------------------------------------------------------------------
// Part selection

TEST(BnodeNameSelect, ChecksEverythingBeforeHandingOutChosenParts)
{
    owned<tstring> mgr, leaf;
    ASSERT_EQ(bn_binding_name_to_parts_va("/qz/iptrackd/config/manager/m\\/1/enable", false, 2, 4,
                                          mgr.out(), 5, leaf.out()),
              0);
    EXPECT_STREQ(ts_str(mgr.get()), "m/1");
    EXPECT_STREQ(ts_str(leaf.get()), "enable");

    LogCapture cap;
    const char *name = "/qz/iptrackd/config/manager";
    tstring *a = nullptr, *b = nullptr;

    EXPECT_EQ(bn_binding_name_to_parts_va(name, false, 1, 4, &a), lc_err_not_found);
    EXPECT_EQ(bn_binding_name_to_parts_va(name, false, 2, 1, &a, 7, &b), lc_err_not_found);
    EXPECT_EQ(a, nullptr);

    EXPECT_EQ(bn_binding_name_to_parts_va(name, false, 2, 2, &a, 2, &b), lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    EXPECT_EQ(a, nullptr);

    EXPECT_EQ(bn_binding_name_to_parts_va(name, false, 2, 0, &a, 1, (tstring **)nullptr),
              lc_err_unexpected_null);
    EXPECT_EQ(a, nullptr);

    // Under allow_missing an absent part leaves its output as it was.
    tstring *sentinel = reinterpret_cast<tstring *>(0x1);
    b = sentinel;
    ASSERT_EQ(bn_binding_name_to_parts_va(name, true, 2, 3, &a, 9, &b), 0);
    owned<tstring> hold{a};
    EXPECT_STREQ(ts_str(a), "manager");
    EXPECT_EQ(b, sentinel);

    // From an array the chosen parts are taken out, leaving empty slots.
    owned<tstr_array> parts = tstrs({"a", "b", "c"});
    ASSERT_EQ(bn_binding_name_parts_to_parts_va(parts.get(), false, 1, 1, &b), 0);
    owned<tstring> hold_b{b};
    EXPECT_STREQ(ts_str(b), "b");
    EXPECT_EQ(strings_of(parts.get()), (strings_t{"a", "<null>", "c"}));
}

// ---------------------------------------------------------------------------
// Patterns

// Every way of giving name and pattern (text or parts) decides alike: as
// `expected`, or without it as the rule written out above decides (and the
// walker under the text match must cut the parts the tokeniser does).
void expect_all_forms(const char *name, const char *pattern, std::optional<bool> expected = {})
{
    bool na = false, pa = false;
    owned<tstr_array> n, p;
    ASSERT_EQ(bn_binding_name_to_parts(name, n.out(), &na), 0);
    ASSERT_EQ(bn_binding_name_to_parts(pattern, p.out(), &pa), 0);
    SCOPED_TRACE(std::string(name) + " ~ " + pattern);
    if (!expected) {
        bool walk_abs = !na;
        ASSERT_EQ(walk(name, &walk_abs), strings_of(n.get()));
        ASSERT_EQ(walk_abs, na);
        expected = reference_match(strings_of(n.get()), na, strings_of(p.get()), pa);
    }
    EXPECT_EQ(bn_binding_name_pattern_match(name, pattern), *expected);
    EXPECT_EQ(bn_binding_name_parts_pattern_match(n.get(), na, pattern), *expected);
    EXPECT_EQ(bn_binding_name_pattern_parts_match(name, p.get(), pa), *expected);
    EXPECT_EQ(bn_binding_name_parts_pattern_parts_match(n.get(), na, p.get(), pa), *expected);
}

TEST(BnodePattern, StarIsOnePartDoubleStarIsOneOrMore)
{
    const struct {
        const char *name, *pattern;
        bool match;
    } cases[] = {
        {"/a/x/c", "/a/*/c", true},
        {"/a/x/y/c", "/a/*/c", false},
        {"/a/x", "/a/**", true},
        {"/a/x/y/c", "/a/**", true},
        {"/a", "/a/**", false},
        {"/a/x", "a/*", false},
        {"a/x", "a/*", true},
        // "**" decides at once, provided the pattern is not longer than the name.
        {"/a/b/c", "/a/**/z", true},
        {"/a/b", "/a/**/z", false},
        {"/", "/", true},
        {"", "", true},
        {"/a", "/", false},
        {"/", "/**", false},
        {"/a/b\\/c", "/a/*", true},
        {"/a/b\\/c", "/a/b\\/c", true},
        {"/a/b\\/c", "/a/b/c", false},
        // An escaped star is an ordinary part.
        {"/a/x", "/a/\\*", false},
        {"/A/x", "/a/*", false},
        {"/tun/config/t1/config_bin", "/tun/config/*", false},
    };
    for (const auto &c : cases) expect_all_forms(c.name, c.pattern, c.match);
}

// Every form of matching (on texts, with the in-place fast path, or on
// split parts) agrees with the rule whatever the texts hold; the walker
// under the text match cuts the parts the tokeniser does.
TEST(BnodePattern, AgreesWithTheRuleOnArbitraryText)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 20000; ++round) {
        const std::string name = random_text(rng, 10, "ab/\\*");
        const std::string pattern = random_text(rng, 8, "ab/\\**");
        expect_all_forms(name.c_str(), pattern.c_str());
        if (HasFailure()) return;
    }
}

TEST(BnodePattern, RelativeMatchStartsAtAPartAndNullNeverMatches)
{
    owned<tstr_array> n = tstrs({"qz", "iptrackd", "config", "manager", "m1", "enable"});
    EXPECT_TRUE(bn_binding_name_parts_pattern_match_rel(n.get(), 3, "manager/*/enable"));
    EXPECT_TRUE(bn_binding_name_parts_pattern_match_rel(n.get(), 4, "**"));
    EXPECT_FALSE(bn_binding_name_parts_pattern_match_rel(n.get(), 4, "*"));
    EXPECT_FALSE(bn_binding_name_parts_pattern_match_rel(n.get(), 6, "**"));
    EXPECT_TRUE(bn_binding_name_parts_pattern_match_rel(n.get(), 6, ""));
    EXPECT_FALSE(bn_binding_name_parts_pattern_match_rel(n.get(), 9, "*"));

    // Null arguments never match.
    EXPECT_FALSE(bn_binding_name_pattern_match(nullptr, "/a"));
    EXPECT_FALSE(bn_binding_name_pattern_match("/a", nullptr));
    EXPECT_FALSE(bn_binding_name_parts_pattern_match(nullptr, true, "/**"));
    EXPECT_FALSE(bn_binding_name_pattern_parts_match("/a", nullptr, true));
    EXPECT_FALSE(bn_binding_name_parts_pattern_parts_match(nullptr, true, nullptr, true));
}

// ---------------------------------------------------------------------------
// The binding record: construction

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
    EXPECT_EQ(strings_of(cached), (strings_t{"qz", "a/b"}));
    EXPECT_TRUE(abs);

    // A name alone is parsed into the cache.
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), "/x/y", nullptr, false, nullptr), 0);
    ASSERT_EQ(bn_binding_get_name_parts_const(b.get(), &cached, &abs), 0);
    EXPECT_EQ(strings_of(cached), (strings_t{"x", "y"}));
    EXPECT_TRUE(abs);

    // Both are taken as given, even when they disagree.
    ASSERT_EQ(bn_binding_new_parts_components(b.out(), "/other", parts.get(), true, nullptr), 0);
    EXPECT_EQ(name_of(b.get()), "/other");
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(b.get())), (strings_t{"qz", "a/b"}));

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
    ASSERT_EQ(ts_new_str(&name, "/a/b"), 0);
    tstr_array *parts = tstrs({"a", "b"}).release();
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

// ---------------------------------------------------------------------------
// Names and cached parts

TEST(BnodeBinding, DupCopiesTheCacheAndSetNameDropsIt)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_uint32(b.out(), "/old/name", ba_value, 0, 42), 0);
    owned<tstr_array> parts;
    ASSERT_EQ(bn_binding_get_name_parts(b.get(), parts.out()), 0);
    EXPECT_EQ(strings_of(parts.get()), (strings_t{"old", "name"}));

    // A copy has the name, cached parts and attributes, independently.
    owned<bn_binding> copy;
    ASSERT_EQ(bn_binding_dup(b.get(), copy.out()), 0);
    EXPECT_EQ(name_of(copy.get()), "/old/name");
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(copy.get())), (strings_t{"old", "name"}));
    ASSERT_EQ(bn_binding_set_uint32(b.get(), ba_value, 0, 7), 0);
    EXPECT_EQ(value_of(copy.get()), "42");
    EXPECT_EQ(value_of(b.get()), "7");

    ASSERT_EQ(bn_binding_set_name(b.get(), "/new/x/y"), 0);
    EXPECT_EQ(bn_binding_get_name_parts_quick(b.get()), nullptr);
    ASSERT_EQ(bn_binding_get_name_parts(b.get(), parts.out()), 0);
    EXPECT_EQ(strings_of(parts.get()), (strings_t{"new", "x", "y"}));

    // Parts are only stored into an empty cache.
    owned<tstr_array> other = tstrs({"z"});
    ASSERT_EQ(bn_binding_set_name_parts(b.get(), other.get(), true), 0);
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(b.get())), (strings_t{"new", "x", "y"}));

    // A relative name has none.
    LogCapture cap;
    ASSERT_EQ(bn_binding_set_name(b.get(), "rel/name"), 0);
    EXPECT_EQ(bn_binding_get_name_parts(b.get(), parts.out()), lc_err_assertion_failed);
    EXPECT_EQ(parts.get(), nullptr);
    EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
}

TEST(BnodeBinding, SelectsPartsOfItsName)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/qz/iptrackd/config/manager/m1/enable"), 0);
    owned<tstring> mgr;
    ASSERT_EQ(bn_binding_get_name_parts_va(b.get(), false, 1, 4, mgr.out()), 0);
    EXPECT_STREQ(ts_str(mgr.get()), "m1");
    // The binding's own cache is untouched by the selection.
    EXPECT_EQ(strings_of(bn_binding_get_name_parts_quick(b.get())),
              (strings_t{"qz", "iptrackd", "config", "manager", "m1", "enable"}));

    char *last = nullptr;
    ASSERT_EQ(bn_binding_get_name_last_part(b.get(), &last), 0);
    EXPECT_STREQ(last, "enable");
    free(last);
}

// ---------------------------------------------------------------------------
// Attributes

// The type and flags of the attribute at `id`.
std::pair<bn_type, uint32> type_of(const bn_binding *b, bn_attribute_id id)
{
    std::pair<bn_type, uint32> t{99, 99};
    EXPECT_EQ(bn_binding_get_type(b, id, &t.first, &t.second), 0) << id;
    return t;
}

TEST(BnodeBinding, AttributesLiveInTheSlotOfTheirId)
{
    // A binding made from an attribute holds a copy at its id; ids below it
    // are empty slots.
    owned<bn_attrib> a;
    ASSERT_EQ(bn_attrib_new_uint16(a.out(), ba_node_count, 0, 9), 0);
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_attrib(b.out(), "/a", a.get()), 0);
    const bn_attrib *got = reinterpret_cast<const bn_attrib *>(0x1);
    ASSERT_EQ(bn_binding_get_attrib(b.get(), ba_value, &got), 0);
    EXPECT_EQ(got, nullptr);
    owned<bn_attrib> copy;
    ASSERT_EQ(bn_binding_get_attrib_copy(b.get(), ba_node_count, copy.out()), 0);
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_NE(copy.get(), a.get());
    int32 r = 1;
    ASSERT_EQ(bn_attrib_compare(copy.get(), a.get(), &r), 0);
    EXPECT_EQ(r, 0);

    ASSERT_EQ(bn_binding_set_uint32(b.get(), ba_value, 0, 5), 0);
    uint32 n = 0;
    ASSERT_EQ(bn_binding_get_num_attribs(b.get(), &n), 0);
    EXPECT_EQ(n, 2u);

    EXPECT_EQ(type_of(b.get(), ba_node_count), std::pair(bn_type(bt_uint16), 0u));
    // An empty slot inside the array has no type.
    EXPECT_EQ(type_of(b.get(), 65).first, 0u);

    ASSERT_EQ(bn_binding_get_attrib_detach(b.get(), ba_node_count, copy.out()), 0);
    ASSERT_NE(copy.get(), nullptr);
    ASSERT_EQ(bn_binding_get_num_attribs(b.get(), &n), 0);
    EXPECT_EQ(n, 1u);

    owned<bn_attrib_array> all;
    ASSERT_EQ(bn_binding_get_attribs_detach(b.get(), all.out()), 0);
    ASSERT_NE(all.get(), nullptr);
    const bn_attrib_array *left = all.get();
    ASSERT_EQ(bn_binding_get_attribs(b.get(), &left), 0);
    EXPECT_EQ(left, nullptr);
}

// ---------------------------------------------------------------------------
// The per-type family at binding level: one template over the attribute
// family (checked member by member there), so one member stands for all.

TEST(BnodeBindingFamily, WrapsTheAttributeMemberAndReportsSlots)
{
    owned<bn_binding> b;
    owned<tstr_array> parts = tstrs({"qz", "p"});
    ASSERT_EQ(
        bn_binding_new_parts_uint32(b.out(), nullptr, parts.get(), true, ba_value, 0, 4000000000u),
        0);
    EXPECT_EQ(name_of(b.get()), "/qz/p");
    uint32 out = 0, taf = 0;
    ASSERT_EQ(bn_binding_get_uint32(b.get(), ba_value, &taf, &out), 0);
    EXPECT_EQ(out, 4000000000u);
    EXPECT_EQ(taf, uint32(bt_uint32));

    LogCapture cap;
    ASSERT_EQ(bn_binding_new_named(b.out(), "/qz/x"), 0);
    out = 77;
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

TEST(BnodeBindingFamily, TextConstructorsAndAutoinval)
{
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_str(b.out(), "/qz/s", ba_value, bt_string, 0, "hello"), 0);
    EXPECT_EQ(value_of(b.get()), "hello");

    LogCapture cap;
    EXPECT_EQ(bn_binding_new_str(b.out(), "/qz/n", ba_value, bt_uint8, 0, "256"), lc_err_bad_type);
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    ASSERT_EQ(bn_binding_new_str_autoinval(b.out(), "/qz/n", ba_value, bt_uint8, 0, "256"), 0);
    EXPECT_EQ(type_of(b.get(), ba_value).first, bn_type(bt_uint8));
    EXPECT_TRUE(type_of(b.get(), ba_value).second & btf_invalid);

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
    owned<tstring> taken;
    EXPECT_NE(bn_binding_get_tstring_detach(b.get(), ba_value, bt_uint32, &taf, taken.out()), 0);
    EXPECT_EQ(taken.get(), nullptr);
    ASSERT_EQ(bn_binding_get_tstring_detach(b.get(), ba_value, bt_string, &taf, taken.out()), 0);
    EXPECT_STREQ(ts_str(taken.get()), "text");
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

TEST(BnodeBindingReaders, BinaryHandsOutItsBufferAndSecretsComeBackDecoded)
{
    tbuf *buf = nullptr;
    ASSERT_EQ(tb_new_buf(&buf, "abc", 3), 0);
    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_new_binary_takeover(b.out(), "/qz/state/mgr", ba_value, 0, &buf), 0);
    EXPECT_EQ(buf, nullptr);

    const uint8 *bytes = nullptr;
    uint32 len = 0, taf = 0;
    ASSERT_EQ(bn_binding_get_buf_const(b.get(), ba_value, &taf, &bytes, &len), 0);
    ASSERT_EQ(len, 3u);
    EXPECT_EQ(memcmp(bytes, "abc", 3), 0);

    owned<tbuf> out;
    ASSERT_EQ(bn_binding_get_tbuf_detach(b.get(), ba_value, &taf, out.out()), 0);
    ASSERT_NE(out.get(), nullptr);

    // Secrets: stored encoded, handed out plain.
    ASSERT_EQ(bn_binding_new_str(b.out(), "/qz/pw", ba_value, bt_secret, 0, "s3cret/x"), 0);
    const tstring *stored = nullptr;
    ASSERT_EQ(bn_binding_get_tstring_const(b.get(), ba_value, bt_secret, &taf, &stored), 0);
    EXPECT_STRNE(ts_str(stored), "s3cret/x");
    char *plain = nullptr;
    ASSERT_EQ(bn_binding_get_secret(b.get(), ba_value, &plain), 0);
    EXPECT_STREQ(plain, "s3cret/x");
    free(plain);
}

// ---------------------------------------------------------------------------
// Binding arrays

void append(bn_binding_array *a, const std::string &name, bn_type type, const std::string &value)
{
    bn_binding *b = nullptr;
    EXPECT_EQ(bn_binding_new_str(&b, name.c_str(), ba_value, type, 0, value.c_str()), 0);
    EXPECT_EQ(bn_binding_array_append_takeover(a, &b), 0);
}

// An array of string bindings whose value is "v:<name>".
owned<bn_binding_array> make_array(const strings_t &names)
{
    owned<bn_binding_array> a;
    EXPECT_EQ(bn_binding_array_new(a.out()), 0);
    for (const std::string &n : names) append(a.get(), n, bt_string, "v:" + n);
    return a;
}

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
    EXPECT_EQ(names_of(a.get()), (strings_t{"/a", "/a", "/a/b", "/b", "/c"}));
}

TEST(BnodeArrayByName, ReadsValuesAndDetachShiftsTheRestDown)
{
    owned<bn_binding_array> a = make_array({"/x", "/y", "/z"});
    append(a.get(), "/flag", bt_bool, "true");

    owned<tstring> v;
    uint32 taf = 0;
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name(a.get(), "/y", &taf, v.out()), 0);
    EXPECT_STREQ(ts_str(v.get()), "v:/y");
    EXPECT_EQ(taf, uint32(bt_string));
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name_rel(a.get(), "", "flag", &taf, v.out()), 0);
    EXPECT_STREQ(ts_str(v.get()), "true");
    ASSERT_EQ(bn_binding_array_get_value_tstr_by_name(a.get(), "/none", &taf, v.out()), 0);
    EXPECT_EQ(v.get(), nullptr);
    tbool on = false;
    ASSERT_EQ(bn_binding_array_get_value_tbool_by_name(a.get(), "/flag", &taf, &on), 0);
    EXPECT_TRUE(on);

    owned<bn_binding> b;
    ASSERT_EQ(bn_binding_array_detach_binding_by_name(a.get(), "/y", b.out()), 0);
    ASSERT_NE(b.get(), nullptr);
    EXPECT_EQ(names_of(a.get()), (strings_t{"/x", "/z", "/flag"}));
    ASSERT_EQ(bn_binding_array_detach_binding_by_name(a.get(), "/y", b.out()), 0);
    EXPECT_EQ(b.get(), nullptr);
    ASSERT_EQ(bn_binding_array_detach_binding_by_name_rel(a.get(), "", "z", b.out()), 0);
    EXPECT_EQ(names_of(a.get()), (strings_t{"/x", "/flag"}));
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

    owned<tstring> v;
    uint32 taf = 0;
    ASSERT_EQ(
        bn_binding_array_get_first_matching_value_tstr(a.get(), "/qz/*", 0, &idx, &taf, v.out()),
        0);
    EXPECT_STREQ(ts_str(v.get()), "v:/qz/other");
    EXPECT_EQ(idx, 3u);

    owned<bn_binding> taken;
    ASSERT_EQ(
        bn_binding_array_detach_first_matching_binding(a.get(), "/qz/m/**", 0, &idx, taken.out()),
        0);
    EXPECT_EQ(idx, 0u);
    EXPECT_EQ(names_of(a.get()), (strings_t{"/qz/m/a/comment", "/qz/m/b/enable", "/qz/other"}));
}

TEST(BnodeArrayByPattern, DetachesTheSubtreeBelowANode)
{
    owned<bn_binding_array> a = make_array({"/a", "/a/b", "/ab", "/a/b/c"});
    owned<bn_binding_array> sub;
    ASSERT_EQ(bn_bindings_array_detach_subtree(a.get(), "/a", sub.out()), 0);
    EXPECT_EQ(names_of(a.get()), (strings_t{"/a", "/ab"}));
    EXPECT_EQ(names_of(sub.get()), (strings_t{"/a/b", "/a/b/c"}));

    // Without a place for them the detached bindings are freed.
    ASSERT_EQ(bn_bindings_array_detach_subtree(a.get(), "/", nullptr), 0);
    EXPECT_EQ(names_of(a.get()), (strings_t{"/a", "/ab"}));

    // The name must leave room for "/**" in 256 bytes.
    LogCapture cap;
    EXPECT_EQ(bn_bindings_array_detach_subtree(a.get(), std::string(252, 'n').c_str(), nullptr), 0);
    EXPECT_EQ(bn_bindings_array_detach_subtree(a.get(), std::string(253, 'n').c_str(), nullptr),
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
    for (const auto &r : rows) append(a.get(), r[0], bt_link, r[1]);
    owned<tstr_array> parts;
    ASSERT_EQ(bn_binding_array_get_name_part_tstr_array(a.get(), "/x/*/link", 4, parts.out()), 0);
    EXPECT_EQ(strings_of(parts.get()), (strings_t{"m1", "m/2"}));

    ASSERT_EQ(bn_binding_array_get_last_name_parts(a.get(), parts.out()), 0);
    EXPECT_EQ(strings_of(parts.get()), (strings_t{"link", "link", "other", "link"}));
}

// ---------------------------------------------------------------------------
// Dump

TEST(BnodeArrayDump, LinesAreByteExact)
{
    owned<bn_binding_array> a;
    ASSERT_EQ(bn_binding_array_new(a.out()), 0);
    append(a.get(), "/qz/iptrackd/config/manager/m1/label_id", bt_uint32, "7");
    append(a.get(), "/qz/a\\/b", bt_string, "x y");
    bn_binding *b = nullptr;
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

TEST(BnodeAddressOrder, Ipv4ByValueThenLengthIpv6FirstByteLeastSignificant)
{
    owned<tstr_array> a = tstrs({"10.0.0.10", "9.255.255.255", "10.0.0.9/24", "10.0.0.9",
                                 "10.0.0.9/8", "192.168.1.1", "garbage", "1.2.3.4"});
    ASSERT_EQ(tstr_array_sort_custom(a.get(), tstr_compare_ip), 0);
    EXPECT_EQ(strings_of(a.get()),
              (strings_t{"garbage", "1.2.3.4", "9.255.255.255", "10.0.0.9", "10.0.0.9/8",
                         "10.0.0.9/24", "10.0.0.10", "192.168.1.1"}));

    // Bindings are ordered by their last name part.
    owned<bn_binding_array> b =
        make_array({"/ip/10.0.0.10", "/ip/10.0.0.2", "/ip/2.0.0.1\\/32", "/ip/2.0.0.1\\/0"});
    ASSERT_EQ(bn_binding_array_sort_custom(b.get(), bn_binding_name_compare_ip), 0);
    EXPECT_EQ(names_of(b.get()),
              (strings_t{"/ip/2.0.0.1\\/0", "/ip/2.0.0.1\\/32", "/ip/10.0.0.2", "/ip/10.0.0.10"}));

    // IPv6 reads as one number whose first address byte is least significant:
    // 1:: and 2:: differ in byte 1 only, ::2:0 sets byte 13 and ::1 byte 15.
    owned<tstr_array> a6 = tstrs({"::2:0", "1::", "::1", "2::/64", "2::", "::"});
    ASSERT_EQ(tstr_array_sort_custom(a6.get(), tstr_compare_ipv6), 0);
    EXPECT_EQ(strings_of(a6.get()), (strings_t{"::", "1::", "2::", "2::/64", "::2:0", "::1"}));

    owned<bn_binding_array> b6 = make_array({"/v6/::1", "/v6/1::"});
    ASSERT_EQ(bn_binding_array_sort_custom(b6.get(), bn_binding_name_compare_ipv6), 0);
    EXPECT_EQ(names_of(b6.get()), (strings_t{"/v6/1::", "/v6/::1"}));
}

} // namespace
