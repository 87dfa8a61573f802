// The engine's sending modules against a provider playing the peers.
// Probes: the bindings of each request in order, the decoding of the
// replies, the address-family retirement, and one operation's run for a
// manager.  Manager status: which action each applied result sends (held
// back, inverse, revert), the metric total, route labels, the alarms and
// their texts, and the not-installed path.  Whole alarm bindings with the
// appliance tables (hierarchy, source label and address) are seen end to
// end.
#include "engine_peer_fixture.h"

namespace
{

using Probe = EnginePeers;
using Status = EnginePeers;

TEST_F(Probe, PingRequestsCarryEveryBindingInOrderWithTheTunnelOnlyWhenThereIsOne)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_copy_text(oper->probe_num, sizeof(oper->probe_num), "0,1,2");
    iptrack_copy_text(oper->tunnel_name, sizeof(oper->tunnel_name), "tun-a");
    oper->tunnel_id = 77;
    ASSERT_EQ(0, iptrack_send_oper_delete(oper));
    const auto sent = take_sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("/qz/iptrackd/action/ip_mon", sent[0].name);
    const std::string tail =
        "port_name string mgmt0|port_version uint8 4|dst_ip string 10.0.0.9|ka_interval uint16 1|"
        "up_threshold uint16 3|dn_threshold uint16 30|sample_int uint16 300|"
        "loss_up_thresh uint16 0|loss_dn_thresh uint16 0|rtt_up_thresh uint32 0|"
        "rtt_dn_thresh uint32 0|metric_combination uint8 1|probe_num string 0,1,2|"
        "ip_mon_name string op1";
    EXPECT_EQ(split("mon_action uint16 5|tun_name string tun-a|tun_id uint32 77|" + tail),
              sent[0].bindings);

    oper->tunnel_name[0] = '\0';
    ASSERT_EQ(0, iptrack_send_oper_delete(oper));
    EXPECT_EQ(split("mon_action uint16 5|" + tail), take_sent().at(0).bindings);
}

TEST_F(Probe, HttpRequestsCarryEveryBindingInOrder)
{
    iptrack_oper *oper = ping_oper("web", "http://example.test/", {{"mgmt0", 6}});
    oper->type = iptrack_oper_http;
    oper->subtype = iptrack_subtype_http;
    iptrack_copy_text(oper->proxy_addr, sizeof(oper->proxy_addr), "proxy.test");
    oper->proxy_port = 3128;
    iptrack_copy_text(oper->user_agent, sizeof(oper->user_agent), "agent/1");
    oper->http_timeout = 5;
    oper->metric_flags = iptrack_metric_and | iptrack_metric_force_dns;
    LogCapture log;

    ASSERT_EQ(0, iptrack_mgr_send_http_mon_request(oper, iptrack_mon_start));
    const auto sent = take_sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("/qz/iptrackd/action/http_mon", sent[0].name);
    EXPECT_EQ(split("http_mon_action uint16 1|port_name string mgmt0|port_version uint8 6|"
                    "http_dst_url_str string http://example.test/|http_ka_interval uint16 1|"
                    "http_up_threshold uint16 3|http_dn_threshold uint16 30|"
                    "http_proxy string proxy.test|http_user_agent string agent/1|"
                    "http_timeout uint16 5|http_proxy_port uint16 3128|http_mon_name string web|"
                    "sample_int uint16 300|loss_up_thresh uint16 0|loss_dn_thresh uint16 0|"
                    "rtt_up_thresh uint32 0|rtt_dn_thresh uint32 0|metric_combination uint8 6|"
                    "probe_num string "),
              sent[0].bindings);
    EXPECT_TRUE(log.contains("iptrack_mgr_send_http_mon_request_by_port: set http bindings as "
                             "url:http://example.test/ port:mgmt0 tunnel ka:1 up:3 down:30 "
                             "timeout:5 proxy:proxy.test proxy port:3128 user agent:agent/1 "
                             "sample_int:300 loss_up_thresh:0 loss_down_thresh:0 "
                             "rtt_up_thresh:0 rtt_down_thresh:0 mertic:AND"))
        << log.dump();
}

TEST_F(Probe, OnlyAPollReplyIsStoredAndItsHighHalfIsNameResolution)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}, {"mgmt1", 6}});
    set_ip_state("mgmt0", true, false);
    set_ip_state("mgmt1", false);

    ASSERT_EQ(0, iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_start));
    EXPECT_EQ(0, oper->probe_state & (iptrack_ps_v4_up | iptrack_ps_v4_dns_ok));

    ASSERT_EQ(0, iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_poll));
    EXPECT_EQ(iptrack_ps_v4_up | iptrack_ps_v6_dns_ok,
              oper->probe_state & (iptrack_ps_v4_up | iptrack_ps_v4_dns_ok | iptrack_ps_v6_up |
                                   iptrack_ps_v6_dns_ok));
}

TEST_F(Probe, MissingStateOrPortIsLoggedAndARefusalFailsTheRequest)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    LogCapture log;
    ASSERT_EQ(0, iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_poll));
    EXPECT_TRUE(log.contains("iptrack_mgr_send_ip_mon_request_by_port: no return bindings in Ping "
                             "monitor operation reply"));

    refuse("/qz/iptrackd/action/ip_mon", 14004);
    EXPECT_NE(0, iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_poll));
    EXPECT_TRUE(log.contains("iptrack_mgr_send_ip_mon_request IPTRACK_ACTION_IP_MON failed for "
                             "mgmt0"))
        << log.dump();

    iptrack_oper *bare = ping_oper("bare", "10.0.0.1", {});
    EXPECT_EQ(1, iptrack_mgr_send_ip_mon_request(bare, iptrack_mon_poll));
    bare->type = iptrack_oper_vrrp;
    EXPECT_EQ(1, iptrack_mgr_send_vrrp_mon_request(bare));
    EXPECT_TRUE(log.contains(
        "iptrack_mgr_send_vrrp_mon_request: port not found for VRRP state monitor operation - "
        "aborting"));
    EXPECT_TRUE(take_sent().size() == 2u); // the two ping Polls only
}

TEST_F(Probe, FirstRunOnlyStartsThenPollsGiveResultsAndCountFailures)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_mgr *mgr = manager("m1", oper, nullptr, nullptr);
    iptrack_op_request *req = mgr->requests.head;
    ASSERT_NE(nullptr, req);
    set_ip_state("mgmt0", false);

    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(0u, req->runs);
    EXPECT_FALSE(req->flags & iptrack_rf_new_result);
    EXPECT_TRUE(oper->state_flags & iptrack_os_requested);
    req->flags &= static_cast<uint8>(~iptrack_rf_not_sent);

    // Down first counts a failure; down again does not; down after up does.
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(1u, req->failures);
    set_ip_state("mgmt0", true);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(1, req->result);
    set_ip_state("mgmt0", false);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(2u, req->failures);
    EXPECT_EQ(4u, req->runs);
    EXPECT_EQ(4u, req->runs2);
    EXPECT_TRUE(req->flags & iptrack_rf_new_result);

    const auto sent = take_sent();
    std::vector<std::string> codes;
    for (const auto &s : sent) codes.push_back(s.bindings.at(0));
    EXPECT_EQ(split("mon_action uint16 1|mon_action uint16 2|mon_action uint16 2|"
                    "mon_action uint16 2|mon_action uint16 2"),
              codes);
}

TEST_F(Probe, DnsOkFollowsEitherFamilyAndADisabledManagerIsNotPolled)
{
    iptrack_oper *oper = ping_oper("op1", "host.test", {{"mgmt0", 4}});
    iptrack_mgr *mgr = manager("m1", oper, nullptr, nullptr);
    iptrack_op_request *req = mgr->requests.head;
    req->flags &= static_cast<uint8>(~iptrack_rf_not_sent);

    set_ip_state("mgmt0", false, false);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(0, req->dns_ok);
    set_ip_state("mgmt0", true, true);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(1, req->dns_ok);
    (void)take_sent();

    mgr->flags |= iptrack_mf_disabled;
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_TRUE(take_sent().empty());
    EXPECT_EQ(3u, req->runs);
}

TEST_F(Probe, InterfaceAndVrrpMonitorsAskForTheFirstPortAndSetTheResult)
{
    iptrack_oper *oper = ping_oper("ifmon", "", {{"mgmt0", 4}, {"mgmt1", 4}});
    oper->type = iptrack_oper_port;
    iptrack_mgr *mgr = manager("m1", oper, nullptr, nullptr);
    iptrack_op_request *req = mgr->requests.head;
    LogCapture log;

    set_bool_state("mgmt0", true);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(1, req->result);
    EXPECT_EQ(1u, req->runs); // no Start round for these monitors
    EXPECT_TRUE(log.contains(
        "iptrack_mgr_send_port_mon_request: interface mgmt0 monitor reported status change to Up"));

    oper->type = iptrack_oper_vrrp;
    set_bool_state("mgmt0", false);
    ASSERT_EQ(0, iptrack_mgr_send_operation_request(oper, req, mgr));
    EXPECT_EQ(0, req->result);
    EXPECT_TRUE(log.contains(
        "iptrack_mgr_send_vrrp_mon_request: VRRP state monitor reported status change to "
        "nonMaster"));

    const auto sent = take_sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("/qz/iptrackd/action/port_mon", sent[0].name);
    EXPECT_EQ(std::vector<std::string>({"port_name string mgmt0"}), sent[0].bindings);
    EXPECT_EQ("/qz/iptrackd/action/vrrp_mon", sent[1].name);
    EXPECT_EQ(std::vector<std::string>({"port_name string mgmt0"}), sent[1].bindings);
}

TEST_F(Status, PriorityManagerHoldsBackInitToUpThenDecrementsAndIncrementsWithTheAlarm)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_action *inc = prio_action("inc5", false, 5);
    iptrack_action *dec = prio_action("dec5", true, 5);
    iptrack_mgr *mgr = manager("m1", oper, "inc5", "dec5");
    LogCapture log;

    apply(mgr, true);
    EXPECT_TRUE(take_sent().empty());
    EXPECT_TRUE(log.contains("IPTRACKD iptrack_mgr_send_action_request vrrp - not sending vrrp "
                             "action for init to up"))
        << log.dump();
    EXPECT_EQ(1, mgr->status);
    EXPECT_EQ(500000u, mgr->last_up_ms);

    lt_clock_advance_for_tests(2000);
    apply(mgr, false);
    auto sent = take_sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("/qz/alarms/events/raise_alarm", sent[0].name);
    EXPECT_EQ("/qz/iptrackd/action/update_vrrp", sent[1].name);
    EXPECT_EQ(split("action string decrement|port_name string mgmt1|vrrp_priority uint16 5"),
              sent[1].bindings);
    EXPECT_TRUE(mgr->flags & iptrack_mf_port_alarm);
    EXPECT_TRUE(dec->flags & iptrack_af_applied);
    EXPECT_EQ(502000u, mgr->last_dn_ms);

    apply(mgr, true);
    sent = take_sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("/qz/alarms/events/clear_alarm", sent[0].name);
    EXPECT_EQ(split("action string increment|port_name string mgmt1|vrrp_priority uint16 5"),
              sent[1].bindings);
    EXPECT_FALSE(mgr->flags & iptrack_mf_port_alarm);
    EXPECT_FALSE(inc->flags & iptrack_af_applied);

    // The same status again is not applied: nothing is sent, the mark stays.
    apply(mgr, true);
    EXPECT_TRUE(take_sent().empty());
    EXPECT_TRUE(mgr->requests.head->flags & iptrack_rf_new_result);
    EXPECT_EQ(3u, mgr->evaluations);
    EXPECT_EQ(3u, mgr->status_changes);
}

TEST_F(Status, DefaultUpActionSendsTheInverseOfTheDownActionAndARevertTheConfiguredValue)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    prio_action("dec5", true, 5);
    iptrack_mgr *mgr = manager("m1", oper, "def-vrrp", "dec5");

    // The inverse (code 2) is not held back on the change from init.
    apply(mgr, true);
    const auto sent = take_sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(split("action string config|port_name string mgmt1|vrrp_priority uint16 0"),
              sent[0].bindings);

    const std::pair<uint32, uint32> down_up[] = {{1, 2}, {3, 4}, {4, 3}, {5, 5},
                                                 {6, 6}, {7, 7}, {8, 7}};
    for (const auto &[down, up] : down_up) {
        mgr->dn_action->type = down;
        mgr->status = 1;
        uint32 code = 99;
        EXPECT_EQ(mgr->dn_action, iptrack_mgr_set_action(mgr, &code));
        EXPECT_EQ(up, code) << "down action type " << down;
    }

    // A revert forces up and turns a priority change into the configured value.
    mgr->dn_action->type = iptrack_action_vrrp_prio;
    prio_action("inc5", false, 5);
    iptrack_mgr *rev = manager("m2", oper, "inc5", "dec5");
    rev->status = 0;
    rev->alarm_flags |= iptrack_maf_revert;
    uint32 code = 0;
    EXPECT_EQ(rev->up_action, iptrack_mgr_set_action(rev, &code));
    EXPECT_EQ(2u, code);
    EXPECT_EQ(1, rev->status);
    EXPECT_FALSE(rev->alarm_flags & iptrack_maf_revert);
}

TEST_F(Status, AlarmOnlyDownActionRaisesTheAlarmAndSendsNothingElse)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_copy_text(oper->tunnel_alias, sizeof(oper->tunnel_alias), "branch-1");
    iptrack_mgr *mgr = manager("m1", oper, "def-alarm", "alarm");
    LogCapture log;

    apply(mgr, false);
    const auto sent = take_sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("/qz/alarms/events/raise_alarm", sent[0].name);
    EXPECT_EQ("alarm_type string 262249", sent[0].bindings.at(0));
    EXPECT_EQ("param_3 string Ping for 10.0.0.9 on Port mgmt0 tunnel branch-1    ",
              sent[0].bindings.at(3));
    EXPECT_TRUE(mgr->flags & iptrack_mf_tunnel_alarm);
    EXPECT_FALSE(log.contains("action not defined")) << log.dump();
}

TEST_F(Status, ARefusedActionIsLoggedAndLeavesTheAppliedFlag)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_action *dec = prio_action("dec5", true, 5);
    iptrack_mgr *mgr = manager("m1", oper, nullptr, "dec5");
    refuse("/qz/iptrackd/action/update_vrrp", 1);
    LogCapture log;

    apply(mgr, false);
    EXPECT_FALSE(dec->flags & iptrack_af_applied);
    EXPECT_FALSE(log.contains("sent action 1 for monitor status Down"));
    EXPECT_TRUE(log.contains("Error code")) << log.dump();

    // Up without an up action or default: logged, nothing chosen.
    apply(mgr, true);
    EXPECT_TRUE(log.contains("iptrack_mgr_set_action: there is no UP action for mgr m1"));
    EXPECT_TRUE(log.contains(
        "iptrack_mgr_send_action_request: unable to assign action type for action dec5 mgr m1"));
}

TEST_F(Status, RouteLabelsFollowAndOrOverTheBoundManagers)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_mgr *up = manager("up", oper, nullptr, nullptr);
    iptrack_mgr *down = manager("down", oper, nullptr, nullptr);
    iptrack_mgr *unrun = manager("unrun", oper, nullptr, nullptr);
    for (iptrack_mgr *m : {up, down, unrun}) m->rtlabel_id = 7;
    up->status = 1;
    up->requests.head->runs = 1;
    down->requests.head->runs = 1;
    unrun->status = 1; // never ran: left out
    auto label_state = [&](bool and_mode, iptrack_mgr *exclude) {
        EXPECT_EQ(0, iptrack_mgr_determine_rtlabel_status(7, and_mode, exclude));
        const auto sent = take_sent();
        EXPECT_EQ(1u, sent.size());
        if (sent.size() != 1) return std::string();
        EXPECT_EQ("/qz/iptrackd/action/update_route_label", sent[0].name);
        EXPECT_EQ("route_label_id uint32 7", sent[0].bindings.at(0));
        return sent[0].bindings.at(1);
    };

    EXPECT_EQ("route_label_state bool false", label_state(true, nullptr));
    EXPECT_EQ("route_label_state bool true", label_state(false, nullptr));
    EXPECT_EQ("route_label_state bool true", label_state(true, down));
    EXPECT_EQ("route_label_state bool false", label_state(false, up));
    down->flags |= iptrack_mf_disabled;
    up->flags |= iptrack_mf_disabled;
    EXPECT_EQ("route_label_state bool true", label_state(true, nullptr));

    LogCapture log;
    EXPECT_EQ(0, iptrack_mgr_determine_rtlabel_status(0, true, nullptr));
    EXPECT_EQ(1, iptrack_mgr_determine_rtlabel_status(256, true, nullptr));
    EXPECT_TRUE(log.contains(
        "iptrack_mgr_determine_rtlabel_status: Label ID 256 is greater than max of 255"));
    EXPECT_TRUE(take_sent().empty());
}

TEST_F(Status, AnInactivePortForcesDownWithoutTheDownActionAndRaisesNotInstalledOnce)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    prio_action("dec5", true, 5);
    iptrack_mgr *mgr = manager("m1", oper, "def-vrrp", "dec5");
    apply(mgr, true);
    (void)take_sent();

    oper->state_flags &= static_cast<uint8>(~iptrack_os_port_active);
    iptrack_op_request *req = mgr->requests.head;
    LogCapture log;
    iptrack_mgr_not_installed(mgr, req, oper);
    iptrack_mgr_evaluate(mgr);
    iptrack_mgr_not_installed(mgr, req, oper);
    iptrack_mgr_evaluate(mgr);

    const auto sent = take_sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("/qz/alarms/events/raise_alarm", sent[0].name);
    EXPECT_EQ("alarm_type string 262196", sent[0].bindings.at(0));
    EXPECT_EQ("param_3 string Ping for 10.0.0.9 on Port mgmt0 tunnel N/A    Port mgmt0 not found",
              sent[0].bindings.at(3));
    EXPECT_EQ("comment string An IP SLA monitor is not installed", sent[0].bindings.at(4));
    EXPECT_EQ(0, mgr->status);
    EXPECT_EQ(1u, req->runs);
    EXPECT_TRUE(mgr->alarm_flags & iptrack_maf_not_installed);
    EXPECT_TRUE(log.contains("iptrack_mgr_not_installed port is not active yet, attribs , port "
                             "active 0, tunnel active 1"))
        << log.dump();

    // An up result afterwards is applied and sends the up action.
    apply(mgr, true);
    const auto after = take_sent();
    ASSERT_EQ(1u, after.size());
    EXPECT_EQ("action string config", after[0].bindings.at(0));
}

TEST_F(Status, MonitorTextsDescribeEachTypeWithLabelAndWhatIsMissing)
{
    iptrack_oper *oper = ping_oper("op1", "10.0.0.9", {{"mgmt0", 4}});
    iptrack_mgr *mgr = manager("m1", oper, nullptr, nullptr);
    iptrack_copy_text(oper->label, sizeof(oper->label), "wan");
    oper->state_flags |= iptrack_os_label_based;
    iptrack_copy_text(oper->tunnel_alias, sizeof(oper->tunnel_alias), "t9");
    oper->state_flags &= static_cast<uint8>(~iptrack_os_tunnel_active);

    const std::pair<uint16, const char *> texts[] = {
        {iptrack_oper_port, "Interface for Port mgmt0 label wan "},
        {iptrack_oper_ip,
         "Ping for 10.0.0.9 on Port mgmt0 tunnel t9 label wan Tunnel t9 not found "},
        {iptrack_oper_vrrp, "VRRP state for Interface mgmt0 label wan "},
        {iptrack_oper_http,
         "HTTP GET for 10.0.0.9 on Port mgmt0 tunnel t9 label wan Tunnel t9 not found "},
        {iptrack_oper_unset, ""},
    };
    for (const auto &[type, text] : texts) {
        oper->type = type;
        iptrack_mgr_fill_alarm_text(mgr, oper);
        EXPECT_STREQ(text, mgr->monitor_text) << "type " << type;
    }

    // Long targets and aliases are cut to the field.
    const std::string targets(iptrack_targets_size - 1, 'x');
    iptrack_copy_text(oper->targets, sizeof(oper->targets), targets.c_str());
    const std::string alias(iptrack_name_size - 1, 'y');
    iptrack_copy_text(oper->tunnel_alias, sizeof(oper->tunnel_alias), alias.c_str());
    oper->type = iptrack_oper_ip;
    iptrack_mgr_fill_alarm_text(mgr, oper);
    EXPECT_EQ(iptrack_alarm_text_size - 1, strlen(mgr->monitor_text));
    iptrack_mgr_fill_dns_alarm_text(mgr, oper);
    EXPECT_EQ(iptrack_alarm_text_size - 1, strlen(mgr->dns_alarm_text));
}

} // namespace
