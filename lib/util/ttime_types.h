// Scalar time types, shared by the containers (lt_time_sec_array) and the
// time module (ttime.h).  Kept in a header of their own so that the arrays of
// time values need nothing else from the time module.
#pragma once

#include "log/common.h"

typedef int32 lt_time_sec;    // seconds since the epoch
typedef int64 lt_time_ms;     // milliseconds since the epoch
typedef int64 lt_time_us;     // microseconds since the epoch
typedef int32 lt_date;        // lt_time_sec at 00:00:00 UTC of the day
typedef int32 lt_daytime_sec; // seconds since midnight, below one day
typedef int64 lt_daytime_ms;
typedef int64 lt_daytime_us;
typedef int32 lt_dur_sec; // durations
typedef int64 lt_dur_ms;
typedef int64 lt_dur_us;
