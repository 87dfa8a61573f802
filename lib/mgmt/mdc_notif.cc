// Management client: taking apart the notifications mgmtd sends.
#include <cstring>

#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_misc.h"

namespace
{

// A copy of `value`'s binding renamed to `node_name`.
int renamed_copy(const bn_binding *value, const char *node_name, bn_binding **ret)
{
    *ret = nullptr;
    owned<bn_binding> copy;
    bail_error(bn_binding_dup(value, copy.out()));
    bail_error(bn_binding_set_name(copy.get(), node_name));
    *ret = copy.release();
    return 0;
}

int append_copy(bn_binding_array *array, const bn_binding *value, const char *node_name)
{
    owned<bn_binding> copy;
    bail_error(renamed_copy(value, node_name, copy.out()));
    bn_binding *c = copy.release();
    return bn_binding_array_append_takeover(array, &c);
}

// The marker of a deleted node: its name, the previous value's type, no
// value, the deleted flags.
int append_deleted(bn_binding_array *array, const bn_binding *prev, const char *node_name)
{
    bn_type type = bt_none;
    const bn_attrib *prev_value = nullptr;
    if (prev) bail_error(bn_binding_get_attrib(prev, ba_value, &prev_value));
    if (prev_value) {
        uint32 flags = 0;
        bail_error(bn_attrib_get_type(prev_value, &type, &flags));
        if (type == bt_NONE) type = bt_none;
    }
    owned<bn_attrib> attrib;
    bail_error(bn_attrib_new(attrib.out()));
    bail_error(bn_attrib_set_type(attrib.get(), type));
    bail_error(bn_attrib_set_attribute_id(attrib.get(), ba_value));
    attrib->type_flags = mdc_deleted_node_flags;

    owned<bn_binding> marker;
    bail_error(bn_binding_new_named(marker.out(), node_name));
    bn_attrib *a = attrib.release();
    bail_error(bn_binding_set_attrib_takeover(marker.get(), ba_value, &a));
    bn_binding *m = marker.release();
    return bn_binding_array_append_takeover(array, &m);
}

// One entry "/mgmtd/notification/dbchange/<n>".
int extract_change(const bn_binding_array *event, const char *entry, bn_binding_array *old_out,
                   bn_binding_array *new_out)
{
    const bn_binding *type_b = nullptr;
    const bn_binding *name_b = nullptr;
    const bn_binding *new_b = nullptr;
    const bn_binding *prev_b = nullptr;
    bail_error(bn_binding_array_get_binding_by_name_rel(event, entry, "change_type", &type_b));
    bail_error(bn_binding_array_get_binding_by_name_rel(event, entry, "name", &name_b));
    bail_error(bn_binding_array_get_binding_by_name_rel(event, entry, "new_attribs/value", &new_b));
    bail_error(
        bn_binding_array_get_binding_by_name_rel(event, entry, "prev_attribs/value", &prev_b));
    bail_null(type_b);
    bail_null(name_b);

    owned<tstring> change_type;
    owned<tstring> node_name;
    bail_error(bn_binding_get_tstr(type_b, ba_value, 0, nullptr, change_type.out()));
    bail_error(bn_binding_get_tstr(name_b, ba_value, 0, nullptr, node_name.out()));
    bail_null(change_type.get());
    bail_null(node_name.get());
    const char *type = ts_str(change_type.get());
    const char *name = ts_str(node_name.get());

    if (strcmp(type, "add") == 0) {
        bail_null(new_b);
        bail_error(append_copy(new_out, new_b, name));
    } else if (strcmp(type, "modify") == 0) {
        bail_null(prev_b);
        bail_null(new_b);
        bail_error(append_copy(old_out, prev_b, name));
        bail_error(append_copy(new_out, new_b, name));
    } else if (strcmp(type, "delete") == 0) {
        // A deleted node without a recorded value still has to reach the
        // new array, or its deletion would go unseen.
        if (prev_b) bail_error(append_copy(old_out, prev_b, name));
        bail_error(append_deleted(new_out, prev_b, name));
    } else {
        lc_log_basic_src(LCL_ERR, "Unexpected change type %s under binding %s", type, entry);
        return lc_err_unexpected_case;
    }
    return 0;
}

} // namespace

int mdc_event_config_change_notif_extract(bn_binding_array *event_bindings,
                                          bn_binding_array **ret_old_bindings,
                                          bn_binding_array **ret_new_bindings)
{
    bail_null(ret_old_bindings);
    *ret_old_bindings = nullptr;
    bail_null(ret_new_bindings);
    *ret_new_bindings = nullptr;
    bail_null(event_bindings);

    owned<bn_binding_array> old_out;
    owned<bn_binding_array> new_out;
    bail_error(bn_binding_array_new(old_out.out()));
    bail_error(bn_binding_array_new(new_out.out()));
    // Sorted, the relative lookups below search by halving.
    bail_error(bn_binding_array_sort(event_bindings));

    const uint32 n = bn_binding_array_length_quick(event_bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(event_bindings, i);
        if (!b || !bn_binding_name_pattern_match(ts_str(b->name), MDC_DBCHANGE_ROOT "/*")) continue;
        bail_error(extract_change(event_bindings, ts_str(b->name), old_out.get(), new_out.get()));
    }
    *ret_old_bindings = old_out.release();
    *ret_new_bindings = new_out.release();
    return 0;
}

int mdc_event_action_notif_extract(const bn_binding_array *event_bindings,
                                   tstring **ret_action_name, bn_binding_array **ret_bindings)
{
    bail_null(ret_action_name);
    *ret_action_name = nullptr;
    bail_null(ret_bindings);
    *ret_bindings = nullptr;
    bail_null(event_bindings);

    owned<tstring> action;
    bail_error(bn_binding_array_get_value_tstr_by_name(
        event_bindings, MDC_ACTION_NOTIF_ROOT "/action_name", nullptr, action.out()));
    if (!action) return lc_err_not_found;

    static constexpr char prefix[] = MDC_ACTION_NOTIF_ROOT "/bindings/";
    constexpr size_t prefix_len = sizeof(prefix) - 1;
    owned<bn_binding_array> params;
    bail_error(bn_binding_array_new(params.out()));
    const uint32 n = bn_binding_array_length_quick(event_bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(event_bindings, i);
        if (!b) continue;
        const char *name = ts_str(b->name);
        if (strncmp(name, prefix, prefix_len) != 0 || name[prefix_len] == '\0') continue;
        bail_error(append_copy(params.get(), b, name + prefix_len));
    }
    *ret_action_name = action.release();
    *ret_bindings = params.release();
    return 0;
}
