// The admin protocol against a hand-driven peer: version checks on both
// sides, and the two readings of the open-service length.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "gcl_test_support.h"
#include "support/log_capture.h"

using namespace gcl_test;

namespace
{

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

TEST(GclAdmin, ProviderRefusesAGreetingResponseOfAnotherVersion)
{
    Loop loop;
    LogCapture cap;
    RawPeer c(loop);
    write_all(c.peer, frame(2, greeting_body(1, true)));
    ASSERT_TRUE(loop.run_until([&] { return state_of(c.s) == gss_closed; }));
    EXPECT_EQ(
        1u, cap.count(session_line(c.s, "proto admin: bad version in greeting response: 1 not 2")));
    EXPECT_EQ(1u, cap.count(session_line(c.s, "closing after error condition")));
}

TEST(GclAdmin, ProviderAcceptsOpenServiceOfBothLengths)
{
    for (size_t pad : {size_t(0), size_t(8)}) {
        SCOPED_TRACE(pad);
        Loop loop;
        LogCapture cap;
        RawPeer c(loop);
        write_all(c.peer, frame(2, greeting_body(2, true)) + frame(3, open_body(2, pad), 2));
        tbool open = 0;
        ASSERT_TRUE(loop.run_until(
            [&] { return gcl_session_get_service_id_open(c.s, 2, &open) == 0 && open; }));
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

TEST(GclAdmin, ProviderClosesOnOpenServiceOfAnyOtherLengthOrBeforeTheGreeting)
{
    Loop loop;
    LogCapture cap;
    {
        RawPeer c(loop);
        write_all(c.peer, frame(2, greeting_body(2, true)) + frame(3, open_body(2, 2), 2));
        ASSERT_TRUE(loop.run_until([&] { return state_of(c.s) == gss_closed; }));
        EXPECT_EQ(1u, cap.count(session_line(c.s, "proto admin: bad open service length: 50")));
    }
    {
        RawPeer c(loop);
        write_all(c.peer, frame(3, open_body(2, 0)));
        ASSERT_TRUE(loop.run_until([&] { return state_of(c.s) == gss_closed; }));
        EXPECT_EQ(1u, cap.count(session_line(c.s, "proto admin: open service before greeting")));
    }
}

TEST(GclAdmin, ClientRefusesAGreetingOfAnotherVersion)
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
        const int cfd = accept(lfd, nullptr, nullptr);
        const std::string g = frame(1, greeting_body(3));
        ASSERT_EQ(ssize_t(g.size()), write(cfd, g.data(), g.size()));
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
