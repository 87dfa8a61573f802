// Log-level and time-zone synchronisation against an in-process responder
// that answers over the real message codec; the facility file's lookup.
#include "appliance/qz_logging_utils.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>

#include "appliance/qz_log_facility.h"
#include "mgmt/mdc_test_fixture.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace
{

constexpr const char *process_level = "/logging/syslog/process/iptrackd/log_level";
constexpr const char *local1_level =
    "/logging/syslog/action/file/\\/var\\/log\\/messages/facility/single/local1/min_priority";

// Changed bindings as a configuration-change notification delivers them; a
// null value is a deleted node.
struct change {
    const char *name;
    bn_type type;
    const char *value;
};
owned<bn_binding_array> changes(std::initializer_list<change> list)
{
    owned<bn_binding_array> a;
    EXPECT_EQ(0, bn_binding_array_new(a.out()));
    for (const change &c : list) {
        bn_binding *b = nullptr;
        EXPECT_EQ(0, bn_binding_new_str(&b, c.name, ba_value, c.type,
                                        c.value ? 0 : btf_no_value | btf_deleted, c.value));
        EXPECT_EQ(0, bn_binding_array_append_takeover(a.get(), &b));
    }
    return a;
}

class LogSync : public ::testing::Test
{
  protected:
    mdc_test::Responder r;
    owned<md_client_context> mcc;

    static void unset_levels()
    {
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        (void)lc_log_enable_override_log_level(1, 0);
        (void)lc_log_enable_override_log_level(0, 0);
    }
    void SetUp() override
    {
        ASSERT_EQ(0, lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(269), LCL_DEBUG, 136,
                                 lc_log_output_syslog));
        unset_levels();
        ASSERT_EQ(
            0, mdc_init(mdc_test::Responder::transport, &r, nullptr, nullptr, nullptr, mcc.out()));
    }
    void TearDown() override
    {
        unset_levels();
        (void)lc_log_set_max_log_level("debug");
    }
};

TEST_F(LogSync, InitAppliesOnlyTheLevelsThatAreSet)
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

    r.add(QZ_LOG_NODE_SYSTEM_LEVEL, bt_string, "info");
    r.add(process_level, bt_string, "debug");
    r.add(QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, "true");
    r.add(local1_level, bt_string, "err");
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

TEST_F(LogSync, ChangeDetachAppliesAndTakesOutLoggingNodesDeletionsClearThem)
{
    auto a = changes({{"/qz/iptrackd/config/manager/m1/enable", bt_bool, "true"},
                      {process_level, bt_string, "debug"},
                      {QZ_LOG_NODE_SYSTEM_LEVEL, bt_string, "warning"},
                      {QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, "true"},
                      {local1_level, bt_string, "notice"},
                      {"/tun/config/t1", bt_string, "x"}});
    LogCapture cap;
    ASSERT_EQ(0, qz_handle_log_level_change_detach(a.get()));
    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/config/manager/m1/enable", "/tun/config/t1"}),
              mdc_test::names_of(a.get()));
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

    // Deleted nodes clear the daemon level and the override.
    a = changes({{process_level, bt_string, nullptr},
                 {local1_level, bt_string, nullptr},
                 {QZ_LOG_NODE_OVERRIDE_ENABLE, bt_bool, nullptr}});
    cap.clear();
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
    auto a = changes({{process_level, bt_string, "info"}});
    LogCapture cap;
    ASSERT_EQ(0, qz_handle_log_level_change(a.get()));
    EXPECT_EQ(1u, bn_binding_array_length_quick(a.get()));
    EXPECT_EQ(LCL_INFO, lc_log_get_daemon_log_level());

    a = changes({{process_level, bt_string, "chatty"}});
    EXPECT_EQ(lc_err_bad_type, qz_handle_log_level_change_detach(a.get()));
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
    EXPECT_EQ(lc_err_not_found, qz_handle_time_zone_change_ex(changes({}).get()));
    EXPECT_EQ(before, lt_time_zone_reloads_for_tests());
    EXPECT_FALSE(cap.contains("Time zone change handled OK"));

    EXPECT_EQ(0, qz_handle_time_zone_change("/time/notify/zonechange"));
    EXPECT_EQ(before + 1, lt_time_zone_reloads_for_tests());
    EXPECT_EQ(1u, cap.count("Time zone change handled OK"));
    EXPECT_EQ(0, qz_handle_time_zone_change_ex(changes({{"/time/zone", bt_string, "UTC"}}).get()));
    EXPECT_EQ(before + 2, lt_time_zone_reloads_for_tests());
}

// The facility comes from the daemon's own line, else the "system" line,
// else local1; malformed lines are skipped.
TEST(FacilityFile, OwnLineThenSystemLineThenLocal1)
{
    char path[] = "/tmp/ipt_facility.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string both = "# facilities\n"
                             "firewall 144\n"
                             "system 152   # the daemons\n"
                             "iptrackd 160\n";
    const std::string malformed = "system\n"           // no number
                                  "system 13\n"        // not a facility code
                                  "system 999\n"       // out of range
                                  "system 8x\n"        // trailing garbage
                                  "system 136 extra\n" // extra field
                                  "iptrackd -8\n"      // negative
                                  + std::string(400, 'x') +
                                  " 8\n" // overlong line
                                  "system\t176\n";
    const struct {
        std::string text;
        const char *name;
        int32 facility;
    } cases[] = {
        {both, "iptrackd", 160},      {both, "tunneld", 152},
        {both, nullptr, 152},         {"firewall 144\n", "iptrackd", LOG_LOCAL1},
        {"", "iptrackd", LOG_LOCAL1}, {malformed, "iptrackd", 176},
    };
    for (const auto &c : cases) {
        std::ofstream(path) << c.text;
        EXPECT_EQ(lc_log_get_facility_from(path, c.name), c.facility) << c.text;
    }
    unlink(path);
    EXPECT_EQ(lc_log_get_facility_from(path, "iptrackd"), LOG_LOCAL1);
    EXPECT_EQ(lc_log_get_facility_from(nullptr, "iptrackd"), LOG_LOCAL1);
}

} // namespace
