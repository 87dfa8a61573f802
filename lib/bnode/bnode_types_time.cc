// Date, time-of-day, date-time and duration values through the text forms
// of the time library.
#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"

namespace detail
{

int parse_time(bn_type, const char *, uint8 *)
{
    return lc_err_not_implemented;
}

int print_time(bn_type, const uint8 *, char *, uint32)
{
    return lc_err_not_implemented;
}

} // namespace detail
