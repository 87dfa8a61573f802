// The tracking engine's records and the operations its modules share.
//
// Three tables of entries (operations, actions, managers), each a doubly
// linked list in creation order: an entry starts with `next` and a back link
// to the previous entry's `next` (or the head), so it unlinks itself in
// constant time.  The tables own their entries; an entry owns its port list;
// a manager owns its operation-request list.  Names are cut to 63 characters
// when stored, and lookup keys are cut the same way.
//
// The engine is split by concern, one module per file:
//   iptrack_tables.cc     tables, lookups, create/delete, uses, notifies
//   iptrack_grammar.cc    the three attribute grammars
//   iptrack_ports.cc      ports, labels, bridges and tunnels of an entry
//   iptrack_tick.cc       the engine tick
//   iptrack_mgr.cc        reset, revert, clean, admin down, enable/disable,
//                         binding actions to managers
//   iptrack_probe.cc      the four probe requests and one operation's run
//   iptrack_status.cc     status evaluation, choice and sending of actions,
//                         route labels
//   iptrack_actions.cc    the four action senders
//   iptrack_alarm.cc      the three alarms and their texts
//   iptrack_show.cc       show and summary records
//   iptrack_cloudpath.cc  cloud path probe slots
//
// Re-entrancy: every send runs nested loop passes in which configuration
// changes and queries are served.  Entries are therefore never freed while
// an engine function may hold them: removal unlinks nothing and frees
// nothing while iptrack_busy() is non-zero; the entry is marked and its
// memory reclaimed at the next safe point (iptrack_reap), run when the
// outermost engine entry point returns.  Attribute strings are parsed from
// a copy, and lists are never left half-edited across a send.
#pragma once

#include "iptrack.h"
#include "log/common.h"

// Limits of the records (visible in records, logs and show output).
constexpr uint32 iptrack_name_size = 64; // names, 63 characters
constexpr uint32 iptrack_ifname_size = 16;
constexpr uint32 iptrack_label_size = 16;
constexpr uint32 iptrack_attribs_size = 1024;
constexpr uint32 iptrack_targets_size = 256;
constexpr uint32 iptrack_proxy_size = 50;
constexpr uint32 iptrack_user_agent_size = 50;
constexpr uint32 iptrack_probe_num_size = 256;
constexpr uint32 iptrack_action_label_size = 256;
constexpr uint32 iptrack_alarm_text_size = 372;
constexpr uint32 iptrack_note_size = 74;
constexpr uint32 iptrack_note_comment_max = 65;
constexpr const char *iptrack_note_prefix = "IPSLA:";
constexpr uint32 iptrack_term_max = 289;
constexpr uint32 iptrack_key_max = 32;
constexpr uint32 iptrack_tick_ms = 1000;
constexpr uint32 iptrack_default_due_s = 30;
constexpr uint32 iptrack_default_interval_s = 30;

// Intrusive list links: `next`, and the address of the pointer that points
// at this entry (the previous entry's `next`, or the head).
template <class T> struct iptrack_link {
    T *next = nullptr;
    T **prev_next = nullptr;
};
// A list head with its tail, so that appends are constant time.
template <class T> struct iptrack_list {
    T *head = nullptr;
    T **tail = &head;
    uint32 count = 0;
};

// Appends `node` at the tail of `list` (constant time).
template <class T> void iptrack_list_append(iptrack_list<T> *list, T *node)
{
    node->link.next = nullptr;
    node->link.prev_next = list->tail;
    *list->tail = node;
    list->tail = &node->link.next;
    ++list->count;
}
// Unlinks `node` from `list` (constant time); the node is not freed.
template <class T> void iptrack_list_unlink(iptrack_list<T> *list, T *node)
{
    *node->link.prev_next = node->link.next;
    if (node->link.next != nullptr)
        node->link.next->link.prev_next = node->link.prev_next;
    else
        list->tail = node->link.prev_next;
    node->link.next = nullptr;
    node->link.prev_next = nullptr;
    if (list->count > 0) --list->count;
}
// Unlinks and deletes every node.
template <class T> void iptrack_list_clear(iptrack_list<T> *list)
{
    T *node = list->head;
    while (node != nullptr) {
        T *next = node->link.next;
        delete node;
        node = next;
    }
    *list = iptrack_list<T>{};
    list->tail = &list->head;
}

// Engine states.
enum iptrack_engine_state : uint8 {
    iptrack_state_none = 0,
    iptrack_state_initializing = 1,
    iptrack_state_waiting = 2,
    iptrack_state_active = 3,
};

// Change flags.
enum iptrack_change_flags : uint8 {
    iptrack_chg_label = 1 << 0,
    iptrack_chg_tunneld_ready = 1 << 1,
    iptrack_chg_sysd_ready = 1 << 2,
    iptrack_chg_redd_ready = 1 << 3,
    iptrack_chg_tunnel = 1 << 4,
    iptrack_chg_if_or_tunnel = 1 << 5,
};

// A port of an operation or an action.
struct iptrack_port {
    iptrack_link<iptrack_port> link;
    char name[iptrack_ifname_size];
    uint8 ip_version; // 4 or 6
};

// Operation types and subtypes.
enum iptrack_oper_type : uint16 {
    iptrack_oper_unset = 0,
    iptrack_oper_port = 1,
    iptrack_oper_ip = 2,
    iptrack_oper_vrrp = 3,
    iptrack_oper_http = 4,
};
enum iptrack_oper_subtype : uint16 {
    iptrack_subtype_ip = 1,
    iptrack_subtype_http = 2,
};
// Operation metric flags (sent as "metric_combination").
enum iptrack_metric_flags : uint8 {
    iptrack_metric_or = 1 << 0,
    iptrack_metric_and = 1 << 1,
    iptrack_metric_force_dns = 1 << 2,
};
// Operation state flags.
enum iptrack_oper_state_flags : uint8 {
    iptrack_os_label_based = 1 << 0,
    iptrack_os_reparsed = 1 << 1,
    iptrack_os_deleted = 1 << 2,
    iptrack_os_cfg_pending = 1 << 3,
    iptrack_os_requested = 1 << 4,
    iptrack_os_port_active = 1 << 5,
    iptrack_os_tunnel_changed = 1 << 6,
    iptrack_os_tunnel_active = 1 << 7,
};
// Operation probe state.
enum iptrack_probe_state : uint8 {
    iptrack_ps_v4_retired = 1 << 0,
    iptrack_ps_v6_retired = 1 << 1,
    iptrack_ps_v4_up = 1 << 2,
    iptrack_ps_v4_dns_ok = 1 << 3,
    iptrack_ps_v6_up = 1 << 4,
    iptrack_ps_v6_dns_ok = 1 << 5,
    iptrack_ps_result = 1 << 6,
    iptrack_ps_dns_ok = 1 << 7,
};

struct iptrack_oper {
    iptrack_link<iptrack_oper> link;
    iptrack_list<iptrack_port> ports;
    char name[iptrack_name_size];
    char label[iptrack_label_size];
    char tunnel_name[iptrack_name_size];
    char tunnel_alias[iptrack_name_size];
    char tunnel_src_port[iptrack_ifname_size];
    uint32 tunnel_id;
    uint16 type;
    uint16 subtype;
    uint16 ka;
    uint16 up_thresh;
    uint16 dn_thresh;
    uint16 sample_int;
    uint16 loss_up_thresh;
    uint16 loss_dn_thresh;
    uint32 rtt_up_thresh;
    uint32 rtt_dn_thresh;
    uint8 metric_flags;
    uint8 state_flags;
    uint8 probe_state;
    uint8 stop_sent;
    uint8 removed;  // hidden from lookups; freed by iptrack_reap
    uint32 cfg_gen; // bumped whenever the intake marks it for a reparse
    char attribs[iptrack_attribs_size];
    char new_attribs[iptrack_attribs_size];
    char targets[iptrack_targets_size];
    char proxy_addr[iptrack_proxy_size];
    uint16 proxy_port;
    char user_agent[iptrack_user_agent_size];
    uint16 http_timeout;
    char probe_num[iptrack_probe_num_size];
};

// Action types (the action code of a status change is the type).
enum iptrack_action_type : uint32 {
    iptrack_action_unset = 0,
    iptrack_action_vrrp_prio = 1,
    iptrack_action_vrrp_cfg = 2, // code only: the inverse of vrrp-prio
    iptrack_action_subnet_adv = 3,
    iptrack_action_subnet_rmv = 4,
    iptrack_action_subnet_share = 5,
    iptrack_action_subnet_metric = 6,
    iptrack_action_tun_up = 7,
    iptrack_action_tun_dn = 8,
};
// Action flags.
enum iptrack_action_flags : uint8 {
    iptrack_af_delete_pending = 1 << 0,
    iptrack_af_label_pending = 1 << 1,
    iptrack_af_label_based = 1 << 2,
    iptrack_af_prio_inc = 1 << 3,
    iptrack_af_prio_dec = 1 << 4,
    iptrack_af_applied = 1 << 5,
};

struct iptrack_action {
    iptrack_link<iptrack_action> link;
    iptrack_list<iptrack_port> ports;
    char name[iptrack_name_size];
    uint32 type;
    char label_or_alias[iptrack_action_label_size];
    uint32 metric_delta;
    uint8 flags;
    uint16 prio_delta;
    uint16 users;
    uint8 removed;
    uint32 cfg_gen;
    char attribs[iptrack_attribs_size];
};

// Operation request flags.
enum iptrack_req_flags : uint8 {
    iptrack_rf_new_result = 1 << 0,
    iptrack_rf_not_sent = 1 << 1,
};

// One `operation` term of a manager.
struct iptrack_op_request {
    iptrack_link<iptrack_op_request> link;
    char oper_name[iptrack_name_size];
    uint8 result; // 1 up (True), 0 down
    uint8 dns_ok;
    uint32 due_s; // seconds since boot of the next run
    uint32 runs;
    uint32 runs2;
    uint32 failures;
    uint8 flags;
};

// Manager flags.
enum iptrack_mgr_flags : uint8 {
    iptrack_mf_default_up = 1 << 0,
    iptrack_mf_disabled = 1 << 1,
    iptrack_mf_admin_down_pending = 1 << 2,
    iptrack_mf_deleted = 1 << 3,
    iptrack_mf_attribs_changed = 1 << 4,
    iptrack_mf_rtlabel_pending = 1 << 5,
    iptrack_mf_port_alarm = 1 << 6,
    iptrack_mf_tunnel_alarm = 1 << 7,
};
// Manager alarm flags.
enum iptrack_mgr_alarm_flags : uint8 {
    iptrack_maf_alarm_only = 1 << 0,
    iptrack_maf_revert = 1 << 1,
    iptrack_maf_not_installed = 1 << 2,
    iptrack_maf_dns = 1 << 3,
};

struct iptrack_mgr {
    iptrack_link<iptrack_mgr> link;
    char name[iptrack_name_size];
    iptrack_list<iptrack_op_request> requests;
    iptrack_action *up_action;
    iptrack_action *dn_action;
    uint32 interval_s;
    uint32 evaluations;
    uint32 status_changes;
    uint32 reset_time_ms;
    uint32 last_up_ms;
    uint32 last_dn_ms;
    uint32 rtlabel_id;
    uint32 cfg_rtlabel_id;
    uint8 status; // 1 up, 0 down
    uint8 dns_ok;
    uint8 flags;
    uint8 alarm_flags;
    uint8 removed;
    uint32 cfg_gen;
    char attribs[iptrack_attribs_size];
    char monitor_text[iptrack_alarm_text_size];
    char dns_alarm_text[iptrack_alarm_text_size];
    char note[iptrack_note_size];
};

// Alarm ids.
enum iptrack_alarm_id : uint32 {
    iptrack_alarm_not_installed = 262196,
    iptrack_alarm_dns = 262217,
    iptrack_alarm_port_down = 262189,
    iptrack_alarm_tunnel_down = 262249,
};

struct cmem_block;
struct lew_event;

// The engine's globals (one instance; iptrack_init zeroes them).
struct iptrack_globals {
    iptrack_list<iptrack_oper> opers;
    iptrack_list<iptrack_action> actions;
    iptrack_list<iptrack_mgr> mgrs;
    uint8 state;
    uint8 change_flags;
    uint8 enabled_mgrs;
    uint8 result_counter;
    uint32 metric_total;
    uint32 sysd_pid;
    const cmem_block *l3if_table;
    const cmem_block *iflabel_table;
    const cmem_block *rtlabel_table;
    const cmem_block *alarm_hier_table;
    const cmem_block *tunnel_table;
    lew_event *timer;  // the engine tick
    uint32 busy_depth; // nesting of iptrack_busy_scope
    uint32 removed;    // entries waiting for iptrack_reap
};
extern iptrack_globals iptrack_g;

// Seconds and milliseconds since boot, through the clock seam.
uint32 iptrack_now_s();
uint32 iptrack_now_ms();

// Re-entrancy guard: held by every engine entry point that may send.
// Removals requested while it is held are carried out by iptrack_reap when
// the outermost holder lets go.
struct iptrack_busy_scope {
    iptrack_busy_scope();
    ~iptrack_busy_scope();
    iptrack_busy_scope(const iptrack_busy_scope &) = delete;
    iptrack_busy_scope &operator=(const iptrack_busy_scope &) = delete;
};
uint32 iptrack_busy();
// Frees the entries removed while the engine was busy (no-op while busy).
void iptrack_reap();
// Copies a name cut to 63 characters (the rule for stored names and keys).
void iptrack_copy_name(char *dst, const char *src);
// Copies `src` into `dst` of `size` bytes, cut and NUL-terminated.
void iptrack_copy_text(char *dst, uint32 size, const char *src);

// True once the daemon's exit has begun: loops that send stop quietly.
bool iptrack_exiting();

// Removes a manager from the table (the tick's delete step): hidden and
// uncounted at once, freed now or, while the engine is busy, by iptrack_reap.
void iptrack_remove_mgr(iptrack_mgr *mgr);

// ---------------------------------------------------------------------------
// iptrack_grammar.cc
[[nodiscard]] int iptrack_set_oper_attribs(iptrack_oper *oper);
[[nodiscard]] int iptrack_set_action_attribs(iptrack_action *action);
[[nodiscard]] int iptrack_set_mgr_attribs(iptrack_mgr *mgr);

// ---------------------------------------------------------------------------
// iptrack_ports.cc
[[nodiscard]] int iptrack_add_oper_port(iptrack_oper *oper, const char *name, uint8 version);
[[nodiscard]] int iptrack_add_action_port(iptrack_action *action, const char *name);
[[nodiscard]] int iptrack_add_oper_tunnel(iptrack_oper *oper, const char *alias);
[[nodiscard]] int ip_track_add_ports_from_oper_label(iptrack_oper *oper);
[[nodiscard]] int ip_track_add_ports_from_action_label(iptrack_action *action);
void iptrack_free_ports(iptrack_list<iptrack_port> *ports);
const char *iptrack_first_port(const iptrack_list<iptrack_port> *ports); // null when none
// The display text of an interface label (the label itself when the table
// has none), into `ret` of iptrack_label_size bytes.
void iptrack_label_display_text(const char *label, char *ret);

// ---------------------------------------------------------------------------
// iptrack_mgr.cc
[[nodiscard]] int iptrack_mgr_add_action(iptrack_mgr *mgr, const char *name, bool is_up);
int iptrack_mgr_rmv_action(iptrack_mgr *mgr, bool is_up);
int iptrack_mgr_reset(iptrack_mgr *mgr, bool clear_not_installed);
int iptrack_revert_action(iptrack_action *action);
int iptrack_mgr_clean(iptrack_mgr *mgr);
int iptrack_mgr_admin_down(iptrack_mgr *mgr);
int iptrack_mgr_rtlabel_unconfigured(iptrack_mgr *mgr);
// The AND flag of route label `label_id` (false when unknown).
bool iptrack_rtlabel_is_and_mode(uint32 label_id);

// ---------------------------------------------------------------------------
// iptrack_tick.cc
int iptrack_req_expire();
bool iptrack_are_clients_ready();

// ---------------------------------------------------------------------------
// iptrack_probe.cc: request codes and the four requests.
enum iptrack_mon_code : uint16 {
    iptrack_mon_start = 1,
    iptrack_mon_poll = 2,
    iptrack_mon_modify = 3,
    iptrack_mon_stop = 4,
    iptrack_mon_delete = 5,
};
[[nodiscard]] int iptrack_mgr_send_operation_request(iptrack_oper *oper,
                                                     iptrack_op_request *request, iptrack_mgr *mgr);
[[nodiscard]] int iptrack_mgr_send_ip_mon_request(iptrack_oper *oper, uint16 code);
[[nodiscard]] int iptrack_mgr_send_http_mon_request(iptrack_oper *oper, uint16 code);
[[nodiscard]] int iptrack_mgr_send_mon_start_request(iptrack_oper *oper, uint8 version);
[[nodiscard]] int iptrack_mgr_send_mon_delete_request(iptrack_oper *oper, uint8 version);
[[nodiscard]] int iptrack_mgr_send_port_mon_request(iptrack_oper *oper);
[[nodiscard]] int iptrack_mgr_send_vrrp_mon_request(iptrack_oper *oper);
// Delete to the ping (type 2) or HTTP (type 4) monitor of every port; other
// types send nothing and return 0.
[[nodiscard]] int iptrack_send_oper_delete(iptrack_oper *oper);

// ---------------------------------------------------------------------------
// iptrack_status.cc
void iptrack_mgr_evaluate(iptrack_mgr *mgr);
iptrack_action *iptrack_mgr_set_action(iptrack_mgr *mgr, uint32 *ret_code);
int iptrack_mgr_send_action_request(iptrack_mgr *mgr, iptrack_oper *oper);
// The not-installed path of a due request whose operation is not active.
void iptrack_mgr_not_installed(iptrack_mgr *mgr, iptrack_op_request *request, iptrack_oper *oper);

// ---------------------------------------------------------------------------
// iptrack_actions.cc
[[nodiscard]] int ip_track_mgr_send_label_action(uint32 label_id, bool up);
[[nodiscard]] int ip_track_mgr_send_tunnel_action(iptrack_action *action, bool up);
[[nodiscard]] int ip_track_mgr_send_subnet_action(iptrack_mgr *mgr, iptrack_action *action,
                                                  iptrack_oper *oper, uint32 code);
[[nodiscard]] int ip_track_mgr_send_vrrp_action(iptrack_action *action, uint32 code);

// ---------------------------------------------------------------------------
// iptrack_alarm.cc
void iptrack_mgr_fill_alarm_text(iptrack_mgr *mgr, iptrack_oper *oper);
void iptrack_mgr_fill_dns_alarm_text(iptrack_mgr *mgr, iptrack_oper *oper);
int iptrackd_fill_hier(iptrack_mgr *mgr, iptrack_oper *oper, bool raise);
int iptrack_send_not_installed_alarm(iptrack_mgr *mgr, bool raise);
int iptrack_send_dns_alarm(iptrack_mgr *mgr, bool raise);

// ---------------------------------------------------------------------------
// iptrack_cloudpath.cc
int iptrack_cloudpath_update_probes(iptrack_oper *oper);
int iptrack_cloudpath_update_attr(iptrack_oper *oper);
int iptrack_cloudpath_delete_probes(iptrack_oper *oper);
