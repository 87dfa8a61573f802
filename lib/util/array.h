// The generic array: a growable vector of pointer-sized slots with
// per-array element callbacks.
//
// Every typed array of the system (util/typed_arrays.h) is a thin record over
// one of these.  A slot holds either an owned object (released with the
// `free` callback when the slot is deleted or the array freed), or a scalar
// value stored in the pointer itself.  Slots may hold null.
//
// Ownership: the copying operations (`array_set`, `array_insert`,
// `array_append` ...) store a copy made with the `dup` callback; an array
// without `dup` accepts only null through them.  The `_takeover` variants
// store the caller's pointer itself and always clear the caller's variable:
// on failure the element is released with `free` (the array owns it either
// way), except when `a` itself is null, when the element stays with the
// caller.  `array_remove*` and `array_pop` hand the element to the caller;
// `array_get*` and `array_peek` lend it.
//
// Outcomes a caller is expected to branch on (lc_err_not_found,
// lc_err_exists, lc_err_multiple) are returned without a log line; misuse
// (bad index, order-dependent operation on an unsorted array, copying
// without `dup`) logs "Required condition was not met" and returns
// lc_err_assertion_failed.
#pragma once

#include "log/logging.h"

// Compares two elements given by pointers to their slots (so a compare of
// owned objects dereferences once more).  Negative, zero or positive.  Must
// accept null elements when the array may hold them.
typedef int (*array_elem_compare_func)(const void *slot_a, const void *slot_b);
// Makes a copy of `element` (never null) into `*ret_copy`.
typedef int (*array_elem_dup_func)(const void *element, void **ret_copy);
// Stores `element` into `*slot`; the default copies the pointer value.
typedef void (*array_elem_assign_func)(void **slot, void *element);
// Releases a non-null element.
typedef void (*array_elem_free_func)(void *element);

// What a sorted insertion or an append does when an equal element exists.
enum array_dup_policy : uint32 {
    adp_allow = 1,   // insert anyway
    adp_replace = 2, // delete the existing element, then insert
    adp_keep = 3,    // keep the existing one; the new one is freed; success
    adp_fail = 4,    // lc_err_exists
};

struct array_options {
    uint32 initial_size;             // slots allocated up front; 10
    array_elem_compare_func compare; // array_default_compare
    array_elem_dup_func dup;         // none
    array_elem_assign_func assign;   // array_default_assign
    array_elem_free_func free;       // none
    uint32 dup_policy;               // adp_allow
    tbool check_sorted;              // 1: order-dependent operations refuse an unsorted array
};

struct array {
    uint32 capacity;     // allocated slots
    uint32 initial_size; // the capacity array_empty returns to
    uint32 length;       // slots in use
    tbool sorted;        // elements known to be in comparison order
    tbool check_sorted;
    uint32 dup_policy;
    void **elements;
    array_elem_compare_func compare;
    array_elem_dup_func dup;
    array_elem_assign_func assign;
    array_elem_free_func free;
};

// Largest number of slots an array may grow to.
constexpr uint32 array_max_slots = 0x7FFFFFFE;
// Number of slots of an array created with default options.
constexpr uint32 array_default_initial_size = 10;

// Compares two slot values as signed 64-bit numbers.
int array_default_compare(const void *slot_a, const void *slot_b);
void array_default_assign(void **slot, void *element);

int array_options_get_defaults(array_options *ret);

// Creates an empty, sorted array; null `opts` gives the defaults.
[[nodiscard]] int array_new(array **ret, const array_options *opts);
// Frees every non-null element, the slots and the record; nulls `*a`.
int array_free(array **a);
LC_OWNED_FREE(array, array_free)

// Current options of `a`.
[[nodiscard]] int array_options_get(const array *a, array_options *ret);
// Replaces the options of `a` (a null compare or assign is refused).  The
// elements already stored are not touched.
[[nodiscard]] int array_options_set(array *a, const array_options *opts);

// Frees the elements; length 0, sorted, capacity back to initial_size.
[[nodiscard]] int array_empty(array *a);
// Capacity reduced to max(length, 1).
[[nodiscard]] int array_compact(array *a);
// Removes the null slots, keeping the order of the others.
[[nodiscard]] int array_compact_empty_slots(array *a);

// Deep copy through `dup` (null slots stay null); same options and flags.
[[nodiscard]] int array_duplicate(const array *src, array **ret);
// Moves every element of `*src` onto the end of `dest` and frees the emptied
// `*src` (its pointer is cleared, on failure too).  No duplicate policy.
[[nodiscard]] int array_concat(array *dest, array **src);
// Copies every element of `src` onto the end of `dest` through dest's `dup`.
[[nodiscard]] int array_append_array(array *dest, const array *src);
// Same length and every pair of elements equal by a's comparison.
[[nodiscard]] int array_equal(const array *a, const array *b, tbool *ret_equal);

[[nodiscard]] int array_length(const array *a, uint32 *ret);
uint32 array_length_quick(const array *a); // 0 for null

// Lends the element at `index`; lc_err_not_found (unlogged) beyond the end.
[[nodiscard]] int array_get(const array *a, uint32 index, void **ret);
void *array_get_quick(const array *a, uint32 index); // null out of range

// Stores a copy at `index`, extending with null slots past the end and
// freeing any element already there.
[[nodiscard]] int array_set(array *a, uint32 index, const void *element);
[[nodiscard]] int array_set_takeover(array *a, uint32 index, void **element);
// Inserts at `index`, shifting later elements up; past the end appends.
[[nodiscard]] int array_insert(array *a, uint32 index, const void *element);
[[nodiscard]] int array_insert_takeover(array *a, uint32 index, void **element);
// Appends, applying the duplicate policy first (linear search).
[[nodiscard]] int array_append(array *a, const void *element);
[[nodiscard]] int array_append_takeover(array *a, void **element);
[[nodiscard]] int array_push(array *a, const void *element);
[[nodiscard]] int array_push_takeover(array *a, void **element);

// Sorted insertion: after every element that compares equal, applying the
// duplicate policy against the element just before.  The hint is accepted
// and not used.
[[nodiscard]] int array_insert_sorted(array *a, const void *element);
[[nodiscard]] int array_insert_sorted_takeover(array *a, void **element);
[[nodiscard]] int array_insert_sorted_hint(array *a, uint32 hint, const void *element);
[[nodiscard]] int array_insert_sorted_hint_takeover(array *a, uint32 hint, void **element);
// Where array_insert_sorted would put `element` (ignoring the policy).
[[nodiscard]] int array_find_insertion_point(const array *a, const void *element, uint32 *ret);
[[nodiscard]] int array_find_insertion_point_hint(const array *a, const void *element, uint32 hint,
                                                  uint32 *ret);

// Takes the element at `index` out, shifting later ones down; the caller
// owns it.  `_no_shift` leaves a null hole and clears `sorted`.  `delete`
// frees instead of handing out.  A bad index is lc_err_assertion_failed.
[[nodiscard]] int array_remove(array *a, uint32 index, void **ret);
[[nodiscard]] int array_delete(array *a, uint32 index);
[[nodiscard]] int array_remove_no_shift(array *a, uint32 index, void **ret);
[[nodiscard]] int array_delete_no_shift(array *a, uint32 index);
// Removes the one element equal to `value`: lc_err_not_found when there is
// none, lc_err_multiple (nothing removed) when there are several.
[[nodiscard]] int array_remove_by_value(array *a, const void *value, void **ret);
[[nodiscard]] int array_delete_by_value(array *a, const void *value);
// Takes out / lends the last element; lc_err_not_found on an empty array.
[[nodiscard]] int array_pop(array *a, void **ret);
[[nodiscard]] int array_peek(const array *a, void **ret);

// Stable sort by the array's / the given comparison; marks the array sorted
// (the custom sort only when `compare` is the array's own).
[[nodiscard]] int array_sort(array *a);
[[nodiscard]] int array_sort_custom(array *a, array_elem_compare_func compare);

// Searches set `*ret` to the index found, or 0 with lc_err_not_found.
// Binary search returns the first of several equal elements; the `_hint`
// form first tries `hint` and returns it on equality.
[[nodiscard]] int array_binary_search(const array *a, const void *value, uint32 *ret);
[[nodiscard]] int array_binary_search_hint(const array *a, const void *value, uint32 hint,
                                           uint32 *ret);
[[nodiscard]] int array_linear_search(const array *a, const void *value, uint32 start, uint32 *ret);
[[nodiscard]] int array_linear_search_custom(const array *a, const void *value, uint32 start,
                                             array_elem_compare_func compare, uint32 *ret);
// Binary search on an array marked sorted, linear search otherwise.
[[nodiscard]] int array_best_search(const array *a, const void *value, uint32 *ret);

// Calls `callback` for each slot in order.  Its return: 0 continues;
// lc_err_foreach_delete deletes the element in array_foreach_delete (the loop
// goes on with the element that moved into its place) and is refused with
// lc_err_assertion_failed by array_foreach; lc_err_foreach_halt_error stops
// with lc_err_generic_error; lc_err_foreach_halt stops and returns the result
// so far; lc_err_cancelled stops and is returned unlogged; any other code
// makes the final result lc_err_generic_error while the loop goes on.
typedef int (*array_foreach_func)(const array *a, uint32 index, void *element, void *data);
[[nodiscard]] int array_foreach(const array *a, array_foreach_func callback, void *data);
[[nodiscard]] int array_foreach_delete(array *a, array_foreach_func callback, void *data);
