// tstring: growable zero-terminated byte strings (see tstring.h).
//
// Every content change funnels through splice(), which checks the range,
// grows the buffer first (so a failure leaves the string untouched), moves the
// bytes and then settles the length, running the shrink half of the resize
// rule.  The tokeniser, the escaper and the joiner live here too because
// they need the same internals; tstr_array wraps them.
#include "util/tstring.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "log/logging.h"

const uint32 ts_size_initial = 16;
const uint32 ts_resize_factor = 2;
const uint32 ts_size_max = 83886080;
const uint32 ts_size_max_extra_growth = 8388608;

void *(*detail::ts_realloc_for_tests)(void *, size_t) = nullptr;

namespace
{

void *ts_realloc(void *p, size_t n)
{
    return detail::ts_realloc_for_tests ? detail::ts_realloc_for_tests(p, n) : realloc(p, n);
}

uint64 needed_for(uint64 length)
{
    return std::max<uint64>(length + 1, ts_size_initial);
}

// The size the resize rule picks for a buffer of `size` bytes that must hold
// `needed` bytes.
uint64 resized(uint64 size, uint64 needed)
{
    if (size < needed) {
        uint64 s = std::max<uint64>(size, ts_size_initial);
        while (s < needed) s *= ts_resize_factor;
        s = std::min<uint64>(s, ts_size_max);
        if (s - needed > ts_size_max_extra_growth) s = needed + ts_size_max_extra_growth;
        return s;
    }
    if (size > 4 * needed) {
        uint64 d = 2;
        while (size / d > 4 * needed) d *= 2;
        return size / d;
    }
    return size;
}

int check_max(uint64 length)
{
    const uint64 needed = needed_for(length);
    if (needed > ts_size_max) {
        lc_log_basic(LCL_ERR, "maximum size exceeded: %d",
                     static_cast<int>(std::min<uint64>(needed, INT32_MAX)));
        return lc_err_assertion_failed;
    }
    return 0;
}

} // namespace

int detail::ts_check_length(uint64 length)
{
    return check_max(length);
}

namespace
{

int realloc_to(tstring *ts, uint64 new_size)
{
    if (new_size == ts->size) return 0;
    char *nb = static_cast<char *>(ts_realloc(ts->buf, new_size));
    if (nb == nullptr) {
        lc_log_basic(LCL_ERR, "String resize failed: act=%d, req=%d", static_cast<int>(ts->size),
                     static_cast<int>(new_size));
        return lc_err_unexpected_null;
    }
    ts->buf = nb;
    ts->size = static_cast<uint32>(new_size);
    return 0;
}

// Makes room for a content of `length` bytes without shrinking.
int reserve(tstring *ts, uint64 length)
{
    if (length + 1 <= ts->size) return 0;
    bail_error(check_max(length));
    return realloc_to(ts, resized(ts->size, needed_for(length)));
}

// Records a new length and applies the shrink half of the rule.  A failed
// shrink keeps the larger buffer: the content is already right.
void settle(tstring *ts, uint32 length)
{
    ts->length = length;
    ts->num_chars = length;
    ts->buf[length] = '\0';
    const uint64 needed = needed_for(length);
    if (ts->size > 4 * needed) (void)realloc_to(ts, resized(ts->size, needed));
}

// Replaces `del` bytes at `start` with `n` bytes of `src`.  `src` may point
// into the string itself.
int splice(tstring *ts, uint32 start, uint32 del, const char *src, uint32 n)
{
    bail_null(ts);
    bail_require(start <= ts->length && del <= ts->length - start);
    if (n > 0) bail_null(src);
    const uint64 new_len = uint64{ts->length} - del + n;
    // Text from inside the string itself is copied first: the buffer moves.
    lc_malloc_ptr<char> alias;
    if (n > 0 && src >= ts->buf && src < ts->buf + ts->size) {
        alias.reset(static_cast<char *>(malloc(n)));
        bail_null(alias);
        memcpy(alias.get(), src, n);
        src = alias.get();
    }
    bail_error(reserve(ts, new_len));
    const uint32 tail = ts->length - start - del;
    if (n != del) memmove(ts->buf + start + n, ts->buf + start + del, tail);
    if (n > 0) memcpy(ts->buf + start, src, n);
    settle(ts, static_cast<uint32>(new_len));
    return 0;
}

int splice_vsprintf(tstring *ts, uint32 start, uint32 del, const char *format, va_list ap)
    __attribute__((format(printf, 4, 0)));
int splice_vsprintf(tstring *ts, uint32 start, uint32 del, const char *format, va_list ap)
{
    bail_null(ts);
    bail_null(format);
    char small[256];
    va_list ap2;
    va_copy(ap2, ap);
    const int n = vsnprintf(small, sizeof small, format, ap2);
    va_end(ap2);
    bail_require(n >= 0);
    if (static_cast<size_t>(n) < sizeof small) return splice(ts, start, del, small, n);
    bail_error(check_max(static_cast<uint64>(n)));
    lc_malloc_ptr<char> big{static_cast<char *>(malloc(static_cast<size_t>(n) + 1))};
    bail_null(big);
    vsnprintf(big.get(), static_cast<size_t>(n) + 1, format, ap);
    return splice(ts, start, del, big.get(), static_cast<uint32>(n));
}

int new_with_size(tstring **ret, uint64 size)
{
    bail_null(ret);
    *ret = nullptr;
    size = std::max<uint64>(size, ts_size_initial);
    if (size > ts_size_max) {
        lc_log_basic(LCL_ERR, "maximum size exceeded: %d",
                     static_cast<int>(std::min<uint64>(size, INT32_MAX)));
        return lc_err_assertion_failed;
    }
    owned<tstring> ts{static_cast<tstring *>(calloc(1, sizeof(tstring)))};
    bail_null(ts.get());
    ts->buf = static_cast<char *>(ts_realloc(nullptr, size));
    if (ts->buf == nullptr) {
        lc_log_basic(LCL_ERR, "String resize failed: act=%d, req=%d", 0, static_cast<int>(size));
        return lc_err_unexpected_null;
    }
    ts->size = static_cast<uint32>(size);
    ts->buf[0] = '\0';
    *ret = ts.release();
    return 0;
}

int cmp_text(const char *a, const char *b, tbool case_insensitive)
{
    return case_insensitive ? strcasecmp(a, b) : strcmp(a, b);
}

bool range_ok(const tstring *s, uint32 start, uint32 len)
{
    return start <= s->length && len <= s->length - start;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and release

int ts_new(tstring **ret)
{
    return new_with_size(ret, ts_size_initial);
}

int ts_new_size(tstring **ret, uint32 size)
{
    return new_with_size(ret, size);
}

int detail::ts_new_buffer(tstring **ret, const char *data, uint32 len)
{
    bail_null(ret);
    *ret = nullptr;
    if (len > 0) bail_null(data);
    bail_error(check_max(len));
    owned<tstring> ts;
    bail_error(new_with_size(ts.out(), needed_for(len)));
    if (len > 0) memcpy(ts->buf, data, len);
    settle(ts.get(), len);
    *ret = ts.release();
    return 0;
}

int ts_new_str(tstring **ret, const char *s)
{
    bail_null(ret);
    *ret = nullptr;
    const size_t n = s ? strnlen(s, uint64{ts_size_max} + 1) : 0;
    bail_error(check_max(n));
    return detail::ts_new_buffer(ret, s, static_cast<uint32>(n));
}

int ts_new_vsprintf(tstring **ret, const char *format, va_list ap)
{
    bail_null(ret);
    *ret = nullptr;
    owned<tstring> ts;
    bail_error(ts_new(ts.out()));
    bail_error(splice_vsprintf(ts.get(), 0, 0, format, ap));
    *ret = ts.release();
    return 0;
}

int ts_new_sprintf(tstring **ret, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = ts_new_vsprintf(ret, format, ap);
    va_end(ap);
    return err;
}

int ts_new_str_takeover(tstring **ret, char **s, uint32 length, uint32 size)
{
    char *adopted = s ? *s : nullptr;
    if (s) *s = nullptr;
    // Owned from here on: freed on every failure below.
    lc_malloc_ptr<char> holder{adopted};
    bail_null(ret);
    *ret = nullptr;
    bail_null(adopted);
    bail_require(length < size);
    owned<tstring> ts{static_cast<tstring *>(calloc(1, sizeof(tstring)))};
    bail_null(ts.get());
    ts->buf = holder.release();
    ts->size = size;
    ts->buf[length] = '\0';
    ts->length = ts->num_chars = length;
    bail_error(ts_maybe_resize(ts.get(), length));
    *ret = ts.release();
    return 0;
}

int ts_new_or_replace_str(tstring **ts, const char *s)
{
    bail_null(ts);
    if (*ts == nullptr) return ts_new_str(ts, s);
    return ts_put_str(*ts, s ? s : "");
}

int ts_new_utf8(tstring **ret)
{
    return ts_new(ret);
}
int ts_new_size_utf8(tstring **ret, uint32 size)
{
    return ts_new_size(ret, size);
}
int ts_new_str_utf8(tstring **ret, const char *s)
{
    return ts_new_str(ret, s);
}
int ts_new_sprintf_utf8(tstring **ret, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = ts_new_vsprintf(ret, format, ap);
    va_end(ap);
    return err;
}
int ts_new_str_takeover_utf8(tstring **ret, char **s, uint32 length, uint32 size)
{
    return ts_new_str_takeover(ret, s, length, size);
}
int ts_new_or_replace_str_utf8(tstring **ts, const char *s)
{
    return ts_new_or_replace_str(ts, s);
}

int ts_set_utf8(tstring *ts, tbool)
{
    bail_null(ts);
    ts->utf8 = 0;
    ts->num_chars = ts->length;
    return 0;
}

int ts_dup(const tstring *src, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    return detail::ts_new_buffer(ret, src->buf, src->length);
}

int ts_dup_str(const tstring *src, char **ret, uint32 *ret_len)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_len) *ret_len = 0;
    bail_null(src);
    char *p = static_cast<char *>(malloc(size_t{src->length} + 1));
    bail_null(p);
    memcpy(p, src->buf, src->length);
    p[src->length] = '\0';
    *ret = p;
    if (ret_len) *ret_len = src->length;
    return 0;
}

int ts_dup_maybe(const tstring *src, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    if (src == nullptr) return 0;
    return ts_dup(src, ret);
}

int ts_free(tstring **ts)
{
    if (ts == nullptr || *ts == nullptr) return 0;
    free((*ts)->buf);
    free(*ts);
    *ts = nullptr;
    return 0;
}

int ts_detach(tstring **ts, char **ret_buf, uint32 *ret_len)
{
    bail_null(ret_buf);
    *ret_buf = nullptr;
    if (ret_len) *ret_len = 0;
    bail_null(ts);
    bail_null(*ts);
    *ret_buf = std::exchange((*ts)->buf, nullptr);
    if (ret_len) *ret_len = (*ts)->length;
    free(*ts);
    *ts = nullptr;
    return 0;
}

int ts_clear(tstring *ts)
{
    return splice(ts, 0, ts ? ts->length : 0, nullptr, 0);
}

int ts_clear_no_resize(tstring *ts)
{
    bail_null(ts);
    ts->length = ts->num_chars = 0;
    ts->buf[0] = '\0';
    return 0;
}

int ts_maybe_resize(tstring *ts, uint32 length)
{
    bail_null(ts);
    bail_error(check_max(length));
    // Never cut into the current content.
    const uint64 needed = needed_for(std::max(length, ts->length));
    return realloc_to(ts, resized(ts->size, needed));
}

// ---------------------------------------------------------------------------
// Access

const char *ts_str_(const tstring *ts, const char *file, int line)
{
    if (ts == nullptr) {
        lc_log_basic(LCL_ERR, "Unexpected NULL for ts_str() at %s:%d", file, line);
        return nullptr;
    }
    return ts->buf;
}

uint32 ts_length_(const tstring *ts, const char *file, int line)
{
    if (ts == nullptr) {
        lc_log_basic(LCL_ERR, "Unexpected NULL for ts_length() at %s:%d", file, line);
        return ts_npos;
    }
    return ts->length;
}

const char *ts_str_maybe(const tstring *ts)
{
    return ts ? ts->buf : nullptr;
}
const char *ts_str_maybe_empty(const tstring *ts)
{
    return ts ? ts->buf : "";
}
uint32 ts_num_chars(const tstring *ts)
{
    return ts ? ts->num_chars : ts_npos;
}
uint32 ts_size(const tstring *ts)
{
    return ts ? ts->size : 0;
}

char ts_get_char(const tstring *ts, uint32 index)
{
    return (ts && index < ts->length) ? ts->buf[index] : '\0';
}

const char *ts_str_nth(const tstring *ts, uint32 index)
{
    return (ts && index <= ts->length) ? ts->buf + index : nullptr;
}

char *ts_get_buffer(tstring *ts)
{
    return ts ? ts->buf : nullptr;
}

int ts_substr(const tstring *ts, uint32 start, uint32 len, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(ts);
    bail_require(start <= ts->length);
    if (len == ts_npos) len = ts->length - start;
    bail_require(len <= ts->length - start);
    return detail::ts_new_buffer(ret, ts->buf + start, len);
}

// ---------------------------------------------------------------------------
// Modification

int ts_append_buffer(tstring *ts, const void *buf, uint32 len)
{
    bail_null(ts);
    return splice(ts, ts->length, 0, static_cast<const char *>(buf), len);
}

int ts_append_str(tstring *ts, const char *s)
{
    bail_null(ts);
    bail_null(s);
    const size_t n = strlen(s);
    // The common case of a short append into room already there (which also
    // keeps it under the maximum); everything else goes the long way.
    const uint64 new_len = uint64{ts->length} + n;
    if (new_len + 1 <= ts->size && ts->size <= 4 * needed_for(new_len)) [[likely]] {
        memcpy(ts->buf + ts->length, s, n);
        ts->length += static_cast<uint32>(n);
        ts->num_chars = ts->length;
        ts->buf[ts->length] = '\0';
        return 0;
    }
    bail_error(check_max(new_len));
    return splice(ts, ts->length, 0, s, static_cast<uint32>(n));
}

int ts_append(tstring *ts, const tstring *s)
{
    bail_null(ts);
    bail_null(s);
    return splice(ts, ts->length, 0, s->buf, s->length);
}

int ts_append_char(tstring *ts, char ch)
{
    bail_null(ts);
    return splice(ts, ts->length, 0, &ch, 1);
}

int ts_append_chars(tstring *ts, uint32 n, char ch)
{
    bail_null(ts);
    const uint64 new_len = uint64{ts->length} + n;
    bail_error(check_max(new_len));
    bail_error(reserve(ts, new_len));
    memset(ts->buf + ts->length, ch, n);
    settle(ts, static_cast<uint32>(new_len));
    return 0;
}

int ts_append_chars_pad_to_length(tstring *ts, uint32 length, char ch)
{
    bail_null(ts);
    if (ts->length >= length) return 0;
    return ts_append_chars(ts, length - ts->length, ch);
}

int ts_append_vsprintf(tstring *ts, const char *format, va_list ap)
{
    bail_null(ts);
    return splice_vsprintf(ts, ts->length, 0, format, ap);
}

int ts_append_sprintf(tstring *ts, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = ts_append_vsprintf(ts, format, ap);
    va_end(ap);
    return err;
}

int ts_append_str_frag(tstring *ts, const char *s, uint32 start, uint32 len)
{
    bail_null(ts);
    bail_null(s);
    const size_t n = strlen(s);
    bail_require(start <= n && len <= n - start);
    return splice(ts, ts->length, 0, s + start, len);
}

int ts_append_tstr_frag(tstring *ts, const tstring *s, uint32 start, uint32 len)
{
    bail_null(ts);
    bail_null(s);
    bail_require(range_ok(s, start, len));
    return splice(ts, ts->length, 0, s->buf + start, len);
}

int ts_put_buffer(tstring *ts, const void *buf, uint32 len)
{
    bail_null(ts);
    return splice(ts, 0, ts->length, static_cast<const char *>(buf), len);
}

int ts_put_str(tstring *ts, const char *s)
{
    bail_null(s);
    return ts_put_buffer(ts, s, static_cast<uint32>(strnlen(s, uint64{ts_size_max} + 1)));
}

int ts_put(tstring *ts, const tstring *s)
{
    bail_null(s);
    return ts_put_buffer(ts, s->buf, s->length);
}

int ts_put_char(tstring *ts, char ch)
{
    return ts_put_buffer(ts, &ch, 1);
}

int ts_put_sprintf(tstring *ts, const char *format, ...)
{
    bail_null(ts);
    va_list ap;
    va_start(ap, format);
    const int err = splice_vsprintf(ts, 0, ts->length, format, ap);
    va_end(ap);
    return err;
}

int ts_put_str_frag(tstring *ts, const char *s, uint32 start, uint32 len)
{
    bail_null(s);
    const size_t n = strlen(s);
    bail_require(start <= n && len <= n - start);
    return ts_put_buffer(ts, s + start, len);
}

int ts_put_tstr_frag(tstring *ts, const tstring *s, uint32 start, uint32 len)
{
    bail_null(s);
    bail_require(range_ok(s, start, len));
    return ts_put_buffer(ts, s->buf + start, len);
}

int ts_copy_str(tstring *ts, uint32 start, const char *s)
{
    bail_null(ts);
    bail_null(s);
    bail_require(start <= ts->length);
    const uint32 n = static_cast<uint32>(strnlen(s, uint64{ts_size_max} + 1));
    return splice(ts, start, std::min(n, ts->length - start), s, n);
}

int ts_replace_str(tstring *ts, uint32 start, uint32 len, const char *s)
{
    bail_null(s);
    return splice(ts, start, len, s, static_cast<uint32>(strnlen(s, uint64{ts_size_max} + 1)));
}

int ts_insert_char(tstring *ts, uint32 index, char ch)
{
    return splice(ts, index, 0, &ch, 1);
}

int ts_insert_str(tstring *ts, uint32 index, const char *s)
{
    bail_null(s);
    return splice(ts, index, 0, s, static_cast<uint32>(strnlen(s, uint64{ts_size_max} + 1)));
}

int ts_insert_buffer(tstring *ts, uint32 index, const void *buf, uint32 len)
{
    return splice(ts, index, 0, static_cast<const char *>(buf), len);
}

int ts_insert(tstring *ts, uint32 index, const tstring *s)
{
    bail_null(s);
    return splice(ts, index, 0, s->buf, s->length);
}

int ts_insert_sprintf(tstring *ts, uint32 index, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = splice_vsprintf(ts, index, 0, format, ap);
    va_end(ap);
    return err;
}

int ts_cut(tstring *ts, uint32 start, uint32 len)
{
    return splice(ts, start, len, nullptr, 0);
}

int ts_remove_char(tstring *ts, uint32 index)
{
    return splice(ts, index, 1, nullptr, 0);
}

int ts_replace_char(tstring *ts, char from, char to)
{
    bail_null(ts);
    std::replace(ts->buf, ts->buf + ts->length, from, to);
    return 0;
}

int ts_trans_lowercase(tstring *ts)
{
    bail_null(ts);
    for (uint32 i = 0; i < ts->length; ++i)
        ts->buf[i] = static_cast<char>(tolower(static_cast<unsigned char>(ts->buf[i])));
    return 0;
}

int ts_trans_uppercase(tstring *ts)
{
    bail_null(ts);
    for (uint32 i = 0; i < ts->length; ++i)
        ts->buf[i] = static_cast<char>(toupper(static_cast<unsigned char>(ts->buf[i])));
    return 0;
}

int ts_trans_map_chars(tstring *ts, const char *from, const char *to)
{
    bail_null(ts);
    bail_null(from);
    bail_null(to);
    bail_require(strlen(from) == strlen(to));
    unsigned char map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
    for (size_t i = 0; from[i] != '\0'; ++i)
        map[static_cast<unsigned char>(from[i])] = static_cast<unsigned char>(to[i]);
    for (uint32 i = 0; i < ts->length; ++i)
        ts->buf[i] = static_cast<char>(map[static_cast<unsigned char>(ts->buf[i])]);
    return 0;
}

int ts_trim_num_chars(tstring *ts, uint32 head, uint32 tail)
{
    bail_null(ts);
    bail_require(head <= ts->length && tail <= ts->length - head);
    if (tail > 0) bail_error(splice(ts, ts->length - tail, tail, nullptr, 0));
    if (head > 0) bail_error(splice(ts, 0, head, nullptr, 0));
    return 0;
}

int ts_trim(tstring *ts, char head, char tail)
{
    bail_null(ts);
    uint32 h = 0, t = 0;
    if (head != '\0')
        while (h < ts->length && ts->buf[h] == head) ++h;
    if (tail != '\0')
        while (t < ts->length - h && ts->buf[ts->length - 1 - t] == tail) ++t;
    return ts_trim_num_chars(ts, h, t);
}

int ts_trim_head(tstring *ts, char head)
{
    return ts_trim(ts, head, '\0');
}
int ts_trim_tail(tstring *ts, char tail)
{
    return ts_trim(ts, '\0', tail);
}

int ts_trim_whitespace(tstring *ts)
{
    bail_null(ts);
    auto space = [&](uint32 i) { return isspace(static_cast<unsigned char>(ts->buf[i])) != 0; };
    uint32 h = 0, t = 0;
    while (h < ts->length && space(h)) ++h;
    while (t < ts->length - h && space(ts->length - 1 - t)) ++t;
    return ts_trim_num_chars(ts, h, t);
}

// ---------------------------------------------------------------------------
// Search and comparison

int ts_find_char(const tstring *ts, uint32 start, char ch, uint32 *ret)
{
    bail_null(ret);
    *ret = ts_npos;
    bail_null(ts);
    if (start >= ts->length) return 0;
    const void *p = memchr(ts->buf + start, ch, ts->length - start);
    if (p) *ret = static_cast<uint32>(static_cast<const char *>(p) - ts->buf);
    return 0;
}

int ts_find_str(const tstring *ts, uint32 start, const char *needle, uint32 *ret)
{
    bail_null(ret);
    *ret = ts_npos;
    bail_null(ts);
    bail_null(needle);
    if (start > ts->length) return 0;
    const void *p = memmem(ts->buf + start, ts->length - start, needle, strlen(needle));
    if (p) *ret = static_cast<uint32>(static_cast<const char *>(p) - ts->buf);
    return 0;
}

int ts_rfind_char(const tstring *ts, uint32 start, char ch, uint32 *ret)
{
    bail_null(ret);
    *ret = ts_npos;
    bail_null(ts);
    if (start >= ts->length) return 0;
    for (uint32 i = start + 1; i-- > 0;) {
        if (ts->buf[i] == ch) {
            *ret = i;
            break;
        }
    }
    return 0;
}

bool ts_equal_tstr(const tstring *a, const tstring *b, tbool case_insensitive)
{
    if (a == nullptr || b == nullptr) return a == b;
    return cmp_text(a->buf, b->buf, case_insensitive) == 0;
}

bool ts_equal(const tstring *a, const tstring *b)
{
    return ts_equal_tstr(a, b, false);
}
bool ts_equal_case(const tstring *a, const tstring *b)
{
    return ts_equal_tstr(a, b, true);
}

bool ts_equal_str(const tstring *ts, const char *s, tbool case_insensitive)
{
    if (ts == nullptr || s == nullptr) return ts == nullptr && s == nullptr;
    return cmp_text(ts->buf, s, case_insensitive) == 0;
}

int ts_cmp_tstr(const tstring *a, const tstring *b, tbool case_insensitive)
{
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return cmp_text(a->buf, b->buf, case_insensitive);
}

int ts_cmp(const tstring *a, const tstring *b)
{
    return ts_cmp_tstr(a, b, false);
}
int ts_cmp_case(const tstring *a, const tstring *b)
{
    return ts_cmp_tstr(a, b, true);
}

int ts_cmp_str(const tstring *ts, const char *s, tbool case_insensitive)
{
    if (ts == nullptr || s == nullptr) return (ts != nullptr) - (s != nullptr);
    return cmp_text(ts->buf, s, case_insensitive);
}

bool ts_has_prefix_char(const tstring *ts, char ch, tbool case_insensitive)
{
    if (ts == nullptr || ts->length == 0) return false;
    const unsigned char c = static_cast<unsigned char>(ts->buf[0]);
    const unsigned char w = static_cast<unsigned char>(ch);
    return case_insensitive ? tolower(c) == tolower(w) : c == w;
}

bool ts_has_prefix_str(const tstring *ts, const char *prefix, tbool case_insensitive)
{
    if (ts == nullptr || prefix == nullptr) return false;
    const size_t n = strlen(prefix);
    if (n > ts->length) return false;
    return (case_insensitive ? strncasecmp(ts->buf, prefix, n) : memcmp(ts->buf, prefix, n)) == 0;
}

bool ts_has_suffix_str(const tstring *ts, const char *suffix, tbool case_insensitive)
{
    if (ts == nullptr || suffix == nullptr) return false;
    const size_t n = strlen(suffix);
    if (n > ts->length) return false;
    const char *tail = ts->buf + ts->length - n;
    return (case_insensitive ? strncasecmp(tail, suffix, n) : memcmp(tail, suffix, n)) == 0;
}

bool ts_is_lowercase(const tstring *ts)
{
    if (ts == nullptr) return false;
    for (uint32 i = 0; i < ts->length; ++i)
        if (isupper(static_cast<unsigned char>(ts->buf[i]))) return false;
    return true;
}

bool ts_is_uppercase(const tstring *ts)
{
    if (ts == nullptr) return false;
    for (uint32 i = 0; i < ts->length; ++i)
        if (islower(static_cast<unsigned char>(ts->buf[i]))) return false;
    return true;
}

bool ts_char_is_lowercase(const tstring *ts, uint32 index)
{
    return ts && index < ts->length && islower(static_cast<unsigned char>(ts->buf[index]));
}

bool ts_char_is_uppercase(const tstring *ts, uint32 index)
{
    return ts && index < ts->length && isupper(static_cast<unsigned char>(ts->buf[index]));
}
