// The engine's first half end to end: the real daemon and the management
// stand-in as processes in a private namespace, the appliance's tables
// published into that namespace's /dev/shm from a child of the test, and
// the peers' liveness and the system daemon's pid file played by the
// stand-in's database and the test.  Shows the wait for the peers, going
// active, a system daemon restart, each configuration effect through client
// sets, the route label limit, the cloud path slots, and configuration
// churn served while the daemon's answers are held mid-tick.
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_publish.h"
#include "log/logging.h"
#include "support/e2e_harness.h"

namespace
{

const char *const socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";
constexpr e2e_ms timeout{40000};

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
    void start_mgmtd(const std::string &db)
    {
        ASSERT_EQ(0, h.write_file("/tmp/intake.db", std::string(logging_db) + db));
        ASSERT_GT(h.start(E2eHarness::sim_path("mgmtd"), {"-l", "notice", "/tmp/intake.db"}), 0);
        ASSERT_TRUE(h.wait_path(socket_path)) << h.dump();
    }

    // Tables, peers, pid file, then the daemon, waiting until it is active.
    pid_t start_active(const std::string &db, bool cloudpath = true)
    {
        start_mgmtd(std::string(peers_db) + db);
        EXPECT_EQ(0, h.run_in_ns([cloudpath] { return publish_tables(cloudpath); }));
        EXPECT_EQ(0, h.write_file("/var/run/sysd.pid", "100\n"));
        const pid_t pid = h.start(E2eHarness::daemon_path(), {}, {}, "/tmp/iptrackd.out");
        EXPECT_TRUE(wait_msg("iptrack_req_expire: client processes are ready - going Active"))
            << h.dump();
        return pid;
    }

    std::string cli(const std::vector<std::string> &args, int expect_status = 0)
    {
        const int status =
            h.run(E2eHarness::tool_path("mgmtcli"), args, "/tmp/cli.out", "/tmp/cli.err");
        std::string out, err;
        (void)h.read_file("/tmp/cli.out", &out);
        (void)h.read_file("/tmp/cli.err", &err);
        EXPECT_EQ(expect_status, status) << out << err;
        return out;
    }
    void set(const std::string &name, const std::string &type, const std::string &value)
    {
        (void)cli({"set", name, type, value});
    }

    size_t mark() const { return h.lines().size(); }

    // The first line at or after `from` whose message is exactly `msg`; its
    // index + 1 in *next.
    bool wait_msg(const std::string &msg, size_t from = 0, size_t *next = nullptr)
    {
        const auto l =
            h.wait_for([&](const E2eSyslogLine &x) { return x.message == msg; }, timeout, from);
        if (!l) return false;
        if (next) {
            const auto all = h.lines();
            for (size_t i = from; i < all.size(); ++i)
                if (all[i].message == msg) {
                    *next = i + 1;
                    break;
                }
        }
        return true;
    }
    // Each message in order, each after the one before; other lines may
    // come between them.
    void expect_in_order(size_t from, const std::vector<std::string> &msgs)
    {
        for (const std::string &m : msgs)
            ASSERT_TRUE(wait_msg(m, from, &from)) << "missing in order: " << m << "\n" << h.dump();
    }
    // What the table's owner reads in `slots`, once it equals `want` or the
    // deadline passed (the daemon writes the texts after it logs).
    std::string slots_when(const std::vector<uint32> &slots, const std::string &want);

    // The message of a failure line, without its source position.
    static bool failure_is(const E2eSyslogLine &l, const std::string &text)
    {
        return l.message.ends_with(": " + text) && l.message.find("(), ") != std::string::npos;
    }
};

} // namespace

TEST_F(EngineIntake, WaitsForThePeersAndThePidFileAndReprocessesAfterASystemDaemonRestart)
{
    start_mgmtd("");
    ASSERT_EQ(0, h.run_in_ns([] { return publish_tables(false); }));
    ASSERT_GT(h.start_daemon(), 0);
    ASSERT_TRUE(wait_msg("IP Tracking daemon ready")) << h.dump();
    const std::string pending =
        "iptrack_req_expire: Client processes still initializing - pend monitors for now";
    ASSERT_TRUE(wait_msg(pending)) << h.dump();
    EXPECT_GE(h.count("Tunneld proc state is "), 1u);

    // Three peers ready, but no pid file yet: still pending.
    for (const char *n : {"/qz/tunneld/system/state/is_alive", "/qz/sysd/system/state/is_alive",
                          "/qz/redd/state/is_alive"})
        set(n, "string", "Ready");
    size_t at = 0;
    ASSERT_TRUE(wait_msg("Sysd proc state is Ready", mark(), &at)) << h.dump();
    ASSERT_TRUE(wait_msg(pending, at, &at)) << h.dump();
    ASSERT_TRUE(wait_msg("Sysd proc state is Ready", at, &at)) << h.dump();
    EXPECT_EQ(h.count("going Active"), 0u);

    ASSERT_EQ(0, h.write_file("/var/run/sysd.pid", "100\n"));
    ASSERT_TRUE(wait_msg("iptrack_req_expire: client processes are ready - going Active", at))
        << h.dump();

    // A new pid: wait for the system daemon again, then labels, tunnels and
    // interfaces are processed again.
    const size_t restart = mark();
    ASSERT_EQ(0, h.write_file("/var/run/sysd.pid", "200\n"));
    expect_in_order(restart, {pending, "Sysd proc state is Ready",
                              "iptrack_req_expire: interface label cfg has changed - update labels",
                              "iptrack_update_labels updating labels",
                              "iptrack_update_labels: total labels processed = 0",
                              "iptrack_req_expire: tunnel cfg has changed ",
                              "iptrack_update_tunnels: total tunnels processed = 0",
                              "iptrack_req_expire an interface has been updated in l3mgr"});
}

TEST_F(EngineIntake, EveryConfigurationEffectThroughClientSets)
{
    ASSERT_GT(start_active(""), 0);

    size_t m = mark();
    set("/qz/iptrackd/config/oper/op1/attributes", "string", "type=port-monitor;port-label=wan");
    expect_in_order(m, {
                           "iptrackd_config_handle_change: updating "
                           "/qz/iptrackd/config/oper/op1/attributes",
                           "iptrackd_config_update_oper: updating operation op1 attributes "
                           "type=port-monitor;port-label=wan",
                           "iptrack_get_oper_entry: oper op1 is new - add it to the table",
                           "iptrackd_config_update_oper: Updated operation op1",
                           "IPTRACK Modify config complete",
                           "iptrack_req_expire: pending cfg change for op1..",
                           "iptrack_set_oper_attribs: Managing label wan for operation op1",
                       });

    // Instance nodes as the configuration has them: deleting one reports
    // the instance itself, which is what marks or deletes an entry.
    set("/qz/iptrackd/config/action/a1", "string", "a1");
    m = mark();
    set("/qz/iptrackd/config/action/a1/attributes", "string", "type=subnet-adv;port-name=eth2");
    expect_in_order(m, {
                           "iptrackd_config_update_action: updating action a1 attributes "
                           "type=subnet-adv;port-name=eth2",
                           "iptrack_get_action_entry: action a1 is new - add it to the table",
                           "iptrackd_config_update_action: Updated action a1",
                           "iptrack_set_action_attribs: Set type to Subnet advertise for action a1",
                       });

    m = mark();
    set("/qz/iptrackd/config/manager/m1/attributes", "string", "operation=op1;dn-action=a1");
    set("/qz/iptrackd/config/manager/m1/comment", "string", "uplink");
    set("/qz/iptrackd/config/manager/m1/label_id", "uint32", "6");
    set("/qz/iptrackd/config/manager/m1/enable", "bool", "false");
    expect_in_order(m, {
                           "iptrackd_config_update_mgr: updating manager m1 attributes "
                           "operation=op1;dn-action=a1",
                           "iptrackd_config_update_mgr: Updated manager m1",
                           "iptrackd_config_update_mgr: Updated manager m1 comment uplink",
                           "iptrackd_config_update_mgr_rtlabel: updating manager m1 route label "
                           "ID 6",
                           "iptrackd_config_update_mgr_rtlabel: Updated manager m1 label ID to 6",
                           "iptrackd_config_update_mgr: updating manager m1 admin status to Down",
                       });

    // A deleted action that a manager still uses only waits.
    m = mark();
    set("/qz/iptrackd/config/manager/m1/enable", "bool", "true");
    ASSERT_TRUE(wait_msg("iptrack_set_mgr_attribs: Added Dn Action a1", m)) << h.dump();
    m = mark();
    (void)cli({"delete", "/qz/iptrackd/config/action/a1"});
    expect_in_order(m, {"iptrack_delete_action_entry: deleting action a1",
                        "iptrack_delete_action_entry: cannot delete a1 because still used by 1 "
                        "mgrs"});

    // Labels (e): interface, router and label-table nodes.
    m = mark();
    set("/net/interface/config/eth2/label", "string", "wan");
    set("/qz/iflabels/config/1/name", "string", "wan");
    expect_in_order(m, {
                           "iptrackd_config_handle_change: /net/interface/config/eth2/label cfg "
                           "change caused label update; label wan",
                           "iptrackd_config_handle_change: /qz/iflabels/config/1/name cfg change "
                           "caused label update; label wan",
                       });

    // Tunnels (f): a changed tunnel wakes the interface step, a deleted one
    // is logged.
    m = mark();
    set("/tun/config/tunA/config_bin", "string", "x");
    ASSERT_TRUE(wait_msg("iptrack_req_expire an interface has been updated in l3mgr", m))
        << h.dump();
    m = mark();
    (void)cli({"delete", "/tun/config/tunA"});
    ASSERT_TRUE(wait_msg("iptrackd_config_handle_change, tunnel tunA is deleted", m)) << h.dump();

    // Virtual interface labels (g).
    m = mark();
    set("/net/if2/config/virtual/vti/vti1/label", "string", "lan");
    expect_in_order(m, {"iptrackd_config_handle_change: ifname is vti1, in use: no",
                        "iptrackd_config_handle_change: /net/if2/config/virtual/vti/vti1/label "
                        "cfg change caused label update; label lan"});

    // Route label condition (h): the label is evaluated and its state sent.
    m = mark();
    set("/qz/rtlabels/config/6/is_down_condition_any", "bool", "false");
    ASSERT_TRUE(wait_msg("iptrackd_config_handle_change: updating "
                         "/qz/rtlabels/config/6/is_down_condition_any",
                         m))
        << h.dump();
    const std::string journal = cli({"journal"});
    EXPECT_NE(journal.find("/qz/iptrackd/action/update_route_label"), std::string::npos) << journal;

    // Nodes nobody handles.
    m = mark();
    set("/logging/syslog/facility/firewall", "uint32", "136");
    ASSERT_TRUE(
        wait_msg("IP Track update: Unsupported binding /logging/syslog/facility/firewall", m))
        << h.dump();
}

TEST_F(EngineIntake, RouteLabelAtTheLimitIsRefusedInAChangeAndFatalAtStartUp)
{
    {
        ASSERT_GT(start_active(""), 0);
        const std::string limit = std::to_string(qz_max_route_labels);
        size_t m = mark();
        set("/qz/iptrackd/config/manager/m1/label_id", "uint32", limit);
        ASSERT_TRUE(wait_msg("iptrackd_config_update_mgr_rtlabel: Failed to update manager m1 "
                             "label ID to " +
                                 limit,
                             m))
            << h.dump();
        EXPECT_TRUE(h.wait_for([](const E2eSyslogLine &l) {
            return failure_is(l, "Required condition was not met");
        }));
        // The daemon goes on and takes the next change.
        m = mark();
        set("/qz/iptrackd/config/manager/m1/comment", "string", "after");
        ASSERT_TRUE(wait_msg("iptrackd_config_update_mgr: Updated manager m1 comment after", m))
            << h.dump();
        h.kill_all();
    }
    E2eHarness fresh;
    std::string why;
    ASSERT_EQ(fresh.setup(&why), E2eHarness::Setup::ok) << why;
    ASSERT_EQ(0, fresh.write_file("/tmp/intake.db",
                                  std::string(logging_db) + peers_db +
                                      "set /qz/iptrackd/config/manager/m1/label_id uint32 " +
                                      std::to_string(qz_max_route_labels) + "\n"));
    ASSERT_GT(fresh.start(E2eHarness::sim_path("mgmtd"), {"-l", "notice", "/tmp/intake.db"}), 0);
    ASSERT_TRUE(fresh.wait_path(socket_path)) << fresh.dump();
    const pid_t pid = fresh.start_daemon();
    const auto e = fresh.wait_exit(pid, timeout);
    ASSERT_TRUE(e && e->exited) << fresh.dump();
    EXPECT_EQ(e->code, lc_err_generic_error & 0xff);
    EXPECT_EQ(fresh.count("IP Tracking daemon exiting with code 14000"), 1u) << fresh.dump();
    EXPECT_EQ(fresh.count("IP Tracking daemon ready"), 0u);
}

namespace
{

// The three texts of probe slot `slot` as the table's owner reads them,
// "target|settings|options", into `path` (run inside the namespace).
int dump_slots(const std::vector<uint32> &slots, const char *path)
{
    if (ipsla_probes_attach() != 0) return 1;
    FILE *f = fopen(path, "w");
    if (!f) return 2;
    for (uint32 s : slots)
        fprintf(f, "%u %s|%s|%s\n", s, ipsla_probes_slot_text(s, ipsla_slot_off_target),
                ipsla_probes_slot_text(s, ipsla_slot_off_settings),
                ipsla_probes_slot_text(s, ipsla_slot_off_options));
    fprintf(f, "free %u\n", ipsla_probes_free_count());
    fclose(f);
    return 0;
}

} // namespace

std::string EngineIntake::slots_when(const std::vector<uint32> &slots, const std::string &want)
{
    std::string got;
    const auto deadline = e2e_clock::now() + timeout;
    do {
        got.clear();
        EXPECT_EQ(0, h.run_in_ns([&slots] { return dump_slots(slots, "/tmp/slots"); }));
        EXPECT_EQ(0, h.read_file("/tmp/slots", &got));
        if (got == want) break;
        usleep(50 * 1000);
    } while (e2e_clock::now() < deadline);
    return got;
}

TEST_F(EngineIntake, CloudPathSlotsFollowTheOperation)
{
    ASSERT_GT(start_active(""), 0);
    set("/qz/iptrackd/config/oper/site_dns", "string", "site_dns");
    size_t m = mark();
    set("/qz/iptrackd/config/oper/site_dns/attributes", "string",
        "type=ip-monitor;ip-monitor-ip= 8.8.8.8 , 2001:DB8::1 ,1.1.1.1");
    expect_in_order(m, {"iptrack_cloudpath_update_probes: 0, dns,8.8.8.8, 0",
                        "iptrack_cloudpath_update_probes: 1, dns,2001:db8::1, 0,1",
                        "iptrack_cloudpath_update_probes: 2, dns,1.1.1.1, 0,1,2"});
    const std::string opts =
        "proxyAddress=;proxyPort=0;user-agent=;ka=0;http-timeout=0;up-thresh=0;down-thresh=0;"
        "sample-int=0;loss_up_thresh=0;loss_down_thresh=0;rtt_up_thresh=0;rtt_down_thresh=0;"
        "metric-combination=or";
    const std::string set_text = "type=ip-monitor;tunnel-name=;src-port-label=";
    const std::string want = "0 dns,8.8.8.8|" + set_text + "|" + opts + "\n1 dns,2001:db8::1|" +
                             set_text + "|" + opts + "\n2 dns,1.1.1.1|" + set_text + "|" + opts +
                             "\nfree 1021\n";
    EXPECT_EQ(slots_when({0, 1, 2}, want), want);

    // A reparse returns the three and takes the next three.
    m = mark();
    set("/qz/iptrackd/config/oper/site_dns/attributes", "string",
        "type=ip-monitor;ip-monitor-ip=8.8.8.8,1.1.1.1");
    expect_in_order(m, {"iptrack_cloudpath_update_probes: 3, dns,8.8.8.8, 3",
                        "iptrack_cloudpath_update_probes: 4, dns,1.1.1.1, 3,4"});
    EXPECT_EQ(slots_when({0}, "0 ||\nfree 1022\n"), "0 ||\nfree 1022\n");

    // Deleted, the operation goes (with its slots) when its manager is
    // cleaned.
    set("/qz/iptrackd/config/manager/m1/attributes", "string", "operation=site_dns");
    ASSERT_TRUE(wait_msg("iptrack_set_mgr_attribs: Added Operation site_dns")) << h.dump();
    m = mark();
    (void)cli({"delete", "/qz/iptrackd/config/oper/site_dns"});
    set("/qz/iptrackd/config/manager/m1/attributes", "string", "interval=30");
    // The parse that follows the clean says the slots are back.
    size_t after = m;
    ASSERT_TRUE(
        wait_msg("iptrack_delete_oper_entry: found and marked entry site_dns deleted", m, &after))
        << h.dump();
    ASSERT_TRUE(wait_msg("iptrack_set_mgr_attribs: Set Interval to 30", after)) << h.dump();
    EXPECT_EQ(slots_when({}, "free 1024\n"), "free 1024\n");
}

TEST_F(EngineIntake, CloudPathFailsSoftlyWithoutTheTable)
{
    ASSERT_GT(start_active("", false), 0);
    const size_t m = mark();
    set("/qz/iptrackd/config/oper/site_dns/attributes", "string",
        "type=ip-monitor;ip-monitor-ip=8.8.8.8");
    expect_in_order(m, {"iptrack_cloudpath_delete_probes: shmem not attached yet",
                        "iptrack_cloudpath_update_probes: shmem not attached yet",
                        "iptrack_set_oper_attribs: Managing IP addresses 8.8.8.8 reachability "
                        "for operation site_dns",
                        "iptrack_cloudpath_update_attr: shmem not attached yet"});
}
