#include "support/e2e_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "log/common.h"

extern char **environ;

namespace
{

// Paths the system writes at run time; each lies on a private, empty tmpfs.
// /tmp comes first so that it is private whatever exists under it on the
// host; a path not under an earlier one gets its own tmpfs on its deepest
// existing ancestor, so nothing is created on the host.  /var/log holds the
// engine's debug file.
const char *const private_paths[] = {"/tmp", "/tmp/gcl-socks", "/var/run", "/var/opt/arx/output",
                                     "/var/log"};
// Device nodes bound back from the host into the private /dev.
const char *const dev_nodes[] = {"null", "zero", "full", "random", "urandom", "tty"};
const char *const dev_links[][2] = {{"fd", "/proc/self/fd"},
                                    {"stdin", "/proc/self/fd/0"},
                                    {"stdout", "/proc/self/fd/1"},
                                    {"stderr", "/proc/self/fd/2"},
                                    {"ptmx", "pts/ptmx"}};
constexpr const char *dev_log_path = "/dev/log";

// One step of the namespace set-up, run in the forked child with nothing but
// system calls: the strings are built by the parent beforehand.
struct Step {
    enum Kind {
        unshare_ns,
        make_private,
        hold_dev,
        mount_tmpfs,
        make_dir,
        bind_file,
        bind_dir,
        symlink_to,
        bind_log // the last: describe() has one verb per kind
    } kind;
    std::string a, b, opts;
    std::string describe() const
    {
        static const char *const verbs[] = {"unshare(CLONE_NEWNS)",
                                            "making mounts private",
                                            "holding the host",
                                            "mounting tmpfs on",
                                            "mkdir",
                                            "binding from the host",
                                            "binding from the host",
                                            "symlink",
                                            "binding"};
        static_assert(std::size(verbs) == bind_log + 1, "one verb per kind");
        return std::string(verbs[kind]) + " " + (b.empty() ? a : b);
    }
};

struct StepFailure {
    int index;
    int err;
};

// Deepest existing ancestor of `path` (or `path` itself when it exists).
std::string existing_ancestor(const std::string &path)
{
    std::string p = path;
    struct stat st;
    while (p.size() > 1 && stat(p.c_str(), &st) != 0) {
        const size_t slash = p.rfind('/');
        p.erase(slash == 0 ? 1 : slash);
    }
    return p;
}

std::vector<Step> plan_steps(int host_dev_fd, std::string *why_not)
{
    std::vector<Step> s;
    s.push_back({Step::unshare_ns, "", "", ""});
    s.push_back({Step::make_private, "", "", ""});
    // Bind sources must lie in the new namespace, so /dev is opened again
    // there, at the descriptor number the paths below name.
    s.push_back({Step::hold_dev, "/dev", "", std::to_string(host_dev_fd)});
    const std::string host_dev = "/proc/self/fd/" + std::to_string(host_dev_fd) + "/";
    s.push_back({Step::mount_tmpfs, "/dev", "", "mode=755,size=1m"});
    for (const char *n : dev_nodes) {
        struct stat st;
        if (stat((std::string("/dev/") + n).c_str(), &st) != 0) continue;
        s.push_back({Step::bind_file, host_dev + n, std::string("/dev/") + n, ""});
    }
    s.push_back({Step::make_dir, "/dev/pts", "", ""});
    s.push_back({Step::bind_dir, host_dev + "pts", "/dev/pts", ""});
    s.push_back({Step::make_dir, "/dev/shm", "", ""});
    s.push_back({Step::mount_tmpfs, "/dev/shm", "", "mode=1777"});
    for (const auto &l : dev_links)
        s.push_back({Step::symlink_to, l[1], std::string("/dev/") + l[0], ""});

    std::vector<std::string> covered;
    for (const std::string target : private_paths) {
        std::string base;
        for (const auto &c : covered)
            if (target == c || target.starts_with(c + "/")) base = c;
        if (base.empty()) {
            base = existing_ancestor(target);
            if (base == "/") {
                *why_not = "no directory to cover for " + target;
                return {};
            }
            covered.push_back(base);
            s.push_back({Step::mount_tmpfs, base, "", base == "/tmp" ? "mode=1777" : "mode=755"});
        }
        for (size_t pos = base.size() + 1; pos <= target.size(); ++pos) {
            if (pos == target.size() || target[pos] == '/')
                s.push_back({Step::make_dir, target.substr(0, pos), "", ""});
        }
    }
    s.push_back({Step::bind_log, dev_log_path, "", ""});
    return s;
}

// Runs in the forked set-up child: async-signal-safe calls only.
int run_step(const Step &st, int log_fd)
{
    switch (st.kind) {
    case Step::unshare_ns:
        return unshare(CLONE_NEWNS);
    case Step::make_private:
        return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    case Step::hold_dev: {
        const int fd = open(st.a.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return -1;
        int target = 0;
        for (char c : st.opts) target = target * 10 + (c - '0');
        const int r = dup3(fd, target, O_CLOEXEC);
        close(fd);
        return r < 0 ? -1 : 0;
    }
    case Step::mount_tmpfs:
        return mount("tmpfs", st.a.c_str(), "tmpfs", MS_NOSUID, st.opts.c_str());
    case Step::make_dir:
        return mkdir(st.a.c_str(), 0755) == 0 || errno == EEXIST ? 0 : -1;
    case Step::bind_file: {
        const int fd = open(st.b.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        close(fd);
        return mount(st.a.c_str(), st.b.c_str(), nullptr, MS_BIND, nullptr);
    }
    case Step::bind_dir:
        return mount(st.a.c_str(), st.b.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    case Step::symlink_to:
        return symlink(st.a.c_str(), st.b.c_str());
    case Step::bind_log: {
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        strncpy(sa.sun_path, st.a.c_str(), sizeof sa.sun_path - 1);
        if (bind(log_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return -1;
        return chmod(st.a.c_str(), 0666);
    }
    }
    return -1;
}

bool write_all(int fd, const void *p, size_t n)
{
    const char *c = static_cast<const char *>(p);
    while (n > 0) {
        const ssize_t w = write(fd, c, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        c += w;
        n -= size_t(w);
    }
    return true;
}

// Reads until EOF; the number of bytes read, or -1.
ssize_t read_all(int fd, void *p, size_t n)
{
    char *c = static_cast<char *>(p);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, c + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return ssize_t(got);
}

// Waits for `pid` to end; its wait status, or -1.
int reap(pid_t pid)
{
    int st;
    while (waitpid(pid, &st, 0) < 0)
        if (errno != EINTR) return -1;
    return st;
}

E2eExit exit_from_status(int st)
{
    E2eExit e;
    if (WIFEXITED(st)) {
        e.exited = true;
        e.code = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        e.signal = WTERMSIG(st);
    }
    return e;
}

// Puts a freshly forked child into the namespace with a clean signal state.
// Async-signal-safe; false when the namespace cannot be entered.
bool enter_namespace(int ns_fd)
{
    if (setns(ns_fd, CLONE_NEWNS) != 0) return false;
    if (chdir("/") != 0) return false;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {
    };
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------

bool e2e_parse_syslog(std::string_view d, E2eSyslogLine *out)
{
    if (d.size() < 3 || d[0] != '<') return false;
    size_t i = 1;
    int pri = 0;
    while (i < d.size() && i < 5 && d[i] >= '0' && d[i] <= '9') pri = pri * 10 + (d[i++] - '0');
    if (i == 1 || i >= d.size() || d[i] != '>') return false;
    d.remove_prefix(i + 1);

    E2eSyslogLine l;
    l.priority = pri;
    // "Mmm dd hh:mm:ss " as written by the C library.
    if (d.size() >= 16 && d[3] == ' ' && d[6] == ' ' && d[9] == ':' && d[12] == ':' && d[15] == ' ')
        d.remove_prefix(16);
    const size_t colon = d.find(": ");
    const size_t blank = d.find(' ');
    if (colon != std::string_view::npos && (blank == std::string_view::npos || colon < blank)) {
        std::string_view tag = d.substr(0, colon);
        const size_t br = tag.find('[');
        if (br != std::string_view::npos && tag.back() == ']') {
            l.ident = std::string(tag.substr(0, br));
            l.pid = pid_t(std::atoi(std::string(tag.substr(br + 1)).c_str()));
        } else {
            l.ident = std::string(tag);
        }
        d.remove_prefix(colon + 2);
    }
    while (!d.empty() && (d.back() == '\n' || d.back() == '\0')) d.remove_suffix(1);
    l.body = std::string(d);

    // "CPU n TID t: [comp.LEVEL]: message"
    const size_t open = l.body.find(": [");
    const size_t close = open == std::string::npos ? open : l.body.find("]: ", open);
    if (close != std::string::npos) {
        const std::string tag = l.body.substr(open + 3, close - open - 3);
        const size_t dot = tag.rfind('.');
        if (dot != std::string::npos) {
            l.component = tag.substr(0, dot);
            l.level_name = tag.substr(dot + 1);
            l.message = l.body.substr(close + 3);
        }
    }
    *out = std::move(l);
    return true;
}

std::string E2eExit::describe() const
{
    if (exited) return "exit status " + std::to_string(code);
    if (signal) return std::string("killed by ") + sigabbrev_np(signal);
    return "still running";
}

// ---------------------------------------------------------------------------

E2eHarness::~E2eHarness()
{
    kill_all();
    if (reader_.joinable()) {
        (void)!write(ctl_pipe_[1], "q", 1);
        reader_.join();
    }
    for (int fd : {ns_fd_, log_fd_, ctl_pipe_[0], ctl_pipe_[1]})
        if (fd >= 0) close(fd);
}

E2eHarness::Setup E2eHarness::setup(std::string *reason)
{
    reason->clear();
    if (geteuid() != 0) {
        *reason = "end-to-end tests need root for a private mount namespace";
        return Setup::unavailable;
    }
    const int host_dev = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (host_dev < 0) {
        *reason = std::string("cannot open /dev: ") + strerror(errno);
        return Setup::failed;
    }
    lc_scope_guard close_dev([&] { close(host_dev); });
    std::vector<Step> steps = plan_steps(host_dev, reason);
    if (steps.empty()) return Setup::failed;

    log_fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (log_fd_ < 0 || pipe2(ctl_pipe_, O_CLOEXEC) != 0) {
        *reason = std::string("socket/pipe: ") + strerror(errno);
        return Setup::failed;
    }
    // A roomy queue, so that a burst of lines never blocks the daemon while
    // the reader catches up.
    const int rcvbuf = 4 << 20;
    (void)setsockopt(log_fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);

    // The child reports on `link`, then stays in the namespace until the
    // parent, holding a reference to it, closes its end.
    int link[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link) != 0) return Setup::failed;
    const pid_t pid = fork();
    if (pid == 0) {
        close(link[0]);
        StepFailure f{-1, 0};
        for (size_t i = 0; i < steps.size() && f.index < 0; ++i)
            if (run_step(steps[i], log_fd_) != 0) f = {int(i), errno};
        write_all(link[1], &f, sizeof f);
        char c;
        while (read(link[1], &c, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    close(link[1]);
    StepFailure f{-2, 0};
    const ssize_t got = pid < 0 ? -1 : read_all(link[0], &f, sizeof f);
    Setup result = Setup::ok;
    if (pid < 0 || got != ssize_t(sizeof f)) {
        *reason = "namespace set-up child failed to report";
        result = Setup::failed;
    } else if (f.index >= 0) {
        *reason = steps[size_t(f.index)].describe() + ": " + strerror(f.err);
        result = f.index == 0 ? Setup::unavailable : Setup::failed;
    } else {
        const std::string ns = "/proc/" + std::to_string(pid) + "/ns/mnt";
        ns_fd_ = open(ns.c_str(), O_RDONLY | O_CLOEXEC);
        if (ns_fd_ < 0) {
            *reason = "open " + ns + ": " + strerror(errno);
            result = Setup::failed;
        }
    }
    close(link[0]);
    if (pid > 0) reap(pid);
    if (result == Setup::ok) reader_ = std::thread([this] { reader_loop(); });
    return result;
}

bool E2eHarness::drain_locked()
{
    char buf[65536];
    bool any = false;
    ssize_t n;
    while ((n = recv(log_fd_, buf, sizeof buf, MSG_DONTWAIT)) >= 0 || errno == EINTR) {
        E2eSyslogLine l;
        if (n > 0 && e2e_parse_syslog(std::string_view(buf, size_t(n)), &l)) {
            lines_.push_back(std::move(l));
            last_line_at_ = e2e_clock::now();
            any = true;
        }
    }
    return any;
}

void E2eHarness::reader_loop()
{
    for (;;) {
        pollfd p[2] = {{log_fd_, POLLIN, 0}, {ctl_pipe_[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return; // asked to quit
        std::lock_guard<std::mutex> g(mu_);
        if (drain_locked()) cv_.notify_all();
    }
}

void E2eHarness::sync()
{
    std::lock_guard<std::mutex> g(mu_);
    if (log_fd_ >= 0 && drain_locked()) cv_.notify_all();
}

// ---------------------------------------------------------------------------

namespace
{
// A program opened on the host, with its argv, to be executed by
// descriptor in a child: the private mounts may hide its directory (a
// build tree under /tmp) there.  Executing by descriptor needs a binary,
// not a "#!" script.
struct Program {
    int fd = -1;
    std::vector<std::string> words;
    std::vector<char *> argv;

    Program(const std::string &path, const std::vector<std::string> &args) : words{path}
    {
        words.insert(words.end(), args.begin(), args.end());
        for (auto &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        fd = open(path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) ADD_FAILURE() << "cannot open " << path << ": " << strerror(errno);
    }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    ~Program()
    {
        if (fd >= 0) close(fd);
    }
};

// Points standard output and error at `path` (created in the current mount
// namespace); false with errno set on failure.
bool redirect_output(const std::string &out, const std::string &err)
{
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (o < 0 || dup2(o, 1) < 0) return false;
    close(o);
    if (err == out) return dup2(1, 2) >= 0;
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (e < 0 || dup2(e, 2) < 0) return false;
    close(e);
    return true;
}
} // namespace

int E2eHarness::run(const std::string &path, const std::vector<std::string> &args,
                    const std::string &out, const std::string &err)
{
    Program p(path, args);
    if (p.fd < 0) return -1;
    return run_in_ns([&] {
        if (!redirect_output(out, err)) return 125;
        fexecve(p.fd, p.argv.data(), environ);
        return 127;
    });
}

pid_t E2eHarness::start(const std::string &path, const std::vector<std::string> &args,
                        const std::vector<std::string> &env, const std::string &output)
{
    if (ns_fd_ < 0) {
        ADD_FAILURE() << "start(" << path << ") before a successful setup()";
        return -1;
    }
    // Everything the child needs is built before fork.
    Program p(path, args);
    if (p.fd < 0) return -1;
    std::vector<std::string> env_s;
    const auto name = [](std::string_view kv) { return kv.substr(0, kv.find('=') + 1); };
    for (char **e = environ; *e; ++e)
        if (std::none_of(env.begin(), env.end(),
                         [&](const auto &o) { return name(o) == name(*e); }))
            env_s.emplace_back(*e);
    env_s.insert(env_s.end(), env.begin(), env.end());
    std::vector<char *> envp;
    for (auto &s : env_s) envp.push_back(s.data());
    envp.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        int err = 0;
        if (!enter_namespace(ns_fd_)) err = errno;
        // Own process group so that teardown reaches grandchildren; die
        // with the test process should it crash.
        if (!err && (setpgid(0, 0) != 0 || prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)) err = errno;
        if (!err && getppid() != parent) err = ESRCH;
        if (!err && !output.empty() && !redirect_output(output, output)) err = errno;
        if (!err) {
            fexecve(p.fd, p.argv.data(), envp.data());
            err = errno;
        }
        write_all(report[1], &err, sizeof err);
        _exit(127);
    }
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        ADD_FAILURE() << "fork: " << strerror(errno);
        return -1;
    }
    int err = 0;
    const ssize_t got = read_all(report[0], &err, sizeof err);
    close(report[0]);
    children_.push_back({pid, false, false, {}});
    if (got == ssize_t(sizeof err)) {
        ADD_FAILURE() << "cannot start " << path << ": " << strerror(err);
        (void)wait_exit(pid);
        return -1;
    }
    return pid;
}

pid_t E2eHarness::start_mgmtd_from(const std::string &path, const std::string &db,
                                   const std::string &level)
{
    EXPECT_EQ(write_file("/tmp/mgmtd.db", db), 0);
    std::vector<std::string> args = {"/tmp/mgmtd.db"};
    if (!level.empty()) args.insert(args.begin(), {"-l", level});
    const pid_t pid = start(path, args);
    if (pid > 0 && !wait_path("/tmp/gcl-socks/uds-provider-mgmtd")) {
        ADD_FAILURE() << "no provider socket\n" << dump();
        return -1;
    }
    return pid;
}

pid_t E2eHarness::start_until_ready(const std::string &daemon)
{
    const pid_t pid = start(daemon);
    if (pid > 0 && !wait_line("IP Tracking daemon ready")) {
        ADD_FAILURE() << "no ready line\n" << dump();
        return -1;
    }
    return pid;
}

E2eHarness::Child *E2eHarness::find(pid_t pid)
{
    for (auto &c : children_)
        if (c.pid == pid) return &c;
    return nullptr;
}

bool E2eHarness::running(pid_t pid)
{
    Child *c = find(pid);
    if (c == nullptr || c->reaped) return false;
    int st;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
        c->reaped = true;
        c->exit = exit_from_status(st);
        return false;
    }
    return true;
}

bool E2eHarness::signal(pid_t pid, int sig)
{
    return running(pid) && kill(pid, sig) == 0;
}

std::optional<E2eExit> E2eHarness::wait_exit(pid_t pid, e2e_ms timeout)
{
    Child *c = find(pid);
    if (c == nullptr) return std::nullopt;
    const auto deadline = e2e_clock::now() + timeout;
    for (auto nap = std::chrono::microseconds(200); running(pid);
         nap = std::min(nap * 2, std::chrono::microseconds(20000))) {
        if (e2e_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(nap);
    }
    // Whatever the child sent before it ended is queued on the socket now.
    sync();
    return c->exit;
}

void E2eHarness::expect_exit_zero(pid_t pid)
{
    const auto e = wait_exit(pid);
    ASSERT_TRUE(e) << "still running\n" << dump();
    EXPECT_TRUE(e->exited && e->code == 0) << e->describe() << "\n" << dump();
}

void E2eHarness::stop(pid_t pid)
{
    ASSERT_TRUE(signal(pid, SIGTERM));
    expect_exit_zero(pid);
}

void E2eHarness::kill_all()
{
    for (auto &c : children_) {
        // The group outlives a reaped leader when the leader left children;
        // its id cannot be reused while any member is alive.
        if (!c.group_killed) kill(-c.pid, SIGKILL);
        c.group_killed = true;
        if (c.reaped) continue;
        kill(c.pid, SIGKILL);
        c.reaped = true;
        c.exit = exit_from_status(reap(c.pid));
    }
}

// ---------------------------------------------------------------------------

std::vector<E2eSyslogLine> E2eHarness::lines() const
{
    std::lock_guard<std::mutex> g(mu_);
    return lines_;
}

size_t E2eHarness::count_if(const std::function<bool(const E2eSyslogLine &)> &pred,
                            size_t from) const
{
    std::lock_guard<std::mutex> g(mu_);
    size_t n = 0;
    for (size_t i = from; i < lines_.size(); ++i) n += pred(lines_[i]);
    return n;
}

size_t E2eHarness::count(std::string_view needle) const
{
    return count_if(
        [&](const E2eSyslogLine &l) { return l.body.find(needle) != std::string::npos; });
}

size_t E2eHarness::count_message(std::string_view text) const
{
    return count_if(
        [&](const E2eSyslogLine &l) { return l.ident == "iptrackd" && l.message == text; });
}

std::optional<E2eSyslogLine>
E2eHarness::wait_for(const std::function<bool(const E2eSyslogLine &)> &pred, e2e_ms timeout,
                     size_t from)
{
    const auto deadline = e2e_clock::now() + timeout;
    std::unique_lock<std::mutex> g(mu_);
    size_t i = from;
    for (;;) {
        for (; i < lines_.size(); ++i)
            if (pred(lines_[i])) return lines_[i];
        if (cv_.wait_until(g, deadline) == std::cv_status::timeout && i == lines_.size())
            return std::nullopt;
    }
}

std::optional<E2eSyslogLine> E2eHarness::wait_line(std::string_view needle, e2e_ms timeout,
                                                   size_t from)
{
    return wait_for(
        [needle](const E2eSyslogLine &l) { return l.body.find(needle) != std::string::npos; },
        timeout, from);
}

bool E2eHarness::wait_message(const std::string &msg, size_t from, size_t *next, e2e_ms timeout)
{
    // wait_for tries each line once, in order, so counting the calls finds the index.
    size_t at = from;
    const auto found = wait_for(
        [&](const E2eSyslogLine &l) {
            ++at;
            return l.message == msg;
        },
        timeout, from);
    if (found && next) *next = at;
    return found.has_value();
}

void E2eHarness::expect_in_order(size_t from, const std::vector<std::string> &msgs, e2e_ms timeout)
{
    for (const std::string &m : msgs)
        ASSERT_TRUE(wait_message(m, from, &from, timeout)) << "missing in order: " << m << "\n"
                                                           << dump();
}

bool E2eHarness::wait_count(std::string_view needle, size_t n, e2e_ms timeout)
{
    size_t seen = 0;
    return n == 0 || wait_for(
                         [&](const E2eSyslogLine &l) {
                             return l.body.find(needle) != std::string::npos && ++seen == n;
                         },
                         timeout);
}

void E2eHarness::settle(e2e_ms quiet, e2e_ms timeout)
{
    const auto deadline = e2e_clock::now() + timeout;
    std::unique_lock<std::mutex> g(mu_);
    for (;;) {
        const auto calm_at = last_line_at_ + quiet;
        const auto now = e2e_clock::now();
        if (now >= calm_at || now >= deadline) return;
        cv_.wait_until(g, std::min(calm_at, deadline));
    }
}

std::string E2eHarness::dump() const
{
    std::lock_guard<std::mutex> g(mu_);
    std::ostringstream o;
    o << lines_.size() << " syslog line(s):\n";
    for (const auto &l : lines_)
        o << "  <" << l.priority << "> " << l.ident << "[" << l.pid << "]: " << l.body << "\n";
    return o.str();
}

// ---------------------------------------------------------------------------

int E2eHarness::run_in_ns(const std::function<int()> &fn)
{
    if (ns_fd_ < 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        if (!enter_namespace(ns_fd_)) _exit(126);
        _exit(fn() & 0xff);
    }
    const int st = pid < 0 ? -1 : reap(pid);
    return st >= 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int E2eHarness::write_file(const std::string &path, std::string_view content)
{
    return run_in_ns([&] {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return errno;
        const bool ok = write_all(fd, content.data(), content.size());
        close(fd);
        return ok ? 0 : EIO;
    });
}

int E2eHarness::read_file(const std::string &path, std::string *content)
{
    content->clear();
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return errno;
    // The child streams the file into the pipe while the parent reads, so
    // a file larger than the pipe cannot deadlock the two.
    std::string data;
    std::thread drain([&] {
        char buf[4096];
        ssize_t n;
        while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0) data.append(buf, size_t(n));
    });
    const int rc = run_in_ns([&] {
        close(p[0]);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return errno;
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) write_all(p[1], buf, size_t(n));
        close(fd);
        return 0;
    });
    close(p[1]);
    drain.join();
    close(p[0]);
    if (rc == 0) *content = std::move(data);
    return rc;
}

int E2eHarness::make_symlink(const std::string &target, const std::string &link)
{
    return run_in_ns([&] { return symlink(target.c_str(), link.c_str()) == 0 ? 0 : errno; });
}

bool E2eHarness::path_exists(const std::string &path)
{
    return run_in_ns([&] {
               struct stat st;
               return lstat(path.c_str(), &st) == 0 ? 0 : 1;
           }) == 0;
}

bool E2eHarness::wait_path(const std::string &path, e2e_ms timeout)
{
    const auto deadline = e2e_clock::now() + timeout;
    for (;;) {
        if (path_exists(path)) return true;
        if (e2e_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(e2e_ms(5));
    }
}

// ---------------------------------------------------------------------------

void E2eTest::SetUp()
{
    std::string why;
    const auto s = h.setup(&why);
    if (s == E2eHarness::Setup::unavailable) GTEST_SKIP() << "no private mount namespace: " << why;
    ASSERT_EQ(s, E2eHarness::Setup::ok) << "end-to-end set-up failed: " << why;
}
