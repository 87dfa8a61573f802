// Queries on sessions and their dumps.
#include <cstring>

#include "mgmt/gcl_internal.h"

int gcl_session_get_state(const gcl_session *session, gcl_session_state *ret_state)
{
    bail_null(ret_state);
    *ret_state = gss_none;
    bail_null(session);
    *ret_state = session->state;
    return 0;
}

int gcl_session_get_role(const gcl_session *session, gcl_session_role *ret_role)
{
    bail_null(ret_role);
    *ret_role = gsr_client;
    bail_null(session);
    *ret_role = session->role;
    return 0;
}

int gcl_session_get_auth(const gcl_session *session, int64 *ret_uid, int64 *ret_gid,
                         const char **ret_user_name)
{
    if (ret_uid) *ret_uid = -1;
    if (ret_gid) *ret_gid = -1;
    if (ret_user_name) *ret_user_name = nullptr;
    bail_null(session);
    if (session->admin.greet != ggs_complete) return 0;
    if (ret_uid) *ret_uid = session->admin.peer_uid;
    if (ret_gid) *ret_gid = session->admin.peer_gid;
    if (ret_user_name) *ret_user_name = session->admin.peer_user.c_str();
    return 0;
}

int gcl_session_get_service_id_open(const gcl_session *session, uint32 service_id, tbool *ret_open)
{
    bail_null(ret_open);
    *ret_open = 0;
    bail_null(session);
    if (service_id >= 1 && service_id <= gcl_service_id_max) {
        *ret_open = (session->admin.open_mask >> service_id) & 1;
    }
    return 0;
}

int gcl_session_get_service_id(const gcl_session *session, uint32 *ret_service_id)
{
    bail_null(ret_service_id);
    *ret_service_id = 0;
    bail_null(session);
    *ret_service_id = session->admin.service_id;
    return 0;
}

int gcl_session_get_lang_tag(const gcl_session *session, const char **ret_tag)
{
    bail_null(ret_tag);
    *ret_tag = nullptr;
    bail_null(session);
    *ret_tag = session->admin.lang_tag.c_str();
    return 0;
}

int gcl_session_get_session_names(const gcl_session *session, const char **ret_client_name,
                                  const char **ret_user_name, const char **ret_provider_name)
{
    if (ret_client_name) *ret_client_name = nullptr;
    if (ret_user_name) *ret_user_name = nullptr;
    if (ret_provider_name) *ret_provider_name = nullptr;
    bail_null(session);
    if (ret_client_name) *ret_client_name = session->client_name.c_str();
    if (ret_user_name) {
        *ret_user_name = session->role == gsr_client ? session->user_name.c_str()
                                                     : session->admin.peer_user.c_str();
    }
    if (ret_provider_name) *ret_provider_name = session->provider_name.c_str();
    return 0;
}

const char *gcl_session_get_peer_name_quick(const gcl_session *session)
{
    if (!session) return nullptr;
    return session->role == gsr_client ? session->provider_name.c_str()
                                       : session->client_name.c_str();
}

int gcl_session_get_session_name_ids(const gcl_session *session, const char **ret_name,
                                     int32 *ret_id, int32 *ret_peer_id)
{
    if (ret_name) *ret_name = nullptr;
    if (ret_id) *ret_id = 0;
    if (ret_peer_id) *ret_peer_id = 0;
    bail_null(session);
    if (ret_name) {
        *ret_name = session->role == gsr_client ? session->client_name.c_str()
                                                : session->provider_name.c_str();
    }
    if (ret_id) *ret_id = session->id;
    if (ret_peer_id) *ret_peer_id = session->admin.peer_session_id;
    return 0;
}

int gcl_session_get_id(const gcl_session *session, int32 *ret_id)
{
    bail_null(ret_id);
    *ret_id = 0;
    bail_null(session);
    *ret_id = session->id;
    return 0;
}

int gcl_session_get_fd(const gcl_session *session, int *ret_fd)
{
    bail_null(ret_fd);
    *ret_fd = -1;
    bail_null(session);
    *ret_fd = session->fd;
    return 0;
}

int gcl_session_lookup(gcl_handle *gcl, const char *client_name, gcl_session **ret_session)
{
    bail_null(ret_session);
    *ret_session = nullptr;
    bail_null(gcl);
    bail_null(client_name);
    detail::gcl_handle_guard g(gcl);
    for (gcl_session *s : gcl->sessions) {
        if (!s->free_pending && s->client_name == client_name) {
            *ret_session = s;
            return 0;
        }
    }
    lc_log_basic(LCL_INFO, "No session found for client \"%s\"", client_name);
    return lc_err_not_found;
}

int gcl_session_id_lookup(gcl_handle *gcl, int32 id, gcl_session **ret_session)
{
    bail_null(ret_session);
    *ret_session = nullptr;
    bail_null(gcl);
    detail::gcl_handle_guard g(gcl);
    for (gcl_session *s : gcl->sessions) {
        if (!s->free_pending && s->id == id) {
            *ret_session = s;
            return 0;
        }
    }
    lc_log_basic(LCL_INFO, "No session found for id \"%d\"", int(id));
    return lc_err_not_found;
}

int gcl_get_remote_addr(const gcl_session *session, const struct sockaddr **ret_addr)
{
    bail_null(ret_addr);
    *ret_addr = nullptr;
    bail_null(session);
    *ret_addr = reinterpret_cast<const sockaddr *>(&session->peer_addr);
    return 0;
}

int gcl_get_remote_addr_len(const gcl_session *session, socklen_t *ret_len)
{
    bail_null(ret_len);
    *ret_len = 0;
    bail_null(session);
    *ret_len = session->peer_addr_len;
    return 0;
}

int gcl_session_set_bwlimit(gcl_session *session, uint32 bytes_per_sec)
{
    bail_null(session);
    detail::gcl_session_guard g(session);
    bail_require(bytes_per_sec == 0 || session->gcl->fdic);
    session->bwlimit = bytes_per_sec;
    session->bw_budget = bytes_per_sec ? detail::gcl_bw_tick_budget(bytes_per_sec) : 0;
    if (bytes_per_sec == 0) session->bw_throttled = false;
    if (session->state == gss_connected && !session->outq.empty()) {
        const int err = detail::gcl_session_write(session);
        if (err != lc_err_io_closed) bail_error(err);
    }
    return 0;
}

int gcl_session_get_bwlimit(const gcl_session *session, uint32 *ret_bytes_per_sec)
{
    bail_null(ret_bytes_per_sec);
    *ret_bytes_per_sec = 0;
    bail_null(session);
    *ret_bytes_per_sec = session->bwlimit;
    return 0;
}

int gcl_session_dump(const gcl_session *session, int32 level)
{
    bail_null(session);
    const gcl_session *s = session;
    lc_log_basic(level,
                 "session %d: %s state %d (%s) fd %d client \"%s\" user \"%s\" provider \"%s\" "
                 "services 0x%x queued %d",
                 s->id, s->role == gsr_client ? "client" : "provider", int(s->state),
                 lc_enum_to_string_quiet(gcl_session_state_map, s->state), s->fd,
                 s->client_name.c_str(), s->user_name.c_str(), s->provider_name.c_str(),
                 s->admin.open_mask, int(s->outq.size()));
    return 0;
}

int gcl_session_dump_all(gcl_handle *gcl, int32 level)
{
    bail_null(gcl);
    detail::gcl_handle_guard g(gcl);
    for (const gcl_session *s : gcl->sessions) (void)gcl_session_dump(s, level);
    return 0;
}
