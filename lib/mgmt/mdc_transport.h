// The one client transport to mgmtd: bring-up of a client session,
// synchronous requests and one-way sends.
//
// Every process part that talks to mgmtd (the daemon's session, the alarm
// thread's session, the command-line client) builds one mdc_transport.  It
// owns the session layer context, the client session and the management
// client handle (md_client_context) whose requests it carries, and, when it
// runs on an event loop, the descriptor-interest binding to that loop.
//
// Waiting.  A synchronous request is sent, then the transport runs single
// passes of its loop (or, without a loop, blocking I/O on the session) until
// the response carrying the request's message id arrives.  Each waiting
// request has a wait record of its own; the records form a chain from the
// innermost wait outwards, and a response is matched by its request id
// against every record.  So a handler that runs inside the waiting passes
// and sends a request of its own gets exactly its own response, and so does
// the request it interrupted, whatever order the two responses come in.
// The nested request is still reported with "Required condition was not
// met", because it delays the outer caller.  A query, set or action
// response that matches no record is logged at WARNING ("Got response to
// request %d when no response was expected; ignoring", or "Got response to
// request %d, but was expecting response to request %d; ignoring") and
// dropped; an event response that matches none is the acknowledgement of a
// one-way send and is dropped without a line.
//
// One-way sends (events, alarms) queue the request on the session, write
// what the socket takes at once and return: they never wait, and any thread
// may make them.
//
// Threads.  The transport belongs to the thread that runs its loop.  Its
// wait chain is locked, so a request made from another thread (which then
// runs passes of that loop itself) is matched correctly, but the loop pass
// it runs is its own business.
//
// Ownership: mdc_transport_free releases, in this order, the session layer
// (and with it the session), the loop binding and the client handle.
// Responses handed out belong to the caller; requests stay the caller's.
#pragma once

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"

struct mdc_transport;

// The provider every management client connects to.
#define MDC_PROVIDER_MGMTD "mgmtd"

// Time-outs of the transport: none.
constexpr int32 mdc_timeout_none = -1;
// The service every management client opens, and the argument it opens it
// with.
constexpr uint32 mdc_mgmt_service_id = gcl_service_mgmt;
constexpr uint32 mdc_mgmt_service_arg = 2;
// Connecting: retry while the provider is not listening yet (or not).
constexpr tbool mdc_connect_retry = 1;
constexpr tbool mdc_connect_once = 0;

// How far mdc_transport_connect got (what failed, after a failure).
enum mdc_transport_stage : int32 {
    mts_unconnected = 0, // nothing yet, or the client session could not be made
    mts_session = 1,     // session made; connecting failed
    mts_connected = 2,   // connected; opening the service failed
    mts_open = 3,        // service open; the client handle could not be made
    mts_ready = 4,       // requests may be sent
};

struct mdc_transport_params {
    // The name the session introduces itself with (required).
    const char *mtp_client_name = nullptr;
    const char *mtp_provider_name = MDC_PROVIDER_MGMTD;
    tbool mtp_connect_retry = mdc_connect_retry;
    // The loop whose passes carry the waits (borrowed).  Null: the session
    // runs by blocking I/O, driven only by the transport's own calls.
    lew_context *mtp_loop = nullptr;
    // The limit of opening the service and, without a loop, of each
    // request's wait (mdc_timeout_none: none; lc_err_io_timeout when it
    // passes).
    int32 mtp_timeout_ms = mdc_timeout_none;
    // When set and non-zero at the end of a wait that got no response, the
    // request ends with the quiet lc_err_cancelled: the exit has begun.
    const int32 *mtp_exiting = nullptr;
    // Text put in front of the two WARNING lines as "<tag> :" (null: none).
    const char *mtp_log_tag = nullptr;
    // With a loop: told when the session's descriptor closes (the fdic
    // close handler, reason 5).  The transport ends no wait by itself; the
    // handler calls mdc_transport_end_waits when the loss is not expected.
    fdic_handler mtp_close_handler = nullptr;
    void *mtp_close_data = nullptr;
    // The send function of the client handle (null: mdc_transport_request
    // on this transport).  Owners whose entry point must be the one the
    // client calls give their own, which forwards to mdc_transport_request.
    mdc_msg_transport_func mtp_send_func = nullptr;
    void *mtp_send_data = nullptr;
    // Message callbacks of the session layer.  Null response callbacks get
    // the transport's own matching (mdc_transport_handle_response, with
    // the quiet form for event responses); owners that must keep handlers
    // of their own forward to it.  Null request callbacks: none.
    bn_response_msg_func mtp_query_response = nullptr;
    bn_response_msg_func mtp_action_response = nullptr;
    bn_response_msg_func mtp_event_response = nullptr;
    bn_request_msg_func mtp_query_request = nullptr;
    bn_request_msg_func mtp_event_request = nullptr;
    bn_request_msg_func mtp_action_request = nullptr;
    void *mtp_callback_data = nullptr; // for the owner's callbacks
};

// Binds the session layer to the loop (when there is one), creates it and
// installs the callbacks.  No connection yet.  Failures are logged as error
// codes and returned.
[[nodiscard]] int mdc_transport_new(const mdc_transport_params *params,
                                    mdc_transport **ret_transport);
// Creates the client session, connects to the provider (with the retry
// given), opens the management service and builds the client handle.  A
// failure is logged as its error code and then at ERR as "Unable to connect
// to the management daemon"; when connecting fails with lc_err_io_error or
// lc_err_io_closed (the provider cannot be reached) only the second line is
// logged.  The code is returned; mdc_transport_get_stage says what failed.
[[nodiscard]] int mdc_transport_connect(mdc_transport *transport);
// The report of mdc_transport_connect, for the owner's own bring-up steps
// after it (registering interests): logs `err` with `func` and `line`
// (skipped for the unreachable codes when `unreachable_quiet`), then "Unable
// to connect to the management daemon", and returns `err`.  The quiet
// lc_err_cancelled (the exit began meanwhile) logs nothing.
[[nodiscard]] int mdc_transport_report_unable_to_connect(int err, bool unreachable_quiet,
                                                         const char *func, const char *file,
                                                         int line);
// Closes the session (the close handler hears of it).
int mdc_transport_shutdown(mdc_transport *transport);
// Releases the session layer, the loop binding and the client handle, and
// nulls *transport.  Each step's failure is logged and the next still runs.
int mdc_transport_free(mdc_transport **transport);
LC_OWNED_FREE(mdc_transport, mdc_transport_free)

// What the transport holds (null for a null transport or before it exists).
gcl_session *mdc_transport_get_session(const mdc_transport *transport);
md_client_context *mdc_transport_get_client(const mdc_transport *transport);
gcl_handle *mdc_transport_get_gcl(const mdc_transport *transport);
mdc_transport_stage mdc_transport_get_stage(const mdc_transport *transport);

// The synchronous request (the transport function of the client handle).
// On return `*ret_response` holds the response to `request` (the caller's),
// or null when the wait ended without one (session lost, loop escaped or
// idle, pass failed, time-out).  The result is that of the last loop pass
// or blocking step, lc_err_io_closed when the session is not connected, or
// the quiet lc_err_cancelled when the exit began during the wait.  Without
// a transport or session: lc_err_generic_error, not logged.
[[nodiscard]] int mdc_transport_request(mdc_transport *transport, bn_request *request,
                                        bn_response **ret_response);
// Sends `request` without waiting: it is written or queued when this
// returns.  lc_err_io_closed when the session is not connected; without a
// transport or session lc_err_generic_error, not logged.
[[nodiscard]] int mdc_transport_send_oneway(mdc_transport *transport, bn_request *request);
// One step of waiting: a loop pass (the quiet lc_err_cancelled when the
// loop is escaped or has nothing left to wait for), or blocking I/O on the
// session for at most `timeout_ms` (lc_err_io_timeout when it passes).  For
// owners that wait for requests from mgmtd.
[[nodiscard]] int mdc_transport_pump(mdc_transport *transport, int32 timeout_ms);

// The response matching (for owners that install response handlers of
// their own): stores a copy of `response` in the wait record of its
// request id, or logs one of the two WARNING lines and drops it.
int mdc_transport_handle_response(mdc_transport *transport, const bn_response *response);
// The same without the lines: for acknowledgements of one-way sends.
int mdc_transport_handle_response_quiet(mdc_transport *transport, const bn_response *response);
// Ends every wait now, without a response (the session was lost).
void mdc_transport_end_waits(mdc_transport *transport);
// The number of requests waiting for their response.
uint32 mdc_transport_waiting_requests(mdc_transport *transport);
