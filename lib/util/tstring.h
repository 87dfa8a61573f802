// tstring: the growable, always zero-terminated byte string used for binding
// names, printed values and messages throughout the system.
//
// A tstring keeps its length, so length, append and comparison never rescan.
// The buffer grows by doubling (extra growth capped at 8 MiB, total capped at
// 80 MiB) and shrinks by halving once it is more than four times what the
// text needs; the rule runs after every change of length (ts_maybe_resize).
//
// Ownership: `_new*` and `_dup*` hand the caller a new string to release with
// ts_free(&ts); `_takeover` adopts the caller's heap buffer and clears the
// caller's pointer; ts_detach hands the buffer out and frees the record.
// Heap character strings passed in or out (takeover, detach, dup_str,
// insert_escape_str) are malloc()ed and released with free().
//
// Strings are byte strings: the UTF-8 mode is accepted but always stored as
// off, so character counts and offsets equal byte counts and offsets.
//
// The tokeniser and joiner (names split on "/", comma and semicolon lists)
// are their own module (util/tstring_tokens.h, included at the end of this
// header); they produce and take tstr_array (util/tstr_array.h).
#pragma once

#include <cstdarg>

#include "log/common.h"

struct tstring {
    char *buf;        // owned, always zero-terminated
    uint32 utf8;      // always 0: counts are in bytes
    uint32 length;    // bytes, excluding the terminator
    uint32 num_chars; // equals length
    uint32 size;      // allocated bytes of buf
};

struct tstr_array;

// Growth tunables.
extern const uint32 ts_size_initial;          // 16
extern const uint32 ts_resize_factor;         // 2
extern const uint32 ts_size_max;              // 83886080 (80 MiB)
extern const uint32 ts_size_max_extra_growth; // 8388608 (8 MiB)

// "Not found" / "no length" marker of the search functions and ts_length.
constexpr uint32 ts_npos = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// Construction and release

// New empty string with the initial 16-byte buffer.
[[nodiscard]] int ts_new(tstring **ret);
// New empty string whose buffer holds `size` bytes (at least 16); the buffer is
// subject to the resize rule at the first change of length.
[[nodiscard]] int ts_new_size(tstring **ret, uint32 size);
// New string holding a copy of `s`; null `s` gives an empty string.
[[nodiscard]] int ts_new_str(tstring **ret, const char *s);
[[nodiscard]] int ts_new_sprintf(tstring **ret, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
[[nodiscard]] int ts_new_vsprintf(tstring **ret, const char *format, va_list ap)
    __attribute__((format(printf, 2, 0)));
// Adopts the malloc()ed buffer `*s` holding `length` bytes of text in `size`
// allocated bytes (length < size).  The buffer is owned by the callee in every
// case: on failure it is freed.  `*s` is cleared.
[[nodiscard]] int ts_new_str_takeover(tstring **ret, char **s, uint32 length, uint32 size);
// Creates `*ts` from `s`, or replaces the content of an existing `*ts`.
[[nodiscard]] int ts_new_or_replace_str(tstring **ts, const char *s);

// UTF-8 twins: identical, since the mode is always stored as off.
[[nodiscard]] int ts_new_utf8(tstring **ret);
[[nodiscard]] int ts_new_size_utf8(tstring **ret, uint32 size);
[[nodiscard]] int ts_new_str_utf8(tstring **ret, const char *s);
[[nodiscard]] int ts_new_sprintf_utf8(tstring **ret, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
[[nodiscard]] int ts_new_str_takeover_utf8(tstring **ret, char **s, uint32 length, uint32 size);
[[nodiscard]] int ts_new_or_replace_str_utf8(tstring **ts, const char *s);
// Sets the UTF-8 mode; stores 0 whatever is asked and num_chars = length.
[[nodiscard]] int ts_set_utf8(tstring *ts, tbool utf8);

// Deep copy of `src` (with the same buffer size rule applied).
[[nodiscard]] int ts_dup(const tstring *src, tstring **ret);
// malloc()ed copy of the text; `ret_len` (optional) gets its length.
[[nodiscard]] int ts_dup_str(const tstring *src, char **ret, uint32 *ret_len);
// Like ts_dup, but a null `src` gives success and null.
[[nodiscard]] int ts_dup_maybe(const tstring *src, tstring **ret);
// Releases the string and clears `*ts`; null `ts` or `*ts` accepted.
int ts_free(tstring **ts);
// Hands the malloc()ed buffer to the caller (`ret_len` optional), frees the
// record and clears `*ts`.
[[nodiscard]] int ts_detach(tstring **ts, char **ret_buf, uint32 *ret_len);
// Empties the string; the buffer shrinks by the resize rule.
[[nodiscard]] int ts_clear(tstring *ts);
// Empties the string and keeps its buffer.
[[nodiscard]] int ts_clear_no_resize(tstring *ts);
// Applies the growth/shrink rule for a string whose length is (or is about to
// be) `length`.  Fails beyond 80 MiB and on a failed reallocation; the string
// keeps its old buffer then.
[[nodiscard]] int ts_maybe_resize(tstring *ts, uint32 length);

LC_OWNED_FREE(tstring, ts_free)

// ---------------------------------------------------------------------------
// Access

// The buffer; a null string logs "Unexpected NULL for ts_str() at FILE:LINE"
// with the caller's position and gives null.
#define ts_str(ts) ts_str_((ts), __FILE__, __LINE__)
const char *ts_str_(const tstring *ts, const char *file, int line);
// Length in bytes; a null string logs "Unexpected NULL for ts_length() at
// FILE:LINE" with the caller's position and gives 0xFFFFFFFF.
#define ts_length(ts) ts_length_((ts), __FILE__, __LINE__)
uint32 ts_length_(const tstring *ts, const char *file, int line);
// The buffer, or null for a null string (no log).
const char *ts_str_maybe(const tstring *ts);
// The buffer, or "" for a null string.
const char *ts_str_maybe_empty(const tstring *ts);
// Length in characters (= bytes); 0xFFFFFFFF for null.
uint32 ts_num_chars(const tstring *ts);
// Allocated bytes; 0 for null.
uint32 ts_size(const tstring *ts);
// The byte at `index`, or 0 when null or out of range.
char ts_get_char(const tstring *ts, uint32 index);
// Pointer into the buffer at `index` (the terminator at index == length), or
// null when null or out of range.
const char *ts_str_nth(const tstring *ts, uint32 index);
// The writable buffer; writes must stay within the current length.
char *ts_get_buffer(tstring *ts);
// New string with `len` bytes from `start`; len 0xFFFFFFFF means "to the end".
[[nodiscard]] int ts_substr(const tstring *ts, uint32 start, uint32 len, tstring **ret);

// ---------------------------------------------------------------------------
// Modification.  On failure the string is unchanged.

[[nodiscard]] int ts_append_str(tstring *ts, const char *s);
[[nodiscard]] int ts_append(tstring *ts, const tstring *s);
[[nodiscard]] int ts_append_char(tstring *ts, char ch);
// Appends `n` copies of `ch`.
[[nodiscard]] int ts_append_chars(tstring *ts, uint32 n, char ch);
// Appends `ch` until the string is `length` bytes long (nothing if it is).
[[nodiscard]] int ts_append_chars_pad_to_length(tstring *ts, uint32 length, char ch);
[[nodiscard]] int ts_append_buffer(tstring *ts, const void *buf, uint32 len);
[[nodiscard]] int ts_append_sprintf(tstring *ts, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
[[nodiscard]] int ts_append_vsprintf(tstring *ts, const char *format, va_list ap)
    __attribute__((format(printf, 2, 0)));
// Appends `len` bytes of `s` from `start` (the range must lie within strlen(s)).
[[nodiscard]] int ts_append_str_frag(tstring *ts, const char *s, uint32 start, uint32 len);
[[nodiscard]] int ts_append_tstr_frag(tstring *ts, const tstring *s, uint32 start, uint32 len);

// The put family replaces the whole content.
[[nodiscard]] int ts_put_str(tstring *ts, const char *s);
[[nodiscard]] int ts_put(tstring *ts, const tstring *s);
[[nodiscard]] int ts_put_char(tstring *ts, char ch);
[[nodiscard]] int ts_put_sprintf(tstring *ts, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
[[nodiscard]] int ts_put_buffer(tstring *ts, const void *buf, uint32 len);
[[nodiscard]] int ts_put_str_frag(tstring *ts, const char *s, uint32 start, uint32 len);
[[nodiscard]] int ts_put_tstr_frag(tstring *ts, const tstring *s, uint32 start, uint32 len);

// Overwrites from `start` (<= length) with `s`, extending the string when `s`
// runs past its end.
[[nodiscard]] int ts_copy_str(tstring *ts, uint32 start, const char *s);
// Replaces the `len` bytes at `start` with `s`.
[[nodiscard]] int ts_replace_str(tstring *ts, uint32 start, uint32 len, const char *s);
// Insertions at `index` (<= length); later bytes move up.
[[nodiscard]] int ts_insert_char(tstring *ts, uint32 index, char ch);
[[nodiscard]] int ts_insert_str(tstring *ts, uint32 index, const char *s);
[[nodiscard]] int ts_insert_buffer(tstring *ts, uint32 index, const void *buf, uint32 len);
[[nodiscard]] int ts_insert(tstring *ts, uint32 index, const tstring *s);
[[nodiscard]] int ts_insert_sprintf(tstring *ts, uint32 index, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// Removes the `len` bytes at `start`.
[[nodiscard]] int ts_cut(tstring *ts, uint32 start, uint32 len);
// Removes the byte at `index`.
[[nodiscard]] int ts_remove_char(tstring *ts, uint32 index);
// Replaces every `from` byte with `to`.
[[nodiscard]] int ts_replace_char(tstring *ts, char from, char to);
[[nodiscard]] int ts_trans_lowercase(tstring *ts);
[[nodiscard]] int ts_trans_uppercase(tstring *ts);
// Replaces every byte found in `from` with the byte at the same position in
// `to` (both of the same length), as tr(1) does.
[[nodiscard]] int ts_trans_map_chars(tstring *ts, const char *from, const char *to);
// Removes every leading `head` byte and every trailing `tail` byte (0 = none).
[[nodiscard]] int ts_trim(tstring *ts, char head, char tail);
[[nodiscard]] int ts_trim_head(tstring *ts, char head);
[[nodiscard]] int ts_trim_tail(tstring *ts, char tail);
// Removes `head` bytes from the front and `tail` bytes from the end.
[[nodiscard]] int ts_trim_num_chars(tstring *ts, uint32 head, uint32 tail);
// Removes leading and trailing white space (isspace).
[[nodiscard]] int ts_trim_whitespace(tstring *ts);

// ---------------------------------------------------------------------------
// Search and comparison

// Index of the first `ch` at or after `start`; absent (or start beyond the
// string) gives success and 0xFFFFFFFF.
[[nodiscard]] int ts_find_char(const tstring *ts, uint32 start, char ch, uint32 *ret);
[[nodiscard]] int ts_find_str(const tstring *ts, uint32 start, const char *needle, uint32 *ret);
// Index of the last `ch` at or before `start`; same conventions.
[[nodiscard]] int ts_rfind_char(const tstring *ts, uint32 start, char ch, uint32 *ret);

// Equality: two nulls are equal, a null and a string are not, otherwise strcmp
// or strcasecmp.
bool ts_equal(const tstring *a, const tstring *b);
bool ts_equal_case(const tstring *a, const tstring *b);
bool ts_equal_str(const tstring *ts, const char *s, tbool case_insensitive);
bool ts_equal_tstr(const tstring *a, const tstring *b, tbool case_insensitive);
// Ordering: null before any string, two nulls equal, otherwise the strcmp /
// strcasecmp result.
int ts_cmp_tstr(const tstring *a, const tstring *b, tbool case_insensitive);
int ts_cmp(const tstring *a, const tstring *b);
int ts_cmp_case(const tstring *a, const tstring *b);
int ts_cmp_str(const tstring *ts, const char *s, tbool case_insensitive);

// Prefix and suffix tests; false for null arguments.
bool ts_has_prefix_char(const tstring *ts, char ch, tbool case_insensitive);
bool ts_has_prefix_str(const tstring *ts, const char *prefix, tbool case_insensitive);
bool ts_has_suffix_str(const tstring *ts, const char *suffix, tbool case_insensitive);
// True when the string has no upper (resp. lower) case letter.
bool ts_is_lowercase(const tstring *ts);
bool ts_is_uppercase(const tstring *ts);
// Case of the byte at `index`; false when out of range.
bool ts_char_is_lowercase(const tstring *ts, uint32 index);
bool ts_char_is_uppercase(const tstring *ts, uint32 index);

// ---------------------------------------------------------------------------
// UTF-8 helpers.  A bad sequence is logged as "Tstring encoding error: bad
// UTF-8 sequence.  Bytes:" followed by the bytes, and fails with
// lc_err_bad_utf8.

// Bytes of the UTF-8 character starting with `lead` (1 to 4), 0 if `lead`
// cannot start one.
uint32 ts_utf8_char_size(char lead);
// Code point of the character at byte `index`, and its size in bytes.
[[nodiscard]] int ts_get_char_utf8(const tstring *ts, uint32 index, uint32 *ret_code_point,
                                   uint32 *ret_size);
// Byte offset of character `char_offset` and the reverse; both equal their
// input on the byte strings of this system, but walk and validate the text.
[[nodiscard]] int ts_utf8_char_to_byte_offset(const tstring *ts, uint32 char_offset,
                                              uint32 *ret_byte_offset);
[[nodiscard]] int ts_utf8_byte_to_char_offset(const tstring *ts, uint32 byte_offset,
                                              uint32 *ret_char_offset);

// In-place case mapping of UTF-8 text (letters whose two cases have the same
// encoded size: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic); returns the
// new length in bytes.
int Tcl_UtfToUpper(char *str);
int Tcl_UtfToLower(char *str);
// Case-insensitive comparison of at most `num_chars` characters.
int Tcl_UtfNcasecmp(const char *cs, const char *ct, unsigned long num_chars);
// Classes of the character at the start of `s`.
int Tcl_UtfCharIsLower(const char *s);
int Tcl_UtfCharIsSpace(const char *s);
int Tcl_UtfCharIsUpper(const char *s);

// ---------------------------------------------------------------------------
// Building blocks shared with tstr_array and the tests.
namespace detail
{

// Logs "maximum size exceeded: %d" and fails when a content of `length`
// bytes would pass the largest string.
[[nodiscard]] int ts_check_length(uint64 length);
// New string holding `len` bytes of `data`, sized by the resize rule.
[[nodiscard]] int ts_new_buffer(tstring **ret, const char *data, uint32 len);
// Test seam: the reallocation function behind every buffer change (realloc
// when null).
extern void *(*ts_realloc_for_tests)(void *, size_t);

} // namespace detail

#include "util/tstring_tokens.h"
