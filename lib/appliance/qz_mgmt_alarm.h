// The alarm session: a second, independent session to mgmtd, owned by a
// thread of its own with its own event loop, over which alarms are sent.
//
// qz_alm_mgmt_init starts the thread and waits (on an unnamed semaphore)
// until the thread has opened its session or given up; the daemon runs on
// without an alarm session when it gave up.  The thread builds its loop,
// session layer and client handle, then runs its loop until
// qz_alm_mgmt_shutdown escapes it.  Requests sent with `qz_alm_mcc` go
// through a transport of their own that sends the request and runs single
// passes of the alarm loop until the matching response arrives.
//
// If the alarm session is lost while the daemon is not exiting, the thread
// logs "Lost connection to mgmtd; exiting" and calls qz_initiate_exit
// itself.  A thread cannot join itself, so there the shutdown only escapes
// the alarm loop and shuts the session layer down: the thread then ends on
// its own.  The loss ends the whole daemon: qz_initiate_exit wakes the
// daemon's loop (qz_alm_mgmt_set_exit_notify), whose thread begins the
// daemon's exit, and that exit's qz_initiate_exit joins the alarm thread.
//
// The session, the waits and the one-way sends are those of the management
// client transport (mgmt/mdc_transport.h).
//
// Ownership: the thread creates the loop, the descriptor-interest handles,
// the session layer, the session and the client handle; qz_alm_mgmt_deinit
// (after shutdown, once the thread has ended) releases them.  Responses
// handed out by the transport belong to the caller.
#pragma once

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"

// The alarm thread's loop, session and client handle (null when absent).
extern lew_context *qz_alm_lwc;
extern gcl_session *qz_alm_mgmt_session;
extern md_client_context *qz_alm_mcc;
// 0 until the exit has begun, then 1 for good (read and written
// atomically: both threads use it).
extern int32 qz_exiting;

// Starts the alarm thread, whose session introduces itself as
// `client_name`, and waits until it has set up its session or given up.
// Returns 0, or the thread library's error number when the thread could
// not be created.
[[nodiscard]] int qz_alm_mgmt_init(const char *client_name);
// Escapes the alarm loop, joins the thread (not when called on the alarm
// thread itself) and shuts the alarm session layer down.
[[nodiscard]] int qz_alm_mgmt_shutdown();
// Releases the session layer, the descriptor-interest handles, the client
// handle and the loop, and clears qz_alm_mgmt_session.  Always 0.
int qz_alm_mgmt_deinit();
// Sets qz_exiting, stops the alarm thread and escapes the alarm loop once
// more.  On the alarm thread (its session was lost) it also wakes the loop
// given to qz_alm_mgmt_set_exit_notify, which begins the daemon's exit.
[[nodiscard]] int qz_initiate_exit();

// The daemon's part in the loss of the alarm session: `begin_exit` is run
// on the thread that dispatches `lwc` once the alarm thread has lost its
// session and stopped.  Set once, before qz_alm_mgmt_init; the registration
// on `lwc` is removed by qz_alm_mgmt_deinit, which must run before the
// loop is released.
typedef int (*qz_alm_exit_func)();
[[nodiscard]] int qz_alm_mgmt_set_exit_notify(lew_context *lwc, qz_alm_exit_func begin_exit);

// The alarm session's synchronous transport (given to mdc_init for
// qz_alm_mcc).  On return `*ret_response` holds the response (owned by the
// caller) or null when the wait ended without one; the result is that of
// the last loop pass.  Without a session: lc_err_generic_error, not logged.
[[nodiscard]] int qz_alm_mgmt_msg_handler(void *data, gcl_session *session, bn_request *request,
                                          bn_response **ret_response);
// Callbacks of the alarm session.
int qz_alm_mgmt_handle_response(gcl_session *session, bn_response *response, void *data);
int qz_alm_mgmt_handle_event_response(gcl_session *session, bn_response *response, void *data);
int qz_alm_mgmt_handle_session_close(int fd, fdic_reason reason, void *owner_data,
                                     void *handler_data);

// Test seam: whether a thread handle is held (the thread runs or was not
// joined yet).
bool qz_alm_thread_running_for_tests();
