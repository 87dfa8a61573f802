// The tokeniser and the joiner: splitting text at a separator with escapes
// and quotes (binding names on "/", comma and semicolon lists), and joining
// parts back with every significant character escaped, so that splitting
// the joined text gives the parts back.
//
// Both are written once over callbacks (detail::ts_tokenize_each,
// detail::ts_join_each) and offered over tstr_array, whose new arrays and
// strings the caller owns.  The message codec uses the callback forms to
// split a name straight into its encoding without building an array.
#pragma once

#include "log/common.h"

struct tstring;
struct tstr_array;

enum ts_tokenize_options : uint32 {
    ts_tokenize_keep_quotes = 0x01,       // quote characters stay in the tokens
    ts_tokenize_no_close_quote = 0x02,    // with 0x01: leave an open quote open
    ts_tokenize_empty_tokens = 0x04,      // every separator ends a token
    ts_tokenize_no_leading_empty = 0x08,  // a leading separator makes no token
    ts_tokenize_no_trailing_empty = 0x10, // a final separator makes no token
    ts_tokenize_null_if_empty = 0x20,     // no tokens / one empty token: null
};

enum ts_join_options : uint32 {
    ts_join_leading_sep = 0x100, // the result starts with the separator
    ts_join_skip_empty = 0x400,  // empty parts are left out with their separator
};

// Splits `s` at `sep` (not 0), honouring the escape `esc` and the quote
// `quote` (either may be 0 = unused).  `*ret` is null when option 0x20 finds
// nothing.
[[nodiscard]] int ts_tokenize_str(const char *s, char sep, char esc, char quote, uint32 options,
                                  tstr_array **ret);
[[nodiscard]] int ts_tokenize_str_utf8(const char *s, char sep, char esc, char quote,
                                       uint32 options, tstr_array **ret);
[[nodiscard]] int ts_tokenize(const tstring *ts, char sep, char esc, char quote, uint32 options,
                              tstr_array **ret);
// Joins `parts` with `sep`, escaping each part so that splitting the result
// with the same characters gives the parts back.  Null slots count as empty.
[[nodiscard]] int ts_join_tokens(const tstr_array *parts, char sep, char esc, char quote,
                                 uint32 options, tstring **ret);
[[nodiscard]] int ts_join_tokens_utf8(const tstr_array *parts, char sep, char esc, char quote,
                                      uint32 options, tstring **ret);
// malloc()ed copy of `s` with `special`, `quote` and the significant escapes
// escaped by `esc`.
[[nodiscard]] int ts_insert_escape_str(const char *s, char special, char esc, char quote,
                                       char **ret);

namespace detail
{

// Receives one token of the tokeniser; a non-zero return stops it with that
// code.  The token is borrowed for the call only.
using ts_token_sink = int (*)(void *ctx, const char *token, uint32 len);
// The tokeniser over `len` bytes of `s`, handing each token to `sink`; emits
// one empty token for an input that produced none unless option 0x20 is set
// (the caller turns "nothing or one empty token" into null under 0x20).
[[nodiscard]] int ts_tokenize_each(const char *s, uint32 len, char sep, char esc, char quote,
                                   uint32 options, ts_token_sink sink, void *ctx);
// Yields part `index` of a part list (null counts as empty).
using ts_part_getter = const tstring *(*)(const void *ctx, uint32 index);
// The joiner over `count` parts read through `get`.
[[nodiscard]] int ts_join_each(uint32 count, ts_part_getter get, const void *ctx, char sep,
                               char esc, char quote, uint32 options, tstring **ret);

} // namespace detail
