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
    char *root = nullptr;
    if (tstr_array_length_quick(parts.get()) > 0)
        bail_error(bn_binding_name_parts_partial_to_name(parts.get(), 0, 1, true, &root));
    const int err = ts_new_str(ret_root, root ? root : "/");
    free(root);
    bail_error(err);
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
        char *joined = nullptr;
        bail_error(bn_binding_name_append_part(ts_str(name.get()), value ? ts_str(value.get()) : "",
                                               &joined));
        const int err = ts_put_str(name.get(), joined);
        free(joined);
        bail_error(err);
    }
    *ret_name = name.release();
    return 0;
}

int mdc_subst_params(const char *text, const bn_binding_array *params, tstring **ret_text)
{
    bail_null(ret_text);
    *ret_text = nullptr;
    bail_null(text);

    owned<tstring> out;
    bail_error(ts_new(out.out()));
    const char *p = text;
    while (*p) {
        const char *open = strchr(p, '$');
        if (!open) {
            bail_error(ts_append_str(out.get(), p));
            break;
        }
        bail_error(ts_append_buffer(out.get(), p, static_cast<uint32>(open - p)));
        const char *close = strchr(open + 1, '$');
        // An unclosed "$" stays as it is.
        if (!close) {
            bail_error(ts_append_str(out.get(), open));
            break;
        }
        if (close == open + 1) {
            bail_error(ts_append_char(out.get(), '$'));
        } else {
            owned<tstring> name;
            bail_error(ts_new(name.out()));
            bail_error(
                ts_append_buffer(name.get(), open + 1, static_cast<uint32>(close - open - 1)));
            const bn_binding *b = nullptr;
            if (params)
                bail_error(bn_binding_array_get_binding_by_name(params, ts_str(name.get()), &b));
            if (!b) return lc_err_not_found;
            owned<tstring> value;
            bail_error(bn_binding_get_tstr(b, ba_value, 0, nullptr, value.out()));
            if (value) bail_error(ts_append(out.get(), value.get()));
        }
        p = close + 1;
    }
    *ret_text = out.release();
    return 0;
}
