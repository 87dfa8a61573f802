// The logger: one process-wide state behind one lock, and the writing of a
// message into syslog (or the console outputs).
//
// The state is created by lc_log_init, or by the first message of a process
// that logs before it (the "-UNINIT" fallback), and freed by lc_log_close.
// The level globals that lc_log_check_level reads live outside the state as
// relaxed atomics: they are written under the lock and read without it, only
// to decide whether to format at all.  The lock is held for the whole of a
// message; a message logged from inside the logger on the same thread (the
// time-zone hook, a test sink, a failure report of the lock itself) is
// written directly instead of deadlocking.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "log/logging.h"

#ifndef IPT_BUILD_ID
#define IPT_BUILD_ID "dev"
#endif

const char lc_build_id[] = IPT_BUILD_ID;

std::atomic<int32> lc_log_effective_level_g{LCL_NOTICE};
std::atomic<uint8> lc_log_daemon_level_g{lc_log_daemon_level_unset};

namespace
{

constexpr int32 default_system_level = LCL_NOTICE;

// Processes whose levels and zone are managed elsewhere: they do not watch
// the level link or the time-zone file.
constexpr const char *unwatched_processes[] = {"netflowd", "redd",  "sysd",  "statsd", "pm",
                                               "tunneld",  "wccpd", "sched", "mgmtd",  "cli"};

struct log_state {
    char name[lc_log_name_max + 1] = "";
    char prefix[lc_log_prefix_max + 1] = "";
    uint32 default_flags = 0;
    uint32 component_word = 0;
    int32 max_level = LCL_DEBUG;
    uint32 outputs = lc_log_output_syslog;
    int32 facility = LOG_USER;
    pid_t pid = 0;
    char hostname[lc_log_hostname_max + 1] = "";
    time_t init_time = 0;

    int32 system_level = default_system_level;
    int32 override_level = default_system_level;
    bool override_system_switch = false;
    bool override_facility_switch = false;
    bool console_prefix = false;

    bool watch = false;
    time_t link_checked_sec = 0;
    time_t tz_checked_sec = 0;
    timespec link_mtime{};
    timespec tz_mtime{};

    bool relative_set = false;
    timeval relative_ref{};
    uint64 message_count = 0;

    bool syslog_open = false;
    int syslog_options = 0;

    std::map<uint64, uint32> thread_ids; // native id -> logged id
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_once_t g_lock_once = PTHREAD_ONCE_INIT;
thread_local int t_lock_depth = 0;
// Set in the fork prepare handler when the forking thread already held the
// lock (fork from inside the logger), so the handlers leave it alone.
bool g_fork_skipped = false;

// Guarded by g_lock.
log_state *g_state = nullptr;
lc_log_sink_fn g_sink = nullptr;
void *g_sink_data = nullptr;
lc_log_tz_change_hook_fn g_tz_hook = nullptr;
std::atomic<lc_log_wall_clock_fn> g_wall_clock{nullptr};
char g_level_link[256] = LC_LOG_LEVEL_LINK;
char g_tz_file[256] = LC_LOG_TZ_FILE;
int g_syslog_mask = LOG_UPTO(LOG_DEBUG);

std::atomic<bool> g_suspended{false};
std::atomic<bool> g_effective_pinned{false};
std::atomic<uint32> g_lost{0};

thread_local bool t_tls_set = false;
thread_local int32 t_cpu = -1;
thread_local uint64 t_tid = 0;

void fork_prepare()
{
    g_fork_skipped = t_lock_depth > 0;
    if (!g_fork_skipped) pthread_mutex_lock(&g_lock);
}
void fork_parent()
{
    if (!g_fork_skipped) pthread_mutex_unlock(&g_lock);
}
void fork_child()
{
    if (!g_fork_skipped) pthread_mutex_unlock(&g_lock);
    if (g_state) g_state->pid = getpid();
}
void setup_lock_once()
{
    pthread_atfork(fork_prepare, fork_parent, fork_child);
}

// Holds the logger lock for a scope; nested use on the same thread is a
// no-op.  Cancellation stays disabled while the lock is held so that a
// cancelled thread never leaves it locked.
class log_lock
{
  public:
    log_lock()
    {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state_);
        if (t_lock_depth++ > 0) return;
        const int err = pthread_mutex_lock(&g_lock);
        if (err != 0) {
            // Reported through the logger itself; the depth already counts
            // this thread as the holder, so the report does not lock again.
            lc_bail_report_error(err, "lc_log_lock", __FILE__, __LINE__);
            --t_lock_depth;
            err_ = err;
        }
    }
    ~log_lock()
    {
        if (err_ == 0 && --t_lock_depth == 0) {
            const int err = pthread_mutex_unlock(&g_lock);
            if (err != 0) {
                ++t_lock_depth;
                lc_bail_report_error(err, "lc_log_unlock", __FILE__, __LINE__);
                --t_lock_depth;
            }
        }
        pthread_setcancelstate(cancel_state_, nullptr);
    }
    log_lock(const log_lock &) = delete;
    log_lock &operator=(const log_lock &) = delete;
    int error() const { return err_; }

  private:
    int cancel_state_ = 0;
    int err_ = 0;
};

void set_effective(int32 level)
{
    if (!g_effective_pinned.load(std::memory_order_relaxed))
        lc_log_effective_level_g.store(level, std::memory_order_relaxed);
}

void set_mask(int32 level)
{
    g_syslog_mask = LOG_UPTO(std::clamp<int32>(level, LOG_EMERG, LOG_DEBUG));
    setlogmask(g_syslog_mask);
}

bool mtime_equal(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Level named by the link's target, or -1 when it is absent or not a level.
int32 read_level_link(timespec *mtime)
{
    struct stat st;
    if (lstat(g_level_link, &st) != 0) {
        *mtime = {};
        return -1;
    }
    *mtime = st.st_mtim;
    char target[32];
    const ssize_t n = readlink(g_level_link, target, sizeof target - 1);
    if (n <= 0) return -1;
    target[n] = '\0';
    char *end = nullptr;
    const long level = strtol(target, &end, 10);
    if (end == target || *end != '\0' || level < LCL_EMERG || level > LCL_DEBUG) return -1;
    return (int32)level;
}

timespec stat_mtime(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) return {};
    return st.st_mtim;
}

bool override_active(const log_state &s)
{
    return s.override_system_switch && s.override_facility_switch;
}

// Puts the override level, or the system level when the override is not
// active, into the effective level and the syslog mask.
void apply_override_locked(const log_state &s)
{
    if (s.console_prefix) return;
    const int32 level = override_active(s) ? s.override_level : s.system_level;
    set_effective(level);
    set_mask(level);
}

// A new system level: from lc_log_set_max_log_level or the level link.
void apply_system_level_locked(log_state &s, int32 level)
{
    s.system_level = level;
    if (override_active(s)) return;
    set_effective(level);
    set_mask(level);
}

int init_locked(const char *name, const char *prefix, uint32 default_flags, uint32 component_word,
                int32 max_level, int32 facility, uint32 outputs)
{
    const bool first = g_state == nullptr;
    // Out of memory is reported by code only: logging it here would re-enter
    // the logger, whose lock this thread holds.
    if (first) g_state = new (std::nothrow) log_state{};
    if (!g_state) return lc_err_unexpected_null;
    log_state &s = *g_state;

    const bool name_changed = strncmp(s.name, name, lc_log_name_max) != 0;
    const int options = LOG_NDELAY | ((default_flags & lc_log_flag_no_pid) ? 0 : LOG_PID);
    const bool reopen = first || !s.syslog_open || name_changed || s.facility != facility ||
                        s.syslog_options != options;
    if (reopen && s.syslog_open) {
        // openlog keeps a pointer to the name: close before it changes.
        closelog();
        s.syslog_open = false;
    }

    snprintf(s.name, sizeof s.name, "%s", name);
    snprintf(s.prefix, sizeof s.prefix, "%s", prefix ? prefix : "");
    s.default_flags = default_flags;
    s.component_word = component_word;
    s.max_level = max_level;
    s.facility = facility;
    s.outputs = outputs;
    s.pid = getpid();
    if (gethostname(s.hostname, sizeof s.hostname) != 0) s.hostname[0] = '\0';
    s.hostname[sizeof s.hostname - 1] = '\0';
    if (char *dot = strchr(s.hostname, '.')) *dot = '\0';
    s.init_time = time(nullptr);
    s.console_prefix = (outputs & ~uint32(lc_log_output_syslog)) != 0;

    s.watch = true;
    for (const char *p : unwatched_processes)
        if (strcmp(s.name, p) == 0) s.watch = false;

    const int32 link_level = read_level_link(&s.link_mtime);
    s.system_level = link_level >= 0 ? link_level : default_system_level;
    s.link_checked_sec = s.init_time;
    s.tz_mtime = stat_mtime(g_tz_file);
    s.tz_checked_sec = s.init_time;
    set_mask(s.system_level);
    set_effective(s.override_facility_switch ? s.override_level : s.system_level);

    if (reopen) {
        openlog(s.name, options, facility);
        s.syslog_open = true;
        s.syslog_options = options;
    }
    return 0;
}

pid_t current_tid()
{
    return (pid_t)syscall(SYS_gettid);
}

// The logger a process gets when it logs before lc_log_init: named after its
// command line with "-UNINIT", so that such lines are still attributed.
void init_fallback_locked()
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/cmdline", (int)getpid());
    char cmd[lc_log_prefix_max + 1] = "";
    if (FILE *f = fopen(path, "re")) {
        const size_t n = fread(cmd, 1, sizeof cmd - 1, f);
        cmd[n] = '\0';
        fclose(f);
    }
    const char *base = strrchr(cmd, '/');
    base = base ? base + 1 : cmd;
    if (*base == '\0') base = "UNKNOWN";
    // The suffix is kept whole; the command name gives way to it.
    static constexpr char suffix[] = "-UNINIT";
    char name[lc_log_name_max + 1];
    snprintf(name, sizeof name, "%.*s%s", int(lc_log_name_max - (sizeof suffix - 1)), base, suffix);
    (void)init_locked(name, "unk", 0, lc_log_component_word(11), LCL_DEBUG, LOG_USER,
                      lc_log_output_syslog);
}

// The state, made as the fallback when there is none; null only when it
// could not be allocated.
log_state *ensure_state_locked()
{
    if (!g_state) init_fallback_locked();
    return g_state;
}

// Hands one finished line to syslog or the test sink.  Returns whether the
// write failed for a full socket.
bool write_syslog(int priority, char *line, size_t len, int caller_errno)
{
    errno = caller_errno;
    if (g_sink) {
        const bool had_newline = len > 0 && line[len - 1] == '\n';
        if (had_newline) line[len - 1] = '\0';
        g_sink(priority, line, g_sink_data);
        if (had_newline) line[len - 1] = '\n';
    } else {
        syslog(priority, "%s", line);
    }
    return errno == EAGAIN && caller_errno != EAGAIN;
}

// Builds the body format: pieces of our own are escaped so that only the
// caller's format is interpreted by printf.
class body_builder
{
  public:
    explicit body_builder(char *buf, size_t cap) : buf_(buf), cap_(cap) { buf_[0] = '\0'; }

    void literal(const char *s)
    {
        for (; *s; ++s) {
            const size_t need = *s == '%' ? 2 : 1;
            if (len_ + need > cap_ - 1) {
                cut_ = true;
                break;
            }
            buf_[len_++] = *s;
            if (*s == '%') buf_[len_++] = '%';
        }
        buf_[len_] = '\0';
    }

    [[gnu::format(printf, 2, 3)]] void literalf(const char *fmt, ...)
    {
        char piece[lc_log_body_format_max + 1];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(piece, sizeof piece, fmt, ap);
        va_end(ap);
        literal(piece);
    }

    // The caller's format, copied as it is.
    void format(const char *fmt)
    {
        const size_t start = len_;
        const size_t n = strlen(fmt);
        const size_t room = cap_ - 1 - len_;
        const size_t take = std::min(n, room);
        memcpy(buf_ + len_, fmt, take);
        len_ += take;
        buf_[len_] = '\0';
        if (take < n) {
            cut_ = true;
            drop_partial_conversion(start);
        }
    }

    size_t size() const { return len_; }

  private:
    // A cut may split a conversion ("%l" of "%lu"); drop what is left of it.
    void drop_partial_conversion(size_t start)
    {
        size_t i = start;
        while (i < len_) {
            if (buf_[i] != '%') {
                ++i;
                continue;
            }
            const size_t conv = i++;
            if (i < len_ && buf_[i] == '%') {
                ++i;
                continue;
            }
            while (i < len_ && strchr("0123456789.-+ #'*$hlLqjztI", buf_[i])) ++i;
            if (i >= len_) {
                len_ = conv;
                buf_[len_] = '\0';
                return;
            }
            ++i;
        }
    }

    char *buf_;
    size_t cap_;
    size_t len_ = 0;
    bool cut_ = false;
};

const char *component_name(uint32 word)
{
    const int32 id = int32((word >> 16) & 0xffff);
    for (const lc_enum_string_map *const *m = lc_log_component_names; *m; ++m)
        if (const char *name = lc_enum_to_string_quiet_null(*m, id)) return name;
    return "UNKNOWN_COMP";
}

void add_time_stamp(body_builder &b, uint32 flags, const timeval &tv)
{
    long sec = tv.tv_sec;
    const long usec = tv.tv_usec;
    if (flags & lc_log_flag_time_mod_million)
        sec %= 1000000;
    else if (flags & lc_log_flag_time_mod_ten)
        sec %= 10;
    if (flags & lc_log_flag_time_micro)
        b.literalf("[%ld.%06ld] ", sec, usec);
    else if (flags & lc_log_flag_time_milli)
        b.literalf("[%ld.%03ld] ", sec, usec / 1000);
    else if (flags & lc_log_flag_time_centi)
        b.literalf("[%ld.%02ld] ", sec, usec / 10000);
    else if (flags & lc_log_flag_time_deci)
        b.literalf("[%ld.%01ld] ", sec, usec / 100000);
    else if (flags & lc_log_flag_time_sec)
        b.literalf("[%ld] ", sec);
}

constexpr uint32 time_stamp_flags = lc_log_flag_time_sec | lc_log_flag_time_deci |
                                    lc_log_flag_time_centi | lc_log_flag_time_milli |
                                    lc_log_flag_time_micro;

// Reports messages lost to a full syslog socket once a write goes through.
void report_lost_locked(const log_state &s, int caller_errno)
{
    const uint32 lost = g_lost.load(std::memory_order_relaxed);
    if (lost == 0 || !(s.outputs & lc_log_output_syslog)) return;
    char line[128];
    const int n = snprintf(line, sizeof line,
                           "messages lost due to non-blocking syslog (count=%d)\n", (int)lost);
    if (!write_syslog(LOG_ERR | s.facility, line, (size_t)n, caller_errno))
        g_lost.fetch_sub(lost, std::memory_order_relaxed);
}

// Examines the level link once a second; a changed link sets the system level.
void watch_level_link_locked(log_state &s, time_t now)
{
    if (!s.watch || now == s.link_checked_sec) return;
    s.link_checked_sec = now;
    struct stat st;
    if (lstat(g_level_link, &st) != 0 || mtime_equal(st.st_mtim, s.link_mtime)) return;
    timespec mtime;
    const int32 level = read_level_link(&mtime);
    s.link_mtime = mtime;
    if (level >= 0) apply_system_level_locked(s, level);
}

void watch_tz_file_locked(log_state &s, time_t now)
{
    if (!s.watch || now == s.tz_checked_sec) return;
    s.tz_checked_sec = now;
    const timespec mtime = stat_mtime(g_tz_file);
    if (mtime_equal(mtime, s.tz_mtime)) return;
    s.tz_mtime = mtime;
    if (g_tz_hook) g_tz_hook();
}

} // namespace

// ---------------------------------------------------------------------------

int lc_init()
{
    pthread_once(&g_lock_once, setup_lock_once);
    return 0;
}

int lc_log_init(const char *name, const char *prefix, uint32 default_flags, uint32 component_word,
                int32 max_level, int32 facility, uint32 outputs)
{
    bail_null(name);
    (void)lc_init();
    log_lock lock;
    bail_error(lock.error());
    return init_locked(name, prefix, default_flags, component_word, max_level, facility, outputs);
}

int lc_log_close()
{
    log_lock lock;
    if (lock.error()) return lock.error();
    if (!g_state) return lc_err_unexpected_null;
    if (g_state->syslog_open) closelog();
    delete g_state;
    g_state = nullptr;
    return 0;
}

void lc_log_init_tls()
{
    if (t_tls_set) [[likely]]
        return;
    t_cpu = sched_getcpu();
    t_tid = (uint64)pthread_self();
    t_tls_set = true;
}

int32 lc_log_tls_cpu()
{
    return t_cpu;
}
uint64 lc_log_tls_tid()
{
    return t_tid;
}

int lc_log_internal(const char *function, const char *file, int line, uint32 flags,
                    uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int err =
        lc_log_vinternal(function, file, line, flags, component, level, cpu, tid, fmt, ap);
    va_end(ap);
    return err;
}

int lc_log_vinternal(const char *function, const char *file, int line, uint32 flags,
                     uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt,
                     va_list ap)
{
    if (g_suspended.load(std::memory_order_relaxed)) return 0;
    const int saved_errno = errno;
    if (!lc_log_check_level(level) || fmt == nullptr) return 0;

    (void)lc_init();
    log_lock lock;
    if (lock.error()) {
        errno = saved_errno;
        return lock.error();
    }
    if (!g_state) {
        // Only the main thread may name the process after its command line.
        if (current_tid() != getpid()) {
            errno = saved_errno;
            return 0;
        }
        init_fallback_locked();
        if (!g_state) {
            errno = saved_errno;
            return lc_err_unexpected_null;
        }
    }
    log_state &s = *g_state;

    report_lost_locked(s, saved_errno);

    timeval now;
    if (const lc_log_wall_clock_fn wall = g_wall_clock.load(std::memory_order_relaxed))
        wall(&now);
    else
        gettimeofday(&now, nullptr);
    watch_level_link_locked(s, now.tv_sec);
    const uint8 daemon = lc_log_daemon_level_g.load(std::memory_order_relaxed);
    const int32 threshold = daemon != lc_log_daemon_level_unset ? daemon : s.max_level;
    if (level > threshold) {
        errno = saved_errno;
        return 0;
    }

    if (!(flags & lc_log_flag_no_defaults)) flags |= s.default_flags;

    timeval tv = now;
    if ((flags & lc_log_flag_time_relative) && ((flags & time_stamp_flags) || s.console_prefix)) {
        if (!s.relative_set) {
            s.relative_ref = now;
            s.relative_set = true;
        }
        timersub(&now, &s.relative_ref, &tv);
    }

    watch_tz_file_locked(s, now.tv_sec);

    char console[lc_log_hostname_max + lc_log_name_max + 64] = "";
    if (s.console_prefix && !(flags & lc_log_flag_no_prefix)) {
        char date[32];
        const time_t t = tv.tv_sec;
        ctime_r(&t, date);
        int n = snprintf(console, sizeof console, "%.15s %s ", date + 4, s.hostname);
        n = std::clamp<int>(n, 0, int(sizeof console - 1));
        if (flags & lc_log_flag_no_pid)
            snprintf(console + n, sizeof console - n, "%s: ", s.name);
        else
            snprintf(console + n, sizeof console - n, "%s[%d]: ", s.name, (int)s.pid);
    }

    char body_fmt[lc_log_body_format_max + 1];
    body_builder b(body_fmt, sizeof body_fmt);
    if (!(flags & lc_log_flag_no_thread_info)) {
        const auto it = s.thread_ids.find(tid);
        if (it != s.thread_ids.end())
            b.literalf("%s %d %s %lu: ", "CPU", cpu, "tid", (unsigned long)it->second);
        else
            b.literalf("%s %d %s %lu: ", "CPU", cpu, "TID", (unsigned long)tid);
    }
    add_time_stamp(b, flags, tv);
    b.literalf("[%s.%s]: ", component_name(s.component_word | component),
               lc_enum_to_string_quiet(lc_log_level_names, level));
    if (s.prefix[0]) b.literalf("%s: ", s.prefix);
    if (flags & lc_log_flag_source_info) {
        b.literalf("%s(), %s:%d, build %s: ", function ? function : "", file ? file : "", line,
                   lc_build_id);
    }
    b.format(fmt);
    b.literal("\n");

    char text[lc_log_line_max + 1];
    errno = saved_errno; // for %m
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int len = vsnprintf(text, sizeof text, body_fmt, ap);
#pragma GCC diagnostic pop
    len = std::clamp<int>(len, 0, int(sizeof text - 1));

    if (s.outputs & lc_log_output_syslog) {
        if (write_syslog((level & 7) | s.facility, text, (size_t)len, saved_errno))
            g_lost.fetch_add(1, std::memory_order_relaxed);
    }
    for (const auto &[bit, stream] :
         {std::pair{lc_log_output_stdout, stdout}, std::pair{lc_log_output_stderr, stderr}}) {
        if (!(s.outputs & bit)) continue;
        fputs(console, stream);
        fputs(text, stream);
        fflush(stream);
    }
    ++s.message_count;
    errno = saved_errno;
    return 0;
}

// ---------------------------------------------------------------------------
// Levels

int lc_log_set_max_log_level(const char *level_name)
{
    bail_null(level_name);
    int32 level = 0;
    bail_error_quiet(lc_string_to_enum(lc_log_level_config_names, level_name, &level));
    log_lock lock;
    bail_error(lock.error());
    log_state *sp = ensure_state_locked();
    if (!sp) return lc_err_unexpected_null;
    log_state &s = *sp;
    if (s.console_prefix) return 0;
    apply_system_level_locked(s, level);
    return 0;
}

int lc_log_get_max_log_level(int32 *ret_level)
{
    bail_null(ret_level);
    *ret_level = 0;
    log_lock lock;
    bail_error(lock.error());
    if (!g_state) return lc_err_unexpected_null;
    int32 level = g_state->max_level;
    if (!g_state->console_prefix) level = std::min(level, g_state->system_level);
    *ret_level = level;
    return 0;
}

int lc_log_set_daemon_log_level(uint8 level)
{
    log_lock lock;
    bail_error(lock.error());
    lc_log_daemon_level_g.store(level, std::memory_order_relaxed);
    set_mask(level == lc_log_daemon_level_unset
                 ? lc_log_effective_level_g.load(std::memory_order_relaxed)
                 : level);
    return 0;
}

uint8 lc_log_get_daemon_log_level()
{
    return lc_log_daemon_level_g.load(std::memory_order_relaxed);
}

int lc_log_set_override_log_level(const char *level_name)
{
    bail_null(level_name);
    log_lock lock;
    bail_error(lock.error());
    log_state *sp = ensure_state_locked();
    if (!sp) return lc_err_unexpected_null;
    log_state &s = *sp;
    int32 level = 0;
    if (lc_string_to_enum(lc_log_level_config_names, level_name, &level) == 0) {
        s.override_level = level;
    } else {
        s.override_level = s.system_level;
        s.override_facility_switch = false;
    }
    apply_override_locked(s);
    return 0;
}

int lc_log_enable_override_log_level(int which, tbool on)
{
    log_lock lock;
    bail_error(lock.error());
    log_state *sp = ensure_state_locked();
    if (!sp) return lc_err_unexpected_null;
    log_state &s = *sp;
    if (which != 0) {
        s.override_system_switch = on != 0;
    } else {
        if (!on) s.override_level = lc_log_effective_level_g.load(std::memory_order_relaxed);
        s.override_facility_switch = on != 0;
    }
    apply_override_locked(s);
    return 0;
}

int32 lc_log_get_effective_log_level()
{
    return lc_log_effective_level_g.load(std::memory_order_relaxed);
}

int32 lc_log_get_system_log_level()
{
    log_lock lock;
    return g_state ? g_state->system_level : default_system_level;
}

int32 lc_log_get_override_log_level()
{
    log_lock lock;
    return g_state ? g_state->override_level : default_system_level;
}

bool lc_log_override_active()
{
    log_lock lock;
    return g_state && override_active(*g_state);
}

int lc_log_get_syslog_facility(int32 *ret_facility)
{
    bail_null(ret_facility);
    *ret_facility = 0;
    log_lock lock;
    bail_error(lock.error());
    if (!g_state) return lc_err_unexpected_null;
    *ret_facility = g_state->facility;
    return 0;
}

const char *lc_log_get_lls_process_name()
{
    log_lock lock;
    return g_state ? g_state->name : "";
}

// ---------------------------------------------------------------------------
// Thread ids, suspend, lost messages, hooks

int lc_log_set_thread_id(uint64 native_tid, uint32 logged_tid)
{
    {
        log_lock lock;
        bail_error(lock.error());
        log_state *s = ensure_state_locked();
        if (!s) return lc_err_unexpected_null;
        // Said without logging: the logger's lock is held.
        if (!lc_grow(s, [&] { s->thread_ids[native_tid] = logged_tid; }))
            return lc_err_unexpected_null;
    }
    lc_log_basic(LCL_INFO, "Native thread ID %lu is logged as tid %u", (unsigned long)native_tid,
                 logged_tid);
    return 0;
}

void lc_log_suspend(tbool on)
{
    g_suspended.store(on != 0, std::memory_order_relaxed);
}

uint32 lc_log_lost_count()
{
    return g_lost.load(std::memory_order_relaxed);
}

void lc_log_set_tz_change_hook(lc_log_tz_change_hook_fn hook)
{
    log_lock lock;
    g_tz_hook = hook;
}

void lc_log_set_wall_clock_hook(lc_log_wall_clock_fn hook)
{
    g_wall_clock.store(hook, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Test seams

void lc_log_set_sink(lc_log_sink_fn sink, void *data)
{
    log_lock lock;
    // A state made here, on the setting thread, lets lines logged first by
    // another thread reach the sink too (only the main thread may make the
    // fallback state from a message).
    if (sink && !g_state) init_fallback_locked();
    g_sink = sink;
    g_sink_data = data;
}

void lc_log_set_effective_level_for_tests(int32 level)
{
    if (level < 0) {
        g_effective_pinned.store(false, std::memory_order_relaxed);
        return;
    }
    lc_log_effective_level_g.store(level, std::memory_order_relaxed);
    g_effective_pinned.store(true, std::memory_order_relaxed);
}

void lc_log_set_watch_paths_for_tests(const char *level_link, const char *tz_file)
{
    log_lock lock;
    snprintf(g_level_link, sizeof g_level_link, "%s", level_link ? level_link : LC_LOG_LEVEL_LINK);
    snprintf(g_tz_file, sizeof g_tz_file, "%s", tz_file ? tz_file : LC_LOG_TZ_FILE);
}

int lc_log_get_syslog_mask_for_tests()
{
    log_lock lock;
    return g_syslog_mask;
}
