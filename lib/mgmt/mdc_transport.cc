// The client transport to mgmtd (declared in mdc_transport.h).
#include "mgmt/mdc_transport.h"

#include <mutex>
#include <new>
#include <string>

#include "mgmt/mdc_internal.h"
#include "util/ttime.h"

namespace
{

// One synchronous request waiting for its response.  The records live on
// the stacks of the waiting calls and form a chain from the innermost wait
// outwards.
struct mdc_wait {
    uint32 expected_id = 0;
    bool pending = false;
    owned<bn_response> response;
    mdc_wait *outer = nullptr;
};

} // namespace

struct mdc_transport {
    std::string client_name;
    std::string provider_name;
    std::string log_tag;
    tbool connect_retry = mdc_connect_retry;
    lew_context *loop = nullptr;
    int32 timeout_ms = mdc_timeout_none;
    const int32 *exiting = nullptr;
    mdc_transport_stage stage = mts_unconnected;
    mdc_msg_transport_func send_func = nullptr;
    void *send_data = nullptr;

    owned<fdic_libevent_context> adapter;
    owned<fdic_context> fdic;
    owned<gcl_handle> gcl;
    gcl_session *session = nullptr; // freed with the session layer
    owned<md_client_context> mcc;

    // The wait chain; responses may be handled on another thread than the
    // one that waits.
    std::mutex lock;
    mdc_wait *innermost = nullptr;
};

namespace
{

mdc_wait *find_pending(mdc_transport *t, uint32 id)
{
    for (mdc_wait *w = t->innermost; w != nullptr; w = w->outer)
        if (w->pending && w->expected_id == id) return w;
    return nullptr;
}

mdc_wait *innermost_pending(mdc_transport *t)
{
    for (mdc_wait *w = t->innermost; w != nullptr; w = w->outer)
        if (w->pending) return w;
    return nullptr;
}

bool exit_begun(const mdc_transport *t)
{
    return t->exiting && __atomic_load_n(t->exiting, __ATOMIC_ACQUIRE) != 0;
}

int own_response_cb(gcl_session *, bn_response *response, void *data)
{
    return mdc_transport_handle_response(static_cast<mdc_transport *>(data), response);
}

int own_quiet_response_cb(gcl_session *, bn_response *response, void *data)
{
    return mdc_transport_handle_response_quiet(static_cast<mdc_transport *>(data), response);
}

int sync_transport(void *data, gcl_session *, bn_request *request, bn_response **ret_response)
{
    return mdc_transport_request(static_cast<mdc_transport *>(data), request, ret_response);
}

int oneway_transport(void *data, bn_request *request)
{
    return mdc_transport_send_oneway(static_cast<mdc_transport *>(data), request);
}

// Milliseconds left until `deadline` (-1: none), at least 0.
int32 left_ms(lt_time_ms deadline)
{
    if (deadline < 0) return mdc_timeout_none;
    const lt_time_ms left = deadline - lt_sys_monotonic_ms();
    return left <= 0 ? 0 : left > INT32_MAX ? INT32_MAX : int32(left);
}

int match_response(mdc_transport *t, const bn_response *response, bool quiet)
{
    bail_null(t);
    uint32 req_id = 0;
    bail_error(bn_response_get_msg_ids(response, &req_id, nullptr));
    const char *tag = t->log_tag.c_str();
    const char *sep = t->log_tag.empty() ? "" : " :";
    std::lock_guard guard(t->lock);
    const mdc_wait *innermost = innermost_pending(t);
    if (innermost == nullptr) {
        if (!quiet)
            lc_log_basic(LCL_WARNING,
                         "%s%sGot response to request %d when no response was expected; ignoring",
                         tag, sep, static_cast<int>(req_id));
        return 0;
    }
    mdc_wait *w = find_pending(t, req_id);
    if (w == nullptr) {
        if (!quiet)
            lc_log_basic(LCL_WARNING,
                         "%s%sGot response to request %d, but was expecting response to request "
                         "%d; ignoring",
                         tag, sep, static_cast<int>(req_id),
                         static_cast<int>(innermost->expected_id));
        return 0;
    }
    owned<bn_response> copy;
    bail_error(bn_response_msg_dup(response, copy.out()));
    w->response = std::move(copy);
    w->pending = false;
    w->expected_id = 0;
    return 0;
}

} // namespace

int mdc_transport_new(const mdc_transport_params *params, mdc_transport **ret_transport)
{
    bail_null(ret_transport);
    *ret_transport = nullptr;
    bail_null(params);
    bail_null(params->mtp_client_name);
    bail_null(params->mtp_provider_name);

    owned<mdc_transport> t{new (std::nothrow) mdc_transport};
    bail_null(t.get());
    bail_null(lc_grow(t.get(), [&] {
        t->client_name = params->mtp_client_name;
        t->provider_name = params->mtp_provider_name;
        if (params->mtp_log_tag) t->log_tag = params->mtp_log_tag;
    }));
    t->connect_retry = params->mtp_connect_retry;
    t->loop = params->mtp_loop;
    t->timeout_ms = params->mtp_timeout_ms;
    t->exiting = params->mtp_exiting;
    t->send_func = params->mtp_send_func ? params->mtp_send_func : sync_transport;
    t->send_data = params->mtp_send_func ? params->mtp_send_data : t.get();

    if (t->loop) {
        evc_base *base = nullptr;
        bail_error(lew_get_event_context(t->loop, &base));
        bail_null(base);
        bail_error(fdic_libevent_init(base, t->adapter.out()));
        bail_error(fdic_init(t->fdic.out(), fdic_libevent_callback, t->adapter.get()));
        if (params->mtp_close_handler)
            bail_error(fdic_libevent_set_fd_close_handler(
                t->adapter.get(), params->mtp_close_handler, params->mtp_close_data));
    }

    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(t->gcl.out(), &options, t->fdic.get()));
    bail_error(gcl_bn_init(t->gcl.get()));

    gcl_handle *gcl = t->gcl.get();
    void *own = t.get();
    void *owner = params->mtp_callback_data;
    // In the order the daemon has always installed them.
    if (params->mtp_query_response)
        bail_error(
            bn_set_global_callback_query_response_msg(gcl, params->mtp_query_response, owner));
    else
        bail_error(bn_set_global_callback_query_response_msg(gcl, own_response_cb, own));
    if (params->mtp_action_response)
        bail_error(
            bn_set_global_callback_action_response_msg(gcl, params->mtp_action_response, owner));
    else
        bail_error(bn_set_global_callback_action_response_msg(gcl, own_response_cb, own));
    if (params->mtp_event_response)
        bail_error(
            bn_set_global_callback_event_response_msg(gcl, params->mtp_event_response, owner));
    else
        bail_error(bn_set_global_callback_event_response_msg(gcl, own_quiet_response_cb, own));
    if (params->mtp_query_request)
        bail_error(bn_set_global_callback_query_request_msg(gcl, params->mtp_query_request, owner));
    if (params->mtp_event_request)
        bail_error(bn_set_global_callback_event_request_msg(gcl, params->mtp_event_request, owner));
    if (params->mtp_action_request)
        bail_error(
            bn_set_global_callback_action_request_msg(gcl, params->mtp_action_request, owner));
    bail_error(bn_set_global_callback_set_response_msg(gcl, own_response_cb, own));

    *ret_transport = t.release();
    return 0;
}

int mdc_transport_report_unable_to_connect(int err, bool unreachable_quiet, const char *func,
                                           const char *file, int line)
{
    // The exit began while a request waited: nothing failed to connect.
    if (err == lc_err_cancelled) return err;
    if (!(unreachable_quiet && (err == lc_err_io_error || err == lc_err_io_closed)))
        lc_bail_report_error(err, func, file, line);
    lc_log_basic(LCL_ERR, "Unable to connect to the management daemon");
    return err;
}

#define mdc_transport_fail(err, quiet)                                                             \
    mdc_transport_report_unable_to_connect((err), (quiet), __func__, __FILE__, __LINE__)

int mdc_transport_connect(mdc_transport *t)
{
    bail_null(t);
    bail_require(t->stage == mts_unconnected && t->session == nullptr);
    int err = gcl_session_client_new(t->gcl.get(), t->client_name.c_str(), nullptr, gcl_flags_none,
                                     &t->session);
    if (err != 0) return mdc_transport_fail(err, false);
    t->stage = mts_session;
    err = gcl_session_client_connect_by_provider(t->session, t->provider_name.c_str(),
                                                 t->connect_retry);
    if (err != 0) return mdc_transport_fail(err, true);
    t->stage = mts_connected;
    err = gcl_session_client_open_service_blocking(t->session, mdc_mgmt_service_id,
                                                   mdc_mgmt_service_arg, nullptr, gcl_flags_none,
                                                   t->timeout_ms);
    if (err != 0) return mdc_transport_fail(err, false);
    t->stage = mts_open;
    err = mdc_init(t->send_func, t->send_data, nullptr, nullptr, t->session, t->mcc.out());
    if (err != 0) return mdc_transport_fail(err, false);
    detail::mdc_set_oneway(t->mcc.get(), oneway_transport, t);
    t->stage = mts_ready;
    return 0;
}

int mdc_transport_shutdown(mdc_transport *t)
{
    // An exit that begins before the session layer exists has nothing to
    // close.
    if (t == nullptr || !t->gcl) return 0;
    bail_error(gcl_shutdown(t->gcl.get()));
    return 0;
}

int mdc_transport_free(mdc_transport **transport)
{
    if (transport == nullptr || *transport == nullptr) return 0;
    mdc_transport *raw = *transport;
    *transport = nullptr;
    // Each step runs whatever the one before did: this is the last chance
    // to release these.
    gcl_handle *gcl = raw->gcl.release();
    if (const int err = gcl_deinit(&gcl); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    raw->session = nullptr; // freed with the session layer
    fdic_libevent_context *adapter = raw->adapter.release();
    if (const int err = fdic_libevent_deinit(&adapter); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    fdic_context *fdic = raw->fdic.release();
    if (const int err = fdic_deinit(&fdic); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    md_client_context *mcc = raw->mcc.release();
    if (const int err = mdc_deinit(&mcc); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    delete raw;
    return 0;
}

gcl_session *mdc_transport_get_session(const mdc_transport *t)
{
    return t ? t->session : nullptr;
}

md_client_context *mdc_transport_get_client(const mdc_transport *t)
{
    return t ? t->mcc.get() : nullptr;
}

gcl_handle *mdc_transport_get_gcl(const mdc_transport *t)
{
    return t ? t->gcl.get() : nullptr;
}

mdc_transport_stage mdc_transport_get_stage(const mdc_transport *t)
{
    return t ? t->stage : mts_unconnected;
}

int mdc_transport_pump(mdc_transport *t, int32 timeout_ms)
{
    bail_null(t);
    if (t->loop) {
        tbool no_events = 0;
        tbool escaped = 0;
        bail_error_quiet(lew_dispatch_once(t->loop, &no_events, &escaped));
        return no_events || escaped ? lc_err_cancelled : 0;
    }
    if (t->session == nullptr) return lc_err_io_closed;
    return gcl_session_do_blocking_io(t->gcl.get(), t->session, timeout_ms);
}

int mdc_transport_request(mdc_transport *t, bn_request *request, bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(request);
    if (t == nullptr || t->session == nullptr) return lc_err_generic_error;

    bail_error(bn_request_msg_send(t->session, request));
    // A session that is not connected drops the request; nothing would ever
    // answer it.
    gcl_session_state state = gss_none;
    bail_error(gcl_session_get_state(t->session, &state));
    if (state != gss_connected) return lc_err_io_closed;

    mdc_wait wait;
    wait.expected_id = bn_request_get_msg_id(request);
    wait.pending = true;
    {
        std::lock_guard guard(t->lock);
        if (innermost_pending(t) != nullptr)
            lc_bail_report_require("mdc_transport_request", __FILE__, __LINE__);
        wait.outer = t->innermost;
        t->innermost = &wait;
    }
    const auto still_pending = [&] {
        std::lock_guard guard(t->lock);
        return wait.pending;
    };

    int err = 0;
    const lt_time_ms deadline =
        t->loop || t->timeout_ms < 0 ? -1 : lt_sys_monotonic_ms() + t->timeout_ms;
    while (still_pending()) {
        if (t->loop) {
            tbool no_events = 0;
            tbool escaped = 0;
            err = lew_dispatch_once(t->loop, &no_events, &escaped);
            if (err != 0 || no_events || escaped) break;
        } else {
            err = gcl_session_do_blocking_io(t->gcl.get(), t->session, left_ms(deadline));
            if (err != 0) break;
        }
    }

    std::lock_guard guard(t->lock);
    // Records below this one have returned; the chain goes back to the
    // record this one interrupted.
    t->innermost = wait.outer;
    // The exit began while this request waited (a signal during start-up,
    // say): the caller unwinds quietly instead of reporting a lost answer.
    if (err == 0 && wait.pending && exit_begun(t)) err = lc_err_cancelled;
    *ret_response = wait.response.release();
    return err;
}

int mdc_transport_send_oneway(mdc_transport *t, bn_request *request)
{
    bail_null(request);
    if (t == nullptr || t->session == nullptr) return lc_err_generic_error;
    bail_error(bn_request_msg_send(t->session, request));
    gcl_session_state state = gss_none;
    bail_error(gcl_session_get_state(t->session, &state));
    return state == gss_connected ? 0 : lc_err_io_closed;
}

int mdc_transport_handle_response(mdc_transport *t, const bn_response *response)
{
    return match_response(t, response, false);
}

int mdc_transport_handle_response_quiet(mdc_transport *t, const bn_response *response)
{
    return match_response(t, response, true);
}

void mdc_transport_end_waits(mdc_transport *t)
{
    if (t == nullptr) return;
    std::lock_guard guard(t->lock);
    for (mdc_wait *w = t->innermost; w != nullptr; w = w->outer) w->pending = false;
}

uint32 mdc_transport_waiting_requests(mdc_transport *t)
{
    if (t == nullptr) return 0;
    std::lock_guard guard(t->lock);
    uint32 n = 0;
    for (const mdc_wait *w = t->innermost; w != nullptr; w = w->outer)
        if (w->pending) ++n;
    return n;
}
