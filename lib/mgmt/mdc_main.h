// Management client: the calls through which a daemon asks mgmtd for data
// and sends it set requests, actions and events.
//
// Every request call builds one request message (mgmt/bnode_proto.h), hands
// it to the transport function given to mdc_init, and turns the response
// into a return code, a return message and bindings.  The calls are
// synchronous for the caller: they return once the transport has the
// response.  A non-zero return code inside the response is not a failure
// of the call; callers that care test the out code.
//
// Ownership: the client context belongs to the owner, who frees it with
// mdc_deinit after the last call.  Requests built here are freed here; a
// request passed in by the caller stays the caller's.  Every returned
// binding, binding array, string and response belongs to the caller.
//
// Common out-parameters: most calls take, right after the context, an
// optional `ret_code` (the response's return code) and an optional
// `ret_msg` (a new tstring holding the response's return message, null
// when it has none).  Both are cleared first; either may be null.
//
// Name-parts flag (`bindings_flags`): 1 makes every returned binding keep
// the name parts it arrived with; 0 rebuilds each from its name alone.
#pragma once

#include <cstdarg>

#include "bnode/bnode.h"
#include "log/logging.h"
#include "mgmt/bnode_proto.h"
#include "util/tstr_array.h"
#include "util/tstring.h"
#include "util/typed_arrays.h"

struct gcl_session;
struct md_client_context;

// ---------------------------------------------------------------------------
// Transport contract
//
// Called as transport(transport_data, session, request, &response).  On
// success it has sent `request` (it may fill in the message id, service id
// and transaction id, which is why the request is not const) and waited for
// the response that carries the request's message id, and it hands that
// response over in `*ret_response`: the caller owns it.  It never takes
// the request.  On failure it returns the code with `*ret_response` null,
// and a response that cannot be decoded or does not arrive is such a
// failure.  A transport that returns success without a response is treated
// as failing with lc_err_unexpected_null ("Unexpected NULL").  A transport
// serves one request at a time.
typedef int (*mdc_msg_transport_func)(void *transport_data, gcl_session *session,
                                      bn_request *request, bn_response **ret_response);

// Query flags of the children queries, carried as the node flags of the
// query's one node (the message flags stay 0).
enum mdc_query_flags : uint32 {
    mdqf_none = 0,
    mdqf_subtree = 0x1000, // the whole subtree below the node
    mdqf_option = 0x2000,  // the option switch of mdc_get_binding_children, passed to mgmtd
};

// Name-parts flag values.
enum mdc_bindings_flags : uint32 {
    mdbf_rebuild_names = 0,
    mdbf_keep_name_parts = 1,
};

// Conditional database revision that imposes no condition (as on a new
// request).
constexpr int32 mdc_no_db_revision_id = 0;

// ---------------------------------------------------------------------------
// Client context

// A new context bound to `session`: `transport` (required) is called with
// `transport_data` for every request.  `owner_data` and `owner_extra` are
// kept for the owner and never looked at here (daemons pass null).
// `session` may be null when the transport does not need it.
[[nodiscard]] int mdc_init(mdc_msg_transport_func transport, void *transport_data, void *owner_data,
                           void *owner_extra, gcl_session *session, md_client_context **ret_mcc);
// Frees the context and nulls the pointer; null is fine.  The session is
// not the context's and stays open.
int mdc_deinit(md_client_context **mcc);
LC_OWNED_FREE(md_client_context, mdc_deinit)

// What mdc_init was given (null for a null context).
gcl_session *mdc_get_session(const md_client_context *mcc);
void *mdc_get_owner_data(const md_client_context *mcc);
void *mdc_get_owner_extra(const md_client_context *mcc);

// ---------------------------------------------------------------------------
// Whole messages

// Sends `request` and hands back the response's bindings (taken over from
// it).  `ret_bindings` may be null.
[[nodiscard]] int mdc_send_mgmt_msg(md_client_context *mcc, bn_request *request,
                                    uint32 bindings_flags, bn_binding_array **ret_bindings,
                                    uint32 *ret_code, tstring **ret_msg);
// Sends `request` and hands back the whole response.
[[nodiscard]] int mdc_send_mgmt_msg_raw(md_client_context *mcc, bn_request *request,
                                        bn_response **ret_response);

// ---------------------------------------------------------------------------
// Reading one node: a query with one "get" node and query flags 0.
// `db_name` may be null (the running database).

// The binding named exactly `node_name`, detached from the response; null
// with success when the response holds no such binding.
[[nodiscard]] int mdc_get_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                  uint32 bindings_flags, bn_binding **ret_binding,
                                  const char *node_name, const char *db_name);
[[nodiscard]] int mdc_get_binding_fmt(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                      uint32 bindings_flags, bn_binding **ret_binding,
                                      const char *db_name, const char *name_format, ...)
    __attribute__((format(printf, 7, 8)));

// The node's value attribute as a value of the type (mdc_get_binding_uint32,
// _uint64, _tbool, one member per row of the list below, and _tstr).
// `*ret_found` is true when the node exists and has a value (not one marked
// btf_no_value or btf_invalid); otherwise it is false and `*ret` is left
// untouched (so a caller may preset a default).  A value of another type is
// converted through its text form; a text that does not convert fails with
// the converter's code.  `ret_found` may be null.  The tstr form hands a new
// string to the caller, overwriting `*ret` without freeing it.
//
// The members, as X(name, type code, value type).
#define MDC_GET_BINDING_TYPES(X)                                                                   \
    X(uint32, bt_uint32, uint32)                                                                   \
    X(uint64, bt_uint64, uint64)                                                                   \
    X(tbool, bt_bool, tbool)
#define MDC_GET_BINDING_TYPED_DECLARE(name, code, ctype)                                           \
    [[nodiscard]] int mdc_get_binding_##name(md_client_context *mcc, uint32 *ret_code,             \
                                             tstring **ret_msg, tbool *ret_found, ctype *ret,      \
                                             const char *node_name, const char *db_name);
MDC_GET_BINDING_TYPES(MDC_GET_BINDING_TYPED_DECLARE)
#undef MDC_GET_BINDING_TYPED_DECLARE
// The printed value, whatever the type.
[[nodiscard]] int mdc_get_binding_tstr(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                       tbool *ret_found, tstring **ret, const char *node_name,
                                       const char *db_name);
[[nodiscard]] int mdc_get_binding_tstr_fmt(md_client_context *mcc, uint32 *ret_code,
                                           tstring **ret_msg, tbool *ret_found, tstring **ret,
                                           const char *db_name, const char *name_format, ...)
    __attribute__((format(printf, 7, 8)));

// ---------------------------------------------------------------------------
// Children: a query with one "iterate" node.

// All bindings returned, in the order of the response (an array owned by
// the caller; empty when there are none).  Query flags: mdqf_subtree when
// `subtree` is on, plus mdqf_option when `option` is on.
[[nodiscard]] int mdc_get_binding_children(md_client_context *mcc, uint32 *ret_code,
                                           tstring **ret_msg, uint32 bindings_flags,
                                           bn_binding_array **ret_bindings, tbool option,
                                           tbool subtree, const char *node_name);
// The same with the query flags given outright, a conditional database
// revision (mdc_no_db_revision_id: none) and a database name (may be null).
[[nodiscard]] int mdc_get_binding_children_ex(md_client_context *mcc, uint32 *ret_code,
                                              tstring **ret_msg, uint32 bindings_flags,
                                              bn_binding_array **ret_bindings, uint32 query_flags,
                                              int32 cond_db_revision_id, const char *db_name,
                                              const char *node_name);
// The last name parts of the immediate children of `node_name`, in the
// order of the response.
[[nodiscard]] int mdc_get_binding_children_tstr_array(md_client_context *mcc, uint32 *ret_code,
                                                      tstring **ret_msg, tstr_array **ret_names,
                                                      const char *node_name);
// The immediate child at position `n` (from 0) in the order of the
// response; null with success when there are not that many.
[[nodiscard]] int mdc_get_nth_binding_child(md_client_context *mcc, uint32 *ret_code,
                                            tstring **ret_msg, uint32 bindings_flags,
                                            bn_binding **ret_binding, const char *node_name,
                                            uint32 n);
// The immediate child that follows the one whose last name part is
// `prev_child` (null: the first child); null with success when there is
// none, or when `prev_child` is not among the children.
[[nodiscard]] int mdc_get_next_binding_child(md_client_context *mcc, uint32 *ret_code,
                                             tstring **ret_msg, uint32 bindings_flags,
                                             bn_binding **ret_binding, const char *node_name,
                                             const char *prev_child);
// The number of bindings below `node_name` (immediate children, or the
// whole subtree when `subtree` is on).
[[nodiscard]] int mdc_count_bindings(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                     uint32 *ret_count, tbool subtree, const char *node_name);

// ---------------------------------------------------------------------------
// Walks.  One subtree query each; the callback is called per binding, in
// the order of the response (or of `bindings`).  A callback result of
// lc_err_foreach_halt stops the walk with success; any other non-zero
// result stops it and is returned.

typedef int (*mdc_foreach_binding_func)(const bn_binding_array *bindings, uint32 index,
                                        const bn_binding *binding, void *data);
// The same with the binding taken apart: its name, name parts, last name
// part and printed value attribute (null when it has none), all borrowed
// for the call.
typedef int (*mdc_foreach_binding_parsed_func)(const bn_binding_array *bindings, uint32 index,
                                               const bn_binding *binding, const tstring *name,
                                               const tstr_array *name_parts,
                                               const tstring *name_last_part, const tstring *value,
                                               void *data);
// The binding handed over: the callback owns `*binding` (it may leave it
// there to have it freed).
typedef int (*mdc_foreach_binding_detach_func)(uint32 index, bn_binding **binding, void *data);

// Every binding of the subtree below `node_name`.
[[nodiscard]] int mdc_foreach_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                      const char *node_name, mdc_foreach_binding_func callback,
                                      void *data);
// Every binding whose name matches `pattern`; the subtree queried is the
// one below the pattern's parts before its first wildcard.
[[nodiscard]] int mdc_foreach_binding_pattern(md_client_context *mcc, uint32 *ret_code,
                                              tstring **ret_msg, const char *pattern,
                                              mdc_foreach_binding_func callback, void *data);
// The same in name order.
[[nodiscard]] int mdc_foreach_binding_pattern_sorted(md_client_context *mcc, uint32 *ret_code,
                                                     tstring **ret_msg, const char *pattern,
                                                     mdc_foreach_binding_func callback, void *data);
// Over bindings already queried; `pattern` null walks them all.
[[nodiscard]] int mdc_foreach_binding_prequeried(const bn_binding_array *bindings,
                                                 const char *pattern,
                                                 mdc_foreach_binding_func callback, void *data);
[[nodiscard]] int mdc_foreach_binding_prequeried_parsed(const bn_binding_array *bindings,
                                                        const char *pattern,
                                                        mdc_foreach_binding_parsed_func callback,
                                                        void *data);
// Detaches each matching binding from `bindings` (which keeps the others,
// in order) and hands it to the callback.
[[nodiscard]] int mdc_foreach_binding_prequeried_detach(bn_binding_array *bindings,
                                                        const char *pattern,
                                                        mdc_foreach_binding_detach_func callback,
                                                        void *data);
// The bindings whose names match `pattern`, in the order of the response.
[[nodiscard]] int mdc_get_pattern_bindings(md_client_context *mcc, uint32 *ret_code,
                                           tstring **ret_msg, uint32 bindings_flags,
                                           bn_binding_array **ret_bindings, const char *pattern);

// ---------------------------------------------------------------------------
// Set requests.  `type` and `value` give the node's value attribute; a
// null `value` sends the node without attributes.  A value that does not
// parse as `type` fails with the converter's code and sends nothing.

[[nodiscard]] int mdc_set_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                  uint32 set_subop, bn_type type, const char *value,
                                  const char *node_name);
[[nodiscard]] int mdc_modify_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                     bn_type type, const char *value, const char *node_name);
[[nodiscard]] int mdc_create_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                     bn_type type, const char *value, const char *node_name);
[[nodiscard]] int mdc_delete_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                     const char *node_name);
[[nodiscard]] int mdc_reset_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                    const char *node_name);
// Moves `node_name` below `new_parent` as `new_name`.
[[nodiscard]] int mdc_reparent_binding(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                       const char *node_name, const char *new_parent,
                                       const char *new_name);
// Queries the immediate children of `node_name`, then deletes them all in
// one set request (none is sent when there are no children).  The out code
// and message are those of the failing or the last request.
[[nodiscard]] int mdc_delete_binding_children(md_client_context *mcc, uint32 *ret_code,
                                              tstring **ret_msg, const char *node_name);

// ---------------------------------------------------------------------------
// Actions and events.  A binding triple is three variadic arguments: the
// binding name (const char *), its type code (bn_type, e.g. bt_string) and
// its value as text (const char *), parsed as the type.  A value that does
// not parse is logged and fails with the converter's code; nothing is sent.

// An action without bindings.
[[nodiscard]] int mdc_send_action(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                  const char *action_name);
// An action with one node per triple, in order (count 0: no nodes).
[[nodiscard]] int mdc_send_action_with_bindings_str_va(md_client_context *mcc, uint32 *ret_code,
                                                       tstring **ret_msg, const char *action_name,
                                                       uint32 count, ...);
// An action with a copy of each binding of `bindings` (may be null) in
// order; `*ret_bindings` (required) gets the response's bindings, an empty
// array when there are none.
[[nodiscard]] int mdc_send_action_with_bindings_and_results(md_client_context *mcc,
                                                            uint32 *ret_code, tstring **ret_msg,
                                                            const char *action_name,
                                                            const bn_binding_array *bindings,
                                                            bn_binding_array **ret_bindings);
[[nodiscard]] int mdc_send_action_with_bindings_and_results_va(md_client_context *mcc,
                                                               uint32 *ret_code, tstring **ret_msg,
                                                               const char *action_name,
                                                               bn_binding_array **ret_bindings,
                                                               uint32 count, ...);
// An event, sent through the transport like any request; the transport
// waits for its acknowledgement.
[[nodiscard]] int mdc_send_event(md_client_context *mcc, uint32 *ret_code, tstring **ret_msg,
                                 const char *event_name);
[[nodiscard]] int mdc_send_event_with_bindings_str_va(md_client_context *mcc, uint32 *ret_code,
                                                      tstring **ret_msg, const char *event_name,
                                                      uint32 count, ...);
// An event with a copy of each binding of `bindings` (may be null) in
// order, sent one way: it returns once the request is written or queued on
// the context's session and never waits.  mgmtd's later acknowledgement is
// dropped without a line by the transport (mgmt/mdc_transport.h).  Without
// a session: lc_err_generic_error, not logged; a session that is not
// connected: lc_err_io_closed.
[[nodiscard]] int mdc_send_event_with_bindings_oneway(md_client_context *mcc,
                                                      const char *event_name,
                                                      const bn_binding_array *bindings);
