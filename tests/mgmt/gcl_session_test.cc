// Sessions: names, protocol registration, connecting (with the retry
// rule), greeting and opening services, a client and a provider on two
// threads over the real socket path in a private directory, and the admin
// protocol against a hand-driven peer.
#include <cstring>
#include <future>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "gcl_test_support.h"
#include "support/log_capture.h"
#include "util/ttime.h"

using namespace gcl_test;

namespace
{

TEST(GclSession, ClientNamesAndProtocolRegistrationsAreChecked)
{
    Loop loop;
    LogCapture cap;
    gcl_session *s = nullptr;
    EXPECT_EQ(lc_err_bad_name, gcl_session_client_new(loop.gcl, "ipt rackd", nullptr, 0, &s));
    EXPECT_EQ(1u, cap.count("Invalid character in client name: ipt rackd"));
    EXPECT_EQ(lc_err_bad_name, gcl_session_client_new(loop.gcl, "", nullptr, 0, &s));
    const std::string long_name(32, 'n');
    EXPECT_EQ(lc_err_bad_name, gcl_session_client_new(loop.gcl, long_name.c_str(), nullptr, 0, &s));
    EXPECT_EQ(1u, cap.count("Client name too long: " + long_name));
    EXPECT_EQ(nullptr, s);
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, std::string(31, 'n').c_str(), nullptr, 0, &s));
    EXPECT_EQ(gss_initialized, state_of(s));
    gcl_session_free(&s);
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd_1.a-b", nullptr, 0, &s));
    gcl_session_free(&s);

    // A protocol is registered once.
    gcl_body_proto p;
    p.gbp_id = test_proto;
    EXPECT_EQ(lc_err_exists, gcl_register_body_protocol(loop.gcl, &p));
    EXPECT_EQ(1u, cap.count("Already have registered body handler for proto 9"));
    p.gbp_id = gcl_body_proto_admin;
    EXPECT_EQ(lc_err_exists, gcl_register_body_protocol(loop.gcl, &p));
    p.gbp_id = 0;
    EXPECT_EQ(lc_err_assertion_failed, gcl_register_body_protocol(loop.gcl, &p));
}

// Per-session protocol state: made for sessions that exist and for new
// ones, told of state changes, released once at free.
struct ProtoLog {
    int made = 0, freed = 0, connected = 0, closed = 0;
};
int ps_new(gcl_session *, void *data, void **ret)
{
    ++static_cast<ProtoLog *>(data)->made;
    *ret = new int(42);
    return 0;
}
int ps_free(gcl_session *, void *data, void *state)
{
    ++static_cast<ProtoLog *>(data)->freed;
    delete static_cast<int *>(state);
    return 0;
}
int ps_state(gcl_session *, gcl_session_state st, void *data, void *)
{
    auto *l = static_cast<ProtoLog *>(data);
    (st == gss_connected ? l->connected : l->closed)++;
    return 0;
}

TEST(GclSession, ProtocolStateFollowsTheSession)
{
    Loop loop;
    ProtoLog log;
    gcl_session *early = nullptr;
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "early", nullptr, 0, &early));
    gcl_body_proto p;
    p.gbp_id = 30;
    snprintf(p.gbp_name, sizeof p.gbp_name, "state");
    p.gbp_data = &log;
    p.gbp_session_new = ps_new;
    p.gbp_session_free = ps_free;
    p.gbp_session_state = ps_state;
    ASSERT_EQ(0, gcl_register_body_protocol(loop.gcl, &p));
    EXPECT_EQ(1, log.made);
    RawPeer peer(loop);
    EXPECT_EQ(2, log.made);
    EXPECT_EQ(1, log.connected);
    void *st = nullptr;
    ASSERT_EQ(0, gcl_session_get_proto_state(peer.s, 30, &st));
    EXPECT_EQ(42, *static_cast<int *>(st));
    EXPECT_EQ(lc_err_not_found, gcl_session_get_proto_state(peer.s, 31, &st));
    peer.close_peer();
    ASSERT_TRUE(loop.run_until([&] { return peer.state() == gss_closed; }));
    EXPECT_EQ(1, log.closed);
    EXPECT_EQ(0, log.freed); // the state outlives the close
    gcl_session_free(&peer.s);
    EXPECT_EQ(1, log.freed);
    gcl_session_free(&early);
    EXPECT_EQ(2, log.freed);
}

TEST(GclSession, SocketPathFollowsTheProductionRule)
{
    sockaddr_storage a{};
    socklen_t len = 0;
    gcl_set_socket_dir_for_tests(nullptr, 1);
    ASSERT_EQ(0, gcl_sockaddr_for_provider("mgmtd", "provider", &a, &len));
    const char *path = reinterpret_cast<sockaddr_un *>(&a)->sun_path;
    EXPECT_STREQ("/tmp/gcl-socks/uds-provider-mgmtd", path);
    EXPECT_EQ(strlen(path) + 3, len);
    gcl_set_socket_dir_for_tests("/x", 0);
    ASSERT_EQ(0, gcl_sockaddr_for_provider("mgmtd", "client", &a, &len));
    EXPECT_EQ("/x/uds-client-UID-" + std::to_string(geteuid()) + "-mgmtd", std::string(path));
    gcl_set_socket_dir_for_tests(nullptr, -1);
    ASSERT_EQ(0, gcl_sockaddr_for_provider("mgmtd", "provider", &a, &len));
    EXPECT_EQ(geteuid() == 0, std::string(path) == "/tmp/gcl-socks/uds-provider-mgmtd");
    EXPECT_EQ(lc_err_bad_name, gcl_sockaddr_for_provider("../etc", "provider", &a, &len));
}

// The pauses between attempts move the manual clock instead of waiting.
std::vector<lt_time_ms> g_pauses;
void record_pause(uint32 ms)
{
    g_pauses.push_back(lt_sys_monotonic_ms());
    lt_clock_advance_for_tests(ms);
}

TEST(GclSession, ConnectFailsAtOnceOrAfterSixAttemptsOneAndAHalfSecondsApart)
{
    SocketDir dir;
    Loop loop;
    LogCapture cap;
    gcl_session *s = nullptr;
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
    EXPECT_EQ(lc_err_io_error, gcl_session_client_connect_by_provider(s, "mgmtd", 0));
    EXPECT_EQ(1u, cap.count("Failed to connect to provider."));
    EXPECT_EQ(0u, cap.count("Could not connect to provider; delaying and retrying."));
    EXPECT_EQ(gss_closed, state_of(s));
    // A second connect on the same session is refused.
    EXPECT_EQ(lc_err_assertion_failed, gcl_session_client_connect_by_provider(s, "mgmtd", 0));
    EXPECT_EQ(1u,
              cap.count(session_line(s, "client called to connect in invalid state: 1 (closed)")));
    gcl_session_free(&s);

    cap.clear();
    lt_clock_set_manual_for_tests(1000000, 1000);
    g_pauses.clear();
    gcl_set_retry_pause_for_tests(record_pause);
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
    EXPECT_EQ(14014, gcl_session_client_connect_by_provider(s, "mgmtd", 1));
    gcl_set_retry_pause_for_tests(nullptr);
    lt_clock_restore_for_tests();
    // Six attempts: five pauses of 1.5 s between them.
    EXPECT_EQ((std::vector<lt_time_ms>{1000, 2500, 4000, 5500, 7000}), g_pauses);
    EXPECT_EQ(5u, cap.count("Could not connect to provider; delaying and retrying."));
    EXPECT_EQ(1u, cap.count("Failed to connect to provider."));
    EXPECT_EQ(gss_closed, state_of(s));
    gcl_session_free(&s);
}

// Each side on its own thread with its own loop, as the daemon's main loop
// and alarm thread are: a thread sanitizer build checks that the session
// layer and the event core always take their locks in one order (interest
// changes both outside the loop and inside its handlers, write interest for
// a frame larger than the socket takes, and the close report).
TEST(GclSession, ProviderAndClientOnTwoThreadsExchangeFrames)
{
    SocketDir dir;
    const std::string big(1024 * 1024, 'b');
    std::promise<bool> listening;
    bool provider_saw_close = false; // read after the join
    std::thread provider([&] {
        Loop loop;
        gcl_session *client = nullptr;
        gcl_session *listener = listen_as(loop.gcl, "threadprov", &client);
        loop.on_receive = [](gcl_session *s, const Received &r) {
            (void)gcl_session_send_frame_components(s, test_proto, r.msg_type + 1, r.body.size(),
                                                    r.body.data());
        };
        listening.set_value(listener != nullptr);
        if (listener) loop.run_until([&] { return !loop.closed.empty(); }, 20000);
        provider_saw_close = !loop.closed.empty() && loop.closed.front() == client;
        gcl_session_free(&listener);
    });
    lc_scope_guard join([&] {
        if (provider.joinable()) provider.join();
    });
    ASSERT_TRUE(listening.get_future().get());
    {
        Loop loop;
        LogCapture cap;
        gcl_session *s = nullptr;
        ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
        ASSERT_EQ(0, gcl_session_client_connect_by_provider(s, "threadprov", 0));
        ASSERT_EQ(0, gcl_session_client_open_service_blocking(s, 2, 2, nullptr, 0, 5000));
        EXPECT_TRUE(cap.contains("proto admin: received open service response 2"));
        EXPECT_STREQ("threadprov", gcl_session_get_peer_name_quick(s));
        int64 uid = -1, gid = -1;
        ASSERT_EQ(0, gcl_session_get_auth(s, &uid, &gid, nullptr));
        EXPECT_EQ(int64(geteuid()), uid);
        EXPECT_EQ(int64(getegid()), gid);
        ASSERT_EQ(0, gcl_session_send_frame_components(s, test_proto, 1, 4, "ping"));
        ASSERT_EQ(0, gcl_session_send_frame_components(s, test_proto, 3, big.size(), big.data()));
        ASSERT_TRUE(loop.run_until([&] { return loop.received.size() == 2; }, 10000));
        EXPECT_EQ("ping", loop.received[0].body);
        EXPECT_EQ(2, loop.received[0].msg_type);
        EXPECT_TRUE(loop.received[1].body == big);
        EXPECT_EQ(4, loop.received[1].msg_type);
        ASSERT_EQ(0, gcl_session_close(s));
        ASSERT_EQ(1u, loop.closed.size()); // reported by the time close returns
        EXPECT_EQ(s, loop.closed.front());
        gcl_session_free(&s);
    }
    provider.join();
    EXPECT_TRUE(provider_saw_close);
    // Freeing the listener removed its socket file.
    sockaddr_storage a{};
    socklen_t len = 0;
    ASSERT_EQ(0, gcl_sockaddr_for_provider("threadprov", "provider", &a, &len));
    struct stat st {
    };
    EXPECT_NE(0, stat(reinterpret_cast<sockaddr_un *>(&a)->sun_path, &st));
}

TEST(GclSession, ProviderChecksTheGreetingResponseAndOpensServices)
{
    SocketDir dir;
    Loop loop;
    LogCapture cap;
    gcl_session *accepted = nullptr;
    gcl_session *listener = listen_as(loop.gcl, "prov", &accepted);
    ASSERT_NE(nullptr, listener);
    EXPECT_EQ(1u, cap.count(session_line(listener, "enabled listening on " + dir.path() +
                                                       "/uds-provider-UID-" +
                                                       std::to_string(geteuid()) + "-prov")));

    // A client claiming someone else's ids is turned away (unless root,
    // who may act for anyone).
    gcl_session *liar = nullptr;
    ASSERT_EQ(0, gcl_session_client_set_user_new(loop.gcl, "liar", "nobody", 4242, 4242, 0, &liar));
    ASSERT_EQ(0, gcl_session_client_connect_by_provider(liar, "prov", 0));
    ASSERT_TRUE(loop.run_until([&] { return accepted != nullptr; }));
    gcl_session *liar_peer = accepted;
    if (geteuid() != 0) {
        ASSERT_TRUE(loop.run_until([&] { return state_of(liar_peer) == gss_closed; }));
        EXPECT_EQ(1u, cap.count("bad uid / gid in greeting response: 4242/4242 not " +
                                std::to_string(geteuid()) + "/" + std::to_string(getegid())));
    } else {
        ASSERT_TRUE(loop.run_until([&] { return cap.contains("opened for client liar"); }));
    }
    gcl_session_free(&liar);

    // An honest client opens service 2 without blocking.
    accepted = nullptr;
    gcl_session *c = nullptr;
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "honest", nullptr, 0, &c));
    ASSERT_EQ(0, gcl_session_client_connect_by_provider(c, "prov", 0));
    ASSERT_EQ(0, gcl_session_client_open_service(c, 2, 7, "en", 0)); // before the greeting
    ASSERT_TRUE(loop.run_until([&] { return service_open(c, 2); }));
    EXPECT_TRUE(service_open(accepted, 2));
    const char *tag = nullptr;
    ASSERT_EQ(0, gcl_session_get_lang_tag(accepted, &tag));
    EXPECT_STREQ("en", tag);
    gcl_session *found = nullptr;
    EXPECT_EQ(lc_err_not_found, gcl_session_lookup(loop.gcl, "nobody-here", &found));
    EXPECT_EQ(1u, cap.count("No session found for client \"nobody-here\""));
    EXPECT_STREQ("honest", gcl_session_get_peer_name_quick(accepted));

    // Both sides of the connection close when the client goes.
    ASSERT_EQ(0, gcl_session_close(c));
    ASSERT_TRUE(loop.run_until([&] { return state_of(accepted) == gss_closed; }));
    // Only the accepted session goes; the client is its owner's to free.
    ASSERT_EQ(0, gcl_session_free_closed(loop.gcl));
    ASSERT_EQ(0, gcl_session_lookup(loop.gcl, "honest", &found));
    EXPECT_EQ(c, found);
    gcl_session_free(&c);
    EXPECT_EQ(lc_err_not_found, gcl_session_lookup(loop.gcl, "honest", &found));
    gcl_session_free(&listener);
}

// ---------------------------------------------------------------------------
// The admin protocol against a hand-driven peer: version checks on both
// sides, and the two readings of the open-service length.

std::string name_field(const std::string &s)
{
    return s + std::string(32 - s.size(), '\0');
}

// A greeting from a provider "rawprov", or the greeting response of a
// client "rawclient" (which carries one more field), both as root.
std::string greeting_body(uint16 version, bool response = false)
{
    std::string b;
    put16(b, version);
    put32(b, 1);
    put32(b, 0);
    if (response) put32(b, 5);
    b += name_field(response ? "rawclient" : "rawprov");
    put32(b, geteuid());
    put32(b, getegid());
    b += name_field("root");
    put32(b, 1);
    return b;
}

std::string open_body(uint32 service, size_t pad)
{
    std::string b;
    put32(b, 1);
    put32(b, 2);
    put32(b, service);
    put32(b, 2);
    b += name_field("");
    return b + std::string(pad, '\0');
}

std::string frame(uint16 mtype, const std::string &body, uint32 seq = 1)
{
    FrameBytes f;
    f.proto = gcl_body_proto_admin;
    f.msg_type = mtype;
    f.seq = seq;
    f.body = body;
    return f.bytes();
}

// Reads one whole frame from a raw socket (header and body).
std::string read_frame(int fd)
{
    const std::string head = read_n(fd, 32);
    if (head.size() < 32) return head;
    const uint32 total = (uint32(uint8(head[12])) << 24) | (uint32(uint8(head[13])) << 16) |
                         (uint32(uint8(head[14])) << 8) | uint8(head[15]);
    return head + read_n(fd, total - 32);
}

TEST(GclAdmin, ProviderClosesOnABadGreetingResponseOrOpenService)
{
    const std::pair<std::string, std::string> cases[] = {
        {frame(2, greeting_body(1, true)), "bad version in greeting response: 1 not 2"},
        {frame(2, greeting_body(2, true)) + frame(3, open_body(2, 2), 2),
         "bad open service length: 50"},
        {frame(3, open_body(2, 0)), "open service before greeting"},
    };
    Loop loop;
    LogCapture cap;
    for (const auto &[bytes, line] : cases) {
        RawPeer c(loop);
        write_all(c.peer, bytes);
        ASSERT_TRUE(loop.run_until([&] { return state_of(c.s) == gss_closed; }));
        EXPECT_EQ(1u, cap.count(session_line(c.s, "proto admin: " + line))) << cap.dump();
        EXPECT_EQ(1u, cap.count(session_line(c.s, "closing after error condition")));
    }
}

TEST(GclAdmin, ProviderAcceptsOpenServiceOfBothLengths)
{
    for (size_t pad : {size_t(0), size_t(8)}) {
        SCOPED_TRACE(pad);
        Loop loop;
        LogCapture cap;
        RawPeer c(loop);
        write_all(c.peer, frame(2, greeting_body(2, true)) + frame(3, open_body(2, pad), 2));
        ASSERT_TRUE(loop.run_until([&] { return service_open(c.s, 2); }));
        const std::string resp = read_frame(c.peer);
        ASSERT_EQ(32u + 52, resp.size());
        EXPECT_EQ(std::string("\0\x01\0\x04", 4), resp.substr(24, 4));
        EXPECT_EQ(std::string("\0\0\0\x02", 4), resp.substr(32 + 8, 4)); // service
        EXPECT_EQ(std::string("\0\0\0\0", 4), resp.substr(32 + 44, 4));  // opened
        EXPECT_EQ(1u, cap.count(session_line(c.s, "opened for client rawclient user root (" +
                                                      std::to_string(geteuid()) + "/" +
                                                      std::to_string(getegid()) + ") 1")));
    }
}

// A client's blocking open against a listener driven by hand: it ends at
// its limit while the provider is silent, on the provider's close, and on
// a greeting of another version.
TEST(GclAdmin, ClientBlockingOpenEndsOnTimeoutCloseOrAnotherVersion)
{
    SocketDir dir;
    sockaddr_storage a{};
    socklen_t len = 0;
    ASSERT_EQ(0, gcl_sockaddr_for_provider("rawprov", "provider", &a, &len));
    const int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(0, bind(lfd, reinterpret_cast<sockaddr *>(&a), len));
    ASSERT_EQ(0, listen(lfd, 4));
    {
        Loop loop;
        LogCapture cap;
        gcl_session *s = nullptr;
        ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
        ASSERT_EQ(0, gcl_session_client_connect_by_provider(s, "rawprov", 0));
        EXPECT_EQ(gss_connected, state_of(s));
        EXPECT_EQ(lc_err_io_timeout,
                  gcl_session_client_open_service_blocking(s, 2, 2, nullptr, 0, 150));
        EXPECT_EQ(1u, cap.count("GCL timeout forced"));
        close(accept(lfd, nullptr, nullptr));
        EXPECT_EQ(lc_err_io_closed,
                  gcl_session_client_open_service_blocking(s, 2, 2, nullptr, 0, 2000));
        EXPECT_EQ(gss_closed, state_of(s));
        gcl_session_free(&s);

        ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
        ASSERT_EQ(0, gcl_session_client_connect_by_provider(s, "rawprov", 0));
        const int cfd = accept(lfd, nullptr, nullptr);
        write_all(cfd, frame(1, greeting_body(3)));
        EXPECT_EQ(lc_err_io_closed,
                  gcl_session_client_open_service_blocking(s, 2, 2, nullptr, 0, 2000));
        EXPECT_EQ(1u, cap.count(session_line(s, "proto admin: bad version in greeting: 3 not 2")));
        EXPECT_EQ(gss_closed, state_of(s));
        gcl_session_free(&s);
        close(cfd);
    }
    close(lfd);
    unlink(reinterpret_cast<sockaddr_un *>(&a)->sun_path);
}

} // namespace
