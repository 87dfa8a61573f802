// Bindings: named management data, and arrays of them.
//
// A binding (`bn_binding`) is a node name such as
// /qz/iptrackd/config/manager/m1/enable with its attributes (bnode_types.h),
// normally the single `ba_value`.  Requests, responses, events and
// configuration changes are arrays of bindings (`bn_binding_array`).
//
// Node names are parts separated by "/"; an absolute name starts with "/".
// Inside a part a "/" is written backslash-slash and a backslash that
// precedes "/" or another backslash is doubled.  Patterns are names whose
// parts may be "*" (one part) or "**" (the rest of the name, one part or
// more).
//
// Ownership: a binding owns its name, its cached name parts and its
// attribute array; a binding array owns its bindings.  `_new`, `_dup`,
// `_copy`, `_detach` and `_str` results belong to the caller (`char *`
// results are malloc()ed: release them with free()); `_const` and `_quick`
// results are borrowed and live as long as the binding is not changed.  Every function returns an
// error code and clears its outputs first unless its comment says otherwise.
#pragma once

#include <cstdarg>

#include "bnode/bnode_types.h"
#include "log/logging.h"
#include "util/tstr_array.h"
#include "util/tstring.h"
#include "util/typed_arrays.h"

// ---------------------------------------------------------------------------
// The binding record

struct bn_binding {
    tstring *name;            // full node name; never null once built
    tstr_array *name_parts;   // cached parts of `name`, or null
    uint32 name_is_absolute;  // belongs to name_parts: the name began with "/"
    bn_attrib_array *attribs; // slot i holds the attribute with id i; null until first store
};

// Tokeniser options that split a node name: every separator ends a part, a
// leading separator makes no part, no parts at all is an empty result.
constexpr uint32 bn_name_tokenize_options =
    ts_tokenize_empty_tokens | ts_tokenize_no_leading_empty | ts_tokenize_null_if_empty;
// Joiner option that starts an absolute name with the separator.
constexpr uint32 bn_name_join_absolute_option = ts_join_leading_sep;
// Longest name `bn_bindings_array_detach_subtree` accepts: the "%s/**"
// pattern it forms must fit its 256-byte buffer.
constexpr uint32 bn_subtree_name_max = 252;
// Characters of an address text that the address orderings look at.
constexpr uint32 bn_compare_ipv4_text_max = 19;
constexpr uint32 bn_compare_ipv6_text_max = 59;

// ---------------------------------------------------------------------------
// Construction and destruction.  On failure nothing is returned and
// everything half-built is freed.

// Empty name, no parts, no attributes.
[[nodiscard]] int bn_binding_new(bn_binding **ret);
// A copy of `name`; parts are parsed when first asked for.
[[nodiscard]] int bn_binding_new_named(bn_binding **ret, const char *name);
// A copy of `name` and a deep copy of `attribs` (which may be null).
[[nodiscard]] int bn_binding_new_components(bn_binding **ret, const char *name,
                                            const bn_attrib_array *attribs);
// Named from whichever of `name` and `name_parts` is given: parts alone are
// joined into the name (absolute when `is_absolute`) and cached; a name
// alone is copied and parsed into the cache; both are copied unchanged;
// neither gives an empty name.  `attribs` (optional) is deep-copied.
[[nodiscard]] int bn_binding_new_parts_components(bn_binding **ret, const char *name,
                                                  const tstr_array *name_parts, bool is_absolute,
                                                  const bn_attrib_array *attribs);
// The same, owning whatever is passed: the caller's pointers are cleared on
// success, and on failure every object passed is freed (and cleared) too.
[[nodiscard]] int bn_binding_new_parts_components_takeover(bn_binding **ret, tstring **name,
                                                           tstr_array **name_parts,
                                                           bool is_absolute,
                                                           bn_attrib_array **attribs);
// A named binding holding a copy of `attrib` in the slot of its id.
[[nodiscard]] int bn_binding_new_attrib(bn_binding **ret, const char *name,
                                        const bn_attrib *attrib);
// A named binding whose "binary" `attribute_id` takes over `*buf` (cleared;
// freed on failure too).
[[nodiscard]] int bn_binding_new_binary_takeover(bn_binding **ret, const char *name,
                                                 bn_attribute_id attribute_id, uint32 type_flags,
                                                 tbuf **buf);
// Deep copy of name, cached parts (with their absolute flag) and attributes.
[[nodiscard]] int bn_binding_dup(const bn_binding *src, bn_binding **ret);
// Frees attributes, parts, name and record; nulls `*binding`; null is fine.
int bn_binding_free(bn_binding **binding);
LC_OWNED_FREE(bn_binding, bn_binding_free)

// ---------------------------------------------------------------------------
// Name access

[[nodiscard]] int bn_binding_get_name(const bn_binding *binding, const tstring **ret);
// Unchecked: the name, or null for a null binding.
const tstring *bn_binding_get_name_quick(const bn_binding *binding);
// A heap copy of the name (free with free()).
[[nodiscard]] int bn_binding_get_name_str(const bn_binding *binding, char **ret);
// Replaces the name and drops the cached parts.
[[nodiscard]] int bn_binding_set_name(bn_binding *binding, const char *name);
// Caches a copy of `parts` only when nothing is cached yet; else a no-op.
[[nodiscard]] int bn_binding_set_name_parts(bn_binding *binding, const tstr_array *parts,
                                            bool is_absolute);
// The cached parts, or null when none are cached; `ret_is_absolute` is optional.
[[nodiscard]] int bn_binding_get_name_parts_const(const bn_binding *binding, const tstr_array **ret,
                                                  bool *ret_is_absolute);
const tstr_array *bn_binding_get_name_parts_quick(const bn_binding *binding);
// Name, cached parts (or null) and their absolute flag; every output optional.
[[nodiscard]] int bn_binding_get_name_and_name_parts_const(const bn_binding *binding,
                                                           const tstring **ret_name,
                                                           const tstr_array **ret_parts,
                                                           bool *ret_is_absolute);
// A caller-owned copy of the parts.  When none are cached the name is
// parsed and the parse is cached in the binding (the binding is logically
// unchanged).  A relative name fails with lc_err_assertion_failed.
[[nodiscard]] int bn_binding_get_name_parts(const bn_binding *binding, tstr_array **ret);
// The last part, unescaped, as a heap string; null for a name without parts.
[[nodiscard]] int bn_binding_get_name_last_part(const bn_binding *binding, char **ret);
[[nodiscard]] int bn_binding_name_get_last_part(const char *name, char **ret);

// Fetches `count` chosen parts at once.  After `count` come `count` pairs
// of a uint32 part index (strictly increasing) and a `tstring **` output.
// All indexes and outputs are checked before anything is handed out: a
// first index beyond the parts is lc_err_not_found unless `allow_missing`,
// a later index not above the one before is lc_err_assertion_failed, a null
// output lc_err_unexpected_null, and any missing index lc_err_not_found
// unless `allow_missing`.  Outputs are not cleared: a missing part under
// `allow_missing` leaves its output untouched.
[[nodiscard]] int bn_binding_get_name_parts_va(const bn_binding *binding, bool allow_missing,
                                               uint32 count, uint32 index1, tstring **ret1, ...);
[[nodiscard]] int bn_binding_name_to_parts_va(const char *name, bool allow_missing, uint32 count,
                                              uint32 index1, tstring **ret1, ...);
// The same over parts already split: each selected part is taken out of
// `parts` (its slot left empty) and handed to the caller.
[[nodiscard]] int bn_binding_name_parts_to_parts_va(tstr_array *parts, bool allow_missing,
                                                    uint32 count, uint32 index1, tstring **ret1,
                                                    ...);

// ---------------------------------------------------------------------------
// Attribute access

// Borrowed attribute of id `attribute_id`; null with success for an empty
// or missing slot.
[[nodiscard]] int bn_binding_get_attrib(const bn_binding *binding, bn_attribute_id attribute_id,
                                        const bn_attrib **ret);
// A deep copy of it (null when absent).
[[nodiscard]] int bn_binding_get_attrib_copy(const bn_binding *binding,
                                             bn_attribute_id attribute_id, bn_attrib **ret);
// Takes it out of the binding, leaving the slot empty (null when absent).
[[nodiscard]] int bn_binding_get_attrib_detach(bn_binding *binding, bn_attribute_id attribute_id,
                                               bn_attrib **ret);
// The whole attribute array, borrowed (null when none was ever stored).
[[nodiscard]] int bn_binding_get_attribs(const bn_binding *binding, const bn_attrib_array **ret);
// The whole attribute array, taken; the binding is left without attributes.
[[nodiscard]] int bn_binding_get_attribs_detach(bn_binding *binding, bn_attrib_array **ret);
// Stores a copy of `attrib` at slot `attribute_id`, creating the array if
// needed and freeing what was there.
[[nodiscard]] int bn_binding_set_attrib(bn_binding *binding, bn_attribute_id attribute_id,
                                        const bn_attrib *attrib);
// The same, taking `*attrib` (cleared; freed on failure too).
[[nodiscard]] int bn_binding_set_attrib_takeover(bn_binding *binding, bn_attribute_id attribute_id,
                                                 bn_attrib **attrib);
// Number of attributes present (empty slots are not counted).
[[nodiscard]] int bn_binding_get_num_attribs(const bn_binding *binding, uint32 *ret);
// Type code and flags of attribute `attribute_id` (0 and 0 for an empty
// slot); the lookup error for a missing array or an id beyond it.
[[nodiscard]] int bn_binding_get_type(const bn_binding *binding, bn_attribute_id attribute_id,
                                      bn_type *ret_type, uint32 *ret_flags);
// bn_attrib_compare of the two attributes with that id (absent ones count
// as null attributes).
[[nodiscard]] int bn_binding_compare_attribs(const bn_binding *a, const bn_binding *b,
                                             bn_attribute_id attribute_id, int *ret_result);

// ---------------------------------------------------------------------------
// Per-type family, binding level: for every member of BN_ATTRIB_TYPES
// (bnode_types.h)
//   bn_binding_set_<T>: stores a new attribute at slot `attribute_id`,
//     replacing (freeing) what was there;
//   bn_binding_new_<T>: bn_binding_new_named, then bn_binding_set_<T>;
//   bn_binding_new_parts_<T>: the same, named through
//     bn_binding_new_parts_components;
//   bn_binding_get_<T>: the attribute of that id, which must be of type T.
//     An empty slot succeeds with `*ret_type_and_flags` 0 and `*ret`
//     untouched; no attribute array (lc_err_unexpected_null) or an id
//     beyond it (lc_err_not_found) is logged and returned; a null binding
//     logs "NULL binding passed".
#define BN_BINDING_FAMILY_DECLARE(name, code, arg_t, ret_t)                                        \
    [[nodiscard]] int bn_binding_set_##name(bn_binding *binding, bn_attribute_id attribute_id,     \
                                            uint32 type_flags, arg_t value);                       \
    [[nodiscard]] int bn_binding_new_##name(bn_binding **ret, const char *binding_name,            \
                                            bn_attribute_id attribute_id, uint32 type_flags,       \
                                            arg_t value);                                          \
    [[nodiscard]] int bn_binding_new_parts_##name(                                                 \
        bn_binding **ret, const char *binding_name, const tstr_array *name_parts,                  \
        bool is_absolute, bn_attribute_id attribute_id, uint32 type_flags, arg_t value);           \
    [[nodiscard]] int bn_binding_get_##name(const bn_binding *binding,                             \
                                            bn_attribute_id attribute_id,                          \
                                            uint32 *ret_type_and_flags, ret_t ret);
BN_ATTRIB_TYPES(BN_BINDING_FAMILY_DECLARE)
#undef BN_BINDING_FAMILY_DECLARE

// Text forms: `text` is parsed as `type` (bn_attrib_set_str); a text that
// does not convert fails with the converter's code, unlogged.
[[nodiscard]] int bn_binding_set_str(bn_binding *binding, bn_attribute_id attribute_id,
                                     bn_type type, uint32 type_flags, const char *text);
[[nodiscard]] int bn_binding_new_str(bn_binding **ret, const char *name,
                                     bn_attribute_id attribute_id, bn_type type, uint32 type_flags,
                                     const char *text);
[[nodiscard]] int bn_binding_new_parts_str(bn_binding **ret, const char *name,
                                           const tstr_array *name_parts, bool is_absolute,
                                           bn_attribute_id attribute_id, bn_type type,
                                           uint32 type_flags, const char *text);
// As above, but a text that does not convert (lc_err_bad_type) is retried
// once with btf_invalid added: the binding gets the type, marked invalid.
[[nodiscard]] int bn_binding_new_str_autoinval(bn_binding **ret, const char *name,
                                               bn_attribute_id attribute_id, bn_type type,
                                               uint32 type_flags, const char *text);
[[nodiscard]] int bn_binding_new_parts_str_autoinval(bn_binding **ret, const char *name,
                                                     const tstr_array *name_parts, bool is_absolute,
                                                     bn_attribute_id attribute_id, bn_type type,
                                                     uint32 type_flags, const char *text);

// Readers of any type.  An empty slot succeeds with a null result (and
// `*ret_type_and_flags` 0); no attribute array or an id beyond it logs
// "Can't get attribute %s of binding %s" and returns the lookup error; a
// null binding logs "NULL binding passed".  `expected_type` 0 accepts any
// type; otherwise a different type fails with lc_err_assertion_failed.
// The printed value, as a heap string (free()).
[[nodiscard]] int bn_binding_get_str(const bn_binding *binding, bn_attribute_id attribute_id,
                                     bn_type expected_type, uint32 *ret_type_and_flags, char **ret);
[[nodiscard]] int bn_binding_get_tstr(const bn_binding *binding, bn_attribute_id attribute_id,
                                      bn_type expected_type, uint32 *ret_type_and_flags,
                                      tstring **ret);
// The printed value into `buf` (an empty slot gives the empty text).
[[nodiscard]] int bn_binding_get_buf(const bn_binding *binding, bn_attribute_id attribute_id,
                                     bn_type expected_type, uint32 *ret_type_and_flags, char *buf,
                                     uint32 buf_size);
// Borrowed string of a string-type attribute.
[[nodiscard]] int bn_binding_get_tstring_const(const bn_binding *binding,
                                               bn_attribute_id attribute_id, bn_type expected_type,
                                               uint32 *ret_type_and_flags, const tstring **ret);
// Borrowed buffer / bytes of a "binary" attribute.
[[nodiscard]] int bn_binding_get_tbuf_const(const bn_binding *binding, bn_attribute_id attribute_id,
                                            uint32 *ret_type_and_flags, const tbuf **ret);
[[nodiscard]] int bn_binding_get_buf_const(const bn_binding *binding, bn_attribute_id attribute_id,
                                           uint32 *ret_type_and_flags, const uint8 **ret_bytes,
                                           uint32 *ret_len);
// Takes the attribute out of the binding (its slot left empty) and hands
// its string / buffer to the caller.  A type mismatch leaves the binding
// unchanged.
[[nodiscard]] int bn_binding_get_tstring_detach(bn_binding *binding, bn_attribute_id attribute_id,
                                                bn_type expected_type, uint32 *ret_type_and_flags,
                                                tstring **ret);
[[nodiscard]] int bn_binding_get_tbuf_detach(bn_binding *binding, bn_attribute_id attribute_id,
                                             uint32 *ret_type_and_flags, tbuf **ret);
// The decoded text of a "secret" attribute (null for an empty slot).
[[nodiscard]] int bn_binding_get_secret(const bn_binding *binding, bn_attribute_id attribute_id,
                                        char **ret);

// ---------------------------------------------------------------------------
// Names and parts

// Splits a name; an empty name (or "/") gives an empty array.
[[nodiscard]] int bn_binding_name_to_parts(const char *name, tstr_array **ret_parts,
                                           bool *ret_is_absolute);
// Joins parts with escaping; `is_absolute` puts a leading "/".  The result
// splits back into the same parts (provided the first part is not empty).
[[nodiscard]] int bn_binding_name_parts_to_name(const tstr_array *parts, bool is_absolute,
                                                char **ret_name);
[[nodiscard]] int bn_binding_name_parts_to_name_tstr(const tstr_array *parts, bool is_absolute,
                                                     tstring **ret_name);
// Joins parts `first` up to but excluding `end` (-1: to the last part).  A
// null array, a negative `end` after resolution, or `first` not below `end`
// succeeds with nothing returned.
[[nodiscard]] int bn_binding_name_parts_partial_to_name(const tstr_array *parts, uint32 first,
                                                        int32 end, bool is_absolute, char **ret);
// Joins `count` plain parts given as `const char *` arguments.
[[nodiscard]] int bn_binding_name_parts_to_name_va(bool is_absolute, char **ret, uint32 count,
                                                   const char *part1, ...);
// The escaped form of one part.
[[nodiscard]] int bn_binding_name_escape_str(const char *part, char **ret);
// Parses `name`, appends the unescaped `part`, joins again keeping the
// name's absoluteness.
[[nodiscard]] int bn_binding_name_append_part(const char *name, const char *part, char **ret);

// ---------------------------------------------------------------------------
// Pattern matching.  True on a match; a null argument or any internal
// failure counts as no match.

bool bn_binding_name_pattern_match(const char *name, const char *pattern);
bool bn_binding_name_parts_pattern_match(const tstr_array *name_parts, bool is_absolute,
                                         const char *pattern);
// Matches the parts from `start` on; the absoluteness of `pattern` is not
// looked at, so "*/enable" and "/*/enable" behave alike here.
bool bn_binding_name_parts_pattern_match_rel(const tstr_array *name_parts, uint32 start,
                                             const char *pattern);
bool bn_binding_name_pattern_parts_match(const char *name, const tstr_array *pattern_parts,
                                         bool is_absolute);
bool bn_binding_name_parts_pattern_parts_match(const tstr_array *name_parts, bool is_absolute,
                                               const tstr_array *pattern_parts,
                                               bool pattern_is_absolute);

// ---------------------------------------------------------------------------
// Binding arrays: the typed array (util/typed_arrays.h) of owned bindings,
// compared by name, copied with bn_binding_dup and freed with
// bn_binding_free; duplicates allowed, sortedness checked.  Appends leave the
// array unsorted; once sorted (bn_binding_array_sort, sorted insertion) the
// name lookups below search by halving.

LC_TYPED_ARRAY_DECLARE_OWNED(bn_binding_array, bn_binding)

// Index value meaning "no such binding".
constexpr uint32 bn_binding_array_no_index = 0xFFFFFFFFu;

// Array comparison by name: tstring byte comparison of the two names (the
// arguments point at array slots holding `bn_binding *`; an empty slot sorts
// first).
int bn_binding_compare_names_for_array(const void *slot_a, const void *slot_b);

// Index of the first binding named exactly `name`; bn_binding_array_no_index
// with success when there is none.
[[nodiscard]] int bn_binding_array_get_index_by_name(const bn_binding_array *array,
                                                     const char *name, uint32 *ret_index);
// The binding named `name`, borrowed; null with success when absent.
[[nodiscard]] int bn_binding_array_get_binding_by_name(const bn_binding_array *array,
                                                       const char *name, const bn_binding **ret);
// The same for the name "<prefix>/<rel_name>".
[[nodiscard]] int bn_binding_array_get_binding_by_name_rel(const bn_binding_array *array,
                                                           const char *prefix, const char *rel_name,
                                                           const bn_binding **ret);
// The same for a printf-formatted name.
[[nodiscard, gnu::format(printf, 3, 4)]] int
bn_binding_array_get_binding_by_name_fmt(const bn_binding_array *array, const bn_binding **ret,
                                         const char *format, ...);
// Removes the binding named `name` (later ones shift down) and hands it to
// the caller; null with success when absent.
[[nodiscard]] int bn_binding_array_detach_binding_by_name(bn_binding_array *array, const char *name,
                                                          bn_binding **ret);
[[nodiscard]] int bn_binding_array_detach_binding_by_name_rel(bn_binding_array *array,
                                                              const char *prefix,
                                                              const char *rel_name,
                                                              bn_binding **ret);
// The printed value attribute of the named binding; null with success when
// the binding is absent.
[[nodiscard]] int bn_binding_array_get_value_tstr_by_name(const bn_binding_array *array,
                                                          const char *name,
                                                          uint32 *ret_type_and_flags,
                                                          tstring **ret);
[[nodiscard]] int bn_binding_array_get_value_tstr_by_name_rel(const bn_binding_array *array,
                                                              const char *prefix,
                                                              const char *rel_name,
                                                              uint32 *ret_type_and_flags,
                                                              tstring **ret);
// The value of a "bool" binding (false with success when absent).
[[nodiscard]] int bn_binding_array_get_value_tbool_by_name(const bn_binding_array *array,
                                                           const char *name,
                                                           uint32 *ret_type_and_flags, tbool *ret);

// The first binding from index `start` on whose name matches `pattern`.
// Outputs are cleared first (the index to bn_binding_array_no_index) and
// stay so when none matches; that is not an error.
[[nodiscard]] int bn_binding_array_get_first_matching_binding(const bn_binding_array *array,
                                                              const char *pattern, uint32 start,
                                                              uint32 *ret_index,
                                                              const bn_binding **ret);
// The printed value of that binding.
[[nodiscard]] int bn_binding_array_get_first_matching_value_tstr(const bn_binding_array *array,
                                                                 const char *pattern, uint32 start,
                                                                 uint32 *ret_index,
                                                                 uint32 *ret_type_and_flags,
                                                                 tstring **ret);
// That binding, removed from the array and handed to the caller.
[[nodiscard]] int bn_binding_array_detach_first_matching_binding(bn_binding_array *array,
                                                                 const char *pattern, uint32 start,
                                                                 uint32 *ret_index,
                                                                 bn_binding **ret);
// Removes every binding below `name` (pattern "<name>/**"; the node itself
// stays).  With `ret` they come back in a new array in their old order,
// otherwise they are freed.  `name` is at most bn_subtree_name_max bytes.
[[nodiscard]] int bn_bindings_array_detach_subtree(bn_binding_array *array, const char *name,
                                                   bn_binding_array **ret);

// For every binding matching `pattern`, in array order: its value printed,
// split as a node name, and the part at `part_index` collected.  Bindings
// without a value or without that part add nothing.
[[nodiscard]] int bn_binding_array_get_name_part_tstr_array(const bn_binding_array *array,
                                                            const char *pattern, uint32 part_index,
                                                            tstr_array **ret);
[[nodiscard]] int bn_binding_array_get_name_part_tsarray(const bn_binding_array *array,
                                                         const char *pattern, uint32 part_index,
                                                         tstr_array **ret);
// The last name part of every binding, in order (an empty text for a name
// without parts; empty slots add nothing).
[[nodiscard]] int bn_binding_array_get_last_name_parts(const bn_binding_array *array,
                                                       tstr_array **ret);

// Logs every element at `log_level`, one line each:
//   "<prefix>: [i] <name> = <value> (<type name>)"
// ("[i] ..." without a prefix), "<prefix>: [i] NULL" for an empty slot,
// "[Binary data: length N]" as the value of a "binary" attribute, and
// "(null)" with type "none" for a binding without a value attribute.
// Nothing is formatted when the level is not enabled.
[[nodiscard]] int bn_binding_array_dump(const char *prefix, const bn_binding_array *array,
                                        int log_level);

// Orderings for sorting by address (array comparison callbacks).  The
// `tstr_` forms take slots holding `tstring *`, the `bn_binding_name_`
// forms slots holding `bn_binding *`, compared by their last name part.  The
// text is an address optionally followed by "/" and a decimal length; the
// order is by address, then by length (-1, 0, 1).  IPv4 texts are read up
// to bn_compare_ipv4_text_max characters and ordered by value; IPv6 texts
// up to bn_compare_ipv6_text_max characters and ordered as the "ipv6addr"
// attribute comparison orders them (first address byte least
// significant).  A text that does not convert counts as address 0; an empty
// slot sorts first.
int tstr_compare_ip(const void *slot_a, const void *slot_b);
int bn_binding_name_compare_ip(const void *slot_a, const void *slot_b);
int tstr_compare_ipv6(const void *slot_a, const void *slot_b);
int bn_binding_name_compare_ipv6(const void *slot_a, const void *slot_b);
