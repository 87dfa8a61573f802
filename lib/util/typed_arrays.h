// Typed arrays: one record per element type over a generic array, with the
// whole member family stamped out from one template and one member list.
//
// A typed array `P` is `struct P { array *arr; }`; every member `P_xxx`
// checks the record (null gives lc_err_unexpected_null, or the neutral value
// for `_quick` accessors) and forwards to `array_xxx` (util/array.h), whose
// rules (growth, sortedness, duplicate policy, foreach protocol) it keeps.
// Three kinds of element exist:
//
//   OWNED  `T *` objects owned by the array: copying members take
//          `const T *` and store a copy made with the type's dup; `_get` and
//          `_peek` lend `const T *`, `_get_quick` lends `T *`; `_remove`,
//          `_pop` hand a `T *` to the caller.  The `_takeover` members take
//          `T **`, clear the caller's pointer and own the object from then on,
//          on failure too (it is freed).
//   BOXED  64-bit values, each in its own malloc'ed 8-byte block (slots are
//          pointer-sized but the value must not be confused with null).
//          Members pass and return values; the `_takeover` members adopt a
//          malloc'ed `V *` block as OWNED ones do.
//   VALUE  scalars held in the slot itself (no allocation); members pass and
//          return values.  Integers compare as signed 64-bit numbers (the
//          generic default); floats compare numerically.  The value 0 is
//          the empty slot: `_delete_no_shift` leaves 0 and
//          `_compact_empty_slots` drops the zeros.
//
// Custom comparisons (`_sort_custom`, `_linear_search_custom`) receive
// pointers to slots, as in the generic array; `_foreach` callbacks receive
// the typed record and the element as `_get_quick` lends it.  `_new_full`
// takes `initial_size`, `dup_policy` and `check_sorted` from its options;
// the element callbacks are always the type's (change them afterwards with
// `_options_set` if ever needed).
//
// How a module adds its typed array (here `foo_array` of owned `foo`,
// with `int foo_cmp(const foo *, const foo *)`, `int foo_dup(const foo *,
// foo **)` and `int foo_free(foo **)`, all accepting null where the array
// may hold null):
//
//   // foo.h (or foo_array.h)
//   #include "util/typed_arrays.h"
//   struct foo;
//   LC_TYPED_ARRAY_DECLARE_OWNED(foo_array, foo)
//
//   // foo.cc, at global scope
//   LC_TYPED_ARRAY_DEFINE_OWNED(foo_array, foo, foo_cmp, foo_dup, foo_free)
//
// Pass `nullptr` for the comparison to use the generic default (slot
// values compared as numbers, i.e. by address).  Value and boxed arrays use
// LC_TYPED_ARRAY_DECLARE_VALUE(P, V) / LC_TYPED_ARRAY_DEFINE_VALUE(P, V) and
// the _BOXED pair likewise.  Extra members of a type (say a `_new` taking
// the type's own options record) are ordinary functions written beside it;
// C++ overloading lets `P_new(P **, const own_options *)` sit next to the
// stamped `P_new(P **)`.
#pragma once

#include <bit>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "util/array.h"
#include "util/ttime_types.h"

namespace detail
{

// ---------------------------------------------------------------------------
// Element kinds: the types the members pass, then the callbacks.

template <class T> struct ta_owned_types {
    using in_t = const T *;
    using get_t = const T *;
    using take_t = T *;
    using quick_t = T *;
    using own_t = T *;
};

template <class V> struct ta_boxed_types {
    using in_t = V;
    using get_t = V;
    using take_t = V;
    using quick_t = V;
    using own_t = V *;
};

template <class V> struct ta_value_types {
    using in_t = V;
    using get_t = V;
    using take_t = V;
    using quick_t = V;
};

template <class T, auto Cmp, auto Dup, auto Free> struct ta_owned : ta_owned_types<T> {
    static const void *in(const T *const &v) { return v; }
    static const T *get(void *e) { return static_cast<const T *>(e); }
    static T *take(void *e) { return static_cast<T *>(e); }
    static T *quick(void *e) { return static_cast<T *>(e); }

    static int compare(const void *a, const void *b)
    {
        return Cmp(*static_cast<const T *const *>(a), *static_cast<const T *const *>(b));
    }
    static array_elem_compare_func compare_func()
    {
        if constexpr (std::is_null_pointer_v<decltype(Cmp)>)
            return array_default_compare;
        else
            return compare;
    }
    static int dup(const void *e, void **ret)
    {
        T *c = nullptr;
        const int err = Dup(static_cast<const T *>(e), &c);
        *ret = c;
        return err;
    }
    static void free(void *e)
    {
        T *p = static_cast<T *>(e);
        (void)Free(&p);
    }
    static array_elem_free_func free_func() { return free; }
};

template <class V> struct ta_boxed : ta_boxed_types<V> {
    static_assert(std::is_arithmetic_v<V>);
    static const void *in(const V &v) { return &v; }
    static V get(void *e) { return e ? *static_cast<const V *>(e) : V{}; }
    static V take(void *e)
    {
        const V v = get(e);
        std::free(e);
        return v;
    }
    static V quick(void *e) { return get(e); }

    static int compare(const void *a, const void *b)
    {
        const V *x = *static_cast<const V *const *>(a);
        const V *y = *static_cast<const V *const *>(b);
        if (!x || !y) return (x != nullptr) - (y != nullptr); // a hole sorts first
        return (*x > *y) - (*x < *y);
    }
    static array_elem_compare_func compare_func() { return compare; }
    static int dup(const void *e, void **ret)
    {
        V *c = static_cast<V *>(std::malloc(sizeof(V)));
        bail_null(c);
        *c = *static_cast<const V *>(e);
        *ret = c;
        return 0;
    }
    static void free(void *e) { std::free(e); }
    static array_elem_free_func free_func() { return free; }
};

template <class V> struct ta_value : ta_value_types<V> {
    static_assert(std::is_arithmetic_v<V> && sizeof(V) <= sizeof(void *));
    using bits_t = std::conditional_t<sizeof(V) == 4, uint32, uint64>;

    static void *enc(V v)
    {
        if constexpr (std::is_floating_point_v<V>)
            return reinterpret_cast<void *>(static_cast<uintptr_t>(std::bit_cast<bits_t>(v)));
        else if constexpr (std::is_signed_v<V>)
            return reinterpret_cast<void *>(static_cast<intptr_t>(v));
        else
            return reinterpret_cast<void *>(static_cast<uintptr_t>(v));
    }
    static V dec(const void *e)
    {
        if constexpr (std::is_floating_point_v<V>)
            return std::bit_cast<V>(static_cast<bits_t>(reinterpret_cast<uintptr_t>(e)));
        else
            return static_cast<V>(reinterpret_cast<intptr_t>(e));
    }
    static const void *in(const V &v) { return enc(v); }
    static V get(void *e) { return dec(e); }
    static V take(void *e) { return dec(e); }
    static V quick(void *e) { return dec(e); }

    static int compare(const void *a, const void *b)
    {
        const V x = dec(*static_cast<void *const *>(a));
        const V y = dec(*static_cast<void *const *>(b));
        return (x > y) - (x < y);
    }
    static array_elem_compare_func compare_func()
    {
        if constexpr (std::is_floating_point_v<V>)
            return compare;
        else
            return array_default_compare;
    }
    static int dup(const void *e, void **ret)
    {
        *ret = const_cast<void *>(e);
        return 0;
    }
    static void free(void *) {}
    static array_elem_free_func free_func() { return nullptr; }
};

// ---------------------------------------------------------------------------
// The member family, written once.

template <class Rec, class Tr> struct typed_array {
    using in_t = typename Tr::in_t;
    using get_t = typename Tr::get_t;
    using take_t = typename Tr::take_t;
    using quick_t = typename Tr::quick_t;
    using foreach_fn = int (*)(const Rec *, uint32, quick_t, void *);

    static int type_options(array_options *o)
    {
        bail_error(array_options_get_defaults(o));
        o->compare = Tr::compare_func();
        o->dup = Tr::dup;
        o->free = Tr::free_func();
        return 0;
    }

    static int create(Rec **ret) { return create_full(ret, nullptr); }

    static int create_full(Rec **ret, const array_options *opts)
    {
        bail_null(ret);
        *ret = nullptr;
        array_options o;
        bail_error(type_options(&o));
        if (opts) {
            o.initial_size = opts->initial_size;
            o.dup_policy = opts->dup_policy;
            o.check_sorted = opts->check_sorted;
        }
        owned<Rec> r{new (std::nothrow) Rec{}};
        bail_null(r.get());
        bail_error(array_new(&r->arr, &o));
        *ret = r.release();
        return 0;
    }

    static int options_get(const Rec *r, array_options *ret)
    {
        bail_null(r);
        return array_options_get(r->arr, ret);
    }
    static int options_set(Rec *r, const array_options *opts)
    {
        bail_null(r);
        return array_options_set(r->arr, opts);
    }

    static int destroy(Rec **r)
    {
        bail_null(r);
        if (!*r) return 0;
        (void)array_free(&(*r)->arr);
        delete *r;
        *r = nullptr;
        return 0;
    }

    static int empty(Rec *r)
    {
        bail_null(r);
        return array_empty(r->arr);
    }
    static int compact(Rec *r)
    {
        bail_null(r);
        return array_compact(r->arr);
    }
    static int compact_empty_slots(Rec *r)
    {
        bail_null(r);
        return array_compact_empty_slots(r->arr);
    }

    static int duplicate(const Rec *src, Rec **ret)
    {
        bail_null(ret);
        *ret = nullptr;
        bail_null(src);
        owned<Rec> r{new (std::nothrow) Rec{}};
        bail_null(r.get());
        bail_error(array_duplicate(src->arr, &r->arr));
        *ret = r.release();
        return 0;
    }

    static int concat(Rec *r, Rec **src)
    {
        bail_null(src);
        owned<Rec> s{*src};
        *src = nullptr;
        bail_null(r);
        if (!s) return 0;
        return array_concat(r->arr, &s->arr);
    }

    static int append_array(Rec *r, const Rec *src)
    {
        bail_null(r);
        bail_null(src);
        return array_append_array(r->arr, src->arr);
    }

    static int length(const Rec *r, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_length(r->arr, ret);
    }
    static uint32 length_quick(const Rec *r) { return r ? array_length_quick(r->arr) : 0; }

    static int equal(const Rec *a, const Rec *b, tbool *ret)
    {
        bail_null(ret);
        *ret = false;
        bail_null(a);
        bail_null(b);
        return array_equal(a->arr, b->arr, ret);
    }

    static int get(const Rec *r, uint32 idx, get_t *ret)
    {
        bail_null(ret);
        *ret = get_t{};
        bail_null(r);
        void *e = nullptr;
        const int err = array_get(r->arr, idx, &e);
        if (err) return err;
        *ret = Tr::get(e);
        return 0;
    }
    static quick_t get_quick(const Rec *r, uint32 idx)
    {
        return r ? Tr::quick(array_get_quick(r->arr, idx)) : quick_t{};
    }

    static int set(Rec *r, uint32 idx, in_t v)
    {
        bail_null(r);
        return array_set(r->arr, idx, Tr::in(v));
    }
    static int append(Rec *r, in_t v)
    {
        bail_null(r);
        return array_append(r->arr, Tr::in(v));
    }
    static int insert(Rec *r, uint32 idx, in_t v)
    {
        bail_null(r);
        return array_insert(r->arr, idx, Tr::in(v));
    }
    static int insert_sorted(Rec *r, in_t v)
    {
        bail_null(r);
        return array_insert_sorted(r->arr, Tr::in(v));
    }
    static int insert_sorted_hint(Rec *r, uint32 hint, in_t v)
    {
        bail_null(r);
        return array_insert_sorted_hint(r->arr, hint, Tr::in(v));
    }
    static int push(Rec *r, in_t v)
    {
        bail_null(r);
        return array_push(r->arr, Tr::in(v));
    }

    // Takeover members: the element is the array's from the call on; a null
    // record frees it so that the caller never has to.
    template <class Own, int (*Op)(array *, void **)> static int adopt(Rec *r, Own **p)
    {
        bail_null(p);
        void *e = *p;
        *p = nullptr;
        if (!r) {
            if (e) Tr::free(e);
            bail_null(r);
        }
        return Op(r->arr, &e);
    }
    template <class Own, int (*Op)(array *, uint32, void **)>
    static int adopt_at(Rec *r, uint32 idx, Own **p)
    {
        bail_null(p);
        void *e = *p;
        *p = nullptr;
        if (!r) {
            if (e) Tr::free(e);
            bail_null(r);
        }
        return Op(r->arr, idx, &e);
    }
    template <class Own> static int set_takeover(Rec *r, uint32 idx, Own **p)
    {
        return adopt_at<Own, array_set_takeover>(r, idx, p);
    }
    template <class Own> static int insert_takeover(Rec *r, uint32 idx, Own **p)
    {
        return adopt_at<Own, array_insert_takeover>(r, idx, p);
    }
    template <class Own> static int insert_sorted_hint_takeover(Rec *r, uint32 hint, Own **p)
    {
        return adopt_at<Own, array_insert_sorted_hint_takeover>(r, hint, p);
    }
    template <class Own> static int append_takeover(Rec *r, Own **p)
    {
        return adopt<Own, array_append_takeover>(r, p);
    }
    template <class Own> static int push_takeover(Rec *r, Own **p)
    {
        return adopt<Own, array_push_takeover>(r, p);
    }
    template <class Own> static int insert_sorted_takeover(Rec *r, Own **p)
    {
        return adopt<Own, array_insert_sorted_takeover>(r, p);
    }

    static int find_insertion_point(const Rec *r, in_t v, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_find_insertion_point(r->arr, Tr::in(v), ret);
    }
    static int find_insertion_point_hint(const Rec *r, in_t v, uint32 hint, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_find_insertion_point_hint(r->arr, Tr::in(v), hint, ret);
    }

    static int del(Rec *r, uint32 idx)
    {
        bail_null(r);
        return array_delete(r->arr, idx);
    }
    static int del_no_shift(Rec *r, uint32 idx)
    {
        bail_null(r);
        return array_delete_no_shift(r->arr, idx);
    }
    static int del_by_value(Rec *r, in_t v)
    {
        bail_null(r);
        return array_delete_by_value(r->arr, Tr::in(v));
    }

    template <class Op> static int hand_out(take_t *ret, Op op)
    {
        void *e = nullptr;
        const int err = op(&e);
        if (err) return err;
        *ret = Tr::take(e);
        return 0;
    }
    static int remove(Rec *r, uint32 idx, take_t *ret)
    {
        bail_null(ret);
        *ret = take_t{};
        bail_null(r);
        return hand_out(ret, [&](void **e) { return array_remove(r->arr, idx, e); });
    }
    static int remove_no_shift(Rec *r, uint32 idx, take_t *ret)
    {
        bail_null(ret);
        *ret = take_t{};
        bail_null(r);
        return hand_out(ret, [&](void **e) { return array_remove_no_shift(r->arr, idx, e); });
    }
    static int remove_by_value(Rec *r, in_t v, take_t *ret)
    {
        bail_null(ret);
        *ret = take_t{};
        bail_null(r);
        return hand_out(ret, [&](void **e) { return array_remove_by_value(r->arr, Tr::in(v), e); });
    }
    static int pop(Rec *r, take_t *ret)
    {
        bail_null(ret);
        *ret = take_t{};
        bail_null(r);
        return hand_out(ret, [&](void **e) { return array_pop(r->arr, e); });
    }
    static int peek(const Rec *r, get_t *ret)
    {
        bail_null(ret);
        *ret = get_t{};
        bail_null(r);
        void *e = nullptr;
        const int err = array_peek(r->arr, &e);
        if (err) return err;
        *ret = Tr::get(e);
        return 0;
    }

    static int sort(Rec *r)
    {
        bail_null(r);
        return array_sort(r->arr);
    }
    static int sort_custom(Rec *r, array_elem_compare_func compare)
    {
        bail_null(r);
        return array_sort_custom(r->arr, compare);
    }

    static int binary_search(const Rec *r, in_t v, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_binary_search(r->arr, Tr::in(v), ret);
    }
    static int binary_search_hint(const Rec *r, in_t v, uint32 hint, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_binary_search_hint(r->arr, Tr::in(v), hint, ret);
    }
    static int linear_search(const Rec *r, in_t v, uint32 start, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_linear_search(r->arr, Tr::in(v), start, ret);
    }
    static int linear_search_custom(const Rec *r, in_t v, uint32 start,
                                    array_elem_compare_func compare, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_linear_search_custom(r->arr, Tr::in(v), start, compare, ret);
    }
    static int best_search(const Rec *r, in_t v, uint32 *ret)
    {
        bail_null(ret);
        *ret = 0;
        bail_null(r);
        return array_best_search(r->arr, Tr::in(v), ret);
    }

    struct foreach_ctx {
        const Rec *rec;
        foreach_fn callback;
        void *data;
    };
    static int trampoline(const array *, uint32 idx, void *e, void *data)
    {
        const auto *c = static_cast<const foreach_ctx *>(data);
        return c->callback(c->rec, idx, Tr::quick(e), c->data);
    }
    static int foreach (const Rec *r, foreach_fn callback, void *data)
    {
        bail_null(r);
        bail_null(callback);
        foreach_ctx c{r, callback, data};
        return array_foreach(r->arr, trampoline, &c);
    }
    static int foreach_delete(Rec *r, foreach_fn callback, void *data)
    {
        bail_null(r);
        bail_null(callback);
        foreach_ctx c{r, callback, data};
        return array_foreach_delete(r->arr, trampoline, &c);
    }
};

} // namespace detail

// ---------------------------------------------------------------------------
// The member lists.  X(impl type, attr, result, name, (params), impl, (args)).

#define LC_TA_ND_ [[nodiscard]]
#define LC_TA_NONE_

#define LC_TA_MEMBERS_(X, P, TY, IMPL_T)                                                           \
    X(IMPL_T, LC_TA_ND_, int, P##_new, (P * *ret), create, (ret))                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_new_full, (P * *ret, const array_options *opts), create_full,    \
      (ret, opts))                                                                                 \
    X(IMPL_T, LC_TA_ND_, int, P##_options_get, (const P *arr, array_options *ret), options_get,    \
      (arr, ret))                                                                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_options_set, (P * arr, const array_options *opts), options_set,  \
      (arr, opts))                                                                                 \
    X(IMPL_T, LC_TA_NONE_, int, P##_free, (P * *arr), destroy, (arr))                              \
    X(IMPL_T, LC_TA_ND_, int, P##_empty, (P * arr), empty, (arr))                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_compact, (P * arr), compact, (arr))                              \
    X(IMPL_T, LC_TA_ND_, int, P##_compact_empty_slots, (P * arr), compact_empty_slots, (arr))      \
    X(IMPL_T, LC_TA_ND_, int, P##_duplicate, (const P *src, P **ret), duplicate, (src, ret))       \
    X(IMPL_T, LC_TA_ND_, int, P##_concat, (P * arr, P * *src), concat, (arr, src))                 \
    X(IMPL_T, LC_TA_ND_, int, P##_append_array, (P * arr, const P *src), append_array, (arr, src)) \
    X(IMPL_T, LC_TA_ND_, int, P##_length, (const P *arr, uint32 *ret), length, (arr, ret))         \
    X(IMPL_T, LC_TA_NONE_, uint32, P##_length_quick, (const P *arr), length_quick, (arr))          \
    X(IMPL_T, LC_TA_ND_, int, P##_equal, (const P *a, const P *b, tbool *ret), equal, (a, b, ret)) \
    X(IMPL_T, LC_TA_ND_, int, P##_get, (const P *arr, uint32 idx, TY::get_t *ret), get,            \
      (arr, idx, ret))                                                                             \
    X(IMPL_T, LC_TA_NONE_, TY::quick_t, P##_get_quick, (const P *arr, uint32 idx), get_quick,      \
      (arr, idx))                                                                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_set, (P * arr, uint32 idx, TY::in_t elem), set,                  \
      (arr, idx, elem))                                                                            \
    X(IMPL_T, LC_TA_ND_, int, P##_append, (P * arr, TY::in_t elem), append, (arr, elem))           \
    X(IMPL_T, LC_TA_ND_, int, P##_insert, (P * arr, uint32 idx, TY::in_t elem), insert,            \
      (arr, idx, elem))                                                                            \
    X(IMPL_T, LC_TA_ND_, int, P##_insert_sorted, (P * arr, TY::in_t elem), insert_sorted,          \
      (arr, elem))                                                                                 \
    X(IMPL_T, LC_TA_ND_, int, P##_insert_sorted_hint, (P * arr, uint32 hint, TY::in_t elem),       \
      insert_sorted_hint, (arr, hint, elem))                                                       \
    X(IMPL_T, LC_TA_ND_, int, P##_find_insertion_point,                                            \
      (const P *arr, TY::in_t elem, uint32 *ret), find_insertion_point, (arr, elem, ret))          \
    X(IMPL_T, LC_TA_ND_, int, P##_find_insertion_point_hint,                                       \
      (const P *arr, TY::in_t elem, uint32 hint, uint32 *ret), find_insertion_point_hint,          \
      (arr, elem, hint, ret))                                                                      \
    X(IMPL_T, LC_TA_ND_, int, P##_delete, (P * arr, uint32 idx), del, (arr, idx))                  \
    X(IMPL_T, LC_TA_ND_, int, P##_delete_no_shift, (P * arr, uint32 idx), del_no_shift,            \
      (arr, idx))                                                                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_remove, (P * arr, uint32 idx, TY::take_t * ret), remove,         \
      (arr, idx, ret))                                                                             \
    X(IMPL_T, LC_TA_ND_, int, P##_remove_no_shift, (P * arr, uint32 idx, TY::take_t * ret),        \
      remove_no_shift, (arr, idx, ret))                                                            \
    X(IMPL_T, LC_TA_ND_, int, P##_delete_by_value, (P * arr, TY::in_t elem), del_by_value,         \
      (arr, elem))                                                                                 \
    X(IMPL_T, LC_TA_ND_, int, P##_remove_by_value, (P * arr, TY::in_t elem, TY::take_t * ret),     \
      remove_by_value, (arr, elem, ret))                                                           \
    X(IMPL_T, LC_TA_ND_, int, P##_push, (P * arr, TY::in_t elem), push, (arr, elem))               \
    X(IMPL_T, LC_TA_ND_, int, P##_pop, (P * arr, TY::take_t * ret), pop, (arr, ret))               \
    X(IMPL_T, LC_TA_ND_, int, P##_peek, (const P *arr, TY::get_t *ret), peek, (arr, ret))          \
    X(IMPL_T, LC_TA_ND_, int, P##_sort, (P * arr), sort, (arr))                                    \
    X(IMPL_T, LC_TA_ND_, int, P##_sort_custom, (P * arr, array_elem_compare_func compare),         \
      sort_custom, (arr, compare))                                                                 \
    X(IMPL_T, LC_TA_ND_, int, P##_binary_search, (const P *arr, TY::in_t elem, uint32 *ret),       \
      binary_search, (arr, elem, ret))                                                             \
    X(IMPL_T, LC_TA_ND_, int, P##_binary_search_hint,                                              \
      (const P *arr, TY::in_t elem, uint32 hint, uint32 *ret), binary_search_hint,                 \
      (arr, elem, hint, ret))                                                                      \
    X(IMPL_T, LC_TA_ND_, int, P##_linear_search,                                                   \
      (const P *arr, TY::in_t elem, uint32 start, uint32 *ret), linear_search,                     \
      (arr, elem, start, ret))                                                                     \
    X(IMPL_T, LC_TA_ND_, int, P##_linear_search_custom,                                            \
      (const P *arr, TY::in_t elem, uint32 start, array_elem_compare_func compare, uint32 *ret),   \
      linear_search_custom, (arr, elem, start, compare, ret))                                      \
    X(IMPL_T, LC_TA_ND_, int, P##_best_search, (const P *arr, TY::in_t elem, uint32 *ret),         \
      best_search, (arr, elem, ret))                                                               \
    X(IMPL_T, LC_TA_ND_, int, P##_foreach, (const P *arr, P##_foreach_func callback, void *data),  \
      foreach, (arr, callback, data))                                                              \
    X(IMPL_T, LC_TA_ND_, int, P##_foreach_delete,                                                  \
      (P * arr, P##_foreach_func callback, void *data), foreach_delete, (arr, callback, data))

// Members of the arrays of owned objects and boxed values.
#define LC_TA_TAKEOVER_MEMBERS_(X, P, TY, IMPL_T)                                                  \
    X(IMPL_T, LC_TA_ND_, int, P##_set_takeover, (P * arr, uint32 idx, TY::own_t * elem),           \
      set_takeover, (arr, idx, elem))                                                              \
    X(IMPL_T, LC_TA_ND_, int, P##_append_takeover, (P * arr, TY::own_t * elem), append_takeover,   \
      (arr, elem))                                                                                 \
    X(IMPL_T, LC_TA_ND_, int, P##_insert_takeover, (P * arr, uint32 idx, TY::own_t * elem),        \
      insert_takeover, (arr, idx, elem))                                                           \
    X(IMPL_T, LC_TA_ND_, int, P##_insert_sorted_takeover, (P * arr, TY::own_t * elem),             \
      insert_sorted_takeover, (arr, elem))                                                         \
    X(IMPL_T, LC_TA_ND_, int, P##_insert_sorted_hint_takeover,                                     \
      (P * arr, uint32 hint, TY::own_t * elem), insert_sorted_hint_takeover, (arr, hint, elem))    \
    X(IMPL_T, LC_TA_ND_, int, P##_push_takeover, (P * arr, TY::own_t * elem), push_takeover,       \
      (arr, elem))

#define LC_TA_DECL_(IMPL_T, ATTR, R, NAME, PARAMS, IMPL, ARGS) ATTR R NAME PARAMS;
#define LC_TA_DEF_(IMPL_T, ATTR, R, NAME, PARAMS, IMPL, ARGS)                                      \
    R NAME PARAMS                                                                                  \
    {                                                                                              \
        return IMPL_T::IMPL ARGS;                                                                  \
    }

#define LC_TYPED_ARRAY_DECLARE_(P, TY)                                                             \
    struct P {                                                                                     \
        array *arr;                                                                                \
    };                                                                                             \
    typedef int (*P##_foreach_func)(const P *arr, uint32 idx, TY::quick_t elem, void *data);       \
    LC_TA_MEMBERS_(LC_TA_DECL_, P, TY, _)                                                          \
    LC_OWNED_FREE(P, P##_free)

// ---------------------------------------------------------------------------
// Public stamping macros (see the top of this file).  DECLARE goes in a
// header at global scope, DEFINE in exactly one .cc file at global scope.

#define LC_TYPED_ARRAY_DECLARE_OWNED(P, T)                                                         \
    LC_TYPED_ARRAY_DECLARE_(P, detail::ta_owned_types<T>)                                          \
    LC_TA_TAKEOVER_MEMBERS_(LC_TA_DECL_, P, detail::ta_owned_types<T>, _)
#define LC_TYPED_ARRAY_DECLARE_BOXED(P, V)                                                         \
    LC_TYPED_ARRAY_DECLARE_(P, detail::ta_boxed_types<V>)                                          \
    LC_TA_TAKEOVER_MEMBERS_(LC_TA_DECL_, P, detail::ta_boxed_types<V>, _)
#define LC_TYPED_ARRAY_DECLARE_VALUE(P, V) LC_TYPED_ARRAY_DECLARE_(P, detail::ta_value_types<V>)

// The implementation type is named through an alias (its template
// arguments hold commas, which a macro argument cannot).
#define LC_TYPED_ARRAY_DEFINE_OWNED(P, T, cmp, dup, free_fn)                                       \
    using P##_ta_impl_ = detail::typed_array<P, detail::ta_owned<T, cmp, dup, free_fn>>;           \
    LC_TA_MEMBERS_(LC_TA_DEF_, P, detail::ta_owned_types<T>, P##_ta_impl_)                         \
    LC_TA_TAKEOVER_MEMBERS_(LC_TA_DEF_, P, detail::ta_owned_types<T>, P##_ta_impl_)
#define LC_TYPED_ARRAY_DEFINE_BOXED(P, V)                                                          \
    using P##_ta_impl_ = detail::typed_array<P, detail::ta_boxed<V>>;                              \
    LC_TA_MEMBERS_(LC_TA_DEF_, P, detail::ta_boxed_types<V>, P##_ta_impl_)                         \
    LC_TA_TAKEOVER_MEMBERS_(LC_TA_DEF_, P, detail::ta_boxed_types<V>, P##_ta_impl_)
#define LC_TYPED_ARRAY_DEFINE_VALUE(P, V)                                                          \
    using P##_ta_impl_ = detail::typed_array<P, detail::ta_value<V>>;                              \
    LC_TA_MEMBERS_(LC_TA_DEF_, P, detail::ta_value_types<V>, P##_ta_impl_)

// ---------------------------------------------------------------------------
// The typed arrays of this module.

LC_TYPED_ARRAY_DECLARE_VALUE(uint32_array, uint32)
LC_TYPED_ARRAY_DECLARE_BOXED(uint64_array, uint64)
LC_TYPED_ARRAY_DECLARE_BOXED(int64_array, int64)
LC_TYPED_ARRAY_DECLARE_VALUE(float32_array, float32)
LC_TYPED_ARRAY_DECLARE_VALUE(tbool_array, tbool)
LC_TYPED_ARRAY_DECLARE_VALUE(lt_time_sec_array, lt_time_sec)

// Smallest / largest value; lc_err_not_found (unlogged) when empty.
[[nodiscard]] int uint32_array_get_min(const uint32_array *arr, uint32 *ret);
[[nodiscard]] int uint32_array_get_max(const uint32_array *arr, uint32 *ret);
// Smallest value not in the array (0 for an empty one), in any order.
[[nodiscard]] int uint32_array_get_first_absent(const uint32_array *arr, uint32 *ret);
// Parses a comma-separated list of base-10 numbers ("1,5, 7"; blanks around
// numbers allowed; "" is the empty list) into a new sorted array, and its
// element count.  Anything else is lc_err_parse_error with nothing returned.
[[nodiscard]] int uint32_array_new_from_list(uint32_array **ret, const char *list,
                                             uint32 *ret_count);
// Prints the array as "1,5,7" (each "%u" followed by "," except the last)
// into a new malloc'ed string owned by the caller; "" for an empty array.
[[nodiscard]] int uint32_array_to_list(const uint32_array *arr, char **ret_list);
