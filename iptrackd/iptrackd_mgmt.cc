// The daemon's management session to mgmtd and the dispatch of what
// arrives on it (declared in iptrackd_mgmt.h).
#include "iptrackd_mgmt.h"

#include <cstring>

#include "appliance/qz_logging_utils.h"
#include "iptrackd_config.h"
#include "iptrackd_main.h"
#include "iptrackd_monitor.h"
#include "mgmt/mdc_misc.h"
#include "mgmt/mdc_transport.h"

gcl_session *iptrackd_mgmt_session = nullptr;
md_client_context *iptrackd_mcc = nullptr;

namespace
{

// The session, its session layer and their binding to the daemon loop.
mdc_transport *s_transport = nullptr;

constexpr const char *mgmt_client_name = "iptrackd";

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

#define mgmt_fail_connect(err)                                                                     \
    mdc_transport_report_unable_to_connect((err), false, __func__, __FILE__, __LINE__)

} // namespace

int iptrackd_mgmt_init()
{
    mdc_transport_params params;
    params.mtp_client_name = mgmt_client_name;
    params.mtp_loop = iptrackd_lwc;
    params.mtp_exiting = &iptrackd_exiting;
    params.mtp_close_handler = iptrackd_mgmt_handle_session_close;
    params.mtp_send_func = iptrackd_mgmt_msg_handler;
    params.mtp_query_response = iptrackd_mgmt_handle_response;
    params.mtp_action_response = iptrackd_mgmt_handle_response;
    params.mtp_event_response = iptrackd_mgmt_handle_event_response;
    params.mtp_query_request = iptrackd_mgmt_handle_query_request;
    params.mtp_event_request = iptrackd_mgmt_handle_event_request;
    params.mtp_action_request = iptrackd_mgmt_handle_action_request;
    bail_error(mdc_transport_new(&params, &s_transport));

    bail_error_quiet(iptrackd_mgmt_open_session());
    return 0;
}

int iptrackd_mgmt_open_session()
{
    bail_null(s_transport);
    // The session is visible at once, so that a close during the
    // bring-up is seen for what it is.
    const int err = mdc_transport_connect(s_transport);
    iptrackd_mgmt_session = mdc_transport_get_session(s_transport);
    if (err != 0) return err; // reported by the transport
    iptrackd_mcc = mdc_transport_get_client(s_transport);
    if (const int e = mgmt_register_config_interest(); e != 0) return mgmt_fail_connect(e);
    if (const int e = mgmt_register_if_change_interest(); e != 0) return mgmt_fail_connect(e);
    if (const int e = qz_register_time_zone_change(iptrackd_mcc); e != 0)
        return mgmt_fail_connect(e);
    return 0;
}

int iptrackd_mgmt_shutdown()
{
    bail_error(mdc_transport_shutdown(s_transport));
    return 0;
}

int iptrackd_mgmt_deinit()
{
    iptrackd_mgmt_session = nullptr;
    iptrackd_mcc = nullptr;
    // Logs each failing step and runs the next.
    (void)mdc_transport_free(&s_transport);
    return 0;
}

int iptrackd_mgmt_msg_handler(void *, gcl_session *, bn_request *request,
                              bn_response **ret_response)
{
    return mdc_transport_request(s_transport, request, ret_response);
}

int iptrackd_mgmt_handle_response(gcl_session *, bn_response *response, void *)
{
    return mdc_transport_handle_response(s_transport, response);
}

int iptrackd_mgmt_handle_event_response(gcl_session *, bn_response *response, void *)
{
    // The acknowledgement of an event: it ends the wait of an event sent
    // synchronously; one sent one way expects nothing.
    return mdc_transport_handle_response_quiet(s_transport, response);
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
            bn_binding_array_foreach(new_bindings.get(), iptrackd_config_handle_change, nullptr));
        lc_log_basic(LCL_NOTICE, "IPTRACK Modify config complete");
        return 0;
    }
    if (qz_handle_time_zone_change(name) == 0) return 0;
    if (strcmp(name, IPTRACKD_IF_CHANGE_EVENT) == 0) {
        bail_error(iptrackd_config_if_change(bindings.get()));
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
    mdc_transport_end_waits(s_transport);
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    bail_error(iptrackd_initiate_exit());
    return 0;
}

int iptrackd_mgmt_config_read()
{
    return iptrackd_config_query();
}

uint32 iptrackd_mgmt_waiting_requests_for_tests()
{
    return mdc_transport_waiting_requests(s_transport);
}
