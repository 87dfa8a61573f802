// Error codes, enum maps, the failure macros and the logger.
//
// Every function in the system returns an error code (0 is success).  A
// failure is logged once, where it is first seen, by one of the failure
// macros below, which log with function, file and line and then `return`
// the code from the enclosing function: RAII owners release what the
// function held.  The quiet code lc_err_cancelled passes up unlogged.
//
// The logger keeps one process-wide state behind one lock and writes through
// openlog/vsyslog.  The level globals that decide whether a message is
// formatted at all are read without the lock (lc_log_check_level), so a
// filtered-out message costs two loads and a compare.  The logger sits at the
// bottom of the layers: what it needs from above (the time library's zone
// reload) is registered with it through a hook.
#pragma once

#include <atomic>
#include <cstdarg>
#include <syslog.h>

#include "log/common.h"

// ---------------------------------------------------------------------------
// Error codes

enum lc_error_code : int32 {
    lc_err_none = 0,
    lc_err_generic_error = 14000,
    lc_err_unexpected_null = 14001,
    lc_err_assertion_failed = 14002,
    lc_err_not_implemented = 14003,
    lc_err_not_found = 14004,
    lc_err_exists = 14005,
    lc_err_multiple = 14006,
    lc_err_unexpected_eof = 14007,
    lc_err_bad_cmdline_arg = 14008,
    lc_err_bad_path = 14009,
    lc_err_bad_file = 14010,
    lc_err_no_buffer_space = 14011,
    lc_err_parse_error = 14012,
    lc_err_file_not_found = 14013,
    lc_err_io_error = 14014,
    lc_err_io_would_block = 14015,
    lc_err_io_closed = 14016,
    lc_err_io_timeout = 14017,
    lc_err_io_file_exists = 14018,
    lc_err_unexpected_case = 14019,
    lc_err_bad_type = 14020,
    lc_err_bad_utf8 = 14021,
    lc_err_divide_by_zero = 14022,
    lc_err_no_space = 14023,
    lc_err_tree_has_children = 14090,
    lc_err_tree_not_ancestor = 14091,
    lc_err_tree_no_path = 14092,
    lc_err_foreach_delete = 14100,
    lc_err_foreach_remove = 14101,
    lc_err_foreach_halt_error = 14102,
    lc_err_foreach_halt = 14103,
    lc_err_cli_reset_timer = 14110,
    lc_err_cli_delete_callback = 14111,
    lc_err_cli_not_available = 14115,
    lc_err_cancelled = 14120,
    lc_err_bad_login = 14500,
    lc_err_bad_name = 14501,
    lc_err_upgrade_failed = 14502,
    lc_err_ipv6_mcast_unsupported = 14503,
};

// ---------------------------------------------------------------------------
// Enum maps: value/name pairs ending with a null name; first match wins.

struct lc_enum_string_map {
    int32 lesm_value;
    const char *lesm_name;
};

struct lc_string_string_map {
    const char *lssm_from;
    const char *lssm_to;
};

extern const lc_enum_string_map lc_error_code_map[];
extern const lc_enum_string_map lc_log_level_names[];
extern const lc_enum_string_map lc_log_level_config_names[];
// The two component maps, searched in order; null-terminated list of maps.
extern const lc_enum_string_map *const lc_log_component_names[];

// Name for `value`; logs at ERR and returns "ERROR-NO-MAP" on a miss.
const char *lc_enum_to_string(const lc_enum_string_map *map, int32 value);
// Name for `value`, or "ERROR-NO-MAP", without logging.
const char *lc_enum_to_string_quiet(const lc_enum_string_map *map, int32 value);
// Name for `value` or null on a miss; a null map logs "Unexpected NULL".
const char *lc_enum_to_string_quiet_null(const lc_enum_string_map *map, int32 value);
const char *lc_signed_enum_to_string_quiet_null(const lc_enum_string_map *map, int32 value);
// Exact, case-sensitive lookup of `text`; lc_err_bad_type on a miss.
[[nodiscard]] int lc_string_to_enum(const lc_enum_string_map *map, const char *text,
                                    int32 *ret_value);
// Mapped string for `text`; logs at ERR and returns "ERROR-NO-MAP" on a miss.
const char *lc_string_to_string(const lc_string_string_map *map, const char *text);

// Debugger hooks, called on every logged / quiet failure path.
void bail_debug();
void bail_quiet_debug();

// "SIGTERM" for SIGTERM and so on; "UNKNOWN" for numbers without a name.
const char *lc_signal_num_to_name(int signum);

// ---------------------------------------------------------------------------
// Log levels, message flags, outputs

enum lc_log_level : int32 {
    LCL_EMERG = 0,
    LCL_ALERT = 1,
    LCL_CRIT = 2,
    LCL_ERR = 3,
    LCL_WARNING = 4,
    LCL_NOTICE = 5,
    LCL_INFO = 6,
    LCL_DEBUG = 7,
};

enum lc_log_flags : uint32 {
    lc_log_flag_none = 0,
    lc_log_flag_no_defaults = 0x1,
    lc_log_flag_no_pid = 0x2,
    lc_log_flag_no_prefix = 0x4,
    lc_log_flag_time_sec = 0x8,
    lc_log_flag_time_deci = 0x10,
    lc_log_flag_time_centi = 0x20,
    lc_log_flag_time_milli = 0x40,
    lc_log_flag_time_micro = 0x80,
    lc_log_flag_time_relative = 0x100,
    lc_log_flag_time_mod_million = 0x200,
    lc_log_flag_time_mod_ten = 0x400,
    lc_log_flag_source_info = 0x800,
    lc_log_flag_no_thread_info = 0x1000,
};

enum lc_log_outputs : uint32 {
    lc_log_output_syslog = 1,
    lc_log_output_stdout = 2,
    lc_log_output_stderr = 4,
};

// Component ids live in bits 16..31 of a component word.
constexpr uint32 lc_log_component_word(uint32 id)
{
    return id << 16;
}
constexpr uint32 lc_log_component_iptrackd = 269;

// Limits of the logger state and of one message.
constexpr size_t lc_log_name_max = 31;          // process name, syslog identity
constexpr size_t lc_log_prefix_max = 79;        // message prefix
constexpr size_t lc_log_hostname_max = 254;     // host name, cut at the first "."
constexpr size_t lc_log_body_format_max = 1023; // the body format of one message
constexpr size_t lc_log_line_max = 4095;        // the finished line of one message
constexpr uint8 lc_log_daemon_level_unset = 255;

// Files the logger watches (once a second, on the first message of a new
// second) in processes that watch them.
#define LC_LOG_LEVEL_LINK "/var/opt/arx/output/sysloglevel"
#define LC_LOG_TZ_FILE "/var/opt/arx/output/localtime"
#define LC_LOG_DEBUG_FILE "/var/log/debug_log"

// ---------------------------------------------------------------------------
// Logger

// Process-wide library locks: the logger's lock and its fork handlers.
// Idempotent; lc_log_init and the first message also ensure it.
[[nodiscard]] int lc_init();

// Creates the logger state, or updates it in place when it exists.  `name`
// is required; a null `prefix` is empty.
[[nodiscard]] int lc_log_init(const char *name, const char *prefix, uint32 default_flags,
                              uint32 component_word, int32 max_level, int32 facility,
                              uint32 outputs);
// Frees the state; a later message creates the "-UNINIT" fallback state.
// lc_err_unexpected_null without a state.
int lc_log_close();

// Level globals read without the lock; written only by the level setters.
extern std::atomic<int32> lc_log_effective_level_g;
extern std::atomic<uint8> lc_log_daemon_level_g;

// Whether a message at `level` would be written: against the daemon level
// when one is set, else against the effective level.  Test it before
// formatting anything.
inline bool lc_log_check_level(int32 level)
{
    const uint8 daemon = lc_log_daemon_level_g.load(std::memory_order_relaxed);
    if (daemon != lc_log_daemon_level_unset) return level <= daemon;
    return level <= lc_log_effective_level_g.load(std::memory_order_relaxed);
}

// Fixes this thread's CPU number and thread id on its first call.
void lc_log_init_tls();
// This thread's CPU number and thread id, as fixed by lc_log_init_tls().
int32 lc_log_tls_cpu();
uint64 lc_log_tls_tid();

// Formats and writes one message; 0 also when the message is filtered out.
int lc_log_internal(const char *function, const char *file, int line, uint32 flags,
                    uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt, ...)
    __attribute__((format(printf, 9, 10)));
int lc_log_vinternal(const char *function, const char *file, int line, uint32 flags,
                     uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt,
                     va_list ap) __attribute__((format(printf, 9, 0)));

// Sets the system level from a name of lc_log_level_config_names (a bad name
// passes lc_err_bad_type up unlogged).  No effect while the console prefix is
// in use; the effective level and the syslog mask follow unless the override
// is active.
[[nodiscard]] int lc_log_set_max_log_level(const char *level_name);
// Maximum level of lc_log_init, lowered to the system level when the console
// prefix is not in use.  Without a state: 0 and lc_err_unexpected_null.
[[nodiscard]] int lc_log_get_max_log_level(int32 *ret_level);
// Daemon level (and syslog mask); lc_log_daemon_level_unset clears it.
int lc_log_set_daemon_log_level(uint8 level);
uint8 lc_log_get_daemon_log_level();
// Override level by name; a name outside the map falls back to the system
// level and turns the per-facility switch off.
[[nodiscard]] int lc_log_set_override_log_level(const char *level_name);
// `which` non-zero: the system-wide switch; zero: the per-facility switch.
// The override is active while both are on.
int lc_log_enable_override_log_level(int which, tbool on);
// Current levels, for the management synchronisation and tests.
int32 lc_log_get_effective_log_level();
int32 lc_log_get_system_log_level();
int32 lc_log_get_override_log_level();
bool lc_log_override_active();

[[nodiscard]] int lc_log_get_syslog_facility(int32 *ret_facility);
// Process name of the state ("" without one); valid until lc_log_close.
const char *lc_log_get_lls_process_name();

// Logs `native_tid` as "tid <logged_tid>" from now on.
int lc_log_set_thread_id(uint64 native_tid, uint32 logged_tid);
// While on, every message is dropped at once.
void lc_log_suspend(tbool on);
// Messages lost to a full syslog socket and not yet reported.
uint32 lc_log_lost_count();

// Appends one time-stamped line to `path` (null: LC_LOG_DEBUG_FILE),
// truncating a file past 2,000,000 bytes first.  0, or 1 when it cannot be
// opened.
int lc_log_file(const char *path, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Facilities of the other log streams (default LOG_USER until set).
void lc_set_facility_firewall(int32 facility);
int32 lc_get_facility_firewall();
void lc_set_facility_system(int32 facility);
int32 lc_get_facility_system();
void lc_set_facility_audit(int32 facility);
int32 lc_get_facility_audit();

// Called when the watched time-zone file changes, so that the time library
// (a layer above) reloads the zone.  It runs inside the logger with the
// logger's lock held: it must not block; what it logs is written directly.
typedef void (*lc_log_tz_change_hook_fn)();
void lc_log_set_tz_change_hook(lc_log_tz_change_hook_fn hook);
// Where the logger reads the time of day (stamps, the once-a-second look at
// the watched files); null is gettimeofday.  The time library installs the
// process's clock here, so that a test's manual clock moves the logger too.
typedef void (*lc_log_wall_clock_fn)(struct timeval *now);
void lc_log_set_wall_clock_hook(lc_log_wall_clock_fn hook);

// Build identifier printed with lc_log_flag_source_info.
extern const char lc_build_id[];

// ---------------------------------------------------------------------------
// Test seams

// While a sink is set, every line that would go to syslog is handed to it
// (syslog priority and the finished line, without the trailing newline)
// instead of syslog.  Null restores syslog.  A sink that leaves errno at
// EAGAIN is treated as a full syslog socket.  Setting a sink without a
// logger state creates the "-UNINIT" fallback state.
typedef void (*lc_log_sink_fn)(int priority, const char *line, void *data);
void lc_log_set_sink(lc_log_sink_fn sink, void *data);
// Sets the effective level and pins it: lc_log_init, the level link and the
// level setters leave it alone until a negative level unpins it.
void lc_log_set_effective_level_for_tests(int32 level);
// Replaces the watched level link and time-zone file (null: the defaults).
void lc_log_set_watch_paths_for_tests(const char *level_link, const char *tz_file);
// The last mask given to setlogmask.
int lc_log_get_syslog_mask_for_tests();

// ---------------------------------------------------------------------------
// Logging macros

#define lc_log_basic(level, ...)                                                                   \
    do {                                                                                           \
        if (lc_log_check_level(level)) {                                                           \
            lc_log_init_tls();                                                                     \
            (void)lc_log_internal(__func__, __FILE__, __LINE__, 0, 0, (level), lc_log_tls_cpu(),   \
                                  lc_log_tls_tid(), __VA_ARGS__);                                  \
        }                                                                                          \
    } while (0)

// lc_log_basic with function, file and line (lc_log_flag_source_info).
#define lc_log_basic_src(level, ...)                                                               \
    do {                                                                                           \
        if (lc_log_check_level(level)) {                                                           \
            lc_log_init_tls();                                                                     \
            (void)lc_log_internal(__func__, __FILE__, __LINE__, lc_log_flag_source_info, 0,        \
                                  (level), lc_log_tls_cpu(), lc_log_tls_tid(), __VA_ARGS__);       \
        }                                                                                          \
    } while (0)

// ---------------------------------------------------------------------------
// Failure macros.  Each logs (unless quiet) and returns the code from the
// enclosing int-returning function; errno is left as it was.
//
// Out of memory is one of these ordinary failures: a failed `new
// (std::nothrow)`, malloc or lc_grow gives a null that bail_null reports as
// "Unexpected NULL" (lc_err_unexpected_null); no exception leaves a library
// function.  The full rules (owners, containers, descriptors) are at the top
// of log/common.h.

// "Error code %d (%s) returned" (or "Error code %d returned" for a code
// outside the map) at ERR with source info; lc_err_cancelled passes silently.
void lc_bail_report_error(int err, const char *function, const char *file, int line);
// "Bail forced with error code %d (%s)" / "Bail forced with error code %d".
void lc_bail_report_force(int err, const char *function, const char *file, int line);
// "Unexpected NULL".
void lc_bail_report_null(const char *function, const char *file, int line);
// "Required condition was not met".
void lc_bail_report_require(const char *function, const char *file, int line);

#define bail_error(err_expr)                                                                       \
    do {                                                                                           \
        const int bail_err_ = (err_expr);                                                          \
        if (bail_err_ != 0) [[unlikely]] {                                                         \
            lc_bail_report_error(bail_err_, __func__, __FILE__, __LINE__);                         \
            return bail_err_;                                                                      \
        }                                                                                          \
    } while (0)

#define bail_force(err_expr)                                                                       \
    do {                                                                                           \
        const int bail_err_ = (err_expr);                                                          \
        lc_bail_report_force(bail_err_, __func__, __FILE__, __LINE__);                             \
        return bail_err_;                                                                          \
    } while (0)

#define bail_error_quiet(err_expr)                                                                 \
    do {                                                                                           \
        const int bail_err_ = (err_expr);                                                          \
        if (bail_err_ != 0) {                                                                      \
            bail_quiet_debug();                                                                    \
            return bail_err_;                                                                      \
        }                                                                                          \
    } while (0)

#define bail_null(ptr)                                                                             \
    do {                                                                                           \
        if ((ptr) == nullptr) [[unlikely]] {                                                       \
            lc_bail_report_null(__func__, __FILE__, __LINE__);                                     \
            return lc_err_unexpected_null;                                                         \
        }                                                                                          \
    } while (0)

#define bail_require(cond)                                                                         \
    do {                                                                                           \
        if (!(cond)) [[unlikely]] {                                                                \
            lc_bail_report_require(__func__, __FILE__, __LINE__);                                  \
            return lc_err_assertion_failed;                                                        \
        }                                                                                          \
    } while (0)
