// Records of the session layer and the functions its files share.  Not
// for use outside lib/mgmt/gcl_*.cc.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mgmt/gcl.h"
#include "util/tbuffer.h"

// Where a session stands in the greeting exchange.
enum gcl_greet_state : int32 {
    ggs_none = 0,     // nothing yet
    ggs_sent = 1,     // provider: greeting sent, waiting for the response
    ggs_complete = 2, // both sides greeted
};

// A service open requested before the greeting completed.
struct gcl_pending_open {
    uint32 service_id;
    uint32 service_arg;
    std::string service_str;
};

// The admin protocol's per-session state (built in, so kept inline).
struct gcl_admin_state {
    gcl_greet_state greet = ggs_none;
    uint32 open_mask = 0;    // bit n: service n is open
    uint32 service_id = 0;   // the last service opened
    uint32 refused_mask = 0; // bit n: the provider refused service n
    uint32 open_seq = 0;     // open-service requests sent
    int64 peer_uid = -1;
    int64 peer_gid = -1;
    int32 peer_session_id = 0;
    uint32 peer_pid = 0;
    std::string peer_user;
    std::string lang_tag;
    std::vector<gcl_pending_open> pending;
};

// One frame waiting in the output queue: the whole frame, header included.
struct gcl_out_frame {
    owned<tbuf> buf;
    uint32 sent = 0;
    uint32 seq = 0;
};

struct gcl_session {
    gcl_handle *gcl = nullptr;
    int32 id = 0;
    gcl_session_role role = gsr_client;
    int fd = -1;
    gcl_session_state state = gss_none;
    sockaddr_storage peer_addr = {};
    socklen_t peer_addr_len = 0;
    std::string socket_path; // a listening provider's bound path, unlinked at close

    std::string client_name;
    std::string user_name;
    std::string provider_name;
    int64 uid = -1; // the ids this side claims
    int64 gid = -1;

    gcl_admin_state admin;
    std::array<void *, gcl_body_proto_id_max + 1> proto_state = {};
    std::array<bool, gcl_body_proto_id_max + 1> proto_state_made = {};

    // Input: bytes [in_start, in_end) of in_buf are unprocessed.  While a
    // handler runs (in_hold) the buffer holding its body is not moved: a
    // nested read copies into a fresh buffer and retires the old one.
    uint8 *in_buf = nullptr;
    uint32 in_size = 0;
    uint32 in_start = 0;
    uint32 in_end = 0;
    uint32 in_hold = 0;
    std::vector<uint8 *> in_retired;

    std::deque<gcl_out_frame> outq;
    uint32 next_seq = 1;

    // What the registry was last told (changed only by the interest sync,
    // see gcl_session_interest_changed).
    fdic_event_id fd_id = 0;
    bool fd_want_write = false;
    fdic_event_id bw_timer_id = 0;

    uint32 bwlimit = 0;   // bytes per second, 0 none
    uint32 bw_budget = 0; // bytes left in this tick
    bool bw_throttled = false;
    bool bw_rearm = false; // the refill tick is to be armed

    bool accepted = false; // made by a listening session, not by the owner
    gcl_accept_func accept_func = nullptr;
    void *accept_data = nullptr;

    std::recursive_mutex lock;
    uint32 lock_depth = 0; // holds of `lock` by its holder
    // Calls of this session on the stack, plus one while it waits in the
    // context's interest_pending.
    uint32 busy = 0;
    bool free_pending = false;
    bool closing = false;
};

// Lock order: the event core's lock, then the context lock, then a session
// lock.  The loop runs the registry's handlers (read_ready and the others)
// with the core lock held, and they take the context and session locks; so
// a call that holds the context lock must not reach the registry, whose
// adapter takes the core lock.  Such calls record the change instead
// (interest_pending) and the release of the outermost context lock applies
// it with no lock of this layer held.  Inside one of the registry's
// handlers the core lock is already held by this thread, so changes are
// applied at once.  Upper layers' frame handlers run with none of this
// layer's locks held (gcl_locks_released).
struct gcl_handle {
    gcl_options options;
    fdic_context *fdic = nullptr;
    std::recursive_mutex lock;
    uint32 hold_depth = 0;       // context guards on the holder's stack
    uint32 loop_callbacks = 0;   // registry handlers of this context running,
    std::thread::id loop_thread; // on this thread
    std::vector<gcl_session *> interest_pending;
    std::array<std::unique_ptr<gcl_body_proto>, gcl_body_proto_id_max + 1> protos;
    std::vector<gcl_session *> sessions;
    int32 next_session_id = 1;
    uint32 accept_count = 0;
};

namespace detail
{

// Takes the context lock, then the session lock, and counts the call, so
// that a free requested meanwhile happens when the outermost call returns.
// `loop_callback` marks a registry handler, run by the loop with the event
// core's lock held.
class gcl_session_guard
{
  public:
    explicit gcl_session_guard(gcl_session *s, bool loop_callback = false);
    ~gcl_session_guard();
    gcl_session_guard(const gcl_session_guard &) = delete;
    gcl_session_guard &operator=(const gcl_session_guard &) = delete;

  private:
    gcl_session *s_;
    gcl_handle *gcl_;
    bool loop_callback_;
};

// Gives up every hold of the context lock and of the session's lock (the
// outermost release applying what waits) while an upper layer's handler
// runs, and takes them back in order.  A handler may run a nested loop
// pass, which takes the event core's lock: it must not find this layer's
// locks held.
class gcl_locks_released
{
  public:
    explicit gcl_locks_released(gcl_session *s);
    ~gcl_locks_released();
    gcl_locks_released(const gcl_locks_released &) = delete;
    gcl_locks_released &operator=(const gcl_locks_released &) = delete;

  private:
    gcl_session *s_;
    uint32 context_depth_;
    uint32 session_depth_;
};

// Takes the context lock alone; its release applies pending interest
// changes like the session guard's.
class gcl_handle_guard
{
  public:
    explicit gcl_handle_guard(gcl_handle *gcl);
    ~gcl_handle_guard();
    gcl_handle_guard(const gcl_handle_guard &) = delete;
    gcl_handle_guard &operator=(const gcl_handle_guard &) = delete;

  private:
    gcl_handle *gcl_;
};

// gcl_frame.cc
void gcl_frame_header_encode(uint8 *hdr, uint32 seq, gcl_body_proto_id proto, uint16 msg_type,
                             uint32 body_len);
// Checks a received header; logs the prescribed line and returns non-zero
// on the first bad field.
int gcl_frame_header_check(const gcl_session *s, const uint8 *hdr, gcl_frame_info *ret_info);
// One read and the delivery of every whole frame; lc_err_io_closed when the
// session closed (peer close or framing error).
int gcl_session_read(gcl_session *s);
// Writes what the socket takes; lc_err_io_closed when the session closed.
int gcl_session_write(gcl_session *s);
// The session's descriptor or timer interest may have changed: brings the
// registry in line now inside a registry handler, otherwise when the
// outermost context lock is released (errors are then only logged).
int gcl_session_interest_changed(gcl_session *s);
// The registry handler of the bandwidth limit's refill tick.
int gcl_bw_timer_fired(int fd, fdic_reason reason, void *owner_data, void *handler_data);
// Appends a whole frame (header filled) to the queue and starts writing.
int gcl_session_enqueue(gcl_session *s, owned<tbuf> frame, uint32 seq);
// The period of the bandwidth limit's refill tick.
int64 gcl_bw_tick_ms();
// Bytes one tick of the bandwidth limit lets through.
uint32 gcl_bw_tick_budget(uint32 bytes_per_sec);
// Frees the input and output buffers.
void gcl_session_drop_buffers(gcl_session *s);
// Closes after a framing or protocol error: "closing after error condition".
void gcl_session_close_on_error(gcl_session *s);

// gcl_connect.cc
int gcl_session_accept(gcl_session *s);
// After frames were consumed: gives back an input buffer that a large frame
// left far bigger than what it still holds.
void gcl_session_input_trim(gcl_session *s);

// gcl_session.cc
int gcl_session_create(gcl_handle *gcl, gcl_session_role role, gcl_session **ret);
int gcl_session_became_connected(gcl_session *s);
// Names: 1..31 of [A-Za-z0-9_.-]; the problem is one of the two texts.
extern const char gcl_name_problem_too_long[];
extern const char gcl_name_problem_bad_char[];
bool gcl_name_valid(const char *name, const char **ret_problem);

// gcl_admin.cc
int gcl_admin_register(gcl_handle *gcl);
int gcl_admin_send_greeting(gcl_session *s);
int gcl_admin_send_open(gcl_session *s, const gcl_pending_open &open);

} // namespace detail
