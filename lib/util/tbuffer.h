// tbuf: the growable byte buffer.
//
// A tbuf holds the bytes of binary attribute values, the encoding of a
// message and the bytes of a frame.  It stores bytes unchanged: integers go
// in and out in host byte order (the `_be` twins use network order), and
// only the string operations may byte-swap the 32-bit length or count they
// write or read.
//
// Ownership: the buffer owns its storage (malloc'd, so that `tb_detach` and
// `tb_new_takeover` can trade raw blocks with C callers) unless it was made
// by `tb_new_buf_const`, which borrows read-only bytes.  A constant buffer is
// never written, resized or freed through the buffer: every operation that
// would change it fails with lc_err_assertion_failed.  An owned buffer always
// has a zero byte after the bytes in use, so its text can be read with C
// string functions.
//
// Sizes follow one resize rule (see tbuffer.cc): 128 bytes at least, growth
// by four with at most 8 MiB of extra room per step, 128-byte steps below
// 4 KiB and 4 KiB steps above, 256 MiB at most; buffers with auto-shrink on
// give memory back after deletions.
#pragma once

#include <cstdarg>

#include "log/common.h"

using uint128 = unsigned __int128;

struct tstring;
struct tstr_array;

struct tbuf {
    uint8 *bytes;       // storage; borrowed and read-only when is_const
    uint32 length;      // bytes in use
    uint32 size;        // bytes allocated (for a constant buffer: its length)
    uint8 auto_shrink;  // shrink the storage after deletions
    uint8 is_const;     // bytes are read-only: every write fails
    uint8 owns_storage; // tb_free releases `bytes` (false for borrowed bytes)
};

// The smallest and largest owned storage.
constexpr uint32 tb_size_min = 128;
constexpr uint32 tb_size_max = 268435456;
// The most extra room one growth step adds.
constexpr uint32 tb_size_max_extra_growth = 8388608;

// ---------------------------------------------------------------------------
// Creation and release.  On failure `*ret` stays null.

// Empty buffer of 128 bytes.
[[nodiscard]] int tb_new(tbuf **ret);
// Empty buffer of max(size, 128) bytes.
[[nodiscard]] int tb_new_size(tbuf **ret, uint32 size);
// A copy of `len` bytes (negative: up to the first zero byte), sized by the
// resize rule.
[[nodiscard]] int tb_new_buf(tbuf **ret, const void *bytes, int32 len);
// Wraps `len` bytes (negative: up to the first zero byte) without copying;
// the caller keeps them alive and unchanged for the life of the buffer.
[[nodiscard]] int tb_new_buf_const(tbuf **ret, const void *bytes, int32 len);
// Adopts a malloc'd block of `size` bytes holding `len` bytes and nulls
// `*bytes`.  The callee owns the block on failure too (it is freed).  A block
// too small for the invariants (128 bytes, room for the terminator) is
// reallocated by the resize rule.
[[nodiscard]] int tb_new_takeover(tbuf **ret, uint8 **bytes, uint32 len, uint32 size);
[[nodiscard]] int tb_set_option_auto_shrink(tbuf *buf, tbool on);
// Turning the constant flag off for borrowed bytes first copies them into
// owned storage; turning it on makes an owned buffer read-only (tb_free
// still releases its storage).
[[nodiscard]] int tb_set_option_const_buf(tbuf *buf, tbool on);
// Frees the storage (unless borrowed) and the record; nulls `*buf`.
int tb_free(tbuf **buf);
// Length 0, then the resize rule.
[[nodiscard]] int tb_clear(tbuf *buf);
// Hands the storage (malloc'd, zero-terminated) and its length to the caller
// and frees the record.  A constant buffer is refused and left alone.
// `ret_len` may be null.
[[nodiscard]] int tb_detach(tbuf **buf, uint8 **ret_bytes, uint32 *ret_len);
// An owned copy that keeps the auto-shrink option (never constant).
[[nodiscard]] int tb_dup(const tbuf *buf, tbuf **ret);
// A malloc'd copy of the bytes with one zero byte added; `ret_len` (may be
// null) excludes the zero.
[[nodiscard]] int tb_dup_buf(const tbuf *buf, uint8 **ret_bytes, uint32 *ret_len);

LC_OWNED_FREE(tbuf, tb_free)

// ---------------------------------------------------------------------------
// Size.  The getters return 0xFFFFFFFF for a null buffer, after logging.

uint32 tb_length(const tbuf *buf);
uint32 tb_size(const tbuf *buf);
uint32 tb_avail(const tbuf *buf);
// Grows so that `n` bytes plus the terminator fit.
[[nodiscard]] int tb_ensure_size(tbuf *buf, uint32 n);
// Sets the length to `n` <= size (lc_err_generic_error otherwise), for
// callers that wrote into the storage directly; writes no terminator.
[[nodiscard]] int tb_set_length(tbuf *buf, uint32 n);
// Removes `count` bytes at `offset`; a range past the length fails with
// lc_err_no_buffer_space.
[[nodiscard]] int tb_delete_bytes(tbuf *buf, uint32 offset, uint32 count);

// ---------------------------------------------------------------------------
// Writing.  All refuse a constant buffer.  A write at an offset past the
// length zero-fills the gap; the length grows only when the write ends past
// it.  On failure the buffer is unchanged.

// `len` negative: up to the first zero byte.  `bytes` may lie inside `buf`.
[[nodiscard]] int tb_put_buf(tbuf *buf, uint32 offset, const void *bytes, int32 len);
[[nodiscard]] int tb_put(tbuf *buf, uint32 offset, const tbuf *other);
[[nodiscard]] int tb_put_byte(tbuf *buf, uint32 offset, uint8 byte);
// `count` copies of `byte` from `offset` on.
[[nodiscard]] int tb_put_bytes(tbuf *buf, uint32 offset, uint8 byte, uint32 count);
[[nodiscard]] int tb_append_buf(tbuf *buf, const void *bytes, int32 len);
[[nodiscard]] int tb_append(tbuf *buf, const tbuf *other);
[[nodiscard]] int tb_append_byte(tbuf *buf, uint8 byte);
[[nodiscard]] int tb_append_bytes(tbuf *buf, uint8 byte, uint32 count);

// Strings: a null string is the empty string; `len` negative means up to the
// first zero byte.  With `with_length`, a 32-bit length comes first (the
// string length plus 1 when `add_zero`), byte-swapped when `swap_length`;
// then the bytes, then one zero byte when `add_zero`.  `ret_written` (may be
// null) gets the bytes written, prefix included.
[[nodiscard]] int tb_put_str(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length,
                             tbool swap_length, const char *str, int32 len, uint32 *ret_written);
[[nodiscard]] int tb_append_str(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length,
                                const char *str, int32 len, uint32 *ret_written);
// The same for a tstring (null: the empty string).
[[nodiscard]] int tb_put_tstr(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length,
                              tbool swap_length, const tstring *ts, uint32 *ret_written);
[[nodiscard]] int tb_append_tstr(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length,
                                 const tstring *ts, uint32 *ret_written);
// A 32-bit element count (0 for a null array; swapped with `swap`), then
// each element as tb_put_str writes it (a null slot as the empty string).
// Written whole or not at all.
[[nodiscard]] int tb_put_tstr_array(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length,
                                    tbool swap, const tstr_array *arr, uint32 *ret_written);
[[nodiscard]] int tb_append_tstr_array(tbuf *buf, tbool add_zero, tbool with_length, tbool swap,
                                       const tstr_array *arr, uint32 *ret_written);
[[nodiscard]] int tb_put_sprintf(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length,
                                 tbool swap_length, const char *format, ...)
    __attribute__((format(printf, 6, 7)));
[[nodiscard]] int tb_append_sprintf(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length,
                                    const char *format, ...) __attribute__((format(printf, 5, 6)));

// ---------------------------------------------------------------------------
// Reading.

// The storage (borrowed; read-only for a constant buffer).
uint8 *tb_buf(const tbuf *buf);
// Null for a null buffer, without logging.
uint8 *tb_buf_maybe(const tbuf *buf);
// The empty string for a null buffer.
const uint8 *tb_buf_maybe_empty(const tbuf *buf);

// Reads without a length prefix take the rest of the buffer from `offset`, or
// at most `max_len` bytes when it is not negative.  The result is a malloc'd
// string with a zero byte added.  With `expect_zero` the last byte taken must
// be zero (else lc_err_assertion_failed, quietly) and `ret_len` excludes it.
// Too few bytes fail with lc_err_no_buffer_space.  `ret_len` and
// `ret_consumed` (prefix plus bytes taken) may be null.
[[nodiscard]] int tb_get_str(const tbuf *buf, uint32 offset, int32 max_len, tbool expect_zero,
                             tbool with_length, tbool swap_length, char **ret, uint32 *ret_len,
                             uint32 *ret_consumed);

// As tb_get_str, into a new tstring.
[[nodiscard]] int tb_get_tstr(const tbuf *buf, uint32 offset, int32 max_len, tbool expect_zero,
                              tbool with_length, tbool swap_length, tstring **ret,
                              uint32 *ret_consumed);
// A 32-bit count (swapped with `swap`), then that many strings: with
// `with_length` each is length-prefixed as tb_get_str reads it; without, each
// runs to and includes its zero byte.  `expect_zero` as for tb_get_str.  On
// failure `*ret` stays null.
[[nodiscard]] int tb_get_tstr_array(const tbuf *buf, uint32 offset, tbool expect_zero,
                                    tbool with_length, tbool swap, tstr_array **ret,
                                    uint32 *ret_consumed);

// ---------------------------------------------------------------------------
// Fixed-width integers, one family stamped from TB_FIXED_TYPES:
//   tb_put_<T>(buf, offset, v), tb_append_<T>(buf, v): write in host order;
//   tb_get_<T>(buf, offset, &v): lc_err_assertion_failed (no log) unless the
//     value lies wholly within the length;
//   tb_get_quick_<T>(buf, offset): the value, or all one-bits when it does
//     not lie within the length (or the buffer is null), without a log;
//   and the same four with the suffix `_be`, in network (big-endian) order.

#define TB_FIXED_TYPES(X)                                                                          \
    X(uint8, uint8)                                                                                \
    X(uint16, uint16)                                                                              \
    X(uint32, uint32)                                                                              \
    X(uint64, uint64)                                                                              \
    X(uint128, uint128)

#define TB_DECLARE_FIXED(name, ctype)                                                              \
    [[nodiscard]] int tb_put_##name(tbuf *buf, uint32 offset, ctype value);                        \
    [[nodiscard]] int tb_append_##name(tbuf *buf, ctype value);                                    \
    [[nodiscard]] int tb_get_##name(const tbuf *buf, uint32 offset, ctype *ret);                   \
    ctype tb_get_quick_##name(const tbuf *buf, uint32 offset);                                     \
    [[nodiscard]] int tb_put_##name##_be(tbuf *buf, uint32 offset, ctype value);                   \
    [[nodiscard]] int tb_append_##name##_be(tbuf *buf, ctype value);                               \
    [[nodiscard]] int tb_get_##name##_be(const tbuf *buf, uint32 offset, ctype *ret);              \
    ctype tb_get_quick_##name##_be(const tbuf *buf, uint32 offset);
TB_FIXED_TYPES(TB_DECLARE_FIXED)
#undef TB_DECLARE_FIXED
