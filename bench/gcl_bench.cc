// Round-trip latency between two processes through the session layer
// (client and provider sessions, each on its own event loop over the real
// socket path), beside its floor in the same run: a raw Unix stream socket
// ping-pong of the same bytes with poll(2).
//
// Two cases: a one-node query ("get" of the daemon's liveness node) sent
// with bn_request_msg_send and answered by the provider's query callback
// with a one-node query response, against a raw exchange of as many bytes
// as the two encoded frames; and a plain frame of a test body protocol
// echoed back, against a raw 64-byte ping-pong.
//
// Each case runs twice: "pinned:0" as the scheduler places the two
// processes, "pinned:1" with both on CPU 0 (the parent pins itself before
// the fork and the child inherits it), where a round trip is two context
// switches and no cross-CPU wake-up: the figure that shows the work done
// per message rather than the scheduler's latency.
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_transport.h"

namespace
{

constexpr gcl_body_proto_id bench_proto = 9;

// Pins the calling thread (and the processes it forks) to CPU 0 for its
// lifetime when `on`; the previous mask comes back after.
class PinToCpu0
{
  public:
    explicit PinToCpu0(bool on) : on_(on)
    {
        if (!on_) return;
        if (sched_getaffinity(0, sizeof saved_, &saved_) != 0) abort();
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) abort();
    }
    ~PinToCpu0()
    {
        if (on_) (void)sched_setaffinity(0, sizeof saved_, &saved_);
    }
    PinToCpu0(const PinToCpu0 &) = delete;
    PinToCpu0 &operator=(const PinToCpu0 &) = delete;

  private:
    bool on_;
    cpu_set_t saved_{};
};
constexpr uint32 body_len = 32;
constexpr uint32 wire_len = gcl_frame_header_len + body_len; // plain frame, each way

constexpr char query_node[] = "/qz/iptrackd/state/is_alive";
constexpr char query_answer[] = "Ready";

// The one-node query the client sends each round.
int make_query(bn_request **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_request> req;
    bail_error(bn_query_request_msg_create(req.out(), 0, nullptr));
    bail_error(bn_query_request_msg_append_str(req.get(), bqso_get, 0, query_node, nullptr));
    *ret = req.release();
    return 0;
}

// The provider's answer to `req`: the asked node with its value.
int make_answer(const bn_request *req, bn_response **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(req);
    owned<bn_response> resp;
    bail_error(bn_query_response_msg_create(resp.out(), req->msg_id, 0, nullptr));
    bail_error(bn_response_fix_for_request(resp.get(), req));
    const bn_request_per_node *node = bn_request_per_node_array_get_quick(req->nodes, 0);
    bail_require(node && node->binding);
    bail_error(bn_response_msg_append_new_binding(resp.get(), 0, ts_str(node->binding->name),
                                                  bt_string, query_answer, nullptr));
    *ret = resp.release();
    return 0;
}

// Frame sizes (header included) of the query and of its answer, as the
// session layer puts them on the wire; the ids are fixed-width, so the
// values they take do not change the sizes.
void query_frame_sizes(uint32 *req_len, uint32 *resp_len)
{
    owned<bn_request> req;
    owned<bn_response> resp;
    owned<tbuf> a, b;
    if (make_query(req.out()) || bn_request_set_service_id(req.get(), bn_service_mgmt) ||
        bn_request_msg_serialize(req.get(), gcl_frame_header_len, a.out()) ||
        make_answer(req.get(), resp.out()) ||
        bn_response_msg_serialize(resp.get(), gcl_frame_header_len, b.out())) {
        abort();
    }
    *req_len = tb_length(a.get());
    *resp_len = tb_length(b.get());
}

// A loop with a registry and a session-layer context, the test protocol
// (plain frames, echoed when `echo`) and the message protocol.
struct Stack {
    lew_context *lew = nullptr;
    fdic_libevent_context *adapter = nullptr;
    fdic_context *fdic = nullptr;
    gcl_handle *gcl = nullptr;
    uint64 received = 0;
    uint32 last_req_id = 0;
    bool echo = false;

    Stack()
    {
        evc_base *core = nullptr;
        gcl_options o;
        gcl_body_proto p;
        p.gbp_id = bench_proto;
        p.gbp_data = this;
        p.gbp_service_handlers[0] = on_frame;
        if (lew_init(&lew) || lew_get_event_context(lew, &core) ||
            fdic_libevent_init(core, &adapter) ||
            fdic_init(&fdic, fdic_libevent_callback, adapter) || gcl_options_get_defaults(&o) ||
            gcl_init(&gcl, &o, fdic) || gcl_register_body_protocol(gcl, &p) || gcl_bn_init(gcl)) {
            abort();
        }
    }
    ~Stack()
    {
        gcl_deinit(&gcl);
        fdic_libevent_deinit(&adapter);
        fdic_deinit(&fdic);
        lew_deinit(&lew);
    }
    static int on_frame(gcl_session *s, const gcl_frame_info *f, const uint8 *body, void *data,
                        void *)
    {
        auto *self = static_cast<Stack *>(data);
        ++self->received;
        if (self->echo) {
            return gcl_session_send_frame_components(s, bench_proto, f->gfi_msg_type,
                                                     f->gfi_body_len, body);
        }
        return 0;
    }
    static int on_query(gcl_session *s, bn_request *req, void *)
    {
        owned<bn_response> resp;
        bail_error(make_answer(req, resp.out()));
        return bn_response_msg_send(s, resp.get());
    }
    static int on_answer(gcl_session *, bn_response *resp, void *data)
    {
        auto *self = static_cast<Stack *>(data);
        ++self->received;
        self->last_req_id = resp->req_msg_id;
        return 0;
    }
};

[[noreturn]] void session_echo_child(int ready_fd)
{
    Stack st;
    st.echo = true;
    gcl_session *listener = nullptr;
    if (bn_set_global_callback_query_request_msg(st.gcl, Stack::on_query, &st) != 0 ||
        gcl_session_provider_new(st.gcl, "benchprov", 0, &listener) != 0 ||
        gcl_session_provider_enable(listener) != 0) {
        _exit(1);
    }
    (void)!write(ready_fd, "r", 1);
    // Runs until the client has come and gone.
    for (;;) {
        tbool none = 0;
        if (lew_dispatch_once(st.lew, &none, nullptr) != 0) break;
        gcl_session *s = nullptr;
        if (gcl_session_lookup(st.gcl, "benchclient", &s) == 0) {
            gcl_session_state state = gss_none;
            (void)gcl_session_get_state(s, &state);
            if (state == gss_closed) break;
        }
    }
    gcl_session_free(&listener);
    _exit(0);
}

// Forks the provider, opens the management service to it and runs
// `rounds(state, stack, session)`; cleans up the provider and the socket
// directory after.
template <typename Rounds> void with_session(benchmark::State &state, Rounds rounds)
{
    const PinToCpu0 pin(state.range(0) != 0);
    char tmpl[] = "/tmp/gcl-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    gcl_set_socket_dir_for_tests(dir.c_str(), 0);
    int ready[2];
    if (pipe(ready) != 0) abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        session_echo_child(ready[1]);
    }
    close(ready[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) abort();
    close(ready[0]);
    {
        Stack st;
        gcl_session *s = nullptr;
        if (gcl_session_client_new(st.gcl, "benchclient", nullptr, 0, &s) ||
            gcl_session_client_connect_by_provider(s, "benchprov", 1) ||
            gcl_session_client_open_service_blocking(s, mdc_mgmt_service_id, mdc_mgmt_service_arg,
                                                     nullptr, gcl_flags_none, 5000)) {
            state.SkipWithError("could not open the session");
        } else {
            rounds(state, st, s);
        }
        gcl_session_close(s);
        gcl_session_free(&s);
    }
    waitpid(pid, nullptr, 0);
    gcl_set_socket_dir_for_tests(nullptr, -1);
    rmdir(dir.c_str());
}

void wait_received(Stack &st, uint64 want)
{
    while (st.received < want) {
        if (lew_dispatch_once(st.lew, nullptr, nullptr) != 0) abort();
    }
}

std::string sizes_label(uint32 out, uint32 back)
{
    return std::to_string(out) + " bytes out, " + std::to_string(back) + " back";
}

void BM_SessionQueryRoundTrip(benchmark::State &state)
{
    with_session(state, [](benchmark::State &bs, Stack &st, gcl_session *s) {
        if (bn_set_session_callback_query_response_msg(s, Stack::on_answer, &st) != 0) abort();
        for (auto _ : bs) {
            // Built afresh each round, as a caller does for each query.
            owned<bn_request> req;
            if (make_query(req.out()) || bn_request_msg_send(s, req.get())) abort();
            wait_received(st, st.received + 1);
            if (st.last_req_id != req->msg_id) abort();
        }
    });
    uint32 out = 0, back = 0;
    query_frame_sizes(&out, &back);
    state.SetLabel(sizes_label(out, back));
}
BENCHMARK(BM_SessionQueryRoundTrip)->ArgName("pinned")->Arg(0)->Arg(1)->UseRealTime();

void BM_SessionPlainFrameRoundTrip(benchmark::State &state)
{
    with_session(state, [](benchmark::State &bs, Stack &st, gcl_session *s) {
        uint8 body[body_len] = {};
        for (auto _ : bs) {
            if (gcl_session_send_frame_components(s, bench_proto, 1, body_len, body) != 0) abort();
            wait_received(st, st.received + 1);
        }
    });
    state.SetLabel(sizes_label(wire_len, wire_len));
}
BENCHMARK(BM_SessionPlainFrameRoundTrip)->ArgName("pinned")->Arg(0)->Arg(1)->UseRealTime();

// Reads exactly `n` bytes after poll says the socket is readable.
bool read_exact(int fd, uint8 *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) return false;
        const ssize_t r = read(fd, buf + got, n - got);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

// The floor: `out` bytes to a child that answers each with `back` bytes.
void raw_ping_pong(benchmark::State &state, uint32 out, uint32 back)
{
    const PinToCpu0 pin(state.range(0) != 0);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) abort();
    const std::string buf_out(out, '\0');
    std::string buf_back(back, '\0');
    const pid_t pid = fork();
    if (pid == 0) {
        close(sv[0]);
        std::string in(out, '\0');
        while (read_exact(sv[1], reinterpret_cast<uint8 *>(in.data()), out)) {
            if (write(sv[1], buf_back.data(), back) != ssize_t(back)) break;
        }
        _exit(0);
    }
    close(sv[1]);
    for (auto _ : state) {
        if (write(sv[0], buf_out.data(), out) != ssize_t(out)) abort();
        if (!read_exact(sv[0], reinterpret_cast<uint8 *>(buf_back.data()), back)) abort();
    }
    close(sv[0]);
    waitpid(pid, nullptr, 0);
    state.SetLabel(sizes_label(out, back));
}

void BM_RawUnixPingPongQuerySizedFloor(benchmark::State &state)
{
    uint32 out = 0, back = 0;
    query_frame_sizes(&out, &back);
    raw_ping_pong(state, out, back);
}
BENCHMARK(BM_RawUnixPingPongQuerySizedFloor)->ArgName("pinned")->Arg(0)->Arg(1)->UseRealTime();

void BM_RawUnixPingPongPlainFrameFloor(benchmark::State &state)
{
    raw_ping_pong(state, wire_len, wire_len);
}
BENCHMARK(BM_RawUnixPingPongPlainFrameFloor)->ArgName("pinned")->Arg(0)->Arg(1)->UseRealTime();

} // namespace
