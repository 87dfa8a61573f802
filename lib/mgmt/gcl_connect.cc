// Connecting, listening and accepting, and blocking I/O: everything of
// the session layer that waits on a socket or a clock.
//
// The context, the registry and the life of a session record live in
// gcl_session.cc; framing and the buffers in gcl_frame.cc.  Pauses and
// deadlines read the monotonic clock of util/ttime.h, so tests run them on
// a manual clock.
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "mgmt/gcl_internal.h"
#include "util/ttime.h"

namespace
{

constexpr int listen_backlog = 128;

int set_nonblocking(int fd)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) {
        lc_log_basic(LCL_ERR, "fcntl: %m");
        return lc_err_io_error;
    }
    return 0;
}

// Text of a peer address for log lines.
std::string addr_text(const sockaddr_storage &a, socklen_t len)
{
    if (a.ss_family == AF_UNIX) {
        const auto *un = reinterpret_cast<const sockaddr_un *>(&a);
        const size_t max =
            len > offsetof(sockaddr_un, sun_path) ? len - offsetof(sockaddr_un, sun_path) : 0;
        return std::string(un->sun_path, strnlen(un->sun_path, max));
    }
    if (a.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&a);
        char ip[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &in->sin_addr, ip, sizeof ip);
        return std::string(ip) + ":" + std::to_string(ntohs(in->sin_port));
    }
    return "?";
}

// Waits `ms` on the monotonic clock (or asks the test's pause to).
void default_pause(uint32 ms)
{
    const lt_time_ms deadline = lt_sys_monotonic_ms() + ms;
    for (lt_time_ms now = lt_sys_monotonic_ms(); now < deadline; now = lt_sys_monotonic_ms()) {
        const lt_time_ms left = deadline - now;
        timespec ts{time_t(left / 1000), long(left % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
}

void (*s_retry_pause)(uint32 ms) = nullptr;

void retry_pause(uint32 ms)
{
    if (s_retry_pause) {
        s_retry_pause(ms);
    } else {
        default_pause(ms);
    }
}

} // namespace

void gcl_set_retry_pause_for_tests(void (*pause)(uint32 ms))
{
    s_retry_pause = pause;
}

namespace detail
{

int gcl_session_accept(gcl_session *listener)
{
    gcl_handle *gcl = listener->gcl;
    for (;;) {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        const int fd = accept4(listener->fd, reinterpret_cast<sockaddr *>(&addr), &len,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            lc_log_basic(LCL_ERR, "session %d: accept: %m", listener->id);
            return 0;
        }
        gcl_session *s = nullptr;
        const int err = gcl_session_create(gcl, gsr_provider, &s);
        if (err != 0) {
            close(fd);
            return 0;
        }
        ++gcl->accept_count;
        s->accepted = true;
        s->fd = fd;
        s->provider_name = listener->provider_name;
        s->user_name = listener->user_name;
        s->uid = listener->uid;
        s->gid = listener->gid;
        s->peer_addr = addr;
        s->peer_addr_len = len;
        gcl_session_guard sg(s);
        if (gcl_session_became_connected(s) != 0 || gcl_admin_send_greeting(s) != 0) {
            (void)gcl_session_close(s);
            continue;
        }
        if (listener->accept_func && s->state == gss_connected) {
            const int cb_err = listener->accept_func(listener, s, listener->accept_data);
            if (cb_err != 0) lc_bail_report_error(cb_err, __func__, __FILE__, __LINE__);
        }
        if (listener->state != gss_listening) return 0;
    }
}

void gcl_session_input_trim(gcl_session *s)
{
    // Steady traffic keeps a buffer of a step or two; only one that a large
    // frame left behind is given back, once little of it is in use.
    if (s->in_hold != 0 || s->in_size <= gcl_input_keep_max) return;
    const uint32 pending = s->in_end - s->in_start;
    if (pending > gcl_input_keep_max / 2) return;
    if (pending == 0) {
        free(s->in_buf);
        s->in_buf = nullptr;
        s->in_size = s->in_start = s->in_end = 0;
        return;
    }
    memmove(s->in_buf, s->in_buf + s->in_start, pending);
    s->in_start = 0;
    s->in_end = pending;
    const uint32 new_size = (pending / gcl_input_grow_step + 1) * gcl_input_grow_step;
    // A failed shrink keeps the larger buffer, which still works.
    if (auto *p = static_cast<uint8 *>(realloc(s->in_buf, new_size))) {
        s->in_buf = p;
        s->in_size = new_size;
    }
}

} // namespace detail

// ---------------------------------------------------------------------------
// Client sessions

int gcl_session_client_connect_by_provider(gcl_session *session, const char *provider_name,
                                           tbool retry)
{
    bail_null(session);
    bail_null(provider_name);
    sockaddr_storage addr{};
    socklen_t len = 0;
    bail_error(gcl_sockaddr_for_provider(provider_name, "provider", &addr, &len));
    detail::gcl_session_guard g(session);
    session->provider_name = provider_name;
    return gcl_session_client_connect_by_sockaddr(session, reinterpret_cast<sockaddr *>(&addr), len,
                                                  retry);
}

int gcl_session_client_connect_by_sockaddr(gcl_session *session, const struct sockaddr *addr,
                                           socklen_t addr_len, tbool retry)
{
    bail_null(session);
    bail_null(addr);
    bail_require(addr_len > 0 && addr_len <= sizeof(sockaddr_storage));
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    if (s->role != gsr_client || s->state != gss_initialized) {
        lc_log_basic(LCL_ERR, "session %d: client called to connect in invalid state: %d (%s)",
                     s->id, int(s->state),
                     lc_enum_to_string_quiet(gcl_session_state_map, s->state));
        return lc_err_assertion_failed;
    }
    const uint32 attempts = retry ? gcl_connect_attempts : 1;
    int fd = -1;
    for (uint32 attempt = 1;; ++attempt) {
        fd = socket(addr->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lc_log_basic(LCL_ERR, "socket: %m");
            s->state = gss_closed;
            return lc_err_io_error;
        }
        int rc;
        do {
            rc = connect(fd, addr, addr_len);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0) break;
        const int e = errno;
        close(fd);
        fd = -1;
        if (e != ECONNREFUSED && e != ENOENT && e != EALREADY && e != EINPROGRESS) {
            errno = e;
            lc_log_basic(LCL_ERR, "connect: %m");
            s->state = gss_closed;
            return lc_err_assertion_failed;
        }
        if (attempt >= attempts) {
            lc_log_basic(LCL_WARNING, "Failed to connect to provider.");
            s->state = gss_closed;
            return lc_err_io_error;
        }
        lc_log_basic(LCL_INFO, "Could not connect to provider; delaying and retrying.");
        retry_pause(gcl_connect_retry_delay_ms);
    }
    s->fd = fd;
    memset(&s->peer_addr, 0, sizeof s->peer_addr);
    memcpy(&s->peer_addr, addr, addr_len);
    s->peer_addr_len = addr_len;
    if (addr->sa_family != AF_UNIX && addr->sa_family != AF_INET) {
        lc_log_basic(LCL_ERR, "session %d: connected via unknown af %d", s->id,
                     int(addr->sa_family));
        (void)gcl_session_close(s);
        return lc_err_io_error;
    }
    if (const int err = set_nonblocking(fd); err != 0) {
        (void)gcl_session_close(s);
        return err;
    }
    lc_log_basic(LCL_INFO, "session %d: connected to %s", s->id,
                 addr_text(s->peer_addr, s->peer_addr_len).c_str());
    if (const int err = detail::gcl_session_became_connected(s); err != 0) {
        (void)gcl_session_close(s);
        bail_error(err);
    }
    return 0;
}

int gcl_session_provider_new_from_fd(gcl_handle *gcl, const char *provider_name, int fd,
                                     gcl_session **ret_session)
{
    lc_scope_guard close_fd([fd] {
        if (fd >= 0) close(fd);
    });
    bail_null(ret_session);
    *ret_session = nullptr;
    bail_require(fd >= 0);
    owned<gcl_session> s;
    bail_error(gcl_session_provider_new(gcl, provider_name, 0, s.out()));
    close_fd.dismiss();
    s->fd = fd;
    s->peer_addr_len = sizeof s->peer_addr;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&s->peer_addr), &s->peer_addr_len) != 0) {
        s->peer_addr_len = 0;
    }
    bail_error(set_nonblocking(fd));
    detail::gcl_session_guard g(s.get());
    bail_error(detail::gcl_session_became_connected(s.get()));
    bail_error(detail::gcl_admin_send_greeting(s.get()));
    *ret_session = s.release();
    return 0;
}

int gcl_session_provider_enable(gcl_session *session)
{
    bail_null(session);
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    if (s->role != gsr_provider || s->state != gss_initialized) {
        lc_log_basic(LCL_ERR, "session %d: provider enabled in invalid state: %d (%s)", s->id,
                     int(s->state), lc_enum_to_string_quiet(gcl_session_state_map, s->state));
        return lc_err_assertion_failed;
    }
    sockaddr_storage addr{};
    socklen_t len = 0;
    bail_error(gcl_sockaddr_for_provider(s->provider_name.c_str(), "provider", &addr, &len));
    const char *path = reinterpret_cast<sockaddr_un *>(&addr)->sun_path;
    const std::string dir(path, strrchr(path, '/') - path);
    // Every user's daemons put their sockets here: sticky and writable.
    if (mkdir(dir.c_str(), 01777) == 0) (void)chmod(dir.c_str(), 01777);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        lc_log_basic(LCL_ERR, "socket: %m");
        return lc_err_io_error;
    }
    lc_scope_guard close_fd([fd] { close(fd); });
    // A socket file that nobody answers on is left from an earlier run.
    {
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe >= 0) {
            const bool alive = connect(probe, reinterpret_cast<sockaddr *>(&addr), len) == 0;
            close(probe);
            if (alive) {
                lc_log_basic(LCL_ERR, "session %d: provider socket %s in use", s->id, path);
                return lc_err_exists;
            }
        }
        (void)unlink(path);
    }
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        lc_log_basic(LCL_ERR, "bind: %m");
        return lc_err_io_error;
    }
    if (listen(fd, listen_backlog) != 0) {
        lc_log_basic(LCL_ERR, "listen: %m");
        (void)unlink(path);
        return lc_err_io_error;
    }
    close_fd.dismiss();
    s->fd = fd;
    s->socket_path = path;
    s->state = gss_listening;
    if (const int err = detail::gcl_session_interest_changed(s); err != 0) {
        (void)gcl_session_close(s);
        return err;
    }
    lc_log_basic(LCL_INFO, "session %d: enabled listening on %s", s->id, path);
    return 0;
}

// ---------------------------------------------------------------------------
// Blocking I/O

int gcl_session_do_blocking_io(gcl_handle *gcl, gcl_session *session, int32 timeout_ms)
{
    bail_null(gcl);
    bail_null(session);
    bail_require(session->gcl == gcl);
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    if (s->state != gss_connected && s->state != gss_listening) return lc_err_io_closed;
    static const long open_max = sysconf(_SC_OPEN_MAX);
    if (open_max > 0 && s->fd >= open_max) {
        lc_log_basic(LCL_ERR, "fd too large: %d", s->fd);
        return lc_err_assertion_failed;
    }
    const int64 deadline = timeout_ms < 0 ? -1 : lt_sys_monotonic_ms() + timeout_ms;
    pollfd pfd{};
    int rc;
    for (;;) {
        pfd = pollfd{s->fd, POLLIN, 0};
        if (!s->outq.empty() && !s->bw_throttled) pfd.events |= POLLOUT;
        int wait = -1;
        if (deadline >= 0) {
            const int64 left = deadline - lt_sys_monotonic_ms();
            wait = left > 0 ? int(left < INT_MAX ? left : INT_MAX) : 0;
        }
        rc = poll(&pfd, 1, wait);
        if (rc >= 0 || errno != EINTR) break;
    }
    if (rc < 0) {
        lc_log_basic(LCL_ERR, "poll: %m");
        return lc_err_io_error;
    }
    if (rc == 0) {
        lc_log_basic(LCL_INFO, "GCL timeout forced");
        return lc_err_io_timeout;
    }
    if (s->state == gss_listening) {
        bail_error(detail::gcl_session_accept(s));
        return 0;
    }
    if (pfd.revents & POLLOUT) (void)detail::gcl_session_write(s);
    if (s->state == gss_connected && (pfd.revents & (POLLIN | POLLHUP | POLLERR))) {
        (void)detail::gcl_session_read(s);
        detail::gcl_session_input_trim(s);
    }
    return s->state == gss_connected ? 0 : lc_err_io_closed;
}
