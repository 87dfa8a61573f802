// The simulated appliance's session to mgmtd (see appliance_session.h).
#include "appliance_session.h"

#include "standin_process.h"

namespace appliance
{

namespace
{

int request_cb(gcl_session *, bn_request *msg, void *data)
{
    return static_cast<session *>(data)->on_request(msg);
}

int send_cb(void *data, gcl_session *, bn_request *request, bn_response **ret)
{
    return static_cast<session *>(data)->send(request, ret);
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
    transport_.reset();
}

int session::open(const std::string &client_name, request_handler handler, std::string *error)
{
    handler_ = std::move(handler);
    mdc_transport_params params;
    params.mtp_client_name = client_name.c_str();
    params.mtp_loop = loop_;
    params.mtp_close_handler = close_cb;
    params.mtp_close_data = this;
    params.mtp_send_func = send_cb;
    params.mtp_send_data = this;
    params.mtp_query_request = request_cb;
    params.mtp_event_request = request_cb;
    params.mtp_action_request = request_cb;
    params.mtp_callback_data = this;
    bail_error(mdc_transport_new(&params, transport_.out()));
    const int err = mdc_transport_connect(transport_.get());
    if (err != 0) *error = standin_connect_failure(transport_.get(), client_name);
    return err;
}

int session::send(bn_request *request, bn_response **ret_response)
{
    if (lost_) {
        if (ret_response) *ret_response = nullptr;
        return lc_err_io_closed;
    }
    const int err = mdc_transport_request(transport_.get(), request, ret_response);
    // Requests that came during the outermost wait are served now.
    if (mdc_transport_waiting_requests(transport_.get()) == 0 && !queue_.empty())
        bail_error(schedule_drain());
    return err;
}

int session::on_request(bn_request *request)
{
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(request, copy.out()));
    queue_.push_back(std::move(copy));
    return mdc_transport_waiting_requests(transport_.get()) ? 0 : schedule_drain();
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
    // Inside a wait the queue waits for the wait to end (send reschedules).
    if (draining_ || mdc_transport_waiting_requests(transport_.get()) != 0) return 0;
    draining_ = true;
    while (!queue_.empty() && !lost_) {
        owned<bn_request> next = std::move(queue_.front());
        queue_.pop_front();
        const int err = handler_(*this, next.get());
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
    return bn_response_msg_send(mdc_transport_get_session(transport_.get()), response.get());
}

int session::answer_query_empty(const bn_request *request)
{
    owned<bn_response> empty;
    bail_error(bn_query_response_msg_create(empty.out(), request->msg_id, 0, nullptr));
    bail_error(bn_response_fix_for_request(empty.get(), request));
    return bn_response_msg_send(mdc_transport_get_session(transport_.get()), empty.get());
}

int session::on_close()
{
    if (lost_) return 0;
    lost_ = true;
    mdc_transport_end_waits(transport_.get());
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    lew_escape_from_dispatch(loop_);
    return 0;
}

} // namespace appliance
