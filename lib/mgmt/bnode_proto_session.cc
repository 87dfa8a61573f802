// Messages over the session layer: body protocol 2 "bnode".
//
// The protocol keeps its global callbacks in its protocol data and, per
// session, a message counter, the audit user information and the
// session's own callbacks.  Sending encodes with the frame header reserved
// and hands the buffer to the session layer; receiving decodes a frame by
// its message type and calls the session's callback for that type, else
// the global one.
#include <array>
#include <cstdio>
#include <utility>

#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"
#include "mgmt/gcl.h"
#include "util/byte_cursor.h"

namespace
{

// One slot per message type (index = type code).
struct callback {
    void *func = nullptr; // bn_request_msg_func or bn_response_msg_func
    void *data = nullptr;
};
using callback_table = std::array<callback, bbmt_event_response + 1>;

struct proto_globals {
    callback_table callbacks;
};

struct session_state {
    uint32 counter = 1; // the next message id
    tstring *audit_user_info = nullptr;
    callback_table callbacks;
};

void free_globals(void *data)
{
    delete static_cast<proto_globals *>(data);
}

int on_session_new(gcl_session *, void *, void **ret_state)
{
    bail_null(ret_state);
    *ret_state = new (std::nothrow) session_state{};
    bail_null(*ret_state);
    return 0;
}

int on_session_free(gcl_session *, void *, void *state)
{
    auto *s = static_cast<session_state *>(state);
    if (s == nullptr) return 0;
    (void)ts_free(&s->audit_user_info);
    delete s;
    return 0;
}

int32 session_id(const gcl_session *session)
{
    int32 id = 0;
    if (gcl_session_get_id(session, &id) != 0) return -1;
    return id;
}

int get_state(gcl_session *session, session_state **ret)
{
    void *state = nullptr;
    bail_error(gcl_session_get_proto_state(session, gcl_body_proto_bnode, &state));
    bail_null(state);
    *ret = static_cast<session_state *>(state);
    return 0;
}

int get_globals(gcl_handle *gcl, proto_globals **ret)
{
    void *data = nullptr;
    bail_error(gcl_body_proto_get_data(gcl, gcl_body_proto_bnode, &data));
    bail_null(data);
    *ret = static_cast<proto_globals *>(data);
    return 0;
}

// The kind of a message type, for the "no ... callback" lines.
const char *kind_text(uint16 type)
{
    switch (type) {
    case bbmt_query_request:
    case bbmt_query_response:
        return "query";
    case bbmt_set_request:
    case bbmt_set_response:
        return "set";
    case bbmt_action_request:
    case bbmt_action_response:
        return "action";
    default:
        return "event";
    }
}

callback find_callback(const session_state *state, const proto_globals *globals, uint16 type)
{
    if (state && state->callbacks[type].func) return state->callbacks[type];
    if (globals) return globals->callbacks[type];
    return {};
}

int receive_request(gcl_session *session, const gcl_frame_info *frame, const uint8 *body,
                    const session_state *state, const proto_globals *globals)
{
    owned<bn_request> msg;
    // A message that does not decode was reported by the decoder; the frame
    // is dropped and the session carries on.
    if (bn_request_msg_deserialize(body, frame->gfi_body_len, msg.out()) != 0) return 0;
    (void)bn_request_msg_dump(session, msg.get(), bn_dump_level_none, "RECV REQ");
    // The message's own type picks the callback.
    const callback cb = find_callback(state, globals, msg->msg_type);
    if (cb.func == nullptr) {
        lc_log_basic(LCL_WARNING, "session %d: proto bnode: no %s request callback",
                     session_id(session), kind_text(msg->msg_type));
        return 0;
    }
    return reinterpret_cast<bn_request_msg_func>(cb.func)(session, msg.get(), cb.data);
}

int receive_response(gcl_session *session, const gcl_frame_info *frame, const uint8 *body,
                     const session_state *state, const proto_globals *globals)
{
    owned<bn_response> msg;
    // A message that does not decode was reported by the decoder; the frame
    // is dropped and the session carries on.
    if (bn_response_msg_deserialize(body, frame->gfi_body_len, msg.out()) != 0) return 0;
    (void)bn_response_msg_dump(session, msg.get(), bn_dump_level_none, "RECV RESP");
    // The message's own type picks the callback.
    const callback cb = find_callback(state, globals, msg->msg_type);
    if (cb.func == nullptr) {
        lc_log_basic(LCL_WARNING,
                     "session %d: proto bnode: no %s response callback: code = %d msg = %s",
                     session_id(session), kind_text(msg->msg_type), int(msg->return_code),
                     msg->return_msg ? ts_str(msg->return_msg) : "");
        return 0;
    }
    return reinterpret_cast<bn_response_msg_func>(cb.func)(session, msg.get(), cb.data);
}

int on_frame(gcl_session *session, const gcl_frame_info *frame, const uint8 *body, void *proto_data,
             void *session_data)
{
    bail_null(session);
    bail_null(frame);
    const auto *globals = static_cast<const proto_globals *>(proto_data);
    const auto *state = static_cast<const session_state *>(session_data);

    // The message names its service in its first two bytes.
    uint16 service = 0;
    if (body) (void)lc_byte_reader(body, frame->gfi_body_len).be16(&service);
    tbool open = false;
    if (gcl_session_get_service_id_open(session, service, &open) != 0 || !open) {
        uint32 current = 0;
        (void)gcl_session_get_service_id(session, &current);
        lc_log_basic(LCL_ERR, "session %d: service %d not open: %d", session_id(session),
                     int(service), int(current));
        return 0;
    }
    const uint16 type = frame->gfi_msg_type;
    if (bn_msg_type_is_request(type)) return receive_request(session, frame, body, state, globals);
    if (bn_msg_type_is_response(type))
        return receive_response(session, frame, body, state, globals);
    lc_log_basic(LCL_WARNING, "session %d: proto bnode: invalid body message type %d",
                 session_id(session), int(type));
    return 0;
}

int session_connected(const gcl_session *session, bool *ret)
{
    gcl_session_state st = gss_none;
    bail_error(gcl_session_get_state(session, &st));
    *ret = st == gss_connected;
    return 0;
}

// A service id of 0 becomes the service open on the session.
int default_service(const gcl_session *session, uint16 *service_id)
{
    if (*service_id != 0) return 0;
    uint32 service = 0;
    bail_error(gcl_session_get_service_id(session, &service));
    *service_id = uint16(service);
    return 0;
}

// Encodes with the frame header reserved, dumps, and queues the frame, or
// drops it when the session is not connected.
template <class Msg>
int send_message(gcl_session *session, Msg *msg, int (*encode)(Msg *, uint32, tbuf **),
                 int (*dump)(const gcl_session *, const Msg *, int32, const char *),
                 const char *prefix, const char *drop_format)
{
    owned<tbuf> buf;
    bail_error_quiet(encode(msg, gcl_frame_header_len, buf.out()));
    bail_error(dump(session, msg, bn_dump_level_send, prefix));
    bool connected = false;
    bail_error(session_connected(session, &connected));
    if (!connected) {
        lc_log_basic(LCL_INFO, drop_format, session_id(session));
        return 0;
    }
    tbuf *raw = buf.release();
    bail_error(
        gcl_session_send_frame_tb_takeover(session, gcl_body_proto_bnode, msg->msg_type, &raw));
    return 0;
}

} // namespace

namespace detail
{

void proto_session_describe(const gcl_session *session, uint32 *ret_id, const char **ret_peer)
{
    *ret_id = uint32(session_id(session));
    *ret_peer = gcl_session_get_peer_name_quick(session);
}

} // namespace detail

int gcl_bn_init(gcl_handle *gcl)
{
    bail_null(gcl);
    gcl_body_proto p;
    p.gbp_id = gcl_body_proto_bnode;
    snprintf(p.gbp_name, sizeof p.gbp_name, "bnode");
    // The protocol owns its globals only once registered.
    std::unique_ptr<proto_globals> globals{new (std::nothrow) proto_globals{}};
    bail_null(globals);
    p.gbp_data = globals.get();
    p.gbp_data_free = free_globals;
    p.gbp_session_new = on_session_new;
    p.gbp_session_free = on_session_free;
    // Every service slot: the handler itself tells an open service from
    // one that is not.
    for (auto &h : p.gbp_service_handlers) h = on_frame;
    bail_error(gcl_register_body_protocol(gcl, &p));
    (void)globals.release();
    return 0;
}

#define BN_MSG_CALLBACK_DEFINE(kind, type, func_t)                                                 \
    int bn_set_global_callback_##kind##_msg(gcl_handle *gcl, func_t handler, void *data)           \
    {                                                                                              \
        bail_null(gcl);                                                                            \
        proto_globals *g = nullptr;                                                                \
        bail_error(get_globals(gcl, &g));                                                          \
        g->callbacks[type] = {reinterpret_cast<void *>(handler), data};                            \
        return 0;                                                                                  \
    }                                                                                              \
    int bn_set_session_callback_##kind##_msg(gcl_session *session, func_t handler, void *data)     \
    {                                                                                              \
        bail_null(session);                                                                        \
        session_state *s = nullptr;                                                                \
        bail_error(get_state(session, &s));                                                        \
        s->callbacks[type] = {reinterpret_cast<void *>(handler), data};                            \
        return 0;                                                                                  \
    }
BN_MSG_CALLBACK_KINDS(BN_MSG_CALLBACK_DEFINE)
#undef BN_MSG_CALLBACK_DEFINE

int bn_session_set_audit_user_info(gcl_session *session, const char *info)
{
    bail_null(session);
    session_state *s = nullptr;
    bail_error(get_state(session, &s));
    return detail::proto_set_str(&s->audit_user_info, info);
}

int bn_request_msg_send(gcl_session *session, bn_request *msg)
{
    bail_null(session);
    bail_null(msg);
    session_state *s = nullptr;
    bail_error(get_state(session, &s));

    msg->msg_id = s->counter++;
    bail_error(default_service(session, &msg->service_id));
    if (msg->transaction_id == 0) msg->transaction_id = s->counter;
    if (s->audit_user_info &&
        (msg->msg_type == bbmt_set_request || msg->msg_type == bbmt_action_request))
        bail_error(detail::proto_set_str(&msg->audit_user_info, ts_str(s->audit_user_info)));
    return send_message(session, msg, bn_request_msg_serialize, bn_request_msg_dump, "SEND REQ",
                        "Dropping request to non-connected session %d");
}

int bn_response_msg_send(gcl_session *session, bn_response *msg)
{
    bail_null(session);
    bail_null(msg);
    // A response keeps its ids; only a missing service id is filled in, as
    // the peer drops messages for services not open on the session.
    bail_error(default_service(session, &msg->service_id));
    return send_message(session, msg, bn_response_msg_serialize, bn_response_msg_dump, "SEND RESP",
                        "Dropping response to non-connected session %d");
}

int bn_response_msg_create_send(gcl_session *session, uint16 msg_type, uint32 req_msg_id,
                                uint32 return_code, const char *return_msg)
{
    bail_null(session);
    owned<bn_response> msg;
    bail_error(bn_response_msg_create(msg.out(), msg_type, req_msg_id, return_code, return_msg));
    bail_error(bn_response_msg_send(session, msg.get()));
    return 0;
}
