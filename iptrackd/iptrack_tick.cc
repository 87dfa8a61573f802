// The engine tick, every 1000 ms: wait for the peer daemons, go active and
// attach the shared tables, re-resolve labels, tunnels and interfaces that
// changed, re-parse what the intake marked, carry out manager deletes,
// enables and admin downs, run the due operations and evaluate their
// results, then re-arm.
//
// The tick runs only at the engine's top level: should its timer fire
// inside a nested loop pass of another engine call, it only re-arms.  While
// it runs it holds the busy scope, so nothing it holds is freed under it;
// an entry whose reparse mark was set again by the intake during the parse
// (its generation moved) keeps the mark for the next tick.  Once the exit
// has begun the tick stops at the next step quietly.
#include <unistd.h>

#include <cstring>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "iptrackd_mgmt.h"
#include "log/logging.h"
#include "mgmt/mdc_main.h"
#include "util/tstring.h"

namespace
{

constexpr const char *tunneld_alive_node = "/qz/tunneld/system/state/is_alive";
constexpr const char *sysd_alive_node = "/qz/sysd/system/state/is_alive";
constexpr const char *redd_alive_node = "/qz/redd/state/is_alive";
constexpr const char *sysd_pid_file = "/var/run/sysd.pid";

// Reads a peer's is_alive node; true when it says "Ready".  A failed read
// is logged through the bail convention and counts as not ready.
bool peer_is_ready(const char *node, const char *line)
{
    tstring *raw = nullptr;
    tbool found = 0;
    const int err =
        mdc_get_binding_tstr(iptrackd_mcc, nullptr, nullptr, &found, &raw, node, nullptr);
    owned<tstring> value{raw};
    if (err != 0) {
        lc_bail_report_error(err, "iptrack_are_clients_ready", __FILE__, __LINE__);
        return false;
    }
    const char *text = value ? ts_str(value.get()) : "";
    lc_log_basic(LCL_NOTICE, line, text);
    return strcmp(text, "Ready") == 0;
}

uint32 read_sysd_pid()
{
    uint32 pid = 0;
    if (lc_get_process_id("sysd", sysd_pid_file, &pid) != 0) return 0;
    return pid;
}

void attach_until_present(const char *name, const cmem_block **slot)
{
    while (*slot == nullptr && !iptrack_exiting()) {
        if (cmem_attach_block_read_only(name, slot) == 0) break;
        *slot = nullptr;
        sleep(1);
    }
}

void go_active()
{
    lc_log_basic(LCL_NOTICE, "%s: client processes are ready - going Active", "iptrack_req_expire");
    iptrack_g.state = iptrack_state_active;
    attach_until_present(QZ_SHM_L3IF, &iptrack_g.l3if_table);
    attach_until_present(QZ_SHM_IFLABEL, &iptrack_g.iflabel_table);
    attach_until_present(QZ_SHM_RTLABEL, &iptrack_g.rtlabel_table);
    (void)ipsla_probes_attach();
    if (iptrack_g.alarm_hier_table == nullptr &&
        cmem_attach_block_read_only(QZ_SHM_ALARM_HIER, &iptrack_g.alarm_hier_table) != 0)
        iptrack_g.alarm_hier_table = nullptr;
    if (iptrack_g.tunnel_table == nullptr &&
        cmem_attach_block_read_only(QZ_SHM_TUNNEL, &iptrack_g.tunnel_table) != 0)
        iptrack_g.tunnel_table = nullptr;
}

// Stops the ping or HTTP monitor of an operation whose ports or tunnel are
// about to be re-resolved.
int stop_for_reresolve(const char *func, iptrack_oper *oper)
{
    if (oper->stop_sent) return 0;
    if (oper->type != iptrack_oper_ip && oper->type != iptrack_oper_http) return 0;
    const int err = iptrack_send_oper_delete(oper);
    if (err == 0)
        oper->stop_sent = 1;
    else
        lc_log_basic(LCL_ERR, "%s: could not send delete request for oper %s, label %s", func,
                     oper->name, oper->label);
    return err;
}

int iptrack_update_labels()
{
    lc_log_basic(LCL_NOTICE, "%s updating labels", __func__);
    uint32 processed = 0;
    int err = 0;
    for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed || !(o->state_flags & iptrack_os_label_based)) continue;
        (void)stop_for_reresolve(__func__, o);
        if (iptrack_exiting()) return 0;
        iptrack_free_ports(&o->ports);
        err = ip_track_add_ports_from_oper_label(o);
        if (err != 0)
            lc_log_basic(LCL_WARNING, "%s: failure processing ports for oper %s label %s", __func__,
                         o->name, o->label);
        ++processed;
    }
    for (iptrack_action *a = iptrack_g.actions.head; a != nullptr; a = a->link.next) {
        if (a->removed || !(a->flags & iptrack_af_label_based)) continue;
        iptrack_free_ports(&a->ports);
        err = ip_track_add_ports_from_action_label(a);
        if (err != 0)
            lc_log_basic(LCL_WARNING, "%s: failure processing ports for action %s label %s",
                         __func__, a->name, a->label_or_alias);
        ++processed;
    }
    lc_log_basic(LCL_NOTICE, "%s: total labels processed = %u", __func__, processed);
    return err;
}

int iptrack_update_tunnels()
{
    uint32 processed = 0;
    int err = 0;
    for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed || !(o->state_flags & iptrack_os_tunnel_changed)) continue;
        (void)stop_for_reresolve(__func__, o);
        if (iptrack_exiting()) return 0;
        char alias[iptrack_name_size];
        iptrack_copy_name(alias, o->tunnel_alias);
        err = iptrack_add_oper_tunnel(o, alias);
        if (err == 0)
            o->state_flags &= static_cast<uint8>(~iptrack_os_tunnel_changed);
        else
            lc_log_basic(LCL_WARNING, "%s: failure processing tunnel for oper %s tunnel %s",
                         __func__, o->name, alias);
        ++processed;
    }
    lc_log_basic(LCL_NOTICE, "%s: total tunnels processed = %u", __func__, processed);
    return err;
}

bool is_active(const iptrack_oper *oper)
{
    constexpr uint8 both = iptrack_os_port_active | iptrack_os_tunnel_active;
    return (oper->state_flags & both) == both;
}

void reparse_pending()
{
    for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed || !(o->state_flags & iptrack_os_cfg_pending)) continue;
        lc_log_basic(LCL_INFO, "%s: pending cfg change for %s..", "iptrack_req_expire", o->name);
        const uint32 gen = o->cfg_gen;
        (void)iptrack_set_oper_attribs(o);
        if (o->cfg_gen == gen) o->state_flags &= static_cast<uint8>(~iptrack_os_cfg_pending);
        if (iptrack_exiting()) return;
    }
    for (iptrack_action *a = iptrack_g.actions.head; a != nullptr; a = a->link.next) {
        if (a->removed || !(a->flags & iptrack_af_label_pending)) continue;
        const uint32 gen = a->cfg_gen;
        (void)iptrack_set_action_attribs(a);
        if (a->cfg_gen == gen) a->flags &= static_cast<uint8>(~iptrack_af_label_pending);
        if (iptrack_exiting()) return;
    }
}

void process_mgr_changes()
{
    for (iptrack_mgr *m = iptrack_g.mgrs.head; m != nullptr && !iptrack_exiting();
         m = m->link.next) {
        if (m->removed) continue;
        if (m->flags & iptrack_mf_deleted) {
            lc_log_basic(LCL_NOTICE, "%s: process delete for mgr %s now", "iptrack_req_expire",
                         m->name);
            iptrack_remove_mgr(m); // hidden now, freed when the tick lets go
            if (!(m->flags & iptrack_mf_disabled) && iptrack_g.enabled_mgrs > 0)
                --iptrack_g.enabled_mgrs;
            (void)iptrack_mgr_clean(m);
            continue;
        }
        if (!(m->flags & iptrack_mf_disabled)) {
            if (m->flags & iptrack_mf_attribs_changed) {
                const uint32 gen = m->cfg_gen;
                (void)iptrack_set_mgr_attribs(m);
                if (m->cfg_gen == gen) m->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
                if (m->rtlabel_id != 0) m->flags |= iptrack_mf_rtlabel_pending;
            }
            if (m->rtlabel_id != 0 && m->cfg_rtlabel_id != m->rtlabel_id) {
                if (iptrack_mgr_determine_rtlabel_status(
                        m->rtlabel_id, iptrack_rtlabel_is_and_mode(m->rtlabel_id), m) != 0)
                    lc_log_basic(LCL_ERR, "%s: Updating route label ID %u failed",
                                 "iptrack_req_expire", m->rtlabel_id);
                if (m->cfg_rtlabel_id != 0) m->flags |= iptrack_mf_rtlabel_pending;
            }
            m->rtlabel_id = m->cfg_rtlabel_id;
        } else if (m->flags & iptrack_mf_admin_down_pending) {
            (void)iptrack_mgr_admin_down(m);
            (void)iptrack_mgr_rtlabel_unconfigured(m);
            m->flags &= static_cast<uint8>(~iptrack_mf_rtlabel_pending);
            m->rtlabel_id = m->cfg_rtlabel_id;
        }
    }
}

void run_due_requests(uint32 now)
{
    for (iptrack_mgr *m = iptrack_g.mgrs.head; m != nullptr; m = m->link.next) {
        if (m->removed) continue;
        for (iptrack_op_request *r = m->requests.head; r != nullptr; r = r->link.next) {
            if (iptrack_exiting()) return;
            iptrack_oper *oper = iptrack_find_oper_entry(r->oper_name);
            if (oper == nullptr) {
                lc_log_basic(LCL_NOTICE, "%s: monitor %s not found for mgr %s",
                             "iptrack_req_expire", r->oper_name, m->name);
                r->due_s = now + iptrack_default_due_s;
                continue;
            }
            if (oper->state_flags & iptrack_os_reparsed) {
                (void)iptrack_mgr_reset(m, false);
                oper->state_flags &= static_cast<uint8>(~iptrack_os_reparsed);
            } else if (now < r->due_s) {
                continue;
            }
            if (!is_active(oper)) {
                iptrack_mgr_not_installed(m, r, oper);
                continue;
            }
            if (m->alarm_flags & iptrack_maf_not_installed) {
                (void)iptrack_send_not_installed_alarm(m, false);
                m->alarm_flags &= static_cast<uint8>(~iptrack_maf_not_installed);
            }
            const int err = iptrack_mgr_send_operation_request(oper, r, m);
            r->due_s = now + m->interval_s;
            if (err == 0) {
                r->flags &= static_cast<uint8>(~iptrack_rf_not_sent);
                lc_log_basic(LCL_INFO,
                             "%s: executed tracking monitor %s result %s for mgr %s, port "
                             "active %d",
                             "iptrack_req_expire", oper->name, r->result ? "True" : "False",
                             m->name, (oper->state_flags & iptrack_os_port_active) ? 1 : 0);
            } else if (!iptrack_exiting()) {
                lc_log_basic(LCL_ERR, "%s: an monitor request event failed for mgr %s",
                             "iptrack_req_expire", m->name);
            }
        }
    }
}

void evaluate_all()
{
    for (iptrack_mgr *m = iptrack_g.mgrs.head; m != nullptr && !iptrack_exiting();
         m = m->link.next) {
        if (m->removed || (m->flags & iptrack_mf_disabled)) continue;
        iptrack_mgr_evaluate(m);
    }
}

void rearm()
{
    if (iptrack_g.timer == nullptr || iptrackd_lwc == nullptr) return;
    if (lew_event_reschedule_timeout(iptrackd_lwc, &iptrack_g.timer, iptrack_tick_ms) != 0)
        lc_log_basic(LCL_ERR, "%s: IP Tracking timer restart failed", "iptrack_req_expire");
}

void tick()
{
    if (!iptrack_are_clients_ready()) {
        if (!iptrack_exiting())
            lc_log_basic(LCL_NOTICE,
                         "%s: Client processes still initializing - pend monitors for now",
                         "iptrack_req_expire");
        return;
    }
    if (iptrack_g.state == iptrack_state_waiting) go_active();

    if (iptrack_g.change_flags & iptrack_chg_label) {
        lc_log_basic(LCL_NOTICE, "%s: interface label cfg has changed - update labels",
                     "iptrack_req_expire");
        if (iptrack_update_labels() != 0)
            lc_log_basic(LCL_ERR, "%s: label update failed", "iptrack_req_expire");
        iptrack_g.change_flags &= static_cast<uint8>(~iptrack_chg_label);
    }
    if (iptrack_exiting()) return;
    if (iptrack_g.change_flags & iptrack_chg_tunnel) {
        lc_log_basic(LCL_NOTICE, "%s: tunnel cfg has changed ", "iptrack_req_expire");
        if (iptrack_update_tunnels() != 0)
            lc_log_basic(LCL_ERR, "%s: tunnel update failed", "iptrack_req_expire");
        iptrack_g.change_flags &= static_cast<uint8>(~iptrack_chg_tunnel);
    }
    if (iptrack_exiting()) return;
    if (iptrack_g.change_flags & iptrack_chg_if_or_tunnel) {
        lc_log_basic(LCL_NOTICE, "%s an interface has been updated in l3mgr", "iptrack_req_expire");
        for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next)
            if (!o->removed && !is_active(o)) {
                o->state_flags |= iptrack_os_cfg_pending;
                ++o->cfg_gen;
            }
        iptrack_g.change_flags &= static_cast<uint8>(~iptrack_chg_if_or_tunnel);
    }
    reparse_pending();
    if (iptrack_exiting()) return;
    process_mgr_changes();
    if (iptrack_exiting()) return;
    run_due_requests(iptrack_now_s());
    if (iptrack_exiting()) return;
    evaluate_all();
}

} // namespace

bool iptrack_are_clients_ready()
{
    constexpr uint8 all =
        iptrack_chg_tunneld_ready | iptrack_chg_sysd_ready | iptrack_chg_redd_ready;
    uint8 &flags = iptrack_g.change_flags;
    if (!(flags & iptrack_chg_tunneld_ready)) {
        if (peer_is_ready(tunneld_alive_node, "Tunneld proc state is %s"))
            flags |= iptrack_chg_tunneld_ready;
        if (iptrack_exiting()) return false;
    }
    if (flags & iptrack_chg_sysd_ready) {
        if (read_sysd_pid() != iptrack_g.sysd_pid) {
            // A restarted system daemon: wait for it, then process labels,
            // tunnels and interfaces again.
            flags &= static_cast<uint8>(~iptrack_chg_sysd_ready);
            flags |= iptrack_chg_label | iptrack_chg_tunnel | iptrack_chg_if_or_tunnel;
        }
    } else if (peer_is_ready(sysd_alive_node, "Sysd proc state is %s")) {
        const uint32 pid = read_sysd_pid();
        if (pid != 0) {
            iptrack_g.sysd_pid = pid;
            flags |= iptrack_chg_sysd_ready;
        }
    }
    if (iptrack_exiting()) return false;
    if (!(flags & iptrack_chg_redd_ready)) {
        if (peer_is_ready(redd_alive_node, "Redd proc state is %s"))
            flags |= iptrack_chg_redd_ready;
    }
    return (flags & all) == all;
}

int iptrack_req_expire()
{
    if (iptrack_busy() == 0) {
        iptrack_busy_scope busy;
        tick();
    }
    rearm();
    return 0;
}
