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
// machine: show records, shared-memory tables).
//
// The cursors borrow their bytes; they own nothing and never allocate
// (except lc_tbuf_writer, whose tbuf grows by its own rules).
#pragma once

#include <bit>
#include <cstring>
#include <type_traits>

#include "log/common.h"
#include "log/logging.h"
#include "util/tbuffer.h"

namespace lc_bytes
{

enum class order { big, little, native };

template <class T> constexpr T byteswap(T v) noexcept
{
    static_assert(std::is_unsigned_v<T>);
    if constexpr (sizeof(T) == 1) {
        return v;
    } else if constexpr (sizeof(T) == 2) {
        return T(__builtin_bswap16(v));
    } else if constexpr (sizeof(T) == 4) {
        return T(__builtin_bswap32(v));
    } else {
        return T(__builtin_bswap64(v));
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

template <order O, class T> inline T load(const uint8 *p) noexcept
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return convert<O>(v);
}

template <order O, class T> inline void store(uint8 *p, T v) noexcept
{
    v = convert<O>(v);
    std::memcpy(p, &v, sizeof v);
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

    template <lc_bytes::order O, class T> [[nodiscard]] bool get(T *ret) noexcept
    {
        if (sizeof(T) > remaining()) return false;
        *ret = lc_bytes::load<O, T>(p_);
        p_ += sizeof(T);
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
class lc_tbuf_writer
{
  public:
    explicit lc_tbuf_writer(tbuf *buf) noexcept : buf_(buf) {}

    tbuf *buf() const noexcept { return buf_; }
    uint32 offset() const noexcept { return tb_length(buf_); }

    template <lc_bytes::order O, class T> [[nodiscard]] int put(T v) noexcept
    {
        uint8 tmp[sizeof(T)];
        lc_bytes::store<O, T>(tmp, v);
        return tb_append_buf(buf_, tmp, int32(sizeof tmp));
    }
    template <lc_bytes::order O, class T> [[nodiscard]] int patch(uint32 offset, T v) noexcept
    {
        uint8 tmp[sizeof(T)];
        lc_bytes::store<O, T>(tmp, v);
        if (offset > tb_length(buf_) || sizeof tmp > tb_length(buf_) - offset)
            return lc_err_assertion_failed;
        return tb_put_buf(buf_, offset, tmp, int32(sizeof tmp));
    }

    [[nodiscard]] int u8(uint8 v) noexcept { return tb_append_byte(buf_, v); }
    [[nodiscard]] int be16(uint16 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int be32(uint32 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int be64(uint64 v) noexcept { return put<lc_bytes::order::big>(v); }
    [[nodiscard]] int le32(uint32 v) noexcept { return put<lc_bytes::order::little>(v); }
    [[nodiscard]] int bytes(const void *p, uint32 n) noexcept
    {
        return n ? tb_append_buf(buf_, p, int32(n)) : 0;
    }
    // Appends a 32-bit big-endian placeholder and returns its offset.
    [[nodiscard]] int hole_be32(uint32 *ret_offset) noexcept
    {
        *ret_offset = tb_length(buf_);
        return be32(0);
    }
    [[nodiscard]] int patch_be32(uint32 offset, uint32 v) noexcept
    {
        return patch<lc_bytes::order::big>(offset, v);
    }

  private:
    tbuf *buf_;
};
