// Log-level and time-zone synchronisation against an in-process responder
// that answers over the real message codec.
#include "appliance/qz_logging_utils.h"

#include <gtest/gtest.h>

#include "mgmt/mdc_test_fixture.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace
{

using mdc_test::names_of;
using mdc_test::Responder;

constexpr const char *process_level = "/logging/syslog/process/iptrackd/log_level";
constexpr const char *local1_level =
    "/logging/syslog/action/file/\\/var\\/log\\/messages/facility/single/local1/min_priority";

class LogSync : public ::testing::Test
{
  protected:
    Responder r;
    owned<md_client_context> mcc;

    void SetUp() override
    {
        ASSERT_EQ(0, lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(269), LCL_DEBUG, 136,
                                 lc_log_output_syslog));
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        (void)lc_log_enable_override_log_level(1, 0);
        (void)lc_log_enable_override_log_level(0, 0);
        ASSERT_EQ(0, mdc_init(Responder::transport, &r, nullptr, nullptr, nullptr, mcc.out()));
    }
    void TearDown() override
    {
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        (void)lc_log_enable_override_log_level(1, 0);
        (void)lc_log_enable_override_log_level(0, 0);
        (void)lc_log_set_max_log_level("debug");
    }

    // A changed binding as a configuration-change notification delivers it.
    static void add_change(bn_binding_array *a, const char *name, bn_type type, const char *value,
                           bool deleted = false)
    {
        owned<bn_binding> b;
        if (deleted)
            ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type,
                                            btf_no_value | btf_deleted, nullptr));
        else
            ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
        bn_binding *p = b.release();
        ASSERT_EQ(0, bn_binding_array_append_takeover(a, &p));
    }
};

TEST_F(LogSync, InitWithoutLoggingNodesChangesNothing)
{
    LogCapture cap;
    const int32 system_before = lc_log_get_system_log_level();
    ASSERT_EQ(0, qz_init_log_level(mcc.get()));
    EXPECT_EQ(lc_log_daemon_level_unset, lc_log_get_daemon_log_level());
    EXPECT_EQ(system_before, lc_log_get_system_log_level());
    EXPECT_FALSE(lc_log_override_active());
    EXPECT_FALSE(cap.contains("Synchronized")) << cap.dump();
    // Four reads, in the documented order.
    ASSERT_EQ(4u, r.seen().size());
    EXPECT_EQ(process_level, mdc_test::name_of(mdc_test::node_of(r.seen()[1], 0)->binding));
    EXPECT_EQ(local1_level, mdc_test::name_of(mdc_test::node_of(r.seen()[3], 0)->binding));
}

TEST_F(LogSync, InitAppliesEveryLevelThatIsSet)
{
    r.add(QZ_LOG_NODE_SYSTEM_LEVEL, bt_string, "info");
    r.add(process_level, bt_string, "debug");
    r.add(QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, "true");
    r.add(local1_level, bt_string, "err");
    LogCapture cap;
    ASSERT_EQ(0, qz_init_log_level(mcc.get()));
    EXPECT_EQ(LCL_INFO, lc_log_get_system_log_level());
    EXPECT_EQ(LCL_DEBUG, lc_log_get_daemon_log_level());
    EXPECT_TRUE(lc_log_override_active());
    EXPECT_EQ(LCL_ERR, lc_log_get_override_log_level());
    EXPECT_TRUE(cap.contains("Synchronized system log level to 'info'")) << cap.dump();
    EXPECT_TRUE(cap.contains("Synchronized daemon log level to 'debug'")) << cap.dump();
    EXPECT_TRUE(cap.contains("Synchronized override log level to \"err\"")) << cap.dump();
}

TEST_F(LogSync, InitStopsAtAnUnknownDaemonLevelOrAFailedRead)
{
    r.add(process_level, bt_string, "loud");
    r.add(local1_level, bt_string, "err");
    LogCapture cap;
    EXPECT_EQ(lc_err_bad_type, qz_init_log_level(mcc.get()));
    EXPECT_EQ(lc_log_daemon_level_unset, lc_log_get_daemon_log_level());
    EXPECT_EQ(2u, r.seen().size()); // the override reads never ran

    r.transport_error = lc_err_io_closed;
    EXPECT_EQ(lc_err_io_closed, qz_init_log_level(mcc.get()));
}

TEST_F(LogSync, ChangeDetachLeavesOnlyOtherNodesAndAppliesThem)
{
    owned<bn_binding_array> a;
    ASSERT_EQ(0, bn_binding_array_new(a.out()));
    add_change(a.get(), "/qz/iptrackd/config/manager/m1/enable", bt_bool, "true");
    add_change(a.get(), process_level, bt_string, "debug");
    add_change(a.get(), QZ_LOG_NODE_SYSTEM_LEVEL, bt_string, "warning");
    add_change(a.get(), QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, "true");
    add_change(a.get(), local1_level, bt_string, "notice");
    add_change(a.get(), "/tun/config/t1", bt_string, "x");

    LogCapture cap;
    ASSERT_EQ(0, qz_handle_log_level_change_detach(a.get()));
    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/config/manager/m1/enable", "/tun/config/t1"}),
              names_of(a.get()));
    EXPECT_EQ(LCL_DEBUG, lc_log_get_daemon_log_level());
    EXPECT_EQ(LCL_WARNING, lc_log_get_system_log_level());
    EXPECT_TRUE(lc_log_override_active());
    EXPECT_EQ(LCL_NOTICE, lc_log_get_override_log_level());
    const std::string found =
        std::string("Found process to change level: ") + process_level + "=debug";
    EXPECT_TRUE(cap.contains(found)) << cap.dump();
    EXPECT_TRUE(cap.contains("Process log_level='debug'"));
    EXPECT_TRUE(cap.contains("Syslog log level is set to \"warning\""));
    EXPECT_TRUE(cap.contains("Syslog system-wide override is enabled"));
    EXPECT_TRUE(
        cap.contains("Syslog per-class local1 override is enabled, log level is \"notice\""));
}

TEST_F(LogSync, DeletedNodesClearTheDaemonLevelAndTheOverride)
{
    (void)lc_log_set_daemon_log_level(LCL_DEBUG);
    (void)lc_log_enable_override_log_level(1, 1);
    (void)lc_log_enable_override_log_level(0, 1);
    owned<bn_binding_array> a;
    ASSERT_EQ(0, bn_binding_array_new(a.out()));
    add_change(a.get(), process_level, bt_string, nullptr, true);
    add_change(a.get(), local1_level, bt_string, nullptr, true);
    add_change(a.get(), QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, nullptr, true);

    LogCapture cap;
    ASSERT_EQ(0, qz_handle_log_level_change_detach(a.get()));
    EXPECT_EQ(0u, bn_binding_array_length_quick(a.get()));
    EXPECT_EQ(lc_log_daemon_level_unset, lc_log_get_daemon_log_level());
    EXPECT_FALSE(lc_log_override_active());
    EXPECT_TRUE(cap.contains("Syslog system-wide override is disabled")) << cap.dump();
    EXPECT_TRUE(cap.contains("Syslog per-class local1 override is disabled")) << cap.dump();
    EXPECT_FALSE(cap.contains("Process log_level="));
}

TEST_F(LogSync, ChangeWithoutDetachKeepsTheBindingsAndRefusesUnknownLevels)
{
    owned<bn_binding_array> a;
    ASSERT_EQ(0, bn_binding_array_new(a.out()));
    add_change(a.get(), process_level, bt_string, "info");
    LogCapture cap;
    ASSERT_EQ(0, qz_handle_log_level_change(a.get()));
    EXPECT_EQ(1u, bn_binding_array_length_quick(a.get()));
    EXPECT_EQ(LCL_INFO, lc_log_get_daemon_log_level());

    owned<bn_binding_array> bad;
    ASSERT_EQ(0, bn_binding_array_new(bad.out()));
    add_change(bad.get(), process_level, bt_string, "chatty");
    EXPECT_EQ(lc_err_bad_type, qz_handle_log_level_change_detach(bad.get()));
    EXPECT_EQ(LCL_INFO, lc_log_get_daemon_log_level());
}

TEST_F(LogSync, RegistrationsSendTheInterestAction)
{
    ASSERT_EQ(0, qz_register_time_zone_change(mcc.get()));
    ASSERT_EQ(0, qz_register_log_level_change(mcc.get()));
    ASSERT_EQ(2u, r.seen().size());
    for (const bn_request *req : r.seen()) {
        const tstring *action = nullptr;
        ASSERT_EQ(0, bn_action_request_msg_get_action_name(req, &action));
        EXPECT_STREQ(QZ_INTEREST_ADD_ACTION, ts_str(action));
    }
    ASSERT_EQ(1u, mdc_test::node_count(r.seen()[0]));
    EXPECT_EQ(QZ_TIME_ZONE_EVENT, mdc_test::value_of(mdc_test::node_of(r.seen()[0], 0)->binding));
    ASSERT_EQ(2u, mdc_test::node_count(r.seen()[1]));
    EXPECT_EQ("match/1/pattern", mdc_test::name_of(mdc_test::node_of(r.seen()[1], 1)->binding));
    EXPECT_EQ("/logging/**", mdc_test::value_of(mdc_test::node_of(r.seen()[1], 1)->binding));
}

TEST(TimeZone, OnlyTheZoneEventIsHandled)
{
    LogCapture cap;
    const uint32 before = lt_time_zone_reloads_for_tests();
    EXPECT_EQ(lc_err_not_found, qz_handle_time_zone_change("/mgmtd/notify/dbchange"));
    EXPECT_EQ(lc_err_not_found, qz_handle_time_zone_change(nullptr));
    EXPECT_EQ(before, lt_time_zone_reloads_for_tests());
    EXPECT_FALSE(cap.contains("Time zone change handled OK"));

    EXPECT_EQ(0, qz_handle_time_zone_change("/time/notify/zonechange"));
    EXPECT_EQ(before + 1, lt_time_zone_reloads_for_tests());
    EXPECT_EQ(1u, cap.count("Time zone change handled OK"));

    owned<bn_binding_array> a;
    ASSERT_EQ(0, bn_binding_array_new(a.out()));
    EXPECT_EQ(lc_err_not_found, qz_handle_time_zone_change_ex(a.get()));
    owned<bn_binding> zone;
    ASSERT_EQ(0, bn_binding_new_str(zone.out(), "/time/zone", ba_value, bt_string, 0, "UTC"));
    bn_binding *p = zone.release();
    ASSERT_EQ(0, bn_binding_array_append_takeover(a.get(), &p));
    EXPECT_EQ(0, qz_handle_time_zone_change_ex(a.get()));
    EXPECT_EQ(before + 2, lt_time_zone_reloads_for_tests());
}

} // namespace
