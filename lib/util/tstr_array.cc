// tstr_array: typed arrays of tstrings and of tstr_arrays, their text
// operations and the wildcard match of name parts (the tokeniser and joiner
// that make and take them are in tstring_tokens.cc).
#include "util/tstr_array.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/logging.h"

LC_TYPED_ARRAY_DEFINE_OWNED(tstr_array, tstring, ts_cmp, ts_dup, ts_free)
LC_TYPED_ARRAY_DEFINE_OWNED(tstr_array_array, tstr_array, tstr_array_compare, tstr_array_duplicate,
                            tstr_array_free)

namespace
{

// A tstring viewing `s` without owning it, for searches by value.
tstring view_of(const char *s)
{
    const uint32 n = static_cast<uint32>(strlen(s));
    return tstring{const_cast<char *>(s), 0, n, n, n + 1};
}

// A tstring for `s`, or null for null `s`.
int maybe_new_str(tstring **ret, const char *s)
{
    bail_null(ret);
    *ret = nullptr;
    if (s == nullptr) return 0;
    return ts_new_str(ret, s);
}

int adopt_str(tstring **ret, char **s)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(s);
    if (*s == nullptr) return 0;
    const uint32 n = static_cast<uint32>(strnlen(*s, uint64{ts_size_max} + 1));
    return ts_new_str_takeover(ret, s, n, n + 1);
}

enum class put_how { set, append, insert, insert_sorted };

// Hands the new element `t` to the array (which frees it on failure).
int store(tstr_array *arr, put_how how, uint32 index, tstring *t)
{
    switch (how) {
    case put_how::set:
        return tstr_array_set_takeover(arr, index, &t);
    case put_how::append:
        return tstr_array_append_takeover(arr, &t);
    case put_how::insert:
        return tstr_array_insert_takeover(arr, index, &t);
    case put_how::insert_sorted:
        return tstr_array_insert_sorted_takeover(arr, &t);
    }
    (void)ts_free(&t);
    return lc_err_unexpected_case;
}

int store_copy(tstr_array *arr, put_how how, uint32 index, const char *s)
{
    bail_null(arr);
    tstring *t = nullptr;
    bail_error(maybe_new_str(&t, s));
    return store(arr, how, index, t);
}

int store_adopted(tstr_array *arr, put_how how, uint32 index, char **s)
{
    tstring *t = nullptr;
    bail_error(adopt_str(&t, s));
    return store(arr, how, index, t);
}

bool is_part(const tstring *t, const char *text)
{
    return t != nullptr && strcmp(t->buf, text) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

int tstr_array_options_get_defaults(tstr_array_options *ret)
{
    bail_null(ret);
    ret->tao_dup_policy = adp_allow;
    return 0;
}

int tstr_array_new(tstr_array **ret, const tstr_array_options *opts)
{
    bail_null(ret);
    *ret = nullptr;
    array_options o;
    bail_error(array_options_get_defaults(&o));
    if (opts) o.dup_policy = opts->tao_dup_policy;
    return tstr_array_new_full(ret, &o);
}

int tstr_array_new_va(tstr_array **ret, const tstr_array_options *opts, uint32 count, va_list ap)
{
    bail_null(ret);
    *ret = nullptr;
    owned<tstr_array> arr;
    bail_error(tstr_array_new(arr.out(), opts));
    for (uint32 i = 0; i < count; ++i)
        bail_error(tstr_array_append_str(arr.get(), va_arg(ap, const char *)));
    *ret = arr.release();
    return 0;
}

int tstr_array_new_va_str(tstr_array **ret, const tstr_array_options *opts, uint32 count, ...)
{
    va_list ap;
    va_start(ap, count);
    const int err = tstr_array_new_va(ret, opts, count, ap);
    va_end(ap);
    return err;
}

int tstr_array_new_argv(tstr_array **ret, const tstr_array_options *opts, int argc,
                        const char *const *argv)
{
    bail_null(ret);
    *ret = nullptr;
    bail_require(argc >= 0);
    if (argc > 0) bail_null(argv);
    owned<tstr_array> arr;
    bail_error(tstr_array_new(arr.out(), opts));
    for (int i = 0; i < argc; ++i) bail_error(tstr_array_append_str(arr.get(), argv[i]));
    *ret = arr.release();
    return 0;
}

int tstr_array_new_charlist(tstr_array **ret, const tstr_array_options *opts, const char *chars)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(chars);
    owned<tstr_array> arr;
    bail_error(tstr_array_new(arr.out(), opts));
    for (const char *p = chars; *p != '\0'; ++p) {
        owned<tstring> t;
        bail_error(detail::ts_new_buffer(t.out(), p, 1));
        tstring *raw = t.release();
        bail_error(tstr_array_append_takeover(arr.get(), &raw));
    }
    *ret = arr.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Elements as character strings

int tstr_array_get_str(const tstr_array *arr, uint32 index, const char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    const tstring *t = nullptr;
    const int err = tstr_array_get(arr, index, &t);
    if (err) return err; // lc_err_not_found is a normal outcome
    *ret = t ? t->buf : nullptr;
    return 0;
}

const char *tstr_array_get_str_quick(const tstr_array *arr, uint32 index)
{
    const tstring *t = tstr_array_get_quick(arr, index);
    return t ? t->buf : nullptr;
}

int tstr_array_set_str(tstr_array *arr, uint32 index, const char *s)
{
    return store_copy(arr, put_how::set, index, s);
}

int tstr_array_append_str(tstr_array *arr, const char *s)
{
    return store_copy(arr, put_how::append, 0, s);
}

int tstr_array_insert_str(tstr_array *arr, uint32 index, const char *s)
{
    return store_copy(arr, put_how::insert, index, s);
}

int tstr_array_insert_str_sorted(tstr_array *arr, const char *s)
{
    return store_copy(arr, put_how::insert_sorted, 0, s);
}

int tstr_array_append_sprintf(tstr_array *arr, const char *format, ...)
{
    bail_null(arr);
    tstring *t = nullptr;
    va_list ap;
    va_start(ap, format);
    const int err = ts_new_vsprintf(&t, format, ap);
    va_end(ap);
    bail_error(err);
    return tstr_array_append_takeover(arr, &t);
}

int tstr_array_set_str_takeover(tstr_array *arr, uint32 index, char **s)
{
    return store_adopted(arr, put_how::set, index, s);
}

int tstr_array_append_str_takeover(tstr_array *arr, char **s)
{
    return store_adopted(arr, put_how::append, 0, s);
}

int tstr_array_insert_str_takeover(tstr_array *arr, uint32 index, char **s)
{
    return store_adopted(arr, put_how::insert, index, s);
}

int tstr_array_insert_str_sorted_takeover(tstr_array *arr, char **s)
{
    return store_adopted(arr, put_how::insert_sorted, 0, s);
}

// ---------------------------------------------------------------------------
// Searching, deleting, ordering

int tstr_array_linear_search_str(const tstr_array *arr, const char *s, uint32 start,
                                 uint32 *ret_index)
{
    bail_null(ret_index);
    *ret_index = 0;
    bail_null(arr);
    bail_null(s);
    const uint32 n = tstr_array_length_quick(arr);
    for (uint32 i = start; i < n; ++i) {
        if (is_part(tstr_array_get_quick(arr, i), s)) {
            *ret_index = i;
            return 0;
        }
    }
    return lc_err_not_found;
}

int tstr_array_binary_search_str(const tstr_array *arr, const char *s, uint32 *ret_index)
{
    bail_null(ret_index);
    *ret_index = 0;
    bail_null(arr);
    bail_null(s);
    const tstring key = view_of(s);
    return tstr_array_binary_search(arr, &key, ret_index);
}

int tstr_array_delete_str(tstr_array *arr, const char *s)
{
    uint32 at = 0;
    const int err = tstr_array_linear_search_str(arr, s, 0, &at);
    if (err) return err;
    return tstr_array_delete(arr, at);
}

int tstr_array_delete_non_prefixed(tstr_array *arr, const char *prefix)
{
    bail_null(arr);
    bail_null(prefix);
    for (uint32 i = tstr_array_length_quick(arr); i-- > 0;) {
        const tstring *t = tstr_array_get_quick(arr, i);
        if (t != nullptr && !ts_has_prefix_str(t, prefix, false))
            bail_error(tstr_array_delete(arr, i));
    }
    return 0;
}

namespace
{

int64 numeric_value(const tstring *t)
{
    if (t == nullptr) return 0;
    char *end = nullptr;
    const int saved = errno;
    const long long v = strtoll(t->buf, &end, 10);
    errno = saved;
    return end == t->buf ? 0 : static_cast<int64>(v);
}

int compare_numeric(const void *slot_a, const void *slot_b)
{
    const int64 a = numeric_value(*static_cast<const tstring *const *>(slot_a));
    const int64 b = numeric_value(*static_cast<const tstring *const *>(slot_b));
    return (a > b) - (a < b);
}

} // namespace

int tstr_array_sort_numeric(tstr_array *arr)
{
    return tstr_array_sort_custom(arr, compare_numeric);
}

int tstr_array_compare(const tstr_array *a, const tstr_array *b)
{
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    const uint32 na = tstr_array_length_quick(a);
    const uint32 nb = tstr_array_length_quick(b);
    for (uint32 i = 0; i < na && i < nb; ++i) {
        const int c = ts_cmp(tstr_array_get_quick(a, i), tstr_array_get_quick(b, i));
        if (c != 0) return c;
    }
    return (na > nb) - (na < nb);
}

int tstr_array_to_argv(const tstr_array *arr, char ***ret_argv)
{
    bail_null(ret_argv);
    *ret_argv = nullptr;
    bail_null(arr);
    const uint32 n = tstr_array_length_quick(arr);
    char **argv = static_cast<char **>(calloc(size_t{n} + 1, sizeof(char *)));
    bail_null(argv);
    lc_scope_guard guard([&] { (void)tstr_array_free_argv(&argv); });
    for (uint32 i = 0; i < n; ++i) {
        const tstring *t = tstr_array_get_quick(arr, i);
        argv[i] = strdup(t ? t->buf : "");
        bail_null(argv[i]);
    }
    guard.dismiss();
    *ret_argv = argv;
    return 0;
}

int tstr_array_free_argv(char ***argv)
{
    if (argv == nullptr || *argv == nullptr) return 0;
    for (char **p = *argv; *p != nullptr; ++p) free(*p);
    free(*argv);
    *argv = nullptr;
    return 0;
}

int tstr_array_dup_before_matched_str(const tstr_array *arr, const char *s, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(arr);
    bail_null(s);
    array_options o;
    bail_error(tstr_array_options_get(arr, &o));
    owned<tstr_array> out;
    bail_error(tstr_array_new_full(out.out(), &o));
    const uint32 n = tstr_array_length_quick(arr);
    for (uint32 i = 0; i < n; ++i) {
        const tstring *t = tstr_array_get_quick(arr, i);
        if (is_part(t, s)) break;
        tstring *copy = nullptr;
        bail_error(ts_dup_maybe(t, &copy));
        bail_error(tstr_array_append_takeover(out.get(), &copy));
    }
    *ret = out.release();
    return 0;
}

int tstr_array_print(const tstr_array *arr, const char *prefix)
{
    if (arr == nullptr) {
        if (prefix)
            printf("%s[]: [null array]\n", prefix);
        else
            printf("[null array]\n");
        return 0;
    }
    const uint32 n = tstr_array_length_quick(arr);
    if (n == 0) {
        if (prefix)
            printf("%s[]: [empty array]\n", prefix);
        else
            printf("[empty array]\n");
        return 0;
    }
    for (uint32 i = 0; i < n; ++i) {
        const char *text = tstr_array_get_str_quick(arr, i);
        if (text == nullptr) text = "<NULL>";
        if (prefix)
            printf("%s[%d]: %s\n", prefix, static_cast<int>(i), text);
        else
            printf("%d: %s\n", static_cast<int>(i), text);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Wildcard match

int tstr_array_wildcard_match_ex(const tstr_array *pattern, uint32 pattern_start,
                                 const tstr_array *parts, uint32 parts_start,
                                 tbool allow_double_star, tbool *ret)
{
    bail_null(ret);
    *ret = false;
    bail_null(pattern);
    bail_null(parts);
    const uint32 qlen = tstr_array_length_quick(pattern);
    const uint32 nlen = tstr_array_length_quick(parts);
    bail_require(pattern_start <= qlen && parts_start <= nlen);
    const uint32 q = qlen - pattern_start;
    const uint32 n = nlen - parts_start;
    if (q == 0 || n == 0) {
        *ret = q == n;
        return 0;
    }
    if (q > n) return 0; // a "**" still needs a part of its own
    for (uint32 i = 0; i < q; ++i) {
        const tstring *qp = tstr_array_get_quick(pattern, pattern_start + i);
        const tstring *np = tstr_array_get_quick(parts, parts_start + i);
        if (allow_double_star && is_part(qp, "**")) {
            *ret = true;
            return 0;
        }
        if (is_part(qp, "*") || ts_equal(qp, np)) continue;
        return 0;
    }
    *ret = n == q;
    return 0;
}

int tstr_array_wildcard_match(const tstr_array *pattern, const tstr_array *parts, tbool *ret)
{
    return tstr_array_wildcard_match_ex(pattern, 0, parts, 0, true, ret);
}

int tstr_array_wildcard_match_rel(const tstr_array *pattern, const tstr_array *parts, uint32 start,
                                  tbool *ret)
{
    return tstr_array_wildcard_match_ex(pattern, 0, parts, start, true, ret);
}

tbool tstr_array_wildcard_match_quick(const tstr_array *pattern, const tstr_array *parts)
{
    return tstr_array_wildcard_match_ex_quick(pattern, parts, 0, true);
}

tbool tstr_array_wildcard_match_ex_quick(const tstr_array *pattern, const tstr_array *parts,
                                         uint32 start, tbool allow_double_star)
{
    if (pattern == nullptr || parts == nullptr || start > tstr_array_length_quick(parts))
        return false;
    tbool match = false;
    return tstr_array_wildcard_match_ex(pattern, 0, parts, start, allow_double_star, &match) == 0 &&
           match;
}
