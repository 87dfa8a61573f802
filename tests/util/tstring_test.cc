#include "util/tstring.h"
#include "util/tstring_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "log/logging.h"
#include "support/call_ok.h"
#include "support/log_capture.h"

namespace
{

constexpr uint32 MiB = 1024 * 1024;

std::string text(const tstring *ts)
{
    return std::string(ts->buf, ts->length);
}
// The text once the step that returned `rc` has succeeded.
std::string text(int rc, const tstring *ts,
                 std::source_location at = std::source_location::current())
{
    return text(ok(rc, ts, at));
}

// Sizes the buffer goes through while appending one byte at a time.
std::vector<uint32> sizes_while_appending(tstring *ts, uint32 count)
{
    std::vector<uint32> seen{ts->size};
    for (uint32 i = 0; i < count; ++i) {
        EXPECT_EQ(ts_append_char(ts, 'x'), 0);
        if (ts->size != seen.back()) seen.push_back(ts->size);
    }
    return seen;
}

using parts = std::vector<std::string>;

int collect(void *ctx, const char *tok, uint32 len)
{
    static_cast<parts *>(ctx)->emplace_back(tok, len);
    return 0;
}

// Split as ts_tokenize_str does, null result as nullopt.
std::optional<parts> split(const std::string &s, char sep, char esc, char quote, uint32 opts)
{
    parts out;
    const int err = detail::ts_tokenize_each(s.data(), static_cast<uint32>(s.size()), sep, esc,
                                             quote, opts, collect, &out);
    EXPECT_EQ(err, 0);
    if ((opts & ts_tokenize_null_if_empty) && (out.empty() || (out.size() == 1 && out[0].empty())))
        return std::nullopt;
    return out;
}

std::string join(const parts &ps, char sep, char esc, char quote, uint32 opts)
{
    std::vector<owned<tstring>> held;
    for (const auto &p : ps) held.push_back(create(ts_new_str, p.c_str()));
    auto get = [](const void *ctx, uint32 i) -> const tstring * {
        return (*static_cast<const std::vector<owned<tstring>> *>(ctx))[i].get();
    };
    owned<tstring> out;
    EXPECT_EQ(detail::ts_join_each(static_cast<uint32>(held.size()), get, &held, sep, esc, quote,
                                   opts, out.out()),
              0);
    return out ? std::string(out->buf, out->length) : "<null>";
}

constexpr uint32 kNames = 0x04 | 0x08 | 0x20;
constexpr uint32 kLists = 0x08 | 0x10 | 0x20;

// Reallocation that fails after `g_fail_after` successes, while installed.
int g_fail_after = -1;
void *failing_realloc(void *p, size_t n)
{
    if (g_fail_after == 0) return nullptr;
    if (g_fail_after > 0) --g_fail_after;
    return realloc(p, n);
}
struct FailingRealloc {
    explicit FailingRealloc(int after)
    {
        g_fail_after = after;
        detail::ts_realloc_for_tests = failing_realloc;
    }
    ~FailingRealloc() { detail::ts_realloc_for_tests = nullptr; }
};

} // namespace

// ---------------------------------------------------------------------------
// Growth and shrink

TEST(TstringResize, GrowthFromSmallToLargeCapAndShrink)
{
    auto ts = create(ts_new);
    EXPECT_EQ(ts->size, 16u);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 15, 'a'), ts->size), 16u);
    EXPECT_EQ(ok(ts_append_char(ts.get(), 'b'), ts->size), 32u);
    EXPECT_EQ(sizes_while_appending(ts.get(), 200), (std::vector<uint32>{32, 64, 128, 256}));

    // Shrinking runs on every length change, but not on clear_no_resize.
    ts = create(ts_new);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 1000, 'a'), ts->size), 1024u);
    EXPECT_EQ(ok(ts_clear_no_resize(ts.get()), ts->size), 1024u);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 100, 'b'), ts->size), 256u); // need 101: 1024 > 404
    EXPECT_EQ(ok(ts_cut(ts.get(), 0, 90), ts->size), 64u);              // need 16: 256 -> 64
    EXPECT_EQ(text(ts.get()), std::string(10, 'b'));

    ts = create(ts_new);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 32 * MiB - 1, 'a'), ts->size), 32 * MiB);
    // Doubling to 64 MiB would overshoot the need by more than 8 MiB.
    EXPECT_EQ(ok(ts_append_char(ts.get(), 'b'), ts->size), 32 * MiB + 1 + 8 * MiB);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 8 * MiB, 'c'), ts->size), 40 * MiB + 1);
    const uint32 grown = ok(ts_append_char(ts.get(), 'd'), ts->size);
    EXPECT_EQ(grown, 40 * MiB + 2 + 8 * MiB);

    // Cleared, it halves to the first size at most four times the need (16).
    EXPECT_EQ(ok(ts_clear(ts.get()), ts->length), 0u);
    uint32 d = 2;
    while (grown / d > 64) d *= 2;
    EXPECT_EQ(ts->size, grown / d);
    EXPECT_STREQ(ts->buf, "");

    // 76 MiB + 1 + 8 MiB would pass 80 MiB: the cap wins.
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 76 * MiB, 'a'), ts->size), 80 * MiB);
    EXPECT_EQ(ok(ts_append_chars(ts.get(), 4 * MiB - 1, 'b'), ts->length), 80 * MiB - 1);
    EXPECT_EQ(ts->size, 80 * MiB);
}

TEST(TstringResize, FailuresLeaveTheStringAlone)
{
    LogCapture cap;
    auto ts = create(ts_new_str, "keep");
    EXPECT_EQ(ts_append_chars(ts.get(), ts_size_max, 'x'), lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("maximum size exceeded: 83886085")) << cap.dump();
    EXPECT_EQ(text(ts.get()), "keep");
    EXPECT_EQ(ts->size, 16u);
    owned<tstring> big;
    EXPECT_EQ(ts_new_size(big.out(), ts_size_max + 1), lc_err_assertion_failed);
    EXPECT_EQ(big.get(), nullptr);

    // A failed reallocation is logged and keeps the old buffer.
    ts = create(ts_new_str, "0123456789");
    const char *old = ts->buf;
    {
        FailingRealloc fail(0);
        EXPECT_EQ(ts_append_str(ts.get(), "abcdefghij"), lc_err_unexpected_null);
        owned<tstring> other;
        EXPECT_EQ(ts_new(other.out()), lc_err_unexpected_null);
        EXPECT_EQ(other.get(), nullptr);
    }
    EXPECT_TRUE(cap.contains("String resize failed: act=16, req=32")) << cap.dump();
    EXPECT_EQ(ts->buf, old);
    EXPECT_EQ(text(ts.get()), "0123456789");
    EXPECT_EQ(ts->size, 16u);
}

TEST(TstringResize, TakeoverAdoptsTheBufferAndAppliesTheRule)
{
    char *heap = static_cast<char *>(malloc(4096));
    memcpy(heap, "hello", 5);
    owned<tstring> ts;
    EXPECT_EQ(ok(ts_new_str_takeover(ts.out(), &heap, 5, 4096), heap), nullptr);
    EXPECT_EQ(text(ts.get()), "hello");
    EXPECT_EQ(ts->size, 64u);

    char *bad = static_cast<char *>(malloc(8)); // freed by the callee on failure
    EXPECT_EQ(ts_new_str_takeover(ts.out(), &bad, 8, 8), lc_err_assertion_failed);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(ts.get(), nullptr);
}

// ---------------------------------------------------------------------------
// Construction, access and release

TEST(TstringAccess, NullsRangesConstructorsDetachAndDup)
{
    LogCapture cap;
    const tstring *none = nullptr;
    const int line = __LINE__ + 1;
    EXPECT_EQ(ts_str(none), nullptr);
    EXPECT_EQ(ts_length(none), 0xFFFFFFFFu);
    const std::string where = std::string(__FILE__) + ":" + std::to_string(line);
    EXPECT_TRUE(cap.contains("Unexpected NULL for ts_str() at " + where)) << cap.dump();
    EXPECT_TRUE(cap.contains("Unexpected NULL for ts_length() at " + std::string(__FILE__)))
        << cap.dump();
    EXPECT_EQ(ts_str_maybe(none), nullptr);
    EXPECT_STREQ(ts_str_maybe_empty(none), "");

    auto ts = create(ts_new_str, "abcdef");
    owned<tstring> sub;
    EXPECT_EQ(text(ok(ts_substr(ts.get(), 2, 3, sub.out()), sub).get()), "cde");
    EXPECT_EQ(text(ok(ts_substr(ts.get(), 4, ts_npos, sub.out()), sub).get()), "ef");
    EXPECT_EQ(ts_substr(ts.get(), 4, 3, sub.out()), lc_err_assertion_failed);
    EXPECT_EQ(sub.get(), nullptr);
    EXPECT_TRUE(cap.contains("Required condition was not met"));
    EXPECT_EQ(ts_get_char(ts.get(), 5), 'f');
    EXPECT_EQ(ts_get_char(ts.get(), 6), '\0');
    EXPECT_STREQ(ts_str_nth(ts.get(), 6), "");
    EXPECT_EQ(ts_str_nth(ts.get(), 7), nullptr);

    auto a = create(ts_new_str, nullptr);
    EXPECT_EQ(ts_length(a.get()), 0u);
    EXPECT_EQ(text(ok(ts_new_sprintf(a.out(), "%s-%d", "x", 42), a).get()), "x-42");
    const std::string longer(1000, 'q');
    EXPECT_EQ(text(ok(ts_new_sprintf(a.out(), "%s!", longer.c_str()), a).get()), longer + "!");

    owned<tstring> b;
    EXPECT_EQ(ok(ts_dup_maybe(nullptr, b.out()), b).get(), nullptr);
    EXPECT_TRUE(ts_equal(a.get(), ok(ts_dup(a.get(), b.out()), b).get()));

    tstring *raw = nullptr;
    ASSERT_EQ(ts_new_or_replace_str(&raw, "one"), 0);
    ASSERT_EQ(ts_new_or_replace_str(&raw, "two"), 0);
    char *buf = nullptr;
    uint32 len = 0;
    EXPECT_EQ(ok(ts_detach(&raw, &buf, &len), raw), nullptr);
    EXPECT_STREQ(buf, "two");
    EXPECT_EQ(len, 3u);
    free(buf);
    EXPECT_EQ(ts_free(&raw), 0); // null accepted

    EXPECT_EQ(ok(ts_set_utf8(a.get(), true), a->utf8), 0u);
    EXPECT_EQ(ts_num_chars(a.get()), ts_length(a.get()));
}

// ---------------------------------------------------------------------------
// Modification

TEST(TstringModify, EditsInPlaceIncludingFromItselfAndBinaryBytes)
{
    auto ts = create(ts_new_str, "hello");
    ASSERT_EQ(ts_append_str(ts.get(), " world"), 0);
    ASSERT_EQ(ts_insert_str(ts.get(), 0, ">> "), 0);
    EXPECT_EQ(text(ts_insert_char(ts.get(), ts->length, '!'), ts.get()), ">> hello world!");
    EXPECT_EQ(text(ts_replace_str(ts.get(), 3, 5, "goodbye"), ts.get()), ">> goodbye world!");
    ASSERT_EQ(ts_cut(ts.get(), 0, 3), 0);
    EXPECT_EQ(text(ts_remove_char(ts.get(), ts->length - 1), ts.get()), "goodbye world");
    EXPECT_EQ(text(ts_copy_str(ts.get(), 8, "there, all"), ts.get()),
              "goodbye there, all"); // runs past the end
    EXPECT_EQ(text(ts_insert_sprintf(ts.get(), 7, " %d", 2), ts.get()), "goodbye 2 there, all");
    EXPECT_EQ(text(ts_put_str_frag(ts.get(), "0123456789", 3, 4), ts.get()), "3456");
    ASSERT_EQ(ts_append_chars_pad_to_length(ts.get(), 7, '.'), 0);
    EXPECT_EQ(text(ts_append_chars_pad_to_length(ts.get(), 2, '.'), ts.get()), "3456...");
    EXPECT_EQ(text(ts_put_char(ts.get(), 'z'), ts.get()), "z");
    EXPECT_EQ(ts->num_chars, ts->length);

    ts = create(ts_new_str, "abcdefghijkl");
    EXPECT_EQ(text(ts_append(ts.get(), ts.get()), ts.get()),
              "abcdefghijklabcdefghijkl"); // source moves with the realloc
    EXPECT_EQ(text(ts_append_tstr_frag(ts.get(), ts.get(), 0, 3), ts.get()),
              "abcdefghijklabcdefghijklabc");
    const char bin[] = {'x', '\0', 'y'};
    EXPECT_EQ(ok(ts_put_buffer(ts.get(), bin, 3), ts->length), 3u);
    EXPECT_EQ(ts->buf[3], '\0');
}

TEST(TstringModify, TrimTranslateAndBadRanges)
{
    auto ts = create(ts_new_str, " \t\"Quoted Text\"\n ");
    EXPECT_EQ(text(ts_trim_whitespace(ts.get()), ts.get()), "\"Quoted Text\"");
    EXPECT_EQ(text(ts_trim(ts.get(), '"', '"'), ts.get()), "Quoted Text");
    EXPECT_EQ(text(ts_trim_num_chars(ts.get(), 1, 1), ts.get()), "uoted Tex");
    ASSERT_EQ(ts_trans_uppercase(ts.get()), 0);
    EXPECT_TRUE(ts_is_uppercase(ts.get()));
    ASSERT_EQ(ts_trans_lowercase(ts.get()), 0);
    EXPECT_TRUE(ts_is_lowercase(ts.get()));
    ASSERT_EQ(ts_trans_map_chars(ts.get(), "ot", "0+"), 0);
    EXPECT_EQ(text(ts_replace_char(ts.get(), ' ', '_'), ts.get()), "u0+ed_+ex");
    auto blank = create(ts_new_str, "   ");
    EXPECT_EQ(ok(ts_trim_whitespace(blank.get()), blank->length), 0u);
    ASSERT_EQ(ts_trim_tail(blank.get(), 'x'), 0);

    LogCapture cap;
    ts = create(ts_new_str, "abc");
    EXPECT_EQ(ts_cut(ts.get(), 2, 2), lc_err_assertion_failed);
    EXPECT_EQ(ts_insert_str(ts.get(), 4, "x"), lc_err_assertion_failed);
    EXPECT_EQ(ts_append_str_frag(ts.get(), "xy", 1, 2), lc_err_assertion_failed);
    EXPECT_EQ(ts_append_str(ts.get(), nullptr), lc_err_unexpected_null);
    EXPECT_EQ(ts_append_str(nullptr, "x"), lc_err_unexpected_null);
    EXPECT_EQ(ts_trim_num_chars(ts.get(), 2, 2), lc_err_assertion_failed);
    EXPECT_EQ(text(ts.get()), "abc");
    EXPECT_EQ(cap.count("Unexpected NULL"), 2u) << cap.dump();
}

// ---------------------------------------------------------------------------
// Search and comparison

TEST(TstringSearch, FindsGiveNposWhenAbsentNullsSortFirstCaseFolds)
{
    auto ts = create(ts_new_str, "a/b/c");
    uint32 at = 0;
    EXPECT_EQ(ok(ts_find_char(ts.get(), 0, '/', &at), at), 1u);
    EXPECT_EQ(ok(ts_find_char(ts.get(), 2, '/', &at), at), 3u);
    EXPECT_EQ(ok(ts_find_char(ts.get(), 9, '/', &at), at), ts_npos);
    EXPECT_EQ(ok(ts_rfind_char(ts.get(), 4, '/', &at), at), 3u);
    EXPECT_EQ(ok(ts_rfind_char(ts.get(), 2, '/', &at), at), 1u);
    EXPECT_EQ(ok(ts_rfind_char(ts.get(), 0, '/', &at), at), ts_npos);
    EXPECT_EQ(ok(ts_find_str(ts.get(), 0, "b/c", &at), at), 2u);
    EXPECT_EQ(ok(ts_find_str(ts.get(), 0, "zz", &at), at), ts_npos);
    EXPECT_EQ(ok(ts_find_str(ts.get(), 6, "a", &at), at), ts_npos);

    auto empty = create(ts_new_str, "");
    auto abc = create(ts_new_str, "abc");
    auto ABC = create(ts_new_str, "ABC");
    EXPECT_LT(ts_cmp(nullptr, empty.get()), 0);
    EXPECT_GT(ts_cmp(empty.get(), nullptr), 0);
    EXPECT_EQ(ts_cmp(nullptr, nullptr), 0);
    EXPECT_TRUE(ts_equal(nullptr, nullptr));
    EXPECT_FALSE(ts_equal(nullptr, empty.get()));
    EXPECT_GT(ts_cmp(abc.get(), ABC.get()), 0);
    EXPECT_EQ(ts_cmp_case(abc.get(), ABC.get()), 0);
    EXPECT_TRUE(ts_equal_case(abc.get(), ABC.get()));
    EXPECT_TRUE(ts_equal_str(abc.get(), "ABC", true));
    EXPECT_FALSE(ts_equal_str(abc.get(), "ABC", false));
    EXPECT_LT(ts_cmp_str(abc.get(), "abd", false), 0);
    EXPECT_TRUE(ts_has_prefix_str(abc.get(), "AB", true));
    EXPECT_FALSE(ts_has_prefix_str(abc.get(), "AB", false));
    EXPECT_TRUE(ts_has_suffix_str(abc.get(), "bc", false));
    EXPECT_FALSE(ts_has_suffix_str(abc.get(), "abcd", false));
    EXPECT_TRUE(ts_has_prefix_char(ABC.get(), 'a', true));
    EXPECT_TRUE(ts_char_is_uppercase(ABC.get(), 0));
    EXPECT_FALSE(ts_char_is_lowercase(ABC.get(), 9));
}

// ---------------------------------------------------------------------------
// UTF-8

TEST(TstringUtf8, WalkersCaseMappingAndClasses)
{
    auto ts = create(ts_new_str, "a\xC3\xA9z");
    uint32 cp = 0, size = 0;
    EXPECT_EQ(ok(ts_get_char_utf8(ts.get(), 1, &cp, &size), cp), 0xE9u);
    EXPECT_EQ(size, 2u);
    uint32 off = 0;
    EXPECT_EQ(ok(ts_utf8_char_to_byte_offset(ts.get(), 2, &off), off), 3u);
    EXPECT_EQ(ok(ts_utf8_byte_to_char_offset(ts.get(), 3, &off), off), 2u);
    EXPECT_EQ(ts_utf8_char_size('\xF0'), 4u);
    EXPECT_EQ(ts_utf8_char_size('\x80'), 0u);

    LogCapture cap;
    auto bad = create(ts_new_str, "\xE2\x28\xA1");
    EXPECT_EQ(ts_get_char_utf8(bad.get(), 0, &cp, &size), lc_err_bad_utf8);
    EXPECT_TRUE(cap.contains("Tstring encoding error: bad UTF-8 sequence.  Bytes: e2 28 a1"))
        << cap.dump();

    char s[] = "straße ÀÉÎ ßπΣ жЁ";
    EXPECT_EQ(Tcl_UtfToUpper(s), static_cast<int>(strlen(s)));
    EXPECT_STREQ(s, "STRAßE ÀÉÎ ßΠΣ ЖЁ");
    Tcl_UtfToLower(s);
    EXPECT_STREQ(s, "straße àéî ßπσ жё");
    EXPECT_EQ(Tcl_UtfNcasecmp("ÀBC", "àbd", 2), 0);
    EXPECT_LT(Tcl_UtfNcasecmp("ÀBC", "àbd", 3), 0);
    EXPECT_TRUE(Tcl_UtfCharIsLower("é"));
    EXPECT_TRUE(Tcl_UtfCharIsUpper("Ж"));
    EXPECT_FALSE(Tcl_UtfCharIsUpper("1"));
    EXPECT_TRUE(Tcl_UtfCharIsSpace("\xC2\xA0"));
    EXPECT_TRUE(Tcl_UtfCharIsSpace("\t"));
    char stray[] = "\xFF"
                   "a";
    Tcl_UtfToUpper(stray);
    EXPECT_STREQ(stray, "\xFF"
                        "A");
}

// ---------------------------------------------------------------------------
// Tokens: the tokeniser and the joiner through their callback forms: separator
// runs, list and name options, escapes and quotes, and that a join splits
// back into its parts.
TEST(TstringTokenize, SeparatorRunsEmptyInputListAndNameOptions)
{
    EXPECT_EQ(split("a,,b", ',', 0, 0, 0), (parts{"a", "b"}));
    EXPECT_EQ(split("a,,b", ',', 0, 0, 0x04), (parts{"a", "", "b"}));
    EXPECT_EQ(split(",a", ',', 0, 0, 0), (parts{"", "a"}));
    EXPECT_EQ(split("a,", ',', 0, 0, 0), (parts{"a", ""}));
    EXPECT_EQ(split("a,", ',', 0, 0, 0x10), (parts{"a"}));
    EXPECT_EQ(split(",,a", ',', 0, 0, 0x08), (parts{"a"})); // a leading run acts as one
    EXPECT_EQ(split(",,a", ',', 0, 0, 0x0C), (parts{"", "a"}));

    EXPECT_EQ(split("", ',', 0, 0, 0), (parts{""}));
    EXPECT_EQ(split("", ',', 0, 0, 0x20), std::nullopt);
    EXPECT_EQ(split(",", ',', 0, 0, 0x18), (parts{""}));
    EXPECT_EQ(split(";", ';', 0, 0, kLists), std::nullopt);
    EXPECT_EQ(split(",a,,b,", ',', 0, 0, kLists), (parts{"a", "b"}));
    EXPECT_EQ(split("only", ',', 0, 0, kLists), (parts{"only"}));

    EXPECT_EQ(split("/a/b\\/c/d", '/', '\\', 0, kNames), (parts{"a", "b/c", "d"}));
    EXPECT_EQ(split("/", '/', '\\', 0, kNames), std::nullopt);
    EXPECT_EQ(split("", '/', '\\', 0, kNames), std::nullopt);
    EXPECT_EQ(split("a/b", '/', '\\', 0, kNames), (parts{"a", "b"}));
    EXPECT_EQ(split("/a//b/", '/', '\\', 0, kNames), (parts{"a", "", "b", ""}));
    // Backslash before another character stays; at the very end it stays too.
    EXPECT_EQ(split("/x\\ny\\\\z\\", '/', '\\', 0, kNames), (parts{"x\\ny\\z\\"}));
}

TEST(TstringTokenize, EscapesQuotesAndInvalidCharacterChoices)
{
    EXPECT_EQ(split("a\\,b", ',', '\\', 0, 0), (parts{"a,b"}));
    EXPECT_EQ(split("\"a,b\",c", ',', '\\', '"', 0), (parts{"a,b", "c"}));
    EXPECT_EQ(split("\"a,b\",c", ',', '\\', '"', 0x01), (parts{"\"a,b\"", "c"}));
    EXPECT_EQ(split("x\\\"y", ',', '\\', '"', 0), (parts{"x\"y"}));
    // An open quote is closed with 0x01, left open with 0x03.
    EXPECT_EQ(split("a,\"b,c", ',', 0, '"', 0x01), (parts{"a", "\"b,c\""}));
    EXPECT_EQ(split("a,\"b,c", ',', 0, '"', 0x03), (parts{"a", "\"b,c"}));
    EXPECT_EQ(split("a,\"b,c", ',', 0, '"', 0), (parts{"a", "b,c"}));

    // A token starts in place and moves to scratch space at its first
    // escape or quote: the bytes before must come along.
    EXPECT_EQ(split("abc\\,def,g", ',', '\\', 0, 0), (parts{"abc,def", "g"}));
    EXPECT_EQ(split("ab\"c,d\"e", ',', 0, '"', 0), (parts{"abc,de"}));
    EXPECT_EQ(split("ab\"c\"", ',', 0, '"', 0x01), (parts{"ab\"c\""}));
    EXPECT_EQ(split("ab\"c", ',', 0, '"', 0x01), (parts{"ab\"c\""}));
    EXPECT_EQ(split("x,ab\\", ',', '\\', 0, 0), (parts{"x", "ab\\"}));

    LogCapture cap;
    parts out;
    for (auto [sep, esc, quote] : {std::tuple{'\0', '\\', '"'}, std::tuple{'/', '/', '\0'},
                                   std::tuple{',', '\\', ','}, std::tuple{',', '"', '"'}}) {
        EXPECT_EQ(detail::ts_tokenize_each("a", 1, sep, esc, quote, 0, collect, &out),
                  lc_err_generic_error);
    }
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(cap.contains("called with invalid chars: 0 92 34")) << cap.dump();
    EXPECT_TRUE(cap.contains("called with invalid chars: 47 47 0")) << cap.dump();
}

// Text without escapes or quotes takes a shorter road when every separator
// counts; it must give what the full tokeniser gives.  A letter written as
// an escape pair ("\\a" stays "\\a") sends the same text down the full road.
TEST(TstringTokenize, PlainTextGivesWhatTheFullTokeniserGives)
{
    std::mt19937 rng(20261206);
    const char alphabet[] = {',', ',', 'a', 'b'};
    for (int round = 0; round < 2000; ++round) {
        std::string plain, escaped;
        const uint32 len = rng() % 9;
        for (uint32 k = 0; k < len; ++k) {
            const char c = alphabet[rng() % sizeof alphabet];
            plain += c;
            escaped += c == ',' ? "," : std::string("\\") + c;
        }
        const uint32 opts = 0x04 | ((rng() % 8) << 3); // with any of 0x08, 0x10, 0x20
        std::optional<parts> full = split(escaped, ',', '\\', 0, opts);
        if (full)
            for (std::string &p : *full)
                for (size_t at; (at = p.find('\\')) != std::string::npos;) p.erase(at, 1);
        ASSERT_EQ(split(plain, ',', '\\', 0, opts), full)
            << "text \"" << plain << "\" options " << opts;
    }
}

TEST(TstringJoin, EscapesOptionsAndRefusals)
{
    EXPECT_EQ(join({"a,b"}, ',', '\\', 0, 0), "a\\,b");
    EXPECT_EQ(join({"a", "b/c", "d"}, '/', '\\', 0, 0x100), "/a/b\\/c/d");
    EXPECT_EQ(join({"x\\y", "p\\/q", "e\\"}, '/', '\\', 0, 0), "x\\y/p\\\\\\/q/e\\\\");
    EXPECT_EQ(join({"say \"hi\""}, ',', '\\', '"', 0), "say \\\"hi\\\"");
    EXPECT_EQ(join({"a", "", "b", ""}, ',', '\\', 0, 0x400), "a,b");
    EXPECT_EQ(join({"a", "", "b"}, ',', '\\', 0, 0), "a,,b");
    EXPECT_EQ(join({}, '/', '\\', 0, 0x100), "/");
    EXPECT_EQ(join({"", "a"}, '/', '\\', 0, 0x100), "/a"); // already starts with "/"
    EXPECT_EQ(join({}, ',', '\\', 0, 0), "");

    LogCapture cap;
    owned<tstring> out;
    auto get = [](const void *, uint32) -> const tstring * { return nullptr; };
    EXPECT_EQ(detail::ts_join_each(1, get, nullptr, '\0', '\\', 0, 0x100, out.out()),
              lc_err_assertion_failed);
    EXPECT_EQ(out.get(), nullptr);

    char *esc = nullptr;
    EXPECT_STREQ(ok(ts_insert_escape_str("a/b\\/c\"", '/', '\\', '"', &esc), esc),
                 "a\\/b\\\\\\/c\\\"");
    free(esc);

    EXPECT_EQ(ts_insert_escape_str("x", 0, 0, 0, &esc), lc_err_assertion_failed);
    EXPECT_EQ(esc, nullptr);
}

// Random parts made of separators, escapes, quotes and letters survive a join
// followed by a split with the same characters.
TEST(TstringJoin, JoinThenSplitGivesThePartsBack)
{
    std::mt19937 rng(20261205);
    const char alphabet[] = {'/', '/', '\\', '\\', '"', 'a', 'b', ' ', ',', 'x'};
    for (int round = 0; round < 3000; ++round) {
        const bool quoted = round % 2 == 1;
        parts ps(1 + rng() % 6);
        for (auto &p : ps) {
            const uint32 len = rng() % 8;
            for (uint32 k = 0; k < len; ++k) p += alphabet[rng() % sizeof alphabet];
        }
        const char quote = quoted ? '"' : '\0';
        const std::string joined = join(ps, '/', '\\', quote, 0);
        ASSERT_EQ(split(joined, '/', '\\', quote, 0x04), ps) << "joined: " << joined;
        // Names: absolute join and the name split agree when no part is empty.
        bool any_empty = false;
        for (const auto &p : ps) any_empty |= p.empty();
        if (!any_empty && !quoted) {
            ASSERT_EQ(split(join(ps, '/', '\\', 0, 0x100), '/', '\\', 0, kNames), ps)
                << "joined: " << joined;
        }
    }
}
