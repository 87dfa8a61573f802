// Round-trip latency of a small frame between two processes through the
// session layer (client and provider sessions, each on its own event loop
// over the real socket path), beside its floor: a raw Unix stream socket
// ping-pong of the same bytes with poll(2).
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/gcl.h"

namespace
{

constexpr gcl_body_proto_id bench_proto = 9;
constexpr uint32 body_len = 32;
constexpr uint32 wire_len = gcl_frame_header_len + body_len; // bytes each way

// A loop with a registry and a session-layer context, and a frame handler.
struct Stack {
    lew_context *lew = nullptr;
    fdic_libevent_context *adapter = nullptr;
    fdic_context *fdic = nullptr;
    gcl_handle *gcl = nullptr;
    uint64 received = 0;
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
            gcl_init(&gcl, &o, fdic) || gcl_register_body_protocol(gcl, &p)) {
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
};

[[noreturn]] void session_echo_child(int ready_fd)
{
    Stack st;
    st.echo = true;
    gcl_session *listener = nullptr;
    if (gcl_session_provider_new(st.gcl, "benchprov", 0, &listener) != 0 ||
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

void BM_SessionRoundTrip(benchmark::State &state)
{
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
            gcl_session_client_open_service_blocking(s, 2, 2, nullptr, 0, 5000)) {
            state.SkipWithError("could not open the session");
        } else {
            uint8 body[body_len] = {};
            for (auto _ : state) {
                const uint64 want = st.received + 1;
                if (gcl_session_send_frame_components(s, bench_proto, 1, body_len, body) != 0) {
                    abort();
                }
                while (st.received < want) {
                    if (lew_dispatch_once(st.lew, nullptr, nullptr) != 0) abort();
                }
            }
        }
        gcl_session_close(s);
        gcl_session_free(&s);
    }
    waitpid(pid, nullptr, 0);
    gcl_set_socket_dir_for_tests(nullptr, -1);
    rmdir(dir.c_str());
    state.SetLabel(std::to_string(wire_len) + " bytes each way");
}
BENCHMARK(BM_SessionRoundTrip)->UseRealTime();

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

void BM_RawUnixPingPongFloor(benchmark::State &state)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(sv[0]);
        uint8 buf[wire_len];
        while (read_exact(sv[1], buf, wire_len)) {
            if (write(sv[1], buf, wire_len) != ssize_t(wire_len)) break;
        }
        _exit(0);
    }
    close(sv[1]);
    uint8 buf[wire_len] = {};
    for (auto _ : state) {
        if (write(sv[0], buf, wire_len) != ssize_t(wire_len)) abort();
        if (!read_exact(sv[0], buf, wire_len)) abort();
    }
    close(sv[0]);
    waitpid(pid, nullptr, 0);
    state.SetLabel(std::to_string(wire_len) + " bytes each way");
}
BENCHMARK(BM_RawUnixPingPongFloor)->UseRealTime();

} // namespace
