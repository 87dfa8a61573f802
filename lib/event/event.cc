// Event core: poll backend, deadline tree, signal pipe, recursive lock.
//
// Descriptor events live in a master pair of arrays (pollfd, event) that any
// thread may change under the lock.  poll(2) runs on a private copy, taken
// only when the master changed, because another thread may change (even
// reallocate) the master while the owner waits with the lock released.  A
// change during the wait makes the loop drop that round's readiness; poll
// is level-triggered, so the next round reports it again.
#include "event/event.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "log/logging.h"
#include "util/ttime.h"

namespace
{

// Identity of the calling thread: the address of a thread-local object,
// unique among live threads and cheaper than pthread_self().
thread_local char t_self_mark;
uintptr_t self_id()
{
    return reinterpret_cast<uintptr_t>(&t_self_mark);
}

// Recursive lock whose holder can release every level at once, so that a
// loop pass nested in a callback still frees the lock while it waits.
class recursive_lock
{
  public:
    void lock()
    {
        const uintptr_t me = self_id();
        if (holder_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return;
        }
        mu_.lock();
        holder_.store(me, std::memory_order_relaxed);
        depth_ = 1;
    }
    bool unlock()
    {
        if (!held()) return false;
        if (--depth_ == 0) {
            holder_.store(0, std::memory_order_relaxed);
            mu_.unlock();
        }
        return true;
    }
    bool held() const { return holder_.load(std::memory_order_relaxed) == self_id(); }
    uint32 release_all()
    {
        const uint32 d = depth_;
        depth_ = 0;
        holder_.store(0, std::memory_order_relaxed);
        mu_.unlock();
        return d;
    }
    void reacquire(uint32 d)
    {
        mu_.lock();
        holder_.store(self_id(), std::memory_order_relaxed);
        depth_ = d;
    }

  private:
    std::mutex mu_;
    std::atomic<uintptr_t> holder_{0};
    uint32 depth_ = 0;
};

class lock_guard
{
  public:
    explicit lock_guard(recursive_lock &l) : l_(l) { l_.lock(); }
    ~lock_guard() { (void)l_.unlock(); }
    lock_guard(const lock_guard &) = delete;
    lock_guard &operator=(const lock_guard &) = delete;

  private:
    recursive_lock &l_;
};

// A callback being run by some loop pass on this base; evc_event_del marks
// it so the pass neither calls it again nor touches it after it returns
// (the callback may have freed it).
struct run_frame {
    evc_event *ev;
    bool deleted;
    run_frame *up;
};

// Per signal number: the write end of the pipe of the base watching it,
// plus one (0 = none).  Read by the signal handler, so lock-free atomics.
std::atomic<int> g_signal_pipe[evc_max_signal + 1];
std::mutex g_signal_mu; // serialises installing and restoring handlers

extern "C" void evc_signal_handler(int sig)
{
    const int saved = errno;
    if (sig > 0 && sig <= evc_max_signal) {
        const int fd = g_signal_pipe[sig].load(std::memory_order_relaxed) - 1;
        if (fd >= 0) {
            const int32 word = sig;
            ssize_t n = write(fd, &word, sizeof word);
            (void)n; // a full pipe already guarantees a wake-up
        }
    }
    errno = saved;
}

// A deadline: a tree node pointing back at its event.
struct timeout_node : detail::deadline_node {
    evc_event *ev = nullptr;
};

// Nodes for the deadline tree, carved from blocks that never move and
// reused through a free list.
class timeout_pool
{
  public:
    timeout_pool() = default;
    timeout_pool(const timeout_pool &) = delete;
    timeout_pool &operator=(const timeout_pool &) = delete;
    ~timeout_pool()
    {
        while (blocks_) {
            block *next = blocks_->next;
            delete blocks_;
            blocks_ = next;
        }
    }
    timeout_node *get()
    {
        if (!free_) {
            block *b = new (std::nothrow) block;
            if (!b) return nullptr;
            b->next = blocks_;
            blocks_ = b;
            for (timeout_node &n : b->nodes) put(&n);
        }
        timeout_node *n = free_;
        free_ = static_cast<timeout_node *>(n->left);
        *n = timeout_node{};
        return n;
    }
    void put(timeout_node *n)
    {
        n->ev = nullptr;
        n->left = free_;
        free_ = n;
    }

  private:
    struct block {
        timeout_node nodes[256];
        block *next = nullptr;
    };
    block *blocks_ = nullptr;
    timeout_node *free_ = nullptr;
};

} // namespace

struct evc_base {
    mutable recursive_lock lock;
    uintptr_t owner = 0;

    detail::deadline_tree timeouts;
    timeout_pool pool;
    int64 last_seen = 0; // monotonic microseconds
    bool have_last = false;

    // Master poll arrays: entry i watches fd_events[i].
    pollfd *fds = nullptr;
    evc_event **fd_events = nullptr;
    uint32 nfds = 0;
    uint32 fds_cap = 0;
    uint64 gen = 1; // bumped on every change of the master arrays

    // What poll(2) runs on: the pipe at index 0, then a copy of the master.
    pollfd *poll_fds = nullptr;
    evc_event **poll_events = nullptr;
    uint32 poll_cap = 0;
    uint32 poll_n = 0;
    uint64 poll_gen = 0;
    bool poll_suppressed = false;

    evc_event *sig_head[evc_max_signal + 1] = {};
    struct sigaction sig_old[evc_max_signal + 1] = {};
    bool sig_installed[evc_max_signal + 1] = {};

    evc_event *act_head = nullptr;
    evc_event *act_tail = nullptr;
    uint32 n_inserted = 0;

    bool escaped = false;
    bool suppress_read = false;
    bool wake_pending = false;
    int pipe_r = -1;
    int pipe_w = -1;

    run_frame *frames = nullptr;
    int64 last_wait_ms = -1;
};

namespace
{

// Deadlines never pass the largest signed 32-bit number of seconds.
constexpr int64 max_deadline_us = int64{INT32_MAX} * 1000000;

bool is_owner(const evc_base *b)
{
    return b->owner == self_id();
}

// The monotonic clock in microseconds: the process's one clock, which tests
// set by hand.
int64 base_now(evc_base *b)
{
    const int64 now = lt_sys_monotonic_us();
    // A clock that went back would stretch every wait by the difference;
    // move the deadlines back with it.
    if (b->have_last && now < b->last_seen) b->timeouts.shift_all(now - b->last_seen);
    b->last_seen = now;
    b->have_last = true;
    return now;
}

void timeout_unlink(evc_base *b, evc_event *ev)
{
    b->timeouts.erase(ev->ev_timeout);
    b->pool.put(static_cast<timeout_node *>(ev->ev_timeout));
    ev->ev_timeout = nullptr;
}

// Wakes a loop waiting in poll.  Called with the lock held; one pending
// wake-up is enough, so the pipe never fills with them (a full pipe would
// lose signal numbers).
int wake(evc_base *b)
{
    if (b->wake_pending) return 0;
    static const char zeros[evc_wakeup_bytes] = {};
    ssize_t n = write(b->pipe_w, zeros, sizeof zeros);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0; // already readable
    bail_require(n == static_cast<ssize_t>(sizeof zeros));
    b->wake_pending = true;
    return 0;
}

short poll_mask(const evc_event *ev)
{
    short m = 0;
    if (ev->ev_kinds & evc_kind_read) m |= POLLIN;
    if (ev->ev_kinds & evc_kind_write) m |= POLLOUT;
    return m;
}

int poll_insert(evc_base *b, evc_event *ev)
{
    if (b->nfds == b->fds_cap) {
        if (b->fds_cap >= evc_max_poll_entries) {
            lc_log_basic(LCL_ERR, "too many fds");
            return lc_err_no_space;
        }
        uint32 cap = b->fds_cap ? b->fds_cap * 2 : evc_initial_poll_entries;
        if (cap > evc_max_poll_entries) cap = evc_max_poll_entries;
        auto *fds = static_cast<pollfd *>(realloc(b->fds, cap * sizeof(pollfd)));
        bail_null(fds);
        b->fds = fds;
        auto *evs = static_cast<evc_event **>(realloc(b->fd_events, cap * sizeof(evc_event *)));
        bail_null(evs);
        b->fd_events = evs;
        b->fds_cap = cap;
    }
    b->fds[b->nfds] = pollfd{ev->ev_fd, poll_mask(ev), 0};
    b->fd_events[b->nfds] = ev;
    ev->ev_poll_index = static_cast<int32>(b->nfds);
    ++b->nfds;
    ++b->gen;
    return 0;
}

void poll_remove(evc_base *b, evc_event *ev)
{
    const uint32 i = static_cast<uint32>(ev->ev_poll_index);
    const uint32 last = b->nfds - 1;
    if (i != last) {
        b->fds[i] = b->fds[last];
        b->fd_events[i] = b->fd_events[last];
        b->fd_events[i]->ev_poll_index = static_cast<int32>(i);
    }
    --b->nfds;
    ev->ev_poll_index = -1;
    ++b->gen;
}

// Brings the polled copy up to date with the master arrays.
int poll_sync(evc_base *b)
{
    if (b->poll_gen == b->gen && b->poll_suppressed == b->suppress_read) return 0;
    const uint32 need = b->nfds + 1;
    if (need > b->poll_cap) {
        uint32 cap = b->poll_cap ? b->poll_cap : evc_initial_poll_entries;
        while (cap < need) cap *= 2;
        auto *fds = static_cast<pollfd *>(realloc(b->poll_fds, cap * sizeof(pollfd)));
        bail_null(fds);
        b->poll_fds = fds;
        auto *evs = static_cast<evc_event **>(realloc(b->poll_events, cap * sizeof(evc_event *)));
        bail_null(evs);
        b->poll_events = evs;
        b->poll_cap = cap;
    }
    b->poll_fds[0] = pollfd{b->pipe_r, POLLIN, 0};
    b->poll_events[0] = nullptr;
    if (b->nfds) {
        memcpy(b->poll_fds + 1, b->fds, b->nfds * sizeof(pollfd));
        memcpy(b->poll_events + 1, b->fd_events, b->nfds * sizeof(evc_event *));
    }
    if (b->suppress_read)
        for (uint32 i = 1; i < need; ++i) b->poll_fds[i].events &= static_cast<short>(~POLLIN);
    b->poll_n = need;
    b->poll_gen = b->gen;
    b->poll_suppressed = b->suppress_read;
    return 0;
}

int signal_watch(evc_base *b, evc_event *ev)
{
    const int sig = ev->ev_fd;
    if (!b->sig_head[sig]) {
        std::lock_guard<std::mutex> g(g_signal_mu);
        const int holder = g_signal_pipe[sig].load();
        if (holder != 0 && holder != b->pipe_w + 1) {
            lc_log_basic(LCL_ERR, "signal %d is already watched by another event loop", sig);
            return lc_err_exists;
        }
        struct sigaction sa = {};
        sa.sa_handler = evc_signal_handler;
        sa.sa_flags = SA_RESTART;
        sigfillset(&sa.sa_mask);
        g_signal_pipe[sig].store(b->pipe_w + 1);
        if (sigaction(sig, &sa, &b->sig_old[sig]) != 0) {
            lc_log_basic(LCL_ERR, "sigaction: %m");
            g_signal_pipe[sig].store(0);
            return lc_err_generic_error;
        }
        b->sig_installed[sig] = true;
    }
    ev->ev_sig_prev = nullptr;
    ev->ev_sig_next = b->sig_head[sig];
    if (ev->ev_sig_next) ev->ev_sig_next->ev_sig_prev = ev;
    b->sig_head[sig] = ev;
    return 0;
}

void signal_restore(evc_base *b, int sig)
{
    if (!b->sig_installed[sig]) return;
    std::lock_guard<std::mutex> g(g_signal_mu);
    (void)sigaction(sig, &b->sig_old[sig], nullptr);
    g_signal_pipe[sig].store(0);
    b->sig_installed[sig] = false;
}

void signal_unwatch(evc_base *b, evc_event *ev)
{
    const int sig = ev->ev_fd;
    if (ev->ev_sig_prev)
        ev->ev_sig_prev->ev_sig_next = ev->ev_sig_next;
    else
        b->sig_head[sig] = ev->ev_sig_next;
    if (ev->ev_sig_next) ev->ev_sig_next->ev_sig_prev = ev->ev_sig_prev;
    ev->ev_sig_next = ev->ev_sig_prev = nullptr;
    if (!b->sig_head[sig]) signal_restore(b, sig);
}

void active_remove(evc_base *b, evc_event *ev)
{
    if (ev->ev_act_prev)
        ev->ev_act_prev->ev_act_next = ev->ev_act_next;
    else
        b->act_head = ev->ev_act_next;
    if (ev->ev_act_next)
        ev->ev_act_next->ev_act_prev = ev->ev_act_prev;
    else
        b->act_tail = ev->ev_act_prev;
    ev->ev_act_next = ev->ev_act_prev = nullptr;
    ev->ev_flags &= static_cast<uint16>(~evc_flag_active);
}

void activate(evc_base *b, evc_event *ev, uint16 kinds, uint32 ncalls)
{
    if (ev->ev_flags & evc_flag_active) {
        ev->ev_res |= kinds;
        // Each arrival of a signal is one more call; other kinds merge.
        if (kinds & evc_kind_signal) ev->ev_ncalls += ncalls;
        return;
    }
    ev->ev_res = kinds;
    ev->ev_ncalls = ncalls;
    ev->ev_flags |= evc_flag_active;
    ev->ev_act_next = nullptr;
    ev->ev_act_prev = b->act_tail;
    if (b->act_tail)
        b->act_tail->ev_act_next = ev;
    else
        b->act_head = ev;
    b->act_tail = ev;
}

void mark_frames(evc_base *b, const evc_event *ev)
{
    for (run_frame *f = b->frames; f; f = f->up)
        if (f->ev == ev) f->deleted = true;
}

// Unlinks `ev` from everything; the lock is held.
void unlink_event(evc_base *b, evc_event *ev)
{
    mark_frames(b, ev);
    ev->ev_ncalls = 0;
    if (ev->ev_flags & evc_flag_active) active_remove(b, ev);
    if (ev->ev_flags & evc_flag_timeout) timeout_unlink(b, ev);
    if (ev->ev_flags & evc_flag_inserted) {
        if (ev->ev_poll_index >= 0) poll_remove(b, ev);
        if (ev->ev_kinds & evc_kind_signal) signal_unwatch(b, ev);
        --b->n_inserted;
    }
    ev->ev_flags = 0;
}

void fire_signal(evc_base *b, int sig)
{
    for (evc_event *ev = b->sig_head[sig]; ev;) {
        evc_event *next = ev->ev_sig_next;
        if (!(ev->ev_kinds & evc_kind_persist)) unlink_event(b, ev);
        activate(b, ev, evc_kind_signal, 1);
        ev = next;
    }
}

// Reads signal numbers and wake-ups from the pipe.  Every write to the pipe
// is a whole number of 32-bit words, so reads stay word-aligned.
void drain_pipe(evc_base *b)
{
    b->wake_pending = false;
    for (int round = 0; round < 16; ++round) {
        int32 words[evc_wakeup_bytes / sizeof(int32)];
        ssize_t n = read(b->pipe_r, words, sizeof words);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof(int32)); ++i)
            if (words[i] > 0 && words[i] <= evc_max_signal && b->sig_head[words[i]])
                fire_signal(b, words[i]);
        if (n < static_cast<ssize_t>(sizeof words)) break;
    }
}

void scan_ready(evc_base *b)
{
    for (uint32 i = 1; i < b->poll_n; ++i) {
        const short re = b->poll_fds[i].revents;
        if (!re) continue;
        evc_event *ev = b->poll_events[i];
        uint16 fired = 0;
        if (re & (POLLERR | POLLHUP | POLLNVAL)) fired |= evc_kind_read | evc_kind_write;
        if (re & POLLIN) fired |= evc_kind_read;
        if (re & POLLOUT) fired |= evc_kind_write;
        if (b->suppress_read) fired &= static_cast<uint16>(~evc_kind_read);
        fired &= ev->ev_kinds;
        if (!fired) continue;
        if (!(ev->ev_kinds & evc_kind_persist)) unlink_event(b, ev);
        activate(b, ev, fired, 1);
    }
}

void expire_deadlines(evc_base *b)
{
    const int64 now = base_now(b);
    while (detail::deadline_node *n = b->timeouts.first()) {
        if (n->key > now) break;
        evc_event *ev = static_cast<timeout_node *>(n)->ev;
        // Events are scattered in memory: fetch the next one early.
        if (detail::deadline_node *nx = detail::deadline_tree::next(n))
            __builtin_prefetch(static_cast<timeout_node *>(nx)->ev);
        // A passed deadline ends the registration, persistent or not.
        unlink_event(b, ev);
        activate(b, ev, evc_kind_timeout, 1);
    }
}

// Runs the active queue; true when any callback ran.
bool run_active(evc_base *b)
{
    bool ran = false;
    while (evc_event *ev = b->act_head) {
        active_remove(b, ev);
        if (b->act_head) { // the event and what its callback's argument holds
            __builtin_prefetch(b->act_head);
            __builtin_prefetch(reinterpret_cast<char *>(b->act_head) + 64);
        }
        run_frame f{ev, false, b->frames};
        b->frames = &f;
        const uint16 res = ev->ev_res;
        uint32 n = ev->ev_ncalls;
        ev->ev_ncalls = 0;
        while (n-- > 0 && !f.deleted) ev->ev_callback(ev->ev_fd, res, ev->ev_arg);
        b->frames = f.up;
        ran = true;
        if (b->escaped) break;
    }
    return ran;
}

int64 wait_ms(evc_base *b, uint32 flags)
{
    if ((flags & evc_loop_nonblock) || b->act_head) return 0;
    const detail::deadline_node *first = b->timeouts.first();
    if (!first) return evc_idle_wait_ms;
    const int64 now = base_now(b); // first: it may move the deadlines
    const int64 us = first->key - now;
    if (us <= 0) return 0;
    // Rounded up: rounding down would spin through the last millisecond.
    const int64 ms = (us + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : ms;
}

} // namespace

int evc_base_new(evc_base **ret)
{
    bail_null(ret);
    *ret = nullptr;

    owned<evc_base> b{new (std::nothrow) evc_base};
    if (!b) {
        lc_log_basic(LCL_CRIT, "%s: couldn't allocate event context", __func__);
        return lc_err_no_buffer_space;
    }
    int p[2];
    if (pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
        lc_log_basic(LCL_CRIT, "%s: no event mechanism available", __func__);
        return lc_err_io_error;
    }
    b->pipe_r = p[0];
    b->pipe_w = p[1];
    b->owner = self_id();
    bail_error(poll_sync(b.get()));
    if (getenv("EVENT_SHOW_METHOD")) fprintf(stderr, "libevent using: %s\n", "poll");

    *ret = b.release();
    return 0;
}

int evc_base_free(evc_base **base)
{
    bail_null(base);
    evc_base *b = *base;
    if (!b) return 0;
    *base = nullptr;
    {
        lock_guard g(b->lock);
        while (b->act_head) active_remove(b, b->act_head);
        while (detail::deadline_node *n = b->timeouts.first()) {
            evc_event *ev = static_cast<timeout_node *>(n)->ev;
            timeout_unlink(b, ev);
            ev->ev_flags = 0;
        }
        for (uint32 i = 0; i < b->nfds; ++i) {
            b->fd_events[i]->ev_flags = 0;
            b->fd_events[i]->ev_poll_index = -1;
        }
        for (int sig = 1; sig <= evc_max_signal; ++sig) {
            for (evc_event *ev = b->sig_head[sig]; ev; ev = ev->ev_sig_next) ev->ev_flags = 0;
            signal_restore(b, sig);
        }
    }
    free(b->fds);
    free(b->fd_events);
    free(b->poll_fds);
    free(b->poll_events);
    if (b->pipe_r >= 0) close(b->pipe_r);
    if (b->pipe_w >= 0) close(b->pipe_w);
    delete b;
    return 0;
}

int evc_event_assign(evc_event *ev, evc_base *base, int fd, uint16 kinds, evc_callback cb,
                     void *arg)
{
    bail_null(ev);
    bail_null(base);
    bail_null(cb);
    lock_guard g(base->lock);
    bail_require(ev->ev_flags == 0);
    // Watching a signal excludes readiness, and the number must be one we
    // can install a handler for.
    if (kinds & evc_kind_signal) {
        bail_require(!(kinds & (evc_kind_read | evc_kind_write)));
        bail_require(fd > 0 && fd <= evc_max_signal);
    } else if (kinds & (evc_kind_read | evc_kind_write)) {
        bail_require(fd >= 0);
    }
    // A callback of this event still running must not be called again
    // with the new settings.
    if (ev->ev_base == base) mark_frames(base, ev);
    ev->ev_base = base;
    ev->ev_fd = fd;
    ev->ev_kinds = kinds;
    ev->ev_res = 0;
    ev->ev_ncalls = 0;
    ev->ev_poll_index = -1;
    ev->ev_callback = cb;
    ev->ev_arg = arg;
    return 0;
}

int evc_event_add(evc_event *ev, const struct timeval *timeout)
{
    bail_null(ev);
    evc_base *b = ev->ev_base;
    bail_null(b);
    lock_guard g(b->lock);

    const bool watch = ev->ev_kinds & (evc_kind_read | evc_kind_write | evc_kind_signal);
    if (watch && !(ev->ev_flags & evc_flag_inserted)) {
        if (ev->ev_kinds & evc_kind_signal)
            bail_error(signal_watch(b, ev));
        else
            bail_error(poll_insert(b, ev));
        ev->ev_flags |= evc_flag_inserted;
        ++b->n_inserted;
    }
    if (timeout) {
        // An activation by the old deadline is superseded by the new one.
        if ((ev->ev_flags & evc_flag_active) && (ev->ev_res & evc_kind_timeout)) {
            mark_frames(b, ev);
            active_remove(b, ev);
            ev->ev_ncalls = 0;
        }
        timeout_node *n = nullptr;
        if (ev->ev_flags & evc_flag_timeout) {
            n = static_cast<timeout_node *>(ev->ev_timeout);
            b->timeouts.erase(n);
        } else {
            n = b->pool.get();
            bail_null(n);
            n->ev = ev;
            ev->ev_timeout = n;
            ev->ev_flags |= evc_flag_timeout;
        }
        int64 sec = timeout->tv_sec < 0 ? 0 : timeout->tv_sec;
        int64 usec = timeout->tv_sec < 0 || timeout->tv_usec < 0 ? 0 : timeout->tv_usec;
        if (sec > INT32_MAX) sec = INT32_MAX;
        n->key = base_now(b) + sec * 1000000 + usec;
        if (n->key > max_deadline_us) n->key = max_deadline_us;
        b->timeouts.insert(n);
    }
    if (!is_owner(b)) bail_error(wake(b));
    return 0;
}

int evc_event_del(evc_event *ev)
{
    bail_null(ev);
    evc_base *b = ev->ev_base;
    if (!b) return 0; // never assigned
    lock_guard g(b->lock);
    unlink_event(b, ev);
    if (!is_owner(b)) bail_error(wake(b));
    return 0;
}

int evc_event_pending(const evc_event *ev, uint16 *ret_kinds, int64 *ret_ms_left)
{
    if (ret_kinds) *ret_kinds = 0;
    if (ret_ms_left) *ret_ms_left = -1;
    bail_null(ev);
    evc_base *b = ev->ev_base;
    if (!b) return 0;
    lock_guard g(b->lock);
    uint16 kinds = 0;
    if (ev->ev_flags & evc_flag_inserted)
        kinds |= ev->ev_kinds & (evc_kind_read | evc_kind_write | evc_kind_signal);
    if (ev->ev_flags & evc_flag_timeout) {
        kinds |= evc_kind_timeout;
        if (ret_ms_left) {
            const int64 now = base_now(b); // first: it may move the deadlines
            const int64 us = ev->ev_timeout->key - now;
            *ret_ms_left = us <= 0 ? 0 : (us + 999) / 1000;
        }
    }
    if (ret_kinds) *ret_kinds = kinds;
    return 0;
}

int evc_event_activate(evc_event *ev, uint16 kinds, uint32 ncalls)
{
    bail_null(ev);
    evc_base *b = ev->ev_base;
    bail_null(b);
    lock_guard g(b->lock);
    activate(b, ev, kinds, ncalls);
    if (!is_owner(b)) bail_error(wake(b));
    return 0;
}

int evc_loop(evc_base *base, uint32 flags, evc_stop *ret_stop)
{
    if (ret_stop) *ret_stop = evc_stop_ran;
    bail_null(base);
    evc_base *b = base;
    lock_guard g(b->lock);
    bail_require(is_owner(b));

    evc_stop stop = evc_stop_ran;
    for (;;) {
        if (b->escaped) {
            stop = evc_stop_escaped;
            break;
        }
        const int64 wait = wait_ms(b, flags);
        if (b->timeouts.empty() && b->n_inserted == 0 && !b->act_head) {
            stop = evc_stop_no_events;
            break;
        }
        b->last_wait_ms = wait;
        bail_error(poll_sync(b));

        const uint64 gen_before = b->gen;
        const uint32 depth = b->lock.release_all();
        const int n = poll(b->poll_fds, b->poll_n, static_cast<int>(wait));
        const int poll_errno = errno;
        b->lock.reacquire(depth);
        if (n < 0 && poll_errno != EINTR) {
            errno = poll_errno;
            lc_log_basic(LCL_ERR, "poll: %m");
            return lc_err_io_error;
        }
        if (n > 0) {
            if (b->poll_fds[0].revents) drain_pipe(b);
            if (b->gen == gen_before) scan_ready(b);
        }
        expire_deadlines(b);

        const bool ran = run_active(b);
        if (ran && (flags & evc_loop_once)) {
            stop = b->escaped ? evc_stop_escaped : evc_stop_ran;
            break;
        }
        if (!ran && (flags & evc_loop_nonblock)) break;
    }
    if (ret_stop) *ret_stop = stop;
    return 0;
}

int evc_escape(evc_base *base)
{
    bail_null(base);
    lock_guard g(base->lock);
    base->escaped = true;
    if (!is_owner(base)) bail_error(wake(base));
    return 0;
}

int evc_suppress_read(evc_base *base, tbool on)
{
    bail_null(base);
    lock_guard g(base->lock);
    base->suppress_read = on != 0;
    if (!is_owner(base)) bail_error(wake(base));
    return 0;
}

int evc_lock(evc_base *base)
{
    bail_null(base);
    base->lock.lock();
    return 0;
}

int evc_unlock(evc_base *base)
{
    bail_null(base);
    bail_require(base->lock.unlock());
    return 0;
}

uint32 evc_base_num_inserted(const evc_base *base)
{
    if (!base) return 0;
    lock_guard g(base->lock);
    return base->n_inserted;
}

uint32 evc_base_num_timeouts(const evc_base *base)
{
    if (!base) return 0;
    lock_guard g(base->lock);
    return base->timeouts.size();
}

int64 evc_base_last_wait_ms(const evc_base *base)
{
    if (!base) return -1;
    lock_guard g(base->lock);
    return base->last_wait_ms;
}
