// tstr_array: the array of owned tstrings, and tstr_array_array, the array of
// owned tstr_arrays.
//
// Both are typed arrays (util/typed_arrays.h): every generic member exists as
// tstr_array_<member> with the generic rules (growth, sortedness, duplicate
// policy, foreach protocol).  Elements are compared with ts_cmp, copied with
// ts_dup and released with ts_free; slots may hold null.  The copying members
// store copies; the `_takeover` members adopt the caller's object and clear
// the caller's pointer, on failure too.  The `_str` members below take and
// lend plain character strings; their `_takeover` forms adopt a malloc()ed
// `char *`.
//
// This module also holds the part-wise wildcard match on which binding name
// patterns rest: a pattern part "*" matches any one part, "**" the whole rest
// of the name (at least one part); any other part only an identical one.
#pragma once

#include <cstdarg>

#include "util/tstring.h"
#include "util/typed_arrays.h"

LC_TYPED_ARRAY_DECLARE_OWNED(tstr_array, tstring)
LC_TYPED_ARRAY_DECLARE_OWNED(tstr_array_array, tstr_array)

// The options of a tstr_array of its own.
struct tstr_array_options {
    uint32 tao_dup_policy; // array_dup_policy; default 1 (allow)
};

[[nodiscard]] int tstr_array_options_get_defaults(tstr_array_options *ret);

// ---------------------------------------------------------------------------
// Construction

// New empty array; null `opts` gives the defaults.
[[nodiscard]] int tstr_array_new(tstr_array **ret, const tstr_array_options *opts);
// New array of exactly `count` character strings taken from `ap` (a null
// string gives a null slot).
[[nodiscard]] int tstr_array_new_va(tstr_array **ret, const tstr_array_options *opts, uint32 count,
                                    va_list ap);
[[nodiscard]] int tstr_array_new_va_str(tstr_array **ret, const tstr_array_options *opts,
                                        uint32 count, ...);
// New array of the `argc` strings of `argv`.
[[nodiscard]] int tstr_array_new_argv(tstr_array **ret, const tstr_array_options *opts, int argc,
                                      const char *const *argv);
// New array with one one-byte element per byte of `chars`.
[[nodiscard]] int tstr_array_new_charlist(tstr_array **ret, const tstr_array_options *opts,
                                          const char *chars);

// ---------------------------------------------------------------------------
// Elements as character strings

// Lends the text at `index` (null for a null slot); lc_err_not_found beyond
// the end.
[[nodiscard]] int tstr_array_get_str(const tstr_array *arr, uint32 index, const char **ret);
// The text at `index`, or null (null array, null slot, out of range).
const char *tstr_array_get_str_quick(const tstr_array *arr, uint32 index);

// Store a copy of `s` (null gives a null slot) ...
[[nodiscard]] int tstr_array_set_str(tstr_array *arr, uint32 index, const char *s);
[[nodiscard]] int tstr_array_append_str(tstr_array *arr, const char *s);
[[nodiscard]] int tstr_array_insert_str(tstr_array *arr, uint32 index, const char *s);
[[nodiscard]] int tstr_array_insert_str_sorted(tstr_array *arr, const char *s);
[[nodiscard]] int tstr_array_append_sprintf(tstr_array *arr, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// ... or adopt the malloc()ed `*s` (cleared; freed on failure).
[[nodiscard]] int tstr_array_set_str_takeover(tstr_array *arr, uint32 index, char **s);
[[nodiscard]] int tstr_array_append_str_takeover(tstr_array *arr, char **s);
[[nodiscard]] int tstr_array_insert_str_takeover(tstr_array *arr, uint32 index, char **s);
[[nodiscard]] int tstr_array_insert_str_sorted_takeover(tstr_array *arr, char **s);

// Index of the first element equal to `s` at or after `start`;
// lc_err_not_found (index 0) when absent.
[[nodiscard]] int tstr_array_linear_search_str(const tstr_array *arr, const char *s, uint32 start,
                                               uint32 *ret_index);
// The same by binary search on a sorted array (refused on an unsorted one).
[[nodiscard]] int tstr_array_binary_search_str(const tstr_array *arr, const char *s,
                                               uint32 *ret_index);
// Deletes the first element equal to `s`; lc_err_not_found when absent.
[[nodiscard]] int tstr_array_delete_str(tstr_array *arr, const char *s);
// Deletes every element that does not start with `prefix`; null slots stay.
[[nodiscard]] int tstr_array_delete_non_prefixed(tstr_array *arr, const char *prefix);
// Stable sort by the base-10 signed 64-bit value of each element (text that
// does not start with a number, and null slots, count as 0).
[[nodiscard]] int tstr_array_sort_numeric(tstr_array *arr);
// Element-wise ts_cmp; a shorter array (a prefix) sorts first; a null array
// sorts before any array.
int tstr_array_compare(const tstr_array *a, const tstr_array *b);
// Null-terminated malloc()ed copy of the texts (a null slot becomes "");
// release with tstr_array_free_argv.
[[nodiscard]] int tstr_array_to_argv(const tstr_array *arr, char ***ret_argv);
int tstr_array_free_argv(char ***argv);
// Copy of the elements before the first element equal to `s` (all of them
// when none is equal).
[[nodiscard]] int tstr_array_dup_before_matched_str(const tstr_array *arr, const char *s,
                                                    tstr_array **ret);
// Prints one line per element to standard output, "%s[%d]: %s" with a prefix
// or "%d: %s" without; "<NULL>" for a null slot; "[empty array]" and "[null
// array]" for an empty and a null array.
int tstr_array_print(const tstr_array *arr, const char *prefix);

// ---------------------------------------------------------------------------
// Wildcard match of name parts

// Matches `pattern` from `pattern_start` against `parts` from `parts_start`:
// both empty match, one empty does not, a longer pattern does not; "*"
// matches any one part, "**" (when allowed) matches the rest as soon as it is
// reached; otherwise parts must be identical and the lengths equal.  Without
// `allow_double_star`, "**" is an ordinary part.  A start beyond its array is
// lc_err_assertion_failed.
[[nodiscard]] int tstr_array_wildcard_match_ex(const tstr_array *pattern, uint32 pattern_start,
                                               const tstr_array *parts, uint32 parts_start,
                                               tbool allow_double_star, tbool *ret);
// Both from the start, "**" allowed.
[[nodiscard]] int tstr_array_wildcard_match(const tstr_array *pattern, const tstr_array *parts,
                                            tbool *ret);
// The parts from `start`, "**" allowed.
[[nodiscard]] int tstr_array_wildcard_match_rel(const tstr_array *pattern, const tstr_array *parts,
                                                uint32 start, tbool *ret);
// Unchecked forms: any failure counts as no match.
tbool tstr_array_wildcard_match_quick(const tstr_array *pattern, const tstr_array *parts);
tbool tstr_array_wildcard_match_ex_quick(const tstr_array *pattern, const tstr_array *parts,
                                         uint32 start, tbool allow_double_star);
