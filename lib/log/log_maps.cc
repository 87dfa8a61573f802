// Error codes and enum maps: the tables that turn codes into text, their
// lookups, the reports behind the failure macros and signal names.
//
// Everything here is constant data or a pure lookup; the only side effects
// are log lines, written through lc_log_internal.
#include <cerrno>
#include <csignal>
#include <cstring>

#include "log/logging.h"

const lc_enum_string_map lc_error_code_map[] = {
    {lc_err_none, "no error"},
    {lc_err_generic_error, "generic error"},
    {lc_err_unexpected_null, "unexpected NULL"},
    {lc_err_assertion_failed, "assertion failed"},
    {lc_err_not_implemented, "not yet implemented"},
    {lc_err_not_found, "item not found"},
    {lc_err_exists, "item unexpectedly already exists"},
    {lc_err_multiple, "expected single item, found multiple"},
    {lc_err_unexpected_eof, "unexpected EOF"},
    {lc_err_bad_cmdline_arg, "unknown command line argument"},
    {lc_err_bad_path, "invalid path name"},
    {lc_err_bad_file, "invalid file"},
    {lc_err_no_buffer_space, "buffer space exhausted"},
    {lc_err_parse_error, "generic parser error"},
    {lc_err_file_not_found, "file or path not found"},
    {lc_err_io_error, "generic IO error"},
    {lc_err_io_would_block, "IO source/sink would block"},
    {lc_err_io_closed, "IO source/sink is closed"},
    {lc_err_io_timeout, "IO operation timed out"},
    {lc_err_io_file_exists, "IO operation had unexpected file existence"},
    {lc_err_unexpected_case, "unexpected case in switch statement"},
    {lc_err_bad_type, "type conversion failed"},
    {lc_err_bad_utf8, "bad UTF-8 character sequence"},
    {lc_err_divide_by_zero, "divide by zero"},
    {lc_err_no_space, "filesystem out of space"},
    {lc_err_tree_has_children, "tree: tried to delete node with children"},
    {lc_err_tree_not_ancestor, "tree: node is not an ancestor"},
    {lc_err_tree_no_path, "tree: no preexisting path to specified node"},
    {lc_err_foreach_delete, "foreach: delete current element"},
    {lc_err_foreach_remove, "foreach: remove current element"},
    {lc_err_foreach_halt_error, "foreach: halt iteration with error"},
    {lc_err_foreach_halt, "foreach: halt iteration without error"},
    {lc_err_cli_reset_timer, "CLI shell: reset timer for event callback"},
    {lc_err_cli_delete_callback, "CLI shell: delete event callback registration"},
    {lc_err_cli_not_available, "CLI shell func called but not available"},
    {lc_err_cancelled, "Operation cancelled"},
    {lc_err_bad_login, "Invalid user/password for login"},
    {lc_err_bad_name, "Invalid string name was passed in."},
    {lc_err_upgrade_failed, "Upgrade failed, no continue."},
    {lc_err_ipv6_mcast_unsupported, "IPv6 Multicast is not supported on this platform"},
    {0, nullptr},
};

const lc_enum_string_map lc_log_level_names[] = {
    {LCL_EMERG, "EMERG"}, {LCL_ALERT, "ALERT"},     {LCL_CRIT, "CRIT"},
    {LCL_ERR, "ERR"},     {LCL_WARNING, "WARNING"}, {LCL_NOTICE, "NOTICE"},
    {LCL_INFO, "INFO"},   {LCL_DEBUG, "DEBUG"},     {0, nullptr},
};

const lc_enum_string_map lc_log_level_config_names[] = {
    {LCL_EMERG, "emerg"}, {LCL_ALERT, "alert"},     {LCL_CRIT, "crit"},
    {LCL_ERR, "err"},     {LCL_WARNING, "warning"}, {LCL_NOTICE, "notice"},
    {LCL_INFO, "info"},   {LCL_DEBUG, "debug"},     {0, nullptr},
};

namespace
{
const lc_enum_string_map component_names_base[] = {
    {1, "cli"},   {2, "snmp"},    {3, "snmpkeys"},    {4, "pm"},    {5, "mgmtd"},
    {6, "mdreq"}, {7, "mddbreq"}, {8, "kern"},        {9, "libs"},  {10, "tests"},
    {11, "unk"},  {12, "sched"},  {13, "md_adduser"}, {0, nullptr},
};
const lc_enum_string_map component_names_daemons[] = {
    {257, "tunneld"},  {258, "redd"},       {260, "sysd"},   {261, "netflowd"}, {262, "wccpd"},
    {263, "sslpd"},    {264, "discoveryd"}, {265, "cifspd"}, {266, "statsd2"},  {268, "jsond"},
    {269, "iptrackd"}, {270, "neighd"},     {271, "ifmgr"},  {272, "mrtrd"},    {273, "routerd"},
    {274, "bfdd"},     {275, "certd"},      {276, "nacd"},   {277, "suricata"}, {0, nullptr},
};
} // namespace

const lc_enum_string_map *const lc_log_component_names[] = {component_names_base,
                                                            component_names_daemons, nullptr};

// ---------------------------------------------------------------------------
// Lookups

const char *lc_enum_to_string_quiet_null(const lc_enum_string_map *map, int32 value)
{
    if (map == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return nullptr;
    }
    for (; map->lesm_name != nullptr; ++map)
        if (map->lesm_value == value) return map->lesm_name;
    return nullptr;
}

const char *lc_signed_enum_to_string_quiet_null(const lc_enum_string_map *map, int32 value)
{
    return lc_enum_to_string_quiet_null(map, value);
}

const char *lc_enum_to_string_quiet(const lc_enum_string_map *map, int32 value)
{
    if (map == nullptr) return "ERROR-NO-MAP";
    const char *name = lc_enum_to_string_quiet_null(map, value);
    return name ? name : "ERROR-NO-MAP";
}

const char *lc_enum_to_string(const lc_enum_string_map *map, int32 value)
{
    const char *name = lc_enum_to_string_quiet_null(map, value);
    if (name) return name;
    if (map) {
        int size = 0;
        while (map[size].lesm_name) ++size;
        lc_log_basic(LCL_ERR,
                     "Could not find a mapping for enum value %d (first=%s,last=%s,size=%d)", value,
                     size ? map[0].lesm_name : "", size ? map[size - 1].lesm_name : "", size);
    }
    return "ERROR-NO-MAP";
}

int lc_string_to_enum(const lc_enum_string_map *map, const char *text, int32 *ret_value)
{
    bail_null(ret_value);
    *ret_value = 0;
    bail_null(map);
    bail_null(text);
    for (; map->lesm_name != nullptr; ++map) {
        if (strcmp(map->lesm_name, text) == 0) {
            *ret_value = map->lesm_value;
            return 0;
        }
    }
    return lc_err_bad_type;
}

const char *lc_string_to_string(const lc_string_string_map *map, const char *text)
{
    if (map == nullptr || text == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return "ERROR-NO-MAP";
    }
    int size = 0;
    for (; map[size].lssm_from; ++size)
        if (strcmp(map[size].lssm_from, text) == 0) return map[size].lssm_to;
    lc_log_basic(LCL_ERR, "Could not find a mapping for string value %s (first=%s,last=%s,size=%d)",
                 text, size ? map[0].lssm_from : "", size ? map[size - 1].lssm_from : "", size);
    return "ERROR-NO-MAP";
}

// Kept out of line and non-empty to the optimiser so that a breakpoint on
// them stops on every failure path.
void bail_debug()
{
    asm volatile("");
}
void bail_quiet_debug()
{
    asm volatile("");
}

// ---------------------------------------------------------------------------
// Failure reports

namespace
{

// One ERR line with source info for the caller's place; errno untouched.
[[gnu::format(printf, 4, 5)]] void log_failure(const char *function, const char *file, int line,
                                               const char *fmt, ...)
{
    const int saved = errno;
    if (lc_log_check_level(LCL_ERR)) {
        lc_log_init_tls();
        va_list ap;
        va_start(ap, fmt);
        lc_log_vinternal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR,
                         lc_log_tls_cpu(), lc_log_tls_tid(), fmt, ap);
        va_end(ap);
    }
    bail_debug();
    errno = saved;
}

} // namespace

void lc_bail_report_error(int err, const char *function, const char *file, int line)
{
    if (err == lc_err_cancelled) {
        bail_quiet_debug();
        return;
    }
    if (const char *msg = lc_enum_to_string_quiet_null(lc_error_code_map, err))
        log_failure(function, file, line, "Error code %d (%s) returned", err, msg);
    else
        log_failure(function, file, line, "Error code %d returned", err);
}

void lc_bail_report_force(int err, const char *function, const char *file, int line)
{
    if (const char *msg = lc_enum_to_string_quiet_null(lc_error_code_map, err))
        log_failure(function, file, line, "Bail forced with error code %d (%s)", err, msg);
    else
        log_failure(function, file, line, "Bail forced with error code %d", err);
}

void lc_bail_report_null(const char *function, const char *file, int line)
{
    log_failure(function, file, line, "Unexpected NULL");
}

void lc_bail_report_require(const char *function, const char *file, int line)
{
    log_failure(function, file, line, "Required condition was not met");
}

// ---------------------------------------------------------------------------
// Signal names

const char *lc_signal_num_to_name(int signum)
{
    switch (signum) {
#define LC_SIGNAL_NAME(s)                                                                          \
    case s:                                                                                        \
        return #s;
        LC_SIGNAL_NAME(SIGHUP)
        LC_SIGNAL_NAME(SIGINT)
        LC_SIGNAL_NAME(SIGQUIT)
        LC_SIGNAL_NAME(SIGILL)
        LC_SIGNAL_NAME(SIGTRAP)
        LC_SIGNAL_NAME(SIGABRT)
        LC_SIGNAL_NAME(SIGBUS)
        LC_SIGNAL_NAME(SIGFPE)
        LC_SIGNAL_NAME(SIGKILL)
        LC_SIGNAL_NAME(SIGUSR1)
        LC_SIGNAL_NAME(SIGSEGV)
        LC_SIGNAL_NAME(SIGUSR2)
        LC_SIGNAL_NAME(SIGPIPE)
        LC_SIGNAL_NAME(SIGALRM)
        LC_SIGNAL_NAME(SIGTERM)
        LC_SIGNAL_NAME(SIGSTKFLT)
        LC_SIGNAL_NAME(SIGCHLD)
        LC_SIGNAL_NAME(SIGCONT)
        LC_SIGNAL_NAME(SIGSTOP)
        LC_SIGNAL_NAME(SIGTSTP)
        LC_SIGNAL_NAME(SIGTTIN)
        LC_SIGNAL_NAME(SIGTTOU)
        LC_SIGNAL_NAME(SIGURG)
        LC_SIGNAL_NAME(SIGXCPU)
        LC_SIGNAL_NAME(SIGXFSZ)
        LC_SIGNAL_NAME(SIGVTALRM)
        LC_SIGNAL_NAME(SIGPROF)
        LC_SIGNAL_NAME(SIGWINCH)
        LC_SIGNAL_NAME(SIGIO)
        LC_SIGNAL_NAME(SIGPWR)
        LC_SIGNAL_NAME(SIGSYS)
#undef LC_SIGNAL_NAME
    default:
        return "UNKNOWN";
    }
}
