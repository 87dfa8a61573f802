// Internal: the time-valued attribute types through the time library's text
// forms.  Kept apart from the attribute headers so that its source needs
// only the type codes next to the time library.
#pragma once

#include "bnode/bnode_type_codes.h"

namespace detail
{

// True for the types whose text goes through the time library: dates, times
// of day, date-times, and durations in their text form.
constexpr bool time_valued(bn_type type, uint32 flags)
{
    if (type >= bt_date && type <= bt_datetime_us) return true;
    return type >= bt_duration_sec && type <= bt_duration_us && (flags & btf_text_form);
}

// The date, time-of-day and date-time types, and the durations in their
// text form.  The value area is written only on success; unparsable text is
// the time library's code, unlogged.
int parse_time(bn_type type, const char *text, uint8 *value);
// Prints into `buf`; lc_err_assertion_failed when it does not fit.
int print_time(bn_type type, const uint8 *value, char *buf, uint32 size);

} // namespace detail
