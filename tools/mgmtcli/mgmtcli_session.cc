// The command-line client's session to mgmtd (see mgmtcli_session.h).
#include "mgmtcli_session.h"

#include <chrono>

namespace mgmtcli
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

using steady = std::chrono::steady_clock;

// Milliseconds left until `deadline` (-1: none), at least 0.
int32 left_ms(bool limited, steady::time_point deadline)
{
    if (!limited) return -1;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
    return ms < 0 ? 0 : static_cast<int32>(ms);
}

} // namespace

session::~session()
{
    mdc_deinit(&mcc_);
    bn_response_msg_free(&answer_);
    for (auto *r : requests_) bn_request_msg_free(&r);
    if (session_) {
        gcl_session_close(session_);
        gcl_session_free(&session_);
    }
    gcl_deinit(&gcl_);
}

int session::open(const std::string &client_name, bool wait, int32 timeout_ms, std::string *error)
{
    timeout_ms_ = timeout_ms;
    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(&gcl_, &options, nullptr));
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
    err = gcl_session_client_connect_by_provider(session_, "mgmtd", wait ? 1 : 0);
    if (err != 0) {
        *error = "cannot connect to mgmtd (is the stand-in running?)";
        return err;
    }
    err = gcl_session_client_open_service_blocking(session_, gcl_service_mgmt, gcl_service_mgmt,
                                                   nullptr, 0, timeout_ms);
    if (err != 0) {
        *error = "mgmtd did not open the management service";
        return err;
    }
    bail_error(mdc_init(transport_cb, this, nullptr, nullptr, session_, &mcc_));
    return 0;
}

int session::on_response(bn_response *response)
{
    if (!waiting_ || response->req_msg_id != waiting_id_) return 0; // not ours (an event ack)
    waiting_ = false;
    bn_response_msg_free(&answer_);
    return bn_response_msg_dup(response, &answer_);
}

int session::on_request(bn_request *request)
{
    bn_request *copy = nullptr;
    bail_error(bn_request_msg_dup(request, &copy));
    requests_.push_back(copy);
    return 0;
}

int session::transport(bn_request *request, bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_error(bn_request_msg_send(session_, request));
    waiting_ = true;
    waiting_id_ = bn_request_get_msg_id(request);
    const bool limited = timeout_ms_ >= 0;
    const auto deadline = steady::now() + std::chrono::milliseconds(limited ? timeout_ms_ : 0);
    while (waiting_) {
        const int err = gcl_session_do_blocking_io(gcl_, session_, left_ms(limited, deadline));
        if (err != 0) {
            waiting_ = false;
            return err;
        }
    }
    *ret_response = answer_;
    answer_ = nullptr;
    return *ret_response ? 0 : lc_err_unexpected_null;
}

int session::next_request(int32 timeout_ms, bn_request **ret)
{
    bail_null(ret);
    *ret = nullptr;
    const bool limited = timeout_ms >= 0;
    const auto deadline = steady::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    while (requests_.empty()) {
        const int32 left = left_ms(limited, deadline);
        if (limited && left == 0) return 0;
        const int err = gcl_session_do_blocking_io(gcl_, session_, left);
        if (err == lc_err_io_timeout) return 0;
        if (err != 0) return err;
    }
    *ret = requests_.front();
    requests_.pop_front();
    return 0;
}

} // namespace mgmtcli
