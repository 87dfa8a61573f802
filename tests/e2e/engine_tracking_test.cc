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

#include "support/e2e_harness.h"

namespace
{

const char *const socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";
constexpr e2e_ms scenario_timeout{40000};

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
    uint32_t seen_ = 0; // journal entries before this were looked at

    // Starts mgmtd with `config` added to the base database, the appliance
    // with its scenario, the monitors, then the daemon.
    void start_all(const std::string &config)
    {
        ASSERT_EQ(0, h.write_file("/tmp/engine.db", std::string(base_db) + config));
        ASSERT_EQ(0, h.write_file("/tmp/engine.scenario", base_scenario));
        ASSERT_GT(h.start(E2eHarness::sim_path("mgmtd"), {"-l", "notice", "/tmp/engine.db"}), 0);
        ASSERT_TRUE(h.wait_path(socket_path)) << h.dump();
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
        const int st =
            h.run(E2eHarness::tool_path("mgmtcli"), args, "/tmp/cli.out", "/tmp/cli.err");
        std::string out, err;
        EXPECT_EQ(0, h.read_file("/tmp/cli.out", &out));
        (void)h.read_file("/tmp/cli.err", &err);
        if (status)
            *status = st;
        else
            EXPECT_EQ(0, st) << out << err;
        return out + err;
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

    // Waits until an entry named `name` arrives (after those taken).
    std::vector<Entry> wait_for_entry(const std::string &name)
    {
        return wait_entries([&](const std::vector<Entry> &es) {
            return std::any_of(es.begin(), es.end(),
                               [&](const Entry &e) { return e.name == name; });
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
const char *const raise_ev = "/qz/alarms/events/raise_alarm";
const char *const clear_ev = "/qz/alarms/events/clear_alarm";

// The bindings of a ping request from the defaults of a new operation.
std::vector<std::string> ping(int code, const std::string &port, int version,
                              const std::string &targets, const std::string &probe_num = "",
                              const std::string &name = "op1")
{
    return {
        "mon_action = " + std::to_string(code) + " (uint16)",
        "port_name = " + port + " (string)",
        "port_version = " + std::to_string(version) + " (uint8)",
        "dst_ip = " + targets + " (string)",
        "ka_interval = 1 (uint16)",
        "up_threshold = 3 (uint16)",
        "dn_threshold = 30 (uint16)",
        "sample_int = 300 (uint16)",
        "loss_up_thresh = 0 (uint16)",
        "loss_dn_thresh = 0 (uint16)",
        "rtt_up_thresh = 0 (uint32)",
        "rtt_dn_thresh = 0 (uint32)",
        "metric_combination = 1 (uint8)",
        "probe_num = " + probe_num + " (string)",
        "ip_mon_name = " + name + " (string)",
    };
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

} // namespace

TEST_F(EngineTracking, PriorityDecrementOnDownAndIncrementOnUpWithTheMonitorDownAlarm)
{
    start_all(cfg("oper", "op1", op1) +
              cfg("action", "inc", "type=vrrp-prio;port-name=eth2;inc=10") +
              cfg("action", "dec", "type=vrrp-prio;port-name=eth2;dec=10") +
              mgr_cfg("m1", "operation=op1;up-action=inc;dn-action=dec;interval=1"));

    // Start, then Polls; the change from init to up sends no priority change.
    auto es = wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 3; });
    const auto probes = named(es, mon);
    EXPECT_EQ(ping(1, "eth1", 4, "10.0.0.9"), probes[0].params) << describe(es);
    EXPECT_EQ(ping(2, "eth1", 4, "10.0.0.9"), probes[1].params);
    EXPECT_TRUE(named(es, vrrp).empty()) << describe(es);

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
              named(es, vrrp).back().params);
    EXPECT_TRUE(wait_outcome("90"));

    script({"target", "string", "10.0.0.9", "up", "bool", "true"});
    es = wait_for_entry(vrrp);
    const auto cleared = named(es, clear_ev);
    ASSERT_EQ(1u, cleared.size()) << describe(es);
    EXPECT_EQ(std::vector<std::string>({
                  "alarm_type = 262189 (string)",
                  "param_1 = 0 (string)",
                  "param_2 = 0 (string)",
                  "param_3 = Ping for 10.0.0.9 on Port eth1 tunnel N/A     (string)",
                  "comment = An IP SLA monitor is in Down state (string)",
                  "hierarchy = site-a/port eth1 (string)",
              }),
              cleared[0].params);
    EXPECT_EQ("action = increment (string)", named(es, vrrp).back().params.at(0));
}

TEST_F(EngineTracking, DefaultUpOverAPriorityDecrementSendsTheConfiguredPriorityFromInit)
{
    start_all(cfg("oper", "op1", op1) +
              cfg("action", "dec", "type=vrrp-prio;port-name=eth2;dec=10") +
              mgr_cfg("m1", "operation=op1;up-action=def-vrrp;dn-action=dec;interval=1"));
    const auto es = wait_for_entry(vrrp);
    EXPECT_EQ(std::vector<std::string>({"action = config (string)", "port_name = eth2 (string)",
                                        "vrrp_priority = 0 (uint16)"}),
              named(es, vrrp).front().params);
}

TEST_F(EngineTracking, DualStackRetiresIpv6WhileIpv4IsUpAndRestartsBothWhenNeitherIs)
{
    start_all(
        cfg("oper", "op1", "type=ip-monitor;port-name=eth1;port-name=eth3;ip-monitor-ip=10.0.0.9") +
        mgr_cfg("m1", "operation=op1;dn-action=alarm;up-action=def-alarm;interval=1"));
    auto port_code = [](const Entry &e) {
        return e.param("port_name") + " " + e.param("mon_action");
    };
    // Start to both, Poll to both, then the IPv6 monitor alone is deleted.
    auto es = wait_entries([](const std::vector<Entry> &v) {
        for (const auto &e : v)
            if (e.param("mon_action") == "mon_action = 5 (uint16)") return true;
        return false;
    });
    std::vector<std::string> seq;
    for (const auto &e : named(es, mon)) seq.push_back(port_code(e));
    ASSERT_GE(seq.size(), 5u);
    EXPECT_EQ(std::vector<std::string>({
                  "port_name = eth1 (string) mon_action = 1 (uint16)",
                  "port_name = eth3 (string) mon_action = 1 (uint16)",
                  "port_name = eth1 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 5 (uint16)",
              }),
              std::vector<std::string>(seq.end() - 5, seq.end()));
    EXPECT_EQ("port_version = 6 (uint8)", named(es, mon).back().param("port_version"));

    // Nothing up: Polls go to both ports, then every retired family starts.
    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    es = wait_entries([](const std::vector<Entry> &v) {
        for (const auto &e : v)
            if (e.param("mon_action") == "mon_action = 1 (uint16)") return true;
        return false;
    });
    seq.clear();
    for (const auto &e : named(es, mon)) seq.push_back(port_code(e));
    ASSERT_GE(seq.size(), 3u);
    EXPECT_EQ(std::vector<std::string>({
                  "port_name = eth1 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 2 (uint16)",
                  "port_name = eth3 (string) mon_action = 1 (uint16)",
              }),
              std::vector<std::string>(seq.end() - 3, seq.end()));
}

TEST_F(EngineTracking, AlarmOnlyDownActionAndTheNameResolutionAlarm)
{
    start_all(cfg("oper", "op1", op1) +
              mgr_cfg("m1", "operation=op1;dn-action=alarm;up-action=def-alarm;interval=1") +
              "set /qz/iptrackd/config/manager/m1/comment string \"lab uplink\"\n");
    (void)wait_entries([](const std::vector<Entry> &v) { return named(v, mon).size() >= 2; });

    script({"target", "string", "10.0.0.9", "up", "bool", "false"});
    auto es = wait_for_entry(raise_ev);
    EXPECT_EQ("alarm_type = 262189 (string)", named(es, raise_ev).back().param("alarm_type"));
    EXPECT_EQ("note = IPSLA:lab uplink (string)", named(es, raise_ev).back().param("note"));
    for (const auto &e : es) EXPECT_EQ(std::string::npos, e.name.find("update_")) << e.name;

    script({"target", "string", "10.0.0.9", "up", "bool", "true", "dns_fail", "bool", "true"});
    es = wait_entries([](const std::vector<Entry> &v) {
        for (const auto &e : named(v, raise_ev))
            if (e.param("alarm_type") == "alarm_type = 262217 (string)") return true;
        return false;
    });
    const auto dns = named(es, raise_ev).back();
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
    es = wait_entries([](const std::vector<Entry> &v) {
        for (const auto &e : named(v, clear_ev))
            if (e.param("alarm_type") == "alarm_type = 262217 (string)") return true;
        return false;
    });
    EXPECT_EQ(5u, named(es, clear_ev).back().params.size());
}

TEST_F(EngineTracking, StandInMonitorsLiveFromStartToDeleteAndRefuseAPollOfNoMonitor)
{
    ASSERT_EQ(0, h.write_file("/tmp/engine.db", base_db));
    ASSERT_GT(h.start(E2eHarness::sim_path("mgmtd"), {"-l", "notice", "/tmp/engine.db"}), 0);
    ASSERT_TRUE(h.wait_path(socket_path)) << h.dump();
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

    (void)probe("5", "4", &status);
    EXPECT_EQ(0, status);
    (void)probe("2", "4", &status);
    EXPECT_EQ(1, status);
}
