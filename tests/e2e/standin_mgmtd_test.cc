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

const char *const example_db = R"(# test database
set /qz/iptrackd/config/manager/m1/enable bool true
set /qz/iptrackd/config/manager/m1/attributes string "operation=op1;interval=10"
set /qz/iptrackd/config/oper/op1/attributes string type=ip-monitor
set /qz/iptrackd/config/action/a1/attributes string type=vrrp-prio
set /qz/redd/state/is_alive string Ready
set /other/x uint32 7
)";

// Each test starts with the stand-in up on example_db.
class StandinMgmtd : public E2eTest
{
  protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        mgmtd = a.start_mgmtd(example_db);
        ASSERT_GT(mgmtd, 0);
    }

    E2eAppliance a{h};
    pid_t mgmtd = -1;

    // Runs the client; checks its exit status and standard output.
    void expect_cli(const std::vector<std::string> &args, const std::string &out)
    {
        const auto r = a.cli(args);
        EXPECT_EQ(r.status, 0) << r.err << h.dump();
        EXPECT_EQ(r.out, out) << r.err;
    }
    // Starts a long-running client with its output in `out`; true once it
    // says it is watching (or serving).
    bool start_listener(const std::vector<std::string> &args, const std::string &out)
    {
        std::string got;
        return a.start_cli(args, out) > 0 && a.wait_file(out, "ing ", &got);
    }
    // Waits until the client's output file `path` holds `whole`, and nothing more.
    void expect_output(const std::string &path, const std::string &whole)
    {
        std::string got;
        EXPECT_TRUE(a.wait_file(path, whole, &got) && got == whole) << got << h.dump();
    }
};

TEST_F(StandinMgmtd, IteratesInNameOrderAndGetsWhatWasSet)
{
    expect_cli({"iterate", "/qz/iptrackd/config", "subtree"},
               "/qz/iptrackd/config/action/a1/attributes = type=vrrp-prio (string)\n"
               "/qz/iptrackd/config/manager/m1/attributes = operation=op1;interval=10 (string)\n"
               "/qz/iptrackd/config/manager/m1/enable = true (bool)\n"
               "/qz/iptrackd/config/oper/op1/attributes = type=ip-monitor (string)\n");
    // Without the subtree flag: the children, instance nodes named by their part.
    expect_cli({"iterate", "/qz/iptrackd/config/manager"},
               "/qz/iptrackd/config/manager/m1 = m1 (string)\n");

    expect_cli({"set", "/qz/iptrackd/config/manager/m1/comment", "string", "two words"}, "");
    expect_cli({"get", "/qz/iptrackd/config/manager/m1/comment"},
               "/qz/iptrackd/config/manager/m1/comment = two words (string)\n");

    const auto r = a.cli({"get", "/qz/iptrackd/config/manager/m9/comment"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mgmtcli: no node /qz/iptrackd/config/manager/m9/comment\n");
}

TEST_F(StandinMgmtd, ChangeEventsReachOnlyMatchingInterests)
{
    ASSERT_TRUE(start_listener(
        {"-n", "watcher1", "watch", "-c", "3", "/mgmtd/notify/dbchange", "/qz/iptrackd/**"},
        "/tmp/w1.out"));
    ASSERT_TRUE(start_listener({"-n", "watcher2", "watch", "/mgmtd/notify/dbchange", "/other/**"},
                               "/tmp/w2.out"));
    expect_cli({"set", "/qz/iptrackd/config/manager/m1/enable", "bool", "false"}, "");
    expect_cli({"create", "/qz/iptrackd/config/manager/m1/label_id", "uint32", "4"}, "");
    expect_cli({"delete", "/qz/iptrackd/config/oper/op1"}, "");

    expect_output("/tmp/w1.out",
                  "watching /mgmtd/notify/dbchange\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/manager/m1/enable = false (bool)\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/manager/m1/label_id = 4 (uint32)\n"
                  "event /mgmtd/notify/dbchange\n"
                  "  /qz/iptrackd/config/oper/op1/attributes deleted (string, flags 0x180000)\n");

    // The second watcher heard none of it: the first thing it prints is the
    // change that matches its own pattern.
    expect_cli({"set", "/other/x", "uint32", "8"}, "");
    expect_output("/tmp/w2.out", "watching /mgmtd/notify/dbchange\n"
                                 "event /mgmtd/notify/dbchange\n"
                                 "  /other/x = 8 (uint32)\n");
}

TEST_F(StandinMgmtd, StateQueriesGoToTheOwningClient)
{
    ASSERT_TRUE(start_listener(
        {"-n", "iptrackd", "serve", "-c", "1", "/qz/iptrackd/state/is_alive", "string", "Ready"},
        "/tmp/serve.out"));
    expect_cli({"get", "/qz/iptrackd/state/is_alive"},
               "/qz/iptrackd/state/is_alive = Ready (string)\n");
    std::string served;
    EXPECT_TRUE(a.wait_file("/tmp/serve.out", "query /qz/iptrackd/state/is_alive", &served));
    // Nodes of daemons that are not connected come from the database.
    expect_cli({"get", "/qz/redd/state/is_alive"}, "/qz/redd/state/is_alive = Ready (string)\n");
}

TEST_F(StandinMgmtd, EventsReachTheSessionsRegisteredForThem)
{
    ASSERT_TRUE(start_listener(
        {"-n", "w1", "watch", "-c", "1", "/qz/tunneld/system/events/if_change"}, "/tmp/w1.out"));
    ASSERT_TRUE(
        start_listener({"-n", "w2", "watch", "-c", "1", "/time/notify/zonechange"}, "/tmp/w2.out"));
    expect_cli({"event", "/qz/tunneld/system/events/if_change", "ifname", "string", "eth1"}, "");
    expect_cli({"event", "/time/notify/zonechange"}, "");

    expect_output("/tmp/w1.out", "watching /qz/tunneld/system/events/if_change\n"
                                 "event /qz/tunneld/system/events/if_change\n"
                                 "  ifname = eth1 (string)\n");
    expect_output("/tmp/w2.out",
                  "watching /time/notify/zonechange\nevent /time/notify/zonechange\n");
}

TEST_F(StandinMgmtd, ActionsAndEventsAreAnsweredAndJournalled)
{
    expect_cli({"action", "/qz/iptrackd/action/ip_mon", "oper_name", "string", "op1"}, "");
    expect_cli(
        {"-n", "iptrackd", "event", "/qz/alarms/events/raise_alarm", "alarm_id", "uint32", "3"},
        "");
    const auto r = a.cli({"action", "/qz/nobody/action/x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No handler for action /qz/nobody/action/x"), std::string::npos) << r.err;

    expect_cli({"journal"}, "#1 action /qz/iptrackd/action/ip_mon from mgmtcli\n"
                            "    oper_name = op1 (string)\n"
                            "#2 event /qz/alarms/events/raise_alarm from iptrackd\n"
                            "    alarm_id = 3 (uint32)\n"
                            "#3 action /qz/nobody/action/x from mgmtcli\n");
    expect_cli({"journal", "2"}, "#3 action /qz/nobody/action/x from mgmtcli\n");
}

TEST_F(StandinMgmtd, ProbeRepliesCarryTheStatesSetInTheDatabase)
{
    const auto probe = [&](const std::string &mon, const std::string &port, const char *out) {
        expect_cli({"action", "/qz/iptrackd/action/" + mon, "port_name", "string", port}, out);
    };
    probe("ip_mon", "eth0", ""); // no state configured: success without bindings
    expect_cli({"set", "/sim/mgmtd/monitor/ip_mon/ip_state", "uint32", "1"}, "");
    expect_cli({"set", "/sim/mgmtd/monitor/ip_mon/port/eth1/ip_state", "uint32", "0"}, "");
    probe("ip_mon", "eth0", "ip_state = 1 (uint32)\n");
    probe("ip_mon", "eth1", "ip_state = 0 (uint32)\n");
    expect_cli({"set", "/sim/mgmtd/monitor/vrrp_mon/vrrp_state", "bool", "true"}, "");
    probe("vrrp_mon", "eth1", "vrrp_state = true (bool)\n");
}

TEST_F(StandinMgmtd, BadInputIsRefusedAndChangesNothing)
{
    // A script is checked whole before anything is sent.
    ASSERT_EQ(h.write_file("/tmp/s.cli", "set /other/x uint32 1\nset /other/y bogus 2\n"), 0);
    // Status 2: the client refuses on its own; 1: mgmtd refuses (a type
    // change, a create over an existing node).
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } refused[] = {
        {{"set", "/other/x", "uint99", "1"}, 2, "mgmtcli: unknown type name \"uint99\"\n"},
        {{"set", "/other/x", "uint32", "x"}, 2, "mgmtcli: value \"x\" is not a valid uint32\n"},
        {{"frobnicate", "/other/x"}, 2, "mgmtcli: unknown command \"frobnicate\"\n"},
        {{"-f", "/tmp/s.cli"}, 2, "mgmtcli: line 2: unknown type name \"bogus\"\n"},
        {{"set", "/other/x", "string", "seven"}, 1, "is of type uint32, not string"},
        {{"create", "/other/x", "uint32", "9"}, 1, "exists already"},
    };
    for (const auto &c : refused) {
        const auto r = a.cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
        if (c.status == 2)
            EXPECT_EQ(r.err, c.err);
        else
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    expect_cli({"iterate", "/other", "subtree"}, "/other/x = 7 (uint32)\n");
}

TEST_F(StandinMgmtd, ScriptModeRunsEveryLineInOrder)
{
    ASSERT_EQ(h.write_file("/tmp/s.cli", "# comment\n"
                                         "set /other/y string \"a \\\"b\\\"\"\n"
                                         "\n"
                                         "get /other/y\n"
                                         "reset /other/x\n"
                                         "delete /other/y\n"
                                         "iterate /other subtree\n"),
              0);
    expect_cli({"-f", "/tmp/s.cli"}, "/other/y = a \"b\" (string)\n/other/x = 7 (uint32)\n");
}

TEST_F(E2eTest, ABadDatabaseFileStopsTheManagementStandIn)
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
        ssize_t n;
        while ((n = read(fd, buf, sizeof(buf))) > 0) {
        }
        return n == 0 ? 0 : 3;
    });
    EXPECT_EQ(rc, 0) << h.dump();
    expect_cli({"get", "/other/x"}, "/other/x = 7 (uint32)\n");
}

TEST_F(StandinMgmtd, EndsCleanlyOnSigtermWithClientsConnected)
{
    ASSERT_TRUE(start_listener({"-n", "watcher", "watch", "/mgmtd/notify/dbchange"}, "/tmp/w.out"));
    expect_cli({"set", "/other/x", "uint32", "1"}, "");
    std::string w;
    ASSERT_TRUE(a.wait_file("/tmp/w.out", "/other/x = 1", &w)) << w;

    // In the sanitizer build a leak would turn the status non-zero.
    h.stop(mgmtd);
    EXPECT_TRUE(h.wait_line("Management stand-in exiting")) << h.dump();
}

} // namespace
