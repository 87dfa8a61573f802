// The three attribute grammars, driven by a table: each string is parsed
// into a fresh entry, and the case lists the fields it leaves (only those
// that are not zero or empty) and every log line of the parse, in order.
// No send happens in these parses (no monitor was requested, no action is
// applied), so the engine runs without mgmtd; the cloud path table is not
// attached, which is what its soft-failure lines say.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "appliance/qz_shm_tables.h"
#include "engine_tables.h"

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

std::string hex(unsigned v)
{
    char b[8];
    snprintf(b, sizeof b, "0x%02x", v);
    return b;
}

// "key=value ..." of the fields that are not zero or empty, in order.
std::string join(std::initializer_list<std::pair<std::string, std::string>> fields)
{
    std::string s;
    for (const auto &[key, v] : fields)
        if (!v.empty() && v != "0" && v != "0x00") s += (s.empty() ? "" : " ") + key + "=" + v;
    return s;
}

std::string summary(const iptrack_oper *o)
{
    return join({{"type", std::to_string(o->type)},
                 {"sub", std::to_string(o->subtype)},
                 {"ka", std::to_string(o->ka)},
                 {"up", std::to_string(o->up_thresh)},
                 {"dn", std::to_string(o->dn_thresh)},
                 {"si", std::to_string(o->sample_int)},
                 {"lu", std::to_string(o->loss_up_thresh)},
                 {"ld", std::to_string(o->loss_dn_thresh)},
                 {"ru", std::to_string(o->rtt_up_thresh)},
                 {"rd", std::to_string(o->rtt_dn_thresh)},
                 {"mf", hex(o->metric_flags)},
                 {"sf", hex(o->state_flags)},
                 {"ps", hex(o->probe_state)},
                 {"label", o->label},
                 {"alias", o->tunnel_alias},
                 {"targets", o->targets},
                 {"proxy", o->proxy_addr},
                 {"pport", std::to_string(o->proxy_port)},
                 {"ua", o->user_agent},
                 {"timeout", std::to_string(o->http_timeout)},
                 {"ports", ports(o->ports)},
                 {"chg", hex(iptrack_g.change_flags)}});
}

std::string summary(const iptrack_action *a)
{
    return join({{"type", std::to_string(a->type)},
                 {"flags", hex(a->flags)},
                 {"prio", std::to_string(a->prio_delta)},
                 {"delta", std::to_string(a->metric_delta)},
                 {"label", a->label_or_alias},
                 {"ports", ports(a->ports)}});
}

std::string summary(const iptrack_mgr *m)
{
    std::string reqs;
    for (const iptrack_op_request *r = m->requests.head; r; r = r->link.next)
        reqs += std::string(reqs.empty() ? "" : ",") + r->oper_name;
    std::string s = join({{"interval", std::to_string(m->interval_s)},
                          {"flags", hex(m->flags)},
                          {"af", hex(m->alarm_flags)},
                          {"up", m->up_action ? m->up_action->name : ""},
                          {"dn", m->dn_action ? m->dn_action->name : ""},
                          {"reqs", reqs}});
    for (const iptrack_action *a = iptrack_g.actions.head; a; a = a->link.next)
        if (a->users)
            s += (s.empty() ? "users:" : " users:") + std::string(a->name) + "=" +
                 std::to_string(a->users);
    return s;
}

int parse(kind k, const std::string &attribs, std::string *fields)
{
    if (k == kind::oper) {
        iptrack_oper *o = iptrack_get_oper_entry("site_dns");
        iptrack_oper_set_new_attribs(o, attribs.c_str());
        const int rc = iptrack_set_oper_attribs(o);
        o->state_flags &= static_cast<uint8>(~iptrack_os_cfg_pending); // as the tick does
        *fields = summary(o);
        return rc;
    }
    if (k == kind::action) {
        iptrack_action *a = iptrack_get_action_entry("act");
        iptrack_action_set_attribs(a, attribs.c_str());
        a->flags &= static_cast<uint8>(~iptrack_af_label_pending);
        const int rc = iptrack_set_action_attribs(a);
        *fields = summary(a);
        return rc;
    }
    iptrack_mgr *m = iptrack_get_mgr_entry("m1");
    iptrack_mgr_set_attribs(m, attribs.c_str());
    m->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
    const int rc = iptrack_set_mgr_attribs(m);
    *fields = summary(m);
    return rc;
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const grammar_case &c, std::ostream *os)
{
    *os << c.what;
}

class Grammar : public ::testing::TestWithParam<grammar_case>
{
  protected:
    void SetUp() override
    {
        init_engine_logging();
        // Every case sees the first-use lines of absent tables.
        cmem_detach_all();
        ASSERT_EQ(iptrack_init(), 0);
        // Managers bind these.
        (void)iptrack_get_action_entry("a1");
        (void)iptrack_get_action_entry("a2");
    }
    void TearDown() override { iptrack_deinit(); }
};

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
    EXPECT_EQ(bodies(cap), c.lines);
}

// Lines of the three parse functions, given without their name, and lines
// about the entries these cases parse.
const auto oper_ln = [](const std::string &s) { return "iptrack_set_oper_attribs: " + s; };
const auto action_ln = [](const std::string &s) { return "iptrack_set_action_attribs: " + s; };
const auto mgr_ln = [](const std::string &s) { return "iptrack_set_mgr_attribs: " + s; };
const auto oper_for = [](const std::string &s) { return oper_ln(s + " for operation site_dns"); };
const auto action_for = [](const std::string &s) { return action_ln(s + " for action act"); };

std::string oper_term(const std::string &key_op_val, size_t i, size_t count)
{
    return oper_ln("curr key/c/val = " + key_op_val + ", i " + std::to_string(i) + ", count " +
                   std::to_string(count));
}

const auto request_added = [](const std::string &oper) {
    return "iptrack_new_op_request: successfully added operation request " + oper + " to mgr m1";
};
const auto action_found = [](const std::string &action) {
    return "iptrack_find_action_entry: found action entry " + action + " in table";
};

const char *const new_oper = "iptrack_get_oper_entry: oper site_dns is new - add it to the table";
const char *const new_action = "iptrack_get_action_entry: action act is new - add it to the table";
const char *const new_mgr = "iptrack_get_mgr_entry: mgr m1 is new - add it to the table";

// One term of an accepted parse: the key, operator and value it is read
// as (which opens its lines), then the lines it logs.
using term = std::vector<std::string>;

// An oper parse that gets past tokenizing, after `before` when that is not
// empty (the entry is then found, so no new-entry line): the port list is
// cleaned, the terms counted, and the cloud path attributes pushed after the
// terms.
grammar_case oper_case(const char *what, const std::string &attribs, const std::string &fields,
                       const std::vector<term> &terms, const std::string &before = "")
{
    std::vector<std::string> lines;
    if (before.empty()) lines.push_back(new_oper);
    lines.push_back(oper_ln("cleaning the port list for oper site_dns"));
    lines.push_back(oper_ln("attributes after tokenize=" + attribs +
                            ", count = " + std::to_string(terms.size())));
    for (size_t i = 0; i < terms.size(); ++i) {
        lines.push_back(oper_term(terms[i][0], i, terms.size()));
        lines.insert(lines.end(), terms[i].begin() + 1, terms[i].end());
    }
    lines.push_back("iptrack_cloudpath_update_attr: shmem not attached yet");
    return {what, kind::oper, before, attribs, 0, fields, lines};
}

grammar_case action_case(const char *what, const std::string &attribs, const std::string &fields,
                         const std::vector<term> &terms)
{
    std::vector<std::string> lines = {new_action, action_for("cleaning the port list")};
    for (const term &t : terms) {
        lines.push_back(action_ln("curr key/c/val = " + t[0]));
        lines.insert(lines.end(), t.begin() + 1, t.end());
    }
    return {what, kind::action, "", attribs, 0, fields, lines};
}

grammar_case mgr_case(const char *what, const std::string &attribs, const std::string &fields,
                      const std::vector<term> &terms)
{
    std::vector<std::string> lines = {new_mgr};
    for (const term &t : terms) {
        lines.push_back(mgr_ln("curr operand1/c/operand2 = " + t[0]));
        lines.insert(lines.end(), t.begin() + 1, t.end());
    }
    return {what, kind::mgr, "", attribs, 0, fields, lines};
}

// A string a fresh oper entry rejects while tokenizing: the entry is left
// cleaned and not configured.
grammar_case oper_rejected_case(const char *what, const std::string &attribs)
{
    const std::vector<std::string> lines = {new_oper,
                                            oper_ln("cleaning the port list for oper site_dns")};
    return {what, kind::oper, "", attribs, 1, "mf=0x01 sf=0x80", lines};
}

// Accepted parses through the builders above; the rest written out: name,
// grammar, a string parsed before (lines not checked), the string, the
// result, the fields left, the lines in order.
const grammar_case grammar_cases[] = {
    // Keys are case-insensitive; runs of separators collapse.
    oper_case("OperIpMonitorThresholds", ";type=ip-monitor;;KA=5;up-thresh=4;dn-thresh=6;",
              "type=2 ka=5 up=4 dn=6 mf=0x01 sf=0x82",
              {{"type/=/ip-monitor", oper_for("Set type to IP SLA monitor")},
               {"KA/=/5", oper_for("KA interval 5")},
               {"up-thresh/=/4", oper_for("Added Up threshold 4")},
               {"dn-thresh/=/6", oper_for("Added Dn threshold 6")}}),
    oper_case("OperEveryNumericKey",
              "sample-int=10;loss-up-thresh=1;loss-dn-thresh=2;rtt-up-thresh=100;rtt-dn-thresh=200",
              "si=10 lu=1 ld=2 ru=100 rd=200 mf=0x01 sf=0x82",
              {{"sample-int/=/10", oper_for("Added Sampling Interval 10")},
               {"loss-up-thresh/=/1", oper_for("Added Loss Up Threshold 1")},
               {"loss-dn-thresh/=/2", oper_for("Added Loss Down Threshold 2")},
               {"rtt-up-thresh/=/100", oper_for("Added Avg Latency (rtt) Up Threshold 100")},
               {"rtt-dn-thresh/=/200", oper_for("Added Avg Latency (rtt) Dn Threshold 200")}}),
    oper_case("OperNumbersTruncatedToFieldWidth", "ka=70000;rtt-up-thresh=4294967297",
              "ka=4464 ru=1 mf=0x01 sf=0x82",
              {{"ka/=/70000", oper_for("KA interval 4464")},
               {"rtt-up-thresh/=/4294967297", oper_for("Added Avg Latency (rtt) Up Threshold 1")}}),
    oper_case("OperTextThatIsNotANumberReadsZero",
              "ka=abc;up-thresh=12abc;dn-thresh= 7;sample-int=-5", "up=12 dn=7 mf=0x01 sf=0x82",
              {{"ka/=/abc", oper_for("KA interval 0")},
               {"up-thresh/=/12abc", oper_for("Added Up threshold 12")},
               {"dn-thresh/=/ 7", oper_for("Added Dn threshold 7")},
               {"sample-int/=/-5", oper_for("Added Sampling Interval 0")}}),
    oper_case("OperTypePortMonitor", "type=port-monitor", "type=1 mf=0x01 sf=0x82",
              {{"type/=/port-monitor", oper_for("Set type to interface monitor")}}),
    oper_case("OperTypeVrrpMonitor", "type=vrrp-monitor", "type=3 mf=0x01 sf=0x82",
              {{"type/=/vrrp-monitor", oper_for("Set type to VRRP state monitor")}}),
    oper_case("OperTypeUnknownOrMiscasedIgnored", "type=icmp;type=IP-MONITOR", "mf=0x01 sf=0x82",
              {{"type/=/icmp", oper_ln("invalid operation type icmp - ignore")},
               {"type/=/IP-MONITOR", oper_ln("invalid operation type IP-MONITOR - ignore")}}),
    oper_case("OperMetricOrAfterAnd", "metric-combination=metric-and;metric-combination=metric-or",
              "mf=0x01 sf=0x82",
              {{"metric-combination/=/metric-and", oper_for("Set metric combination to AND")},
               {"metric-combination/=/metric-or", oper_for("Set metric combination to OR")}}),
    oper_case("OperMetricUnknownValue", "metric-combination=metric-xor", "mf=0x01 sf=0x82",
              {{"metric-combination/=/metric-xor", oper_for("Metric comb metric-xor")}}),
    oper_case("OperForceDnsFirstFourCharacters", "force-dns=TRUEISH", "mf=0x05 sf=0x82",
              {{"force-dns/=/TRUEISH"}}),
    oper_case("OperForceDnsFalse", "force-dns=false", "mf=0x01 sf=0x82", {{"force-dns/=/false"}}),
    oper_case("OperIpTargets", "type=ip-monitor;ip-monitor-ip=8.8.8.8,1.1.1.1",
              "type=2 sub=1 mf=0x01 sf=0x82 targets=8.8.8.8,1.1.1.1",
              {{"type/=/ip-monitor", oper_for("Set type to IP SLA monitor")},
               {"ip-monitor-ip/=/8.8.8.8,1.1.1.1",
                "iptrack_cloudpath_delete_probes: shmem not attached yet",
                "iptrack_cloudpath_update_probes: shmem not attached yet",
                oper_for("Managing IP addresses 8.8.8.8,1.1.1.1 reachability")}}),
    oper_case(
        "OperHttpSettings",
        "type=http-monitor;http-monitor-url=http://x/"
        ";proxyAddress=p.example;proxyPort=8080;user-agent=curl;http-timeout=9",
        "type=4 sub=2 mf=0x01 sf=0x82 targets=http://x/ proxy=p.example pport=8080 ua=curl "
        "timeout=9",
        {{"type/=/http-monitor", oper_for("Set type to HTTP monitor")},
         {"http-monitor-url/=/http://x/", "iptrack_cloudpath_delete_probes: shmem not attached yet",
          "iptrack_cloudpath_update_probes: shmem not attached yet",
          oper_for("Managing URL http://x/ reachability")},
         {"proxyAddress/=/p.example", oper_for("Added proxy as p.example ")},
         {"proxyPort/=/8080", oper_for("Added proxy port as 8080 ")},
         {"user-agent/=/curl", oper_for("Added User-Agent as curl ")},
         {"http-timeout/=/9", oper_for("Added HTTP timeout 9")}}),
    oper_case("OperEmptyTimeoutAndPortIpIgnored", "http-timeout=;port-ip=10.0.0.1",
              "mf=0x01 sf=0x82",
              {{"http-timeout/=/", oper_for("Command ignored")},
               {"port-ip/=/10.0.0.1", oper_for("Command ignored")}}),
    oper_case("OperIpSubtypeHttp", "ip-monitor-http=yes", "sub=2 mf=0x01 sf=0x82",
              {{"ip-monitor-http/=/yes", oper_for("Managing IP subtype HTTP")}}),
    oper_case(
        "OperPortBeforeTablesNotAdded", "port-name=eth1", "mf=0x01 sf=0x82 chg=0x01",
        {{"port-name/=/eth1", "iptrack_add_oper_port: adding port eth1 to oper site_dns",
          "iptrackd_get_br_ifname_from_port port eth1 not found or is incomplete",
          "iptrack_add_oper_port: setting pend cfg change for site_dns to true, port active 0",
          oper_for("Managing port eth1")}}),
    oper_case("OperManagementPortAlwaysActive", "port-name=mgmt0", "mf=0x01 sf=0xa2 ports=mgmt0/4",
              {{"port-name/=/mgmt0", "iptrack_add_oper_port: adding port mgmt0 to oper site_dns",
                "iptrack_add_oper_port: setting pend cfg change for site_dns to true (mgmt_intf)",
                oper_for("Managing port mgmt0")}}),
    oper_case("OperLabelWithoutInterfaces", "port-label=wan;src-port-label=lan",
              "mf=0x01 sf=0x83 ps=0x40 label=lan chg=0x01",
              {{"port-label/=/wan",
                "ip_track_add_ports_from_oper_label: mapped 0 interfaces to oper site_dns",
                "ip_track_add_ports_from_oper_label: label wan not mapped to any ifc",
                oper_for("Managing label wan")},
               {"src-port-label/=/lan",
                "ip_track_add_ports_from_oper_label: mapped 0 interfaces to oper site_dns",
                "ip_track_add_ports_from_oper_label: label lan not mapped to any ifc",
                oper_for("Managing label lan")}}),
    oper_case(
        "OperTunnelSourcePortGiven", "tunnel-name=t1;src-port-name=mgmt1",
        "mf=0x01 sf=0x22 alias=t1 ports=mgmt1/4",
        {{"tunnel-name/=/t1",
          "mgbin_get_tunbin_by_name_or_alias: shared memory block tunmgr is not published",
          "iptrack_add_oper_tunnel: no tunnel found for alias t1 oper entry name site_dns",
          oper_for("Managing tunnel t1")},
         {"src-port-name/=/mgmt1", "iptrack_add_oper_port: adding port mgmt1 to oper site_dns",
          "iptrack_add_oper_port: setting pend cfg change for site_dns to true (mgmt_intf)",
          oper_for("Tunnel source port mgmt1")}}),
    oper_case("OperUnknownKey", "bogus=1", "mf=0x01 sf=0x82",
              {{"bogus/=/1", oper_ln("op type bogus and val 1 not supported - ignore")}}),
    oper_case("OperTermWithoutSeparator", "ka", "mf=0x01 sf=0x82",
              {{"ka/ /", oper_for("KA interval 0")}}),
    oper_case("OperTermWithEmptyKey", "=5", "mf=0x01 sf=0x82",
              {{"/ /", oper_ln("op type  and val  not supported - ignore")}}),
    oper_case("OperKey31Characters", std::string(31, 'k') + "=v", "mf=0x01 sf=0x82",
              {{std::string(31, 'k') + "/=/v",
                oper_ln("op type " + std::string(31, 'k') + " and val v not supported - ignore")}}),
    oper_case("OperKey32Characters", std::string(32, 'k') + "=v", "mf=0x01 sf=0x82",
              {{std::string(31, 'k') + "/k/=v", oper_ln("op type " + std::string(31, 'k') +
                                                        " and val =v not supported - ignore")}}),
    oper_case("OperTerm289CharactersAccepted", "user-agent=" + std::string(278, 'u'),
              std::string("mf=0x01 sf=0x82 ua=") + std::string(49, 'u'),
              {{"user-agent/=/" + std::string(255, 'u'),
                oper_for("Added User-Agent as " + std::string(49, 'u') + " ")}}),
    {"OperTerm290CharactersRejectedAfterEarlierTerms",
     kind::oper,
     "",
     "ka=5;user-agent=" + std::string(279, 'u'),
     1,
     "mf=0x01 sf=0x80",
     {
         new_oper,
         oper_ln("cleaning the port list for oper site_dns"),
         oper_ln("attributes after tokenize=ka=5;user-agent=" + std::string(279, 'u') +
                 ", count = 2"),
         oper_term("ka/=/5", 0, 2),
         oper_for("KA interval 5"),
         oper_ln("key/value string user-agent=" + std::string(279, 'u') +
                 " length exceeded max supported"),
         oper_ln("cleaning the port list for oper site_dns"),
     }},
    oper_rejected_case("OperEmptyRejected", ""),
    oper_rejected_case("OperLeadingCommaRejected", ",ka=5"),
    {"OperTrailingCommaRejectedAfterCleaning",
     kind::oper,
     "ka=9;port-name=mgmt0",
     "ka=5,",
     1,
     "mf=0x01 sf=0x82",
     {oper_ln("cleaning the port list for oper site_dns")}},
    oper_rejected_case("OperTrailingColonRejected", "ka=5:"),
    oper_case("OperOnlySeparatorsHasNoTerms", ";;", "mf=0x01 sf=0x82", {}),
    oper_case("OperEscapedOrQuotedSeparatorStaysInValue",
              "proxyAddress=a\\;b;user-agent=\"Mozilla (X11; Linux)\"",
              "mf=0x01 sf=0x82 proxy=a;b ua=Mozilla (X11; Linux)",
              {{"proxyAddress/=/a;b", oper_for("Added proxy as a;b ")},
               {"user-agent/=/Mozilla (X11; Linux)",
                oper_for("Added User-Agent as Mozilla (X11; Linux) ")}}),
    // Type and proxy port stay; keep-alive, metric flags and the user agent
    // are reset.
    oper_case("OperReparseKeepsTypeAndProxyPort", "up-thresh=3",
              "type=4 up=3 mf=0x01 sf=0x82 pport=8080",
              {{"up-thresh/=/3", oper_for("Added Up threshold 3")}},
              "type=http-monitor;http-monitor-url=u;user-agent=x;proxyPort=8080;ka=5;"
              "metric-combination=metric-and;force-dns=true"),
    action_case("ActionVrrpDecrementOnPort", "type=vrrp-prio;dec=10;port-name=eth2",
                "type=1 flags=0x10 prio=10 ports=eth2/4",
                {{"type/=/vrrp-prio", action_for("Set type to VRRP priority")},
                 {"dec/=/10", action_for("Set priority decrement to 10")},
                 {"port-name/=/eth2", "iptrack_add_action_port: adding port eth2 to action act",
                  "iptrackd_get_br_ifname_from_port port eth2 not found or is incomplete",
                  action_for("Managing port eth2")}}),
    action_case("ActionVrrpIncrement", "type=vrrp-prio;inc=5", "type=1 flags=0x08 prio=5",
                {{"type/=/vrrp-prio", action_for("Set type to VRRP priority")},
                 {"inc/=/5", action_for("Set priority increment to 5")}}),
    action_case("ActionSubnetAdvertise", "type=subnet-adv", "type=3",
                {{"type/=/subnet-adv", action_for("Set type to Subnet advertise")}}),
    action_case("ActionSubnetRemove", "type=subnet-rmv", "type=4",
                {{"type/=/subnet-rmv", action_for("Set type to Subnet removal")}}),
    action_case("ActionTunnelUp", "type=tun-up;tun-alias=branch1", "type=7 label=branch1",
                {{"type/=/tun-up", action_for("Set type to Tunnel mod")},
                 {"tun-alias/=/branch1", action_for("Managing tunnel alias branch1")}}),
    action_case("ActionTunnelDown", "type=tun-dn", "type=8",
                {{"type/=/tun-dn", action_for("Set type to Tunnel mod")}}),
    action_case("ActionSubnetShare", "type=subnet-share", "type=5",
                {{"type/=/subnet-share", action_for("Set type to Subnet Share")}}),
    action_case("ActionSubnetMetricDelta", "type=subnet-metric;delta=4294967295",
                "type=6 delta=4294967295",
                {{"type/=/subnet-metric", action_for("Set type to Sub Share metric")},
                 {"delta/=/4294967295", action_for("Set subnet metric delta to 4294967295")}}),
    action_case("ActionDeltaTruncated", "delta=4294967296", "",
                {{"delta/=/4294967296", action_for("Set subnet metric delta to 0")}}),
    action_case("ActionLabelWithoutInterfaces", "port-label=lan", "flags=0x04 label=lan",
                {{"port-label/=/lan",
                  "ip_track_add_ports_from_action_label: mapped 0 interfaces to action act",
                  action_for("Managing label lan")}}),
    action_case(
        "ActionUnknownTypeOrKeyIgnored", "type=reboot;color=red", "",
        {{"type/=/reboot", action_ln("invalid action type reboot - ignore")},
         {"color/=/red", action_ln("action type color and val red not supported - ignore")}}),
    action_case("ActionKey40Characters", std::string(40, 'k') + "=v", "",
                {{std::string(40, 'k') + "/=/v", action_ln("action type " + std::string(40, 'k') +
                                                           " and val v not supported - ignore")}}),
    action_case("ActionLongAliasCutToField", "tun-alias=" + std::string(300, 'a'),
                std::string("label=") + std::string(255, 'a'),
                {{"tun-alias/=/" + std::string(255, 'a'),
                  action_for("Managing tunnel alias " + std::string(255, 'a') + "")}}),
    {"ActionRejectedKeepsTypeOnly",
     kind::action,
     "type=vrrp-prio;inc=7;port-name=eth2",
     "inc=3,",
     1,
     "type=1",
     {action_found("act"), action_for("cleaning the port list")}},
    // Keywords are case-insensitive.
    mgr_case("MgrOperationsActionsInterval",
             "OPERATION=op1;operation=op2;Up-Action=a1;dn-action=a2;Interval=10;",
             "interval=10 up=a1 dn=a2 reqs=op1,op2 users:a1=1 users:a2=1",
             {{"OPERATION/=/op1", request_added("op1"), mgr_ln("Added Operation op1")},
              {"operation/=/op2", request_added("op2"), mgr_ln("Added Operation op2")},
              {"Up-Action/=/a1", action_found("a1"), mgr_ln("Added Up Action a1")},
              {"dn-action/=/a2", action_found("a2"), mgr_ln("Added Dn Action a2")},
              {"Interval/=/10", mgr_ln("Set Interval to 10")}}),
    mgr_case("MgrDefaultUpAction", "up-action=def-subnet;dn-action=a2",
             "interval=30 flags=0x01 dn=a2 users:a2=1",
             {{"up-action/=/def-subnet", mgr_ln("Added Up Action def-subnet")},
              {"dn-action/=/a2", action_found("a2"), mgr_ln("Added Dn Action a2")}}),
    mgr_case("MgrDefaultAlarmUpAction", "up-action=def-alarm", "interval=30 flags=0x01 af=0x01",
             {{"up-action/=/def-alarm", mgr_ln("Added Up Action def-alarm")}}),
    mgr_case("MgrAlarmOnlyDownAction", "dn-action=alarm", "interval=30 af=0x01",
             {{"dn-action/=/alarm", mgr_ln("Added Dn Action alarm")}}),
    mgr_case("MgrUnknownAction", "up-action=nope", "interval=30",
             {{"up-action/=/nope",
               "iptrack_mgr_add_action: action nope not found in the action table - abort",
               mgr_ln("Up Action nope was not found in the Action table")}}),
    mgr_case("MgrUpActionReplaced", "up-action=a1;up-action=a2", "interval=30 up=a2 users:a2=1",
             {{"up-action/=/a1", action_found("a1"), mgr_ln("Added Up Action a1")},
              {"up-action/=/a2", "iptrack_mgr_add_action: mgr m1 has old up action a1 - removing",
               action_found("a2"), mgr_ln("Added Up Action a2")}}),
    mgr_case("MgrPipeOperatorSkipped", "operation|op1;operation=op2", "interval=30 reqs=op2",
             {{"operation/|/op1", mgr_ln("invalid command operator | - ignore for mgr m1")},
              {"operation/=/op2", request_added("op2"), mgr_ln("Added Operation op2")}}),
    mgr_case("MgrUnknownKeywordOrNoOperatorIgnored", "color=red;operation", "interval=30",
             {{"color/=/red", mgr_ln("invalid keyword color - ignoring for manager m1")},
              {"operation/ /", mgr_ln("invalid keyword operation - ignoring for manager m1")}}),
    mgr_case("MgrIntervalNotANumber", "interval=soon", "",
             {{"interval/=/soon", mgr_ln("Set Interval to 0")}}),
    {"MgrRejectedAfterCleaning",
     kind::mgr,
     "operation=op1;up-action=a1",
     ":operation=op1",
     1,
     "interval=30",
     {"iptrack_find_mgr_entry: found mgr entry m1 in table"}},
    {"MgrReparseDropsOldRequestsAndUsers",
     kind::mgr,
     "operation=op1;up-action=a1;dn-action=a2",
     "operation=op3",
     0,
     "interval=30 reqs=op3",
     {
         "iptrack_find_mgr_entry: found mgr entry m1 in table",
         mgr_ln("curr operand1/c/operand2 = operation/=/op3"),
         request_added("op3"),
         mgr_ln("Added Operation op3"),
     }},
    mgr_case("MgrOperationName64CutTo63", "operation=" + std::string(64, 'n'),
             std::string("interval=30 reqs=") + std::string(63, 'n'),
             {{"operation/=/" + std::string(64, 'n'), request_added(std::string(63, 'n')),
               mgr_ln("Added Operation " + std::string(64, 'n'))}}),
    mgr_case("MgrKey32CharactersUnknown", "operation" + std::string(23, 'x') + "=op1",
             "interval=30",
             {{"operation" + std::string(23, 'x') + "/=/op1",
               mgr_ln("invalid keyword operation" + std::string(23, 'x') +
                      " - ignoring for manager m1")}}),
};

INSTANTIATE_TEST_SUITE_P(Table, Grammar, ::testing::ValuesIn(grammar_cases),
                         [](const auto &param_info) { return std::string(param_info.param.what); });

} // namespace
