// State queries end to end: the real daemon behind the management stand-in,
// asked through the command-line client, which decodes the records the way
// an operator and a script read them.
#include <signal.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/e2e_appliance.h"

namespace
{

const char *const base_db = R"(# state query test
set /logging/syslog/process/iptrackd/log_level string info
)";

// The ping monitors up (the stand-in answers them from its database).
const char *const engine_db = R"(# state query test, engine running
set /logging/syslog/process/iptrackd/log_level string info
set /sim/mgmtd/monitor/ip_mon/ip_state uint32 1
set /qz/iptrackd/config/oper/op1 string op1
set /qz/iptrackd/config/oper/op1/attributes string "type=ip-monitor;ip-monitor-ip=192.0.2.1;port-name=wan0;ka=5;up-thresh=3;dn-thresh=5"
set /qz/iptrackd/config/action/act1 string act1
set /qz/iptrackd/config/action/act1/attributes string "type=vrrp-prio;port-name=lan0;dec=20"
set /qz/iptrackd/config/manager/mgr1 string mgr1
set /qz/iptrackd/config/manager/mgr1/attributes string "operation=op1;dn-action=act1;interval=1"
set /qz/iptrackd/config/manager/mgr1/enable bool true
set /qz/iptrackd/config/manager/mgr1/comment string "uplink reachability"
set /qz/iptrackd/config/manager/mgr1/label_id uint32 3
)";

// The simulated appliance: the interfaces the operations and actions use,
// the route label of mgr1, and the synthetic probes of the cloud path table
// it owns.
const char *const scenario = R"(# state query test
interface  wan0  port  198.51.100.2
interface  lan0  port  10.1.1.1
rtlabel    3     inet-ok  or
synthetic  7
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

    // The manager called `name` in `show managers --json`, once `pred` holds
    // for it (between tries the test waits for the daemon to log again);
    // null on timeout.
    template <class Pred>
    nlohmann::json wait_mgr(const std::string &name, Pred pred, e2e_ms timeout = e2e_ms(90000))
    {
        const auto end = e2e_clock::now() + timeout;
        nlohmann::json last;
        while (e2e_clock::now() < end) {
            last = cli_json({"show", "managers", "--json"});
            if (last.contains("managers"))
                for (const auto &m : last["managers"])
                    if (m["name"] == name && pred(m)) return m;
            (void)h.wait_line("iptrackd", e2e_ms(2000), h.lines().size());
        }
        ADD_FAILURE() << "manager " << name << " never matched; last answer:\n"
                      << last.dump(2) << "\n"
                      << h.dump();
        return nullptr;
    }

    // mgmtd, the simulated appliance (peers ready, tables published), then
    // the daemon, until its engine is active.
    pid_t start_engine()
    {
        if (h.start_mgmtd(engine_db, "info") < 0 ||
            a.start_appliance(scenario, {"-l", "notice"}) < 0)
            return -1;
        const pid_t pid = h.start_daemon();
        if (pid < 0 || !h.wait_line("client processes are ready - going Active", e2e_ms(30000))) {
            ADD_FAILURE() << "engine never active\n" << h.dump();
            return -1;
        }
        return pid;
    }
};

} // namespace

TEST_F(StateQueryE2e, NodesAnswerOnceReadyAndAnUnknownNodeGetsNoValue)
{
    const pid_t pid = start_ready();
    ASSERT_GT(pid, 0);

    // No managers: a table of its count alone.
    const nlohmann::json mgrs = cli_json({"show", "managers", "--json"});
    EXPECT_EQ(0u, mgrs["managers"].size()) << mgrs.dump();
    EXPECT_TRUE(mgrs["complete"].get<bool>());
    EXPECT_EQ(0, mgrs["summary"]["managers"].get<int>());
    EXPECT_NE(std::string::npos, cli_ok({"show", "managers"}).find("No managers configured."));

    // The summary is one record, whatever the engine holds.
    const nlohmann::json sum = cli_json({"show", "summary", "--json"});
    EXPECT_TRUE(sum.contains("state")) << sum.dump();
    EXPECT_EQ(0, sum["operations"].get<int>());
    EXPECT_TRUE(h.wait_line("iptrackd_mon_handle_get: Rcvd show summary request")) << h.dump();

    const E2eCliResult r = a.cli({"get", "/qz/iptrackd/state/other"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("no node /qz/iptrackd/state/other")) << r.err;
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

TEST_F(StateQueryE2e, ThreeManagersAnswerThreeWholeRecords)
{
    std::string db = base_db;
    for (const char *name : {"north", "south", "west"})
        db += std::string("set /qz/iptrackd/config/manager/") + name + "/attributes string " +
              "interval=15\n";
    const pid_t pid = start_ready(db);
    ASSERT_GT(pid, 0);
    // The client refuses a table that is not its count and whole 1500-byte
    // records, so "complete" with three entries means 4 + 3 x 1500 bytes.
    const nlohmann::json j = cli_json({"show", "managers", "--json"});
    ASSERT_EQ(3u, j["managers"].size()) << j.dump(2);
    EXPECT_TRUE(j["complete"].get<bool>());
    EXPECT_EQ("north", j["managers"][0]["name"]);
    EXPECT_EQ("west", j["managers"][2]["name"]);
    h.stop(pid);
}

TEST_F(StateQueryE2e, ConfigurationRoundTripShowsEveryChange)
{
    const pid_t pid = start_engine();
    ASSERT_GT(pid, 0);

    // The synthetic probe count follows the cloud path table's owner.
    (void)cli_ok({"show", "managers"});
    EXPECT_TRUE(h.wait_line("Rcvd show mgr request mgr cnt 1, syn cnt 7")) << h.dump();
    (void)cli_ok({"action", "/sim/appliance/synthetic", "count", "uint32", "11"});
    (void)cli_ok({"show", "managers"});
    EXPECT_TRUE(h.wait_line("Rcvd show mgr request mgr cnt 1, syn cnt 11")) << h.dump();

    // The configured manager runs and comes up.
    nlohmann::json m = wait_mgr("mgr1", [](const nlohmann::json &j) {
        return j["status"] == "up" && !j["operation"].is_null() &&
               j["operation"]["runs"].get<int>() > 0;
    });
    ASSERT_FALSE(m.is_null());
    EXPECT_EQ("uplink reachability", m["description"]);
    EXPECT_EQ("op1", m["operation"]["name"]);
    EXPECT_EQ("Ping Monitor for 192.0.2.1 on Port wan0 tunnel N/A  ",
              m["operation"]["description"]);
    EXPECT_EQ(5, m["operation"]["ka"].get<int>());
    EXPECT_EQ("act1", m["down_action"]["name"]);
    EXPECT_EQ("Decrease VRRP priority by 20 on port lan0  ", m["down_action"]["description"]);
    EXPECT_EQ("ERROR: action not assigned", m["up_action"]["name"]);
    EXPECT_EQ(1, m["interval_s"].get<int>());
    EXPECT_EQ(3, m["route_label"]["id"].get<int>());
    EXPECT_EQ("inet-ok", m["route_label"]["name"]);

    // The client adds a second operation, action and manager.
    for (const auto &cmd : std::vector<std::vector<std::string>>{
             {"set", "/qz/iptrackd/config/oper/op2", "string", "op2"},
             {"set", "/qz/iptrackd/config/oper/op2/attributes", "string",
              "type=ip-monitor;ip-monitor-ip=203.0.113.9;port-name=wan0"},
             {"set", "/qz/iptrackd/config/action/act2", "string", "act2"},
             {"set", "/qz/iptrackd/config/action/act2/attributes", "string",
              "type=subnet-rmv;port-name=lan0"},
             {"set", "/qz/iptrackd/config/manager/mgr2", "string", "mgr2"},
             {"set", "/qz/iptrackd/config/manager/mgr2/comment", "string", "second path"},
             {"set", "/qz/iptrackd/config/manager/mgr2/enable", "bool", "true"},
             {"set", "/qz/iptrackd/config/manager/mgr2/attributes", "string",
              "operation=op2;up-action=def-subnet;dn-action=act2;interval=1"},
         })
        (void)cli_ok(cmd);
    m = wait_mgr("mgr2", [](const nlohmann::json &j) {
        return !j["operation"].is_null() && j["down_action"]["name"] == "act2";
    });
    ASSERT_FALSE(m.is_null());
    EXPECT_EQ("second path", m["description"]);
    EXPECT_EQ("Default-Subnet (Adv auto subnet)", m["up_action"]["name"]);
    EXPECT_EQ("Subnet Removal on port lan0  ", m["down_action"]["description"]);

    // The monitors go down: the managers follow, and the first screen says
    // which are down, since when and what they did.
    (void)cli_ok({"set", "/sim/mgmtd/monitor/ip_mon/ip_state", "uint32", "0"});
    m = wait_mgr("mgr1", [](const nlohmann::json &j) {
        return j["status"] == "down" && !j["ms_since_down"].is_null();
    });
    ASSERT_FALSE(m.is_null());
    EXPECT_GE(m["status_changes"].get<int>(), 1);
    EXPECT_GE(m["operation"]["failures"].get<int>(), 1);
    // ...and the appliance saw the down action (priority 100 lowered by 20).
    EXPECT_TRUE(h.wait_line("on lan0: priority 80")) << h.dump();
    const std::string screen = cli_ok({"show", "managers"});
    EXPECT_NE(std::string::npos, screen.find("MANAGER")) << screen;
    EXPECT_NE(std::string::npos, screen.find("DOWN")) << screen;
    EXPECT_NE(std::string::npos, screen.find("inet-ok (3)")) << screen;
    const std::string detail = cli_ok({"show", "manager", "mgr1"});
    EXPECT_NE(std::string::npos, detail.find("act1: Decrease VRRP priority by 20 on port lan0"))
        << detail;

    // Disabled, then deleted.
    (void)cli_ok({"set", "/qz/iptrackd/config/manager/mgr2/enable", "bool", "false"});
    ASSERT_FALSE(wait_mgr("mgr2", [](const nlohmann::json &j) {
                     return !j["enabled"].get<bool>();
                 }).is_null());
    (void)cli_ok({"delete", "/qz/iptrackd/config/manager/mgr2"});
    const auto end = e2e_clock::now() + e2e_ms(60000);
    nlohmann::json all;
    for (;;) {
        all = cli_json({"show", "managers", "--json"});
        if (all["managers"].size() == 1 || e2e_clock::now() > end) break;
        (void)h.wait_line("iptrackd", e2e_ms(2000), h.lines().size());
    }
    ASSERT_EQ(1u, all["managers"].size()) << all.dump(2);
    EXPECT_EQ("mgr1", all["managers"][0]["name"]);
    EXPECT_EQ(1, all["summary"]["managers"].get<int>());
    EXPECT_EQ("Active", all["summary"]["state"]);

    const E2eCliResult r = a.cli({"show", "manager", "mgr2"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, (r.out + r.err).find("no manager mgr2")) << r.out << r.err;
    h.stop(pid);
}
