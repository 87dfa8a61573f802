// fdic: change reports to a consumer, and the adapter over a real loop and
// a real socketpair.
#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "support/log_capture.h"

namespace
{

// Consumer that keeps every report.
struct Reports {
    std::vector<std::vector<fdic_event_record>> batches;
    static int consume(fdic_context *, const fdic_event_record *changed, uint32 n, void *data)
    {
        static_cast<Reports *>(data)->batches.emplace_back(changed, changed + n);
        return 0;
    }
    // The latest report's record, as (id, active, is_fd, fd, read, write,
    // timeout): the fields a consumer acts on.
    auto last() const
    {
        const fdic_event_record &r = batches.back().at(0);
        return std::tuple(r.fer_id, r.fer_active, r.fer_is_fd, r.fer_fd, r.fer_want_read,
                          r.fer_want_write, r.fer_timeout_ms);
    }
};

int no_handler(int, fdic_reason, void *, void *)
{
    return 0;
}

TEST(FdicRegistry, ReportsExactlyWhatChanged)
{
    Reports rep;
    fdic_context *fc = nullptr;
    ASSERT_EQ(fdic_init(&fc, Reports::consume, &rep), 0);
    int owner = 0;
    fdic_event_id fd_id = 0, t_id = 0;
    ASSERT_EQ(fdic_event_add_fd(fc, 7, 1, 0, &owner, no_handler, no_handler, nullptr, &fd_id), 0);
    EXPECT_EQ(fd_id, 1u);
    ASSERT_EQ(rep.batches.size(), 1u);
    ASSERT_EQ(rep.batches[0].size(), 1u);
    EXPECT_EQ(rep.last(), std::tuple(fd_id, 1, 1, 7, 1, 0, -1));

    // A timer without a timeout is not active: nothing to report.
    ASSERT_EQ(fdic_event_add_timer(fc, -1, &owner, no_handler, nullptr, &t_id), 0);
    EXPECT_EQ(t_id, 2u);
    EXPECT_EQ(rep.batches.size(), 1u);
    ASSERT_EQ(fdic_event_update_timer(fc, t_id, 250), 0);
    ASSERT_EQ(rep.batches.size(), 2u);
    EXPECT_EQ(rep.last(), std::tuple(t_id, 1, 0, -1, 0, 0, 250));
    // The same timeout again is a re-arm, and is reported.
    ASSERT_EQ(fdic_event_update_timer(fc, t_id, 250), 0);
    EXPECT_EQ(rep.batches.size(), 3u);

    ASSERT_EQ(fdic_event_update_fd(fc, fd_id, 1, 1), 0);
    ASSERT_EQ(rep.batches.size(), 4u);
    EXPECT_EQ(rep.last(), std::tuple(fd_id, 1, 1, 7, 1, 1, -1));

    const fdic_event_record *recs = nullptr;
    uint32 n = 0;
    ASSERT_EQ(fdic_events_query(fc, &recs, &n), 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(recs[0].fer_id, fd_id);
    EXPECT_EQ(recs[1].fer_id, t_id);

    // A delete reports the record as it was, inactive.
    ASSERT_EQ(fdic_event_delete_fd(fc, fd_id), 0);
    ASSERT_EQ(rep.batches.size(), 5u);
    EXPECT_EQ(rep.last(), std::tuple(fd_id, 0, 1, 7, 1, 1, -1));
    EXPECT_EQ(rep.batches[4][0].fer_owner_data, &owner);

    {
        LogCapture cap;
        EXPECT_EQ(fdic_event_update_fd(fc, 99, 1, 0), lc_err_not_found);
        EXPECT_TRUE(cap.contains("Asked to update event fd with bad id 99")) << cap.dump();
        EXPECT_EQ(cap.priorities().at(0), LCL_WARNING);
        EXPECT_EQ(fdic_event_update_fd(fc, t_id, 1, 0), lc_err_not_found); // a timer
        EXPECT_EQ(fdic_event_delete_timer(fc, fd_id), lc_err_not_found);   // already gone
    }
    EXPECT_EQ(rep.batches.size(), 5u);
    ASSERT_EQ(fdic_event_delete_timer(fc, t_id), 0);
    EXPECT_EQ(rep.batches.size(), 6u);
    ASSERT_EQ(fdic_deinit(&fc), 0);
    EXPECT_EQ(fc, nullptr);
    EXPECT_EQ(rep.batches.size(), 6u); // deinit reports nothing
}

// The daemon's wiring: lew context -> core -> adapter -> registry.
class FdicAdapter : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(lew_init(&lwc), 0);
        ASSERT_EQ(lew_get_event_context(lwc, &core), 0);
        ASSERT_EQ(fdic_libevent_init(core, &adapter), 0);
        ASSERT_EQ(fdic_init(&fc, fdic_libevent_callback, adapter), 0);
        ASSERT_EQ(fdic_libevent_set_fd_open_handler(adapter, Log::handler, &opens), 0);
        ASSERT_EQ(fdic_libevent_set_fd_close_handler(adapter, Log::handler, &closes), 0);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(fdic_libevent_deinit(&adapter), 0);
        EXPECT_EQ(fdic_deinit(&fc), 0);
        EXPECT_EQ(evc_base_num_inserted(core), 0u);
        EXPECT_EQ(evc_base_num_timeouts(core), 0u);
        EXPECT_EQ(lew_deinit(&lwc), 0);
        close(sv[0]);
        close(sv[1]);
    }
    void pass() { ASSERT_EQ(lew_dispatch_nonblocking(lwc, nullptr, nullptr), 0); }

    // Handler calls, as "fd/reason/owner".
    struct Log {
        std::vector<std::string> calls;
        static int handler(int fd, fdic_reason reason, void *owner, void *data)
        {
            static_cast<Log *>(data)->calls.push_back(std::to_string(fd) + "/" +
                                                      std::to_string(reason) + "/" +
                                                      (owner ? "owner" : "null"));
            return 0;
        }
    };
    std::string call(int fd, int reason) const
    {
        return std::to_string(fd) + "/" + std::to_string(reason) + "/owner";
    }

    lew_context *lwc = nullptr;
    evc_base *core = nullptr;
    fdic_libevent_context *adapter = nullptr;
    fdic_context *fc = nullptr;
    int sv[2] = {-1, -1};
    int owner = 0;
    Log opens, closes, io;
};

TEST_F(FdicAdapter, DescriptorLifecycleCallsOpenIoAndCloseHandlers)
{
    fdic_event_id id = 0;
    ASSERT_EQ(fdic_event_add_fd(fc, sv[0], 1, 0, &owner, Log::handler, Log::handler, &io, &id), 0);
    EXPECT_EQ(opens.calls, std::vector<std::string>{call(sv[0], fdic_reason_fd_added)});

    pass(); // nothing readable, writable not asked for
    EXPECT_TRUE(io.calls.empty());
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    pass();
    EXPECT_EQ(io.calls, std::vector<std::string>{call(sv[0], fdic_reason_read)});

    // Asking for write as well: both handlers in one round; the watch stays.
    ASSERT_EQ(fdic_event_update_fd(fc, id, 1, 1), 0);
    EXPECT_EQ(opens.calls.size(), 1u); // an update is not a new descriptor
    io.calls.clear();
    pass();
    EXPECT_EQ(io.calls, (std::vector<std::string>{call(sv[0], fdic_reason_read),
                                                  call(sv[0], fdic_reason_write)}));

    ASSERT_EQ(fdic_event_delete_fd(fc, id), 0);
    EXPECT_EQ(closes.calls, std::vector<std::string>{call(sv[0], fdic_reason_fd_removed)});
    io.calls.clear();
    pass();
    EXPECT_TRUE(io.calls.empty());
}

TEST_F(FdicAdapter, TimerFiresAndIsReArmedByEveryUpdate)
{
    fdic_event_id id = 0;
    ASSERT_EQ(fdic_event_add_timer(fc, 0, &owner, Log::handler, &io, &id), 0);
    ASSERT_EQ(lew_dispatch_once(lwc, nullptr, nullptr), 0);
    EXPECT_EQ(io.calls, std::vector<std::string>{call(-1, fdic_reason_timeout)});
    ASSERT_EQ(fdic_event_update_timer(fc, id, 0), 0);
    ASSERT_EQ(lew_dispatch_once(lwc, nullptr, nullptr), 0);
    EXPECT_EQ(io.calls.size(), 2u);
    // Disarmed: the loop has nothing left to wait for.
    ASSERT_EQ(fdic_event_update_timer(fc, id, -1), 0);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(lwc, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(io.calls.size(), 2u);
    ASSERT_EQ(fdic_event_delete_timer(fc, id), 0);
    EXPECT_TRUE(opens.calls.empty()); // timers are not descriptors
    EXPECT_TRUE(closes.calls.empty());
}

// The session pattern: a read of 0 bytes is the peer's close, and the read
// handler deletes its own record; the write handler of that round is not
// called and the close handler reports the descriptor.
TEST_F(FdicAdapter, ReadHandlerMayDeleteItsOwnRecord)
{
    struct Session {
        fdic_context *fc;
        fdic_event_id id = 0;
        int reads = 0, writes = 0;
        static int on_read(int fd, fdic_reason, void *, void *data)
        {
            auto *s = static_cast<Session *>(data);
            ++s->reads;
            char buf[8];
            if (read(fd, buf, sizeof buf) == 0) bail_error(fdic_event_delete_fd(s->fc, s->id));
            return 0;
        }
        static int on_write(int, fdic_reason, void *, void *data)
        {
            ++static_cast<Session *>(data)->writes;
            return 0;
        }
    } s{fc};
    ASSERT_EQ(
        fdic_event_add_fd(fc, sv[0], 1, 1, &owner, Session::on_read, Session::on_write, &s, &s.id),
        0);
    close(sv[1]);
    sv[1] = -1;
    pass();
    EXPECT_EQ(s.reads, 1);
    EXPECT_EQ(s.writes, 0);
    EXPECT_EQ(closes.calls, std::vector<std::string>{call(sv[0], fdic_reason_fd_removed)});
    pass();
    EXPECT_EQ(s.reads, 1);
}

TEST_F(FdicAdapter, HandlerErrorsAreLoggedAndTheWatchGoesOn)
{
    auto failing = [](int, fdic_reason, void *, void *data) -> int {
        ++*static_cast<int *>(data);
        return lc_err_io_error;
    };
    int calls = 0;
    fdic_event_id id = 0;
    ASSERT_EQ(fdic_event_add_fd(fc, sv[0], 1, 0, &owner, failing, nullptr, &calls, &id), 0);
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    LogCapture cap;
    pass();
    pass();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(cap.count("Error code 14014 (generic IO error) returned"), 2u) << cap.dump();
    ASSERT_EQ(fdic_event_delete_fd(fc, id), 0);
}

// Deinit of the adapter drops its events without calling handlers; the
// registry can then go too.
TEST_F(FdicAdapter, DeinitUnregistersEverythingQuietly)
{
    fdic_event_id a = 0, b = 0;
    ASSERT_EQ(fdic_event_add_fd(fc, sv[0], 1, 1, &owner, Log::handler, Log::handler, &io, &a), 0);
    ASSERT_EQ(fdic_event_add_timer(fc, 60000, &owner, Log::handler, &io, &b), 0);
    EXPECT_EQ(evc_base_num_inserted(core), 1u);
    EXPECT_EQ(evc_base_num_timeouts(core), 1u);
    ASSERT_EQ(fdic_libevent_deinit(&adapter), 0);
    EXPECT_EQ(evc_base_num_inserted(core), 0u);
    EXPECT_EQ(evc_base_num_timeouts(core), 0u);
    EXPECT_TRUE(closes.calls.empty());
}

} // namespace
