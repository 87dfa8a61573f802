// Shared pieces of the session-layer tests: a real loop with the
// descriptor-interest registry and a session-layer context on it, a test
// body protocol that records what it receives, frame bytes built by hand,
// a provider session with a raw peer, a private socket directory, and a
// count of open descriptors.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/gcl.h"

namespace gcl_test
{

constexpr gcl_body_proto_id test_proto = 9;
constexpr uint32 greeting_frame_len = 32 + 86;

struct Received {
    gcl_session *session;
    uint32 seq;
    uint16 msg_type;
    std::string body;
    const uint8 *raw; // the borrowed body, valid during the handler only
};

inline int count_open_fds()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

inline void put32(std::string &s, uint32 v)
{
    for (int sh = 24; sh >= 0; sh -= 8) s.push_back(char(v >> sh));
}
inline void put16(std::string &s, uint16 v)
{
    s.push_back(char(v >> 8));
    s.push_back(char(v));
}

// A frame written field by field, independently of the library.
struct FrameBytes {
    std::string ident = "GCLF";
    uint32 mark = 858927408;
    uint32 version = 1;
    int64 total = -1; // -1: 32 + body
    uint16 header_len = 32;
    uint32 seq = 1;
    uint16 proto = test_proto;
    uint16 msg_type = 1;
    int64 body_len = -1; // -1: body size
    std::string body;

    std::string bytes() const
    {
        std::string s = ident;
        put32(s, mark);
        put32(s, version);
        put32(s, uint32(total >= 0 ? total : int64(32 + body.size())));
        put16(s, header_len);
        put16(s, 0);
        put32(s, seq);
        put16(s, proto);
        put16(s, msg_type);
        put32(s, uint32(body_len >= 0 ? body_len : int64(body.size())));
        return s + body;
    }
};

// A loop, a registry bound to it, a session-layer context with the test
// protocol registered, and what the test protocol received.
class Loop
{
  public:
    Loop()
    {
        EXPECT_EQ(0, lew_init(&lew));
        evc_base *core = nullptr;
        EXPECT_EQ(0, lew_get_event_context(lew, &core));
        EXPECT_EQ(0, fdic_libevent_init(core, &adapter));
        EXPECT_EQ(0, fdic_init(&fdic, fdic_libevent_callback, adapter));
        EXPECT_EQ(0, fdic_libevent_set_fd_close_handler(adapter, on_fd_closed, this));
        gcl_options o;
        EXPECT_EQ(0, gcl_options_get_defaults(&o));
        EXPECT_EQ(0, gcl_init(&gcl, &o, fdic));
        gcl_body_proto p;
        p.gbp_id = test_proto;
        snprintf(p.gbp_name, sizeof p.gbp_name, "test");
        p.gbp_data = this;
        p.gbp_service_handlers[0] = on_frame;
        EXPECT_EQ(0, gcl_register_body_protocol(gcl, &p));
    }
    ~Loop()
    {
        gcl_deinit(&gcl);
        fdic_libevent_deinit(&adapter);
        fdic_deinit(&fdic);
        lew_deinit(&lew);
    }

    // Runs loop passes until `done` holds or `ms` pass.
    bool run_until(const std::function<bool()> &done, int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            lew_event *tick = nullptr;
            EXPECT_EQ(0, lew_event_reg_timer(lew, &tick, noop, nullptr, 5));
            EXPECT_EQ(0, lew_dispatch_once(lew, nullptr, nullptr));
            EXPECT_EQ(0, lew_event_delete(lew, &tick));
        }
        return true;
    }
    // Runs passes until nothing more happens for a short while.
    void settle()
    {
        run_until([] { return false; }, 30);
    }

    lew_context *lew = nullptr;
    fdic_libevent_context *adapter = nullptr;
    fdic_context *fdic = nullptr;
    gcl_handle *gcl = nullptr;
    std::vector<Received> received;
    std::vector<gcl_session *> closed; // owner data of reason-5 reports
    std::function<void(gcl_session *, const Received &)> on_receive;

  private:
    static int noop(int, lew_event_type, void *, lew_context *) { return 0; }
    static int on_frame(gcl_session *s, const gcl_frame_info *f, const uint8 *body, void *data,
                        void *)
    {
        auto *self = static_cast<Loop *>(data);
        self->received.push_back(
            Received{s, f->gfi_seq, f->gfi_msg_type,
                     std::string(reinterpret_cast<const char *>(body), f->gfi_body_len), body});
        if (self->on_receive) self->on_receive(s, self->received.back());
        return 0;
    }
    static int on_fd_closed(int, fdic_reason reason, void *owner, void *data)
    {
        if (reason == fdic_reason_fd_removed) {
            static_cast<Loop *>(data)->closed.push_back(static_cast<gcl_session *>(owner));
        }
        return 0;
    }
};

// A listening provider `name` that keeps each accepted session in
// `*accepted`; null if it could not listen.
inline gcl_session *listen_as(gcl_handle *gcl, const char *name, gcl_session **accepted)
{
    gcl_provider_params pp;
    pp.gpp_provider_name = name;
    pp.gpp_accept_func = [](gcl_session *, gcl_session *a, void *data) {
        *static_cast<gcl_session **>(data) = a;
        return 0;
    };
    pp.gpp_accept_data = accepted;
    gcl_session *l = nullptr;
    if (gcl_session_provider_full_new(gcl, &pp, &l) != 0 || gcl_session_provider_enable(l) != 0)
        gcl_session_free(&l);
    return l;
}

inline gcl_session_state state_of(const gcl_session *s)
{
    gcl_session_state st = gss_none;
    EXPECT_EQ(0, gcl_session_get_state(s, &st));
    return st;
}

// Whether the session has `service` open.
inline bool service_open(const gcl_session *s, uint32 service)
{
    tbool open = false;
    return gcl_session_get_service_id_open(s, service, &open) == 0 && open;
}

// A session's log line: "session N: " and the rest.
inline std::string session_line(const gcl_session *s, const std::string &rest)
{
    int32 id = 0;
    EXPECT_EQ(0, gcl_session_get_id(s, &id));
    return "session " + std::to_string(id) + ": " + rest;
}

inline void write_all(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        const ssize_t n = write(fd, s.data() + off, s.size() - off);
        ASSERT_GT(n, 0) << strerror(errno);
        off += size_t(n);
    }
}

// Reads exactly `n` bytes (waiting up to 2 s for each chunk).
inline std::string read_n(int fd, size_t n)
{
    std::string out;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) break;
        char buf[65536];
        const ssize_t r = read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0) break;
        out.append(buf, size_t(r));
    }
    return out;
}

// A provider session on one end of a socketpair; the test writes raw bytes
// to the other end.  The greeting the session sends is read off.
struct RawPeer {
    gcl_session *s = nullptr;
    int peer = -1;
    int fd = -1;
    std::string greeting;

    explicit RawPeer(Loop &loop)
    {
        int sv[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
        fd = sv[0];
        peer = sv[1];
        EXPECT_EQ(0, gcl_session_provider_new_from_fd(loop.gcl, "prov", sv[0], &s));
        greeting = read_n(peer, greeting_frame_len);
        EXPECT_EQ(greeting_frame_len, greeting.size());
    }
    ~RawPeer()
    {
        gcl_session_free(&s);
        if (peer >= 0) close(peer);
    }
    void close_peer()
    {
        close(peer);
        peer = -1;
    }
    gcl_session_state state() const { return state_of(s); }
};

// A private socket directory for the test, removed afterwards.
class SocketDir
{
  public:
    SocketDir()
    {
        char tmpl[] = "/tmp/gcl-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        gcl_set_socket_dir_for_tests(dir_.c_str(), 0);
    }
    ~SocketDir()
    {
        gcl_set_socket_dir_for_tests(nullptr, -1);
        rmdir(dir_.c_str());
    }
    const std::string &path() const { return dir_; }

  private:
    std::string dir_;
};

} // namespace gcl_test
