// Per-event cost of the event loop against a minimal hand-written poll loop
// (std::multimap of deadlines, one pollfd array) doing the same work.
//
//   timers: arm 10,000 one-shot timers through their handles, then run the
//   loop until all have fired.  "Due" arms them all already due (deadlines
//   in arming order); "Spread" arms them at random points of one second
//   under a stepped clock, so the deadline order is shuffled.
//
//   pipes: N pipes each made readable by one byte; one loop pass runs N
//   persistent read callbacks that each read the byte back.
//
// Items processed = events, so the reported rate is events per second.
#include <benchmark/benchmark.h>

#include <map>
#include <poll.h>
#include <random>
#include <unistd.h>
#include <vector>

#include "event/libevent_wrapper.h"
#include "util/ttime.h"

namespace
{

constexpr int kTimers = 10000;

// "Spread" runs on the manual clock of util/ttime.h, moved a second per
// round; both loops read the same clock either way.
struct StepClock {
    explicit StepClock(bool on) : on_(on)
    {
        if (on_) lt_clock_set_manual_for_tests(1000000000, 1000000);
    }
    ~StepClock()
    {
        if (on_) lt_clock_restore_for_tests();
    }
    void advance_second() const
    {
        if (on_) lt_clock_advance_for_tests(1000);
    }
    bool on_;
};

std::vector<int64> spread_ms()
{
    std::mt19937 rng(1);
    std::vector<int64> ms(kTimers);
    for (auto &m : ms) m = rng() % 1000;
    return ms;
}

int count_cb(int, lew_event_type, void *data, lew_context *)
{
    ++*static_cast<int64 *>(data);
    return 0;
}

// --- the loop under test -----------------------------------------------------

void run_lew_timers(benchmark::State &state, bool spread)
{
    lew_context *ctx = nullptr;
    if (lew_init(&ctx) != 0) state.SkipWithError("lew_init");
    const StepClock clock(spread);
    const std::vector<int64> ms = spread ? spread_ms() : std::vector<int64>(kTimers, 0);
    std::vector<lew_event *> handles(kTimers, nullptr);
    int64 fired = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTimers; ++i)
            if (lew_event_reg_timer(ctx, &handles[i], count_cb, &fired, ms[i]) != 0)
                state.SkipWithError("reg");
        clock.advance_second();
        tbool no_events = 0;
        if (lew_dispatch(ctx, &no_events, nullptr) != 0 || !no_events)
            state.SkipWithError("dispatch");
    }
    if (fired != int64{kTimers} * state.iterations()) state.SkipWithError("lost timers");
    state.SetItemsProcessed(state.iterations() * kTimers);
    (void)lew_deinit(&ctx);
}

void BM_Lew_Timers_Due(benchmark::State &state)
{
    run_lew_timers(state, false);
}
void BM_Lew_Timers_Spread(benchmark::State &state)
{
    run_lew_timers(state, true);
}

// --- the floor: a minimal poll loop with a multimap of deadlines -----------------

struct FloorTimer {
    void (*cb)(void *);
    void *arg;
    std::multimap<int64, FloorTimer *>::iterator pos;
    bool armed = false;
};

struct FloorLoop {
    std::multimap<int64, FloorTimer *> deadlines;
    std::vector<pollfd> fds;
    std::vector<void (*)(int, void *)> fd_cbs;
    std::vector<void *> fd_args;

    void arm(FloorTimer *t, int64 ms)
    {
        if (t->armed) deadlines.erase(t->pos);
        t->pos = deadlines.emplace(lt_sys_monotonic_us() + ms * 1000, t);
        t->armed = true;
    }
    // One pass: poll without waiting when something is due, then run what
    // is ready and what is due.  Returns whether anything is left.
    bool pass()
    {
        int wait = -1;
        if (!deadlines.empty()) {
            const int64 d = deadlines.begin()->first - lt_sys_monotonic_us();
            wait = d <= 0 ? 0 : static_cast<int>((d + 999) / 1000);
        }
        const int n = poll(fds.data(), fds.size(), wait);
        if (n > 0)
            for (size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents) fd_cbs[i](fds[i].fd, fd_args[i]);
        const int64 t = lt_sys_monotonic_us();
        while (!deadlines.empty() && deadlines.begin()->first <= t) {
            FloorTimer *ft = deadlines.begin()->second;
            deadlines.erase(deadlines.begin());
            ft->armed = false;
            ft->cb(ft->arg);
        }
        return !deadlines.empty();
    }
};

void floor_count(void *arg)
{
    ++*static_cast<int64 *>(arg);
}

void run_floor_timers(benchmark::State &state, bool spread)
{
    FloorLoop loop;
    const StepClock clock(spread);
    int wake[2];
    if (pipe(wake) != 0) state.SkipWithError("pipe");
    loop.fds.push_back(pollfd{wake[0], POLLIN, 0}); // as the real loop, one idle descriptor
    loop.fd_cbs.push_back(nullptr);
    loop.fd_args.push_back(nullptr);
    const std::vector<int64> ms = spread ? spread_ms() : std::vector<int64>(kTimers, 0);
    int64 fired = 0;
    std::vector<FloorTimer> timers(kTimers, FloorTimer{floor_count, &fired, {}, false});
    for (auto _ : state) {
        for (int i = 0; i < kTimers; ++i) loop.arm(&timers[i], ms[i]);
        clock.advance_second();
        while (loop.pass()) {
        }
    }
    if (fired != int64{kTimers} * state.iterations()) state.SkipWithError("lost timers");
    state.SetItemsProcessed(state.iterations() * kTimers);
    close(wake[0]);
    close(wake[1]);
}

void BM_Floor_Timers_Due(benchmark::State &state)
{
    run_floor_timers(state, false);
}
void BM_Floor_Timers_Spread(benchmark::State &state)
{
    run_floor_timers(state, true);
}

// --- pipe read readiness ---------------------------------------------------------

struct Pipes {
    std::vector<int> r, w;
    explicit Pipes(int n)
    {
        for (int i = 0; i < n; ++i) {
            int p[2];
            if (pipe(p) != 0) break;
            r.push_back(p[0]);
            w.push_back(p[1]);
        }
    }
    ~Pipes()
    {
        for (int fd : r) close(fd);
        for (int fd : w) close(fd);
    }
    void fill()
    {
        for (int fd : w) (void)!write(fd, "x", 1);
    }
};

int lew_read_cb(int fd, lew_event_type, void *data, lew_context *)
{
    char c;
    if (read(fd, &c, 1) == 1) ++*static_cast<int64 *>(data);
    return 0;
}

void BM_Lew_PipeRead(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Pipes pipes(n);
    lew_context *ctx = nullptr;
    if (lew_init(&ctx) != 0) state.SkipWithError("lew_init");
    std::vector<lew_event *> handles(n, nullptr);
    int64 reads = 0;
    for (int i = 0; i < n; ++i)
        if (lew_event_reg_fd(ctx, &handles[i], pipes.r[i], lew_event_read, 1, lew_read_cb,
                             &reads) != 0)
            state.SkipWithError("reg");
    for (auto _ : state) {
        pipes.fill();
        if (lew_dispatch_once(ctx, nullptr, nullptr) != 0) state.SkipWithError("dispatch");
    }
    if (reads != int64{n} * state.iterations()) state.SkipWithError("lost reads");
    state.SetItemsProcessed(state.iterations() * n);
    (void)lew_deinit(&ctx);
}

void floor_read_cb(int fd, void *arg)
{
    char c;
    if (read(fd, &c, 1) == 1) ++*static_cast<int64 *>(arg);
}

void BM_Floor_PipeRead(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Pipes pipes(n);
    FloorLoop loop;
    int64 reads = 0;
    int wake[2];
    if (pipe(wake) != 0) state.SkipWithError("pipe");
    loop.fds.push_back(pollfd{wake[0], POLLIN, 0}); // the real loop polls its pipe too
    loop.fd_cbs.push_back(nullptr);
    loop.fd_args.push_back(nullptr);
    for (int i = 0; i < n; ++i) {
        loop.fds.push_back(pollfd{pipes.r[i], POLLIN, 0});
        loop.fd_cbs.push_back(floor_read_cb);
        loop.fd_args.push_back(&reads);
    }
    for (auto _ : state) {
        pipes.fill();
        (void)loop.pass();
    }
    if (reads != int64{n} * state.iterations()) state.SkipWithError("lost reads");
    state.SetItemsProcessed(state.iterations() * n);
    close(wake[0]);
    close(wake[1]);
}

} // namespace

BENCHMARK(BM_Floor_Timers_Due)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lew_Timers_Due)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_Timers_Spread)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lew_Timers_Spread)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_PipeRead)->Arg(1)->Arg(64);
BENCHMARK(BM_Lew_PipeRead)->Arg(1)->Arg(64);
