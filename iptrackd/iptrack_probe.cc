// The probe requests and the run of one operation for a manager.
//
// The engine never probes by itself: it starts, polls and deletes monitors
// in the peer monitors with one action per port ("ip_mon", "http_mon") or
// per operation ("port_mon", "vrrp_mon") and reads the monitor's state from
// the reply.  A ping or HTTP operation keeps one result per address family
// in its probe state; running the operation combines them into the
// operation's result, retires the IPv6 (or IPv4) monitor while the other
// family is up and starts the retired families again once nothing is up.
//
// Re-entrancy: every send runs nested loop passes.  Port lists are only
// rebuilt by parses at the tick's top level, but the per-port loops still
// copy each port's name and version before sending and stop if the list's
// head changed under them, so that a send never reads a node it did not
// see before the wait.
#include <cstdio>
#include <cstring>

#include "iptrack_records.h"
#include "iptrack_send.h"
#include "log/logging.h"

namespace
{

constexpr const char *action_ip_mon = "/qz/iptrackd/action/ip_mon";
constexpr const char *action_http_mon = "/qz/iptrackd/action/http_mon";
constexpr const char *action_port_mon = "/qz/iptrackd/action/port_mon";
constexpr const char *action_vrrp_mon = "/qz/iptrackd/action/vrrp_mon";

// The low half of a reported state is the monitor's state, the high half
// the name-resolution failure (0: resolved).
constexpr uint32 state_up_mask = 0xFFFFu;
constexpr uint32 state_dns_shift = 16;

const char *mon_code_name(uint16 code)
{
    switch (code) {
    case iptrack_mon_start:
        return "Start";
    case iptrack_mon_poll:
        return "Poll";
    case iptrack_mon_modify:
        return "Modify";
    case iptrack_mon_stop:
        return "Stop";
    case iptrack_mon_delete:
        return "Delete";
    default:
        return "Unknown";
    }
}

const char *up_down(bool up)
{
    return up ? "Up" : "Down";
}

bool has_probe_num(uint16 code)
{
    return code == iptrack_mon_start || code == iptrack_mon_poll || code == iptrack_mon_delete;
}

// One port's name and version, copied out of the list before a send.
struct port_ref {
    char name[iptrack_ifname_size];
    uint8 version;
};

port_ref copy_port(const iptrack_port *port)
{
    port_ref ref{};
    iptrack_copy_text(ref.name, sizeof(ref.name), port->name);
    ref.version = port->ip_version;
    return ref;
}

// Calls `send(port)` for each port of `oper` (of IP version `version`, or
// every port for 0), stopping early if the port list is rebuilt under the
// walk.  `*ret_sent` counts the ports sent to.  The result is that of the
// last port sent (0 when none).
template <class F> int for_each_port(iptrack_oper *oper, uint8 version, uint32 *ret_sent, F send)
{
    *ret_sent = 0;
    int last = 0;
    iptrack_port *port = oper->ports.head;
    while (port) {
        iptrack_port *const head = oper->ports.head;
        iptrack_port *const next = port->link.next;
        if (version != 0 && port->ip_version != version) {
            port = next;
            continue;
        }
        const port_ref ref = copy_port(port);
        last = send(ref);
        ++*ret_sent;
        // The list may have been freed and rebuilt during the send.
        if (oper->ports.head != head) break;
        port = next;
    }
    return last;
}

// Stores a Poll reply's state of one family into the probe state.
void store_family_state(iptrack_oper *oper, uint8 version, bool up, bool dns_ok)
{
    const uint8 up_bit = version == 6 ? iptrack_ps_v6_up : iptrack_ps_v4_up;
    const uint8 dns_bit = version == 6 ? iptrack_ps_v6_dns_ok : iptrack_ps_v4_dns_ok;
    if (up) oper->probe_state |= up_bit;
    if (dns_ok) oper->probe_state |= dns_bit;
}

// The reply of a ping or HTTP monitor: "ip_state" / "http_state".  An
// absent state is logged and changes nothing (the family stays down for
// this run, since the caller cleared it before the Poll).
int decode_family_reply(const char *func, iptrack_oper *oper, const port_ref &port, uint16 code,
                        const bn_binding_array *results, bool http)
{
    const bn_binding *state = nullptr;
    if (results)
        bail_error(bn_binding_array_get_binding_by_name(results, http ? "http_state" : "ip_state",
                                                        &state));
    if (!state) {
        if (http)
            lc_log_basic(LCL_ERR, "%s: no return bindings in HTTP monitor operation reply", func);
        else
            lc_log_basic(LCL_ERR, "%s: no return bindings in Ping monitor operation reply", func);
        return 0;
    }
    uint32 flags = 0;
    uint32 value = 0;
    bail_error(bn_binding_get_uint32(state, ba_value, &flags, &value));
    const bool up = (value & state_up_mask) != 0;
    const bool dns_ok = (value >> state_dns_shift) == 0;
    const bool was_up = (oper->probe_state & iptrack_ps_result) != 0;

    if (http)
        lc_log_basic(LCL_NOTICE, "%s: HTTP Monitor curr status %s changed to %s", func,
                     up_down(was_up), up_down(up));
    if (up != was_up) {
        if (http)
            lc_log_basic(LCL_NOTICE, "%s: HTTP Monitor %s reported %s status change to %s", func,
                         mon_code_name(code), port.name, up_down(up));
        else
            lc_log_basic(LCL_NOTICE,
                         "%s: Ping Monitor %s reported %s status change to %s, port entry ver %d",
                         func, mon_code_name(code), port.name, up_down(up), port.version);
    }
    if (code == iptrack_mon_poll) store_family_state(oper, port.version, up, dns_ok);
    return 0;
}

// Start and Poll read the reply; a Delete's reply carries nothing we use.
bool reads_reply(uint16 code)
{
    return code == iptrack_mon_start || code == iptrack_mon_poll;
}

int iptrack_mgr_send_ip_mon_request_by_port(iptrack_oper *oper, const port_ref &port, uint16 code)
{
    iptrack_bindings b;
    b.add_u16("mon_action", code);
    if (oper->tunnel_name[0]) {
        lc_log_basic(LCL_DEBUG, "%s setting tunnel name as %s", __func__, oper->tunnel_name);
        b.add_str("tun_name", oper->tunnel_name).add_u32("tun_id", oper->tunnel_id);
    }
    lc_log_basic(LCL_DEBUG, "%s port is %s", __func__, port.name);
    b.add_str("port_name", port.name)
        .add_u8("port_version", port.version)
        .add_str("dst_ip", oper->targets)
        .add_u16("ka_interval", oper->ka)
        .add_u16("up_threshold", oper->up_thresh)
        .add_u16("dn_threshold", oper->dn_thresh)
        .add_u16("sample_int", oper->sample_int)
        .add_u16("loss_up_thresh", oper->loss_up_thresh)
        .add_u16("loss_dn_thresh", oper->loss_dn_thresh)
        .add_u32("rtt_up_thresh", oper->rtt_up_thresh)
        .add_u32("rtt_dn_thresh", oper->rtt_dn_thresh)
        .add_u8("metric_combination", oper->metric_flags);
    if (has_probe_num(code)) b.add_str("probe_num", oper->probe_num);
    b.add_str("ip_mon_name", oper->name);

    owned<bn_binding_array> results;
    bail_error(iptrack_send_action(action_ip_mon, b, results.out()));
    if (reads_reply(code))
        bail_error(decode_family_reply(__func__, oper, port, code, results.get(), false));
    return 0;
}

int iptrack_mgr_send_http_mon_request_by_port(iptrack_oper *oper, const port_ref &port, uint16 code)
{
    iptrack_bindings b;
    b.add_u16("http_mon_action", code);
    if (oper->tunnel_name[0]) {
        lc_log_basic(LCL_DEBUG, "%s setting tunnel name as %s", __func__, oper->tunnel_name);
        b.add_str("tun_name", oper->tunnel_name).add_u32("tun_id", oper->tunnel_id);
    }
    b.add_str("port_name", port.name)
        .add_u8("port_version", port.version)
        .add_str("http_dst_url_str", oper->targets)
        .add_u16("http_ka_interval", oper->ka)
        .add_u16("http_up_threshold", oper->up_thresh)
        .add_u16("http_dn_threshold", oper->dn_thresh)
        .add_str("http_proxy", oper->proxy_addr)
        .add_str("http_user_agent", oper->user_agent)
        .add_u16("http_timeout", oper->http_timeout)
        .add_u16("http_proxy_port", oper->proxy_port)
        .add_str("http_mon_name", oper->name)
        .add_u16("sample_int", oper->sample_int)
        .add_u16("loss_up_thresh", oper->loss_up_thresh)
        .add_u16("loss_dn_thresh", oper->loss_dn_thresh)
        .add_u32("rtt_up_thresh", oper->rtt_up_thresh)
        .add_u32("rtt_dn_thresh", oper->rtt_dn_thresh)
        .add_u8("metric_combination", oper->metric_flags);
    if (has_probe_num(code)) b.add_str("probe_num", oper->probe_num);

    lc_log_basic(LCL_NOTICE,
                 "%s: set http bindings as url:%s port:%s tunnel%s ka:%d up:%d down:%d "
                 "timeout:%d proxy:%s proxy port:%d user agent:%s sample_int:%d "
                 "loss_up_thresh:%d loss_down_thresh:%d rtt_up_thresh:%d rtt_down_thresh:%d "
                 "mertic:%s",
                 __func__, oper->targets, port.name, oper->tunnel_name, oper->ka, oper->up_thresh,
                 oper->dn_thresh, oper->http_timeout, oper->proxy_addr, oper->proxy_port,
                 oper->user_agent, oper->sample_int, oper->loss_up_thresh, oper->loss_dn_thresh,
                 static_cast<int>(oper->rtt_up_thresh), static_cast<int>(oper->rtt_dn_thresh),
                 oper->metric_flags == iptrack_metric_or ? "OR" : "AND");

    owned<bn_binding_array> results;
    bail_error(iptrack_send_action(action_http_mon, b, results.out()));
    if (reads_reply(code))
        bail_error(decode_family_reply(__func__, oper, port, code, results.get(), true));
    return 0;
}

// Start or Delete to the ports of one IP version, for the ping or HTTP
// monitor as the operation's type says.
int send_family_request(iptrack_oper *oper, uint8 version, uint16 code)
{
    if (oper->type != iptrack_oper_ip && oper->type != iptrack_oper_http) {
        lc_log_basic(LCL_ERR, "%s: invalid operation type %u requested", __func__, oper->type);
        return 1;
    }
    const char *const func = __func__;
    uint32 sent = 0;
    const int err = for_each_port(oper, version, &sent, [&](const port_ref &port) {
        const int e = oper->type == iptrack_oper_ip
                          ? iptrack_mgr_send_ip_mon_request_by_port(oper, port, code)
                          : iptrack_mgr_send_http_mon_request_by_port(oper, port, code);
        if (e != 0)
            lc_log_basic(LCL_NOTICE, "%s IPTRACK_ACTION_PORT_MON failed for %s", func, port.name);
        return e;
    });
    if (err == 0) {
        const uint8 retired = version == 6 ? iptrack_ps_v6_retired : iptrack_ps_v4_retired;
        if (code == iptrack_mon_start)
            oper->probe_state &= static_cast<uint8>(~retired);
        else
            oper->probe_state |= retired;
    }
    return err;
}

// Reads a boolean state from the reply of the port or VRRP monitor.
int decode_bool_reply(const bn_binding_array *results, const char *name, bool *ret_found,
                      bool *ret_value)
{
    *ret_found = false;
    *ret_value = false;
    const bn_binding *state = nullptr;
    if (results) bail_error(bn_binding_array_get_binding_by_name(results, name, &state));
    if (!state) return 0;
    uint32 flags = 0;
    tbool value = 0;
    bail_error(bn_binding_get_tbool(state, ba_value, &flags, &value));
    *ret_found = true;
    *ret_value = value != 0;
    return 0;
}

void set_result_bit(iptrack_oper *oper, bool up)
{
    if (up)
        oper->probe_state |= iptrack_ps_result;
    else
        oper->probe_state &= static_cast<uint8>(~iptrack_ps_result);
}

} // namespace

int iptrack_mgr_send_ip_mon_request(iptrack_oper *oper, uint16 code)
{
    bail_null(oper);
    oper->probe_state &= static_cast<uint8>(
        ~(iptrack_ps_v4_up | iptrack_ps_v4_dns_ok | iptrack_ps_v6_up | iptrack_ps_v6_dns_ok));
    if (!oper->ports.head) {
        lc_log_basic(LCL_ERR, "%s: port not found for Interface monitor operation - aborting",
                     __func__);
        return 1;
    }
    const char *const func = __func__;
    uint32 sent = 0;
    return for_each_port(oper, 0, &sent, [&](const port_ref &port) {
        const int e = iptrack_mgr_send_ip_mon_request_by_port(oper, port, code);
        if (e != 0)
            lc_log_basic(LCL_NOTICE, "%s IPTRACK_ACTION_IP_MON failed for %s", func, port.name);
        return e;
    });
}

int iptrack_mgr_send_http_mon_request(iptrack_oper *oper, uint16 code)
{
    bail_null(oper);
    if (!oper->ports.head) {
        lc_log_basic(LCL_ERR, "%s: port not found for Interface monitor operation - aborting",
                     __func__);
        return 1;
    }
    const char *const func = __func__;
    uint32 sent = 0;
    return for_each_port(oper, 0, &sent, [&](const port_ref &port) {
        const int e = iptrack_mgr_send_http_mon_request_by_port(oper, port, code);
        if (e != 0)
            lc_log_basic(LCL_NOTICE, "%s IPTRACK_ACTION_HTTP_MON failed for %s", func, port.name);
        return e;
    });
}

int iptrack_mgr_send_mon_start_request(iptrack_oper *oper, uint8 version)
{
    bail_null(oper);
    return send_family_request(oper, version, iptrack_mon_start);
}

int iptrack_mgr_send_mon_delete_request(iptrack_oper *oper, uint8 version)
{
    bail_null(oper);
    return send_family_request(oper, version, iptrack_mon_delete);
}

int iptrack_mgr_send_port_mon_request(iptrack_oper *oper)
{
    bail_null(oper);
    if (!oper->ports.head) {
        lc_log_basic(LCL_ERR, "%s: port not found for Interface monitor operation - aborting",
                     __func__);
        return 1;
    }
    const port_ref port = copy_port(oper->ports.head);
    iptrack_bindings b;
    b.add_str("port_name", port.name);
    owned<bn_binding_array> results;
    bail_error(iptrack_send_action(action_port_mon, b, results.out()));

    bool found = false;
    bool up = false;
    bail_error(decode_bool_reply(results.get(), "port_state", &found, &up));
    if (!found) {
        lc_log_basic(LCL_ERR, "%s: no return bindings in interface monitor operation reply",
                     __func__);
        return 0;
    }
    if (up != ((oper->probe_state & iptrack_ps_result) != 0))
        lc_log_basic(LCL_NOTICE, "%s: interface %s monitor reported status change to %s", __func__,
                     port.name, up_down(up));
    set_result_bit(oper, up);
    return 0;
}

int iptrack_mgr_send_vrrp_mon_request(iptrack_oper *oper)
{
    bail_null(oper);
    if (!oper->ports.head) {
        lc_log_basic(LCL_ERR, "%s: port not found for VRRP state monitor operation - aborting",
                     __func__);
        return 1;
    }
    const port_ref port = copy_port(oper->ports.head);
    iptrack_bindings b;
    b.add_str("port_name", port.name);
    owned<bn_binding_array> results;
    bail_error(iptrack_send_action(action_vrrp_mon, b, results.out()));

    bool found = false;
    bool master = false;
    bail_error(decode_bool_reply(results.get(), "vrrp_state", &found, &master));
    if (!found) {
        lc_log_basic(LCL_ERR, "%s: no return bindings in VRRP state monitor reply", __func__);
        return 0;
    }
    if (master != ((oper->probe_state & iptrack_ps_result) != 0))
        lc_log_basic(LCL_NOTICE, "%s: VRRP state monitor reported status change to %s", __func__,
                     master ? "Master" : "nonMaster");
    set_result_bit(oper, master);
    return 0;
}

int iptrack_send_oper_delete(iptrack_oper *oper)
{
    bail_null(oper);
    if (oper->type == iptrack_oper_ip)
        return iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_delete);
    if (oper->type == iptrack_oper_http)
        return iptrack_mgr_send_http_mon_request(oper, iptrack_mon_delete);
    return 0;
}

int iptrack_mgr_send_operation_request(iptrack_oper *oper, iptrack_op_request *request,
                                       iptrack_mgr *mgr)
{
    bail_null(oper);
    bail_null(request);
    bail_null(mgr);

    oper->probe_state |= iptrack_ps_dns_ok;
    switch (oper->type) {
    case iptrack_oper_port:
        bail_error_quiet(iptrack_mgr_send_port_mon_request(oper));
        break;
    case iptrack_oper_vrrp:
        bail_error_quiet(iptrack_mgr_send_vrrp_mon_request(oper));
        break;
    case iptrack_oper_ip:
    case iptrack_oper_http: {
        const bool ping = oper->type == iptrack_oper_ip;
        if (request->flags & iptrack_rf_not_sent) {
            // A first run only creates the monitors; results come from Polls.
            oper->stop_sent = 0;
            bail_error_quiet(ping ? iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_start)
                                  : iptrack_mgr_send_http_mon_request(oper, iptrack_mon_start));
            // Every family runs again, so none counts as retired.
            oper->probe_state &=
                static_cast<uint8>(~(iptrack_ps_v4_retired | iptrack_ps_v6_retired));
            oper->state_flags |= iptrack_os_requested;
            return 0;
        }
        if (!(mgr->flags & iptrack_mf_disabled))
            bail_error_quiet(ping ? iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_poll)
                                  : iptrack_mgr_send_http_mon_request(oper, iptrack_mon_poll));

        // Either family up is enough; the other family's monitor is retired
        // while one is up and started again once neither is.  The sends'
        // own failures are logged by them and do not change the result.
        const uint8 ps = oper->probe_state;
        if (!(ps & (iptrack_ps_v4_up | iptrack_ps_v6_up))) {
            set_result_bit(oper, false);
            if (ps & iptrack_ps_v4_retired) (void)iptrack_mgr_send_mon_start_request(oper, 4);
            if (oper->probe_state & iptrack_ps_v6_retired)
                (void)iptrack_mgr_send_mon_start_request(oper, 6);
        } else if (ps & iptrack_ps_v4_up) {
            set_result_bit(oper, true);
            if (!(ps & iptrack_ps_v6_retired)) (void)iptrack_mgr_send_mon_delete_request(oper, 6);
        } else {
            set_result_bit(oper, true);
            if (!(ps & iptrack_ps_v4_retired)) (void)iptrack_mgr_send_mon_delete_request(oper, 4);
        }
        if (ps & (iptrack_ps_v4_dns_ok | iptrack_ps_v6_dns_ok))
            oper->probe_state |= iptrack_ps_dns_ok;
        else
            oper->probe_state &= static_cast<uint8>(~iptrack_ps_dns_ok);
        break;
    }
    default:
        lc_log_basic(LCL_ERR, "%s: invalid operation type %u requested", __func__, oper->type);
        break;
    }

    oper->state_flags |= iptrack_os_requested;
    const uint8 result = (oper->probe_state & iptrack_ps_result) ? 1 : 0;
    const bool first_run = request->runs == 0;
    ++request->runs;
    ++request->runs2;
    if (result == 0 && (result != request->result || first_run)) ++request->failures;
    ++iptrack_g.result_counter;
    request->result = result;
    request->dns_ok = (oper->probe_state & iptrack_ps_dns_ok) ? 1 : 0;
    request->flags |= iptrack_rf_new_result;
    return 0;
}
