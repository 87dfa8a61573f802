// Node names: splitting, escaping, joining, part selection and wildcard
// patterns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bnode/bnode.h"
#include "bnode/bnode_name_walk.h"
#include "bnode_test_helpers.h"
#include "support/log_capture.h"

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
    ASSERT_EQ(tstr_array_length_quick(parts.get()), 3u);
    EXPECT_EQ(tstr_array_get_str_quick(parts.get(), 1), nullptr);
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

} // namespace
