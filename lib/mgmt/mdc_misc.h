// Management client, the other direction and the helpers: taking apart the
// notifications mgmtd sends (configuration changes, action notifications),
// answering the monitoring queries it forwards (with the registration tree
// for "registration_info"), numbered child lists, and name utilities.
//
// Ownership as in mdc_main.h: everything returned belongs to the caller;
// arrays passed in are only read unless a comment says otherwise.
#pragma once

#include "mgmt/mdc_main.h"

// ---------------------------------------------------------------------------
// Notifications

// Event name and node names of a configuration-change notification.
#define MDC_DBCHANGE_EVENT "/mgmtd/notify/dbchange"
#define MDC_DBCHANGE_ROOT "/mgmtd/notification/dbchange"
#define MDC_ACTION_NOTIF_ROOT "/mgmtd/notification/action"

// Type flags of a deleted node in the new bindings: no value, deleted.
constexpr uint32 mdc_deleted_node_flags = btf_no_value | btf_deleted;

// Splits the bindings of a configuration-change notification into the
// changed nodes' previous and new states.  `event_bindings` is sorted in
// place.  For each entry "/mgmtd/notification/dbchange/<n>", read from its
// relative children "change_type", "name", "new_attribs/value" and
// "prev_attribs/value":
//   "add":    a copy of the new value, named as the node, to the new array;
//   "modify": the previous value to the previous array and the new value to
//             the new array, both named as the node;
//   "delete": the previous value to the previous array, and to the new array
//             a binding named as the node with the previous value's type, no
//             value and the flags mdc_deleted_node_flags.
// A missing "change_type", "name" or needed value is lc_err_unexpected_null
// (except that a "delete" without a previous value marks the node deleted
// with type "none" and adds nothing to the previous array); any other
// change type fails with "Unexpected change type %s under binding %s"
// (lc_err_unexpected_case).  Entries come in the sorted order of their
// names.  On failure neither array is returned.
[[nodiscard]] int mdc_event_config_change_notif_extract(bn_binding_array *event_bindings,
                                                        bn_binding_array **ret_old_bindings,
                                                        bn_binding_array **ret_new_bindings);

// The action named by "/mgmtd/notification/action/action_name" and copies
// of its parameter bindings, those below
// "/mgmtd/notification/action/bindings/", named relative to that node, in
// array order.  No action name: lc_err_not_found (quiet) with nothing
// returned.
[[nodiscard]] int mdc_event_action_notif_extract(const bn_binding_array *event_bindings,
                                                 tstring **ret_action_name,
                                                 bn_binding_array **ret_bindings);

// ---------------------------------------------------------------------------
// Answering monitoring queries

// Called for one node of a forwarded query: `node_name` and its parts are
// borrowed; the handler appends its results to `ret_bindings` (taken over
// by the dispatcher; null entries stand for "no value" and are dropped).
typedef int (*mdc_mon_get_func)(const char *node_name, const tstr_array *node_name_parts,
                                void *data, bn_binding_array *ret_bindings);
typedef int (*mdc_mon_iterate_func)(const char *node_name, const tstr_array *node_name_parts,
                                    void *data, bn_binding_array *ret_bindings);

// Builds the query response to `request` (a query request; another type
// is lc_err_assertion_failed): per node, by sub-operation, "get" calls
// `get_func`, "iterate" calls `iterate_func` (either may be null: no
// results), and every binding they append goes into the response in
// order; "registration_info" answers from the registration tree (see
// below); any other sub-operation logs "Unexpected query subop %d; ignoring
// request for binding %s" and adds nothing for the node.  A handler that
// fails ends the walk: its code is logged (the quiet code lc_err_cancelled
// is not), the node's partial results are dropped, and the response keeps
// what earlier nodes produced and carries the code as its return code.
// The call itself succeeds whenever the response could be made.
[[nodiscard]] int mdc_mon_build_response(const bn_request *request, mdc_mon_get_func get_func,
                                         void *get_data, mdc_mon_iterate_func iterate_func,
                                         void *iterate_data, bn_response **ret_response);

// mdc_mon_build_response, then the response is sent on `session` with
// bn_response_msg_send, whatever the handlers did.  Returns the failure of
// building or sending, else the response's return code (a handler's
// failure, already logged).
[[nodiscard]] int mdc_dispatch_mon_request(gcl_session *session, const bn_request *request,
                                           mdc_mon_get_func get_func, void *get_data,
                                           mdc_mon_iterate_func iterate_func, void *iterate_data);

// ---------------------------------------------------------------------------
// Registration tree: the nodes this process serves and their capability
// masks, reported to "registration_info" queries.  One tree per process,
// behind a lock; a node is placed below the deepest node whose name is a
// prefix of its name (by parts), other nodes below it move under it.
//
// A "registration_info" node of a query names the subtree asked about; its
// only attribute, when it has one, must be the capability mask
// (ba_capability_mask): any other attribute is refused with "Expected
// cap_mask attribute got %d" (the attribute id) and nothing is reported
// for the node.  A non-zero mask reports only the nodes sharing a bit with
// it.  Each reported node is a binding of the node's name with the
// capability mask as a uint32 at ba_capability_mask, in tree order (parents
// first, then children by name).

struct mdc_remote_reg_node;

// A node not yet in the tree.
[[nodiscard]] int mdc_remote_reg_new_node(mdc_remote_reg_node **ret_node, const char *name,
                                          uint32 cap_mask);
// Adds `*node` to the process's tree and takes it (cleared; freed on
// failure too).  A name already present: lc_err_exists (quiet).
[[nodiscard]] int mdc_remote_reg_add_node(mdc_remote_reg_node **node);
// The tree's root (name "/", mask 0), borrowed; valid until
// mdc_remote_reg_clear.  Not to be walked while another thread adds.
[[nodiscard]] int mdc_remote_reg_get_node_tree(const mdc_remote_reg_node **ret_root);
[[nodiscard]] int mdc_remote_reg_get_name(const mdc_remote_reg_node *node,
                                          const tstring **ret_name);
[[nodiscard]] int mdc_remote_reg_get_cap_mask(const mdc_remote_reg_node *node, uint32 *ret_mask);
// Children of a node, in name order (borrowed; null beyond the last).
uint32 mdc_remote_reg_get_num_children(const mdc_remote_reg_node *node);
const mdc_remote_reg_node *mdc_remote_reg_get_child(const mdc_remote_reg_node *node, uint32 index);
// Frees a node that is not in the tree, with its children; null is fine.
int mdc_remote_reg_free(mdc_remote_reg_node **node);
LC_OWNED_FREE(mdc_remote_reg_node, mdc_remote_reg_free)
// Empties the process's tree.
int mdc_remote_reg_clear();
// Appends the bindings a "registration_info" node of `node_name` (null or
// "/": everything) with `cap_mask` reports.
[[nodiscard]] int mdc_remote_reg_append_bindings(const char *node_name, uint32 cap_mask,
                                                 bn_binding_array *ret_bindings);

// ---------------------------------------------------------------------------
// Numbered child lists: the children of `list_name` are named by decimal
// indexes from 1 ("/x/match/1", "/x/match/2" ...).  An item is created with
// the bindings of `item` (may be null), whose relative names are placed
// below the item ("pattern" becomes "/x/match/3/pattern").  Each change is
// one set request; renumbering uses "reparent" nodes.

// The indexes present, ascending (children whose names are not decimal
// numbers are skipped).
[[nodiscard]] int mdc_array_get_indices(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                        const char *list_name, uint32_array **ret_indices);
// Creates the item at one past the highest index; `ret_index` (may be null)
// gets it.
[[nodiscard]] int mdc_array_append(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                   const char *list_name, const bn_binding_array *item,
                                   uint32 *ret_index);
// Creates the item at `index` (from 1), moving the items at and above it
// up by one.
[[nodiscard]] int mdc_array_insert(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                   const char *list_name, uint32 index,
                                   const bn_binding_array *item);
// Deletes the item at `index` and moves the items above it down by one.
[[nodiscard]] int mdc_array_delete(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                   const char *list_name, uint32 index);
// Moves the item at `from` to `to`, shifting the items between.
[[nodiscard]] int mdc_array_move(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                 const char *list_name, uint32 from, uint32 to);

// ---------------------------------------------------------------------------
// Name and text utilities

// The first part of `node_name` as an absolute name ("/qz" of
// "/qz/iptrackd/state"); an empty name gives "/".
[[nodiscard]] int mdc_get_root_name(const char *node_name, tstring **ret_root);
// Joins `base` with the printed values of the named bindings, in the order
// of `value_names`, each escaped as one name part.  A missing binding:
// lc_err_not_found (quiet).
[[nodiscard]] int mdc_path_synth_from_bindings(const bn_binding_array *bindings, const char *base,
                                               const tstr_array *value_names, tstring **ret_name);
// Replaces every "$<name>$" in `text` with the printed value of the
// binding named <name> in `params` ("$$" is one "$").  An unknown name:
// lc_err_not_found (quiet).
[[nodiscard]] int mdc_subst_params(const char *text, const bn_binding_array *params,
                                   tstring **ret_text);
// Formats `format` with the arguments, then replaces every "$<node name>$"
// in the result with the printed value of that node, read with one "get"
// query each (a node without a value gives the empty text).  An absent
// node: lc_err_not_found (quiet).  A query that mgmtd refuses ends the
// call with success, no text, and the refusal in the out code and message.
[[nodiscard]] int mdc_smprintf_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                     tstring **ret_text, const char *format, ...)
    __attribute__((format(printf, 5, 6)));
[[nodiscard]] int mdc_vsmprintf_query(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                      tstring **ret_text, const char *format, va_list ap)
    __attribute__((format(printf, 5, 0)));
// The same over bindings already queried (mdc_subst_params of the
// formatted text).
[[nodiscard]] int mdc_smprintf_prequeried(const bn_binding_array *bindings, tstring **ret_text,
                                          const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// The position of `node_name` among its peers: the immediate children of
// its parent, counted from 1 in the order mgmtd returns them (name order),
// as one "iterate" query of the parent.  Instances of a list ("/x/user/bob"
// among "/x/user/*") are usually what is asked about.  `*ret_sequence` is
// 0, with success, when the node is not among them or mgmtd refused the
// query (the refusal is in the out code and message).  A name without a
// parent (the root) is lc_err_bad_name.
[[nodiscard]] int mdc_get_sequence_among_peers(md_client_context *mcc, uint32 *ret_code,
                                               tstring **ret_msg, uint32 *ret_sequence,
                                               const char *node_name);
