// The tokeniser and the joiner through their callback forms: separator
// runs, list and name options, escapes and quotes, and that a join splits
// back into its parts.
#include "util/tstring_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "log/logging.h"
#include "support/log_capture.h"
#include "util/call_ok.h"
#include "util/tstring.h"

namespace
{

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

} // namespace

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
