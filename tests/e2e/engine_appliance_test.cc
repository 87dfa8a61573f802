// The engine against the simulated appliance (the example scenario): a
// system daemon restart, a label move, a tunnel removal and an interface
// coming back each make the tick do what it must, and the appliance, the
// cloud path table's owner, shows the slots the engine wrote.
#include <string>
#include <vector>

#include "support/e2e_appliance.h"

namespace
{

const char *const db =
    R"(set /logging/syslog/action/file/\/var\/log\/messages/facility/all/min_priority string notice
set /logging/syslog/process/iptrackd/log_level string info
set /qz/iptrackd/config/oper/wan_probe string wan_probe
set /qz/iptrackd/config/oper/wan_probe/attributes string "type=port-monitor;port-label=INET2"
set /qz/iptrackd/config/oper/tun_probe string tun_probe
set /qz/iptrackd/config/oper/tun_probe/attributes string "type=port-monitor;tunnel-name=hq"
set /qz/iptrackd/config/oper/inc_probe string inc_probe
set /qz/iptrackd/config/oper/inc_probe/attributes string "type=port-monitor;port-name=eth9"
)";

class EngineAppliance : public E2eTest
{
  protected:
    void start_all()
    {
        ASSERT_GT(a.start_mgmtd(db), 0);
        ASSERT_GT(a.start_appliance(a.example_scenario()), 0);
        ASSERT_GT(h.start_daemon(), 0);
        ASSERT_TRUE(h.wait_message("iptrack_req_expire: client processes are ready - going Active"))
            << h.dump();
        ASSERT_TRUE(h.wait_message("iptrack_req_expire: pending cfg change for inc_probe.."))
            << h.dump();
    }
    void appliance(const std::vector<std::string> &words)
    {
        std::vector<std::string> args = {"appliance"};
        args.insert(args.end(), words.begin(), words.end());
        const E2eCliResult r = a.cli(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    E2eAppliance a{h};
};

} // namespace

TEST_F(EngineAppliance, EachApplianceChangeDrivesTheTickAndTheOwnerShowsTheSlots)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    size_t m = h.mark();
    appliance({"sysd", "restart", "500"});
    h.expect_in_order(
        m, {"iptrack_req_expire: Client processes still initializing - pend monitors for now",
            "Sysd proc state is Ready",
            "iptrack_req_expire: interface label cfg has changed - update labels",
            "ip_track_add_ports_from_oper_label: mapping label INET2 to ifc eth1, version 4",
            "iptrack_update_labels: total labels processed = 1",
            "iptrack_req_expire: tunnel cfg has changed ",
            "iptrack_update_tunnels: total tunnels processed = 0",
            "iptrack_req_expire an interface has been updated in l3mgr",
            "iptrack_req_expire: pending cfg change for inc_probe.."});

    // The label leaves eth1 and eth2 for eth0: the label nodes change, the
    // operation is parsed again and maps the new interface.
    m = h.mark();
    appliance({"label", "move", "INET2", "eth0"});
    h.expect_in_order(m, {"iptrack_req_expire: pending cfg change for wan_probe..",
                          "ip_track_add_ports_from_oper_label: mapping label INET2 to ifc eth0, "
                          "version 4",
                          "ip_track_add_ports_from_oper_label: mapped 1 interfaces to oper "
                          "wan_probe"});

    // The tunnel goes: its configuration node is deleted, the operation is
    // marked and the tick resolves it again, in vain.
    m = h.mark();
    appliance({"tunnel", "remove", "tun-hq"});
    h.expect_in_order(m, {"iptrackd_config_handle_change, tunnel tun-hq is deleted",
                          "iptrack_req_expire: tunnel cfg has changed ",
                          "iptrack_add_oper_tunnel: no tunnel found for alias hq oper entry name "
                          "tun_probe",
                          "iptrack_update_tunnels: failure processing tunnel for oper tun_probe "
                          "tunnel hq",
                          "iptrack_update_tunnels: total tunnels processed = 1",
                          "iptrack_req_expire: tunnel update failed"});

    // eth9 comes up whole: the interface change wakes the waiting
    // operation, which now gets its port.
    m = h.mark();
    appliance({"interface", "up", "eth9"});
    h.expect_in_order(m, {"iptrackd_config_if_change ifname is eth9",
                          "iptrackd_config_if_change some monitor is pending port active",
                          "iptrack_req_expire an interface has been updated in l3mgr",
                          "iptrack_req_expire: pending cfg change for inc_probe..",
                          "iptrack_add_oper_port: setting pend cfg change for inc_probe to true, "
                          "port active 1"});

    // The appliance, the cloud path table's owner, shows the slots the
    // engine wrote.
    m = h.mark();
    const E2eCliResult r = a.cli({"set", "/qz/iptrackd/config/oper/site_dns/attributes", "string",
                                  "type=ip-monitor;ip-monitor-ip= 8.8.8.8 , 2001:DB8::1 ,1.1.1.1"});
    ASSERT_EQ(r.status, 0) << r.err;
    h.expect_in_order(m, {"iptrack_cloudpath_update_probes: 0, dns,8.8.8.8, 0",
                          "iptrack_cloudpath_update_probes: 1, dns,2001:db8::1, 0,1",
                          "iptrack_cloudpath_update_probes: 2, dns,1.1.1.1, 0,1,2"});
    const std::vector<std::string> targets = {"dns,8.8.8.8", "dns,2001:db8::1", "dns,1.1.1.1"};
    nlohmann::json probes;
    const auto deadline = e2e_clock::now() + e2e_default_timeout;
    do {
        probes = a.show("probes");
        if (probes.is_array() && probes.size() == 3 && probes[2].value("options", "") != "") break;
        usleep(50 * 1000);
    } while (e2e_clock::now() < deadline);
    ASSERT_TRUE(probes.is_array() && probes.size() == 3) << probes.dump(2);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(probes[i]["slot"], i) << probes.dump(2);
        EXPECT_EQ(probes[i]["target"], targets[i]);
        EXPECT_EQ(probes[i]["settings"], "type=ip-monitor;tunnel-name=;src-port-label=");
        EXPECT_TRUE(probes[i]["options"].get<std::string>().ends_with(";metric-combination=or"));
    }
}
