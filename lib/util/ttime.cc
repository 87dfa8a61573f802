// Time values.  See ttime.h.
//
// Points in time before the epoch split with floor division, so a fraction
// of a second is always 0 to 999999 microseconds after the whole second.
// Texts are parsed by hand rather than with strptime: the forms are fixed,
// numeric and locale-free, and a hand parser refuses what strptime would let
// through (missing separators, stray white space).
#include "util/ttime.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "log/logging.h"

namespace
{

constexpr int64 ms_per_sec = 1000;
constexpr int64 us_per_sec = 1000000;
constexpr const char *uptime_path = "/proc/uptime";
// Room for any date-time text with fraction and zone.
constexpr uint32 time_str_size = 64;

std::atomic<uint32> g_zone_reloads{0};

// The manual clock of the test seam; real clocks while it is off.
std::atomic<bool> g_clock_manual{false};
std::atomic<int64> g_manual_monotonic_us{0};
std::atomic<int64> g_manual_uptime_ms{0};
std::atomic<int64> g_manual_wall_us{0};

int64 floor_div(int64 a, int64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
int64 floor_mod(int64 a, int64 b)
{
    return a - floor_div(a, b) * b;
}

bool fits_int32(int64 v)
{
    return v >= INT32_MIN && v <= INT32_MAX;
}

lt_time_ms uptime_ms_from(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    char *end = nullptr;
    const double seconds = strtod(text, &end);
    if (end == text || !std::isfinite(seconds) || seconds < 0 || seconds > 9.2e15) return 0;
    return lt_time_ms(seconds * 1000);
}

lt_time_us clock_us(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return lt_time_us(ts.tv_sec) * us_per_sec + ts.tv_nsec / 1000;
}

// ---------------------------------------------------------------------------
// Splitting and joining, for a time counted in `unit` parts of a second.

template <class Daytime> int split_utc(int64 t, int64 unit, lt_date *ret_date, Daytime *ret_daytime)
{
    if (ret_date) *ret_date = 0;
    if (ret_daytime) *ret_daytime = 0;
    bail_require(t >= 0);
    const int64 per_day = lt_sec_per_day * unit;
    const int64 date = t / per_day * lt_sec_per_day;
    bail_require(fits_int32(date));
    if (ret_date) *ret_date = lt_date(date);
    if (ret_daytime) *ret_daytime = Daytime(t % per_day);
    return 0;
}

template <class Time> int join(int64 date, int64 daytime, int64 unit, bool utc, Time *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_require(daytime >= 0 && (!utc || date >= 0));
    int64 t = 0;
    bail_require(!__builtin_mul_overflow(date, unit, &t) &&
                 !__builtin_add_overflow(t, daytime, &t));
    if constexpr (sizeof(Time) == 4) bail_require(fits_int32(t));
    *ret = Time(t);
    return 0;
}

// The date is the instant of local midnight of the day holding `t`.
template <class Daytime>
int split_local(int64 t, int64 unit, lt_date *ret_date, Daytime *ret_daytime)
{
    if (ret_date) *ret_date = 0;
    if (ret_daytime) *ret_daytime = 0;
    bail_require(t >= 0);
    const time_t sec = time_t(t / unit);
    tm local{};
    bail_null(localtime_r(&sec, &local));
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    errno = 0;
    const time_t midnight = mktime(&local);
    bail_require(!(midnight == -1 && errno != 0) && fits_int32(midnight));
    const int64 daytime = t - int64(midnight) * unit;
    // A zone whose clocks skip midnight can put the start of the day later.
    bail_require(daytime >= 0);
    if (ret_date) *ret_date = lt_date(midnight);
    if (ret_daytime) *ret_daytime = Daytime(daytime);
    return 0;
}

// ---------------------------------------------------------------------------
// Broken-down time

int to_tm(int64 sec, bool utc, tm *ret)
{
    bail_null(ret);
    *ret = tm{};
    const time_t t = time_t(sec);
    bail_null(utc ? gmtime_r(&t, ret) : localtime_r(&t, ret));
    return 0;
}

int from_tm(const tm *in, bool utc, int64 *ret)
{
    *ret = 0;
    bail_null(in);
    tm copy = *in;
    errno = 0;
    const time_t t = utc ? timegm(&copy) : mktime(&copy);
    bail_require(!(t == -1 && errno != 0));
    *ret = t;
    return 0;
}

template <class Time> int tm_to_time(const tm *in, bool utc, int64 unit, Time *ret)
{
    bail_null(ret);
    *ret = 0;
    int64 sec = 0;
    bail_error(from_tm(in, utc, &sec));
    int64 t = 0;
    bail_require(!__builtin_mul_overflow(sec, unit, &t));
    if constexpr (sizeof(Time) == 4) bail_require(fits_int32(t));
    *ret = Time(t);
    return 0;
}

// ---------------------------------------------------------------------------
// timeval: normalised, 0 <= tv_usec < 1000000 also before the epoch.

int to_timeval(int64 t, int64 unit, timeval *ret)
{
    bail_null(ret);
    *ret =
        timeval{time_t(floor_div(t, unit)), suseconds_t(floor_mod(t, unit) * (us_per_sec / unit))};
    return 0;
}

template <class Time> int from_timeval(const timeval *tv, int64 unit, Time *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(tv);
    const int64 t = int64(tv->tv_sec) * unit + tv->tv_usec / (us_per_sec / unit);
    if constexpr (sizeof(Time) == 4) bail_require(fits_int32(t));
    *ret = Time(t);
    return 0;
}

// ---------------------------------------------------------------------------
// Printing

// The fraction rule: the same digits as "%.3lf" / "%.6lf" of the fraction
// without the leading zero, formatted from the integer so no rounding creeps in.
void append_fraction(char *buf, size_t &len, uint32 size, int64 frac_us)
{
    if (frac_us == 0 || size - len < lt_fraction_room) return;
    if (frac_us % 1000 == 0)
        len += snprintf(buf + len, size - len, ".%03lld", (long long)(frac_us / 1000));
    else
        len += snprintf(buf + len, size - len, ".%06lld", (long long)frac_us);
}

// Prints `sec` with `format`, then the fraction (when `fraction`), then the
// zone offset (when `with_zone`).
int print_time(int64 sec, int64 frac_us, bool utc, const char *format, bool fraction,
               bool with_zone, uint32 size, char *buf)
{
    bail_null(buf);
    bail_require(size > 0);
    buf[0] = '\0';
    tm broken{};
    bail_error(to_tm(sec, utc, &broken));
    size_t len = strftime(buf, size, format, &broken);
    if (len == 0) {
        buf[0] = '\0';
        bail_require(false);
    }
    if (fraction) append_fraction(buf, len, size, frac_us);
    if (with_zone) {
        const size_t zone = strftime(buf + len, size - len, " %z", &broken);
        if (zone == 0) {
            buf[0] = '\0';
            bail_require(false);
        }
    }
    return 0;
}

int print_daytime(int64 t, int64 unit, uint32 size, char *buf)
{
    bail_null(buf);
    if (size > 0) buf[0] = '\0';
    bail_require(t >= 0 && t < lt_sec_per_day * unit);
    return print_time(t / unit, t % unit * (us_per_sec / unit), true, "%H:%M:%S", true, false, size,
                      buf);
}

int print_datetime(int64 t, int64 unit, bool utc, bool with_zone, uint32 size, char *buf)
{
    return print_time(floor_div(t, unit), floor_mod(t, unit) * (us_per_sec / unit), utc,
                      "%Y/%m/%d %H:%M:%S", true, with_zone, size, buf);
}

int print_dur(double seconds, uint32 size, char *buf)
{
    bail_null(buf);
    bail_require(size > 0);
    const int n = snprintf(buf, size, "%lf seconds", seconds);
    if (n < 0 || uint32(n) >= size) {
        buf[0] = '\0';
        bail_require(false);
    }
    return 0;
}

// Runs a `_to_buf` printer into a local buffer and hands out a heap copy.
template <class Print> int to_heap(char **ret, uint32 size, Print print)
{
    bail_null(ret);
    *ret = nullptr;
    char text[time_str_size];
    bail_error(print(size, text));
    *ret = strdup(text);
    bail_null(*ret);
    return 0;
}

// ---------------------------------------------------------------------------
// Parsing

struct text_time {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int64 frac_us = 0;
};

// Reads 1 to `max_digits` decimal digits.
bool read_number(const char *&p, int max_digits, int *ret)
{
    int n = 0, v = 0;
    while (n < max_digits && isdigit(static_cast<unsigned char>(*p))) {
        v = v * 10 + (*p++ - '0');
        ++n;
    }
    *ret = v;
    return n > 0;
}

bool read_char(const char *&p, char c)
{
    if (*p != c) return false;
    ++p;
    return true;
}

bool valid_date(int year, int month, int day)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// "%Y/%m/%d", then (with `with_time`) " %H:%M:%S" with an optional fraction,
// or " %H:%M" when `allow_no_seconds`; the whole text.
bool parse_text(const char *p, bool with_time, bool allow_no_seconds, text_time *out)
{
    text_time t;
    if (!read_number(p, 4, &t.year) || !read_char(p, '/') || !read_number(p, 2, &t.month) ||
        !read_char(p, '/') || !read_number(p, 2, &t.day) || !valid_date(t.year, t.month, t.day))
        return false;
    if (with_time) {
        if (!read_char(p, ' ') || !read_number(p, 2, &t.hour) || !read_char(p, ':') ||
            !read_number(p, 2, &t.minute) || t.hour > 23 || t.minute > 59)
            return false;
        if (read_char(p, ':')) {
            if (!read_number(p, 2, &t.second) || t.second > 59) return false;
            if (read_char(p, '.')) {
                // Digits past the sixth are dropped: the value is truncated.
                int digits = 0;
                int64 scale = us_per_sec;
                while (isdigit(static_cast<unsigned char>(*p))) {
                    if (digits++ < 6) t.frac_us += (*p - '0') * (scale /= 10);
                    ++p;
                }
                if (digits == 0) return false;
            }
        } else if (!allow_no_seconds) {
            return false;
        }
    }
    if (*p != '\0') return false;
    *out = t;
    return true;
}

template <class Time>
int parse_time(const char *text, bool with_time, bool allow_no_seconds, bool utc, int64 unit,
               Time *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(text);
    text_time parsed;
    if (!parse_text(text, with_time, allow_no_seconds, &parsed)) return lc_err_bad_type;
    tm broken{};
    broken.tm_year = parsed.year - 1900;
    broken.tm_mon = parsed.month - 1;
    broken.tm_mday = parsed.day;
    broken.tm_hour = parsed.hour;
    broken.tm_min = parsed.minute;
    broken.tm_sec = parsed.second;
    broken.tm_isdst = -1;
    errno = 0;
    const time_t sec = utc ? timegm(&broken) : mktime(&broken);
    if (sec == -1 && errno != 0) return lc_err_bad_type;
    int64 us = 0;
    if (__builtin_mul_overflow(int64(sec), us_per_sec, &us)) return lc_err_bad_type;
    us += parsed.frac_us;
    const int64 t = floor_div(us, us_per_sec / unit);
    if constexpr (sizeof(Time) == 4) {
        if (!fits_int32(t)) return lc_err_bad_type;
    }
    *ret = Time(t);
    return 0;
}

// The daytime forms parse the text as a time on 1970/1/1 in UTC.
template <class Time> int parse_daytime(const char *text, int64 unit, Time *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(text);
    char full[time_str_size];
    const int n = snprintf(full, sizeof full, "1970/1/1 %s", text);
    if (n < 0 || size_t(n) >= sizeof full) return lc_err_bad_type;
    return parse_time(full, true, true, true, unit, ret);
}

// The leading number of the text, in seconds, truncated to microseconds.  A
// plain decimal is converted digit by digit, so "4.35" is exactly 4350000
// (through a double it would come out a microsecond short).
int parse_dur_us(const char *text, int64 *ret)
{
    *ret = 0;
    char *end = nullptr;
    const double seconds = strtod(text, &end);
    if (end == text) return lc_err_bad_type;

    const char *p = text;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int64 whole = 0, frac = 0, scale = us_per_sec;
    int digits = 0;
    bool overflow = false;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p, ++digits)
        overflow |= __builtin_mul_overflow(whole, 10, &whole) ||
                    __builtin_add_overflow(whole, *p - '0', &whole);
    if (*p == '.') {
        for (++p; isdigit(static_cast<unsigned char>(*p)); ++p, ++digits)
            if (scale > 1) frac += (*p - '0') * (scale /= 10);
    }
    if (digits > 0 && p == end) {
        int64 us = 0;
        if (overflow || __builtin_mul_overflow(whole, us_per_sec, &us)) return lc_err_bad_type;
        us += frac;
        *ret = negative ? -us : us;
        return 0;
    }
    // Exponents and the like: through the double.
    const double us = seconds * double(us_per_sec);
    if (!std::isfinite(us) || std::fabs(us) >= 9.2e18) return lc_err_bad_type;
    *ret = int64(us);
    return 0;
}

void reload_hook()
{
    (void)lt_reload_time_zone();
}

void wall_clock_hook(timeval *now)
{
    if (g_clock_manual.load(std::memory_order_acquire)) {
        const int64 us = g_manual_wall_us.load();
        now->tv_sec = time_t(floor_div(us, us_per_sec));
        now->tv_usec = suseconds_t(floor_mod(us, us_per_sec));
    } else {
        gettimeofday(now, nullptr);
    }
}

lt_time_us real_wall_us()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return lt_time_us(tv.tv_sec) * us_per_sec + tv.tv_usec;
}

// Linking this module in is what makes the logger's zone-file watch useful,
// and puts the logger on the same (possibly manual) time of day.
[[maybe_unused]] const bool hook_registered = [] {
    lc_log_set_tz_change_hook(reload_hook);
    lc_log_set_wall_clock_hook(wall_clock_hook);
    return true;
}();

} // namespace

// ---------------------------------------------------------------------------
// Clocks

lt_time_sec lt_curr_time()
{
    if (g_clock_manual.load(std::memory_order_acquire))
        return lt_time_sec(floor_div(g_manual_wall_us.load(), us_per_sec));
    return lt_time_sec(time(nullptr));
}

lt_time_ms lt_curr_time_ms()
{
    return floor_div(lt_curr_time_us(), 1000);
}

lt_time_us lt_curr_time_us()
{
    if (g_clock_manual.load(std::memory_order_acquire)) return g_manual_wall_us.load();
    return real_wall_us();
}

lt_time_ms lt_sys_uptime_ms()
{
    if (g_clock_manual.load(std::memory_order_acquire)) return g_manual_uptime_ms.load();
    return uptime_ms_from(uptime_path);
}

lt_time_ms lt_sys_uptime_ms_from_for_tests(const char *path)
{
    return uptime_ms_from(path);
}

lt_time_ms lt_sys_monotonic_ms()
{
    return lt_sys_monotonic_us() / 1000;
}

lt_time_us lt_sys_monotonic_us()
{
    if (g_clock_manual.load(std::memory_order_acquire)) return g_manual_monotonic_us.load();
    return clock_us(CLOCK_MONOTONIC);
}

void lt_clock_set_manual_for_tests(lt_time_us monotonic_us, lt_time_ms uptime_ms)
{
    g_manual_monotonic_us.store(monotonic_us);
    g_manual_uptime_ms.store(uptime_ms);
    g_manual_wall_us.store(real_wall_us());
    g_clock_manual.store(true, std::memory_order_release);
}

void lt_clock_advance_for_tests(lt_time_ms ms)
{
    g_manual_monotonic_us.fetch_add(ms * 1000);
    g_manual_uptime_ms.fetch_add(ms);
    g_manual_wall_us.fetch_add(ms * 1000);
}

void lt_clock_restore_for_tests()
{
    g_clock_manual.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// The per-unit families: splits and joins, timeval and broken-down time,
// time-of-day, date-time and duration texts.  One line per unit.

#define LT_UNITS(X)                                                                                \
    X(sec, 1, lt_time_sec, lt_daytime_sec, lt_dur_sec)                                             \
    X(ms, ms_per_sec, lt_time_ms, lt_daytime_ms, lt_dur_ms)                                        \
    X(us, us_per_sec, lt_time_us, lt_daytime_us, lt_dur_us)

#define LT_DEFINE_UNIT(u, unit, time_type, daytime_type, dur_type)                                 \
    int lt_time_to_date_daytime_utc_##u(time_type t, lt_date *ret_date, daytime_type *ret_daytime) \
    {                                                                                              \
        return split_utc(t, unit, ret_date, ret_daytime);                                          \
    }                                                                                              \
    int lt_date_daytime_utc_to_time_##u(lt_date date, daytime_type daytime, time_type *ret)        \
    {                                                                                              \
        return join(date, daytime, unit, true, ret);                                               \
    }                                                                                              \
    int lt_time_to_date_daytime_##u(time_type t, lt_date *ret_date, daytime_type *ret_daytime)     \
    {                                                                                              \
        return split_local(t, unit, ret_date, ret_daytime);                                        \
    }                                                                                              \
    int lt_date_daytime_to_time_##u(lt_date date, daytime_type daytime, time_type *ret)            \
    {                                                                                              \
        return join(date, daytime, unit, false, ret);                                              \
    }                                                                                              \
    int lt_time_##u##_to_timeval(time_type t, struct timeval *ret)                                 \
    {                                                                                              \
        return to_timeval(t, unit, ret);                                                           \
    }                                                                                              \
    int lt_timeval_to_time_##u(const struct timeval *tv, time_type *ret)                           \
    {                                                                                              \
        return from_timeval(tv, unit, ret);                                                        \
    }                                                                                              \
    int lt_time_##u##_to_tm(time_type t, struct tm *ret)                                           \
    {                                                                                              \
        return to_tm(floor_div(t, unit), false, ret);                                              \
    }                                                                                              \
    int lt_tm_to_time_##u(const struct tm *tm, time_type *ret)                                     \
    {                                                                                              \
        return tm_to_time(tm, false, unit, ret);                                                   \
    }                                                                                              \
    int lt_tm_utc_to_time_##u(const struct tm *tm, time_type *ret)                                 \
    {                                                                                              \
        return tm_to_time(tm, true, unit, ret);                                                    \
    }                                                                                              \
    int lt_daytime_##u##_to_buf(daytime_type t, uint32 size, char *buf)                            \
    {                                                                                              \
        return print_daytime(t, unit, size, buf);                                                  \
    }                                                                                              \
    int lt_daytime_##u##_to_str(daytime_type t, char **ret)                                        \
    {                                                                                              \
        return to_heap(ret, time_str_size,                                                         \
                       [&](uint32 size, char *buf) { return print_daytime(t, unit, size, buf); }); \
    }                                                                                              \
    int lt_datetime_##u##_to_buf(time_type t, tbool with_zone, uint32 size, char *buf)             \
    {                                                                                              \
        return print_datetime(t, unit, false, with_zone, size, buf);                               \
    }                                                                                              \
    int lt_datetime_##u##_to_str(time_type t, tbool with_zone, char **ret)                         \
    {                                                                                              \
        return to_heap(ret, time_str_size, [&](uint32 size, char *buf) {                           \
            return print_datetime(t, unit, false, with_zone, size, buf);                           \
        });                                                                                        \
    }                                                                                              \
    int lt_datetime_##u##_to_buf_utc(time_type t, tbool with_zone, uint32 size, char *buf)         \
    {                                                                                              \
        return print_datetime(t, unit, true, with_zone, size, buf);                                \
    }                                                                                              \
    int lt_datetime_##u##_to_str_utc(time_type t, tbool with_zone, char **ret)                     \
    {                                                                                              \
        return to_heap(ret, time_str_size, [&](uint32 size, char *buf) {                           \
            return print_datetime(t, unit, true, with_zone, size, buf);                            \
        });                                                                                        \
    }                                                                                              \
    int lt_dur_##u##_to_buf(dur_type d, uint32 size, char *buf)                                    \
    {                                                                                              \
        return print_dur(double(d) / double(unit), size, buf);                                     \
    }                                                                                              \
    int lt_dur_##u##_to_str(dur_type d, char **ret)                                                \
    {                                                                                              \
        return to_heap(ret, lt_dur_str_size, [&](uint32 size, char *buf) {                         \
            return print_dur(double(d) / double(unit), size, buf);                                 \
        });                                                                                        \
    }                                                                                              \
    int lt_str_to_daytime_##u(const char *text, daytime_type *ret)                                 \
    {                                                                                              \
        return parse_daytime(text, unit, ret);                                                     \
    }                                                                                              \
    int lt_str_to_datetime_##u(const char *text, time_type *ret)                                   \
    {                                                                                              \
        return parse_time(text, true, true, false, unit, ret);                                     \
    }                                                                                              \
    int lt_str_utc_to_datetime_##u(const char *text, time_type *ret)                               \
    {                                                                                              \
        return parse_time(text, true, false, true, unit, ret);                                     \
    }
LT_UNITS(LT_DEFINE_UNIT)
#undef LT_DEFINE_UNIT
#undef LT_UNITS

// ---------------------------------------------------------------------------
// The members outside the families

int lt_timeval_add_ms(struct timeval *tv, int64 ms)
{
    bail_null(tv);
    int64 usec = int64(tv->tv_usec) + (ms % ms_per_sec) * 1000;
    const int64 sec = int64(tv->tv_sec) + ms / ms_per_sec + floor_div(usec, us_per_sec);
    usec = floor_mod(usec, us_per_sec);
    tv->tv_sec = sec;
    tv->tv_usec = usec;
    return 0;
}

int lt_time_sec_to_tm_utc(lt_time_sec t, struct tm *ret)
{
    return to_tm(t, true, ret);
}

int lt_date_to_buf(lt_date date, uint32 size, char *buf)
{
    return print_time(date, 0, true, "%Y/%m/%d", false, false, size, buf);
}

int lt_date_to_str(lt_date date, char **ret)
{
    return to_heap(ret, time_str_size,
                   [&](uint32 size, char *buf) { return lt_date_to_buf(date, size, buf); });
}

int lt_str_to_date(const char *text, lt_date *ret)
{
    return parse_time(text, false, false, true, 1, ret);
}

int lt_dur_ms_to_counter_str(lt_dur_ms ms, char **ret)
{
    return lt_dur_ms_to_counter_str_ex(ms, ret, false, true);
}

int lt_dur_ms_to_counter_str_ex(lt_dur_ms ms, char **ret, tbool fixed_width, tbool with_units)
{
    bail_null(ret);
    *ret = nullptr;
    bail_require(ms >= 0);
    const long days = long(ms / lt_ms_per_day);
    const long hours = long(ms / 3600000 % 24);
    const long minutes = long(ms / 60000 % 60);
    const int64 sec_ms = ms % 60000;

    struct field {
        char number[32];
        const char *unit;
    };
    auto whole = [&](long v, bool shown, const char *one, const char *many) {
        field f{"", ""};
        if (!shown) return f;
        snprintf(f.number, sizeof f.number, fixed_width ? "%2ld" : "%ld", v);
        if (with_units) f.unit = v == 1 ? one : many;
        return f;
    };
    // Leading zero fields are dropped unless in fixed width.
    const bool show_days = fixed_width || days != 0;
    const bool show_hours = show_days || hours != 0;
    const bool show_minutes = show_hours || minutes != 0;
    const field d = whole(days, show_days, " day", " days");
    const field h = whole(hours, show_hours, " hour", " hours");
    const field m = whole(minutes, show_minutes, " minute", " minutes");
    field s{"", ""};
    if (sec_ms % 1000 == 0) {
        s = whole(long(sec_ms / 1000), true, " second", " seconds");
    } else {
        snprintf(s.number, sizeof s.number, fixed_width ? "%2.3f" : "%.3f",
                 double(sec_ms) / 1000.0);
        s.unit = with_units ? " seconds" : "";
    }

    char text[192];
    snprintf(text, sizeof text, "%s%s %s%s %s%s %s%s", d.number, d.unit, h.number, h.unit, m.number,
             m.unit, s.number, s.unit);
    const char *start = text;
    while (isspace(static_cast<unsigned char>(*start))) ++start;
    size_t len = strlen(start);
    while (len > 0 && isspace(static_cast<unsigned char>(start[len - 1]))) --len;
    *ret = strndup(start, len);
    bail_null(*ret);
    return 0;
}

int lt_str_to_dur_us(const char *text, lt_dur_us *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(text);
    return parse_dur_us(text, ret);
}

int lt_str_to_dur_ms(const char *text, lt_dur_ms *ret)
{
    bail_null(ret);
    *ret = 0;
    lt_dur_us us = 0;
    bail_error_quiet(lt_str_to_dur_us(text, &us));
    *ret = us / 1000;
    return 0;
}

int lt_str_to_dur_sec(const char *text, lt_dur_sec *ret)
{
    bail_null(ret);
    *ret = 0;
    lt_dur_us us = 0;
    bail_error_quiet(lt_str_to_dur_us(text, &us));
    bail_require(us >= 0 && us / us_per_sec <= INT32_MAX);
    *ret = lt_dur_sec(us / us_per_sec);
    return 0;
}

// ---------------------------------------------------------------------------
// Time zone

int lt_reload_time_zone()
{
    // tzset re-reads TZ and, without it, the zone file when its identity or
    // modification time changed; localtime_r alone would keep the old zone.
    tzset();
    g_zone_reloads.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

uint32 lt_time_zone_reloads_for_tests()
{
    return g_zone_reloads.load(std::memory_order_relaxed);
}
