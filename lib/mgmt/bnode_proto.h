// Management messages: the request (`bn_request`) and response
// (`bn_response`) that pass between a daemon and mgmtd, their per-node
// entries (one binding each), constructors, accessors, dumps, and their byte
// encoding inside a session-layer frame (body protocol 2, "bnode").
//
// Ownership: a message owns its strings, its per-node array and every
// binding in it.  `_new`/`_create`/`_dup` results and whatever a
// `_takeover` getter hands out belong to the caller; `_const`-style
// getters (`const tstring **`, `const bn_binding **`) lend, valid until the
// message changes.  `_takeover` appenders own what they are given from the
// call on, on failure too.  Every function returns an error code and clears
// its outputs first, unless its comment says otherwise.
//
// Sending and receiving over a session, and the callbacks that receive
// messages, live at the end of this header and are implemented over the
// session layer (gcl.h).
#pragma once

#include <cstdarg>

#include "bnode/bnode.h"
#include "log/logging.h"
#include "util/tbuffer.h"
#include "util/tstring.h"
#include "util/typed_arrays.h"

struct gcl_session;

// ---------------------------------------------------------------------------
// Codes

// Message types (16-bit on the wire); names as printed in dumps.
enum bn_msg_type : uint16 {
    bbmt_none = 0,
    bbmt_query_request = 1,
    bbmt_query_response = 2,
    bbmt_set_request = 3,
    bbmt_set_response = 4,
    bbmt_action_request = 5,
    bbmt_action_response = 6,
    bbmt_event_request = 7,  // "event"
    bbmt_event_response = 8, // "event_ack"
};
extern const lc_enum_string_map bn_msg_type_map[];

// True for the request types (1, 3, 5, 7) and the response types (2, 4, 6, 8).
bool bn_msg_type_is_request(uint32 msg_type);
bool bn_msg_type_is_response(uint32 msg_type);

// Sub-operation of a node of a query request.
enum bn_query_subop : uint32 {
    bqso_none = 0,
    bqso_get = 1,
    bqso_iterate = 2,
    bqso_registration_info = 3,
};
extern const lc_enum_string_map bn_query_subop_map[];

// Sub-operation of a node of a set request.
enum bn_set_subop : uint32 {
    bsso_invalid_NONE = 0,
    bsso_create = 1,
    bsso_delete = 2,
    bsso_reset = 3,
    bsso_modify = 4,
    bsso_reparent = 5,
};
extern const lc_enum_string_map bn_set_subop_map[];

// Service ids 1..4; the management service is 2.
constexpr uint16 bn_service_id_min = 1;
constexpr uint16 bn_service_id_max = 4;
constexpr uint16 bn_service_mgmt = 2;

// The id of the first node appended to a new message.
constexpr uint32 bn_first_node_id = 1000;
// Bytes reserved in front of an encoding that is sent: the frame header.
constexpr uint32 bn_frame_header_reserve = 32;
// Nodes a dump logs at most.
constexpr uint32 bn_dump_max_nodes = 50;
// Log level at which sent messages are dumped; received ones pass -1
// (nothing is logged).
constexpr int32 bn_dump_level_send = LCL_DEBUG;
constexpr int32 bn_dump_level_none = -1;

// ---------------------------------------------------------------------------
// Per-node entries and their typed arrays

// One node of a request.  `subop` and `node_flags` are meaningful for query
// and set requests only; the two reparent strings only for a set node of
// sub-operation "reparent" (they name where the node moves to and are
// carried unchanged).
struct bn_request_per_node {
    uint32 node_id;
    bn_binding *binding; // owned; may be null (such a node is not encoded)
    uint32 subop;
    uint32 node_flags;
    tstring *reparent_parent; // owned or null
    tstring *reparent_name;   // owned or null
};

// One node of a response.
struct bn_response_per_node {
    uint32 node_id;
    bn_binding *binding; // owned; may be null (such a node is not encoded)
};

[[nodiscard]] int bn_request_per_node_new(bn_request_per_node **ret);
[[nodiscard]] int bn_request_per_node_dup(const bn_request_per_node *src,
                                          bn_request_per_node **ret);
int bn_request_per_node_free(bn_request_per_node **node);
LC_OWNED_FREE(bn_request_per_node, bn_request_per_node_free)

[[nodiscard]] int bn_response_per_node_new(bn_response_per_node **ret);
[[nodiscard]] int bn_response_per_node_dup(const bn_response_per_node *src,
                                           bn_response_per_node **ret);
int bn_response_per_node_free(bn_response_per_node **node);
LC_OWNED_FREE(bn_response_per_node, bn_response_per_node_free)

// Typed arrays of owned entries (no ordering of their own).
LC_TYPED_ARRAY_DECLARE_OWNED(bn_request_per_node_array, bn_request_per_node)
LC_TYPED_ARRAY_DECLARE_OWNED(bn_response_per_node_array, bn_response_per_node)

// ---------------------------------------------------------------------------
// Messages

struct bn_request {
    uint16 service_id;
    uint16 msg_type;
    uint32 length; // bytes of the last encoding, filled by serialize/deserialize
    uint32 msg_id;
    uint32 transaction_id;
    tstring *audit_user_info; // owned or null
    bn_request_per_node_array *nodes;
    // By type.  query: flags, database name, conditional revision id;
    // set: flags, a string carried unchanged, conditional revision id;
    // action: action name; event: event name.
    uint32 flags;
    tstring *db_name;
    int32 cond_db_revision_id;
    tstring *action_name;
    tstring *event_name;
    uint32 next_node_id; // bn_first_node_id on creation
};

struct bn_response {
    uint16 service_id;
    uint16 msg_type;
    uint32 length;
    uint32 msg_id;
    uint32 transaction_id;
    uint32 req_msg_id; // the message id of the request answered
    uint32 return_code;
    tstring *return_msg; // owned or null
    bn_response_per_node_array *nodes;
    int32 db_revision_id; // query and set responses
    uint32 next_node_id;  // bn_first_node_id on creation
};

int bn_request_msg_free(bn_request **msg);
int bn_response_msg_free(bn_response **msg);
LC_OWNED_FREE(bn_request, bn_request_msg_free)
LC_OWNED_FREE(bn_response, bn_response_msg_free)

// ---------------------------------------------------------------------------
// Requests: construction

// A new request of a request type (anything else: lc_err_assertion_failed).
[[nodiscard]] int bn_request_msg_create(bn_request **ret, uint16 msg_type);
// Deep copy (node ids and the next node id included).
[[nodiscard]] int bn_request_msg_dup(const bn_request *src, bn_request **ret);
// Typed constructors; the names may be null.
[[nodiscard]] int bn_query_request_msg_create(bn_request **ret, uint32 query_flags,
                                              const char *db_name);
[[nodiscard]] int bn_set_request_msg_create(bn_request **ret, uint32 set_flags);
[[nodiscard]] int bn_action_request_msg_create(bn_request **ret, const char *action_name);
[[nodiscard]] int bn_event_request_msg_create(bn_request **ret, const char *event_name);

// The type that answers `msg` (2 for 1, 4 for 3 ...), 0 for a null message.
uint16 bn_request_msg_response_msg_type(const bn_request *msg);

// ---------------------------------------------------------------------------
// Requests: appending nodes.  Each appended node takes the message's next
// node id, which then goes up by one (1000, 1001, ...); `ret_node_id` (may be
// null) returns it.  On failure nothing is appended and the next node id is
// unchanged.  The `_new_binding` forms build a binding with the attribute
// "value" parsed from `value` as `type` with `type_flags`; a text that does
// not parse returns the converter's code (lc_err_bad_type) without a log line.

// Any request type; no sub-operation or flags.
[[nodiscard]] int bn_request_msg_append_binding(bn_request *msg, const bn_binding *binding,
                                                uint32 *ret_node_id);
[[nodiscard]] int bn_request_msg_append_binding_takeover(bn_request *msg, bn_binding **binding,
                                                         uint32 *ret_node_id);
[[nodiscard]] int bn_request_msg_append_new_binding(bn_request *msg, uint32 type_flags,
                                                    const char *name, bn_type type,
                                                    const char *value, uint32 *ret_node_id);

// Query requests (other types: lc_err_assertion_failed, no log).
// A node named `name` with no attributes.
[[nodiscard]] int bn_query_request_msg_append_str(bn_request *msg, uint32 subop, uint32 node_flags,
                                                  const char *name, uint32 *ret_node_id);
[[nodiscard]] int bn_query_request_msg_append_binding(bn_request *msg, uint32 subop,
                                                      uint32 node_flags, const bn_binding *binding,
                                                      uint32 *ret_node_id);
// A node named `name` with a copy of `attribs` (may be null).
[[nodiscard]] int bn_query_request_msg_append_with_attribs(bn_request *msg, uint32 subop,
                                                           uint32 node_flags, const char *name,
                                                           const bn_attrib_array *attribs,
                                                           uint32 *ret_node_id);

// Set requests.
[[nodiscard]] int bn_set_request_msg_append_binding(bn_request *msg, uint32 subop,
                                                    uint32 node_flags, const bn_binding *binding,
                                                    uint32 *ret_node_id);
[[nodiscard]] int bn_set_request_msg_append_new_binding(bn_request *msg, uint32 subop,
                                                        uint32 node_flags, const char *name,
                                                        bn_type type, const char *value,
                                                        uint32 *ret_node_id);
[[nodiscard]] int bn_set_request_msg_append_new_binding_fmt(bn_request *msg, uint32 subop,
                                                            uint32 node_flags, bn_type type,
                                                            const char *value, uint32 *ret_node_id,
                                                            const char *name_format, ...)
    __attribute__((format(printf, 7, 8)));
// A "reparent" node: `name` moves below `new_parent` as `new_name`.
[[nodiscard]] int bn_set_request_msg_append_reparent(bn_request *msg, uint32 node_flags,
                                                     const char *name, const char *new_parent,
                                                     const char *new_name, uint32 *ret_node_id);

// Action and event requests.
[[nodiscard]] int bn_action_request_msg_append_binding(bn_request *msg, const bn_binding *binding,
                                                       uint32 *ret_node_id);
[[nodiscard]] int bn_action_request_msg_append_new_binding(bn_request *msg, uint32 type_flags,
                                                           const char *name, bn_type type,
                                                           const char *value, uint32 *ret_node_id);
[[nodiscard]] int bn_event_request_msg_append_new_binding(bn_request *msg, uint32 type_flags,
                                                          const char *name, bn_type type,
                                                          const char *value, uint32 *ret_node_id);

// ---------------------------------------------------------------------------
// Requests: fields.  The type-specific accessors refuse a message of another
// type with lc_err_assertion_failed, without a log line.

// Service ids outside 1..4: lc_err_assertion_failed.
[[nodiscard]] int bn_request_set_service_id(bn_request *msg, uint16 service_id);
[[nodiscard]] int bn_request_get_service_id(const bn_request *msg, uint16 *ret);
[[nodiscard]] int bn_request_set_transaction_id(bn_request *msg, uint32 transaction_id);
[[nodiscard]] int bn_request_get_transaction_id(const bn_request *msg, uint32 *ret);
[[nodiscard]] int bn_request_get_msg_type(const bn_request *msg, uint16 *ret);
// The message id, or 0xFFFFFFFF for a null message.
uint32 bn_request_get_msg_id(const bn_request *msg);
// Sets the message id (the session layer numbers requests when it sends them).
[[nodiscard]] int bn_request_set_msg_id(bn_request *msg, uint32 msg_id);
// Audit user information (null clears it).
[[nodiscard]] int bn_request_set_audit_user_info(bn_request *msg, const char *info);

[[nodiscard]] int bn_query_request_msg_set_flags(bn_request *msg, uint32 flags);
[[nodiscard]] int bn_query_request_msg_get_flags(const bn_request *msg, uint32 *ret);
// Borrowed; null when absent.
[[nodiscard]] int bn_query_request_msg_get_db_name(const bn_request *msg, const tstring **ret);
[[nodiscard]] int bn_query_request_msg_set_option_cond_db_revision_id(bn_request *msg,
                                                                      int32 revision_id);
[[nodiscard]] int bn_query_request_msg_get_option_cond_db_revision_id(const bn_request *msg,
                                                                      int32 *ret);
[[nodiscard]] int bn_set_request_msg_set_flags(bn_request *msg, uint32 flags);
[[nodiscard]] int bn_set_request_msg_get_flags(const bn_request *msg, uint32 *ret);
[[nodiscard]] int bn_set_request_msg_set_option_cond_db_revision_id(bn_request *msg,
                                                                    int32 revision_id);
[[nodiscard]] int bn_set_request_msg_get_option_cond_db_revision_id(const bn_request *msg,
                                                                    int32 *ret);
// Borrowed; null when absent.
[[nodiscard]] int bn_action_request_msg_get_action_name(const bn_request *msg, const tstring **ret);
[[nodiscard]] int bn_action_request_msg_set_action_name(bn_request *msg, const char *name);
[[nodiscard]] int bn_event_request_msg_get_event_name(const bn_request *msg, const tstring **ret);
[[nodiscard]] int bn_event_request_msg_set_event_name(bn_request *msg, const char *name);

// ---------------------------------------------------------------------------
// Requests: reading

// Walks the nodes: every output is optional.  `ret_flags` gets the message
// flags of a query or set request (0 otherwise); the arrays hold, per node
// that has a binding and in node order, a copy of the binding, its node id,
// its sub-operation and its node flags.
[[nodiscard]] int bn_request_get(const bn_request *msg, uint16 *ret_msg_type, uint32 *ret_flags,
                                 bn_binding_array **ret_bindings, uint32_array **ret_node_ids,
                                 uint32_array **ret_subops, uint32_array **ret_node_flags);
// The binding named `param_name` of an action or event request (borrowed;
// null with success when absent).  Other types: lc_err_assertion_failed.
[[nodiscard]] int bn_request_get_param(const bn_request *msg, const char *param_name,
                                       const bn_binding **ret);
// Removes (and frees) every node whose binding is named `name`.
[[nodiscard]] int bn_request_msg_remove_binding(bn_request *msg, const char *name);
// Removes every node whose binding name starts with `prefix`.
[[nodiscard]] int bn_request_msg_remove_binding_prefix(bn_request *msg, const char *prefix);
// Renames every binding whose name is "<prefix>/<rest>" to "<rest>"; other
// bindings are left alone.
[[nodiscard]] int bn_request_msg_strip_binding_prefix(bn_request *msg, const char *prefix);

// ---------------------------------------------------------------------------
// Responses

// A new response of a response type (else lc_err_assertion_failed) to the
// request `req_msg_id`, with a return code and message (may be null).
[[nodiscard]] int bn_response_msg_create(bn_response **ret, uint16 msg_type, uint32 req_msg_id,
                                         uint32 return_code, const char *return_msg);
[[nodiscard]] int bn_query_response_msg_create(bn_response **ret, uint32 req_msg_id,
                                               uint32 return_code, const char *return_msg);
[[nodiscard]] int bn_set_response_msg_create(bn_response **ret, uint32 req_msg_id,
                                             uint32 return_code, const char *return_msg);
[[nodiscard]] int bn_action_response_msg_create(bn_response **ret, uint32 req_msg_id,
                                                uint32 return_code, const char *return_msg);
[[nodiscard]] int bn_event_response_msg_create(bn_response **ret, uint32 req_msg_id,
                                               uint32 return_code, const char *return_msg);
[[nodiscard]] int bn_response_msg_dup(const bn_response *src, bn_response **ret);
// Replaces return code and message (null message: none).
[[nodiscard]] int bn_response_msg_set_return_code_msg(bn_response *msg, uint32 return_code,
                                                      const char *return_msg);

// Appending, with node ids as for requests.
[[nodiscard]] int bn_response_msg_append_binding(bn_response *msg, const bn_binding *binding,
                                                 uint32 *ret_node_id);
[[nodiscard]] int bn_response_msg_append_binding_takeover(bn_response *msg, bn_binding **binding,
                                                          uint32 *ret_node_id);
[[nodiscard]] int bn_response_msg_append_new_binding(bn_response *msg, uint32 type_flags,
                                                     const char *name, bn_type type,
                                                     const char *value, uint32 *ret_node_id);
// Action responses only (else lc_err_assertion_failed, no log).
[[nodiscard]] int bn_action_response_msg_append_binding(bn_response *msg, const bn_binding *binding,
                                                        uint32 *ret_node_id);
// Sets the result parameter `name` of an action response to `value` parsed
// as `type`: the value of an existing binding of that name is replaced,
// else a binding is appended.
[[nodiscard]] int bn_action_response_set_param(bn_response *msg, const char *name, bn_type type,
                                               const char *value);

[[nodiscard]] int bn_response_set_req_msg_id(bn_response *msg, uint32 req_msg_id);
[[nodiscard]] int bn_response_set_msg_id(bn_response *msg, uint32 msg_id);
// Either output may be null.
[[nodiscard]] int bn_response_get_msg_ids(const bn_response *msg, uint32 *ret_req_msg_id,
                                          uint32 *ret_msg_id);
[[nodiscard]] int bn_response_get_msg_type(const bn_response *msg, uint16 *ret);
[[nodiscard]] int bn_response_get_transaction_id(const bn_response *msg, uint32 *ret);
// Return code and borrowed message (null when none); either output optional.
[[nodiscard]] int bn_response_get_return(const bn_response *msg, uint32 *ret_code,
                                         const tstring **ret_msg);
// The database revision id of a query or set response.
[[nodiscard]] int bn_response_get_db_revision_id(const bn_response *msg, int32 *ret);
[[nodiscard]] int bn_response_set_db_revision_id(bn_response *msg, int32 revision_id);

// The bindings in node order, as a new array.  With `with_name_parts` each
// keeps the name parts it carries (as it arrived); without, each is rebuilt
// from its name alone.  `_takeover` moves the bindings out of the response,
// leaving its nodes without bindings.
[[nodiscard]] int bn_response_get_bindings(const bn_response *msg, tbool with_name_parts,
                                           bn_binding_array **ret);
[[nodiscard]] int bn_response_get_bindings_takeover(bn_response *msg, tbool with_name_parts,
                                                    bn_binding_array **ret);
// The first binding named `name` (borrowed; null with success when absent).
[[nodiscard]] int bn_response_get_binding_by_name(const bn_response *msg, const char *name,
                                                  const bn_binding **ret);
// Copies of the bindings of the nodes with id `node_id`, in order.
[[nodiscard]] int bn_response_get_bindings_by_node_id(const bn_response *msg, uint32 node_id,
                                                      bn_binding_array **ret);

// Called for each binding matching a pattern; a non-zero result stops the
// walk and is returned.
typedef int (*bn_response_binding_func)(const bn_response *msg, uint32 index,
                                        const bn_binding *binding, void *data);
// Walks the bindings whose names match `pattern` (null: all), first to
// last, or last to first for `_rev`.
[[nodiscard]] int bn_response_foreach_matching_binding(const bn_response *msg, const char *pattern,
                                                       bn_response_binding_func func, void *data);
[[nodiscard]] int bn_response_foreach_matching_binding_rev(const bn_response *msg,
                                                           const char *pattern,
                                                           bn_response_binding_func func,
                                                           void *data);
// Makes `resp` the answer of `req`: the answering type, the request's
// message id as request id, its service and transaction ids.
[[nodiscard]] int bn_response_fix_for_request(bn_response *resp, const bn_request *req);
[[nodiscard]] int bn_response_fix_for_request_by_params(bn_response *resp, uint16 req_msg_type,
                                                        uint32 req_msg_id, uint16 service_id,
                                                        uint32 transaction_id);
// Prefixes every binding name with "<prefix>/" (a relative name becomes
// the one below `prefix`).
[[nodiscard]] int bn_response_msg_append_binding_prefix(bn_response *msg, const char *prefix);

// ---------------------------------------------------------------------------
// Encoding.  All integers big-endian; strings are a 32-bit length and the
// bytes; an absent string encodes as length 0.
//
// Serialising reserves `reserve` zero bytes in front (the frame header is
// written there when sent), then writes the message; `msg->length` becomes
// the bytes written after the reserve.  On failure nothing is returned.
// A message type outside the request (response) types: "illegal messsage of
// type %d", lc_err_unexpected_case.  An attribute type outside 1..135:
// "Required condition was not met", lc_err_assertion_failed; one without a
// copy function ("any"): "Couldn't get attrib copy out func for type %s",
// lc_err_bad_type.  Nodes without a binding are skipped.
[[nodiscard]] int bn_request_msg_serialize(bn_request *msg, uint32 reserve, tbuf **ret);
[[nodiscard]] int bn_response_msg_serialize(bn_response *msg, uint32 reserve, tbuf **ret);
// Decodes one whole message from `length` bytes.  Every read is bounded by
// the bytes present, and counts are checked against them before anything is
// made.  Bytes missing for a field: lc_err_no_buffer_space ("Bail forced");
// a record that contradicts its layout: lc_err_parse_error; a length field
// that differs from the bytes used, or bytes left over: "total bytes: %d
// used: %d" and lc_err_parse_error; a type that is not a request (or not a
// response): "illegal messsage of type %d" and lc_err_parse_error; an
// attribute type without a copy function: "Couldn't get attrib copy in
// func for type %u" and lc_err_parse_error; an absolute flag other than 0
// or 1, or a second attribute of one id in a node: lc_err_parse_error.
// Strings of length 0 decode as absent; name parts always as strings.  The
// next node id becomes one above the highest id decoded (1000 at least).
[[nodiscard]] int bn_request_msg_deserialize(const uint8 *bytes, uint32 length, bn_request **ret);
[[nodiscard]] int bn_response_msg_deserialize(const uint8 *bytes, uint32 length, bn_response **ret);

// ---------------------------------------------------------------------------
// Dumping: when `level` is enabled (a negative level never is), logs the
// header line, names or return, the node count and, for at most
// bn_dump_max_nodes nodes, each node and its attributes.  `session` may be
// null; when given its id and peer name are printed.
[[nodiscard]] int bn_request_msg_dump(const gcl_session *session, const bn_request *msg,
                                      int32 level, const char *prefix);
[[nodiscard]] int bn_response_msg_dump(const gcl_session *session, const bn_response *msg,
                                       int32 level, const char *prefix);

// ---------------------------------------------------------------------------
// Sessions.  The bnode body protocol (id 2) of the session layer: messages
// go out as frames of that protocol with the message type as frame type,
// and received frames are decoded and handed to the callbacks below.

struct gcl_handle;

// Registers body protocol 2 "bnode" on `gcl`: per-session message
// counters and audit information, and the handler that decodes received
// messages and calls their callbacks.
[[nodiscard]] int gcl_bn_init(gcl_handle *gcl);

// Handlers of received messages, called as handler(session, message,
// data).  The message is lent for the call (the caller frees it after);
// take a copy (bn_request_msg_dup, bn_response_msg_dup) to keep it.
typedef int (*bn_request_msg_func)(gcl_session *session, bn_request *msg, void *data);
typedef int (*bn_response_msg_func)(gcl_session *session, bn_response *msg, void *data);

// The callback of every session of `gcl` for one message type (null
// handler: none).  A session's own callback takes precedence.
#define BN_MSG_CALLBACK_KINDS(X)                                                                   \
    X(query_request, bbmt_query_request, bn_request_msg_func)                                      \
    X(query_response, bbmt_query_response, bn_response_msg_func)                                   \
    X(set_request, bbmt_set_request, bn_request_msg_func)                                          \
    X(set_response, bbmt_set_response, bn_response_msg_func)                                       \
    X(action_request, bbmt_action_request, bn_request_msg_func)                                    \
    X(action_response, bbmt_action_response, bn_response_msg_func)                                 \
    X(event_request, bbmt_event_request, bn_request_msg_func)                                      \
    X(event_response, bbmt_event_response, bn_response_msg_func)

#define BN_MSG_CALLBACK_DECLARE(kind, type, func_t)                                                \
    [[nodiscard]] int bn_set_global_callback_##kind##_msg(gcl_handle *gcl, func_t handler,         \
                                                          void *data);                             \
    [[nodiscard]] int bn_set_session_callback_##kind##_msg(gcl_session *session, func_t handler,   \
                                                           void *data);
BN_MSG_CALLBACK_KINDS(BN_MSG_CALLBACK_DECLARE)
#undef BN_MSG_CALLBACK_DECLARE

// The audit user information copied into the set and action requests sent
// on `session` (null: none).
[[nodiscard]] int bn_session_set_audit_user_info(gcl_session *session, const char *info);

// Sends a request on `session`: it gets the session's next message id, the
// session's service id when it has none, a new transaction id when it has
// none, and for set and action requests the session's audit information;
// it is dumped at DEBUG ("SEND REQ").  A session that is not connected
// drops it with an INFO line and success.
[[nodiscard]] int bn_request_msg_send(gcl_session *session, bn_request *msg);
// Sends a response with the ids set on it, except that a service id of 0
// becomes the session's (the peer drops messages of services not open);
// "SEND RESP".
[[nodiscard]] int bn_response_msg_send(gcl_session *session, bn_response *msg);
// Creates, sends and frees a response of `msg_type` to `req_msg_id`.
[[nodiscard]] int bn_response_msg_create_send(gcl_session *session, uint16 msg_type,
                                              uint32 req_msg_id, uint32 return_code,
                                              const char *return_msg);
