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
// `_copy`, `_detach` and `_str` results belong to the caller; `_const` and
// `_quick` results are borrowed and live as long as the binding is not
// changed.  Every function returns an error code and clears its outputs
// first unless its comment says otherwise.
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
    tstring *name;             // full node name; never null once built
    tstr_array *name_parts;    // cached parts of `name`, or null
    uint32 name_is_absolute;   // belongs to name_parts: the name began with "/"
    bn_attrib_array *attribs;  // slot i holds the attribute with id i; null until first store
};

// Tokeniser options that split a node name: every separator ends a part, a
// leading separator makes no part, no parts at all is an empty result.
constexpr uint32 bn_name_tokenize_options = 0x04 | 0x08 | 0x20;
// Joiner option that starts an absolute name with the separator.
constexpr uint32 bn_name_join_absolute_option = 0x100;
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
[[nodiscard]] int bn_binding_new_attrib(bn_binding **ret, const char *name, const bn_attrib *attrib);
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
[[nodiscard]] int bn_binding_get_name_parts_const(const bn_binding *binding,
                                                  const tstr_array **ret, bool *ret_is_absolute);
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
[[nodiscard]] int bn_binding_set_attrib_takeover(bn_binding *binding,
                                                 bn_attribute_id attribute_id, bn_attrib **attrib);
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
// Binding arrays

// Array comparison by name: tstring byte comparison of the two names (the
// arguments point at array slots holding `bn_binding *`).
int bn_binding_compare_names_for_array(const void *slot_a, const void *slot_b);

#include "bnode/bnode_array.h"
