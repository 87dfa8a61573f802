// `gcl`: the session and framing layer between a client process and a
// provider process over a local stream socket.
//
// A library context (`gcl_handle`) holds the registered body protocols and
// the sessions, and reports the descriptors of its sessions to a
// descriptor-interest registry (`fdic`, event/event_fdintrcb.h) so that the
// owner's event loop drives reading and writing.  A session carries frames:
// a fixed 32-byte header and a body that belongs to one body protocol.
// Protocol 1, "admin", is built in: the provider greets every accepted
// client, the client answers, then opens a service.  Protocol 2, "bnode"
// (the management messages), is registered from bnode_proto by
// `gcl_bn_init`.
//
// Ownership: the context owns its sessions (gcl_deinit frees those left);
// sessions are freed with gcl_session_free.  Bodies handed to a handler are
// borrowed for the duration of the call.  A session may be closed and freed
// from inside any callback it made: the free is deferred until the
// session's own call chain unwinds.
//
// Locking: every operation takes the context's lock, then the session's
// lock (both recursive), so handlers run with both held and may call back
// into the layer.  A context is used from the thread that runs the loop its
// registry is bound to.
//
// How a body protocol plugs in
// ----------------------------
// A protocol fills a `gcl_body_proto` record and passes it to
// gcl_register_body_protocol (the record is copied):
//   - gbp_id, gbp_name: the number carried in the frame header and a name
//     for log lines;
//   - gbp_data: protocol-wide data (for example its global callbacks),
//     handed to every callback below and retrievable with
//     gcl_body_proto_get_data; gbp_data_free, if set, releases it at
//     gcl_deinit;
//   - gbp_session_new: called for every session created after the
//     registration (client, provider, accepted); it may store a per-session
//     state in *ret_session_state (next message id, counters, audit user
//     information...).  gcl_session_get_proto_state finds it again from the
//     session, e.g. inside a send function;
//   - gbp_session_free: called once from gcl_session_free (and gcl_deinit)
//     to release that state;
//   - gbp_session_state: told when the session becomes connected (client
//     connected, or an accepted/adopted provider session) and when it
//     closes; the state stays allocated until gbp_session_free;
//   - gbp_service_handlers[service]: the message handlers by service id.
//     A frame of this protocol goes to the handler of the service that the
//     session has open (gcl_session_get_service_id), else to slot 0; with
//     neither, the frame is logged as DISCARDED and dropped.  A handler
//     gets the header fields and the body (borrowed); its error result is
//     logged and the session carries on.  To end the session it calls
//     gcl_session_close.
// Sending is gcl_session_send_frame_components(_tb) with the protocol's id
// and its own message type.
#pragma once

#include <sys/socket.h>

#include "event/event_fdintrcb.h"
#include "log/common.h"
#include "log/logging.h"

struct tbuf;
struct gcl_handle;
struct gcl_session;

// ---------------------------------------------------------------------------
// Limits and wire constants (one definition each)

// Frame header: ident "GCLF" (not byte-swapped), mark, version, total
// length, header length, reserved, sequence, body protocol, message type,
// body length; every field after the ident is big-endian.
constexpr uint32 gcl_frame_header_len = 32;
constexpr uint32 gcl_frame_mark = 858927408; // "3210" on the wire
constexpr uint32 gcl_frame_version = 1;
// The largest frame accepted or sent (header included); a length field
// beyond it is a framing error, so a forged length never sizes memory.
constexpr uint32 gcl_frame_len_max = 256u * 1024 * 1024;
// The input buffer grows by this much whenever no more than
// gcl_input_grow_step - 1 bytes are free before a read.
constexpr uint32 gcl_input_grow_step = 65536;

// An input buffer larger than this, once no more than half of it is in use
// after frames were consumed, shrinks to what it holds plus a step.
constexpr uint32 gcl_input_keep_max = 4 * gcl_input_grow_step;

// Names of clients and providers: 1..31 characters of [A-Za-z0-9_.-]; they
// travel in zero-filled 32-byte fields and in socket file names.
constexpr uint32 gcl_name_field_len = 32;
constexpr uint32 gcl_name_len_max = gcl_name_field_len - 1;
constexpr uint32 gcl_body_proto_name_max = 31;

// Body protocols.
typedef uint16 gcl_body_proto_id;
constexpr gcl_body_proto_id gcl_body_proto_admin = 1;
constexpr gcl_body_proto_id gcl_body_proto_bnode = 2;
constexpr uint32 gcl_body_proto_id_max = 255; // registrable ids are 1..255

// Services that a client can open: 1..4; the management service is 2.
// Slot 0 of a protocol's handler table is its default handler.
constexpr uint32 gcl_service_id_max = 4;
constexpr uint32 gcl_service_slots = gcl_service_id_max + 1;
constexpr uint32 gcl_service_mgmt = 2;

// Connecting with retry: attempts and the pause between them.
constexpr uint32 gcl_connect_attempts = 6;
constexpr uint32 gcl_connect_retry_delay_ms = 1500;

// ---------------------------------------------------------------------------
// Session states and roles

enum gcl_session_state : int32 {
    gss_none = 0,
    gss_closed = 1,
    gss_initialized = 2,
    gss_listening = 3,
    gss_connected = 4,
};
// "none", "closed", "initialized", "listening", "connected".
extern const lc_enum_string_map gcl_session_state_map[];

enum gcl_session_role : int32 {
    gsr_client = 1,
    gsr_provider = 2, // a listening provider, or a session it accepted
};

// ---------------------------------------------------------------------------
// Library context

struct gcl_options {
    // Take the context and session locks (1).  0 only for a context used
    // strictly by one thread.
    uint32 go_locking = 1;
    // Most sessions at once; 0 is no limit.
    uint32 go_max_sessions = 0;
    // Bandwidth limit of new sessions in bytes per second; 0 is none.
    uint32 go_default_bwlimit = 0;
};

// The defaults: locking on, no session limit, no bandwidth limit.
[[nodiscard]] int gcl_options_get_defaults(gcl_options *ret_options);
// Creates a context with the admin protocol registered.  `fdic` (borrowed,
// may be null) receives the sessions' descriptors; without one, sessions
// run only through gcl_session_do_blocking_io.
[[nodiscard]] int gcl_init(gcl_handle **ret_gcl, const gcl_options *options, fdic_context *fdic);
// Closes every session (they stay allocated until gcl_deinit or free).
int gcl_shutdown(gcl_handle *gcl);
// Closes and frees every session, releases protocol data, frees the
// context and nulls *gcl.  Null accepted.
int gcl_deinit(gcl_handle **gcl);

LC_OWNED_FREE(gcl_handle, gcl_deinit)

// ---------------------------------------------------------------------------
// Body protocols

// Header fields of a received frame, for handlers.
struct gcl_frame_info {
    uint32 gfi_seq;
    gcl_body_proto_id gfi_proto;
    uint16 gfi_msg_type;
    uint32 gfi_total_len;
    uint32 gfi_body_len;
};

typedef int (*gcl_frame_handler_func)(gcl_session *session, const gcl_frame_info *frame,
                                      const uint8 *body, void *proto_data, void *session_state);
typedef int (*gcl_proto_session_new_func)(gcl_session *session, void *proto_data,
                                          void **ret_session_state);
typedef int (*gcl_proto_session_free_func)(gcl_session *session, void *proto_data,
                                           void *session_state);
typedef int (*gcl_proto_session_state_func)(gcl_session *session, gcl_session_state new_state,
                                            void *proto_data, void *session_state);
typedef void (*gcl_proto_data_free_func)(void *proto_data);

struct gcl_body_proto {
    gcl_body_proto_id gbp_id = 0;
    char gbp_name[gcl_body_proto_name_max + 1] = {};
    void *gbp_data = nullptr;
    gcl_proto_data_free_func gbp_data_free = nullptr;
    gcl_proto_session_new_func gbp_session_new = nullptr;
    gcl_proto_session_free_func gbp_session_free = nullptr;
    gcl_proto_session_state_func gbp_session_state = nullptr;
    gcl_frame_handler_func gbp_service_handlers[gcl_service_slots] = {};
};

// Registers (copies) `proto`.  An id registered already fails with
// lc_err_exists and "Already have registered body handler for proto %d";
// ids outside 1..255 or a name over 31 characters are lc_err_assertion_failed.
// Sessions that exist already get gbp_session_new at once.
[[nodiscard]] int gcl_register_body_protocol(gcl_handle *gcl, const gcl_body_proto *proto);
// The protocol-wide data of `proto_id` (lc_err_not_found when not registered).
[[nodiscard]] int gcl_body_proto_get_data(gcl_handle *gcl, gcl_body_proto_id proto_id,
                                          void **ret_data);
// The per-session state that the protocol's gbp_session_new stored (null
// when it stored none; lc_err_not_found when the protocol is unknown).
[[nodiscard]] int gcl_session_get_proto_state(gcl_session *session, gcl_body_proto_id proto_id,
                                              void **ret_state);
// The context a session belongs to.
[[nodiscard]] int gcl_session_get_handle(gcl_session *session, gcl_handle **ret_gcl);

// ---------------------------------------------------------------------------
// Client sessions

// Flags of the session constructors and of open service (none defined yet;
// pass 0).
constexpr uint32 gcl_flags_none = 0;

// A new client session in state "initialized".  `client_name` must be
// 1..31 of [A-Za-z0-9_.-] ("Invalid character in client name: %s", "Client
// name too long: %s", lc_err_bad_name).  `user_name` null means the
// effective user's name; the user and group ids are the effective ones.
[[nodiscard]] int gcl_session_client_new(gcl_handle *gcl, const char *client_name,
                                         const char *user_name, uint32 flags,
                                         gcl_session **ret_session);
// As gcl_session_client_new with the user and group ids to claim in the
// greeting (the provider checks them against the socket's credentials).
[[nodiscard]] int gcl_session_client_set_user_new(gcl_handle *gcl, const char *client_name,
                                                  const char *user_name, uint32 uid, uint32 gid,
                                                  uint32 flags, gcl_session **ret_session);

struct gcl_client_params {
    const char *gcp_client_name = nullptr;
    const char *gcp_user_name = nullptr; // null: the effective user's name
    int64 gcp_uid = -1;                  // -1: the effective ids
    int64 gcp_gid = -1;
    uint32 gcp_flags = 0;
};
[[nodiscard]] int gcl_session_client_full_new(gcl_handle *gcl, const gcl_client_params *params,
                                              gcl_session **ret_session);

// Builds the provider's socket address (gcl_sockaddr_for_provider) and
// connects to it.
[[nodiscard]] int gcl_session_client_connect_by_provider(gcl_session *session,
                                                         const char *provider_name, tbool retry);
// Connects to `addr` (Unix or IPv4 stream).  With `retry`, up to 6 attempts
// 1.5 s apart while the provider refuses or is absent: each failed attempt
// but the last logs at INFO "Could not connect to provider; delaying and
// retrying."; the last logs at WARNING "Failed to connect to provider." and
// gives lc_err_io_error.  Other connect errors log "connect: %m" and give
// lc_err_assertion_failed.  The session must be "initialized"; it becomes
// "connected", or "closed" after any failure once the socket existed.
// Blocks the calling thread for the pauses.
[[nodiscard]] int gcl_session_client_connect_by_sockaddr(gcl_session *session,
                                                         const struct sockaddr *addr,
                                                         socklen_t addr_len, tbool retry);

// Sends open service (admin message 3) for `service_id` (1..4), now if the
// greeting is complete, otherwise right after the greeting response.
// `service_str` (null: empty) is at most 31 characters.
[[nodiscard]] int gcl_session_client_open_service(gcl_session *session, uint32 service_id,
                                                  uint32 service_arg, const char *service_str,
                                                  uint32 flags);
// Waits by blocking I/O for the greeting, sends open service and waits
// until the service is open.  `timeout_ms` -1 waits without limit;
// otherwise lc_err_io_timeout when it passes.  A peer that closes gives
// lc_err_io_closed with the session closed; a refused open gives
// lc_err_generic_error.
[[nodiscard]] int gcl_session_client_open_service_blocking(gcl_session *session, uint32 service_id,
                                                           uint32 service_arg,
                                                           const char *service_str, uint32 flags,
                                                           int32 timeout_ms);

// ---------------------------------------------------------------------------
// Provider sessions

// Told of each connection a listening session accepts (the accepted
// session is connected and greeted already).
typedef int (*gcl_accept_func)(gcl_session *listener, gcl_session *accepted, void *data);

struct gcl_provider_params {
    const char *gpp_provider_name = nullptr;
    uint32 gpp_flags = 0;
    gcl_accept_func gpp_accept_func = nullptr;
    void *gpp_accept_data = nullptr;
};

// A provider session in state "initialized", named `provider_name` (the
// same rule as client names).
[[nodiscard]] int gcl_session_provider_new(gcl_handle *gcl, const char *provider_name, uint32 flags,
                                           gcl_session **ret_session);
[[nodiscard]] int gcl_session_provider_full_new(gcl_handle *gcl, const gcl_provider_params *params,
                                                gcl_session **ret_session);
// Adopts a connected stream descriptor (the callee owns it, also on
// failure) as a provider session of `provider_name`: it becomes
// "connected" and sends the greeting.
[[nodiscard]] int gcl_session_provider_new_from_fd(gcl_handle *gcl, const char *provider_name,
                                                   int fd, gcl_session **ret_session);
// Binds and listens on the provider's socket path (creating its directory,
// replacing a stale socket file); state "listening"; logs "session %d:
// enabled listening on %s".  Accepted connections become provider sessions.
[[nodiscard]] int gcl_session_provider_enable(gcl_session *session);

// ---------------------------------------------------------------------------
// Frames

// Queues one frame of `body_len` bytes (copied).  Only in state
// "connected" ("session %d: tried to send frame in state %d",
// lc_err_io_closed).  When nothing is queued ahead, the bytes are written
// at once and only what the socket does not take waits for writability.
[[nodiscard]] int gcl_session_send_frame_components(gcl_session *session, gcl_body_proto_id proto,
                                                    uint16 msg_type, uint32 body_len,
                                                    const void *body);
// As above for a buffer whose first `reserved_hdr_len` bytes were reserved
// for the header: with 32 the header is written there (the caller's buffer
// is changed) and the buffer is copied whole; any other value logs
// "session %d: tried to send frame with tb put bad header" and sends the
// bytes after the reserved ones as the body.
[[nodiscard]] int gcl_session_send_frame_components_tb(gcl_session *session,
                                                       gcl_body_proto_id proto, uint16 msg_type,
                                                       uint32 reserved_hdr_len, tbuf *buf);
// As the _tb form with 32 reserved bytes, moving the buffer into the queue
// without a copy; the callee owns *buf (and nulls it) on failure too.
[[nodiscard]] int gcl_session_send_frame_tb_takeover(gcl_session *session, gcl_body_proto_id proto,
                                                     uint16 msg_type, tbuf **buf);

// Polls the session's descriptor (for writing too while frames are
// queued) until something was read or written, and processes it: delivers
// whole frames, writes the queue, accepts on a listening session.
// `timeout_ms` -1 waits without limit; when it passes: "GCL timeout forced"
// and lc_err_io_timeout.  A peer close gives lc_err_io_closed.
[[nodiscard]] int gcl_session_do_blocking_io(gcl_handle *gcl, gcl_session *session,
                                             int32 timeout_ms);

// ---------------------------------------------------------------------------
// Closing

// Unregisters and closes the descriptor (the registry's close handler
// hears reason 5), drops queued frames ("session %d: closed with output
// queue"), sets "closed" and tells each protocol.  Closing a closed
// session is success.
int gcl_session_close(gcl_session *session);
// Frees the session (closing it first with "session %d: free was called
// without close" if needed) and nulls *session.  Null accepted.
int gcl_session_free(gcl_session **session);
// Frees every closed session that a listening session accepted (those
// whose peer went away); sessions the owner created are left to it.
int gcl_session_free_closed(gcl_handle *gcl);

LC_OWNED_FREE(gcl_session, gcl_session_free)

// ---------------------------------------------------------------------------
// Queries

[[nodiscard]] int gcl_session_get_state(const gcl_session *session, gcl_session_state *ret_state);
[[nodiscard]] int gcl_session_get_role(const gcl_session *session, gcl_session_role *ret_role);
// The peer's user and group ids and user name as authenticated: for a
// provider's session the client's checked claim, for a client the
// provider's; -1 and null before the greeting.
[[nodiscard]] int gcl_session_get_auth(const gcl_session *session, int64 *ret_uid, int64 *ret_gid,
                                       const char **ret_user_name);
// Whether `service_id` is open on the session.
[[nodiscard]] int gcl_session_get_service_id_open(const gcl_session *session, uint32 service_id,
                                                  tbool *ret_open);
// The last service opened on the session (0 for none).
[[nodiscard]] int gcl_session_get_service_id(const gcl_session *session, uint32 *ret_service_id);
// The language tag: the string given with open service ("" when none).
[[nodiscard]] int gcl_session_get_lang_tag(const gcl_session *session, const char **ret_tag);
// Client name, user name and provider name (borrowed; "" when unknown).
[[nodiscard]] int gcl_session_get_session_names(const gcl_session *session,
                                                const char **ret_client_name,
                                                const char **ret_user_name,
                                                const char **ret_provider_name);
// The peer's name: the provider for a client session, the client for a
// provider's session ("" when unknown, null for a null session).
const char *gcl_session_get_peer_name_quick(const gcl_session *session);
// This session's name and id and the peer's session id (0 before the
// greeting).
[[nodiscard]] int gcl_session_get_session_name_ids(const gcl_session *session,
                                                   const char **ret_name, int32 *ret_id,
                                                   int32 *ret_peer_id);
[[nodiscard]] int gcl_session_get_id(const gcl_session *session, int32 *ret_id);
[[nodiscard]] int gcl_session_get_fd(const gcl_session *session, int *ret_fd);
// The session whose client name is `client_name` ("No session found for
// client \"%s\"", lc_err_not_found).
[[nodiscard]] int gcl_session_lookup(gcl_handle *gcl, const char *client_name,
                                     gcl_session **ret_session);
// The session with id `id` ("No session found for id \"%d\"", lc_err_not_found).
[[nodiscard]] int gcl_session_id_lookup(gcl_handle *gcl, int32 id, gcl_session **ret_session);
// The peer's address (borrowed) and its length (0 before a connection).
[[nodiscard]] int gcl_get_remote_addr(const gcl_session *session, const struct sockaddr **ret_addr);
[[nodiscard]] int gcl_get_remote_addr_len(const gcl_session *session, socklen_t *ret_len);
// Bandwidth limit of the output in bytes per second (0: none).  While set,
// at most a tenth of it is written per 100 ms tick; a timer ("session %d:
// rate limit timer fired") resumes writing.  Needs a registry.
[[nodiscard]] int gcl_session_set_bwlimit(gcl_session *session, uint32 bytes_per_sec);
[[nodiscard]] int gcl_session_get_bwlimit(const gcl_session *session, uint32 *ret_bytes_per_sec);
// Logs the session at `level` / every session of the context.
int gcl_session_dump(const gcl_session *session, int32 level);
int gcl_session_dump_all(gcl_handle *gcl, int32 level);

// ---------------------------------------------------------------------------
// Socket addresses

// Directory of the session sockets.
#define GCL_SOCKET_DIR "/tmp/gcl-socks"

// The socket path of `name` for `role` ("provider" or "client"): in the
// socket directory, "uds-<role>-<name>" on a production system, otherwise
// "uds-<role>-UID-<euid>-<name>".  A production system is one whose
// effective user is root (the appliance runs its daemons as root; on a
// developer's machine each user gets sockets of their own).  `*ret_len` is
// the length to pass to connect/bind: the path length plus 3.
[[nodiscard]] int gcl_sockaddr_for_provider(const char *provider_name, const char *role,
                                            struct sockaddr_storage *ret_addr, socklen_t *ret_len);
// Test hook: replaces the socket directory (null restores GCL_SOCKET_DIR)
// and, with `production` 0 or 1, forces the production rule (-1: by euid).
// Not for product code.
void gcl_set_socket_dir_for_tests(const char *dir, int production);
// Test hook: replaces the pause between connection attempts (null: wait on
// the monotonic clock), so that a test on a manual clock moves the clock
// instead of waiting.  Not for product code.
void gcl_set_retry_pause_for_tests(void (*pause)(uint32 ms));
