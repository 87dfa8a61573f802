// The chained hash table `ht`.
//
// Keys are (pointer, length) pairs and values are pointers; what they point
// to is interpreted only by the table's callbacks: `hash` and `key_equal`
// (byte strings by default), `set` (builds the node's key and value from the
// caller's when an entry is inserted), `dup` (copies a node for
// ht_duplicate) and `free` (releases a node's key and value).  Without
// `set` the node keeps the caller's pointers as they are, and without
// `free` nothing is released: the caller owns keys and values then.
//
// The table has 31 buckets to start with, puts new nodes at the head of
// their chain, grows fourfold once the nodes exceed three per bucket and
// shrinks again when they fall below one per six buckets.
//
// A missing key is an ordinary outcome: ht_lookup reports it through
// `found`, ht_delete / ht_remove return lc_err_not_found unlogged, and an
// insert refused by `fail_on_existing` returns lc_err_exists unlogged.
#pragma once

#include "log/logging.h"

struct ht;
struct tstring;
struct tstr_array;

typedef uint32 (*ht_hash_func)(const void *key, uint32 key_len);
typedef tbool (*ht_key_equal_func)(const void *key_a, uint32 key_a_len, const void *key_b,
                                   uint32 key_b_len);
// Builds the node's key and value from the caller's on insertion.  On
// failure it must leave nothing allocated; the insertion is then dropped.
typedef int (*ht_key_value_set_func)(const void *key, uint32 key_len, void *value, void **ret_key,
                                     uint32 *ret_key_len, void **ret_value);
// Copies a node's key and value, for ht_duplicate.
typedef int (*ht_key_value_dup_func)(const void *key, uint32 key_len, const void *value,
                                     void **ret_key, uint32 *ret_key_len, void **ret_value);
// Releases a node's key and value.
typedef void (*ht_key_value_free_func)(void *key, uint32 key_len, void *value);

struct ht_options {
    ht_hash_func hash;           // null: ht_hash_string_func
    ht_key_equal_func key_equal; // null: ht_key_equal_string_func
    ht_key_value_set_func set;   // null: the node takes the caller's pointers
    ht_key_value_dup_func dup;   // null: ht_duplicate copies the pointers
    ht_key_value_free_func free; // null: nothing released
    tbool fail_on_existing;      // insert of an existing key: lc_err_exists, not replace
};

// Tunables of the table size.
inline constexpr uint32 ht_table_size_initial = 31;
inline constexpr uint32 ht_table_resize_factor = 4;
inline constexpr uint32 ht_table_resize_growth_load_factor = 3;
inline constexpr uint32 ht_table_resize_shrink_load_factor = 6;
inline constexpr uint32 ht_table_size_max = 10485760;

// Bob Jenkins' 1996 32-bit hash (lookup2) of `len` bytes, seeded with
// `initval`; the bytes are taken as unsigned.
uint32 ht_bjh_hash(const void *key, uint32 len, uint32 initval);

// Standard callbacks.  Byte-string keys of the given length:
uint32 ht_hash_string_func(const void *key, uint32 key_len);
tbool ht_key_equal_string_func(const void *key_a, uint32 key_a_len, const void *key_b,
                               uint32 key_b_len);
// Keys whose pointer value is the key itself (length 8 by convention):
uint32 ht_hash_direct_func(const void *key, uint32 key_len);
tbool ht_key_equal_direct_func(const void *key_a, uint32 key_a_len, const void *key_b,
                               uint32 key_b_len);
// `const tstring *` keys, compared and hashed by their text (the length
// argument is ignored).  Defined with the string module.
uint32 ht_hash_tstring_func(const void *key, uint32 key_len);
tbool ht_key_equal_tstring_func(const void *key_a, uint32 key_a_len, const void *key_b,
                                uint32 key_b_len);

// Keys and values both zero-terminated strings, copied (key: key_len bytes
// plus a terminator; a null value stays null).
int ht_string_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                       uint32 *ret_key_len, void **ret_value);
int ht_string_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                       uint32 *ret_key_len, void **ret_value);
void ht_string_free_func(void *key, uint32 key_len, void *value);
// Keys and values both `tstring`, copied; defined with the string module.
int ht_tstring_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                        uint32 *ret_key_len, void **ret_value);
int ht_tstring_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                        uint32 *ret_key_len, void **ret_value);
void ht_tstring_free_func(void *key, uint32 key_len, void *value);
// `tstr_array` values: stored as a copy (dup_set) or adopted (own_set);
// defined with the string module.
int ht_tstr_array_dup_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                               uint32 *ret_key_len, void **ret_value);
int ht_tstr_array_own_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                               uint32 *ret_key_len, void **ret_value);
int ht_tstr_array_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                           uint32 *ret_key_len, void **ret_value);
void ht_tstr_array_free_func(void *key, uint32 key_len, void *value);

inline constexpr ht_hash_func ht_hash_default_func = ht_hash_string_func;
inline constexpr ht_key_equal_func ht_key_equal_default_func = ht_key_equal_string_func;
inline constexpr ht_key_value_set_func ht_key_value_set_default_func = nullptr;
inline constexpr ht_key_value_dup_func ht_key_value_dup_default_func = nullptr;
inline constexpr ht_key_value_free_func ht_key_value_free_default_func = nullptr;

// String keys, no callbacks, existing keys replaced.
extern const ht_options ht_default_options;

// Creates an empty table; null `opts` gives ht_default_options.
[[nodiscard]] int ht_new(ht **ret, const ht_options *opts);
// Releases every entry through `free`, then the table; nulls `*t`.
int ht_free(ht **t);
LC_OWNED_FREE(ht, ht_free)
// Releases every entry; the table is back to its initial size.
[[nodiscard]] int ht_empty(ht *t);
// A new table with the same options and a copy of every entry (through
// `dup`; without it the pointers are shared, which a table with `free`
// refuses).
[[nodiscard]] int ht_duplicate(const ht *src, ht **ret);

// Inserts `key` (of `key_len` bytes; -1: a zero-terminated string) with
// `value`.  An existing entry is released and replaced, or the insert fails
// with lc_err_exists under fail_on_existing.
[[nodiscard]] int ht_insert(ht *t, const void *key, int32 key_len, void *value);
// Finds `key`.  Every output may be null; all are cleared first (the key
// length to 0xFFFFFFFF) and filled when found.  The outputs are borrowed.
[[nodiscard]] int ht_lookup(const ht *t, const void *key, int32 key_len, tbool *ret_found,
                            const void **ret_key, uint32 *ret_key_len, void **ret_value);
// Releases the entry of `key`; lc_err_not_found when absent.
[[nodiscard]] int ht_delete(ht *t, const void *key, int32 key_len);
// Takes the entry of `key` out; the caller owns the node's key and value.
[[nodiscard]] int ht_remove(ht *t, const void *key, int32 key_len, void **ret_key,
                            void **ret_value);

[[nodiscard]] int ht_get_size(const ht *t, uint32 *ret);
uint32 ht_get_num_nodes_quick(const ht *t);   // 0 for null
uint32 ht_get_num_buckets_quick(const ht *t); // 0 for null

// Calls `callback` for every entry, bucket by bucket.  The return protocol
// is the arrays' (util/array.h): 0 continues, lc_err_foreach_halt stops,
// lc_err_foreach_halt_error stops with lc_err_generic_error,
// lc_err_cancelled stops and is returned, other codes make the result
// lc_err_generic_error.  ht_foreach_delete also accepts
// lc_err_foreach_delete (release the entry) and ht_foreach_remove
// lc_err_foreach_remove (unlink it; the callback has taken key and value);
// elsewhere they are refused with lc_err_assertion_failed.  The table is
// resized only after the loop.  The callback must not insert or delete.
typedef int (*ht_foreach_func)(const void *key, uint32 key_len, void *value, void *data);
[[nodiscard]] int ht_foreach(const ht *t, ht_foreach_func callback, void *data);
[[nodiscard]] int ht_foreach_delete(ht *t, ht_foreach_func callback, void *data);
[[nodiscard]] int ht_foreach_remove(ht *t, ht_foreach_func callback, void *data);
