// Scalar time types shared by the containers and the time helpers.  Kept in
// a header of its own so that the arrays of time values need nothing else
// from the time module.
#pragma once

#include "log/common.h"

// Seconds since the epoch (or since boot), signed.
typedef int64 lt_time_sec;
