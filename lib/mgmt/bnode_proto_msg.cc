// Requests in memory: the code maps, the per-node entries and their arrays,
// construction, appending nodes, field access and reading.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"
#include "util/tstr_array.h"

const lc_enum_string_map bn_msg_type_map[] = {
    {bbmt_none, "none"},
    {bbmt_query_request, "query_request"},
    {bbmt_query_response, "query_response"},
    {bbmt_set_request, "set_request"},
    {bbmt_set_response, "set_response"},
    {bbmt_action_request, "action_request"},
    {bbmt_action_response, "action_response"},
    {bbmt_event_request, "event"},
    {bbmt_event_response, "event_ack"},
    {0, nullptr},
};

const lc_enum_string_map bn_query_subop_map[] = {
    {bqso_none, "none"},
    {bqso_get, "get"},
    {bqso_iterate, "iterate"},
    {bqso_registration_info, "registration_info"},
    {0, nullptr},
};

const lc_enum_string_map bn_set_subop_map[] = {
    {bsso_invalid_NONE, "invalid_NONE"},
    {bsso_create, "create"},
    {bsso_delete, "delete"},
    {bsso_reset, "reset"},
    {bsso_modify, "modify"},
    {bsso_reparent, "reparent"},
    {0, nullptr},
};

bool bn_msg_type_is_request(uint32 msg_type)
{
    return msg_type == bbmt_query_request || msg_type == bbmt_set_request ||
           msg_type == bbmt_action_request || msg_type == bbmt_event_request;
}

bool bn_msg_type_is_response(uint32 msg_type)
{
    return msg_type == bbmt_query_response || msg_type == bbmt_set_response ||
           msg_type == bbmt_action_response || msg_type == bbmt_event_response;
}

// ---------------------------------------------------------------------------
// Per-node entries

int bn_request_per_node_new(bn_request_per_node **ret)
{
    bail_null(ret);
    *ret = new (std::nothrow) bn_request_per_node{};
    bail_null(*ret);
    return 0;
}

int bn_request_per_node_dup(const bn_request_per_node *src, bn_request_per_node **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    owned<bn_request_per_node> n{new (std::nothrow) bn_request_per_node{}};
    bail_null(n);
    n->node_id = src->node_id;
    n->subop = src->subop;
    n->node_flags = src->node_flags;
    if (src->binding) bail_error(bn_binding_dup(src->binding, &n->binding));
    bail_error(ts_dup_maybe(src->reparent_parent, &n->reparent_parent));
    bail_error(ts_dup_maybe(src->reparent_name, &n->reparent_name));
    *ret = n.release();
    return 0;
}

int bn_request_per_node_free(bn_request_per_node **node)
{
    if (node == nullptr || *node == nullptr) return 0;
    bn_request_per_node *n = std::exchange(*node, nullptr);
    (void)bn_binding_free(&n->binding);
    (void)ts_free(&n->reparent_parent);
    (void)ts_free(&n->reparent_name);
    delete n;
    return 0;
}

int bn_response_per_node_new(bn_response_per_node **ret)
{
    bail_null(ret);
    *ret = new (std::nothrow) bn_response_per_node{};
    bail_null(*ret);
    return 0;
}

int bn_response_per_node_dup(const bn_response_per_node *src, bn_response_per_node **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    owned<bn_response_per_node> n{new (std::nothrow) bn_response_per_node{}};
    bail_null(n);
    n->node_id = src->node_id;
    if (src->binding) bail_error(bn_binding_dup(src->binding, &n->binding));
    *ret = n.release();
    return 0;
}

int bn_response_per_node_free(bn_response_per_node **node)
{
    if (node == nullptr || *node == nullptr) return 0;
    bn_response_per_node *n = std::exchange(*node, nullptr);
    (void)bn_binding_free(&n->binding);
    delete n;
    return 0;
}

LC_TYPED_ARRAY_DEFINE_OWNED(bn_request_per_node_array, bn_request_per_node, nullptr,
                            bn_request_per_node_dup, bn_request_per_node_free)
LC_TYPED_ARRAY_DEFINE_OWNED(bn_response_per_node_array, bn_response_per_node, nullptr,
                            bn_response_per_node_dup, bn_response_per_node_free)

// ---------------------------------------------------------------------------
// Shared helpers

namespace detail
{

int proto_set_str(tstring **ts, const char *s)
{
    bail_null(ts);
    if (s == nullptr) {
        (void)ts_free(ts);
        return 0;
    }
    return ts_new_or_replace_str(ts, s);
}

int request_append_node(bn_request *msg, owned<bn_binding> binding, uint32 subop, uint32 node_flags,
                        uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    bail_null(binding.get());
    owned<bn_request_per_node> n{new (std::nothrow) bn_request_per_node{}};
    bail_null(n);
    n->node_id = msg->next_node_id;
    n->binding = binding.release();
    n->subop = subop;
    n->node_flags = node_flags;
    bn_request_per_node *raw = n.release();
    bail_error(bn_request_per_node_array_append_takeover(msg->nodes, &raw));
    if (ret_node_id) *ret_node_id = msg->next_node_id;
    ++msg->next_node_id;
    return 0;
}

int response_append_node(bn_response *msg, owned<bn_binding> binding, uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    bail_null(binding.get());
    owned<bn_response_per_node> n{new (std::nothrow) bn_response_per_node{}};
    bail_null(n);
    n->node_id = msg->next_node_id;
    n->binding = binding.release();
    bn_response_per_node *raw = n.release();
    bail_error(bn_response_per_node_array_append_takeover(msg->nodes, &raw));
    if (ret_node_id) *ret_node_id = msg->next_node_id;
    ++msg->next_node_id;
    return 0;
}

int proto_new_value_binding(bn_binding **ret, const char *name, bn_type type, uint32 type_flags,
                            const char *value)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(name);
    // Conversion failures are the caller's to judge: pass them up quietly.
    bail_error_quiet(bn_binding_new_str(ret, name, ba_value, type, type_flags, value));
    return 0;
}

} // namespace detail

namespace
{

// The type check of the type-specific accessors: quiet by design.
int require_type(const bn_request *msg, uint16 type)
{
    bail_null(msg);
    if (msg->msg_type != type) return lc_err_assertion_failed;
    return 0;
}

int append_copy(bn_request *msg, uint16 type, const bn_binding *binding, uint32 subop,
                uint32 node_flags, uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    if (type != bbmt_none) bail_error_quiet(require_type(msg, type));
    bail_null(binding);
    owned<bn_binding> copy;
    bail_error(bn_binding_dup(binding, copy.out()));
    return detail::request_append_node(msg, std::move(copy), subop, node_flags, ret_node_id);
}

int append_new(bn_request *msg, uint16 type, uint32 subop, uint32 node_flags, uint32 type_flags,
               const char *name, bn_type value_type, const char *value, uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(msg);
    if (type != bbmt_none) bail_error_quiet(require_type(msg, type));
    owned<bn_binding> b;
    bail_error_quiet(detail::proto_new_value_binding(b.out(), name, value_type, type_flags, value));
    return detail::request_append_node(msg, std::move(b), subop, node_flags, ret_node_id);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

int bn_request_msg_create(bn_request **ret, uint16 msg_type)
{
    bail_null(ret);
    *ret = nullptr;
    bail_require(bn_msg_type_is_request(msg_type));
    owned<bn_request> msg{new (std::nothrow) bn_request{}};
    bail_null(msg);
    msg->msg_type = msg_type;
    msg->next_node_id = bn_first_node_id;
    bail_error(bn_request_per_node_array_new(&msg->nodes));
    *ret = msg.release();
    return 0;
}

int bn_request_msg_free(bn_request **msg)
{
    if (msg == nullptr || *msg == nullptr) return 0;
    bn_request *m = std::exchange(*msg, nullptr);
    (void)bn_request_per_node_array_free(&m->nodes);
    (void)ts_free(&m->audit_user_info);
    (void)ts_free(&m->db_name);
    (void)ts_free(&m->action_name);
    (void)ts_free(&m->event_name);
    delete m;
    return 0;
}

int bn_request_msg_dup(const bn_request *src, bn_request **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    owned<bn_request> msg{new (std::nothrow) bn_request{}};
    bail_null(msg);
    msg->service_id = src->service_id;
    msg->msg_type = src->msg_type;
    msg->length = src->length;
    msg->msg_id = src->msg_id;
    msg->transaction_id = src->transaction_id;
    msg->flags = src->flags;
    msg->cond_db_revision_id = src->cond_db_revision_id;
    msg->next_node_id = src->next_node_id;
    bail_error(ts_dup_maybe(src->audit_user_info, &msg->audit_user_info));
    bail_error(ts_dup_maybe(src->db_name, &msg->db_name));
    bail_error(ts_dup_maybe(src->action_name, &msg->action_name));
    bail_error(ts_dup_maybe(src->event_name, &msg->event_name));
    bail_error(bn_request_per_node_array_duplicate(src->nodes, &msg->nodes));
    *ret = msg.release();
    return 0;
}

int bn_query_request_msg_create(bn_request **ret, uint32 query_flags, const char *db_name)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_request> msg;
    bail_error(bn_request_msg_create(msg.out(), bbmt_query_request));
    msg->flags = query_flags;
    bail_error(detail::proto_set_str(&msg->db_name, db_name));
    *ret = msg.release();
    return 0;
}

int bn_set_request_msg_create(bn_request **ret, uint32 set_flags)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_request> msg;
    bail_error(bn_request_msg_create(msg.out(), bbmt_set_request));
    msg->flags = set_flags;
    *ret = msg.release();
    return 0;
}

int bn_action_request_msg_create(bn_request **ret, const char *action_name)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_request> msg;
    bail_error(bn_request_msg_create(msg.out(), bbmt_action_request));
    bail_error(detail::proto_set_str(&msg->action_name, action_name));
    *ret = msg.release();
    return 0;
}

int bn_event_request_msg_create(bn_request **ret, const char *event_name)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_request> msg;
    bail_error(bn_request_msg_create(msg.out(), bbmt_event_request));
    bail_error(detail::proto_set_str(&msg->event_name, event_name));
    *ret = msg.release();
    return 0;
}

uint16 bn_request_msg_response_msg_type(const bn_request *msg)
{
    if (msg == nullptr || !bn_msg_type_is_request(msg->msg_type)) return bbmt_none;
    return uint16(msg->msg_type + 1);
}

// ---------------------------------------------------------------------------
// Appending

int bn_request_msg_append_binding(bn_request *msg, const bn_binding *binding, uint32 *ret_node_id)
{
    return append_copy(msg, bbmt_none, binding, 0, 0, ret_node_id);
}

int bn_request_msg_append_binding_takeover(bn_request *msg, bn_binding **binding,
                                           uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(binding);
    owned<bn_binding> own{std::exchange(*binding, nullptr)};
    bail_null(msg);
    return detail::request_append_node(msg, std::move(own), 0, 0, ret_node_id);
}

int bn_request_msg_append_new_binding(bn_request *msg, uint32 type_flags, const char *name,
                                      bn_type type, const char *value, uint32 *ret_node_id)
{
    return append_new(msg, bbmt_none, 0, 0, type_flags, name, type, value, ret_node_id);
}

int bn_query_request_msg_append_str(bn_request *msg, uint32 subop, uint32 node_flags,
                                    const char *name, uint32 *ret_node_id)
{
    return bn_query_request_msg_append_with_attribs(msg, subop, node_flags, name, nullptr,
                                                    ret_node_id);
}

int bn_query_request_msg_append_binding(bn_request *msg, uint32 subop, uint32 node_flags,
                                        const bn_binding *binding, uint32 *ret_node_id)
{
    return append_copy(msg, bbmt_query_request, binding, subop, node_flags, ret_node_id);
}

int bn_query_request_msg_append_with_attribs(bn_request *msg, uint32 subop, uint32 node_flags,
                                             const char *name, const bn_attrib_array *attribs,
                                             uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_error_quiet(require_type(msg, bbmt_query_request));
    owned<bn_binding> b;
    bail_error(bn_binding_new_components(b.out(), name, attribs));
    return detail::request_append_node(msg, std::move(b), subop, node_flags, ret_node_id);
}

int bn_set_request_msg_append_binding(bn_request *msg, uint32 subop, uint32 node_flags,
                                      const bn_binding *binding, uint32 *ret_node_id)
{
    return append_copy(msg, bbmt_set_request, binding, subop, node_flags, ret_node_id);
}

int bn_set_request_msg_append_new_binding(bn_request *msg, uint32 subop, uint32 node_flags,
                                          const char *name, bn_type type, const char *value,
                                          uint32 *ret_node_id)
{
    return append_new(msg, bbmt_set_request, subop, node_flags, 0, name, type, value, ret_node_id);
}

int bn_set_request_msg_append_new_binding_fmt(bn_request *msg, uint32 subop, uint32 node_flags,
                                              bn_type type, const char *value, uint32 *ret_node_id,
                                              const char *name_format, ...)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_null(name_format);
    owned<tstring> name;
    va_list ap;
    va_start(ap, name_format);
    const int err = ts_new_vsprintf(name.out(), name_format, ap);
    va_end(ap);
    bail_error(err);
    return bn_set_request_msg_append_new_binding(msg, subop, node_flags, ts_str(name.get()), type,
                                                 value, ret_node_id);
}

int bn_set_request_msg_append_reparent(bn_request *msg, uint32 node_flags, const char *name,
                                       const char *new_parent, const char *new_name,
                                       uint32 *ret_node_id)
{
    if (ret_node_id) *ret_node_id = 0;
    bail_error_quiet(require_type(msg, bbmt_set_request));
    bail_null(new_parent);
    bail_null(new_name);
    owned<tstring> parent, leaf;
    bail_error(ts_new_str(parent.out(), new_parent));
    bail_error(ts_new_str(leaf.out(), new_name));
    owned<bn_binding> b;
    bail_error(bn_binding_new_named(b.out(), name));
    const uint32 count = bn_request_per_node_array_length_quick(msg->nodes);
    bail_error(
        detail::request_append_node(msg, std::move(b), bsso_reparent, node_flags, ret_node_id));
    bn_request_per_node *n = bn_request_per_node_array_get_quick(msg->nodes, count);
    n->reparent_parent = parent.release();
    n->reparent_name = leaf.release();
    return 0;
}

int bn_action_request_msg_append_binding(bn_request *msg, const bn_binding *binding,
                                         uint32 *ret_node_id)
{
    return append_copy(msg, bbmt_action_request, binding, 0, 0, ret_node_id);
}

int bn_action_request_msg_append_new_binding(bn_request *msg, uint32 type_flags, const char *name,
                                             bn_type type, const char *value, uint32 *ret_node_id)
{
    return append_new(msg, bbmt_action_request, 0, 0, type_flags, name, type, value, ret_node_id);
}

int bn_event_request_msg_append_new_binding(bn_request *msg, uint32 type_flags, const char *name,
                                            bn_type type, const char *value, uint32 *ret_node_id)
{
    return append_new(msg, bbmt_event_request, 0, 0, type_flags, name, type, value, ret_node_id);
}

// ---------------------------------------------------------------------------
// Fields

int bn_request_set_service_id(bn_request *msg, uint16 service_id)
{
    bail_null(msg);
    bail_require(service_id >= bn_service_id_min && service_id <= bn_service_id_max);
    msg->service_id = service_id;
    return 0;
}

int bn_request_get_service_id(const bn_request *msg, uint16 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    *ret = msg->service_id;
    return 0;
}

int bn_request_set_transaction_id(bn_request *msg, uint32 transaction_id)
{
    bail_null(msg);
    msg->transaction_id = transaction_id;
    return 0;
}

int bn_request_get_transaction_id(const bn_request *msg, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    *ret = msg->transaction_id;
    return 0;
}

int bn_request_get_msg_type(const bn_request *msg, uint16 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(msg);
    *ret = msg->msg_type;
    return 0;
}

uint32 bn_request_get_msg_id(const bn_request *msg)
{
    return msg ? msg->msg_id : 0xFFFFFFFFu;
}

int bn_request_set_msg_id(bn_request *msg, uint32 msg_id)
{
    bail_null(msg);
    msg->msg_id = msg_id;
    return 0;
}

int bn_request_set_audit_user_info(bn_request *msg, const char *info)
{
    bail_null(msg);
    return detail::proto_set_str(&msg->audit_user_info, info);
}

// The typed field accessors, one shape each: check the type quietly, then
// read or write the field.
#define BN_REQUEST_FIELD(fn_set, fn_get, type, field, ctype)                                       \
    int fn_set(bn_request *msg, ctype v)                                                           \
    {                                                                                              \
        bail_error_quiet(require_type(msg, type));                                                 \
        msg->field = v;                                                                            \
        return 0;                                                                                  \
    }                                                                                              \
    int fn_get(const bn_request *msg, ctype *ret)                                                  \
    {                                                                                              \
        bail_null(ret);                                                                            \
        *ret = 0;                                                                                  \
        bail_error_quiet(require_type(msg, type));                                                 \
        *ret = msg->field;                                                                         \
        return 0;                                                                                  \
    }
BN_REQUEST_FIELD(bn_query_request_msg_set_flags, bn_query_request_msg_get_flags, bbmt_query_request,
                 flags, uint32)
BN_REQUEST_FIELD(bn_query_request_msg_set_option_cond_db_revision_id,
                 bn_query_request_msg_get_option_cond_db_revision_id, bbmt_query_request,
                 cond_db_revision_id, int32)
BN_REQUEST_FIELD(bn_set_request_msg_set_flags, bn_set_request_msg_get_flags, bbmt_set_request,
                 flags, uint32)
BN_REQUEST_FIELD(bn_set_request_msg_set_option_cond_db_revision_id,
                 bn_set_request_msg_get_option_cond_db_revision_id, bbmt_set_request,
                 cond_db_revision_id, int32)
#undef BN_REQUEST_FIELD

int bn_query_request_msg_get_db_name(const bn_request *msg, const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(require_type(msg, bbmt_query_request));
    *ret = msg->db_name;
    return 0;
}

int bn_action_request_msg_get_action_name(const bn_request *msg, const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(require_type(msg, bbmt_action_request));
    *ret = msg->action_name;
    return 0;
}

int bn_action_request_msg_set_action_name(bn_request *msg, const char *name)
{
    bail_error_quiet(require_type(msg, bbmt_action_request));
    return detail::proto_set_str(&msg->action_name, name);
}

int bn_event_request_msg_get_event_name(const bn_request *msg, const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(require_type(msg, bbmt_event_request));
    *ret = msg->event_name;
    return 0;
}

int bn_event_request_msg_set_event_name(bn_request *msg, const char *name)
{
    bail_error_quiet(require_type(msg, bbmt_event_request));
    return detail::proto_set_str(&msg->event_name, name);
}

// ---------------------------------------------------------------------------
// Reading

int bn_request_get(const bn_request *msg, uint16 *ret_msg_type, uint32 *ret_flags,
                   bn_binding_array **ret_bindings, uint32_array **ret_node_ids,
                   uint32_array **ret_subops, uint32_array **ret_node_flags)
{
    if (ret_msg_type) *ret_msg_type = 0;
    if (ret_flags) *ret_flags = 0;
    if (ret_bindings) *ret_bindings = nullptr;
    if (ret_node_ids) *ret_node_ids = nullptr;
    if (ret_subops) *ret_subops = nullptr;
    if (ret_node_flags) *ret_node_flags = nullptr;
    bail_null(msg);

    owned<bn_binding_array> bindings;
    owned<uint32_array> ids, subops, flags;
    if (ret_bindings) bail_error(bn_binding_array_new(bindings.out()));
    if (ret_node_ids) bail_error(uint32_array_new(ids.out()));
    if (ret_subops) bail_error(uint32_array_new(subops.out()));
    if (ret_node_flags) bail_error(uint32_array_new(flags.out()));
    const uint32 n = bn_request_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        if (bindings) bail_error(bn_binding_array_append(bindings.get(), node->binding));
        if (ids) bail_error(uint32_array_append(ids.get(), node->node_id));
        if (subops) bail_error(uint32_array_append(subops.get(), node->subop));
        if (flags) bail_error(uint32_array_append(flags.get(), node->node_flags));
    }
    if (ret_msg_type) *ret_msg_type = msg->msg_type;
    if (ret_flags && (msg->msg_type == bbmt_query_request || msg->msg_type == bbmt_set_request))
        *ret_flags = msg->flags;
    if (ret_bindings) *ret_bindings = bindings.release();
    if (ret_node_ids) *ret_node_ids = ids.release();
    if (ret_subops) *ret_subops = subops.release();
    if (ret_node_flags) *ret_node_flags = flags.release();
    return 0;
}

int bn_request_get_param(const bn_request *msg, const char *param_name, const bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    bail_null(param_name);
    if (msg->msg_type != bbmt_action_request && msg->msg_type != bbmt_event_request)
        return lc_err_assertion_failed;
    const uint32 n = bn_request_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(msg->nodes, i);
        if (node && node->binding && ts_equal_str(node->binding->name, param_name, false)) {
            *ret = node->binding;
            return 0;
        }
    }
    return 0;
}

namespace
{

// Removes the nodes whose binding name `drop` selects, keeping the order.
template <class Pred> int remove_nodes(bn_request *msg, Pred drop)
{
    bail_null(msg);
    uint32 i = 0;
    while (i < bn_request_per_node_array_length_quick(msg->nodes)) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(msg->nodes, i);
        if (node && node->binding && drop(node->binding->name)) {
            bail_error(bn_request_per_node_array_delete(msg->nodes, i));
        } else {
            ++i;
        }
    }
    return 0;
}

} // namespace

int bn_request_msg_remove_binding(bn_request *msg, const char *name)
{
    bail_null(name);
    return remove_nodes(msg, [&](const tstring *n) { return ts_equal_str(n, name, false); });
}

int bn_request_msg_remove_binding_prefix(bn_request *msg, const char *prefix)
{
    bail_null(prefix);
    return remove_nodes(msg, [&](const tstring *n) { return ts_has_prefix_str(n, prefix, false); });
}

int bn_request_msg_strip_binding_prefix(bn_request *msg, const char *prefix)
{
    bail_null(msg);
    bail_null(prefix);
    const size_t plen = strlen(prefix);
    const uint32 n = bn_request_per_node_array_length_quick(msg->nodes);
    for (uint32 i = 0; i < n; ++i) {
        bn_request_per_node *node = bn_request_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        const tstring *name = node->binding->name;
        if (ts_length(name) <= plen + 1 || !ts_has_prefix_str(name, prefix, false) ||
            ts_str(name)[plen] != '/')
            continue;
        // The new name is cut from the old one, which set_name replaces.
        const lc_malloc_ptr<char> rest{strdup(ts_str(name) + plen + 1)};
        bail_null(rest);
        bail_error(bn_binding_set_name(node->binding, rest.get()));
    }
    return 0;
}
