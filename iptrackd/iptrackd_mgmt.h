// The daemon's management session to mgmtd and the dispatch of what
// arrives on it.
//
// iptrackd_mgmt_init (called once from start-up) binds the session layer to
// the daemon loop, installs the message callbacks, connects to the provider
// "mgmtd", builds the management client handle `iptrackd_mcc`, and
// registers the daemon's event interests.  Every management client call made
// with `iptrackd_mcc` goes through iptrackd_mgmt_msg_handler, which sends
// the request and runs single passes of the daemon loop until the matching
// response arrives, so events, queries, timers and signals are served while
// a request waits.  Losing the session ends the daemon.
//
// Requests started inside the waiting passes of another request (a timer
// or an event handler that queries mgmtd while an earlier query waits) each
// get a wait record of their own: responses are matched by request id
// against every waiting request, so each caller gets exactly its own
// response, whatever order they arrive in.  The inner request is still
// reported with "Required condition was not met", because a handler that
// nests requests delays the outer caller until the inner one is answered.
//
// The bring-up, the waits and their matching are those of the management
// client transport (mgmt/mdc_transport.h), which the alarm thread and the
// tools share; the entry points below keep their names and forward to it.
//
// Ownership: this module owns the transport and through it the session,
// the session-layer handle, the descriptor-interest handles and the client
// handle; iptrackd_mgmt_deinit releases them.  Responses handed out by the transport belong to the
// caller.  Everything here runs on the event-loop thread.
#pragma once

#include "event/event_fdintrcb.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"

// The client session to mgmtd; null before iptrackd_mgmt_init opened it and
// after iptrackd_mgmt_deinit.
extern gcl_session *iptrackd_mgmt_session;
// The management client handle bound to that session.
extern md_client_context *iptrackd_mcc;

// Node under which the daemon's configuration lives.
#define IPTRACKD_CONFIG_ROOT "/qz/iptrackd/config"
// The interface-change event of the tunnel daemon.
#define IPTRACKD_IF_CHANGE_EVENT "/qz/tunneld/system/events/if_change"

// Builds the session: loop binding, session layer, callbacks, connection,
// client handle, interests.  The first failure is logged and returned.
[[nodiscard]] int iptrackd_mgmt_init();
// Opens the session, the client handle and the three interests (the part of
// iptrackd_mgmt_init after the callbacks).  Any failure is logged with
// "Unable to connect to the management daemon".
[[nodiscard]] int iptrackd_mgmt_open_session();
// Shuts the session layer down (closes the session); the close is part of
// the exit and so is not treated as a lost session.
int iptrackd_mgmt_shutdown();
// Releases the session layer, the session, the loop binding and the client
// handle.  Each step's failure is logged and the next still runs; returns 0.
int iptrackd_mgmt_deinit();

// The synchronous transport given to mdc_init (the `session` argument is
// ignored: requests always go on iptrackd_mgmt_session).  On return
// `*ret_response` holds the response to `request` (owned by the caller), or
// null when the wait ended without one (session lost, loop escaped, pass
// failed); the result is that of the last loop pass, or the quiet
// lc_err_cancelled when the wait ended because the exit has begun.  Without
// a session: lc_err_generic_error, not logged.
[[nodiscard]] int iptrackd_mgmt_msg_handler(void *data, gcl_session *session, bn_request *request,
                                            bn_response **ret_response);

// Message callbacks installed on the session layer.
int iptrackd_mgmt_handle_response(gcl_session *session, bn_response *response, void *data);
int iptrackd_mgmt_handle_event_response(gcl_session *session, bn_response *response, void *data);
int iptrackd_mgmt_handle_query_request(gcl_session *session, bn_request *request, void *data);
int iptrackd_mgmt_handle_event_request(gcl_session *session, bn_request *request, void *data);
int iptrackd_mgmt_handle_action_request(gcl_session *session, bn_request *request, void *data);
// Descriptor-close handler: a close that is not part of the exit logs "Lost
// connection to mgmtd; exiting", ends every wait without a response and
// begins the exit.
int iptrackd_mgmt_handle_session_close(int fd, fdic_reason reason, void *owner_data,
                                       void *handler_data);

// The full configuration read of start-up; the same as
// iptrackd_config_query (iptrackd_config.h), which start-up calls.
[[nodiscard]] int iptrackd_mgmt_config_read();

// Test seams: the number of requests currently waiting for a response.
uint32 iptrackd_mgmt_waiting_requests_for_tests();
