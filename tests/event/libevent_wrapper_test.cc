// lew over a real loop: real pipes, real signals, a second thread.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "loop_helpers.h"
#include "support/log_capture.h"

namespace
{

long open_fd_count()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// One fired callback: what it was called with.
struct Call {
    int fd;
    lew_event_type kinds;
    bool operator==(const Call &) const = default;
};
using Calls = std::vector<Call>;

struct Recorder {
    Calls calls;
    int result = 0;
    static int cb(int fd, lew_event_type kinds, void *data, lew_context *)
    {
        auto *r = static_cast<Recorder *>(data);
        r->calls.push_back({fd, kinds});
        return r->result;
    }
};

// For handles that are the test's locals: delete every record before they go.
#define DELETE_ALL_AT_EXIT() lc_scope_guard delete_all_([&] { (void)lew_delete_all_events(ctx); })

class Lew : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fds_before_ = open_fd_count();
        ASSERT_EQ(lew_init(&ctx), 0);
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override
    {
        EXPECT_EQ(lew_deinit(&ctx), 0); // also frees and nulls h, h2, h3
        EXPECT_EQ(ctx, nullptr);
        EXPECT_EQ(open_fd_count(), fds_before_);
    }
    // The kinds `*h` is pending for, -1 when the query fails; `ms` (may be
    // null) gets the time left.
    static int pending(lew_context *c, lew_event **h, int64 *ms = nullptr)
    {
        lew_event_type kinds = 0;
        return lew_event_is_pending(c, h, &kinds, ms) == 0 ? int(kinds) : -1;
    }
    // Runs a full dispatch and returns whether it ended with nothing registered.
    tbool dispatch_until_idle()
    {
        tbool no_events = 0;
        EXPECT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
        return no_events;
    }
    lew_context *ctx = nullptr;
    long fds_before_ = 0;
    Recorder rec;
    lew_event *h = nullptr, *h2 = nullptr, *h3 = nullptr;
};

TEST_F(Lew, DispatchRunsTimersThenReportsNoEvents)
{
    EXPECT_EQ(dispatch_until_idle(), 1); // nothing registered
    EXPECT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);

    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 1), 0);
    tbool no_events = 0, escaped = 1;
    EXPECT_EQ(lew_dispatch(ctx, &no_events, &escaped), 0);
    EXPECT_EQ(rec.calls, (Calls{{-1, lew_event_timeout}}));
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(escaped, 0);
    EXPECT_NE(h, nullptr); // a fired timer keeps its record
}

// The record is found by the variable's address, even when the variable was
// nulled behind the wrapper's back.
TEST_F(Lew, RegisteringAgainReplacesCallbackDataAndDeadline)
{
    Recorder second;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 10), 0);
    lew_event *record = h;
    h = nullptr;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &second, 60000), 0);
    EXPECT_EQ(h, record); // same record, new registration

    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_timeout);
    EXPECT_GT(ms, 59000);
    void *data = nullptr;
    ASSERT_EQ(lew_event_get_data(ctx, &h, &data), 0);
    EXPECT_EQ(data, &second);

    // The live timer is replaced by a descriptor watch: only one of them.
    Pipe p;
    p.put();
    ASSERT_EQ(lew_event_reg_fd(ctx, &h, p.r, lew_event_read, 0, Recorder::cb, &rec), 0);
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_read);
    EXPECT_EQ(ms, -1);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_EQ(rec.calls, (Calls{{p.r, lew_event_read}}));
    EXPECT_TRUE(second.calls.empty());

    // A record whose variable is nulled and never reused is lew_deinit's.
    ASSERT_EQ(lew_event_reg_timer(ctx, &h2, Recorder::cb, &rec, 60000), 0);
    h2 = nullptr;
}

TEST_F(Lew, ForeignHandleIsRefusedAndLeftAlone)
{
    lew_context *other = nullptr;
    ASSERT_EQ(lew_init(&other), 0);
    lew_event *&mine = h, *&theirs = h2;
    ASSERT_EQ(lew_event_reg_timer(other, &theirs, Recorder::cb, &rec, 60000), 0);
    ASSERT_EQ(lew_event_reg_timer(ctx, &mine, Recorder::cb, &rec, 60000), 0);
    lew_event *theirs_rec = theirs;
    {
        LogCapture cap;
        EXPECT_EQ(lew_event_delete(ctx, &theirs), lc_err_not_found);
        EXPECT_EQ(lew_event_cancel(ctx, &theirs), lc_err_not_found);
        EXPECT_EQ(lew_event_reg_timer(ctx, &theirs, Recorder::cb, &rec, 5), lc_err_not_found);
        EXPECT_TRUE(cap.contains("Error code 14004 (item not found) returned")) << cap.dump();
    }
    EXPECT_EQ(theirs, theirs_rec);
    EXPECT_EQ(pending(other, &theirs), lew_event_timeout);

    // A copy of our own record in another variable is not a handle either.
    lew_event *copy = mine;
    EXPECT_EQ(lew_event_delete(ctx, &copy), lc_err_not_found);
    EXPECT_EQ(copy, mine);

    lew_event *none = nullptr;
    EXPECT_EQ(lew_event_delete(ctx, &none), 0);
    EXPECT_EQ(lew_event_cancel(ctx, &none), 0);

    ASSERT_EQ(lew_deinit(&other), 0);
    EXPECT_EQ(theirs, nullptr); // deinit nulls the caller's variables
}

TEST_F(Lew, BadRegistrationsAreRefusedWithoutARecord)
{
    LogCapture cap;
    EXPECT_EQ(
        lew_event_reg_fd(ctx, &h, 0, lew_event_read | lew_event_timeout, 1, Recorder::cb, &rec),
        lc_err_assertion_failed);
    EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    EXPECT_EQ(lew_event_reg_fd(ctx, &h, 0, lew_event_signal, 1, Recorder::cb, &rec),
              lc_err_assertion_failed);
    EXPECT_EQ(lew_event_reg_signal(ctx, &h, 0, Recorder::cb, &rec), lc_err_assertion_failed);
    EXPECT_EQ(lew_event_reg_signal(ctx, &h, 66, Recorder::cb, &rec), lc_err_assertion_failed);
    EXPECT_EQ(lew_event_reg_timer(ctx, &h, nullptr, &rec, 5), lc_err_unexpected_null);
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
    EXPECT_EQ(lew_event_reg_timer(ctx, nullptr, Recorder::cb, &rec, 5), lc_err_unexpected_null);
    EXPECT_EQ(lew_event_reg_timer(nullptr, &h, Recorder::cb, &rec, 5), lc_err_unexpected_null);
    EXPECT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, -1), lc_err_assertion_failed);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(lew_event_reschedule_timeout(ctx, &h, 5), lc_err_not_found);
    EXPECT_EQ(dispatch_until_idle(), 1);
}

// A callback that escapes ends lew_dispatch after the batch it is in, and
// the escape is never withdrawn.
TEST_F(Lew, EscapeFromCallbackEndsDispatchAndStays)
{
    int calls = 0;
    auto cb = [](int, lew_event_type, void *data, lew_context *lc) -> int {
        ++*static_cast<int *>(data);
        return lew_escape_from_dispatch(lc);
    };
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, cb, &calls, 0), 0);
    ASSERT_EQ(lew_event_reg_timer(ctx, &h2, Recorder::cb, &rec, 60000), 0);
    tbool escaped = 0;
    ASSERT_EQ(lew_dispatch(ctx, nullptr, &escaped), 0);
    EXPECT_EQ(escaped, 1);
    EXPECT_EQ(calls, 1);
    for (int i = 0; i < 2; ++i) {
        tbool no_events = 1;
        escaped = 0;
        ASSERT_EQ(lew_dispatch(ctx, &no_events, &escaped), 0);
        EXPECT_EQ(escaped, 1);
        EXPECT_EQ(no_events, 0);
        escaped = 0;
        ASSERT_EQ(lew_dispatch_once(ctx, nullptr, &escaped), 0);
        EXPECT_EQ(escaped, 1);
    }
}

TEST_F(Lew, OneShotFiresOncePersistentEveryRound)
{
    Pipe a, b;
    a.put();
    b.put();
    Recorder every, w;
    ASSERT_EQ(lew_event_reg_fd(ctx, &h, a.r, lew_event_read, 0, Recorder::cb, &rec), 0);
    ASSERT_EQ(lew_event_reg_fd(ctx, &h2, b.r, lew_event_read, 1, Recorder::cb, &every), 0);
    for (int i = 0; i < 3; ++i) {
        tbool no_events = 1;
        ASSERT_EQ(lew_dispatch_nonblocking(ctx, &no_events, nullptr), 0);
        EXPECT_EQ(no_events, 0);
    }
    EXPECT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(every.calls.size(), 3u);
    EXPECT_EQ(pending(ctx, &h), 0);
    EXPECT_EQ(pending(ctx, &h2), lew_event_read);

    // Once the data is consumed the persistent watch goes quiet.
    b.take();
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(every.calls.size(), 3u);
    // A write watch on an empty pipe is ready at once.
    ASSERT_EQ(lew_event_reg_fd(ctx, &h3, b.w, lew_event_write, 0, Recorder::cb, &w), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(w.calls, (Calls{{b.w, lew_event_write}}));
}

TEST_F(Lew, DescriptorDeadlineEndsTheWatchUnlessReadinessComesFirst)
{
    Pipe p;
    p.put();
    ASSERT_EQ(lew_event_reg_fd_timeout(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &rec, 60000),
              0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls, (Calls{{p.r, lew_event_read}}));
    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_read | lew_event_timeout);
    EXPECT_GT(ms, 0);

    // A deadline reached removes the event entirely.
    p.take();
    ASSERT_EQ(lew_event_reg_fd_timeout(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &rec, 1), 0);
    EXPECT_EQ(dispatch_until_idle(), 1); // nothing is left registered
    EXPECT_EQ(rec.calls, (Calls{{p.r, lew_event_read}, {p.r, lew_event_timeout}}));
    EXPECT_EQ(pending(ctx, &h), 0);
    p.put(); // readiness after the deadline reaches nobody
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 2u);
}

TEST_F(Lew, RescheduleAndCancelKeepTheRecord)
{
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 60000), 0);
    lew_event *record = h;
    ASSERT_EQ(lew_event_reschedule_timeout(ctx, &h, 0), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
    // Rearmed from its own callback's point of view: again, then cancelled.
    ASSERT_EQ(lew_event_reschedule_timeout(ctx, &h, 0), 0);
    ASSERT_EQ(lew_event_cancel(ctx, &h), 0);
    EXPECT_EQ(h, record);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_EQ(rec.calls.size(), 1u);
    // Reschedule without a deadline leaves a timer with nothing pending.
    ASSERT_EQ(lew_event_reschedule(ctx, &h), 0);
    EXPECT_EQ(pending(ctx, &h), 0);
    ASSERT_EQ(lew_event_delete(ctx, &h), 0);
    EXPECT_EQ(h, nullptr);
}

TEST_F(Lew, CallbackMayDeleteItsOwnHandleAndRearmOthers)
{
    struct State {
        lew_event *self = nullptr;
        lew_event *other = nullptr;
        int self_calls = 0;
        Recorder other_rec;
    } s;
    DELETE_ALL_AT_EXIT();
    auto cb = [](int, lew_event_type, void *data, lew_context *lc) -> int {
        auto *st = static_cast<State *>(data);
        ++st->self_calls;
        bail_error(lew_event_reg_timer(lc, &st->other, Recorder::cb, &st->other_rec, 0));
        bail_error(lew_event_delete(lc, &st->self));
        return 0;
    };
    Pipe p;
    p.put();
    ASSERT_EQ(lew_event_reg_fd(ctx, &s.self, p.r, lew_event_read, 1, cb, &s), 0);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_EQ(s.self_calls, 1);
    EXPECT_EQ(s.self, nullptr);
    EXPECT_EQ(s.other_rec.calls.size(), 1u);
}

// The synchronous request pattern: a callback runs single passes of the
// same loop until another event answers it.
TEST_F(Lew, NestedSinglePassesServeOtherEvents)
{
    struct State {
        Recorder answered;
        lew_event *answer = nullptr;
        int passes = 0;
    } s;
    DELETE_ALL_AT_EXIT();
    auto on_request = [](int, lew_event_type, void *data, lew_context *lc) -> int {
        auto *st = static_cast<State *>(data);
        bail_error(lew_event_reg_timer(lc, &st->answer, Recorder::cb, &st->answered, 5));
        for (tbool idle = 0; st->answered.calls.empty() && !idle; ++st->passes)
            bail_error(lew_dispatch_once(lc, &idle, nullptr));
        return 0;
    };
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, on_request, &s, 0), 0);
    ASSERT_EQ(lew_dispatch(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(s.answered.calls.size(), 1u);
    EXPECT_GE(s.passes, 1);
}

TEST_F(Lew, CallbackErrorsAreLoggedExceptCancelled)
{
    Recorder loud;
    rec.result = lc_err_cancelled;
    loud.result = lc_err_io_error;
    LogCapture cap;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 0), 0);
    ASSERT_EQ(lew_event_reg_timer(ctx, &h2, Recorder::cb, &loud, 0), 0);
    ASSERT_EQ(lew_dispatch(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size() + loud.calls.size(), 2u);
    ASSERT_EQ(cap.lines().size(), 1u) << cap.dump();
    EXPECT_TRUE(cap.contains("Error code 14014 (generic IO error) returned")) << cap.dump();
}

TEST_F(Lew, SignalArrivesAsALoopEventUntilItsWatchEnds)
{
    ASSERT_EQ(lew_event_reg_signal(ctx, &h, SIGUSR1, Recorder::cb, &rec), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_TRUE(rec.calls.empty()); // nothing ran inside the handler
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls, (Calls{{SIGUSR1, lew_event_signal}}));

    // Two arrivals before the loop runs are two calls; the watch persists.
    ASSERT_EQ(raise(SIGUSR1), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 3u);

    // Deleting the last watch, or its deadline passing, gives the signal its
    // old disposition back.
    ASSERT_EQ(lew_event_delete(ctx, &h), 0);
    ASSERT_EQ(lew_event_reg_signal_timeout(ctx, &h, SIGUSR2, Recorder::cb, &rec, 1), 0);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_EQ(rec.calls.back(), (Call{SIGUSR2, lew_event_timeout}));
    for (int sig : {SIGUSR1, SIGUSR2}) {
        struct sigaction sa = {};
        ASSERT_EQ(sigaction(sig, nullptr, &sa), 0);
        EXPECT_EQ(sa.sa_handler, SIG_DFL) << sig;
    }
}

// A signal, a registration or an escape from another thread each wake the
// owner waiting in poll.
TEST_F(Lew, OtherThreadWakesTheOwnerWaitingInPoll)
{
    Pipe p; // never readable: the owner waits the idle 5 s unless woken
    Recorder idle, timer;
    ASSERT_EQ(lew_event_reg_fd(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &idle), 0);
    ASSERT_EQ(lew_event_reg_signal(ctx, &h2, SIGUSR2, Recorder::cb, &rec), 0);
    const pid_t owner = this_tid();
    std::thread s([owner] {
        wait_until_in_poll(owner);
        kill(getpid(), SIGUSR2);
    });
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    s.join();
    EXPECT_EQ(rec.calls, (Calls{{SIGUSR2, lew_event_signal}}));
    ASSERT_EQ(lew_event_delete(ctx, &h2), 0);

    std::atomic<int> reg_result{-1};
    std::thread t([&] {
        wait_until_in_poll(owner);
        reg_result = lew_event_reg_timer(ctx, &h3, Recorder::cb, &timer, 0);
    });
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    t.join();
    EXPECT_EQ(reg_result, 0);
    EXPECT_EQ(timer.calls.size(), 1u);

    std::thread e([&] {
        wait_until_in_poll(owner);
        (void)lew_escape_from_dispatch(ctx);
    });
    tbool escaped = 0;
    ASSERT_EQ(lew_dispatch(ctx, nullptr, &escaped), 0);
    e.join();
    EXPECT_EQ(escaped, 1);
    EXPECT_TRUE(idle.calls.empty());
}

TEST_F(Lew, OnlyTheOwnerDispatchesAndALockHeldElsewhereBlocksIt)
{
    {
        LogCapture cap;
        int rc = 0;
        std::thread([&] { rc = lew_dispatch_nonblocking(ctx, nullptr, nullptr); }).join();
        EXPECT_EQ(rc, lc_err_assertion_failed);
        EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    }
    std::atomic<bool> locked{false}, release{false};
    std::thread t([&] {
        (void)lew_mutex_lock(ctx);
        (void)lew_mutex_lock(ctx); // recursive
        // Several calls appear as one to the owner.
        (void)lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 0);
        locked = true;
        while (!release) std::this_thread::yield();
        (void)lew_mutex_unlock(ctx);
        (void)lew_mutex_unlock(ctx);
    });
    while (!locked) std::this_thread::yield();
    const pid_t owner = this_tid();
    std::thread r([&] {
        wait_until_in_lock(owner);
        release = true;
    });
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_TRUE(release.load());
    t.join();
    r.join();
    EXPECT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(lew_mutex_unlock(ctx), lc_err_assertion_failed); // not held here
}

TEST_F(Lew, DumpListsEveryHandleAndDeleteAllNullsThem)
{
    Pipe p;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 60000), 0);
    ASSERT_EQ(lew_event_reg_fd(ctx, &h2, p.r, lew_event_read, 1, Recorder::cb, &rec), 0);
    ASSERT_EQ(lew_event_reg_signal(ctx, &h3, SIGUSR1, Recorder::cb, &rec), 0);
    {
        LogCapture cap;
        ASSERT_EQ(lew_dump_all_events(ctx), 0);
        char line[128];
        for (auto [n, fd, kind] :
             {std::tuple{1, p.r, lew_event_read}, {2, SIGUSR1, lew_event_signal}}) {
            snprintf(line, sizeof line, "Event %d: fd = %d, handler = %p, flags = %d", n, fd,
                     reinterpret_cast<void *>(&Recorder::cb), kind | lew_event_persist);
            EXPECT_TRUE(cap.contains(line)) << cap.dump();
        }
        EXPECT_EQ(cap.count("Event "), 3u);
    }
    ASSERT_EQ(lew_cancel_all_events(ctx), 0);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_NE(h, nullptr);
    ASSERT_EQ(lew_delete_all_events(ctx), 0);
    for (auto *e : {h, h2, h3}) EXPECT_EQ(e, nullptr);
}

TEST_F(Lew, ReadSuppressionHoldsBackReadiness)
{
    Pipe p;
    p.put();
    ASSERT_EQ(lew_event_reg_fd(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &rec), 0);
    ASSERT_EQ(lew_suppress_read_fds(ctx, 1), 0);
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_TRUE(rec.calls.empty());
    ASSERT_EQ(lew_suppress_read_fds(ctx, 0), 0);
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
}

TEST_F(Lew, HugeTimeoutIsCutNotWrapped)
{
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, INT64_MAX), 0);
    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_timeout);
    EXPECT_GT(ms, 0);
    EXPECT_LE(ms, int64{INT32_MAX} * 1000);
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_TRUE(rec.calls.empty());
}

TEST_F(Lew, ManyHandlesRegisteredInAnyOrderStayFindable)
{
    std::vector<lew_event *> handles(200, nullptr);
    DELETE_ALL_AT_EXIT();
    // Register in a scrambled order so the sorted insertion is exercised.
    for (uint32 k = 0; k < handles.size(); ++k) {
        const uint32 i = (k * 73) % handles.size();
        ASSERT_EQ(lew_event_reg_timer(ctx, &handles[i], Recorder::cb, &rec, 60000 + i), 0);
    }
    for (uint32 i = 0; i < handles.size(); i += 2) ASSERT_EQ(lew_event_delete(ctx, &handles[i]), 0);
    for (uint32 i = 0; i < handles.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_EQ(handles[i], nullptr);
            continue;
        }
        int64 ms = 0;
        ASSERT_EQ(lew_event_is_pending(ctx, &handles[i], nullptr, &ms), 0);
        EXPECT_GT(ms, 59000 + static_cast<int64>(i)) << i;
    }
    // A deleted handle can be registered again and is findable.
    ASSERT_EQ(lew_event_reg_timer(ctx, &handles[10], Recorder::cb, &rec, 0), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
}

} // namespace
