// Error codes, enum maps and the failure macros: the texts they log are
// behaviour, so whole lines are compared.  Also the ownership helpers every
// layer builds on: the descriptor guard and the container-growth wrapper
// that turns an allocation failure into a null.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "log/common.h"
#include "log/logging.h"
#include "support/log_capture.h"

namespace
{

class LogMaps : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        (void)lc_log_close();
        ASSERT_EQ(lc_log_init("iptrackd", nullptr, 0,
                              lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG, 136,
                              lc_log_output_syslog),
                  0);
    }
    void TearDown() override { (void)lc_log_close(); }

    // The line a failure macro writes from `function` at `line` of this file,
    // which the line names by its path from the source root.
    static std::string failure_line(const char *function, int line, const std::string &text)
    {
        lc_log_init_tls();
        char head[128];
        snprintf(head, sizeof head, "CPU %d TID %lu: [iptrackd.ERR]: ", lc_log_tls_cpu(),
                 (unsigned long)lc_log_tls_tid());
        return std::string(head) + function +
               "(), tests/log/log_maps_test.cc:" + std::to_string(line) + ", build " + lc_build_id +
               ": " + text;
    }
};

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
    EXPECT_EQ(lc_string_to_enum(lc_log_level_config_names, "debug", &v), 0);
    EXPECT_EQ(v, 7);
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
