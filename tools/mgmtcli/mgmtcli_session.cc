// The command-line client's session to mgmtd (see mgmtcli_session.h).
#include "mgmtcli_session.h"

#include "standin_process.h"
#include "util/ttime.h"

namespace mgmtcli
{

namespace
{

int request_cb(gcl_session *, bn_request *msg, void *data)
{
    return static_cast<session *>(data)->on_request(msg);
}

} // namespace

session::~session()
{
    // Closing first drops what is still queued, with a line if anything is.
    (void)mdc_transport_shutdown(transport_.get());
}

int session::open(const std::string &client_name, bool wait, int32 timeout_ms, std::string *error)
{
    mdc_transport_params params;
    params.mtp_client_name = client_name.c_str();
    params.mtp_connect_retry = wait ? mdc_connect_retry : mdc_connect_once;
    params.mtp_timeout_ms = timeout_ms;
    params.mtp_query_request = request_cb;
    params.mtp_event_request = request_cb;
    params.mtp_action_request = request_cb;
    params.mtp_callback_data = this;
    bail_error(mdc_transport_new(&params, transport_.out()));

    const int err = mdc_transport_connect(transport_.get());
    if (err != 0) *error = standin_connect_failure(transport_.get(), client_name);
    return err;
}

int session::on_request(bn_request *request)
{
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(request, copy.out()));
    bail_null(lc_grow(&requests_, [&] { requests_.push_back(std::move(copy)); }));
    return 0;
}

int session::next_request(int32 timeout_ms, bn_request **ret)
{
    bail_null(ret);
    *ret = nullptr;
    const lt_time_ms deadline = timeout_ms < 0 ? -1 : lt_sys_monotonic_ms() + timeout_ms;
    while (requests_.empty()) {
        int32 left = mdc_timeout_none;
        if (deadline >= 0) {
            const lt_time_ms l = deadline - lt_sys_monotonic_ms();
            if (l <= 0) return 0;
            left = int32(l);
        }
        const int err = mdc_transport_pump(transport_.get(), left);
        if (err == lc_err_io_timeout) return 0;
        if (err != 0) return err;
    }
    *ret = requests_.front().release();
    requests_.pop_front();
    return 0;
}

} // namespace mgmtcli
