// The simulated appliance end to end: it runs beside the stand-in mgmtd as
// a real process, publishes its scenario in shared memory that the test
// reads with the daemon's own lookups, follows changes made with the
// client, and keeps the outcome of the actions and alarms routed to it.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_tables.h"
#include "support/e2e_appliance.h"

namespace
{

class ApplianceE2e : public E2eTest
{
  protected:
    void start_both()
    {
        ASSERT_GT(a.start_mgmtd(a.example_db()), 0);
        appliance_pid = a.start_appliance(a.example_scenario());
        ASSERT_GT(appliance_pid, 0);
    }

    // Starts `mgmtcli watch ...` and waits until it has registered.
    void watch(const std::vector<std::string> &args, const std::string &out)
    {
        std::vector<std::string> w{"watch"};
        w.insert(w.end(), args.begin(), args.end());
        ASSERT_GT(a.start_cli(w, out), 0);
        std::string content;
        ASSERT_TRUE(a.wait_file(out, "watching", &content)) << content;
    }

    // Runs the client, which must succeed.
    void ok(const std::vector<std::string> &args)
    {
        const E2eCliResult r = a.cli(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }

    E2eAppliance a{h};
    pid_t appliance_pid = -1;
};

// Lookups run inside the namespace, in a child of the test.
bool interface(const char *name, qz_l3if_info *ret)
{
    const cmem_block *t = nullptr;
    return cmem_attach_block_read_only(QZ_SHM_L3IF, &t) == 0 &&
           qz_l3if_get_by_name(t, name, ret) == 0;
}

bool tunnel(const char *name_or_alias, qz_tunbin *ret)
{
    const cmem_block *t = nullptr;
    return cmem_attach_block_read_only(QZ_SHM_TUNNEL, &t) == 0 &&
           qz_tunbin_get_by_name_or_alias(t, name_or_alias, ret) == 0;
}

int collect_names(const qz_l3if_info *info, void *data)
{
    *static_cast<std::string *>(data) += std::string(info->name) + " ";
    return 0;
}

std::string pid_file(E2eHarness &h)
{
    std::string text;
    (void)h.read_file("/var/run/sysd.pid", &text);
    return text;
}

// Each check of the published tables answers with its own number, so a
// failure says which one broke.
int check_published_scenario()
{
    qz_l3if_info i{};
    if (!interface("eth1", &i)) return 1;
    char addr[lc_ip_str_max];
    if (i.ip_version != 4 || strcmp(i.label, "INET2") != 0 ||
        lc_ipaddr_to_buf(&i.address, addr, sizeof addr) != 0 || strcmp(addr, "198.51.100.10") != 0)
        return 2;
    if (!interface("eth2", &i) || i.ip_version != 6) return 3;
    if (!interface("eth9", &i) || !i.incomplete) return 14;
    const cmem_block *l3 = nullptr;
    if (cmem_attach_block_read_only(QZ_SHM_L3IF, &l3) != 0) return 4;
    if (qz_l3if_get_bridge_of_member(l3, "lan1", &i) != 0 || strcmp(i.name, "br0") != 0 ||
        i.kind != qz_l3if_kind_bridge)
        return 5;
    std::string carriers;
    if (qz_l3if_foreach_with_label(l3, "INET2", collect_names, &carriers) != 0 ||
        carriers != "eth1 eth2 ")
        return 6;
    if (!interface("vti1", &i) || i.kind != qz_l3if_kind_vti || strcmp(i.tunnel_name, "tun-hq"))
        return 7;
    const cmem_block *labels = nullptr;
    char text[qz_label_size];
    if (cmem_attach_block_read_only(QZ_SHM_IFLABEL, &labels) != 0 ||
        qz_iflabel_get_text(labels, "INET1", text) != 0 || strcmp(text, "Internet One") != 0)
        return 8;
    const cmem_block *rt = nullptr;
    char name[qz_rtlabel_name_size];
    bool and_mode = false;
    if (cmem_attach_block_read_only(QZ_SHM_RTLABEL, &rt) != 0 ||
        qz_rtlabel_get(rt, 1, name, &and_mode) != 0 || strcmp(name, "gold") != 0 || !and_mode)
        return 9;
    if (qz_rtlabel_get(rt, 2, name, &and_mode) != 0 || and_mode) return 10;
    qz_tunbin tb{};
    if (!tunnel("hq", &tb) || strcmp(tb.name, "tun-hq") != 0 || tb.id != 7) return 11;
    qz_alm_hier hier{};
    if (qz_alm_get_hier_for_alm(262189, &hier) != 0 || hier.num_levels != 2) return 12;
    if (ipsla_probes_attach() != 0 || ipsla_probes_free_count() != ipsla_probes_max ||
        ipsla_probes_synthetic_count() != 2)
        return 13;
    return 0;
}

TEST_F(ApplianceE2e, PublishesItsScenarioThenReportsThePeersReady)
{
    start_both();
    EXPECT_EQ(h.run_in_ns(check_published_scenario), 0) << h.dump();
    EXPECT_EQ(pid_file(h), std::to_string(appliance_pid) + "\n");

    // The configuration nodes mirror the tables.
    for (const char *line : {"/net/interface/config/eth1/label = INET2 (string)",
                             "/qz/iflabels/config/1/name = INET1 (string)",
                             "/qz/rtlabels/config/1/is_down_condition_any = true (bool)",
                             "/tun/config/tun-hq/config_bin = alias=hq;id=7;source=192.0.2.10 "
                             "(string)",
                             "/qz/sysd/system/state/is_alive = Ready (string)"}) {
        const std::string node = std::string(line).substr(0, std::string(line).find(" = "));
        const auto r = a.cli({"get", node});
        EXPECT_EQ(r.out, std::string(line) + "\n") << r.err;
    }

    // Not ready first, whatever the database said, and ready only after the
    // tables are out.
    const auto lines = h.lines();
    size_t not_ready = lines.size(), published = lines.size(), ready = lines.size();
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string &m = lines[k].message;
        if (m == "Peer redd is Initializing") not_ready = k;
        if (m.rfind("Published 9 interfaces", 0) == 0) published = k;
        if (m == "Peer redd is Ready") ready = k;
    }
    EXPECT_LT(not_ready, published) << h.dump();
    EXPECT_LT(published, ready) << h.dump();

    // A clean end takes the system daemon's pid file with it; the blocks
    // stay for readers that still map them.
    ASSERT_TRUE(h.signal(appliance_pid, SIGTERM));
    const auto e = h.wait_exit(appliance_pid);
    ASSERT_TRUE(e && e->exited) << h.dump();
    EXPECT_EQ(e->code, 0);
    EXPECT_FALSE(h.path_exists("/var/run/sysd.pid"));
    EXPECT_TRUE(h.path_exists("/dev/shm/" QZ_SHM_L3IF));
}

TEST_F(ApplianceE2e, RefusesABadScenarioNamingItsLine)
{
    struct bad_case {
        const char *text;
        const char *message;
    };
    const bad_case cases[] = {
        {"label 1 WAN \"Internet\"\ninterface eth0 tunnelport 10.0.0.1\n",
         "line 2: unknown interface kind \"tunnelport\""},
        {"interface eth0 port 10.0.0.1 label=WAN\n",
         "line 1: label WAN of interface eth0 has no label line"},
        {"interface eth0 port 10.0.0.300\n", "line 1: bad address \"10.0.0.300\""},
        {"interface a23456789012345 port -\ninterface a234567890123456 port -\n",
         "line 2: interface \"a234567890123456\" is longer than 15 characters"},
        {"interface eth0 port -\ninterface eth0 port -\n", "line 2: interface eth0 defined twice"},
        {"rtlabel 256 gold and\n", "line 1: route label id must run from 1 to 255"},
        {"rtlabel 1 gold xor\n", "line 1: usage: rtlabel ID NAME and|or"},
        {"alarm 1 0 a 0 b 0 c 0 d 0 e\n", "line 1: at most 4 levels"},
        {"tunnel t1 alias 7\n", "line 1: usage: tunnel NAME ALIAS ID SOURCE"},
        {"label 1 \"unterminated\n", "line 1: unterminated quote"},
        {"router r1\n", "line 1: unknown item \"router\""},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(h.write_file("/tmp/bad.scenario", c.text), 0);
        const pid_t pid =
            h.start(E2eHarness::sim_path("appliance"), {"/tmp/bad.scenario"}, {}, "/tmp/bad.out");
        const auto e = h.wait_exit(pid);
        ASSERT_TRUE(e && e->exited) << h.dump();
        EXPECT_EQ(e->code, 1) << c.text;
        std::string out;
        EXPECT_EQ(h.read_file("/tmp/bad.out", &out), 0);
        EXPECT_EQ(out, std::string("appliance: /tmp/bad.scenario: ") + c.message + "\n");
    }
}

TEST_F(ApplianceE2e, ClientChangesReachTheTablesAndRaiseTheirEvents)
{
    start_both();
    // The daemon's own patterns for labels and tunnels: a tunnel's
    // config_bin is heard through "/tun/config/*", its ancestor.
    watch({"/qz/tunneld/system/events/if_change"}, "/tmp/ifchange.out");
    watch({"/mgmtd/notify/dbchange", "/net/interface/config/*/label", "/tun/config/*",
           "/qz/iflabels/**", "/qz/rtlabels/config/*/is_down_condition_any"},
          "/tmp/dbchange.out");

    const double down_ms = a.time_change({"appliance", "interface", "down", "eth1"}, [] {
        qz_l3if_info i{};
        return !interface("eth1", &i);
    });
    ASSERT_GE(down_ms, 0) << h.dump();
    std::string out;
    EXPECT_TRUE(a.wait_file("/tmp/ifchange.out", "ifname = eth1 (string)", &out)) << out;

    ok({"appliance", "interface", "incomplete", "eth1"});
    EXPECT_TRUE(a.wait_in_ns([] {
        qz_l3if_info i{};
        return interface("eth1", &i) && i.incomplete;
    }));
    ok({"appliance", "interface", "up", "eth1"});
    EXPECT_TRUE(a.wait_in_ns([] {
        qz_l3if_info i{};
        return interface("eth1", &i) && !i.incomplete;
    }));

    const double move_ms =
        a.time_change({"appliance", "label", "move", "INET2", "eth0", "eth1"}, [] {
            qz_l3if_info from{}, to{};
            return interface("eth0", &to) && strcmp(to.label, "INET2") == 0 &&
                   interface("eth1", &from) && from.label[0] == '\0';
        });
    ASSERT_GE(move_ms, 0) << h.dump();
    EXPECT_TRUE(a.wait_file("/tmp/dbchange.out", "/net/interface/config/eth0/label = INET2", &out))
        << out;
    EXPECT_NE(out.find("/net/interface/config/eth1/label =  (string)"), std::string::npos) << out;

    const double tunnel_ms = a.time_change({"appliance", "tunnel", "remove", "tun-dr"}, [] {
        qz_tunbin t{};
        return !tunnel("tun-dr", &t);
    });
    ASSERT_GE(tunnel_ms, 0) << h.dump();
    EXPECT_TRUE(a.wait_file("/tmp/dbchange.out", "/tun/config/tun-dr/config_bin deleted", &out))
        << out;

    ok({"appliance", "rtlabel", "set", "2", "silver", "and"});
    EXPECT_TRUE(a.wait_in_ns([] {
        const cmem_block *rt = nullptr;
        char name[qz_rtlabel_name_size];
        bool and_mode = false;
        return cmem_attach_block_read_only(QZ_SHM_RTLABEL, &rt) == 0 &&
               qz_rtlabel_get(rt, 2, name, &and_mode) == 0 && and_mode;
    }));
    EXPECT_TRUE(a.wait_file("/tmp/dbchange.out",
                            "/qz/rtlabels/config/2/is_down_condition_any = true (bool)", &out))
        << out;
    ok({"appliance", "label", "set", "1", "INET1", "Internet 1"});
    EXPECT_TRUE(a.wait_in_ns([] {
        const cmem_block *labels = nullptr;
        char text[qz_label_size];
        return cmem_attach_block_read_only(QZ_SHM_IFLABEL, &labels) == 0 &&
               qz_iflabel_get_text(labels, "INET1", text) == 0 && strcmp(text, "Internet 1") == 0;
    }));
    EXPECT_TRUE(a.wait_file("/tmp/dbchange.out", "/qz/iflabels/config/1/text = Internet 1", &out))
        << out;

    const std::string old_pid = pid_file(h);
    const double restart_ms = a.time_change({"appliance", "sysd", "restart", "50"}, [&old_pid] {
        FILE *f = fopen("/var/run/sysd.pid", "r");
        if (!f) return false;
        char buf[32] = "";
        const bool changed = fgets(buf, sizeof buf, f) && old_pid != buf;
        fclose(f);
        return changed;
    });
    ASSERT_GE(restart_ms, 0) << h.dump();
    EXPECT_TRUE(h.wait_count("Peer sysd is Initializing", 2)) << h.dump();
    EXPECT_TRUE(h.wait_count("Peer sysd is Ready", 2)) << h.dump();
    EXPECT_EQ(a.cli({"get", "/qz/sysd/system/state/is_alive"}).out,
              "/qz/sysd/system/state/is_alive = Ready (string)\n");

    printf("client change to table: interface down %.1f ms, label move %.1f ms, tunnel removed "
           "%.1f ms, sysd restart %.1f ms (each from the client's start)\n",
           down_ms, move_ms, tunnel_ms, restart_ms);
}

TEST_F(ApplianceE2e, OutcomeShowsTheActionsAndAlarmsRoutedToItUntilItGoes)
{
    start_both();
    const std::string vrrp = "/qz/iptrackd/action/update_vrrp";
    ok({"action", vrrp, "action", "string", "decrement", "port_name", "string", "eth1",
        "vrrp_priority", "uint16", "20"});
    auto v = a.show("vrrp");
    ASSERT_EQ(v.size(), 1u) << v;
    EXPECT_EQ(v[0]["port"], "eth1");
    EXPECT_EQ(v[0]["configured"], 120);
    EXPECT_EQ(v[0]["priority"], 100);
    EXPECT_EQ(v[0]["last"], "decrement 20");
    ok({"action", vrrp, "action", "string", "config", "port_name", "string", "eth1",
        "vrrp_priority", "uint16", "0"});
    EXPECT_EQ(a.show("vrrp")[0]["priority"], 120);
    // The journal keeps what was routed, as for any action.
    EXPECT_NE(a.cli({"journal"}).out.find("action " + vrrp + " from mgmtcli"), std::string::npos);

    const std::string subnets = "/qz/iptrackd/action/update_subnets";
    for (const char *sub : {"2", "5"})
        ok({"action", subnets, "port_name", "string", "eth0", "sub_action", "uint16", sub,
            "sub_delta", "uint32", "30"});
    ok({"action", subnets, "port_name", "string", "", "sub_action", "uint16", "4", "sub_delta",
        "uint32", "0"});
    const auto s = a.show("subnets");
    ASSERT_EQ(s.size(), 1u) << s;
    EXPECT_EQ(s[0]["state"], "withdrawn");
    EXPECT_EQ(s[0]["metric"], 30);
    EXPECT_EQ(a.show("subnet_sharing")[0]["state"], "disabled");

    const std::string tun = "/qz/iptrackd/action/update_tunnel";
    ok({"action", tun, "tun_name", "string", "tun-hq", "tun_state", "bool", "false"});
    EXPECT_EQ(a.show("tunnel_states")[0]["up"], false);
    auto r = a.cli({"action", tun, "tun_name", "string", "nope", "tun_state", "bool", "true"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no tunnel nope"), std::string::npos) << r.err;
    ok({"action", "/qz/iptrackd/action/update_route_label", "route_label_id", "uint32", "2",
        "route_label_state", "bool", "true"});
    const auto labels = a.show("route_label_states");
    ASSERT_EQ(labels.size(), 1u) << labels;
    EXPECT_EQ(labels[0]["name"], "silver");
    EXPECT_EQ(labels[0]["up"], true);

    const std::vector<std::string> alarm = {
        "alarm_type", "string", "262189",
        "param_1",    "string", "0",
        "param_2",    "string", "0",
        "param_3",    "string", "Ping for 8.8.8.8",
        "comment",    "string", "An IP SLA monitor is in Down state"};
    std::vector<std::string> raise{"event", "/qz/alarms/events/raise_alarm"};
    raise.insert(raise.end(), alarm.begin(), alarm.end());
    ok(raise);
    ASSERT_TRUE(h.wait_line("Alarm 262189 raised: Ping for 8.8.8.8")) << h.dump();
    const auto raised = a.show("alarms");
    ASSERT_EQ(raised.size(), 1u) << raised;
    EXPECT_EQ(raised[0]["comment"], "An IP SLA monitor is in Down state");
    std::vector<std::string> clear{"event", "/qz/alarms/events/clear_alarm"};
    clear.insert(clear.end(), alarm.begin(), alarm.end());
    ok(clear);
    ASSERT_TRUE(h.wait_line("Alarm 262189 cleared")) << h.dump();
    EXPECT_TRUE(a.show("alarms").empty());
    EXPECT_EQ(a.show("alarm_counts")[0]["unmatched_clears"], 0);

    // People read the same through aligned columns.
    r = a.cli({"appliance", "vrrp"});
    EXPECT_EQ(r.out, "vrrp (1)\n"
                     "port  configured  priority  last    updates\n"
                     "eth1  120         120       config  2\n");

    // An action already handed to the appliance when it dies is answered
    // for it; later routed actions fail.
    ASSERT_TRUE(h.signal(appliance_pid, SIGSTOP));
    const size_t before = h.mark();
    const pid_t waiting =
        a.start_cli({"action", "/qz/iptrackd/action/update_route_label", "route_label_id", "uint32",
                     "1", "route_label_state", "bool", "true"},
                    "/tmp/waiting.out");
    ASSERT_TRUE(h.wait_line("Forwarded action /qz/iptrackd/action/update_route_label",
                            e2e_default_timeout, before))
        << h.dump();
    ASSERT_TRUE(h.signal(appliance_pid, SIGKILL));
    ASSERT_TRUE(h.wait_exit(appliance_pid));
    const auto e = h.wait_exit(waiting);
    ASSERT_TRUE(e && e->exited) << h.dump();
    EXPECT_EQ(e->code, 1);
    std::string out;
    EXPECT_EQ(h.read_file("/tmp/waiting.out", &out), 0);
    EXPECT_NE(out.find("the handler of the action went away"), std::string::npos) << out;

    r = a.cli({"action", vrrp, "action", "string", "increment", "port_name", "string", "eth1",
               "vrrp_priority", "uint16", "5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No handler for action /qz/iptrackd/action/update_vrrp"),
              std::string::npos)
        << r.err;
    // The probe actions still fall back to the database's states.
    EXPECT_EQ(a.cli({"action", "/qz/iptrackd/action/ip_mon", "port_name", "string", "eth1"}).out,
              "ip_state = 1 (uint32)\n");
}

} // namespace
