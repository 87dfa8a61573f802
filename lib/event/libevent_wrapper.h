// `lew`: the event loop as the rest of the system uses it.
//
// A `lew_context` wraps one event core (event/event.h) and the records of
// every event registered through it.  Event handles are owned by the
// caller: a variable of type `lew_event *`, null until the first
// registration, whose address is passed to every call.  The first
// registration allocates the record and stores it in the variable; delete
// frees it and nulls the variable again.  The context remembers each
// handle's address (kept sorted by address), so a variable holding a record
// of another context is refused with lc_err_not_found.
//
// Registering on a live handle replaces the earlier registration (callback,
// data, descriptor, kinds and deadline).  Callbacks run on the loop's owner
// thread with the context's lock held, so they may use any operation of
// their own context; other threads may register, cancel, delete and escape
// under the same lock (lew_mutex_lock to group several calls).
#pragma once

#include "event/event.h"
#include "log/common.h"

struct lew_context;
struct lew_event;

// Event kinds (one 16-bit mask); the callback receives those that fired.
typedef uint16 lew_event_type;
constexpr lew_event_type lew_event_timeout = evc_kind_timeout;
constexpr lew_event_type lew_event_read = evc_kind_read;
constexpr lew_event_type lew_event_write = evc_kind_write;
constexpr lew_event_type lew_event_signal = evc_kind_signal;
constexpr lew_event_type lew_event_persist = evc_kind_persist;

// Called as callback(descriptor, kinds fired, caller data, context).  The
// descriptor is -1 for timers and the signal number for signals.  A
// non-zero result is logged (except lc_err_cancelled); the loop goes on.
typedef int (*lew_event_handler)(int fd, lew_event_type kinds, void *data, lew_context *ctx);

// The record behind a handle: the core's event, then the wrapper's fields.
struct lew_event {
    evc_event le_core;
    lew_context *le_context = nullptr;
    lew_event_handler le_callback = nullptr;
    void *le_data = nullptr;
    lew_event **le_handle = nullptr; // the caller's variable
    lew_event *le_next = nullptr;    // the context's list of records
    lew_event *le_prev = nullptr;
};

// Creates a context; the calling thread becomes the owner that dispatches.
[[nodiscard]] int lew_init(lew_context **ret_context);
// Deletes every event (nulling the callers' handles), frees the context and
// nulls *context.  Null accepted.
int lew_deinit(lew_context **context);
// The event core, for the descriptor-interest adapter (borrowed).
[[nodiscard]] int lew_get_event_context(lew_context *context, evc_base **ret_base);

// Watches `fd` for `kinds` (lew_event_read and/or lew_event_write only),
// until it fires once or, with `persist`, until cancelled.
[[nodiscard]] int lew_event_reg_fd(lew_context *context, lew_event **handle, int fd,
                                   lew_event_type kinds, tbool persist, lew_event_handler callback,
                                   void *data);
// As lew_event_reg_fd with a deadline `timeout_ms` from now.  A deadline
// that passes first removes the event from the loop entirely (persistent or
// not) and the callback gets lew_event_timeout.
[[nodiscard]] int lew_event_reg_fd_timeout(lew_context *context, lew_event **handle, int fd,
                                           lew_event_type kinds, tbool persist,
                                           lew_event_handler callback, void *data,
                                           int64 timeout_ms);
// Watches signal `signum` (1..65), persistently; the callback gets the
// number as its descriptor, on the loop thread.
[[nodiscard]] int lew_event_reg_signal(lew_context *context, lew_event **handle, int signum,
                                       lew_event_handler callback, void *data);
[[nodiscard]] int lew_event_reg_signal_timeout(lew_context *context, lew_event **handle, int signum,
                                               lew_event_handler callback, void *data,
                                               int64 timeout_ms);
// A one-shot timer `timeout_ms` from now.
[[nodiscard]] int lew_event_reg_timer(lew_context *context, lew_event **handle,
                                      lew_event_handler callback, void *data, int64 timeout_ms);

// Takes the event out of the loop and puts it back without a deadline.
[[nodiscard]] int lew_event_reschedule(lew_context *context, lew_event **handle);
// Takes the event out of the loop and puts it back with a deadline
// `timeout_ms` from now.
[[nodiscard]] int lew_event_reschedule_timeout(lew_context *context, lew_event **handle,
                                               int64 timeout_ms);
// Takes the event out of the loop; the record stays.  A null handle is
// success.
[[nodiscard]] int lew_event_cancel(lew_context *context, lew_event **handle);
// Cancels, frees the record and nulls *handle.  A null handle is success.
[[nodiscard]] int lew_event_delete(lew_context *context, lew_event **handle);
// The kinds still pending (lew_event_timeout while a deadline is set) and
// the milliseconds left to the deadline (-1 without one).  Outs may be null.
[[nodiscard]] int lew_event_is_pending(lew_context *context, lew_event **handle,
                                       lew_event_type *ret_kinds, int64 *ret_ms_left);
// The caller data of the registration (null for a null handle).
[[nodiscard]] int lew_event_get_data(lew_context *context, lew_event **handle, void **ret_data);

// Runs the loop until nothing is registered or it is escaped.  The outs
// (either may be null) say which; both 0 means neither.
[[nodiscard]] int lew_dispatch(lew_context *context, tbool *ret_no_events, tbool *ret_escaped);
// One pass: waits for and runs at least one batch of active events.
[[nodiscard]] int lew_dispatch_once(lew_context *context, tbool *ret_no_events, tbool *ret_escaped);
// One pass without waiting.
[[nodiscard]] int lew_dispatch_nonblocking(lew_context *context, tbool *ret_no_events,
                                           tbool *ret_escaped);
// Asks the loop to stop, from any thread.  It stays stopped: every later
// dispatch on this context returns at once with the escaped indication.
int lew_escape_from_dispatch(lew_context *context);
// While on, descriptors are not watched for reading.
int lew_suppress_read_fds(lew_context *context, tbool on);

// Over every registered handle, in handle-address order.
int lew_cancel_all_events(lew_context *context);
int lew_delete_all_events(lew_context *context);
// Logs one NOTICE line per event.
int lew_dump_all_events(lew_context *context);
// Logs each registration at NOTICE while on.
int lew_event_enable_debug(lew_context *context, tbool on);

// The context's lock, for threads other than the owner that need several
// calls to appear as one.  Recursive.
int lew_mutex_lock(lew_context *context);
int lew_mutex_unlock(lew_context *context);

LC_OWNED_FREE(lew_context, lew_deinit)
