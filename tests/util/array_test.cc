// The generic array: growth, sortedness, duplicate policies, searches and
// the foreach protocol (elements are numbers held in the slots); then the
// typed arrays stamped on it, one test over every kind of element.
#include "util/array.h"
#include "util/typed_arrays.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "support/call_ok.h"
#include "support/log_capture.h"

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

void *V(intptr_t x)
{
    return reinterpret_cast<void *>(x);
}

int copy_value(const void *e, void **ret)
{
    *ret = const_cast<void *>(e);
    return 0;
}

// The default options but for the duplicate policy.
array_options options(uint32 policy)
{
    array_options o;
    EXPECT_EQ(array_options_get_defaults(&o), 0);
    o.dup_policy = policy;
    return o;
}

owned<array> numbers(uint32 policy = adp_allow, uint32 initial = 10)
{
    array_options o = options(policy);
    o.dup = copy_value;
    o.initial_size = initial;
    return create(array_new, &o);
}

std::vector<intptr_t> contents(const array *a)
{
    std::vector<intptr_t> v;
    for (uint32 i = 0; i < array_length_quick(a); ++i)
        v.push_back(reinterpret_cast<intptr_t>(array_get_quick(a, i)));
    return v;
}
std::vector<intptr_t> contents(int rc, const array *a,
                               std::source_location at = std::source_location::current())
{
    return contents(ok(rc, a, at));
}

using vec = std::vector<intptr_t>;

std::vector<uint32> capacities_while_appending(array *a, int n)
{
    std::vector<uint32> caps{a->capacity};
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(array_append(a, V(i + 1)), 0);
        if (a->capacity != caps.back()) caps.push_back(a->capacity);
    }
    return caps;
}

TEST(Array, GrowthAndNullSlots)
{
    owned<array> a = numbers();
    EXPECT_EQ(capacities_while_appending(a.get(), 81), (std::vector<uint32>{10, 20, 40, 80, 160}));
    owned<array> z = numbers(adp_allow, 0);
    EXPECT_EQ(capacities_while_appending(z.get(), 21), (std::vector<uint32>{0, 10, 20, 40}));

    EXPECT_EQ(ok(array_compact(a.get()), a->capacity), 81u);
    EXPECT_EQ(ok(array_empty(a.get()), a->capacity), 10u); // back to the initial size
    EXPECT_EQ(a->length, 0u);
    EXPECT_TRUE(a->sorted);
    ASSERT_EQ(array_compact(z.get()), 0);
    ASSERT_EQ(array_empty(z.get()), 0);
    EXPECT_EQ(ok(array_compact(z.get()), z->capacity), 1u); // never compacted to nothing

    a = numbers();
    EXPECT_EQ(contents(array_set(a.get(), 5, V(9)), a.get()), (vec{0, 0, 0, 0, 0, 9}));
    EXPECT_FALSE(a->sorted);

    void *e = V(1);
    EXPECT_EQ(array_get(a.get(), 6, &e), lc_err_not_found);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(array_get_quick(a.get(), 6), nullptr);
    EXPECT_EQ(array_get_quick(nullptr, 0), nullptr);

    LogCapture cap;
    EXPECT_EQ(array_set(a.get(), array_max_slots, V(1)), lc_err_assertion_failed);
    EXPECT_EQ(array_length_quick(a.get()), 6u);
}

TEST(Array, CopyingWithoutDupAcceptsOnlyNull)
{
    auto a = create(array_new, nullptr);
    ASSERT_EQ(array_append(a.get(), nullptr), 0);
    LogCapture cap;
    EXPECT_EQ(array_append(a.get(), V(3)), lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    void *e = V(3);
    EXPECT_EQ(ok(array_append_takeover(a.get(), &e), e), nullptr);
    EXPECT_EQ(contents(a.get()), (vec{0, 3}));
}

TEST(Array, SortedInsertsSearchesAndTheSortedMark)
{
    owned<array> a = numbers();
    for (intptr_t x : {5, 1, 3}) ASSERT_EQ(array_insert_sorted(a.get(), V(x)), 0);
    EXPECT_TRUE(a->sorted);
    ASSERT_EQ(array_append(a.get(), V(2)), 0);
    EXPECT_FALSE(a->sorted);
    uint32 at = 7;
    {
        LogCapture cap;
        EXPECT_EQ(array_binary_search(a.get(), V(3), &at), lc_err_assertion_failed);
        EXPECT_EQ(array_insert_sorted(a.get(), V(4)), lc_err_assertion_failed);
        EXPECT_EQ(cap.count("Required condition was not met"), 2u) << cap.dump();
    }
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(ok(array_best_search(a.get(), V(2), &at), at),
              3u); // found where a binary search would not look

    // Without check_sorted the caller vouches for the order; sorted
    // insertion into an unmarked array scans for the first greater element.
    a->check_sorted = false;
    EXPECT_EQ(array_binary_search(a.get(), V(1), &at), 0);
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(contents(array_insert_sorted(a.get(), V(4)), a.get()), (vec{1, 3, 4, 5, 2}));

    a = numbers();
    for (intptr_t x : {2, 2, 2, 2, 1, 3, 2}) ASSERT_EQ(array_insert_sorted(a.get(), V(x)), 0);
    EXPECT_EQ(contents(a.get()), (vec{1, 2, 2, 2, 2, 2, 3}));
    EXPECT_EQ(ok(array_find_insertion_point(a.get(), V(2), &at), at), 6u);
    EXPECT_EQ(ok(array_find_insertion_point_hint(a.get(), V(0), 5, &at), at), 0u);
    EXPECT_EQ(ok(array_binary_search(a.get(), V(2), &at), at), 1u);
    // The hint is returned as is when it holds an equal element.
    EXPECT_EQ(ok(array_binary_search_hint(a.get(), V(2), 4, &at), at), 4u);
    EXPECT_EQ(ok(array_binary_search_hint(a.get(), V(3), 1, &at), at), 6u);
    EXPECT_EQ(ok(array_binary_search_hint(a.get(), V(1), 5, &at), at), 0u);
    EXPECT_EQ(array_binary_search_hint(a.get(), V(4), 2, &at), lc_err_not_found);
    EXPECT_EQ(array_binary_search(a.get(), V(0), &at), lc_err_not_found);
    EXPECT_EQ(array_linear_search(a.get(), V(2), 6, &at), lc_err_not_found);
    EXPECT_EQ(ok(array_linear_search(a.get(), V(2), 3, &at), at), 3u);
}

TEST(Array, DuplicatePolicies)
{
    owned<array> keep = numbers(adp_keep);
    for (intptr_t x : {1, 2, 2}) ASSERT_EQ(array_insert_sorted(keep.get(), V(x)), 0);
    EXPECT_EQ(contents(array_insert_sorted(keep.get(), V(1)), keep.get()), (vec{1, 2}));
    EXPECT_TRUE(keep->sorted);

    owned<array> fail = numbers(adp_fail);
    for (intptr_t x : {1, 2}) ASSERT_EQ(array_insert_sorted(fail.get(), V(x)), 0);
    EXPECT_EQ(array_insert_sorted(fail.get(), V(2)), lc_err_exists);
    EXPECT_EQ(array_append(fail.get(), V(1)), lc_err_exists);
    EXPECT_EQ(contents(fail.get()), (vec{1, 2}));
    EXPECT_TRUE(fail->sorted); // the refused append stored nothing

    owned<array> repl = numbers(adp_replace);
    for (intptr_t x : {3, 1, 2}) ASSERT_EQ(array_append(repl.get(), V(x)), 0);
    EXPECT_EQ(contents(array_append(repl.get(), V(3)), repl.get()), (vec{1, 2, 3}));

    LogCapture cap;
    owned<array> bad = numbers(9);
    EXPECT_EQ(array_append(bad.get(), V(1)), lc_err_unexpected_case);
    EXPECT_EQ(array_insert_sorted(bad.get(), V(1)), lc_err_assertion_failed);
    EXPECT_EQ(array_length_quick(bad.get()), 0u);
}

TEST(Array, RemovalRules)
{
    owned<array> a = numbers();
    for (intptr_t x : {1, 2, 3, 2, 5}) ASSERT_EQ(array_append(a.get(), V(x)), 0);
    void *e = nullptr;
    EXPECT_EQ(array_remove_by_value(a.get(), V(2), &e), lc_err_multiple);
    EXPECT_EQ(array_remove_by_value(a.get(), V(7), &e), lc_err_not_found);
    EXPECT_EQ(array_length_quick(a.get()), 5u);
    EXPECT_EQ(ok(array_remove_by_value(a.get(), V(3), &e), e), V(3));

    EXPECT_EQ(contents(array_delete_no_shift(a.get(), 1), a.get()), (vec{1, 0, 2, 5}));
    EXPECT_EQ(contents(array_compact_empty_slots(a.get()), a.get()), (vec{1, 2, 5}));

    EXPECT_EQ(ok(array_peek(a.get(), &e), e), V(5));
    EXPECT_EQ(ok(array_pop(a.get(), &e), e), V(5));
    EXPECT_EQ(contents(a.get()), (vec{1, 2}));

    LogCapture cap;
    EXPECT_EQ(array_delete(a.get(), 2), lc_err_assertion_failed);
    EXPECT_EQ(array_remove_no_shift(a.get(), 2, &e), lc_err_assertion_failed);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(cap.count("Required condition was not met"), 2u);
}

TEST(Array, ForeachReturnCodes)
{
    owned<array> a = numbers();
    for (intptr_t x : {1, 2, 3, 4}) ASSERT_EQ(array_append(a.get(), V(x)), 0);
    struct Case {
        int code; // returned for the element 2; 0 for the others
        int want;
        vec visited;
    } const cases[] = {
        {0, 0, {1, 2, 3, 4}},
        {lc_err_foreach_halt, 0, {1, 2}},
        {lc_err_foreach_halt_error, lc_err_generic_error, {1, 2}},
        {lc_err_cancelled, lc_err_cancelled, {1, 2}},
        {lc_err_not_found, lc_err_generic_error, {1, 2, 3, 4}},
    };
    for (const Case &c : cases) {
        std::pair<int, vec> st{c.code, {}};
        EXPECT_EQ(array_foreach(
                      a.get(),
                      [](const array *, uint32, void *e, void *d) {
                          auto *s = static_cast<std::pair<int, vec> *>(d);
                          s->second.push_back(reinterpret_cast<intptr_t>(e));
                          return e == V(2) ? s->first : 0;
                      },
                      &st),
                  c.want)
            << c.code;
        EXPECT_EQ(st.second, c.visited) << c.code;
    }
    // A halt after an earlier failure keeps that failure.
    EXPECT_EQ(array_foreach(
                  a.get(),
                  [](const array *, uint32 i, void *, void *) {
                      return i == 0 ? int{lc_err_not_found} : int{lc_err_foreach_halt};
                  },
                  nullptr),
              lc_err_generic_error);
    EXPECT_EQ(contents(a.get()), (vec{1, 2, 3, 4}));
}

// Owned elements: counts what the array frees.
int freed = 0;
void count_free(void *e)
{
    ++freed;
    delete static_cast<int *>(e);
}
int dup_int(const void *e, void **ret)
{
    *ret = new int(*static_cast<const int *>(e));
    return 0;
}
int cmp_int(const void *a, const void *b)
{
    const int *x = *static_cast<const int *const *>(a);
    const int *y = *static_cast<const int *const *>(b);
    if (!x || !y) return (x != nullptr) - (y != nullptr);
    return (*x > *y) - (*x < *y);
}

owned<array> ints(uint32 policy)
{
    array_options o = options(policy);
    o.compare = cmp_int;
    o.dup = dup_int;
    o.free = count_free;
    return create(array_new, &o);
}

TEST(Array, OwnedElementsAreFreedExactlyOnce)
{
    freed = 0;
    {
        owned<array> a = ints(adp_keep);
        const int one = 1, two = 2;
        ASSERT_EQ(array_append(a.get(), &one), 0);
        ASSERT_EQ(array_append(a.get(), &two), 0);
        EXPECT_EQ(ok(array_append(a.get(), &one), freed), 1); // kept: the new copy is freed
        EXPECT_EQ(ok(array_set(a.get(), 0, &two), freed), 2); // replaced: the old one is freed
        void *taken = nullptr;
        ASSERT_EQ(array_remove(a.get(), 1, &taken), 0); // handed out, not freed
        EXPECT_EQ(freed, 2);
        delete static_cast<int *>(taken);

        owned<array> d;
        ASSERT_EQ(array_duplicate(a.get(), d.out()), 0);
        tbool eq = false;
        EXPECT_TRUE(ok(array_equal(a.get(), d.get(), &eq), eq));
        EXPECT_NE(array_get_quick(a.get(), 0), array_get_quick(d.get(), 0));
        EXPECT_EQ(ok(array_append_array(a.get(), a.get()), a->length), 2u); // onto itself
        array *second = d.release();
        EXPECT_EQ(ok(array_concat(a.get(), &second), second), nullptr); // moves, frees nothing
        EXPECT_EQ(array_length_quick(a.get()), 3u);
        EXPECT_EQ(freed, 2);
    }
    EXPECT_EQ(freed, 2 + 3);
}

// ---------------------------------------------------------------------------
// The typed-array family, tested once over every kind of element (value in
// the slot, boxed value, owned object stamped here as another module would),
// plus the uint32_array extras.

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
    // The number a removal handed out, which is then released.
    auto taken = [&](int rc) {
        const int n = Ops::num(ok(rc, out));
        Ops::release(out);
        return n;
    };
    EXPECT_EQ(taken(Ops::remove(this->a_, 0, &out)), 1);
    EXPECT_EQ(taken(Ops::pop(this->a_, &out)), 2);
    typename Ops::get_t last{};
    EXPECT_EQ(Ops::num(ok(Ops::peek(this->a_, &last), last)), 3);
    EXPECT_EQ(taken(Ops::remove_by_value(this->a_, Ops::val(2), &out)), 2);
    EXPECT_EQ(Ops::delete_by_value(this->a_, Ops::val(2)), lc_err_not_found);
    ASSERT_EQ(Ops::delete_by_value(this->a_, Ops::val(3)), 0);
    EXPECT_EQ(Ops::pop(this->a_, &out), lc_err_not_found);
    EXPECT_EQ(out, typename Ops::take_t{});

    LogCapture cap;
    EXPECT_EQ(Ops::remove(this->a_, 0, &out), lc_err_assertion_failed);

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
    array_options opts = options(adp_keep);
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
    array_options opts = options(adp_fail);
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
