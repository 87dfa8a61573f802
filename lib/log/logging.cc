// Interim logger: maps, failure reports and a plain syslog writer.  The full
// logger (levels, watching, thread map, fallback state) replaces this.
#include "log/logging.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sched.h>

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
    {0, "EMERG"}, {1, "ALERT"}, {2, "CRIT"}, {3, "ERR"}, {4, "WARNING"},
    {5, "NOTICE"}, {6, "INFO"}, {7, "DEBUG"}, {0, nullptr},
};
const lc_enum_string_map lc_log_level_config_names[] = {
    {0, "emerg"}, {1, "alert"}, {2, "crit"}, {3, "err"}, {4, "warning"},
    {5, "notice"}, {6, "info"}, {7, "debug"}, {0, nullptr},
};
namespace {
const lc_enum_string_map component_names_base[] = {
    {1, "cli"}, {2, "snmp"}, {3, "snmpkeys"}, {4, "pm"}, {5, "mgmtd"}, {6, "mdreq"},
    {7, "mddbreq"}, {8, "kern"}, {9, "libs"}, {10, "tests"}, {11, "unk"}, {12, "sched"},
    {13, "md_adduser"}, {0, nullptr},
};
const lc_enum_string_map component_names_daemons[] = {
    {257, "tunneld"}, {258, "redd"}, {260, "sysd"}, {261, "netflowd"}, {262, "wccpd"},
    {263, "sslpd"}, {264, "discoveryd"}, {265, "cifspd"}, {266, "statsd2"}, {268, "jsond"},
    {269, "iptrackd"}, {270, "neighd"}, {271, "ifmgr"}, {272, "mrtrd"}, {273, "routerd"},
    {274, "bfdd"}, {275, "certd"}, {276, "nacd"}, {277, "suricata"}, {0, nullptr},
};
} // namespace
const lc_enum_string_map *const lc_log_component_names[] = {
    component_names_base, component_names_daemons, nullptr};

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
    const char *n = lc_enum_to_string_quiet_null(map, value);
    return n ? n : "ERROR-NO-MAP";
}

const char *lc_enum_to_string(const lc_enum_string_map *map, int32 value)
{
    const char *n = lc_enum_to_string_quiet_null(map, value);
    if (n) return n;
    if (map) {
        int size = 0;
        while (map[size].lesm_name) ++size;
        lc_log_basic(LCL_ERR, "Could not find a mapping for enum value %d (first=%s,last=%s,size=%d)",
                     value, size ? map[0].lesm_name : "", size ? map[size - 1].lesm_name : "",
                     size);
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
    if (map == nullptr || text == nullptr) return "ERROR-NO-MAP";
    for (const lc_string_string_map *m = map; m->lssm_from; ++m)
        if (strcmp(m->lssm_from, text) == 0) return m->lssm_to;
    return "ERROR-NO-MAP";
}

void bail_debug() { asm volatile(""); }
void bail_quiet_debug() { asm volatile(""); }

// ---------------------------------------------------------------------------

namespace {
int32 g_effective_level = LCL_NOTICE;
lc_log_sink_fn g_sink = nullptr;
void *g_sink_data = nullptr;
thread_local int32 t_cpu = -1;
thread_local uint64 t_tid = 0;
} // namespace

void lc_log_set_sink(lc_log_sink_fn sink, void *data)
{
    g_sink = sink;
    g_sink_data = data;
}
void lc_log_set_effective_level_for_tests(int32 level) { g_effective_level = level; }

bool lc_log_check_level(int32 level) { return level <= g_effective_level; }

void lc_log_init_tls()
{
    if (t_cpu == -1) {
        t_cpu = sched_getcpu();
        t_tid = (uint64)pthread_self();
    }
}
int32 lc_log_tls_cpu() { return t_cpu; }
uint64 lc_log_tls_tid() { return t_tid; }

int lc_log_init(const char *name, const char *, uint32, uint32, int32 max_level, int32 facility,
                uint32)
{
    bail_null(name);
    g_effective_level = max_level;
    openlog(name, LOG_NDELAY | LOG_PID, facility);
    return 0;
}

int lc_log_close()
{
    closelog();
    return 0;
}

int lc_log_vinternal(const char *function, const char *file, int line, uint32 flags, uint32,
                     int32 level, int32 cpu, uint64 tid, const char *fmt, va_list ap)
{
    if (level > g_effective_level) return 0;
    const int saved = errno;
    char body[1024];
    int n = snprintf(body, sizeof body, "CPU %d TID %lu: [iptrackd.%s]: ", cpu,
                     (unsigned long)tid, lc_enum_to_string_quiet(lc_log_level_names, level));
    if (flags & lc_log_flag_source_info)
        snprintf(body + n, sizeof body - n, "%s(), %s:%d, build %s: %s\n", function, file, line,
                 "dev", fmt);
    else
        snprintf(body + n, sizeof body - n, "%s\n", fmt);
    errno = saved;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (g_sink) {
        char text[1024];
        vsnprintf(text, sizeof text, body, ap);
        size_t len = strlen(text);
        if (len && text[len - 1] == '\n') text[len - 1] = 0;
        g_sink(level & 7, text, g_sink_data);
    } else {
        vsyslog(level & 7, body, ap);
    }
#pragma GCC diagnostic pop
    errno = saved;
    return 0;
}

int lc_log_internal(const char *function, const char *file, int line, uint32 flags,
                    uint32 component, int32 level, int32 cpu, uint64 tid, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int err = lc_log_vinternal(function, file, line, flags, component, level, cpu, tid, fmt, ap);
    va_end(ap);
    return err;
}

// ---------------------------------------------------------------------------

void lc_bail_report_error(int err, const char *function, const char *file, int line)
{
    if (err == lc_err_cancelled) {
        bail_quiet_debug();
        return;
    }
    const int saved = errno;
    const char *msg = lc_enum_to_string_quiet_null(lc_error_code_map, err);
    if (lc_log_check_level(LCL_ERR)) {
        lc_log_init_tls();
        if (msg)
            lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu,
                            t_tid, "Error code %d (%s) returned", err, msg);
        else
            lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu,
                            t_tid, "Error code %d returned", err);
    }
    bail_debug();
    errno = saved;
}

void lc_bail_report_force(int err, const char *function, const char *file, int line)
{
    const int saved = errno;
    const char *msg = lc_enum_to_string_quiet_null(lc_error_code_map, err);
    if (lc_log_check_level(LCL_ERR)) {
        lc_log_init_tls();
        if (msg)
            lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu,
                            t_tid, "Bail forced with error code %d (%s)", err, msg);
        else
            lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu,
                            t_tid, "Bail forced with error code %d", err);
    }
    bail_debug();
    errno = saved;
}

void lc_bail_report_null(const char *function, const char *file, int line)
{
    const int saved = errno;
    if (lc_log_check_level(LCL_ERR)) {
        lc_log_init_tls();
        lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu, t_tid,
                        "Unexpected NULL");
    }
    bail_debug();
    errno = saved;
}

void lc_bail_report_require(const char *function, const char *file, int line)
{
    const int saved = errno;
    if (lc_log_check_level(LCL_ERR)) {
        lc_log_init_tls();
        lc_log_internal(function, file, line, lc_log_flag_source_info, 0, LCL_ERR, t_cpu, t_tid,
                        "Required condition was not met");
    }
    bail_debug();
    errno = saved;
}
