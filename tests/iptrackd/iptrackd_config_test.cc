// The configuration intake, one binding at a time, without mgmtd: every
// binding here has an effect that stays in the engine's tables (nothing is
// sent).  The facility change rewrites the process's logging and a debug
// file, so it is shown end to end, where the test owns the file system.
#include "iptrackd_config.h"

#include <gtest/gtest.h>

#include "engine_tables.h"

namespace
{

class Intake : public EngineTables
{
  protected:
    void SetUp() override
    {
        EngineTables::SetUp();
        cap_.clear();
    }
    // Hands one binding to the intake; `deleted` marks the node deleted.
    int change(const char *name, bn_type type, const char *value, bool deleted = false)
    {
        owned<bn_binding> b;
        EXPECT_EQ(bn_binding_new_str(b.out(), name, ba_value, type,
                                     deleted ? uint32{btf_deleted} : 0u, value),
                  0);
        return iptrackd_config_handle_change(nullptr, 0, b.get(), nullptr);
    }
    int str(const char *name, const char *value, bool deleted = false)
    {
        return change(name, bt_string, value, deleted);
    }
    // Failure lines carry the source position; keep their text only.
    std::vector<std::string> bodies() const
    {
        std::vector<std::string> out = ::bodies(cap_);
        for (std::string &b : out)
            if (const size_t at = b.find(", build "); at != std::string::npos)
                b = b.substr(b.find(": ", at) + 2);
        return out;
    }
    LogCapture cap_{LCL_INFO};
};

} // namespace

TEST_F(Intake, OperationAttributesAreStoredTruncatedAndDeletesOnlyMark)
{
    const std::string big(1500, 'x');
    EXPECT_EQ(str("/qz/iptrackd/config/oper/op1/attributes", big.c_str()), 0);
    iptrack_oper *o = iptrack_find_oper_entry("op1");
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(std::string(o->new_attribs), big.substr(0, 1023));
    EXPECT_TRUE(o->state_flags & iptrack_os_cfg_pending);
    EXPECT_EQ(bodies().back(), "iptrackd_config_update_oper: Updated operation op1");

    // The deleted attributes node alone changes nothing; any other deleted
    // node marks the entry; an unknown operation is not created.
    EXPECT_EQ(str("/qz/iptrackd/config/oper/op1/attributes", "", true), 0);
    EXPECT_FALSE(o->state_flags & iptrack_os_deleted);
    EXPECT_EQ(str("/qz/iptrackd/config/oper/op1/hq_marked", "", true), 0);
    EXPECT_TRUE(o->state_flags & iptrack_os_deleted);
    EXPECT_EQ(str("/qz/iptrackd/config/oper/ghost", "", true), 0);
    EXPECT_EQ(iptrack_find_oper_entry("ghost"), nullptr);
    // A later value un-marks it.
    EXPECT_EQ(str("/qz/iptrackd/config/oper/op1/attributes", "type=ip-monitor"), 0);
    EXPECT_FALSE(o->state_flags & iptrack_os_deleted);
    EXPECT_TRUE(cap_.contains(
        "iptrackd_config_update_oper: updating operation op1 attributes type=ip-monitor"));
    EXPECT_EQ(iptrack_g.opers.count, 1u);
}

TEST_F(Intake, ActionAttributesAndDeletes)
{
    EXPECT_EQ(str("/qz/iptrackd/config/action/a1/attributes", "type=subnet-adv"), 0);
    iptrack_action *a = iptrack_find_action_entry("a1");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->attribs, "type=subnet-adv");
    EXPECT_TRUE(a->flags & iptrack_af_label_pending);
    EXPECT_TRUE(cap_.contains(
        "iptrackd_config_update_action: updating action a1 attributes type=subnet-adv"));
    EXPECT_TRUE(cap_.contains("iptrackd_config_update_action: Updated action a1")) << cap_.dump();
    EXPECT_EQ(str("/qz/iptrackd/config/action/a1", "", true), 0);
    EXPECT_EQ(iptrack_find_action_entry("a1"), nullptr);
    EXPECT_EQ(iptrackd_config_update_action(nullptr, "x"), 0);
    EXPECT_EQ(iptrackd_config_update_action("a2", nullptr), 0);
    EXPECT_EQ(iptrack_g.actions.count, 0u);
}

TEST_F(Intake, ManagerNodesEachTakeTheirEffect)
{
    EXPECT_EQ(str("/qz/iptrackd/config/manager/m1/attributes", "operation=op1"), 0);
    iptrack_mgr *m = iptrack_find_mgr_entry("m1");
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->flags & iptrack_mf_attribs_changed);
    EXPECT_TRUE(
        cap_.contains("iptrackd_config_update_mgr: updating manager m1 attributes operation=op1"));
    EXPECT_TRUE(cap_.contains("iptrackd_config_update_mgr: Updated manager m1")) << cap_.dump();

    EXPECT_EQ(change("/qz/iptrackd/config/manager/m1/enable", bt_bool, "false"), 0);
    EXPECT_TRUE(m->flags & iptrack_mf_disabled);
    EXPECT_TRUE(
        cap_.contains("iptrackd_config_update_mgr: updating manager m1 admin status to Down"));

    const std::string comment(100, 'c');
    EXPECT_EQ(str("/qz/iptrackd/config/manager/m1/comment", comment.c_str()), 0);
    EXPECT_EQ(std::string(m->note), "IPSLA:" + comment.substr(0, 65));

    cap_.clear();
    EXPECT_EQ(change("/qz/iptrackd/config/manager/m1/label_id", bt_uint32, "5"), 0);
    EXPECT_EQ(m->cfg_rtlabel_id, 5u);
    EXPECT_TRUE(m->flags & iptrack_mf_rtlabel_pending);
    EXPECT_EQ(bodies(), (std::vector<std::string>{
                            "iptrackd_config_handle_change: updating "
                            "/qz/iptrackd/config/manager/m1/label_id",
                            "iptrackd_config_update_mgr_rtlabel: updating manager m1 route label "
                            "ID 5",
                            "iptrack_find_mgr_entry: found mgr entry m1 in table",
                            "iptrackd_config_update_mgr_rtlabel: Updated manager m1 label ID to 5",
                        }));

    // The model's limit itself is refused and the label stays.
    cap_.clear();
    const std::string limit = std::to_string(get_max_route_labels());
    EXPECT_EQ(change("/qz/iptrackd/config/manager/m1/label_id", bt_uint32, limit.c_str()),
              lc_err_assertion_failed);
    EXPECT_EQ(m->cfg_rtlabel_id, 5u);
    EXPECT_EQ(bodies(), (std::vector<std::string>{
                            "iptrackd_config_handle_change: updating "
                            "/qz/iptrackd/config/manager/m1/label_id",
                            "Required condition was not met",
                            "iptrackd_config_update_mgr_rtlabel: Failed to update manager m1 "
                            "label ID to " +
                                limit,
                            "Error code 14002 (assertion failed) returned",
                        }))
        << cap_.dump();

    // Deleted nodes mark; the manager node itself does nothing; the
    // container above it is not a manager at all.
    EXPECT_EQ(str("/qz/iptrackd/config/manager/m1/attributes", "", true), 0);
    EXPECT_FALSE(m->flags & iptrack_mf_deleted);
    EXPECT_EQ(str("/qz/iptrackd/config/manager/m1/enable", "", true), 0);
    EXPECT_TRUE(m->flags & iptrack_mf_deleted);
    cap_.clear();
    EXPECT_EQ(str("/qz/iptrackd/config/manager/m1", "m1"), 0);
    EXPECT_EQ(str("/qz/iptrackd/config/manager", ""), 0);
    EXPECT_EQ(bodies(),
              (std::vector<std::string>{
                  "iptrackd_config_handle_change: updating /qz/iptrackd/config/manager/m1",
                  "iptrackd_config_handle_change: updating /qz/iptrackd/config/manager",
                  "IP Track update: Unsupported binding /qz/iptrackd/config/manager",
              }));
}

TEST_F(Intake, LabelsTunnelsAndVirtualInterfacesMarkWhatUsesThem)
{
    iptrack_oper *o = oper("wan_probe", "port-label=wan");
    iptrack_oper *t = oper("tun_probe", "tunnel-name=branchA");
    oper("vti_probe", "port-name=vti1");
    iptrack_g.change_flags = 0;

    cap_.clear();
    EXPECT_EQ(str("/net/interface/config/eth2/label", "wan"), 0);
    EXPECT_TRUE(o->state_flags & iptrack_os_cfg_pending);
    EXPECT_EQ(bodies().back(), "iptrackd_config_handle_change: /net/interface/config/eth2/label "
                               "cfg change caused label update; label wan");
    o->state_flags &= static_cast<uint8>(~iptrack_os_cfg_pending);
    EXPECT_EQ(str("/qz/iflabels/config/3/name", "wan"), 0);
    EXPECT_TRUE(o->state_flags & iptrack_os_cfg_pending);
    cap_.clear();
    EXPECT_EQ(str("/qz/iflabels/state/3", "wan"), 0); // below iflabels, not a definition
    EXPECT_EQ(bodies().size(), 1u);

    EXPECT_EQ(str("/tun/config/tunA/config_bin", "", true), 0);
    EXPECT_TRUE(t->state_flags & iptrack_os_tunnel_changed);
    EXPECT_TRUE(iptrack_g.change_flags & iptrack_chg_tunnel);
    EXPECT_TRUE(cap_.contains("iptrackd_config_handle_change, tunnel tunA is deleted"));
    EXPECT_EQ(str("/tun/config/tunA/config_bin", "x"), 0);
    EXPECT_TRUE(iptrack_g.change_flags & iptrack_chg_if_or_tunnel);
    iptrack_g.change_flags = 0;
    EXPECT_EQ(str("/tun/config/tunA/other", "x"), 0);
    EXPECT_EQ(str("/tun/config/unused/config_bin", "", true), 0);
    EXPECT_EQ(iptrack_g.change_flags, 0);

    cap_.clear();
    EXPECT_EQ(str("/net/if2/config/virtual/vti/vti1/label", "lan"), 0);
    EXPECT_TRUE(iptrack_g.change_flags & iptrack_chg_label);
    EXPECT_EQ(bodies(),
              (std::vector<std::string>{
                  "iptrackd_config_handle_change: updating /net/if2/config/virtual/vti/vti1/label",
                  "iptrackd_config_handle_change: ifname is vti1, in use: yes",
                  "iptrackd_config_handle_change: /net/if2/config/virtual/vti/vti1/label cfg "
                  "change caused label update; label lan",
              }));
}

TEST_F(Intake, RouteLabelConditionAndUnsupportedNodes)
{
    EXPECT_EQ(change("/qz/rtlabels/config/0/is_down_condition_any", bt_bool, "true"), 0);
    EXPECT_EQ(change("/qz/rtlabels/config/0/is_down_condition_any", bt_uint32, "1"),
              lc_err_assertion_failed);
    cap_.clear();
    EXPECT_EQ(str("/logging/syslog/facility/firewall", "x"), 0);
    EXPECT_EQ(str("/qz/tunneld/system/config/router/r1/mtu", "x"), 0);
    EXPECT_EQ(str("/qz/redd/net/interface/vrrp/1/prio", "x"), 0);
    EXPECT_EQ(bodies(),
              (std::vector<std::string>{
                  "iptrackd_config_handle_change: updating /logging/syslog/facility/firewall",
                  "IP Track update: Unsupported binding /logging/syslog/facility/firewall",
                  "iptrackd_config_handle_change: updating "
                  "/qz/tunneld/system/config/router/r1/mtu",
                  "iptrackd_config_handle_change: updating /qz/redd/net/interface/vrrp/1/prio",
              }));
}

TEST_F(Intake, InterfaceChangeWakesTheEngineOnlyForWaitingOperations)
{
    auto event = [](const char *ifname) {
        owned<bn_binding_array> arr;
        EXPECT_EQ(bn_binding_array_new(arr.out()), 0);
        bn_binding *b = nullptr;
        EXPECT_EQ(bn_binding_new_str(&b, "ifname", ba_value, bt_string, 0, ifname), 0);
        EXPECT_EQ(bn_binding_array_append_takeover(arr.get(), &b), 0);
        return arr;
    };
    EXPECT_EQ(iptrackd_config_if_change(event("").get()), 0);
    EXPECT_TRUE(cap_.lines().empty());
    EXPECT_EQ(iptrackd_config_if_change(event("eth1").get()), 0);
    EXPECT_TRUE(cap_.contains("iptrackd_config_if_change no monitor is pending port active"));
    EXPECT_EQ(iptrack_g.change_flags & iptrack_chg_if_or_tunnel, 0);
    oper("inc_probe", "port-name=eth9");
    EXPECT_EQ(iptrackd_config_if_change(event("eth9").get()), 0);
    EXPECT_TRUE(cap_.contains("iptrackd_config_if_change ifname is eth9"));
    EXPECT_TRUE(cap_.contains("iptrackd_config_if_change some monitor is pending port active"));
    EXPECT_TRUE(iptrack_g.change_flags & iptrack_chg_if_or_tunnel);
    EXPECT_EQ(iptrackd_config_if_change(nullptr), lc_err_unexpected_null);
}
