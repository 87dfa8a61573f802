// The event core on its own: deadlines against a controlled clock, the poll
// arrays' limit, signal ownership, activations, changes from other threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "event/event.h"
#include "log/logging.h"
#include "owner_wait.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace
{

struct Fired {
    std::vector<std::pair<int, uint16>> calls; // (tag, kinds)
};

struct Tagged {
    Fired *fired;
    int tag;
    static void cb(int, uint16 kinds, void *arg)
    {
        auto *t = static_cast<Tagged *>(arg);
        t->fired->calls.push_back({t->tag, kinds});
    }
};

class Core : public ::testing::Test
{
  protected:
    // Every test runs on the manual clock, at 1000 s unless it sets another.
    void SetUp() override
    {
        set_clock(1000);
        ASSERT_EQ(evc_base_new(&base), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(evc_base_free(&base), 0);
        lt_clock_restore_for_tests();
    }
    static void set_clock(int64 sec, int64 usec = 0)
    {
        lt_clock_set_manual_for_tests(sec * 1000000 + usec, sec * 1000);
    }
    int run_nonblocking() { return evc_loop(base, evc_loop_once | evc_loop_nonblock, nullptr); }
    evc_base *base = nullptr;
};

TEST_F(Core, TimersFireInDeadlineOrderWithTiesInArmingOrder)
{
    std::mt19937 rng(7);
    const int n = 1000;
    std::vector<evc_event> evs(n);
    std::vector<Tagged> tags(n);
    std::vector<std::pair<int64, int>> expected; // (deadline ms, tag)
    Fired fired;
    for (int i = 0; i < n; ++i) {
        const int64 ms = rng() % 50; // many ties
        tags[i] = {&fired, i};
        ASSERT_EQ(evc_event_assign(&evs[i], base, -1, 0, Tagged::cb, &tags[i]), 0);
        timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
        ASSERT_EQ(evc_event_add(&evs[i], &tv), 0);
        expected.push_back({ms, i});
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](auto &a, auto &b) { return a.first < b.first; });
    // Step the clock a millisecond at a time; each pass fires what is due.
    for (int ms = 0; ms < 50; ++ms) {
        set_clock(1000, ms * 1000);
        ASSERT_EQ(run_nonblocking(), 0);
    }
    ASSERT_EQ(fired.calls.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(fired.calls[i].first, expected[i].second) << i;
        EXPECT_EQ(fired.calls[i].second, evc_kind_timeout);
    }
    EXPECT_EQ(evc_base_num_timeouts(base), 0u);
}

TEST_F(Core, ClockGoingBackMovesEveryDeadlineBack)
{
    Fired fired;
    Tagged t{&fired, 1};
    evc_event ev;
    ASSERT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &t), 0);
    timeval one_sec{1, 0};
    ASSERT_EQ(evc_event_add(&ev, &one_sec), 0); // due at 1001 s

    set_clock(900); // the clock jumps back 100 s
    int64 left = 0;
    ASSERT_EQ(evc_event_pending(&ev, nullptr, &left), 0);
    EXPECT_EQ(left, 1000); // still one second away, not 101
    set_clock(900, 999000);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_TRUE(fired.calls.empty());
    set_clock(901);
    ASSERT_EQ(run_nonblocking(), 0);
    ASSERT_EQ(fired.calls.size(), 1u);

    // A clock moving forward leaves deadlines where they are.
    ASSERT_EQ(evc_event_add(&ev, &one_sec), 0); // due at 902
    set_clock(950);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_EQ(fired.calls.size(), 2u);
}

TEST_F(Core, DeadlineIsCutAtTheLargest32BitSecond)
{
    set_clock(INT32_MAX - 10);
    Fired fired;
    Tagged t{&fired, 1};
    evc_event ev;
    ASSERT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &t), 0);
    timeval far{1000000, 0};
    ASSERT_EQ(evc_event_add(&ev, &far), 0);
    int64 left = 0;
    ASSERT_EQ(evc_event_pending(&ev, nullptr, &left), 0);
    EXPECT_EQ(left, 10000);
    ASSERT_EQ(evc_event_del(&ev), 0);
}

TEST_F(Core, IdleWaitIsFiveSecondsAndDeadlinesShortenIt)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Fired fired;
    Tagged t{&fired, 1};
    evc_event rd, timer;
    ASSERT_EQ(evc_event_assign(&rd, base, p[0], evc_kind_read | evc_kind_persist, Tagged::cb, &t),
              0);
    ASSERT_EQ(evc_event_add(&rd, nullptr), 0);
    // Woken by an escape from another thread; the wait it chose stays
    // visible.
    const pid_t owner = this_tid();
    std::thread e([&] {
        wait_until_in_poll(owner);
        (void)evc_escape(base);
    });
    evc_stop stop = evc_stop_ran;
    ASSERT_EQ(evc_loop(base, 0, &stop), 0);
    e.join();
    EXPECT_EQ(stop, evc_stop_escaped);
    EXPECT_EQ(evc_base_last_wait_ms(base), evc_idle_wait_ms);

    // A deadline 50 ms away is the wait; the time passes on the manual clock
    // while the owner waits.
    evc_base *b2 = nullptr;
    ASSERT_EQ(evc_base_new(&b2), 0);
    ASSERT_EQ(evc_event_assign(&timer, b2, -1, 0, Tagged::cb, &t), 0);
    timeval tv{0, 50000};
    ASSERT_EQ(evc_event_add(&timer, &tv), 0);
    std::thread a([&] {
        wait_until_in_poll(owner);
        lt_clock_advance_for_tests(50);
    });
    ASSERT_EQ(evc_loop(b2, evc_loop_once, nullptr), 0);
    a.join();
    EXPECT_EQ(evc_base_last_wait_ms(b2), 50);
    EXPECT_EQ(fired.calls.size(), 1u);
    ASSERT_EQ(evc_base_free(&b2), 0);
    ASSERT_EQ(evc_event_del(&rd), 0);
    close(p[0]);
    close(p[1]);
}

TEST_F(Core, PollArraysStopAtTheDescriptorLimit)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Fired fired;
    Tagged t{&fired, 1};
    std::vector<evc_event> evs(evc_max_poll_entries + 1);
    for (uint32 i = 0; i < evc_max_poll_entries; ++i) {
        ASSERT_EQ(evc_event_assign(&evs[i], base, p[0], evc_kind_read, Tagged::cb, &t), 0);
        ASSERT_EQ(evc_event_add(&evs[i], nullptr), 0) << i;
    }
    LogCapture cap;
    evc_event &extra = evs[evc_max_poll_entries];
    ASSERT_EQ(evc_event_assign(&extra, base, p[0], evc_kind_read, Tagged::cb, &t), 0);
    EXPECT_EQ(evc_event_add(&extra, nullptr), lc_err_no_space);
    EXPECT_TRUE(cap.contains("too many fds")) << cap.dump();
    uint16 kinds = 1;
    ASSERT_EQ(evc_event_pending(&extra, &kinds, nullptr), 0);
    EXPECT_EQ(kinds, 0);
    EXPECT_EQ(evc_base_num_inserted(base), evc_max_poll_entries);
    // Room again after a removal.
    ASSERT_EQ(evc_event_del(&evs[5]), 0);
    EXPECT_EQ(evc_event_add(&extra, nullptr), 0);
    for (auto &ev : evs) ASSERT_EQ(evc_event_del(&ev), 0);
    close(p[0]);
    close(p[1]);
}

TEST_F(Core, HangUpFiresTheKindsAskedFor)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    Fired fired;
    Tagged t{&fired, 1};
    evc_event ev;
    ASSERT_EQ(evc_event_assign(&ev, base, sv[0], evc_kind_read, Tagged::cb, &t), 0);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
    close(sv[1]);
    ASSERT_EQ(run_nonblocking(), 0);
    ASSERT_EQ(fired.calls.size(), 1u);
    EXPECT_EQ(fired.calls[0].second, evc_kind_read);
    close(sv[0]);
}

TEST_F(Core, OneShotSignalWatchFiresOnceAndRestoresTheDisposition)
{
    struct sigaction ign = {};
    ign.sa_handler = SIG_IGN;
    struct sigaction old = {};
    ASSERT_EQ(sigaction(SIGUSR2, &ign, &old), 0);
    Fired fired;
    Tagged t{&fired, 1};
    evc_event ev;
    ASSERT_EQ(evc_event_assign(&ev, base, SIGUSR2, evc_kind_signal, Tagged::cb, &t), 0);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
    ASSERT_EQ(raise(SIGUSR2), 0);
    ASSERT_EQ(raise(SIGUSR2), 0);
    ASSERT_EQ(run_nonblocking(), 0);
    ASSERT_EQ(fired.calls.size(), 1u); // unlinked at the first arrival
    EXPECT_EQ(fired.calls[0].second, evc_kind_signal);
    struct sigaction now = {};
    ASSERT_EQ(sigaction(SIGUSR2, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ASSERT_EQ(sigaction(SIGUSR2, &old, nullptr), 0);
}

TEST_F(Core, ASignalHasOneWatchingBase)
{
    evc_base *other = nullptr;
    ASSERT_EQ(evc_base_new(&other), 0);
    Fired fired;
    Tagged t{&fired, 1};
    evc_event mine, theirs;
    ASSERT_EQ(
        evc_event_assign(&mine, base, SIGUSR1, evc_kind_signal | evc_kind_persist, Tagged::cb, &t),
        0);
    ASSERT_EQ(evc_event_add(&mine, nullptr), 0);
    ASSERT_EQ(evc_event_assign(&theirs, other, SIGUSR1, evc_kind_signal | evc_kind_persist,
                               Tagged::cb, &t),
              0);
    {
        LogCapture cap;
        EXPECT_EQ(evc_event_add(&theirs, nullptr), lc_err_exists);
        EXPECT_TRUE(cap.contains("signal 10 is already watched by another event loop"))
            << cap.dump();
    }
    // Freeing the base gives the signal back.
    ASSERT_EQ(evc_base_free(&base), 0);
    EXPECT_EQ(evc_event_add(&theirs, nullptr), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    ASSERT_EQ(evc_loop(other, evc_loop_once | evc_loop_nonblock, nullptr), 0);
    EXPECT_EQ(fired.calls.size(), 1u);
    ASSERT_EQ(evc_event_del(&theirs), 0);
    ASSERT_EQ(evc_base_free(&other), 0);
    ASSERT_EQ(evc_base_new(&base), 0);
}

TEST_F(Core, DeleteInsideACallbackStopsTheRemainingCalls)
{
    struct State {
        evc_event ev;
        int calls = 0;
        bool delete_on_first = false;
        static void cb(int, uint16, void *arg)
        {
            auto *s = static_cast<State *>(arg);
            if (++s->calls == 1 && s->delete_on_first) (void)evc_event_del(&s->ev);
        }
    } s;
    ASSERT_EQ(evc_event_assign(&s.ev, base, -1, 0, State::cb, &s), 0);
    ASSERT_EQ(evc_event_activate(&s.ev, evc_kind_signal, 3), 0);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_EQ(s.calls, 3);

    s.calls = 0;
    s.delete_on_first = true;
    ASSERT_EQ(evc_event_activate(&s.ev, evc_kind_signal, 3), 0);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_EQ(s.calls, 1);
}

// Another thread deletes and frees an event while the owner waits in poll
// and the descriptor turns ready: the owner must not touch it afterwards.
TEST_F(Core, EventDeletedByAnotherThreadDuringTheWaitIsNotTouched)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Fired fired;
    Tagged t{&fired, 1}, tt{&fired, 2};
    auto *doomed = new evc_event;
    ASSERT_EQ(
        evc_event_assign(doomed, base, p[0], evc_kind_read | evc_kind_persist, Tagged::cb, &t), 0);
    ASSERT_EQ(evc_event_add(doomed, nullptr), 0);
    evc_event timer;
    ASSERT_EQ(evc_event_assign(&timer, base, -1, 0, Tagged::cb, &tt), 0);
    timeval tv{0, 200000};
    ASSERT_EQ(evc_event_add(&timer, &tv), 0);

    const pid_t owner = this_tid();
    std::thread other([&] {
        wait_until_in_poll(owner);
        (void)evc_lock(base);
        ASSERT_EQ(write(p[1], "x", 1), 1);
        wait_until_in_lock(owner); // poll returned; the owner wants the lock back
        (void)evc_event_del(doomed);
        delete doomed;
        lt_clock_advance_for_tests(200); // the timer ends the pass
        (void)evc_unlock(base);
    });
    ASSERT_EQ(evc_loop(base, evc_loop_once, nullptr), 0);
    other.join();
    ASSERT_EQ(fired.calls.size(), 1u);
    EXPECT_EQ(fired.calls[0].first, 2);
    close(p[0]);
    close(p[1]);
}

TEST_F(Core, ShowMethodNamesTheBackend)
{
    setenv("EVENT_SHOW_METHOD", "1", 1);
    testing::internal::CaptureStderr();
    evc_base *b = nullptr;
    ASSERT_EQ(evc_base_new(&b), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    unsetenv("EVENT_SHOW_METHOD");
    EXPECT_EQ(err, "libevent using: poll\n");
    ASSERT_EQ(evc_base_free(&b), 0);
}

TEST_F(Core, MisuseIsRefused)
{
    Fired fired;
    Tagged t{&fired, 1};
    evc_event ev;
    LogCapture cap;
    EXPECT_EQ(evc_event_assign(&ev, base, 3, evc_kind_signal | evc_kind_read, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, 0, evc_kind_signal, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, evc_kind_read, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, 0, nullptr, &t), lc_err_unexpected_null);
    EXPECT_EQ(evc_event_add(&ev, nullptr), lc_err_unexpected_null); // never assigned
    ASSERT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &t), 0);
    timeval tv{10, 0};
    ASSERT_EQ(evc_event_add(&ev, &tv), 0);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &t), lc_err_assertion_failed);
    EXPECT_EQ(evc_unlock(base), lc_err_assertion_failed);
    ASSERT_EQ(evc_event_del(&ev), 0);
    EXPECT_EQ(evc_event_del(&ev), 0); // not pending is fine
}

} // namespace
