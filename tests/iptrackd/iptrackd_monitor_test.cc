// State queries: the guards and log lines of the get callback, the three
// nodes and their value sizes, and what a whole query answer carries when
// one of its nodes is unknown (built through the management client's
// dispatcher, as the session does).
#include "iptrackd_monitor.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "mgmt/mdc_misc.h"
#include "support/log_capture.h"

namespace
{

class MonitorGet : public ::testing::Test
{
  protected:
    std::vector<std::unique_ptr<iptrack_mgr>> mgrs;
    owned<bn_binding_array> out;
    LogCapture cap;

    void SetUp() override
    {
        reset_mgrs();
        m_daemon_status = iptrackd_status_ready;
        ASSERT_EQ(0, bn_binding_array_new(out.out()));
    }
    void TearDown() override
    {
        reset_mgrs();
        m_daemon_status = iptrackd_status_initializing;
    }
    static void reset_mgrs()
    {
        iptrack_g.mgrs.head = nullptr;
        iptrack_g.mgrs.tail = &iptrack_g.mgrs.head;
        iptrack_g.mgrs.count = 0;
    }
    void add_mgrs(uint32 n)
    {
        for (uint32 i = 0; i < n; ++i) {
            mgrs.push_back(std::make_unique<iptrack_mgr>());
            iptrack_mgr *m = mgrs.back().get();
            m->requests.tail = &m->requests.head;
            snprintf(m->name, sizeof m->name, "m%u", i);
            m->link.prev_next = iptrack_g.mgrs.tail;
            *iptrack_g.mgrs.tail = m;
            iptrack_g.mgrs.tail = &m->link.next;
            ++iptrack_g.mgrs.count;
        }
    }

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
    std::vector<uint8> bytes_of(uint32 i) const
    {
        const uint8 *p = nullptr;
        uint32 len = 0;
        EXPECT_EQ(0, bn_binding_get_buf_const(result(i), ba_value, nullptr, &p, &len));
        return std::vector<uint8>(p, p + len);
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
        {iptrackd_status_failed_db_loading, "Failed-DB Loading",
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
        EXPECT_EQ(c.text, text_of(0));
        EXPECT_STREQ(c.text, tmp_str);
        EXPECT_TRUE(logged(c.line, c.level)) << cap.dump();
    }
}

TEST_F(MonitorGet, RecordsAreNotAnsweredBeforeReady)
{
    add_mgrs(1);
    m_daemon_status = iptrackd_status_initializing;
    for (const char *node :
         {"/qz/iptrackd/state/mgr", "/qz/iptrackd/state/summary", "/qz/iptrackd/state/other"}) {
        cap.clear();
        ASSERT_EQ(0, get(node));
        EXPECT_EQ(0u, results());
        EXPECT_TRUE(logged("Discard monitor req because init not ready", LCL_NOTICE)) << cap.dump();
    }
}

TEST_F(MonitorGet, ManagerTableIsSizedByTheManagerCountAndTheSummaryIsOneRecord)
{
    ASSERT_EQ(0, get("/qz/iptrackd/state/mgr"));
    ASSERT_EQ(1u, results());
    EXPECT_EQ(std::vector<uint8>(4, 0), bytes_of(0));
    EXPECT_TRUE(
        logged("iptrackd_mon_handle_get: Rcvd show mgr request mgr cnt 0, syn cnt 0", LCL_NOTICE))
        << cap.dump();

    add_mgrs(3);
    ASSERT_EQ(0, bn_binding_array_new(out.out()));
    ASSERT_EQ(0, get("/qz/iptrackd/state/mgr"));
    ASSERT_EQ(1u, results());
    bn_type type = bt_none;
    ASSERT_EQ(0, bn_binding_get_type(result(0), ba_value, &type, nullptr));
    EXPECT_EQ(bt_binary, type);
    const auto table = bytes_of(0);
    ASSERT_EQ(4504u, table.size());
    uint32 count = 0;
    memcpy(&count, table.data(), 4);
    EXPECT_EQ(3u, count);
    EXPECT_STREQ("m2", reinterpret_cast<const char *>(&table[3004]));

    // The summary is one record.
    ASSERT_EQ(0, bn_binding_array_new(out.out()));
    ASSERT_EQ(0, get("/qz/iptrackd/state/summary"));
    ASSERT_EQ(1u, results());
    EXPECT_EQ(384u, bytes_of(0).size());
    EXPECT_TRUE(logged("iptrackd_mon_handle_get: Rcvd show summary request", LCL_NOTICE))
        << cap.dump();
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
