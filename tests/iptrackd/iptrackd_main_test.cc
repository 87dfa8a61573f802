// The daemon's spine in-process: readiness, the signal handler's
// paths that a running daemon never shows, and the exit's failure path.
// The process-level behaviour (lines, exit statuses) is in
// tests/e2e/daemon_spine_test.cc.
#include "iptrackd_main.h"

#include <signal.h>

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace
{

// Puts the daemon's globals back as a fresh process has them.
class Spine : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(lew_init(&iptrackd_lwc), 0);
        for (int i = 0; i < iptrackd_num_signals; ++i)
            ASSERT_EQ(lew_event_reg_signal(iptrackd_lwc, &iptrackd_signal_events[i],
                                           iptrackd_signals[i], iptrackd_handle_signal, nullptr),
                      0);
    }
    void TearDown() override
    {
        EXPECT_EQ(lew_deinit(&iptrackd_lwc), 0);
        for (lew_event *ev : iptrackd_signal_events) EXPECT_EQ(ev, nullptr);
        m_daemon_status = iptrackd_status_initializing;
        iptrackd_exiting = 0;
    }
    LogCapture cap;
};

tbool escaped_after_one_pass()
{
    tbool escaped = 0;
    EXPECT_EQ(lew_dispatch_nonblocking(iptrackd_lwc, nullptr, &escaped), 0);
    return escaped;
}

} // namespace

TEST(SpineStatus, ReadinessFollowsTheStatus)
{
    EXPECT_FALSE(iptrackd_is_daemon_ready());
    m_daemon_status = iptrackd_status_failed_partial;
    EXPECT_FALSE(iptrackd_is_daemon_ready());
    m_daemon_status = iptrackd_status_ready;
    EXPECT_TRUE(iptrackd_is_daemon_ready());
    m_daemon_status = iptrackd_status_initializing;
}

TEST_F(Spine, UnexpectedSignalIsLoggedAsWarningAndChangesNothing)
{
    EXPECT_EQ(iptrackd_handle_signal(SIGALRM, lew_event_signal, nullptr, iptrackd_lwc), 0);
    ASSERT_EQ(cap.lines().size(), 2u) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with(": iptrackd_handle_signal: Received SIGALRM"))
        << cap.dump();
    EXPECT_TRUE(cap.lines()[1].ends_with(": Got unexpected signal SIGALRM")) << cap.dump();
    EXPECT_EQ(cap.priorities()[1], LCL_WARNING);
    EXPECT_EQ(iptrackd_exiting, 0);
    EXPECT_FALSE(escaped_after_one_pass());
    EXPECT_EQ(lew_delete_all_events(iptrackd_lwc), 0);
}

TEST_F(Spine, EndingSignalBeforeReadyLogsInitDeletesTheSignalsAndEscapes)
{
    EXPECT_EQ(iptrackd_handle_signal(SIGTERM, lew_event_signal, nullptr, iptrackd_lwc), 0);
    // The alarm thread's shutdown lines follow it.
    EXPECT_TRUE(cap.contains(": IP Tracking daemon exiting. daemon state: init")) << cap.dump();
    EXPECT_EQ(iptrackd_exiting, 1);
    for (lew_event *ev : iptrackd_signal_events) EXPECT_EQ(ev, nullptr);
    EXPECT_TRUE(escaped_after_one_pass());
    EXPECT_EQ(iptrackd_deinit(), 0);
    EXPECT_EQ(iptrackd_lwc, nullptr);
}

TEST_F(Spine, FailedSignalDeletionIsReturnedAndTheLoopKeepsRunning)
{
    // A handle that belongs to another loop cannot be deleted from ours.
    lew_context *other = nullptr;
    ASSERT_EQ(lew_init(&other), 0);
    lew_event *mine = iptrackd_signal_events[2];
    lew_event *foreign = nullptr;
    ASSERT_EQ(lew_event_reg_timer(other, &foreign, iptrackd_handle_signal, nullptr, 60000), 0);
    iptrackd_signal_events[2] = foreign;

    EXPECT_EQ(iptrackd_initiate_exit(), lc_err_not_found);
    EXPECT_EQ(iptrackd_signal_events[0], nullptr);
    EXPECT_EQ(iptrackd_signal_events[1], nullptr);
    EXPECT_NE(iptrackd_signal_events[3], nullptr);
    EXPECT_TRUE(cap.contains("Error code 14004 (item not found) returned")) << cap.dump();
    EXPECT_FALSE(escaped_after_one_pass());

    iptrackd_signal_events[2] = mine;
    EXPECT_EQ(lew_deinit(&other), 0);
    EXPECT_EQ(foreign, nullptr);
}
