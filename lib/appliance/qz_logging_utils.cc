// Log levels and time zone kept in step with the management configuration.
#include "appliance/qz_logging_utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "util/ttime.h"

namespace
{

struct malloc_deleter {
    void operator()(char *p) const { free(p); }
};
using owned_cstr = std::unique_ptr<char, malloc_deleter>;

// The localN number of the logger's facility (local1, facility 136, is 1).
int qz_local_facility_number(int32 *ret_n)
{
    *ret_n = 0;
    int32 facility = 0;
    bail_error(lc_log_get_syslog_facility(&facility));
    *ret_n = facility / 8 - 16;
    return 0;
}

int qz_process_level_node(char (&buf)[qz_log_node_name_size])
{
    const int n =
        snprintf(buf, sizeof buf, QZ_LOG_NODE_PROCESS_LEVEL_FMT, lc_log_get_lls_process_name());
    bail_require(n > 0 && static_cast<uint32>(n) < sizeof buf);
    return 0;
}

int qz_local_level_node(char (&buf)[qz_log_node_name_size], int32 *ret_n)
{
    bail_error(qz_local_facility_number(ret_n));
    const int n = snprintf(buf, sizeof buf, QZ_LOG_NODE_LOCAL_LEVEL_FMT, *ret_n);
    bail_require(n > 0 && static_cast<uint32>(n) < sizeof buf);
    return 0;
}

// Reads a node's printed value; an absent node or one without a value
// leaves `*ret` null.
int qz_read_str(md_client_context *mcc, const char *node, tstring **ret)
{
    *ret = nullptr;
    tbool found = 0;
    bail_error(mdc_get_binding_tstr(mcc, nullptr, nullptr, &found, ret, node, nullptr));
    if (!found) *ret = nullptr;
    return 0;
}

bool qz_nonempty(const tstring *t)
{
    return t != nullptr && ts_length(t) > 0;
}

// The printed value of a changed binding ("" for a deleted one or one
// without a value) and whether it carries the deleted flag.
int qz_changed_value(const bn_binding *binding, owned_cstr *ret_value, bool *ret_deleted)
{
    ret_value->reset();
    *ret_deleted = false;
    const bn_attrib *attrib = nullptr;
    bail_error(bn_binding_get_attrib(binding, ba_value, &attrib));
    char *text = nullptr;
    if (attrib != nullptr) {
        bn_type type = bt_none;
        uint32 flags = 0;
        bail_error(bn_binding_get_type(binding, ba_value, &type, &flags));
        *ret_deleted = (flags & btf_deleted) != 0;
        if ((flags & btf_no_value) == 0)
            bail_error(bn_binding_get_str(binding, ba_value, 0, nullptr, &text));
    }
    if (text == nullptr) text = strdup("");
    bail_null(text);
    ret_value->reset(text);
    return 0;
}

bool qz_text_is_true(const char *text)
{
    return strcmp(text, "true") == 0 || strcmp(text, "1") == 0 || strcmp(text, "yes") == 0;
}

// Finds the node `name` among `bindings`: with `detach_from` set it is
// taken out of that array (and owned here), otherwise borrowed.
int qz_take_node(bn_binding_array *detach_from, const bn_binding_array *bindings, const char *name,
                 owned<bn_binding> *ret_owned, const bn_binding **ret)
{
    *ret = nullptr;
    if (detach_from != nullptr) {
        bn_binding *b = nullptr;
        bail_error(bn_binding_array_detach_binding_by_name(detach_from, name, &b));
        ret_owned->reset(b);
        *ret = b;
    } else {
        bail_error(bn_binding_array_get_binding_by_name(bindings, name, ret));
    }
    return 0;
}

void qz_reassert_daemon_level();

int qz_apply_log_level_change(bn_binding_array *detach_from, const bn_binding_array *bindings)
{
    char node[qz_log_node_name_size];
    owned<bn_binding> held;
    const bn_binding *b = nullptr;
    owned_cstr value;
    bool deleted = false;

    // 1. The daemon level of this process.
    bail_error(qz_process_level_node(node));
    bail_error(qz_take_node(detach_from, bindings, node, &held, &b));
    if (b != nullptr) {
        bail_error(qz_changed_value(b, &value, &deleted));
        lc_log_basic(LCL_INFO, "Found process to change level: %s=%s", node, value.get());
        if (deleted) {
            (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        } else {
            int32 level = 0;
            bail_error(lc_string_to_enum(lc_log_level_config_names, value.get(), &level));
            (void)lc_log_set_daemon_log_level(static_cast<uint8>(level));
            lc_log_basic(LCL_INFO, "Process log_level='%s'", value.get());
        }
    }

    // 2. The system level.
    bail_error(qz_take_node(detach_from, bindings, QZ_LOG_NODE_SYSTEM_LEVEL, &held, &b));
    if (b != nullptr) {
        bail_error(qz_changed_value(b, &value, &deleted));
        if (!deleted && value.get()[0] != '\0') {
            bail_error(lc_log_set_max_log_level(value.get()));
            lc_log_basic(LCL_INFO, "Syslog log level is set to \"%s\"", value.get());
        }
    }

    // 3. The system-wide override switch.
    bail_error(qz_take_node(detach_from, bindings, QZ_LOG_NODE_OVERRIDE_ENABLE, &held, &b));
    if (b != nullptr) {
        bail_error(qz_changed_value(b, &value, &deleted));
        const tbool on = !deleted && qz_text_is_true(value.get());
        (void)lc_log_enable_override_log_level(1, on);
        lc_log_basic(LCL_INFO, "Syslog system-wide override is %s", on ? "enabled" : "disabled");
    }

    // 4. The override level of this process's facility.
    int32 local_n = 0;
    bail_error(qz_local_level_node(node, &local_n));
    bail_error(qz_take_node(detach_from, bindings, node, &held, &b));
    if (b != nullptr) {
        bail_error(qz_changed_value(b, &value, &deleted));
        if (!deleted && value.get()[0] != '\0') {
            (void)lc_log_enable_override_log_level(0, 1);
            bail_error(lc_log_set_override_log_level(value.get()));
            lc_log_basic(LCL_INFO,
                         "Syslog per-class local%d override is enabled, log level is \"%s\"",
                         local_n, value.get());
        } else {
            (void)lc_log_enable_override_log_level(0, 0);
            lc_log_basic(LCL_INFO, "Syslog per-class local%d override is disabled", local_n);
        }
    }
    qz_reassert_daemon_level();
    return 0;
}

int qz_register_interest(md_client_context *mcc, const char *event_name, const char *pattern)
{
    if (pattern == nullptr) {
        bail_error(mdc_send_action_with_bindings_str_va(
            mcc, nullptr, nullptr, QZ_INTEREST_ADD_ACTION, 1, "event_name", bt_name, event_name));
    } else {
        bail_error(mdc_send_action_with_bindings_str_va(
            mcc, nullptr, nullptr, QZ_INTEREST_ADD_ACTION, 2, "event_name", bt_name, event_name,
            "match/1/pattern", bt_string, pattern));
    }
    return 0;
}

// Switching the override re-derives the syslog mask from the system level,
// which would hide lines that a daemon level set just before lets through:
// the daemon level has the last word on the mask.
void qz_reassert_daemon_level()
{
    const uint8 daemon = lc_log_get_daemon_log_level();
    if (daemon != lc_log_daemon_level_unset) (void)lc_log_set_daemon_log_level(daemon);
}

int qz_time_zone_changed()
{
    (void)lt_reload_time_zone();
    lc_log_basic(LCL_INFO, "Time zone change handled OK");
    return 0;
}

} // namespace

int qz_register_log_level_change(md_client_context *mcc)
{
    bail_null(mcc);
    bail_error(qz_register_interest(mcc, QZ_DBCHANGE_EVENT, "/logging/**"));
    return 0;
}

int qz_init_log_level(md_client_context *mcc)
{
    bail_null(mcc);
    owned<tstring> value;
    tstring *raw = nullptr;

    // 1. System level.
    bail_error(qz_read_str(mcc, QZ_LOG_NODE_SYSTEM_LEVEL, &raw));
    value.reset(raw);
    if (qz_nonempty(value.get())) {
        bail_error(lc_log_set_max_log_level(ts_str(value.get())));
        lc_log_basic(LCL_NOTICE, "Synchronized system log level to '%s'", ts_str(value.get()));
    }

    // 2. Daemon level of this process.
    char node[qz_log_node_name_size];
    bail_error(qz_process_level_node(node));
    bail_error(qz_read_str(mcc, node, &raw));
    value.reset(raw);
    if (qz_nonempty(value.get())) {
        int32 level = 0;
        bail_error(lc_string_to_enum(lc_log_level_config_names, ts_str(value.get()), &level));
        (void)lc_log_set_daemon_log_level(static_cast<uint8>(level));
        lc_log_basic(LCL_NOTICE, "Synchronized daemon log level to '%s'", ts_str(value.get()));
    }

    // 3. System-wide override switch (absent: off).
    tbool override_on = 0;
    bail_error(mdc_get_binding_tbool(mcc, nullptr, nullptr, nullptr, &override_on,
                                     QZ_LOG_NODE_OVERRIDE_ENABLE, nullptr));
    (void)lc_log_enable_override_log_level(1, override_on);

    // 4. Override level of this process's localN facility.
    int32 local_n = 0;
    bail_error(qz_local_level_node(node, &local_n));
    bail_error(qz_read_str(mcc, node, &raw));
    value.reset(raw);
    if (qz_nonempty(value.get())) {
        (void)lc_log_enable_override_log_level(0, 1);
        bail_error(lc_log_set_override_log_level(ts_str(value.get())));
        lc_log_basic(LCL_NOTICE, "Synchronized override log level to \"%s\"", ts_str(value.get()));
    }
    qz_reassert_daemon_level();
    return 0;
}

int qz_handle_log_level_change_detach(bn_binding_array *bindings)
{
    bail_null(bindings);
    bail_error(qz_apply_log_level_change(bindings, bindings));
    return 0;
}

int qz_handle_log_level_change(const bn_binding_array *bindings)
{
    bail_null(bindings);
    bail_error(qz_apply_log_level_change(nullptr, bindings));
    return 0;
}

int qz_register_time_zone_change(md_client_context *mcc)
{
    bail_null(mcc);
    bail_error(qz_register_interest(mcc, QZ_TIME_ZONE_EVENT, nullptr));
    return 0;
}

int qz_handle_time_zone_change(const char *event_name)
{
    if (event_name == nullptr || strcmp(event_name, QZ_TIME_ZONE_EVENT) != 0)
        return lc_err_not_found;
    return qz_time_zone_changed();
}

int qz_handle_time_zone_change_ex(const bn_binding_array *bindings)
{
    bail_null(bindings);
    const bn_binding *zone = nullptr;
    bail_error(bn_binding_array_get_binding_by_name(bindings, QZ_TIME_ZONE_NODE, &zone));
    if (zone == nullptr) return lc_err_not_found;
    return qz_time_zone_changed();
}
