// The simulated appliance's session to mgmtd (see appliance_session.h).
#include "appliance_session.h"

#include <memory>

namespace appliance
{

namespace
{

int response_cb(gcl_session *, bn_response *msg, void *data)
{
    return static_cast<session *>(data)->on_response(msg);
}

int request_cb(gcl_session *, bn_request *msg, void *data)
{
    return static_cast<session *>(data)->on_request(msg);
}

int transport_cb(void *data, gcl_session *, bn_request *request, bn_response **ret)
{
    return static_cast<session *>(data)->transport(request, ret);
}

int close_cb(int, fdic_reason, void *, void *data)
{
    return static_cast<session *>(data)->on_close();
}

int drain_cb(int, lew_event_type, void *data, lew_context *)
{
    return static_cast<session *>(data)->drain();
}

} // namespace

session::~session()
{
    // Closing is ours from here on: not a loss to report.
    lost_ = true;
    if (drain_event_) (void)lew_event_delete(loop_, &drain_event_);
    mdc_deinit(&mcc_);
    if (gcl_) {
        gcl_shutdown(gcl_);
        gcl_deinit(&gcl_);
    }
    fdic_deinit(&fdic_);
    fdic_libevent_deinit(&adapter_);
}

int session::open(const std::string &client_name, request_handler handler, std::string *error)
{
    handler_ = std::move(handler);
    evc_base *base = nullptr;
    bail_error(lew_get_event_context(loop_, &base));
    bail_error(fdic_libevent_init(base, &adapter_));
    bail_error(fdic_init(&fdic_, fdic_libevent_callback, adapter_));
    bail_error(fdic_libevent_set_fd_close_handler(adapter_, close_cb, this));
    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(&gcl_, &options, fdic_));
    bail_error(gcl_bn_init(gcl_));
    bail_error(bn_set_global_callback_query_response_msg(gcl_, response_cb, this));
    bail_error(bn_set_global_callback_set_response_msg(gcl_, response_cb, this));
    bail_error(bn_set_global_callback_action_response_msg(gcl_, response_cb, this));
    bail_error(bn_set_global_callback_event_response_msg(gcl_, response_cb, this));
    bail_error(bn_set_global_callback_query_request_msg(gcl_, request_cb, this));
    bail_error(bn_set_global_callback_event_request_msg(gcl_, request_cb, this));
    bail_error(bn_set_global_callback_action_request_msg(gcl_, request_cb, this));

    int err = gcl_session_client_new(gcl_, client_name.c_str(), nullptr, 0, &session_);
    if (err != 0) {
        *error = "invalid client name \"" + client_name + "\"";
        return err;
    }
    err = gcl_session_client_connect_by_provider(session_, "mgmtd", 1);
    if (err != 0) {
        *error = "cannot connect to mgmtd (is the stand-in running?)";
        return err;
    }
    err = gcl_session_client_open_service_blocking(session_, gcl_service_mgmt, gcl_service_mgmt,
                                                   nullptr, 0, -1);
    if (err != 0) {
        *error = "mgmtd did not open the management service";
        return err;
    }
    bail_error(mdc_init(transport_cb, this, nullptr, nullptr, session_, &mcc_));
    return 0;
}

int session::transport(bn_request *request, bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(request);
    if (lost_) return lc_err_io_closed;
    bail_error(bn_request_msg_send(session_, request));
    // Waits nest when a timer that runs inside a wait sends a request too;
    // each finds its own answer by id.
    auto w = std::make_unique<wait>();
    w->expected_id = bn_request_get_msg_id(request);
    w->outer = innermost_;
    innermost_ = w.get();
    int err = 0;
    while (w->pending && !lost_) {
        tbool no_events = 0;
        tbool escaped = 0;
        err = lew_dispatch_once(loop_, &no_events, &escaped);
        if (err != 0 || no_events || escaped) break;
    }
    innermost_ = w->outer;
    if (err == 0 && w->pending) err = lc_err_io_closed;
    if (!innermost_ && !queue_.empty()) bail_error(schedule_drain());
    *ret_response = w->response.release();
    return err;
}

int session::on_response(bn_response *response)
{
    uint32 req_id = 0;
    bail_error(bn_response_get_msg_ids(response, &req_id, nullptr));
    for (wait *w = innermost_; w; w = w->outer) {
        if (!w->pending || w->expected_id != req_id) continue;
        bn_response *copy = nullptr;
        bail_error(bn_response_msg_dup(response, &copy));
        w->response.reset(copy);
        w->pending = false;
        return 0;
    }
    return 0; // the acknowledgement of an event nobody waits for
}

int session::on_request(bn_request *request)
{
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(request, copy.out()));
    queue_.push_back(std::move(copy));
    return innermost_ ? 0 : schedule_drain();
}

int session::schedule_drain()
{
    if (drain_pending_ || draining_) return 0;
    drain_pending_ = true;
    return lew_event_reg_timer(loop_, &drain_event_, drain_cb, this, 0);
}

int session::drain()
{
    drain_pending_ = false;
    // Inside a wait the queue waits for the wait to end (it reschedules).
    if (innermost_ || draining_) return 0;
    draining_ = true;
    int err = 0;
    while (!queue_.empty() && !lost_) {
        owned<bn_request> next = std::move(queue_.front());
        queue_.pop_front();
        err = handler_(*this, next.get());
        if (err != 0) lc_log_basic(LCL_WARNING, "Handling a request from mgmtd failed: %d", err);
    }
    draining_ = false;
    return 0;
}

int session::answer_action(const bn_request *request, uint32 code, const char *msg,
                           const bn_binding_array *results)
{
    owned<bn_response> response;
    bail_error(bn_action_response_msg_create(response.out(), request->msg_id, code, msg));
    const uint32 n = results ? bn_binding_array_length_quick(results) : 0;
    for (uint32 i = 0; i < n; ++i)
        bail_error(bn_action_response_msg_append_binding(
            response.get(), bn_binding_array_get_quick(results, i), nullptr));
    bail_error(bn_response_fix_for_request(response.get(), request));
    return bn_response_msg_send(session_, response.get());
}

int session::on_close()
{
    if (lost_) return 0;
    lost_ = true;
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    lew_escape_from_dispatch(loop_);
    return 0;
}

} // namespace appliance
