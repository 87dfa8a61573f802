#include "util/tbuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/logging.h"
#include "support/call_ok.h"
#include "support/log_capture.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

struct malloc_free {
    void operator()(void *p) const { free(p); }
};

std::vector<uint8> bytes_of(const tbuf *b)
{
    return {b->bytes, b->bytes + b->length};
}

// What tb_get_str hands back; "(null)" stands for no string.
struct got_str {
    int rc;
    std::string text;
    uint32 len, consumed;
    bool operator==(const got_str &) const = default;
};
std::ostream &operator<<(std::ostream &os, const got_str &g)
{
    return os << g.rc << " \"" << g.text << "\" len " << g.len << " consumed " << g.consumed;
}
got_str get_str(const tbuf *b, uint32 off, int32 max, tbool zero, tbool with_len, tbool swap)
{
    char *text = reinterpret_cast<char *>(1);
    got_str g{0, "", 7, 7};
    g.rc = tb_get_str(b, off, max, zero, with_len, swap, &text, &g.len, &g.consumed);
    g.text = text ? text : "(null)";
    free(text);
    return g;
}
const got_str no_str{lc_err_no_buffer_space, "(null)", 0, 0};

// Fills the buffer to its last usable byte, then asks for one more; returns
// the size that results.
uint32 grow_by_one_past_full(tbuf *b)
{
    EXPECT_EQ(tb_append_bytes(b, 'x', b->size - 1 - b->length), 0);
    EXPECT_EQ(b->length + 1, b->size);
    EXPECT_EQ(tb_append_byte(b, 'y'), 0);
    return b->size;
}

} // namespace

// ---------------------------------------------------------------------------
// Resize rule

TEST(Tbuf, GrowsFourfoldThenCapsExtraAtEightMiBInStepsOf128Or4KiB)
{
    auto b = create(tb_new);
    EXPECT_EQ(b->size, 128u); // 127 bytes and the terminator
    std::vector<uint32> sizes;
    while (b->size < 30000000) sizes.push_back(grow_by_one_past_full(b.get()));
    // Four times up to 8 MiB; from there each step adds 8 MiB to the need
    // (size + 1), rounded up to 4 KiB.
    const std::vector<uint32> expected = {512,     2048,    8192,     32768,    131072,  524288,
                                          2097152, 8388608, 16781312, 25174016, 33566720};
    EXPECT_EQ(sizes, expected);
    // From 4 MiB a fourfold step would already add more than 8 MiB.
    ASSERT_EQ(tb_new_size(b.out(), 1048576), 0);
    EXPECT_EQ(grow_by_one_past_full(b.get()), 4194304u);
    EXPECT_EQ(grow_by_one_past_full(b.get()), 12587008u);

    // A fresh copy has no storage to grow from: it gets just its need, rounded.
    std::string text(200, 'q');
    EXPECT_EQ(ok(tb_new_buf(b.out(), text.data(), int32(text.size())), b)->size, 256u);
    text.assign(5000, 'q');
    EXPECT_EQ(ok(tb_new_buf(b.out(), text.data(), int32(text.size())), b)->size, 8192u);
    // Asking for more than four times the size takes the need itself, rounded.
    ASSERT_EQ(tb_new(b.out()), 0);
    EXPECT_EQ(ok(tb_ensure_size(b.get(), 10000), b->size), 12288u);
    ASSERT_EQ(tb_ensure_size(b.get(), 12287), 0) << "12287 + 1 fits exactly";
    EXPECT_EQ(b->size, 12288u);
}

TEST(Tbuf, BadArgumentsAndTheMaximumAreRefused)
{
    LogCapture cap;
    auto b = create(tb_new);
    ASSERT_EQ(tb_append_buf(b.get(), "abc", 3), 0);
    EXPECT_EQ(tb_ensure_size(b.get(), tb_size_max), lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("maximum size exceeded: 268435457")) << cap.dump();
    EXPECT_EQ(tb_put_byte(b.get(), 0xFFFFFFFF, 1), lc_err_assertion_failed);
    // The failed steps left the buffer alone.
    EXPECT_EQ(b->size, 128u);
    EXPECT_EQ(bytes_of(b.get()), (std::vector<uint8>{'a', 'b', 'c'}));

    EXPECT_EQ(tb_length(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(tb_size(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(tb_avail(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(cap.count("Unexpected NULL"), 3u) << cap.dump();
    EXPECT_EQ(tb_buf_maybe(nullptr), nullptr);
    EXPECT_EQ(tb_buf_maybe_empty(nullptr)[0], 0);

    b = create(tb_new);
    EXPECT_EQ(tb_append_buf(b.get(), nullptr, 3), lc_err_unexpected_null);
    EXPECT_EQ(tb_append_buf(b.get(), nullptr, 0), 0);
    EXPECT_EQ(tb_new_buf(nullptr, "x", 1), lc_err_unexpected_null);
    tbuf *none = nullptr;
    EXPECT_EQ(tb_free(&none), 0);
    EXPECT_EQ(tb_free(nullptr), 0);

    cap.clear();
    ASSERT_EQ(tb_append_buf(b.get(), "abcdef", 6), 0);
    EXPECT_EQ(tb_delete_bytes(b.get(), 4, 3), lc_err_no_buffer_space);
    EXPECT_TRUE(cap.contains("Bail forced with error code 14011")) << cap.dump();
    EXPECT_EQ(tb_set_length(b.get(), 129), lc_err_generic_error);
    EXPECT_EQ(b->length, 6u);
    ASSERT_EQ(tb_delete_bytes(b.get(), 1, 4), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(b->bytes), "af");
    EXPECT_EQ(tb_avail(b.get()), 126u);
}

TEST(Tbuf, AutoShrinkGivesMemoryBackAfterDeletion)
{
    for (tbool shrink : {0, 1}) {
        auto b = create(tb_new_size, 65536);
        ASSERT_EQ(tb_set_option_auto_shrink(b.get(), shrink), 0);
        ASSERT_EQ(tb_append_bytes(b.get(), 'z', 65535), 0);
        ASSERT_EQ(b->size, 65536u);
        EXPECT_EQ(ok(tb_delete_bytes(b.get(), 3, 65525), b->length), 10u);
        EXPECT_EQ(b->size, shrink ? 256u : 65536u);
        EXPECT_EQ(b->bytes[10], 0);
    }
    // Above 4 KiB the shrink keeps a 4 KiB step of slack.
    auto b = create(tb_new_size, 1 << 20);
    ASSERT_EQ(tb_set_option_auto_shrink(b.get(), 1), 0);
    EXPECT_EQ(ok(tb_append_bytes(b.get(), 'z', 10000), b->size), 12288u)
        << "writes shrink too, when far too large";
    // A copy keeps the option; clearing shrinks as a deletion does.
    owned<tbuf> copy;
    EXPECT_EQ(ok(tb_dup(b.get(), copy.out()), copy)->auto_shrink, 1);
    EXPECT_EQ(bytes_of(copy.get()), bytes_of(b.get()));
    EXPECT_EQ(ok(tb_clear(b.get()), b->size), 256u);
}

// ---------------------------------------------------------------------------
// Writing

TEST(Tbuf, PutPastTheEndZeroFillsTheGapAndSprintfWritesAString)
{
    auto b = create(tb_new);
    ASSERT_EQ(tb_put_bytes(b.get(), 0, 0xEE, 20), 0);
    ASSERT_EQ(tb_set_length(b.get(), 0), 0); // stale bytes stay behind
    EXPECT_EQ(ok(tb_put_uint32_be(b.get(), 10, 0x01020304), b->length), 14u);
    const std::vector<uint8> want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(bytes_of(b.get()), want);
    EXPECT_EQ(b->bytes[14], 0);

    // Overwriting inside the length leaves the length alone.
    EXPECT_EQ(ok(tb_put_byte(b.get(), 2, 0x7F), b->length), 14u);
    EXPECT_EQ(b->bytes[2], 0x7F);
    // A write straddling the end extends it.
    EXPECT_EQ(ok(tb_put_buf(b.get(), 12, "wxyz", 4), b->length), 16u);
    EXPECT_EQ(memcmp(b->bytes + 12, "wxyz", 5), 0);

    // Formatted text is written as a string.
    b = create(tb_new);
    ASSERT_EQ(tb_append_sprintf(b.get(), 1, 0, 0, "%s-%d", "id", 42), 0);
    ASSERT_EQ(tb_put_sprintf(b.get(), 1, 0, 0, 0, "%c", 'X'), 0);
    EXPECT_EQ(bytes_of(b.get()), (std::vector<uint8>{'i', 'X', '-', '4', '2', 0}));
}

TEST(Tbuf, SourceInsideTheBufferSurvivesGrowth)
{
    auto b = create(tb_new);
    ASSERT_EQ(tb_append_bytes(b.get(), 'a', 100), 0);
    ASSERT_EQ(tb_put_byte(b.get(), 99, 'b'), 0);
    ASSERT_EQ(tb_append_buf(b.get(), b->bytes, 100), 0); // 200 bytes: moves storage
    EXPECT_EQ(ok(tb_append(b.get(), b.get()), b->length), 400u);
    for (uint32 i = 0; i < 400; ++i) ASSERT_EQ(b->bytes[i], i % 100 == 99 ? 'b' : 'a') << i;
    ASSERT_EQ(
        tb_append_str(b.get(), 0, 0, 0, reinterpret_cast<char *>(b->bytes) + 390, 10, nullptr), 0);
    EXPECT_EQ(memcmp(b->bytes + 400, "aaaaaaaaab", 10), 0);
}

TEST(Tbuf, StringsWithLengthPrefixAndZero)
{
    struct Case {
        tbool add_zero, with_length, swap;
        const char *str;
        std::vector<uint8> want;
    };
    const bool le = std::endian::native == std::endian::little;
    const std::vector<Case> cases = {
        {0, 0, 0, "abc", {'a', 'b', 'c'}},
        {1, 0, 0, "abc", {'a', 'b', 'c', 0}},
        {1, 1, le, "abc", {0, 0, 0, 4, 'a', 'b', 'c', 0}},
        {0, 1, le, "abc", {0, 0, 0, 3, 'a', 'b', 'c'}},
        {0, 1, !le, "ab", {2, 0, 0, 0, 'a', 'b'}},
        {1, 1, le, nullptr, {0, 0, 0, 1, 0}},
        {0, 0, 0, nullptr, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.str ? c.str : "(null)");
        auto b = create(tb_new);
        uint32 written = 99;
        ASSERT_EQ(tb_append_str(b.get(), c.add_zero, c.with_length, c.swap, c.str, -1, &written),
                  0);
        EXPECT_EQ(bytes_of(b.get()), c.want);
        EXPECT_EQ(written, c.want.size());

        // And back.
        const std::string str = c.str ? c.str : "";
        EXPECT_EQ(get_str(b.get(), 0, -1, c.add_zero, c.with_length, c.swap),
                  (got_str{0, str, uint32(str.size()), uint32(c.want.size())}));
    }
}

TEST(Tbuf, StringArraysCarryACountThenEachString)
{
    const bool le = std::endian::native == std::endian::little;
    owned<tstr_array> arr; // with a null slot
    ASSERT_EQ(tstr_array_new_va_str(arr.out(), nullptr, 3, "ab", (const char *)nullptr, "c"), 0);

    auto b = create(tb_new);
    uint32 written = 0;
    ASSERT_EQ(tb_append_byte(b.get(), 0x55), 0);
    ASSERT_EQ(tb_append_tstr_array(b.get(), 1, 1, le, arr.get(), &written), 0);
    const std::vector<uint8> want = {0x55, 0, 0, 0, 3,           // count
                                     0,    0, 0, 3, 'a', 'b', 0, // "ab"
                                     0,    0, 0, 1, 0,           // null slot
                                     0,    0, 0, 2, 'c', 0};     // "c"
    EXPECT_EQ(bytes_of(b.get()), want);
    EXPECT_EQ(written, want.size() - 1);

    owned<tstr_array> back;
    uint32 consumed = 0;
    EXPECT_EQ(ok(tb_get_tstr_array(b.get(), 1, 1, 1, le, back.out(), &consumed), consumed),
              written);
    ASSERT_EQ(tstr_array_length_quick(back.get()), 3u);
    EXPECT_STREQ(tstr_array_get_str_quick(back.get(), 0), "ab");
    EXPECT_STREQ(tstr_array_get_str_quick(back.get(), 1), "");
    EXPECT_STREQ(tstr_array_get_str_quick(back.get(), 2), "c");

    // Without length prefixes each string runs to its zero byte.
    ASSERT_EQ(tb_clear(b.get()), 0);
    EXPECT_EQ(ok(tb_append_tstr_array(b.get(), 1, 0, 0, arr.get(), &written), written),
              4u + 3 + 1 + 2);
    EXPECT_EQ(ok(tb_get_tstr_array(b.get(), 0, 1, 0, 0, back.out(), &consumed), consumed), written);
    EXPECT_STREQ(tstr_array_get_str_quick(back.get(), 2), "c");

    // A null array is a zero count.
    ASSERT_EQ(tb_clear(b.get()), 0);
    ASSERT_EQ(tb_append_tstr_array(b.get(), 1, 1, 0, nullptr, &written), 0);
    EXPECT_EQ(bytes_of(b.get()), (std::vector<uint8>{0, 0, 0, 0}));

    // tstrings keep embedded zero bytes both ways.
    auto ts = create(ts_new_str, "x");
    ASSERT_EQ(ts_append_char(ts.get(), '\0'), 0);
    ASSERT_EQ(ts_append_char(ts.get(), 'y'), 0);
    ASSERT_EQ(tb_clear(b.get()), 0);
    EXPECT_EQ(ok(tb_append_tstr(b.get(), 0, 1, 0, ts.get(), &written), written), 7u);
    owned<tstring> ts_back;
    EXPECT_EQ(ok(tb_get_tstr(b.get(), 0, -1, 0, 1, 0, ts_back.out(), &consumed), ts_back)->length,
              3u);
    EXPECT_EQ(memcmp(ts_back->buf, "x\0y", 3), 0);
}

TEST(Tbuf, MalformedStringArraysAreRefusedWhole)
{
    LogCapture cap;
    struct Case {
        const char *what;
        std::vector<uint8> bytes;
        tbool with_length;
    } cases[] = {
        {"count past the bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 1},
        {"count cut short", {1, 0, 0}, 1},
        {"second string missing", {2, 0, 0, 0, 1, 0, 0, 0, 'a', 2, 0, 0}, 1},
        {"length past the end", {1, 0, 0, 0, 9, 0, 0, 0, 'a'}, 1},
        {"no zero byte", {1, 0, 0, 0, 'a', 'b'}, 0},
    };
    for (const auto &c : cases) {
        cap.clear();
        auto b = create(tb_new_buf, c.bytes.data(), int32(c.bytes.size()));
        tstr_array *out = reinterpret_cast<tstr_array *>(1);
        uint32 consumed = 9;
        EXPECT_EQ(tb_get_tstr_array(b.get(), 0, 0, c.with_length,
                                    std::endian::native == std::endian::big, &out, &consumed),
                  lc_err_no_buffer_space)
            << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_EQ(consumed, 0u);
        EXPECT_TRUE(cap.contains("Bail forced with error code 14011")) << c.what << cap.dump();
    }
}

// ---------------------------------------------------------------------------
// Reading

TEST(Tbuf, GetStrChecksPrefixRangeAndExpectedZero)
{
    LogCapture cap;
    auto b = create(tb_new);
    ASSERT_EQ(tb_append_uint32(b.get(), 5), 0);
    ASSERT_EQ(tb_append_buf(b.get(), "abc", 3), 0);
    EXPECT_EQ(get_str(b.get(), 0, -1, 0, 1, 0), no_str) << "length past the end";
    EXPECT_TRUE(cap.contains("Bail forced with error code 14011")) << cap.dump();
    EXPECT_EQ(get_str(b.get(), 5, -1, 0, 1, 0), no_str) << "prefix cut short";
    // At the end there is an empty rest; past it, nothing.
    EXPECT_EQ(get_str(b.get(), 7, -1, 0, 0, 0), (got_str{0, "", 0, 0}));
    EXPECT_EQ(get_str(b.get(), 8, -1, 0, 0, 0), no_str);

    // Without a prefix: max_len bounds the search for the zero.
    ASSERT_EQ(tb_new_buf(b.out(), "key\0value", 9), 0);
    EXPECT_EQ(get_str(b.get(), 0, 4, 1, 0, 0), (got_str{0, "key", 3, 4}));
    EXPECT_EQ(get_str(b.get(), 4, -1, 0, 0, 0), (got_str{0, "value", 5, 5}));
    cap.clear();
    EXPECT_EQ(get_str(b.get(), 4, -1, 1, 0, 0), (got_str{lc_err_assertion_failed, "(null)", 0, 0}));
    EXPECT_TRUE(cap.lines().empty()) << "a missing zero fails quietly: " << cap.dump();
}

// Every fixed-width member is stamped from one template: one typed test.
template <class T> struct FixedWidth : ::testing::Test {
};

#define TB_TEST_MEMBER(name, ctype)                                                                \
    struct Fixed_##name {                                                                          \
        using type = ctype;                                                                        \
        static int put(tbuf *b, uint32 o, ctype v) { return tb_put_##name(b, o, v); }              \
        static int append(tbuf *b, ctype v) { return tb_append_##name(b, v); }                     \
        static int get(const tbuf *b, uint32 o, ctype *r) { return tb_get_##name(b, o, r); }       \
        static ctype quick(const tbuf *b, uint32 o) { return tb_get_quick_##name(b, o); }          \
        static int append_be(tbuf *b, ctype v) { return tb_append_##name##_be(b, v); }             \
        static int get_be(const tbuf *b, uint32 o, ctype *r)                                       \
        {                                                                                          \
            return tb_get_##name##_be(b, o, r);                                                    \
        }                                                                                          \
        static ctype quick_be(const tbuf *b, uint32 o) { return tb_get_quick_##name##_be(b, o); }  \
    };
TB_FIXED_TYPES(TB_TEST_MEMBER)
#undef TB_TEST_MEMBER

using FixedMembers =
    ::testing::Types<Fixed_uint8, Fixed_uint16, Fixed_uint32, Fixed_uint64, Fixed_uint128>;
TYPED_TEST_SUITE(FixedWidth, FixedMembers);

TYPED_TEST(FixedWidth, RoundTripsInHostAndNetworkOrderAndRangeIsChecked)
{
    using T = typename TypeParam::type;
    constexpr uint32 w = sizeof(T);
    // 0x0102...: byte i of the big-endian form is i + 1.
    T v = 0;
    for (uint32 i = 0; i < w; ++i) v = T(v << 8) | T(i + 1);

    auto b = create(tb_new);
    ASSERT_EQ(tb_append_byte(b.get(), 0xAA), 0); // unaligned offset 1
    ASSERT_EQ(TypeParam::append(b.get(), v), 0);
    ASSERT_EQ(TypeParam::append_be(b.get(), v), 0);
    ASSERT_EQ(b->length, 1 + 2 * w);
    T host_copy;
    memcpy(&host_copy, b->bytes + 1, w);
    EXPECT_TRUE(host_copy == v) << "host order is stored unchanged";
    for (uint32 i = 0; i < w; ++i) EXPECT_EQ(b->bytes[1 + w + i], i + 1) << "network byte " << i;

    T got = 0;
    EXPECT_TRUE(ok(TypeParam::get(b.get(), 1, &got), got) == v);
    EXPECT_TRUE(ok(TypeParam::get_be(b.get(), 1 + w, &got), got) == v);
    EXPECT_TRUE(TypeParam::quick(b.get(), 1) == v);
    EXPECT_TRUE(TypeParam::quick_be(b.get(), 1 + w) == v);

    // Overwrite in place at an offset.
    EXPECT_EQ(ok(TypeParam::put(b.get(), 1, T(~v)), b->length), 1 + 2 * w);
    EXPECT_TRUE(TypeParam::quick(b.get(), 1) == T(~v));

    // Out-of-range reads fail without a log.
    LogCapture cap;
    b = create(tb_new);
    ASSERT_EQ(tb_append_bytes(b.get(), 0x11, w), 0);
    got = 5;
    EXPECT_EQ(TypeParam::get(b.get(), 1, &got), lc_err_assertion_failed);
    EXPECT_TRUE(got == 0);
    EXPECT_EQ(TypeParam::get_be(b.get(), 0xFFFFFFFF, &got), lc_err_assertion_failed);
    EXPECT_TRUE(TypeParam::quick(b.get(), 1) == T(~T(0)));
    EXPECT_TRUE(TypeParam::quick(nullptr, 0) == T(~T(0)));
    EXPECT_TRUE(TypeParam::quick(b.get(), 0) != T(~T(0)));
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

// ---------------------------------------------------------------------------
// Constant buffers, ownership

TEST(Tbuf, ConstantBuffersRefuseWritesUntilTheFlagIsCleared)
{
    LogCapture cap;
    // Heap bytes so that a wrongful free or write shows under the sanitizers.
    std::unique_ptr<char, malloc_free> text(strdup("read-only"));
    auto c = create(tb_new_buf_const, text.get(), -1);
    EXPECT_EQ(tb_length(c.get()), 9u);
    EXPECT_EQ(tb_size(c.get()), 9u);
    tbuf *cb = c.get();
    auto other = create(tb_new_buf, "x", 1);
    uint8 *bytes = nullptr;

    // The fixed-width members share one template: a few stand for them all.
    const std::vector<std::pair<const char *, int>> writes = {
        {"put_buf", tb_put_buf(cb, 0, "X", 1)},
        {"put", tb_put(cb, 0, other.get())},
        {"put_byte", tb_put_byte(cb, 0, 'X')},
        {"put_bytes", tb_put_bytes(cb, 0, 'X', 2)},
        {"put_uint32", tb_put_uint32(cb, 0, 1)},
        {"append_buf", tb_append_buf(cb, "X", 1)},
        {"append", tb_append(cb, other.get())},
        {"append_byte", tb_append_byte(cb, 'X')},
        {"append_bytes", tb_append_bytes(cb, 'X', 2)},
        {"append_uint64_be", tb_append_uint64_be(cb, 1)},
        {"put_str", tb_put_str(cb, 0, 1, 1, 0, "X", -1, nullptr)},
        {"append_str", tb_append_str(cb, 0, 0, 0, "X", 1, nullptr)},
        {"put_sprintf", tb_put_sprintf(cb, 0, 0, 0, 0, "%d", 1)},
        {"append_sprintf", tb_append_sprintf(cb, 0, 0, 0, "%d", 1)},
        {"put_tstr", tb_put_tstr(cb, 0, 0, 0, 0, nullptr, nullptr)},
        {"append_tstr_array", tb_append_tstr_array(cb, 0, 0, 0, nullptr, nullptr)},
        {"clear", tb_clear(cb)},
        {"delete_bytes", tb_delete_bytes(cb, 0, 1)},
        {"set_length", tb_set_length(cb, 1)},
        {"ensure_size", tb_ensure_size(cb, 100)},
        {"zero-length put_buf", tb_put_buf(cb, 0, "", 0)},
        {"detach", tb_detach(&cb, &bytes, nullptr)},
    };
    for (const auto &[what, err] : writes) EXPECT_EQ(err, lc_err_assertion_failed) << what;
    EXPECT_EQ(cap.count("Required condition was not met"), writes.size()) << cap.dump();
    EXPECT_EQ(cb, c.get()) << "a refused detach keeps the buffer";
    EXPECT_EQ(bytes, nullptr);
    EXPECT_STREQ(text.get(), "read-only");
    EXPECT_EQ(c->length, 9u);

    // Reads work as usual.
    uint8 first = 0;
    EXPECT_EQ(ok(tb_get_uint8(c.get(), 0, &first), first), 'r');
    // tb_free releases the record only (the sanitizer build would catch a
    // free of the borrowed bytes); `text` is freed by its own owner.

    // Clearing the flag copies the borrowed bytes.
    const char borrowed[] = "borrowed";
    c = create(tb_new_buf_const, borrowed, 8);
    EXPECT_NE(reinterpret_cast<const char *>(ok(tb_set_option_const_buf(c.get(), 0), c)->bytes),
              borrowed);
    EXPECT_EQ(c->size, 128u);
    ASSERT_EQ(tb_put_byte(c.get(), 0, 'B'), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(c->bytes), "Borrowed");
    EXPECT_STREQ(borrowed, "borrowed");

    // The other way: an owned buffer made read-only still frees its storage.
    ASSERT_EQ(tb_set_option_const_buf(c.get(), 1), 0);
    EXPECT_EQ(tb_append_byte(c.get(), 'x'), lc_err_assertion_failed);
}

TEST(Tbuf, TakeoverAndDetachTradeRawBlocks)
{
    auto *block = static_cast<uint8 *>(malloc(16));
    memcpy(block, "0123456789", 10);
    owned<tbuf> b;
    EXPECT_EQ(ok(tb_new_takeover(b.out(), &block, 10, 16), block), nullptr);
    EXPECT_EQ(b->length, 10u);
    EXPECT_GE(b->size, 128u) << "a small block is brought up to the minimum";
    EXPECT_EQ(b->bytes[10], 0);

    block = static_cast<uint8 *>(malloc(300));
    memset(block, 'm', 300);
    EXPECT_EQ(ok(tb_new_takeover(b.out(), &block, 300, 300), b)->size, 1280u)
        << "no room for the terminator: grown by the rule";
    EXPECT_EQ(b->bytes[300], 0);

    uint8 *raw = nullptr;
    uint32 len = 0;
    tbuf *p = b.release();
    EXPECT_EQ(ok(tb_detach(&p, &raw, &len), p), nullptr);
    EXPECT_EQ(len, 300u);
    EXPECT_EQ(raw[299], 'm');
    free(raw);

    // A length beyond the block is refused, and the block is still consumed.
    LogCapture cap;
    block = static_cast<uint8 *>(malloc(8));
    EXPECT_EQ(tb_new_takeover(b.out(), &block, 9, 8), lc_err_assertion_failed);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(b.get(), nullptr);
}
