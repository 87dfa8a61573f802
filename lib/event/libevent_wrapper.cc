// `lew` over the event core: caller-owned handles, one universal callback.
//
// The context keeps its records in an array sorted by the address of the
// caller's handle variable.  Looking a handle up by its address (never by
// dereferencing what the variable holds) is what lets a foreign or stale
// record be refused safely.
#include "event/libevent_wrapper.h"

#include <climits>
#include <new>

#include "log/logging.h"
#include "util/array.h"

struct lew_context {
    evc_base *base = nullptr;
    // The records, sorted by the address of their handle (le_handle); the
    // element free cancels, frees and nulls the caller's variable.
    array *records = nullptr;
    bool debug = false;
};

namespace
{

class context_lock
{
  public:
    explicit context_lock(lew_context *c) : b_(c->base) { (void)evc_lock(b_); }
    ~context_lock() { (void)evc_unlock(b_); }
    context_lock(const context_lock &) = delete;
    context_lock &operator=(const context_lock &) = delete;

  private:
    evc_base *b_;
};

void universal_callback(int fd, uint16 kinds, void *arg)
{
    lew_event *rec = static_cast<lew_event *>(arg);
    // The callback may delete its own record: nothing of it is touched after.
    const int err = rec->le_callback(fd, kinds, rec->le_data, rec->le_context);
    if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
}

lew_event *record_at(const lew_context *c, uint32 i)
{
    return static_cast<lew_event *>(array_get_quick(c->records, i));
}

// Index of the first record whose handle address is not below `handle`.
uint32 lower_bound_handle(const lew_context *c, lew_event **handle)
{
    uint32 lo = 0, hi = array_length_quick(c->records);
    while (lo < hi) {
        const uint32 mid = lo + (hi - lo) / 2;
        if (reinterpret_cast<uintptr_t>(record_at(c, mid)->le_handle) <
            reinterpret_cast<uintptr_t>(handle))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Index of the record registered under `handle`, or lc_err_not_found
// (unlogged).  A variable that was overwritten with something else than its
// record is not ours.
int find_index(const lew_context *c, lew_event **handle, uint32 *ret)
{
    *ret = 0;
    const uint32 i = lower_bound_handle(c, handle);
    lew_event *rec = record_at(c, i);
    if (!rec || rec->le_handle != handle) return lc_err_not_found;
    if (*handle != nullptr && *handle != rec) return lc_err_not_found;
    *ret = i;
    return 0;
}

int find_record(const lew_context *c, lew_event **handle, lew_event **ret)
{
    *ret = nullptr;
    uint32 i = 0;
    bail_error_quiet(find_index(c, handle, &i));
    *ret = record_at(c, i);
    return 0;
}

// The record for `handle`, created on first use.  A null variable whose
// address is still known gets its old record back.
int find_or_create(lew_context *c, lew_event **handle, lew_event **ret)
{
    *ret = nullptr;
    const uint32 i = lower_bound_handle(c, handle);
    lew_event *rec = record_at(c, i);
    if (rec && rec->le_handle == handle) {
        if (*handle != nullptr && *handle != rec) return lc_err_not_found;
        *handle = rec;
        *ret = rec;
        return 0;
    }
    if (*handle != nullptr) return lc_err_not_found; // a record of someone else
    rec = new (std::nothrow) lew_event{};
    bail_null(rec);
    rec->le_context = c;
    rec->le_handle = handle;
    void *elem = rec;
    bail_error(array_insert_takeover(c->records, i, &elem)); // freed by the array on failure
    *handle = rec;
    *ret = rec;
    return 0;
}

// Element free of the record array: cancels, frees the record and nulls
// the caller's variable.
void record_free(void *element)
{
    lew_event *rec = static_cast<lew_event *>(element);
    (void)evc_event_del(&rec->le_core);
    if (*rec->le_handle == rec) *rec->le_handle = nullptr;
    delete rec;
}

int ms_to_timeval(int64 ms, timeval *tv)
{
    bail_require(ms >= 0);
    int64 sec = ms / 1000;
    if (sec > INT32_MAX) sec = INT32_MAX; // the core caps the deadline itself
    tv->tv_sec = static_cast<time_t>(sec);
    tv->tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return 0;
}

int reg_common(lew_context *c, lew_event **handle, int fd, uint16 kinds, lew_event_handler callback,
               void *data, const int64 *timeout_ms)
{
    bail_null(c);
    bail_null(handle);
    bail_null(callback);
    timeval tv{};
    if (timeout_ms) bail_error(ms_to_timeval(*timeout_ms, &tv));

    context_lock lock(c);
    lew_event *rec = nullptr;
    bail_error(find_or_create(c, handle, &rec));
    bail_error(evc_event_del(&rec->le_core));
    rec->le_callback = callback;
    rec->le_data = data;
    bail_error(evc_event_assign(&rec->le_core, c->base, fd, kinds, universal_callback, rec));
    bail_error(evc_event_add(&rec->le_core, timeout_ms ? &tv : nullptr));
    if (c->debug)
        lc_log_basic(LCL_NOTICE, "lew: registered event %p: fd = %d, flags = %d, timeout = %lld ms",
                     static_cast<void *>(rec), fd, kinds,
                     static_cast<long long>(timeout_ms ? *timeout_ms : -1));
    return 0;
}

int check_fd_kinds(lew_event_type kinds)
{
    bail_require(kinds != 0 && (kinds & ~(lew_event_read | lew_event_write)) == 0);
    return 0;
}

int check_signum(int signum)
{
    bail_require(signum >= 1 && signum <= evc_max_signal);
    return 0;
}

int dispatch(lew_context *c, uint32 flags, tbool *ret_no_events, tbool *ret_escaped)
{
    if (ret_no_events) *ret_no_events = 0;
    if (ret_escaped) *ret_escaped = 0;
    bail_null(c);
    evc_stop stop = evc_stop_ran;
    bail_error(evc_loop(c->base, flags, &stop));
    if (ret_no_events) *ret_no_events = stop == evc_stop_no_events;
    if (ret_escaped) *ret_escaped = stop == evc_stop_escaped;
    return 0;
}

} // namespace

int lew_init(lew_context **ret_context)
{
    bail_null(ret_context);
    *ret_context = nullptr;
    owned<lew_context> c{new (std::nothrow) lew_context};
    bail_null(c.get());
    array_options opts;
    bail_error(array_options_get_defaults(&opts));
    opts.free = record_free;
    // Kept in order by lower_bound_handle, not by array_insert_sorted.
    opts.check_sorted = 0;
    bail_error(array_new(&c->records, &opts));
    bail_error(evc_base_new(&c->base));
    *ret_context = c.release();
    return 0;
}

int lew_deinit(lew_context **context)
{
    bail_null(context);
    lew_context *c = *context;
    if (!c) return 0;
    *context = nullptr;
    if (c->base) (void)lew_delete_all_events(c);
    (void)array_free(&c->records);
    (void)evc_base_free(&c->base);
    delete c;
    return 0;
}

int lew_get_event_context(lew_context *context, evc_base **ret_base)
{
    bail_null(ret_base);
    *ret_base = nullptr;
    bail_null(context);
    *ret_base = context->base;
    return 0;
}

int lew_event_reg_fd(lew_context *context, lew_event **handle, int fd, lew_event_type kinds,
                     tbool persist, lew_event_handler callback, void *data)
{
    bail_error(check_fd_kinds(kinds));
    const uint16 k = kinds | (persist ? lew_event_persist : 0);
    bail_error(reg_common(context, handle, fd, k, callback, data, nullptr));
    return 0;
}

int lew_event_reg_fd_timeout(lew_context *context, lew_event **handle, int fd, lew_event_type kinds,
                             tbool persist, lew_event_handler callback, void *data,
                             int64 timeout_ms)
{
    bail_error(check_fd_kinds(kinds));
    const uint16 k = kinds | (persist ? lew_event_persist : 0);
    bail_error(reg_common(context, handle, fd, k, callback, data, &timeout_ms));
    return 0;
}

int lew_event_reg_signal(lew_context *context, lew_event **handle, int signum,
                         lew_event_handler callback, void *data)
{
    bail_error(check_signum(signum));
    bail_error(reg_common(context, handle, signum, lew_event_signal | lew_event_persist, callback,
                          data, nullptr));
    return 0;
}

int lew_event_reg_signal_timeout(lew_context *context, lew_event **handle, int signum,
                                 lew_event_handler callback, void *data, int64 timeout_ms)
{
    bail_error(check_signum(signum));
    bail_error(reg_common(context, handle, signum, lew_event_signal | lew_event_persist, callback,
                          data, &timeout_ms));
    return 0;
}

int lew_event_reg_timer(lew_context *context, lew_event **handle, lew_event_handler callback,
                        void *data, int64 timeout_ms)
{
    bail_error(reg_common(context, handle, -1, 0, callback, data, &timeout_ms));
    return 0;
}

int lew_event_reschedule(lew_context *context, lew_event **handle)
{
    bail_null(context);
    bail_null(handle);
    context_lock lock(context);
    lew_event *rec = nullptr;
    bail_error(find_record(context, handle, &rec));
    bail_error(evc_event_del(&rec->le_core));
    bail_error(evc_event_add(&rec->le_core, nullptr));
    return 0;
}

int lew_event_reschedule_timeout(lew_context *context, lew_event **handle, int64 timeout_ms)
{
    bail_null(context);
    bail_null(handle);
    timeval tv{};
    bail_error(ms_to_timeval(timeout_ms, &tv));
    context_lock lock(context);
    lew_event *rec = nullptr;
    bail_error(find_record(context, handle, &rec));
    bail_error(evc_event_del(&rec->le_core));
    bail_error(evc_event_add(&rec->le_core, &tv));
    return 0;
}

int lew_event_cancel(lew_context *context, lew_event **handle)
{
    bail_null(context);
    bail_null(handle);
    if (*handle == nullptr) return 0;
    context_lock lock(context);
    lew_event *rec = nullptr;
    bail_error(find_record(context, handle, &rec));
    bail_error(evc_event_del(&rec->le_core));
    return 0;
}

int lew_event_delete(lew_context *context, lew_event **handle)
{
    bail_null(context);
    bail_null(handle);
    if (*handle == nullptr) return 0;
    context_lock lock(context);
    uint32 i = 0;
    bail_error(find_index(context, handle, &i));
    bail_error(array_delete(context->records, i));
    return 0;
}

int lew_event_is_pending(lew_context *context, lew_event **handle, lew_event_type *ret_kinds,
                         int64 *ret_ms_left)
{
    if (ret_kinds) *ret_kinds = 0;
    if (ret_ms_left) *ret_ms_left = -1;
    bail_null(context);
    bail_null(handle);
    if (*handle == nullptr) return 0;
    context_lock lock(context);
    lew_event *rec = nullptr;
    bail_error(find_record(context, handle, &rec));
    bail_error(evc_event_pending(&rec->le_core, ret_kinds, ret_ms_left));
    return 0;
}

int lew_event_get_data(lew_context *context, lew_event **handle, void **ret_data)
{
    bail_null(ret_data);
    *ret_data = nullptr;
    bail_null(context);
    bail_null(handle);
    if (*handle == nullptr) return 0;
    context_lock lock(context);
    lew_event *rec = nullptr;
    bail_error(find_record(context, handle, &rec));
    *ret_data = rec->le_data;
    return 0;
}

int lew_dispatch(lew_context *context, tbool *ret_no_events, tbool *ret_escaped)
{
    bail_error(dispatch(context, 0, ret_no_events, ret_escaped));
    return 0;
}

int lew_dispatch_once(lew_context *context, tbool *ret_no_events, tbool *ret_escaped)
{
    bail_error(dispatch(context, evc_loop_once, ret_no_events, ret_escaped));
    return 0;
}

int lew_dispatch_nonblocking(lew_context *context, tbool *ret_no_events, tbool *ret_escaped)
{
    bail_error(dispatch(context, evc_loop_once | evc_loop_nonblock, ret_no_events, ret_escaped));
    return 0;
}

int lew_escape_from_dispatch(lew_context *context)
{
    bail_null(context);
    bail_error(evc_escape(context->base));
    return 0;
}

int lew_suppress_read_fds(lew_context *context, tbool on)
{
    bail_null(context);
    bail_error(evc_suppress_read(context->base, on));
    return 0;
}

int lew_cancel_all_events(lew_context *context)
{
    bail_null(context);
    context_lock lock(context);
    const uint32 n = array_length_quick(context->records);
    for (uint32 i = 0; i < n; ++i) bail_error(evc_event_del(&record_at(context, i)->le_core));
    return 0;
}

int lew_delete_all_events(lew_context *context)
{
    bail_null(context);
    context_lock lock(context);
    bail_error(array_empty(context->records));
    return 0;
}

int lew_dump_all_events(lew_context *context)
{
    bail_null(context);
    context_lock lock(context);
    const uint32 n = array_length_quick(context->records);
    for (uint32 i = 0; i < n; ++i) {
        const lew_event *rec = record_at(context, i);
        lc_log_basic(LCL_NOTICE, "Event %d: fd = %d, handler = %p, flags = %d", static_cast<int>(i),
                     rec->le_core.ev_fd, reinterpret_cast<void *>(rec->le_callback),
                     rec->le_core.ev_kinds);
    }
    return 0;
}

int lew_event_enable_debug(lew_context *context, tbool on)
{
    bail_null(context);
    context_lock lock(context);
    context->debug = on != 0;
    return 0;
}

int lew_mutex_lock(lew_context *context)
{
    bail_null(context);
    bail_error(evc_lock(context->base));
    return 0;
}

int lew_mutex_unlock(lew_context *context)
{
    bail_null(context);
    bail_error(evc_unlock(context->base));
    return 0;
}
