// Management client internals shared by its source files: the context
// record and the one request path every call goes through.
#pragma once

#include <cstdarg>

#include "mgmt/mdc_main.h"

// Sends a request without waiting (see mdc_send_event_with_bindings_oneway).
typedef int (*mdc_oneway_func)(void *oneway_data, bn_request *request);

struct md_client_context {
    mdc_msg_transport_func transport;
    void *transport_data;
    void *owner_data;
    void *owner_extra;
    gcl_session *session;
    // Null: one-way requests go straight onto `session`.
    mdc_oneway_func oneway;
    void *oneway_data;
};

namespace detail
{

// Routes the context's one-way sends through `func` (the transport's).
void mdc_set_oneway(md_client_context *mcc, mdc_oneway_func func, void *data);

// Sends `request` one way: through the context's one-way function, or
// straight onto its session.
[[nodiscard]] int mdc_send_oneway(md_client_context *mcc, bn_request *request);

// Clears the common out-parameters (either may be null).
void mdc_clear_return(uint32 *ret_code, tstring **ret_msg);

// Hands `request` to the transport and returns the response.  A transport
// failure is logged and returned; success without a response is
// lc_err_unexpected_null.
[[nodiscard]] int mdc_transact(md_client_context *mcc, bn_request *request,
                               bn_response **ret_response);

// The whole request path: transport, then the response's code, message and
// (when `ret_bindings` is given) its bindings taken over.  Outputs are
// cleared first and set only on success.
[[nodiscard]] int mdc_request(md_client_context *mcc, bn_request *request, uint32 bindings_flags,
                              bn_binding_array **ret_bindings, uint32 *ret_code, tstring **ret_msg);

// A query of one node with sub-operation `subop` and node flags
// `node_flags`, through mdc_request.
[[nodiscard]] int mdc_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                            uint32 bindings_flags, bn_binding_array **ret_bindings, uint32 subop,
                            uint32 node_flags, int32 cond_db_revision_id, const char *db_name,
                            const char *node_name);

// Appends `count` binding triples (name, type, value text) read from `ap`
// to an action or event request; a value that does not parse is logged and
// returned.
[[nodiscard]] int mdc_append_triples(bn_request *request, uint32 count, va_list *ap);

// The parts of `name` as a binding name (absolute or not).
[[nodiscard]] int mdc_name_parts(const char *name, tstr_array **ret_parts, bool *ret_is_absolute);

// True when `binding` lies exactly one level below the node whose parts are
// `parent_parts`.
bool mdc_is_immediate_child(const bn_binding *binding, const tstr_array *parent_parts);

} // namespace detail
