// State queries: the guards and log lines of the get callback (the record
// sizes are checked end to end), and what a whole query answer carries when
// one of its nodes is unknown (built through the management client's
// dispatcher, as the session does).
#include "iptrackd_monitor.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "iptrackd_main.h"
#include "mgmt/mdc_misc.h"
#include "support/log_capture.h"

namespace
{

class MonitorGet : public ::testing::Test
{
  protected:
    owned<bn_binding_array> out;
    LogCapture cap;

    void SetUp() override
    {
        m_daemon_status = iptrackd_status_ready;
        ASSERT_EQ(0, bn_binding_array_new(out.out()));
    }
    void TearDown() override { m_daemon_status = iptrackd_status_initializing; }
    int get(const char *name)
    {
        owned<tstr_array> parts;
        bool absolute = false;
        EXPECT_EQ(0, bn_binding_name_to_parts(name, parts.out(), &absolute));
        return iptrackd_mon_handle_get(name, parts.get(), nullptr, out.get());
    }
    uint32 results() const { return bn_binding_array_length_quick(out.get()); }
    const bn_binding *result(uint32 i) const { return bn_binding_array_get_quick(out.get(), i); }

    std::string text_of(uint32 i) const
    {
        owned<tstring> v;
        EXPECT_EQ(0, bn_binding_get_tstr(result(i), ba_value, 0, nullptr, v.out()));
        return v ? ts_str(v.get()) : "";
    }
    bool logged(const std::string &message, int level) const
    {
        const auto lines = cap.lines();
        const auto prios = cap.priorities();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].ends_with(": " + message) && prios[i] == level) return true;
        return false;
    }
};

} // namespace

TEST_F(MonitorGet, NamesOutsideOursAreNotAnswered)
{
    ASSERT_EQ(0, get("/qz/other/node"));
    EXPECT_EQ(0u, results());
    EXPECT_TRUE(logged("iptrackd mon get $$$$$$$$$$$$$$$$: /qz/other/node", LCL_INFO))
        << cap.dump();
    EXPECT_TRUE(logged("iptrackd mon get: not for us - /qz/other/node", LCL_NOTICE)) << cap.dump();
}

TEST_F(MonitorGet, IsAliveAnswersWhateverTheStatus)
{
    const struct {
        int32 status;
        const char *text;
        const char *line;
        int level;
    } cases[] = {
        {iptrackd_status_ready, "Ready",
         "iptrackd: thread liveness test passed.  Building response ...", LCL_INFO},
        {iptrackd_status_initializing, "Initializing",
         "Liveness check shows still initializing, not ready.", LCL_NOTICE},
        {iptrackd_status_failed_db_loading, nullptr,
         "Liveness check ignored since init Failed.  Building response ...", LCL_NOTICE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        cap.clear();
        ASSERT_EQ(0, bn_binding_array_new(out.out()));
        m_daemon_status = c.status;
        ASSERT_EQ(0, get("/qz/iptrackd/state/is_alive"));
        ASSERT_EQ(1u, results());
        EXPECT_STREQ("/qz/iptrackd/state/is_alive", ts_str(bn_binding_get_name_quick(result(0))));
        const std::string expected =
            c.text ? c.text : lc_enum_to_string(iptrackd_daemon_status_map, c.status);
        EXPECT_EQ(expected, text_of(0));
        EXPECT_STREQ(expected.c_str(), tmp_str);
        EXPECT_TRUE(logged(c.line, c.level)) << cap.dump();
    }
}

TEST_F(MonitorGet, RecordsAreNotAnsweredBeforeReady)
{
    m_daemon_status = iptrackd_status_initializing;
    for (const char *node :
         {"/qz/iptrackd/state/mgr", "/qz/iptrackd/state/summary", "/qz/iptrackd/state/other"}) {
        cap.clear();
        ASSERT_EQ(0, get(node));
        EXPECT_EQ(0u, results());
        EXPECT_TRUE(logged("Discard monitor req because init not ready", LCL_NOTICE)) << cap.dump();
    }
}

TEST_F(MonitorGet, UnknownNodeOfOursGetsNoValueInTheAnswer)
{
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    for (const char *node :
         {"/qz/iptrackd/state/summary", "/qz/iptrackd/state/other", "/qz/iptrackd/state/is_alive"})
        ASSERT_EQ(0, bn_query_request_msg_append_str(req.get(), bqso_get, 0, node, nullptr));
    owned<bn_response> resp;
    ASSERT_EQ(0, mdc_mon_build_response(req.get(), iptrackd_mon_handle_get, nullptr,
                                        iptrackd_mon_handle_iterate, nullptr, resp.out()));
    uint32 code = 1;
    ASSERT_EQ(0, bn_response_get_return(resp.get(), &code, nullptr));
    EXPECT_EQ(0u, code);
    owned<bn_binding_array> answered;
    ASSERT_EQ(0, bn_response_get_bindings(resp.get(), false, answered.out()));
    ASSERT_EQ(2u, bn_binding_array_length_quick(answered.get()));
    EXPECT_STREQ("/qz/iptrackd/state/summary",
                 ts_str(bn_binding_get_name_quick(bn_binding_array_get_quick(answered.get(), 0))));
    EXPECT_STREQ("/qz/iptrackd/state/is_alive",
                 ts_str(bn_binding_get_name_quick(bn_binding_array_get_quick(answered.get(), 1))));
    EXPECT_TRUE(logged("iptrackd mon get: unknown binding - /qz/iptrackd/state/other", LCL_NOTICE))
        << cap.dump();
}

TEST_F(MonitorGet, IterateListsNothing)
{
    ASSERT_EQ(0, iptrackd_mon_handle_iterate("/qz/iptrackd/state", nullptr, nullptr, out.get()));
    ASSERT_EQ(0, iptrackd_mon_handle_iterate("/qz/other", nullptr, nullptr, out.get()));
    EXPECT_EQ(0u, results());
    EXPECT_TRUE(logged("iptrackd: mon_handle_iterate /qz/iptrackd/state", LCL_NOTICE));
    EXPECT_EQ(0u, cap.count("not for us - /qz/iptrackd/state")) << cap.dump();
    EXPECT_TRUE(logged("iptrackd: mon_handle_iterate: not for us - /qz/other", LCL_NOTICE))
        << cap.dump();
}
