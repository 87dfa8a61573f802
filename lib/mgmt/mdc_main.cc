// Management client: the context, the request path every call goes
// through, whole-message sends, actions and events.
#include "mgmt/mdc_main.h"

#include <new>

#include "mgmt/gcl.h"
#include "mgmt/mdc_internal.h"

// ---------------------------------------------------------------------------
// Context

int mdc_init(mdc_msg_transport_func transport, void *transport_data, void *owner_data,
             void *owner_extra, gcl_session *session, md_client_context **ret_mcc)
{
    bail_null(ret_mcc);
    *ret_mcc = nullptr;
    bail_null(transport);

    md_client_context *mcc = new (std::nothrow) md_client_context{};
    bail_null(mcc);
    mcc->transport = transport;
    mcc->transport_data = transport_data;
    mcc->owner_data = owner_data;
    mcc->owner_extra = owner_extra;
    mcc->session = session;
    *ret_mcc = mcc;
    return 0;
}

int mdc_deinit(md_client_context **mcc)
{
    bail_null(mcc);
    delete *mcc;
    *mcc = nullptr;
    return 0;
}

gcl_session *mdc_get_session(const md_client_context *mcc)
{
    return mcc ? mcc->session : nullptr;
}

void *mdc_get_owner_data(const md_client_context *mcc)
{
    return mcc ? mcc->owner_data : nullptr;
}

void *mdc_get_owner_extra(const md_client_context *mcc)
{
    return mcc ? mcc->owner_extra : nullptr;
}

// ---------------------------------------------------------------------------
// The request path

namespace detail
{

void mdc_set_oneway(md_client_context *mcc, mdc_oneway_func func, void *data)
{
    if (!mcc) return;
    mcc->oneway = func;
    mcc->oneway_data = data;
}

int mdc_send_oneway(md_client_context *mcc, bn_request *request)
{
    bail_null(mcc);
    bail_null(request);
    if (mcc->oneway) return mcc->oneway(mcc->oneway_data, request);
    if (!mcc->session) return lc_err_generic_error;
    bail_error(bn_request_msg_send(mcc->session, request));
    // A session that is not connected drops the request with a line of its
    // own; the sender still learns that nothing went out.
    gcl_session_state state = gss_none;
    bail_error(gcl_session_get_state(mcc->session, &state));
    return state == gss_connected ? 0 : lc_err_io_closed;
}

void mdc_clear_return(uint32 *ret_code, tstring **ret_msg)
{
    if (ret_code) *ret_code = 0;
    if (ret_msg) *ret_msg = nullptr;
}

int mdc_transact(md_client_context *mcc, bn_request *request, bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(mcc);
    bail_null(request);

    // A transport that fails after all may still have left a response
    // behind; the owner frees it.
    owned<bn_response> response;
    bail_error(mcc->transport(mcc->transport_data, mcc->session, request, response.out()));
    bail_null(response.get());
    *ret_response = response.release();
    return 0;
}

int mdc_request(md_client_context *mcc, bn_request *request, uint32 bindings_flags,
                bn_binding_array **ret_bindings, uint32 *ret_code, tstring **ret_msg)
{
    mdc_clear_return(ret_code, ret_msg);
    if (ret_bindings) *ret_bindings = nullptr;

    owned<bn_response> response;
    bail_error(mdc_transact(mcc, request, response.out()));

    owned<bn_binding_array> bindings;
    if (ret_bindings)
        bail_error(
            bn_response_get_bindings_takeover(response.get(), bindings_flags != 0, bindings.out()));
    uint32 code = 0;
    const tstring *msg = nullptr;
    bail_error(bn_response_get_return(response.get(), &code, &msg));
    owned<tstring> msg_copy;
    if (ret_msg && msg) bail_error(ts_dup(msg, msg_copy.out()));

    if (ret_code) *ret_code = code;
    if (ret_msg) *ret_msg = msg_copy.release();
    if (ret_bindings) *ret_bindings = bindings.release();
    return 0;
}

int mdc_append_triples(bn_request *request, uint32 count, va_list *ap)
{
    bail_null(request);
    uint16 type = 0;
    bail_error(bn_request_get_msg_type(request, &type));
    for (uint32 i = 0; i < count; ++i) {
        const char *name = va_arg(*ap, const char *);
        const bn_type btype = va_arg(*ap, bn_type);
        const char *value = va_arg(*ap, const char *);
        bail_null(name);
        // The message layer does not log a value that does not parse; this
        // is the first place that sees it as a failure.
        if (type == bbmt_event_request)
            bail_error(
                bn_event_request_msg_append_new_binding(request, 0, name, btype, value, nullptr));
        else
            bail_error(
                bn_action_request_msg_append_new_binding(request, 0, name, btype, value, nullptr));
    }
    return 0;
}

} // namespace detail

// ---------------------------------------------------------------------------
// Whole messages

int mdc_send_mgmt_msg(md_client_context *mcc, bn_request *request, uint32 bindings_flags,
                      bn_binding_array **ret_bindings, uint32 *ret_code, tstring **ret_msg)
{
    return detail::mdc_request(mcc, request, bindings_flags, ret_bindings, ret_code, ret_msg);
}

int mdc_send_mgmt_msg_raw(md_client_context *mcc, bn_request *request, bn_response **ret_response)
{
    return detail::mdc_transact(mcc, request, ret_response);
}

// ---------------------------------------------------------------------------
// Actions and events

namespace
{

// Appends a copy of each binding of `bindings` (may be null), in order.
int append_copies(bn_request *request, const bn_binding_array *bindings)
{
    const uint32 n = bn_binding_array_length_quick(bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings, i);
        if (b) bail_error(bn_request_msg_append_binding(request, b, nullptr));
    }
    return 0;
}

// Builds an action or event request with the triples and sends it.
int send_with_triples(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg, bool event,
                      const char *name, bn_binding_array **ret_bindings, uint32 count, va_list *ap)
{
    detail::mdc_clear_return(ret_code, ret_msg);
    if (ret_bindings) *ret_bindings = nullptr;
    bail_null(mcc);
    bail_null(name);

    owned<bn_request> request;
    if (event)
        bail_error(bn_event_request_msg_create(request.out(), name));
    else
        bail_error(bn_action_request_msg_create(request.out(), name));
    if (count) bail_error_quiet(detail::mdc_append_triples(request.get(), count, ap));
    return detail::mdc_request(mcc, request.get(), mdbf_keep_name_parts, ret_bindings, ret_code,
                               ret_msg);
}

} // namespace

int mdc_send_action(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                    const char *action_name)
{
    return send_with_triples(mcc, ret_code, ret_msg, false, action_name, nullptr, 0, nullptr);
}

int mdc_send_action_with_bindings_str_va(md_client_context *mcc, uint32 *ret_code,
                                         tstring **ret_msg, const char *action_name, uint32 count,
                                         ...)
{
    va_list ap;
    va_start(ap, count);
    const int err =
        send_with_triples(mcc, ret_code, ret_msg, false, action_name, nullptr, count, &ap);
    va_end(ap);
    return err;
}

int mdc_send_action_with_bindings_and_results(md_client_context *mcc, uint32 *ret_code,
                                              tstring **ret_msg, const char *action_name,
                                              const bn_binding_array *bindings,
                                              bn_binding_array **ret_bindings)
{
    detail::mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_bindings);
    *ret_bindings = nullptr;
    bail_null(mcc);
    bail_null(action_name);

    owned<bn_request> request;
    bail_error(bn_action_request_msg_create(request.out(), action_name));
    bail_error(append_copies(request.get(), bindings));
    return detail::mdc_request(mcc, request.get(), mdbf_keep_name_parts, ret_bindings, ret_code,
                               ret_msg);
}

int mdc_send_action_with_bindings_and_results_va(md_client_context *mcc, uint32 *ret_code,
                                                 tstring **ret_msg, const char *action_name,
                                                 bn_binding_array **ret_bindings, uint32 count, ...)
{
    detail::mdc_clear_return(ret_code, ret_msg);
    bail_null(ret_bindings);
    *ret_bindings = nullptr;
    va_list ap;
    va_start(ap, count);
    const int err =
        send_with_triples(mcc, ret_code, ret_msg, false, action_name, ret_bindings, count, &ap);
    va_end(ap);
    return err;
}

int mdc_send_event(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                   const char *event_name)
{
    return send_with_triples(mcc, ret_code, ret_msg, true, event_name, nullptr, 0, nullptr);
}

int mdc_send_event_with_bindings_str_va(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                        const char *event_name, uint32 count, ...)
{
    va_list ap;
    va_start(ap, count);
    const int err =
        send_with_triples(mcc, ret_code, ret_msg, true, event_name, nullptr, count, &ap);
    va_end(ap);
    return err;
}

int mdc_send_event_with_bindings_oneway(md_client_context *mcc, const char *event_name,
                                        const bn_binding_array *bindings)
{
    bail_null(mcc);
    bail_null(event_name);
    owned<bn_request> request;
    bail_error(bn_event_request_msg_create(request.out(), event_name));
    bail_error(append_copies(request.get(), bindings));
    return detail::mdc_send_oneway(mcc, request.get());
}
