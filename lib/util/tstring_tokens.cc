// The tokeniser and the joiner (see tstring_tokens.h).
//
// The tokeniser hands a token that needed no unescaping or unquoting
// straight from the input, and builds only the others in a scratch string;
// the joiner sizes its result exactly in a first pass of the escape rule and
// fills it in a second, so that a join is one allocation of the text.
#include "util/tstring_tokens.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/logging.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

// The common case of binding names: every separator counts and no escape
// or quote occurs, so each token is the plain run between separators.
int tokenize_plain(const char *s, uint32 len, char sep, uint32 options, detail::ts_token_sink sink,
                   void *ctx)
{
    uint32 count = 0, start = 0;
    bool store_last = true;
    for (uint32 i = 0; i < len; ++i) {
        if (s[i] != sep) continue;
        if (i + 1 == len && (options & ts_tokenize_no_trailing_empty)) store_last = false;
        if (!(i == 0 && (options & ts_tokenize_no_leading_empty))) {
            ++count;
            if (const int err = sink(ctx, s + start, i - start)) return err;
        }
        start = i + 1;
    }
    if (store_last) {
        ++count;
        if (const int err = sink(ctx, s + start, len - start)) return err;
    }
    if (count == 0 && !(options & ts_tokenize_null_if_empty)) return sink(ctx, s + start, 0);
    return 0;
}

int tokenize_into(const char *s, uint32 len, char sep, char esc, char quote, uint32 options,
                  detail::ts_token_sink sink, void *ctx)
{
    // The token so far is either still in place in `s` (`view`) or, once an
    // escape or quote changed it, built in `tok`.
    const char *view = nullptr;
    uint32 view_len = 0;
    std::string tok;
    auto to_tok = [&] {
        if (view) tok.assign(view, view_len);
        view = nullptr;
    };
    // Escapes and quotes are rare: where the next one lies is found once and
    // kept until the scan passes it.
    struct next_of {
        const char *s;
        uint32 len;
        char c;
        uint32 at = 0;
        bool known = false;
        uint32 from(uint32 i)
        {
            if (c == '\0') return len;
            if (!known || at < i) {
                const void *p = memchr(s + i, c, len - i);
                at = p ? uint32(static_cast<const char *>(p) - s) : len;
                known = true;
            }
            return at;
        }
    } next_esc{s, len, esc}, next_quote{s, len, quote};
    if ((options & ts_tokenize_empty_tokens) && next_esc.from(0) == len &&
        next_quote.from(0) == len)
        return tokenize_plain(s, len, sep, options, sink, ctx);
    bool in_quotes = false;
    bool store_last = true;
    uint32 count = 0;
    auto emit = [&]() -> int {
        ++count;
        const int err = view ? sink(ctx, view, view_len)
                             : sink(ctx, tok.data(), static_cast<uint32>(tok.size()));
        view = nullptr;
        tok.clear();
        return err;
    };

    uint32 i = 0;
    while (i < len) {
        const char c = s[i];
        if (esc != '\0' && c == esc) {
            to_tok();
            if (i + 1 >= len) {
                tok += c; // a trailing escape stands for itself
                ++i;
                continue;
            }
            const char next = s[i + 1];
            if (next == sep || next == esc || (quote != '\0' && next == quote)) {
                tok += next;
            } else {
                tok += c;
                tok += next;
            }
            i += 2;
            continue;
        }
        if (quote != '\0' && c == quote) {
            to_tok();
            in_quotes = !in_quotes;
            if (options & ts_tokenize_keep_quotes) tok += c;
            ++i;
            continue;
        }
        if (c == sep && !in_quotes) {
            const uint32 run_start = i;
            // Without 0x04 a run of separators acts as its last one.
            if (!(options & ts_tokenize_empty_tokens))
                while (i + 1 < len && s[i + 1] == sep) ++i;
            const bool last = i + 1 == len;
            ++i;
            if (last && (options & ts_tokenize_no_trailing_empty)) store_last = false;
            if (run_start == 0 && (options & ts_tokenize_no_leading_empty)) continue;
            if (const int err = emit()) return err;
            continue;
        }
        // Plain bytes up to the next special one, in one go.
        const uint32 stop = std::min(next_esc.from(i), next_quote.from(i));
        const void *at_sep = memchr(s + i + 1, sep, stop - i - 1);
        const uint32 j = at_sep ? uint32(static_cast<const char *>(at_sep) - s) : stop;
        if (!view && tok.empty()) {
            view = s + i;
            view_len = j - i;
        } else {
            to_tok();
            tok.append(s + i, j - i);
        }
        i = j;
    }
    if (in_quotes && (options & ts_tokenize_keep_quotes) &&
        !(options & ts_tokenize_no_close_quote)) {
        to_tok();
        tok += quote;
    }
    if (store_last) {
        if (const int err = emit()) return err;
    }
    if (count == 0 && !(options & ts_tokenize_null_if_empty)) {
        if (const int err = emit()) return err;
    }
    return 0;
}

// Writes the escaped form of `len` bytes of `s` to `out` (when not null) and
// returns its length, so that one rule both sizes and fills a result.
uint64 escape_to(char *out, const char *s, uint32 len, char sep, char esc, char quote)
{
    // Most parts hold nothing to escape: find the first byte that may need it
    // and copy everything before it at once.  An unused character is
    // replaced by the escape, so the scan compares without zero tests.
    uint32 plain = len;
    if (esc != '\0') {
        const char b = sep != '\0' ? sep : esc, c = quote != '\0' ? quote : esc;
        plain = 0;
        while (plain < len && s[plain] != esc && s[plain] != b && s[plain] != c) ++plain;
    }
    if (out && plain) memcpy(out, s, plain);
    if (plain == len) return len;
    uint64 n = plain;
    auto put = [&](char c) {
        if (out) out[n] = c;
        ++n;
    };
    for (uint32 i = plain; i < len; ++i) {
        const char c = s[i];
        if (sep != '\0' && c == sep) {
            put(esc);
            put(c);
        } else if (c == esc) {
            // A trailing escape is doubled too: in a joined name the separator
            // follows it.
            const bool end = i + 1 == len;
            const char next = end ? '\0' : s[i + 1];
            put(esc);
            if (end || next == esc || (sep != '\0' && next == sep) ||
                (quote != '\0' && next == quote))
                put(esc);
        } else if (quote != '\0' && c == quote) {
            put(esc);
            put(c);
        } else {
            put(c);
        }
    }
    return n;
}

// Joined text of the parts into `out` (when not null), after a slot left
// for a leading separator; returns the length of the text.  Without
// `escape` the parts are copied as they are (the caller found that none
// needs escaping).
uint64 join_to(char *out, bool escape, uint32 count, detail::ts_part_getter get, const void *ctx,
               char sep, char esc, char quote, uint32 options)
{
    uint64 n = 0;
    bool first = true;
    for (uint32 i = 0; i < count; ++i) {
        const tstring *p = get(ctx, i);
        const uint32 plen = p ? p->length : 0;
        if (plen == 0 && (options & ts_join_skip_empty)) continue;
        if (!first && sep != '\0') {
            if (out) out[1 + n] = sep;
            ++n;
        }
        first = false;
        if (plen == 0) continue;
        if (escape) {
            n += escape_to(out ? out + 1 + n : nullptr, p->buf, plen, sep, esc, quote);
        } else {
            if (out) memcpy(out + 1 + n, p->buf, plen);
            n += plen;
        }
    }
    return n;
}

int append_token(void *ctx, const char *token, uint32 len)
{
    tstring *t = nullptr;
    bail_error(detail::ts_new_buffer(&t, token, len));
    return tstr_array_append_takeover(static_cast<tstr_array *>(ctx), &t);
}

int tokenize(const char *s, uint32 len, char sep, char esc, char quote, uint32 options,
             tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(s);
    owned<tstr_array> arr;
    bail_error(tstr_array_new(arr.out(), nullptr));
    bail_error(detail::ts_tokenize_each(s, len, sep, esc, quote, options, append_token, arr.get()));
    if (options & ts_tokenize_null_if_empty) {
        const uint32 n = tstr_array_length_quick(arr.get());
        if (n == 0 || (n == 1 && tstr_array_get_quick(arr.get(), 0)->length == 0)) return 0;
    }
    *ret = arr.release();
    return 0;
}

const tstring *part_at(const void *ctx, uint32 index)
{
    return tstr_array_get_quick(static_cast<const tstr_array *>(ctx), index);
}

} // namespace

int detail::ts_tokenize_each(const char *s, uint32 len, char sep, char esc, char quote,
                             uint32 options, ts_token_sink sink, void *ctx)
{
    bail_null(sink);
    if (sep == '\0' || sep == esc || sep == quote || (esc != '\0' && esc == quote)) {
        lc_log_basic(LCL_ERR, "called with invalid chars: %d %d %d\n", sep, esc, quote);
        return lc_err_generic_error;
    }
    if (len > 0) bail_null(s);
    int err = 0;
    bail_null(
        lc_grow(&err, [&] { err = tokenize_into(s, len, sep, esc, quote, options, sink, ctx); }));
    return err;
}

int detail::ts_join_each(uint32 count, ts_part_getter get, const void *ctx, char sep, char esc,
                         char quote, uint32 options, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(get);
    bail_require(!(sep == '\0' && options != 0));

    const uint64 len = join_to(nullptr, true, count, get, ctx, sep, esc, quote, options);
    // Escaping lengthens a part, so an equal length means nothing to escape.
    const bool escape = len != join_to(nullptr, false, count, get, ctx, sep, esc, quote, options);
    bail_error(detail::ts_check_length(len + 1));
    // The slot for a leading separator, the text and its terminator, and
    // never less than the smallest string, so that the new string keeps it.
    const uint64 size = std::max<uint64>(len + 2, ts_size_initial);
    lc_malloc_ptr<char> block{static_cast<char *>(malloc(size))};
    bail_null(block);
    char *text = block.get();
    (void)join_to(text, escape, count, get, ctx, sep, esc, quote, options);
    uint64 out_len = len;
    if ((options & ts_join_leading_sep) && (len == 0 || text[1] != sep)) {
        text[0] = sep;
        ++out_len;
    } else {
        memmove(text, text + 1, len);
    }
    text[out_len] = '\0';
    char *raw = block.release();
    return ts_new_str_takeover(ret, &raw, uint32(out_len), uint32(size));
}

int ts_insert_escape_str(const char *s, char special, char esc, char quote, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(s);
    bail_require(special != '\0' || esc != '\0' || quote != '\0');
    const size_t n = strlen(s);
    bail_error(detail::ts_check_length(2 * uint64{n}));
    const uint64 len = escape_to(nullptr, s, uint32(n), special, esc, quote);
    lc_malloc_ptr<char> out{static_cast<char *>(malloc(len + 1))};
    bail_null(out);
    (void)escape_to(out.get(), s, uint32(n), special, esc, quote);
    out.get()[len] = '\0';
    *ret = out.release();
    return 0;
}

int ts_tokenize_str(const char *s, char sep, char esc, char quote, uint32 options, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(s);
    return tokenize(s, static_cast<uint32>(strnlen(s, uint64{ts_size_max} + 1)), sep, esc, quote,
                    options, ret);
}

int ts_tokenize_str_utf8(const char *s, char sep, char esc, char quote, uint32 options,
                         tstr_array **ret)
{
    return ts_tokenize_str(s, sep, esc, quote, options, ret);
}

int ts_tokenize(const tstring *ts, char sep, char esc, char quote, uint32 options, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(ts);
    return tokenize(ts->buf, ts->length, sep, esc, quote, options, ret);
}

int ts_join_tokens(const tstr_array *parts, char sep, char esc, char quote, uint32 options,
                   tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(parts);
    return detail::ts_join_each(tstr_array_length_quick(parts), part_at, parts, sep, esc, quote,
                                options, ret);
}

int ts_join_tokens_utf8(const tstr_array *parts, char sep, char esc, char quote, uint32 options,
                        tstring **ret)
{
    return ts_join_tokens(parts, sep, esc, quote, options, ret);
}
