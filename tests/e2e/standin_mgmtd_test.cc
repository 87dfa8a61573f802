// The management stand-in and its command-line client end to end: both run
// as real processes in a private namespace and talk over the provider's
// socket, as the daemon will.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/e2e_appliance.h"

namespace
{

const char *const socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";

class StandinMgmtd : public E2eTest
{
  protected:
    E2eAppliance a{h};
};

const char *const example_db = R"(# test database
set /qz/iptrackd/config/manager/m1/enable bool true
set /qz/iptrackd/config/manager/m1/attributes string "operation=op1;interval=10"
set /qz/iptrackd/config/oper/op1/attributes string type=ip-monitor
set /qz/iptrackd/config/action/a1/attributes string type=vrrp-prio
set /qz/redd/state/is_alive string Ready
set /other/x uint32 7
)";

TEST_F(StandinMgmtd, IteratesInNameOrderAndGetsWhatWasSet)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    auto r = a.cli({"iterate", "/qz/iptrackd/config", "subtree"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/qz/iptrackd/config/action/a1/attributes = type=vrrp-prio (string)\n"
                     "/qz/iptrackd/config/manager/m1/attributes = operation=op1;interval=10 "
                     "(string)\n"
                     "/qz/iptrackd/config/manager/m1/enable = true (bool)\n"
                     "/qz/iptrackd/config/oper/op1/attributes = type=ip-monitor (string)\n");

    // Without the subtree flag: the children, instance nodes named by their part.
    r = a.cli({"iterate", "/qz/iptrackd/config/manager"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/qz/iptrackd/config/manager/m1 = m1 (string)\n");

    r = a.cli({"set", "/qz/iptrackd/config/manager/m1/comment", "string", "two words"});
    ASSERT_EQ(r.status, 0) << r.err << h.dump();
    r = a.cli({"get", "/qz/iptrackd/config/manager/m1/comment"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/qz/iptrackd/config/manager/m1/comment = two words (string)\n");

    r = a.cli({"get", "/qz/iptrackd/config/manager/m9/comment"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mgmtcli: no node /qz/iptrackd/config/manager/m9/comment\n");
}

TEST_F(StandinMgmtd, ChangeEventsReachOnlyMatchingInterests)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    ASSERT_GT(a.start_cli({"-n", "watcher1", "watch", "-c", "3", "/mgmtd/notify/dbchange",
                           "/qz/iptrackd/**"},
                          "/tmp/w1.out"),
              0);
    ASSERT_GT(a.start_cli({"-n", "watcher2", "watch", "/mgmtd/notify/dbchange", "/other/**"},
                          "/tmp/w2.out"),
              0);
    std::string w1, w2;
    ASSERT_TRUE(a.wait_file("/tmp/w1.out", "watching", &w1)) << w1;
    ASSERT_TRUE(a.wait_file("/tmp/w2.out", "watching", &w2)) << w2;

    ASSERT_EQ(a.cli({"set", "/qz/iptrackd/config/manager/m1/enable", "bool", "false"}).status, 0);
    ASSERT_EQ(a.cli({"create", "/qz/iptrackd/config/manager/m1/label_id", "uint32", "4"}).status,
              0);
    ASSERT_EQ(a.cli({"delete", "/qz/iptrackd/config/oper/op1"}).status, 0);

    ASSERT_TRUE(a.wait_file("/tmp/w1.out", "op1/attributes deleted", &w1)) << w1 << h.dump();
    EXPECT_EQ(w1, "watching /mgmtd/notify/dbchange\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/manager/m1/enable = false (bool)\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/manager/m1/label_id = 4 (uint32)\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/oper/op1/attributes deleted (string, flags 0x180000)\n");

    // The second watcher heard none of it: the first thing it prints is the
    // change that matches its own pattern.
    ASSERT_EQ(a.cli({"set", "/other/x", "uint32", "8"}).status, 0);
    ASSERT_TRUE(a.wait_file("/tmp/w2.out", "/other/x", &w2)) << w2;
    EXPECT_EQ(w2, "watching /mgmtd/notify/dbchange\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /other/x = 8 (uint32)\n");
}

TEST_F(StandinMgmtd, StateQueriesGoToTheOwningClient)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    ASSERT_GT(a.start_cli({"-n", "iptrackd", "serve", "-c", "1", "/qz/iptrackd/state/is_alive",
                           "string", "Ready"},
                          "/tmp/serve.out"),
              0);
    std::string served;
    ASSERT_TRUE(a.wait_file("/tmp/serve.out", "serving", &served)) << served;

    auto r = a.cli({"get", "/qz/iptrackd/state/is_alive"});
    EXPECT_EQ(r.status, 0) << r.err << h.dump();
    EXPECT_EQ(r.out, "/qz/iptrackd/state/is_alive = Ready (string)\n");
    ASSERT_TRUE(a.wait_file("/tmp/serve.out", "query /qz/iptrackd/state/is_alive", &served));

    // Nodes of daemons that are not connected come from the database.
    r = a.cli({"get", "/qz/redd/state/is_alive"});
    EXPECT_EQ(r.out, "/qz/redd/state/is_alive = Ready (string)\n");
}

TEST_F(StandinMgmtd, EventsReachTheSessionsRegisteredForThem)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    ASSERT_GT(a.start_cli({"-n", "w1", "watch", "-c", "1", "/qz/tunneld/system/events/if_change"},
                          "/tmp/w1.out"),
              0);
    ASSERT_GT(
        a.start_cli({"-n", "w2", "watch", "-c", "1", "/time/notify/zonechange"}, "/tmp/w2.out"), 0);
    std::string w1, w2;
    ASSERT_TRUE(a.wait_file("/tmp/w1.out", "watching", &w1)) << w1;
    ASSERT_TRUE(a.wait_file("/tmp/w2.out", "watching", &w2)) << w2;

    auto r = a.cli({"event", "/qz/tunneld/system/events/if_change", "ifname", "string", "eth1"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = a.cli({"event", "/time/notify/zonechange"});
    ASSERT_EQ(r.status, 0) << r.err;

    ASSERT_TRUE(a.wait_file("/tmp/w1.out", "ifname", &w1)) << w1;
    EXPECT_EQ(w1, "watching /qz/tunneld/system/events/if_change\n"
                  "event /qz/tunneld/system/events/if_change\n"
                  "  ifname = eth1 (string)\n");
    ASSERT_TRUE(a.wait_file("/tmp/w2.out", "event /time", &w2)) << w2;
    EXPECT_EQ(w2, "watching /time/notify/zonechange\nevent /time/notify/zonechange\n");
}

TEST_F(StandinMgmtd, ActionsAndEventsAreAnsweredAndJournalled)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    auto r = a.cli({"action", "/qz/iptrackd/action/ip_mon", "oper_name", "string", "op1"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = a.cli(
        {"-n", "iptrackd", "event", "/qz/alarms/events/raise_alarm", "alarm_id", "uint32", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = a.cli({"action", "/qz/nobody/action/x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No handler for action /qz/nobody/action/x"), std::string::npos) << r.err;

    r = a.cli({"journal"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "#1 action /qz/iptrackd/action/ip_mon from mgmtcli\n"
                     "    oper_name = op1 (string)\n"
                     "#2 event /qz/alarms/events/raise_alarm from iptrackd\n"
                     "    alarm_id = 3 (uint32)\n"
                     "#3 action /qz/nobody/action/x from mgmtcli\n");
    r = a.cli({"journal", "2"});
    EXPECT_EQ(r.out, "#3 action /qz/nobody/action/x from mgmtcli\n");
}

TEST_F(StandinMgmtd, ProbeRepliesCarryTheStatesSetInTheDatabase)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    const std::string ip_mon = "/qz/iptrackd/action/ip_mon";
    // No state configured: success without bindings.
    auto r = a.cli({"action", ip_mon, "port_name", "string", "eth0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    ASSERT_EQ(a.cli({"set", "/sim/mgmtd/monitor/ip_mon/ip_state", "uint32", "1"}).status, 0);
    ASSERT_EQ(a.cli({"set", "/sim/mgmtd/monitor/ip_mon/port/eth1/ip_state", "uint32", "0"}).status,
              0);
    r = a.cli({"action", ip_mon, "port_name", "string", "eth0"});
    EXPECT_EQ(r.out, "ip_state = 1 (uint32)\n") << r.err;
    r = a.cli({"action", ip_mon, "port_name", "string", "eth1"});
    EXPECT_EQ(r.out, "ip_state = 0 (uint32)\n") << r.err;

    ASSERT_EQ(a.cli({"set", "/sim/mgmtd/monitor/vrrp_mon/vrrp_state", "bool", "true"}).status, 0);
    r = a.cli({"action", "/qz/iptrackd/action/vrrp_mon", "port_name", "string", "eth1"});
    EXPECT_EQ(r.out, "vrrp_state = true (bool)\n") << r.err;
}

TEST_F(StandinMgmtd, BadInputIsRefusedAndChangesNothing)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    const std::string node = "/other/x";
    auto r = a.cli({"set", node, "uint99", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mgmtcli: unknown type name \"uint99\"\n");
    r = a.cli({"set", node, "uint32", "seven"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mgmtcli: value \"seven\" is not a valid uint32\n");
    r = a.cli({"frobnicate", node});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mgmtcli: unknown command \"frobnicate\"\n");
    // mgmtd itself refuses a type change and a create over an existing node.
    r = a.cli({"set", node, "string", "seven"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is of type uint32, not string"), std::string::npos) << r.err;
    r = a.cli({"create", node, "uint32", "9"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;

    // A script is checked whole before anything is sent.
    ASSERT_EQ(h.write_file("/tmp/s.cli", "set /other/x uint32 1\nset /other/y bogus 2\n"), 0);
    r = a.cli({"-f", "/tmp/s.cli"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mgmtcli: line 2: unknown type name \"bogus\"\n");

    r = a.cli({"iterate", "/other", "subtree"});
    EXPECT_EQ(r.out, "/other/x = 7 (uint32)\n");
}

TEST_F(StandinMgmtd, ScriptModeRunsEveryLineInOrder)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    ASSERT_EQ(h.write_file("/tmp/s.cli", "# comment\n"
                                         "set /other/y string \"a \\\"b\\\"\"\n"
                                         "\n"
                                         "get /other/y\n"
                                         "reset /other/x\n"
                                         "delete /other/y\n"
                                         "iterate /other subtree\n"),
              0);
    const auto r = a.cli({"-f", "/tmp/s.cli"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/other/y = a \"b\" (string)\n/other/x = 7 (uint32)\n");
}

TEST_F(StandinMgmtd, ABadDatabaseFileStopsTheStandIn)
{
    ASSERT_EQ(h.write_file("/tmp/bad.db", "set /a uint32 1\nset /b uint32 x\n"), 0);
    const pid_t pid = h.start(E2eHarness::sim_path("mgmtd"), {"/tmp/bad.db"});
    const auto e = h.wait_exit(pid);
    ASSERT_TRUE(e) << h.dump();
    EXPECT_TRUE(e->exited && e->code == 1) << e->describe();
    EXPECT_TRUE(h.wait_line("Cannot load the database: /tmp/bad.db:2: value \"x\" is not a "
                            "valid uint32"))
        << h.dump();
}

TEST_F(StandinMgmtd, AMalformedFrameClosesOnlyItsSession)
{
    ASSERT_GT(a.start_mgmtd(example_db), 0);
    const int rc = h.run_in_ns([] {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        strncpy(sa.sun_path, socket_path, sizeof(sa.sun_path) - 1);
        if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0) return 1;
        const char junk[64] = "JUNKJUNKJUNKJUNKJUNKJUNKJUNKJUNKJUNKJUNK";
        if (write(fd, junk, sizeof(junk)) != sizeof(junk)) return 2;
        // The stand-in closes this session: reads end in end-of-file.
        char buf[512];
        for (int i = 0; i < 100; ++i) {
            const ssize_t n = read(fd, buf, sizeof(buf));
            if (n == 0) return 0;
            if (n < 0) return 3;
        }
        return 4;
    });
    EXPECT_EQ(rc, 0) << h.dump();
    const auto r = a.cli({"get", "/other/x"});
    EXPECT_EQ(r.out, "/other/x = 7 (uint32)\n") << r.err;
}

TEST_F(StandinMgmtd, EndsCleanlyOnSigtermWithClientsConnected)
{
    const pid_t pid = a.start_mgmtd(example_db);
    ASSERT_GT(pid, 0);
    ASSERT_GT(a.start_cli({"-n", "watcher", "watch", "/mgmtd/notify/dbchange"}, "/tmp/w.out"), 0);
    std::string w;
    ASSERT_TRUE(a.wait_file("/tmp/w.out", "watching", &w)) << w;
    ASSERT_EQ(a.cli({"set", "/other/x", "uint32", "1"}).status, 0);
    ASSERT_TRUE(a.wait_file("/tmp/w.out", "/other/x = 1", &w)) << w;

    ASSERT_TRUE(h.signal(pid, SIGTERM));
    const auto e = h.wait_exit(pid);
    ASSERT_TRUE(e) << h.dump();
    // In the sanitizer build a leak would turn the status non-zero.
    EXPECT_TRUE(e->exited && e->code == 0) << e->describe() << h.dump();
    EXPECT_TRUE(h.wait_line("Management stand-in exiting")) << h.dump();
}

} // namespace
