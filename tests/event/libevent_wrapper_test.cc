// lew over a real loop: real pipes, real signals, a second thread.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "owner_wait.h"
#include "support/log_capture.h"

namespace
{

int open_fd_count()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

struct Pipe {
    int r = -1, w = -1;
    Pipe()
    {
        int p[2];
        if (pipe(p) == 0) {
            r = p[0];
            w = p[1];
        }
    }
    ~Pipe()
    {
        if (r >= 0) close(r);
        if (w >= 0) close(w);
    }
    void put(const char *s = "x") { ASSERT_EQ(write(w, s, 1), 1); }
    void take()
    {
        char c;
        ASSERT_EQ(read(r, &c, 1), 1);
    }
};

// One fired callback: what it was called with.
struct Call {
    int fd;
    lew_event_type kinds;
    void *data;
};

struct Recorder {
    std::vector<Call> calls;
    int result = 0;
    static int cb(int fd, lew_event_type kinds, void *data, lew_context *)
    {
        auto *r = static_cast<Recorder *>(data);
        r->calls.push_back({fd, kinds, data});
        return r->result;
    }
};

// Handles are the test's locals: delete every record before they go.
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
        EXPECT_EQ(lew_deinit(&ctx), 0);
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
    lew_context *ctx = nullptr;
    int fds_before_ = 0;
};

TEST_F(Lew, DispatchRunsTimersThenReportsNoEvents)
{
    tbool no_events = 0, escaped = 1;
    EXPECT_EQ(lew_dispatch(ctx, &no_events, &escaped), 0); // nothing registered
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);

    Recorder rec;
    lew_event *t = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &t, Recorder::cb, &rec, 1), 0);
    no_events = 0;
    EXPECT_EQ(lew_dispatch(ctx, &no_events, &escaped), 0);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].fd, -1);
    EXPECT_EQ(rec.calls[0].kinds, lew_event_timeout);
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(escaped, 0);
    EXPECT_NE(t, nullptr); // a fired timer keeps its record
}

TEST_F(Lew, RegisteringAgainReplacesCallbackDataAndDeadline)
{
    Recorder first, second;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &first, 10), 0);
    lew_event *rec = h;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &second, 60000), 0);
    EXPECT_EQ(h, rec); // same record, new registration

    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_timeout);
    EXPECT_GT(ms, 59000);
    void *data = nullptr;
    ASSERT_EQ(lew_event_get_data(ctx, &h, &data), 0);
    EXPECT_EQ(data, &second);

    // The live timer is replaced by a descriptor watch: only one of them.
    Pipe p;
    p.put();
    ASSERT_EQ(lew_event_reg_fd(ctx, &h, p.r, lew_event_read, 0, Recorder::cb, &first), 0);
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_read);
    EXPECT_EQ(ms, -1);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    ASSERT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(first.calls[0].fd, p.r);
    EXPECT_EQ(first.calls[0].kinds, lew_event_read);
    EXPECT_TRUE(second.calls.empty());
}

TEST_F(Lew, ForeignHandleIsRefusedAndLeftAlone)
{
    lew_context *other = nullptr;
    ASSERT_EQ(lew_init(&other), 0);
    Recorder rec;
    lew_event *mine = nullptr, *theirs = nullptr;
    DELETE_ALL_AT_EXIT();
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
    Recorder rec;
    lew_event *h = nullptr;
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
    tbool no_events = 0;
    EXPECT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
}

// A callback that escapes ends lew_dispatch after the batch it is in, and
// the escape is never withdrawn.
TEST_F(Lew, EscapeFromCallbackEndsDispatchAndStays)
{
    struct Ctx {
        int calls = 0;
    } c;
    auto cb = [](int, lew_event_type, void *data, lew_context *lc) -> int {
        ++static_cast<Ctx *>(data)->calls;
        return lew_escape_from_dispatch(lc);
    };
    lew_event *t = nullptr, *later = nullptr;
    DELETE_ALL_AT_EXIT();
    Recorder rec;
    ASSERT_EQ(lew_event_reg_timer(ctx, &t, cb, &c, 0), 0);
    ASSERT_EQ(lew_event_reg_timer(ctx, &later, Recorder::cb, &rec, 60000), 0);
    tbool escaped = 0;
    ASSERT_EQ(lew_dispatch(ctx, nullptr, &escaped), 0);
    EXPECT_EQ(escaped, 1);
    EXPECT_EQ(c.calls, 1);
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
    Recorder once, every;
    lew_event *ho = nullptr, *hp = nullptr, *hw = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_fd(ctx, &ho, a.r, lew_event_read, 0, Recorder::cb, &once), 0);
    ASSERT_EQ(lew_event_reg_fd(ctx, &hp, b.r, lew_event_read, 1, Recorder::cb, &every), 0);
    for (int i = 0; i < 3; ++i) {
        tbool no_events = 1;
        ASSERT_EQ(lew_dispatch_nonblocking(ctx, &no_events, nullptr), 0);
        EXPECT_EQ(no_events, 0);
    }
    EXPECT_EQ(once.calls.size(), 1u);
    EXPECT_EQ(every.calls.size(), 3u);
    EXPECT_EQ(pending(ctx, &ho), 0);
    EXPECT_EQ(pending(ctx, &hp), lew_event_read);

    // Once the data is consumed the persistent watch goes quiet.
    b.take();
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(every.calls.size(), 3u);
    // A write watch on an empty pipe is ready at once.
    Recorder w;
    ASSERT_EQ(lew_event_reg_fd(ctx, &hw, b.w, lew_event_write, 0, Recorder::cb, &w), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    ASSERT_EQ(w.calls.size(), 1u);
    EXPECT_EQ(w.calls[0].kinds, lew_event_write);
}

TEST_F(Lew, DescriptorDeadlineEndsTheWatchUnlessReadinessComesFirst)
{
    Pipe p;
    p.put();
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_fd_timeout(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &rec, 60000),
              0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].kinds, lew_event_read);
    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_read | lew_event_timeout);
    EXPECT_GT(ms, 0);

    // A deadline reached removes the event entirely.
    p.take();
    ASSERT_EQ(lew_event_reg_fd_timeout(ctx, &h, p.r, lew_event_read, 1, Recorder::cb, &rec, 1), 0);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1); // nothing is left registered
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[1].kinds, lew_event_timeout);
    EXPECT_EQ(rec.calls[1].fd, p.r);
    EXPECT_EQ(pending(ctx, &h), 0);
    p.put(); // readiness after the deadline reaches nobody
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 2u);
}

TEST_F(Lew, RescheduleAndCancelKeepTheRecord)
{
    Recorder rec;
    lew_event *t = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &t, Recorder::cb, &rec, 60000), 0);
    lew_event *record = t;
    ASSERT_EQ(lew_event_reschedule_timeout(ctx, &t, 0), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
    // Rearmed from its own callback's point of view: again, then cancelled.
    ASSERT_EQ(lew_event_reschedule_timeout(ctx, &t, 0), 0);
    ASSERT_EQ(lew_event_cancel(ctx, &t), 0);
    EXPECT_EQ(t, record);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(rec.calls.size(), 1u);
    // Reschedule without a deadline leaves a timer with nothing pending.
    ASSERT_EQ(lew_event_reschedule(ctx, &t), 0);
    EXPECT_EQ(pending(ctx, &t), 0);
    ASSERT_EQ(lew_event_delete(ctx, &t), 0);
    EXPECT_EQ(t, nullptr);
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
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    EXPECT_EQ(s.self_calls, 1);
    EXPECT_EQ(s.self, nullptr);
    EXPECT_EQ(s.other_rec.calls.size(), 1u);
}

// The synchronous request pattern: a callback runs single passes of the
// same loop until another event answers it.
TEST_F(Lew, NestedSinglePassesServeOtherEvents)
{
    struct State {
        bool answered = false;
        int passes = 0;
        lew_event *answer = nullptr;
        static int on_answer(int, lew_event_type, void *data, lew_context *)
        {
            static_cast<State *>(data)->answered = true;
            return 0;
        }
        static int on_request(int, lew_event_type, void *data, lew_context *lc)
        {
            auto *st = static_cast<State *>(data);
            bail_error(lew_event_reg_timer(lc, &st->answer, on_answer, st, 5));
            while (!st->answered) {
                tbool no_events = 0;
                bail_error(lew_dispatch_once(lc, &no_events, nullptr));
                ++st->passes;
                if (no_events) break;
            }
            return 0;
        }
    } s;
    auto request_cb = State::on_request;
    lew_event *req = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &req, request_cb, &s, 0), 0);
    ASSERT_EQ(lew_dispatch(ctx, nullptr, nullptr), 0);
    EXPECT_TRUE(s.answered);
    EXPECT_GE(s.passes, 1);
}

TEST_F(Lew, CallbackErrorsAreLoggedExceptCancelled)
{
    Recorder quiet, loud;
    quiet.result = lc_err_cancelled;
    loud.result = lc_err_io_error;
    lew_event *a = nullptr, *b = nullptr;
    DELETE_ALL_AT_EXIT();
    {
        LogCapture cap;
        ASSERT_EQ(lew_event_reg_timer(ctx, &a, Recorder::cb, &quiet, 0), 0);
        ASSERT_EQ(lew_dispatch(ctx, nullptr, nullptr), 0);
        EXPECT_EQ(quiet.calls.size(), 1u);
        EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    }
    LogCapture cap;
    ASSERT_EQ(lew_event_reg_timer(ctx, &b, Recorder::cb, &loud, 0), 0);
    ASSERT_EQ(lew_dispatch(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(loud.calls.size(), 1u);
    EXPECT_EQ(cap.count("Error code 14014 (generic IO error) returned"), 1u) << cap.dump();
}

TEST_F(Lew, SignalArrivesAsALoopEvent)
{
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_signal(ctx, &h, SIGUSR1, Recorder::cb, &rec), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_TRUE(rec.calls.empty()); // nothing ran inside the handler
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].fd, SIGUSR1);
    EXPECT_EQ(rec.calls[0].kinds, lew_event_signal);

    // Two arrivals before the loop runs are two calls; the watch persists.
    ASSERT_EQ(raise(SIGUSR1), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 3u);

    // Deleting the last watch gives the signal its old disposition back.
    ASSERT_EQ(lew_event_delete(ctx, &h), 0);
    struct sigaction sa = {};
    ASSERT_EQ(sigaction(SIGUSR1, nullptr, &sa), 0);
    EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

TEST_F(Lew, SignalWakesALoopWaitingInPoll)
{
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_signal(ctx, &h, SIGUSR2, Recorder::cb, &rec), 0);
    const pid_t owner = this_tid();
    std::thread t([owner] {
        wait_until_in_poll(owner);
        kill(getpid(), SIGUSR2);
    });
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    t.join();
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].fd, SIGUSR2);
    ASSERT_EQ(lew_event_delete(ctx, &h), 0);
}

TEST_F(Lew, OtherThreadWakesTheOwnerWaitingInPoll)
{
    Pipe p; // never readable: the owner waits the idle 5 s unless woken
    Recorder idle, timer;
    lew_event *ph = nullptr, *th = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_fd(ctx, &ph, p.r, lew_event_read, 1, Recorder::cb, &idle), 0);
    std::atomic<int> reg_result{-1};
    const pid_t owner = this_tid();
    std::thread t([&] {
        wait_until_in_poll(owner);
        reg_result = lew_event_reg_timer(ctx, &th, Recorder::cb, &timer, 0);
    });
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    t.join();
    EXPECT_EQ(reg_result, 0);
    EXPECT_EQ(timer.calls.size(), 1u);

    // An escape from another thread ends a full dispatch the same way.
    std::thread e([&] {
        wait_until_in_poll(owner);
        (void)lew_escape_from_dispatch(ctx);
    });
    tbool escaped = 0;
    ASSERT_EQ(lew_dispatch(ctx, nullptr, &escaped), 0);
    e.join();
    EXPECT_EQ(escaped, 1);
}

TEST_F(Lew, OnlyTheOwnerThreadDispatches)
{
    int rc = 0;
    {
        LogCapture cap;
        std::thread t([&] { rc = lew_dispatch_nonblocking(ctx, nullptr, nullptr); });
        t.join();
        EXPECT_TRUE(cap.contains("Required condition was not met")) << cap.dump();
    }
    EXPECT_EQ(rc, lc_err_assertion_failed);
}

TEST_F(Lew, LockHeldByAnotherThreadBlocksTheLoop)
{
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
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
    Recorder rec;
    lew_event *h[3] = {};
    DELETE_ALL_AT_EXIT();
    Pipe p;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h[0], Recorder::cb, &rec, 60000), 0);
    ASSERT_EQ(lew_event_reg_fd(ctx, &h[1], p.r, lew_event_read, 1, Recorder::cb, &rec), 0);
    ASSERT_EQ(lew_event_reg_signal(ctx, &h[2], SIGUSR1, Recorder::cb, &rec), 0);
    {
        LogCapture cap;
        ASSERT_EQ(lew_dump_all_events(ctx), 0);
        char line[128];
        snprintf(line, sizeof line, "Event 1: fd = %d, handler = %p, flags = %d", p.r,
                 reinterpret_cast<void *>(&Recorder::cb), lew_event_read | lew_event_persist);
        EXPECT_TRUE(cap.contains(line)) << cap.dump();
        snprintf(line, sizeof line, "Event 2: fd = %d, handler = %p, flags = %d", SIGUSR1,
                 reinterpret_cast<void *>(&Recorder::cb), lew_event_signal | lew_event_persist);
        EXPECT_TRUE(cap.contains(line)) << cap.dump();
        EXPECT_EQ(cap.count("Event "), 3u);
    }
    ASSERT_EQ(lew_cancel_all_events(ctx), 0);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    EXPECT_NE(h[0], nullptr);
    ASSERT_EQ(lew_delete_all_events(ctx), 0);
    for (auto *e : h) EXPECT_EQ(e, nullptr);
}

TEST_F(Lew, ReadSuppressionHoldsBackReadiness)
{
    Pipe p;
    p.put();
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
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
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, INT64_MAX), 0);
    int64 ms = 0;
    EXPECT_EQ(pending(ctx, &h, &ms), lew_event_timeout);
    EXPECT_GT(ms, 0);
    EXPECT_LE(ms, int64{INT32_MAX} * 1000);
    ASSERT_EQ(lew_dispatch_nonblocking(ctx, nullptr, nullptr), 0);
    EXPECT_TRUE(rec.calls.empty());
}

} // namespace

TEST_F(Lew, ManyHandlesRegisteredInAnyOrderStayFindable)
{
    std::vector<lew_event *> handles(200, nullptr);
    DELETE_ALL_AT_EXIT();
    Recorder rec;
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

TEST_F(Lew, SignalDeadlineEndsTheWatch)
{
    Recorder rec;
    lew_event *h = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_signal_timeout(ctx, &h, SIGUSR2, Recorder::cb, &rec, 1), 0);
    tbool no_events = 0;
    ASSERT_EQ(lew_dispatch(ctx, &no_events, nullptr), 0);
    EXPECT_EQ(no_events, 1);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].fd, SIGUSR2);
    EXPECT_EQ(rec.calls[0].kinds, lew_event_timeout);
    struct sigaction sa = {};
    ASSERT_EQ(sigaction(SIGUSR2, nullptr, &sa), 0);
    EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

// A variable nulled behind the wrapper's back is still known by its address:
// registering through it again reuses the record, and nothing leaks.
TEST_F(Lew, NulledHandleVariableGetsItsRecordBack)
{
    Recorder rec;
    lew_event *h = nullptr, *other = nullptr;
    DELETE_ALL_AT_EXIT();
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 60000), 0);
    ASSERT_EQ(lew_event_reg_timer(ctx, &other, Recorder::cb, &rec, 60000), 0);
    lew_event *record = h;
    h = nullptr;
    ASSERT_EQ(lew_event_reg_timer(ctx, &h, Recorder::cb, &rec, 0), 0);
    EXPECT_EQ(h, record);
    ASSERT_EQ(lew_dispatch_once(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rec.calls.size(), 1u);
    other = nullptr; // left for lew_deinit to free
}
