// The engine's first half end to end: the real daemon and the management
// stand-in as processes in a private namespace, the appliance's tables
// published into that namespace's /dev/shm from a child of the test, and
// the peers' liveness and the system daemon's pid file played by the
// stand-in's database and the test.  Shows the wait for the peers, going
// active, each configuration node reaching the daemon through client sets,
// the route label limit at start-up, and configuration churn served while
// the daemon's answers are held mid-tick.
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_publish.h"
#include "log/logging.h"
#include "support/e2e_appliance.h"

namespace
{

const char *const socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";

const char *const logging_db = R"(# intake scenarios
set /logging/syslog/action/file/\/var\/log\/messages/facility/all/min_priority string notice
set /logging/syslog/process/iptrackd/log_level string info
)";
const char *const peers_db = R"(set /qz/tunneld/system/state/is_alive string Ready
set /qz/sysd/system/state/is_alive string Ready
set /qz/redd/state/is_alive string Ready
)";

qz_l3if_info iface(const char *name, uint8 version, const char *label, const char *addr)
{
    qz_l3if_info i{};
    snprintf(i.name, sizeof i.name, "%s", name);
    i.ip_version = version;
    snprintf(i.label, sizeof i.label, "%s", label);
    if (addr) (void)lc_str_to_ipaddr_quiet(addr, &i.address);
    return i;
}

// Publishes the appliance's tables (run inside the namespace): eth1/eth2
// carry label "wan", tunnel tunA (alias branchA) starts at eth1's address,
// vti1 carries it; route labels 5 (AND) and 6 (OR).  With `cloudpath`, the
// probe table too, as its owner creates it.
int publish_tables(bool cloudpath)
{
    owned<qz_shm_publisher> l3if, iflabel, rtlabel, tunnel, hier;
    if (qz_shm_pub_open(qz_shm_kind_l3if, nullptr, 64, l3if.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_iflabel, nullptr, 64, iflabel.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_rtlabel, nullptr, qz_max_route_labels, rtlabel.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_tunnel, nullptr, 64, tunnel.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_alarm_hier, nullptr, 64, hier.out()) != 0)
        return 1;
    qz_l3if_info vti = iface("vti1", 4, "", nullptr);
    vti.kind = qz_l3if_kind_vti;
    snprintf(vti.tunnel_name, sizeof vti.tunnel_name, "tunA");
    for (const qz_l3if_info &i :
         {iface("eth1", 4, "wan", "192.0.2.1"), iface("eth2", 4, "wan", "192.0.2.2"), vti})
        if (qz_shm_pub_put_l3if(l3if.get(), &i) != 0) return 2;
    if (qz_shm_pub_put_iflabel(iflabel.get(), "wan", "Uplink") != 0) return 3;
    if (qz_shm_pub_put_rtlabel(rtlabel.get(), 5, "rl-and", true) != 0 ||
        qz_shm_pub_put_rtlabel(rtlabel.get(), 6, "rl-or", false) != 0)
        return 4;
    qz_tunbin t{};
    snprintf(t.name, sizeof t.name, "tunA");
    snprintf(t.alias, sizeof t.alias, "branchA");
    t.id = 11;
    (void)lc_str_to_ipaddr_quiet("192.0.2.1", &t.source_address);
    if (qz_shm_pub_put_tunnel(tunnel.get(), &t) != 0) return 5;
    if (cloudpath && (ipsla_probes_create() != 0 || ipsla_probes_queue_init() != 0)) return 6;
    return 0;
}

class EngineIntake : public E2eTest
{
  protected:
    E2eAppliance app{h};
    void start_mgmtd(const std::string &db)
    {
        ASSERT_GT(h.start_mgmtd(std::string(logging_db) + db, "notice"), 0);
    }

    // Tables, peers, pid file, then the daemon, waiting until it is active.
    pid_t start_active(const std::string &db)
    {
        start_mgmtd(std::string(peers_db) + db);
        EXPECT_EQ(0, h.run_in_ns([] { return publish_tables(true); }));
        EXPECT_EQ(0, h.write_file("/var/run/sysd.pid", "100\n"));
        const pid_t pid = h.start(E2eHarness::daemon_path(), {}, {}, "/tmp/iptrackd.out");
        EXPECT_TRUE(h.wait_message("iptrack_req_expire: client processes are ready - going Active"))
            << h.dump();
        return pid;
    }

    std::string cli(const std::vector<std::string> &args)
    {
        const E2eCliResult r = app.cli(args);
        EXPECT_EQ(0, r.status) << r.out << r.err;
        return r.out;
    }
    void set(const std::string &name, const std::string &type, const std::string &value)
    {
        (void)cli({"set", name, type, value});
    }

    // The managers as "show managers" gives them once every kept manager has
    // its last attributes, in name order and without what depends on time
    // (results, counts, times, status).
    nlohmann::json settled_tables()
    {
        nlohmann::json mgrs;
        const auto deadline = e2e_clock::now() + e2e_default_timeout;
        do {
            const nlohmann::json j =
                nlohmann::json::parse(cli({"show", "managers", "--json"}), nullptr, false);
            mgrs = nlohmann::json::array();
            if (j.is_object() && j.contains("managers"))
                for (nlohmann::json m : j["managers"]) {
                    for (const char *k :
                         {"status", "status_changes", "ms_since_down", "ms_since_up_or_reset"})
                        m.erase(k);
                    if (m.contains("operation") && m["operation"].is_object())
                        for (const char *k : {"runs", "failures"}) m["operation"].erase(k);
                    mgrs.push_back(m);
                }
            std::sort(mgrs.begin(), mgrs.end(),
                      [](const nlohmann::json &a, const nlohmann::json &b) {
                          return a.value("name", "") < b.value("name", "");
                      });
            const auto kept = std::count_if(mgrs.begin(), mgrs.end(), [](const auto &m) {
                return m.value("name", "").starts_with("m_") && m.value("interval_s", 0) == 2;
            });
            if (mgrs.size() == 26 && kept == 25) break;
            usleep(100 * 1000);
        } while (e2e_clock::now() < deadline);
        return mgrs;
    }
};

} // namespace

TEST_F(EngineIntake, WaitsForThePeersAndThePidFile)
{
    start_mgmtd("");
    ASSERT_EQ(0, h.run_in_ns([] { return publish_tables(false); }));
    ASSERT_GT(h.start_daemon(), 0);
    ASSERT_TRUE(h.wait_message("IP Tracking daemon ready")) << h.dump();
    const std::string pending =
        "iptrack_req_expire: Client processes still initializing - pend monitors for now";
    ASSERT_TRUE(h.wait_message(pending)) << h.dump();
    EXPECT_GE(h.count("Tunneld proc state is "), 1u);

    // Three peers ready, but no pid file yet: still pending.
    for (const char *n : {"/qz/tunneld/system/state/is_alive", "/qz/sysd/system/state/is_alive",
                          "/qz/redd/state/is_alive"})
        set(n, "string", "Ready");
    size_t at = 0;
    ASSERT_TRUE(h.wait_message("Sysd proc state is Ready", h.mark(), &at)) << h.dump();
    ASSERT_TRUE(h.wait_message(pending, at, &at)) << h.dump();
    ASSERT_TRUE(h.wait_message("Sysd proc state is Ready", at, &at)) << h.dump();
    EXPECT_EQ(h.count("going Active"), 0u);

    ASSERT_EQ(0, h.write_file("/var/run/sysd.pid", "100\n"));
    ASSERT_TRUE(h.wait_message("iptrack_req_expire: client processes are ready - going Active", at))
        << h.dump();
}

TEST_F(EngineIntake, EveryConfigurationNodeReachesTheDaemonThroughClientSets)
{
    ASSERT_GT(start_active(""), 0);
    // One change per node the daemon listens to, each with the line that
    // shows it arrived and took effect.  The refused route label in the
    // middle must not stop the changes after it.
    const std::string cfg = "/qz/iptrackd/config/";
    const std::string mgr = "iptrackd_config_update_mgr: ";
    const std::string limit = std::to_string(qz_max_route_labels);
    const std::string handled = "iptrackd_config_handle_change: ";
    const struct {
        std::vector<std::string> args;
        std::string line;
    } steps[] = {
        {{"set", cfg + "oper/op1/attributes", "string", "type=port-monitor;port-label=wan"},
         "iptrack_set_oper_attribs: Managing label wan for operation op1"},
        // Instance nodes as the configuration has them: deleting one
        // reports the instance itself.
        {{"set", cfg + "action/a1", "string", "a1"}, handled + "updating " + cfg + "action/a1"},
        {{"set", cfg + "action/a1/attributes", "string", "type=subnet-adv;port-name=eth2"},
         "iptrack_set_action_attribs: Set type to Subnet advertise for action a1"},
        {{"set", cfg + "manager/m1/attributes", "string", "operation=op1;dn-action=a1"},
         mgr + "Updated manager m1"},
        {{"set", cfg + "manager/m1/comment", "string", "uplink"},
         mgr + "Updated manager m1 comment uplink"},
        {{"set", cfg + "manager/m1/label_id", "uint32", limit},
         "iptrackd_config_update_mgr_rtlabel: Failed to update manager m1 label ID to " + limit},
        {{"set", cfg + "manager/m1/label_id", "uint32", "6"},
         "iptrackd_config_update_mgr_rtlabel: Updated manager m1 label ID to 6"},
        {{"set", cfg + "manager/m1/enable", "bool", "false"},
         mgr + "updating manager m1 admin status to Down"},
        {{"set", cfg + "manager/m1/enable", "bool", "true"},
         "iptrack_set_mgr_attribs: Added Dn Action a1"},
        // A deleted action that a manager still uses only waits.
        {{"delete", cfg + "action/a1"},
         "iptrack_delete_action_entry: cannot delete a1 because still used by 1 mgrs"},
        {{"set", "/net/interface/config/eth2/label", "string", "wan"},
         handled + "/net/interface/config/eth2/label cfg change caused label update; label wan"},
        {{"set", "/qz/iflabels/config/1/name", "string", "wan"},
         handled + "/qz/iflabels/config/1/name cfg change caused label update; label wan"},
        // A changed tunnel wakes the interface step.
        {{"set", "/tun/config/tunA/config_bin", "string", "x"},
         "iptrack_req_expire an interface has been updated in l3mgr"},
        {{"delete", "/tun/config/tunA"}, "iptrackd_config_handle_change, tunnel tunA is deleted"},
        {{"set", "/net/if2/config/virtual/vti/vti1/label", "string", "lan"},
         handled + "/net/if2/config/virtual/vti/vti1/label cfg change caused label update; "
                   "label lan"},
        {{"set", "/qz/rtlabels/config/6/is_down_condition_any", "bool", "false"},
         handled + "updating /qz/rtlabels/config/6/is_down_condition_any"},
        {{"set", "/logging/syslog/facility/firewall", "uint32", "136"},
         "IP Track update: Unsupported binding /logging/syslog/facility/firewall"},
    };
    for (const auto &s : steps) {
        const size_t m = h.mark();
        (void)cli(s.args);
        h.expect_in_order(m, {s.line});
    }
    // The route label condition made the label be evaluated and sent.
    const std::string journal = cli({"journal"});
    EXPECT_NE(journal.find("/qz/iptrackd/action/update_route_label"), std::string::npos) << journal;
}

TEST_F(EngineIntake, RouteLabelAtTheLimitInTheStartUpConfigurationIsFatal)
{
    start_mgmtd(std::string(peers_db) + "set /qz/iptrackd/config/manager/m1/label_id uint32 " +
                std::to_string(qz_max_route_labels) + "\n");
    const pid_t pid = h.start_daemon();
    const auto e = h.wait_exit(pid);
    ASSERT_TRUE(e && e->exited) << h.dump();
    EXPECT_EQ(e->code, lc_err_generic_error & 0xff);
    EXPECT_EQ(h.count("IP Tracking daemon exiting with code 14000"), 1u) << h.dump();
    EXPECT_EQ(h.count("IP Tracking daemon ready"), 0u);
}

namespace
{

// 500 configuration changes: 50 managers, each with its operation and its
// down action, created with their instance nodes; then every other one
// deleted and the rest changed.  `final_db` gets the configuration that
// remains, as a database a fresh start would load.
std::string churn_script(std::string *final_db)
{
    std::ostringstream script, db;
    const std::string root = "/qz/iptrackd/config/";
    auto node = [&](std::ostream &o, const std::string &n, const std::string &type,
                    const std::string &v) {
        o << "set " << n << " " << type << " \"" << v << "\"\n";
    };
    // The nodes that create manager m_<s> with its operation and action,
    // and those that the kept managers change.
    auto create = [&](std::ostream &o, const std::string &s, const std::string &attrs) {
        node(o, root + "oper/c_" + s, "string", "c_" + s);
        node(o, root + "oper/c_" + s + "/attributes", "string",
             "type=ip-monitor;port-name=mgmt0;ip-monitor-ip=10.0.0." + s + ",10.1.0." + s);
        node(o, root + "action/a_" + s, "string", "a_" + s);
        node(o, root + "action/a_" + s + "/attributes", "string", "type=subnet-metric;delta=" + s);
        node(o, root + "manager/m_" + s, "string", "m_" + s);
        node(o, root + "manager/m_" + s + "/attributes", "string", attrs);
        node(o, root + "manager/m_" + s + "/enable", "bool", "true");
    };
    auto keep = [&](std::ostream &o, const std::string &s) {
        node(o, root + "manager/m_" + s + "/label_id", "uint32", "6");
        node(o, root + "manager/m_" + s + "/comment", "string", "kept " + s);
    };
    for (int i = 0; i < 50; ++i) {
        const std::string s = std::to_string(i);
        create(script, s, "operation=c_" + s + ";dn-action=a_" + s + ";interval=1");
    }
    for (int i = 0; i < 50; ++i) {
        const std::string s = std::to_string(i);
        if (i % 2 == 0) {
            script << "delete " << root << "manager/m_" << s << "\n";
            script << "delete " << root << "oper/c_" << s << "\n";
            script << "delete " << root << "action/a_" << s << "\n";
            continue;
        }
        const std::string attrs = "operation=c_" + s + ";dn-action=a_" + s + ";interval=2";
        node(script, root + "manager/m_" + s + "/attributes", "string", attrs);
        keep(script, s);
        create(db, s, attrs);
        keep(db, s);
    }
    *final_db = db.str();
    return script.str();
}

// A manager that runs a ping monitor every second, so that every tick
// sends and so waits for its answers.
const char *const busy_db = R"(set /qz/iptrackd/config/oper/op0 string op0
set /qz/iptrackd/config/oper/op0/attributes string "type=ip-monitor;port-name=mgmt0;ip-monitor-ip=192.0.2.9"
set /qz/iptrackd/config/manager/m0 string m0
set /qz/iptrackd/config/manager/m0/attributes string "operation=op0;interval=1"
set /qz/iptrackd/config/manager/m0/enable bool true
set /sim/mgmtd/monitor/ip_mon/ip_state uint32 1
)";

} // namespace

TEST_F(EngineIntake, ChangesServedWhileTheAnswersAreHeldMidTickLeaveTheTablesOfAFreshStart)
{
    const pid_t pid = start_active(busy_db);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(
        h.wait_message("iptrack_req_expire: executed tracking monitor op0 result True for mgr "
                       "m0, port active 1"))
        << h.dump();

    // Hold the daemon's answers; the next tick stops in its first send.
    set("/sim/mgmtd/hold/iptrackd", "bool", "true");
    const size_t held = h.mark();
    std::string final_db;
    ASSERT_EQ(0, h.write_file("/tmp/churn", churn_script(&final_db)));
    // The journal shows the send the tick now waits in.
    const auto ip_mon_sends = [this] {
        const std::string j = cli({"journal"});
        size_t n = 0;
        for (size_t at = j.find("/qz/iptrackd/action/ip_mon"); at != std::string::npos;
             at = j.find("/qz/iptrackd/action/ip_mon", at + 1))
            ++n;
        return n;
    };
    const size_t before = ip_mon_sends();
    const auto wait_until = e2e_clock::now() + e2e_default_timeout;
    while (ip_mon_sends() == before && e2e_clock::now() < wait_until) usleep(50 * 1000);
    ASSERT_GT(ip_mon_sends(), before);
    (void)cli({"-f", "/tmp/churn"});
    ASSERT_TRUE(
        h.wait_message("iptrackd_config_update_mgr: Updated manager m_49 comment kept 49", held))
        << h.dump();
    set("/sim/mgmtd/hold/iptrackd", "bool", "false");

    const nlohmann::json churned = settled_tables();
    h.stop(pid);
    std::string out;
    (void)h.read_file("/tmp/iptrackd.out", &out);
    EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << out;

    // A fresh start with the final configuration (same tables and peers).
    h.kill_all();
    ASSERT_EQ(0, h.run_in_ns([] { return unlink(socket_path) == 0 ? 0 : 1; }));
    ASSERT_GT(h.start_mgmtd(std::string(logging_db) + peers_db + busy_db + final_db, "notice"), 0);
    const size_t restart = h.mark();
    const pid_t again = h.start(E2eHarness::daemon_path(), {}, {}, "/tmp/iptrackd2.out");
    ASSERT_GT(again, 0);
    ASSERT_TRUE(
        h.wait_message("iptrack_req_expire: client processes are ready - going Active", restart))
        << h.dump();
    EXPECT_EQ(settled_tables(), churned);
}
