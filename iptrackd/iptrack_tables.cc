// The engine's three tables: creation, lookup and removal of entries, the
// uses of labels, tunnels and interfaces, the change notifications, and the
// re-entrancy guard.
//
// Removal is where re-entrancy bites: every send runs nested loop passes in
// which the configuration intake may delete what the tick is holding.  So
// an entry removed while the engine is busy is only hidden (its `removed`
// mark makes every lookup and walk skip it, and it no longer counts); it
// stays linked, with its ports and requests, until the outermost
// iptrack_busy_scope lets go and iptrack_reap frees it.  Outside a busy
// scope removal frees at once.
#include <strings.h>

#include <cstring>
#include <new>

#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "log/logging.h"
#include "util/ttime.h"

iptrack_globals iptrack_g;

namespace
{

template <class T> void reset_list(iptrack_list<T> *list)
{
    *list = iptrack_list<T>{};
    list->tail = &list->head;
}

void free_oper(iptrack_oper *oper)
{
    iptrack_free_ports(&oper->ports);
    delete oper;
}

void free_action(iptrack_action *action)
{
    iptrack_free_ports(&action->ports);
    delete action;
}

void free_mgr(iptrack_mgr *mgr)
{
    iptrack_list_clear(&mgr->requests);
    delete mgr;
}

// Hides `entry` and uncounts it; frees it now unless the engine is busy.
template <class T> void remove_entry(iptrack_list<T> *list, T *entry, void (*free_fn)(T *))
{
    if (iptrack_g.busy_depth == 0) {
        iptrack_list_unlink(list, entry);
        free_fn(entry);
        return;
    }
    entry->removed = 1;
    if (list->count > 0) --list->count;
    ++iptrack_g.removed;
}

template <class T> void reap_list(iptrack_list<T> *list, void (*free_fn)(T *))
{
    T *entry = list->head;
    while (entry != nullptr) {
        T *next = entry->link.next;
        if (entry->removed) {
            ++list->count; // it was uncounted when it was removed
            iptrack_list_unlink(list, entry);
            free_fn(entry);
        }
        entry = next;
    }
}

template <class T> void free_list(iptrack_list<T> *list, void (*free_fn)(T *))
{
    T *entry = list->head;
    while (entry != nullptr) {
        T *next = entry->link.next;
        free_fn(entry);
        entry = next;
    }
    reset_list(list);
}

// Names are compared as stored: cut to 63 characters, case-sensitive.
bool name_is(const char *stored, const char *key)
{
    return strncmp(stored, key, iptrack_name_size - 1) == 0;
}

template <class T> T *find_in(const iptrack_list<T> &list, const char *name)
{
    for (T *e = list.head; e != nullptr; e = e->link.next)
        if (!e->removed && name_is(e->name, name)) return e;
    return nullptr;
}

int tick_handler(int, lew_event_type, void *, lew_context *)
{
    return iptrack_req_expire();
}

} // namespace

void iptrack_copy_text(char *dst, uint32 size, const char *src)
{
    if (size == 0) return;
    if (src == nullptr) src = "";
    const size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

void iptrack_copy_name(char *dst, const char *src)
{
    iptrack_copy_text(dst, iptrack_name_size, src);
}

uint32 iptrack_now_s()
{
    return static_cast<uint32>(lt_sys_uptime_ms() / 1000);
}

uint32 iptrack_now_ms()
{
    return static_cast<uint32>(lt_sys_uptime_ms());
}

iptrack_busy_scope::iptrack_busy_scope()
{
    ++iptrack_g.busy_depth;
}

iptrack_busy_scope::~iptrack_busy_scope()
{
    if (--iptrack_g.busy_depth == 0) iptrack_reap();
}

bool iptrack_exiting()
{
    return iptrackd_exiting != 0;
}

uint32 iptrack_busy()
{
    return iptrack_g.busy_depth;
}

void iptrack_reap()
{
    if (iptrack_g.busy_depth != 0 || iptrack_g.removed == 0) return;
    reap_list(&iptrack_g.opers, free_oper);
    reap_list(&iptrack_g.actions, free_action);
    reap_list(&iptrack_g.mgrs, free_mgr);
    iptrack_g.removed = 0;
}

int iptrack_init()
{
    // Tables left by an earlier run (tests start the engine many times).
    free_list(&iptrack_g.opers, free_oper);
    free_list(&iptrack_g.actions, free_action);
    free_list(&iptrack_g.mgrs, free_mgr);
    iptrack_g = iptrack_globals{};
    reset_list(&iptrack_g.opers);
    reset_list(&iptrack_g.actions);
    reset_list(&iptrack_g.mgrs);
    iptrack_g.state = iptrack_state_initializing;
    lc_log_basic(LCL_NOTICE, "%s: initialize tables and start the req timer", __func__);
    return 0;
}

int iptrack_post_init()
{
    iptrack_g.state = iptrack_state_waiting;
    const int err = iptrackd_lwc == nullptr
                        ? lc_err_unexpected_null
                        : lew_event_reg_timer(iptrackd_lwc, &iptrack_g.timer, tick_handler, nullptr,
                                              iptrack_tick_ms);
    if (err != 0) {
        lc_log_basic(LCL_ERR, "%s: IP track timer creation failed", __func__);
        return err;
    }
    return 0;
}

void iptrack_deinit()
{
    if (iptrack_g.timer != nullptr && iptrackd_lwc != nullptr)
        (void)lew_event_delete(iptrackd_lwc, &iptrack_g.timer);
    iptrack_g.timer = nullptr;
    free_list(&iptrack_g.opers, free_oper);
    free_list(&iptrack_g.actions, free_action);
    free_list(&iptrack_g.mgrs, free_mgr);
    iptrack_g.removed = 0;
    iptrack_g.state = iptrack_state_none;
}

iptrack_oper *iptrack_find_oper_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    return find_in(iptrack_g.opers, name);
}

iptrack_action *iptrack_find_action_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    iptrack_action *action = find_in(iptrack_g.actions, name);
    if (action != nullptr)
        lc_log_basic(LCL_NOTICE, "%s: found action entry %s in table", __func__, action->name);
    return action;
}

iptrack_mgr *iptrack_find_mgr_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    iptrack_mgr *mgr = find_in(iptrack_g.mgrs, name);
    if (mgr != nullptr)
        lc_log_basic(LCL_NOTICE, "%s: found mgr entry %s in table", __func__, mgr->name);
    return mgr;
}

iptrack_oper *iptrack_get_oper_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    if (iptrack_oper *oper = iptrack_find_oper_entry(name)) {
        oper->state_flags &= static_cast<uint8>(~iptrack_os_deleted);
        return oper;
    }
    lc_log_basic(LCL_NOTICE, "%s: oper %s is new - add it to the table", __func__, name);
    auto *oper = new (std::nothrow) iptrack_oper{};
    if (oper == nullptr) return nullptr;
    iptrack_copy_name(oper->name, name);
    oper->ka = 1;
    oper->up_thresh = 3;
    oper->dn_thresh = 30;
    oper->sample_int = 300;
    oper->metric_flags = iptrack_metric_or;
    oper->state_flags = iptrack_os_tunnel_active;
    oper->ports.tail = &oper->ports.head;
    iptrack_list_append(&iptrack_g.opers, oper);
    return oper;
}

iptrack_action *iptrack_get_action_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    if (iptrack_action *action = iptrack_find_action_entry(name)) {
        action->flags &= static_cast<uint8>(~iptrack_af_delete_pending);
        return action;
    }
    lc_log_basic(LCL_NOTICE, "%s: action %s is new - add it to the table", __func__, name);
    auto *action = new (std::nothrow) iptrack_action{};
    if (action == nullptr) return nullptr;
    iptrack_copy_name(action->name, name);
    action->ports.tail = &action->ports.head;
    iptrack_list_append(&iptrack_g.actions, action);
    return action;
}

iptrack_mgr *iptrack_get_mgr_entry(const char *name)
{
    if (name == nullptr) return nullptr;
    if (iptrack_mgr *mgr = iptrack_find_mgr_entry(name)) {
        mgr->flags &= static_cast<uint8>(~iptrack_mf_deleted);
        return mgr;
    }
    lc_log_basic(LCL_NOTICE, "%s: mgr %s is new - add it to the table", __func__, name);
    auto *mgr = new (std::nothrow) iptrack_mgr{};
    if (mgr == nullptr) return nullptr;
    iptrack_copy_name(mgr->name, name);
    mgr->interval_s = iptrack_default_interval_s;
    mgr->requests.tail = &mgr->requests.head;
    iptrack_list_append(&iptrack_g.mgrs, mgr);
    ++iptrack_g.enabled_mgrs;
    return mgr;
}

int iptrack_delete_oper_entry(const char *name)
{
    lc_log_basic(LCL_NOTICE, "%s: deleting operation %s", __func__, name ? name : "");
    iptrack_oper *oper = iptrack_find_oper_entry(name);
    if (oper == nullptr) {
        lc_log_basic(LCL_NOTICE, "%s: entry %s was not found in the table", __func__,
                     name ? name : "");
        return 0;
    }
    lc_log_basic(LCL_NOTICE, "%s: found and marked entry %s deleted", __func__, oper->name);
    // The slots go back at once: the block's owner may hand them out again.
    (void)iptrack_cloudpath_delete_probes(oper);
    remove_entry(&iptrack_g.opers, oper, free_oper);
    return 0;
}

int iptrack_delete_action_entry(const char *name)
{
    lc_log_basic(LCL_NOTICE, "%s: deleting action %s", __func__, name ? name : "");
    iptrack_action *action = iptrack_find_action_entry(name);
    if (action == nullptr) {
        lc_log_basic(LCL_NOTICE, "%s: entry %s was not found in the table", __func__,
                     name ? name : "");
        return 0;
    }
    if (action->users > 0) {
        action->flags |= iptrack_af_delete_pending;
        lc_log_basic(LCL_NOTICE, "%s: cannot delete %s because still used by %u mgrs", __func__,
                     action->name, static_cast<unsigned>(action->users));
        return 0;
    }
    if (action->type == iptrack_action_subnet_metric) {
        const uint32 total = iptrack_g.metric_total;
        iptrack_g.metric_total = total > action->metric_delta ? total - action->metric_delta : 0;
        lc_log_basic(LCL_DEBUG, "%s %d cur value %d, minus delta %d\n", __func__, __LINE__,
                     static_cast<int>(total), static_cast<int>(action->metric_delta));
    }
    lc_log_basic(LCL_NOTICE, "%s: found and deleted entry %s", __func__, action->name);
    remove_entry(&iptrack_g.actions, action, free_action);
    return 0;
}

int iptrack_delete_mgr_entry(const char *name)
{
    lc_log_basic(LCL_NOTICE, "%s: deleting manager %s", __func__, name ? name : "");
    iptrack_mgr *mgr = iptrack_find_mgr_entry(name);
    if (mgr == nullptr) {
        lc_log_basic(LCL_NOTICE, "%s: entry %s was not found in the table", __func__,
                     name ? name : "");
        return 0;
    }
    mgr->flags |= iptrack_mf_deleted;
    lc_log_basic(LCL_NOTICE, "%s: found and marked entry %s deleted", __func__, mgr->name);
    return 0;
}

void iptrack_remove_mgr(iptrack_mgr *mgr)
{
    remove_entry(&iptrack_g.mgrs, mgr, free_mgr);
}

void iptrack_oper_set_new_attribs(iptrack_oper *oper, const char *attribs)
{
    if (oper == nullptr) return;
    iptrack_copy_text(oper->new_attribs, iptrack_attribs_size, attribs);
    oper->state_flags &= static_cast<uint8>(~iptrack_os_deleted);
    oper->state_flags |= iptrack_os_cfg_pending;
    ++oper->cfg_gen;
}

void iptrack_oper_mark_deleted(iptrack_oper *oper)
{
    if (oper != nullptr) oper->state_flags |= iptrack_os_deleted;
}

void iptrack_action_set_attribs(iptrack_action *action, const char *attribs)
{
    if (action == nullptr) return;
    iptrack_copy_text(action->attribs, iptrack_attribs_size, attribs);
    action->flags &= static_cast<uint8>(~iptrack_af_delete_pending);
    action->flags |= iptrack_af_label_pending;
    ++action->cfg_gen;
}

void iptrack_mgr_set_attribs(iptrack_mgr *mgr, const char *attribs)
{
    if (mgr == nullptr) return;
    iptrack_copy_text(mgr->attribs, iptrack_attribs_size, attribs);
    mgr->flags &= static_cast<uint8>(~iptrack_mf_deleted);
    mgr->flags |= iptrack_mf_attribs_changed;
    ++mgr->cfg_gen;
}

void iptrack_mgr_set_note(iptrack_mgr *mgr, const char *comment)
{
    if (mgr == nullptr) return;
    char cut[iptrack_note_comment_max + 1];
    iptrack_copy_text(cut, sizeof cut, comment);
    snprintf(mgr->note, sizeof mgr->note, "%s%s", iptrack_note_prefix, cut);
}

void iptrack_mgr_set_configured_rtlabel(iptrack_mgr *mgr, uint32 label_id)
{
    if (mgr == nullptr) return;
    mgr->cfg_rtlabel_id = label_id;
    mgr->flags |= iptrack_mf_rtlabel_pending;
}

// ---------------------------------------------------------------------------
// Uses and notifications

bool iptrack_is_tunnel_in_use(const char *name)
{
    if (name == nullptr) return false;
    bool used = false;
    for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed) continue;
        if ((o->tunnel_name[0] != '\0' && name_is(o->tunnel_name, name)) ||
            (o->tunnel_alias[0] != '\0' && name_is(o->tunnel_alias, name))) {
            o->state_flags |= iptrack_os_tunnel_changed;
            used = true;
        }
    }
    return used;
}

bool iptrack_is_label_in_use(const char *label)
{
    if (label == nullptr) return false;
    bool used = false;
    for (iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed || !(o->state_flags & iptrack_os_label_based)) continue;
        if (strncmp(o->label, label, iptrack_label_size - 1) == 0) {
            o->state_flags |= iptrack_os_cfg_pending;
            ++o->cfg_gen;
            used = true;
        }
    }
    for (iptrack_action *a = iptrack_g.actions.head; a != nullptr; a = a->link.next) {
        if (a->removed || !(a->flags & iptrack_af_label_based)) continue;
        if (strncmp(a->label_or_alias, label, iptrack_label_size - 1) == 0) {
            a->flags |= iptrack_af_label_pending;
            ++a->cfg_gen;
            used = true;
        }
    }
    return used;
}

bool iptrack_is_ifname_in_use(const char *ifname)
{
    if (ifname == nullptr) return false;
    for (const iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next) {
        if (o->removed) continue;
        for (const iptrack_port *p = o->ports.head; p != nullptr; p = p->link.next)
            if (strncmp(p->name, ifname, iptrack_ifname_size - 1) == 0) return true;
    }
    for (const iptrack_action *a = iptrack_g.actions.head; a != nullptr; a = a->link.next) {
        if (a->removed || a->ports.head == nullptr) continue;
        if (strncmp(a->ports.head->name, ifname, iptrack_ifname_size - 1) == 0) return true;
    }
    return false;
}

bool iptrack_monitor_pending_port_active()
{
    for (const iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next)
        if (!o->removed && !(o->state_flags & iptrack_os_port_active)) return true;
    return false;
}

bool iptrack_monitor_pending_tunnel_active()
{
    for (const iptrack_oper *o = iptrack_g.opers.head; o != nullptr; o = o->link.next)
        if (!o->removed && !(o->state_flags & iptrack_os_tunnel_active)) return true;
    return false;
}

void iptrack_notify_label_chg()
{
    iptrack_g.change_flags |= iptrack_chg_label;
}

void iptrack_notify_tunnel_chg()
{
    iptrack_g.change_flags |= iptrack_chg_tunnel;
}

void iptrack_notify_if_or_tunnel_change()
{
    iptrack_g.change_flags |= iptrack_chg_if_or_tunnel;
}

uint16 iptrack_get_num_mgrs()
{
    return static_cast<uint16>(iptrack_g.mgrs.count);
}
