// Error codes, enum maps, the failure macros and the logger.
//
// Every function in the system returns an error code (0 is success).  A
// failure is logged once, where it is first seen, by one of the failure
// macros below, which log with function, file and line and then `return`
// the code from the enclosing function: RAII owners release what the
// function held.  The quiet code lc_err_cancelled passes up unlogged.
#pragma once

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
const char *lc_string_to_string(const lc_string_string_map *map, const char *text);

// Debugger hooks, called on every logged / quiet failure path.
void bail_debug();
void bail_quiet_debug();

// ---------------------------------------------------------------------------
// Log levels, message flags, outputs

enum lc_log_level : int32 {
    LCL_EMERG = 0, LCL_ALERT = 1, LCL_CRIT = 2, LCL_ERR = 3,
    LCL_WARNING = 4, LCL_NOTICE = 5, LCL_INFO = 6, LCL_DEBUG = 7,
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
constexpr uint32 lc_log_component_word(uint32 id) { return id << 16; }
constexpr uint32 lc_log_component_iptrackd = 269;

// ---------------------------------------------------------------------------
// Logger

[[nodiscard]] int lc_log_init(const char *name, const char *prefix, uint32 default_flags,
                              uint32 component_word, int32 max_level, int32 facility,
                              uint32 outputs);
int lc_log_close();
bool lc_log_check_level(int32 level);
void lc_log_init_tls();
int lc_log_internal(const char *function, const char *file, int line, uint32 flags,
                    uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt, ...)
    __attribute__((format(printf, 9, 10)));
int lc_log_vinternal(const char *function, const char *file, int line, uint32 flags,
                     uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt,
                     va_list ap) __attribute__((format(printf, 9, 0)));

// Test seam: while a sink is set, every line that would go to syslog is
// handed to it (syslog priority and the finished body, without the trailing
// newline) instead of syslog.  Null restores syslog.
typedef void (*lc_log_sink_fn)(int priority, const char *line, void *data);
void lc_log_set_sink(lc_log_sink_fn sink, void *data);
// Process-wide level setters used by the management configuration and tests.
void lc_log_set_effective_level_for_tests(int32 level);

// This thread's CPU number and thread id, as fixed by lc_log_init_tls().
int32 lc_log_tls_cpu();
uint64 lc_log_tls_tid();

#define lc_log_basic(level, ...)                                                            \
    do {                                                                                    \
        if (lc_log_check_level(level)) {                                                    \
            lc_log_init_tls();                                                              \
            (void)lc_log_internal(__func__, __FILE__, __LINE__, 0, 0, (level),              \
                                  lc_log_tls_cpu(), lc_log_tls_tid(), __VA_ARGS__);          \
        }                                                                                   \
    } while (0)

// lc_log_basic with function, file and line (lc_log_flag_source_info).
#define lc_log_basic_src(level, ...)                                                            \
    do {                                                                                    \
        if (lc_log_check_level(level)) {                                                    \
            lc_log_init_tls();                                                              \
            (void)lc_log_internal(__func__, __FILE__, __LINE__, lc_log_flag_source_info, 0, \
                                  (level), lc_log_tls_cpu(), lc_log_tls_tid(), __VA_ARGS__); \
        }                                                                                   \
    } while (0)

// ---------------------------------------------------------------------------
// Failure macros.  Each logs (unless quiet) and returns the code from the
// enclosing int-returning function.

// Logs "Error code %d (%s) returned" (or "Error code %d returned") at ERR
// with source info; lc_err_cancelled is passed on without a line.
void lc_bail_report_error(int err, const char *function, const char *file, int line);
void lc_bail_report_force(int err, const char *function, const char *file, int line);
void lc_bail_report_null(const char *function, const char *file, int line);
void lc_bail_report_require(const char *function, const char *file, int line);

#define bail_error(err_expr)                                                                \
    do {                                                                                    \
        const int bail_err_ = (err_expr);                                                   \
        if (bail_err_ != 0) [[unlikely]] {                                                  \
            lc_bail_report_error(bail_err_, __func__, __FILE__, __LINE__);                  \
            return bail_err_;                                                               \
        }                                                                                   \
    } while (0)

#define bail_force(err_expr)                                                                \
    do {                                                                                    \
        const int bail_err_ = (err_expr);                                                   \
        lc_bail_report_force(bail_err_, __func__, __FILE__, __LINE__);                      \
        return bail_err_;                                                                   \
    } while (0)

#define bail_error_quiet(err_expr)                                                          \
    do {                                                                                    \
        const int bail_err_ = (err_expr);                                                   \
        if (bail_err_ != 0) {                                                               \
            bail_quiet_debug();                                                             \
            return bail_err_;                                                               \
        }                                                                                   \
    } while (0)

#define bail_null(ptr)                                                                      \
    do {                                                                                    \
        if ((ptr) == nullptr) [[unlikely]] {                                                \
            lc_bail_report_null(__func__, __FILE__, __LINE__);                              \
            return lc_err_unexpected_null;                                                  \
        }                                                                                   \
    } while (0)

#define bail_require(cond)                                                                  \
    do {                                                                                    \
        if (!(cond)) [[unlikely]] {                                                         \
            lc_bail_report_require(__func__, __FILE__, __LINE__);                           \
            return lc_err_assertion_failed;                                                 \
        }                                                                                   \
    } while (0)
