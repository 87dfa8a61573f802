// The generic array: slot vector, growth, sortedness, duplicate policies.
#include "util/array.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{

// Stores into a slot; the common default is done inline.
inline void put(const array *a, void **slot, void *e)
{
    if (a->assign == array_default_assign)
        *slot = e;
    else
        a->assign(slot, e);
}

void release(const array *a, void *element)
{
    if (element && a->free) a->free(element);
}

// Grows the slot vector to hold `n` slots: doubling, but by at least 10, so
// that a small array does not reallocate on every append.
int ensure_capacity(array *a, uint64 n)
{
    bail_require(n <= array_max_slots);
    if (n <= a->capacity) return 0;
    uint64 cap = a->capacity;
    while (cap < n) cap = std::max(cap * 2, cap + 10);
    cap = std::min<uint64>(cap, array_max_slots);
    void **p = static_cast<void **>(std::realloc(a->elements, cap * sizeof(void *)));
    bail_null(p);
    a->elements = p;
    a->capacity = static_cast<uint32>(cap);
    return 0;
}

// Resizes the slot vector to exactly `cap` slots (never below length).
int set_capacity(array *a, uint32 cap)
{
    if (cap == a->capacity) return 0;
    if (cap == 0) {
        std::free(a->elements);
        a->elements = nullptr;
        a->capacity = 0;
        return 0;
    }
    void **p = static_cast<void **>(std::realloc(a->elements, size_t{cap} * sizeof(void *)));
    bail_null(p);
    a->elements = p;
    a->capacity = cap;
    return 0;
}

// Makes the element to store from a caller's element: a copy through `dup`,
// or null for null.
inline int copy_in(const array *a, const void *element, void **ret)
{
    *ret = nullptr;
    if (!element) return 0;
    bail_require(a->dup != nullptr);
    void *c = nullptr;
    bail_error(a->dup(element, &c));
    *ret = c;
    return 0;
}

// Takes the caller's element out of its variable.
void *take(void **element)
{
    void *e = *element;
    *element = nullptr;
    return e;
}

// Places `e` (already owned) into a fresh slot at `index` <= length.
int place(array *a, uint32 index, void *e)
{
    if (a->length == a->capacity) [[unlikely]] {
        const int err = ensure_capacity(a, uint64{a->length} + 1);
        if (err) {
            release(a, e);
            return err;
        }
    }
    if (index < a->length)
        std::memmove(a->elements + index + 1, a->elements + index,
                     size_t{a->length - index} * sizeof(void *));
    put(a, &a->elements[index], e);
    ++a->length;
    return 0;
}

void *unslot(array *a, uint32 index)
{
    void *e = a->elements[index];
    std::memmove(a->elements + index, a->elements + index + 1,
                 size_t{a->length - index - 1} * sizeof(void *));
    --a->length;
    return e;
}

int cmp_at(const array *a, array_elem_compare_func compare, const void *const *value, uint32 index)
{
    return compare(value, &a->elements[index]);
}

// The position after every element that compares equal to `element`: the
// first element, scanning from index 0, that compares greater.  On an array
// marked sorted the scan's answer is the upper bound, found by halving.
uint32 insertion_point(const array *a, const void *element)
{
    if (a->sorted) {
        uint32 lo = 0, hi = a->length;
        while (lo < hi) {
            const uint32 mid = lo + (hi - lo) / 2;
            if (a->compare(&a->elements[mid], &element) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    uint32 i = 0;
    while (i < a->length && a->compare(&a->elements[i], &element) <= 0) ++i;
    return i;
}

int store(array *a, uint32 index, void *e)
{
    int err = ensure_capacity(a, uint64{index} + 1);
    if (err) {
        release(a, e);
        return err;
    }
    if (index >= a->length) {
        std::fill(a->elements + a->length, a->elements + index, nullptr);
        a->length = index + 1;
    } else {
        release(a, a->elements[index]);
    }
    put(a, &a->elements[index], e);
    a->sorted = false;
    return 0;
}

int insert_owned(array *a, uint32 index, void *e)
{
    bail_error(place(a, std::min(index, a->length), e));
    a->sorted = false;
    return 0;
}

int append_owned(array *a, void *e)
{
    const uint32 policy = a->dup_policy;
    if (policy != adp_allow) {
        if (policy < adp_replace || policy > adp_fail) {
            release(a, e);
            bail_force(lc_err_unexpected_case);
        }
        for (uint32 i = 0; i < a->length; ++i) {
            if (cmp_at(a, a->compare, &e, i) != 0) continue;
            if (policy == adp_keep) {
                release(a, e);
                return 0;
            }
            if (policy == adp_fail) {
                release(a, e);
                return lc_err_exists;
            }
            release(a, unslot(a, i));
            break;
        }
    }
    bail_error(place(a, a->length, e));
    a->sorted = false;
    return 0;
}

int insert_sorted_owned(array *a, void *e)
{
    const uint32 policy = a->dup_policy;
    if ((a->check_sorted && !a->sorted) || policy < adp_allow || policy > adp_fail) {
        release(a, e);
        bail_require(false);
    }
    uint32 at = insertion_point(a, e);
    if (at > 0 && policy != adp_allow && cmp_at(a, a->compare, &e, at - 1) == 0) {
        if (policy == adp_keep) {
            release(a, e);
            return 0;
        }
        if (policy == adp_fail) {
            release(a, e);
            return lc_err_exists;
        }
        release(a, unslot(a, --at));
    }
    bail_error(place(a, at, e));
    a->sorted = true;
    return 0;
}

// First index in [lo, hi) equal to `value`, or hi.
uint32 bsearch_range(const array *a, const void *value, uint32 lo, uint32 hi)
{
    const uint32 end = hi;
    while (lo < hi) {
        const uint32 mid = lo + (hi - lo) / 2;
        const int c = cmp_at(a, a->compare, &value, mid);
        if (c == 0) {
            uint32 i = mid;
            while (i > 0 && cmp_at(a, a->compare, &value, i - 1) == 0) --i;
            return i;
        }
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return end;
}

int foreach_impl(array *a, array_foreach_func callback, void *data, bool may_delete)
{
    bail_null(a);
    bail_null(callback);
    int result = 0;
    uint32 i = 0;
    while (i < a->length) {
        const int r = callback(a, i, a->elements[i], data);
        switch (r) {
        case 0:
            break;
        case lc_err_foreach_delete:
            bail_require(may_delete);
            release(a, unslot(a, i));
            continue; // the next element moved into slot i
        case lc_err_foreach_halt_error:
            return lc_err_generic_error;
        case lc_err_foreach_halt:
            return result;
        case lc_err_cancelled:
            return lc_err_cancelled;
        default:
            result = lc_err_generic_error;
            break;
        }
        ++i;
    }
    return result;
}

} // namespace

int array_default_compare(const void *slot_a, const void *slot_b)
{
    const int64 x = reinterpret_cast<int64>(*static_cast<void *const *>(slot_a));
    const int64 y = reinterpret_cast<int64>(*static_cast<void *const *>(slot_b));
    return (x > y) - (x < y);
}

void array_default_assign(void **slot, void *element)
{
    *slot = element;
}

int array_options_get_defaults(array_options *ret)
{
    bail_null(ret);
    *ret = array_options{array_default_initial_size,
                         array_default_compare,
                         nullptr,
                         array_default_assign,
                         nullptr,
                         adp_allow,
                         true};
    return 0;
}

int array_new(array **ret, const array_options *opts)
{
    bail_null(ret);
    *ret = nullptr;
    array_options defaults;
    if (!opts) {
        bail_error(array_options_get_defaults(&defaults));
        opts = &defaults;
    }
    bail_require(opts->compare && opts->assign);
    owned<array> a{static_cast<array *>(std::calloc(1, sizeof(array)))};
    bail_null(a.get());
    a->initial_size = opts->initial_size;
    a->sorted = true;
    a->check_sorted = opts->check_sorted;
    a->dup_policy = opts->dup_policy;
    a->compare = opts->compare;
    a->dup = opts->dup;
    a->assign = opts->assign;
    a->free = opts->free;
    bail_require(opts->initial_size <= array_max_slots);
    bail_error(set_capacity(a.get(), opts->initial_size));
    *ret = a.release();
    return 0;
}

int array_free(array **a)
{
    bail_null(a);
    if (!*a) return 0;
    array *p = *a;
    for (uint32 i = 0; i < p->length; ++i) release(p, p->elements[i]);
    std::free(p->elements);
    std::free(p);
    *a = nullptr;
    return 0;
}

int array_options_get(const array *a, array_options *ret)
{
    bail_null(a);
    bail_null(ret);
    *ret = array_options{a->initial_size, a->compare,    a->dup,         a->assign,
                         a->free,         a->dup_policy, a->check_sorted};
    return 0;
}

int array_options_set(array *a, const array_options *opts)
{
    bail_null(a);
    bail_null(opts);
    bail_require(opts->compare && opts->assign);
    a->initial_size = opts->initial_size;
    a->compare = opts->compare;
    a->dup = opts->dup;
    a->assign = opts->assign;
    a->free = opts->free;
    a->dup_policy = opts->dup_policy;
    a->check_sorted = opts->check_sorted;
    return 0;
}

int array_empty(array *a)
{
    bail_null(a);
    for (uint32 i = 0; i < a->length; ++i) release(a, a->elements[i]);
    a->length = 0;
    a->sorted = true;
    bail_error(set_capacity(a, a->initial_size));
    return 0;
}

int array_compact(array *a)
{
    bail_null(a);
    bail_error(set_capacity(a, std::max<uint32>(a->length, 1)));
    return 0;
}

int array_compact_empty_slots(array *a)
{
    bail_null(a);
    void **end = std::remove(a->elements, a->elements + a->length, nullptr);
    a->length = static_cast<uint32>(end - a->elements);
    return 0;
}

int array_duplicate(const array *src, array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    array_options opts;
    bail_error(array_options_get(src, &opts));
    opts.initial_size = std::max(src->length, src->initial_size);
    owned<array> d;
    bail_error(array_new(d.out(), &opts));
    d->initial_size = src->initial_size;
    for (uint32 i = 0; i < src->length; ++i) {
        void *e = nullptr;
        bail_error(copy_in(src, src->elements[i], &e));
        put(d.get(), &d->elements[i], e);
        d->length = i + 1;
    }
    d->sorted = src->sorted;
    *ret = d.release();
    return 0;
}

int array_concat(array *dest, array **src)
{
    bail_null(src);
    owned<array> s{*src};
    *src = nullptr;
    bail_null(dest);
    if (!s) return 0;
    bail_error(ensure_capacity(dest, uint64{dest->length} + s->length));
    for (uint32 i = 0; i < s->length; ++i) {
        put(dest, &dest->elements[dest->length++], s->elements[i]);
        s->elements[i] = nullptr;
    }
    if (s->length) dest->sorted = false;
    s->length = 0;
    return 0;
}

int array_append_array(array *dest, const array *src)
{
    bail_null(dest);
    bail_null(src);
    bail_error(ensure_capacity(dest, uint64{dest->length} + src->length));
    const uint32 n = src->length; // src may be dest
    for (uint32 i = 0; i < n; ++i) {
        void *e = nullptr;
        bail_error(copy_in(dest, src->elements[i], &e));
        put(dest, &dest->elements[dest->length++], e);
        dest->sorted = false;
    }
    return 0;
}

int array_equal(const array *a, const array *b, tbool *ret_equal)
{
    bail_null(ret_equal);
    *ret_equal = false;
    bail_null(a);
    bail_null(b);
    if (a->length != b->length) return 0;
    for (uint32 i = 0; i < a->length; ++i)
        if (a->compare(&a->elements[i], &b->elements[i]) != 0) return 0;
    *ret_equal = true;
    return 0;
}

int array_length(const array *a, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    *ret = a->length;
    return 0;
}

uint32 array_length_quick(const array *a)
{
    return a ? a->length : 0;
}

int array_get(const array *a, uint32 index, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    if (index >= a->length) return lc_err_not_found;
    *ret = a->elements[index];
    return 0;
}

void *array_get_quick(const array *a, uint32 index)
{
    return a && index < a->length ? a->elements[index] : nullptr;
}

int array_set(array *a, uint32 index, const void *element)
{
    bail_null(a);
    void *e = nullptr;
    bail_error(copy_in(a, element, &e));
    bail_error(store(a, index, e));
    return 0;
}

int array_set_takeover(array *a, uint32 index, void **element)
{
    bail_null(element);
    bail_null(a);
    bail_error(store(a, index, take(element)));
    return 0;
}

int array_insert(array *a, uint32 index, const void *element)
{
    bail_null(a);
    void *e = nullptr;
    bail_error(copy_in(a, element, &e));
    bail_error(insert_owned(a, index, e));
    return 0;
}

int array_insert_takeover(array *a, uint32 index, void **element)
{
    bail_null(element);
    bail_null(a);
    bail_error(insert_owned(a, index, take(element)));
    return 0;
}

int array_append(array *a, const void *element)
{
    bail_null(a);
    void *e = nullptr;
    bail_error(copy_in(a, element, &e));
    // The common case, kept free of calls: no policy, room at the end.
    if (a->dup_policy == adp_allow && a->length < a->capacity &&
        a->assign == array_default_assign) {
        a->elements[a->length++] = e;
        a->sorted = false;
        return 0;
    }
    return append_owned(a, e);
}

int array_append_takeover(array *a, void **element)
{
    bail_null(element);
    bail_null(a);
    return append_owned(a, take(element));
}

int array_push(array *a, const void *element)
{
    return array_append(a, element);
}

int array_push_takeover(array *a, void **element)
{
    return array_append_takeover(a, element);
}

int array_insert_sorted(array *a, const void *element)
{
    bail_null(a);
    // Refuse before copying, so that a refused insertion costs nothing.
    bail_require(!a->check_sorted || a->sorted);
    void *e = nullptr;
    bail_error(copy_in(a, element, &e));
    return insert_sorted_owned(a, e);
}

int array_insert_sorted_takeover(array *a, void **element)
{
    bail_null(element);
    bail_null(a);
    return insert_sorted_owned(a, take(element));
}

int array_insert_sorted_hint(array *a, uint32 /*hint*/, const void *element)
{
    return array_insert_sorted(a, element);
}

int array_insert_sorted_hint_takeover(array *a, uint32 /*hint*/, void **element)
{
    return array_insert_sorted_takeover(a, element);
}

int array_find_insertion_point(const array *a, const void *element, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    bail_require(!a->check_sorted || a->sorted);
    *ret = insertion_point(a, element);
    return 0;
}

int array_find_insertion_point_hint(const array *a, const void *element, uint32 /*hint*/,
                                    uint32 *ret)
{
    return array_find_insertion_point(a, element, ret);
}

int array_remove(array *a, uint32 index, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    bail_require(index < a->length);
    *ret = unslot(a, index);
    return 0;
}

int array_delete(array *a, uint32 index)
{
    void *e = nullptr;
    bail_error(array_remove(a, index, &e));
    release(a, e);
    return 0;
}

int array_remove_no_shift(array *a, uint32 index, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    bail_require(index < a->length);
    *ret = a->elements[index];
    a->elements[index] = nullptr;
    // A hole in the middle need not sort where the element did.
    a->sorted = false;
    return 0;
}

int array_delete_no_shift(array *a, uint32 index)
{
    void *e = nullptr;
    bail_error(array_remove_no_shift(a, index, &e));
    release(a, e);
    return 0;
}

int array_remove_by_value(array *a, const void *value, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    uint32 found = 0, count = 0;
    for (uint32 i = 0; i < a->length; ++i) {
        if (cmp_at(a, a->compare, &value, i) != 0) continue;
        if (count++ == 0) found = i;
    }
    if (count == 0) return lc_err_not_found;
    if (count > 1) return lc_err_multiple;
    *ret = unslot(a, found);
    return 0;
}

int array_delete_by_value(array *a, const void *value)
{
    void *e = nullptr;
    const int err = array_remove_by_value(a, value, &e);
    if (err) return err;
    release(a, e);
    return 0;
}

int array_pop(array *a, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    if (a->length == 0) return lc_err_not_found;
    *ret = a->elements[--a->length];
    return 0;
}

int array_peek(const array *a, void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    if (a->length == 0) return lc_err_not_found;
    *ret = a->elements[a->length - 1];
    return 0;
}

int array_sort(array *a)
{
    bail_null(a);
    bail_error(array_sort_custom(a, a->compare));
    return 0;
}

int array_sort_custom(array *a, array_elem_compare_func compare)
{
    bail_null(a);
    bail_require(compare != nullptr);
    std::stable_sort(a->elements, a->elements + a->length,
                     [compare](void *const &x, void *const &y) { return compare(&x, &y) < 0; });
    a->sorted = compare == a->compare;
    return 0;
}

int array_binary_search(const array *a, const void *value, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    bail_require(!a->check_sorted || a->sorted);
    const uint32 i = bsearch_range(a, value, 0, a->length);
    if (i == a->length) return lc_err_not_found;
    *ret = i;
    return 0;
}

int array_binary_search_hint(const array *a, const void *value, uint32 hint, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    bail_require(!a->check_sorted || a->sorted);
    if (hint >= a->length) return array_binary_search(a, value, ret);
    const int c = cmp_at(a, a->compare, &value, hint);
    if (c == 0) {
        *ret = hint;
        return 0;
    }
    const uint32 lo = c < 0 ? 0 : hint + 1;
    const uint32 hi = c < 0 ? hint : a->length;
    const uint32 i = bsearch_range(a, value, lo, hi);
    if (i == hi) return lc_err_not_found;
    *ret = i;
    return 0;
}

int array_linear_search(const array *a, const void *value, uint32 start, uint32 *ret)
{
    bail_null(a);
    return array_linear_search_custom(a, value, start, a->compare, ret);
}

int array_linear_search_custom(const array *a, const void *value, uint32 start,
                               array_elem_compare_func compare, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    bail_null(compare);
    for (uint32 i = start; i < a->length; ++i) {
        if (cmp_at(a, compare, &value, i) == 0) {
            *ret = i;
            return 0;
        }
    }
    return lc_err_not_found;
}

int array_best_search(const array *a, const void *value, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(a);
    if (a->sorted) return array_binary_search(a, value, ret);
    return array_linear_search(a, value, 0, ret);
}

int array_foreach(const array *a, array_foreach_func callback, void *data)
{
    // The plain loop never changes the array: a delete request is refused
    // before anything is touched.
    return foreach_impl(const_cast<array *>(a), callback, data, false);
}

int array_foreach_delete(array *a, array_foreach_func callback, void *data)
{
    return foreach_impl(a, callback, data, true);
}
