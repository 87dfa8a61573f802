// Framing over a real loop and socketpairs: golden header bytes, malformed
// frames, reassembly, re-entrant delivery and the output queue.
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "gcl_test_support.h"
#include "mgmt/gcl_internal.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"

using namespace gcl_test;

namespace
{

TEST(GclFrame, HeaderBytesFollowTheLayout)
{
    Loop loop;
    RawPeer p(loop);
    ASSERT_EQ(0, gcl_session_send_frame_components(p.s, test_proto, 5, 3, "abc"));
    const std::string expect =
        std::string("GCLF") + std::string("3210") + std::string("\0\0\0\x01", 4) +
        std::string("\0\0\0\x23", 4) + std::string("\0\x20\0\0", 4) + std::string("\0\0\0\x02", 4) +
        std::string("\0\x09\0\x05", 4) + std::string("\0\0\0\x03", 4) + "abc";
    const std::string got = read_n(p.peer, expect.size());
    EXPECT_EQ(expect, got);

    // The buffer form writes the header into the reserved bytes.
    tbuf *tb = nullptr;
    ASSERT_EQ(0, tb_new(&tb));
    ASSERT_EQ(0, tb_append_bytes(tb, 0, 32));
    ASSERT_EQ(0, tb_append_buf(tb, "xy", 2));
    ASSERT_EQ(0, gcl_session_send_frame_components_tb(p.s, test_proto, 6, 32, tb));
    std::string got_tb = read_n(p.peer, 34);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(tb_buf(tb)), 34), got_tb);
    EXPECT_EQ(std::string("\0\0\0\x03", 4), got_tb.substr(20, 4)); // sequence 3

    // Any other reserved length is logged and only the body after it sent.
    LogCapture cap;
    ASSERT_EQ(0, gcl_session_send_frame_components_tb(p.s, test_proto, 7, 30, tb));
    EXPECT_EQ(1u, cap.count(session_line(p.s, "tried to send frame with tb put bad header")));
    got_tb = read_n(p.peer, 36);
    EXPECT_EQ(std::string("\0\0\0\x24", 4), got_tb.substr(12, 4));
    tb_free(&tb);

    // Takeover moves the buffer into the queue and nulls the caller's.
    ASSERT_EQ(0, tb_new(&tb));
    ASSERT_EQ(0, tb_append_bytes(tb, 0, 32));
    ASSERT_EQ(0, gcl_session_send_frame_tb_takeover(p.s, test_proto, 8, &tb));
    EXPECT_EQ(nullptr, tb);
    EXPECT_EQ(std::string("\0\0\0\x20", 4), read_n(p.peer, 32).substr(12, 4));
}

TEST(GclFrame, GreetingBytesFollowTheLayout)
{
    Loop loop;
    RawPeer p(loop);
    const std::string &g = p.greeting;
    EXPECT_EQ(std::string("\0\x01\0\x01", 4), g.substr(24, 4)); // admin, greeting
    EXPECT_EQ(std::string("\0\0\0\x56", 4), g.substr(28, 4));   // 86 bytes
    const std::string b = g.substr(32);
    EXPECT_EQ(std::string("\0\x02", 2), b.substr(0, 2)); // version 2
    EXPECT_EQ(std::string("prov") + std::string(28, '\0'), b.substr(10, 32));
    const uint32 uid = geteuid();
    EXPECT_EQ(std::string({char(uid >> 24), char(uid >> 16), char(uid >> 8), char(uid)}),
              b.substr(42, 4));
}

// One malformed input: what is written, whether the writer then closes
// (otherwise the session must close on the error), the line it must
// produce after "session N: " (a peer's close gains the descriptor), and the
// frames delivered before it.
struct BadCase {
    const char *name;
    std::string bytes;
    bool close_peer;
    std::string expect;
    size_t delivered;
};

std::string with(std::function<void(FrameBytes &)> f)
{
    FrameBytes fb;
    fb.body = "0123456789";
    f(fb);
    return fb.bytes();
}

// A frame with a forged total (and body) length.
std::string len(int64 total, int64 body_len = -1)
{
    return with([&](FrameBytes &f) {
        f.total = total;
        f.body_len = body_len;
    });
}

std::string ident_hex(const char *ident)
{
    uint32 v;
    memcpy(&v, ident, 4);
    char b[16];
    snprintf(b, sizeof b, "%x", v);
    return b;
}

std::string garbage_between_frames()
{
    std::string g;
    for (int i = 0; i < 1024; ++i) g.push_back(char('X' + i % 7));
    FrameBytes a, b;
    a.body = "first";
    b.body = "never";
    return a.bytes() + g + b.bytes();
}

const std::string closed_line = "detected socket close on fd ";

const BadCase bad_cases[] = {
    {"length 31", len(31), false, "invalid frame length: 31 vs 32", 0},
    {"length 32 with a body", len(32), false, "invalid frame length: 32 vs 42", 0},
    {"length one less than sent", len(41), false, "invalid frame length: 41 vs 42", 0},
    {"length one more than sent", len(43), false, "invalid frame length: 43 vs 42", 0},
    {"length near 2^32", len(0xFFFFFFF0, 0xFFFFFFD0), false,
     "invalid frame length: -16 vs 268435456", 0},
    {"header plus body length wraps", len(0x10, 0xFFFFFFF0), false,
     "invalid frame length: 16 vs 32", 0},
    {"wrong ident", with([](FrameBytes &f) { f.ident = "GCLX"; }), false,
     "invalid frame ident: " + ident_hex("GCLX"), 0},
    {"wrong mark", with([](FrameBytes &f) { f.mark = 0x33323131; }), false,
     "invalid frame mark: 33323131", 0},
    {"wrong version", with([](FrameBytes &f) { f.version = 2; }), false, "invalid frame version: 2",
     0},
    {"wrong header length", with([](FrameBytes &f) { f.header_len = 31; }), false,
     "invalid frame header len: 31 vs 32", 0},
    {"garbage spliced mid-stream", garbage_between_frames(), false,
     "invalid frame ident: " + ident_hex("XYZ["), 1},
    {"peer closes mid-frame", len(-1).substr(0, 37), true, closed_line, 0},
    {"peer closes inside a header", len(-1).substr(0, 20), true, closed_line, 0},
};

TEST(GclFrame, MalformedInputClosesOnlyThatSessionOnce)
{
    Loop loop;
    RawPeer bystander(loop);
    for (const BadCase &c : bad_cases) {
        SCOPED_TRACE(c.name);
        const int fds_before = count_open_fds();
        {
            LogCapture cap;
            loop.received.clear();
            loop.closed.clear();
            RawPeer p(loop);
            write_all(p.peer, c.bytes);
            if (c.close_peer) p.close_peer();
            ASSERT_TRUE(loop.run_until([&] { return p.state() == gss_closed; })) << cap.dump();
            loop.settle();
            const std::string line = c.close_peer ? c.expect + std::to_string(p.fd) : c.expect;
            EXPECT_EQ(1u, cap.count(session_line(p.s, line))) << cap.dump();
            EXPECT_EQ(c.close_peer ? 0u : 1u,
                      cap.count(session_line(p.s, "closing after error condition")));
            EXPECT_EQ(c.delivered, loop.received.size());
            ASSERT_EQ(1u, loop.closed.size());
            EXPECT_EQ(p.s, loop.closed[0]);
            // The neighbour is untouched and still delivers.
            EXPECT_EQ(gss_connected, bystander.state());
            write_all(bystander.peer, FrameBytes{}.bytes());
            EXPECT_TRUE(loop.run_until([&] { return loop.received.size() == c.delivered + 1; }));
            EXPECT_EQ(bystander.s, loop.received.back().session);
        }
        EXPECT_EQ(fds_before, count_open_fds());
    }
}

TEST(GclFrame, InputGrowsOneStepWhenLittleRoomIsLeftAndNeverByAForgedLength)
{
    Loop loop;
    RawPeer p(loop);
    // 65,535 bytes pending leave one byte free: the next read grows first.
    FrameBytes f;
    f.body = std::string(200000, 'z');
    const std::string bytes = f.bytes();
    write_all(p.peer, bytes.substr(0, 65535));
    ASSERT_TRUE(loop.run_until([&] { return p.s->in_end == 65535; }));
    EXPECT_EQ(65536u, p.s->in_size);
    write_all(p.peer, bytes.substr(65535, 1));
    ASSERT_TRUE(loop.run_until([&] { return p.s->in_end == 65536; }));
    EXPECT_EQ(131072u, p.s->in_size);
    write_all(p.peer, bytes.substr(65536));
    ASSERT_TRUE(loop.run_until([&] { return loop.received.size() == 1; }));
    EXPECT_EQ(f.body, loop.received[0].body);

    // A forged length sizes nothing beyond what arrived.
    RawPeer q(loop);
    FrameBytes forged;
    forged.total = 200u * 1024 * 1024;
    forged.body_len = forged.total - 32;
    write_all(q.peer, forged.bytes() + std::string(100, 'b'));
    loop.settle();
    EXPECT_EQ(gss_connected, q.state());
    EXPECT_EQ(132u, q.s->in_end - q.s->in_start);
    EXPECT_EQ(gcl_input_grow_step, q.s->in_size);
    EXPECT_EQ(1u, loop.received.size());
}

TEST(GclFrame, LargeFrameGivesItsInputMemoryBackOnceConsumed)
{
    Loop loop;
    RawPeer p(loop);
    FrameBytes big;
    big.body = std::string(16u << 20, 'b');
    FrameBytes small;
    small.seq = 2;
    small.body = "after";
    // Written from a second thread: the socket holds far less than 16 MiB.
    std::thread writer([&] { write_all(p.peer, big.bytes() + small.bytes()); });
    uint32 peak = 0;
    const bool done = loop.run_until(
        [&] {
            peak = std::max(peak, p.s->in_size);
            return loop.received.size() == 2;
        },
        30000);
    writer.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(big.body.size(), loop.received[0].body.size());
    EXPECT_EQ("after", loop.received[1].body);
    EXPECT_GE(peak, 16u << 20);
    EXPECT_LE(p.s->in_size, gcl_input_keep_max);

    // The session goes on reading with a small buffer.
    FrameBytes next;
    next.seq = 3;
    next.body = "again";
    write_all(p.peer, next.bytes());
    ASSERT_TRUE(loop.run_until([&] { return loop.received.size() == 3; }));
    EXPECT_EQ("again", loop.received[2].body);
    EXPECT_LE(p.s->in_size, gcl_input_keep_max);
}

TEST(GclFrame, FrameSplitByteByByteIsDeliveredOnceAtItsLastByte)
{
    Loop loop;
    RawPeer p(loop);
    FrameBytes f;
    f.body = "split across many reads";
    const std::string bytes = f.bytes();
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        write_all(p.peer, bytes.substr(i, 1));
        ASSERT_TRUE(loop.run_until([&] { return p.s->in_end - p.s->in_start == i + 1; }));
        ASSERT_TRUE(loop.received.empty()) << "at byte " << i;
    }
    write_all(p.peer, bytes.substr(bytes.size() - 1));
    ASSERT_TRUE(loop.run_until([&] { return !loop.received.empty(); }));
    loop.settle();
    ASSERT_EQ(1u, loop.received.size());
    EXPECT_EQ(f.body, loop.received[0].body);
}

TEST(GclFrame, HandlerWaitingInANestedPassSeesLaterFramesAfterItsOwn)
{
    Loop loop;
    RawPeer p(loop);
    FrameBytes a, b;
    a.body = std::string(1000, 'a');
    b.body = std::string(70000, 'b'); // forces the nested read to grow the buffer
    std::string first_body_after;
    loop.on_receive = [&](gcl_session *, const Received &r) {
        if (r.body[0] != 'a') return;
        const uint8 *raw = r.raw;
        // Wait for the next frame inside this handler, as a synchronous
        // request waits for its reply.
        write_all(p.peer, b.bytes());
        loop.run_until([&] { return loop.received.size() == 2; });
        // The borrowed body survived the nested read that moved the buffer.
        first_body_after.assign(reinterpret_cast<const char *>(raw), a.body.size());
    };
    write_all(p.peer, a.bytes());
    ASSERT_TRUE(loop.run_until([&] { return loop.received.size() == 2; }));
    EXPECT_EQ(a.body, loop.received[0].body);
    EXPECT_EQ(b.body, loop.received[1].body);
    EXPECT_EQ(a.body, first_body_after);
    EXPECT_TRUE(p.s->in_retired.empty());
}

TEST(GclFrame, SessionFreedFromItsOwnHandlerGoesAfterTheHandler)
{
    Loop loop;
    RawPeer p(loop);
    loop.on_receive = [&](gcl_session *s, const Received &) {
        gcl_session *mine = s;
        EXPECT_EQ(0, gcl_session_free(&mine));
        EXPECT_EQ(nullptr, mine);
    };
    FrameBytes a, b;
    write_all(p.peer, a.bytes() + b.bytes());
    ASSERT_TRUE(loop.run_until([&] { return !loop.received.empty(); }));
    loop.settle();
    EXPECT_EQ(1u, loop.received.size()); // the second frame died with the session
    gcl_session *gone = nullptr;
    EXPECT_EQ(lc_err_not_found, gcl_session_id_lookup(loop.gcl, 2, &gone));
    p.s = nullptr;
}

// Appends what the peer has pending, without waiting; true once `want`
// bytes have come.
bool take_pending(int fd, std::string &got, size_t want)
{
    char buf[65536];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, size_t(n));
    return got.size() == want;
}

TEST(GclFrame, OutputQueueWaitsForWritabilityKeepsOrderAndIsReportedAtClose)
{
    Loop loop;
    RawPeer p(loop);
    LogCapture cap;
    const std::string big(4 * 1024 * 1024, 'q');
    ASSERT_EQ(0, gcl_session_send_frame_components(p.s, test_proto, 1, big.size(), big.data()));
    ASSERT_EQ(0, gcl_session_send_frame_components(p.s, test_proto, 2, 4, "tail"));
    EXPECT_FALSE(p.s->outq.empty());
    EXPECT_TRUE(p.s->fd_want_write);
    std::string got;
    const size_t want = 32 + big.size() + 32 + 4;
    ASSERT_TRUE(loop.run_until([&] { return take_pending(p.peer, got, want); }, 10000));
    EXPECT_TRUE(p.s->outq.empty());
    loop.settle();
    EXPECT_FALSE(p.s->fd_want_write);
    EXPECT_EQ("tail", got.substr(want - 4));
    EXPECT_EQ(std::string("\0\x02", 2), got.substr(32 + big.size() + 26, 2));
    EXPECT_GE(cap.count(session_line(p.s, "finished sending frame")), 2u);

    // Closing with a frame still queued says so; later sends are refused.
    RawPeer q(loop);
    ASSERT_EQ(0, gcl_session_send_frame_components(q.s, test_proto, 1, big.size(), big.data()));
    EXPECT_EQ(0, gcl_session_close(q.s));
    EXPECT_EQ(1u, cap.count(session_line(q.s, "closed with output queue")));
    EXPECT_EQ(lc_err_io_closed, gcl_session_send_frame_components(q.s, test_proto, 1, 1, "x"));
    EXPECT_EQ(1u, cap.count(session_line(q.s, "tried to send frame in state 1")));
}

TEST(GclFrame, FrameOfUnknownProtocolIsDiscarded)
{
    Loop loop;
    RawPeer p(loop);
    LogCapture cap;
    FrameBytes f;
    f.seq = 5;
    // 0x3101, found by fuzzing, is past the registrable range.
    for (uint16 proto : {77, 0x3101}) {
        f.proto = proto;
        const size_t want = loop.received.size() + 1; // the frame after it
        write_all(p.peer, f.bytes() + FrameBytes{}.bytes());
        ASSERT_TRUE(loop.run_until([&] { return loop.received.size() == want; }));
        EXPECT_EQ(1u, cap.count(session_line(p.s, "DISCARDED frame 5 (32) proto " +
                                                      std::to_string(proto) + " mtype 1")));
        EXPECT_EQ(gss_connected, p.state());
    }
}

TEST(GclFrame, BandwidthLimitSpreadsOutput)
{
    Loop loop;
    RawPeer p(loop);
    LogCapture cap;
    ASSERT_EQ(0, gcl_session_set_bwlimit(p.s, 100000)); // 10,000 bytes per 100 ms
    const std::string body(25000, 'r');
    ASSERT_EQ(0, gcl_session_send_frame_components(p.s, test_proto, 1, body.size(), body.data()));
    // Only one tick's budget goes out before the timer refills it.
    std::string got;
    take_pending(p.peer, got, 0);
    EXPECT_EQ(10000u, got.size());
    ASSERT_TRUE(loop.run_until([&] { return take_pending(p.peer, got, body.size() + 32); }));
    EXPECT_GE(cap.count(session_line(p.s, "rate limit timer fired")), 2u);
}

} // namespace
