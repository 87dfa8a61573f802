// Start-up of the daemon with about 10,000 configuration nodes (1,429
// managers, operations and actions) held by the management stand-in, in a
// private namespace as the end-to-end tests run it: the time from starting
// the process to "IP Tracking daemon ready", to the end of the first active
// tick (the last manager's first run: every operation parsed, every
// manager parsed and reset, one Start request per operation sent), and the
// daemon's resident memory then.
//
// The floor, in the same run: a plain client doing the same management
// traffic by hand (the same subtree read, then one ping monitor Start per
// operation through the stand-in), without any engine work.
//
// The first tick cannot end before one tick period (1000 ms) after "ready",
// since that is when the engine timer first fires; tick_work_ms is the time
// the tick itself took.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "appliance/qz_shm_publish.h"
#include "iptrack_records.h"
#include "support/e2e_harness.h"

namespace
{

constexpr int entities = 1429; // 7 nodes each: 10,003 nodes
constexpr e2e_ms timeout{120000};
const char *const socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";

std::string config_db()
{
    std::ostringstream db;
    db << "set /logging/syslog/action/file/\\/var\\/log\\/messages/facility/all/min_priority "
          "string notice\n"
          "set /logging/syslog/process/iptrackd/log_level string info\n"
          "set /qz/tunneld/system/state/is_alive string Ready\n"
          "set /qz/sysd/system/state/is_alive string Ready\n"
          "set /qz/redd/state/is_alive string Ready\n"
          "set /sim/mgmtd/monitor/ip_mon/ip_state uint32 1\n";
    const std::string root = "/qz/iptrackd/config/";
    for (int i = 0; i < entities; ++i) {
        const std::string s = std::to_string(i);
        db << "set " << root << "oper/site_" << s << " string site_" << s << "\n"
           << "set " << root << "oper/site_" << s
           << "/attributes string \"type=ip-monitor;port-name=mgmt0;ip-monitor-ip=10.0." << i / 256
           << "." << i % 256 << "\"\n"
           << "set " << root << "action/a_" << s << " string a_" << s << "\n"
           << "set " << root << "action/a_" << s << "/attributes string \"type=subnet-adv\"\n"
           << "set " << root << "manager/m_" << s << " string m_" << s << "\n"
           << "set " << root << "manager/m_" << s << "/attributes string \"operation=site_" << s
           << ";dn-action=a_" << s << ";interval=30\"\n"
           << "set " << root << "manager/m_" << s << "/enable bool true\n";
    }
    return db.str();
}

// The floor's script: the subtree read and one Start per operation.
std::string floor_script()
{
    std::ostringstream s;
    s << "iterate /qz/iptrackd/config subtree\n";
    for (int i = 0; i < entities; ++i)
        s << "action /qz/iptrackd/action/ip_mon mon_action uint16 1 port_name string mgmt0 "
             "dst_ip string 10.0."
          << i / 256 << "." << i % 256 << " ip_mon_name string site_" << i << "\n";
    return s.str();
}

int publish_empty_tables()
{
    owned<qz_shm_publisher> l3if, iflabel, rtlabel;
    if (qz_shm_pub_open(qz_shm_kind_l3if, nullptr, 16, l3if.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_iflabel, nullptr, 16, iflabel.out()) != 0 ||
        qz_shm_pub_open(qz_shm_kind_rtlabel, nullptr, qz_max_route_labels, rtlabel.out()) != 0)
        return 1;
    return 0;
}

long rss_kb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

bool prepare(E2eHarness &h, benchmark::State &state)
{
    std::string why;
    if (h.setup(&why) != E2eHarness::Setup::ok) {
        state.SkipWithError(("no private namespace: " + why).c_str());
        return false;
    }
    if (h.write_file("/tmp/bench.db", config_db()) != 0 ||
        h.write_file("/var/run/sysd.pid", "100\n") != 0 || h.run_in_ns(publish_empty_tables) != 0 ||
        h.start(E2eHarness::sim_path("mgmtd"), {"-l", "err", "/tmp/bench.db"}) <= 0 ||
        !h.wait_path(socket_path, timeout)) {
        state.SkipWithError("the stand-in did not start");
        return false;
    }
    return true;
}

void BM_DaemonStartup10kNodes(benchmark::State &state)
{
    const std::string last = "for mgr m_" + std::to_string(entities - 1) + ", port active";
    for (auto _ : state) {
        E2eHarness h;
        if (!prepare(h, state)) return;
        const auto t0 = e2e_clock::now();
        const pid_t pid = h.start_daemon();
        const auto ready = h.wait_line("IP Tracking daemon ready", timeout);
        const auto t_ready = e2e_clock::now();
        const auto ticked = h.wait_for(
            [&](const E2eSyslogLine &l) {
                return l.message.starts_with("iptrack_req_expire: executed tracking monitor") &&
                       l.message.find(last) != std::string::npos;
            },
            timeout);
        const auto t_tick = e2e_clock::now();
        if (pid <= 0 || !ready || !ticked) {
            state.SkipWithError("the daemon did not get through its first tick");
            return;
        }
        const std::chrono::duration<double> to_ready = t_ready - t0, to_tick = t_tick - t0;
        state.SetIterationTime(to_tick.count());
        state.counters["ready_ms"] = to_ready.count() * 1000;
        state.counters["first_tick_ms"] = to_tick.count() * 1000;
        state.counters["rss_kb"] = static_cast<double>(rss_kb(pid));
        // The first tick fires one tick period after "ready": what the tick
        // itself took is the rest.
        state.counters["tick_work_ms"] = (to_tick - to_ready).count() * 1000 - iptrack_tick_ms;
    }
}
BENCHMARK(BM_DaemonStartup10kNodes)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FloorSameTrafficByHand(benchmark::State &state)
{
    for (auto _ : state) {
        E2eHarness h;
        if (!prepare(h, state)) return;
        if (h.write_file("/tmp/floor", floor_script()) != 0) {
            state.SkipWithError("cannot write the script");
            return;
        }
        const auto t0 = e2e_clock::now();
        const int status = h.run(E2eHarness::tool_path("mgmtcli"), {"-f", "/tmp/floor"},
                                 "/tmp/floor.out", "/tmp/floor.err");
        const std::chrono::duration<double> took = e2e_clock::now() - t0;
        if (status != 0) {
            state.SkipWithError("the floor's client failed");
            return;
        }
        state.SetIterationTime(took.count());
    }
}
BENCHMARK(BM_FloorSameTrafficByHand)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
