// The probe requests against a provider playing the peer monitors: the
// bindings of each request in order, the decoding of the replies, the
// address-family retirement, and one operation's run for a manager.
#include "engine_peer_fixture.h"

namespace
{

using Probe = EnginePeers;

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

} // namespace
