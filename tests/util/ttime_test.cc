#include "util/ttime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "log/logging.h"
#include "support/call_ok.h"
#include "support/log_capture.h"

namespace
{

// 2024/07/01 12:00:00 UTC, in summer time for both test zones.
constexpr lt_time_sec summer_noon_utc = 1719835200;
// 2024/01/15 12:00:00 UTC, in winter time.
constexpr lt_time_sec winter_noon_utc = 1705320000;

bool have_zone(const char *name)
{
    return access((std::string("/usr/share/zoneinfo/") + name).c_str(), R_OK) == 0;
}

// A named zone when the zone files are installed, else the same rules as a
// POSIX TZ string.
const char *berlin()
{
    return have_zone("Europe/Berlin") ? "Europe/Berlin" : "CET-1CEST,M3.5.0,M10.5.0/3";
}
const char *new_york()
{
    return have_zone("America/New_York") ? "America/New_York" : "EST5EDT,M3.2.0,M11.1.0";
}

std::string take(char *s)
{
    std::string out = s ? s : "(null)";
    free(s);
    return out;
}

// Every test starts and ends in UTC; zone() moves it elsewhere in between.
class TimeTest : public ::testing::Test
{
  protected:
    void SetUp() override { zone("UTC"); }
    void TearDown() override { zone("UTC"); }
    static void zone(const char *tz)
    {
        setenv("TZ", tz, 1);
        EXPECT_EQ(lt_reload_time_zone(), 0);
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Printing and the fraction rule

TEST_F(TimeTest, FractionRuleAndRoomInTheBuffer)
{
    const lt_time_us minute = 60 * 1000000LL;
    struct Case {
        lt_time_us us;
        const char *text;
    } cases[] = {
        {minute + 1250000, "1970/01/01 00:01:01.250"},
        {minute + 1000001, "1970/01/01 00:01:01.000001"},
        {minute + 1000000, "1970/01/01 00:01:01"},
        {minute + 1999999, "1970/01/01 00:01:01.999999"},
        {minute + 1001000, "1970/01/01 00:01:01.001"},
    };
    for (const auto &c : cases) {
        char *s = nullptr;
        EXPECT_EQ(take(ok(lt_datetime_us_to_str_utc(c.us, 0, &s), s)), c.text);
        lt_time_us back = 0; // and back, exactly
        EXPECT_EQ(ok(lt_str_utc_to_datetime_us(c.text, &back), back), c.us) << c.text;
    }
    // The milliseconds form takes the same rule.
    char buf[64];
    EXPECT_STREQ(ok(lt_datetime_ms_to_buf_utc(61250, 0, sizeof buf, buf), buf),
                 "1970/01/01 00:01:01.250");
    EXPECT_STREQ(ok(lt_daytime_us_to_buf(45015000001LL, sizeof buf, buf), buf), "12:30:15.000001");
    // Before the epoch the fraction still counts forward from the second.
    EXPECT_STREQ(ok(lt_datetime_ms_to_buf_utc(-750, 0, sizeof buf, buf), buf),
                 "1969/12/31 23:59:59.250");

    // The fraction needs ten bytes of room; without it the text must still fit.
    LogCapture cap;
    const lt_time_us t = 61250000; // 19 characters before the fraction
    EXPECT_STREQ(ok(lt_datetime_us_to_buf_utc(t, 0, 29, buf), buf), "1970/01/01 00:01:01.250");
    EXPECT_STREQ(ok(lt_datetime_us_to_buf_utc(t, 0, 28, buf), buf), "1970/01/01 00:01:01")
        << "fraction dropped for want of room";
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    EXPECT_EQ(lt_datetime_us_to_buf_utc(t, 0, 19, buf), lc_err_assertion_failed);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(lt_datetime_us_to_buf_utc(t, 1, 29, buf), lc_err_assertion_failed)
        << "no room for the zone";
    EXPECT_EQ(lt_date_to_buf(0, 10, buf), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Required condition was not met"), 3u) << cap.dump();

    EXPECT_STREQ(ok(lt_date_to_buf(summer_noon_utc - 43200, sizeof buf, buf), buf), "2024/07/01");
    EXPECT_STREQ(ok(lt_daytime_sec_to_buf(45015, sizeof buf, buf), buf), "12:30:15");
    EXPECT_STREQ(ok(lt_daytime_ms_to_buf(lt_ms_per_day - 1, sizeof buf, buf), buf), "23:59:59.999");
    EXPECT_EQ(lt_daytime_sec_to_buf(86400, sizeof buf, buf), lc_err_assertion_failed);
    EXPECT_EQ(lt_daytime_sec_to_buf(-1, sizeof buf, buf), lc_err_assertion_failed);
}

// ---------------------------------------------------------------------------
// Parsing

TEST_F(TimeTest, ParsingDaytimesAndDates)
{
    lt_daytime_sec sec = -1;
    EXPECT_EQ(ok(lt_str_to_daytime_sec("12:30", &sec), sec), 12 * 3600 + 30 * 60);
    lt_daytime_ms ms = 0;
    EXPECT_EQ(ok(lt_str_to_daytime_ms("12:30:15.5", &ms), ms), 45015500);
    lt_daytime_us us = 0;
    EXPECT_EQ(ok(lt_str_to_daytime_us("00:00:00.1234567", &us), us), 123456)
        << "digits past the sixth are truncated";
    EXPECT_EQ(ok(lt_str_to_daytime_sec("23:59:59.9", &sec), sec), 86399)
        << "the seconds form drops the fraction";
    // Dates parse as UTC midnight; leap days are kept.
    lt_date d = 0;
    EXPECT_EQ(ok(lt_str_to_date("2024/2/29", &d), d), 1709164800);
    char buf[16];
    EXPECT_STREQ(ok(lt_date_to_buf(d, sizeof buf, buf), buf), "2024/02/29");
    EXPECT_EQ(ok(lt_str_to_date("1970/01/01", &d), d), 0);

    // Malformed texts fail quietly with bad type.
    LogCapture cap;
    sec = 7;
    for (const char *bad : {"25:00", "12:60", "12", "12:30:", "12:30:61", "12:30:00.", "12:30 ",
                            " 12:30", "12-30", "", "1:2:3:4"}) {
        EXPECT_EQ(lt_str_to_daytime_sec(bad, &sec), lc_err_bad_type) << '"' << bad << '"';
        EXPECT_EQ(sec, 0);
    }
    lt_date date = 0;
    for (const char *bad : {"2024/02/30", "2023/02/29", "2024/13/01", "2024/1/1 ", "2024-01-01",
                            "2024/01", "1800/01/01", "2024/01/01 00:00"}) {
        EXPECT_EQ(lt_str_to_date(bad, &date), lc_err_bad_type) << '"' << bad << '"';
    }
    lt_time_sec t = 0;
    EXPECT_EQ(lt_str_utc_to_datetime_sec("2024/01/05 10:00", &t), lc_err_bad_type)
        << "the UTC date-time form needs the seconds";
    EXPECT_EQ(lt_str_to_datetime_sec("2024/01/05", &t), lc_err_bad_type);
    EXPECT_EQ(lt_str_to_datetime_sec("2040/01/01 00:00:00", &t), lc_err_bad_type)
        << "beyond 32-bit seconds";
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();

    EXPECT_EQ(lt_str_to_date(nullptr, &date), lc_err_unexpected_null);
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
}

// ---------------------------------------------------------------------------
// Local time

TEST_F(TimeTest, LocalTextsRoundTripInAnotherZone)
{
    for (const char *tz : {berlin(), new_york()}) {
        SCOPED_TRACE(tz);
        zone(tz);
        const bool east = strcmp(tz, berlin()) == 0;
        struct Case {
            lt_time_us us;
            const char *text;
        } cases[] = {
            {summer_noon_utc * 1000000LL + 250000,
             east ? "2024/07/01 14:00:00.250 +0200" : "2024/07/01 08:00:00.250 -0400"},
            {winter_noon_utc * 1000000LL + 1,
             east ? "2024/01/15 13:00:00.000001 +0100" : "2024/01/15 07:00:00.000001 -0500"},
            {winter_noon_utc * 1000000LL,
             east ? "2024/01/15 13:00:00 +0100" : "2024/01/15 07:00:00 -0500"},
        };
        for (const auto &c : cases) {
            char buf[64];
            EXPECT_STREQ(ok(lt_datetime_us_to_buf(c.us, 1, sizeof buf, buf), buf), c.text);
            // Parsing takes the text without the zone, as local time.
            const std::string local(c.text, strrchr(c.text, ' '));
            lt_time_us back = 0;
            EXPECT_EQ(ok(lt_str_to_datetime_us(local.c_str(), &back), back), c.us) << local;
            lt_time_ms back_ms = 0;
            EXPECT_EQ(ok(lt_str_to_datetime_ms(local.c_str(), &back_ms), back_ms), c.us / 1000);
            lt_time_sec back_sec = 0;
            EXPECT_EQ(ok(lt_str_to_datetime_sec(local.c_str(), &back_sec), back_sec),
                      lt_time_sec(c.us / 1000000));
        }
        // The UTC forms ignore the zone.
        char *s = nullptr;
        EXPECT_EQ(take(ok(lt_datetime_sec_to_str_utc(summer_noon_utc, 1, &s), s)),
                  "2024/07/01 12:00:00 +0000");
        lt_time_sec t = 0;
        EXPECT_EQ(ok(lt_str_utc_to_datetime_sec("2024/07/01 12:00:00", &t), t), summer_noon_utc);
        // Without seconds, local.
        EXPECT_EQ(ok(lt_str_to_datetime_sec(east ? "2024/07/01 14:00" : "2024/07/01 08:00", &t), t),
                  summer_noon_utc);
    }
}

TEST_F(TimeTest, LocalSplitAndTimevalConversions)
{
    zone(berlin());
    // 00:30 on July 1st in Berlin is 22:30 on June 30th in UTC.
    const lt_time_sec t = summer_noon_utc - 13 * 3600 - 1800;
    lt_date date = 0;
    lt_daytime_sec daytime = 0;
    EXPECT_EQ(ok(lt_time_to_date_daytime_sec(t, &date, &daytime), date),
              summer_noon_utc - 14 * 3600);
    EXPECT_EQ(daytime, 1800);
    lt_time_sec back = 0;
    EXPECT_EQ(ok(lt_date_daytime_to_time_sec(date, daytime, &back), back), t);

    lt_daytime_us daytime_us = 0;
    EXPECT_EQ(ok(lt_time_to_date_daytime_us(t * 1000000LL + 7, &date, &daytime_us), daytime_us),
              1800000007);

    // The UTC split of the same instant is on the previous day.
    EXPECT_EQ(ok(lt_time_to_date_daytime_utc_sec(t, &date, &daytime), date),
              summer_noon_utc - 43200 - 86400);
    EXPECT_EQ(daytime, 22 * 3600 + 1800);

    // Broken-down local time, both ways.
    tm broken{};
    EXPECT_EQ(ok(lt_time_sec_to_tm(summer_noon_utc, &broken), broken).tm_hour, 14);
    broken.tm_isdst = -1;
    EXPECT_EQ(ok(lt_tm_to_time_sec(&broken, &back), back), summer_noon_utc);
    EXPECT_EQ(ok(lt_time_sec_to_tm_utc(summer_noon_utc, &broken), broken).tm_hour, 12);
    lt_time_ms back_ms = 0;
    EXPECT_EQ(ok(lt_tm_utc_to_time_ms(&broken, &back_ms), back_ms), summer_noon_utc * 1000LL);

    timeval tv{0, 900000};
    auto parts = [&](int rc) { return std::pair{ok(rc, tv).tv_sec, tv.tv_usec}; };
    EXPECT_EQ(parts(lt_timeval_add_ms(&tv, 1500)), std::pair(time_t{2}, suseconds_t{400000}));
    EXPECT_EQ(parts(lt_timeval_add_ms(&tv, -2600)), std::pair(time_t{-1}, suseconds_t{800000}));
    EXPECT_EQ(parts(lt_time_ms_to_timeval(-1500, &tv)), std::pair(time_t{-2}, suseconds_t{500000}));
    lt_time_ms ms = 0;
    EXPECT_EQ(ok(lt_timeval_to_time_ms(&tv, &ms), ms), -1500);
    ASSERT_EQ(lt_time_us_to_timeval(1234567, &tv), 0);
    lt_time_us us = 0;
    EXPECT_EQ(ok(lt_timeval_to_time_us(&tv, &us), us), 1234567);
    EXPECT_EQ(ok(lt_timeval_to_time_ms(&tv, &ms), ms), 1234);
}

TEST_F(TimeTest, LoggerReloadsTheZoneWhenTheZoneFileChanges)
{
    char path[] = "/tmp/ttime_test_localtime_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    lc_log_set_watch_paths_for_tests(nullptr, path);
    LogCapture cap;
    ASSERT_EQ(lc_log_init("ttime_test", nullptr, 0,
                          lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG, LOG_LOCAL1,
                          lc_log_output_syslog),
              0);
    lt_clock_set_manual_for_tests(0, 0);
    lc_log_basic(LCL_NOTICE, "first look");
    const uint32 before = lt_time_zone_reloads_for_tests();

    // A new modification time, examined at a later second than the last look.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0);
    lc_log_basic(LCL_NOTICE, "same second");
    EXPECT_EQ(lt_time_zone_reloads_for_tests(), before);
    lt_clock_advance_for_tests(1000);
    lc_log_basic(LCL_NOTICE, "after the zone file changed");
    EXPECT_EQ(lt_time_zone_reloads_for_tests(), before + 1) << cap.dump();

    lt_clock_restore_for_tests();
    lc_log_set_watch_paths_for_tests(nullptr, nullptr);
    unlink(path);
}

// ---------------------------------------------------------------------------
// Splitting, timeval

TEST_F(TimeTest, UtcSplitAndJoinRefuseNegativeValues)
{
    LogCapture cap;
    lt_date date = 1;
    lt_daytime_ms daytime = 1;
    EXPECT_EQ(ok(lt_time_to_date_daytime_utc_ms(86400000LL * 3 + 5, &date, &daytime), date),
              86400 * 3);
    EXPECT_EQ(daytime, 5);
    lt_time_ms t = 0;
    EXPECT_EQ(ok(lt_date_daytime_utc_to_time_ms(date, daytime, &t), t), 86400000LL * 3 + 5);

    EXPECT_EQ(lt_time_to_date_daytime_utc_ms(-1, &date, &daytime), lc_err_assertion_failed);
    EXPECT_EQ(date, 0);
    EXPECT_EQ(daytime, 0);
    EXPECT_EQ(lt_date_daytime_utc_to_time_ms(-86400, 0, &t), lc_err_assertion_failed);
    EXPECT_EQ(lt_date_daytime_utc_to_time_ms(0, -1, &t), lc_err_assertion_failed);
    lt_time_sec sec = 0;
    EXPECT_EQ(lt_date_daytime_utc_to_time_sec(INT32_MAX - 10, 11, &sec), lc_err_assertion_failed)
        << "the sum must fit";
    EXPECT_EQ(cap.count("Required condition was not met"), 4u) << cap.dump();
}

// ---------------------------------------------------------------------------
// Durations

TEST_F(TimeTest, DurationTextsInEveryUnitAndRefusals)
{
    lt_dur_us us = 0;
    lt_dur_ms ms = 0;
    lt_dur_sec sec = 0;
    EXPECT_EQ(ok(lt_str_to_dur_us("1.5", &us), us), 1500000);
    EXPECT_EQ(ok(lt_str_to_dur_ms("1.5", &ms), ms), 1500);
    EXPECT_EQ(ok(lt_str_to_dur_sec("1.5", &sec), sec), 1);

    // The printed form parses back.
    char *text = nullptr;
    EXPECT_STREQ(ok(lt_dur_us_to_str(1500000, &text), text), "1.500000 seconds");
    EXPECT_EQ(ok(lt_str_to_dur_us(text, &us), us), 1500000);
    free(text);
    EXPECT_EQ(take(ok(lt_dur_sec_to_str(90, &text), text)), "90.000000 seconds");
    EXPECT_EQ(take(ok(lt_dur_ms_to_str(-250, &text), text)), "-0.250000 seconds");
    ASSERT_EQ(lt_dur_us_to_str(INT64_MIN, &text), 0) << "the widest fits the 36-byte buffer";
    free(text);

    struct Case {
        const char *text;
        lt_dur_us us;
    } cases[] = {
        {"4.35", 4350000}, // exact, not a microsecond short
        {"0.000001", 1},          {"0.0000019", 1},    {"-2.5", -2500000},
        {"  7 seconds", 7000000}, {"1e3", 1000000000}, {".5", 500000},
    };
    for (const auto &c : cases) EXPECT_EQ(ok(lt_str_to_dur_us(c.text, &us), us), c.us) << c.text;

    LogCapture cap;
    us = 5;
    for (const char *bad : {"", "seconds", "inf", "nan", "1e300", "-"}) {
        EXPECT_EQ(lt_str_to_dur_us(bad, &us), lc_err_bad_type) << bad;
        EXPECT_EQ(us, 0);
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
    EXPECT_EQ(lt_str_to_dur_sec("-1", &sec), lc_err_assertion_failed);
    EXPECT_EQ(lt_str_to_dur_sec("2147483648", &sec), lc_err_assertion_failed);
    EXPECT_EQ(ok(lt_str_to_dur_sec("2147483647.9", &sec), sec), INT32_MAX);
    EXPECT_EQ(cap.count("Required condition was not met"), 2u) << cap.dump();
}

TEST_F(TimeTest, CounterStringDropsLeadingZeroFields)
{
    struct Case {
        lt_dur_ms ms;
        tbool fixed, units;
        const char *text;
    } cases[] = {
        {0, 0, 1, "0 seconds"},
        {1000, 0, 1, "1 second"},
        {61000, 0, 1, "1 minute 1 second"},
        {3600000, 0, 1, "1 hour 0 minutes 0 seconds"},
        {2 * 86400000LL + 3600000 + 5250, 0, 1, "2 days 1 hour 0 minutes 5.250 seconds"},
        {86400000LL + 61000, 1, 1, " 1 day  0 hours  1 minute  1 second"},
        {5000, 1, 1, " 0 days  0 hours  0 minutes  5 seconds"},
        {3723000, 0, 0, "1 2 3"},
    };
    char *s = nullptr;
    for (const auto &c : cases) {
        // Trimmed: the leading padding of the fixed form goes too.
        const std::string want = c.text + strspn(c.text, " ");
        EXPECT_EQ(take(ok(lt_dur_ms_to_counter_str_ex(c.ms, &s, c.fixed, c.units), s)), want)
            << c.ms;
    }
    EXPECT_EQ(take(ok(lt_dur_ms_to_counter_str(90061000, &s), s)),
              "1 day 1 hour 1 minute 1 second");
    LogCapture cap;
    EXPECT_EQ(lt_dur_ms_to_counter_str(-1, &s), lc_err_assertion_failed);
    EXPECT_EQ(s, nullptr);
}

// ---------------------------------------------------------------------------
// Clocks

TEST_F(TimeTest, UptimeFileAndManualClock)
{
    char path[] = "/tmp/ttime_test_uptime_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "12345.678 999.00\n";
    EXPECT_EQ(lt_sys_uptime_ms_from_for_tests(path), 12345678);
    std::ofstream(path) << "none\n";
    EXPECT_EQ(lt_sys_uptime_ms_from_for_tests(path), 0);
    unlink(path);
    EXPECT_EQ(lt_sys_uptime_ms_from_for_tests(path), 0);

    EXPECT_GT(lt_sys_uptime_ms(), 0);

    const lt_time_us wall_before = lt_curr_time_us();
    lt_clock_set_manual_for_tests(5000000, 7000);
    const lt_time_us wall = lt_curr_time_us();
    EXPECT_GE(wall, wall_before); // starts at the real time of day
    EXPECT_EQ(lt_sys_monotonic_us(), 5000000);
    EXPECT_EQ(lt_sys_uptime_ms(), 7000);
    EXPECT_EQ(lt_curr_time_us(), wall);

    // Every reading moves by the same amount, whichever thread moves it.
    std::thread([] { lt_clock_advance_for_tests(1500); }).join();
    EXPECT_EQ(lt_sys_monotonic_us(), 6500000);
    EXPECT_EQ(lt_sys_monotonic_ms(), 6500);
    EXPECT_EQ(lt_sys_uptime_ms(), 8500);
    EXPECT_EQ(lt_curr_time_us(), wall + 1500000);
    EXPECT_EQ(lt_curr_time_ms(), (wall + 1500000) / 1000);
    EXPECT_EQ(lt_curr_time(), (wall + 1500000) / 1000000);

    // Set again, it may go back.
    lt_clock_set_manual_for_tests(1000, 1);
    EXPECT_EQ(lt_sys_monotonic_us(), 1000);

    lt_clock_restore_for_tests();
    const lt_time_us mono = lt_sys_monotonic_us();
    EXPECT_GT(mono, 1000);
    EXPECT_GE(lt_sys_monotonic_us(), mono);
    EXPECT_GE(lt_curr_time_us(), wall_before);
}
