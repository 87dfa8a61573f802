// The three attribute grammars, driven by a table: each string is parsed
// into a fresh entry, and the case lists the fields it leaves (only those
// that are not zero or empty) and every log line of the parse, in order.
// No send happens in these parses (no monitor was requested, no action is
// applied), so the engine runs without mgmtd; the cloud path table is not
// attached, which is what its soft-failure lines say.
#include <syslog.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "support/log_capture.h"

namespace
{

enum class kind { oper, action, mgr };

struct grammar_case {
    const char *what;
    kind k;
    std::string before; // parsed first when not empty; its lines are not checked
    std::string attribs;
    int result;
    std::string fields;
    std::vector<std::string> lines;
};

std::string hexbyte(unsigned v)
{
    char b[8];
    snprintf(b, sizeof b, "0x%02x", v);
    return b;
}

void add(std::string *out, const char *key, const std::string &v)
{
    if (v.empty() || v == "0" || v == "0x00") return;
    if (!out->empty()) *out += ' ';
    *out += key;
    *out += '=';
    *out += v;
}

std::string ports(const iptrack_list<iptrack_port> &l)
{
    std::string s;
    for (const iptrack_port *p = l.head; p; p = p->link.next)
        s += std::string(s.empty() ? "" : ",") + p->name + "/" + std::to_string(p->ip_version);
    return s;
}

std::string summary(const iptrack_oper *o)
{
    std::string s;
    add(&s, "type", std::to_string(o->type));
    add(&s, "sub", std::to_string(o->subtype));
    add(&s, "ka", std::to_string(o->ka));
    add(&s, "up", std::to_string(o->up_thresh));
    add(&s, "dn", std::to_string(o->dn_thresh));
    add(&s, "si", std::to_string(o->sample_int));
    add(&s, "lu", std::to_string(o->loss_up_thresh));
    add(&s, "ld", std::to_string(o->loss_dn_thresh));
    add(&s, "ru", std::to_string(o->rtt_up_thresh));
    add(&s, "rd", std::to_string(o->rtt_dn_thresh));
    add(&s, "mf", hexbyte(o->metric_flags));
    add(&s, "sf", hexbyte(o->state_flags));
    add(&s, "ps", hexbyte(o->probe_state));
    add(&s, "label", o->label);
    add(&s, "alias", o->tunnel_alias);
    add(&s, "targets", o->targets);
    add(&s, "proxy", o->proxy_addr);
    add(&s, "pport", std::to_string(o->proxy_port));
    add(&s, "ua", o->user_agent);
    add(&s, "timeout", std::to_string(o->http_timeout));
    add(&s, "ports", ports(o->ports));
    add(&s, "chg", hexbyte(iptrack_g.change_flags));
    return s;
}

std::string summary(const iptrack_action *a)
{
    std::string s;
    add(&s, "type", std::to_string(a->type));
    add(&s, "flags", hexbyte(a->flags));
    add(&s, "prio", std::to_string(a->prio_delta));
    add(&s, "delta", std::to_string(a->metric_delta));
    add(&s, "label", a->label_or_alias);
    add(&s, "ports", ports(a->ports));
    return s;
}

std::string summary(const iptrack_mgr *m)
{
    std::string s;
    add(&s, "interval", std::to_string(m->interval_s));
    add(&s, "flags", hexbyte(m->flags));
    add(&s, "af", hexbyte(m->alarm_flags));
    add(&s, "up", m->up_action ? m->up_action->name : "");
    add(&s, "dn", m->dn_action ? m->dn_action->name : "");
    std::string reqs;
    for (const iptrack_op_request *r = m->requests.head; r; r = r->link.next)
        reqs += std::string(reqs.empty() ? "" : ",") + r->oper_name;
    add(&s, "reqs", reqs);
    for (const iptrack_action *a = iptrack_g.actions.head; a; a = a->link.next)
        add(&s, (std::string("users:") + a->name).c_str(), std::to_string(a->users));
    return s;
}

// Log bodies without the thread and level prefix.
std::vector<std::string> bodies(const LogCapture &cap)
{
    std::vector<std::string> out;
    for (const std::string &l : cap.lines()) {
        const size_t at = l.find("]: ");
        out.push_back(at == std::string::npos ? l : l.substr(at + 3));
    }
    return out;
}

int parse(kind k, const std::string &attribs, std::string *fields)
{
    int rc = 0;
    switch (k) {
    case kind::oper: {
        iptrack_oper *o = iptrack_get_oper_entry("site_dns");
        iptrack_oper_set_new_attribs(o, attribs.c_str());
        rc = iptrack_set_oper_attribs(o);
        o->state_flags &= static_cast<uint8>(~iptrack_os_cfg_pending); // as the tick does
        *fields = summary(o);
        break;
    }
    case kind::action: {
        iptrack_action *a = iptrack_get_action_entry("act");
        iptrack_action_set_attribs(a, attribs.c_str());
        a->flags &= static_cast<uint8>(~iptrack_af_label_pending);
        rc = iptrack_set_action_attribs(a);
        *fields = summary(a);
        break;
    }
    case kind::mgr: {
        iptrack_mgr *m = iptrack_get_mgr_entry("m1");
        iptrack_mgr_set_attribs(m, attribs.c_str());
        m->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
        rc = iptrack_set_mgr_attribs(m);
        *fields = summary(m);
        break;
    }
    }
    return rc;
}

class Grammar : public ::testing::TestWithParam<grammar_case>
{
  protected:
    void SetUp() override
    {
        // The daemon's own identity: no fallback prefix in the lines.
        ASSERT_EQ(lc_log_init(iptrackd_program_name, nullptr, 0,
                              lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG,
                              LOG_LOCAL1, lc_log_output_syslog),
                  0);
        ASSERT_EQ(iptrack_init(), 0);
        // Managers bind these.
        (void)iptrack_get_action_entry("a1");
        (void)iptrack_get_action_entry("a2");
    }
    void TearDown() override { iptrack_deinit(); }
};

std::string quoted(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines) {
        s += "    \"";
        for (char c : l) {
            if (c == '"' || c == '\\') s += '\\';
            s += c;
        }
        s += "\",\n";
    }
    return s;
}

TEST_P(Grammar, SetsTheFieldsAndLogsTheLines)
{
    const grammar_case &c = GetParam();
    std::string fields;
    if (!c.before.empty()) {
        LogCapture quiet(LCL_INFO);
        ASSERT_EQ(parse(c.k, c.before, &fields), 0);
    }
    LogCapture cap(LCL_INFO);
    EXPECT_EQ(parse(c.k, c.attribs, &fields), c.result);
    EXPECT_EQ(fields, c.fields);
    const std::vector<std::string> got = bodies(cap);
    EXPECT_EQ(got, c.lines) << "actual:\n" << quoted(got);
}

std::string rep(char c, size_t n)
{
    return std::string(n, c);
}

// Each case: name, grammar, a string parsed before (lines not checked),
// the string, the result, the fields left, the lines in order.
const grammar_case grammar_cases[] = {
    {"OperIpMonitorThresholds",
     kind::oper,
     "",
     "type=ip-monitor;ka=5;up-thresh=4;dn-thresh=6",
     0,
     "type=2 ka=5 up=4 dn=6 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after "
         "tokenize=type=ip-monitor;ka=5;up-thresh=4;dn-thresh=6, count = 4",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/ip-monitor, i 0, count 4",
         "iptrack_set_oper_attribs: Set type to IP SLA monitor for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/5, i 1, count 4",
         "iptrack_set_oper_attribs: KA interval 5 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = up-thresh/=/4, i 2, count 4",
         "iptrack_set_oper_attribs: Added Up threshold 4 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = dn-thresh/=/6, i 3, count 4",
         "iptrack_set_oper_attribs: Added Dn threshold 6 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperEveryNumericKey",
     kind::oper,
     "",
     "sample-int=10;loss-up-thresh=1;loss-dn-thresh=2;rtt-up-thresh=100;rtt-dn-thresh=200",
     0,
     "si=10 lu=1 ld=2 ru=100 rd=200 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after "
         "tokenize=sample-int=10;loss-up-thresh=1;loss-dn-thresh=2;rtt-up-thresh=100;rtt-dn-thresh="
         "200, count = 5",
         "iptrack_set_oper_attribs: curr key/c/val = sample-int/=/10, i 0, count 5",
         "iptrack_set_oper_attribs: Added Sampling Interval 10 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = loss-up-thresh/=/1, i 1, count 5",
         "iptrack_set_oper_attribs: Added Loss Up Threshold 1 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = loss-dn-thresh/=/2, i 2, count 5",
         "iptrack_set_oper_attribs: Added Loss Down Threshold 2 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = rtt-up-thresh/=/100, i 3, count 5",
         "iptrack_set_oper_attribs: Added Avg Latency (rtt) Up Threshold 100 for operation "
         "site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = rtt-dn-thresh/=/200, i 4, count 5",
         "iptrack_set_oper_attribs: Added Avg Latency (rtt) Dn Threshold 200 for operation "
         "site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperNumbersTruncatedToFieldWidth",
     kind::oper,
     "",
     "ka=70000;rtt-up-thresh=4294967297",
     0,
     "ka=4464 ru=1 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=70000;rtt-up-thresh=4294967297, "
         "count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/70000, i 0, count 2",
         "iptrack_set_oper_attribs: KA interval 4464 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = rtt-up-thresh/=/4294967297, i 1, count 2",
         "iptrack_set_oper_attribs: Added Avg Latency (rtt) Up Threshold 1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTextThatIsNotANumberReadsZero",
     kind::oper,
     "",
     "ka=abc;up-thresh=12abc;dn-thresh= 7;sample-int=-5",
     0,
     "up=12 dn=7 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=abc;up-thresh=12abc;dn-thresh= "
         "7;sample-int=-5, count = 4",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/abc, i 0, count 4",
         "iptrack_set_oper_attribs: KA interval 0 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = up-thresh/=/12abc, i 1, count 4",
         "iptrack_set_oper_attribs: Added Up threshold 12 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = dn-thresh/=/ 7, i 2, count 4",
         "iptrack_set_oper_attribs: Added Dn threshold 7 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = sample-int/=/-5, i 3, count 4",
         "iptrack_set_oper_attribs: Added Sampling Interval 0 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypePortMonitor",
     kind::oper,
     "",
     "type=port-monitor",
     0,
     "type=1 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=type=port-monitor, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/port-monitor, i 0, count 1",
         "iptrack_set_oper_attribs: Set type to interface monitor for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypeVrrpMonitor",
     kind::oper,
     "",
     "type=vrrp-monitor",
     0,
     "type=3 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=type=vrrp-monitor, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/vrrp-monitor, i 0, count 1",
         "iptrack_set_oper_attribs: Set type to VRRP state monitor for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypeHttpMonitor",
     kind::oper,
     "",
     "type=http-monitor",
     0,
     "type=4 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=type=http-monitor, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/http-monitor, i 0, count 1",
         "iptrack_set_oper_attribs: Set type to HTTP monitor for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypeUnknownIgnored",
     kind::oper,
     "",
     "type=icmp",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=type=icmp, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/icmp, i 0, count 1",
         "iptrack_set_oper_attribs: invalid operation type icmp - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypeValueIsCaseSensitive",
     kind::oper,
     "",
     "type=IP-MONITOR",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=type=IP-MONITOR, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/IP-MONITOR, i 0, count 1",
         "iptrack_set_oper_attribs: invalid operation type IP-MONITOR - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperMetricAnd",
     kind::oper,
     "",
     "metric-combination=metric-and",
     0,
     "mf=0x02 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=metric-combination=metric-and, count "
         "= 1",
         "iptrack_set_oper_attribs: curr key/c/val = metric-combination/=/metric-and, i 0, count 1",
         "iptrack_set_oper_attribs: Set metric combination to AND for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperMetricOrAfterAnd",
     kind::oper,
     "",
     "metric-combination=metric-and;metric-combination=metric-or",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after "
         "tokenize=metric-combination=metric-and;metric-combination=metric-or, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = metric-combination/=/metric-and, i 0, count 2",
         "iptrack_set_oper_attribs: Set metric combination to AND for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = metric-combination/=/metric-or, i 1, count 2",
         "iptrack_set_oper_attribs: Set metric combination to OR for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperMetricUnknownValue",
     kind::oper,
     "",
     "metric-combination=metric-xor",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=metric-combination=metric-xor, count "
         "= 1",
         "iptrack_set_oper_attribs: curr key/c/val = metric-combination/=/metric-xor, i 0, count 1",
         "iptrack_set_oper_attribs: Metric comb metric-xor for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperForceDnsFirstFourCharacters",
     kind::oper,
     "",
     "force-dns=TRUEISH",
     0,
     "mf=0x05 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=force-dns=TRUEISH, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = force-dns/=/TRUEISH, i 0, count 1",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperForceDnsFalse",
     kind::oper,
     "",
     "force-dns=false",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=force-dns=false, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = force-dns/=/false, i 0, count 1",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperIpTargets",
     kind::oper,
     "",
     "type=ip-monitor;ip-monitor-ip=8.8.8.8,1.1.1.1",
     0,
     "type=2 sub=1 mf=0x01 sf=0x82 targets=8.8.8.8,1.1.1.1",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after "
         "tokenize=type=ip-monitor;ip-monitor-ip=8.8.8.8,1.1.1.1, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/ip-monitor, i 0, count 2",
         "iptrack_set_oper_attribs: Set type to IP SLA monitor for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = ip-monitor-ip/=/8.8.8.8,1.1.1.1, i 1, count 2",
         "iptrack_cloudpath_delete_probes: shmem not attached yet",
         "iptrack_cloudpath_update_probes: shmem not attached yet",
         "iptrack_set_oper_attribs: Managing IP addresses 8.8.8.8,1.1.1.1 reachability for "
         "operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperHttpSettings",
     kind::oper,
     "",
     "type=http-monitor;http-monitor-url=http://x/"
     ";proxyAddress=p.example;proxyPort=8080;user-agent=curl;http-timeout=9",
     0,
     "type=4 sub=2 mf=0x01 sf=0x82 targets=http://x/ proxy=p.example pport=8080 ua=curl timeout=9",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after "
         "tokenize=type=http-monitor;http-monitor-url=http://x/"
         ";proxyAddress=p.example;proxyPort=8080;user-agent=curl;http-timeout=9, count = 6",
         "iptrack_set_oper_attribs: curr key/c/val = type/=/http-monitor, i 0, count 6",
         "iptrack_set_oper_attribs: Set type to HTTP monitor for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = http-monitor-url/=/http://x/, i 1, count 6",
         "iptrack_cloudpath_delete_probes: shmem not attached yet",
         "iptrack_cloudpath_update_probes: shmem not attached yet",
         "iptrack_set_oper_attribs: Managing URL http://x/ reachability for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = proxyAddress/=/p.example, i 2, count 6",
         "iptrack_set_oper_attribs: Added proxy as p.example  for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = proxyPort/=/8080, i 3, count 6",
         "iptrack_set_oper_attribs: Added proxy port as 8080  for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = user-agent/=/curl, i 4, count 6",
         "iptrack_set_oper_attribs: Added User-Agent as curl  for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = http-timeout/=/9, i 5, count 6",
         "iptrack_set_oper_attribs: Added HTTP timeout 9 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperHttpTimeoutEmptyIgnored",
     kind::oper,
     "",
     "http-timeout=",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=http-timeout=, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = http-timeout/=/, i 0, count 1",
         "iptrack_set_oper_attribs: Command ignored for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperIpSubtypeHttp",
     kind::oper,
     "",
     "ip-monitor-http=yes",
     0,
     "sub=2 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ip-monitor-http=yes, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ip-monitor-http/=/yes, i 0, count 1",
         "iptrack_set_oper_attribs: Managing IP subtype HTTP for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperPortIpIgnored",
     kind::oper,
     "",
     "port-ip=10.0.0.1",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=port-ip=10.0.0.1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = port-ip/=/10.0.0.1, i 0, count 1",
         "iptrack_set_oper_attribs: Command ignored for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperPortBeforeTablesNotAdded",
     kind::oper,
     "",
     "port-name=eth1",
     0,
     "mf=0x01 sf=0x82 chg=0x01",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=port-name=eth1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = port-name/=/eth1, i 0, count 1",
         "iptrack_add_oper_port: adding port eth1 to oper site_dns",
         "iptrackd_get_br_ifname_from_port port eth1 not found or is incomplete",
         "iptrack_add_oper_port: setting pend cfg change for site_dns to true, port active 0",
         "iptrack_set_oper_attribs: Managing port eth1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperManagementPortAlwaysActive",
     kind::oper,
     "",
     "port-name=mgmt0",
     0,
     "mf=0x01 sf=0xa2 ports=mgmt0/4",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=port-name=mgmt0, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = port-name/=/mgmt0, i 0, count 1",
         "iptrack_add_oper_port: adding port mgmt0 to oper site_dns",
         "iptrack_add_oper_port: setting pend cfg change for site_dns to true (mgmt_intf)",
         "iptrack_set_oper_attribs: Managing port mgmt0 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperLabelWithoutInterfaces",
     kind::oper,
     "",
     "port-label=wan",
     0,
     "mf=0x01 sf=0x83 ps=0x40 label=wan chg=0x01",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=port-label=wan, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = port-label/=/wan, i 0, count 1",
         "ip_track_add_ports_from_oper_label: mapped 0 interfaces to oper site_dns",
         "ip_track_add_ports_from_oper_label: label wan not mapped to any ifc",
         "iptrack_set_oper_attribs: Managing label wan for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperSourceLabel",
     kind::oper,
     "",
     "src-port-label=wan",
     0,
     "mf=0x01 sf=0x83 ps=0x40 label=wan chg=0x01",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=src-port-label=wan, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = src-port-label/=/wan, i 0, count 1",
         "ip_track_add_ports_from_oper_label: mapped 0 interfaces to oper site_dns",
         "ip_track_add_ports_from_oper_label: label wan not mapped to any ifc",
         "iptrack_set_oper_attribs: Managing label wan for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTunnelUnknown",
     kind::oper,
     "",
     "tunnel-name=t1",
     0,
     "mf=0x01 sf=0x02 alias=t1",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=tunnel-name=t1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = tunnel-name/=/t1, i 0, count 1",
         "mgbin_get_tunbin_by_name_or_alias: shared memory block tunmgr is not published",
         "iptrack_add_oper_tunnel: no tunnel found for alias t1 oper entry name site_dns",
         "iptrack_set_oper_attribs: Managing tunnel t1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTunnelSourcePortGiven",
     kind::oper,
     "",
     "tunnel-name=t1;src-port-name=mgmt1",
     0,
     "mf=0x01 sf=0x22 alias=t1 ports=mgmt1/4",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=tunnel-name=t1;src-port-name=mgmt1, "
         "count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = tunnel-name/=/t1, i 0, count 2",
         "iptrack_add_oper_tunnel: no tunnel found for alias t1 oper entry name site_dns",
         "iptrack_set_oper_attribs: Managing tunnel t1 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = src-port-name/=/mgmt1, i 1, count 2",
         "iptrack_add_oper_port: adding port mgmt1 to oper site_dns",
         "iptrack_add_oper_port: setting pend cfg change for site_dns to true (mgmt_intf)",
         "iptrack_set_oper_attribs: Tunnel source port mgmt1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperUnknownKey",
     kind::oper,
     "",
     "bogus=1",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=bogus=1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = bogus/=/1, i 0, count 1",
         "iptrack_set_oper_attribs: op type bogus and val 1 not supported - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperKeysAreCaseInsensitive",
     kind::oper,
     "",
     "KA=3;PROXYADDRESS=h",
     0,
     "ka=3 mf=0x01 sf=0x82 proxy=h",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=KA=3;PROXYADDRESS=h, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = KA/=/3, i 0, count 2",
         "iptrack_set_oper_attribs: KA interval 3 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = PROXYADDRESS/=/h, i 1, count 2",
         "iptrack_set_oper_attribs: Added proxy as h  for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTermWithoutSeparator",
     kind::oper,
     "",
     "ka",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ka/ /, i 0, count 1",
         "iptrack_set_oper_attribs: KA interval 0 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTermWithEmptyKey",
     kind::oper,
     "",
     "=5",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize==5, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = / /, i 0, count 1",
         "iptrack_set_oper_attribs: op type  and val  not supported - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperKey31Characters",
     kind::oper,
     "",
     rep('k', 31) + "=v",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         std::string("iptrack_set_oper_attribs: attributes after tokenize=") + rep('k', 31) +
             "=v, count = 1",
         std::string("iptrack_set_oper_attribs: curr key/c/val = ") + rep('k', 31) +
             "/=/v, i 0, count 1",
         std::string("iptrack_set_oper_attribs: op type ") + rep('k', 31) +
             " and val v not supported - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperKey32Characters",
     kind::oper,
     "",
     rep('k', 32) + "=v",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         std::string("iptrack_set_oper_attribs: attributes after tokenize=") + rep('k', 32) +
             "=v, count = 1",
         std::string("iptrack_set_oper_attribs: curr key/c/val = ") + rep('k', 31) +
             "/k/=v, i 0, count 1",
         std::string("iptrack_set_oper_attribs: op type ") + rep('k', 31) +
             " and val =v not supported - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperKey40Characters",
     kind::oper,
     "",
     rep('k', 40) + "=v",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         std::string("iptrack_set_oper_attribs: attributes after tokenize=") + rep('k', 40) +
             "=v, count = 1",
         std::string("iptrack_set_oper_attribs: curr key/c/val = ") + rep('k', 31) +
             "/k/kkkkkkkk=v, i 0, count 1",
         std::string("iptrack_set_oper_attribs: op type ") + rep('k', 31) +
             " and val kkkkkkkk=v not supported - ignore",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTerm289CharactersAccepted",
     kind::oper,
     "",
     "user-agent=" + rep('u', 278),
     0,
     std::string("mf=0x01 sf=0x82 ua=") + rep('u', 49),
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         std::string("iptrack_set_oper_attribs: attributes after tokenize=user-agent=") +
             rep('u', 278) + ", count = 1",
         std::string("iptrack_set_oper_attribs: curr key/c/val = user-agent/=/") + rep('u', 255) +
             ", i 0, count 1",
         std::string("iptrack_set_oper_attribs: Added User-Agent as ") + rep('u', 49) +
             "  for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTerm290CharactersRejectedAfterEarlierTerms",
     kind::oper,
     "",
     "ka=5;user-agent=" + rep('u', 279),
     1,
     "mf=0x01 sf=0x80",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         std::string("iptrack_set_oper_attribs: attributes after tokenize=ka=5;user-agent=") +
             rep('u', 279) + ", count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/5, i 0, count 2",
         "iptrack_set_oper_attribs: KA interval 5 for operation site_dns",
         std::string("iptrack_set_oper_attribs: key/value string user-agent=") + rep('u', 279) +
             " length exceeded max supported",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperEmptyRejected",
     kind::oper,
     "",
     "",
     1,
     "mf=0x01 sf=0x80",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperLeadingCommaRejected",
     kind::oper,
     "",
     ",ka=5",
     1,
     "mf=0x01 sf=0x80",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperTrailingCommaRejectedAfterCleaning",
     kind::oper,
     "ka=9;port-name=mgmt0",
     "ka=5,",
     1,
     "mf=0x01 sf=0x82",
     {
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperLeadingColonRejected",
     kind::oper,
     "",
     ":ka=5",
     1,
     "mf=0x01 sf=0x80",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperTrailingColonRejected",
     kind::oper,
     "",
     "ka=5:",
     1,
     "mf=0x01 sf=0x80",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
     }},
    {"OperTrailingSemicolonParses",
     kind::oper,
     "",
     "ka=5;",
     0,
     "ka=5 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=5;, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/5, i 0, count 1",
         "iptrack_set_oper_attribs: KA interval 5 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperOnlySeparatorsHasNoTerms",
     kind::oper,
     "",
     ";;",
     0,
     "mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=;;, count = 0",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperRunsOfSeparatorsCollapse",
     kind::oper,
     "",
     ";ka=5;;up-thresh=2;",
     0,
     "ka=5 up=2 mf=0x01 sf=0x82",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=;ka=5;;up-thresh=2;, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/5, i 0, count 2",
         "iptrack_set_oper_attribs: KA interval 5 for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = up-thresh/=/2, i 1, count 2",
         "iptrack_set_oper_attribs: Added Up threshold 2 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperEscapedSeparatorStaysInValue",
     kind::oper,
     "",
     "user-agent=a\\;b;ka=2",
     0,
     "ka=2 mf=0x01 sf=0x82 ua=a;b",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=user-agent=a\\;b;ka=2, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = user-agent/=/a;b, i 0, count 2",
         "iptrack_set_oper_attribs: Added User-Agent as a;b  for operation site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/2, i 1, count 2",
         "iptrack_set_oper_attribs: KA interval 2 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperQuotedValueKeepsSeparators",
     kind::oper,
     "",
     "user-agent=\"Mozilla (X11; Linux)\";ka=2",
     0,
     "ka=2 mf=0x01 sf=0x82 ua=Mozilla (X11; Linux)",
     {
         "iptrack_get_oper_entry: oper site_dns is new - add it to the table",
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=user-agent=\"Mozilla (X11; "
         "Linux)\";ka=2, count = 2",
         "iptrack_set_oper_attribs: curr key/c/val = user-agent/=/Mozilla (X11; Linux), i 0, count "
         "2",
         "iptrack_set_oper_attribs: Added User-Agent as Mozilla (X11; Linux)  for operation "
         "site_dns",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/2, i 1, count 2",
         "iptrack_set_oper_attribs: KA interval 2 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperKeepAliveZeroOnReparseWithoutKa",
     kind::oper,
     "ka=5",
     "up-thresh=3",
     0,
     "up=3 mf=0x01 sf=0x82",
     {
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=up-thresh=3, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = up-thresh/=/3, i 0, count 1",
         "iptrack_set_oper_attribs: Added Up threshold 3 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperProxyPortKeptOnReparse",
     kind::oper,
     "proxyPort=8080",
     "ka=1",
     0,
     "ka=1 mf=0x01 sf=0x82 pport=8080",
     {
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/1, i 0, count 1",
         "iptrack_set_oper_attribs: KA interval 1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperMetricBackToOrOnReparse",
     kind::oper,
     "metric-combination=metric-and;force-dns=true",
     "ka=1",
     0,
     "ka=1 mf=0x01 sf=0x82",
     {
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/1, i 0, count 1",
         "iptrack_set_oper_attribs: KA interval 1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"OperTypeKeptOnReparse",
     kind::oper,
     "type=http-monitor;http-monitor-url=u;user-agent=x",
     "ka=1",
     0,
     "type=4 ka=1 mf=0x01 sf=0x82",
     {
         "iptrack_set_oper_attribs: cleaning the port list for oper site_dns",
         "iptrack_set_oper_attribs: attributes after tokenize=ka=1, count = 1",
         "iptrack_set_oper_attribs: curr key/c/val = ka/=/1, i 0, count 1",
         "iptrack_set_oper_attribs: KA interval 1 for operation site_dns",
         "iptrack_cloudpath_update_attr: shmem not attached yet",
     }},
    {"ActionVrrpDecrementOnPort",
     kind::action,
     "",
     "type=vrrp-prio;dec=10;port-name=eth2",
     0,
     "type=1 flags=0x10 prio=10 ports=eth2/4",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/vrrp-prio",
         "iptrack_set_action_attribs: Set type to VRRP priority for action act",
         "iptrack_set_action_attribs: curr key/c/val = dec/=/10",
         "iptrack_set_action_attribs: Set priority decrement to 10 for action act",
         "iptrack_set_action_attribs: curr key/c/val = port-name/=/eth2",
         "iptrack_add_action_port: adding port eth2 to action act",
         "iptrackd_get_br_ifname_from_port port eth2 not found or is incomplete",
         "iptrack_set_action_attribs: Managing port eth2 for action act",
     }},
    {"ActionVrrpIncrement",
     kind::action,
     "",
     "type=vrrp-prio;inc=5",
     0,
     "type=1 flags=0x08 prio=5",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/vrrp-prio",
         "iptrack_set_action_attribs: Set type to VRRP priority for action act",
         "iptrack_set_action_attribs: curr key/c/val = inc/=/5",
         "iptrack_set_action_attribs: Set priority increment to 5 for action act",
     }},
    {"ActionSubnetAdvertise",
     kind::action,
     "",
     "type=subnet-adv",
     0,
     "type=3",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/subnet-adv",
         "iptrack_set_action_attribs: Set type to Subnet advertise for action act",
     }},
    {"ActionSubnetRemove",
     kind::action,
     "",
     "type=subnet-rmv",
     0,
     "type=4",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/subnet-rmv",
         "iptrack_set_action_attribs: Set type to Subnet removal for action act",
     }},
    {"ActionTunnelUp",
     kind::action,
     "",
     "type=tun-up;tun-alias=branch1",
     0,
     "type=7 label=branch1",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/tun-up",
         "iptrack_set_action_attribs: Set type to Tunnel mod for action act",
         "iptrack_set_action_attribs: curr key/c/val = tun-alias/=/branch1",
         "iptrack_set_action_attribs: Managing tunnel alias branch1 for action act",
     }},
    {"ActionTunnelDown",
     kind::action,
     "",
     "type=tun-dn",
     0,
     "type=8",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/tun-dn",
         "iptrack_set_action_attribs: Set type to Tunnel mod for action act",
     }},
    {"ActionSubnetShare",
     kind::action,
     "",
     "type=subnet-share",
     0,
     "type=5",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/subnet-share",
         "iptrack_set_action_attribs: Set type to Subnet Share for action act",
     }},
    {"ActionSubnetMetricDelta",
     kind::action,
     "",
     "type=subnet-metric;delta=4294967295",
     0,
     "type=6 delta=4294967295",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/subnet-metric",
         "iptrack_set_action_attribs: Set type to Sub Share metric for action act",
         "iptrack_set_action_attribs: curr key/c/val = delta/=/4294967295",
         "iptrack_set_action_attribs: Set subnet metric delta to 4294967295 for action act",
     }},
    {"ActionDeltaTruncated",
     kind::action,
     "",
     "delta=4294967296",
     0,
     "",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = delta/=/4294967296",
         "iptrack_set_action_attribs: Set subnet metric delta to 0 for action act",
     }},
    {"ActionTypeUnknown",
     kind::action,
     "",
     "type=reboot",
     0,
     "",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = type/=/reboot",
         "iptrack_set_action_attribs: invalid action type reboot - ignore",
     }},
    {"ActionLabelWithoutInterfaces",
     kind::action,
     "",
     "port-label=lan",
     0,
     "flags=0x04 label=lan",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = port-label/=/lan",
         "ip_track_add_ports_from_action_label: mapped 0 interfaces to action act",
         "iptrack_set_action_attribs: Managing label lan for action act",
     }},
    {"ActionUnknownKey",
     kind::action,
     "",
     "color=red",
     0,
     "",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         "iptrack_set_action_attribs: curr key/c/val = color/=/red",
         "iptrack_set_action_attribs: action type color and val red not supported - ignore",
     }},
    {"ActionKey40Characters",
     kind::action,
     "",
     rep('k', 40) + "=v",
     0,
     "",
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         std::string("iptrack_set_action_attribs: curr key/c/val = ") + rep('k', 40) + "/=/v",
         std::string("iptrack_set_action_attribs: action type ") + rep('k', 40) +
             " and val v not supported - ignore",
     }},
    {"ActionLongAliasCutToField",
     kind::action,
     "",
     "tun-alias=" + rep('a', 300),
     0,
     std::string("label=") + rep('a', 255),
     {
         "iptrack_get_action_entry: action act is new - add it to the table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
         std::string("iptrack_set_action_attribs: curr key/c/val = tun-alias/=/") + rep('a', 255),
         std::string("iptrack_set_action_attribs: Managing tunnel alias ") + rep('a', 255) +
             " for action act",
     }},
    {"ActionRejectedKeepsTypeOnly",
     kind::action,
     "type=vrrp-prio;inc=7;port-name=eth2",
     "inc=3,",
     1,
     "type=1",
     {
         "iptrack_find_action_entry: found action entry act in table",
         "iptrack_set_action_attribs: cleaning the port list for action act",
     }},
    {"MgrOperationsActionsInterval",
     kind::mgr,
     "",
     "operation=op1;operation=op2;up-action=a1;dn-action=a2;interval=10",
     0,
     "interval=10 up=a1 dn=a2 reqs=op1,op2 users:a1=1 users:a2=1",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/op1",
         "iptrack_new_op_request: successfully added operation request op1 to mgr m1",
         "iptrack_set_mgr_attribs: Added Operation op1",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/op2",
         "iptrack_new_op_request: successfully added operation request op2 to mgr m1",
         "iptrack_set_mgr_attribs: Added Operation op2",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/a1",
         "iptrack_find_action_entry: found action entry a1 in table",
         "iptrack_set_mgr_attribs: Added Up Action a1",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = dn-action/=/a2",
         "iptrack_find_action_entry: found action entry a2 in table",
         "iptrack_set_mgr_attribs: Added Dn Action a2",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = interval/=/10",
         "iptrack_set_mgr_attribs: Set Interval to 10",
     }},
    {"MgrDefaultUpAction",
     kind::mgr,
     "",
     "up-action=def-subnet;dn-action=a2",
     0,
     "interval=30 flags=0x01 dn=a2 users:a2=1",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/def-subnet",
         "iptrack_set_mgr_attribs: Added Up Action def-subnet",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = dn-action/=/a2",
         "iptrack_find_action_entry: found action entry a2 in table",
         "iptrack_set_mgr_attribs: Added Dn Action a2",
     }},
    {"MgrDefaultAlarmUpAction",
     kind::mgr,
     "",
     "up-action=def-alarm",
     0,
     "interval=30 flags=0x01 af=0x01",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/def-alarm",
         "iptrack_set_mgr_attribs: Added Up Action def-alarm",
     }},
    {"MgrAlarmOnlyDownAction",
     kind::mgr,
     "",
     "dn-action=alarm",
     0,
     "interval=30 af=0x01",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = dn-action/=/alarm",
         "iptrack_set_mgr_attribs: Added Dn Action alarm",
     }},
    {"MgrUnknownAction",
     kind::mgr,
     "",
     "up-action=nope",
     0,
     "interval=30",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/nope",
         "iptrack_mgr_add_action: action nope not found in the action table - abort",
         "iptrack_set_mgr_attribs: Up Action nope was not found in the Action table",
     }},
    {"MgrUpActionReplaced",
     kind::mgr,
     "",
     "up-action=a1;up-action=a2",
     0,
     "interval=30 up=a2 users:a2=1",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/a1",
         "iptrack_find_action_entry: found action entry a1 in table",
         "iptrack_set_mgr_attribs: Added Up Action a1",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = up-action/=/a2",
         "iptrack_mgr_add_action: mgr m1 has old up action a1 - removing",
         "iptrack_find_action_entry: found action entry a2 in table",
         "iptrack_set_mgr_attribs: Added Up Action a2",
     }},
    {"MgrPipeOperatorSkipped",
     kind::mgr,
     "",
     "operation|op1;operation=op2",
     0,
     "interval=30 reqs=op2",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/|/op1",
         "iptrack_set_mgr_attribs: invalid command operator | - ignore for mgr m1",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/op2",
         "iptrack_new_op_request: successfully added operation request op2 to mgr m1",
         "iptrack_set_mgr_attribs: Added Operation op2",
     }},
    {"MgrAmpersandOperatorSkipped",
     kind::mgr,
     "",
     "operation&op1",
     0,
     "interval=30",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/&/op1",
         "iptrack_set_mgr_attribs: invalid command operator & - ignore for mgr m1",
     }},
    {"MgrTermWithoutOperator",
     kind::mgr,
     "",
     "operation",
     0,
     "interval=30",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/ /",
         "iptrack_set_mgr_attribs: invalid keyword operation - ignoring for manager m1",
     }},
    {"MgrUnknownKeyword",
     kind::mgr,
     "",
     "color=red",
     0,
     "interval=30",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = color/=/red",
         "iptrack_set_mgr_attribs: invalid keyword color - ignoring for manager m1",
     }},
    {"MgrIntervalNotANumber",
     kind::mgr,
     "",
     "interval=soon",
     0,
     "",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = interval/=/soon",
         "iptrack_set_mgr_attribs: Set Interval to 0",
     }},
    {"MgrRejectedAfterCleaning",
     kind::mgr,
     "operation=op1;up-action=a1",
     ":operation=op1",
     1,
     "interval=30",
     {
         "iptrack_find_mgr_entry: found mgr entry m1 in table",
     }},
    {"MgrReparseDropsOldRequestsAndUsers",
     kind::mgr,
     "operation=op1;up-action=a1;dn-action=a2",
     "operation=op3",
     0,
     "interval=30 reqs=op3",
     {
         "iptrack_find_mgr_entry: found mgr entry m1 in table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/op3",
         "iptrack_new_op_request: successfully added operation request op3 to mgr m1",
         "iptrack_set_mgr_attribs: Added Operation op3",
     }},
    {"MgrOperationName63",
     kind::mgr,
     "",
     "operation=" + rep('n', 63),
     0,
     std::string("interval=30 reqs=") + rep('n', 63),
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         std::string("iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/") +
             rep('n', 63),
         std::string("iptrack_new_op_request: successfully added operation request ") +
             rep('n', 63) + " to mgr m1",
         std::string("iptrack_set_mgr_attribs: Added Operation ") + rep('n', 63),
     }},
    {"MgrOperationName64CutTo63",
     kind::mgr,
     "",
     "operation=" + rep('n', 64),
     0,
     std::string("interval=30 reqs=") + rep('n', 63),
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         std::string("iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/") +
             rep('n', 64),
         std::string("iptrack_new_op_request: successfully added operation request ") +
             rep('n', 63) + " to mgr m1",
         std::string("iptrack_set_mgr_attribs: Added Operation ") + rep('n', 64),
     }},
    {"MgrOperationName70CutTo63",
     kind::mgr,
     "",
     "operation=" + rep('n', 70),
     0,
     std::string("interval=30 reqs=") + rep('n', 63),
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         std::string("iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation/=/") +
             rep('n', 70),
         std::string("iptrack_new_op_request: successfully added operation request ") +
             rep('n', 63) + " to mgr m1",
         std::string("iptrack_set_mgr_attribs: Added Operation ") + rep('n', 70),
     }},
    {"MgrKey32CharactersUnknown",
     kind::mgr,
     "",
     "operation" + rep('x', 23) + "=op1",
     0,
     "interval=30",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         std::string("iptrack_set_mgr_attribs: curr operand1/c/operand2 = operation") +
             rep('x', 23) + "/=/op1",
         std::string("iptrack_set_mgr_attribs: invalid keyword operation") + rep('x', 23) +
             " - ignoring for manager m1",
     }},
    {"MgrKeywordCaseInsensitive",
     kind::mgr,
     "",
     "OPERATION=op1;Interval=5;",
     0,
     "interval=5 reqs=op1",
     {
         "iptrack_get_mgr_entry: mgr m1 is new - add it to the table",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = OPERATION/=/op1",
         "iptrack_new_op_request: successfully added operation request op1 to mgr m1",
         "iptrack_set_mgr_attribs: Added Operation op1",
         "iptrack_set_mgr_attribs: curr operand1/c/operand2 = Interval/=/5",
         "iptrack_set_mgr_attribs: Set Interval to 5",
     }},
};

INSTANTIATE_TEST_SUITE_P(Table, Grammar, ::testing::ValuesIn(grammar_cases),
                         [](const auto &param_info) { return std::string(param_info.param.what); });

} // namespace
