// fdic registry and its event-core adapter.
//
// The registry keeps two arrays ordered by id: the current records and the
// records as last reported.  A change merges the two to find what differs,
// makes the current array the reported one, then calls the consumer; the
// baseline moves before the call because the consumer's handlers may
// change the registry again (a nested report must not repeat this one).
#include "event/event_fdintrcb.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "log/logging.h"
#include "util/hash_table.h"

struct fdic_context {
    fdic_event_id next_id = 1;
    fdic_consumer_func consumer = nullptr;
    void *consumer_data = nullptr;
    std::vector<fdic_event_record> records;  // ordered by id
    std::vector<fdic_event_record> reported; // ordered by id
};

namespace
{

bool same_record(const fdic_event_record &a, const fdic_event_record &b)
{
    return a.fer_id == b.fer_id && a.fer_active == b.fer_active && a.fer_is_fd == b.fer_is_fd &&
           a.fer_fd == b.fer_fd && a.fer_owner_data == b.fer_owner_data &&
           a.fer_want_read == b.fer_want_read && a.fer_want_write == b.fer_want_write &&
           a.fer_read_handler == b.fer_read_handler && a.fer_write_handler == b.fer_write_handler &&
           a.fer_rw_data == b.fer_rw_data && a.fer_want_timeout == b.fer_want_timeout &&
           a.fer_timeout_ms == b.fer_timeout_ms && a.fer_timeout_handler == b.fer_timeout_handler &&
           a.fer_timeout_data == b.fer_timeout_data && a.fer_serial == b.fer_serial;
}

fdic_event_record *find(fdic_context *c, fdic_event_id id)
{
    auto it = std::lower_bound(
        c->records.begin(), c->records.end(), id,
        [](const fdic_event_record &r, fdic_event_id key) { return r.fer_id < key; });
    return it != c->records.end() && it->fer_id == id ? &*it : nullptr;
}

// The record `id` of the kind asked for; otherwise logs "Asked to <verb>
// event <fd|timer> with bad id <id>" and gives null.
fdic_event_record *find_kind(fdic_context *c, fdic_event_id id, bool is_fd, const char *verb)
{
    fdic_event_record *r = find(c, id);
    if (r && (r->fer_is_fd != 0) == is_fd) return r;
    lc_log_basic(LCL_WARNING, "Asked to %s event %s with bad id %d", verb, is_fd ? "fd" : "timer",
                 static_cast<int>(id));
    return nullptr;
}

fdic_event_id take_id(fdic_context *c)
{
    fdic_event_id id = c->next_id++;
    if (c->next_id == 0) c->next_id = 1; // 0 never names a record
    return id;
}

// Reports what changed since the last report.
int report(fdic_context *c)
{
    std::vector<fdic_event_record> changed;
    bail_null(lc_grow(&changed, [&] {
        size_t i = 0, j = 0;
        const auto &cur = c->records;
        const auto &old = c->reported;
        while (i < cur.size() || j < old.size()) {
            if (j == old.size() || (i < cur.size() && cur[i].fer_id < old[j].fer_id)) {
                if (cur[i].fer_active) changed.push_back(cur[i]); // new
                ++i;
            } else if (i == cur.size() || old[j].fer_id < cur[i].fer_id) {
                fdic_event_record gone = old[j++]; // deleted
                gone.fer_active = 0;
                changed.push_back(gone);
            } else {
                if (!same_record(cur[i], old[j])) changed.push_back(cur[i]);
                ++i;
                ++j;
            }
        }
    }));
    if (changed.empty()) return 0;
    bail_null(lc_grow(&c->reported, [&] { c->reported = c->records; }));
    if (!c->consumer) return 0;
    bail_error(
        c->consumer(c, changed.data(), static_cast<uint32>(changed.size()), c->consumer_data));
    return 0;
}

int remove_record(fdic_context *c, fdic_event_record *r)
{
    c->records.erase(c->records.begin() + (r - c->records.data()));
    bail_error(report(c));
    return 0;
}

} // namespace

int fdic_init(fdic_context **ret_context, fdic_consumer_func consumer, void *consumer_data)
{
    bail_null(ret_context);
    *ret_context = nullptr;
    owned<fdic_context> c{new (std::nothrow) fdic_context};
    bail_null(c.get());
    c->consumer = consumer;
    c->consumer_data = consumer_data;
    *ret_context = c.release();
    return 0;
}

int fdic_deinit(fdic_context **context)
{
    bail_null(context);
    delete *context;
    *context = nullptr;
    return 0;
}

int fdic_event_add_fd(fdic_context *context, int fd, tbool want_read, tbool want_write,
                      void *owner_data, fdic_handler read_handler, fdic_handler write_handler,
                      void *handler_data, fdic_event_id *ret_id)
{
    bail_null(ret_id);
    *ret_id = 0;
    bail_null(context);
    bail_require(fd >= 0);
    fdic_event_record r;
    r.fer_id = take_id(context);
    r.fer_active = 1;
    r.fer_is_fd = 1;
    r.fer_fd = fd;
    r.fer_owner_data = owner_data;
    r.fer_want_read = want_read != 0;
    r.fer_want_write = want_write != 0;
    r.fer_read_handler = read_handler;
    r.fer_write_handler = write_handler;
    r.fer_rw_data = handler_data;
    // Ids only grow, so the order holds.
    bail_null(lc_grow(&context->records, [&] { context->records.push_back(r); }));
    *ret_id = r.fer_id;
    bail_error(report(context));
    return 0;
}

int fdic_event_update_fd(fdic_context *context, fdic_event_id id, tbool want_read, tbool want_write)
{
    bail_null(context);
    fdic_event_record *r = find_kind(context, id, true, "update");
    if (!r) return lc_err_not_found;
    r->fer_want_read = want_read != 0;
    r->fer_want_write = want_write != 0;
    ++r->fer_serial;
    bail_error(report(context));
    return 0;
}

int fdic_event_delete_fd(fdic_context *context, fdic_event_id id)
{
    bail_null(context);
    fdic_event_record *r = find_kind(context, id, true, "delete");
    if (!r) return lc_err_not_found;
    bail_error(remove_record(context, r));
    return 0;
}

int fdic_event_add_timer(fdic_context *context, int64 timeout_ms, void *owner_data,
                         fdic_handler timeout_handler, void *handler_data, fdic_event_id *ret_id)
{
    bail_null(ret_id);
    *ret_id = 0;
    bail_null(context);
    fdic_event_record r;
    r.fer_id = take_id(context);
    r.fer_active = timeout_ms >= 0;
    r.fer_owner_data = owner_data;
    r.fer_want_timeout = timeout_ms >= 0;
    r.fer_timeout_ms = timeout_ms < 0 ? -1 : timeout_ms;
    r.fer_timeout_handler = timeout_handler;
    r.fer_timeout_data = handler_data;
    bail_null(lc_grow(&context->records, [&] { context->records.push_back(r); }));
    *ret_id = r.fer_id;
    bail_error(report(context));
    return 0;
}

int fdic_event_update_timer(fdic_context *context, fdic_event_id id, int64 timeout_ms)
{
    bail_null(context);
    fdic_event_record *r = find_kind(context, id, false, "update");
    if (!r) return lc_err_not_found;
    r->fer_active = timeout_ms >= 0;
    r->fer_want_timeout = timeout_ms >= 0;
    r->fer_timeout_ms = timeout_ms < 0 ? -1 : timeout_ms;
    ++r->fer_serial;
    bail_error(report(context));
    return 0;
}

int fdic_event_delete_timer(fdic_context *context, fdic_event_id id)
{
    bail_null(context);
    fdic_event_record *r = find_kind(context, id, false, "delete");
    if (!r) return lc_err_not_found;
    bail_error(remove_record(context, r));
    return 0;
}

int fdic_events_query(const fdic_context *context, const fdic_event_record **ret_records,
                      uint32 *ret_count)
{
    bail_null(ret_records);
    *ret_records = nullptr;
    bail_null(ret_count);
    *ret_count = 0;
    bail_null(context);
    *ret_records = context->records.data();
    *ret_count = static_cast<uint32>(context->records.size());
    return 0;
}

// ---------------------------------------------------------------------------
// Adapter

struct fdic_libevent_context {
    evc_base *core = nullptr;
    ht *events = nullptr; // record id (direct key) -> adapter_entry
    fdic_handler open_handler = nullptr;
    void *open_data = nullptr;
    fdic_handler close_handler = nullptr;
    void *close_data = nullptr;
};

namespace
{

// One watched record: its core event and the copy of the record it serves.
struct adapter_entry {
    evc_event ev;
    fdic_event_record rec;
    fdic_libevent_context *adapter = nullptr;
};

constexpr int32 id_key_len = 8;
const void *id_key(fdic_event_id id)
{
    return reinterpret_cast<const void *>(static_cast<uintptr_t>(id));
}

void entry_free(void *, uint32, void *value)
{
    auto *e = static_cast<adapter_entry *>(value);
    (void)evc_event_del(&e->ev);
    delete e;
}

adapter_entry *lookup(const fdic_libevent_context *a, fdic_event_id id)
{
    void *value = nullptr;
    tbool found = 0;
    if (ht_lookup(a->events, id_key(id), id_key_len, &found, nullptr, nullptr, &value) != 0)
        return nullptr;
    return found ? static_cast<adapter_entry *>(value) : nullptr;
}

void call_handler(fdic_handler h, int fd, fdic_reason reason, void *owner, void *data)
{
    if (!h) return;
    const int err = h(fd, reason, owner, data);
    if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
}

void event_fired(int fd, uint16 kinds, void *arg)
{
    auto *e = static_cast<adapter_entry *>(arg);
    fdic_libevent_context *a = e->adapter;
    const fdic_event_id id = e->rec.fer_id;
    if (fd != e->rec.fer_fd) {
        lc_bail_report_require(__func__, __FILE__, __LINE__);
        return;
    }
    if (kinds & evc_kind_signal) {
        lc_log_basic(LCL_WARNING, "Received unexpected signal %d (%s); unregistering event", fd,
                     lc_signal_num_to_name(fd));
        (void)evc_event_del(&e->ev);
        return;
    }
    if (!(kinds & (evc_kind_read | evc_kind_write | evc_kind_timeout))) {
        lc_log_basic(LCL_WARNING, "Called with event_type %d", kinds);
        return;
    }
    // Each handler may change or delete the record: look it up again before
    // the next one, and pass copies, never the entry itself.
    if (kinds & evc_kind_read) {
        const fdic_event_record r = e->rec;
        if (r.fer_want_read)
            call_handler(r.fer_read_handler, fd, fdic_reason_read, r.fer_owner_data, r.fer_rw_data);
    }
    if (kinds & evc_kind_write) {
        adapter_entry *now = lookup(a, id);
        if (!now) return;
        const fdic_event_record r = now->rec;
        if (r.fer_want_write)
            call_handler(r.fer_write_handler, fd, fdic_reason_write, r.fer_owner_data,
                         r.fer_rw_data);
    }
    if (kinds & evc_kind_timeout) {
        adapter_entry *now = lookup(a, id);
        if (!now) return;
        const fdic_event_record r = now->rec;
        call_handler(r.fer_timeout_handler, fd, fdic_reason_timeout, r.fer_owner_data,
                     r.fer_timeout_data);
    }
}

// Brings the entry of one changed record in line with it.
int apply(fdic_libevent_context *a, const fdic_event_record &r)
{
    adapter_entry *e = lookup(a, r.fer_id);
    if (!r.fer_active) {
        if (!e) return 0;
        bail_error(ht_delete(a->events, id_key(r.fer_id), id_key_len));
        if (r.fer_is_fd)
            call_handler(a->close_handler, r.fer_fd, fdic_reason_fd_removed, r.fer_owner_data,
                         a->close_data);
        return 0;
    }
    bool created = false;
    if (!e) {
        std::unique_ptr<adapter_entry> fresh{new (std::nothrow) adapter_entry};
        bail_null(fresh.get());
        fresh->adapter = a;
        bail_error(ht_insert(a->events, id_key(r.fer_id), id_key_len, fresh.get()));
        e = fresh.release();
        created = true;
    }
    e->rec = r;
    bail_error(evc_event_del(&e->ev));
    if (r.fer_is_fd) {
        const uint16 kinds =
            (r.fer_want_read ? evc_kind_read : 0) | (r.fer_want_write ? evc_kind_write : 0);
        if (kinds) {
            bail_error(evc_event_assign(&e->ev, a->core, r.fer_fd,
                                        static_cast<uint16>(kinds | evc_kind_persist), event_fired,
                                        e));
            bail_error(evc_event_add(&e->ev, nullptr));
        }
    } else if (r.fer_want_timeout && r.fer_timeout_ms >= 0) {
        const timeval tv{static_cast<time_t>(r.fer_timeout_ms / 1000),
                         static_cast<suseconds_t>(r.fer_timeout_ms % 1000 * 1000)};
        bail_error(evc_event_assign(&e->ev, a->core, -1, 0, event_fired, e));
        bail_error(evc_event_add(&e->ev, &tv));
    }
    if (created && r.fer_is_fd)
        call_handler(a->open_handler, r.fer_fd, fdic_reason_fd_added, r.fer_owner_data,
                     a->open_data);
    return 0;
}

} // namespace

int fdic_libevent_init(evc_base *core, fdic_libevent_context **ret_adapter)
{
    bail_null(ret_adapter);
    *ret_adapter = nullptr;
    bail_null(core);
    owned<fdic_libevent_context> a{new (std::nothrow) fdic_libevent_context};
    bail_null(a.get());
    a->core = core;
    ht_options opts = ht_default_options;
    opts.hash = ht_hash_direct_func;
    opts.key_equal = ht_key_equal_direct_func;
    opts.free = entry_free;
    bail_error(ht_new(&a->events, &opts));
    *ret_adapter = a.release();
    return 0;
}

int fdic_libevent_deinit(fdic_libevent_context **adapter)
{
    bail_null(adapter);
    fdic_libevent_context *a = *adapter;
    if (!a) return 0;
    *adapter = nullptr;
    (void)ht_free(&a->events);
    delete a;
    return 0;
}

int fdic_libevent_callback(fdic_context *context, const fdic_event_record *changed,
                           uint32 num_changed, void *adapter)
{
    bail_null(context);
    bail_null(adapter);
    if (num_changed) bail_null(changed);
    auto *a = static_cast<fdic_libevent_context *>(adapter);
    // Every record gets its turn; the first failure is the result.
    int first_err = 0;
    for (uint32 i = 0; i < num_changed; ++i) {
        const int err = apply(a, changed[i]);
        if (err && !first_err) first_err = err;
    }
    return first_err;
}

int fdic_libevent_set_fd_open_handler(fdic_libevent_context *adapter, fdic_handler handler,
                                      void *handler_data)
{
    bail_null(adapter);
    adapter->open_handler = handler;
    adapter->open_data = handler_data;
    return 0;
}

int fdic_libevent_set_fd_close_handler(fdic_libevent_context *adapter, fdic_handler handler,
                                       void *handler_data)
{
    bail_null(adapter);
    adapter->close_handler = handler;
    adapter->close_data = handler_data;
    return 0;
}
