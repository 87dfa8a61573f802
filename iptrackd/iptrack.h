// The tracking engine as the front end sees it.
//
// The configuration intake (iptrackd_config), the state queries
// (iptrackd_monitor) and start-up (iptrackd_lifecycle) reach the engine only
// through this header.  The engine keeps three tables (operations, actions,
// managers), parses their attribute strings on its 1000 ms tick, runs the
// operations through the peer monitors and acts on status changes; its
// records and internal operations are in iptrack_records.h.
//
// Everything runs on the event-loop thread.  The engine owns its tables and
// everything hanging from their entries; entry pointers returned here are
// borrowed and stay valid until the entry is removed, which never happens
// while an engine function that holds it is running (frees are deferred
// until the engine is back at its top level).
#pragma once

#include "log/common.h"

struct iptrack_oper;
struct iptrack_action;
struct iptrack_mgr;

// Empty tables, engine state 1 (initializing).  Returns 0.
[[nodiscard]] int iptrack_init();
// Engine state 2 and the 1000 ms engine timer.
[[nodiscard]] int iptrack_post_init();
// Stops the engine timer and frees the tables (exit and tests).
void iptrack_deinit();

// Finds (never creates); null when absent.
iptrack_oper *iptrack_find_oper_entry(const char *name);
iptrack_action *iptrack_find_action_entry(const char *name);
iptrack_mgr *iptrack_find_mgr_entry(const char *name);
// Finds or creates; an existing entry loses its deleted mark.  Null only
// when memory runs out.
iptrack_oper *iptrack_get_oper_entry(const char *name);
iptrack_action *iptrack_get_action_entry(const char *name);
iptrack_mgr *iptrack_get_mgr_entry(const char *name);
// Deletes (operations at once, actions at once unless still used, managers
// marked for the next tick).  Always 0.
int iptrack_delete_oper_entry(const char *name);
int iptrack_delete_action_entry(const char *name);
int iptrack_delete_mgr_entry(const char *name);

// What the intake writes into the entries (fields of iptrack_records.h),
// kept here so that the front end needs no other engine header.
void iptrack_oper_set_new_attribs(iptrack_oper *oper, const char *attribs);
void iptrack_oper_mark_deleted(iptrack_oper *oper);
void iptrack_action_set_attribs(iptrack_action *action, const char *attribs);
void iptrack_mgr_set_attribs(iptrack_mgr *mgr, const char *attribs);
void iptrack_mgr_set_note(iptrack_mgr *mgr, const char *comment);
void iptrack_mgr_set_configured_rtlabel(iptrack_mgr *mgr, uint32 label_id);

// Enables or disables a manager.  0, or lc_err_unexpected_null.
int iptrack_set_mgr_status(iptrack_mgr *mgr, bool enabled);
// Evaluates route label `label_id` over the managers bound to it (AND mode
// when `and_mode`), leaving out `exclude_mgr`, and sends its state.
[[nodiscard]] int iptrack_mgr_determine_rtlabel_status(uint32 label_id, bool and_mode,
                                                       iptrack_mgr *exclude_mgr);

// Uses of labels, tunnels and interfaces; each marks the entries that use
// them for the next tick.
bool iptrack_is_label_in_use(const char *label);
bool iptrack_is_tunnel_in_use(const char *name);
bool iptrack_is_ifname_in_use(const char *ifname);
bool iptrack_monitor_pending_port_active();
bool iptrack_monitor_pending_tunnel_active();
void iptrack_notify_label_chg();
void iptrack_notify_tunnel_chg();
void iptrack_notify_if_or_tunnel_change();

// Counts for the state queries.
uint16 iptrack_get_num_mgrs();
uint32 iptrack_get_synthetic_probes();

// Show records (layouts in iptrack_show.h).
[[nodiscard]] int iptrack_show_mgrs(uint8 *buffer, uint32 size);
[[nodiscard]] int iptrack_show_summary(uint8 *record);
