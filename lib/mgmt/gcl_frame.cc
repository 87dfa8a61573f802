// Frames: the 32-byte header, the input buffer and frame delivery, the
// output queue and the send functions.
//
// The input buffer belongs to the session.  A length field never sizes an
// allocation: the buffer grows by a fixed step before a read, only when
// little room is left, so memory follows the bytes that actually arrived.
// A frame is taken out of the buffer before its handler runs, so a handler
// that reads the session again (a nested loop pass waiting for a reply)
// sees the frames after it, in order.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "mgmt/gcl_internal.h"
#include "util/byte_cursor.h"

namespace
{

// Header field offsets.
constexpr uint32 off_ident = 0;
constexpr uint32 off_mark = 4;
constexpr uint32 off_version = 8;
constexpr uint32 off_total_len = 12;
constexpr uint32 off_header_len = 16;
constexpr uint32 off_reserved = 18;
constexpr uint32 off_seq = 20;
constexpr uint32 off_proto = 24;
constexpr uint32 off_msg_type = 26;
constexpr uint32 off_body_len = 28;
static_assert(off_body_len + 4 == gcl_frame_header_len);

constexpr uint8 frame_ident[4] = {'G', 'C', 'L', 'F'};
// Printed in "invalid frame header len: %d vs %s".
constexpr const char header_len_text[] = "32";

// A tick of the bandwidth limit.
constexpr int64 bw_tick_ms = 100;

// Makes room before a read: unprocessed bytes move to the front (unless a
// handler holds the buffer) and the buffer grows by one step when no more
// than a step less one byte is free.
int input_make_room(gcl_session *s)
{
    const uint32 pending = s->in_end - s->in_start;
    if (s->in_hold == 0) {
        if (s->in_start > 0) {
            if (pending > 0) memmove(s->in_buf, s->in_buf + s->in_start, pending);
            s->in_start = 0;
            s->in_end = pending;
        }
        if (s->in_size - s->in_end <= gcl_input_grow_step - 1) {
            const uint32 new_size = s->in_size + gcl_input_grow_step;
            auto *p = static_cast<uint8 *>(realloc(s->in_buf, new_size));
            bail_null(p);
            s->in_buf = p;
            s->in_size = new_size;
        }
        return 0;
    }
    // A handler is looking at a body inside the buffer: leave it where it
    // is and continue in a fresh one.
    uint32 new_size = s->in_size;
    while (new_size - pending <= gcl_input_grow_step - 1) new_size += gcl_input_grow_step;
    auto *p = static_cast<uint8 *>(malloc(new_size));
    bail_null(p);
    if (pending > 0) memcpy(p, s->in_buf + s->in_start, pending);
    s->in_retired.push_back(s->in_buf);
    s->in_buf = p;
    s->in_size = new_size;
    s->in_start = 0;
    s->in_end = pending;
    return 0;
}

int deliver_frame(gcl_session *s, const gcl_frame_info &info, const uint8 *body)
{
    gcl_handle *gcl = s->gcl;
    // The wire carries 16 bits; only ids up to gcl_body_proto_id_max can be registered.
    const gcl_body_proto *proto =
        info.gfi_proto <= gcl_body_proto_id_max ? gcl->protos[info.gfi_proto].get() : nullptr;
    gcl_frame_handler_func handler = nullptr;
    if (proto) {
        // Admin frames run before any service is open.
        const uint32 svc = info.gfi_proto == gcl_body_proto_admin ? 0 : s->admin.service_id;
        if (svc < gcl_service_slots) handler = proto->gbp_service_handlers[svc];
        if (!handler) handler = proto->gbp_service_handlers[0];
    }
    if (!handler) {
        lc_log_basic(LCL_WARNING, "session %d: DISCARDED frame %d (%d) proto %d mtype %d", s->id,
                     int(info.gfi_seq), int(info.gfi_total_len), int(info.gfi_proto),
                     int(info.gfi_msg_type));
        return 0;
    }
    lc_log_basic(LCL_DEBUG, "session %d: upper layer handoff of %d len %d", s->id,
                 int(info.gfi_seq), int(info.gfi_body_len));
    void *proto_state = s->proto_state[info.gfi_proto];
    int err;
    {
        detail::gcl_locks_released unlocked(s);
        err = handler(s, &info, body, proto->gbp_data, proto_state);
    }
    if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    return 0;
}

// Delivers every whole frame in the buffer; stops when the session closes.
int process_input(gcl_session *s)
{
    while (s->state == gss_connected && s->in_end - s->in_start >= gcl_frame_header_len) {
        const uint8 *hdr = s->in_buf + s->in_start;
        gcl_frame_info info{};
        if (detail::gcl_frame_header_check(s, hdr, &info) != 0) {
            detail::gcl_session_close_on_error(s);
            return lc_err_io_closed;
        }
        if (s->in_end - s->in_start < info.gfi_total_len) break;
        lc_log_basic(LCL_DEBUG, "session %d: received full frame seq %d len %d", s->id,
                     int(info.gfi_seq), int(info.gfi_total_len));
        // Consume first: the handler may read the session again.
        const uint8 *body = hdr + gcl_frame_header_len;
        s->in_start += info.gfi_total_len;
        ++s->in_hold;
        (void)deliver_frame(s, info, body);
        if (--s->in_hold == 0 && !s->in_retired.empty()) {
            for (uint8 *p : s->in_retired) free(p);
            s->in_retired.clear();
        }
    }
    return s->state == gss_connected ? 0 : lc_err_io_closed;
}

// With a bandwidth limit, how much of `want` may go now.  An empty budget
// stops writing and arms the tick that refills it.
int bw_allowance(gcl_session *s, uint32 want, uint32 *ret_allowed)
{
    *ret_allowed = want;
    if (s->bwlimit == 0 || !s->gcl->fdic) return 0;
    if (s->bw_budget == 0) {
        *ret_allowed = 0;
        if (s->bw_throttled) return 0;
        s->bw_throttled = true;
        s->bw_rearm = true;
        bail_error(detail::gcl_session_interest_changed(s));
        return 0;
    }
    *ret_allowed = want < s->bw_budget ? want : s->bw_budget;
    return 0;
}

} // namespace

namespace detail
{

int gcl_bw_timer_fired(int, fdic_reason, void *, void *data)
{
    auto *s = static_cast<gcl_session *>(data);
    gcl_session_guard g(s, true);
    lc_log_basic(LCL_DEBUG, "session %d: rate limit timer fired", s->id);
    s->bw_throttled = false;
    s->bw_budget = gcl_bw_tick_budget(s->bwlimit);
    if (s->state == gss_connected) (void)gcl_session_write(s);
    return 0;
}

int64 gcl_bw_tick_ms()
{
    return bw_tick_ms;
}

uint32 gcl_bw_tick_budget(uint32 bytes_per_sec)
{
    const uint32 b = bytes_per_sec / uint32(1000 / bw_tick_ms);
    return b == 0 ? 1 : b;
}

void gcl_frame_header_encode(uint8 *hdr, uint32 seq, gcl_body_proto_id proto, uint16 msg_type,
                             uint32 body_len)
{
    // The caller provides gcl_frame_header_len bytes, so no field can fail.
    constexpr auto be = lc_bytes::order::big;
    lc_byte_writer w(hdr, gcl_frame_header_len);
    lc_byte_writer ident;
    bool ok =
        w.at(off_ident, sizeof frame_ident, &ident) && ident.bytes(frame_ident, sizeof frame_ident);
    ok = ok && w.put_at<be>(off_mark, gcl_frame_mark) &&
         w.put_at<be>(off_version, gcl_frame_version);
    ok = ok && w.put_at<be>(off_total_len, body_len + gcl_frame_header_len);
    ok = ok && w.put_at<be>(off_header_len, uint16(gcl_frame_header_len)) &&
         w.put_at<be>(off_reserved, uint16(0));
    ok = ok && w.put_at<be>(off_seq, seq) && w.put_at<be>(off_proto, uint16(proto)) &&
         w.put_at<be>(off_msg_type, msg_type) && w.put_at<be>(off_body_len, body_len);
    (void)ok;
}

int gcl_frame_header_check(const gcl_session *s, const uint8 *hdr, gcl_frame_info *ret_info)
{
    // The caller checked that a whole header is present.
    constexpr auto be = lc_bytes::order::big;
    const lc_byte_reader r(hdr, gcl_frame_header_len);
    uint8 ident[sizeof frame_ident] = {};
    uint32 mark = 0, version = 0, total = 0, seq = 0, body_len = 0;
    uint16 header_len = 0, proto = 0, msg_type = 0;
    lc_byte_reader ident_field;
    bool ok = r.at(off_ident, sizeof ident, &ident_field) && ident_field.bytes(ident, sizeof ident);
    ok = ok && r.get_at<be>(off_mark, &mark) && r.get_at<be>(off_version, &version);
    ok = ok && r.get_at<be>(off_total_len, &total) && r.get_at<be>(off_header_len, &header_len);
    ok = ok && r.get_at<be>(off_seq, &seq) && r.get_at<be>(off_proto, &proto);
    ok = ok && r.get_at<be>(off_msg_type, &msg_type) && r.get_at<be>(off_body_len, &body_len);
    bail_require(ok);

    if (memcmp(ident, frame_ident, sizeof frame_ident) != 0) {
        // The ident travels unswapped: print it as this host reads it.
        lc_log_basic(LCL_ERR, "session %d: invalid frame ident: %x", s->id,
                     lc_bytes::load<lc_bytes::order::native, uint32>(ident));
        return lc_err_parse_error;
    }
    if (mark != gcl_frame_mark) {
        lc_log_basic(LCL_ERR, "session %d: invalid frame mark: %x", s->id, mark);
        return lc_err_parse_error;
    }
    if (version != gcl_frame_version) {
        lc_log_basic(LCL_ERR, "session %d: invalid frame version: %d", s->id, int(version));
        return lc_err_parse_error;
    }
    // 64-bit sum: a body length near 2^32 must not wrap into a match.
    const uint64 expect = uint64(body_len) + gcl_frame_header_len;
    if (total < gcl_frame_header_len || total > gcl_frame_len_max || expect != total) {
        const uint32 other = total < gcl_frame_header_len ? gcl_frame_header_len
                             : total > gcl_frame_len_max  ? gcl_frame_len_max
                                                          : uint32(expect);
        lc_log_basic(LCL_ERR, "session %d: invalid frame length: %d vs %d", s->id, int(total),
                     int(other));
        return lc_err_parse_error;
    }
    if (header_len != gcl_frame_header_len) {
        lc_log_basic(LCL_ERR, "session %d: invalid frame header len: %d vs %s", s->id,
                     int(header_len), header_len_text);
        return lc_err_parse_error;
    }
    ret_info->gfi_seq = seq;
    ret_info->gfi_proto = proto;
    ret_info->gfi_msg_type = msg_type;
    ret_info->gfi_total_len = total;
    ret_info->gfi_body_len = body_len;
    return 0;
}

int gcl_session_read(gcl_session *s)
{
    if (s->state != gss_connected) return lc_err_io_closed;
    bail_error(input_make_room(s));
    ssize_t n;
    do {
        n = read(s->fd, s->in_buf + s->in_end, s->in_size - s->in_end);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        lc_log_basic(LCL_ERR, "session %d: read: %m", s->id);
        gcl_session_close_on_error(s);
        return lc_err_io_closed;
    }
    if (n == 0) {
        lc_log_basic(LCL_INFO, "session %d: detected socket close on fd %d", s->id, s->fd);
        (void)gcl_session_close(s);
        return lc_err_io_closed;
    }
    lc_log_basic(LCL_DEBUG, "session %d: did read = %d", s->id, int(n));
    s->in_end += uint32(n);
    return process_input(s);
}

int gcl_session_write(gcl_session *s)
{
    lc_log_basic(LCL_DEBUG, "session %d: running output queue", s->id);
    while (s->state == gss_connected && !s->outq.empty()) {
        gcl_out_frame &f = s->outq.front();
        const uint32 len = tb_length(f.buf.get());
        uint32 chunk = 0;
        bail_error(bw_allowance(s, len - f.sent, &chunk));
        if (chunk == 0) break;
        ssize_t n;
        do {
            n = send(s->fd, tb_buf(f.buf.get()) + f.sent, chunk, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            lc_log_basic(LCL_ERR, "session %d: write: %m", s->id);
            gcl_session_close_on_error(s);
            return lc_err_io_closed;
        }
        lc_log_basic(LCL_DEBUG, "session %d: sent %d bytes on fd %d of for %d", s->id, int(n),
                     s->fd, int(len));
        f.sent += uint32(n);
        if (s->bwlimit != 0 && s->gcl->fdic) s->bw_budget -= uint32(n);
        if (f.sent == len) {
            lc_log_basic(LCL_DEBUG, "session %d: finished sending frame %d on fd %d of %d bytes",
                         s->id, int(f.seq), s->fd, int(len));
            s->outq.pop_front();
        }
    }
    if (s->state != gss_connected) return lc_err_io_closed;
    return gcl_session_interest_changed(s);
}

int gcl_session_enqueue(gcl_session *s, owned<tbuf> frame, uint32 seq)
{
    const bool was_empty = s->outq.empty();
    s->outq.push_back(gcl_out_frame{std::move(frame), 0, seq});
    // Nothing ahead of it: try the socket now rather than after a loop pass.
    if (was_empty) {
        const int err = gcl_session_write(s);
        if (err == lc_err_io_closed) return err;
        bail_error(err);
        return 0;
    }
    return gcl_session_interest_changed(s);
}

void gcl_session_drop_buffers(gcl_session *s)
{
    if (s->in_hold == 0) {
        free(s->in_buf);
        s->in_buf = nullptr;
        s->in_size = s->in_start = s->in_end = 0;
    } else {
        s->in_start = s->in_end; // the body being handled stays readable
    }
    s->outq.clear();
}

void gcl_session_close_on_error(gcl_session *s)
{
    lc_log_basic(LCL_NOTICE, "session %d: closing after error condition", s->id);
    (void)gcl_session_close(s);
}

} // namespace detail

// ---------------------------------------------------------------------------
// Sending

namespace
{

int check_sendable(gcl_session *s, uint32 body_len)
{
    if (s->state != gss_connected) {
        lc_log_basic(LCL_NOTICE, "session %d: tried to send frame in state %d", s->id,
                     int(s->state));
        return lc_err_io_closed;
    }
    bail_require(body_len <= gcl_frame_len_max - gcl_frame_header_len);
    return 0;
}

} // namespace

int gcl_session_send_frame_components(gcl_session *session, gcl_body_proto_id proto,
                                      uint16 msg_type, uint32 body_len, const void *body)
{
    bail_null(session);
    if (body_len > 0) bail_null(body);
    detail::gcl_session_guard g(session);
    bail_error_quiet(check_sendable(session, body_len));
    owned<tbuf> frame;
    bail_error(tb_new_size(frame.out(), gcl_frame_header_len + body_len));
    bail_error(tb_set_length(frame.get(), gcl_frame_header_len));
    if (body_len > 0) bail_error(tb_append_buf(frame.get(), body, int32(body_len)));
    const uint32 seq = session->next_seq++;
    detail::gcl_frame_header_encode(tb_buf(frame.get()), seq, proto, msg_type, body_len);
    return detail::gcl_session_enqueue(session, std::move(frame), seq);
}

int gcl_session_send_frame_components_tb(gcl_session *session, gcl_body_proto_id proto,
                                         uint16 msg_type, uint32 reserved_hdr_len, tbuf *buf)
{
    bail_null(session);
    bail_null(buf);
    const uint32 len = tb_length(buf);
    bail_require(reserved_hdr_len <= len);
    if (reserved_hdr_len != gcl_frame_header_len) {
        lc_log_basic(LCL_WARNING, "session %d: tried to send frame with tb put bad header",
                     session->id);
        return gcl_session_send_frame_components(session, proto, msg_type, len - reserved_hdr_len,
                                                 tb_buf(buf) + reserved_hdr_len);
    }
    detail::gcl_session_guard g(session);
    bail_error_quiet(check_sendable(session, len - gcl_frame_header_len));
    owned<tbuf> frame;
    bail_error(tb_dup(buf, frame.out()));
    const uint32 seq = session->next_seq++;
    detail::gcl_frame_header_encode(tb_buf(frame.get()), seq, proto, msg_type,
                                    len - gcl_frame_header_len);
    // The caller's buffer gets the header too, as it would have in place.
    memcpy(tb_buf(buf), tb_buf(frame.get()), gcl_frame_header_len);
    return detail::gcl_session_enqueue(session, std::move(frame), seq);
}

int gcl_session_send_frame_tb_takeover(gcl_session *session, gcl_body_proto_id proto,
                                       uint16 msg_type, tbuf **buf)
{
    owned<tbuf> frame{buf ? *buf : nullptr};
    if (buf) *buf = nullptr;
    bail_null(session);
    bail_null(frame.get());
    const uint32 len = tb_length(frame.get());
    bail_require(len >= gcl_frame_header_len);
    detail::gcl_session_guard g(session);
    bail_error_quiet(check_sendable(session, len - gcl_frame_header_len));
    const uint32 seq = session->next_seq++;
    detail::gcl_frame_header_encode(tb_buf(frame.get()), seq, proto, msg_type,
                                    len - gcl_frame_header_len);
    return detail::gcl_session_enqueue(session, std::move(frame), seq);
}
