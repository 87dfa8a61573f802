// The life of a manager apart from its status: binding its up and down
// actions, enabling and disabling it, and the clean-up paths (reset,
// revert, clean, admin down) that take back what it did.
//
// The sends themselves (monitor deletes, actions, alarms, route labels)
// belong to the probe, status and alarm modules; this module decides when
// they happen and keeps the data straight: requests, references and users,
// counters, flags.  Every path here may send, so it may run nested loop
// passes: a request being removed is unlinked before the sends that concern
// it, and loops stop quietly once the exit has begun.
#include <cstring>
#include <memory>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "log/logging.h"

namespace
{

// Default up actions: the inverse of the down action is applied on up.
constexpr const char *default_up_actions[] = {"def-subnet", "def-subnet-share", "def-subnet-metric",
                                              "def-vrrp", "def-tun"};

bool is_default_up(const char *name)
{
    for (const char *d : default_up_actions)
        if (strcmp(name, d) == 0) return true;
    return false;
}

void subtract_metric(uint32 delta)
{
    const uint32 total = iptrack_g.metric_total;
    iptrack_g.metric_total = total > delta ? total - delta : 0;
    lc_log_basic(LCL_DEBUG, "%s %d cur value %d, minus delta %d\n", "iptrack_mgr_reset", __LINE__,
                 static_cast<int>(total), static_cast<int>(delta));
}

// The revert of reset, clean and admin down: the first time an action is
// found, and the manager is down or the action is a VRRP priority change,
// the action is sent once under the revert mark (which makes it the up
// side).  `*done` records that the choice was made.
void revert_once(const char *func, iptrack_mgr *mgr, iptrack_oper *oper, bool *done)
{
    if (*done) return;
    uint32 code = 0;
    if (iptrack_mgr_set_action(mgr, &code) == nullptr) return;
    *done = true;
    if (mgr->status == 1 && code != iptrack_action_vrrp_prio) return;
    mgr->alarm_flags |= iptrack_maf_revert;
    lc_log_basic(LCL_NOTICE, "%s sending revert action - mgr is getting reset %s", func, mgr->name);
    (void)iptrack_mgr_send_action_request(mgr, oper);
    mgr->alarm_flags &= static_cast<uint8>(~iptrack_maf_revert);
}

uint8 monitor_down_flag(const iptrack_oper *oper)
{
    return oper->tunnel_alias[0] != '\0' ? iptrack_mf_tunnel_alarm : iptrack_mf_port_alarm;
}

// Clears the monitor-down alarm of `oper` when one is raised; true when it was.
bool clear_monitor_down(iptrack_mgr *mgr, iptrack_oper *oper)
{
    if (!(mgr->flags & (iptrack_mf_port_alarm | iptrack_mf_tunnel_alarm))) return false;
    (void)iptrackd_fill_hier(mgr, oper, false);
    mgr->flags &= static_cast<uint8>(~monitor_down_flag(oper));
    return true;
}

void clear_dns(iptrack_mgr *mgr)
{
    if (!(mgr->alarm_flags & iptrack_maf_dns)) return;
    (void)iptrack_send_dns_alarm(mgr, false);
    mgr->alarm_flags &= static_cast<uint8>(~iptrack_maf_dns);
}

void clear_not_installed(iptrack_mgr *mgr)
{
    if (!(mgr->alarm_flags & iptrack_maf_not_installed)) return;
    (void)iptrack_send_not_installed_alarm(mgr, false);
    mgr->alarm_flags &= static_cast<uint8>(~iptrack_maf_not_installed);
}

bool is_monitor_type(const iptrack_oper *oper)
{
    return oper->type == iptrack_oper_ip || oper->type == iptrack_oper_http;
}

void log_stop_failure(const char *func, const iptrack_oper *oper, const iptrack_mgr *mgr)
{
    if (oper->type == iptrack_oper_ip)
        lc_log_basic(LCL_WARNING, "%s: Ping monitor Stop request for mgr %s failed", func,
                     mgr->name);
    else
        lc_log_basic(LCL_WARNING, "%s: HTTP monitor Stop request for mgr %s failed", func,
                     mgr->name);
}

bool rtlabel_and_mode(uint32 label_id)
{
    bool and_mode = false;
    char name[qz_rtlabel_name_size];
    if (iptrack_g.rtlabel_table != nullptr &&
        qz_rtlabel_get(iptrack_g.rtlabel_table, label_id, name, &and_mode) != 0)
        and_mode = false;
    return and_mode;
}

} // namespace

bool iptrack_rtlabel_is_and_mode(uint32 label_id)
{
    return rtlabel_and_mode(label_id);
}

int iptrack_mgr_add_action(iptrack_mgr *mgr, const char *name, bool is_up)
{
    bail_null(mgr);
    bail_null(name);
    if (is_up) {
        mgr->flags &= static_cast<uint8>(~iptrack_mf_default_up);
        if (mgr->up_action != nullptr) {
            lc_log_basic(LCL_WARNING, "%s: mgr %s has old up action %s - removing", __func__,
                         mgr->name, mgr->up_action->name);
            (void)iptrack_mgr_rmv_action(mgr, true);
        }
        if (is_default_up(name)) {
            mgr->flags |= iptrack_mf_default_up;
            return 0;
        }
        if (strcmp(name, "def-alarm") == 0) {
            mgr->flags |= iptrack_mf_default_up;
            mgr->alarm_flags |= iptrack_maf_alarm_only;
            return 0;
        }
    } else if (strcmp(name, "alarm") == 0) {
        mgr->alarm_flags |= iptrack_maf_alarm_only;
        return 0;
    }

    iptrack_action *action = iptrack_find_action_entry(name);
    if (action == nullptr) {
        lc_log_basic(LCL_ERR, "%s: action %s not found in the action table - abort", __func__,
                     name);
        return 1;
    }
    mgr->alarm_flags &= static_cast<uint8>(~iptrack_maf_alarm_only);
    if (is_up) {
        mgr->up_action = action;
    } else {
        if (mgr->dn_action != nullptr) {
            lc_log_basic(LCL_WARNING, "%s: mgr %s has old dn action %s - removing", __func__,
                         mgr->name, mgr->dn_action->name);
            (void)iptrack_mgr_rmv_action(mgr, false);
        }
        mgr->dn_action = action;
    }
    ++action->users;
    return 0;
}

int iptrack_mgr_rmv_action(iptrack_mgr *mgr, bool is_up)
{
    bail_null(mgr);
    iptrack_action *&slot = is_up ? mgr->up_action : mgr->dn_action;
    iptrack_action *action = slot;
    if (action == nullptr) return 0;
    slot = nullptr;
    if (action->users > 0) --action->users;
    if ((action->flags & iptrack_af_delete_pending) && action->users == 0) {
        char name[iptrack_name_size];
        iptrack_copy_name(name, action->name);
        (void)iptrack_delete_action_entry(name);
    }
    return 0;
}

int iptrack_set_mgr_status(iptrack_mgr *mgr, bool enabled)
{
    bail_null(mgr);
    iptrack_busy_scope busy;
    const bool disabled = (mgr->flags & iptrack_mf_disabled) != 0;
    if (!enabled && !disabled) {
        if (iptrack_g.enabled_mgrs > 0) --iptrack_g.enabled_mgrs;
        mgr->flags |= iptrack_mf_disabled | iptrack_mf_admin_down_pending;
    } else if (enabled && disabled) {
        ++iptrack_g.enabled_mgrs;
        mgr->flags &= static_cast<uint8>(~(iptrack_mf_disabled | iptrack_mf_admin_down_pending));
        (void)iptrack_mgr_reset(mgr, true);
    }
    mgr->flags |= iptrack_mf_rtlabel_pending;
    return 0;
}

int iptrack_mgr_rtlabel_unconfigured(iptrack_mgr *mgr)
{
    bail_null(mgr);
    if (mgr->rtlabel_id == 0) return 0;
    return iptrack_mgr_determine_rtlabel_status(mgr->rtlabel_id, rtlabel_and_mode(mgr->rtlabel_id),
                                                mgr);
}

int iptrack_mgr_reset(iptrack_mgr *mgr, bool clear_not_installed_alarm)
{
    bail_null(mgr);
    iptrack_busy_scope busy;
    mgr->evaluations = 0;
    mgr->status_changes = 0;

    bool reverted = false;
    for (iptrack_op_request *req = mgr->requests.head; req != nullptr; req = req->link.next) {
        if (iptrack_exiting()) return 0;
        iptrack_oper *oper = iptrack_find_oper_entry(req->oper_name);
        if (oper == nullptr) continue;
        revert_once(__func__, mgr, oper, &reverted);
        if (clear_monitor_down(mgr, oper) && mgr->dn_action != nullptr &&
            mgr->dn_action->type == iptrack_action_subnet_metric)
            subtract_metric(mgr->dn_action->metric_delta);
        clear_dns(mgr);
        if (clear_not_installed_alarm) clear_not_installed(mgr);
    }
    for (iptrack_op_request *req = mgr->requests.head; req != nullptr; req = req->link.next) {
        req->flags |= iptrack_rf_not_sent;
        req->runs = 0;
        req->failures = 0;
    }
    mgr->last_up_ms = 0;
    mgr->last_dn_ms = 0;
    mgr->reset_time_ms = iptrack_now_ms();
    if (!(mgr->flags & iptrack_mf_disabled)) (void)iptrack_mgr_rtlabel_unconfigured(mgr);
    return 0;
}

int iptrack_revert_action(iptrack_action *action)
{
    bail_null(action);
    iptrack_busy_scope busy;
    for (iptrack_mgr *mgr = iptrack_g.mgrs.head; mgr != nullptr; mgr = mgr->link.next) {
        if (mgr->removed || (mgr->flags & iptrack_mf_disabled) || mgr->status == 1 ||
            mgr->dn_action != action)
            continue;
        for (iptrack_op_request *req = mgr->requests.head; req != nullptr; req = req->link.next) {
            if (iptrack_exiting()) return 0;
            iptrack_oper *oper = iptrack_find_oper_entry(req->oper_name);
            if (oper == nullptr) continue;
            mgr->alarm_flags |= iptrack_maf_revert;
            (void)iptrack_mgr_send_action_request(mgr, oper);
        }
    }
    return 0;
}

int iptrack_mgr_clean(iptrack_mgr *mgr)
{
    bail_null(mgr);
    iptrack_busy_scope busy;
    bool reverted = false;
    // Each request leaves the list before anything is sent for it, so the
    // list is whole whenever a nested pass looks at it.
    while (iptrack_op_request *req = mgr->requests.head) {
        iptrack_list_unlink(&mgr->requests, req);
        std::unique_ptr<iptrack_op_request> gone{req};
        if (iptrack_exiting()) continue;
        iptrack_oper *oper = iptrack_find_oper_entry(req->oper_name);
        if (oper == nullptr) continue;
        revert_once("iptrack_mgr_reset", mgr, oper, &reverted);
        if (!oper->stop_sent && is_monitor_type(oper)) {
            if (iptrack_send_oper_delete(oper) == 0)
                oper->stop_sent = 1;
            else
                log_stop_failure(__func__, oper, mgr);
        }
        clear_monitor_down(mgr, oper);
        clear_not_installed(mgr);
        clear_dns(mgr);
        if (oper->state_flags & iptrack_os_deleted) {
            char name[iptrack_name_size];
            iptrack_copy_name(name, oper->name);
            (void)iptrack_delete_oper_entry(name);
        }
    }
    (void)iptrack_mgr_rmv_action(mgr, true);
    (void)iptrack_mgr_rmv_action(mgr, false);
    if (!(mgr->flags & iptrack_mf_disabled) && !iptrack_exiting())
        (void)iptrack_mgr_rtlabel_unconfigured(mgr);
    return 0;
}

int iptrack_mgr_admin_down(iptrack_mgr *mgr)
{
    bail_null(mgr);
    iptrack_busy_scope busy;
    mgr->flags &= static_cast<uint8>(~iptrack_mf_admin_down_pending);
    if (!(mgr->flags & iptrack_mf_disabled)) {
        lc_log_basic(LCL_NOTICE, "%s: mgr %s no longer disabled - abort", __func__, mgr->name);
        return 0;
    }
    int err = 0;
    bool reverted = false;
    for (iptrack_op_request *req = mgr->requests.head; req != nullptr; req = req->link.next) {
        if (iptrack_exiting()) return 0;
        iptrack_oper *oper = iptrack_find_oper_entry(req->oper_name);
        if (oper == nullptr) continue;
        revert_once("iptrack_mgr_reset", mgr, oper, &reverted);
        if (is_monitor_type(oper)) {
            err = iptrack_send_oper_delete(oper);
            if (err != 0) log_stop_failure(__func__, oper, mgr);
        }
        clear_monitor_down(mgr, oper);
        clear_dns(mgr);
        clear_not_installed(mgr);
    }
    return err;
}
