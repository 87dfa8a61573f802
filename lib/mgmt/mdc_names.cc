// Management client: name and text utilities.
#include <cstdlib>
#include <cstring>

#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_misc.h"

int mdc_get_root_name(const char *node_name, tstring **ret_root)
{
    bail_null(ret_root);
    *ret_root = nullptr;
    bail_null(node_name);

    owned<tstr_array> parts;
    bool absolute = false;
    bail_error(bn_binding_name_to_parts(node_name, parts.out(), &absolute));
    char *raw = nullptr;
    if (tstr_array_length_quick(parts.get()) > 0)
        bail_error(bn_binding_name_parts_partial_to_name(parts.get(), 0, 1, true, &raw));
    lc_malloc_ptr<char> root{raw};
    bail_error(ts_new_str(ret_root, root ? root.get() : "/"));
    return 0;
}

int mdc_path_synth_from_bindings(const bn_binding_array *bindings, const char *base,
                                 const tstr_array *value_names, tstring **ret_name)
{
    bail_null(ret_name);
    *ret_name = nullptr;
    bail_null(bindings);
    bail_null(base);

    owned<tstring> name;
    bail_error(ts_new_str(name.out(), base));
    const uint32 n = tstr_array_length_quick(value_names);
    for (uint32 i = 0; i < n; ++i) {
        const char *value_name = tstr_array_get_str_quick(value_names, i);
        bail_null(value_name);
        const bn_binding *b = nullptr;
        bail_error(bn_binding_array_get_binding_by_name(bindings, value_name, &b));
        if (!b) return lc_err_not_found;
        owned<tstring> value;
        bail_error(bn_binding_get_tstr(b, ba_value, 0, nullptr, value.out()));
        char *raw = nullptr;
        bail_error(bn_binding_name_append_part(ts_str(name.get()), value ? ts_str(value.get()) : "",
                                               &raw));
        lc_malloc_ptr<char> joined{raw};
        bail_error(ts_put_str(name.get(), joined.get()));
    }
    *ret_name = name.release();
    return 0;
}

namespace
{

// Hands back the printed value of the node named `name` (null: the node
// has no value), or lc_err_not_found when there is no such node.
using value_lookup = int (*)(const char *name, void *data, tstring **ret_value);

// Replaces every "$<name>$" of `text` by what `lookup` finds for <name>;
// "$$" is one "$" and an unclosed "$" stays as it is.
int substitute(const char *text, value_lookup lookup, void *data, tstring **ret_text)
{
    *ret_text = nullptr;
    owned<tstring> out;
    bail_error(ts_new(out.out()));
    const char *p = text;
    while (*p) {
        const char *open = strchr(p, '$');
        const char *close = open ? strchr(open + 1, '$') : nullptr;
        if (!close) {
            bail_error(ts_append_str(out.get(), p));
            break;
        }
        bail_error(ts_append_buffer(out.get(), p, static_cast<uint32>(open - p)));
        if (close == open + 1) {
            bail_error(ts_append_char(out.get(), '$'));
        } else {
            owned<tstring> name;
            bail_error(ts_new(name.out()));
            bail_error(
                ts_append_buffer(name.get(), open + 1, static_cast<uint32>(close - open - 1)));
            owned<tstring> value;
            bail_error_quiet(lookup(ts_str(name.get()), data, value.out()));
            if (value) bail_error(ts_append(out.get(), value.get()));
        }
        p = close + 1;
    }
    *ret_text = out.release();
    return 0;
}

int lookup_in_array(const char *name, void *data, tstring **ret_value)
{
    *ret_value = nullptr;
    const auto *params = static_cast<const bn_binding_array *>(data);
    const bn_binding *b = nullptr;
    if (params) bail_error(bn_binding_array_get_binding_by_name(params, name, &b));
    if (!b) return lc_err_not_found;
    return bn_binding_get_tstr(b, ba_value, 0, nullptr, ret_value);
}

struct query_lookup {
    md_client_context *mcc;
    uint32 *ret_code;
    tstring **ret_msg;
};

// One "get" per name; a refused query ends the substitution with its code
// reported through the caller's out code and message.
int lookup_by_query(const char *name, void *data, tstring **ret_value)
{
    *ret_value = nullptr;
    auto *q = static_cast<query_lookup *>(data);
    owned<bn_binding> b;
    uint32 code = 0;
    owned<tstring> msg;
    // Already reported where it failed.
    bail_error_quiet(mdc_get_binding(q->mcc, &code, msg.out(), 0, b.out(), name, nullptr));
    if (code != 0) {
        if (q->ret_code) *q->ret_code = code;
        if (q->ret_msg) *q->ret_msg = msg.release();
        return lc_err_cancelled;
    }
    if (!b) return lc_err_not_found;
    return bn_binding_get_tstr(b.get(), ba_value, 0, nullptr, ret_value);
}

} // namespace

int mdc_subst_params(const char *text, const bn_binding_array *params, tstring **ret_text)
{
    bail_null(ret_text);
    *ret_text = nullptr;
    bail_null(text);
    return substitute(text, lookup_in_array, const_cast<bn_binding_array *>(params), ret_text);
}

int mdc_vsmprintf_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                        tstring **ret_text, const char *format, va_list ap)
{
    detail::mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_text);
    *ret_text = nullptr;
    bail_null(mcc);
    bail_null(format);

    owned<tstring> formatted;
    bail_error(ts_new_vsprintf(formatted.out(), format, ap));
    query_lookup q{mcc, ret_code, ret_msg};
    const int err = substitute(ts_str(formatted.get()), lookup_by_query, &q, ret_text);
    // A refused query is reported in the out code, not as a failure.
    return err == lc_err_cancelled ? 0 : err;
}

int mdc_smprintf_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                       tstring **ret_text, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int err = mdc_vsmprintf_query(mcc, ret_code, ret_msg, ret_text, format, ap);
    va_end(ap);
    return err;
}

int mdc_smprintf_prequeried(const bn_binding_array *bindings, tstring **ret_text,
                            const char *format, ...)
{
    bail_null(ret_text);
    *ret_text = nullptr;
    bail_null(format);
    owned<tstring> formatted;
    va_list ap;
    va_start(ap, format);
    const int err = ts_new_vsprintf(formatted.out(), format, ap);
    va_end(ap);
    bail_error(err);
    return mdc_subst_params(ts_str(formatted.get()), bindings, ret_text);
}

int mdc_get_sequence_among_peers(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                 uint32 *ret_sequence, const char *node_name)
{
    detail::mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_sequence);
    *ret_sequence = 0;
    bail_null(mcc);
    bail_null(node_name);

    owned<tstr_array> parts;
    bool absolute = false;
    bail_error(detail::mdc_name_parts(node_name, parts.out(), &absolute));
    const uint32 n = tstr_array_length_quick(parts.get());
    if (n == 0) return lc_err_bad_name;
    const tstring *last = tstr_array_get_quick(parts.get(), n - 1);
    char *parent_raw = nullptr;
    bail_error(bn_binding_name_parts_partial_to_name(parts.get(), 0, n - 1, absolute, &parent_raw));
    lc_malloc_ptr<char> parent{parent_raw};

    owned<tstr_array> peers;
    // A top-level node's peers are the children of the root.
    bail_error(mdc_get_binding_children_tstr_array(mcc, ret_code, ret_msg, peers.out(),
                                                   parent ? parent.get() : "/"));
    const uint32 m = tstr_array_length_quick(peers.get());
    for (uint32 i = 0; i < m; ++i) {
        if (ts_equal(tstr_array_get_quick(peers.get(), i), last)) {
            *ret_sequence = i + 1;
            break;
        }
    }
    return 0;
}
