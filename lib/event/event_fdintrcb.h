// `fdic`: the registry of descriptor and timer interests, and its adapter
// to the event core.
//
// A library that owns descriptors but not the loop (the session layer)
// declares here which descriptors it wants watched for reading or writing
// and which timers it wants run.  The registry itself watches nothing:
// after every change it works out which interest records differ from what
// it last reported and hands those to its consumer.  The adapter
// (`fdic_libevent_*`) is such a consumer: it keeps one core event per
// active record, in a hash table by record id, and calls the record's
// handlers when the event fires.
//
// Records belong to the registry; the consumer gets copies.  Handlers are
// called on the loop thread as handler(descriptor, reason, owner data,
// handler data); they may change the registry (add, update, delete records,
// including their own).
#pragma once

#include "event/event.h"
#include "log/common.h"

typedef uint32 fdic_event_id;

enum fdic_reason : int32 {
    fdic_reason_read = 1,
    fdic_reason_write = 2,
    fdic_reason_timeout = 3,
    fdic_reason_fd_added = 4,   // the adapter started watching a descriptor
    fdic_reason_fd_removed = 5, // the adapter stopped watching a descriptor
};

typedef int (*fdic_handler)(int fd, fdic_reason reason, void *owner_data, void *handler_data);

// One interest.  A descriptor interest has fer_is_fd 1 and is active from
// add to delete; a timer interest has fd -1 and is active while its
// timeout is not negative.
struct fdic_event_record {
    fdic_event_id fer_id = 0;
    tbool fer_active = 0;
    tbool fer_is_fd = 0;
    int fer_fd = -1;
    void *fer_owner_data = nullptr;
    tbool fer_want_read = 0;
    tbool fer_want_write = 0;
    fdic_handler fer_read_handler = nullptr;
    fdic_handler fer_write_handler = nullptr;
    void *fer_rw_data = nullptr;
    tbool fer_want_timeout = 0;
    int64 fer_timeout_ms = -1;
    fdic_handler fer_timeout_handler = nullptr;
    void *fer_timeout_data = nullptr;
    // Bumped by every add and update of the record, so that updating a
    // timer with the timeout it already had is still reported (and re-arms
    // it).
    uint32 fer_serial = 0;
};

struct fdic_context;

// Receives the records that changed since the last report (deleted ones
// with fer_active 0), ordered by id.  The changes count as reported either
// way (the consumer's handlers may change the registry again meanwhile); a
// non-zero result is returned by the registry operation that caused the
// report, whose caller decides (for a descriptor, usually to delete it).
typedef int (*fdic_consumer_func)(fdic_context *context, const fdic_event_record *changed,
                                  uint32 num_changed, void *consumer_data);

[[nodiscard]] int fdic_init(fdic_context **ret_context, fdic_consumer_func consumer,
                            void *consumer_data);
// Frees the registry without reporting anything (the consumer may be gone).
int fdic_deinit(fdic_context **context);

// Declares interest in `fd`; `*ret_id` names it from then on.
[[nodiscard]] int fdic_event_add_fd(fdic_context *context, int fd, tbool want_read,
                                    tbool want_write, void *owner_data, fdic_handler read_handler,
                                    fdic_handler write_handler, void *handler_data,
                                    fdic_event_id *ret_id);
// Changes what `id` is watched for; an unknown id logs at WARNING and is
// lc_err_not_found.
[[nodiscard]] int fdic_event_update_fd(fdic_context *context, fdic_event_id id, tbool want_read,
                                       tbool want_write);
[[nodiscard]] int fdic_event_delete_fd(fdic_context *context, fdic_event_id id);
// Declares a timer `timeout_ms` from the time it is reported (-1: none yet).
[[nodiscard]] int fdic_event_add_timer(fdic_context *context, int64 timeout_ms, void *owner_data,
                                       fdic_handler timeout_handler, void *handler_data,
                                       fdic_event_id *ret_id);
// Re-arms (or with -1 disarms) timer `id`.
[[nodiscard]] int fdic_event_update_timer(fdic_context *context, fdic_event_id id,
                                          int64 timeout_ms);
[[nodiscard]] int fdic_event_delete_timer(fdic_context *context, fdic_event_id id);
// The current records, ordered by id (borrowed; valid until the next change).
[[nodiscard]] int fdic_events_query(const fdic_context *context,
                                    const fdic_event_record **ret_records, uint32 *ret_count);

LC_OWNED_FREE(fdic_context, fdic_deinit)

// ---------------------------------------------------------------------------
// Adapter to the event core

struct fdic_libevent_context;

// Creates an adapter that registers its events on `core` (borrowed; it must
// outlive the adapter).
[[nodiscard]] int fdic_libevent_init(evc_base *core, fdic_libevent_context **ret_adapter);
// Deletes every event of the adapter and frees it; no handler is called.
int fdic_libevent_deinit(fdic_libevent_context **adapter);
// The consumer to pass to fdic_init, with the adapter as its data.
int fdic_libevent_callback(fdic_context *context, const fdic_event_record *changed,
                           uint32 num_changed, void *adapter);
// Called with reason 4 when a descriptor starts being watched and reason 5
// when it stops (its record deleted), with the record's owner data.
int fdic_libevent_set_fd_open_handler(fdic_libevent_context *adapter, fdic_handler handler,
                                      void *handler_data);
int fdic_libevent_set_fd_close_handler(fdic_libevent_context *adapter, fdic_handler handler,
                                       void *handler_data);

LC_OWNED_FREE(fdic_libevent_context, fdic_libevent_deinit)
