// tbuf: growable byte buffer.  See tbuffer.h for the ownership rules.
//
// Every write goes through one path: compute the final length, grow once by
// the resize rule (the only step that can fail), then copy.  So a failed
// write leaves the buffer as it was, and bytes taken from the buffer itself
// stay valid across the reallocation.
#include "util/tbuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "log/logging.h"
#include "util/byte_cursor.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

constexpr uint64 small_step = 128;
constexpr uint64 large_step = 4096;
// Longest run searched for the zero byte of a negative-length argument.
constexpr size_t zero_search_max = 0x7fffffff;
constexpr uint32 all_ones32 = 0xFFFFFFFF;

uint64 round_up(uint64 v, uint64 step)
{
    return (v + step - 1) / step * step;
}

// 128-byte steps below 4 KiB, 4 KiB steps from there on.  (A target of 4095
// rounds to 4096 either way.)
uint64 round_size(uint64 target)
{
    return target < large_step ? round_up(target, small_step) : round_up(target, large_step);
}

// The resize rule, for a buffer that must hold `len` bytes plus the
// terminator.  Grows (failing leaves the old storage), or shrinks when
// auto-shrink is on and the storage is far larger than needed.
int resize_for(tbuf *buf, uint64 len)
{
    const uint64 needed = len + 1;
    const uint64 floor = std::max<uint64>(needed, tb_size_min);
    if (needed > tb_size_max) {
        lc_log_basic(LCL_ERR, "maximum size exceeded: %llu", (unsigned long long)floor);
        return lc_err_assertion_failed;
    }

    uint64 target = 0;
    bool shrinking = false;
    if (buf->size >= floor) {
        if (!buf->auto_shrink || buf->size <= 6 * floor + 7) return 0;
        shrinking = true;
        target = needed < large_step ? floor / small_step * small_step + small_step
                                     : floor / large_step * large_step + large_step;
    } else {
        const uint64 grown = 4 * std::max<uint64>(buf->size, tb_size_min);
        if (floor < grown) {
            if (buf->bytes && grown - floor > tb_size_max_extra_growth)
                target = round_up(floor + tb_size_max_extra_growth, large_step);
            else
                target = round_size(buf->bytes ? grown : floor);
        } else {
            target =
                needed < large_step ? round_up(floor, small_step) : round_up(floor, large_step);
        }
        target = std::min<uint64>(target, tb_size_max);
    }
    bail_require(target >= floor);

    auto *p = static_cast<uint8 *>(realloc(buf->bytes, target));
    if (p == nullptr && shrinking) return 0; // keeping the larger block is harmless
    bail_null(p);
    if (buf->bytes == nullptr) p[0] = 0;
    buf->bytes = p;
    buf->size = uint32(target);
    return 0;
}

// Resolves a length argument: negative means up to the first zero byte.
int resolve_len(const void *bytes, int32 len, uint32 *ret)
{
    *ret = 0;
    if (len >= 0) {
        if (len > 0) bail_null(bytes);
        *ret = uint32(len);
        return 0;
    }
    bail_null(bytes);
    const size_t n = strnlen(static_cast<const char *>(bytes), zero_search_max);
    if (n == zero_search_max) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return lc_err_unexpected_null;
    }
    *ret = uint32(n);
    return 0;
}

// Remembers where a source lies inside the buffer's own storage, so that it
// can be found again after the storage moves.
class source_anchor
{
  public:
    source_anchor(const tbuf *buf, const uint8 *src) : buf_(buf), src_(src)
    {
        const auto b = reinterpret_cast<uintptr_t>(buf->bytes);
        const auto s = reinterpret_cast<uintptr_t>(src);
        if (buf->bytes && s >= b && s < b + buf->size) offset_ = s - b;
    }
    const uint8 *get() const { return offset_ == SIZE_MAX ? src_ : buf_->bytes + offset_; }

  private:
    const tbuf *buf_;
    const uint8 *src_;
    size_t offset_ = SIZE_MAX;
};

// Makes room for a write ending at `end`.
int grow_for_write(tbuf *buf, uint64 end)
{
    bail_require(!buf->is_const);
    return resize_for(buf, std::max<uint64>(buf->length, end));
}

// Copies into storage known to be large enough: zero-fills any gap past the
// length, extends the length and its terminator when the write ends past it.
void write_at(tbuf *buf, uint32 offset, const uint8 *src, uint32 n, bool fill, uint8 byte = 0)
{
    if (offset > buf->length) memset(buf->bytes + buf->length, 0, offset - buf->length);
    if (fill)
        memset(buf->bytes + offset, byte, n);
    else if (n > 0)
        memmove(buf->bytes + offset, src, n);
    if (offset + n > buf->length) {
        buf->length = offset + n;
        buf->bytes[buf->length] = 0;
    }
}

int put_raw(tbuf *buf, uint32 offset, const uint8 *src, uint32 n)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    if (n == 0) return 0;
    if (!buf->auto_shrink && uint64(offset) + n < buf->size) {
        write_at(buf, offset, src, n, false); // fits: no resize, storage stays put
        return 0;
    }
    source_anchor anchor(buf, src);
    bail_error(grow_for_write(buf, uint64(offset) + n));
    write_at(buf, offset, anchor.get(), n, false);
    return 0;
}

int put_fill(tbuf *buf, uint32 offset, uint8 byte, uint32 count)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    if (count == 0) return 0;
    bail_error(grow_for_write(buf, uint64(offset) + count));
    write_at(buf, offset, nullptr, count, true, byte);
    return 0;
}

// The 32-bit length or count of the string operations: host order, or
// swapped on request.
uint32 load_len(const uint8 *p, bool swap)
{
    const uint32 v = lc_bytes::load<lc_bytes::order::native, uint32>(p);
    return swap ? lc_bytes::byteswap(v) : v;
}
void store_len(uint8 *p, uint32 v, bool swap)
{
    lc_bytes::store<lc_bytes::order::native>(p, swap ? lc_bytes::byteswap(v) : v);
}

int new_record(tbuf **ret)
{
    *ret = new (std::nothrow) tbuf{};
    bail_null(*ret);
    (*ret)->owns_storage = 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Fixed-width integers: one template per direction, byte order a parameter.

template <class T, lc_bytes::order order> int put_fixed(tbuf *buf, uint32 offset, T value)
{
    uint8 bytes[sizeof(T)];
    lc_bytes::store<order>(bytes, value);
    return put_raw(buf, offset, bytes, sizeof(T));
}

// Appending integers is the hot path of message encoding: when the value
// and the terminator already fit and no shrink can be due, write in place.
template <class T, lc_bytes::order order> int append_fixed(tbuf *buf, T value)
{
    if (buf != nullptr && !buf->is_const && !buf->auto_shrink &&
        uint64(buf->length) + sizeof(T) < buf->size) [[likely]] {
        uint8 bytes[sizeof(T)];
        lc_bytes::store<order>(bytes, value);
        memcpy(buf->bytes + buf->length, bytes, sizeof(T));
        buf->length += sizeof(T);
        buf->bytes[buf->length] = 0;
        return 0;
    }
    bail_null(buf);
    return put_fixed<T, order>(buf, buf->length, value);
}

bool fits(const tbuf *buf, uint32 offset, uint64 n)
{
    return uint64(offset) + n <= buf->length;
}

template <class T, lc_bytes::order order> int get_fixed(const tbuf *buf, uint32 offset, T *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(buf);
    if (!fits(buf, offset, sizeof(T))) return lc_err_assertion_failed;
    *ret = lc_bytes::load<order, T>(buf->bytes + offset);
    return 0;
}

template <class T, lc_bytes::order order> T get_quick(const tbuf *buf, uint32 offset)
{
    if (buf == nullptr || !fits(buf, offset, sizeof(T))) return T(~T(0));
    return lc_bytes::load<order, T>(buf->bytes + offset);
}

} // namespace

// ---------------------------------------------------------------------------
// Creation and release

int tb_new(tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<tbuf> buf;
    bail_error(new_record(buf.out()));
    bail_error(resize_for(buf.get(), 0));
    *ret = buf.release();
    return 0;
}

int tb_new_size(tbuf **ret, uint32 size)
{
    bail_null(ret);
    *ret = nullptr;
    bail_require(size <= tb_size_max);
    owned<tbuf> buf;
    bail_error(new_record(buf.out()));
    const uint32 n = std::max(size, tb_size_min);
    buf->bytes = static_cast<uint8 *>(malloc(n));
    bail_null(buf->bytes);
    buf->bytes[0] = 0;
    buf->size = n;
    *ret = buf.release();
    return 0;
}

int tb_new_buf(tbuf **ret, const void *bytes, int32 len)
{
    bail_null(ret);
    *ret = nullptr;
    uint32 n = 0;
    bail_error(resolve_len(bytes, len, &n));
    owned<tbuf> buf;
    bail_error(new_record(buf.out()));
    bail_error(resize_for(buf.get(), n));
    if (n > 0) memcpy(buf->bytes, bytes, n);
    buf->length = n;
    buf->bytes[n] = 0;
    *ret = buf.release();
    return 0;
}

int tb_new_buf_const(tbuf **ret, const void *bytes, int32 len)
{
    bail_null(ret);
    *ret = nullptr;
    uint32 n = 0;
    bail_error(resolve_len(bytes, len, &n));
    owned<tbuf> buf{new (std::nothrow) tbuf{}};
    bail_null(buf);
    // The flag, not the pointer type, keeps these bytes from being written.
    buf->bytes = static_cast<uint8 *>(const_cast<void *>(bytes));
    buf->length = n;
    buf->size = n;
    buf->is_const = 1;
    buf->owns_storage = 0;
    *ret = buf.release();
    return 0;
}

int tb_new_takeover(tbuf **ret, uint8 **bytes, uint32 len, uint32 size)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(bytes);
    lc_malloc_ptr<uint8> block{std::exchange(*bytes, nullptr)};
    bail_null(block);
    bail_require(len <= size && size <= tb_size_max);
    owned<tbuf> buf;
    bail_error(new_record(buf.out()));
    buf->bytes = block.release();
    buf->length = len;
    buf->size = size;
    // The block may lack room for the terminator or be below the minimum.
    bail_error(resize_for(buf.get(), len));
    buf->bytes[len] = 0;
    *ret = buf.release();
    return 0;
}

int tb_set_option_auto_shrink(tbuf *buf, tbool on)
{
    bail_null(buf);
    buf->auto_shrink = on ? 1 : 0;
    return 0;
}

int tb_set_option_const_buf(tbuf *buf, tbool on)
{
    bail_null(buf);
    if (on) {
        buf->is_const = 1;
        return 0;
    }
    if (!buf->is_const) return 0;
    if (!buf->owns_storage) {
        // Borrowed bytes must never be written or freed: copy them first.
        tbuf copy{};
        copy.owns_storage = 1;
        bail_error(resize_for(&copy, buf->length));
        if (buf->length > 0) memcpy(copy.bytes, buf->bytes, buf->length);
        copy.bytes[buf->length] = 0;
        buf->bytes = copy.bytes;
        buf->size = copy.size;
        buf->owns_storage = 1;
    }
    buf->is_const = 0;
    return 0;
}

int tb_free(tbuf **buf)
{
    if (buf == nullptr || *buf == nullptr) return 0;
    if ((*buf)->owns_storage) free((*buf)->bytes);
    delete *buf;
    *buf = nullptr;
    return 0;
}

int tb_clear(tbuf *buf)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    buf->length = 0;
    buf->bytes[0] = 0;
    return resize_for(buf, 0);
}

int tb_detach(tbuf **buf, uint8 **ret_bytes, uint32 *ret_len)
{
    bail_null(ret_bytes);
    *ret_bytes = nullptr;
    if (ret_len) *ret_len = 0;
    bail_null(buf);
    bail_null(*buf);
    bail_require(!(*buf)->is_const);
    *ret_bytes = std::exchange((*buf)->bytes, nullptr);
    if (ret_len) *ret_len = (*buf)->length;
    delete *buf;
    *buf = nullptr;
    return 0;
}

int tb_dup(const tbuf *buf, tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(buf);
    owned<tbuf> copy;
    bail_error(new_record(copy.out()));
    copy->auto_shrink = buf->auto_shrink;
    bail_error(resize_for(copy.get(), buf->length));
    if (buf->length > 0) memcpy(copy->bytes, buf->bytes, buf->length);
    copy->length = buf->length;
    copy->bytes[copy->length] = 0;
    *ret = copy.release();
    return 0;
}

int tb_dup_buf(const tbuf *buf, uint8 **ret_bytes, uint32 *ret_len)
{
    bail_null(ret_bytes);
    *ret_bytes = nullptr;
    if (ret_len) *ret_len = 0;
    bail_null(buf);
    auto *p = static_cast<uint8 *>(malloc(size_t(buf->length) + 1));
    bail_null(p);
    if (buf->length > 0) memcpy(p, buf->bytes, buf->length);
    p[buf->length] = 0;
    *ret_bytes = p;
    if (ret_len) *ret_len = buf->length;
    return 0;
}

// ---------------------------------------------------------------------------
// Size

uint32 tb_length(const tbuf *buf)
{
    if (buf == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return all_ones32;
    }
    return buf->length;
}

uint32 tb_size(const tbuf *buf)
{
    if (buf == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return all_ones32;
    }
    return buf->size;
}

uint32 tb_avail(const tbuf *buf)
{
    if (buf == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return all_ones32;
    }
    return buf->size - buf->length;
}

int tb_ensure_size(tbuf *buf, uint32 n)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    if (uint64(n) + 1 < buf->size) return 0;
    return resize_for(buf, n);
}

int tb_set_length(tbuf *buf, uint32 n)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    if (n > buf->size) bail_force(lc_err_generic_error);
    const uint32 old = buf->length;
    buf->length = n;
    const int err = resize_for(buf, n);
    if (err != 0) {
        buf->length = old;
        bail_error(err);
    }
    return 0;
}

int tb_delete_bytes(tbuf *buf, uint32 offset, uint32 count)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    if (uint64(offset) + count > buf->length) bail_force(lc_err_no_buffer_space);
    memmove(buf->bytes + offset, buf->bytes + offset + count, buf->length - offset - count);
    buf->length -= count;
    buf->bytes[buf->length] = 0;
    return resize_for(buf, buf->length);
}

// ---------------------------------------------------------------------------
// Writing

int tb_put_buf(tbuf *buf, uint32 offset, const void *bytes, int32 len)
{
    bail_null(buf);
    bail_require(!buf->is_const);
    uint32 n = 0;
    bail_error(resolve_len(bytes, len, &n));
    return put_raw(buf, offset, static_cast<const uint8 *>(bytes), n);
}

int tb_put(tbuf *buf, uint32 offset, const tbuf *other)
{
    bail_null(other);
    return put_raw(buf, offset, other->bytes, other->length);
}

int tb_put_byte(tbuf *buf, uint32 offset, uint8 byte)
{
    return put_raw(buf, offset, &byte, 1);
}

int tb_put_bytes(tbuf *buf, uint32 offset, uint8 byte, uint32 count)
{
    return put_fill(buf, offset, byte, count);
}

int tb_append_buf(tbuf *buf, const void *bytes, int32 len)
{
    bail_null(buf);
    return tb_put_buf(buf, buf->length, bytes, len);
}

int tb_append(tbuf *buf, const tbuf *other)
{
    bail_null(buf);
    bail_null(other);
    return put_raw(buf, buf->length, other->bytes, other->length);
}

int tb_append_byte(tbuf *buf, uint8 byte)
{
    bail_null(buf);
    return put_raw(buf, buf->length, &byte, 1);
}

int tb_append_bytes(tbuf *buf, uint8 byte, uint32 count)
{
    bail_null(buf);
    return put_fill(buf, buf->length, byte, count);
}

namespace
{

// Bytes one string takes on the wire.
uint64 str_wire_size(uint32 n, tbool add_zero, tbool with_length)
{
    return (with_length ? 4 : 0) + uint64(n) + (add_zero ? 1 : 0);
}

// Writes one string into storage already grown to hold it; returns the
// offset after it.
uint32 write_str_at(tbuf *buf, uint32 at, tbool add_zero, tbool with_length, tbool swap_length,
                    const uint8 *src, uint32 n)
{
    if (with_length) {
        uint8 prefix[4];
        store_len(prefix, n + (add_zero ? 1 : 0), swap_length);
        write_at(buf, at, prefix, 4, false);
        at += 4;
    }
    write_at(buf, at, src, n, false);
    at += n;
    if (add_zero) write_at(buf, at++, nullptr, 1, true, 0);
    return at;
}

} // namespace

int tb_put_str(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length, tbool swap_length,
               const char *str, int32 len, uint32 *ret_written)
{
    if (ret_written) *ret_written = 0;
    bail_null(buf);
    bail_require(!buf->is_const);
    uint32 n = 0;
    if (str != nullptr) bail_error(resolve_len(str, len, &n));
    const uint64 total = str_wire_size(n, add_zero, with_length);
    if (total == 0) return 0;

    source_anchor anchor(buf, reinterpret_cast<const uint8 *>(str));
    bail_error(grow_for_write(buf, uint64(offset) + total));
    write_str_at(buf, offset, add_zero, with_length, swap_length, anchor.get(), n);
    if (ret_written) *ret_written = uint32(total);
    return 0;
}

int tb_append_str(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length, const char *str,
                  int32 len, uint32 *ret_written)
{
    if (ret_written) *ret_written = 0;
    bail_null(buf);
    return tb_put_str(buf, buf->length, add_zero, with_length, swap_length, str, len, ret_written);
}

int tb_put_tstr(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length, tbool swap_length,
                const tstring *ts, uint32 *ret_written)
{
    return tb_put_str(buf, offset, add_zero, with_length, swap_length, ts ? ts->buf : nullptr,
                      ts ? int32(ts->length) : 0, ret_written);
}

int tb_append_tstr(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length,
                   const tstring *ts, uint32 *ret_written)
{
    if (ret_written) *ret_written = 0;
    bail_null(buf);
    return tb_put_tstr(buf, buf->length, add_zero, with_length, swap_length, ts, ret_written);
}

int tb_put_tstr_array(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length, tbool swap,
                      const tstr_array *arr, uint32 *ret_written)
{
    if (ret_written) *ret_written = 0;
    bail_null(buf);
    bail_require(!buf->is_const);
    const uint32 count = tstr_array_length_quick(arr);
    uint64 total = 4;
    for (uint32 i = 0; i < count; ++i) {
        const tstring *ts = tstr_array_get_quick(arr, i);
        total += str_wire_size(ts ? ts->length : 0, add_zero, with_length);
    }
    // One growth for the whole array, so that it is written whole or not at all.
    bail_error(grow_for_write(buf, uint64(offset) + total));
    uint8 prefix[4];
    store_len(prefix, count, swap);
    write_at(buf, offset, prefix, 4, false);
    uint32 at = offset + 4;
    for (uint32 i = 0; i < count; ++i) {
        const tstring *ts = tstr_array_get_quick(arr, i);
        at = write_str_at(buf, at, add_zero, with_length, swap,
                          ts ? reinterpret_cast<const uint8 *>(ts->buf) : nullptr,
                          ts ? ts->length : 0);
    }
    if (ret_written) *ret_written = uint32(total);
    return 0;
}

int tb_append_tstr_array(tbuf *buf, tbool add_zero, tbool with_length, tbool swap,
                         const tstr_array *arr, uint32 *ret_written)
{
    if (ret_written) *ret_written = 0;
    bail_null(buf);
    return tb_put_tstr_array(buf, buf->length, add_zero, with_length, swap, arr, ret_written);
}

namespace
{

int put_vsprintf(tbuf *buf, uint32 offset, bool at_end, tbool add_zero, tbool with_length,
                 tbool swap_length, const char *format, va_list ap)
    __attribute__((format(printf, 7, 0)));

int put_vsprintf(tbuf *buf, uint32 offset, bool at_end, tbool add_zero, tbool with_length,
                 tbool swap_length, const char *format, va_list ap)
{
    bail_null(buf);
    bail_null(format);
    char *raw = nullptr;
    const int n = vasprintf(&raw, format, ap);
    lc_malloc_ptr<char> text{n < 0 ? nullptr : raw};
    bail_null(text);
    if (at_end) offset = buf->length;
    return tb_put_str(buf, offset, add_zero, with_length, swap_length, text.get(), n, nullptr);
}

} // namespace

int tb_put_sprintf(tbuf *buf, uint32 offset, tbool add_zero, tbool with_length, tbool swap_length,
                   const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err =
        put_vsprintf(buf, offset, false, add_zero, with_length, swap_length, format, ap);
    va_end(ap);
    return err;
}

int tb_append_sprintf(tbuf *buf, tbool add_zero, tbool with_length, tbool swap_length,
                      const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = put_vsprintf(buf, 0, true, add_zero, with_length, swap_length, format, ap);
    va_end(ap);
    return err;
}

// ---------------------------------------------------------------------------
// Reading

uint8 *tb_buf(const tbuf *buf)
{
    if (buf == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return nullptr;
    }
    return buf->bytes;
}

uint8 *tb_buf_maybe(const tbuf *buf)
{
    return buf ? buf->bytes : nullptr;
}

const uint8 *tb_buf_maybe_empty(const tbuf *buf)
{
    static const uint8 empty[1] = {0};
    return buf && buf->bytes ? buf->bytes : empty;
}

int tb_get_str(const tbuf *buf, uint32 offset, int32 max_len, tbool expect_zero, tbool with_length,
               tbool swap_length, char **ret, uint32 *ret_len, uint32 *ret_consumed)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_len) *ret_len = 0;
    if (ret_consumed) *ret_consumed = 0;
    bail_null(buf);
    if (offset > buf->length) bail_force(lc_err_no_buffer_space);

    uint32 at = offset;
    uint32 take = buf->length - offset;
    if (with_length) {
        if (!fits(buf, at, 4)) bail_force(lc_err_no_buffer_space);
        take = load_len(buf->bytes + at, swap_length);
        at += 4;
        // The length field is checked against what is present before it
        // sizes anything.
        if (!fits(buf, at, take)) bail_force(lc_err_no_buffer_space);
    } else if (max_len >= 0) {
        take = std::min(take, uint32(max_len));
    }
    if (expect_zero && (take == 0 || buf->bytes[at + take - 1] != 0))
        return lc_err_assertion_failed;

    lc_malloc_ptr<char> text{static_cast<char *>(malloc(size_t(take) + 1))};
    bail_null(text);
    if (take > 0) memcpy(text.get(), buf->bytes + at, take);
    text.get()[take] = 0;
    *ret = text.release();
    if (ret_len) *ret_len = expect_zero ? take - 1 : take;
    if (ret_consumed) *ret_consumed = at - offset + take;
    return 0;
}

int tb_get_tstr(const tbuf *buf, uint32 offset, int32 max_len, tbool expect_zero, tbool with_length,
                tbool swap_length, tstring **ret, uint32 *ret_consumed)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_consumed) *ret_consumed = 0;
    char *text = nullptr;
    uint32 len = 0, consumed = 0;
    const int err = tb_get_str(buf, offset, max_len, expect_zero, with_length, swap_length, &text,
                               &len, &consumed);
    if (err != 0) return err; // already reported where it arose
    // The block holds at least len + 1 bytes; the string keeps any zero bytes inside.
    bail_error(ts_new_str_takeover(ret, &text, len, len + 1));
    if (ret_consumed) *ret_consumed = consumed;
    return 0;
}

int tb_get_tstr_array(const tbuf *buf, uint32 offset, tbool expect_zero, tbool with_length,
                      tbool swap, tstr_array **ret, uint32 *ret_consumed)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_consumed) *ret_consumed = 0;
    bail_null(buf);
    if (!fits(buf, offset, 4)) bail_force(lc_err_no_buffer_space);
    const uint32 count = load_len(buf->bytes + offset, swap);
    uint32 at = offset + 4;
    // Every string takes at least its prefix or its zero byte: a count that
    // the bytes present cannot hold is refused before anything is built.
    if (uint64(count) * (with_length ? 4 : 1) > buf->length - at)
        bail_force(lc_err_no_buffer_space);

    owned<tstr_array> arr;
    bail_error(tstr_array_new(arr.out(), nullptr));
    for (uint32 i = 0; i < count; ++i) {
        int32 max_len = -1;
        if (!with_length) {
            const void *zero = memchr(buf->bytes + at, 0, buf->length - at);
            if (zero == nullptr) bail_force(lc_err_no_buffer_space);
            max_len = int32(static_cast<const uint8 *>(zero) - (buf->bytes + at) + 1);
        }
        owned<tstring> ts;
        uint32 consumed = 0;
        const int err =
            tb_get_tstr(buf, at, max_len, expect_zero, with_length, swap, ts.out(), &consumed);
        if (err != 0) return err;
        tstring *elem = ts.release(); // adopted by the array, on failure too
        bail_error(tstr_array_append_takeover(arr.get(), &elem));
        at += consumed;
    }
    *ret = arr.release();
    if (ret_consumed) *ret_consumed = at - offset;
    return 0;
}

// ---------------------------------------------------------------------------
// Fixed-width integers

#define TB_DEFINE_FIXED(name, ctype)                                                               \
    int tb_put_##name(tbuf *buf, uint32 offset, ctype value)                                       \
    {                                                                                              \
        return put_fixed<ctype, lc_bytes::order::native>(buf, offset, value);                      \
    }                                                                                              \
    int tb_append_##name(tbuf *buf, ctype value)                                                   \
    {                                                                                              \
        return append_fixed<ctype, lc_bytes::order::native>(buf, value);                           \
    }                                                                                              \
    int tb_get_##name(const tbuf *buf, uint32 offset, ctype *ret)                                  \
    {                                                                                              \
        return get_fixed<ctype, lc_bytes::order::native>(buf, offset, ret);                        \
    }                                                                                              \
    ctype tb_get_quick_##name(const tbuf *buf, uint32 offset)                                      \
    {                                                                                              \
        return get_quick<ctype, lc_bytes::order::native>(buf, offset);                             \
    }                                                                                              \
    int tb_put_##name##_be(tbuf *buf, uint32 offset, ctype value)                                  \
    {                                                                                              \
        return put_fixed<ctype, lc_bytes::order::big>(buf, offset, value);                         \
    }                                                                                              \
    int tb_append_##name##_be(tbuf *buf, ctype value)                                              \
    {                                                                                              \
        return append_fixed<ctype, lc_bytes::order::big>(buf, value);                              \
    }                                                                                              \
    int tb_get_##name##_be(const tbuf *buf, uint32 offset, ctype *ret)                             \
    {                                                                                              \
        return get_fixed<ctype, lc_bytes::order::big>(buf, offset, ret);                           \
    }                                                                                              \
    ctype tb_get_quick_##name##_be(const tbuf *buf, uint32 offset)                                 \
    {                                                                                              \
        return get_quick<ctype, lc_bytes::order::big>(buf, offset);                                \
    }
TB_FIXED_TYPES(TB_DEFINE_FIXED)
#undef TB_DEFINE_FIXED
