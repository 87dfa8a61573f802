// Date, time-of-day, date-time and duration values through the text forms
// of the time library.  Date-times print in local time without the zone.
#include "bnode/bnode_types_time.h"

#include <cstring>

#include "log/logging.h"
#include "util/ttime.h"

namespace detail
{
namespace
{

template <class T, class F> int parse_as(F conv, const char *text, uint8 *value)
{
    T v{};
    bail_error_quiet(conv(text, &v));
    memcpy(value, &v, sizeof v);
    return 0;
}

template <class T> T load(const uint8 *value)
{
    T v;
    memcpy(&v, value, sizeof v);
    return v;
}

} // namespace

int parse_time(bn_type type, const char *text, uint8 *value)
{
    switch (type) {
    case bt_date:
        return parse_as<lt_date>(lt_str_to_date, text, value);
    case bt_time_sec:
        return parse_as<lt_daytime_sec>(lt_str_to_daytime_sec, text, value);
    case bt_time_ms:
        return parse_as<lt_daytime_ms>(lt_str_to_daytime_ms, text, value);
    case bt_time_us:
        return parse_as<lt_daytime_us>(lt_str_to_daytime_us, text, value);
    case bt_datetime_sec:
        return parse_as<lt_time_sec>(lt_str_to_datetime_sec, text, value);
    case bt_datetime_ms:
        return parse_as<lt_time_ms>(lt_str_to_datetime_ms, text, value);
    case bt_datetime_us:
        return parse_as<lt_time_us>(lt_str_to_datetime_us, text, value);
    case bt_duration_sec:
        return parse_as<lt_dur_sec>(lt_str_to_dur_sec, text, value);
    case bt_duration_ms:
        return parse_as<lt_dur_ms>(lt_str_to_dur_ms, text, value);
    case bt_duration_us:
        return parse_as<lt_dur_us>(lt_str_to_dur_us, text, value);
    default:
        return lc_err_unexpected_case;
    }
}

int print_time(bn_type type, const uint8 *value, char *buf, uint32 size)
{
    switch (type) {
    case bt_date:
        return lt_date_to_buf(load<lt_date>(value), size, buf);
    case bt_time_sec:
        return lt_daytime_sec_to_buf(load<lt_daytime_sec>(value), size, buf);
    case bt_time_ms:
        return lt_daytime_ms_to_buf(load<lt_daytime_ms>(value), size, buf);
    case bt_time_us:
        return lt_daytime_us_to_buf(load<lt_daytime_us>(value), size, buf);
    case bt_datetime_sec:
        return lt_datetime_sec_to_buf(load<lt_time_sec>(value), 0, size, buf);
    case bt_datetime_ms:
        return lt_datetime_ms_to_buf(load<lt_time_ms>(value), 0, size, buf);
    case bt_datetime_us:
        return lt_datetime_us_to_buf(load<lt_time_us>(value), 0, size, buf);
    case bt_duration_sec:
        return lt_dur_sec_to_buf(load<lt_dur_sec>(value), size, buf);
    case bt_duration_ms:
        return lt_dur_ms_to_buf(load<lt_dur_ms>(value), size, buf);
    case bt_duration_us:
        return lt_dur_us_to_buf(load<lt_dur_us>(value), size, buf);
    default:
        return lc_err_unexpected_case;
    }
}

} // namespace detail
