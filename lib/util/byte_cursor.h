// Bounded cursors over bytes: the one way bytes enter and leave the process.
//
// Every decoder (frame headers, attribute wire values, messages, show
// records, shared-memory tables) reads through lc_byte_reader and every
// fixed-layout encoder writes through lc_byte_writer (a fixed span) or
// lc_tbuf_writer (a growing tbuf).  A read or write checks the room left
// before it moves or touches anything, so a failed call leaves both the
// cursor and the destination exactly as they were; a sub-cursor bounds a
// nested record so that a length field can never make a read run past its
// own record.
//
// Byte order is always explicit in the name: `be` network order, `le`
// little-endian, `ne` the host's own order (for layouts that never leave the
// machine: show records, shared-memory tables).  lc_bytes::load/store are
// the one place where bytes are swapped; the tbuf's own fixed-width integer
// functions are built on them too.
//
// The cursors borrow their bytes; they own nothing and never allocate
// (except lc_tbuf_writer, whose tbuf grows by its own rules).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "log/common.h"
#include "log/logging.h"
#include "util/tbuffer.h"

namespace lc_bytes
{

enum class order { big, little, native };

// The unsigned integer of `n` bytes, through which every value is swapped.
template <size_t N> struct unsigned_of;
template <> struct unsigned_of<1> {
    using type = uint8;
};
template <> struct unsigned_of<2> {
    using type = uint16;
};
template <> struct unsigned_of<4> {
    using type = uint32;
};
template <> struct unsigned_of<8> {
    using type = uint64;
};
template <> struct unsigned_of<16> {
    using type = unsigned __int128;
};
template <class T> using unsigned_for = typename unsigned_of<sizeof(T)>::type;

template <class T> constexpr T byteswap(T v) noexcept
{
    static_assert(std::is_unsigned_v<T> || std::is_same_v<T, unsigned __int128>);
    if constexpr (sizeof(T) == 1) {
        return v;
    } else if constexpr (sizeof(T) == 2) {
        return T(__builtin_bswap16(v));
    } else if constexpr (sizeof(T) == 4) {
        return T(__builtin_bswap32(v));
    } else if constexpr (sizeof(T) == 8) {
        return T(__builtin_bswap64(v));
    } else {
        return T(T(__builtin_bswap64(uint64(v))) << 64 | __builtin_bswap64(uint64(v >> 64)));
    }
}

// `v` converted between host order and `o` (the same operation both ways).
template <order O, class T> constexpr T convert(T v) noexcept
{
    if constexpr (O == order::native) {
        return v;
    } else if constexpr ((O == order::big) == (std::endian::native == std::endian::big)) {
        return v;
    } else {
        return byteswap(v);
    }
}

// Any fixed-width value (signed, unsigned, floating point, 128-bit) goes
// through the unsigned integer of its size, so there is one swap per width.
template <order O, class T> inline T load(const uint8 *p) noexcept
{
    static_assert(std::is_trivially_copyable_v<T>);
    unsigned_for<T> u;
    std::memcpy(&u, p, sizeof u);
    return std::bit_cast<T>(convert<O>(u));
}

template <order O, class T> inline void store(uint8 *p, T v) noexcept
{
    static_assert(std::is_trivially_copyable_v<T>);
    const unsigned_for<T> u = convert<O>(std::bit_cast<unsigned_for<T>>(v));
    std::memcpy(p, &u, sizeof u);
}

} // namespace lc_bytes

// Reads fixed-width values, byte runs and nested records from a borrowed
// span.  Each call returns false, without moving, when the bytes it needs
// are not all present.
class lc_byte_reader
{
  public:
    lc_byte_reader() noexcept = default;
    lc_byte_reader(const void *bytes, size_t len) noexcept
        : p_(static_cast<const uint8 *>(bytes)), end_(p_ + (bytes ? len : 0))
    {
    }

    size_t remaining() const noexcept { return size_t(end_ - p_); }
    bool empty() const noexcept { return p_ == end_; }
    // The next unread byte (valid while remaining() > 0).
    const uint8 *data() const noexcept { return p_; }

    [[nodiscard]] bool skip(size_t n) noexcept
    {
        if (n > remaining()) return false;
        p_ += n;
        return true;
    }
    [[nodiscard]] bool bytes(void *dst, size_t n) noexcept
    {
        if (n > remaining()) return false;
        if (n) std::memcpy(dst, p_, n);
        p_ += n;
        return true;
    }
    // Borrows the next `n` bytes without copying.
    [[nodiscard]] bool view(size_t n, const uint8 **ret) noexcept
    {
        if (n > remaining()) return false;
        *ret = p_;
        p_ += n;
        return true;
    }
    // Takes the next `n` bytes as a reader of their own: nested reads cannot
    // pass its end.
    [[nodiscard]] bool sub(size_t n, lc_byte_reader *ret) noexcept
    {
        if (n > remaining()) return false;
        *ret = lc_byte_reader(p_, n);
        p_ += n;
        return true;
    }
    // A reader of `n` bytes from `offset`, without moving this one: for
    // layouts read at named offsets.
    [[nodiscard]] bool at(size_t offset, size_t n, lc_byte_reader *ret) const noexcept
    {
        if (offset > remaining() || n > remaining() - offset) return false;
        *ret = lc_byte_reader(p_ + offset, n);
        return true;
    }

    // Whether `count` records of at least `each` bytes could still follow:
    // checked before a count from the bytes sizes anything.
    bool holds(uint64 count, size_t each) const noexcept
    {
        return each == 0 || count <= remaining() / each;
    }
    // A text field of `field_len` bytes: borrows it and gives the length of
    // the text in it (up to the first NUL, or the whole field).
    [[nodiscard]] bool text(size_t field_len, const char **ret, size_t *ret_len) noexcept
    {
        if (field_len > remaining()) return false;
        *ret = reinterpret_cast<const char *>(p_);
        *ret_len = strnlen(*ret, field_len);
        p_ += field_len;
        return true;
    }

    template <lc_bytes::order O, class T> [[nodiscard]] bool get(T *ret) noexcept
    {
        if (sizeof(T) > remaining()) return false;
        *ret = lc_bytes::load<O, T>(p_);
        p_ += sizeof(T);
        return true;
    }

    // Reads the value at `offset` without moving: for layouts with named
    // field offsets.
    template <lc_bytes::order O, class T>
    [[nodiscard]] bool get_at(size_t offset, T *ret) const noexcept
    {
        if (offset > remaining() || sizeof(T) > remaining() - offset) return false;
        *ret = lc_bytes::load<O, T>(p_ + offset);
        return true;
    }

    [[nodiscard]] bool u8(uint8 *v) noexcept { return get<lc_bytes::order::native>(v); }
    [[nodiscard]] bool be16(uint16 *v) noexcept { return get<lc_bytes::order::big>(v); }
    [[nodiscard]] bool be32(uint32 *v) noexcept { return get<lc_bytes::order::big>(v); }
    [[nodiscard]] bool be64(uint64 *v) noexcept { return get<lc_bytes::order::big>(v); }
    [[nodiscard]] bool le16(uint16 *v) noexcept { return get<lc_bytes::order::little>(v); }
    [[nodiscard]] bool le32(uint32 *v) noexcept { return get<lc_bytes::order::little>(v); }
    [[nodiscard]] bool le64(uint64 *v) noexcept { return get<lc_bytes::order::little>(v); }
    [[nodiscard]] bool ne16(uint16 *v) noexcept { return get<lc_bytes::order::native>(v); }
    [[nodiscard]] bool ne32(uint32 *v) noexcept { return get<lc_bytes::order::native>(v); }
    [[nodiscard]] bool ne64(uint64 *v) noexcept { return get<lc_bytes::order::native>(v); }

  private:
    const uint8 *p_ = nullptr;
    const uint8 *end_ = nullptr;
};

// Writes into a borrowed span of fixed size.  Each call returns false,
// without writing, when the value does not fit.
class lc_byte_writer
{
  public:
    lc_byte_writer() noexcept = default;
    lc_byte_writer(void *bytes, size_t len) noexcept
        : p_(static_cast<uint8 *>(bytes)), end_(p_ + (bytes ? len : 0))
    {
    }

    size_t remaining() const noexcept { return size_t(end_ - p_); }
    uint8 *data() const noexcept { return p_; }

    [[nodiscard]] bool skip(size_t n) noexcept
    {
        if (n > remaining()) return false;
        p_ += n;
        return true;
    }
    [[nodiscard]] bool bytes(const void *src, size_t n) noexcept
    {
        if (n > remaining()) return false;
        if (n) std::memcpy(p_, src, n);
        p_ += n;
        return true;
    }
    [[nodiscard]] bool fill(uint8 byte, size_t n) noexcept
    {
        if (n > remaining()) return false;
        std::memset(p_, byte, n);
        p_ += n;
        return true;
    }
    // Takes the next `n` bytes as a writer of their own.
    [[nodiscard]] bool sub(size_t n, lc_byte_writer *ret) noexcept
    {
        if (n > remaining()) return false;
        *ret = lc_byte_writer(p_, n);
        p_ += n;
        return true;
    }
    // A writer of `n` bytes from `offset`, without moving this one.
    [[nodiscard]] bool at(size_t offset, size_t n, lc_byte_writer *ret) const noexcept
    {
        if (offset > remaining() || n > remaining() - offset) return false;
        *ret = lc_byte_writer(p_ + offset, n);
        return true;
    }
    // Writes `text` NUL-terminated into a field of `field_len` bytes, cut to
    // field_len - 1 characters, and moves past the whole field; the rest of
    // the field is zeroed.
    [[nodiscard]] bool text(const char *text, size_t field_len) noexcept
    {
        if (field_len == 0 || field_len > remaining()) return false;
        const size_t n = text ? strnlen(text, field_len - 1) : 0;
        if (n) std::memcpy(p_, text, n);
        std::memset(p_ + n, 0, field_len - n);
        p_ += field_len;
        return true;
    }

    template <lc_bytes::order O, class T> [[nodiscard]] bool put(T v) noexcept
    {
        if (sizeof(T) > remaining()) return false;
        lc_bytes::store<O, T>(p_, v);
        p_ += sizeof(T);
        return true;
    }

    // Writes the value at `offset` without moving.
    template <lc_bytes::order O, class T> [[nodiscard]] bool put_at(size_t offset, T v) noexcept
    {
        if (offset > remaining() || sizeof(T) > remaining() - offset) return false;
        lc_bytes::store<O, T>(p_ + offset, v);
        return true;
    }

    [[nodiscard]] bool u8(uint8 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] bool be16(uint16 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] bool be32(uint32 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] bool be64(uint64 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] bool le16(uint16 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] bool le32(uint32 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] bool le64(uint64 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] bool ne16(uint16 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] bool ne32(uint32 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] bool ne64(uint64 v) noexcept { return put<lc_bytes::order::native>(v); }

  private:
    uint8 *p_ = nullptr;
    uint8 *end_ = nullptr;
};

// Appends to a tbuf, which grows by its own rules; placeholders are
// patched later at their offsets.  Calls return the tbuf's error codes.
// Appends that fit the room already allocated are written in place (the
// tbuf's own fast path, kept here so that encoders pay no call per field).
class lc_tbuf_writer
{
  public:
    explicit lc_tbuf_writer(tbuf *buf) noexcept : buf_(buf) {}

    tbuf *buf() const noexcept { return buf_; }
    uint32 offset() const noexcept { return buf_->length; }

    template <lc_bytes::order O, class T> [[nodiscard]] int put(T v) noexcept
    {
        if (fits_in_place(sizeof(T))) [[likely]] {
            lc_bytes::store<O, T>(buf_->bytes + buf_->length, v);
            advance(sizeof(T));
            return 0;
        }
        uint8 tmp[sizeof(T)];
        lc_bytes::store<O, T>(tmp, v);
        return tb_append_buf(buf_, tmp, int32(sizeof tmp));
    }
    // Overwrites bytes already written; lc_err_assertion_failed when the
    // value would not lie wholly within them.
    template <lc_bytes::order O, class T> [[nodiscard]] int patch(uint32 offset, T v) noexcept
    {
        if (offset > buf_->length || sizeof(T) > buf_->length - offset)
            return lc_err_assertion_failed;
        if (buf_->is_const) return tb_put_buf(buf_, offset, &v, int32(sizeof v)); // refused there
        lc_bytes::store<O, T>(buf_->bytes + offset, v);
        return 0;
    }

    [[nodiscard]] int u8(uint8 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] int be16(uint16 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int be32(uint32 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int be64(uint64 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int le16(uint16 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] int le32(uint32 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] int le64(uint64 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] int ne16(uint16 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] int ne32(uint32 v) noexcept { return put<lc_bytes::order::native>(v); }
    [[nodiscard]] int ne64(uint64 v) noexcept { return put<lc_bytes::order::native>(v); }

    [[nodiscard]] int bytes(const void *p, uint32 n) noexcept
    {
        if (n == 0) return 0;
        if (fits_in_place(n)) [[likely]] {
            std::memcpy(buf_->bytes + buf_->length, p, n);
            advance(n);
            return 0;
        }
        if (n > uint32(INT32_MAX)) return lc_err_no_buffer_space;
        return tb_append_buf(buf_, p, int32(n));
    }
    // Appends a 32-bit big-endian length and then `n` bytes: the counted
    // strings and values of the wire formats.
    [[nodiscard]] int counted_be32(const void *p, uint32 n) noexcept
    {
        if (fits_in_place(size_t(4) + n)) [[likely]] {
            lc_bytes::store<lc_bytes::order::big>(buf_->bytes + buf_->length, n);
            if (n) std::memcpy(buf_->bytes + buf_->length + 4, p, n);
            advance(size_t(4) + n);
            return 0;
        }
        const int err = be32(n);
        return err ? err : bytes(p, n);
    }
    // Appends room for a fixed record of `n` bytes and gives a writer over
    // it, for layouts written at named offsets.  The caller writes every
    // byte of the record: the room is not cleared.
    [[nodiscard]] int record(uint32 n, lc_byte_writer *ret) noexcept
    {
        if (!fits_in_place(n)) {
            if (n > uint32(INT32_MAX)) return lc_err_no_buffer_space;
            const uint32 at = offset();
            const int err = tb_append_bytes(buf_, 0, n);
            if (err) return err;
            *ret = lc_byte_writer(buf_->bytes + at, n);
            return 0;
        }
        *ret = lc_byte_writer(buf_->bytes + buf_->length, n);
        advance(n);
        return 0;
    }
    // Appends a 32-bit big-endian placeholder and gives its offset.
    [[nodiscard]] int hole_be32(uint32 *ret_offset) noexcept
    {
        *ret_offset = offset();
        return be32(0);
    }
    [[nodiscard]] int patch_be32(uint32 offset, uint32 v) noexcept
    {
        return patch<lc_bytes::order::big>(offset, v);
    }

  private:
    // The tbuf keeps a NUL after its bytes and may shrink or refuse writes:
    // only a plain owned buffer with room for `n` and the NUL is written here.
    bool fits_in_place(size_t n) const noexcept
    {
        return !buf_->is_const && !buf_->auto_shrink && uint64(buf_->length) + n < buf_->size;
    }
    void advance(size_t n) noexcept
    {
        buf_->length += uint32(n);
        buf_->bytes[buf_->length] = 0;
    }

    tbuf *buf_;
};
