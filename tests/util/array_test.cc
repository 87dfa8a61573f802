// The generic array: growth, sortedness, duplicate policies, searches and
// the foreach protocol.  Elements here are numbers held in the slots.
#include "util/array.h"

#include <gtest/gtest.h>
#include <vector>

#include "support/log_capture.h"
#include "util/call_ok.h"

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

owned<array> numbers(uint32 policy = adp_allow, uint32 initial = 10)
{
    array_options o;
    EXPECT_EQ(array_options_get_defaults(&o), 0);
    o.dup = copy_value;
    o.dup_policy = policy;
    o.initial_size = initial;
    owned<array> a;
    EXPECT_EQ(array_new(a.out(), &o), 0);
    return a;
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

owned<array> ints(uint32 policy = adp_allow)
{
    array_options o;
    EXPECT_EQ(array_options_get_defaults(&o), 0);
    o.compare = cmp_int;
    o.dup = dup_int;
    o.free = count_free;
    o.dup_policy = policy;
    owned<array> a;
    EXPECT_EQ(array_new(a.out(), &o), 0);
    return a;
}

TEST(Array, OwnedElementsAreFreedExactlyOnce)
{
    freed = 0;
    {
        owned<array> a = ints(adp_keep);
        const int one = 1, two = 2;
        ASSERT_EQ(array_append(a.get(), &one), 0);
        ASSERT_EQ(array_append(a.get(), &two), 0);
        ASSERT_EQ(array_append(a.get(), &one), 0); // kept: the new copy is freed
        EXPECT_EQ(freed, 1);
        ASSERT_EQ(array_set(a.get(), 0, &two), 0); // replaced: the old one is freed
        EXPECT_EQ(freed, 2);
        void *taken = nullptr;
        ASSERT_EQ(array_remove(a.get(), 1, &taken), 0); // handed out, not freed
        EXPECT_EQ(freed, 2);
        delete static_cast<int *>(taken);

        owned<array> d;
        ASSERT_EQ(array_duplicate(a.get(), d.out()), 0);
        tbool eq = false;
        EXPECT_TRUE(ok(array_equal(a.get(), d.get(), &eq), eq));
        EXPECT_NE(array_get_quick(a.get(), 0), array_get_quick(d.get(), 0));
        ASSERT_EQ(array_append_array(a.get(), a.get()), 0); // onto itself
        EXPECT_EQ(array_length_quick(a.get()), 2u);
        array *second = d.release();
        EXPECT_EQ(ok(array_concat(a.get(), &second), second), nullptr); // moves, frees nothing
        EXPECT_EQ(array_length_quick(a.get()), 3u);
        EXPECT_EQ(freed, 2);
    }
    EXPECT_EQ(freed, 2 + 3);
}

} // namespace
