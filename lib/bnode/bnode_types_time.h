// Internal: the time-valued attribute types through the time library's text
// forms.  Kept apart from the attribute headers so that its source needs
// only the type codes next to the time library.
#pragma once

#include "bnode/bnode_type_codes.h"

namespace detail
{

// The date, time-of-day and date-time types, and the durations in their
// text form.  The value area is written only on success; unparsable text is
// the time library's code, unlogged.
int parse_time(bn_type type, const char *text, uint8 *value);
// Prints into `buf`; lc_err_assertion_failed when it does not fit.
int print_time(bn_type type, const uint8 *value, char *buf, uint32 size);

} // namespace detail
