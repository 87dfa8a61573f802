// The daemon process: start-up, the one event loop, signals and exit.
//
// `main` (iptrackd_main.cc) brings the daemon up in a fixed order through
// iptrackd_init(), runs the loop until an exit is initiated, shuts down with
// iptrackd_deinit() and ends the process.  Everything here runs on the
// event-loop thread: signals arrive as loop events, never as asynchronous
// handlers, so the process-wide state below needs no lock.  The rest of the
// front end reads m_daemon_status and iptrackd_exiting, uses iptrackd_lwc,
// and calls iptrackd_initiate_exit() when the management session is lost.
//
// The functions live in iptrackd_lifecycle.cc, inside the daemon library,
// so that the other front-end modules and tests link them; iptrackd_main.cc
// holds only `main`.
#pragma once

#include "event/libevent_wrapper.h"
#include "log/logging.h"

// What the daemon reports as its status.  It only ever sets
// initializing and ready; the failure values exist for readers of the map.
enum iptrackd_daemon_status : int32 {
    iptrackd_status_initializing = 0,
    iptrackd_status_ready = 1,
    iptrackd_status_failed_partial = 50,
    iptrackd_status_failed_initialization = 51,
    iptrackd_status_failed_db_loading = 52,
    iptrackd_status_failed_memory_initialization = 53,
    iptrackd_status_failed_thread_initialization = 54,
    iptrackd_status_shutdown = 90,
    iptrackd_status_deinitialization = 91,
};
// Display texts of the status ("Initializing", "Ready", ...).
extern const lc_enum_string_map iptrackd_daemon_status_map[];

// Number of signals the daemon handles, and their table order.
constexpr int iptrackd_num_signals = 6;
extern const int iptrackd_signals[iptrackd_num_signals];

// "iptrackd": the logging identity and the name for the facility lookup.
extern const char *const iptrackd_program_name;
// The daemon's one event loop; null before lew_init and after lew_deinit.
extern lew_context *iptrackd_lwc;
// iptrackd_status_initializing until start-up has read the configuration,
// then iptrackd_status_ready for good.
extern int32 m_daemon_status;
// 0; 1 once the exit has begun, never cleared.
extern int32 iptrackd_exiting;
// One event per handled signal, in iptrackd_signals order; null before
// registration and once the exit has deleted them.
extern lew_event *iptrackd_signal_events[iptrackd_num_signals];

// The start-up sequence up to and including the "ready" step.  A failure
// ends it at once (steps done before stay done) and is returned.
[[nodiscard]] int iptrackd_init();
// Runs the loop until iptrackd_initiate_exit escapes it.
[[nodiscard]] int iptrackd_main_loop();
// The shut-down sequence; each step only when the one before succeeded.
[[nodiscard]] int iptrackd_deinit();
// Loop callback for all handled signals; the signal number comes in `fd`.
// SIGHUP, SIGINT and SIGTERM begin the exit; the others are only logged.
int iptrackd_handle_signal(int fd, lew_event_type kinds, void *data, lew_context *ctx);
// Begins the orderly exit: stops the alarm thread, deletes the signal
// events, shuts the session layer down and escapes the loop.  A failure to
// delete an event or to shut the session down is returned, and the loop
// then keeps running.
[[nodiscard]] int iptrackd_initiate_exit();
// True exactly when the status is ready.
bool iptrackd_is_daemon_ready();
