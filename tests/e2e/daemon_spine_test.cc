// The daemon process end to end: start-up lines, the signals that end it
// and the ones it only logs, and its exit status.
#include <signal.h>
#include <syslog.h>

#include <string>

#include "appliance/qz_log_facility.h"
#include "log/logging.h"
#include "support/e2e_harness.h"

namespace
{

class DaemonSpine : public E2eTest
{
  protected:
    pid_t start_ready() { return h.start_ready("# empty\n"); }

    // Status 0, the ready exit line once, and no line at WARNING or above.
    void expect_clean_exit(pid_t pid)
    {
        h.expect_exit_zero(pid);
        EXPECT_EQ(h.count_message("IP Tracking daemon exiting. daemon state: ready"), 1u)
            << h.dump();
        EXPECT_EQ(h.count_if([](const E2eSyslogLine &l) { return l.level() <= LOG_WARNING; }), 0u)
            << h.dump();
    }
};

std::string signal_test_name(const ::testing::TestParamInfo<int> &p)
{
    return sigabbrev_np(p.param);
}

std::string received(int sig)
{
    return std::string("iptrackd_handle_signal: Received SIG") + sigabbrev_np(sig);
}

} // namespace

TEST_F(DaemonSpine, StartsWithLaunchedThenReadyAtNoticeOnLocal1)
{
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);
    const auto lines = h.lines();
    ASSERT_GE(lines.size(), 3u) << h.dump();
    EXPECT_EQ(lines[0].message, "IP Tracking daemon launched");
    EXPECT_EQ(lines[1].message, "iptrack_init: initialize tables and start the req timer");
    EXPECT_EQ(lines[2].message, "IP Tracking daemon ready");
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].ident, "iptrackd");
        EXPECT_EQ(lines[i].pid, pid);
        EXPECT_EQ(lines[i].priority, LOG_LOCAL1 | LOG_NOTICE);
        EXPECT_EQ(lines[i].component, "iptrackd");
        EXPECT_EQ(lines[i].level_name, "NOTICE");
        EXPECT_TRUE(lines[i].body.starts_with("CPU ")) << lines[i].body;
    }
    EXPECT_TRUE(h.running(pid));
}

TEST_F(DaemonSpine, LogsOnTheFacilityTheApplianceAssigns)
{
    ASSERT_EQ(h.write_file(QZ_LOG_FACILITY_FILE, "# test\nsystem 184\n"), 0);
    ASSERT_GT(start_ready(), 0);
    const auto ready = h.wait_line("IP Tracking daemon ready");
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->priority, LOG_LOCAL7 | LOG_NOTICE);
}

class DaemonEndingSignal : public DaemonSpine, public ::testing::WithParamInterface<int>
{
};

TEST_P(DaemonEndingSignal, ExitsWithStatusZeroAndTheReadyExitLine)
{
    const int sig = GetParam();
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(h.signal(pid, sig));
    expect_clean_exit(pid);
    EXPECT_EQ(h.count_message(received(sig)), 1u) << h.dump();
}

INSTANTIATE_TEST_SUITE_P(Signals, DaemonEndingSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         signal_test_name);

class DaemonLoggedSignal : public DaemonSpine, public ::testing::WithParamInterface<int>
{
};

TEST_P(DaemonLoggedSignal, OnlyLogsAndKeepsRunningEvenThroughABurst)
{
    const int sig = GetParam();
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(h.signal(pid, sig));
        ASSERT_TRUE(h.wait_count(received(sig), size_t(round))) << h.dump();
        EXPECT_EQ(h.wait_line(received(sig))->priority, LOG_LOCAL1 | LOG_NOTICE);
    }
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(h.signal(pid, sig)) << "after " << i;
    h.settle(e2e_ms(100));
    EXPECT_TRUE(h.running(pid));
    EXPECT_EQ(h.count("exiting"), 0u) << h.dump();

    ASSERT_TRUE(h.signal(pid, SIGTERM));
    expect_clean_exit(pid);
    // Pending signals of one kind merge, so fewer lines than signals is fine;
    // more is not.
    EXPECT_LE(h.count_message(received(sig)), 1002u);
}

INSTANTIATE_TEST_SUITE_P(Signals, DaemonLoggedSignal, ::testing::Values(SIGUSR1, SIGUSR2, SIGPIPE),
                         signal_test_name);

TEST_F(DaemonSpine, BelowTheSystemLevelItIsSilentYetEndsTheSame)
{
    // A system level of WARNING hides every line of a clean run.
    ASSERT_EQ(h.make_symlink("4", LC_LOG_LEVEL_LINK), 0);
    // The stand-in's own lines tell when the daemon is up: its last
    // registration, then its alarm session, then the configuration read.
    ASSERT_GT(h.start_mgmtd("# empty\n", "info"), 0);
    const pid_t pid = h.start_daemon();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(h.wait_line("(iptrackd) registered for /time/notify/zonechange")) << h.dump();
    ASSERT_TRUE(h.wait_count("accepted", 2)) << h.dump();
    h.settle(e2e_ms(300));
    ASSERT_TRUE(h.signal(pid, SIGUSR1));
    ASSERT_TRUE(h.signal(pid, SIGTERM));
    h.expect_exit_zero(pid);
    EXPECT_EQ(h.count_if([](const E2eSyslogLine &l) { return l.ident == "iptrackd"; }), 0u)
        << h.dump();
}
