// Management client: answering the monitoring queries mgmtd forwards.
// The answer is built here node by node from the owner's handlers and the
// registration tree; mdc_dispatch_send.cc sends it.
#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_misc.h"

namespace
{

// A "registration_info" node: the registered nodes below its name, filtered
// by the capability mask it may carry.
int answer_registration(const bn_binding *binding, const char *name, bn_binding_array *out)
{
    uint32 mask = 0;
    uint32 n = 0;
    const bn_attrib_array *attribs = nullptr;
    bail_error(bn_binding_get_attribs(binding, &attribs));
    n = bn_attrib_array_length_quick(attribs);
    for (uint32 id = 0; id < n; ++id) {
        const bn_attrib *a = bn_attrib_array_get_quick(attribs, id);
        if (!a) continue;
        if (a->attribute_id != ba_capability_mask) {
            lc_log_basic_src(LCL_ERR, "Expected cap_mask attribute got %d",
                             static_cast<int>(a->attribute_id));
            return 0;
        }
        // A mask of another type filters nothing.
        if (a->type == bt_uint32) {
            bn_attribute_id aid = 0;
            uint32 taf = 0;
            bail_error(bn_attrib_get_uint32(a, &aid, &taf, &mask));
        }
    }
    return mdc_remote_reg_append_bindings(name, mask, out);
}

// Moves the non-null results into the response, in order.
int take_results(bn_binding_array *results, bn_response *response)
{
    const uint32 n = bn_binding_array_length_quick(results);
    for (uint32 i = 0; i < n; ++i) {
        bn_binding *b = nullptr;
        bail_error(bn_binding_array_remove_no_shift(results, i, &b));
        if (b) bail_error(bn_response_msg_append_binding_takeover(response, &b, nullptr));
    }
    return 0;
}

} // namespace

int mdc_mon_build_response(const bn_request *request, mdc_mon_get_func get_func, void *get_data,
                           mdc_mon_iterate_func iterate_func, void *iterate_data,
                           bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(request);
    uint16 type = 0;
    bail_error(bn_request_get_msg_type(request, &type));
    bail_require(type == bbmt_query_request);

    owned<bn_response> response;
    bail_error(
        bn_query_response_msg_create(response.out(), bn_request_get_msg_id(request), 0, nullptr));
    bail_error(bn_response_fix_for_request(response.get(), request));

    int failure = 0;
    const uint32 n = bn_request_per_node_array_length_quick(request->nodes);
    for (uint32 i = 0; i < n && failure == 0; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(request->nodes, i);
        if (!node || !node->binding) continue;
        const char *name = ts_str(node->binding->name);

        const tstr_array *parts = nullptr;
        owned<tstr_array> parsed;
        bail_error(bn_binding_get_name_parts_const(node->binding, &parts, nullptr));
        if (!parts) {
            bool absolute = false;
            bail_error(bn_binding_name_to_parts(name, parsed.out(), &absolute));
            parts = parsed.get();
        }

        owned<bn_binding_array> results;
        bail_error(bn_binding_array_new(results.out()));
        int err = 0;
        switch (node->subop) {
        case bqso_get:
            if (get_func) err = get_func(name, parts, get_data, results.get());
            break;
        case bqso_iterate:
            if (iterate_func) err = iterate_func(name, parts, iterate_data, results.get());
            break;
        case bqso_registration_info:
            err = answer_registration(node->binding, name, results.get());
            break;
        default:
            lc_log_basic_src(LCL_ERR, "Unexpected query subop %d; ignoring request for binding %s",
                             static_cast<int>(node->subop), name);
            continue;
        }
        if (err != 0) {
            // Reported once here; the quiet code passes unlogged.  What the
            // failing node produced is dropped with `results`.
            if (err != lc_err_cancelled) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
            failure = err;
            break;
        }
        bail_error(take_results(results.get(), response.get()));
    }
    if (failure)
        bail_error(bn_response_msg_set_return_code_msg(response.get(), static_cast<uint32>(failure),
                                                       nullptr));
    *ret_response = response.release();
    return 0;
}
