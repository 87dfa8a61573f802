// The typed-array family, tested once over every kind of element (value in
// the slot, boxed value, owned object stamped here as another module would),
// plus the uint32_array extras.
#include "util/typed_arrays.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "util/call_ok.h"

// An owned element type declared the way a module outside util does it.
struct tobj {
    int v;
};
int tobj_live = 0; // objects alive, to catch leaks and double frees

int tobj_new(int v, tobj **ret)
{
    *ret = new tobj{v};
    ++tobj_live;
    return 0;
}
int tobj_cmp(const tobj *a, const tobj *b)
{
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    return (a->v > b->v) - (a->v < b->v);
}
int tobj_dup(const tobj *src, tobj **ret)
{
    return tobj_new(src->v, ret);
}
int tobj_free(tobj **p)
{
    if (*p) --tobj_live;
    delete *p;
    *p = nullptr;
    return 0;
}
LC_OWNED_FREE(tobj, tobj_free)

LC_TYPED_ARRAY_DECLARE_OWNED(tobj_array, tobj)
LC_TYPED_ARRAY_DEFINE_OWNED(tobj_array, tobj, tobj_cmp, tobj_dup, tobj_free)

namespace
{

// Per-type adapters: how to make the element for the number i, read one
// back as a number, and release what a remove hands out.
#define ADAPT(P)                                                                                   \
    using rec = P;                                                                                 \
    static constexpr auto new_ = &P##_new;                                                         \
    static constexpr auto new_full = &P##_new_full;                                                \
    static constexpr auto free_ = &P##_free;                                                       \
    static constexpr auto append = &P##_append;                                                    \
    static constexpr auto set = &P##_set;                                                          \
    static constexpr auto insert = &P##_insert;                                                    \
    static constexpr auto insert_sorted = &P##_insert_sorted;                                      \
    static constexpr auto get = &P##_get;                                                          \
    static constexpr auto get_quick = &P##_get_quick;                                              \
    static constexpr auto length_quick = &P##_length_quick;                                        \
    static constexpr auto remove = &P##_remove;                                                    \
    static constexpr auto pop = &P##_pop;                                                          \
    static constexpr auto peek = &P##_peek;                                                        \
    static constexpr auto sort = &P##_sort;                                                        \
    static constexpr auto binary_search = &P##_binary_search;                                      \
    static constexpr auto best_search = &P##_best_search;                                          \
    static constexpr auto remove_by_value = &P##_remove_by_value;                                  \
    static constexpr auto delete_by_value = &P##_delete_by_value;                                  \
    static constexpr auto duplicate = &P##_duplicate;                                              \
    static constexpr auto concat = &P##_concat;                                                    \
    static constexpr auto equal = &P##_equal;                                                      \
    static constexpr auto foreach_delete = &P##_foreach_delete;                                    \
    static constexpr auto foreach = &P##_foreach;

template <class V> struct value_ops {
    using get_t = V;
    using take_t = V;
    static V val(int i) { return static_cast<V>(i); }
    static int num(V v) { return static_cast<int>(v); }
    static void release(V) {}
};

#define VALUE_OPS(name, P, V)                                                                      \
    struct name : value_ops<V> {                                                                   \
        ADAPT(P)                                                                                   \
    };
VALUE_OPS(u32_ops, uint32_array, uint32)
VALUE_OPS(u64_ops, uint64_array, uint64)
VALUE_OPS(i64_ops, int64_array, int64)
VALUE_OPS(f32_ops, float32_array, float32)
VALUE_OPS(time_ops, lt_time_sec_array, lt_time_sec)
struct tobj_ops {
    ADAPT(tobj_array)
    using get_t = const tobj *;
    using take_t = tobj *;
    static const tobj *val(int i)
    {
        static tobj pool[64];
        pool[i] = tobj{i};
        return &pool[i];
    }
    static int num(const tobj *p) { return p ? p->v : -1; }
    static void release(tobj *p) { tobj_free(&p); }
};
// tbool_array holds only 0 and 1; it is checked on its own below.

template <class Ops> class TypedArray : public ::testing::Test
{
  protected:
    using rec = typename Ops::rec;
    void SetUp() override
    {
        tobj_live = 0;
        ASSERT_EQ(Ops::new_(&a_), 0);
    }
    void TearDown() override
    {
        Ops::free_(&a_);
        EXPECT_EQ(tobj_live, 0);
    }
    void fill(std::initializer_list<int> xs)
    {
        for (int x : xs) ASSERT_EQ(Ops::append(a_, Ops::val(x)), 0);
    }
    std::vector<int> contents() const
    {
        std::vector<int> v;
        for (uint32 i = 0; i < Ops::length_quick(a_); ++i)
            v.push_back(Ops::num(Ops::get_quick(a_, i)));
        return v;
    }
    std::vector<int> contents(int rc, std::source_location at = std::source_location::current())
    {
        return ok(rc, *this, at).contents();
    }
    rec *a_ = nullptr;
};

using Kinds = ::testing::Types<u32_ops, u64_ops, i64_ops, f32_ops, time_ops, tobj_ops>;
TYPED_TEST_SUITE(TypedArray, Kinds);

TYPED_TEST(TypedArray, StoresCopiesAndReadsThemBack)
{
    using Ops = TypeParam;
    this->fill({5, 3, 9});
    ASSERT_EQ(Ops::insert(this->a_, 1, Ops::val(7)), 0);
    ASSERT_EQ(Ops::insert(this->a_, 99, Ops::val(1)), 0); // past the end appends
    EXPECT_EQ(this->contents(), (std::vector<int>{5, 7, 3, 9, 1}));
    ASSERT_EQ(Ops::set(this->a_, 0, Ops::val(6)), 0); // replaces (and frees) the old one
    EXPECT_EQ(this->contents(), (std::vector<int>{6, 7, 3, 9, 1}));

    typename Ops::get_t got = Ops::val(2);
    EXPECT_EQ(Ops::get(this->a_, 5, &got), lc_err_not_found);
    EXPECT_EQ(got, typename Ops::get_t{});
    EXPECT_EQ(Ops::get_quick(this->a_, 5), decltype(Ops::get_quick(this->a_, 5)){});
    ASSERT_EQ(Ops::get(this->a_, 4, &got), 0);
    EXPECT_EQ(Ops::num(got), 1);

    LogCapture cap;
    EXPECT_EQ(Ops::append(nullptr, Ops::val(1)), lc_err_unexpected_null);
    EXPECT_EQ(Ops::length_quick(nullptr), 0u);
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
}

TYPED_TEST(TypedArray, SortedInsertionAndBinarySearchFindTheFirstEqual)
{
    using Ops = TypeParam;
    for (int x : {4, 1, 4, 2, 4, 9}) ASSERT_EQ(Ops::insert_sorted(this->a_, Ops::val(x)), 0);
    EXPECT_EQ(this->contents(), (std::vector<int>{1, 2, 4, 4, 4, 9}));
    uint32 at = 99;
    EXPECT_EQ(ok(Ops::binary_search(this->a_, Ops::val(4), &at), at), 2u);
    EXPECT_EQ(Ops::binary_search(this->a_, Ops::val(3), &at), lc_err_not_found);
    EXPECT_EQ(at, 0u);

    // An append clears the sorted mark: binary search is refused, the best
    // search falls back to a linear scan, and sorting restores both.
    ASSERT_EQ(Ops::append(this->a_, Ops::val(0)), 0);
    {
        LogCapture cap;
        EXPECT_EQ(Ops::binary_search(this->a_, Ops::val(4), &at), lc_err_assertion_failed);
        EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    }
    EXPECT_EQ(ok(Ops::best_search(this->a_, Ops::val(0), &at), at), 6u);
    ASSERT_EQ(Ops::sort(this->a_), 0);
    EXPECT_EQ(ok(Ops::binary_search(this->a_, Ops::val(0), &at), at), 0u);
}

TYPED_TEST(TypedArray, RemovalsAndForeachDelete)
{
    using Ops = TypeParam;
    this->fill({1, 2, 3, 2});
    typename Ops::take_t out{};
    ASSERT_EQ(Ops::remove(this->a_, 0, &out), 0);
    EXPECT_EQ(Ops::num(out), 1);
    Ops::release(out);
    ASSERT_EQ(Ops::pop(this->a_, &out), 0);
    EXPECT_EQ(Ops::num(out), 2);
    Ops::release(out);
    typename Ops::get_t last{};
    ASSERT_EQ(Ops::peek(this->a_, &last), 0);
    EXPECT_EQ(Ops::num(last), 3);
    ASSERT_EQ(Ops::remove_by_value(this->a_, Ops::val(2), &out), 0);
    EXPECT_EQ(Ops::num(out), 2);
    Ops::release(out);
    EXPECT_EQ(Ops::delete_by_value(this->a_, Ops::val(2)), lc_err_not_found);
    ASSERT_EQ(Ops::delete_by_value(this->a_, Ops::val(3)), 0);
    EXPECT_EQ(Ops::pop(this->a_, &out), lc_err_not_found);
    EXPECT_EQ(out, typename Ops::take_t{});

    LogCapture cap;
    EXPECT_EQ(Ops::remove(this->a_, 0, &out), lc_err_assertion_failed);

    using Ops = TypeParam;
    this->fill({1, 2, 2, 3, 4});
    int seen = 0;
    ASSERT_EQ(Ops::foreach_delete(
                  this->a_,
                  [](const typename TestFixture::rec *, uint32, auto e, void *d) {
                      ++*static_cast<int *>(d);
                      return Ops::num(e) % 2 == 0 ? int{lc_err_foreach_delete} : 0;
                  },
                  &seen),
              0);
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(this->contents(), (std::vector<int>{1, 3}));
    EXPECT_EQ(Ops::foreach (
                  this->a_,
                  [](const typename TestFixture::rec *, uint32, auto, void *) {
                      return int{lc_err_foreach_delete};
                  },
                  nullptr),
              lc_err_assertion_failed);
    EXPECT_EQ(Ops::length_quick(this->a_), 2u);
}

TYPED_TEST(TypedArray, DuplicatePoliciesOnSortedInsertAndAppend)
{
    using Ops = TypeParam;
    array_options opts;
    ASSERT_EQ(array_options_get_defaults(&opts), 0);
    opts.dup_policy = adp_keep;
    Ops::free_(&this->a_);
    ASSERT_EQ(Ops::new_full(&this->a_, &opts), 0);
    for (int x : {2, 1, 2}) ASSERT_EQ(Ops::insert_sorted(this->a_, Ops::val(x)), 0);
    EXPECT_EQ(this->contents(Ops::append(this->a_, Ops::val(1))), (std::vector<int>{1, 2}));

    typename TestFixture::rec *strict = nullptr;
    opts.dup_policy = adp_fail;
    ASSERT_EQ(Ops::new_full(&strict, &opts), 0);
    ASSERT_EQ(Ops::insert_sorted(strict, Ops::val(2)), 0);
    EXPECT_EQ(Ops::insert_sorted(strict, Ops::val(2)), lc_err_exists);
    EXPECT_EQ(Ops::append(strict, Ops::val(2)), lc_err_exists);
    EXPECT_EQ(Ops::length_quick(strict), 1u);
    Ops::free_(&strict);
    EXPECT_EQ(strict, nullptr);
}

TYPED_TEST(TypedArray, DuplicateIsDeepAndConcatTakesTheSecondArray)
{
    using Ops = TypeParam;
    this->fill({1, 2, 3});
    typename TestFixture::rec *copy = nullptr;
    ASSERT_EQ(Ops::duplicate(this->a_, &copy), 0);
    tbool same = false;
    EXPECT_TRUE(ok(Ops::equal(this->a_, copy, &same), same));
    ASSERT_EQ(Ops::set(copy, 2, Ops::val(4)), 0);
    EXPECT_FALSE(ok(Ops::equal(this->a_, copy, &same), same));
    EXPECT_EQ(this->contents(), (std::vector<int>{1, 2, 3}));

    EXPECT_EQ(ok(Ops::concat(this->a_, &copy), copy), nullptr);
    EXPECT_EQ(this->contents(), (std::vector<int>{1, 2, 3, 1, 2, 4}));
}

// ---------------------------------------------------------------------------

TEST(TypedArrayKinds, TakeoverOwnsTheElementAndValuesKeepSignsAndFloatOrder)
{
    tobj_live = 0;
    array_options opts;
    ASSERT_EQ(array_options_get_defaults(&opts), 0);
    opts.dup_policy = adp_fail;
    auto a = create(tobj_array_new_full, &opts);
    tobj *t = nullptr;
    ASSERT_EQ(tobj_new(5, &t), 0);
    EXPECT_EQ(ok(tobj_array_append_takeover(a.get(), &t), t), nullptr);
    ASSERT_EQ(tobj_new(5, &t), 0);
    EXPECT_EQ(tobj_array_insert_sorted_takeover(a.get(), &t), lc_err_assertion_failed); // unsorted
    EXPECT_EQ(t, nullptr);
    ASSERT_EQ(tobj_array_sort(a.get()), 0);
    ASSERT_EQ(tobj_new(5, &t), 0);
    EXPECT_EQ(tobj_array_insert_sorted_takeover(a.get(), &t), lc_err_exists);
    EXPECT_EQ(t, nullptr);
    ASSERT_EQ(tobj_new(1, &t), 0);
    EXPECT_EQ(tobj_array_push_takeover(nullptr, &t), lc_err_unexpected_null);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(tobj_live, 1);
    a.reset();
    EXPECT_EQ(tobj_live, 0);

    auto b = create(uint64_array_new);
    uint64 *box = static_cast<uint64 *>(std::malloc(sizeof(uint64)));
    *box = 0xFFFFFFFFFFFFFFFFull; // must not sort as -1
    ASSERT_EQ(uint64_array_insert_sorted_takeover(b.get(), &box), 0);
    ASSERT_EQ(uint64_array_insert_sorted(b.get(), 7), 0);
    EXPECT_EQ(uint64_array_get_quick(b.get(), 0), 7u);
    EXPECT_EQ(uint64_array_get_quick(b.get(), 1), 0xFFFFFFFFFFFFFFFFull);

    // Value kinds keep signs and float order.
    auto times = create(lt_time_sec_array_new);
    for (lt_time_sec s : {lt_time_sec{1} << 30, lt_time_sec{-5}, lt_time_sec{0}})
        ASSERT_EQ(lt_time_sec_array_insert_sorted(times.get(), s), 0);
    EXPECT_EQ(lt_time_sec_array_get_quick(times.get(), 0), -5);
    EXPECT_EQ(lt_time_sec_array_get_quick(times.get(), 2), lt_time_sec{1} << 30);

    auto f = create(float32_array_new);
    for (float32 x : {2.5f, -1.0f, 0.25f}) ASSERT_EQ(float32_array_insert_sorted(f.get(), x), 0);
    EXPECT_EQ(float32_array_get_quick(f.get(), 0), -1.0f);
    EXPECT_EQ(float32_array_get_quick(f.get(), 2), 2.5f);

    auto bools = create(tbool_array_new);
    ASSERT_EQ(tbool_array_set(bools.get(), 3, true), 0);
    EXPECT_EQ(tbool_array_length_quick(bools.get()), 4u);
    EXPECT_EQ(tbool_array_get_quick(bools.get(), 0), false);
    EXPECT_EQ(tbool_array_get_quick(bools.get(), 3), true);
}

TEST(Uint32Array, MinMaxFirstAbsentAndLists)
{
    auto a = create(uint32_array_new);
    uint32 v = 99;
    EXPECT_EQ(uint32_array_get_first_absent(a.get(), &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(uint32_array_get_min(a.get(), &v), lc_err_not_found);
    for (uint32 x : {0u, 1u, 2u, 5u}) ASSERT_EQ(uint32_array_insert_sorted(a.get(), x), 0);
    EXPECT_EQ(ok(uint32_array_get_first_absent(a.get(), &v), v), 3u);
    ASSERT_EQ(uint32_array_append(a.get(), 3), 0); // unsorted now: still answered
    EXPECT_EQ(ok(uint32_array_get_first_absent(a.get(), &v), v), 4u);
    ASSERT_EQ(uint32_array_append(a.get(), 0xFFFFFFFFu), 0);
    EXPECT_EQ(ok(uint32_array_get_max(a.get(), &v), v), 0xFFFFFFFFu); // not sign-confused with -1
    EXPECT_EQ(ok(uint32_array_get_min(a.get(), &v), v), 0u);

    // Lists parse into a sorted array and print back.
    uint32 n = 99;
    EXPECT_EQ(ok(uint32_array_new_from_list(a.out(), " 7, 1,4294967295 ,3", &n), n), 4u);
    char *text = nullptr;
    EXPECT_STREQ(ok(uint32_array_to_list(a.get(), &text), text), "1,3,7,4294967295");
    std::free(text);
    uint32 at = 0;
    EXPECT_EQ(ok(uint32_array_binary_search(a.get(), 7, &at), at), 2u); // marked sorted

    EXPECT_EQ(ok(uint32_array_new_from_list(a.out(), "", &n), n), 0u);
    EXPECT_STREQ(ok(uint32_array_to_list(a.get(), &text), text), "");
    std::free(text);

    for (const char *bad : {"1,,2", "1,", ",1", "x", "1 2", "4294967296", "-1"}) {
        n = 99;
        EXPECT_EQ(uint32_array_new_from_list(a.out(), bad, &n), lc_err_parse_error) << bad;
        EXPECT_EQ(a.get(), nullptr);
        EXPECT_EQ(n, 0u);
    }
}

} // namespace
