// Responses in memory: construction, appending, field access, and the
// readers that hand a response's bindings to the caller.
#include <string>
#include <utility>

#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"
#include "util/tstr_array.h"

namespace
{

int require_type(const bn_response *msg, uint16 type)
{
    bail_null(msg);
    if (msg->msg_type != type) return lc_err_assertion_failed;
    return 0;
}

bool has_db_revision(uint16 type)
{
    return type == bbmt_query_response || type == bbmt_set_response;
}

// A copy of `b` named by its name alone (its parts, if cached, dropped), or
// a plain copy when the parts are wanted.
int copy_binding(const bn_binding *b, tbool with_name_parts, bn_binding **ret)
{
    if (with_name_parts) return bn_binding_dup(b, ret);
    return bn_binding_new_components(ret, ts_str(b->name), b->attribs);
}

} // namespace

int bn_response_msg_create(bn_response **ret, uint16 msg_type, uint32 req_msg_id,
                           uint32 return_code, const char *return_msg)
{
    bail_null(ret);
    *ret = nullptr;
    bail_require(bn_msg_type_is_response(msg_type));
    owned<bn_response> msg{new (std::nothrow) bn_response{}};
    bail_null(msg);
    msg->msg_type = msg_type;
    msg->req_msg_id = req_msg_id;
    msg->return_code = return_code;
    msg->next_node_id = bn_first_node_id;
    bail_error(detail::proto_set_str(&msg->return_msg, return_msg));
    bail_error(bn_response_per_node_array_new(&msg->nodes));
    *ret = msg.release();
    return 0;
}

#define BN_RESPONSE_CREATE(fn, type)                                                               \
    int fn(bn_response **ret, uint32 req_msg_id, uint32 return_code, const char *return_msg)       \
    {                                                                                              \
        return bn_response_msg_create(ret, type, req_msg_id, return_code, return_msg);             \
    }
BN_RESPONSE_CREATE(bn_query_response_msg_create, bbmt_query_response)
BN_RESPONSE_CREATE(bn_set_response_msg_create, bbmt_set_response)
BN_RESPONSE_CREATE(bn_action_response_msg_create, bbmt_action_response)
BN_RESPONSE_CREATE(bn_event_response_msg_create, bbmt_event_response)
#undef BN_RESPONSE_CREATE

int bn_response_msg_free(bn_response **msg)
{
    if (msg == nullptr || *msg == nullptr) return 0;
    bn_response *m = std::exchange(*msg, nullptr);
    (void)bn_response_per_node_array_free(&m->nodes);
    (void)ts_free(&m->return_msg);
    delete m;
    return 0;
}

int bn_response_msg_dup(const bn_response *src, bn_response **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    owned<bn_response> msg{new (std::nothrow) bn_response{}};
    bail_null(msg);
    msg->service_id = src->service_id;
    msg->msg_type = src->msg_type;
    msg->length = src->length;
    msg->msg_id = src->msg_id;
    msg->transaction_id = src->transaction_id;
    msg->req_msg_id = src->req_msg_id;
    msg->return_code = src->return_code;
    msg->db_revision_id = src->db_revision_id;
    msg->next_node_id = src->next_node_id;
    bail_error(ts_dup_maybe(src->return_msg, &msg->return_msg));
    bail_error(bn_response_per_node_array_duplicate(src->nodes, &msg->nodes));
    *ret = msg.release();
    return 0;
}

int bn_response_msg_set_return_code_msg(bn_response *msg, uint32 return_code,
                                        const char *return_msg)
{
    bail_null(msg);
    bail_error(detail::proto_set_str(&msg->return_msg, return_msg));
    msg->return_code = return_code;
    return 0;
}

// ---------------------------------------------------------------------------
// Appending

int bn_response_msg_append_binding(bn_response *msg, const bn_binding *binding, uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    bail_null(binding);
    owned<bn_binding> copy;
    bail_error(bn_binding_dup(binding, copy.out()));
    return detail::response_append_node(msg, std::move(copy), ret_node_id);
}

int bn_response_msg_append_binding_takeover(bn_response *msg, bn_binding **binding,
                                            uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(binding);
    owned<bn_binding> own{std::exchange(*binding, nullptr)};
    bail_null(msg);
    return detail::response_append_node(msg, std::move(own), ret_node_id);
}

int bn_response_msg_append_new_binding(bn_response *msg, uint32 type_flags, const char *name,
                                       bn_type type, const char *value, uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    owned<bn_binding> b;
    bail_error_quiet(detail::proto_new_value_binding(b.out(), name, type, type_flags, value));
    return detail::response_append_node(msg, std::move(b), ret_node_id);
}

int bn_action_response_msg_append_binding(bn_response *msg, const bn_binding *binding,
                                          uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_error_quiet(require_type(msg, bbmt_action_response));
    return bn_response_msg_append_binding(msg, binding, ret_node_id);
}

int bn_action_response_set_param(bn_response *msg, const char *name, bn_type type,
                                 const char *value)
{
    bail_error_quiet(require_type(msg, bbmt_action_response));
    bail_null(name);
    owned<bn_binding> b;
    bail_error_quiet(detail::proto_new_value_binding(b.out(), name, type, 0, value));
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node && node->binding && ts_equal_str(node->binding->name, name, false)) {
            (void)bn_binding_free(&node->binding);
            node->binding = b.release();
            return 0;
        }
    }
    return detail::response_append_node(msg, std::move(b), nullptr);
}

// ---------------------------------------------------------------------------
// Fields

int bn_response_set_req_msg_id(bn_response *msg, uint32 req_msg_id)
{
    bail_null(msg);
    msg->req_msg_id = req_msg_id;
    return 0;
}

int bn_response_set_msg_id(bn_response *msg, uint32 msg_id)
{
    bail_null(msg);
    msg->msg_id = msg_id;
    return 0;
}

int bn_response_get_msg_ids(const bn_response *msg, uint32 *ret_req_msg_id, uint32 *ret_msg_id)
{
    if (ret_req_msg_id) *ret_req_msg_id = 0;
    if (ret_msg_id) *ret_msg_id = 0;
    bail_null(msg);
    if (ret_req_msg_id) *ret_req_msg_id = msg->req_msg_id;
    if (ret_msg_id) *ret_msg_id = msg->msg_id;
    return 0;
}

int bn_response_get_msg_type(const bn_response *msg, uint16 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    *ret = msg->msg_type;
    return 0;
}

int bn_response_get_transaction_id(const bn_response *msg, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    *ret = msg->transaction_id;
    return 0;
}

int bn_response_get_return(const bn_response *msg, uint32 *ret_code, const tstring **ret_msg)
{
    if (ret_code) *ret_code = 0;
    if (ret_msg) *ret_msg = nullptr;
    bail_null(msg);
    if (ret_code) *ret_code = msg->return_code;
    if (ret_msg) *ret_msg = msg->return_msg;
    return 0;
}

int bn_response_get_db_revision_id(const bn_response *msg, int32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    if (!has_db_revision(msg->msg_type)) return lc_err_assertion_failed;
    *ret = msg->db_revision_id;
    return 0;
}

int bn_response_set_db_revision_id(bn_response *msg, int32 revision_id)
{
    bail_null(msg);
    if (!has_db_revision(msg->msg_type)) return lc_err_assertion_failed;
    msg->db_revision_id = revision_id;
    return 0;
}

// ---------------------------------------------------------------------------
// Reading

int bn_response_get_bindings(const bn_response *msg, tbool with_name_parts, bn_binding_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    owned<bn_binding_array> arr;
    bail_error(bn_binding_array_new(arr.out()));
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        bn_binding *copy = nullptr;
        bail_error(copy_binding(node->binding, with_name_parts, &copy));
        bail_error(bn_binding_array_append_takeover(arr.get(), &copy));
    }
    *ret = arr.release();
    return 0;
}

int bn_response_get_bindings_takeover(bn_response *msg, tbool with_name_parts,
                                      bn_binding_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    owned<bn_binding_array> arr;
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    if (!with_name_parts) {
        // Rebuilt from their names: copy, then drop the originals.
        bail_error(bn_response_get_bindings(msg, false, arr.out()));
        for (uint32 i = 0; i < n; ++i) {
            bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
            if (node) (void)bn_binding_free(&node->binding);
        }
    } else {
        bail_error(bn_binding_array_new(arr.out()));
        for (uint32 i = 0; i < n; ++i) {
            bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
            if (node == nullptr || node->binding == nullptr) continue;
            bn_binding *b = std::exchange(node->binding, nullptr);
            bail_error(bn_binding_array_append_takeover(arr.get(), &b));
        }
    }
    *ret = arr.release();
    return 0;
}

int bn_response_get_binding_by_name(const bn_response *msg, const char *name,
                                    const bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    bail_null(name);
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node && node->binding && ts_equal_str(node->binding->name, name, false)) {
            *ret = node->binding;
            return 0;
        }
    }
    return 0;
}

int bn_response_get_bindings_by_node_id(const bn_response *msg, uint32 node_id,
                                        bn_binding_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    owned<bn_binding_array> arr;
    bail_error(bn_binding_array_new(arr.out()));
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node && node->binding && node->node_id == node_id)
            bail_error(bn_binding_array_append(arr.get(), node->binding));
    }
    *ret = arr.release();
    return 0;
}

namespace
{

int foreach_matching(const bn_response *msg, const char *pattern, bn_response_binding_func func,
                     void *data, bool reverse)
{
    bail_null(msg);
    bail_null(func);
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 k = 0; k < n; ++k) {
        const uint32 i = reverse ? n - 1 - k : k;
        const bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        if (pattern && !bn_binding_name_pattern_match(ts_str(node->binding->name), pattern))
            continue;
        const int err = func(msg, i, node->binding, data);
        if (err) return err;
    }
    return 0;
}

} // namespace

int bn_response_foreach_matching_binding(const bn_response *msg, const char *pattern,
                                         bn_response_binding_func func, void *data)
{
    return foreach_matching(msg, pattern, func, data, false);
}

int bn_response_foreach_matching_binding_rev(const bn_response *msg, const char *pattern,
                                             bn_response_binding_func func, void *data)
{
    return foreach_matching(msg, pattern, func, data, true);
}

int bn_response_fix_for_request(bn_response *resp, const bn_request *req)
{
    bail_null(resp);
    bail_null(req);
    return bn_response_fix_for_request_by_params(resp, req->msg_type, req->msg_id, req->service_id,
                                                 req->transaction_id);
}

int bn_response_fix_for_request_by_params(bn_response *resp, uint16 req_msg_type, uint32 req_msg_id,
                                          uint16 service_id, uint32 transaction_id)
{
    bail_null(resp);
    bail_require(bn_msg_type_is_request(req_msg_type));
    resp->msg_type = uint16(req_msg_type + 1);
    resp->req_msg_id = req_msg_id;
    resp->service_id = service_id;
    resp->transaction_id = transaction_id;
    return 0;
}

int bn_response_msg_append_binding_prefix(bn_response *msg, const char *prefix)
{
    bail_null(msg);
    bail_null(prefix);
    const uint32 n = bn_response_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        const char *name = ts_str(node->binding->name);
        owned<tstring> joined;
        bail_error(ts_new_sprintf(joined.out(), "%s%s%s", prefix, name[0] != '/' ? "/" : "", name));
        bail_error(bn_binding_set_name(node->binding, ts_str(joined.get())));
    }
    return 0;
}
