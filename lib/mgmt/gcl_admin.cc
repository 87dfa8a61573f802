// Body protocol 1, "admin": the greeting and the opening of services.
//
// The provider greets every connection it accepts; the client checks the
// greeting and answers; the provider checks the answer.  Each side checks
// the user and group ids the other claims against the socket's peer
// credentials (SO_PEERCRED), except that a peer running as root may claim
// any ids.  Then the client opens services; the provider answers each.
// Any protocol error closes the session: it cannot be trusted further.
//
// Message layouts (integers big-endian, names in zero-filled 32-byte
// fields).  The open-service message is 48 bytes: two sequence values,
// service id, argument and the 32-byte string.  Its documented field list
// adds 8 zero bytes, which would make 56; we send 48, the documented size,
// and the provider accepts both.
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "mgmt/gcl_internal.h"
#include "util/ttime.h"

namespace
{

enum admin_msg_type : uint16 {
    amt_greeting = 1,
    amt_greeting_response = 2,
    amt_open_service = 3,
    amt_open_service_response = 4,
};

constexpr uint16 admin_version = 2;

// Greeting, provider to client.
namespace greet
{
constexpr uint32 version = 0;
constexpr uint32 provider_session_id = 2;
constexpr uint32 provider_accept_count = 6;
constexpr uint32 provider_name = 10;
constexpr uint32 uid = 42;
constexpr uint32 gid = 46;
constexpr uint32 user_name = 50;
constexpr uint32 pid = 82;
constexpr uint32 size = 86;
static_assert(pid + 4 == size);
} // namespace greet

// Greeting response, client to provider.
namespace greet_resp
{
constexpr uint32 version = 0;
constexpr uint32 provider_session_id = 2; // echoed
constexpr uint32 provider_accept_count = 6;
constexpr uint32 client_session_id = 10;
constexpr uint32 client_name = 14;
constexpr uint32 uid = 46;
constexpr uint32 gid = 50;
constexpr uint32 user_name = 54;
constexpr uint32 pid = 86;
constexpr uint32 size = 90;
static_assert(pid + 4 == size);
} // namespace greet_resp

// Open service, client to provider.
namespace open_req
{
constexpr uint32 request_seq = 0;
constexpr uint32 frame_seq = 4;
constexpr uint32 service_id = 8;
constexpr uint32 service_arg = 12;
constexpr uint32 service_str = 16;
constexpr uint32 size = 48;
constexpr uint32 size_with_padding = 56; // the same followed by 8 zero bytes
static_assert(service_str + gcl_name_field_len == size);
} // namespace open_req

// Open service response, provider to client; a text may follow.
namespace open_resp
{
constexpr uint32 request_seq = 0; // echoed
constexpr uint32 frame_seq = 4;   // echoed
constexpr uint32 service_id = 8;
constexpr uint32 service_str = 12;
constexpr uint32 result = 44; // 0 opened, else an error code
constexpr uint32 service_arg = 48;
constexpr uint32 size_min = 52;
static_assert(service_arg + 4 == size_min);
} // namespace open_resp

void put16(uint8 *b, uint32 off, uint16 v)
{
    b[off] = uint8(v >> 8);
    b[off + 1] = uint8(v);
}
void put32(uint8 *b, uint32 off, uint32 v)
{
    b[off] = uint8(v >> 24);
    b[off + 1] = uint8(v >> 16);
    b[off + 2] = uint8(v >> 8);
    b[off + 3] = uint8(v);
}
void put_name(uint8 *b, uint32 off, const std::string &s)
{
    memset(b + off, 0, gcl_name_field_len);
    memcpy(b + off, s.data(), std::min<size_t>(s.size(), gcl_name_len_max));
}
uint16 get16(const uint8 *b, uint32 off)
{
    return uint16((b[off] << 8) | b[off + 1]);
}
uint32 get32(const uint8 *b, uint32 off)
{
    return (uint32(b[off]) << 24) | (uint32(b[off + 1]) << 16) | (uint32(b[off + 2]) << 8) |
           uint32(b[off + 3]);
}
// A name field up to its first zero (at most the field).
std::string get_name(const uint8 *b, uint32 off)
{
    const char *p = reinterpret_cast<const char *>(b + off);
    return std::string(p, strnlen(p, gcl_name_field_len));
}

int admin_error(gcl_session *s)
{
    detail::gcl_session_close_on_error(s);
    return 0;
}

bool length_ok(gcl_session *s, const gcl_frame_info *f, uint32 need)
{
    if (f->gfi_body_len >= need) return true;
    lc_log_basic(LCL_ERR, "session %d: proto admin: short message type %d: %d bytes", s->id,
                 int(f->gfi_msg_type), int(f->gfi_body_len));
    return false;
}

// Whether claimed ids match the socket's peer credentials; `ret_text`
// gets the credentials for the log line.  Without credentials (not a Unix
// socket) the claim stands.
bool creds_match(const gcl_session *s, uint32 uid, uint32 gid, std::string *ret_uid_text,
                 std::string *ret_gid_text)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(s->fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return true;
    }
    *ret_uid_text = std::to_string(cred.uid);
    *ret_gid_text = std::to_string(cred.gid);
    if (cred.uid == 0) return true;
    return cred.uid == uid && cred.gid == gid;
}

int send_admin(gcl_session *s, uint16 type, const uint8 *body, uint32 len)
{
    return gcl_session_send_frame_components(s, gcl_body_proto_admin, type, len, body);
}

int client_on_greeting(gcl_session *s, const gcl_frame_info *f, const uint8 *b)
{
    if (!length_ok(s, f, greet::size)) return admin_error(s);
    const uint16 version = get16(b, greet::version);
    if (version != admin_version) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: bad version in greeting: %d not %d", s->id,
                     int(version), int(admin_version));
        return admin_error(s);
    }
    if (s->role != gsr_client || s->admin.greet != ggs_none) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: unexpected greeting in state %d", s->id,
                     int(s->admin.greet));
        return admin_error(s);
    }
    const uint32 uid = get32(b, greet::uid), gid = get32(b, greet::gid);
    std::string cu, cg;
    if (!creds_match(s, uid, gid, &cu, &cg)) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: bad uid / gid in greeting: %d/%d not %s/%s",
                     s->id, int(uid), int(gid), cu.c_str(), cg.c_str());
        return admin_error(s);
    }
    gcl_admin_state &a = s->admin;
    a.peer_uid = uid;
    a.peer_gid = gid;
    a.peer_user = get_name(b, greet::user_name);
    a.peer_session_id = int32(get32(b, greet::provider_session_id));
    a.peer_pid = get32(b, greet::pid);
    const std::string provider = get_name(b, greet::provider_name);
    if (s->provider_name.empty()) s->provider_name = provider;

    uint8 r[greet_resp::size] = {};
    put16(r, greet_resp::version, admin_version);
    put32(r, greet_resp::provider_session_id, get32(b, greet::provider_session_id));
    put32(r, greet_resp::provider_accept_count, get32(b, greet::provider_accept_count));
    put32(r, greet_resp::client_session_id, uint32(s->id));
    put_name(r, greet_resp::client_name, s->client_name);
    put32(r, greet_resp::uid, uint32(s->uid));
    put32(r, greet_resp::gid, uint32(s->gid));
    put_name(r, greet_resp::user_name, s->user_name);
    put32(r, greet_resp::pid, uint32(getpid()));
    bail_error_quiet(send_admin(s, amt_greeting_response, r, sizeof r));
    a.greet = ggs_complete;
    // Opens asked for before the greeting go out now, in order.
    std::vector<gcl_pending_open> pending;
    pending.swap(a.pending);
    for (const gcl_pending_open &o : pending) {
        if (s->state != gss_connected) break;
        bail_error(detail::gcl_admin_send_open(s, o));
    }
    return 0;
}

int provider_on_greeting_response(gcl_session *s, const gcl_frame_info *f, const uint8 *b)
{
    if (!length_ok(s, f, greet_resp::size)) return admin_error(s);
    const uint16 version = get16(b, greet_resp::version);
    if (version != admin_version) {
        lc_log_basic(LCL_ERR,
                     "session %d: proto admin: bad version in greeting response: %d not %d", s->id,
                     int(version), int(admin_version));
        return admin_error(s);
    }
    if (s->role != gsr_provider || s->admin.greet != ggs_sent) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: unexpected greeting response in state %d",
                     s->id, int(s->admin.greet));
        return admin_error(s);
    }
    const uint32 uid = get32(b, greet_resp::uid), gid = get32(b, greet_resp::gid);
    std::string cu, cg;
    if (!creds_match(s, uid, gid, &cu, &cg)) {
        lc_log_basic(LCL_ERR,
                     "session %d: proto admin: bad uid / gid in greeting response: %d/%d not %s/%s",
                     s->id, int(uid), int(gid), cu.c_str(), cg.c_str());
        return admin_error(s);
    }
    const std::string client = get_name(b, greet_resp::client_name);
    const char *problem = nullptr;
    if (!detail::gcl_name_valid(client.c_str(), &problem)) {
        lc_log_basic(LCL_ERR, "Invalid character in client name: %s", client.c_str());
        return admin_error(s);
    }
    gcl_admin_state &a = s->admin;
    s->client_name = client;
    a.peer_user = get_name(b, greet_resp::user_name);
    a.peer_uid = uid;
    a.peer_gid = gid;
    a.peer_session_id = int32(get32(b, greet_resp::client_session_id));
    a.peer_pid = get32(b, greet_resp::pid);
    a.greet = ggs_complete;
    lc_log_basic(LCL_INFO, "session %d: opened for client %s user %s (%d/%d) %d", s->id,
                 client.c_str(), a.peer_user.c_str(), int(uid), int(gid), int(a.peer_pid));
    return 0;
}

int provider_on_open_service(gcl_session *s, const gcl_frame_info *f, const uint8 *b)
{
    if (f->gfi_body_len != open_req::size && f->gfi_body_len != open_req::size_with_padding) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: bad open service length: %d", s->id,
                     int(f->gfi_body_len));
        return admin_error(s);
    }
    if (s->role != gsr_provider || s->admin.greet != ggs_complete) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: open service before greeting", s->id);
        return admin_error(s);
    }
    const uint32 svc = get32(b, open_req::service_id);
    const std::string str = get_name(b, open_req::service_str);
    uint32 result = 0;
    if (svc == 0 || svc > gcl_service_id_max) {
        lc_log_basic(LCL_WARNING, "session %d: proto admin: refused unknown service %d", s->id,
                     int(svc));
        result = lc_err_not_found;
    } else {
        s->admin.open_mask |= 1u << svc;
        s->admin.service_id = svc;
        s->admin.lang_tag = str;
        lc_log_basic(LCL_INFO, "session %d: proto admin: opened service %d", s->id, int(svc));
    }
    uint8 r[open_resp::size_min] = {};
    put32(r, open_resp::request_seq, get32(b, open_req::request_seq));
    put32(r, open_resp::frame_seq, get32(b, open_req::frame_seq));
    put32(r, open_resp::service_id, svc);
    put_name(r, open_resp::service_str, str);
    put32(r, open_resp::result, result);
    put32(r, open_resp::service_arg, get32(b, open_req::service_arg));
    return send_admin(s, amt_open_service_response, r, sizeof r);
}

int client_on_open_service_response(gcl_session *s, const gcl_frame_info *f, const uint8 *b)
{
    if (!length_ok(s, f, open_resp::size_min)) return admin_error(s);
    if (s->role != gsr_client || s->admin.greet != ggs_complete) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: unexpected open service response", s->id);
        return admin_error(s);
    }
    const uint32 svc = get32(b, open_resp::service_id);
    const uint32 result = get32(b, open_resp::result);
    lc_log_basic(LCL_INFO, "session %d: proto admin: received open service response %d", s->id,
                 int(svc));
    if (svc == 0 || svc > gcl_service_id_max) return admin_error(s);
    if (result != 0) {
        lc_log_basic(LCL_ERR, "session %d: proto admin: service %d refused: %d", s->id, int(svc),
                     int(result));
        s->admin.refused_mask |= 1u << svc;
        return 0;
    }
    s->admin.open_mask |= 1u << svc;
    s->admin.service_id = svc;
    return 0;
}

int admin_handler(gcl_session *s, const gcl_frame_info *f, const uint8 *body, void *, void *)
{
    switch (f->gfi_msg_type) {
    case amt_greeting:
        return client_on_greeting(s, f, body);
    case amt_greeting_response:
        return provider_on_greeting_response(s, f, body);
    case amt_open_service:
        return provider_on_open_service(s, f, body);
    case amt_open_service_response:
        return client_on_open_service_response(s, f, body);
    default:
        lc_log_basic(LCL_WARNING, "session %d: DISCARDED frame %d (%d) proto %d mtype %d", s->id,
                     int(f->gfi_seq), int(f->gfi_total_len), int(f->gfi_proto),
                     int(f->gfi_msg_type));
        return 0;
    }
}

} // namespace

namespace detail
{

int gcl_admin_register(gcl_handle *gcl)
{
    gcl_body_proto p;
    p.gbp_id = gcl_body_proto_admin;
    strcpy(p.gbp_name, "admin");
    p.gbp_service_handlers[0] = admin_handler;
    return gcl_register_body_protocol(gcl, &p);
}

int gcl_admin_send_greeting(gcl_session *s)
{
    uint8 g[greet::size] = {};
    put16(g, greet::version, admin_version);
    put32(g, greet::provider_session_id, uint32(s->id));
    put32(g, greet::provider_accept_count, s->gcl->accept_count);
    put_name(g, greet::provider_name, s->provider_name);
    put32(g, greet::uid, uint32(s->uid));
    put32(g, greet::gid, uint32(s->gid));
    put_name(g, greet::user_name, s->user_name);
    put32(g, greet::pid, uint32(getpid()));
    s->admin.greet = ggs_sent;
    return send_admin(s, amt_greeting, g, sizeof g);
}

int gcl_admin_send_open(gcl_session *s, const gcl_pending_open &o)
{
    uint8 m[open_req::size] = {};
    put32(m, open_req::request_seq, ++s->admin.open_seq);
    put32(m, open_req::frame_seq, s->next_seq);
    put32(m, open_req::service_id, o.service_id);
    put32(m, open_req::service_arg, o.service_arg);
    put_name(m, open_req::service_str, o.service_str);
    s->admin.lang_tag = o.service_str;
    return send_admin(s, amt_open_service, m, sizeof m);
}

} // namespace detail

// ---------------------------------------------------------------------------
// Opening services

int gcl_session_client_open_service(gcl_session *session, uint32 service_id, uint32 service_arg,
                                    const char *service_str, uint32 flags)
{
    (void)flags;
    bail_null(session);
    bail_require(service_id >= 1 && service_id <= gcl_service_id_max);
    bail_require(!service_str || strlen(service_str) <= gcl_name_len_max);
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    bail_require(s->role == gsr_client);
    if (s->state != gss_connected) {
        lc_log_basic(LCL_NOTICE, "session %d: tried to send frame in state %d", s->id,
                     int(s->state));
        return lc_err_io_closed;
    }
    s->admin.refused_mask &= ~(1u << service_id);
    gcl_pending_open o{service_id, service_arg, service_str ? service_str : ""};
    if (s->admin.greet != ggs_complete) {
        s->admin.pending.push_back(std::move(o));
        return 0;
    }
    return detail::gcl_admin_send_open(s, o);
}

int gcl_session_client_open_service_blocking(gcl_session *session, uint32 service_id,
                                             uint32 service_arg, const char *service_str,
                                             uint32 flags, int32 timeout_ms)
{
    bail_null(session);
    detail::gcl_session_guard g(session);
    gcl_session *s = session;
    gcl_handle *gcl = s->gcl;
    const lt_time_ms t0 = lt_sys_monotonic_ms();
    const auto left_ms = [&]() -> int32 {
        if (timeout_ms < 0) return -1;
        const lt_time_ms spent = lt_sys_monotonic_ms() - t0;
        return spent >= timeout_ms ? 0 : int32(timeout_ms - spent);
    };
    const auto wait_step = [&]() -> int {
        const int err = gcl_session_do_blocking_io(gcl, s, left_ms());
        if (err == lc_err_io_closed) (void)gcl_session_close(s);
        return err;
    };
    while (s->state == gss_connected && s->admin.greet != ggs_complete) {
        bail_error_quiet(wait_step());
    }
    if (s->state != gss_connected) return lc_err_io_closed;
    bail_error(gcl_session_client_open_service(s, service_id, service_arg, service_str, flags));
    const uint32 bit = 1u << service_id;
    while (s->state == gss_connected && !(s->admin.open_mask & bit)) {
        if (s->admin.refused_mask & bit) return lc_err_generic_error;
        bail_error_quiet(wait_step());
    }
    if (s->state != gss_connected) return lc_err_io_closed;
    return 0;
}
