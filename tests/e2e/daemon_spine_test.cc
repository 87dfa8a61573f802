// The daemon process end to end: start-up lines, the signals that end it
// and the ones it only logs, its exit status, and its management session
// against the management stand-in and its command-line client (read
// through their syslog lines and the stand-in's journal).
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "appliance/qz_log_facility.h"
#include "log/logging.h"
#include "support/e2e_harness.h"

namespace
{

const char *const process_level = "/logging/syslog/process/iptrackd/log_level";

const char *const test_db = R"(# daemon session test
set /logging/syslog/action/file/\/var\/log\/messages/facility/all/min_priority string notice
set /logging/syslog/process/iptrackd/log_level string info
set /qz/iptrackd/config/manager/m1/enable bool true
set /qz/iptrackd/config/oper/op1/attributes string type=ip-monitor
set /other/x uint32 7
)";

class DaemonSpine : public E2eTest
{
  protected:
    pid_t mgmtd = -1;

    // The stand-in on `db` (kept quiet at crit unless asked), then the daemon up
    // to its ready line.
    pid_t start_ready(const std::string &db = "# empty\n", const std::string &level = "crit")
    {
        mgmtd = h.start_mgmtd(db, level);
        return mgmtd > 0 ? h.start_until_ready(E2eHarness::daemon_path()) : -1;
    }

    // Status 0, the ready exit line once, and no line at WARNING or above.
    void expect_clean_exit(pid_t pid)
    {
        h.expect_exit_zero(pid);
        EXPECT_EQ(h.count_message("IP Tracking daemon exiting. daemon state: ready"), 1u)
            << h.dump();
        EXPECT_EQ(h.count_if([](const E2eSyslogLine &l) { return l.level() <= LOG_WARNING; }), 0u)
            << h.dump();
    }

    // Runs the client to its end inside the namespace; its standard output.
    std::string cli(const std::vector<std::string> &args)
    {
        const int status =
            h.run(E2eHarness::tool_path("mgmtcli"), args, "/tmp/cli.out", "/tmp/cli.out");
        std::string out;
        EXPECT_EQ(h.read_file("/tmp/cli.out", &out), 0);
        EXPECT_EQ(status, 0) << out;
        return out;
    }

    // Lines of the daemon, from index `from`, logged at `level`.
    size_t daemon_lines_at(int level, size_t from) const
    {
        return h.count_if(
            [&](const E2eSyslogLine &l) { return l.ident == "iptrackd" && l.level() == level; },
            from);
    }

    // Sets the comment of manager m1 and waits until the daemon's intake
    // took it, from line `from` on.
    bool comment_reaches_intake(const std::string &value, size_t from)
    {
        const std::string comment = "/qz/iptrackd/config/manager/m1/comment";
        cli({"set", comment, "string", value});
        return h
            .wait_line("iptrackd_config_handle_change: updating " + comment, e2e_default_timeout,
                       from)
            .has_value();
    }

    void expect_warning(const std::optional<E2eSyslogLine> &line, const std::string &text)
    {
        ASSERT_TRUE(line) << h.dump();
        EXPECT_EQ(line->ident, "iptrackd");
        EXPECT_EQ(line->level(), LOG_WARNING);
        EXPECT_EQ(line->message, text);
    }
};

const auto signal_test_name = [](const ::testing::TestParamInfo<int> &p) {
    return std::string(sigabbrev_np(p.param));
};

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

TEST_F(DaemonSpine, StartUpRegistersInterestsAndReadsTheConfiguration)
{
    // At DEBUG until the configuration sets the levels: the daemon dumps
    // what it sends.
    ASSERT_EQ(h.make_symlink("7", LC_LOG_LEVEL_LINK), 0);
    const pid_t pid = start_ready(test_db, "info");
    ASSERT_GT(pid, 0);

    // The three registrations, exactly these bindings in this order.
    const std::string journal = cli({"journal"});
    const std::string registrations =
        "#1 action /mgmtd/events/actions/interest/add from iptrackd\n"
        "    event_name = /mgmtd/notify/dbchange (name)\n"
        "    match/1/pattern = /qz/iptrackd/** (string)\n"
        "    match/2/pattern = /logging/syslog/facility/** (string)\n"
        "    match/3/pattern = /qz/iflabels/** (string)\n"
        "    match/4/pattern = /net/interface/config/*/label (string)\n"
        "    match/5/pattern = /qz/tunneld/system/config/router/*/ip/*/label (string)\n"
        "    match/6/pattern = /qz/tunneld/system/config/router/*/dhcp/*/label (string)\n"
        "    match/7/pattern = /net/if2/config/virtual/loopback/*/label (string)\n"
        "    match/8/pattern = /net/if2/config/virtual/vti/*/label (string)\n"
        "    match/9/pattern = /tun/config/* (string)\n"
        "    match/10/pattern = /qz/rtlabels/config/*/is_down_condition_any (string)\n"
        "#2 action /mgmtd/events/actions/interest/add from iptrackd\n"
        "    event_name = /qz/tunneld/system/events/if_change (name)\n"
        "#3 action /mgmtd/events/actions/interest/add from iptrackd\n"
        "    event_name = /time/notify/zonechange (name)\n";
    EXPECT_EQ(journal.rfind(registrations, 0), 0u) << journal;
    EXPECT_TRUE(h.wait_line("(iptrackd) registered for /mgmtd/notify/dbchange with 10 patterns"));

    // The children query of the configuration root (iterate, whole subtree)
    // handed every node below it, and only those, to the intake; then the
    // levels were synchronised.
    const auto query = h.wait_line("SEND REQ: rn[0]: id 1000 /qz/iptrackd/config");
    ASSERT_TRUE(query) << h.dump();
    const auto lines = h.lines();
    size_t at = 0;
    while (at < lines.size() && lines[at].body != query->body) ++at;
    ASSERT_LT(at + 1, lines.size());
    EXPECT_EQ(lines[at + 1].message, "SEND REQ: rn[0]: query subop: iterate flags: 00001000");
    for (const char *node : {"manager/m1/enable", "oper/op1/attributes"})
        EXPECT_EQ(h.count_message(std::string("iptrackd_config_handle_change: updating "
                                              "/qz/iptrackd/config/") +
                                  node),
                  1u)
            << h.dump();
    EXPECT_EQ(h.count("Unsupported binding /other"), 0u);
    EXPECT_EQ(h.count_message("Synchronized daemon log level to 'info'"), 1u) << h.dump();
    EXPECT_EQ(h.count_message("Synchronized system log level to 'notice'"), 1u);

    h.stop(pid);
}

TEST_F(DaemonSpine, WithoutTheStandinItTriesSixTimesAndExitsWithTheCode)
{
    ASSERT_EQ(h.make_symlink("6", LC_LOG_LEVEL_LINK), 0); // the retries log at INFO
    const pid_t pid = h.start_daemon();
    ASSERT_GT(pid, 0);
    const auto e = h.wait_exit(pid, e2e_ms(30000));
    ASSERT_TRUE(e) << h.dump();
    EXPECT_TRUE(e->exited && e->code == (lc_err_io_error & 0xff)) << e->describe() << h.dump();
    EXPECT_EQ(h.count_message("Could not connect to provider; delaying and retrying."), 5u)
        << h.dump();
    EXPECT_EQ(h.count_message("Failed to connect to provider."), 1u);
    EXPECT_EQ(h.count_message("Unable to connect to the management daemon"), 1u);
    EXPECT_EQ(h.count_message("IP Tracking daemon exiting with code 14014"), 1u);
    EXPECT_EQ(h.count("IP Tracking daemon ready"), 0u);
}

class SessionLoss : public DaemonSpine, public ::testing::WithParamInterface<bool>
{
};

// Losing the stand-in, or only the alarm thread's session, ends the daemon
// cleanly: status 0, the ready exit line, the alarm thread joined.
TEST_P(SessionLoss, EndsTheDaemonWithStatusZero)
{
    const bool alarm_only = GetParam();
    ASSERT_EQ(h.make_symlink("6", LC_LOG_LEVEL_LINK), 0); // the threads' lines are INFO
    const pid_t pid = start_ready(test_db, "info");
    ASSERT_GT(pid, 0);
    if (alarm_only) {
        // Both sessions introduce themselves as "iptrackd"; the alarm
        // thread's connects second.
        cli({"action", "/sim/mgmtd/close/session", "client", "string", "iptrackd", "index",
             "uint32", "2"});
    } else {
        ASSERT_TRUE(h.signal(mgmtd, SIGTERM));
    }
    h.expect_exit_zero(pid);
    // Without the stand-in both sessions may notice; otherwise only one did.
    const size_t lost = h.count_message("Lost connection to mgmtd; exiting");
    EXPECT_TRUE(alarm_only ? lost == 1 : lost >= 1) << h.dump();
    EXPECT_EQ(h.count_message("IP Tracking daemon exiting. daemon state: ready"), 1u) << h.dump();
    EXPECT_EQ(h.count_message("qz_alm_thread: out of main loop, exiting..."), 1u) << h.dump();
    EXPECT_GE(h.count_message("qz_alm_mgmt_shutdown: alm thread exited"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lost, SessionLoss, ::testing::Bool(),
                         [](const auto &p) { return p.param ? "AlarmSession" : "Standin"; });

TEST_F(DaemonSpine, DaemonLogLevelFollowsTheConfiguration)
{
    const pid_t pid = start_ready(test_db, "info");
    ASSERT_GT(pid, 0);
    // Logging changes reach every daemon registered for configuration
    // changes, whatever its patterns.
    cli({"set", process_level, "string", "debug"});
    ASSERT_TRUE(h.wait_line("Process log_level='debug'")) << h.dump();
    size_t mark = h.mark();
    ASSERT_TRUE(comment_reaches_intake("one", mark)) << h.dump();
    EXPECT_GT(daemon_lines_at(LOG_DEBUG, mark), 0u) << h.dump();

    cli({"delete", process_level});
    ASSERT_TRUE(h.wait_count("IPTRACK Modify config complete", 3)) << h.dump();
    EXPECT_EQ(h.count("Found process to change level: " + std::string(process_level)), 2u);
    mark = h.mark();
    ASSERT_TRUE(comment_reaches_intake("two", mark)) << h.dump();
    h.settle(e2e_ms(100));
    EXPECT_EQ(daemon_lines_at(LOG_DEBUG, mark), 0u) << h.dump();

    h.stop(pid);
}

TEST_F(DaemonSpine, StrayResponsesAreLoggedAndDroppedWhileWaitingOrIdle)
{
    // The stand-in holds the daemon's answers back, so the daemon waits in
    // its first registration until the test lets them go.
    const std::string db = std::string(test_db) + "set /sim/mgmtd/hold/iptrackd bool true\n";
    ASSERT_GT(h.start_mgmtd(db, "info"), 0);
    const pid_t pid = h.start_daemon();
    ASSERT_GT(pid, 0);
    const auto held = h.wait_for([](const E2eSyslogLine &l) {
        return l.ident == "mgmtd" && l.message.rfind("Holding the response to request ", 0) == 0 &&
               l.message.find(" of iptrackd") != std::string::npos;
    });
    ASSERT_TRUE(held) << h.dump();
    unsigned waited_for = 0;
    ASSERT_EQ(sscanf(held->message.c_str(), "Holding the response to request %u", &waited_for), 1);
    const auto inject = [&](const char *type) {
        cli({"action", "/sim/mgmtd/inject/response", "client", "string", "iptrackd", "request_id",
             "uint32", "424242", "type", "string", type});
    };

    inject("query_response");
    const std::string unmatched = "Got response to request 424242, but was expecting response "
                                  "to request " +
                                  std::to_string(waited_for) + "; ignoring";
    expect_warning(h.wait_line(unmatched), unmatched);
    EXPECT_EQ(h.count("IP Tracking daemon ready"), 0u);
    // The wait took the real answer once it came, and start-up went on.
    cli({"set", "/sim/mgmtd/hold/iptrackd", "bool", "false"});
    ASSERT_TRUE(h.wait_line("IP Tracking daemon ready")) << h.dump();
    EXPECT_EQ(h.count("when no response was expected"), 0u);

    // Idle now: the stray one is unexpected, and the daemon is still served.
    const size_t mark = h.mark();
    inject("action_response");
    const std::string unexpected =
        "Got response to request 424242 when no response was expected; ignoring";
    expect_warning(h.wait_line(unexpected, e2e_default_timeout, mark), unexpected);
    ASSERT_TRUE(comment_reaches_intake("after", mark)) << h.dump();
    EXPECT_EQ(h.count_message(unexpected), 1u) << h.dump();
    EXPECT_EQ(h.count("but was expecting"), 1u) << h.dump();

    h.stop(pid);
}
