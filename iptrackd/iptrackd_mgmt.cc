// The daemon's management session to mgmtd and the dispatch of what
// arrives on it (declared in iptrackd_mgmt.h).
#include "iptrackd_mgmt.h"

#include <cstring>
#include <memory>

#include "appliance/qz_logging_utils.h"
#include "iptrackd_main.h"
#include "iptrackd_monitor.h"
#include "mgmt/mdc_misc.h"

gcl_session *iptrackd_mgmt_session = nullptr;
md_client_context *iptrackd_mcc = nullptr;

namespace
{

// Session layer and its binding to the daemon loop.
fdic_libevent_context *s_fdic_adapter = nullptr;
fdic_context *s_fdic = nullptr;
gcl_handle *s_gcl = nullptr;

constexpr const char *mgmt_client_name = "iptrackd";
constexpr const char *mgmt_provider_name = "mgmtd";

// One synchronous request waiting for its response.  The records live on
// the stack of iptrackd_mgmt_msg_handler and form a chain from the
// innermost wait outwards (nested waits happen when a handler run inside
// the waiting passes sends a request of its own).
struct mgmt_wait {
    uint32 expected_id = 0;
    bool pending = false;
    owned<bn_response> response;
    mgmt_wait *outer = nullptr;
};
mgmt_wait *s_innermost_wait = nullptr;

mgmt_wait *mgmt_find_pending(uint32 id)
{
    for (mgmt_wait *w = s_innermost_wait; w != nullptr; w = w->outer)
        if (w->pending && w->expected_id == id) return w;
    return nullptr;
}

mgmt_wait *mgmt_innermost_pending()
{
    for (mgmt_wait *w = s_innermost_wait; w != nullptr; w = w->outer)
        if (w->pending) return w;
    return nullptr;
}

// The interests of the daemon: configuration changes below these patterns,
// in this order.
constexpr const char *mgmt_dbchange_patterns[] = {
    "/qz/iptrackd/**",
    "/logging/syslog/facility/**",
    "/qz/iflabels/**",
    "/net/interface/config/*/label",
    "/qz/tunneld/system/config/router/*/ip/*/label",
    "/qz/tunneld/system/config/router/*/dhcp/*/label",
    "/net/if2/config/virtual/loopback/*/label",
    "/net/if2/config/virtual/vti/*/label",
    "/tun/config/*",
    "/qz/rtlabels/config/*/is_down_condition_any",
};
static_assert(std::size(mgmt_dbchange_patterns) == 10);

int mgmt_register_config_interest()
{
    const char *const *p = mgmt_dbchange_patterns;
    bail_error(mdc_send_action_with_bindings_str_va(
        iptrackd_mcc, nullptr, nullptr, QZ_INTEREST_ADD_ACTION, 11, "event_name", bt_name,
        QZ_DBCHANGE_EVENT, "match/1/pattern", bt_string, p[0], "match/2/pattern", bt_string, p[1],
        "match/3/pattern", bt_string, p[2], "match/4/pattern", bt_string, p[3], "match/5/pattern",
        bt_string, p[4], "match/6/pattern", bt_string, p[5], "match/7/pattern", bt_string, p[6],
        "match/8/pattern", bt_string, p[7], "match/9/pattern", bt_string, p[8], "match/10/pattern",
        bt_string, p[9]));
    return 0;
}

int mgmt_register_if_change_interest()
{
    bail_error(mdc_send_action_with_bindings_str_va(iptrackd_mcc, nullptr, nullptr,
                                                    QZ_INTEREST_ADD_ACTION, 1, "event_name",
                                                    bt_name, IPTRACKD_IF_CHANGE_EVENT));
    return 0;
}

// One changed or configured binding through the configuration intake.
// Until the intake is in place every binding is reported as unsupported.
int mgmt_config_handle_change(const bn_binding_array *, uint32, bn_binding *binding, void *)
{
    const tstring *name = bn_binding_get_name_quick(binding);
    lc_log_basic(LCL_NOTICE, "IP Track update: Unsupported binding %s",
                 name ? ts_str(name) : "(null)");
    return 0;
}

// The interface-change event; the intake that reacts to it comes with the
// configuration module.  The event itself was logged on arrival.
int mgmt_config_if_change(const bn_binding_array *)
{
    return 0;
}

// Logs a failed session step the way the management daemon being out of
// reach is reported: the error code first (unless it only means mgmtd is
// not there), then the one line operators look for.
int mgmt_unable_to_connect(int err, bool unreachable_codes_quiet, const char *func, int line)
{
    // The quiet code means the exit began while a request waited: nothing
    // failed to connect.
    if (err == lc_err_cancelled) return err;
    if (!(unreachable_codes_quiet && (err == lc_err_io_error || err == lc_err_io_closed)))
        lc_bail_report_error(err, func, __FILE__, line);
    lc_log_basic(LCL_ERR, "Unable to connect to the management daemon");
    return err;
}
#define mgmt_fail_connect(err, quiet) mgmt_unable_to_connect((err), (quiet), __func__, __LINE__)

} // namespace

int iptrackd_mgmt_init()
{
    evc_base *base = nullptr;
    bail_error(lew_get_event_context(iptrackd_lwc, &base));
    bail_error(fdic_libevent_init(base, &s_fdic_adapter));
    bail_error(fdic_init(&s_fdic, fdic_libevent_callback, s_fdic_adapter));
    bail_error(fdic_libevent_set_fd_close_handler(s_fdic_adapter,
                                                  iptrackd_mgmt_handle_session_close, nullptr));

    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(&s_gcl, &options, s_fdic));
    bail_error(gcl_bn_init(s_gcl));

    bail_error(
        bn_set_global_callback_query_response_msg(s_gcl, iptrackd_mgmt_handle_response, nullptr));
    bail_error(
        bn_set_global_callback_action_response_msg(s_gcl, iptrackd_mgmt_handle_response, nullptr));
    bail_error(bn_set_global_callback_event_response_msg(s_gcl, iptrackd_mgmt_handle_event_response,
                                                         nullptr));
    bail_error(bn_set_global_callback_query_request_msg(s_gcl, iptrackd_mgmt_handle_query_request,
                                                        nullptr));
    bail_error(bn_set_global_callback_event_request_msg(s_gcl, iptrackd_mgmt_handle_event_request,
                                                        nullptr));
    bail_error(bn_set_global_callback_action_request_msg(s_gcl, iptrackd_mgmt_handle_action_request,
                                                         nullptr));

    bail_error_quiet(iptrackd_mgmt_open_session());
    return 0;
}

int iptrackd_mgmt_open_session()
{
    int err = gcl_session_client_new(s_gcl, mgmt_client_name, nullptr, 0, &iptrackd_mgmt_session);
    if (err != 0) return mgmt_fail_connect(err, false);
    err = gcl_session_client_connect_by_provider(iptrackd_mgmt_session, mgmt_provider_name, 1);
    if (err != 0) return mgmt_fail_connect(err, true);
    err = gcl_session_client_open_service_blocking(iptrackd_mgmt_session, gcl_service_mgmt, 2,
                                                   nullptr, 0, -1);
    if (err != 0) return mgmt_fail_connect(err, false);
    err = mdc_init(iptrackd_mgmt_msg_handler, nullptr, nullptr, nullptr, iptrackd_mgmt_session,
                   &iptrackd_mcc);
    if (err != 0) return mgmt_fail_connect(err, false);
    err = mgmt_register_config_interest();
    if (err != 0) return mgmt_fail_connect(err, false);
    err = mgmt_register_if_change_interest();
    if (err != 0) return mgmt_fail_connect(err, false);
    err = qz_register_time_zone_change(iptrackd_mcc);
    if (err != 0) return mgmt_fail_connect(err, false);
    return 0;
}

int iptrackd_mgmt_shutdown()
{
    // An exit that begins before the session was set up has nothing to close.
    if (s_gcl == nullptr) return 0;
    bail_error(gcl_shutdown(s_gcl));
    return 0;
}

int iptrackd_mgmt_deinit()
{
    // Each step runs whatever the one before did: this is the last chance
    // to release these.
    if (const int err = gcl_deinit(&s_gcl); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    iptrackd_mgmt_session = nullptr; // freed with the session layer
    if (const int err = fdic_libevent_deinit(&s_fdic_adapter); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (const int err = fdic_deinit(&s_fdic); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (const int err = mdc_deinit(&iptrackd_mcc); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    return 0;
}

int iptrackd_mgmt_msg_handler(void *, gcl_session *, bn_request *request,
                              bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(request);
    if (iptrackd_mgmt_session == nullptr) return lc_err_generic_error;

    bail_error(bn_request_msg_send(iptrackd_mgmt_session, request));
    // A session that is not connected drops the request; nothing would ever
    // answer it.
    gcl_session_state state = gss_none;
    bail_error(gcl_session_get_state(iptrackd_mgmt_session, &state));
    if (state != gss_connected) return lc_err_io_closed;

    if (mgmt_innermost_pending() != nullptr) lc_bail_report_require(__func__, __FILE__, __LINE__);

    // The record lives on the heap only because the chain keeps its address
    // beyond what the compiler can see is this frame.
    auto wait = std::make_unique<mgmt_wait>();
    wait->expected_id = bn_request_get_msg_id(request);
    wait->pending = true;
    wait->outer = s_innermost_wait;
    s_innermost_wait = wait.get();
    lc_scope_guard pop([&wait] { s_innermost_wait = wait->outer; });

    int err = 0;
    while (wait->pending) {
        tbool no_events = 0;
        tbool escaped = 0;
        err = lew_dispatch_once(iptrackd_lwc, &no_events, &escaped);
        if (err != 0 || no_events || escaped) break;
    }
    // The exit began while this request waited (a signal during start-up,
    // say): the caller unwinds quietly instead of reporting a lost answer.
    if (err == 0 && wait->pending && iptrackd_exiting) err = lc_err_cancelled;
    *ret_response = wait->response.release();
    return err;
}

int iptrackd_mgmt_handle_response(gcl_session *, bn_response *response, void *)
{
    uint32 req_id = 0;
    bail_error(bn_response_get_msg_ids(response, &req_id, nullptr));
    const mgmt_wait *innermost = mgmt_innermost_pending();
    if (innermost == nullptr) {
        lc_log_basic(LCL_WARNING,
                     "Got response to request %d when no response was expected; ignoring",
                     static_cast<int>(req_id));
        return 0;
    }
    mgmt_wait *w = mgmt_find_pending(req_id);
    if (w == nullptr) {
        lc_log_basic(
            LCL_WARNING,
            "Got response to request %d, but was expecting response to request %d; ignoring",
            static_cast<int>(req_id), static_cast<int>(innermost->expected_id));
        return 0;
    }
    bn_response *copy = nullptr;
    bail_error(bn_response_msg_dup(response, &copy));
    w->response.reset(copy);
    w->pending = false;
    w->expected_id = 0;
    return 0;
}

int iptrackd_mgmt_handle_event_response(gcl_session *, bn_response *, void *)
{
    return 0;
}

int iptrackd_mgmt_handle_query_request(gcl_session *session, bn_request *request, void *)
{
    lc_log_basic(LCL_INFO, "%s", __func__);
    if (m_daemon_status != iptrackd_status_ready) {
        lc_log_basic(LCL_NOTICE, "%s: initialization not finished; discarding query request",
                     __func__);
        return 0;
    }
    bail_error(mdc_dispatch_mon_request(session, request, iptrackd_mon_handle_get, nullptr,
                                        iptrackd_mon_handle_iterate, nullptr));
    return 0;
}

int iptrackd_mgmt_handle_event_request(gcl_session *, bn_request *request, void *)
{
    uint16 type = 0;
    bn_binding_array *raw = nullptr;
    bail_error(bn_request_get(request, &type, nullptr, &raw, nullptr, nullptr, nullptr));
    owned<bn_binding_array> bindings{raw};
    bail_require(type == bbmt_event_request);

    const tstring *name_ts = nullptr;
    bail_error(bn_event_request_msg_get_event_name(request, &name_ts));
    bail_null(name_ts);
    const char *name = ts_str(name_ts);
    lc_log_basic(LCL_NOTICE, "%s: Received event: %s", __func__, name);

    if (strcmp(name, QZ_DBCHANGE_EVENT) == 0) {
        bn_binding_array *old_raw = nullptr;
        bn_binding_array *new_raw = nullptr;
        bail_error(mdc_event_config_change_notif_extract(bindings.get(), &old_raw, &new_raw));
        owned<bn_binding_array> old_bindings{old_raw};
        owned<bn_binding_array> new_bindings{new_raw};
        bail_error(qz_handle_log_level_change_detach(new_bindings.get()));
        bail_error(
            bn_binding_array_foreach(new_bindings.get(), mgmt_config_handle_change, nullptr));
        lc_log_basic(LCL_NOTICE, "IPTRACK Modify config complete");
        return 0;
    }
    if (qz_handle_time_zone_change(name) == 0) return 0;
    if (strcmp(name, IPTRACKD_IF_CHANGE_EVENT) == 0) {
        bail_error(mgmt_config_if_change(bindings.get()));
        return 0;
    }
    lc_log_basic(LCL_WARNING, "%s: Received unexpected event %s", __func__, name);
    return 0;
}

int iptrackd_mgmt_handle_action_request(gcl_session *session, bn_request *request, void *)
{
    uint16 type = 0;
    bail_error(bn_request_get(request, &type, nullptr, nullptr, nullptr, nullptr, nullptr));
    bail_require(type == bbmt_action_request);

    const tstring *name = nullptr;
    bail_error(bn_action_request_msg_get_action_name(request, &name));
    lc_log_basic(LCL_NOTICE, "Received action %s", name ? ts_str(name) : "");
    if (m_daemon_status != iptrackd_status_ready) {
        lc_log_basic(LCL_WARNING, "Discard action req - Iptrackd daemon is not ready");
        bail_error(lc_err_generic_error);
    }

    bn_response *raw = nullptr;
    bail_error(bn_action_response_msg_create(&raw, bn_request_get_msg_id(request), 0, nullptr));
    owned<bn_response> response{raw};
    bail_error(bn_response_fix_for_request(response.get(), request));
    bail_error(bn_response_msg_send(session, response.get()));
    return 0;
}

int iptrackd_mgmt_handle_session_close(int, fdic_reason, void *, void *)
{
    if (iptrackd_exiting) return 0;
    // Every wait ends now, without a response.
    for (mgmt_wait *w = s_innermost_wait; w != nullptr; w = w->outer) w->pending = false;
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    bail_error(iptrackd_initiate_exit());
    return 0;
}

int iptrackd_mgmt_config_read()
{
    bn_binding_array *raw = nullptr;
    bail_error(mdc_get_binding_children(iptrackd_mcc, nullptr, nullptr, mdbf_keep_name_parts, &raw,
                                        0, 1, IPTRACKD_CONFIG_ROOT));
    owned<bn_binding_array> bindings{raw};
    if (bn_binding_array_length_quick(bindings.get()) > 0)
        bail_error(bn_binding_array_foreach(bindings.get(), mgmt_config_handle_change, nullptr));
    bail_error(qz_init_log_level(iptrackd_mcc));
    return 0;
}

uint32 iptrackd_mgmt_waiting_requests_for_tests()
{
    uint32 n = 0;
    for (const mgmt_wait *w = s_innermost_wait; w != nullptr; w = w->outer)
        if (w->pending) ++n;
    return n;
}
