// Event core: a poll-based reactor with deadlines, signals and wake-ups.
//
// One `evc_base` serves one thread, its owner (the thread that created it);
// only the owner runs the loop.  Any thread may add and delete events: every
// operation takes the base's recursive lock, which the loop holds at all
// times except while it waits in poll(2), and callbacks run with it held, so
// a callback may use any operation on its own base (including a nested
// loop pass).  A change made by another thread writes to the base's pipe so
// that a waiting loop wakes and recomputes its wait.
//
// Signals never run code asynchronously: the process-wide handler only
// writes the signal number to the pipe of the base that watches it, and the
// loop turns it into a `evc_kind_signal` activation of every event watching
// that number.
//
// Events are caller-owned records (`evc_event`, usually embedded in a larger
// record); the base links them but never frees them.  An event must be
// deleted (`evc_event_del`) before its memory is released.  Deadlines live
// in small tree nodes pooled by the base rather than inside the events, so
// that walking the tree stays within a dense block of memory.
//
// Deadlines are read from lt_sys_monotonic_us (util/ttime.h), so a test that
// installs the manual clock there moves every base's time by hand; a clock
// that goes back moves the pending deadlines back with it.
#pragma once

#include <sys/time.h>

#include "event/deadline_tree.h"
#include "log/common.h"

// Event kinds, one 16-bit mask.
enum evc_kind : uint16 {
    evc_kind_timeout = 0x01,
    evc_kind_read = 0x02,
    evc_kind_write = 0x04,
    evc_kind_signal = 0x08,
    evc_kind_persist = 0x10, // stays registered after it fires
};

// Largest number of descriptor events one base watches.
constexpr uint32 evc_max_poll_entries = 100000;
// The poll arrays start with room for this many and double.
constexpr uint32 evc_initial_poll_entries = 32;
// The wait when no deadline is pending.
constexpr int64 evc_idle_wait_ms = 5000;
// Bytes written to the pipe to wake a waiting loop.
constexpr uint32 evc_wakeup_bytes = 128;
// Signal numbers that can be watched are 1..evc_max_signal.
constexpr int evc_max_signal = 65;

struct evc_base;

// Called with the descriptor (-1 for timers, the signal number for signals),
// the kinds that fired, and the argument given at evc_event_assign.
typedef void (*evc_callback)(int fd, uint16 kinds, void *arg);

// Queue membership of an event (evc_event::ev_flags).
enum evc_event_flags : uint16 {
    evc_flag_inserted = 0x01, // watched for readiness or a signal
    evc_flag_timeout = 0x02,  // in the deadline tree
    evc_flag_active = 0x04,   // in the active queue
};

// One registration.  Fields are the core's; read them, don't write them.
struct evc_event {
    // What firing and running touch comes first, in one cache line.
    detail::deadline_node *ev_timeout = nullptr; // its deadline in the base's tree, if any
    evc_event *ev_act_next = nullptr;            // active queue
    evc_event *ev_act_prev = nullptr;
    evc_callback ev_callback = nullptr;
    void *ev_arg = nullptr;
    int ev_fd = -1;
    uint16 ev_kinds = 0;
    uint16 ev_res = 0;    // kinds fired in the current activation
    uint16 ev_flags = 0;  // evc_event_flags
    uint32 ev_ncalls = 0; // calls still due for the current activation
    int32 ev_poll_index = -1;
    evc_base *ev_base = nullptr;
    evc_event *ev_sig_next = nullptr; // events watching the same signal
    evc_event *ev_sig_prev = nullptr;
};

// Why a loop run returned.
enum evc_stop : int32 {
    evc_stop_ran = 0,       // a single pass ran its events
    evc_stop_no_events = 1, // nothing was registered
    evc_stop_escaped = 2,   // evc_escape was called (now or earlier)
};

enum evc_loop_flags : uint32 {
    evc_loop_once = 0x1,     // return after running one batch of events
    evc_loop_nonblock = 0x2, // do not wait for readiness or deadlines
};

// Creates a base owned by the calling thread.  Setting EVENT_SHOW_METHOD in
// the environment prints the backend's name on standard error.
[[nodiscard]] int evc_base_new(evc_base **ret);
// Frees the base; events still linked are unlinked (not freed), watched
// signals get their previous dispositions back.  Null accepted.
int evc_base_free(evc_base **base);

// Prepares `ev` for `base`.  `ev` must not be pending (delete it first).
[[nodiscard]] int evc_event_assign(evc_event *ev, evc_base *base, int fd, uint16 kinds,
                                   evc_callback cb, void *arg);
// Makes `ev` pending: watched for its kinds, and with a deadline `timeout`
// from now when `timeout` is not null (cut so the deadline stays within a
// signed 32-bit number of seconds).  Adding a pending event replaces its
// deadline.
[[nodiscard]] int evc_event_add(evc_event *ev, const struct timeval *timeout);
// Removes `ev` from the loop (readiness, deadline, active queue); calls still
// due for it are dropped.  Not pending is not an error.
int evc_event_del(evc_event *ev);
// The kinds `ev` is pending for (timeout when it has a deadline) and the
// milliseconds left to its deadline (-1 without one).  Either out may be null.
int evc_event_pending(const evc_event *ev, uint16 *ret_kinds, int64 *ret_ms_left);
// Makes `ev` active with `kinds` as if they had fired `ncalls` times.
int evc_event_activate(evc_event *ev, uint16 kinds, uint32 ncalls);

// Runs the loop as `flags` say; `ret_stop` (may be null) says why it ended.
// Only the owner thread may run it.
[[nodiscard]] int evc_loop(evc_base *base, uint32 flags, evc_stop *ret_stop);
// Asks the loop to stop; the request is never withdrawn, so every later run
// of the loop returns at once with evc_stop_escaped.
int evc_escape(evc_base *base);
// While on, descriptor events are not watched for reading.
int evc_suppress_read(evc_base *base, tbool on);

// The base's recursive lock, for threads that need several operations to
// appear as one.
int evc_lock(evc_base *base);
int evc_unlock(evc_base *base);

// Number of events watched for readiness or signals (timers not counted).
uint32 evc_base_num_inserted(const evc_base *base);
// Number of events waiting for a deadline.
uint32 evc_base_num_timeouts(const evc_base *base);
// The wait the last loop pass chose, in milliseconds (0 for no wait).
int64 evc_base_last_wait_ms(const evc_base *base);

LC_OWNED_FREE(evc_base, evc_base_free)
