// The harness itself: datagram parsing, isolation of the namespace, exit
// statuses and teardown.  The child programs here are this test binary run
// again in a "role" chosen by environment, so no daemon is needed.
#include "support/e2e_harness.h"

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace
{

constexpr const char *role_var = "IPT_E2E_ROLE";

// Runs before main when the binary is started in a role.
[[maybe_unused]] const int role_hook = [] {
    const char *role = getenv(role_var);
    if (role == nullptr) return 0;
    openlog("e2e-role", LOG_PID | LOG_NDELAY, LOG_LOCAL1);
    if (strcmp(role, "hello") == 0) {
        struct stat st;
        const bool dev_log = stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode);
        syslog(LOG_NOTICE, "hello from the role, /dev/log %s", dev_log ? "is a socket" : "missing");
        _exit(7);
    }
    if (strcmp(role, "sleeper") == 0) {
        const pid_t kid = fork();
        if (kid == 0) {
            for (;;) pause();
        }
        syslog(LOG_NOTICE, "sleeping, child %d", int(kid));
        for (;;) pause();
    }
    _exit(99);
}();

// This binary again, in `role`.
pid_t start_role(E2eHarness &h, const char *role)
{
    return h.start("/proc/self/exe", {}, {std::string(role_var) + "=" + role});
}

bool gone(pid_t pid)
{
    // A killed grandchild may linger as a zombie until init reaps it.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t paren = line.rfind(')');
    return paren != std::string::npos && line.size() > paren + 2 && line[paren + 2] == 'Z';
}

} // namespace

TEST(E2eSyslogParse, ReadsPriorityTagAndDaemonBodyAndRejectsDatagramsWithoutPriority)
{
    E2eSyslogLine l;
    ASSERT_TRUE(e2e_parse_syslog("<141>Dec  5 23:01:02 iptrackd[4242]: CPU 1 TID 4242: "
                                 "[iptrackd.NOTICE]: IP Tracking daemon ready\n",
                                 &l));
    // The header as the C library writes it is checked on real lines below.
    EXPECT_EQ(l.body, "CPU 1 TID 4242: [iptrackd.NOTICE]: IP Tracking daemon ready");
    EXPECT_EQ(l.component, "iptrackd");
    EXPECT_EQ(l.level_name, "NOTICE");
    EXPECT_EQ(l.message, "IP Tracking daemon ready");

    // No pid, no daemon tag in the body: the message stays empty.
    ASSERT_TRUE(e2e_parse_syslog("<13>Jan 10 01:02:03 tool: plain text", &l));
    EXPECT_EQ(l.ident, "tool");
    EXPECT_EQ(l.pid, -1);
    EXPECT_EQ(l.body, "plain text");
    EXPECT_EQ(l.message, "");

    // A message text that itself holds "]: " is kept whole.
    ASSERT_TRUE(e2e_parse_syslog("<11>Jan 10 01:02:03 x[1]: CPU 0 TID 9: [iptrackd.ERR]: "
                                 "f(), a.cc:3, build dev: [a]: b",
                                 &l));
    EXPECT_EQ(l.level_name, "ERR");
    EXPECT_EQ(l.message, "f(), a.cc:3, build dev: [a]: b");

    // Without a priority nothing is taken.
    l.body = "untouched";
    for (const char *bad : {"", "<", "<>x", "<12", "13>Jan", "<abc>x", "plain"})
        EXPECT_FALSE(e2e_parse_syslog(bad, &l)) << bad;
    EXPECT_EQ(l.body, "untouched");
}

TEST_F(E2eTest, ChildLinesAndExitStatusReachTheTest)
{
    const pid_t pid = start_role(h, "hello");
    ASSERT_GT(pid, 0);
    const auto l = h.wait_line("hello from the role");
    ASSERT_TRUE(l) << h.dump();
    EXPECT_EQ(l->body, "hello from the role, /dev/log is a socket");
    EXPECT_EQ(l->ident, "e2e-role");
    EXPECT_EQ(l->pid, pid);
    EXPECT_EQ(l->priority, LOG_LOCAL1 | LOG_NOTICE);
    const auto e = h.wait_exit(pid);
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->exited && e->code == 7) << e->describe();
}

TEST_F(E2eTest, PrivateDirectoriesStartEmptyAndStayOffTheHost)
{
    for (const char *dir :
         {"/tmp/gcl-socks", "/var/run", "/var/opt/arx/output", "/var/log", "/dev/shm"})
        EXPECT_TRUE(h.path_exists(dir)) << dir;
    EXPECT_FALSE(h.path_exists("/var/run/sysd.pid"));
    // /tmp is private whatever the host has under it.
    const char *const probes[] = {"/tmp/gcl-socks/probe", "/var/log/e2e_harness_probe",
                                  "/tmp/e2e_harness_probe"};
    for (const char *p : probes) ASSERT_EQ(h.write_file(p, "x"), 0) << p;
    ASSERT_EQ(h.make_symlink("7", "/var/opt/arx/output/sysloglevel"), 0);
    std::string back;
    EXPECT_TRUE(h.wait_path("/tmp/gcl-socks/probe", e2e_ms(0)));
    EXPECT_FALSE(h.wait_path("/tmp/gcl-socks/absent", e2e_ms(20)));
    ASSERT_EQ(h.read_file("/tmp/gcl-socks/probe", &back), 0);
    EXPECT_EQ(back, "x");
    EXPECT_EQ(h.write_file("/dev/null", "discarded"), 0);

    struct stat st;
    for (const char *p : probes) EXPECT_NE(stat(p, &st), 0) << p;
    EXPECT_NE(lstat("/var/opt/arx/output/sysloglevel", &st), 0);
    // A second harness sees none of the first one's files.
    E2eHarness other;
    std::string why;
    ASSERT_EQ(other.setup(&why), E2eHarness::Setup::ok) << why;
    EXPECT_FALSE(other.path_exists("/tmp/gcl-socks/probe"));
}

TEST_F(E2eTest, WaitExitTimesOutThenReportsTheSignal)
{
    const pid_t pid = start_role(h, "sleeper");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(h.wait_line("sleeping")) << h.dump();
    EXPECT_FALSE(h.wait_exit(pid, e2e_ms(50)));
    EXPECT_TRUE(h.running(pid));
    EXPECT_TRUE(h.signal(pid, SIGTERM));
    const auto e = h.wait_exit(pid);
    ASSERT_TRUE(e);
    EXPECT_TRUE(!e->exited && e->signal == SIGTERM) << e->describe();
    EXPECT_FALSE(h.signal(pid, SIGTERM)); // ended and reaped: nothing to signal
    EXPECT_FALSE(h.wait_line("never logged", e2e_ms(20)));
}

TEST(E2eHarnessTeardown, KillsEveryProcessGroupEvenAfterItsLeaderEnded)
{
    std::vector<pid_t> pids;
    {
        E2eHarness h;
        std::string why;
        const auto s = h.setup(&why);
        if (s == E2eHarness::Setup::unavailable) GTEST_SKIP() << why;
        ASSERT_EQ(s, E2eHarness::Setup::ok) << why;
        for (int i = 0; i < 2; ++i) {
            const pid_t pid = start_role(h, "sleeper");
            ASSERT_GT(pid, 0);
            const auto l = h.wait_for([pid](const E2eSyslogLine &x) {
                return x.pid == pid && x.body.starts_with("sleeping, child ");
            });
            ASSERT_TRUE(l) << h.dump();
            pids.push_back(pid);
            pids.push_back(pid_t(std::atoi(l->body.c_str() + strlen("sleeping, child "))));
            ASSERT_GT(pids.back(), 0);
        }
        // The first leader ends on its own; its child stays behind in the group.
        ASSERT_TRUE(h.signal(pids[0], SIGTERM));
        ASSERT_TRUE(h.wait_exit(pids[0]));
        ASSERT_FALSE(gone(pids[1]));
    }
    // Killed at once; gone (reaped by whoever inherited them) soon after.
    const auto deadline = e2e_clock::now() + e2e_ms(30000);
    for (pid_t pid : pids) {
        while (!gone(pid) && e2e_clock::now() < deadline) usleep(5000);
        EXPECT_TRUE(gone(pid)) << pid;
    }
}
