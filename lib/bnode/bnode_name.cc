// Node names: splitting, escaping, joining, part selection and wildcard
// patterns.
//
// Splitting and joining go through the string tokeniser and joiner with the
// name options (separator "/", escape backslash, no quote), so a name and
// its parts always agree with every other reader of names.  Pattern
// matching of names given as text walks the text directly
// (bnode_name_walk.h) instead of splitting it, since the intake matches every
// changed binding against a table of patterns.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bnode/bnode.h"
#include "bnode/bnode_name_walk.h"

namespace
{

constexpr char name_sep = '/';
constexpr char name_esc = '\\';
constexpr char name_quote = 0;

int join_to_tstr(const tstr_array *parts, bool is_absolute, tstring **ret)
{
    return ts_join_tokens(parts, name_sep, name_esc, name_quote,
                          is_absolute ? bn_name_join_absolute_option : 0, ret);
}

int join_to_str(const tstr_array *parts, bool is_absolute, char **ret)
{
    owned<tstring> joined;
    bail_error(join_to_tstr(parts, is_absolute, joined.out()));
    tstring *raw = joined.release();
    bail_error(ts_detach(&raw, ret, nullptr));
    return 0;
}

// Reads parts of a tstr_array by index, for the part walker.
struct tstr_array_part_reader {
    const tstr_array *parts;
    const char *operator()(uint32 i) const { return tstr_array_get_str_quick(parts, i); }
};

detail::plain_name_parts<tstr_array_part_reader> plain_parts(const tstr_array *parts, uint32 start)
{
    return {tstr_array_part_reader{parts}, start, tstr_array_length_quick(parts)};
}

} // namespace

// ---------------------------------------------------------------------------
// Splitting and joining

int bn_binding_name_to_parts(const char *name, tstr_array **ret_parts, bool *ret_is_absolute)
{
    bail_null(ret_parts);
    *ret_parts = nullptr;
    if (ret_is_absolute) *ret_is_absolute = false;
    bail_null(name);

    owned<tstr_array> parts;
    bail_error(ts_tokenize_str(name, name_sep, name_esc, name_quote, bn_name_tokenize_options,
                               parts.out()));
    // The tokeniser reports "no parts" as no array at all.
    if (!parts) bail_error(tstr_array_new(parts.out(), nullptr));

    if (ret_is_absolute) *ret_is_absolute = name[0] == name_sep;
    *ret_parts = parts.release();
    return 0;
}

int bn_binding_name_parts_to_name_tstr(const tstr_array *parts, bool is_absolute,
                                       tstring **ret_name)
{
    bail_null(ret_name);
    *ret_name = nullptr;
    bail_null(parts);
    bail_error(join_to_tstr(parts, is_absolute, ret_name));
    return 0;
}

int bn_binding_name_parts_to_name(const tstr_array *parts, bool is_absolute, char **ret_name)
{
    bail_null(ret_name);
    *ret_name = nullptr;
    bail_null(parts);
    bail_error(join_to_str(parts, is_absolute, ret_name));
    return 0;
}

int bn_binding_name_parts_partial_to_name(const tstr_array *parts, uint32 first, int32 end,
                                          bool is_absolute, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    if (parts == nullptr) return 0;

    const uint32 length = tstr_array_length_quick(parts);
    int64 stop = end == -1 ? int64{length} : int64{end};
    if (stop < 0 || int64{first} >= stop) return 0;
    bail_require(stop <= int64{length});

    owned<tstr_array> slice;
    bail_error(tstr_array_new(slice.out(), nullptr));
    for (uint32 i = first; i < stop; ++i) {
        bail_error(tstr_array_append_str(slice.get(), tstr_array_get_str_quick(parts, i)));
    }
    bail_error(join_to_str(slice.get(), is_absolute, ret));
    return 0;
}

int bn_binding_name_parts_to_name_va(bool is_absolute, char **ret, uint32 count, const char *part1,
                                     ...)
{
    bail_null(ret);
    *ret = nullptr;

    owned<tstr_array> parts;
    bail_error(tstr_array_new(parts.out(), nullptr));
    va_list ap;
    va_start(ap, part1);
    int err = 0;
    for (uint32 i = 0; i < count && err == 0; ++i) {
        const char *part = i == 0 ? part1 : va_arg(ap, const char *);
        err = part ? tstr_array_append_str(parts.get(), part) : lc_err_unexpected_null;
    }
    va_end(ap);
    bail_error(err);
    bail_error(join_to_str(parts.get(), is_absolute, ret));
    return 0;
}

int bn_binding_name_escape_str(const char *part, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(part);

    owned<tstr_array> parts;
    bail_error(tstr_array_new(parts.out(), nullptr));
    bail_error(tstr_array_append_str(parts.get(), part));
    bail_error(join_to_str(parts.get(), false, ret));
    return 0;
}

int bn_binding_name_append_part(const char *name, const char *part, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(name);
    bail_null(part);

    owned<tstr_array> parts;
    bool is_absolute = false;
    bail_error(bn_binding_name_to_parts(name, parts.out(), &is_absolute));
    bail_error(tstr_array_append_str(parts.get(), part));
    bail_error(join_to_str(parts.get(), is_absolute, ret));
    return 0;
}

int bn_binding_name_get_last_part(const char *name, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(name);

    owned<tstr_array> parts;
    bail_error(bn_binding_name_to_parts(name, parts.out(), nullptr));
    const uint32 n = tstr_array_length_quick(parts.get());
    if (n == 0) return 0;
    const char *last = tstr_array_get_str_quick(parts.get(), n - 1);
    if (last == nullptr) return 0;
    char *copy = strdup(last);
    bail_null(copy);
    *ret = copy;
    return 0;
}

// ---------------------------------------------------------------------------
// Selecting parts

namespace
{

struct part_request {
    uint32 index;
    tstring **ret;
};

// Checks every request before handing anything out, so that a failure
// leaves both the parts and the caller's outputs as they were.
int take_parts(tstr_array *parts, bool allow_missing, const std::vector<part_request> &requests)
{
    const uint32 n = tstr_array_length_quick(parts);
    for (size_t i = 0; i < requests.size(); ++i) {
        const part_request &r = requests[i];
        if (i == 0) {
            if (r.index >= n && !allow_missing) return lc_err_not_found;
        } else {
            bail_require(r.index > requests[i - 1].index);
        }
        bail_null(r.ret);
        if (r.index >= n && !allow_missing) return lc_err_not_found;
    }
    for (const part_request &r : requests) {
        if (r.index >= n) continue;
        tstring *part = nullptr;
        bail_error(tstr_array_remove_no_shift(parts, r.index, &part));
        *r.ret = part;
    }
    return 0;
}

// Reads the index/output pairs after the first one from `ap`; null when
// they could not be stored.
std::vector<part_request> *collect_requests(uint32 count, uint32 index1, tstring **ret1, va_list ap,
                                            std::vector<part_request> *requests)
{
    if (count == 0) return requests;
    return lc_grow(requests, [&] {
        requests->reserve(count);
        requests->push_back({index1, ret1});
        for (uint32 i = 1; i < count; ++i) {
            const uint32 index = va_arg(ap, uint32);
            tstring **ret = va_arg(ap, tstring **);
            requests->push_back({index, ret});
        }
    });
}

} // namespace

int bn_binding_name_parts_to_parts_va(tstr_array *parts, bool allow_missing, uint32 count,
                                      uint32 index1, tstring **ret1, ...)
{
    bail_null(parts);
    std::vector<part_request> requests;
    va_list ap;
    va_start(ap, ret1);
    const std::vector<part_request> *collected =
        collect_requests(count, index1, ret1, ap, &requests);
    va_end(ap);
    bail_null(collected);
    return take_parts(parts, allow_missing, requests);
}

int bn_binding_name_to_parts_va(const char *name, bool allow_missing, uint32 count, uint32 index1,
                                tstring **ret1, ...)
{
    bail_null(name);
    std::vector<part_request> requests;
    va_list ap;
    va_start(ap, ret1);
    const std::vector<part_request> *collected =
        collect_requests(count, index1, ret1, ap, &requests);
    va_end(ap);
    bail_null(collected);

    owned<tstr_array> parts;
    bail_error(bn_binding_name_to_parts(name, parts.out(), nullptr));
    return take_parts(parts.get(), allow_missing, requests);
}

int bn_binding_get_name_parts_va(const bn_binding *binding, bool allow_missing, uint32 count,
                                 uint32 index1, tstring **ret1, ...)
{
    bail_null(binding);
    std::vector<part_request> requests;
    va_list ap;
    va_start(ap, ret1);
    const std::vector<part_request> *collected =
        collect_requests(count, index1, ret1, ap, &requests);
    va_end(ap);
    bail_null(collected);

    owned<tstr_array> parts;
    bail_error(bn_binding_get_name_parts(binding, parts.out()));
    return take_parts(parts.get(), allow_missing, requests);
}

// ---------------------------------------------------------------------------
// Pattern matching

bool bn_binding_name_pattern_match(const char *name, const char *pattern)
{
    if (name == nullptr || pattern == nullptr) return false;
    const detail::text_match_result fast = detail::text_wildcard_match(name, pattern);
    if (fast != detail::text_needs_unescaping) return fast == detail::text_match;
    const detail::raw_name_parts names{name};
    const detail::raw_name_parts patterns{pattern};
    if (names.absolute() != patterns.absolute()) return false;
    return detail::wildcard_match_parts(names, patterns);
}

bool bn_binding_name_parts_pattern_match(const tstr_array *name_parts, bool is_absolute,
                                         const char *pattern)
{
    if (name_parts == nullptr || pattern == nullptr) return false;
    const detail::raw_name_parts patterns{pattern};
    if (patterns.absolute() != is_absolute) return false;
    return detail::wildcard_match_parts(plain_parts(name_parts, 0), patterns);
}

bool bn_binding_name_parts_pattern_match_rel(const tstr_array *name_parts, uint32 start,
                                             const char *pattern)
{
    if (name_parts == nullptr || pattern == nullptr) return false;
    return detail::wildcard_match_parts(plain_parts(name_parts, start),
                                        detail::raw_name_parts{pattern});
}

bool bn_binding_name_pattern_parts_match(const char *name, const tstr_array *pattern_parts,
                                         bool is_absolute)
{
    if (name == nullptr || pattern_parts == nullptr) return false;
    const detail::raw_name_parts names{name};
    if (names.absolute() != is_absolute) return false;
    return detail::wildcard_match_parts(names, plain_parts(pattern_parts, 0));
}

bool bn_binding_name_parts_pattern_parts_match(const tstr_array *name_parts, bool is_absolute,
                                               const tstr_array *pattern_parts,
                                               bool pattern_is_absolute)
{
    if (name_parts == nullptr || pattern_parts == nullptr) return false;
    if (is_absolute != pattern_is_absolute) return false;
    return tstr_array_wildcard_match_quick(pattern_parts, name_parts);
}
