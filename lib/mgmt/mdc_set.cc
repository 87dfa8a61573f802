// Management client: set requests and numbered child lists.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_misc.h"

using detail::mdc_clear_return;

namespace
{

// A node named `name`, with the value attribute parsed from `value` when
// one is given.
int new_set_binding(const char *name, bn_type type, const char *value, bn_binding **ret)
{
    *ret = nullptr;
    owned<bn_binding> binding;
    if (value)
        bail_error(bn_binding_new_str(binding.out(), name, ba_value, type, 0, value));
    else
        bail_error(bn_binding_new_named(binding.out(), name));
    *ret = binding.release();
    return 0;
}

// A set node named `name` without attributes.
int append_bare(bn_request *request, uint32 subop, const char *name)
{
    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    return bn_set_request_msg_append_binding(request, subop, 0, binding.get(), nullptr);
}

int send_set(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, bn_request *request)
{
    return detail::mdc_request(mcc, request, mdbf_keep_name_parts, nullptr, ret_code, ret_msg);
}

} // namespace

int mdc_set_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, uint32 set_subop,
                    bn_type type, const char *value, const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(node_name);

    owned<bn_binding> binding;
    bail_error(new_set_binding(node_name, type, value, binding.out()));
    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    bail_error(
        bn_set_request_msg_append_binding(request.get(), set_subop, 0, binding.get(), nullptr));
    return send_set(mcc, ret_code, ret_msg, request.get());
}

int mdc_modify_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, bn_type type,
                       const char *value, const char *node_name)
{
    return mdc_set_binding(mcc, ret_code, ret_msg, bsso_modify, type, value, node_name);
}

int mdc_create_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, bn_type type,
                       const char *value, const char *node_name)
{
    return mdc_set_binding(mcc, ret_code, ret_msg, bsso_create, type, value, node_name);
}

int mdc_delete_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                       const char *node_name)
{
    return mdc_set_binding(mcc, ret_code, ret_msg, bsso_delete, bt_NONE, nullptr, node_name);
}

int mdc_reset_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                      const char *node_name)
{
    return mdc_set_binding(mcc, ret_code, ret_msg, bsso_reset, bt_NONE, nullptr, node_name);
}

int mdc_reparent_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                         const char *node_name, const char *new_parent, const char *new_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(node_name);

    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    bail_error(bn_set_request_msg_append_reparent(request.get(), 0, node_name, new_parent, new_name,
                                                  nullptr));
    return send_set(mcc, ret_code, ret_msg, request.get());
}

int mdc_delete_binding_children(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                const char *node_name)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(node_name);

    owned<tstr_array> names;
    uint32 code = 0;
    owned<tstring> msg;
    bail_error(mdc_get_binding_children_tstr_array(mcc, &code, msg.out(), names.out(), node_name));
    const uint32 n = tstr_array_length_quick(names.get());
    if (code != 0 || n == 0) {
        // A refused query is the caller's answer; nothing to delete.
        if (ret_code) *ret_code = code;
        if (ret_msg) *ret_msg = msg.release();
        return 0;
    }

    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    for (uint32 i = 0; i < n; ++i) {
        char *raw = nullptr;
        bail_error(
            bn_binding_name_append_part(node_name, tstr_array_get_str_quick(names.get(), i), &raw));
        const lc_malloc_ptr<char> child{raw};
        bail_error(append_bare(request.get(), bsso_delete, child.get()));
    }
    return send_set(mcc, ret_code, ret_msg, request.get());
}

// ---------------------------------------------------------------------------
// Numbered child lists

int mdc_array_get_indices(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                          const char *list_name, uint32_array **ret_indices)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_indices);
    *ret_indices = nullptr;

    owned<tstr_array> names;
    uint32 code = 0;
    owned<tstring> msg;
    bail_error(mdc_get_binding_children_tstr_array(mcc, &code, ret_msg ? msg.out() : nullptr,
                                                   names.out(), list_name));
    owned<uint32_array> indices;
    bail_error(uint32_array_new(indices.out()));
    const uint32 n = tstr_array_length_quick(names.get());
    for (uint32 i = 0; i < n; ++i) {
        const char *s = tstr_array_get_str_quick(names.get(), i);
        if (!s || !*s || strspn(s, "0123456789") != strlen(s)) continue;
        errno = 0;
        const unsigned long v = strtoul(s, nullptr, 10);
        if (errno || v == 0 || v > 0xFFFFFFFFul) continue;
        bail_error(uint32_array_append(indices.get(), static_cast<uint32>(v)));
    }
    bail_error(uint32_array_sort(indices.get()));
    if (ret_code) *ret_code = code;
    if (ret_msg) *ret_msg = msg.release();
    *ret_indices = indices.release();
    return 0;
}

namespace
{

// "<list>/<index>"
int item_name(const char *list_name, uint32 index, tstring **ret)
{
    return ts_new_sprintf(ret, "%s/%u", list_name, index);
}

// Appends the create nodes of an item at `index`: the item node, then each
// binding of `item` below it.
int append_item(bn_request *request, const char *list_name, uint32 index,
                const bn_binding_array *item)
{
    owned<tstring> name;
    bail_error(item_name(list_name, index, name.out()));
    bail_error(append_bare(request, bsso_create, ts_str(name.get())));
    const uint32 n = bn_binding_array_length_quick(item);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(item, i);
        if (!b) continue;
        owned<bn_binding> copy;
        bail_error(bn_binding_dup(b, copy.out()));
        owned<tstring> full;
        bail_error(ts_new_sprintf(full.out(), "%s/%s", ts_str(name.get()), ts_str(b->name)));
        bail_error(bn_binding_set_name(copy.get(), ts_str(full.get())));
        bail_error(bn_set_request_msg_append_binding(request, bsso_create, 0, copy.get(), nullptr));
    }
    return 0;
}

// Renumbers item `from` to `to` with a reparent node.
int append_move(bn_request *request, const char *list_name, uint32 from, uint32 to)
{
    owned<tstring> name;
    bail_error(item_name(list_name, from, name.out()));
    owned<tstring> new_name;
    bail_error(ts_new_sprintf(new_name.out(), "%u", to));
    return bn_set_request_msg_append_reparent(request, 0, ts_str(name.get()), list_name,
                                              ts_str(new_name.get()), nullptr);
}

// Index scratch slot used while an item is in flight; lists count from 1.
constexpr uint32 list_scratch_index = 0;

int indices_of(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, const char *list_name,
               uint32_array **ret)
{
    return mdc_array_get_indices(mcc, ret_code, ret_msg, list_name, ret);
}

} // namespace

int mdc_array_append(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                     const char *list_name, const bn_binding_array *item, uint32 *ret_index)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_index) *ret_index = 0;
    bail_null(mcc);
    bail_null(list_name);

    owned<uint32_array> indices;
    bail_error(indices_of(mcc, nullptr, nullptr, list_name, indices.out()));
    const uint32 n = uint32_array_length_quick(indices.get());
    const uint32 index = n ? uint32_array_get_quick(indices.get(), n - 1) + 1 : 1;
    bail_require(index != 0);

    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    bail_error(append_item(request.get(), list_name, index, item));
    bail_error(send_set(mcc, ret_code, ret_msg, request.get()));
    if (ret_index) *ret_index = index;
    return 0;
}

int mdc_array_insert(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                     const char *list_name, uint32 index, const bn_binding_array *item)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(list_name);
    bail_require(index != 0);

    owned<uint32_array> indices;
    bail_error(indices_of(mcc, nullptr, nullptr, list_name, indices.out()));
    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    // Highest first, so that no move lands on an item still in place.
    for (uint32 i = uint32_array_length_quick(indices.get()); i-- > 0;) {
        const uint32 at = uint32_array_get_quick(indices.get(), i);
        if (at < index) break;
        bail_error(append_move(request.get(), list_name, at, at + 1));
    }
    bail_error(append_item(request.get(), list_name, index, item));
    return send_set(mcc, ret_code, ret_msg, request.get());
}

int mdc_array_delete(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                     const char *list_name, uint32 index)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(list_name);

    owned<uint32_array> indices;
    bail_error(indices_of(mcc, nullptr, nullptr, list_name, indices.out()));
    owned<tstring> name;
    bail_error(item_name(list_name, index, name.out()));
    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    bail_error(append_bare(request.get(), bsso_delete, ts_str(name.get())));
    // Lowest first: each item moves into the slot just freed below it.
    const uint32 n = uint32_array_length_quick(indices.get());
    for (uint32 i = 0; i < n; ++i) {
        const uint32 at = uint32_array_get_quick(indices.get(), i);
        if (at > index) bail_error(append_move(request.get(), list_name, at, at - 1));
    }
    return send_set(mcc, ret_code, ret_msg, request.get());
}

int mdc_array_move(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                   const char *list_name, uint32 from, uint32 to)
{
    mdc_clear_return(ret_code, ret_msg);
    bail_null(mcc);
    bail_null(list_name);
    bail_require(from != 0 && to != 0);
    if (from == to) return 0;

    owned<uint32_array> indices;
    bail_error(indices_of(mcc, nullptr, nullptr, list_name, indices.out()));
    owned<bn_request> request;
    bail_error(bn_set_request_msg_create(request.out(), 0));
    // The moving item waits in the scratch slot while the others shift
    // towards the hole it left.
    bail_error(append_move(request.get(), list_name, from, list_scratch_index));
    const uint32 n = uint32_array_length_quick(indices.get());
    if (from < to) {
        for (uint32 i = 0; i < n; ++i) {
            const uint32 at = uint32_array_get_quick(indices.get(), i);
            if (at > from && at <= to)
                bail_error(append_move(request.get(), list_name, at, at - 1));
        }
    } else {
        for (uint32 i = n; i-- > 0;) {
            const uint32 at = uint32_array_get_quick(indices.get(), i);
            if (at >= to && at < from)
                bail_error(append_move(request.get(), list_name, at, at + 1));
        }
    }
    bail_error(append_move(request.get(), list_name, list_scratch_index, to));
    return send_set(mcc, ret_code, ret_msg, request.get());
}
