// The engine's tables and the ports of their entries, against published
// appliance tables.  The tables: names cut to 63 characters, get un-marking
// deleted entries, actions outliving their delete while managers use them,
// removal deferred while the engine is busy, the enabled-manager count, and
// managers cleaning up deleted operations.  Ports: labels, bridges,
// management ports, VTIs and tunnels, incomplete interfaces; the tick
// re-resolving them when a label moves, a tunnel goes or an interface
// changes; and cloud path probe slots as the engine takes, fills and
// returns them in a probe table created in this process (as its owner
// would).
#include <gtest/gtest.h>

#include "engine_tables.h"
#include "util/ttime.h"

namespace
{

// A tick with the peers ready and the engine active; no send happens for
// the entries these tests use.
void tick_without_peers()
{
    uint32 pid = 0;
    if (lc_get_process_id("sysd", "/var/run/sysd.pid", &pid) != 0) pid = 0;
    iptrack_g.sysd_pid = pid;
    iptrack_g.change_flags |=
        iptrack_chg_tunneld_ready | iptrack_chg_sysd_ready | iptrack_chg_redd_ready;
    EXPECT_EQ(iptrack_req_expire(), 0);
}

class CloudPath : public EngineTables
{
  protected:
    void SetUp() override
    {
        EngineTables::SetUp();
        ASSERT_EQ(ipsla_probes_create(), 0);
        ASSERT_EQ(ipsla_probes_queue_init(), 0);
    }
    static std::string text(uint32 slot, uint32 off)
    {
        const char *t = ipsla_probes_slot_text(slot, off);
        return t ? t : "(none)";
    }
};

} // namespace

TEST_F(EngineTables, LongNamesAreCutTo63AndStillFindTheirEntry)
{
    const std::string n63(63, 'a');
    const std::string n64 = n63 + "b";
    const std::string n70 = n64 + "cdefgh";
    iptrack_oper *o = iptrack_get_oper_entry(n70.c_str());
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(std::string(o->name), n63);
    EXPECT_EQ(iptrack_find_oper_entry(n64.c_str()), o);
    EXPECT_EQ(iptrack_find_oper_entry(n63.c_str()), o);
    EXPECT_EQ(iptrack_get_oper_entry(n70.c_str()), o);
    EXPECT_EQ(iptrack_find_oper_entry(std::string(62, 'a').c_str()), nullptr);

    iptrack_mgr *m = iptrack_get_mgr_entry(n64.c_str());
    EXPECT_EQ(iptrack_find_mgr_entry(n70.c_str()), m);
    iptrack_action *a = iptrack_get_action_entry(n70.c_str());
    EXPECT_EQ(iptrack_find_action_entry(n63.c_str()), a);
}

// The defaults of new entries show in the probe bindings and parsed fields.
TEST_F(EngineTables, GetUnmarksDeleted)
{
    iptrack_oper *o = iptrack_get_oper_entry("op");
    iptrack_oper_mark_deleted(o);
    EXPECT_EQ(iptrack_get_oper_entry("op"), o);
    EXPECT_FALSE(o->state_flags & iptrack_os_deleted);

    iptrack_mgr *m = iptrack_get_mgr_entry("m");
    EXPECT_EQ(iptrack_delete_mgr_entry("m"), 0);
    EXPECT_TRUE(m->flags & iptrack_mf_deleted);
    EXPECT_EQ(iptrack_get_mgr_entry("m"), m);
    EXPECT_FALSE(m->flags & iptrack_mf_deleted);

    iptrack_action *a = iptrack_get_action_entry("a");
    mgr("user", "up-action=a");
    EXPECT_EQ(iptrack_delete_action_entry("a"), 0);
    EXPECT_TRUE(a->flags & iptrack_af_delete_pending);
    EXPECT_EQ(iptrack_get_action_entry("a"), a);
    EXPECT_FALSE(a->flags & iptrack_af_delete_pending);
}

TEST_F(EngineTables, ActionUsedByTwoManagersGoesWhenTheSecondDropsIt)
{
    (void)iptrack_get_action_entry("a1");
    mgr("m1", "up-action=a1");
    mgr("m2", "dn-action=a1");
    LogCapture cap(LCL_INFO);
    EXPECT_EQ(iptrack_delete_action_entry("a1"), 0);
    EXPECT_EQ(bodies(cap), (std::vector<std::string>{
                               "iptrack_delete_action_entry: deleting action a1",
                               "iptrack_find_action_entry: found action entry a1 in table",
                               "iptrack_delete_action_entry: cannot delete a1 because still used "
                               "by 2 mgrs",
                           }));
    mgr("m1", "interval=5");
    ASSERT_NE(iptrack_find_action_entry("a1"), nullptr);
    EXPECT_EQ(iptrack_find_action_entry("a1")->users, 1);
    cap.clear();
    mgr("m2", "interval=5");
    EXPECT_EQ(iptrack_find_action_entry("a1"), nullptr);
    EXPECT_TRUE(cap.contains("iptrack_delete_action_entry: found and deleted entry a1"))
        << cap.dump();
}

TEST_F(EngineTables, SubnetMetricActionLeavesTheTotalNeverBelowZero)
{
    iptrack_action *a = iptrack_get_action_entry("metric");
    iptrack_action_set_attribs(a, "type=subnet-metric;delta=40");
    ASSERT_EQ(iptrack_set_action_attribs(a), 0);
    iptrack_g.metric_total = 25;
    EXPECT_EQ(iptrack_delete_action_entry("metric"), 0);
    EXPECT_EQ(iptrack_g.metric_total, 0u);
}

TEST_F(EngineTables, RemovalWhileBusyHidesTheEntryAndFreesItWhenTheEngineLetsGo)
{
    iptrack_oper *o = iptrack_get_oper_entry("op");
    iptrack_mgr *m = iptrack_get_mgr_entry("m");
    {
        iptrack_busy_scope busy;
        {
            iptrack_busy_scope nested;
            EXPECT_EQ(iptrack_busy(), 2u);
            EXPECT_EQ(iptrack_delete_oper_entry("op"), 0);
            iptrack_remove_mgr(m);
        }
        // Still allocated and linked: whoever held it may read it.
        EXPECT_STREQ(o->name, "op");
        EXPECT_EQ(iptrack_g.opers.head, o);
        EXPECT_EQ(iptrack_find_oper_entry("op"), nullptr);
        EXPECT_EQ(iptrack_find_mgr_entry("m"), nullptr);
        EXPECT_EQ(iptrack_get_num_mgrs(), 0);
        // A new entry of the same name is a different one.
        iptrack_oper *again = iptrack_get_oper_entry("op");
        EXPECT_NE(again, o);
        EXPECT_EQ(iptrack_g.opers.count, 1u);
    }
    EXPECT_EQ(iptrack_busy(), 0u);
    EXPECT_NE(iptrack_g.opers.head, o);
    EXPECT_EQ(iptrack_g.opers.head, iptrack_find_oper_entry("op"));
    EXPECT_EQ(iptrack_g.mgrs.head, nullptr);
    EXPECT_EQ(iptrack_g.removed, 0u);
}

TEST_F(EngineTables, EnablingAndDisablingMoveTheEnabledCountOnce)
{
    iptrack_mgr *m = iptrack_get_mgr_entry("m");
    EXPECT_EQ(iptrack_g.enabled_mgrs, 1);
    EXPECT_EQ(iptrack_set_mgr_status(m, false), 0);
    EXPECT_EQ(iptrack_set_mgr_status(m, false), 0);
    EXPECT_EQ(iptrack_g.enabled_mgrs, 0);
    EXPECT_TRUE(m->flags & iptrack_mf_admin_down_pending);
    EXPECT_TRUE(m->flags & iptrack_mf_rtlabel_pending);
    m->reset_time_ms = 0;
    lt_clock_set_manual_for_tests(1000000, 123456);
    EXPECT_EQ(iptrack_set_mgr_status(m, true), 0);
    lt_clock_restore_for_tests();
    EXPECT_EQ(iptrack_g.enabled_mgrs, 1);
    EXPECT_FALSE(m->flags & (iptrack_mf_disabled | iptrack_mf_admin_down_pending));
    EXPECT_EQ(m->reset_time_ms, 123456u); // enabling resets
    EXPECT_EQ(iptrack_set_mgr_status(nullptr, true), lc_err_unexpected_null);
}

TEST_F(EngineTables, CleaningAManagerRemovesItsDeletedOperations)
{
    iptrack_oper *keep = iptrack_get_oper_entry("keep");
    iptrack_oper *gone = iptrack_get_oper_entry("gone");
    keep->type = gone->type = iptrack_oper_port; // no monitor to stop
    lt_clock_set_manual_for_tests(1000000, 50000);
    iptrack_mgr *m = mgr("m", "operation=keep;operation=gone;interval=10");
    EXPECT_EQ(m->requests.count, 2u);
    EXPECT_EQ(m->requests.head->due_s, 50u + 30u);
    EXPECT_TRUE(m->requests.head->flags & iptrack_rf_not_sent);
    lt_clock_restore_for_tests();

    iptrack_oper_mark_deleted(gone);
    EXPECT_EQ(iptrack_g.opers.count, 2u); // counted until a manager cleans
    {
        iptrack_busy_scope busy; // as in the tick
        EXPECT_EQ(iptrack_mgr_clean(m), 0);
    }
    EXPECT_EQ(m->requests.count, 0u);
    EXPECT_EQ(m->requests.head, nullptr);
    EXPECT_EQ(iptrack_find_oper_entry("gone"), nullptr);
    EXPECT_EQ(iptrack_find_oper_entry("keep"), keep);
    EXPECT_EQ(iptrack_g.opers.count, 1u);
}

TEST_F(EngineTables, LabelGivesTheOperationOnePortPerFamilyAndTheActionOne)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o = oper("wan_probe", "type=port-monitor;port-label=wan");
    EXPECT_EQ(ports(o->ports), "eth1/4,eth4/6");
    EXPECT_TRUE(o->state_flags & iptrack_os_label_based);
    EXPECT_TRUE(o->state_flags & iptrack_os_port_active);
    for (const char *line : {"ip_track_add_ports_from_oper_label: mapping label wan to ifc eth1, "
                             "version 4",
                             "ip_track_add_ports_from_oper_label: mapping label wan to ifc eth4, "
                             "version 6",
                             "ip_track_add_ports_from_oper_label: mapped 4 interfaces to oper "
                             "wan_probe"})
        EXPECT_TRUE(has_line(cap, line)) << line << "\n" << cap.dump();

    iptrack_action *a = action("prio", "type=vrrp-prio;port-label=wan");
    EXPECT_EQ(ports(a->ports), "eth1/4");
    EXPECT_TRUE(
        has_line(cap, "ip_track_add_ports_from_action_label: mapping label wan to ifc eth1"));
    EXPECT_TRUE(
        has_line(cap, "ip_track_add_ports_from_action_label: mapped 4 interfaces to action prio"));

    char text[iptrack_label_size];
    iptrack_label_display_text("wan", text);
    EXPECT_STREQ(text, "Internet");
    iptrack_label_display_text("lan", text);
    EXPECT_STREQ(text, "lan");
}

TEST_F(EngineTables, BridgeMembersAndManagementPortsResolve)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o = oper("br_probe", "type=port-monitor;port-name=lan1");
    EXPECT_EQ(ports(o->ports), "br0/4");
    EXPECT_TRUE(has_line(cap, "iptrackd_get_br_ifname_from_port, Bridge interface name is br0"));
    EXPECT_EQ(ports(action("adv", "type=subnet-adv;port-name=lan0")->ports), "br0/4");

    // Only the text before ':' names the interface; the port keeps its name.
    EXPECT_EQ(ports(oper("alias_probe", "port-name=eth2:1")->ports), "eth2:1/4");

    iptrack_oper *m = oper("mgmt_probe", "port-name=mgmt0");
    EXPECT_EQ(ports(m->ports), "mgmt0/4");
    EXPECT_TRUE(m->state_flags & iptrack_os_port_active);
}

TEST_F(EngineTables, VtiResolvesItsTunnelAndTunnelNameItsSourcePort)
{
    iptrack_oper *v = oper("vti_probe", "type=ip-monitor;port-name=vti1");
    EXPECT_EQ(ports(v->ports), "vti1/4");
    EXPECT_STREQ(v->tunnel_name, "tunA");
    EXPECT_STREQ(v->tunnel_alias, "branchA");
    EXPECT_EQ(v->tunnel_id, 7u);

    LogCapture cap(LCL_INFO);
    iptrack_oper *t = oper("tun_probe", "type=ip-monitor;tunnel-name=branchA");
    EXPECT_STREQ(t->tunnel_name, "tunA");
    EXPECT_STREQ(t->tunnel_src_port, "eth1");
    EXPECT_EQ(ports(t->ports), "eth1/4") << cap.dump();
    EXPECT_TRUE(t->state_flags & iptrack_os_tunnel_active);
    // A source port given in the string wins over the tunnel's own.
    EXPECT_EQ(ports(oper("tun_probe", "tunnel-name=branchA;src-port-name=eth3")->ports), "eth3/4");
}

TEST_F(EngineTables, IncompleteOrMissingInterfaceIsNotAdded)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o = oper("inc_probe", "port-name=eth9");
    EXPECT_EQ(ports(o->ports), "");
    EXPECT_FALSE(o->state_flags & iptrack_os_port_active);
    EXPECT_TRUE(has_line(cap, "iptrackd_get_br_ifname_from_port port eth9 is incomplete"));
    EXPECT_TRUE(has_line(
        cap,
        "iptrack_add_oper_port: setting pend cfg change for inc_probe to true, port active 0"));
    oper("gone_probe", "port-name=eth77");
    EXPECT_TRUE(
        has_line(cap, "iptrackd_get_br_ifname_from_port port eth77 not found or is incomplete"));
    EXPECT_TRUE(iptrack_monitor_pending_port_active());
    // An action keeps its port even when the interface is not there.
    EXPECT_EQ(ports(action("adv", "port-name=eth77")->ports), "eth77/4");
}

TEST_F(EngineTables, UsesMarkTheEntriesThatDependOnThem)
{
    iptrack_oper *o = oper("wan_probe", "port-label=wan");
    iptrack_oper *t = oper("tun_probe", "tunnel-name=branchA");
    iptrack_action *a = action("prio", "port-label=wan");
    action("adv", "port-name=eth3");

    EXPECT_TRUE(iptrack_is_label_in_use("wan"));
    EXPECT_TRUE(o->state_flags & iptrack_os_cfg_pending);
    EXPECT_TRUE(a->flags & iptrack_af_label_pending);
    EXPECT_FALSE(iptrack_is_label_in_use("lan"));

    EXPECT_TRUE(iptrack_is_tunnel_in_use("tunA"));
    EXPECT_TRUE(t->state_flags & iptrack_os_tunnel_changed);
    EXPECT_FALSE(o->state_flags & iptrack_os_tunnel_changed);

    EXPECT_TRUE(iptrack_is_ifname_in_use("eth4"));  // second port of an operation
    EXPECT_TRUE(iptrack_is_ifname_in_use("eth3"));  // first port of an action
    EXPECT_FALSE(iptrack_is_ifname_in_use("eth2")); // nobody's
}

// The tick's lines for these are seen end to end; here what it leaves.
TEST_F(EngineTables, TickReresolvesAMovedLabelARemovedTunnelAndAChangedInterface)
{
    iptrack_oper *o = oper("wan_probe", "type=port-monitor;port-label=wan");
    iptrack_action *a = action("prio", "type=vrrp-prio;port-label=wan");
    iptrack_oper *t = oper("tun_probe", "type=port-monitor;tunnel-name=branchA");
    iptrack_oper *i = oper("inc_probe", "type=port-monitor;port-name=eth9");
    ASSERT_EQ(ports(o->ports), "eth1/4,eth4/6");

    // The label moves off eth1: the intake's label update, then a tick.
    put(test_if("eth1", 4, "lan"), "10.0.0.1");
    EXPECT_TRUE(iptrack_is_label_in_use("wan"));
    iptrack_notify_label_chg();
    tick_without_peers();
    EXPECT_EQ(ports(o->ports), "eth2/4,eth4/6");
    EXPECT_EQ(ports(a->ports), "eth2/4");
    EXPECT_FALSE(o->state_flags & iptrack_os_cfg_pending);
    EXPECT_FALSE(iptrack_g.change_flags & iptrack_chg_label);

    // The tunnel goes: the intake's deleted tunnel, then a tick.
    ASSERT_EQ(qz_shm_pub_remove_tunnel(tunnel_.get(), "tunA"), 0);
    EXPECT_TRUE(iptrack_is_tunnel_in_use("branchA"));
    iptrack_notify_tunnel_chg();
    tick_without_peers();
    EXPECT_FALSE(t->state_flags & iptrack_os_tunnel_active);
    EXPECT_TRUE(t->state_flags & iptrack_os_tunnel_changed);

    // eth9 completes: the interface change makes inactive operations reparse.
    put(test_if("eth9", 4));
    iptrack_notify_if_or_tunnel_change();
    tick_without_peers();
    EXPECT_EQ(ports(i->ports), "eth9/4");
    EXPECT_TRUE(i->state_flags & iptrack_os_port_active);
}

TEST_F(CloudPath, TargetsTakeSlotsInOrderWithCanonicalAddresses)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o =
        oper("site_dns", "type=ip-monitor;ip-monitor-ip= 8.8.8.8 , 2001:DB8::1 ,1.1.1.1;ka=2");
    EXPECT_STREQ(o->probe_num, "0,1,2");
    EXPECT_EQ(text(0, ipsla_slot_off_target), "dns,8.8.8.8");
    EXPECT_EQ(text(1, ipsla_slot_off_target), "dns,2001:db8::1");
    EXPECT_EQ(text(2, ipsla_slot_off_target), "dns,1.1.1.1");
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_update_probes: 0, dns,8.8.8.8, 0"));
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_update_probes: 1, dns,2001:db8::1, 0,1"));
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_update_probes: 2, dns,1.1.1.1, 0,1,2"));
    for (uint32 slot : {0u, 1u, 2u}) {
        EXPECT_EQ(text(slot, ipsla_slot_off_settings),
                  "type=ip-monitor;tunnel-name=;src-port-label=");
        EXPECT_EQ(text(slot, ipsla_slot_off_options),
                  "proxyAddress=;proxyPort=0;user-agent=;ka=2;http-timeout=0;up-thresh=0;"
                  "down-thresh=0;sample-int=0;loss_up_thresh=0;loss_down_thresh=0;"
                  "rtt_up_thresh=0;rtt_down_thresh=0;metric-combination=or");
    }
    EXPECT_EQ(ipsla_probes_free_count(), ipsla_probes_max - 3);
}

TEST_F(CloudPath, ReparseFreesAndRetakesAndDeleteReturnsThem)
{
    iptrack_oper *o = oper("site_dns", "type=http-monitor;http-monitor-url=http://a/,http://b/");
    ASSERT_STREQ(o->probe_num, "0,1");
    // The ring hands out the slots after the ones just returned.
    oper("site_dns", "type=http-monitor;http-monitor-url=http://c/;metric-combination=metric-and");
    EXPECT_STREQ(o->probe_num, "2");
    EXPECT_EQ(text(0, ipsla_slot_off_target), "");
    EXPECT_EQ(text(1, ipsla_slot_off_settings), "");
    EXPECT_EQ(text(2, ipsla_slot_off_target), "dns,http://c/");
    EXPECT_TRUE(text(2, ipsla_slot_off_options).ends_with(";metric-combination=and"));
    EXPECT_EQ(ipsla_probes_free_count(), ipsla_probes_max - 1);

    EXPECT_EQ(iptrack_delete_oper_entry("site_dns"), 0);
    EXPECT_EQ(ipsla_probes_free_count(), ipsla_probes_max);
    EXPECT_EQ(text(2, ipsla_slot_off_target), "");
}

TEST_F(CloudPath, TargetsBeforeTypeTakeNoSlotOnAFirstParseButDoOnTheNext)
{
    // The reset before a parse keeps the type, so only the second parse
    // knows it is a ping operation when it reaches the targets.
    iptrack_oper *o = oper("site_web", "ip-monitor-ip=8.8.8.8;type=ip-monitor");
    EXPECT_STREQ(o->probe_num, "");
    oper("site_web", "ip-monitor-ip=8.8.8.8;type=ip-monitor");
    EXPECT_STREQ(o->probe_num, "0");
    EXPECT_EQ(text(0, ipsla_slot_off_target), "web,8.8.8.8");
}

TEST_F(CloudPath, BadNamesAndOtherTypesTakeNothing)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o = oper("___", "type=ip-monitor;ip-monitor-ip=8.8.8.8");
    EXPECT_STREQ(o->probe_num, "");
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_update_probes: Unknown name format ___"));
    EXPECT_STREQ(oper("site_if", "type=port-monitor;ip-monitor-ip=8.8.8.8")->probe_num, "");
    EXPECT_EQ(ipsla_probes_free_count(), ipsla_probes_max);
}

// Their lines are in the grammar table.
TEST_F(EngineTables, ProbeCallsFailSoftlyBeforeTheTableIsAttached)
{
    iptrack_oper *o = oper("site_dns", "type=ip-monitor;ip-monitor-ip=8.8.8.8");
    EXPECT_STREQ(o->probe_num, "");
    EXPECT_EQ(iptrack_cloudpath_update_probes(o), 1);
    EXPECT_EQ(iptrack_cloudpath_delete_probes(o), 1);
    EXPECT_EQ(iptrack_get_synthetic_probes(), 0u);
}
