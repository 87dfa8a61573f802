#include "util/tstr_array.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/logging.h"
#include "support/call_ok.h"
#include "support/log_capture.h"
#include "util/hash_table.h"

namespace
{

using strs = std::vector<std::string>;

owned<tstr_array> make(const strs &items)
{
    owned<tstr_array> arr;
    EXPECT_EQ(tstr_array_new(arr.out(), nullptr), 0);
    for (const auto &s : items) EXPECT_EQ(tstr_array_append_str(arr.get(), s.c_str()), 0);
    return arr;
}

// Contents, with "<NULL>" for null slots.
strs items(const tstr_array *arr)
{
    strs out;
    for (uint32 i = 0; i < tstr_array_length_quick(arr); ++i) {
        const char *s = tstr_array_get_str_quick(arr, i);
        out.emplace_back(s ? s : "<NULL>");
    }
    return out;
}
strs items(int rc, const tstr_array *arr, std::source_location at = std::source_location::current())
{
    return items(ok(rc, arr, at));
}

constexpr uint32 kNames = 0x04 | 0x08 | 0x20;

owned<tstr_array> name(const char *text)
{
    owned<tstr_array> parts;
    EXPECT_EQ(ts_tokenize_str(text, '/', '\\', 0, kNames, parts.out()), 0);
    if (!parts) {
        EXPECT_EQ(tstr_array_new(parts.out(), nullptr), 0);
    }
    return parts;
}

bool matches(const char *pattern, const char *text)
{
    owned<tstr_array> q = name(pattern);
    owned<tstr_array> n = name(text);
    tbool ret = false;
    EXPECT_EQ(tstr_array_wildcard_match(q.get(), n.get(), &ret), 0);
    EXPECT_EQ(tstr_array_wildcard_match_quick(q.get(), n.get()), ret);
    return ret;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and options

TEST(TstrArrayNew, ConstructorsAccessAndSearches)
{
    owned<tstr_array> arr = make({"a", "a"});
    EXPECT_EQ(items(arr.get()), (strs{"a", "a"}));

    // The policies themselves are the generic array's; this checks the option reaches it.
    tstr_array_options opts;
    ASSERT_EQ(tstr_array_options_get_defaults(&opts), 0);
    opts.tao_dup_policy = adp_keep;
    ASSERT_EQ(tstr_array_new(arr.out(), &opts), 0);
    ASSERT_EQ(tstr_array_append_str(arr.get(), "x"), 0);
    EXPECT_EQ(items(tstr_array_append_str(arr.get(), "x"), arr.get()), (strs{"x"}));

    ASSERT_EQ(tstr_array_new_va_str(arr.out(), nullptr, 3, "one",
                                    static_cast<const char *>(nullptr), "three"),
              0);
    EXPECT_EQ(items(arr.get()), (strs{"one", "<NULL>", "three"}));

    const char *argv[] = {"prog", "-v", ""};
    ASSERT_EQ(tstr_array_new_argv(arr.out(), nullptr, 3, argv), 0);
    EXPECT_EQ(items(arr.get()), (strs{"prog", "-v", ""}));

    char **back = nullptr;
    EXPECT_STREQ(ok(tstr_array_to_argv(arr.get(), &back), back)[0], "prog");
    EXPECT_STREQ(back[2], "");
    EXPECT_EQ(back[3], nullptr);
    EXPECT_EQ(tstr_array_free_argv(&back), 0);
    EXPECT_EQ(back, nullptr);

    ASSERT_EQ(tstr_array_new_charlist(arr.out(), nullptr, ",;/"), 0);
    EXPECT_EQ(items(arr.get()), (strs{",", ";", "/"}));
    ASSERT_EQ(tstr_array_new_charlist(arr.out(), nullptr, ""), 0);
    EXPECT_EQ(tstr_array_length_quick(arr.get()), 0u);

    arr = make({"a"});
    EXPECT_EQ(items(tstr_array_set_str(arr.get(), 3, "d"), arr.get()),
              (strs{"a", "<NULL>", "<NULL>", "d"}));
    const char *got = "junk";
    EXPECT_EQ(ok(tstr_array_get_str(arr.get(), 1, &got), got), nullptr);
    EXPECT_EQ(tstr_array_get_str(arr.get(), 4, &got), lc_err_not_found);
    EXPECT_EQ(tstr_array_get_str_quick(arr.get(), 4), nullptr);
    EXPECT_EQ(tstr_array_get_str_quick(nullptr, 0), nullptr);

    char *heap = strdup("taken");
    EXPECT_EQ(ok(tstr_array_insert_str_takeover(arr.get(), 0, &heap), heap), nullptr);
    heap = strdup("tail");
    ASSERT_EQ(tstr_array_append_str_takeover(arr.get(), &heap), 0);
    heap = strdup("mid");
    ASSERT_EQ(tstr_array_set_str_takeover(arr.get(), 2, &heap), 0);
    EXPECT_EQ(items(tstr_array_append_sprintf(arr.get(), "n=%d", 7), arr.get()),
              (strs{"taken", "a", "mid", "<NULL>", "d", "tail", "n=7"}));

    LogCapture cap;
    heap = strdup("lost"); // freed by the callee: no leak under the sanitizer
    EXPECT_EQ(tstr_array_append_str_takeover(nullptr, &heap), lc_err_unexpected_null);
    EXPECT_EQ(heap, nullptr);

    arr = make({});
    for (const char *s : {"m", "c", "x", "c", "a"})
        ASSERT_EQ(tstr_array_insert_str_sorted(arr.get(), s), 0);
    EXPECT_EQ(items(arr.get()), (strs{"a", "c", "c", "m", "x"}));
    uint32 at = 99;
    EXPECT_EQ(ok(tstr_array_binary_search_str(arr.get(), "c", &at), at), 1u);
    EXPECT_EQ(tstr_array_binary_search_str(arr.get(), "d", &at), lc_err_not_found);
    EXPECT_EQ(ok(tstr_array_linear_search_str(arr.get(), "c", 2, &at), at), 2u);
    EXPECT_EQ(tstr_array_linear_search_str(arr.get(), "c", 3, &at), lc_err_not_found);
    EXPECT_EQ(at, 0u);

    ASSERT_EQ(tstr_array_append_str(arr.get(), "b"), 0); // no longer known sorted
    EXPECT_EQ(tstr_array_binary_search_str(arr.get(), "c", &at), lc_err_assertion_failed);
}

// ---------------------------------------------------------------------------
// Elements as strings

TEST(TstrArrayStr, DeletesSortsCutsAndCompares)
{
    owned<tstr_array> arr = make({"/a/1", "/b/2", "/a/3", "x"});
    ASSERT_EQ(tstr_array_set_str(arr.get(), 5, "/a/5"), 0);
    ASSERT_EQ(tstr_array_delete_str(arr.get(), "/a/3"), 0);
    EXPECT_EQ(tstr_array_delete_str(arr.get(), "/a/3"), lc_err_not_found);
    EXPECT_EQ(items(tstr_array_delete_non_prefixed(arr.get(), "/a/"), arr.get()),
              (strs{"/a/1", "<NULL>", "/a/5"}));

    arr = make({"10", "-2", "abc", "3x", "", "7", "0"});
    EXPECT_EQ(items(tstr_array_sort_numeric(arr.get()), arr.get()),
              (strs{"-2", "abc", "", "0", "3x", "7", "10"}));

    arr = make({"cmd", "-x", "--", "file", "--"});
    owned<tstr_array> head;
    ASSERT_EQ(tstr_array_dup_before_matched_str(arr.get(), "--", head.out()), 0);
    EXPECT_EQ(items(head.get()), (strs{"cmd", "-x"}));
    ASSERT_EQ(tstr_array_dup_before_matched_str(arr.get(), "absent", head.out()), 0);
    EXPECT_EQ(items(head.get()), items(arr.get()));

    owned<tstr_array> ab = make({"a", "b"});
    owned<tstr_array> abc = make({"a", "b", "c"});
    owned<tstr_array> b = make({"b"});
    owned<tstr_array> empty = make({});
    EXPECT_LT(tstr_array_compare(nullptr, empty.get()), 0);
    EXPECT_EQ(tstr_array_compare(nullptr, nullptr), 0);
    EXPECT_LT(tstr_array_compare(ab.get(), abc.get()), 0);
    EXPECT_GT(tstr_array_compare(b.get(), abc.get()), 0);
    EXPECT_EQ(tstr_array_compare(ab.get(), ab.get()), 0);
}

TEST(TstrArrayStr, PrintFormats)
{
    owned<tstr_array> arr = make({"x"});
    ASSERT_EQ(tstr_array_set_str(arr.get(), 2, "z"), 0);
    owned<tstr_array> empty = make({});
    testing::internal::CaptureStdout();
    EXPECT_EQ(tstr_array_print(arr.get(), "p"), 0);
    EXPECT_EQ(tstr_array_print(arr.get(), nullptr), 0);
    EXPECT_EQ(tstr_array_print(empty.get(), "e"), 0);
    EXPECT_EQ(tstr_array_print(empty.get(), nullptr), 0);
    EXPECT_EQ(tstr_array_print(nullptr, "n"), 0);
    EXPECT_EQ(tstr_array_print(nullptr, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "p[0]: x\np[1]: <NULL>\np[2]: z\n"
                                                      "0: x\n1: <NULL>\n2: z\n"
                                                      "e[]: [empty array]\n[empty array]\n"
                                                      "n[]: [null array]\n[null array]\n");
}

// ---------------------------------------------------------------------------
// Wildcard match

TEST(TstrArrayWildcard, StarsAndPlainParts)
{
    EXPECT_TRUE(matches("/a/*/c", "/a/x/c"));
    EXPECT_FALSE(matches("/a/*/c", "/a/x/y/c"));
    EXPECT_FALSE(matches("/a/*", "/a"));
    EXPECT_TRUE(matches("/a/b", "/a/b"));
    EXPECT_FALSE(matches("/a/b", "/a/B"));
    EXPECT_FALSE(matches("/a", "/a/b"));
    EXPECT_TRUE(matches("", ""));
    EXPECT_FALSE(matches("/a", ""));

    EXPECT_TRUE(matches("/a/**", "/a/x"));
    EXPECT_TRUE(matches("/a/**", "/a/x/y/c"));
    EXPECT_FALSE(matches("/a/**", "/a"));
    // Matching stops at "**", but the pattern may not be longer than the name.
    EXPECT_TRUE(matches("/a/**/z", "/a/b/c"));
    EXPECT_FALSE(matches("/a/**/z", "/a/b"));
    EXPECT_TRUE(matches("/*/**", "/q/r"));

    owned<tstr_array> q = name("/a/**");
    owned<tstr_array> lit = name("/a/**");
    owned<tstr_array> deep = name("/a/x/y");
    owned<tstr_array> one = name("/a/x");
    EXPECT_TRUE(tstr_array_wildcard_match_ex_quick(q.get(), lit.get(), 0, false));
    EXPECT_FALSE(tstr_array_wildcard_match_ex_quick(q.get(), one.get(), 0, false));
    EXPECT_FALSE(tstr_array_wildcard_match_ex_quick(q.get(), deep.get(), 0, false));
    EXPECT_TRUE(tstr_array_wildcard_match_ex_quick(q.get(), deep.get(), 0, true));
}

TEST(TstrArrayWildcard, RelativeStartsAndBadArguments)
{
    owned<tstr_array> q = name("manager/*/enable");
    owned<tstr_array> n = name("/qz/iptrackd/config/manager/m1/enable");
    tbool ret = false;
    EXPECT_TRUE(ok(tstr_array_wildcard_match_rel(q.get(), n.get(), 3, &ret), ret));
    EXPECT_TRUE(ok(tstr_array_wildcard_match_ex(q.get(), 1, n.get(), 4, true, &ret), ret));
    EXPECT_FALSE(ok(tstr_array_wildcard_match_rel(q.get(), n.get(), 2, &ret), ret));
    EXPECT_TRUE(tstr_array_wildcard_match_ex_quick(q.get(), n.get(), 3, true));
    LogCapture cap;
    EXPECT_EQ(tstr_array_wildcard_match_rel(q.get(), n.get(), 7, &ret), lc_err_assertion_failed);
    EXPECT_FALSE(tstr_array_wildcard_match_ex_quick(q.get(), n.get(), 7, true));
    EXPECT_FALSE(tstr_array_wildcard_match_quick(nullptr, n.get()));
    EXPECT_EQ(tstr_array_wildcard_match(q.get(), nullptr, &ret), lc_err_unexpected_null);
}

// ---------------------------------------------------------------------------
// Tokeniser and joiner through tstr_array

// The splitting and joining rules are tested in tstring_test; here,
// what the array forms add: a null array for nothing, null slots as empty parts.
TEST(TstrArrayTokenize, NullArraysAndSlots)
{
    owned<tstr_array> parts;
    ASSERT_EQ(ts_tokenize_str("/", '/', '\\', 0, kNames, parts.out()), 0);
    EXPECT_EQ(parts.get(), nullptr);
    auto text = create(ts_new_str, "a\\,b;c");
    ASSERT_EQ(ts_tokenize(text.get(), ';', '\\', 0, 0, parts.out()), 0);
    EXPECT_EQ(items(parts.get()), (strs{"a\\,b", "c"}));
    {
        LogCapture cap;
        EXPECT_EQ(ts_tokenize_str("a", ',', ',', 0, 0, parts.out()), lc_err_generic_error);
        EXPECT_EQ(parts.get(), nullptr);
    }

    parts = make({"qz", "b/c", "d\\"});
    ASSERT_EQ(tstr_array_set_str(parts.get(), 4, "e"), 0); // slot 3 null: an empty part
    owned<tstring> joined;
    ASSERT_EQ(ts_join_tokens_utf8(parts.get(), '/', '\\', 0, 0x500, joined.out()), 0);
    EXPECT_STREQ(ts_str(joined.get()), "/qz/b\\/c/d\\\\/e");
    ASSERT_EQ(ts_join_tokens(parts.get(), '/', '\\', 0, 0, joined.out()), 0);
    EXPECT_STREQ(ts_str(joined.get()), "qz/b\\/c/d\\\\//e");
    ASSERT_EQ(ts_tokenize_str_utf8("/qz/b\\/c/d\\\\/e", '/', '\\', 0, kNames, parts.out()), 0);
    EXPECT_EQ(items(parts.get()), (strs{"qz", "b/c", "d\\", "e"}));
}

// ---------------------------------------------------------------------------
// Arrays of arrays

TEST(TstrArrayArray, OwnsCopiesAndSortsByElementwiseOrder)
{
    auto aa = create(tstr_array_array_new);
    owned<tstr_array> x = make({"b"});
    owned<tstr_array> y = make({"a", "z"});
    ASSERT_EQ(tstr_array_array_append(aa.get(), x.get()), 0);
    tstr_array *raw = y.release();
    EXPECT_EQ(ok(tstr_array_array_append_takeover(aa.get(), &raw), raw), nullptr);
    ASSERT_EQ(tstr_array_array_sort(aa.get()), 0);
    EXPECT_EQ(items(tstr_array_array_get_quick(aa.get(), 0)), (strs{"a", "z"}));
    owned<tstr_array_array> copy;
    ASSERT_EQ(tstr_array_array_duplicate(aa.get(), copy.out()), 0);
    tbool same = false;
    EXPECT_TRUE(ok(tstr_array_array_equal(aa.get(), copy.get(), &same), same));
    EXPECT_NE(tstr_array_array_get_quick(aa.get(), 1), tstr_array_array_get_quick(copy.get(), 1));
}

// ---------------------------------------------------------------------------
// Hash-table callbacks for string types

TEST(HtTstringCallbacks, TstringKeysFindByTextAndCopiesAreOwned)
{
    const ht_options opts{ht_hash_tstring_func, ht_key_equal_tstring_func, ht_tstring_set_func,
                          ht_tstring_dup_func,  ht_tstring_free_func,      false};
    auto table = create(ht_new, &opts);
    auto key = create(ts_new_str, "m1");
    auto value = create(ts_new_str, "up");
    ASSERT_EQ(ht_insert(table.get(), key.get(), 0, value.get()), 0);
    ASSERT_EQ(ht_insert(table.get(), key.get(), 0, nullptr), 0); // replaces, frees the old
    ASSERT_EQ(ts_put_str(value.get(), "down"), 0);
    ASSERT_EQ(ht_insert(table.get(), key.get(), 0, value.get()), 0);

    auto probe = create(ts_new_str, "m1"); // another object, same text
    tbool found = false;
    void *got = nullptr;
    ASSERT_TRUE(ok(ht_lookup(table.get(), probe.get(), 0, &found, nullptr, nullptr, &got), found));
    EXPECT_NE(got, value.get());
    EXPECT_STREQ(ts_str(static_cast<tstring *>(got)), "down");
    EXPECT_EQ(ht_get_num_nodes_quick(table.get()), 1u);

    owned<ht> copy;
    ASSERT_EQ(ht_duplicate(table.get(), copy.out()), 0);
    ASSERT_EQ(ht_delete(table.get(), probe.get(), 0), 0);
    EXPECT_TRUE(ok(ht_lookup(copy.get(), probe.get(), 0, &found, nullptr, nullptr, &got), found));
}

TEST(HtTstringCallbacks, TstrArrayValuesCopiedOrAdopted)
{
    ht_options opts = ht_default_options;
    opts.set = ht_tstr_array_dup_set_func;
    opts.dup = ht_tstr_array_dup_func;
    opts.free = ht_tstr_array_free_func;
    auto copying = create(ht_new, &opts);
    owned<tstr_array> list = make({"a", "b"});
    ASSERT_EQ(ht_insert(copying.get(), "k", -1, list.get()), 0);
    void *got = nullptr;
    tbool found = false;
    ASSERT_TRUE(ok(ht_lookup(copying.get(), "k", -1, &found, nullptr, nullptr, &got), found));
    EXPECT_NE(got, list.get());
    EXPECT_EQ(tstr_array_compare(static_cast<tstr_array *>(got), list.get()), 0);

    opts.set = ht_tstr_array_own_set_func;
    auto owning = create(ht_new, &opts);
    tstr_array *adopted = list.release();
    ASSERT_EQ(ht_insert(owning.get(), "k", -1, adopted), 0);
    EXPECT_EQ(ok(ht_lookup(owning.get(), "k", -1, &found, nullptr, nullptr, &got), got),
              adopted); // freed with the table
    owned<ht> copy;
    ASSERT_EQ(ht_duplicate(owning.get(), copy.out()), 0);
    EXPECT_NE(ok(ht_lookup(copy.get(), "k", -1, &found, nullptr, nullptr, &got), got), adopted);
}
