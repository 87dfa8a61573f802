// Time values: clocks, conversions and the text forms of times and durations.
//
// Time is kept as plain integers: seconds (32-bit), milliseconds or
// microseconds (64-bit) since 1970-01-01 00:00:00 UTC for points in time, the
// same units since midnight for times of day, and signed counts for
// durations.  The text forms here are the ones the date, time-of-day,
// date-time and duration attribute types print and parse.
//
// Local-time conversions use the process's time zone; the logger watches the
// zone file and calls lt_reload_time_zone (registered as its hook when this
// module is linked in), and the management layer calls it on a zone-change
// event.  Strings returned through `char **` are malloc'd and owned by the
// caller; `_to_buf` forms write into the caller's buffer of `size` bytes and
// fail with lc_err_assertion_failed when the text does not fit.
#pragma once

#include <ctime>
#include <sys/time.h>

#include "log/common.h"
#include "util/ttime_types.h"

constexpr int64 lt_sec_per_day = 86400;
constexpr int64 lt_ms_per_day = 86400000;
constexpr int64 lt_us_per_day = 86400000000;
// The `_to_str` forms of durations print into a buffer of this size.
constexpr uint32 lt_dur_str_size = 36;
// The fraction of a second is appended only when this much room is left.
constexpr uint32 lt_fraction_room = 10;

// ---------------------------------------------------------------------------
// Clocks

// Wall clock.
lt_time_sec lt_curr_time();
lt_time_ms lt_curr_time_ms(); // seconds * 1000 + microseconds / 1000
lt_time_us lt_curr_time_us();
// Milliseconds since boot: the first number of /proc/uptime, truncated; 0
// when the file cannot be read or holds no number.
lt_time_ms lt_sys_uptime_ms();
// The same reading from another file, for tests.
lt_time_ms lt_sys_uptime_ms_from_for_tests(const char *path);
// Monotonic clock, for measuring intervals (the manual clock below while a
// test has installed it).
lt_time_ms lt_sys_monotonic_ms();
lt_time_us lt_sys_monotonic_us();

// The clock seam.  Every monotonic and since-boot reading of the libraries
// and the daemon goes through lt_sys_monotonic_us/_ms and lt_sys_uptime_ms,
// and nothing else reads those clocks; the time of day goes through
// lt_curr_time* (and the logger reads it from here too).  A test installs a
// manual clock, which stands still until the test moves it, so no test
// sleeps to let time pass.  Safe to call from any thread.
//
// The manual clock starts at the given monotonic and since-boot readings and
// at the real time of day of the call.
void lt_clock_set_manual_for_tests(lt_time_us monotonic_us, lt_time_ms uptime_ms);
// Moves the manual clock (all three readings) forward by `ms`.
void lt_clock_advance_for_tests(lt_time_ms ms);
// Back to the real clocks.
void lt_clock_restore_for_tests();

// ---------------------------------------------------------------------------
// Splitting and joining.  The UTC forms refuse negative inputs; the local
// forms take the date as the instant of local midnight (which may lie before
// the epoch) and join by plain addition, so a split joins back exactly.
// Either output pointer of a split may be null.

[[nodiscard]] int lt_time_to_date_daytime_utc_sec(lt_time_sec t, lt_date *ret_date,
                                                  lt_daytime_sec *ret_daytime);
[[nodiscard]] int lt_time_to_date_daytime_utc_ms(lt_time_ms t, lt_date *ret_date,
                                                 lt_daytime_ms *ret_daytime);
[[nodiscard]] int lt_time_to_date_daytime_utc_us(lt_time_us t, lt_date *ret_date,
                                                 lt_daytime_us *ret_daytime);
[[nodiscard]] int lt_date_daytime_utc_to_time_sec(lt_date date, lt_daytime_sec daytime,
                                                  lt_time_sec *ret);
[[nodiscard]] int lt_date_daytime_utc_to_time_ms(lt_date date, lt_daytime_ms daytime,
                                                 lt_time_ms *ret);
[[nodiscard]] int lt_date_daytime_utc_to_time_us(lt_date date, lt_daytime_us daytime,
                                                 lt_time_us *ret);
[[nodiscard]] int lt_time_to_date_daytime_sec(lt_time_sec t, lt_date *ret_date,
                                              lt_daytime_sec *ret_daytime);
[[nodiscard]] int lt_time_to_date_daytime_ms(lt_time_ms t, lt_date *ret_date,
                                             lt_daytime_ms *ret_daytime);
[[nodiscard]] int lt_time_to_date_daytime_us(lt_time_us t, lt_date *ret_date,
                                             lt_daytime_us *ret_daytime);
[[nodiscard]] int lt_date_daytime_to_time_sec(lt_date date, lt_daytime_sec daytime,
                                              lt_time_sec *ret);
[[nodiscard]] int lt_date_daytime_to_time_ms(lt_date date, lt_daytime_ms daytime, lt_time_ms *ret);
[[nodiscard]] int lt_date_daytime_to_time_us(lt_date date, lt_daytime_us daytime, lt_time_us *ret);

// ---------------------------------------------------------------------------
// timeval and broken-down time.  Negative values give a normalised timeval
// (0 <= tv_usec < 1000000).

[[nodiscard]] int lt_time_sec_to_timeval(lt_time_sec t, struct timeval *ret);
[[nodiscard]] int lt_time_ms_to_timeval(lt_time_ms t, struct timeval *ret);
[[nodiscard]] int lt_time_us_to_timeval(lt_time_us t, struct timeval *ret);
[[nodiscard]] int lt_timeval_to_time_sec(const struct timeval *tv, lt_time_sec *ret);
[[nodiscard]] int lt_timeval_to_time_ms(const struct timeval *tv, lt_time_ms *ret);
[[nodiscard]] int lt_timeval_to_time_us(const struct timeval *tv, lt_time_us *ret);
// Adds `ms` (may be negative) and carries the microseconds into the seconds.
[[nodiscard]] int lt_timeval_add_ms(struct timeval *tv, int64 ms);

// To broken-down local time (UTC for the `_utc` form).
[[nodiscard]] int lt_time_sec_to_tm(lt_time_sec t, struct tm *ret);
[[nodiscard]] int lt_time_sec_to_tm_utc(lt_time_sec t, struct tm *ret);
[[nodiscard]] int lt_time_ms_to_tm(lt_time_ms t, struct tm *ret);
[[nodiscard]] int lt_time_us_to_tm(lt_time_us t, struct tm *ret);
// From broken-down local time (as mktime: tm_isdst -1 lets the zone decide)
// or UTC time.  A time outside the type's range fails with
// lc_err_assertion_failed.
[[nodiscard]] int lt_tm_to_time_sec(const struct tm *tm, lt_time_sec *ret);
[[nodiscard]] int lt_tm_to_time_ms(const struct tm *tm, lt_time_ms *ret);
[[nodiscard]] int lt_tm_to_time_us(const struct tm *tm, lt_time_us *ret);
[[nodiscard]] int lt_tm_utc_to_time_sec(const struct tm *tm, lt_time_sec *ret);
[[nodiscard]] int lt_tm_utc_to_time_ms(const struct tm *tm, lt_time_ms *ret);
[[nodiscard]] int lt_tm_utc_to_time_us(const struct tm *tm, lt_time_us *ret);

// ---------------------------------------------------------------------------
// Printing.
//
// Fraction rule (after the seconds of time-of-day and date-time texts):
// nothing for a whole second or when fewer than lt_fraction_room bytes of
// the buffer remain; otherwise "." and three digits for a whole millisecond,
// else "." and six digits.

// "%Y/%m/%d" in UTC.
[[nodiscard]] int lt_date_to_buf(lt_date date, uint32 size, char *buf);
[[nodiscard]] int lt_date_to_str(lt_date date, char **ret);
// "%H:%M:%S" of a time of day (0 to below one day), then the fraction.
[[nodiscard]] int lt_daytime_sec_to_buf(lt_daytime_sec t, uint32 size, char *buf);
[[nodiscard]] int lt_daytime_ms_to_buf(lt_daytime_ms t, uint32 size, char *buf);
[[nodiscard]] int lt_daytime_us_to_buf(lt_daytime_us t, uint32 size, char *buf);
[[nodiscard]] int lt_daytime_sec_to_str(lt_daytime_sec t, char **ret);
[[nodiscard]] int lt_daytime_ms_to_str(lt_daytime_ms t, char **ret);
[[nodiscard]] int lt_daytime_us_to_str(lt_daytime_us t, char **ret);
// "%Y/%m/%d %H:%M:%S" in local time, then the fraction, then " %z" when
// `with_zone` is set.
[[nodiscard]] int lt_datetime_sec_to_buf(lt_time_sec t, tbool with_zone, uint32 size, char *buf);
[[nodiscard]] int lt_datetime_ms_to_buf(lt_time_ms t, tbool with_zone, uint32 size, char *buf);
[[nodiscard]] int lt_datetime_us_to_buf(lt_time_us t, tbool with_zone, uint32 size, char *buf);
[[nodiscard]] int lt_datetime_sec_to_str(lt_time_sec t, tbool with_zone, char **ret);
[[nodiscard]] int lt_datetime_ms_to_str(lt_time_ms t, tbool with_zone, char **ret);
[[nodiscard]] int lt_datetime_us_to_str(lt_time_us t, tbool with_zone, char **ret);
// The same in UTC.
[[nodiscard]] int lt_datetime_sec_to_buf_utc(lt_time_sec t, tbool with_zone, uint32 size,
                                             char *buf);
[[nodiscard]] int lt_datetime_ms_to_buf_utc(lt_time_ms t, tbool with_zone, uint32 size, char *buf);
[[nodiscard]] int lt_datetime_us_to_buf_utc(lt_time_us t, tbool with_zone, uint32 size, char *buf);
[[nodiscard]] int lt_datetime_sec_to_str_utc(lt_time_sec t, tbool with_zone, char **ret);
[[nodiscard]] int lt_datetime_ms_to_str_utc(lt_time_ms t, tbool with_zone, char **ret);
[[nodiscard]] int lt_datetime_us_to_str_utc(lt_time_us t, tbool with_zone, char **ret);
// "%lf seconds" of the duration in seconds ("1.500000 seconds").
[[nodiscard]] int lt_dur_sec_to_buf(lt_dur_sec d, uint32 size, char *buf);
[[nodiscard]] int lt_dur_ms_to_buf(lt_dur_ms d, uint32 size, char *buf);
[[nodiscard]] int lt_dur_us_to_buf(lt_dur_us d, uint32 size, char *buf);
[[nodiscard]] int lt_dur_sec_to_str(lt_dur_sec d, char **ret);
[[nodiscard]] int lt_dur_ms_to_str(lt_dur_ms d, char **ret);
[[nodiscard]] int lt_dur_us_to_str(lt_dur_us d, char **ret);

// A human counter such as "2 days 1 hour 0 minutes 5.250 seconds": days,
// hours, minutes and seconds each followed by its unit word (singular for
// 1); leading zero fields are dropped unless `fixed_width`, which pads the
// numbers to two columns.  Without `with_units` the unit words are left out.
// A negative duration fails with lc_err_assertion_failed.
[[nodiscard]] int lt_dur_ms_to_counter_str(lt_dur_ms ms, char **ret);
[[nodiscard]] int lt_dur_ms_to_counter_str_ex(lt_dur_ms ms, char **ret, tbool fixed_width,
                                              tbool with_units);

// ---------------------------------------------------------------------------
// Parsing.  Text not in the expected form fails with lc_err_bad_type without
// a log line; `*ret` is 0 then.  A fraction is "." and digits; digits past
// the sixth are dropped (the value is truncated to whole microseconds).

// "%Y/%m/%d", the whole text, as UTC.
[[nodiscard]] int lt_str_to_date(const char *text, lt_date *ret);
// "%H:%M:%S" with an optional fraction, or "%H:%M"; below one day.
[[nodiscard]] int lt_str_to_daytime_sec(const char *text, lt_daytime_sec *ret);
[[nodiscard]] int lt_str_to_daytime_ms(const char *text, lt_daytime_ms *ret);
[[nodiscard]] int lt_str_to_daytime_us(const char *text, lt_daytime_us *ret);
// "%Y/%m/%d %H:%M:%S" with an optional fraction, or "%Y/%m/%d %H:%M", as
// local time.
[[nodiscard]] int lt_str_to_datetime_sec(const char *text, lt_time_sec *ret);
[[nodiscard]] int lt_str_to_datetime_ms(const char *text, lt_time_ms *ret);
[[nodiscard]] int lt_str_to_datetime_us(const char *text, lt_time_us *ret);
// "%Y/%m/%d %H:%M:%S" with an optional fraction, as UTC.
[[nodiscard]] int lt_str_utc_to_datetime_sec(const char *text, lt_time_sec *ret);
[[nodiscard]] int lt_str_utc_to_datetime_ms(const char *text, lt_time_ms *ret);
[[nodiscard]] int lt_str_utc_to_datetime_us(const char *text, lt_time_us *ret);
// The leading floating-point number of the text, in seconds, truncated to
// microseconds ("1.5 seconds" gives 1500000).  The `_ms` and `_sec` forms
// divide that; `_sec` refuses (lc_err_assertion_failed) a negative result or
// one of 2^31 seconds or more.
[[nodiscard]] int lt_str_to_dur_us(const char *text, lt_dur_us *ret);
[[nodiscard]] int lt_str_to_dur_ms(const char *text, lt_dur_ms *ret);
[[nodiscard]] int lt_str_to_dur_sec(const char *text, lt_dur_sec *ret);

// ---------------------------------------------------------------------------
// Time zone

// Re-reads the process's time zone (the TZ variable, else the zone file), so
// that later local-time conversions use it.  Safe to call from any thread.
int lt_reload_time_zone();
// How many reloads have run, for tests.
uint32 lt_time_zone_reloads_for_tests();
