// State queries end to end: the real daemon behind the management stand-in,
// asked through the command-line client, which decodes the records the way
// an operator and a script read them.
#include <signal.h>
#include <syslog.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/e2e_appliance.h"

namespace
{

const char *const base_db = R"(# state query test
set /logging/syslog/process/iptrackd/log_level string info
)";

class StateQueryE2e : public E2eTest
{
  protected:
    E2eAppliance a{h};
    pid_t start_ready(const std::string &db = base_db) { return h.start_ready(db, "info"); }

    // Runs the client to its end; its standard output, which must be a
    // success's.
    std::string cli_ok(const std::vector<std::string> &args)
    {
        const E2eCliResult r = a.cli(args);
        EXPECT_EQ(0, r.status) << r.out << r.err << h.dump();
        return r.out;
    }
    nlohmann::json cli_json(const std::vector<std::string> &args)
    {
        const std::string out = cli_ok(args);
        nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << out;
        return j;
    }
};

} // namespace

TEST_F(StateQueryE2e, NodesAnswerOnceReady)
{
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);

    EXPECT_EQ("/qz/iptrackd/state/is_alive = Ready (string)\n",
              cli_ok({"get", "/qz/iptrackd/state/is_alive"}));
    EXPECT_EQ(1u, h.count_message("iptrackd: thread liveness test passed.  Building response ..."));

    // No managers: a table of its count alone.
    const nlohmann::json mgrs = cli_json({"show", "managers", "--json"});
    EXPECT_EQ(0u, mgrs["managers"].size()) << mgrs.dump();
    EXPECT_TRUE(mgrs["complete"].get<bool>());
    EXPECT_EQ(0, mgrs["summary"]["managers"].get<int>());
    EXPECT_TRUE(h.wait_line("iptrackd_mon_handle_get: Rcvd show mgr request mgr cnt 0, syn cnt "))
        << h.dump();
    EXPECT_NE(std::string::npos, cli_ok({"show", "managers"}).find("No managers configured."));

    // The summary is one record, whatever the engine holds.
    const nlohmann::json sum = cli_json({"show", "summary", "--json"});
    EXPECT_TRUE(sum.contains("state")) << sum.dump();
    EXPECT_EQ(0, sum["operations"].get<int>());
    EXPECT_GE(h.count_message("iptrackd_mon_handle_get: Rcvd show summary request"), 1u);

    h.stop(pid);
}

TEST_F(StateQueryE2e, UnknownNodeGetsNoValue)
{
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);
    const E2eCliResult r = a.cli({"get", "/qz/iptrackd/state/other"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("no node /qz/iptrackd/state/other")) << r.err;
    EXPECT_EQ(1u, h.count_message("iptrackd mon get: unknown binding - /qz/iptrackd/state/other"))
        << h.dump();
    // The daemon still answers.
    EXPECT_EQ("/qz/iptrackd/state/is_alive = Ready (string)\n",
              cli_ok({"get", "/qz/iptrackd/state/is_alive"}));
    h.stop(pid);
}

TEST_F(StateQueryE2e, NothingIsAnsweredBeforeReady)
{
    // The stand-in holds the daemon's answers back, so start-up waits
    // before the daemon is ready.
    ASSERT_GT(
        h.start_mgmtd(std::string(base_db) + "set /sim/mgmtd/hold/iptrackd bool true\n", "info"),
        0);
    const pid_t pid = h.start_daemon();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(h.wait_for([](const E2eSyslogLine &l) {
        return l.ident == "mgmtd" && l.message.find(" of iptrackd") != std::string::npos &&
               l.message.rfind("Holding the response to request ", 0) == 0;
    })) << h.dump();

    const pid_t asker =
        h.start(E2eHarness::tool_path("mgmtcli"),
                {"-t", "600000", "get", "/qz/iptrackd/state/is_alive"}, {}, "/tmp/early.out");
    ASSERT_GT(asker, 0);
    ASSERT_TRUE(
        h.wait_line("iptrackd_mgmt_handle_query_request: initialization not finished; discarding"))
        << h.dump();
    EXPECT_TRUE(h.running(asker));
    std::string early;
    EXPECT_EQ(0, h.read_file("/tmp/early.out", &early));
    EXPECT_EQ("", early);
    EXPECT_EQ(0u, h.count("liveness"));
    ASSERT_TRUE(h.signal(asker, SIGTERM));
    ASSERT_TRUE(h.wait_exit(asker));

    (void)cli_ok({"set", "/sim/mgmtd/hold/iptrackd", "bool", "false"});
    ASSERT_TRUE(h.wait_line("IP Tracking daemon ready")) << h.dump();
    EXPECT_EQ("/qz/iptrackd/state/is_alive = Ready (string)\n",
              cli_ok({"get", "/qz/iptrackd/state/is_alive"}));
    h.stop(pid);
}
