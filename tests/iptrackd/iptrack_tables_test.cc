// The tables: names cut to 63 characters, get un-marking deleted entries,
// actions outliving their delete while managers use them, removal deferred
// while the engine is busy, the enabled-manager count, and managers cleaning
// up deleted operations.
#include <gtest/gtest.h>

#include "engine_tables.h"
#include "util/ttime.h"

namespace
{

class Tables : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        init_engine_logging();
        ASSERT_EQ(iptrack_init(), 0);
    }
    void TearDown() override { iptrack_deinit(); }

    static iptrack_mgr *mgr(const char *name, const char *attribs)
    {
        iptrack_mgr *m = iptrack_get_mgr_entry(name);
        iptrack_mgr_set_attribs(m, attribs);
        (void)iptrack_set_mgr_attribs(m);
        m->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
        return m;
    }
};

} // namespace

TEST_F(Tables, LongNamesAreCutTo63AndStillFindTheirEntry)
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
    EXPECT_EQ(iptrack_g.opers.count, 1u);
    EXPECT_EQ(iptrack_find_oper_entry(std::string(62, 'a').c_str()), nullptr);

    iptrack_mgr *m = iptrack_get_mgr_entry(n64.c_str());
    EXPECT_EQ(iptrack_find_mgr_entry(n70.c_str()), m);
    iptrack_action *a = iptrack_get_action_entry(n70.c_str());
    EXPECT_EQ(iptrack_find_action_entry(n63.c_str()), a);
}

// The defaults of new entries show in the probe bindings and parsed fields.
TEST_F(Tables, GetUnmarksDeleted)
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

TEST_F(Tables, ActionUsedByTwoManagersGoesWhenTheSecondDropsIt)
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
    EXPECT_EQ(iptrack_g.actions.count, 0u);
}

TEST_F(Tables, SubnetMetricActionLeavesTheTotalNeverBelowZero)
{
    iptrack_action *a = iptrack_get_action_entry("metric");
    iptrack_action_set_attribs(a, "type=subnet-metric;delta=40");
    ASSERT_EQ(iptrack_set_action_attribs(a), 0);
    iptrack_g.metric_total = 25;
    EXPECT_EQ(iptrack_delete_action_entry("metric"), 0);
    EXPECT_EQ(iptrack_g.metric_total, 0u);
}

TEST_F(Tables, RemovalWhileBusyHidesTheEntryAndFreesItWhenTheEngineLetsGo)
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

TEST_F(Tables, EnablingAndDisablingMoveTheEnabledCountOnce)
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

TEST_F(Tables, CleaningAManagerRemovesItsDeletedOperations)
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
