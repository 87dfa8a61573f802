// Show records: whole manager records and summary records compared with
// golden bytes written by hand from the documented layout (literal offsets,
// so that a wrong named offset is caught), the texts of every action and
// operation kind, and the partial-dump rule.  Entries are built straight
// into the engine's lists; the since-boot clock is fixed through the seam.
// Then the state queries that answer with them: the guards and log lines of
// the get callback and what a whole query answer carries when one of its
// nodes is unknown (built through the management client's dispatcher, as
// the session does).  Whole tables as the client reads them are seen end to
// end.
#include "iptrack_show.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "appliance/qz_shm_publish.h"
#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "iptrackd_monitor.h"
#include "mgmt/mdc_misc.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace
{

constexpr uint32 now_ms = 1000000;

template <class T> void unlink_all(iptrack_list<T> *list)
{
    list->head = nullptr;
    list->tail = &list->head;
    list->count = 0;
}

template <class T> void append(iptrack_list<T> *list, T *e)
{
    e->link.next = nullptr;
    e->link.prev_next = list->tail;
    *list->tail = e;
    list->tail = &e->link.next;
    ++list->count;
}

// Owns what the test puts into the engine's lists.
class ShowRecords : public ::testing::Test
{
  protected:
    std::vector<std::shared_ptr<void>> entries; // what the lists point to

    template <class T> T *make()
    {
        entries.push_back(std::make_shared<T>());
        return static_cast<T *>(entries.back().get());
    }

    void SetUp() override
    {
        reset_globals();
        iptrack_g.state = iptrack_state_active;
        lt_clock_set_manual_for_tests(0, now_ms);
        // Tables a test publishes are private to this process.
        cmem_set_name_prefix_for_tests(("show-test-" + std::to_string(getpid()) + "-").c_str());
    }
    void TearDown() override
    {
        reset_globals();
        lt_clock_restore_for_tests();
        (void)qz_shm_pub_unlink(QZ_SHM_RTLABEL);
        cmem_set_name_prefix_for_tests(nullptr);
    }
    static void reset_globals()
    {
        unlink_all(&iptrack_g.opers);
        unlink_all(&iptrack_g.actions);
        unlink_all(&iptrack_g.mgrs);
        iptrack_g.state = 0;
        iptrack_g.enabled_mgrs = 0;
        iptrack_g.result_counter = 0;
        iptrack_g.rtlabel_table = nullptr;
    }

    void add_port(iptrack_list<iptrack_port> *list, const char *name)
    {
        iptrack_port *p = make<iptrack_port>();
        snprintf(p->name, sizeof p->name, "%s", name);
        p->ip_version = 4;
        append(list, p);
    }
    iptrack_oper *add_oper(const char *name, uint16 type, const char *targets = "")
    {
        iptrack_oper *o = make<iptrack_oper>();
        snprintf(o->name, sizeof o->name, "%s", name);
        snprintf(o->targets, sizeof o->targets, "%s", targets);
        o->type = type;
        append(&iptrack_g.opers, o);
        return o;
    }
    iptrack_action *add_action(const char *name, uint32 type)
    {
        iptrack_action *a = make<iptrack_action>();
        snprintf(a->name, sizeof a->name, "%s", name);
        a->type = type;
        append(&iptrack_g.actions, a);
        return a;
    }
    // An enabled manager, down, interval 30, reset 400 s before now.
    iptrack_mgr *add_mgr(const char *name, const char *note = "")
    {
        iptrack_mgr *m = make<iptrack_mgr>();
        unlink_all(&m->requests);
        snprintf(m->name, sizeof m->name, "%s", name);
        snprintf(m->note, sizeof m->note, "%s", note);
        m->interval_s = 30;
        m->reset_time_ms = now_ms - 400000;
        append(&iptrack_g.mgrs, m);
        ++iptrack_g.enabled_mgrs;
        return m;
    }
    iptrack_op_request *add_request(iptrack_mgr *m, const char *oper_name, uint32 runs = 0,
                                    uint32 failures = 0)
    {
        iptrack_op_request *r = make<iptrack_op_request>();
        snprintf(r->oper_name, sizeof r->oper_name, "%s", oper_name);
        r->runs = runs;
        r->runs2 = runs;
        r->failures = failures;
        append(&m->requests, r);
        return r;
    }
};

// An expected record, built field by field at literal offsets.
struct Golden {
    std::vector<uint8> bytes;
    explicit Golden(size_t n) : bytes(n, 0) {}
    Golden &text(size_t off, const std::string &s)
    {
        memcpy(&bytes[off], s.data(), s.size());
        return *this;
    }
    template <class T> Golden &num(size_t off, T v)
    {
        memcpy(&bytes[off], &v, sizeof v); // host order
        return *this;
    }
    Golden &u32(size_t off, uint32 v) { return num(off, v); }
    Golden &u16(size_t off, uint16 v) { return num(off, v); }
    Golden &u8(size_t off, uint8 v) { return num(off, v); }
};

// The fields every manager record of these tests has: name, interval,
// enabled, 400 s since the reset, no route label table; and the texts of
// the up and down actions (by default those of none assigned).
Golden mgr_record(const std::string &name, const std::string &up = "ERROR: action not assigned",
                  const std::string &up_desc = "", const std::string &dn = "Action not Assigned",
                  const std::string &dn_desc = "N/A")
{
    Golden g(1500);
    g.text(0, name).u32(1472, 400000).u32(1476, 30).u8(1496, 1).text(1444, "N/A");
    g.text(572, up).text(636, up_desc).text(1008, dn).text(1072, dn_desc);
    return g;
}

// Reports the first differing byte and the texts that start there.
::testing::AssertionResult same_bytes(const uint8 *actual, const Golden &expected)
{
    const std::vector<uint8> &e = expected.bytes;
    const size_t at = std::mismatch(e.begin(), e.end(), actual).first - e.begin();
    if (at == e.size()) return ::testing::AssertionSuccess();
    auto text = [&](const uint8 *b) {
        return std::string(reinterpret_cast<const char *>(b + at),
                           strnlen(reinterpret_cast<const char *>(b + at), e.size() - at));
    };
    return ::testing::AssertionFailure()
           << "byte " << at << " is " << int(actual[at]) << " (\"" << text(actual)
           << "\"), expected " << int(e[at]) << " (\"" << text(e.data()) << "\")";
}

// The table of the one manager in the list, dumped into a zeroed buffer.
std::vector<uint8> dump_one()
{
    std::vector<uint8> t(4 + 1500, 0);
    EXPECT_EQ(0, iptrack_show_mgrs(t.data(), uint32(t.size())));
    uint32 count = 0;
    memcpy(&count, t.data(), 4);
    EXPECT_EQ(1u, count);
    return std::vector<uint8>(t.begin() + 4, t.end());
}

bool logged(const LogCapture &cap, const std::string &message, int level)
{
    const auto lines = cap.lines();
    const auto prios = cap.priorities();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].ends_with(": " + message) && prios[i] == level) return true;
    return false;
}

std::string action_str(const iptrack_action *a, const iptrack_oper *o)
{
    char text[372];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(0, iptrack_get_show_action_str(text, a, o));
    return text;
}

// State queries answered from the same lists.
class MonitorGet : public ShowRecords
{
  protected:
    owned<bn_binding_array> out;
    LogCapture cap;

    void SetUp() override
    {
        ShowRecords::SetUp();
        m_daemon_status = iptrackd_status_ready;
        ASSERT_EQ(0, bn_binding_array_new(out.out()));
    }
    void TearDown() override
    {
        ShowRecords::TearDown();
        m_daemon_status = iptrackd_status_initializing;
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

    bool logged(const std::string &message, int level) const
    {
        return ::logged(cap, message, level);
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Whole manager records.

TEST_F(ShowRecords, ManagerWithoutOperationsHasNoOperationFieldsAndActionWithPortNA)
{
    LogCapture cap;
    iptrack_mgr *m = add_mgr("branch-1", "IPSLA:primary uplink");
    EXPECT_TRUE(same_bytes(dump_one().data(), mgr_record("branch-1").text(64, "primary uplink")));

    m->dn_action = add_action("rmv", iptrack_action_subnet_rmv);
    EXPECT_TRUE(same_bytes(dump_one().data(), mgr_record("branch-1", "ERROR: action not assigned",
                                                         "", "rmv", "Subnet Removal on port N/A  ")
                                                  .text(64, "primary uplink")));
    // Without an operation a missing port is expected, not an error.
    EXPECT_FALSE(cap.contains("port not found")) << cap.dump();
}

TEST_F(ShowRecords, OneRequestShowsItsOperationCountersAndTimes)
{
    iptrack_oper *o = add_oper("ping-dc", iptrack_oper_ip, "10.0.0.1,10.0.0.2");
    add_port(&o->ports, "wan0");
    o->ka = 2;
    o->up_thresh = 3;
    o->dn_thresh = 30;
    o->state_flags = iptrack_os_label_based;
    snprintf(o->label, sizeof o->label, "INET");
    iptrack_mgr *m = add_mgr("dc-reach", "IPSLA:data centre");
    add_request(m, "ping-dc", 70000, 258); // failures are a u16 in the record
    m->up_action = add_action("adv", iptrack_action_subnet_adv);
    add_port(&m->up_action->ports, "lan0");
    m->dn_action = add_action("rmv", iptrack_action_subnet_rmv);
    m->status = 1;
    m->status_changes = 3;
    m->last_dn_ms = now_ms - 90000;
    m->last_up_ms = now_ms - 1500;
    m->rtlabel_id = 7;

    const auto rec = dump_one();
    Golden g = mgr_record("dc-reach", "adv", "Subnet Advertise on port lan0 label INET", "rmv",
                          "Subnet Removal on port wan0 label INET");
    g.text(64, "data centre")
        .text(136, "ping-dc")
        .text(200, "Ping Monitor for 10.0.0.1,10.0.0.2 on Port wan0 tunnel N/A label INET")
        .u32(1460, 3)
        .u16(1464, 258)
        .u8(1466, 1)
        .u32(1468, 90000)
        .u32(1472, 1500)
        .u16(1480, 2)
        .u16(1482, 3)
        .u16(1484, 30)
        .u32(1488, 70000)
        .u32(1492, 7);
    EXPECT_TRUE(same_bytes(rec.data(), g));
}

TEST_F(ShowRecords, ThreeRequestsShowOnlyTheFirst)
{
    iptrack_oper *h = add_oper("web", iptrack_oper_http, "http://example.test/");
    add_port(&h->ports, "wan1");
    h->ka = 5;
    h->up_thresh = 1;
    h->dn_thresh = 2;
    snprintf(h->tunnel_name, sizeof h->tunnel_name, "tun-dc");
    add_oper("link", iptrack_oper_port);
    add_oper("ping", iptrack_oper_ip, "192.0.2.1");
    iptrack_mgr *m = add_mgr("multi");
    add_request(m, "web", 4, 1);
    add_request(m, "link", 9, 9);
    add_request(m, "ping", 9, 9);
    m->flags = iptrack_mf_disabled;

    const auto rec = dump_one();
    Golden g = mgr_record("multi");
    g.text(136, "web")
        .text(200, "HTTP Monitor for http://example.test/ on Port wan1 tunnel tun-dc  ")
        .u16(1464, 1)
        .u16(1480, 5)
        .u16(1482, 1)
        .u16(1484, 2)
        .u32(1488, 4)
        .u8(1496, 0);
    EXPECT_TRUE(same_bytes(rec.data(), g));
}

TEST_F(ShowRecords, DefaultUpActionIsNamedAfterTheDownActionType)
{
    struct Case {
        uint32 dn_type;
        const char *up_name;
        const char *up_desc;
    };
    const Case cases[] = {
        {1, "Default-VRRP(Use Cfg value)", ""},
        {3, "Default-Subnet (Rmv auto subnet)", ""},
        {4, "Default-Subnet (Adv auto subnet)", ""},
        {5, "Default Subnet Sharing (enable)", ""},
        {6, "Default Sub Metric (rmv delta)", ""},
        {8, "Default Tunnel Update (Up)", ""},
        {7, "ERROR: unknown Action Assigned", "Unknown type 7"},
        {0, "ERROR: unknown Action Assigned", "Unknown type 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dn_type);
        reset_globals();
        iptrack_mgr *m = add_mgr("def");
        m->flags = iptrack_mf_default_up;
        m->dn_action = add_action("down", c.dn_type);
        m->dn_action->metric_delta = 4;
        snprintf(m->dn_action->label_or_alias, sizeof m->dn_action->label_or_alias, "t1");
        char dn_desc[372];
        ASSERT_EQ(0, iptrack_get_show_action_str(dn_desc, m->dn_action, nullptr));
        EXPECT_TRUE(same_bytes(dump_one().data(),
                               mgr_record("def", c.up_name, c.up_desc, "down", dn_desc)));
    }
}

TEST_F(ShowRecords, AlarmOnlyDownActionAndItsDefaultUp)
{
    iptrack_mgr *m = add_mgr("alarm");
    m->alarm_flags = iptrack_maf_alarm_only;
    const char *dn = "Trigger only an IP SLA alarm";
    EXPECT_TRUE(same_bytes(dump_one().data(),
                           mgr_record("alarm", "ERROR: action not assigned", "", dn, "")));
    m->flags = iptrack_mf_default_up; // "def-alarm"
    EXPECT_TRUE(
        same_bytes(dump_one().data(), mgr_record("alarm", "Clear IP SLA alarm", "", dn, "")));
}

TEST_F(ShowRecords, RouteLabelNameOrNA)
{
    iptrack_mgr *m = add_mgr("lbl");
    m->rtlabel_id = 5;
    Golden g = mgr_record("lbl");
    g.u32(1492, 5);
    // No table attached.
    EXPECT_TRUE(same_bytes(dump_one().data(), g));

    owned<qz_shm_publisher> pub;
    ASSERT_EQ(0, qz_shm_pub_open(qz_shm_kind_rtlabel, nullptr, qz_max_route_labels, pub.out()));
    ASSERT_EQ(0, qz_shm_pub_put_rtlabel(pub.get(), 5, "gold", false));
    iptrack_g.rtlabel_table = qz_shm_pub_block(pub.get());
    g.text(1444, std::string(16, '\0')).text(1444, "gold");
    EXPECT_TRUE(same_bytes(dump_one().data(), g));

    // A label the table does not hold has no name.
    m->rtlabel_id = 6;
    g.u32(1492, 6).text(1444, std::string(16, '\0'));
    EXPECT_TRUE(same_bytes(dump_one().data(), g));

    // An id the model does not have.
    m->rtlabel_id = 256;
    g.u32(1492, 256).text(1444, "N/A");
    EXPECT_TRUE(same_bytes(dump_one().data(), g));
}

TEST_F(ShowRecords, LongTextsAreCutToTheirField)
{
    const std::string targets(255, 't');
    iptrack_oper *o = add_oper("o", iptrack_oper_ip, targets.c_str());
    add_port(&o->ports, "wan0");
    snprintf(o->tunnel_name, sizeof o->tunnel_name, "%s", std::string(63, 'n').c_str());
    o->state_flags = iptrack_os_label_based;
    snprintf(o->label, sizeof o->label, "VOICEVOICEVOICE");
    iptrack_mgr *m =
        add_mgr(std::string(63, 'm').c_str(), ("IPSLA:" + std::string(65, 'd')).c_str());
    add_request(m, "o");
    const auto rec = dump_one();
    EXPECT_EQ(63u, strnlen(reinterpret_cast<const char *>(&rec[0]), 64));
    EXPECT_EQ(65u, strnlen(reinterpret_cast<const char *>(&rec[64]), 72));
    EXPECT_EQ(371u, strnlen(reinterpret_cast<const char *>(&rec[200]), 372));
    EXPECT_EQ('I', rec[570]); // "... label VOICEVOI"
    EXPECT_EQ(0, rec[571]);
}

// ---------------------------------------------------------------------------
// Descriptions.

TEST_F(ShowRecords, ActionDescriptionsOfEveryType)
{
    iptrack_oper *o = add_oper("o", iptrack_oper_ip);
    add_port(&o->ports, "wan0");
    o->state_flags = iptrack_os_label_based;
    snprintf(o->label, sizeof o->label, "MPLS");

    iptrack_action *a = add_action("a", iptrack_action_vrrp_prio);
    a->prio_delta = 20;
    a->flags = iptrack_af_prio_dec | iptrack_af_label_based;
    snprintf(a->label_or_alias, sizeof a->label_or_alias, "LAN");
    EXPECT_EQ("Decrease VRRP priority by 20 on port wan0 label LAN", action_str(a, o));
    a->flags = iptrack_af_prio_inc;
    add_port(&a->ports, "lan3");
    EXPECT_EQ("Increase VRRP priority by 20 on port lan3  ", action_str(a, o));
    a->flags = 0;
    EXPECT_EQ("Use Cfg Value VRRP priority by 20 on port lan3  ", action_str(a, o));

    a->type = iptrack_action_subnet_adv;
    EXPECT_EQ("Subnet Advertise on port lan3 label MPLS", action_str(a, o));
    a->type = iptrack_action_subnet_share;
    EXPECT_EQ("Subnet Sharing disabled", action_str(a, o));
    a->type = iptrack_action_subnet_metric;
    a->metric_delta = 50;
    EXPECT_EQ("Subnet Metric Delta of 50", action_str(a, o));
    snprintf(a->label_or_alias, sizeof a->label_or_alias, "to-hub");
    a->type = iptrack_action_tun_up;
    EXPECT_EQ("Enable Tunnel alias to-hub", action_str(a, o));
    a->type = iptrack_action_tun_dn;
    EXPECT_EQ("Disable Tunnel alias to-hub", action_str(a, nullptr));
    a->type = iptrack_action_vrrp_cfg;
    EXPECT_EQ("Unknown Action Type", action_str(a, o));
}

TEST_F(ShowRecords, ActionWithoutAnyPortLogsOnlyWhenAnOperationIsGiven)
{
    iptrack_oper *o = add_oper("bare", iptrack_oper_vrrp);
    iptrack_action *a = add_action("adv", iptrack_action_subnet_adv);
    LogCapture cap;
    EXPECT_EQ("Subnet Advertise on port N/A  ", action_str(a, nullptr));
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    EXPECT_EQ("Subnet Advertise on port N/A  ", action_str(a, o));
    EXPECT_EQ(1u, cap.lines().size()) << cap.dump();
    EXPECT_TRUE(logged(cap, "iptrack_get_show_action_str: port not found for action adv", LCL_ERR));
    // A type that names no port never looks for one.
    cap.clear();
    a->type = iptrack_action_subnet_share;
    (void)action_str(a, o);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST_F(ShowRecords, OperationDescriptionsOfEveryType)
{
    struct Case {
        uint16 type;
        bool labelled;
        const char *text;
    };
    const Case cases[] = {
        {1, false, "Interface Monitor for port N/A  "},
        {1, true, "Interface Monitor for port N/A label VOICE"},
        {3, true, "VRRP state monitor for Interface N/A label VOICE"},
        {9, false, "ERROR: Unknown Operation Type 9"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        reset_globals();
        iptrack_oper *o = add_oper("op", c.type);
        o->ka = 9; // only ping and HTTP show their thresholds
        if (c.labelled) {
            o->state_flags = iptrack_os_label_based;
            snprintf(o->label, sizeof o->label, "VOICE");
        }
        add_request(add_mgr("m"), "op");
        const auto rec = dump_one();
        EXPECT_STREQ(c.text, reinterpret_cast<const char *>(&rec[200]));
        EXPECT_EQ(0, rec[1480]);
    }
    reset_globals();
    add_request(add_mgr("m"), "missing");
    EXPECT_STREQ("ERROR: Operation Not Found", reinterpret_cast<const char *>(&dump_one()[200]));
}

// ---------------------------------------------------------------------------
// The table and its limits.

TEST_F(ShowRecords, EmptyTableWritesCountZero)
{
    std::vector<uint8> buf(4, 0xAA);
    ASSERT_EQ(0, iptrack_show_mgrs(buf.data(), 4));
    EXPECT_EQ(std::vector<uint8>(4, 0), buf);
    EXPECT_EQ(lc_err_unexpected_null, iptrack_show_mgrs(nullptr, 4));
    EXPECT_EQ(lc_err_unexpected_null, iptrack_show_summary(nullptr));
}

TEST_F(ShowRecords, PartialDumpWritesWholeRecordsAndNoCount)
{
    add_mgr("a");
    add_mgr("b");
    add_mgr("c");
    LogCapture cap;
    // Room for two records and a few bytes of the third.
    std::vector<uint8> buf(4 + 1500 * 2 + 1499, 0);
    ASSERT_EQ(0, iptrack_show_mgrs(buf.data(), uint32(buf.size())));
    EXPECT_EQ(std::vector<uint8>(4, 0), std::vector<uint8>(buf.begin(), buf.begin() + 4));
    EXPECT_STREQ("a", reinterpret_cast<const char *>(&buf[4]));
    EXPECT_STREQ("b", reinterpret_cast<const char *>(&buf[1504]));
    EXPECT_TRUE(std::all_of(buf.begin() + 3004, buf.end(), [](uint8 b) { return b == 0; }));
    EXPECT_EQ(1u, cap.count("only partial")) << cap.dump();
    EXPECT_TRUE(logged(cap, "iptrack_show_mgrs: only partial mgr table dumped", LCL_ERR));

    // Below one whole record nothing at all is written.
    cap.clear();
    std::vector<uint8> small(1503, 0);
    ASSERT_EQ(0, iptrack_show_mgrs(small.data(), uint32(small.size())));
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8 b) { return b == 0; }));
    EXPECT_EQ(1u, cap.count("only partial mgr table dumped")) << cap.dump();
}

// ---------------------------------------------------------------------------
// Summary.

TEST_F(ShowRecords, SummaryInEachEngineState)
{
    add_mgr("a");
    add_mgr("b")->flags = iptrack_mf_disabled;
    --iptrack_g.enabled_mgrs;
    add_oper("o1", iptrack_oper_ip);
    add_oper("o2", iptrack_oper_http);
    add_oper("o3", iptrack_oper_port);
    add_action("x", iptrack_action_tun_up);
    iptrack_g.result_counter = 255;

    const struct {
        uint8 state;
        const char *text;
    } states[] = {
        {1, "Initializing"}, {2, "Client Procs not Ready"}, {3, "Active"}, {0, "N/A"}, {4, "N/A"}};
    for (const auto &s : states) {
        SCOPED_TRACE(s.text);
        iptrack_g.state = s.state;
        std::vector<uint8> rec(384, 0);
        ASSERT_EQ(0, iptrack_show_summary(rec.data()));
        Golden g(384);
        g.text(0, s.text).u16(372, 2).u16(374, 1).u16(376, 3).u16(378, 1).u32(380, 255);
        EXPECT_TRUE(same_bytes(rec.data(), g));
    }
}

// ---------------------------------------------------------------------------
// State queries.

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
        owned<tstring> v;
        ASSERT_EQ(0, bn_binding_get_tstr(result(0), ba_value, 0, nullptr, v.out()));
        EXPECT_STREQ(c.text, ts_str(v.get()));
        EXPECT_STREQ(c.text, tmp_str);
        EXPECT_TRUE(logged(c.line, c.level)) << cap.dump();
    }
}

TEST_F(MonitorGet, RecordsAreNotAnsweredBeforeReady)
{
    add_mgr("m0");
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
    std::vector<std::string> names;
    for (uint32 i = 0; i < bn_binding_array_length_quick(answered.get()); ++i)
        names.push_back(
            ts_str(bn_binding_get_name_quick(bn_binding_array_get_quick(answered.get(), i))));
    EXPECT_EQ(names, (std::vector<std::string>{"/qz/iptrackd/state/summary",
                                               "/qz/iptrackd/state/is_alive"}));
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
