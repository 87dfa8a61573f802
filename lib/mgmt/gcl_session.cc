// The library context, body-protocol registration, the registry binding,
// and the life of a session record: creation, closing and freeing.
// Connecting, accepting and blocking I/O are in gcl_connect.cc.
//
// A session's descriptor is reported to the context's registry with the
// session as owner data, so the registry's close handler (reason 5) tells
// the owner which session went away.  Freeing a session from inside one of
// its own callbacks is deferred to the end of the outermost call (see
// gcl_session_guard).
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <pwd.h>
#include <unistd.h>

#include "mgmt/gcl_internal.h"

const lc_enum_string_map gcl_session_state_map[] = {
    {gss_none, "none"},           {gss_closed, "closed"},       {gss_initialized, "initialized"},
    {gss_listening, "listening"}, {gss_connected, "connected"}, {0, nullptr},
};

namespace
{

constexpr char name_chars_extra[] = "_.-";

void session_destroy(gcl_session *s);

int read_ready(int fd, fdic_reason, void *, void *data)
{
    auto *s = static_cast<gcl_session *>(data);
    detail::gcl_session_guard g(s, true);
    if (fd != s->fd) return 0;
    if (s->state == gss_listening) return detail::gcl_session_accept(s);
    (void)detail::gcl_session_read(s);
    detail::gcl_session_input_trim(s);
    return 0;
}

int write_ready(int fd, fdic_reason, void *, void *data)
{
    auto *s = static_cast<gcl_session *>(data);
    detail::gcl_session_guard g(s, true);
    if (fd != s->fd || s->state != gss_connected) return 0;
    (void)detail::gcl_session_write(s);
    return 0;
}

bool watched(const gcl_session *s)
{
    return s->fd >= 0 && !s->closing && (s->state == gss_connected || s->state == gss_listening);
}

bool want_write(const gcl_session *s)
{
    return s->state == gss_connected && !s->outq.empty() && !s->bw_throttled;
}

bool interest_in_line(const gcl_session *s)
{
    if (!s->gcl->fdic) return true;
    if (!watched(s)) return s->fd_id == 0 && s->bw_timer_id == 0;
    return s->fd_id != 0 && s->fd_want_write == want_write(s) && !s->bw_rearm;
}

// Tells the registry what the session now wants watched.  Deleting the
// descriptor's record runs the registry's close handler (reason 5).
int sync_interest(gcl_session *s)
{
    fdic_context *fdic = s->gcl->fdic;
    if (!fdic) return 0;
    if (!watched(s)) {
        s->bw_rearm = false;
        if (const fdic_event_id id = s->bw_timer_id; id != 0) {
            s->bw_timer_id = 0;
            (void)fdic_event_delete_timer(fdic, id);
        }
        if (const fdic_event_id id = s->fd_id; id != 0) {
            s->fd_id = 0;
            bail_error(fdic_event_delete_fd(fdic, id));
        }
        return 0;
    }
    const bool write = want_write(s);
    if (s->fd_id == 0) {
        bail_error(fdic_event_add_fd(fdic, s->fd, 1, write ? 1 : 0, s, read_ready, write_ready, s,
                                     &s->fd_id));
        s->fd_want_write = write;
    } else if (write != s->fd_want_write) {
        bail_error(fdic_event_update_fd(fdic, s->fd_id, 1, write ? 1 : 0));
        s->fd_want_write = write;
    }
    if (s->bw_rearm) {
        s->bw_rearm = false;
        const int64 ms = detail::gcl_bw_tick_ms();
        if (s->bw_timer_id == 0) {
            bail_error(
                fdic_event_add_timer(fdic, ms, s, detail::gcl_bw_timer_fired, s, &s->bw_timer_id));
        } else {
            bail_error(fdic_event_update_timer(fdic, s->bw_timer_id, ms));
        }
    }
    return 0;
}

// Releases one hold of the context lock; the outermost release applies the
// recorded interest changes once no lock of this layer is held.
void context_leave(gcl_handle *gcl)
{
    std::vector<gcl_session *> pending;
    if (--gcl->hold_depth == 0) pending.swap(gcl->interest_pending);
    if (gcl->options.go_locking) gcl->lock.unlock();
    for (gcl_session *s : pending) {
        const int err = sync_interest(s);
        if (err != 0) lc_bail_report_error(err, "gcl_session_interest_changed", __FILE__, __LINE__);
        // Drops the pin; a free that waited for it happens here.
        detail::gcl_session_guard g(s);
        --s->busy;
    }
}

std::string effective_user_name()
{
    struct passwd pw {
    }, *res = nullptr;
    char buf[1024];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &res) == 0 && res) return res->pw_name;
    return std::to_string(geteuid());
}

// Checks a client or provider name, logging what is wrong with it.
int check_name(const char *name, gcl_session_role role)
{
    const char *problem = nullptr;
    if (detail::gcl_name_valid(name, &problem)) return 0;
    const bool too_long = problem == detail::gcl_name_problem_too_long;
    if (role == gsr_client) {
        if (too_long) {
            lc_log_basic(LCL_ERR, "Client name too long: %s", name);
        } else {
            lc_log_basic(LCL_ERR, "Invalid character in client name: %s", name);
        }
    } else {
        if (too_long) {
            lc_log_basic(LCL_ERR, "Provider name too long: %s", name);
        } else {
            lc_log_basic(LCL_ERR, "Invalid character in provider name: %s", name);
        }
    }
    return lc_err_bad_name;
}

int new_client(gcl_handle *gcl, const char *client_name, const char *user_name, int64 uid,
               int64 gid, gcl_session **ret_session)
{
    bail_null(ret_session);
    *ret_session = nullptr;
    bail_null(gcl);
    bail_null(client_name);
    bail_error_quiet(check_name(client_name, gsr_client));
    detail::gcl_handle_guard g(gcl);
    gcl_session *s = nullptr;
    bail_error(detail::gcl_session_create(gcl, gsr_client, &s));
    s->client_name = client_name;
    s->user_name = user_name ? user_name : effective_user_name();
    s->uid = uid >= 0 ? uid : int64(geteuid());
    s->gid = gid >= 0 ? gid : int64(getegid());
    *ret_session = s;
    return 0;
}

// Drops a session from the context and frees it (context lock held).
void session_destroy(gcl_session *s)
{
    gcl_handle *gcl = s->gcl;
    // The calls below take the session's guard again; it must not free.
    s->free_pending = false;
    ++s->busy;
    (void)gcl_session_close(s);
    for (uint32 id = 1; id <= gcl_body_proto_id_max; ++id) {
        const gcl_body_proto *p = gcl->protos[id].get();
        if (p && s->proto_state_made[id] && p->gbp_session_free) {
            (void)p->gbp_session_free(s, p->gbp_data, s->proto_state[id]);
        }
    }
    std::erase(gcl->sessions, s);
    std::erase(gcl->interest_pending, s);
    s->in_hold = 0;
    detail::gcl_session_drop_buffers(s);
    for (uint8 *p : s->in_retired) free(p);
    free(s->in_buf);
    delete s;
}

} // namespace

namespace detail
{

const char gcl_name_problem_too_long[] = "too long";
const char gcl_name_problem_bad_char[] = "bad character";

gcl_session_guard::gcl_session_guard(gcl_session *s, bool loop_callback)
    : s_(s), gcl_(s->gcl), loop_callback_(loop_callback)
{
    if (gcl_->options.go_locking) {
        gcl_->lock.lock();
        s_->lock.lock();
    }
    ++s_->lock_depth;
    ++gcl_->hold_depth;
    if (loop_callback_ && gcl_->loop_callbacks++ == 0)
        gcl_->loop_thread = std::this_thread::get_id();
    ++s_->busy;
}

gcl_session_guard::~gcl_session_guard()
{
    if (loop_callback_) --gcl_->loop_callbacks;
    const bool free_now = --s_->busy == 0 && s_->free_pending;
    --s_->lock_depth;
    if (gcl_->options.go_locking) s_->lock.unlock();
    if (free_now) session_destroy(s_);
    context_leave(gcl_);
}

gcl_locks_released::gcl_locks_released(gcl_session *s)
    : s_(s), context_depth_(s->gcl->hold_depth), session_depth_(s->lock_depth)
{
    gcl_handle *gcl = s->gcl;
    const bool locking = gcl->options.go_locking;
    s->lock_depth = 0;
    for (uint32 i = 0; locking && i < session_depth_; ++i) s->lock.unlock();
    for (uint32 i = 1; locking && i < context_depth_; ++i) gcl->lock.unlock();
    // The last hold goes as a guard's does.
    gcl->hold_depth = 1;
    context_leave(gcl);
}

gcl_locks_released::~gcl_locks_released()
{
    gcl_handle *gcl = s_->gcl;
    const bool locking = gcl->options.go_locking;
    for (uint32 i = 0; locking && i < context_depth_; ++i) gcl->lock.lock();
    gcl->hold_depth = context_depth_;
    for (uint32 i = 0; locking && i < session_depth_; ++i) s_->lock.lock();
    s_->lock_depth = session_depth_;
}

gcl_handle_guard::gcl_handle_guard(gcl_handle *gcl) : gcl_(gcl)
{
    if (gcl_->options.go_locking) gcl_->lock.lock();
    ++gcl_->hold_depth;
}

gcl_handle_guard::~gcl_handle_guard()
{
    context_leave(gcl_);
}

int gcl_session_interest_changed(gcl_session *s)
{
    gcl_handle *gcl = s->gcl;
    if (interest_in_line(s)) return 0;
    // The loop runs the registry's handlers with the core lock held: the
    // registry may be told at once.
    if (gcl->loop_callbacks > 0 && gcl->loop_thread == std::this_thread::get_id())
        return sync_interest(s);
    if (std::find(gcl->interest_pending.begin(), gcl->interest_pending.end(), s) !=
        gcl->interest_pending.end())
        return 0;
    bail_null(lc_grow(gcl, [&] { gcl->interest_pending.push_back(s); }));
    ++s->busy; // pinned until the change is applied
    return 0;
}

bool gcl_name_valid(const char *name, const char **ret_problem)
{
    const size_t len = strlen(name);
    if (len > gcl_name_len_max) {
        *ret_problem = gcl_name_problem_too_long;
        return false;
    }
    if (len == 0) {
        *ret_problem = gcl_name_problem_bad_char;
        return false;
    }
    for (const char *p = name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              strchr(name_chars_extra, c))) {
            *ret_problem = gcl_name_problem_bad_char;
            return false;
        }
    }
    return true;
}

int gcl_session_create(gcl_handle *gcl, gcl_session_role role, gcl_session **ret)
{
    *ret = nullptr;
    if (gcl->options.go_max_sessions != 0 && gcl->sessions.size() >= gcl->options.go_max_sessions) {
        lc_log_basic(LCL_WARNING, "Too many sessions: %u", gcl->options.go_max_sessions);
        return lc_err_no_space;
    }
    // Held here until it is in the context's list; from then on the
    // context owns it and session_destroy releases it.
    std::unique_ptr<gcl_session> holder{new (std::nothrow) gcl_session};
    bail_null(holder.get());
    gcl_session *s = holder.get();
    s->gcl = gcl;
    s->id = gcl->next_session_id++;
    s->role = role;
    s->state = gss_initialized;
    s->bwlimit = gcl->options.go_default_bwlimit;
    if (s->bwlimit) s->bw_budget = gcl_bw_tick_budget(s->bwlimit);
    bail_null(lc_grow(gcl, [&] { gcl->sessions.push_back(s); }));
    holder.release();
    for (uint32 id = 1; id <= gcl_body_proto_id_max; ++id) {
        const gcl_body_proto *p = gcl->protos[id].get();
        if (!p) continue;
        if (p->gbp_session_new) {
            const int err = p->gbp_session_new(s, p->gbp_data, &s->proto_state[id]);
            if (err != 0) {
                session_destroy(s);
                bail_error(err);
            }
        }
        s->proto_state_made[id] = true;
    }
    *ret = s;
    return 0;
}

// The session is connected with its descriptor set: watch it and tell the
// protocols.
int gcl_session_became_connected(gcl_session *s)
{
    s->state = gss_connected;
    bail_error(gcl_session_interest_changed(s));
    gcl_handle *gcl = s->gcl;
    for (uint32 id = 1; id <= gcl_body_proto_id_max && s->state == gss_connected; ++id) {
        const gcl_body_proto *p = gcl->protos[id].get();
        if (p && p->gbp_session_state) {
            const int err = p->gbp_session_state(s, gss_connected, p->gbp_data, s->proto_state[id]);
            if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
        }
    }
    return 0;
}

} // namespace detail

// ---------------------------------------------------------------------------
// Library context and protocols

int gcl_options_get_defaults(gcl_options *ret_options)
{
    bail_null(ret_options);
    *ret_options = gcl_options{};
    return 0;
}

int gcl_init(gcl_handle **ret_gcl, const gcl_options *options, fdic_context *fdic)
{
    bail_null(ret_gcl);
    *ret_gcl = nullptr;
    bail_null(options);
    owned<gcl_handle> gcl{new (std::nothrow) gcl_handle};
    bail_null(gcl.get());
    gcl->options = *options;
    gcl->fdic = fdic;
    bail_error(detail::gcl_admin_register(gcl.get()));
    *ret_gcl = gcl.release();
    return 0;
}

int gcl_shutdown(gcl_handle *gcl)
{
    bail_null(gcl);
    detail::gcl_handle_guard g(gcl);
    // Closing may call out (close handlers): work on a copy of the list.
    const std::vector<gcl_session *> all = gcl->sessions;
    for (gcl_session *s : all) {
        if (std::find(gcl->sessions.begin(), gcl->sessions.end(), s) != gcl->sessions.end()) {
            (void)gcl_session_close(s);
        }
    }
    return 0;
}

int gcl_deinit(gcl_handle **gcl_ptr)
{
    if (!gcl_ptr || !*gcl_ptr) return 0;
    gcl_handle *gcl = *gcl_ptr;
    // Closed first, so that the registry has dropped every session (and
    // said so) before any is freed.
    (void)gcl_shutdown(gcl);
    {
        detail::gcl_handle_guard g(gcl);
        while (!gcl->sessions.empty()) session_destroy(gcl->sessions.back());
        for (auto &p : gcl->protos) {
            if (p && p->gbp_data_free) p->gbp_data_free(p->gbp_data);
            p.reset();
        }
    }
    delete gcl;
    *gcl_ptr = nullptr;
    return 0;
}

int gcl_register_body_protocol(gcl_handle *gcl, const gcl_body_proto *proto)
{
    bail_null(gcl);
    bail_null(proto);
    bail_require(proto->gbp_id >= 1 && proto->gbp_id <= gcl_body_proto_id_max);
    bail_require(memchr(proto->gbp_name, 0, sizeof proto->gbp_name) != nullptr);
    detail::gcl_handle_guard g(gcl);
    if (gcl->protos[proto->gbp_id]) {
        lc_log_basic(LCL_ERR, "Already have registered body handler for proto %d",
                     int(proto->gbp_id));
        return lc_err_exists;
    }
    gcl->protos[proto->gbp_id].reset(new (std::nothrow) gcl_body_proto(*proto));
    bail_null(gcl->protos[proto->gbp_id].get());
    const gcl_body_proto *p = gcl->protos[proto->gbp_id].get();
    for (gcl_session *s : gcl->sessions) {
        if (p->gbp_session_new)
            bail_error(p->gbp_session_new(s, p->gbp_data, &s->proto_state[p->gbp_id]));
        s->proto_state_made[p->gbp_id] = true;
    }
    return 0;
}

int gcl_body_proto_get_data(gcl_handle *gcl, gcl_body_proto_id proto_id, void **ret_data)
{
    bail_null(ret_data);
    *ret_data = nullptr;
    bail_null(gcl);
    detail::gcl_handle_guard g(gcl);
    if (proto_id == 0 || proto_id > gcl_body_proto_id_max || !gcl->protos[proto_id]) {
        return lc_err_not_found;
    }
    *ret_data = gcl->protos[proto_id]->gbp_data;
    return 0;
}

int gcl_session_get_proto_state(gcl_session *session, gcl_body_proto_id proto_id, void **ret_state)
{
    bail_null(ret_state);
    *ret_state = nullptr;
    bail_null(session);
    if (proto_id == 0 || proto_id > gcl_body_proto_id_max || !session->proto_state_made[proto_id]) {
        return lc_err_not_found;
    }
    *ret_state = session->proto_state[proto_id];
    return 0;
}

int gcl_session_get_handle(gcl_session *session, gcl_handle **ret_gcl)
{
    bail_null(ret_gcl);
    *ret_gcl = nullptr;
    bail_null(session);
    *ret_gcl = session->gcl;
    return 0;
}

// ---------------------------------------------------------------------------
// Client sessions

int gcl_session_client_new(gcl_handle *gcl, const char *client_name, const char *user_name,
                           uint32 flags, gcl_session **ret_session)
{
    (void)flags;
    return new_client(gcl, client_name, user_name, -1, -1, ret_session);
}

int gcl_session_client_set_user_new(gcl_handle *gcl, const char *client_name, const char *user_name,
                                    uint32 uid, uint32 gid, uint32 flags, gcl_session **ret_session)
{
    (void)flags;
    return new_client(gcl, client_name, user_name, uid, gid, ret_session);
}

int gcl_session_client_full_new(gcl_handle *gcl, const gcl_client_params *params,
                                gcl_session **ret_session)
{
    bail_null(params);
    return new_client(gcl, params->gcp_client_name, params->gcp_user_name, params->gcp_uid,
                      params->gcp_gid, ret_session);
}

// ---------------------------------------------------------------------------
// Provider sessions

int gcl_session_provider_full_new(gcl_handle *gcl, const gcl_provider_params *params,
                                  gcl_session **ret_session)
{
    bail_null(ret_session);
    *ret_session = nullptr;
    bail_null(gcl);
    bail_null(params);
    bail_null(params->gpp_provider_name);
    bail_error_quiet(check_name(params->gpp_provider_name, gsr_provider));
    detail::gcl_handle_guard g(gcl);
    gcl_session *s = nullptr;
    bail_error(detail::gcl_session_create(gcl, gsr_provider, &s));
    s->provider_name = params->gpp_provider_name;
    s->user_name = effective_user_name();
    s->uid = geteuid();
    s->gid = getegid();
    s->accept_func = params->gpp_accept_func;
    s->accept_data = params->gpp_accept_data;
    *ret_session = s;
    return 0;
}

int gcl_session_provider_new(gcl_handle *gcl, const char *provider_name, uint32 flags,
                             gcl_session **ret_session)
{
    gcl_provider_params p;
    p.gpp_provider_name = provider_name;
    p.gpp_flags = flags;
    return gcl_session_provider_full_new(gcl, &p, ret_session);
}

// ---------------------------------------------------------------------------
// Closing and freeing

int gcl_session_close(gcl_session *session)
{
    bail_null(session);
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    if (s->closing || s->state == gss_closed) return 0;
    if (s->fd < 0) {
        // Never connected: nothing to release.
        if (s->state != gss_none) s->state = gss_closed;
        return 0;
    }
    s->closing = true;
    gcl_handle *gcl = s->gcl;
    // Unwatching runs the registry's close handler (reason 5), which tells
    // the owner.
    const int unwatch_err = detail::gcl_session_interest_changed(s);
    if (unwatch_err != 0) lc_bail_report_error(unwatch_err, __func__, __FILE__, __LINE__);
    if (!s->outq.empty()) lc_log_basic(LCL_NOTICE, "session %d: closed with output queue", s->id);
    close(s->fd);
    s->fd = -1;
    if (!s->socket_path.empty()) {
        (void)unlink(s->socket_path.c_str());
        s->socket_path.clear();
    }
    s->state = gss_closed;
    detail::gcl_session_drop_buffers(s);
    s->admin.open_mask = 0;
    s->admin.pending.clear();
    for (uint32 id = 1; id <= gcl_body_proto_id_max; ++id) {
        const gcl_body_proto *p = gcl->protos[id].get();
        if (p && p->gbp_session_state && s->proto_state_made[id]) {
            const int err = p->gbp_session_state(s, gss_closed, p->gbp_data, s->proto_state[id]);
            if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
        }
    }
    s->closing = false;
    return 0;
}

int gcl_session_free(gcl_session **session)
{
    if (!session || !*session) return 0;
    gcl_session *s = *session;
    *session = nullptr;
    gcl_handle *gcl = s->gcl;
    detail::gcl_handle_guard g(gcl);
    if (s->free_pending) return 0;
    if (s->state != gss_closed && s->state != gss_initialized && s->state != gss_none) {
        lc_log_basic(LCL_WARNING, "session %d: free was called without close", s->id);
    }
    // The close handler must see the session alive: when its report waits
    // for the locks to go, the session is pinned (busy) and freed after it.
    (void)gcl_session_close(s);
    if (s->busy > 0) {
        // One of its own calls is on the stack: the last one out frees it.
        s->free_pending = true;
        return 0;
    }
    session_destroy(s);
    return 0;
}

int gcl_session_free_closed(gcl_handle *gcl)
{
    bail_null(gcl);
    detail::gcl_handle_guard g(gcl);
    std::vector<gcl_session *> closed;
    for (gcl_session *s : gcl->sessions) {
        if (s->accepted && s->state == gss_closed && !s->free_pending) closed.push_back(s);
    }
    for (gcl_session *s : closed) (void)gcl_session_free(&s);
    return 0;
}
