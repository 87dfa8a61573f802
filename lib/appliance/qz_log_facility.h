// Syslog facility of a process, as the appliance assigns it.
//
// The appliance keeps one facility file: lines of "name number", where the
// name is a process name or a log class ("system", "firewall", "audit") and
// the number is a syslog facility code (a multiple of 8 up to LOG_LOCAL7,
// e.g. 136 for local1).  Blank lines and text after "#" are ignored, and so
// are lines that do not parse.  A process takes the number on its own line,
// else the number on the "system" line, else local1.
#pragma once

#include "log/common.h"

#define QZ_LOG_FACILITY_FILE "/var/opt/arx/output/log_facility"

// Facility used when the file gives none: local1.
constexpr int32 qz_log_facility_default = 136;

// Facility for `process_name` from QZ_LOG_FACILITY_FILE.  `flags` is
// reserved and must be 0.  Never fails: a missing file, a null name or a
// file without a matching line yields qz_log_facility_default.
int32 lc_log_get_facility(uint32 flags, const char *process_name);
// The same lookup in the facility file at `path`.
int32 lc_log_get_facility_from(const char *path, const char *process_name);
