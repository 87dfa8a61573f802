// The logger: whole message lines, time stamps, level rules, the watched
// files, the fallback state, lost messages and the locking; then the error
// maps, the failure macros and the ownership helpers beside it.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <new>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "log/common.h"
#include "log/logging.h"
#include "support/call_ok.h"
#include "support/log_capture.h"
#include "util/ttime.h"

namespace fs = std::filesystem;

namespace
{

constexpr uint32 iptrackd_word = lc_log_component_word(lc_log_component_iptrackd);

// Every test starts from a fresh "iptrackd" logger whose watched files live
// in a private directory (absent unless the test creates them), on the
// manual clock, which starts at the real time of day.
class Logger : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ipt_log_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        link_ = dir_ + "/sysloglevel";
        tz_ = dir_ + "/localtime";
        lc_log_set_watch_paths_for_tests(link_.c_str(), tz_.c_str());
        lt_clock_set_manual_for_tests(1000000, 1000);
        (void)lc_log_close();
        init();
    }
    void TearDown() override
    {
        (void)lc_log_close();
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        lc_log_set_watch_paths_for_tests(nullptr, nullptr);
        lc_log_set_tz_change_hook(nullptr);
        lc_log_suspend(0);
        lt_clock_restore_for_tests();
        fs::remove_all(dir_);
    }

    static void init(const char *name = "iptrackd", const char *prefix = nullptr, uint32 flags = 0,
                     uint32 outputs = lc_log_output_syslog)
    {
        ASSERT_EQ(lc_log_init(name, prefix, flags, iptrackd_word, LCL_DEBUG, 136, outputs), 0);
    }

    std::string dir_, link_, tz_;
};

// Writes a message as a caller with CPU 3 and native thread id 12345.
#define LOG_AS(flags, level, ...)                                                                  \
    lc_log_internal("myfunc", "src/file.cc", 42, (flags), 0, (level), 3, 12345, __VA_ARGS__)

void set_link(const std::string &path, const char *target, time_t mtime)
{
    unlink(path.c_str());
    ASSERT_EQ(symlink(target, path.c_str()), 0);
    const timespec ts[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0);
}

// The fallback logger's name: the base name of the command line's first
// lc_log_prefix_max bytes, then "-UNINIT", whatever the checkout's path.
std::string uninit_name()
{
    std::ifstream f("/proc/self/cmdline", std::ios::binary);
    std::string cmd(lc_log_prefix_max, '\0');
    f.read(cmd.data(), std::streamsize(cmd.size()));
    cmd.resize(size_t(f.gcount()));
    cmd = cmd.c_str(); // argv[0] only
    std::string base = cmd.substr(cmd.rfind('/') + 1);
    if (base.empty()) base = "UNKNOWN";
    return base.substr(0, lc_log_name_max - strlen("-UNINIT")) + "-UNINIT";
}

// A sink that refuses its next `refuse` lines as a full socket would.
struct eagain_sink {
    int refuse = 0;
    std::vector<std::string> lines;
    static void fn(int, const char *line, void *data)
    {
        auto *self = static_cast<eagain_sink *>(data);
        if (self->refuse > 0) {
            --self->refuse;
            errno = EAGAIN;
            return;
        }
        self->lines.emplace_back(line);
    }
};

// Error codes, enum maps and failure macros share the logger's fixture.
using LogMaps = Logger;

// The line a failure macro writes from `function` at `line` of this file,
// which the line names by its path from the source root.
std::string failure_line(const char *function, int line, const std::string &text)
{
    lc_log_init_tls();
    char head[128];
    snprintf(head, sizeof head, "CPU %d TID %lu: [iptrackd.ERR]: ", lc_log_tls_cpu(),
             (unsigned long)lc_log_tls_tid());
    return std::string(head) + function + "(), tests/log/logging_test.cc:" + std::to_string(line) +
           ", build " + lc_build_id + ": " + text;
}

bool is_open(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

int g_line = 0;

int fail_with(int err)
{
    g_line = __LINE__ + 1;
    bail_error(err);
    return 0;
}

int force_with(int err)
{
    g_line = __LINE__ + 1;
    bail_force(err);
}

int fail_quietly(int err)
{
    bail_error_quiet(err);
    return 0;
}

int need_pointer(const int *p)
{
    g_line = __LINE__ + 1;
    bail_null(p);
    return 0;
}

int need_positive(int v)
{
    g_line = __LINE__ + 1;
    bail_require(v > 0);
    return 0;
}

} // namespace

// --- Lines ----------------------------------------------------------------

TEST_F(Logger, SourceInfoAndPlainLinesAreByteExact)
{
    LogCapture cap;
    LOG_AS(lc_log_flag_source_info, LCL_ERR, "lookup of %s failed: %d", "x", -2);
    LOG_AS(0, LCL_NOTICE, "IP Tracking daemon launched");
    errno = EACCES;
    LOG_AS(0, LCL_INFO, "open: %m");
    EXPECT_EQ(errno, EACCES);
    const std::vector<std::string> want = {
        std::string("CPU 3 TID 12345: [iptrackd.ERR]: myfunc(), src/file.cc:42, build ") +
            lc_build_id + ": lookup of x failed: -2",
        "CPU 3 TID 12345: [iptrackd.NOTICE]: IP Tracking daemon launched",
        "CPU 3 TID 12345: [iptrackd.INFO]: open: Permission denied",
    };
    EXPECT_EQ(cap.lines(), want);
    EXPECT_EQ(cap.priorities(), (std::vector<int>{LCL_ERR, LCL_NOTICE, LCL_INFO}));
}

TEST_F(Logger, MappedThreadIsLoggedByItsShortId)
{
    LogCapture cap;
    EXPECT_EQ(lc_log_set_thread_id(12345, 2), 0);
    LOG_AS(0, LCL_INFO, "from the alarm thread");
    EXPECT_EQ(lc_log_set_thread_id(12345, 3), 0); // updates in place
    LOG_AS(0, LCL_INFO, "again");
    lc_log_internal("f", "f.cc", 1, 0, 0, LCL_INFO, 3, 999, "other"); // unmapped
    const auto lines = cap.lines();
    ASSERT_EQ(lines.size(), 5u) << cap.dump();
    EXPECT_NE(lines[0].find("]: Native thread ID 12345 is logged as tid 2"), std::string::npos);
    EXPECT_EQ(lines[1], "CPU 3 tid 2: [iptrackd.INFO]: from the alarm thread");
    EXPECT_EQ(lines[3], "CPU 3 tid 3: [iptrackd.INFO]: again");
    EXPECT_EQ(lines[4], "CPU 3 TID 999: [iptrackd.INFO]: other");
}

TEST_F(Logger, FlagsPrefixAndComponentShapeTheBody)
{
    LogCapture cap;
    LOG_AS(lc_log_flag_no_thread_info, LCL_WARNING, "bare");
    lc_log_internal("f", "f.cc", 1, 0, lc_log_component_word(257), LCL_INFO, 0, 1, "x");
    init("iptrackd", "pre%sfix", lc_log_flag_no_thread_info);
    LOG_AS(0, LCL_DEBUG, "defaults merged, %d%%", 50);
    LOG_AS(lc_log_flag_no_defaults, LCL_DEBUG, "defaults skipped");
    ASSERT_EQ(lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(999), 7, 136, 1), 0);
    LOG_AS(lc_log_flag_no_thread_info, LCL_ALERT, "nobody");
    const std::vector<std::string> want = {
        "[iptrackd.WARNING]: bare",
        // 269 | 257 = 269: the words are or-ed, as documented.
        "CPU 0 TID 1: [iptrackd.INFO]: x",
        "[iptrackd.DEBUG]: pre%sfix: defaults merged, 50%",
        "CPU 3 TID 12345: [iptrackd.DEBUG]: pre%sfix: defaults skipped",
        "[UNKNOWN_COMP.ALERT]: nobody",
    };
    EXPECT_EQ(cap.lines(), want);
}

TEST_F(Logger, OverlongMessageIsCutWithoutBreakingTheFormat)
{
    LogCapture cap;
    // "[iptrackd.INFO]: " takes 17 bytes; the cut falls inside "%lu".
    std::string fmt(lc_log_body_format_max - 19, 'a');
    fmt += "%lu tail";
    LOG_AS(lc_log_flag_no_thread_info, LCL_INFO, fmt.c_str(), 7ul);
    const std::string big(10000, 'b');
    LOG_AS(0, LCL_INFO, "%s", big.c_str());
    const auto lines = cap.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[iptrackd.INFO]: " + std::string(lc_log_body_format_max - 19, 'a'));
    EXPECT_EQ(lines[1].size(), lc_log_line_max);
}

TEST_F(Logger, TimeStampsTakeTheFinestFlag)
{
    const struct {
        uint32 flags;
        const char *stamp;
    } cases[] = {
        {lc_log_flag_time_sec, R"(\d{9,})"},
        {lc_log_flag_time_deci, R"(\d{9,}\.\d)"},
        {lc_log_flag_time_centi | lc_log_flag_time_sec, R"(\d{9,}\.\d\d)"},
        {lc_log_flag_time_milli | lc_log_flag_time_deci, R"(\d{9,}\.\d{3})"},
        {lc_log_flag_time_micro | lc_log_flag_time_milli | lc_log_flag_time_sec,
         R"(\d{9,}\.\d{6})"},
        {lc_log_flag_time_sec | lc_log_flag_time_mod_ten, R"(\d)"},
        {lc_log_flag_time_sec | lc_log_flag_time_mod_million | lc_log_flag_time_mod_ten,
         R"(\d{1,6})"},
    };
    LogCapture cap;
    for (const auto &c : cases) {
        LOG_AS(lc_log_flag_no_thread_info | c.flags, LCL_INFO, "m");
        const std::string line = cap.lines().back();
        EXPECT_TRUE(std::regex_match(
            line, std::regex(R"(\[)" + std::string(c.stamp) + R"(\] \[iptrackd\.INFO\]: m)")))
            << line;
    }
    // Modulo a million is the clock's own seconds, not a rebased count.
    EXPECT_EQ(atol(cap.lines().back().c_str() + 1), lt_curr_time() % 1000000) << cap.lines().back();
}

TEST_F(Logger, RelativeStampsCountFromTheFirstRelativeMessage)
{
    LogCapture cap;
    const uint32 rel = lc_log_flag_no_thread_info | lc_log_flag_time_relative;
    LOG_AS(rel, LCL_INFO, "no stamp, no reference");
    lt_clock_advance_for_tests(20);
    LOG_AS(rel | lc_log_flag_time_micro, LCL_INFO, "first");
    lt_clock_advance_for_tests(1250);
    LOG_AS(rel | lc_log_flag_time_milli, LCL_INFO, "second");
    EXPECT_EQ(cap.lines(), (std::vector<std::string>{"[iptrackd.INFO]: no stamp, no reference",
                                                     "[0.000000] [iptrackd.INFO]: first",
                                                     "[1.250] [iptrackd.INFO]: second"}));
}

TEST_F(Logger, ConsoleOutputCarriesDateHostAndProcess)
{
    testing::internal::CaptureStdout();
    init("ipt-con", nullptr, lc_log_flag_no_thread_info, lc_log_output_stdout);
    lc_log_internal("f", "f.cc", 1, 0, 0, LCL_ERR, 0, 0, "to the console");
    lc_log_internal("f", "f.cc", 1, lc_log_flag_no_pid, 0, LCL_ERR, 0, 0, "no pid");
    lc_log_internal("f", "f.cc", 1, lc_log_flag_no_prefix, 0, LCL_ERR, 0, 0, "no prefix");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string pid = std::to_string(getpid());
    const std::regex want(R"([A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d [^ .]* ipt-con\[)" + pid +
                          R"(\]: \[iptrackd\.ERR\]: to the console
[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d [^ .]* ipt-con: \[iptrackd\.ERR\]: no pid
\[iptrackd\.ERR\]: no prefix
)");
    EXPECT_TRUE(std::regex_match(out, want)) << out;
}

// --- Levels ----------------------------------------------------------------

TEST_F(Logger, SuspendAndLevelsDropMessagesUnlessTheDaemonLevelAllowsThem)
{
    LogCapture cap(LCL_NOTICE);
    lc_log_suspend(1);
    lc_log_basic(LCL_EMERG, "dropped while suspended");
    lc_log_suspend(0);
    lc_log_basic(LCL_DEBUG, "dropped");
    lc_log_basic(LCL_NOTICE, "kept");
    LOG_AS(0, LCL_DEBUG, "dropped inside the logger too");
    EXPECT_FALSE(lc_log_check_level(LCL_INFO));

    EXPECT_EQ(lc_log_set_daemon_log_level(LCL_DEBUG), 0);
    EXPECT_TRUE(lc_log_check_level(LCL_DEBUG));
    lc_log_basic(LCL_DEBUG, "written with the daemon level");
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_DEBUG));

    // A daemon level below the effective level wins too.
    EXPECT_EQ(lc_log_set_daemon_log_level(LCL_ERR), 0);
    lc_log_basic(LCL_NOTICE, "dropped below the daemon level");

    EXPECT_EQ(lc_log_set_daemon_log_level(lc_log_daemon_level_unset), 0);
    EXPECT_EQ(lc_log_get_daemon_log_level(), lc_log_daemon_level_unset);
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_NOTICE));
    lc_log_basic(LCL_DEBUG, "dropped again");

    const auto lines = cap.lines();
    ASSERT_EQ(lines.size(), 2u) << cap.dump();
    EXPECT_NE(lines[0].find("]: kept"), std::string::npos);
    EXPECT_NE(lines[1].find("]: written with the daemon level"), std::string::npos);
}

TEST_F(Logger, MaximumLevelOfInitIsTheLastThreshold)
{
    LogCapture cap;
    ASSERT_EQ(lc_log_init("iptrackd", nullptr, 0, iptrackd_word, LCL_WARNING, 136, 1), 0);
    LOG_AS(0, LCL_NOTICE, "above the maximum");
    LOG_AS(0, LCL_WARNING, "at the maximum");
    EXPECT_EQ(lc_log_set_daemon_log_level(LCL_NOTICE), 0);
    LOG_AS(0, LCL_NOTICE, "the daemon level replaces it");
    EXPECT_EQ(cap.lines().size(), 2u) << cap.dump();
    int32 max = -1;
    EXPECT_EQ(ok(lc_log_get_max_log_level(&max), max), LCL_WARNING);
}

TEST_F(Logger, SystemAndOverrideLevelsFollowTheirRules)
{
    LogCapture cap;
    lc_log_set_effective_level_for_tests(-1); // these rules move it
    init();
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_NOTICE); // no level link: 5

    EXPECT_EQ(lc_log_set_max_log_level("info"), 0);
    EXPECT_EQ(lc_log_get_system_log_level(), LCL_INFO);
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_INFO);
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_INFO));
    int32 max = -1;
    // Init's 7 is lowered to the system level.
    EXPECT_EQ(ok(lc_log_get_max_log_level(&max), max), LCL_INFO);

    EXPECT_EQ(lc_log_set_max_log_level("INFO"), lc_err_bad_type);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump(); // passed up quietly

    // One switch alone does not make the override active.
    EXPECT_EQ(lc_log_enable_override_log_level(1, 1), 0);
    EXPECT_EQ(lc_log_set_override_log_level("debug"), 0);
    EXPECT_FALSE(lc_log_override_active());
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_INFO);

    EXPECT_EQ(lc_log_enable_override_log_level(0, 1), 0);
    EXPECT_TRUE(lc_log_override_active());
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_DEBUG);
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_DEBUG));

    // The system level moves underneath an active override.
    EXPECT_EQ(lc_log_set_max_log_level("err"), 0);
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_DEBUG);

    // Per-facility switch off: override level takes the effective level and
    // the system level comes back.
    EXPECT_EQ(lc_log_enable_override_log_level(0, 0), 0);
    EXPECT_EQ(lc_log_get_override_log_level(), LCL_DEBUG);
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_ERR);
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_ERR));

    // An unknown name falls back to the system level and switches off.
    EXPECT_EQ(lc_log_enable_override_log_level(0, 1), 0);
    EXPECT_EQ(lc_log_set_override_log_level("loud"), 0);
    EXPECT_EQ(lc_log_get_override_log_level(), LCL_ERR);
    EXPECT_FALSE(lc_log_override_active());
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_ERR);

    // A re-initialisation with the per-facility switch on takes the override.
    EXPECT_EQ(lc_log_enable_override_log_level(0, 1), 0);
    EXPECT_EQ(lc_log_set_override_log_level("warning"), 0);
    init();
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_WARNING);
}

TEST_F(Logger, ConsolePrefixFreezesTheEffectiveLevel)
{
    LogCapture cap;
    lc_log_set_effective_level_for_tests(-1);
    init("iptrackd", nullptr, 0, lc_log_output_syslog | lc_log_output_stderr);
    const int32 before = lc_log_get_effective_log_level();
    EXPECT_EQ(lc_log_set_max_log_level("debug"), 0);
    EXPECT_EQ(lc_log_enable_override_log_level(1, 1), 0);
    EXPECT_EQ(lc_log_enable_override_log_level(0, 1), 0);
    EXPECT_EQ(lc_log_set_override_log_level("emerg"), 0);
    EXPECT_EQ(lc_log_get_effective_log_level(), before);
    int32 max = -1;
    EXPECT_EQ(ok(lc_log_get_max_log_level(&max), max), LCL_DEBUG);
}

// --- Watched files -----------------------------------------------------------

TEST_F(Logger, LevelLinkAndTimeZoneFileAreExaminedOncePerSecondUnlessManaged)
{
    LogCapture cap;
    lc_log_set_effective_level_for_tests(-1);
    set_link(link_, "6", 1000);
    {
        std::ofstream(tz_) << "zone";
    }
    init();
    EXPECT_EQ(lc_log_get_system_log_level(), LCL_INFO);
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_INFO);

    static std::atomic<int> reloads;
    reloads = 0;
    lc_log_set_tz_change_hook([] { ++reloads; });

    set_link(link_, "3", 2000);
    const timespec ts[2] = {{3000, 0}, {3000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, tz_.c_str(), ts, 0), 0);
    lt_clock_advance_for_tests(1000); // the next second
    LOG_AS(0, LCL_ERR, "examines both");
    LOG_AS(0, LCL_ERR, "same second, not again");
    EXPECT_EQ(lc_log_get_system_log_level(), LCL_ERR);
    EXPECT_EQ(lc_log_get_effective_log_level(), LCL_ERR);
    EXPECT_EQ(lc_log_get_syslog_mask_for_tests(), LOG_UPTO(LOG_ERR));
    EXPECT_EQ(reloads, 1);

    // A target that is not a level is ignored.
    set_link(link_, "loud", 4000);
    lt_clock_advance_for_tests(1000); // the next second
    LOG_AS(0, LCL_ERR, "bad target");
    EXPECT_EQ(lc_log_get_system_log_level(), LCL_ERR);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(cap.lines().size(), 3u) << cap.dump();

    // Processes managed elsewhere watch neither.
    init("sysd");
    const int32 level = lc_log_get_system_log_level();
    set_link(link_, "7", 5000);
    const timespec later[2] = {{6000, 0}, {6000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, tz_.c_str(), later, 0), 0);
    lt_clock_advance_for_tests(1000);
    LOG_AS(0, LCL_ERR, "no watching");
    EXPECT_EQ(lc_log_get_system_log_level(), level);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(cap.lines().back(), "CPU 3 TID 12345: [iptrackd.ERR]: no watching");
}

// --- State --------------------------------------------------------------------

TEST_F(Logger, LoggingWithoutStateCreatesTheUninitLogger)
{
    LogCapture cap;
    EXPECT_EQ(lc_log_close(), 0);
    EXPECT_EQ(lc_log_close(), lc_err_unexpected_null);
    EXPECT_STREQ(lc_log_get_lls_process_name(), "");
    int32 facility = -1;
    EXPECT_EQ(lc_log_get_syslog_facility(&facility), lc_err_unexpected_null);
    EXPECT_EQ(facility, 0);

    // Not from another thread: only the main thread names the process.
    std::thread([] { LOG_AS(0, LCL_ERR, "from a thread"); }).join();
    EXPECT_STREQ(lc_log_get_lls_process_name(), "");

    LOG_AS(0, LCL_ERR, "before init");
    EXPECT_EQ(lc_log_get_lls_process_name(), uninit_name());
    EXPECT_EQ(ok(lc_log_get_syslog_facility(&facility), facility), LOG_USER);
    EXPECT_EQ(cap.lines(),
              std::vector<std::string>{"CPU 3 TID 12345: [unk.ERR]: unk: before init"});
}

// A capture made without state makes the fallback state itself, so that
// lines from other threads are caught.
TEST_F(Logger, CaptureMakesTheFallbackStateForLinesFromOtherThreads)
{
    EXPECT_EQ(lc_log_close(), 0);
    LogCapture cap;
    EXPECT_EQ(lc_log_get_lls_process_name(), uninit_name());
    std::thread([] { LOG_AS(0, LCL_ERR, "from a thread"); }).join();
    EXPECT_EQ(cap.lines(),
              std::vector<std::string>{"CPU 3 TID 12345: [unk.ERR]: unk: from a thread"});
}

TEST_F(Logger, InitNeedsAName)
{
    LogCapture cap;
    EXPECT_EQ(lc_log_init(nullptr, nullptr, 0, 0, 7, 8, 1), lc_err_unexpected_null);
    EXPECT_EQ(cap.count("Unexpected NULL"), 1u);
    EXPECT_STREQ(lc_log_get_lls_process_name(), "iptrackd");
    init("a-process-name-well-over-thirty-one-characters");
    EXPECT_STREQ(lc_log_get_lls_process_name(), "a-process-name-well-over-thirty");
}

TEST_F(Logger, MessagesLostToAFullSocketAreReportedOnce)
{
    LogCapture cap; // pins the level; its sink is replaced below
    eagain_sink sink;
    lc_log_set_sink(&eagain_sink::fn, &sink);
    sink.refuse = 1;
    errno = ENOENT;
    LOG_AS(lc_log_flag_no_thread_info, LCL_ERR, "lost one");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(lc_log_lost_count(), 1u);
    sink.refuse = 2; // the report of the first, then the message itself
    LOG_AS(lc_log_flag_no_thread_info, LCL_ERR, "lost two");
    EXPECT_EQ(lc_log_lost_count(), 2u);
    sink.refuse = 1; // the report itself is refused: the count stays
    LOG_AS(lc_log_flag_no_thread_info, LCL_ERR, "first through");
    EXPECT_EQ(lc_log_lost_count(), 2u);
    LOG_AS(lc_log_flag_no_thread_info, LCL_ERR, "second through");
    EXPECT_EQ(lc_log_lost_count(), 0u);
    const std::vector<std::string> want = {
        "[iptrackd.ERR]: first through",
        "messages lost due to non-blocking syslog (count=2)",
        "[iptrackd.ERR]: second through",
    };
    EXPECT_EQ(sink.lines, want);
    lc_log_set_sink(nullptr, nullptr);
}

// --- Concurrency -----------------------------------------------------------

TEST_F(Logger, ThreadsNeverInterleave)
{
    LogCapture cap;
    constexpr int threads = 4, per_thread = 200;
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t) {
        ts.emplace_back([t] {
            lc_log_init_tls();
            for (int i = 0; i < per_thread; ++i)
                lc_log_basic(LCL_INFO, "thread %d message %d end", t, i);
        });
    }
    for (auto &t : ts) t.join();
    const auto lines = cap.lines();
    ASSERT_EQ(lines.size(), size_t(threads * per_thread));
    const std::regex shape(R"(CPU -?\d+ TID \d+: \[iptrackd\.INFO\]: thread \d message \d+ end)");
    for (const auto &l : lines) ASSERT_TRUE(std::regex_match(l, shape)) << l;
}

TEST_F(Logger, ForkWhileAnotherThreadLogsLeavesTheChildAbleToLog)
{
    std::atomic<bool> stop{false};
    lc_log_suspend(0);
    eagain_sink quiet; // keeps the busy thread off the real syslog
    lc_log_set_sink(&eagain_sink::fn, &quiet);
    std::thread busy([&] {
        while (!stop) lc_log_internal("f", "f.cc", 1, 0, 0, LCL_ERR, 0, 0, "busy");
    });
    for (int i = 0; i < 20; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            lc_log_internal("f", "f.cc", 1, 0, 0, LCL_ERR, 0, 0, "child");
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    stop = true;
    busy.join();
    lc_log_set_sink(nullptr, nullptr);
}

// --- Debug file --------------------------------------------------------------

TEST_F(Logger, DebugFileLinesAreStampedAndTheFileIsCutWhenLarge)
{
    const std::string path = dir_ + "/debug_log";
    EXPECT_EQ(lc_log_file(path.c_str(), "system facility set to %s, %s", "local1", "iptrackd"), 0);
    EXPECT_EQ(lc_log_file(path.c_str(), "second"), 0);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_TRUE(
        std::regex_match(text.str(), std::regex(R"(\d{6} \d{6} system facility set to )"
                                                R"(local1, iptrackd\n\d{6} \d{6} second\n)")))
        << text.str();

    fs::resize_file(path, 2000001);
    EXPECT_EQ(lc_log_file(path.c_str(), "after the cut"), 0);
    EXPECT_LT(fs::file_size(path), 100u);

    EXPECT_EQ(lc_log_file((dir_ + "/no/such/dir").c_str(), "x"), 1);
}

// --- Maps, failure macros, ownership helpers ------------------------------

// The texts the failure macros log are behaviour, so whole lines are
// compared.  The descriptor guard and the container-growth wrapper (an
// allocation failure turns into a null) are what every layer builds on.

// A code listed twice would print the first one's message for both.
TEST_F(LogMaps, ErrorCodeMapHoldsEveryCodeOnce)
{
    std::set<int32> seen;
    for (const lc_enum_string_map *m = lc_error_code_map; m->lesm_name; ++m)
        EXPECT_TRUE(seen.insert(m->lesm_value).second) << m->lesm_value;
}

TEST_F(LogMaps, EnumLookupMissesLogOnlyWhereSaid)
{
    LogCapture cap;
    EXPECT_STREQ(lc_enum_to_string(lc_log_level_names, 3), "ERR");
    EXPECT_STREQ(lc_enum_to_string_quiet(lc_log_level_names, 99), "ERROR-NO-MAP");
    EXPECT_STREQ(lc_enum_to_string_quiet(nullptr, 1), "ERROR-NO-MAP");
    EXPECT_EQ(lc_enum_to_string_quiet_null(lc_log_level_names, 99), nullptr);
    EXPECT_EQ(lc_signed_enum_to_string_quiet_null(lc_log_level_names, -1), nullptr);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    EXPECT_STREQ(lc_enum_to_string(lc_log_level_names, 99), "ERROR-NO-MAP");
    EXPECT_EQ(cap.count("]: Could not find a mapping for enum value 99 "
                        "(first=EMERG,last=DEBUG,size=8)"),
              1u)
        << cap.dump();

    cap.clear();
    EXPECT_EQ(lc_enum_to_string_quiet_null(nullptr, 1), nullptr);
    EXPECT_EQ(cap.count("Unexpected NULL"), 1u) << cap.dump();
}

TEST_F(LogMaps, StringToEnumIsExactAndCaseSensitive)
{
    LogCapture cap;
    int32 v = 42;
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, "DEBUG", &v), lc_err_bad_type);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ok(lc_string_to_enum(lc_log_level_config_names, "debug", &v), v), 7);
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, "debu", &v), lc_err_bad_type);
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, "", &v), lc_err_bad_type);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    EXPECT_EQ(lc_string_to_enum(nullptr, "debug", &v), lc_err_unexpected_null);
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, nullptr, &v), lc_err_unexpected_null);
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, "debug", nullptr),
              lc_err_unexpected_null);
    EXPECT_EQ(cap.count("Unexpected NULL"), 3u) << cap.dump();
}

TEST_F(LogMaps, StringToStringLogsMisses)
{
    static const lc_string_string_map map[] = {{"a", "alpha"}, {"b", "beta"}, {nullptr, nullptr}};
    LogCapture cap;
    EXPECT_STREQ(lc_string_to_string(map, "b"), "beta");
    EXPECT_TRUE(cap.lines().empty());
    EXPECT_STREQ(lc_string_to_string(map, "c"), "ERROR-NO-MAP");
    EXPECT_EQ(cap.count("]: Could not find a mapping for string value c (first=a,last=b,size=2)"),
              1u)
        << cap.dump();
}

// The failure macros log from the failing function and line, return the
// code, and leave errno as it was.
TEST_F(LogMaps, BailErrorLogsTheCodeWithItsMessageAndReturnsIt)
{
    LogCapture cap;
    errno = EPIPE;
    EXPECT_EQ(fail_with(lc_err_not_found), lc_err_not_found);
    EXPECT_EQ(errno, EPIPE);
    ASSERT_EQ(cap.lines().size(), 1u) << cap.dump();
    EXPECT_EQ(cap.lines()[0],
              failure_line("fail_with", g_line, "Error code 14004 (item not found) returned"));
    EXPECT_EQ(cap.priorities()[0], LCL_ERR);

    cap.clear();
    EXPECT_EQ(fail_with(777), 777);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{
                               failure_line("fail_with", g_line, "Error code 777 returned")});

    // Success, the quiet code and the quiet bail log nothing.
    cap.clear();
    EXPECT_EQ(fail_with(0), 0);
    EXPECT_EQ(fail_with(lc_err_cancelled), lc_err_cancelled);
    EXPECT_EQ(fail_quietly(lc_err_not_found), lc_err_not_found);
    EXPECT_EQ(fail_quietly(0), 0);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST_F(LogMaps, BailForceNullAndRequireWriteTheirTexts)
{
    LogCapture cap;
    errno = EPIPE;
    EXPECT_EQ(force_with(lc_err_exists), lc_err_exists);
    const int force_line = g_line;
    EXPECT_EQ(force_with(5), 5);
    EXPECT_EQ(need_pointer(nullptr), lc_err_unexpected_null);
    const int null_line = g_line;
    int x = 1;
    EXPECT_EQ(need_pointer(&x), 0);
    EXPECT_EQ(need_positive(0), lc_err_assertion_failed);
    const int require_line = g_line;
    EXPECT_EQ(need_positive(1), 0);
    EXPECT_EQ(errno, EPIPE);

    const std::vector<std::string> want = {
        failure_line("force_with", force_line,
                     "Bail forced with error code 14005 (item unexpectedly already exists)"),
        failure_line("force_with", force_line, "Bail forced with error code 5"),
        failure_line("need_pointer", null_line, "Unexpected NULL"),
        failure_line("need_positive", require_line, "Required condition was not met"),
    };
    EXPECT_EQ(cap.lines(), want) << cap.dump();
}

TEST(SignalNames, NamesKnownSignalsOnly)
{
    EXPECT_STREQ(lc_signal_num_to_name(SIGTERM), "SIGTERM");
    for (int sig : {0, -3, 200}) EXPECT_STREQ(lc_signal_num_to_name(sig), "UNKNOWN") << sig;
}

TEST(UniqueFd, OwnsItsDescriptorUntilReleasedOrMoved)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        lc_unique_fd r(fds[0]);
        lc_unique_fd w(fds[1]);
        w.reset();
        EXPECT_FALSE(w);
        EXPECT_FALSE(is_open(fds[1]));
        EXPECT_TRUE(is_open(fds[0]));
    }
    EXPECT_FALSE(is_open(fds[0])); // closed on scope exit

    ASSERT_EQ(pipe(fds), 0);
    lc_unique_fd w(fds[1]);
    int kept;
    {
        lc_unique_fd r(fds[0]);
        kept = r.release();
        EXPECT_EQ(r.get(), -1);
    }
    EXPECT_TRUE(is_open(kept));

    // A move hands the descriptor over; the target's old one closes.
    lc_unique_fd a(kept);
    lc_unique_fd b(std::move(a));
    EXPECT_FALSE(a);
    w = std::move(b);
    EXPECT_FALSE(is_open(fds[1]));
    EXPECT_EQ(w.get(), kept);

    errno = ENOENT;
    w.reset();
    EXPECT_EQ(errno, ENOENT); // closing keeps errno
    EXPECT_FALSE(is_open(kept));
}

TEST(Grow, ReturnsTheObjectOrNullWhenAllocationFails)
{
    std::vector<int> v;
    EXPECT_EQ(lc_grow(&v, [&] { v.push_back(7); }), &v);
    EXPECT_EQ(v.size(), 1u);

    EXPECT_EQ(lc_grow(&v, [&] { v.reserve(v.max_size() + 1); }), nullptr); // length_error
    EXPECT_EQ(lc_grow(&v, [] { throw std::bad_alloc(); }), nullptr);
    EXPECT_EQ(v.size(), 1u);
}
