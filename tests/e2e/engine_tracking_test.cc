// The tracking engine end to end: the real daemon against the management
// stand-in, the simulated appliance (shared tables, peers, the outcome of
// actions and alarms) and the stand-in monitors, each a process in a
// private namespace.  Every scenario runs its operations at an interval of
// one second, changes what the monitors report through their control
// actions, and checks each request the daemon sent (name, type and value of
// every binding, in order) in mgmtd's journal and the appliance's outcome.
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_appliance.h"

namespace
{

constexpr e2e_ms scenario_timeout{60000};

const char *const base_db = R"(# engine scenarios
set /logging/syslog/action/file/\/var\/log\/messages/facility/all/min_priority string notice
set /logging/syslog/process/iptrackd/log_level string info
)";

const char *const base_scenario = R"(# engine scenarios
interface eth1 port 192.0.2.1 label=wan
interface eth2 port 192.0.2.2
interface eth3 port 2001:db8::3
interface eth4 port 192.0.2.4
label 1 wan Uplink
rtlabel 5 rl-and and
rtlabel 6 rl-or or
tunnel tun-1 branch 11 192.0.2.1
alarm 262189 1 site-a 0 "port {entity}"
alarm 262249 1 site-a 2 "tunnel {entity}"
vrrp eth2 100
)";

// One journal entry: what kind, its name, who sent it, and its bindings as
// "name = value (type)".
struct Entry {
    uint32_t seq = 0;
    std::string kind;
    std::string name;
    std::string from;
    std::vector<std::string> params;
    std::string param(const std::string &pname) const
    {
        for (const auto &p : params)
            if (p.rfind(pname + " = ", 0) == 0) return p;
        return "";
    }
};

class EngineTracking : public E2eTest
{
  protected:
    E2eAppliance a{h};
    uint32_t seen_ = 0; // journal entries before this were looked at

    // Starts mgmtd with `config` added to the base database, the appliance
    // with its scenario, the monitors, then the daemon.
    void start_all(const std::string &config)
    {
        ASSERT_EQ(0, h.write_file("/tmp/engine.scenario", base_scenario));
        ASSERT_GT(h.start_mgmtd(std::string(base_db) + config, "notice"), 0);
        ASSERT_GT(
            h.start(E2eHarness::sim_path("appliance"), {"-l", "notice", "/tmp/engine.scenario"}),
            0);
        ASSERT_GT(h.start(E2eHarness::sim_path("monitors"), {"-l", "notice"}), 0);
        ASSERT_TRUE(h.wait_line("Monitor stand-in ready", scenario_timeout)) << h.dump();
        ASSERT_GT(h.start_daemon(), 0);
        ASSERT_TRUE(h.wait_line("client processes are ready - going Active", scenario_timeout))
            << h.dump();
    }

    // Runs the client to its end; its standard output (and error after it),
    // and its exit status in `*status` (a failure is one unless asked for).
    std::string cli(const std::vector<std::string> &args, int *status = nullptr)
    {
        const E2eCliResult r = a.cli(args);
        if (status)
            *status = r.status;
        else
            EXPECT_EQ(0, r.status) << r.out << r.err;
        return r.out + r.err;
    }

    // What a target reports from now on (a later rule of the same
    // specificity wins).
    void script(const std::vector<std::string> &params)
    {
        std::vector<std::string> args = {"action", "/sim/monitors/script"};
        args.insert(args.end(), params.begin(), params.end());
        (void)cli(args);
    }

    void set_node(const std::string &name, const std::string &type, const std::string &value)
    {
        (void)cli({"set", name, type, value});
    }

    std::vector<Entry> journal()
    {
        std::istringstream in(cli({"journal"}));
        std::vector<Entry> out;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("#", 0) == 0) {
                Entry e;
                std::istringstream w(line.substr(1));
                std::string word;
                w >> e.seq >> e.kind >> e.name >> word >> e.from;
                out.push_back(e);
            } else if (line.rfind("    ", 0) == 0 && !out.empty()) {
                out.back().params.push_back(line.substr(4));
            }
        }
        return out;
    }

    // The daemon's entries after the ones already taken, once `pred` holds
    // for them; the ones up to and including the last match are taken.
    std::vector<Entry> wait_entries(const std::function<bool(const std::vector<Entry> &)> &pred)
    {
        const auto deadline = e2e_clock::now() + scenario_timeout;
        for (;;) {
            std::vector<Entry> mine;
            for (auto &e : journal())
                if (e.seq > seen_ && e.from == "iptrackd") mine.push_back(std::move(e));
            if (pred(mine)) {
                if (!mine.empty()) seen_ = mine.back().seq;
                return mine;
            }
            if (e2e_clock::now() > deadline) {
                ADD_FAILURE() << "journal condition not met\n" << describe(mine) << h.dump();
                return mine;
            }
            usleep(100 * 1000);
        }
    }

    // Waits until an entry named `name` arrives (after those taken), with
    // the binding `binding` ("name = value (type)") when one is given.
    std::vector<Entry> wait_for_entry(const std::string &name, const std::string &binding = "")
    {
        return wait_entries([&](const std::vector<Entry> &es) {
            return std::any_of(es.begin(), es.end(), [&](const Entry &e) {
                return e.name == name &&
                       (binding.empty() ||
                        std::find(e.params.begin(), e.params.end(), binding) != e.params.end());
            });
        });
    }

    static std::string describe(const std::vector<Entry> &es)
    {
        std::string out;
        for (const auto &e : es) {
            out += "#" + std::to_string(e.seq) + " " + e.kind + " " + e.name + "\n";
            for (const auto &p : e.params) out += "    " + p + "\n";
        }
        return out;
    }

    // The last entry named `name`; an empty one when there is none.
    static Entry last(const std::vector<Entry> &es, const std::string &name)
    {
        const auto v = named(es, name);
        return v.empty() ? Entry{} : v.back();
    }

    static std::vector<Entry> named(const std::vector<Entry> &es, const std::string &name)
    {
        std::vector<Entry> out;
        for (const auto &e : es)
            if (e.name == name) out.push_back(e);
        return out;
    }

    std::string outcome()
    {
        return cli({"action", "/sim/appliance/show", "what", "string", "outcome"});
    }

    // Waits until the outcome view contains `text`.
    bool wait_outcome(const std::string &text)
    {
        const auto deadline = e2e_clock::now() + scenario_timeout;
        while (e2e_clock::now() < deadline) {
            if (outcome().find(text) != std::string::npos) return true;
            usleep(100 * 1000);
        }
        ADD_FAILURE() << "outcome never showed \"" << text << "\"\n" << outcome();
        return false;
    }
};

const char *const mon = "/qz/iptrackd/action/ip_mon";
const char *const vrrp = "/qz/iptrackd/action/update_vrrp";
const char *const subnets = "/qz/iptrackd/action/update_subnets";
const char *const tunnel = "/qz/iptrackd/action/update_tunnel";
const char *const rtlabel = "/qz/iptrackd/action/update_route_label";
const char *const raise_ev = "/qz/alarms/events/raise_alarm";
const char *const clear_ev = "/qz/alarms/events/clear_alarm";

// The values of `pname` of the entries named `name`, in order.
std::vector<std::string> values(const std::vector<Entry> &es, const std::string &name,
                                const std::string &pname)
{
    std::vector<std::string> out;
    for (const auto &e : es)
        if (e.name == name) out.push_back(e.param(pname));
    return out;
}

std::string cfg(const std::string &kind, const std::string &name, const std::string &attribs)
{
    return "set /qz/iptrackd/config/" + kind + "/" + name + "/attributes string \"" + attribs +
           "\"\n";
}

std::string mgr_cfg(const std::string &name, const std::string &attribs)
{
    return cfg("manager", name, attribs) + "set /qz/iptrackd/config/manager/" + name +
           "/enable bool true\n";
}

const char *const op1 = "type=ip-monitor;port-name=eth1;ip-monitor-ip=10.0.0.9;ka=1;up-thresh=3;"
                        "dn-thresh=30;sample-int=300";
const char *const op2 = "type=ip-monitor;port-name=eth4;ip-monitor-ip=10.0.0.8;ka=1;up-thresh=3;"
                        "dn-thresh=30;sample-int=300";

} // namespace

TEST_F(EngineTracking, PriorityDecrementOnDownAndIncrementOnUpWithTheMonitorDownAlarm)
{
    start_all(cfg("oper", "op1", op1) +
              cfg("action", "inc", "type=vrrp-prio;port-name=eth2;inc=10") +
              cfg("action", "dec", "type=vrrp-prio;port-name=eth2;dec=10") +
              mgr_cfg("m1", "operation=op1;up-action=inc;dn-action=dec;interval=1"));

    // Start, then Polls; the change from init to up sends no priority change.
    // (The reset that the first parse of the operation makes reverts the
    // manager once, before its first probe: "config".)
    auto es = wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 3; });
    const auto codes = values(es, mon, "mon_action");
    EXPECT_EQ("mon_action = 1 (uint16)", codes.at(0)) << describe(es);
    EXPECT_EQ("mon_action = 2 (uint16)", codes.at(1)) << describe(es);
    const auto first_probe =
        std::find_if(es.begin(), es.end(), [](const Entry &e) { return e.name == mon; });
    EXPECT_TRUE(named(std::vector<Entry>(first_probe, es.end()), vrrp).empty()) << describe(es);

    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    es = wait_for_entry(vrrp);
    const auto raised = named(es, raise_ev);
    ASSERT_EQ(1u, raised.size()) << describe(es);
    EXPECT_EQ(std::vector<std::string>({
                  "alarm_type = 262189 (string)",
                  "param_1 = 0 (string)",
                  "param_2 = 0 (string)",
                  "param_3 = Ping for 10.0.0.9 on Port eth1 tunnel N/A     (string)",
                  "comment = An IP SLA monitor is in Down state (string)",
                  "note =  (string)",
                  "hierarchy = site-a/port eth1 (string)",
                  "source_label = Uplink (string)",
                  "source_ip = 192.0.2.1 (string)",
              }),
              raised[0].params);
    EXPECT_EQ(std::vector<std::string>({"action = decrement (string)", "port_name = eth2 (string)",
                                        "vrrp_priority = 10 (uint16)"}),
              last(es, vrrp).params);
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/vrrp/1/priority = 90"));

    script({"target", "string", "10.0.0.9", "up", "bool", "true"});
    es = wait_for_entry(vrrp);
    const auto cleared = named(es, clear_ev);
    ASSERT_EQ(1u, cleared.size()) << describe(es);
    // A clear names the alarm without the raise's note and source.
    EXPECT_EQ(std::vector<std::string>({
                  "alarm_type = 262189 (string)",
                  "param_1 = 0 (string)",
                  "param_2 = 0 (string)",
                  "param_3 = Ping for 10.0.0.9 on Port eth1 tunnel N/A     (string)",
                  "comment = An IP SLA monitor is in Down state (string)",
                  "hierarchy = site-a/port eth1 (string)",
              }),
              cleared[0].params);
    EXPECT_EQ("action = increment (string)", last(es, vrrp).param("action"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/vrrp/1/priority = 100"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/alarm_counts/1/cleared = 1"));
}

TEST_F(EngineTracking, DualStackRetiresIpv6WhileIpv4IsUpAndRestartsBothWhenNeitherIs)
{
    start_all(
        cfg("oper", "op1", "type=ip-monitor;port-name=eth1;port-name=eth3;ip-monitor-ip=10.0.0.9") +
        mgr_cfg("m1", "operation=op1;dn-action=alarm;up-action=def-alarm;interval=1"));
    // The last `n` probes, each as its port and code.
    auto tail = [](const std::vector<Entry> &es, size_t n) {
        std::vector<std::string> seq;
        for (const auto &e : named(es, mon))
            seq.push_back(e.param("port_name") + " " + e.param("mon_action"));
        return seq.size() < n ? seq : std::vector<std::string>(seq.end() - n, seq.end());
    };
    // Start to both, Poll to both, then the IPv6 monitor alone is deleted.
    auto es = wait_for_entry(mon, "mon_action = 5 (uint16)");
    EXPECT_EQ(std::vector<std::string>({
                  "port_name = eth1 (string) mon_action = 1 (uint16)",
                  "port_name = eth3 (string) mon_action = 1 (uint16)",
                  "port_name = eth1 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 5 (uint16)",
              }),
              tail(es, 5))
        << describe(es);
    EXPECT_EQ("port_version = 6 (uint8)", last(es, mon).param("port_version"));

    // Nothing up: Polls go to both ports, then every retired family starts.
    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    es = wait_for_entry(mon, "mon_action = 1 (uint16)");
    EXPECT_EQ(std::vector<std::string>({
                  "port_name = eth1 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 1 (uint16)",
              }),
              tail(es, 3))
        << describe(es);
}

TEST_F(EngineTracking, AlarmOnlyDownActionAndTheNameResolutionAlarm)
{
    start_all(cfg("oper", "op1", op1) +
              mgr_cfg("m1", "operation=op1;dn-action=alarm;up-action=def-alarm;interval=1") +
              "set /qz/iptrackd/config/manager/m1/comment string \"lab uplink\"\n");
    (void)wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 2; });

    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    auto es = wait_for_entry(raise_ev);
    EXPECT_EQ("alarm_type = 262189 (string)", last(es, raise_ev).param("alarm_type"));

    script({"target", "string", "10.0.0.9", "up", "bool", "true", "dns_fail", "bool", "true"});
    es = wait_for_entry(raise_ev, "alarm_type = 262217 (string)");
    const auto dns = last(es, raise_ev);
    EXPECT_EQ(std::vector<std::string>({
                  "alarm_type = 262217 (string)",
                  "param_1 = 0 (string)",
                  "param_2 = 0 (string)",
                  "param_3 = DNS resolution failed for at least one of the IPSLA targets in "
                  "10.0.0.9 on Port eth1 tunnel N/A    (string)",
                  "comment = DNS resolution failed for IPSLA target (string)",
                  "note = IPSLA:lab uplink (string)",
                  "hierarchy =  (string)",
                  "source_label =  (string)",
                  "source_ip =  (string)",
              }),
              dns.params);

    script({"target", "string", "10.0.0.9", "up", "bool", "true", "dns_fail", "bool", "false"});
    es = wait_for_entry(clear_ev, "alarm_type = 262217 (string)");
    EXPECT_EQ(5u, last(es, clear_ev).params.size());
}

TEST_F(EngineTracking, StandInMonitorsLiveFromStartToDeleteAndRefuseAPollOfNoMonitor)
{
    ASSERT_GT(h.start_mgmtd(base_db, "notice"), 0);
    ASSERT_GT(h.start(E2eHarness::sim_path("monitors"), {"-l", "notice"}), 0);
    ASSERT_TRUE(h.wait_line("Monitor stand-in ready", scenario_timeout)) << h.dump();
    auto probe = [&](const char *code, const char *version, int *status) {
        return cli({"action", mon, "mon_action", "uint16", code, "port_name", "string", "eth1",
                    "port_version", "uint8", version, "dst_ip", "string", "10.0.0.9", "ip_mon_name",
                    "string", "op1"},
                   status);
    };
    int status = 0;
    std::string out = probe("2", "4", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, out.find("never started")) << out;

    out = probe("1", "4", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, out.find("ip_state = 1 (uint32)")) << out;
    EXPECT_NE(std::string::npos, cli({"action", "/sim/monitors/list"}).find("ip_mon op1 eth1 4"));

    // Per target, port and version: only IPv6 of this target goes down and
    // fails to resolve; the IPv6 monitor is another monitor.
    script({"target", "string", "10.0.0.9", "version", "uint8", "6", "up", "bool", "false",
            "dns_fail", "bool", "true"});
    (void)probe("2", "6", &status);
    EXPECT_EQ(1, status);
    (void)probe("1", "6", &status);
    out = probe("2", "6", &status);
    EXPECT_NE(std::string::npos, out.find("ip_state = 65536 (uint32)")) << out;
    out = probe("2", "4", &status);
    EXPECT_NE(std::string::npos, out.find("ip_state = 1 (uint32)")) << out;

    // A monitor can fail, or answer late (the answer still comes).
    script({"port", "string", "eth1", "version", "uint8", "4", "fail", "bool", "true"});
    (void)probe("2", "4", &status);
    EXPECT_EQ(1, status);
    script({"port", "string", "eth1", "version", "uint8", "4", "delay_ms", "uint32", "300"});
    out = probe("2", "4", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, out.find("ip_state = 1 (uint32)")) << out;

    // Deleted, the monitor no longer probes: it answers down until started.
    (void)probe("5", "4", &status);
    EXPECT_EQ(0, status);
    out = probe("2", "4", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, out.find("ip_state = 0 (uint32)")) << out;
}

TEST_F(EngineTracking, SubnetsAreAdvertisedAndRemovedAndSharingFollowsTheStatus)
{
    start_all(
        cfg("oper", "op1", op1) + cfg("action", "rmv", "type=subnet-rmv;port-name=eth2") +
        cfg("action", "share", "type=subnet-share") +
        mgr_cfg("m1", "operation=op1;up-action=def-subnet;dn-action=rmv;interval=1") +
        cfg("oper", "op1b", op1) +
        mgr_cfg("m2", "operation=op1b;up-action=def-subnet-share;dn-action=share;interval=1"));
    (void)wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 2; });
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/subnets/1/state = advertised"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/subnet_sharing/1/state = enabled"));

    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    const auto es = wait_entries([](const std::vector<Entry> &v) {
        const auto subs = values(v, subnets, "sub_action");
        return std::count(subs.begin(), subs.end(), "sub_action = 2 (uint16)") &&
               std::count(subs.begin(), subs.end(), "sub_action = 4 (uint16)");
    });
    std::vector<std::vector<std::string>> sent;
    for (const auto &e : named(es, subnets))
        if (e.param("sub_action") != "sub_action = 3 (uint16)") sent.push_back(e.params);
    EXPECT_EQ(
        std::vector<std::vector<std::string>>({
            {"port_name = eth2 (string)", "sub_action = 2 (uint16)", "sub_delta = 0 (uint32)"},
            {"port_name =  (string)", "sub_action = 4 (uint16)", "sub_delta = 0 (uint32)"},
        }),
        sent)
        << describe(es);
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/subnets/1/state = withdrawn"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/subnet_sharing/1/state = disabled"));
}

TEST_F(EngineTracking, MetricDeltasOfTwoManagersAddUpAndAResetNeverTakesTheTotalBelowZero)
{
    start_all(
        cfg("oper", "op1", op1) + cfg("oper", "op2", op2) +
        cfg("action", "met10", "type=subnet-metric;port-name=eth2;delta=10") +
        cfg("action", "met20", "type=subnet-metric;port-name=eth2;delta=20") +
        mgr_cfg("ma", "operation=op1;up-action=def-subnet-metric;dn-action=met10;interval=1") +
        mgr_cfg("mb", "operation=op2;up-action=def-subnet-metric;dn-action=met20;interval=1"));
    (void)wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 4; });

    // Init to up moves nothing; each down adds, each up subtracts.
    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    auto es = wait_for_entry(subnets);
    script({"target", "string", "10.0.0.8", "up", "bool", "false"});
    auto more = wait_for_entry(subnets);
    es.insert(es.end(), more.begin(), more.end());
    script({"target", "string", "10.0.0.8", "up", "bool", "true"});
    more = wait_for_entry(subnets);
    es.insert(es.end(), more.begin(), more.end());
    EXPECT_EQ(std::vector<std::string>({"sub_delta = 10 (uint32)", "sub_delta = 30 (uint32)",
                                        "sub_delta = 10 (uint32)"}),
              values(es, subnets, "sub_delta"))
        << describe(es);
    EXPECT_EQ("sub_action = 5 (uint16)", last(es, subnets).param("sub_action"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/subnets/1/metric = 10"));

    // A changed operation resets ma while it is down with its alarm raised:
    // its revert takes its delta off, and so does the alarm's clear, which
    // stops at 0.
    set_node("/qz/iptrackd/config/oper/op1/attributes", "string",
             std::string(op1) + ";loss-up-thresh=1");
    es = wait_entries([](const std::vector<Entry> &v) { return named(v, subnets).size() >= 2; });
    // Still down, so evaluated again from the reset: its delta goes onto 0,
    // not onto a wrapped total.
    EXPECT_EQ(std::vector<std::string>({"sub_delta = 0 (uint32)", "sub_delta = 10 (uint32)"}),
              values(es, subnets, "sub_delta"))
        << describe(es);
}

TEST_F(EngineTracking, TunnelGoesDownWithADefaultTunnelUpAndAnUnknownAliasSendsNothing)
{
    start_all(cfg("oper", "op1", op1) + cfg("action", "tdn", "type=tun-dn;tun-alias=branch") +
              cfg("action", "tbad", "type=tun-dn;tun-alias=nowhere") +
              mgr_cfg("m1", "operation=op1;up-action=def-tun;dn-action=tdn;interval=1") +
              cfg("oper", "op1b", op1) +
              mgr_cfg("m2", "operation=op1b;up-action=def-tun;dn-action=tbad;interval=1"));
    (void)wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 2; });
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/tunnel_states/1/up = true"));

    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    const auto es = wait_for_entry(tunnel, "tun_state = false (bool)");
    for (const auto &e : named(es, tunnel))
        EXPECT_EQ("tun_name = tun-1 (string)", e.params.at(0)) << describe(es);
    EXPECT_EQ(2u, last(es, tunnel).params.size());
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/tunnel_states/1/up = false"));
    EXPECT_TRUE(h.wait_line("ip_track_mgr_send_tunnel_action: no tunnel found for alias nowhere",
                            scenario_timeout));
}

TEST_F(EngineTracking, RouteLabelsFollowAndAndOrOverTwoManagersAndAChangedCondition)
{
    start_all(cfg("oper", "op1", op1) + cfg("oper", "op2", op2) +
              mgr_cfg("a1", "operation=op1;up-action=def-alarm;dn-action=alarm;interval=1") +
              mgr_cfg("a2", "operation=op2;up-action=def-alarm;dn-action=alarm;interval=1") +
              cfg("oper", "op1b", op1) + cfg("oper", "op2b", op2) +
              mgr_cfg("o1", "operation=op1b;up-action=def-alarm;dn-action=alarm;interval=1") +
              mgr_cfg("o2", "operation=op2b;up-action=def-alarm;dn-action=alarm;interval=1") +
              "set /qz/iptrackd/config/manager/a1/label_id uint32 5\n"
              "set /qz/iptrackd/config/manager/a2/label_id uint32 5\n"
              "set /qz/iptrackd/config/manager/o1/label_id uint32 6\n"
              "set /qz/iptrackd/config/manager/o2/label_id uint32 6\n");
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/route_label_states/1/up = true"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/route_label_states/2/up = true"));

    // One of two down: the AND label goes down, the OR label stays up.
    script({"target", "string", "10.0.0.8", "up", "bool", "false"});
    auto es = wait_for_entry(rtlabel, "route_label_state = false (bool)");
    for (const auto &e : named(es, rtlabel)) {
        ASSERT_EQ(2u, e.params.size());
        const bool and_label = e.params[0] == "route_label_id = 5 (uint32)";
        if (e.params[1] == "route_label_state = false (bool)")
            EXPECT_TRUE(and_label) << describe(es);
        else
            EXPECT_EQ("route_label_state = true (bool)", e.params[1]);
    }
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/route_label_states/1/up = false"));
    EXPECT_TRUE(wait_outcome("/sim/appliance/show/route_label_states/2/up = true"));

    // Label 5 is now "any up": it goes up again.
    set_node("/qz/rtlabels/config/5/is_down_condition_any", "bool", "false");
    es = wait_for_entry(rtlabel);
    EXPECT_EQ(std::vector<std::string>(
                  {"route_label_id = 5 (uint32)", "route_label_state = true (bool)"}),
              last(es, rtlabel).params);
}

TEST_F(EngineTracking, DisableStopsTheMonitorEnableStartsItAgainAndALostTunnelIsNotInstalled)
{
    // The operation runs over the tunnel, on the port that carries it.
    start_all(cfg("oper", "op1", "type=ip-monitor;tunnel-name=branch;ip-monitor-ip=10.0.0.9") +
              cfg("action", "dec", "type=vrrp-prio;port-name=eth2;dec=10") +
              mgr_cfg("m1", "operation=op1;up-action=def-vrrp;dn-action=dec;interval=1"));
    auto es = wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 2; });
    const Entry start = named(es, mon).at(0);
    EXPECT_EQ("mon_action = 1 (uint16)", start.param("mon_action")) << describe(es);
    EXPECT_EQ("tun_name = tun-1 (string)", start.param("tun_name"));
    EXPECT_EQ("tun_id = 11 (uint32)", start.param("tun_id"));
    EXPECT_EQ("port_name = eth1 (string)", start.param("port_name"));

    set_node("/qz/iptrackd/config/manager/m1/enable", "bool", "false");
    es = wait_for_entry(mon, "mon_action = 5 (uint16)");
    EXPECT_EQ("tun_name = tun-1 (string)", last(es, mon).param("tun_name")) << describe(es);

    set_node("/qz/iptrackd/config/manager/m1/enable", "bool", "true");
    (void)wait_for_entry(mon, "mon_action = 2 (uint16)");

    // The tunnel goes from the appliance's table: the not-installed alarm
    // names it.
    (void)cli({"action", "/sim/appliance/tunnel/remove", "name", "string", "tun-1"});
    es = wait_for_entry(raise_ev);
    const Entry raised = last(es, raise_ev);
    EXPECT_EQ("alarm_type = 262196 (string)", raised.param("alarm_type")) << describe(es);
    EXPECT_NE(std::string::npos, raised.param("param_3").find("Tunnel branch not found"))
        << raised.param("param_3");
}
