// Management client: queries (one node, children, walks and patterns).
#include <cstdlib>
#include <cstring>

#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_main.h"

namespace detail
{

int mdc_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, uint32 bindings_flags,
              bn_binding_array **ret_bindings, uint32 subop, uint32 node_flags,
              int32 cond_db_revision_id, const char *db_name, const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_bindings) *ret_bindings = nullptr;
    bail_null(mcc);
    bail_null(node_name);

    owned<bn_request> request;
    bail_error(bn_query_request_msg_create(request.out(), 0, db_name));
    if (cond_db_revision_id != mdc_no_db_revision_id)
        bail_error(bn_query_request_msg_set_option_cond_db_revision_id(request.get(),
                                                                       cond_db_revision_id));
    bail_error(
        bn_query_request_msg_append_str(request.get(), subop, node_flags, node_name, nullptr));
    return mdc_request(mcc, request.get(), bindings_flags, ret_bindings, ret_code, ret_msg);
}

int mdc_name_parts(const char *name, tstr_array **ret_parts, bool *ret_is_absolute)
{
    return bn_binding_name_to_parts(name, ret_parts, ret_is_absolute);
}

bool mdc_is_immediate_child(const bn_binding *binding, const tstr_array *parent_parts)
{
    owned<tstr_array> parts;
    if (!binding || bn_binding_get_name_parts(binding, parts.out()) != 0) return false;
    const uint32 n = tstr_array_length_quick(parent_parts);
    if (tstr_array_length_quick(parts.get()) != n + 1) return false;
    for (uint32 i = 0; i < n; ++i)
        if (ts_cmp(tstr_array_get_quick(parts.get(), i), tstr_array_get_quick(parent_parts, i)))
            return false;
    return true;
}

} // namespace detail

using detail::mdc_clear_return;
using detail::mdc_query;

// ---------------------------------------------------------------------------
// One node

int mdc_get_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                    uint32 bindings_flags, bn_binding **ret_binding, const char *node_name,
                    const char *db_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_binding);
    *ret_binding = nullptr;

    owned<bn_binding_array> bindings;
    uint32 code = 0;
    owned<tstring> msg;
    bail_error(mdc_query(mcc, &code, ret_msg ? msg.out() : nullptr, bindings_flags, bindings.out(),
                         bqso_get, mdqf_none, mdc_no_db_revision_id, db_name, node_name));
    // Other bindings in the answer (none are expected) are dropped with it.
    owned<bn_binding> found;
    bail_error(bn_binding_array_detach_binding_by_name(bindings.get(), node_name, found.out()));

    if (ret_code) *ret_code = code;
    if (ret_msg) *ret_msg = msg.release();
    *ret_binding = found.release();
    return 0;
}

int mdc_get_binding_fmt(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                        uint32 bindings_flags, bn_binding **ret_binding, const char *db_name,
                        const char *name_format, ...)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_binding);
    *ret_binding = nullptr;
    bail_null(name_format);

    owned<tstring> name;
    va_list ap;
    va_start(ap, name_format);
    const int err = ts_new_vsprintf(name.out(), name_format, ap);
    va_end(ap);
    bail_error(err);
    return mdc_get_binding(mcc, ret_code, ret_msg, bindings_flags, ret_binding, ts_str(name.get()),
                           db_name);
}

namespace
{

// The node's value attribute, or null when the node or its value is absent.
int get_value(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, const char *node_name,
              const char *db_name, bn_binding **ret_binding, const bn_attrib **ret_value)
{
    *ret_value = nullptr;
    bail_error(mdc_get_binding(mcc, ret_code, ret_msg, mdbf_keep_name_parts, ret_binding, node_name,
                               db_name));
    if (*ret_binding) bail_error(bn_binding_get_attrib(*ret_binding, ba_value, ret_value));
    return 0;
}

// A value-less (deleted) or invalid attribute reads as absent.
bool has_value(const bn_attrib *value)
{
    return (value->type_flags & (btf_no_value | btf_invalid)) == 0;
}

// Reads a value of type `code`: directly when the attribute has that type,
// otherwise by printing it and parsing the text as that type.
template <bn_type code, class V>
int get_typed(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, tbool *ret_found, V *ret,
              const char *node_name, const char *db_name)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_found) *ret_found = false;
    bail_null(ret);

    owned<bn_binding> binding;
    const bn_attrib *value = nullptr;
    uint32 rcode = 0;
    owned<tstring> rmsg;
    bail_error(get_value(mcc, &rcode, ret_msg ? rmsg.out() : nullptr, node_name, db_name,
                         binding.out(), &value));
    const bool present = value && has_value(value);
    V v{};
    if (present) {
        bn_type type = 0;
        uint32 flags = 0;
        bail_error(bn_attrib_get_type(value, &type, &flags));
        bn_attribute_id id = 0;
        uint32 taf = 0;
        if (type == code) {
            bail_error(bn_family<code>::get(value, &id, &taf, &v));
        } else {
            owned<tstring> text;
            bail_error(bn_attrib_get_tstr(value, nullptr, 0, nullptr, text.out()));
            owned<bn_attrib> converted;
            bail_error(bn_attrib_new_str(converted.out(), ba_value, code, 0,
                                         text ? ts_str(text.get()) : ""));
            bail_error(bn_family<code>::get(converted.get(), &id, &taf, &v));
        }
        *ret = v;
    }
    if (ret_code) *ret_code = rcode;
    if (ret_msg) *ret_msg = rmsg.release();
    if (ret_found) *ret_found = present;
    return 0;
}

} // namespace

#define MDC_GET_BINDING_TYPED_DEFINE(name, code, ctype)                                            \
    int mdc_get_binding_##name(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,        \
                               tbool *ret_found, ctype *ret, const char *node_name,                \
                               const char *db_name)                                                \
    {                                                                                              \
        return get_typed<code>(mcc, ret_code, ret_msg, ret_found, ret, node_name, db_name);        \
    }
MDC_GET_BINDING_TYPES(MDC_GET_BINDING_TYPED_DEFINE)
#undef MDC_GET_BINDING_TYPED_DEFINE

int mdc_get_binding_tstr(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                         tbool *ret_found, tstring **ret, const char *node_name,
                         const char *db_name)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_found) *ret_found = false;
    bail_null(ret);

    owned<bn_binding> binding;
    const bn_attrib *value = nullptr;
    uint32 rcode = 0;
    owned<tstring> rmsg;
    bail_error(get_value(mcc, &rcode, ret_msg ? rmsg.out() : nullptr, node_name, db_name,
                         binding.out(), &value));
    owned<tstring> text;
    if (value && has_value(value))
        bail_error(bn_attrib_get_tstr(value, nullptr, 0, nullptr, text.out()));

    if (ret_code) *ret_code = rcode;
    if (ret_msg) *ret_msg = rmsg.release();
    if (text) {
        if (ret_found) *ret_found = true;
        *ret = text.release();
    }
    return 0;
}

int mdc_get_binding_tstr_fmt(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                             tbool *ret_found, tstring **ret, const char *db_name,
                             const char *name_format, ...)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_found) *ret_found = false;
    bail_null(name_format);

    owned<tstring> name;
    va_list ap;
    va_start(ap, name_format);
    const int err = ts_new_vsprintf(name.out(), name_format, ap);
    va_end(ap);
    bail_error(err);
    return mdc_get_binding_tstr(mcc, ret_code, ret_msg, ret_found, ret, ts_str(name.get()),
                                db_name);
}

// ---------------------------------------------------------------------------
// Children

int mdc_get_binding_children(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                             uint32 bindings_flags, bn_binding_array **ret_bindings, tbool option,
                             tbool subtree, const char *node_name)
{
    const uint32 flags =
        (subtree ? uint32{mdqf_subtree} : 0u) | (option ? uint32{mdqf_option} : 0u);
    return mdc_get_binding_children_ex(mcc, ret_code, ret_msg, bindings_flags, ret_bindings, flags,
                                       mdc_no_db_revision_id, nullptr, node_name);
}

int mdc_get_binding_children_ex(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                uint32 bindings_flags, bn_binding_array **ret_bindings,
                                uint32 query_flags, int32 cond_db_revision_id, const char *db_name,
                                const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_bindings);
    *ret_bindings = nullptr;
    return mdc_query(mcc, ret_code, ret_msg, bindings_flags, ret_bindings, bqso_iterate,
                     query_flags, cond_db_revision_id, db_name, node_name);
}

namespace
{

// The immediate children of `node_name`, in the order of the response.
int get_children(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, uint32 bindings_flags,
                 const char *node_name, bn_binding_array **ret)
{
    *ret = nullptr;
    owned<bn_binding_array> all;
    bail_error(mdc_get_binding_children(mcc, ret_code, ret_msg, bindings_flags, all.out(), false,
                                        false, node_name));
    owned<tstr_array> parent;
    bool absolute = false;
    bail_error(detail::mdc_name_parts(node_name, parent.out(), &absolute));

    owned<bn_binding_array> children;
    bail_error(bn_binding_array_new(children.out()));
    const uint32 n = bn_binding_array_length_quick(all.get());
    for (uint32 i = 0; i < n; ++i) {
        bn_binding *b = bn_binding_array_get_quick(all.get(), i);
        if (!detail::mdc_is_immediate_child(b, parent.get())) continue;
        owned<bn_binding> taken;
        bail_error(bn_binding_array_remove_no_shift(all.get(), i, taken.out()));
        bn_binding *t = taken.release();
        bail_error(bn_binding_array_append_takeover(children.get(), &t));
    }
    *ret = children.release();
    return 0;
}

} // namespace

int mdc_get_binding_children_tstr_array(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                        tstr_array **ret_names, const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_names);
    *ret_names = nullptr;

    owned<bn_binding_array> children;
    uint32 code = 0;
    owned<tstring> msg;
    bail_error(get_children(mcc, &code, ret_msg ? msg.out() : nullptr, mdbf_keep_name_parts,
                            node_name, children.out()));
    bail_error(bn_binding_array_get_last_name_parts(children.get(), ret_names));
    if (ret_code) *ret_code = code;
    if (ret_msg) *ret_msg = msg.release();
    return 0;
}

namespace
{

// Takes the child at `index` out of `children` (null when out of range).
int child_at(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, uint32 bindings_flags,
             bn_binding **ret_binding, const char *node_name, const char *prev_child, uint32 n)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_binding);
    *ret_binding = nullptr;

    owned<bn_binding_array> children;
    uint32 code = 0;
    owned<tstring> msg;
    bail_error(get_children(mcc, &code, ret_msg ? msg.out() : nullptr, bindings_flags, node_name,
                            children.out()));
    const uint32 len = bn_binding_array_length_quick(children.get());
    uint32 index = n;
    if (prev_child) {
        index = len;
        for (uint32 i = 0; i < len; ++i) {
            char *raw = nullptr;
            bail_error(
                bn_binding_get_name_last_part(bn_binding_array_get_quick(children.get(), i), &raw));
            const lc_malloc_ptr<char> last{raw};
            const bool same = last && strcmp(last.get(), prev_child) == 0;
            if (same) {
                index = i + 1;
                break;
            }
        }
    }
    owned<bn_binding> found;
    if (index < len) bail_error(bn_binding_array_remove(children.get(), index, found.out()));
    if (ret_code) *ret_code = code;
    if (ret_msg) *ret_msg = msg.release();
    *ret_binding = found.release();
    return 0;
}

} // namespace

int mdc_get_nth_binding_child(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                              uint32 bindings_flags, bn_binding **ret_binding,
                              const char *node_name, uint32 n)
{
    return child_at(mcc, ret_code, ret_msg, bindings_flags, ret_binding, node_name, nullptr, n);
}

int mdc_get_next_binding_child(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                               uint32 bindings_flags, bn_binding **ret_binding,
                               const char *node_name, const char *prev_child)
{
    return child_at(mcc, ret_code, ret_msg, bindings_flags, ret_binding, node_name, prev_child, 0);
}

int mdc_count_bindings(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                       uint32 *ret_count, tbool subtree, const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_count);
    *ret_count = 0;

    owned<bn_binding_array> bindings;
    if (subtree)
        bail_error(mdc_get_binding_children(mcc, ret_code, ret_msg, mdbf_keep_name_parts,
                                            bindings.out(), false, true, node_name));
    else
        bail_error(
            get_children(mcc, ret_code, ret_msg, mdbf_keep_name_parts, node_name, bindings.out()));
    *ret_count = bn_binding_array_length_quick(bindings.get());
    return 0;
}

// ---------------------------------------------------------------------------
// Walks and patterns

namespace
{

// Result of a walk callback: halt is a clean stop.
int walk_result(int err, bool *stop)
{
    *stop = err != 0;
    return err == lc_err_foreach_halt ? 0 : err;
}

// The parts of `pattern` before its first wildcard, joined as a name.
int pattern_root(const char *pattern, tstring **ret)
{
    *ret = nullptr;
    owned<tstr_array> parts;
    bool absolute = false;
    bail_error(bn_binding_name_to_parts(pattern, parts.out(), &absolute));
    uint32 fixed = 0;
    const uint32 n = tstr_array_length_quick(parts.get());
    while (fixed < n) {
        const char *p = tstr_array_get_str_quick(parts.get(), fixed);
        if (p && (strcmp(p, "*") == 0 || strcmp(p, "**") == 0)) break;
        ++fixed;
    }
    char *raw = nullptr;
    bail_error(bn_binding_name_parts_partial_to_name(parts.get(), 0, static_cast<int32>(fixed),
                                                     absolute, &raw));
    const lc_malloc_ptr<char> root{raw};
    // No fixed part at all: the whole tree.
    bail_error(ts_new_str(ret, root ? root.get() : "/"));
    return 0;
}

// Queries the subtree below the pattern's fixed parts and keeps the
// bindings that match it.
int query_pattern(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                  uint32 bindings_flags, const char *pattern, bn_binding_array **ret)
{
    *ret = nullptr;
    bail_null(pattern);
    owned<tstring> root;
    bail_error(pattern_root(pattern, root.out()));
    owned<bn_binding_array> all;
    bail_error(mdc_get_binding_children(mcc, ret_code, ret_msg, bindings_flags, all.out(), false,
                                        true, ts_str(root.get())));
    owned<bn_binding_array> matching;
    bail_error(bn_binding_array_new(matching.out()));
    const uint32 n = bn_binding_array_length_quick(all.get());
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(all.get(), i);
        if (!b || !bn_binding_name_pattern_match(ts_str(b->name), pattern)) continue;
        owned<bn_binding> taken;
        bail_error(bn_binding_array_remove_no_shift(all.get(), i, taken.out()));
        bn_binding *t = taken.release();
        bail_error(bn_binding_array_append_takeover(matching.get(), &t));
    }
    *ret = matching.release();
    return 0;
}

bool matches(const bn_binding *b, const char *pattern)
{
    return b && (!pattern || bn_binding_name_pattern_match(ts_str(b->name), pattern));
}

} // namespace

int mdc_foreach_binding_prequeried(const bn_binding_array *bindings, const char *pattern,
                                   mdc_foreach_binding_func callback, void *data)
{
    bail_null(bindings);
    bail_null(callback);
    const uint32 n = bn_binding_array_length_quick(bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings, i);
        if (!matches(b, pattern)) continue;
        bool stop = false;
        const int err = walk_result(callback(bindings, i, b, data), &stop);
        if (stop) return err;
    }
    return 0;
}

int mdc_foreach_binding_prequeried_parsed(const bn_binding_array *bindings, const char *pattern,
                                          mdc_foreach_binding_parsed_func callback, void *data)
{
    bail_null(bindings);
    bail_null(callback);
    const uint32 n = bn_binding_array_length_quick(bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings, i);
        if (!matches(b, pattern)) continue;
        owned<tstr_array> parts;
        bail_error(bn_binding_get_name_parts(b, parts.out()));
        const uint32 np = tstr_array_length_quick(parts.get());
        const tstring *last = np ? tstr_array_get_quick(parts.get(), np - 1) : nullptr;
        const bn_attrib *value_attr = nullptr;
        owned<tstring> value;
        bail_error(bn_binding_get_attrib(b, ba_value, &value_attr));
        if (value_attr)
            bail_error(bn_attrib_get_tstr(value_attr, nullptr, 0, nullptr, value.out()));
        bool stop = false;
        const int err = walk_result(
            callback(bindings, i, b, b->name, parts.get(), last, value.get(), data), &stop);
        if (stop) return err;
    }
    return 0;
}

int mdc_foreach_binding_prequeried_detach(bn_binding_array *bindings, const char *pattern,
                                          mdc_foreach_binding_detach_func callback, void *data)
{
    bail_null(bindings);
    bail_null(callback);
    uint32 i = 0;
    while (i < bn_binding_array_length_quick(bindings)) {
        if (!matches(bn_binding_array_get_quick(bindings, i), pattern)) {
            ++i;
            continue;
        }
        owned<bn_binding> taken;
        bail_error(bn_binding_array_remove(bindings, i, taken.out()));
        bn_binding *t = taken.release();
        const int result = callback(i, &t, data);
        taken.reset(t);
        bool stop = false;
        const int err = walk_result(result, &stop);
        if (stop) return err;
    }
    return 0;
}

int mdc_foreach_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                        const char *node_name, mdc_foreach_binding_func callback, void *data)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(callback);
    owned<bn_binding_array> bindings;
    bail_error(mdc_get_binding_children(mcc, ret_code, ret_msg, mdbf_keep_name_parts,
                                        bindings.out(), false, true, node_name));
    return mdc_foreach_binding_prequeried(bindings.get(), nullptr, callback, data);
}

int mdc_foreach_binding_pattern(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                const char *pattern, mdc_foreach_binding_func callback, void *data)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(callback);
    owned<bn_binding_array> bindings;
    bail_error(
        query_pattern(mcc, ret_code, ret_msg, mdbf_keep_name_parts, pattern, bindings.out()));
    return mdc_foreach_binding_prequeried(bindings.get(), nullptr, callback, data);
}

int mdc_foreach_binding_pattern_sorted(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                       const char *pattern, mdc_foreach_binding_func callback,
                                       void *data)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(callback);
    owned<bn_binding_array> bindings;
    bail_error(
        query_pattern(mcc, ret_code, ret_msg, mdbf_keep_name_parts, pattern, bindings.out()));
    bail_error(bn_binding_array_sort(bindings.get()));
    return mdc_foreach_binding_prequeried(bindings.get(), nullptr, callback, data);
}

int mdc_get_pattern_bindings(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                             uint32 bindings_flags, bn_binding_array **ret_bindings,
                             const char *pattern)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_bindings);
    *ret_bindings = nullptr;
    bail_null(mcc);
    return query_pattern(mcc, ret_code, ret_msg, bindings_flags, pattern, ret_bindings);
}
