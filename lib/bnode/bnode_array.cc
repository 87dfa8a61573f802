// Binding arrays: the typed array of owned bindings, lookups by name and by
// pattern, detaching, the name-part collectors and the dump.
//
// The array owns its bindings; lookups lend them, `detach` operations hand
// them (and their ownership) to the caller.  Lookups that find nothing
// succeed with empty results: absence is an answer, not a failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bnode/bnode.h"
#include "bnode/bnode_name_walk.h"
#include "util/byte_cursor.h"

namespace
{

int compare_bindings_by_name(const bn_binding *a, const bn_binding *b)
{
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return ts_cmp(a->name, b->name);
}

// Index of the first binding named `name`, or bn_binding_array_no_index.
// A sorted array is searched by halving for the first of equal names.
uint32 find_by_name(const bn_binding_array *array, const char *name)
{
    const uint32 n = bn_binding_array_length_quick(array);
    const bool sorted = array->arr != nullptr && array->arr->sorted;
    if (sorted) {
        uint32 lo = 0;
        uint32 hi = n;
        while (lo < hi) {
            const uint32 mid = lo + (hi - lo) / 2;
            const bn_binding *b = bn_binding_array_get_quick(array, mid);
            // Empty slots sort first.
            if (b == nullptr || strcmp(ts_str_maybe_empty(b->name), name) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        const bn_binding *b = bn_binding_array_get_quick(array, lo);
        if (lo < n && b && strcmp(ts_str_maybe_empty(b->name), name) == 0) return lo;
        return bn_binding_array_no_index;
    }
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b && strcmp(ts_str_maybe_empty(b->name), name) == 0) return i;
    }
    return bn_binding_array_no_index;
}

// Index of the first binding from `start` on matching `pattern`, or
// bn_binding_array_no_index.
uint32 find_matching(const bn_binding_array *array, const char *pattern, uint32 start)
{
    const uint32 n = bn_binding_array_length_quick(array);
    for (uint32 i = start; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b && bn_binding_name_pattern_match(ts_str_maybe_empty(b->name), pattern)) return i;
    }
    return bn_binding_array_no_index;
}

int make_rel_name(const char *prefix, const char *rel_name, tstring **ret)
{
    bail_null(prefix);
    bail_null(rel_name);
    bail_error(ts_new_sprintf(ret, "%s/%s", prefix, rel_name));
    return 0;
}

} // namespace

LC_TYPED_ARRAY_DEFINE_OWNED(bn_binding_array, bn_binding, compare_bindings_by_name, bn_binding_dup,
                            bn_binding_free)

int bn_binding_compare_names_for_array(const void *slot_a, const void *slot_b)
{
    return compare_bindings_by_name(*static_cast<const bn_binding *const *>(slot_a),
                                    *static_cast<const bn_binding *const *>(slot_b));
}

// ---------------------------------------------------------------------------
// Lookups by name

int bn_binding_array_get_index_by_name(const bn_binding_array *array, const char *name,
                                       uint32 *ret_index)
{
    bail_null(ret_index);
    *ret_index = bn_binding_array_no_index;
    bail_null(array);
    bail_null(name);
    *ret_index = find_by_name(array, name);
    return 0;
}

int bn_binding_array_get_binding_by_name(const bn_binding_array *array, const char *name,
                                         const bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);
    bail_null(name);
    const uint32 i = find_by_name(array, name);
    if (i != bn_binding_array_no_index) *ret = bn_binding_array_get_quick(array, i);
    return 0;
}

int bn_binding_array_get_binding_by_name_rel(const bn_binding_array *array, const char *prefix,
                                             const char *rel_name, const bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<tstring> name;
    bail_error(make_rel_name(prefix, rel_name, name.out()));
    bail_error(bn_binding_array_get_binding_by_name(array, ts_str(name.get()), ret));
    return 0;
}

int bn_binding_array_get_binding_by_name_fmt(const bn_binding_array *array, const bn_binding **ret,
                                             const char *format, ...)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(format);
    owned<tstring> name;
    va_list ap;
    va_start(ap, format);
    const int err = ts_new_vsprintf(name.out(), format, ap);
    va_end(ap);
    bail_error(err);
    bail_error(bn_binding_array_get_binding_by_name(array, ts_str(name.get()), ret));
    return 0;
}

int bn_binding_array_detach_binding_by_name(bn_binding_array *array, const char *name,
                                            bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);
    bail_null(name);
    const uint32 i = find_by_name(array, name);
    if (i == bn_binding_array_no_index) return 0;
    bail_error(bn_binding_array_remove(array, i, ret));
    return 0;
}

int bn_binding_array_detach_binding_by_name_rel(bn_binding_array *array, const char *prefix,
                                                const char *rel_name, bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<tstring> name;
    bail_error(make_rel_name(prefix, rel_name, name.out()));
    bail_error(bn_binding_array_detach_binding_by_name(array, ts_str(name.get()), ret));
    return 0;
}

int bn_binding_array_get_value_tstr_by_name(const bn_binding_array *array, const char *name,
                                            uint32 *ret_type_and_flags, tstring **ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    const bn_binding *binding = nullptr;
    bail_error(bn_binding_array_get_binding_by_name(array, name, &binding));
    if (binding == nullptr) return 0;
    bail_error_quiet(bn_binding_get_tstr(binding, ba_value, 0, ret_type_and_flags, ret));
    return 0;
}

int bn_binding_array_get_value_tstr_by_name_rel(const bn_binding_array *array, const char *prefix,
                                                const char *rel_name, uint32 *ret_type_and_flags,
                                                tstring **ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    owned<tstring> name;
    bail_error(make_rel_name(prefix, rel_name, name.out()));
    bail_error_quiet(bn_binding_array_get_value_tstr_by_name(array, ts_str(name.get()),
                                                             ret_type_and_flags, ret));
    return 0;
}

int bn_binding_array_get_value_tbool_by_name(const bn_binding_array *array, const char *name,
                                             uint32 *ret_type_and_flags, tbool *ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = false;
    const bn_binding *binding = nullptr;
    bail_error(bn_binding_array_get_binding_by_name(array, name, &binding));
    if (binding == nullptr) return 0;
    bail_error(bn_binding_get_tbool(binding, ba_value, ret_type_and_flags, ret));
    return 0;
}

// ---------------------------------------------------------------------------
// Lookups by pattern

int bn_binding_array_get_first_matching_binding(const bn_binding_array *array, const char *pattern,
                                                uint32 start, uint32 *ret_index,
                                                const bn_binding **ret)
{
    if (ret_index) *ret_index = bn_binding_array_no_index;
    if (ret) *ret = nullptr;
    bail_null(array);
    bail_null(pattern);
    const uint32 i = find_matching(array, pattern, start);
    if (i == bn_binding_array_no_index) return 0;
    if (ret_index) *ret_index = i;
    if (ret) *ret = bn_binding_array_get_quick(array, i);
    return 0;
}

int bn_binding_array_get_first_matching_value_tstr(const bn_binding_array *array,
                                                   const char *pattern, uint32 start,
                                                   uint32 *ret_index, uint32 *ret_type_and_flags,
                                                   tstring **ret)
{
    if (ret_index) *ret_index = bn_binding_array_no_index;
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    const bn_binding *binding = nullptr;
    uint32 index = bn_binding_array_no_index;
    bail_error(
        bn_binding_array_get_first_matching_binding(array, pattern, start, &index, &binding));
    if (binding == nullptr) return 0;
    bail_error_quiet(bn_binding_get_tstr(binding, ba_value, 0, ret_type_and_flags, ret));
    if (ret_index) *ret_index = index;
    return 0;
}

int bn_binding_array_detach_first_matching_binding(bn_binding_array *array, const char *pattern,
                                                   uint32 start, uint32 *ret_index,
                                                   bn_binding **ret)
{
    if (ret_index) *ret_index = bn_binding_array_no_index;
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);
    bail_null(pattern);
    const uint32 i = find_matching(array, pattern, start);
    if (i == bn_binding_array_no_index) return 0;
    bail_error(bn_binding_array_remove(array, i, ret));
    if (ret_index) *ret_index = i;
    return 0;
}

int bn_bindings_array_detach_subtree(bn_binding_array *array, const char *name,
                                     bn_binding_array **ret)
{
    if (ret) *ret = nullptr;
    bail_null(array);
    bail_null(name);

    char pattern[bn_subtree_name_max + sizeof("/**")];
    static_assert(sizeof(pattern) == 256);
    const int len = snprintf(pattern, sizeof(pattern), "%s/**", name);
    bail_require(len > 0 && size_t(len) < sizeof(pattern));

    owned<bn_binding_array> detached;
    if (ret) bail_error(bn_binding_array_new(detached.out()));
    uint32 i = 0;
    while (i < bn_binding_array_length_quick(array)) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b == nullptr || !bn_binding_name_pattern_match(ts_str_maybe_empty(b->name), pattern)) {
            ++i;
            continue;
        }
        bn_binding *taken = nullptr;
        bail_error(bn_binding_array_remove(array, i, &taken));
        if (detached) {
            bail_error(bn_binding_array_append_takeover(detached.get(), &taken));
        } else {
            (void)bn_binding_free(&taken);
        }
    }
    if (ret) *ret = detached.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Collectors

int bn_binding_array_get_name_part_tstr_array(const bn_binding_array *array, const char *pattern,
                                              uint32 part_index, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);
    bail_null(pattern);

    owned<tstr_array> result;
    bail_error(tstr_array_new(result.out(), nullptr));
    const uint32 n = bn_binding_array_length_quick(array);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b == nullptr || !bn_binding_name_pattern_match(ts_str_maybe_empty(b->name), pattern)) {
            continue;
        }
        owned<tstring> value;
        bail_error_quiet(bn_binding_get_tstr(b, ba_value, 0, nullptr, value.out()));
        if (!value) continue;
        owned<tstr_array> parts;
        bail_error(bn_binding_name_to_parts(ts_str(value.get()), parts.out(), nullptr));
        const char *part = tstr_array_get_str_quick(parts.get(), part_index);
        if (part == nullptr) continue;
        bail_error(tstr_array_append_str(result.get(), part));
    }
    *ret = result.release();
    return 0;
}

int bn_binding_array_get_name_part_tsarray(const bn_binding_array *array, const char *pattern,
                                           uint32 part_index, tstr_array **ret)
{
    return bn_binding_array_get_name_part_tstr_array(array, pattern, part_index, ret);
}

int bn_binding_array_get_last_name_parts(const bn_binding_array *array, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);

    owned<tstr_array> result;
    bail_error(tstr_array_new(result.out(), nullptr));
    const uint32 n = bn_binding_array_length_quick(array);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b == nullptr) continue;
        char *raw_last = nullptr;
        bail_error(bn_binding_get_name_last_part(b, &raw_last));
        const lc_malloc_ptr<char> last{raw_last};
        bail_error(tstr_array_append_str(result.get(), last ? last.get() : ""));
    }
    *ret = result.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Dump

namespace
{

// The value text and type name of one dump line; `*text` is borrowed from
// `*held` or static.
int dump_value(const bn_binding *binding, lc_malloc_ptr<char> *held, const char **text,
               const char **type_name)
{
    const bn_attrib *value = nullptr;
    bail_error(bn_binding_get_attrib(binding, ba_value, &value));
    if (value == nullptr) {
        *text = "(null)";
        *type_name = "none";
        return 0;
    }
    *type_name = bn_type_to_name(value->type);
    if (value->type == bt_binary) {
        char buf[64];
        snprintf(buf, sizeof(buf), "[Binary data: length %d]", int(value->value_length));
        held->reset(strdup(buf));
        bail_null(*held);
        *text = held->get();
        return 0;
    }
    char *printed = nullptr;
    bail_error_quiet(bn_attrib_get_str(value, nullptr, 0, nullptr, &printed));
    held->reset(printed);
    *text = printed ? printed : "(null)";
    return 0;
}

} // namespace

int bn_binding_array_dump(const char *prefix, const bn_binding_array *array, int log_level)
{
    bail_null(array);
    if (!lc_log_check_level(log_level)) return 0;

    const char *p = prefix ? prefix : "";
    const char *sep = prefix ? ": " : "";
    const uint32 n = bn_binding_array_length_quick(array);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(array, i);
        if (b == nullptr) {
            lc_log_basic(log_level, "%s%s[%d] NULL", p, sep, int(i));
            continue;
        }
        lc_malloc_ptr<char> held;
        const char *text = "";
        const char *type_name = "";
        bail_error(dump_value(b, &held, &text, &type_name));
        lc_log_basic(log_level, "%s%s[%d] %s = %s (%s)", p, sep, int(i),
                     ts_str_maybe_empty(b->name), text, type_name);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Address orderings

namespace
{

struct addr_key {
    uint8 bytes[16]; // most significant first
    uint32 length;
};

int three_way(const addr_key &a, const addr_key &b)
{
    const int c = memcmp(a.bytes, b.bytes, sizeof(a.bytes));
    if (c != 0) return c < 0 ? -1 : 1;
    return (a.length > b.length) - (a.length < b.length);
}

// Address texts are short and bounded, so the comparators (which cannot
// fail) work in fixed buffers and never allocate.
constexpr size_t addr_text_room = bn_compare_ipv6_text_max + 1;

// Splits "<address>[/<length>]", reading at most `max` characters.
void split_addr_text(const char *text, uint32 max, std::string_view *addr, uint32 *length)
{
    const std::string_view s(text, strnlen(text, max));
    const size_t slash = s.find('/');
    *addr = s.substr(0, slash);
    *length = 0;
    if (slash != std::string_view::npos) {
        // A length that does not convert counts as 0.
        char rest[addr_text_room];
        const std::string_view digits = s.substr(slash + 1);
        const size_t n = std::min(digits.size(), sizeof rest - 1);
        memcpy(rest, digits.data(), n);
        rest[n] = '\0';
        *length = uint32(strtoul(rest, nullptr, 10));
    }
}

// Four base-10 octets 0..255 separated by ".", nothing after: the
// "ipv4addr" text form.
bool parse_ipv4(std::string_view s, uint32 *ret)
{
    uint32 value = 0;
    size_t i = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (i >= s.size() || s[i] != '.') return false;
            ++i;
        }
        uint32 v = 0;
        size_t digits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4) {
            v = v * 10 + uint32(s[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || v > 255) return false;
        value = (value << 8) | v;
    }
    if (i != s.size()) return false;
    *ret = value;
    return true;
}

addr_key ipv4_key(const char *text)
{
    addr_key k{};
    if (text == nullptr) return k;
    std::string_view addr;
    split_addr_text(text, bn_compare_ipv4_text_max, &addr, &k.length);
    uint32 v = 0;
    if (parse_ipv4(addr, &v)) lc_bytes::store<lc_bytes::order::big>(k.bytes + 12, v);
    return k;
}

addr_key ipv6_key(const char *text)
{
    addr_key k{};
    if (text == nullptr) return k;
    std::string_view addr;
    split_addr_text(text, bn_compare_ipv6_text_max, &addr, &k.length);
    char copy[addr_text_room];
    const size_t n = std::min(addr.size(), sizeof copy - 1);
    memcpy(copy, addr.data(), n);
    copy[n] = '\0';
    lc_ipv6addr a{};
    if (lc_ipv6addr_from_str(copy, &a) == 0) {
        // The "ipv6addr" order: the first address byte is the least
        // significant.
        for (int i = 0; i < 16; ++i) k.bytes[i] = a.addr[15 - i];
    }
    return k;
}

// The first characters of the last name part of a binding, unescaped,
// without touching its parts cache: as many as an address key reads.
struct last_part_text {
    char text[addr_text_room];
};
last_part_text last_part(const bn_binding *b)
{
    detail::raw_name_parts parts{ts_str_maybe_empty(b->name)};
    detail::name_part last{{}, true, true};
    while (!parts.at_end()) last = parts.next();
    last_part_text out{};
    size_t i = 0, n = 0;
    while (i < last.text.size() && n < sizeof out.text - 1)
        out.text[n++] = detail::raw_part_next_char(last.text, &i);
    out.text[n] = '\0';
    return out;
}

template <addr_key (*Key)(const char *)>
int compare_tstr_slots(const void *slot_a, const void *slot_b)
{
    const tstring *a = *static_cast<const tstring *const *>(slot_a);
    const tstring *b = *static_cast<const tstring *const *>(slot_b);
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return three_way(Key(ts_str_maybe_empty(a)), Key(ts_str_maybe_empty(b)));
}

template <addr_key (*Key)(const char *)>
int compare_binding_slots(const void *slot_a, const void *slot_b)
{
    const bn_binding *a = *static_cast<const bn_binding *const *>(slot_a);
    const bn_binding *b = *static_cast<const bn_binding *const *>(slot_b);
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return three_way(Key(last_part(a).text), Key(last_part(b).text));
}

} // namespace

int tstr_compare_ip(const void *slot_a, const void *slot_b)
{
    return compare_tstr_slots<ipv4_key>(slot_a, slot_b);
}

int bn_binding_name_compare_ip(const void *slot_a, const void *slot_b)
{
    return compare_binding_slots<ipv4_key>(slot_a, slot_b);
}

int tstr_compare_ipv6(const void *slot_a, const void *slot_b)
{
    return compare_tstr_slots<ipv6_key>(slot_a, slot_b);
}

int bn_binding_name_compare_ipv6(const void *slot_a, const void *slot_b)
{
    return compare_binding_slots<ipv6_key>(slot_a, slot_b);
}
