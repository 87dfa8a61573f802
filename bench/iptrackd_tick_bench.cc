// The engine tick at scale: 1,000 managers, each with one ping operation at
// an interval of one second, run through the management stand-in and the
// stand-in monitors (two child processes), beside its floor in the same
// run: 1,000 raw round trips through three processes over Unix sockets
// (this process to a relay to an echoer and back) of the sizes of one Poll
// request and its answer.
//
// This process plays the daemon: it opens the daemon's management session
// and runs the real tick.  Every request is due on every tick (the uptime
// the engine reads moves one second per tick through the clock seam), so
// each measured tick sends 1,000 Polls.  Per tick it reports the wall time
// (median and 99th percentile over the run) and this process's CPU time.
//
// The children and the session sockets live in a private mount namespace
// (a tmpfs on /tmp and /var/run), so the run never meets another mgmtd;
// without root it skips.  Pin with `taskset -c 0` to put all three
// processes on one CPU.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "iptrackd_mgmt.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "util/tbuffer.h"
#include "util/ttime.h"

namespace
{

constexpr int managers = 1000;
constexpr const char *socket_path = "/tmp/gcl-socks/uds-provider-mgmtd";

double cpu_seconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

// A private /tmp and /var/run for this process and its children.
bool enter_namespace(std::string *why)
{
    if (unshare(CLONE_NEWNS) != 0) return *why = "no mount namespace (run as root)", false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", 0, nullptr) != 0 ||
        mount("tmpfs", "/var/run", "tmpfs", 0, nullptr) != 0)
        return *why = "cannot mount the private directories", false;
    return true;
}

pid_t spawn(const std::vector<std::string> &argv)
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

bool wait_for_file(const char *path)
{
    for (int i = 0; i < 1000; ++i) {
        if (access(path, F_OK) == 0) return true;
        usleep(10 * 1000);
    }
    return false;
}

// The engine with its 1,000 managers, connected through the stand-ins.
class Engine
{
  public:
    bool start(std::string *why)
    {
        if (!enter_namespace(why)) return false;
        FILE *db = fopen("/tmp/bench.db", "w");
        if (!db) return *why = "cannot write the database", false;
        fputs("set /logging/syslog/process/iptrackd/log_level string err\n", db);
        fclose(db);
        FILE *pid = fopen("/var/run/sysd.pid", "w");
        if (!pid) return *why = "cannot write the pid file", false;
        fputs("4242\n", pid);
        fclose(pid);

        const std::string dir = IPT_BINARY_DIR;
        children_.push_back(spawn({dir + "/sim/mgmtd/mgmtd", "-l", "crit", "/tmp/bench.db"}));
        if (!wait_for_file(socket_path)) return *why = "mgmtd did not start", false;
        children_.push_back(spawn({dir + "/sim/monitors/monitors", "-l", "crit"}));

        if (lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(269), LCL_ERR, 136,
                        lc_log_output_syslog) != 0 ||
            lew_init(&iptrackd_lwc) != 0 || iptrackd_mgmt_init() != 0)
            return *why = "cannot open the management session", false;
        (void)lc_log_set_daemon_log_level(LCL_CRIT);

        lt_clock_set_manual_for_tests(1000000000, uptime_ms_);
        if (iptrack_init() != 0) return *why = "engine init failed", false;
        // Peers ready and tables not needed: management ports only.
        iptrack_g.state = iptrack_state_active;
        iptrack_g.change_flags =
            iptrack_chg_tunneld_ready | iptrack_chg_sysd_ready | iptrack_chg_redd_ready;
        iptrack_g.sysd_pid = 4242;
        for (int i = 0; i < managers; ++i) {
            const std::string n = std::to_string(i);
            iptrack_oper *oper = iptrack_get_oper_entry(("op" + n).c_str());
            iptrack_mgr *mgr = iptrack_get_mgr_entry(("m" + n).c_str());
            if (!oper || !mgr) return *why = "no memory", false;
            iptrack_oper_set_new_attribs(
                oper, "type=ip-monitor;port-name=mgmt0;ip-monitor-ip=10.1.0.1;ka=1");
            iptrack_mgr_set_attribs(
                mgr,
                ("operation=op" + n + ";dn-action=alarm;up-action=def-alarm;interval=1").c_str());
        }
        // The first tick parses and starts every monitor, the second polls
        // them all once: from then on every tick is the steady state.
        for (int i = 0; i < 2; ++i) tick();
        started_ = true;
        return true;
    }

    void tick()
    {
        uptime_ms_ += 1000;
        lt_clock_set_manual_for_tests(1000000000, uptime_ms_);
        (void)iptrack_req_expire();
    }

    ~Engine()
    {
        if (started_) iptrack_deinit();
        iptrackd_exiting = 1;
        (void)iptrackd_mgmt_shutdown();
        (void)iptrackd_mgmt_deinit();
        (void)lew_deinit(&iptrackd_lwc);
        for (pid_t p : children_) {
            kill(p, SIGTERM);
            waitpid(p, nullptr, 0);
        }
    }

  private:
    std::vector<pid_t> children_;
    lt_time_ms uptime_ms_ = 100000;
    bool started_ = false;
};

// The sizes on the wire of one Poll and its answer, frame header included.
void poll_sizes(uint32 *request, uint32 *answer)
{
    owned<bn_request> req;
    (void)bn_action_request_msg_create(req.out(), "/qz/iptrackd/action/ip_mon");
    struct triple {
        const char *name;
        bn_type type;
        const char *value;
    };
    const triple triples[] = {
        {"mon_action", bt_uint16, "2"},        {"port_name", bt_string, "mgmt0"},
        {"port_version", bt_uint8, "4"},       {"dst_ip", bt_string, "10.1.0.1"},
        {"ka_interval", bt_uint16, "1"},       {"up_threshold", bt_uint16, "0"},
        {"dn_threshold", bt_uint16, "0"},      {"sample_int", bt_uint16, "0"},
        {"loss_up_thresh", bt_uint16, "0"},    {"loss_dn_thresh", bt_uint16, "0"},
        {"rtt_up_thresh", bt_uint32, "0"},     {"rtt_dn_thresh", bt_uint32, "0"},
        {"metric_combination", bt_uint8, "1"}, {"probe_num", bt_string, ""},
        {"ip_mon_name", bt_string, "op999"},
    };
    for (const auto &t : triples)
        (void)bn_action_request_msg_append_new_binding(req.get(), 0, t.name, t.type, t.value,
                                                       nullptr);
    owned<tbuf> bytes;
    (void)bn_request_msg_serialize(req.get(), 0, bytes.out());
    *request = gcl_frame_header_len + req->length;

    owned<bn_response> resp;
    (void)bn_action_response_msg_create(resp.out(), 1, 0, nullptr);
    (void)bn_response_msg_append_new_binding(resp.get(), 0, "ip_state", bt_uint32, "1", nullptr);
    owned<tbuf> rbytes;
    (void)bn_response_msg_serialize(resp.get(), 0, rbytes.out());
    *answer = gcl_frame_header_len + resp->length;
}

bool read_full(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buf + got, n - got);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

bool write_full(int fd, const char *buf, size_t n)
{
    size_t put = 0;
    while (put < n) {
        const ssize_t w = write(fd, buf + put, n - put);
        if (w <= 0) return false;
        put += size_t(w);
    }
    return true;
}

void BM_TickOfAThousandPings(benchmark::State &state)
{
    Engine engine;
    std::string why;
    if (!engine.start(&why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    std::vector<double> wall_ms;
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = cpu_seconds();
        const auto t0 = std::chrono::steady_clock::now();
        engine.tick();
        const auto t1 = std::chrono::steady_clock::now();
        cpu += cpu_seconds() - c0;
        wall_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["p50_ms"] = percentile(wall_ms, 0.5);
    state.counters["p99_ms"] = percentile(wall_ms, 0.99);
    state.counters["cpu_ms_per_tick"] = 1000 * cpu / double(wall_ms.size());
    state.counters["polls_per_tick"] = managers;
}
BENCHMARK(BM_TickOfAThousandPings)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// Floor: the same number of round trips, this process -> relay -> echoer
// and back, each hop a Unix stream socket carrying the Poll's bytes one way
// and the answer's bytes the other.
void BM_FloorThousandRawRoundTrips(benchmark::State &state)
{
    uint32 req_len = 0, ans_len = 0;
    poll_sizes(&req_len, &ans_len);
    int a[2], b[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, a) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM, 0, b) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    const pid_t relay = fork();
    if (relay == 0) {
        std::vector<char> buf(std::max(req_len, ans_len));
        while (read_full(a[1], buf.data(), req_len) && write_full(b[0], buf.data(), req_len) &&
               read_full(b[0], buf.data(), ans_len) && write_full(a[1], buf.data(), ans_len)) {
        }
        _exit(0);
    }
    const pid_t echoer = fork();
    if (echoer == 0) {
        std::vector<char> buf(std::max(req_len, ans_len));
        while (read_full(b[1], buf.data(), req_len) && write_full(b[1], buf.data(), ans_len)) {
        }
        _exit(0);
    }
    std::vector<char> out(req_len, 'r'), in(ans_len);
    std::vector<double> wall_ms;
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = cpu_seconds();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < managers; ++i)
            if (!write_full(a[0], out.data(), req_len) || !read_full(a[0], in.data(), ans_len))
                state.SkipWithError("round trip failed");
        const auto t1 = std::chrono::steady_clock::now();
        cpu += cpu_seconds() - c0;
        wall_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
    waitpid(relay, nullptr, 0);
    waitpid(echoer, nullptr, 0);
    state.counters["p50_ms"] = percentile(wall_ms, 0.5);
    state.counters["p99_ms"] = percentile(wall_ms, 0.99);
    state.counters["cpu_ms_per_tick"] = 1000 * cpu / double(wall_ms.size());
    state.counters["request_bytes"] = req_len;
    state.counters["answer_bytes"] = ans_len;
}
BENCHMARK(BM_FloorThousandRawRoundTrips)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

} // namespace
