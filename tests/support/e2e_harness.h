// End-to-end harness: runs the real daemon (and the stand-ins) as child
// processes inside a private mount namespace and reads their syslog lines.
//
// Each harness owns one mount namespace in which /dev is a small tmpfs (the
// usual device nodes bound back from the host, /dev/shm private) and /tmp,
// /var/run, /var/opt and /var/log are private tmpfs mounts, so
// /tmp/gcl-socks, /var/run, /var/opt/arx/output and /var/log (the debug
// file) start empty and vanish with the harness.
// /dev/log is a datagram socket that the harness binds and drains on its own
// thread; every datagram is parsed into an E2eSyslogLine.  The test process
// itself stays in the host namespace: children enter the namespace between
// fork and exec, so several harnesses (and several test processes) never
// see each other's files.
//
// Nothing outlives the harness: its destructor kills every child it started
// (whole process group) and reaps it, stops the reader, and drops the last
// reference to the namespace, which takes its mounts and the socket with it.
//
// Tests use E2eTest as fixture; it skips with the reason when mount
// namespaces are unavailable (not root, no unshare) and fails when they are
// available but the set-up breaks:
//
//     TEST_F(E2eTest, EndsOnSigterm)
//     {
//         const pid_t pid = h.start_daemon();
//         ASSERT_TRUE(h.wait_line("IP Tracking daemon ready")) << h.dump();
//         ASSERT_TRUE(h.signal(pid, SIGTERM));
//         const auto e = h.wait_exit(pid);
//         ASSERT_TRUE(e && e->exited && e->code == 0) << h.dump();
//     }
//
// Stand-ins start the same way (h.start(E2eHarness::sim_path("name"), ...));
// wait for their socket with wait_path before starting the daemon.  Files a
// test needs in place (facility file, level link, pid files) are written
// with write_file / make_symlink before the programs start.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

// One syslog datagram "<pri>Mon DD HH:MM:SS ident[pid]: body".
struct E2eSyslogLine {
    int priority = -1; // facility | level, as sent
    std::string ident; // the syslog identity ("iptrackd")
    pid_t pid = -1;    // -1 when the tag carries none
    std::string body;  // everything after "ident[pid]: ", without the newline
    // From a body "CPU n TID t: [comp.LEVEL]: message": the component, the
    // level name and the message; empty when the body has no such tag.
    std::string component;
    std::string level_name;
    std::string message;

    int level() const { return priority & 7; }
};

// Parses one datagram; false (and *out untouched) when it has no "<pri>".
bool e2e_parse_syslog(std::string_view datagram, E2eSyslogLine *out);

// How a child ended, from waitpid.
struct E2eExit {
    bool exited = false; // ended by exit(code)
    int code = -1;       // exit status when exited
    int signal = 0;      // terminating signal otherwise
    std::string describe() const;
};

using e2e_clock = std::chrono::steady_clock;
using e2e_ms = std::chrono::milliseconds;

// Generous enough for the sanitizer build on a loaded machine; tests still
// take milliseconds when things work.
constexpr e2e_ms e2e_default_timeout{40000};

class E2eHarness
{
  public:
    enum class Setup { ok, unavailable, failed };

    E2eHarness() = default;
    ~E2eHarness();
    E2eHarness(const E2eHarness &) = delete;
    E2eHarness &operator=(const E2eHarness &) = delete;

    // Creates the namespace, its mounts and /dev/log, and starts the reader.
    // `reason` says why on unavailable / failed.
    Setup setup(std::string *reason);

    // Starts the binary `path` (resolved on the host, so a build tree hidden
    // by the private mounts still runs) with `args` (argv[0] is `path`) inside the namespace, in
    // its own process group, with the test's environment plus `env`
    // ("NAME=VALUE", overriding).  Returns the pid, or -1 with a test
    // failure recorded when the program cannot be started.
    // With `output` (a path in the namespace) the program's standard output
    // and error go to that file.
    pid_t start(const std::string &path, const std::vector<std::string> &args = {},
                const std::vector<std::string> &env = {}, const std::string &output = {});
    // Runs the binary `path` (resolved on the host, like start()) to its end
    // inside the namespace, its standard output and error written to the
    // namespace files `out` and `err`; its exit status, or -1 when it could
    // not run or did not exit normally.
    int run(const std::string &path, const std::vector<std::string> &args, const std::string &out,
            const std::string &err);
    // Programs of this build tree: the daemon, a stand-in (sim/<name>/), a
    // tool (tools/<name>/).  IPT_BINARY_DIR is defined for every test
    // program, not for this support library, hence inline.
    static std::string build_path(const std::string &rel)
    {
#ifdef IPT_BINARY_DIR
        return std::string(IPT_BINARY_DIR) + "/" + rel;
#else
        return rel.substr(rel.rfind('/') + 1);
#endif
    }
    static std::string daemon_path()
    {
        return build_path("iptrackd/iptrackd");
    }
    static std::string sim_path(const std::string &name)
    {
        return build_path("sim/" + name);
    }
    static std::string tool_path(const std::string &name)
    {
        return build_path("tools/" + name);
    }
    pid_t start_daemon(const std::vector<std::string> &env = {})
    {
        return start(daemon_path(), {}, env);
    }
    // Writes `db` to /tmp/mgmtd.db and starts the management stand-in on it
    // (at log level `level` when one is given); waits for its socket.  The
    // pid, or -1 with a test failure recorded.
    pid_t start_mgmtd(const std::string &db, const std::string &level = "")
    {
        return start_mgmtd_from(sim_path("mgmtd"), db, level);
    }
    pid_t start_mgmtd_from(const std::string &path, const std::string &db,
                           const std::string &level);
    // The stand-in on `db`, then the daemon; waits for the daemon's "ready"
    // line.  The daemon's pid, or -1 with a test failure recorded.
    pid_t start_ready(const std::string &db, const std::string &level = "crit")
    {
        return start_mgmtd(db, level) > 0 ? start_until_ready(daemon_path()) : -1;
    }
    pid_t start_until_ready(const std::string &daemon);

    // Sends `sig` to a started child; false when it is no longer running.
    bool signal(pid_t pid, int sig);
    // True while the child has not ended (reaps it when it has).
    bool running(pid_t pid);
    // Waits for the child to end; nullopt on timeout (the child then still
    // runs).  Every line the child sent before it ended is in lines() by then.
    std::optional<E2eExit> wait_exit(pid_t pid, e2e_ms timeout = e2e_default_timeout);

    // Waits for the child to end with exit status 0; a test failure (with
    // every line) otherwise.
    void expect_exit_zero(pid_t pid);
    // Sends SIGTERM and expects exit status 0.
    void stop(pid_t pid);

    // Every syslog line received so far, in arrival order.
    std::vector<E2eSyslogLine> lines() const;
    // Lines whose body contains `needle`.
    size_t count(std::string_view needle) const;
    // The daemon's lines whose message is exactly `text`.
    size_t count_message(std::string_view text) const;
    // Lines at index >= `from` that satisfy `pred` (called with the harness
    // locked, as for wait_for).
    size_t count_if(const std::function<bool(const E2eSyslogLine &)> &pred, size_t from = 0) const;
    // The first line at index >= `from` whose body contains `needle`, waiting
    // up to `timeout` for it.
    std::optional<E2eSyslogLine> wait_line(std::string_view needle,
                                           e2e_ms timeout = e2e_default_timeout, size_t from = 0);
    // The same with any predicate over the line (called with the harness
    // locked: it must not call back into the harness).
    std::optional<E2eSyslogLine> wait_for(const std::function<bool(const E2eSyslogLine &)> &pred,
                                          e2e_ms timeout = e2e_default_timeout, size_t from = 0);
    // The first line at index >= `from` whose message is exactly `msg`,
    // waiting up to `timeout`; its index + 1 in *next.
    bool wait_message(const std::string &msg, size_t from = 0, size_t *next = nullptr,
                      e2e_ms timeout = e2e_default_timeout);
    // Each message in order, each after the one before, from line `from`;
    // other lines may come between them.  A test failure names the first
    // missing one.
    void expect_in_order(size_t from, const std::vector<std::string> &msgs,
                         e2e_ms timeout = e2e_default_timeout);
    // The number of lines so far, to wait for what comes after them.
    size_t mark() const
    {
        return lines().size();
    }
    // Waits until `n` lines in all contain `needle`; false on timeout.
    bool wait_count(std::string_view needle, size_t n, e2e_ms timeout = e2e_default_timeout);
    // Waits until no new line has arrived for `quiet`, or `timeout` passed.
    void settle(e2e_ms quiet, e2e_ms timeout = e2e_default_timeout);
    // All lines, one per row with priority and tag, for failure messages.
    std::string dump() const;

    // Runs `fn` in a forked child inside the namespace; returns its result
    // (the child's exit status), or -1 when the child did not exit normally.
    int run_in_ns(const std::function<int()> &fn);
    // File helpers inside the namespace; 0 on success, else an errno value.
    int write_file(const std::string &path, std::string_view content);
    int read_file(const std::string &path, std::string *content);
    int make_symlink(const std::string &target, const std::string &link);
    bool path_exists(const std::string &path);
    // Waits until `path` exists in the namespace (a stand-in's socket, say).
    bool wait_path(const std::string &path, e2e_ms timeout = e2e_default_timeout);

    // Kills and reaps every child still running (the destructor does this).
    void kill_all();

  private:
    struct Child {
        pid_t pid;
        bool reaped;
        bool group_killed;
        E2eExit exit;
    };
    Child *find(pid_t pid);
    void reader_loop();
    // Takes every datagram queued now, with mu_ held so that lines keep their
    // order whichever thread drains; true when one arrived.
    bool drain_locked();
    // Returns once every datagram queued before the call is in lines_.
    void sync();

    int ns_fd_ = -1;
    int log_fd_ = -1;
    int ctl_pipe_[2] = {-1, -1}; // a byte on it tells the reader to quit
    std::thread reader_;
    std::vector<Child> children_;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::vector<E2eSyslogLine> lines_;
    e2e_clock::time_point last_line_at_ = e2e_clock::now();
};

// Fixture: `h` is set up before each test; the test is skipped when mount
// namespaces are unavailable here.
class E2eTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    E2eHarness h;
};
