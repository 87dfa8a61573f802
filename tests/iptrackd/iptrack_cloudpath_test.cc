// Cloud path probe slots as the engine takes, fills and returns them in a
// probe table created in this process (as its owner would).
#include <gtest/gtest.h>

#include "engine_tables.h"

namespace
{

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

bool has_line(const LogCapture &cap, const std::string &body)
{
    for (const std::string &l : cap.lines())
        if (l.ends_with("]: " + body)) return true;
    return false;
}

} // namespace

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

TEST_F(EngineTables, ProbeCallsFailSoftlyBeforeTheTableIsAttached)
{
    LogCapture cap(LCL_INFO);
    iptrack_oper *o = oper("site_dns", "type=ip-monitor;ip-monitor-ip=8.8.8.8");
    EXPECT_STREQ(o->probe_num, "");
    EXPECT_EQ(iptrack_cloudpath_update_probes(o), 1);
    EXPECT_EQ(iptrack_cloudpath_delete_probes(o), 1);
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_update_probes: shmem not attached yet"));
    EXPECT_TRUE(has_line(cap, "iptrack_cloudpath_delete_probes: shmem not attached yet"));
    EXPECT_EQ(iptrack_get_synthetic_probes(), 0u);
}
