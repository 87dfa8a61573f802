// UTF-8 helpers of tstring: validation and offset walks over byte strings,
// and the in-place case mapping and character classes used for
// case-insensitive comparison (see tstring.h).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "log/logging.h"
#include "util/tstring.h"

// ---------------------------------------------------------------------------
// UTF-8

namespace
{

// Decodes one character of at most `avail` bytes; false on a bad sequence.
bool utf8_decode(const unsigned char *s, uint32 avail, uint32 *cp, uint32 *size)
{
    const uint32 n = ts_utf8_char_size(static_cast<char>(s[0]));
    if (n == 0 || n > avail) return false;
    if (n == 1) {
        *cp = s[0];
        *size = 1;
        return true;
    }
    uint32 c = s[0] & (0xFF >> (n + 1));
    for (uint32 k = 1; k < n; ++k) {
        if ((s[k] & 0xC0) != 0x80) return false;
        c = (c << 6) | (s[k] & 0x3F);
    }
    static const uint32 min_for[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < min_for[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    *cp = c;
    *size = n;
    return true;
}

void utf8_encode(uint32 cp, uint32 size, unsigned char *out)
{
    if (size == 1) {
        out[0] = static_cast<unsigned char>(cp);
        return;
    }
    static const unsigned char lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (uint32 k = size - 1; k > 0; --k) {
        out[k] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<unsigned char>(lead[size] | cp);
}

void log_bad_utf8(const unsigned char *s, uint32 avail)
{
    char hex[4 * 3 + 1] = "";
    const uint32 n = std::min<uint32>(avail, 4);
    for (uint32 k = 0; k < n; ++k) snprintf(hex + 3 * k, 4, " %02x", s[k]);
    lc_log_basic(LCL_ERR, "Tstring encoding error: bad UTF-8 sequence.  Bytes:%s", hex);
}

// Case pairs of equal encoded size.
uint32 cp_to_upper(uint32 c)
{
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c < 0x80) return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c <= 0x137 || (c >= 0x14A && c <= 0x177)) && c != 0x130 && c != 0x131)
            return (c & 1) ? c - 1 : c;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

uint32 cp_to_lower(uint32 c)
{
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0x80) return c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c <= 0x137 || (c >= 0x14A && c <= 0x177)) && c != 0x130 && c != 0x131)
            return (c & 1) ? c : c + 1;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

// Decodes leniently for the Tcl-style helpers: a bad byte is one character.
uint32 lenient_decode(const char *s, uint32 *size)
{
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    uint32 cp = 0;
    const uint32 avail = static_cast<uint32>(strnlen(s, 4));
    if (avail > 0 && utf8_decode(u, avail, &cp, size)) return cp;
    *size = 1;
    return u[0];
}

int map_case(char *str, uint32 (*fn)(uint32))
{
    if (str == nullptr) return 0;
    char *p = str;
    while (*p != '\0') {
        uint32 size = 0;
        const uint32 cp = lenient_decode(p, &size);
        const uint32 mapped = fn(cp);
        // Every pair in the tables has the same encoded size; a stray byte
        // that is not ASCII is left alone.
        if (mapped != cp && (size > 1 || cp < 0x80)) {
            unsigned char enc[4];
            utf8_encode(mapped, size, enc);
            memcpy(p, enc, size);
        }
        p += size;
    }
    return static_cast<int>(p - str);
}

} // namespace

uint32 ts_utf8_char_size(char lead)
{
    const auto c = static_cast<unsigned char>(lead);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

int ts_get_char_utf8(const tstring *ts, uint32 index, uint32 *ret_code_point, uint32 *ret_size)
{
    bail_null(ret_code_point);
    *ret_code_point = 0;
    if (ret_size) *ret_size = 0;
    bail_null(ts);
    bail_require(index < ts->length);
    const auto *u = reinterpret_cast<const unsigned char *>(ts->buf + index);
    uint32 cp = 0, size = 0;
    if (!utf8_decode(u, ts->length - index, &cp, &size)) {
        log_bad_utf8(u, ts->length - index);
        return lc_err_bad_utf8;
    }
    *ret_code_point = cp;
    if (ret_size) *ret_size = size;
    return 0;
}

namespace
{

// Walks whole characters from the start: stops once `limit` characters
// (by_chars) or bytes have been passed; returns both counts.
int utf8_walk(const tstring *ts, uint32 limit, bool by_chars, uint32 *bytes, uint32 *chars)
{
    uint32 b = 0, c = 0;
    while ((by_chars ? c : b) < limit) {
        bail_require(b < ts->length);
        const auto *u = reinterpret_cast<const unsigned char *>(ts->buf + b);
        uint32 cp = 0, size = 0;
        if (!utf8_decode(u, ts->length - b, &cp, &size)) {
            log_bad_utf8(u, ts->length - b);
            return lc_err_bad_utf8;
        }
        b += size;
        ++c;
    }
    bail_require(by_chars || b == limit); // a byte offset inside a character
    *bytes = b;
    *chars = c;
    return 0;
}

} // namespace

int ts_utf8_char_to_byte_offset(const tstring *ts, uint32 char_offset, uint32 *ret_byte_offset)
{
    bail_null(ret_byte_offset);
    *ret_byte_offset = 0;
    bail_null(ts);
    uint32 b = 0, c = 0;
    bail_error(utf8_walk(ts, char_offset, true, &b, &c));
    *ret_byte_offset = b;
    return 0;
}

int ts_utf8_byte_to_char_offset(const tstring *ts, uint32 byte_offset, uint32 *ret_char_offset)
{
    bail_null(ret_char_offset);
    *ret_char_offset = 0;
    bail_null(ts);
    uint32 b = 0, c = 0;
    bail_error(utf8_walk(ts, byte_offset, false, &b, &c));
    *ret_char_offset = c;
    return 0;
}

int Tcl_UtfToUpper(char *str)
{
    return map_case(str, cp_to_upper);
}
int Tcl_UtfToLower(char *str)
{
    return map_case(str, cp_to_lower);
}

int Tcl_UtfNcasecmp(const char *cs, const char *ct, unsigned long num_chars)
{
    if (cs == nullptr || ct == nullptr) return (cs != nullptr) - (ct != nullptr);
    for (unsigned long k = 0; k < num_chars; ++k) {
        if (*cs == '\0' && *ct == '\0') return 0;
        uint32 n1 = 0, n2 = 0;
        const uint32 c1 = cp_to_lower(lenient_decode(cs, &n1));
        const uint32 c2 = cp_to_lower(lenient_decode(ct, &n2));
        if (c1 != c2) return static_cast<int>(c1) - static_cast<int>(c2);
        cs += n1;
        ct += n2;
    }
    return 0;
}

int Tcl_UtfCharIsLower(const char *s)
{
    if (s == nullptr) return 0;
    uint32 size = 0;
    const uint32 cp = lenient_decode(s, &size);
    return cp_to_upper(cp) != cp || cp == 0xDF;
}

int Tcl_UtfCharIsUpper(const char *s)
{
    if (s == nullptr) return 0;
    uint32 size = 0;
    const uint32 cp = lenient_decode(s, &size);
    return cp_to_lower(cp) != cp;
}

int Tcl_UtfCharIsSpace(const char *s)
{
    if (s == nullptr) return 0;
    uint32 size = 0;
    const uint32 cp = lenient_decode(s, &size);
    if (cp < 0x80) return cp != 0 && isspace(static_cast<int>(cp)) != 0;
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}
