// A manager's status: applying its operations' results, choosing and
// sending the action its status calls for, driving route labels, and the
// not-installed path of an operation that cannot run.
//
// A manager starts in init (down, no change times).  Its first applied
// result always goes through; later ones only when they differ from the
// status.  Each applied result sends the action of the new status: the up
// action when up, the down action when down, or the inverse of the down
// action when the up action is a default.  The VRRP priority change and the
// metric delta are held back on the change from init to up, since nothing
// was taken away before.
//
// A revert (reset, clean, admin down, reparse of an applied action) reuses
// the same choice with the status forced up; the mark that says so lives in
// the manager's alarm flags and is cleared by the choice itself.
//
// Everything here may send, and every send runs nested loop passes: the
// manager and operation entries stay valid across them (frees are
// deferred), but request lists are walked by `next` read after the send,
// never by a pointer saved across a send into a list that may be cleaned.
#include <cstdio>
#include <cstring>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrackd_config.h"
#include "iptrackd_mgmt.h"
#include "log/logging.h"
#include "mgmt/mdc_main.h"
#include "util/tstring.h"

namespace
{

constexpr const char *action_config_root = "/qz/iptrackd/config/action";

// The code of a default up action: the inverse of the down action's type.
uint32 inverse_code(uint32 code)
{
    switch (code) {
    case iptrack_action_vrrp_prio:
        return iptrack_action_vrrp_cfg;
    case iptrack_action_vrrp_cfg:
        return iptrack_action_vrrp_prio;
    case iptrack_action_subnet_adv:
        return iptrack_action_subnet_rmv;
    case iptrack_action_subnet_rmv:
        return iptrack_action_subnet_adv;
    case iptrack_action_tun_dn:
        return iptrack_action_tun_up;
    default: // sharing and metric follow the status; tunnel up stays
        return code;
    }
}

// An action whose attributes never parsed: read them from the configuration
// again and store them for the next tick's parse.
int reread_action_attribs(iptrack_action *action)
{
    char node[iptrack_name_size + 64];
    snprintf(node, sizeof(node), "%s/%s/attributes", action_config_root, action->name);
    uint32 code = 0;
    owned<bn_binding> binding;
    bail_error(mdc_get_binding(iptrackd_mcc, &code, nullptr, 0, binding.out(), node, nullptr));
    if (code != 0 || !binding) return lc_err_not_found;
    owned<tstring> value;
    uint32 flags = 0;
    bail_error(bn_binding_get_tstr(binding.get(), ba_value, bt_string, &flags, value.out()));
    if (!value) return lc_err_not_found;
    return iptrackd_config_update_action(action->name, ts_str(value.get()));
}

bool first_request_has_runs(const iptrack_mgr *mgr)
{
    return mgr->requests.head && mgr->requests.head->runs > 0;
}

// Step 8 of the evaluation: the route label the manager drives.
void update_route_label(iptrack_mgr *mgr)
{
    if (!(mgr->flags & iptrack_mf_rtlabel_pending) || !first_request_has_runs(mgr)) return;
    mgr->flags &= static_cast<uint8>(~iptrack_mf_rtlabel_pending);
    const uint32 label = mgr->rtlabel_id;
    if ((mgr->flags & iptrack_mf_disabled) || label == 0) return;

    char name[qz_rtlabel_name_size];
    bool and_mode = false;
    int err = qz_rtlabel_get(iptrack_g.rtlabel_table, label, name, &and_mode);
    if (err == 0) {
        const bool up = mgr->status != 0;
        if (and_mode)
            err = up ? iptrack_mgr_determine_rtlabel_status(label, true, nullptr)
                     : ip_track_mgr_send_label_action(label, false);
        else
            err = up ? ip_track_mgr_send_label_action(label, true)
                     : iptrack_mgr_determine_rtlabel_status(label, false, nullptr);
    }
    if (err != 0)
        lc_log_basic(LCL_WARNING, "%s: Error occurred when updating route label %u for mgr %s'",
                     "iptrack_mgr_evaluate", label, mgr->name);
}

// Step 9: the DNS alarm follows every request's DNS-ok, new result or not.
void update_dns_alarm(iptrack_mgr *mgr, const iptrack_op_request *request, iptrack_oper *oper)
{
    const bool raised = (mgr->alarm_flags & iptrack_maf_dns) != 0;
    if (request->dns_ok == 0) {
        lc_log_basic(LCL_NOTICE, "%s, dns alarm raised is %d", "iptrack_mgr_evaluate",
                     raised ? 1 : 0);
        if (!raised) {
            iptrack_mgr_fill_dns_alarm_text(mgr, oper);
            (void)iptrack_send_dns_alarm(mgr, true);
        }
    } else if (raised) {
        (void)iptrack_send_dns_alarm(mgr, false);
    }
}

} // namespace

void iptrack_mgr_evaluate(iptrack_mgr *mgr)
{
    if (!mgr) return;
    iptrack_busy_scope busy;
    for (iptrack_op_request *request = mgr->requests.head; request; request = request->link.next) {
        iptrack_oper *oper = iptrack_find_oper_entry(request->oper_name);
        if (request->flags & iptrack_rf_new_result) {
            bool apply = true;
            if (request->result != mgr->status)
                ++mgr->status_changes;
            else if (mgr->evaluations > 0)
                apply = false; // the same status again: keep the mark
            if (apply) {
                if (!oper) continue;
                ++mgr->evaluations;
                const uint8 down_alarms = iptrack_mf_port_alarm | iptrack_mf_tunnel_alarm;
                if (request->result == 0) {
                    if ((mgr->flags & down_alarms) != down_alarms &&
                        !(mgr->alarm_flags & iptrack_maf_not_installed)) {
                        iptrack_mgr_fill_alarm_text(mgr, oper);
                        (void)iptrackd_fill_hier(mgr, oper, true);
                    }
                } else if (mgr->flags & down_alarms) {
                    (void)iptrackd_fill_hier(mgr, oper, false);
                }
                mgr->status = request->result;
                mgr->dns_ok = request->dns_ok;
                (void)iptrack_mgr_send_action_request(mgr, oper);
                request->flags &= static_cast<uint8>(~iptrack_rf_new_result);
                mgr->flags |= iptrack_mf_rtlabel_pending;
            }
            update_route_label(mgr);
        }
        if (oper) update_dns_alarm(mgr, request, oper);
    }
}

iptrack_action *iptrack_mgr_set_action(iptrack_mgr *mgr, uint32 *ret_code)
{
    if (ret_code) *ret_code = 0;
    if (!mgr || !ret_code) return nullptr;

    const bool revert = (mgr->alarm_flags & iptrack_maf_revert) != 0;
    // A revert applies the up side: the manager is up after every revert.
    if (revert) mgr->status = 1;
    mgr->alarm_flags &= static_cast<uint8>(~iptrack_maf_revert);

    const bool up = mgr->status != 0;
    const bool use_up_action = up && mgr->up_action;
    iptrack_action *action = use_up_action ? mgr->up_action : mgr->dn_action;
    if (!action) return nullptr;

    uint32 code = 0;
    if (action->type == iptrack_action_unset) {
        lc_log_basic(LCL_WARNING, "%s: %s action attributes for mgr %s incomplete - reparse cfg",
                     __func__, action->name, mgr->name);
        if (reread_action_attribs(action) != 0) {
            lc_log_basic(LCL_ERR, "%s: could not process attributes for action %s", __func__,
                         action->name);
            return nullptr;
        }
    } else if (use_up_action) {
        code = action->type;
    } else if (up) {
        if (mgr->flags & iptrack_mf_default_up)
            code = inverse_code(action->type);
        else
            lc_log_basic(LCL_ERR, "%s: there is no UP action for mgr %s", __func__, mgr->name);
    } else {
        code = action->type;
    }
    if (code == iptrack_action_vrrp_prio && revert) code = iptrack_action_vrrp_cfg;
    *ret_code = code;
    return action;
}

int iptrack_mgr_send_action_request(iptrack_mgr *mgr, iptrack_oper *oper)
{
    bail_null(mgr);
    iptrack_busy_scope busy;

    const uint32 now = iptrack_now_ms();
    bool init_to_up = false;
    if (!(mgr->alarm_flags & iptrack_maf_revert) && mgr->status == 0) {
        if (mgr->last_dn_ms == 0)
            lc_log_basic(LCL_DEBUG, "iptrackd status change time from init to down name %s\n",
                         mgr->name);
        mgr->last_dn_ms = now;
    } else {
        if (mgr->last_up_ms == 0 && mgr->last_dn_ms == 0) {
            lc_log_basic(LCL_DEBUG, "IPTRACKD %s status change to up from init.. name %s\n",
                         __func__, mgr->name);
            init_to_up = true;
        }
        mgr->last_up_ms = now;
    }

    uint32 code = 0;
    iptrack_action *action = iptrack_mgr_set_action(mgr, &code);
    const bool up = mgr->status != 0;
    if (!action) {
        if (!(mgr->alarm_flags & iptrack_maf_alarm_only)) {
            lc_log_basic(LCL_ERR, "%s: %s action not defined for mgr %s - abort", __func__,
                         up ? "Up" : "Down", mgr->name);
            return 1;
        }
        return 0;
    }
    if (code == 0) {
        lc_log_basic(LCL_ERR, "%s: unable to assign action type for action %s mgr %s", __func__,
                     action->name, mgr->name);
        return 1;
    }
    if (code > iptrack_action_tun_dn) {
        lc_log_basic(LCL_ERR, "%s: invalid action type %u requested", __func__, code);
        return 1;
    }

    switch (code) {
    case iptrack_action_vrrp_prio:
        if (init_to_up) {
            lc_log_basic(LCL_DEBUG, "IPTRACKD %s vrrp - not sending vrrp action for init to up",
                         __func__);
            return 0;
        }
        bail_error(ip_track_mgr_send_vrrp_action(action, code));
        break;
    case iptrack_action_vrrp_cfg:
        bail_error(ip_track_mgr_send_vrrp_action(action, code));
        break;
    case iptrack_action_subnet_metric:
        if (init_to_up) return 0;
        bail_error(ip_track_mgr_send_subnet_action(mgr, action, oper, code));
        break;
    case iptrack_action_subnet_adv:
    case iptrack_action_subnet_rmv:
    case iptrack_action_subnet_share:
        bail_error(ip_track_mgr_send_subnet_action(mgr, action, oper, code));
        break;
    case iptrack_action_tun_up:
        bail_error(ip_track_mgr_send_tunnel_action(action, true));
        break;
    default: // iptrack_action_tun_dn
        bail_error(ip_track_mgr_send_tunnel_action(action, false));
        break;
    }

    lc_log_basic(LCL_NOTICE, "%s: sent action %u for monitor status %s", __func__, code,
                 up ? "Up" : "Down");
    if (up)
        action->flags &= static_cast<uint8>(~iptrack_af_applied);
    else
        action->flags |= iptrack_af_applied;
    return 0;
}

int iptrack_mgr_determine_rtlabel_status(uint32 label_id, bool and_mode, iptrack_mgr *exclude_mgr)
{
    if (label_id == 0) return 0;
    const uint32 max = get_max_route_labels();
    if (label_id >= max) {
        lc_log_basic(LCL_ERR, "%s: Label ID %u is greater than max of %u", __func__, label_id,
                     max - 1);
        return 1;
    }
    iptrack_busy_scope busy;

    // AND: any down manager decides down; OR: any up manager decides up.
    // With no decisive manager the last one counts, and none means up.
    bool state = true;
    for (const iptrack_mgr *mgr = iptrack_g.mgrs.head; mgr; mgr = mgr->link.next) {
        if ((mgr->flags & iptrack_mf_disabled) || mgr->rtlabel_id != label_id ||
            mgr == exclude_mgr || !first_request_has_runs(mgr))
            continue;
        state = mgr->status != 0;
        if (and_mode ? !state : state) break;
    }
    return ip_track_mgr_send_label_action(label_id, state);
}

void iptrack_mgr_not_installed(iptrack_mgr *mgr, iptrack_op_request *request, iptrack_oper *oper)
{
    if (!mgr || !request || !oper) return;
    iptrack_busy_scope busy;

    if (mgr->flags & (iptrack_mf_port_alarm | iptrack_mf_tunnel_alarm)) {
        (void)iptrackd_fill_hier(mgr, oper, false);
        (void)iptrack_mgr_reset(mgr, false);
    }
    if (!(mgr->alarm_flags & iptrack_maf_not_installed)) {
        iptrack_mgr_fill_alarm_text(mgr, oper);
        (void)iptrack_send_not_installed_alarm(mgr, true);
    }
    oper->probe_state &= static_cast<uint8>(~(iptrack_ps_v4_up | iptrack_ps_v6_up));
    request->result = 0;
    request->runs = 1;
    request->flags |= iptrack_rf_new_result;
    mgr->status = 0;
    lc_log_basic(LCL_INFO,
                 "%s port is not active yet, attribs %s, port active %d, tunnel active %d",
                 __func__, oper->attribs, (oper->state_flags & iptrack_os_port_active) ? 1 : 0,
                 (oper->state_flags & iptrack_os_tunnel_active) ? 1 : 0);
}
