// The event core on its own: deadlines against a controlled clock, the poll
// arrays' limit, signal ownership, activations, changes from other threads;
// and the deadline tree under them, against a reference ordering.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

#include "event/deadline_tree.h"
#include "event/event.h"
#include "log/logging.h"
#include "loop_helpers.h"
#include "support/call_ok.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace
{

using Calls = std::vector<std::pair<int, uint16>>; // (tag, kinds)

struct Tagged {
    Calls *fired;
    int tag;
    static void cb(int, uint16 kinds, void *arg)
    {
        auto *t = static_cast<Tagged *>(arg);
        t->fired->push_back({t->tag, kinds});
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
        EXPECT_EQ(evc_base_free(&base), 0); // unlinks `ev` if still pending
        lt_clock_restore_for_tests();
    }
    static void set_clock(int64 sec, int64 usec = 0)
    {
        lt_clock_set_manual_for_tests(sec * 1000000 + usec, sec * 1000);
    }
    int run_nonblocking() { return evc_loop(base, evc_loop_once | evc_loop_nonblock, nullptr); }
    // Assigns `ev` to `base` with `t` as its callback's argument.
    void assign(int fd, uint16 kinds)
    {
        ASSERT_EQ(evc_event_assign(&ev, base, fd, kinds, Tagged::cb, &t), 0);
    }
    evc_base *base = nullptr;
    Calls fired;
    Tagged t{&fired, 1};
    evc_event ev;
};

TEST_F(Core, TimersFireInDeadlineOrderWithTiesInArmingOrder)
{
    std::mt19937 rng(7);
    const int n = 1000;
    std::vector<evc_event> evs(n);
    std::vector<Tagged> tags(n);
    std::vector<std::pair<int64, int>> expected; // (deadline ms, tag)
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
    ASSERT_EQ(fired.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(fired[i].first, expected[i].second) << i;
        EXPECT_EQ(fired[i].second, evc_kind_timeout);
    }
    EXPECT_EQ(evc_base_num_timeouts(base), 0u);
}

TEST_F(Core, ClockGoingBackMovesEveryDeadlineBack)
{
    assign(-1, 0);
    timeval one_sec{1, 0};
    ASSERT_EQ(evc_event_add(&ev, &one_sec), 0); // due at 1001 s

    set_clock(900); // the clock jumps back 100 s
    int64 left = 0;
    // Still one second away, not 101.
    EXPECT_EQ(ok(evc_event_pending(&ev, nullptr, &left), left), 1000);
    set_clock(900, 999000);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_TRUE(fired.empty());
    set_clock(901);
    ASSERT_EQ(run_nonblocking(), 0);
    ASSERT_EQ(fired.size(), 1u);

    // A clock moving forward leaves deadlines where they are.
    ASSERT_EQ(evc_event_add(&ev, &one_sec), 0); // due at 902
    set_clock(950);
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_EQ(fired.size(), 2u);
}

TEST_F(Core, DeadlineIsCutAtTheLargest32BitSecond)
{
    set_clock(INT32_MAX - 10);
    assign(-1, 0);
    timeval far{1000000, 0};
    ASSERT_EQ(evc_event_add(&ev, &far), 0);
    int64 left = 0;
    EXPECT_EQ(ok(evc_event_pending(&ev, nullptr, &left), left), 10000);
}

TEST_F(Core, IdleWaitIsFiveSecondsAndDeadlinesShortenIt)
{
    Pipe p;
    assign(p.r, evc_kind_read | evc_kind_persist);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
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
    // while the owner waits.  A new base, as the escape stays.
    evc_base *b2 = nullptr;
    ASSERT_EQ(evc_base_new(&b2), 0);
    ASSERT_EQ(evc_event_del(&ev), 0);
    ASSERT_EQ(evc_event_assign(&ev, b2, -1, 0, Tagged::cb, &t), 0);
    timeval tv{0, 50000};
    ASSERT_EQ(evc_event_add(&ev, &tv), 0);
    std::thread a([&] {
        wait_until_in_poll(owner);
        lt_clock_advance_for_tests(50);
    });
    ASSERT_EQ(evc_loop(b2, evc_loop_once, nullptr), 0);
    a.join();
    EXPECT_EQ(evc_base_last_wait_ms(b2), 50);
    EXPECT_EQ(fired.size(), 1u);
    ASSERT_EQ(evc_base_free(&b2), 0);
}

TEST_F(Core, PollArraysStopAtTheDescriptorLimit)
{
    Pipe p;
    std::vector<evc_event> evs(evc_max_poll_entries);
    for (auto &e : evs) {
        ASSERT_EQ(evc_event_assign(&e, base, p.r, evc_kind_read, Tagged::cb, &t), 0);
        ASSERT_EQ(evc_event_add(&e, nullptr), 0);
    }
    LogCapture cap;
    assign(p.r, evc_kind_read);
    EXPECT_EQ(evc_event_add(&ev, nullptr), lc_err_no_space);
    EXPECT_TRUE(cap.contains("too many fds")) << cap.dump();
    uint16 kinds = 1;
    EXPECT_EQ(ok(evc_event_pending(&ev, &kinds, nullptr), kinds), 0);
    EXPECT_EQ(evc_base_num_inserted(base), evc_max_poll_entries);
    // Room again after a removal.
    ASSERT_EQ(evc_event_del(&evs[5]), 0);
    EXPECT_EQ(evc_event_add(&ev, nullptr), 0);
    for (auto &e : evs) ASSERT_EQ(evc_event_del(&e), 0);
}

TEST_F(Core, HangUpFiresTheKindsAskedFor)
{
    Pipe p; // an empty pipe whose writer goes reports a hang-up alone
    assign(p.r, evc_kind_read);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
    close(p.w);
    p.w = -1;
    ASSERT_EQ(run_nonblocking(), 0);
    EXPECT_EQ(fired, (Calls{{1, evc_kind_read}}));
}

TEST_F(Core, OneShotSignalWatchFiresOnceAndRestoresTheDisposition)
{
    struct sigaction ign = {}, old = {}, now = {};
    ign.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGUSR2, &ign, &old), 0);
    assign(SIGUSR2, evc_kind_signal);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
    ASSERT_EQ(raise(SIGUSR2), 0);
    ASSERT_EQ(raise(SIGUSR2), 0);
    ASSERT_EQ(run_nonblocking(), 0);
    // Unlinked at the first arrival.
    EXPECT_EQ(fired, (Calls{{1, evc_kind_signal}}));
    EXPECT_EQ(ok(sigaction(SIGUSR2, nullptr, &now), now).sa_handler, SIG_IGN);
    ASSERT_EQ(sigaction(SIGUSR2, &old, nullptr), 0);
}

TEST_F(Core, ASignalHasOneWatchingBase)
{
    evc_base *other = nullptr;
    ASSERT_EQ(evc_base_new(&other), 0);
    assign(SIGUSR1, evc_kind_signal | evc_kind_persist);
    ASSERT_EQ(evc_event_add(&ev, nullptr), 0);
    evc_event theirs;
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
    EXPECT_EQ(fired.size(), 1u);
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
    for (bool del : {false, true}) {
        s.calls = 0;
        s.delete_on_first = del;
        ASSERT_EQ(evc_event_activate(&s.ev, evc_kind_signal, 3), 0);
        ASSERT_EQ(run_nonblocking(), 0);
        EXPECT_EQ(s.calls, del ? 1 : 3);
    }
}

// Another thread deletes and frees an event while the owner waits in poll
// and the descriptor turns ready: the owner must not touch it afterwards.
TEST_F(Core, EventDeletedByAnotherThreadDuringTheWaitIsNotTouched)
{
    Pipe p;
    Tagged tt{&fired, 2};
    auto *doomed = new evc_event;
    ASSERT_EQ(evc_event_assign(doomed, base, p.r, evc_kind_read | evc_kind_persist, Tagged::cb, &t),
              0);
    ASSERT_EQ(evc_event_add(doomed, nullptr), 0);
    ASSERT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &tt), 0);
    timeval tv{0, 200000};
    ASSERT_EQ(evc_event_add(&ev, &tv), 0);

    const pid_t owner = this_tid();
    std::thread other([&] {
        wait_until_in_poll(owner);
        (void)evc_lock(base);
        p.put();
        wait_until_in_lock(owner); // poll returned; the owner wants the lock back
        (void)evc_event_del(doomed);
        delete doomed;
        lt_clock_advance_for_tests(200); // the timer ends the pass
        (void)evc_unlock(base);
    });
    ASSERT_EQ(evc_loop(base, evc_loop_once, nullptr), 0);
    other.join();
    EXPECT_EQ(fired, (Calls{{2, evc_kind_timeout}}));
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
    LogCapture cap;
    EXPECT_EQ(evc_event_assign(&ev, base, 3, evc_kind_signal | evc_kind_read, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, 0, evc_kind_signal, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, evc_kind_read, Tagged::cb, &t),
              lc_err_assertion_failed);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, 0, nullptr, &t), lc_err_unexpected_null);
    EXPECT_EQ(evc_event_add(&ev, nullptr), lc_err_unexpected_null); // never assigned
    assign(-1, 0);
    timeval tv{10, 0};
    ASSERT_EQ(evc_event_add(&ev, &tv), 0);
    EXPECT_EQ(evc_event_assign(&ev, base, -1, 0, Tagged::cb, &t), lc_err_assertion_failed);
    EXPECT_EQ(evc_unlock(base), lc_err_assertion_failed);
    ASSERT_EQ(evc_event_del(&ev), 0);
    EXPECT_EQ(evc_event_del(&ev), 0); // not pending is fine
}

TEST(DeadlineTree, RandomInsertEraseKeepsOrderAndBalance)
{
    using detail::deadline_node, detail::deadline_tree;
    std::mt19937 rng(42);
    std::vector<deadline_node> nodes(2000);
    std::vector<uint32> seq(nodes.size()); // insertion sequence, to check ties
    std::vector<bool> in(nodes.size(), false);
    deadline_tree t;
    uint32 counter = 0;
    for (int step = 0; step < 20000; ++step) {
        const size_t i = rng() % nodes.size();
        if (in[i]) {
            t.erase(&nodes[i]);
        } else {
            nodes[i].key = static_cast<int64>(rng() % 60);
            seq[i] = counter++;
            t.insert(&nodes[i]);
        }
        in[i] = !in[i];
        ASSERT_TRUE(step % 97 != 0 || t.valid()) << step;
    }
    ASSERT_TRUE(t.valid());
    std::vector<deadline_node *> v;
    for (deadline_node *n = t.first(); n; n = deadline_tree::next(n)) v.push_back(n);
    ASSERT_EQ(v.size(), static_cast<size_t>(std::count(in.begin(), in.end(), true)));
    ASSERT_EQ(t.size(), v.size());
    // Ordered by deadline, ties by insertion.
    auto rank = [&](deadline_node *n) { return std::pair(n->key, seq[n - nodes.data()]); };
    for (size_t k = 1; k < v.size(); ++k) ASSERT_LT(rank(v[k - 1]), rank(v[k])) << k;
    // Drain from the front, as the loop does.
    while (deadline_node *n = t.first()) t.erase(n);
    EXPECT_TRUE(t.empty());
    EXPECT_TRUE(t.valid());
}

} // namespace
