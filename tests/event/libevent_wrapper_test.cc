// lew over a real loop: real pipes, real signals, a second thread; and fdic,
// the descriptor-interest reports, whose adapter puts them on a lew loop.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "loop_helpers.h"
#include "support/call_ok.h"
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
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &second, 3600000), 0);
    EXPECT_EQ(h, record); // same record, new registration

    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_timeout);
    EXPECT_GT(ms, 60000); // the hour, not the 10 ms
    void *data = nullptr;
    EXPECT_EQ(ok(lew_event_get_data(ctx, &h, &data), data), &second);

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
    EXPECT_EQ(ok(lew_dispatch(ctx, nullptr, &escaped), escaped), 1);
    EXPECT_EQ(calls, 1);
    for (int i = 0; i < 2; ++i) {
        tbool no_events = 1;
        escaped = 0;
        EXPECT_EQ(ok(lew_dispatch(ctx, &no_events, &escaped), escaped), 1);
        EXPECT_EQ(no_events, 0);
        escaped = 0;
        EXPECT_EQ(ok(lew_dispatch_once(ctx, nullptr, &escaped), escaped), 1);
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
    EXPECT_EQ(ok(lew_event_cancel(ctx, &h), h), record);
    EXPECT_EQ(dispatch_until_idle(), 1);
    EXPECT_EQ(rec.calls.size(), 1u);
    // Reschedule without a deadline leaves a timer with nothing pending.
    ASSERT_EQ(lew_event_reschedule(ctx, &h), 0);
    EXPECT_EQ(pending(ctx, &h), 0);
    EXPECT_EQ(ok(lew_event_delete(ctx, &h), h), nullptr);
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
        EXPECT_EQ(ok(sigaction(sig, nullptr, &sa), sa).sa_handler, SIG_DFL) << sig;
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
    // Deadlines a minute apart: each handle must find its own.
    auto due = [](uint32 i) { return int64{3600000} + i * 60000; };
    // Register in a scrambled order so the sorted insertion is exercised.
    for (uint32 k = 0; k < handles.size(); ++k) {
        const uint32 i = (k * 73) % handles.size();
        ASSERT_EQ(lew_event_reg_timer(ctx, &handles[i], Recorder::cb, &rec, due(i)), 0);
    }
    for (uint32 i = 0; i < handles.size(); i += 2) ASSERT_EQ(lew_event_delete(ctx, &handles[i]), 0);
    for (uint32 i = 0; i < handles.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_EQ(handles[i], nullptr);
            continue;
        }
        int64 ms = 0;
        EXPECT_GT(ok(lew_event_is_pending(ctx, &handles[i], nullptr, &ms), ms), due(i) - 30000)
            << i;
        EXPECT_LE(ms, due(i)) << i;
    }
    // A deleted handle can be registered again and is findable.
    ASSERT_EQ(lew_event_reg_timer(ctx, &handles[10], Recorder::cb, &rec, 0), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
}

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
    EXPECT_EQ(
        ok(fdic_event_add_fd(fc, 7, 1, 0, &owner, no_handler, no_handler, nullptr, &fd_id), fd_id),
        1u);
    ASSERT_EQ(rep.batches.size(), 1u);
    ASSERT_EQ(rep.batches[0].size(), 1u);
    EXPECT_EQ(rep.last(), std::tuple(fd_id, 1, 1, 7, 1, 0, -1));

    // A timer without a timeout is not active: nothing to report.
    EXPECT_EQ(ok(fdic_event_add_timer(fc, -1, &owner, no_handler, nullptr, &t_id), t_id), 2u);
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
    ASSERT_EQ(ok(fdic_events_query(fc, &recs, &n), n), 2u);
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
    EXPECT_EQ(ok(fdic_deinit(&fc), fc), nullptr);
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
    static std::string call(int fd, int reason, bool owner = true)
    {
        return std::to_string(fd) + "/" + std::to_string(reason) + (owner ? "/owner" : "/null");
    }
    struct Log {
        std::vector<std::string> calls;
        static int handler(int fd, fdic_reason reason, void *owner, void *data)
        {
            static_cast<Log *>(data)->calls.push_back(call(fd, reason, owner));
            return 0;
        }
    };

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
