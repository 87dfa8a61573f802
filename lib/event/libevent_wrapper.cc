// `lew` over the event core: caller-owned handles, one universal callback.
//
// The context keeps the addresses of the callers' handle variables in an
// array sorted by address, and its records on a list.  A handle is looked
// up by its address first; only a registered variable is dereferenced, so
// a variable holding a foreign or stale record is refused safely.  The list
// lets a record whose variable was nulled behind the wrapper's back still
// be found (and freed at the latest by lew_deinit).
#include "event/libevent_wrapper.h"

#include <climits>
#include <new>

#include "log/logging.h"
#include "util/array.h"

struct lew_context {
    evc_base *base = nullptr;
    // Registered handle addresses (lew_event **), sorted; the element free
    // cancels and frees the handle's record and nulls the variable.
    array *handles = nullptr;
    lew_event *all = nullptr; // every record, linked by le_next / le_prev
    uint32 hint = 0;          // index of the handle found last
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

lew_event **handle_at(const lew_context *c, uint32 i)
{
    return static_cast<lew_event **>(c->handles->elements[i]);
}

// Index of the first registered handle address not below `handle`.  The
// comparisons are unpredictable, so the halving is written branch-free.
uint32 lower_bound_handle(lew_context *c, lew_event **handle)
{
    const uint32 len = c->handles->length;
    if (len == 0) return 0;
    // The same handle again, or the next one: the usual re-arming patterns.
    void *const *e = c->handles->elements;
    if (c->hint < len && e[c->hint] == handle) return c->hint;
    if (c->hint + 1 < len && e[c->hint + 1] == handle) return ++c->hint;
    const auto key = reinterpret_cast<uintptr_t>(handle);
    void *const *first = c->handles->elements;
    void *const *base = first;
    for (uint32 n = len; n > 1;) {
        const uint32 half = n / 2;
        base = reinterpret_cast<uintptr_t>(base[half]) < key ? base + half : base;
        n -= half;
    }
    c->hint = static_cast<uint32>(base - first) + (reinterpret_cast<uintptr_t>(*base) < key);
    return c->hint;
}

void list_unlink(lew_context *c, lew_event *rec)
{
    if (rec->le_prev)
        rec->le_prev->le_next = rec->le_next;
    else
        c->all = rec->le_next;
    if (rec->le_next) rec->le_next->le_prev = rec->le_prev;
    rec->le_next = rec->le_prev = nullptr;
}

void record_destroy(lew_context *c, lew_event *rec)
{
    (void)evc_event_del(&rec->le_core);
    list_unlink(c, rec);
    delete rec;
}

// The record behind registered handle `handle`: what the variable holds
// when that is ours, or (for a variable nulled behind our back) the record
// still listed under its address.  Null when neither.
lew_event *record_of(lew_context *c, lew_event **handle)
{
    lew_event *rec = *handle;
    if (rec) return rec->le_context == c && rec->le_handle == handle ? rec : nullptr;
    for (rec = c->all; rec; rec = rec->le_next)
        if (rec->le_handle == handle) {
            *handle = rec;
            return rec;
        }
    return nullptr;
}

// Index of `handle` in the array and its record, or lc_err_not_found
// (unlogged).
int find_handle(lew_context *c, lew_event **handle, uint32 *ret_index, lew_event **ret)
{
    *ret = nullptr;
    const uint32 i = lower_bound_handle(c, handle);
    if (i >= c->handles->length || handle_at(c, i) != handle) return lc_err_not_found;
    lew_event *rec = record_of(c, handle);
    if (!rec) return lc_err_not_found;
    if (ret_index) *ret_index = i;
    *ret = rec;
    return 0;
}

int find_record(lew_context *c, lew_event **handle, lew_event **ret)
{
    bail_error_quiet(find_handle(c, handle, nullptr, ret));
    return 0;
}

// The record for `handle`, created on first use.
int find_or_create(lew_context *c, lew_event **handle, lew_event **ret)
{
    *ret = nullptr;
    const uint32 i = lower_bound_handle(c, handle);
    if (i < c->handles->length && handle_at(c, i) == handle) {
        lew_event *rec = record_of(c, handle);
        if (!rec) return lc_err_not_found;
        *ret = rec;
        return 0;
    }
    if (*handle != nullptr) return lc_err_not_found; // a record of someone else
    std::unique_ptr<lew_event> fresh{new (std::nothrow) lew_event{}};
    bail_null(fresh);
    void *elem = handle;
    bail_error(array_insert_takeover(c->handles, i, &elem));
    lew_event *rec = fresh.release(); // linked below; nothing after this can fail
    rec->le_context = c;
    rec->le_handle = handle;
    rec->le_next = c->all;
    if (c->all) c->all->le_prev = rec;
    c->all = rec;
    *handle = rec;
    *ret = rec;
    return 0;
}

// Element free of the handle array: cancels and frees the handle's record
// and nulls the caller's variable.
void handle_free(void *element)
{
    auto **handle = static_cast<lew_event **>(element);
    lew_event *rec = *handle;
    if (!rec || rec->le_handle != handle) return; // left on the list for lew_deinit
    record_destroy(rec->le_context, rec);
    *handle = nullptr;
}

// Runs `f(record)` for `handle` under the lock.  A null handle is success
// without a call when `null_ok`, else lc_err_not_found like a foreign one.
template <class F> int on_record(lew_context *c, lew_event **handle, bool null_ok, F &&f)
{
    bail_null(c);
    bail_null(handle);
    if (*handle == nullptr && null_ok) return 0;
    context_lock lock(c);
    lew_event *rec = nullptr;
    bail_error(find_record(c, handle, &rec));
    bail_error(f(rec));
    return 0;
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

// Out of the loop and back in with deadline `tv` (none when null).
int reschedule(lew_context *c, lew_event **handle, const timeval *tv)
{
    const int rc = on_record(c, handle, false, [tv](lew_event *rec) {
        bail_error(evc_event_del(&rec->le_core));
        bail_error(evc_event_add(&rec->le_core, tv));
        return 0;
    });
    bail_error(rc);
    return 0;
}

int reg_fd(lew_context *c, lew_event **handle, int fd, lew_event_type kinds, tbool persist,
           lew_event_handler callback, void *data, const int64 *timeout_ms)
{
    bail_require(kinds != 0 && (kinds & ~(lew_event_read | lew_event_write)) == 0);
    const uint16 k = kinds | (persist ? lew_event_persist : 0);
    bail_error(reg_common(c, handle, fd, k, callback, data, timeout_ms));
    return 0;
}

// Signals are always watched persistently.
int reg_signal(lew_context *c, lew_event **handle, int signum, lew_event_handler callback,
               void *data, const int64 *timeout_ms)
{
    bail_require(signum >= 1 && signum <= evc_max_signal);
    bail_error(reg_common(c, handle, signum, lew_event_signal | lew_event_persist, callback, data,
                          timeout_ms));
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
    opts.free = handle_free;
    // Kept in order by lower_bound_handle, not by array_insert_sorted.
    opts.check_sorted = 0;
    bail_error(array_new(&c->handles, &opts));
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
    (void)array_free(&c->handles);
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
    bail_error(reg_fd(context, handle, fd, kinds, persist, callback, data, nullptr));
    return 0;
}

int lew_event_reg_fd_timeout(lew_context *context, lew_event **handle, int fd, lew_event_type kinds,
                             tbool persist, lew_event_handler callback, void *data,
                             int64 timeout_ms)
{
    bail_error(reg_fd(context, handle, fd, kinds, persist, callback, data, &timeout_ms));
    return 0;
}

int lew_event_reg_signal(lew_context *context, lew_event **handle, int signum,
                         lew_event_handler callback, void *data)
{
    bail_error(reg_signal(context, handle, signum, callback, data, nullptr));
    return 0;
}

int lew_event_reg_signal_timeout(lew_context *context, lew_event **handle, int signum,
                                 lew_event_handler callback, void *data, int64 timeout_ms)
{
    bail_error(reg_signal(context, handle, signum, callback, data, &timeout_ms));
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
    bail_error(reschedule(context, handle, nullptr));
    return 0;
}

int lew_event_reschedule_timeout(lew_context *context, lew_event **handle, int64 timeout_ms)
{
    timeval tv{};
    bail_error(ms_to_timeval(timeout_ms, &tv));
    bail_error(reschedule(context, handle, &tv));
    return 0;
}

int lew_event_cancel(lew_context *context, lew_event **handle)
{
    const int rc = on_record(context, handle, true,
                             [](lew_event *rec) { return evc_event_del(&rec->le_core); });
    bail_error(rc);
    return 0;
}

int lew_event_delete(lew_context *context, lew_event **handle)
{
    bail_null(context);
    bail_null(handle);
    if (*handle == nullptr) return 0;
    context_lock lock(context);
    uint32 i = 0;
    lew_event *rec = nullptr;
    bail_error(find_handle(context, handle, &i, &rec));
    bail_error(array_delete(context->handles, i));
    return 0;
}

int lew_event_is_pending(lew_context *context, lew_event **handle, lew_event_type *ret_kinds,
                         int64 *ret_ms_left)
{
    if (ret_kinds) *ret_kinds = 0;
    if (ret_ms_left) *ret_ms_left = -1;
    const int rc = on_record(context, handle, true, [&](lew_event *rec) {
        return evc_event_pending(&rec->le_core, ret_kinds, ret_ms_left);
    });
    bail_error(rc);
    return 0;
}

int lew_event_get_data(lew_context *context, lew_event **handle, void **ret_data)
{
    bail_null(ret_data);
    *ret_data = nullptr;
    const int rc = on_record(context, handle, true, [&](lew_event *rec) {
        *ret_data = rec->le_data;
        return 0;
    });
    bail_error(rc);
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
    const uint32 n = array_length_quick(context->handles);
    for (uint32 i = 0; i < n; ++i)
        if (lew_event *rec = record_of(context, handle_at(context, i)))
            bail_error(evc_event_del(&rec->le_core));
    return 0;
}

int lew_delete_all_events(lew_context *context)
{
    bail_null(context);
    context_lock lock(context);
    bail_error(array_empty(context->handles));
    // Records whose variables were nulled behind our back.
    while (context->all) record_destroy(context, context->all);
    return 0;
}

int lew_dump_all_events(lew_context *context)
{
    bail_null(context);
    context_lock lock(context);
    const uint32 n = array_length_quick(context->handles);
    for (uint32 i = 0; i < n; ++i) {
        const lew_event *rec = record_of(context, handle_at(context, i));
        if (!rec) continue;
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
