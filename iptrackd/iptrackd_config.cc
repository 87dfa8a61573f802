// The configuration intake (declared in iptrackd_config.h).
//
// A binding's name decides what it does, by the first of a fixed list of
// patterns that matches; names of the engine's own subtree carry the entry
// name at part 4.  The intake holds the engine's busy scope while it works,
// because enabling a manager or re-evaluating a route label sends, and the
// nested passes of those sends may deliver further changes.
#include "iptrackd_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "appliance/qz_logging_utils.h"
#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "iptrackd_mgmt.h"
#include "log/logging.h"
#include "mgmt/mdc_main.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

// Syslog facility codes and their names (the standard numbering).
const lc_enum_string_map facility_names[] = {
    {0, "kern"},      {8, "user"},     {16, "mail"},    {24, "daemon"},  {32, "auth"},
    {40, "syslog"},   {48, "lpr"},     {56, "news"},    {64, "uucp"},    {72, "cron"},
    {80, "authpriv"}, {88, "ftp"},     {128, "local0"}, {136, "local1"}, {144, "local2"},
    {152, "local3"},  {160, "local4"}, {168, "local5"}, {176, "local6"}, {184, "local7"},
    {0, nullptr},
};

bool matches(const char *name, const char *pattern)
{
    return bn_binding_name_pattern_match(name, pattern);
}

const char *part(const tstr_array *parts, uint32 i)
{
    return i < tstr_array_length_quick(parts) ? tstr_array_get_str_quick(parts, i) : nullptr;
}

int value_flags(const bn_binding *binding, uint32 *ret_flags)
{
    bn_type type = 0;
    *ret_flags = 0;
    bail_error(bn_binding_get_type(binding, ba_value, &type, ret_flags));
    return 0;
}

bool is_deleted(uint32 flags)
{
    return (flags & btf_deleted) != 0;
}

// The value as a string; null in `*ret` when the node has none.
int value_string(const bn_binding *binding, owned<tstring> *ret)
{
    tstring *raw = nullptr;
    uint32 taf = 0;
    bail_error(bn_binding_get_tstr(binding, ba_value, bt_string, &taf, &raw));
    ret->reset(raw);
    return 0;
}

const char *text_or(const owned<tstring> &s, const char *dflt)
{
    return s ? ts_str(s.get()) : dflt;
}

int facility_change(const bn_binding *binding)
{
    uint32 taf = 0;
    uint32 code = 0;
    bail_error(bn_binding_get_uint32(binding, ba_value, &taf, &code));
    const char *fname = lc_enum_to_string_quiet(facility_names, static_cast<int32>(code));
    if (fname == nullptr) fname = "";
    lc_log_basic(LCL_INFO, "system facility to %d(%s), %s", static_cast<int>(code / 8), fname,
                 iptrackd_program_name);
    (void)lc_log_file(nullptr, "system facility set to %s, %s", fname, iptrackd_program_name);
    bail_error(lc_log_init(iptrackd_program_name, nullptr, 0,
                           lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG,
                           static_cast<int32>(code), lc_log_output_syslog));
    return 0;
}

int oper_change(const char *name, const bn_binding *binding, const char *oper_name)
{
    bail_null(oper_name);
    uint32 flags = 0;
    bail_error(value_flags(binding, &flags));
    if (is_deleted(flags)) {
        if (!matches(name, "/qz/iptrackd/config/oper/*/attributes"))
            iptrack_oper_mark_deleted(iptrack_find_oper_entry(oper_name));
        return 0;
    }
    if (!matches(name, "/qz/iptrackd/config/oper/*/attributes")) return 0;
    owned<tstring> value;
    bail_error(value_string(binding, &value));
    if (value) {
        lc_log_basic(LCL_NOTICE, "%s: updating operation %s attributes %s",
                     "iptrackd_config_update_oper", oper_name, ts_str(value.get()));
        iptrack_oper *oper = iptrack_get_oper_entry(oper_name);
        if (oper == nullptr)
            lc_log_basic(LCL_ERR, "%s: unable to retrieve operation entry for %s",
                         "iptrackd_config_update_oper", oper_name);
        else
            iptrack_oper_set_new_attribs(oper, ts_str(value.get()));
    }
    lc_log_basic(LCL_NOTICE, "%s: Updated operation %s", "iptrackd_config_update_oper", oper_name);
    return 0;
}

int action_change(const char *name, const bn_binding *binding, const char *action_name)
{
    bail_null(action_name);
    uint32 flags = 0;
    bail_error(value_flags(binding, &flags));
    const bool attributes = matches(name, "/qz/iptrackd/config/action/*/attributes");
    if (is_deleted(flags)) {
        if (!attributes) (void)iptrack_delete_action_entry(action_name);
        return 0;
    }
    if (!attributes) return 0;
    owned<tstring> value;
    bail_error(value_string(binding, &value));
    (void)iptrackd_config_update_action(action_name, value ? ts_str(value.get()) : nullptr);
    lc_log_basic(LCL_NOTICE, "%s: Updated action %s", "iptrackd_config_update_action", action_name);
    return 0;
}

int mgr_attributes(const bn_binding *binding, const char *mgr_name)
{
    owned<tstring> value;
    bail_error(value_string(binding, &value));
    int err = lc_err_unexpected_null;
    if (value) {
        lc_log_basic(LCL_NOTICE, "%s: updating manager %s attributes %s",
                     "iptrackd_config_update_mgr", mgr_name, ts_str(value.get()));
        if (iptrack_mgr *mgr = iptrack_get_mgr_entry(mgr_name)) {
            iptrack_mgr_set_attribs(mgr, ts_str(value.get()));
            lc_log_basic(LCL_NOTICE, "%s: Updated manager %s", "iptrackd_config_update_mgr",
                         mgr_name);
            return 0;
        }
    }
    lc_bail_report_null("iptrackd_config_update_mgr", __FILE__, __LINE__);
    lc_log_basic(LCL_ERR, "%s: Failed to update manager %s", "iptrackd_config_update_mgr",
                 mgr_name);
    return err;
}

int mgr_label_id(const bn_binding *binding, const char *mgr_name)
{
    uint32 taf = 0;
    uint32 id = 0;
    bail_error(bn_binding_get_uint32(binding, ba_value, &taf, &id));
    int err = 0;
    iptrack_mgr *mgr = nullptr;
    if (id >= get_max_route_labels()) {
        lc_bail_report_require("iptrackd_config_update_mgr_rtlabel", __FILE__, __LINE__);
        err = lc_err_assertion_failed;
    } else {
        lc_log_basic(LCL_NOTICE, "%s: updating manager %s route label ID %u",
                     "iptrackd_config_update_mgr_rtlabel", mgr_name, id);
        mgr = iptrack_get_mgr_entry(mgr_name);
        if (mgr == nullptr) {
            lc_bail_report_null("iptrackd_config_update_mgr_rtlabel", __FILE__, __LINE__);
            err = lc_err_unexpected_null;
        }
    }
    if (err != 0) {
        lc_log_basic(LCL_ERR, "%s: Failed to update manager %s label ID to %u",
                     "iptrackd_config_update_mgr_rtlabel", mgr_name, id);
        return err;
    }
    iptrack_mgr_set_configured_rtlabel(mgr, id);
    lc_log_basic(LCL_NOTICE, "%s: Updated manager %s label ID to %u",
                 "iptrackd_config_update_mgr_rtlabel", mgr_name, id);
    return 0;
}

int mgr_change(const char *name, const bn_binding *binding, const char *mgr_name)
{
    bail_null(mgr_name);
    uint32 flags = 0;
    bail_error(value_flags(binding, &flags));
    const bool attributes = matches(name, "/qz/iptrackd/config/manager/*/attributes");
    if (is_deleted(flags)) {
        if (!attributes) (void)iptrack_delete_mgr_entry(mgr_name);
        return 0;
    }
    if (attributes) return mgr_attributes(binding, mgr_name);
    if (matches(name, "/qz/iptrackd/config/manager/*/enable")) {
        iptrack_mgr *mgr = iptrack_get_mgr_entry(mgr_name);
        bail_null(mgr);
        uint32 taf = 0;
        tbool enabled = 0;
        bail_error(bn_binding_get_tbool(binding, ba_value, &taf, &enabled));
        (void)iptrack_set_mgr_status(mgr, enabled != 0);
        lc_log_basic(LCL_NOTICE, "%s: updating manager %s admin status to %s",
                     "iptrackd_config_update_mgr", mgr_name, enabled ? "Up" : "Down");
        return 0;
    }
    if (matches(name, "/qz/iptrackd/config/manager/*/comment")) {
        owned<tstring> value;
        bail_error(value_string(binding, &value));
        lc_log_basic(LCL_NOTICE, "%s: Updated manager %s comment %s", "iptrackd_config_update_mgr",
                     mgr_name, text_or(value, ""));
        iptrack_mgr *mgr = iptrack_get_mgr_entry(mgr_name);
        bail_null(mgr);
        iptrack_mgr_set_note(mgr, text_or(value, ""));
        return 0;
    }
    if (matches(name, "/qz/iptrackd/config/manager/*/label_id"))
        return mgr_label_id(binding, mgr_name);
    return 0;
}

int label_update(const char *func, int level, const char *name, const bn_binding *binding)
{
    owned<tstring> value;
    bail_error(value_string(binding, &value));
    lc_log_basic(level, "%s: %s cfg change caused label update; label %s", func, name,
                 text_or(value, "null"));
    (void)iptrack_is_label_in_use(value ? ts_str(value.get()) : nullptr);
    return 0;
}

int tunnel_change(const bn_binding *binding, const tstr_array *parts)
{
    uint32 flags = 0;
    bail_error(value_flags(binding, &flags));
    if (!is_deleted(flags)) {
        iptrack_notify_if_or_tunnel_change();
        return 0;
    }
    const char *tunnel = part(parts, 2);
    bail_null(tunnel);
    lc_log_basic(LCL_INFO, "%s, tunnel %s is deleted", "iptrackd_config_handle_change", tunnel);
    if (iptrack_is_tunnel_in_use(tunnel)) iptrack_notify_tunnel_chg();
    return 0;
}

int virtual_label_change(const char *name, const bn_binding *binding, const tstr_array *parts)
{
    const char *ifname = part(parts, 5);
    bail_null(ifname);
    const bool used = iptrack_is_ifname_in_use(ifname);
    lc_log_basic(LCL_INFO, "%s: ifname is %s, in use: %s", "iptrackd_config_handle_change", ifname,
                 used ? "yes" : "no");
    if (used) iptrack_notify_label_chg();
    return label_update("iptrackd_config_handle_change", LCL_INFO, name, binding);
}

int rtlabel_condition(const bn_binding *binding, const tstr_array *parts)
{
    const char *id_text = part(parts, 3);
    bail_null(id_text);
    errno = 0;
    const unsigned long id = strtoul(id_text, nullptr, 10);
    if (errno != 0) return errno;
    uint32 taf = 0;
    tbool any = 0;
    bail_error(bn_binding_get_tbool(binding, ba_value, &taf, &any));
    bail_error(iptrack_mgr_determine_rtlabel_status(static_cast<uint32>(id), any != 0, nullptr));
    return 0;
}

int handle_one(const char *name, const bn_binding *binding, const tstr_array *parts)
{
    if (matches(name, "/logging/syslog/facility/system")) return facility_change(binding);
    if (matches(name, "/qz/iptrackd/config/oper/**"))
        return oper_change(name, binding, part(parts, 4));
    if (matches(name, "/qz/iptrackd/config/action/**"))
        return action_change(name, binding, part(parts, 4));
    if (matches(name, "/qz/iptrackd/config/manager/**"))
        return mgr_change(name, binding, part(parts, 4));
    if (matches(name, "/qz/iflabels/**")) {
        if (!matches(name, "/qz/iflabels/config/*/*")) return 0;
        return label_update("iptrackd_config_handle_change", LCL_NOTICE, name, binding);
    }
    if (matches(name, "/net/interface/config/*/label") ||
        matches(name, "/qz/tunneld/system/config/router/*/ip/*/label") ||
        matches(name, "/qz/tunneld/system/config/router/*/dhcp/*/label"))
        return label_update("iptrackd_config_handle_change", LCL_NOTICE, name, binding);
    if (matches(name, "/tun/config/*/config_bin")) return tunnel_change(binding, parts);
    if (matches(name, "/tun/config/*")) return 0;
    if (matches(name, "/net/if2/config/virtual/loopback/*/label") ||
        matches(name, "/net/if2/config/virtual/vti/*/label"))
        return virtual_label_change(name, binding, parts);
    if (matches(name, "/qz/rtlabels/config/*/is_down_condition_any"))
        return rtlabel_condition(binding, parts);
    if (matches(name, "/qz/tunneld/system/config/router/**") ||
        matches(name, "/qz/redd/net/interface/vrrp/**"))
        return 0;
    lc_log_basic(LCL_NOTICE, "IP Track update: Unsupported binding %s", name);
    return 0;
}

} // namespace

int iptrackd_config_update_action(const char *name, const char *attribs)
{
    if (name == nullptr || attribs == nullptr) return 0;
    lc_log_basic(LCL_NOTICE, "%s: updating action %s attributes %s", __func__, name, attribs);
    iptrack_action *action = iptrack_get_action_entry(name);
    if (action == nullptr) {
        lc_log_basic(LCL_ERR, "%s: unable to retrieve action entry for %s", __func__, name);
        return 0;
    }
    iptrack_action_set_attribs(action, attribs);
    return 0;
}

int iptrackd_config_handle_change(const bn_binding_array *, uint32, bn_binding *binding, void *)
{
    bail_null(binding);
    const tstring *name_ts = nullptr;
    bail_error(bn_binding_get_name(binding, &name_ts));
    bail_null(name_ts);
    const char *name = ts_str(name_ts);
    tstr_array *raw = nullptr;
    bail_error(bn_binding_name_to_parts(name, &raw, nullptr));
    owned<tstr_array> parts{raw};
    lc_log_basic(LCL_NOTICE, "%s: updating %s", __func__, name);

    iptrack_busy_scope busy;
    bail_error(handle_one(name, binding, parts.get()));
    return 0;
}

int iptrackd_config_query()
{
    bn_binding_array *raw = nullptr;
    bail_error(mdc_get_binding_children(iptrackd_mcc, nullptr, nullptr, mdbf_keep_name_parts, &raw,
                                        0, 1, IPTRACKD_CONFIG_ROOT));
    owned<bn_binding_array> bindings{raw};
    if (bn_binding_array_length_quick(bindings.get()) > 0)
        bail_error(
            bn_binding_array_foreach(bindings.get(), iptrackd_config_handle_change, nullptr));
    bail_error(qz_init_log_level(iptrackd_mcc));
    return 0;
}

int iptrackd_config_if_change(const bn_binding_array *bindings)
{
    const bn_binding *ifname_binding = nullptr;
    if (bindings != nullptr)
        (void)bn_binding_array_get_binding_by_name(bindings, "ifname", &ifname_binding);
    bail_null(ifname_binding);
    owned<tstring> value;
    bail_error(value_string(ifname_binding, &value));
    if (!value || ts_length(value.get()) == 0) return 0;
    lc_log_basic(LCL_NOTICE, "%s ifname is %s", __func__, ts_str(value.get()));
    if (iptrack_monitor_pending_port_active()) {
        lc_log_basic(LCL_NOTICE, "%s some monitor is pending port active", __func__);
        iptrack_notify_if_or_tunnel_change();
    } else {
        lc_log_basic(LCL_NOTICE, "%s no monitor is pending port active", __func__);
    }
    return 0;
}
