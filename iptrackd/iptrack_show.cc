// Show records (declared in iptrack_show.h and iptrack.h).
//
// Each record is written through a byte writer bounded to the record, at
// the offsets of iptrack_show_layout.h, so a wrong offset fails instead of
// spilling into the next record.  Fields a manager has no value for are
// left as the caller's zero fill.
#include "iptrack_show.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "util/byte_cursor.h"

namespace
{

using lc_bytes::order;

constexpr const char *show_na = "N/A";

// Formats into `text` of `size` bytes; texts longer than their field are cut
// to fit on purpose.
[[gnu::format(printf, 3, 4)]] void show_printf(char *text, size_t size, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    (void)vsnprintf(text, size, format, ap);
    va_end(ap);
}

// One text field of a record.
[[nodiscard]] bool put_text(const lc_byte_writer &rec, uint32 off, uint32 len, const char *text)
{
    lc_byte_writer field;
    return rec.at(off, len, &field) && field.text(text, len);
}

// One number of a record, in host order.
template <class T> [[nodiscard]] bool put_ne(const lc_byte_writer &rec, uint32 off, T value)
{
    lc_byte_writer field;
    return rec.at(off, sizeof value, &field) && field.put<order::native>(value);
}

// "label" and the label, or two empty texts.
struct label_part {
    const char *word = "";
    const char *label = "";
};

label_part oper_label_part(const iptrack_oper *oper)
{
    if (oper && (oper->state_flags & iptrack_os_label_based)) return {"label", oper->label};
    return {};
}

// The description of an operation (field of iptrack_show_desc_len bytes);
// ping and HTTP operations also put their ka and thresholds into the record.
[[nodiscard]] bool write_oper_desc(const lc_byte_writer &rec, const iptrack_oper *oper)
{
    char text[iptrack_show_desc_len] = "";
    if (!oper) {
        show_printf(text, sizeof text, "ERROR: Operation Not Found");
        return put_text(rec, iptrack_show_mgr_oper_desc_off, iptrack_show_desc_len, text);
    }
    const char *port = iptrack_first_port(&oper->ports);
    if (!port) port = show_na;
    const char *tunnel = oper->tunnel_name[0] ? oper->tunnel_name : show_na;
    const label_part lp = oper_label_part(oper);
    bool probe_thresholds = false;
    switch (oper->type) {
    case iptrack_oper_port:
        show_printf(text, sizeof text, "Interface Monitor for port %s %s %s", port, lp.word,
                    lp.label);
        break;
    case iptrack_oper_ip:
        show_printf(text, sizeof text, "Ping Monitor for %s on Port %s tunnel %s %s %s",
                    oper->targets, port, tunnel, lp.word, lp.label);
        probe_thresholds = true;
        break;
    case iptrack_oper_vrrp:
        show_printf(text, sizeof text, "VRRP state monitor for Interface %s %s %s", port, lp.word,
                    lp.label);
        break;
    case iptrack_oper_http:
        show_printf(text, sizeof text, "HTTP Monitor for %s on Port %s tunnel %s %s %s",
                    oper->targets, port, tunnel, lp.word, lp.label);
        probe_thresholds = true;
        break;
    default:
        show_printf(text, sizeof text, "ERROR: Unknown Operation Type %u", unsigned(oper->type));
        break;
    }
    if (probe_thresholds &&
        !(put_ne<uint16>(rec, iptrack_show_mgr_ka_off, oper->ka) &&
          put_ne<uint16>(rec, iptrack_show_mgr_up_thresh_off, oper->up_thresh) &&
          put_ne<uint16>(rec, iptrack_show_mgr_dn_thresh_off, oper->dn_thresh)))
        return false;
    return put_text(rec, iptrack_show_mgr_oper_desc_off, iptrack_show_desc_len, text);
}

// The name shown for a default up action: the inverse of the down action.
const char *default_up_name(uint32 dn_type)
{
    switch (dn_type) {
    case iptrack_action_vrrp_prio:
        return "Default-VRRP(Use Cfg value)";
    case iptrack_action_subnet_adv:
        return "Default-Subnet (Rmv auto subnet)";
    case iptrack_action_subnet_rmv:
        return "Default-Subnet (Adv auto subnet)";
    case iptrack_action_subnet_share:
        return "Default Subnet Sharing (enable)";
    case iptrack_action_subnet_metric:
        return "Default Sub Metric (rmv delta)";
    case iptrack_action_tun_dn:
        return "Default Tunnel Update (Up)";
    default:
        return nullptr;
    }
}

int write_up_action(const lc_byte_writer &rec, const iptrack_mgr *mgr, const iptrack_oper *oper)
{
    char desc[iptrack_show_desc_len] = "";
    const char *name = "ERROR: action not assigned";
    if (mgr->up_action) {
        name = mgr->up_action->name;
        bail_error(iptrack_get_show_action_str(desc, mgr->up_action, oper));
    } else if (mgr->flags & iptrack_mf_default_up) {
        if (mgr->dn_action) {
            name = default_up_name(mgr->dn_action->type);
            if (!name) {
                name = "ERROR: unknown Action Assigned";
                show_printf(desc, sizeof desc, "Unknown type %u", unsigned(mgr->dn_action->type));
            }
        } else if (mgr->alarm_flags & iptrack_maf_alarm_only) {
            name = "Clear IP SLA alarm";
        }
    }
    bail_require(put_text(rec, iptrack_show_mgr_up_name_off, iptrack_show_mgr_up_name_len, name));
    bail_require(put_text(rec, iptrack_show_mgr_up_desc_off, iptrack_show_desc_len, desc));
    return 0;
}

int write_dn_action(const lc_byte_writer &rec, const iptrack_mgr *mgr, const iptrack_oper *oper)
{
    char desc[iptrack_show_desc_len] = "";
    const char *name = "Action not Assigned";
    if (mgr->dn_action) {
        name = mgr->dn_action->name;
        bail_error(iptrack_get_show_action_str(desc, mgr->dn_action, oper));
    } else if (mgr->alarm_flags & iptrack_maf_alarm_only) {
        name = "Trigger only an IP SLA alarm";
    } else {
        show_printf(desc, sizeof desc, "%s", show_na);
    }
    bail_require(put_text(rec, iptrack_show_mgr_dn_name_off, iptrack_show_mgr_dn_name_len, name));
    bail_require(put_text(rec, iptrack_show_mgr_dn_desc_off, iptrack_show_desc_len, desc));
    return 0;
}

// The route label's name: "N/A" without the table or for an id the model
// does not have; empty for an id the table leaves unconfigured.
void rtlabel_name(uint32 id, char *ret)
{
    ret[0] = '\0';
    if (!iptrack_g.rtlabel_table || id >= get_max_route_labels()) {
        show_printf(ret, iptrack_show_mgr_rtlabel_name_len, "%s", show_na);
        return;
    }
    char name[qz_rtlabel_name_size] = "";
    bool and_mode = false;
    if (qz_rtlabel_get(iptrack_g.rtlabel_table, id, name, &and_mode) == 0)
        show_printf(ret, iptrack_show_mgr_rtlabel_name_len, "%s", name);
}

int write_mgr_record(const lc_byte_writer &rec, iptrack_mgr *mgr, uint32 now_ms)
{
    static_assert(iptrack_note_size - 6 <= iptrack_show_mgr_desc_len);
    const size_t prefix_len = strlen(iptrack_note_prefix);
    const char *desc =
        strnlen(mgr->note, sizeof mgr->note) >= prefix_len ? mgr->note + prefix_len : "";
    bail_require(put_text(rec, iptrack_show_mgr_name_off, iptrack_show_mgr_name_len, mgr->name));
    bail_require(put_text(rec, iptrack_show_mgr_desc_off, iptrack_show_mgr_desc_len, desc));

    iptrack_oper *oper = nullptr;
    if (const iptrack_op_request *req = mgr->requests.head) {
        oper = iptrack_find_oper_entry(req->oper_name);
        bail_require(put_text(rec, iptrack_show_mgr_oper_name_off, iptrack_show_mgr_oper_name_len,
                              req->oper_name));
        bail_require(put_ne<uint16>(rec, iptrack_show_mgr_failures_off, uint16(req->failures)));
        bail_require(put_ne<uint32>(rec, iptrack_show_mgr_runs_off, req->runs));
        bail_require(write_oper_desc(rec, oper));
    }
    bail_error(write_up_action(rec, mgr, oper));
    bail_error(write_dn_action(rec, mgr, oper));

    bail_require(put_ne<uint32>(rec, iptrack_show_mgr_status_changes_off, mgr->status_changes));
    bail_require(put_ne<uint8>(rec, iptrack_show_mgr_status_off, mgr->status));
    if (mgr->last_dn_ms != 0)
        bail_require(
            put_ne<uint32>(rec, iptrack_show_mgr_since_down_ms_off, now_ms - mgr->last_dn_ms));
    const uint32 up_ref = mgr->last_up_ms != 0 ? mgr->last_up_ms : mgr->reset_time_ms;
    bail_require(put_ne<uint32>(rec, iptrack_show_mgr_since_up_ms_off, now_ms - up_ref));
    bail_require(put_ne<uint32>(rec, iptrack_show_mgr_interval_off, mgr->interval_s));
    bail_require(put_ne<uint32>(rec, iptrack_show_mgr_rtlabel_id_off, mgr->rtlabel_id));
    const uint8 flags = (mgr->flags & iptrack_mf_disabled) ? 0 : iptrack_show_mgr_flag_enabled;
    bail_require(put_ne<uint8>(rec, iptrack_show_mgr_flags_off, flags));
    char label[iptrack_show_mgr_rtlabel_name_len];
    rtlabel_name(mgr->rtlabel_id, label);
    bail_require(
        put_text(rec, iptrack_show_mgr_rtlabel_name_off, iptrack_show_mgr_rtlabel_name_len, label));
    return 0;
}

} // namespace

int iptrack_get_show_action_str(char *text, const iptrack_action *action, const iptrack_oper *oper)
{
    bail_null(text);
    text[0] = '\0';
    bail_null(action);
    const uint32 n = iptrack_show_desc_len;
    const char *port = show_na;
    if (action->type == iptrack_action_vrrp_prio || action->type == iptrack_action_subnet_adv ||
        action->type == iptrack_action_subnet_rmv) {
        const char *found = iptrack_first_port(&action->ports);
        if (!found && oper) found = iptrack_first_port(&oper->ports);
        if (found) {
            port = found;
        } else if (oper) {
            lc_log_basic(LCL_ERR, "%s: port not found for action %s", __func__, action->name);
        }
    }
    switch (action->type) {
    case iptrack_action_vrrp_prio: {
        const char *how = (action->flags & iptrack_af_prio_inc)   ? "Increase"
                          : (action->flags & iptrack_af_prio_dec) ? "Decrease"
                                                                  : "Use Cfg Value";
        const bool labelled = action->flags & iptrack_af_label_based;
        show_printf(text, n, "%s VRRP priority by %u on port %s %s %s", how,
                    unsigned(action->prio_delta), port, labelled ? "label" : "",
                    labelled ? action->label_or_alias : "");
        break;
    }
    case iptrack_action_subnet_adv:
    case iptrack_action_subnet_rmv: {
        const label_part lp = oper_label_part(oper);
        show_printf(text, n,
                    action->type == iptrack_action_subnet_adv ? "Subnet Advertise on port %s %s %s"
                                                              : "Subnet Removal on port %s %s %s",
                    port, lp.word, lp.label);
        break;
    }
    case iptrack_action_subnet_share:
        show_printf(text, n, "Subnet Sharing disabled");
        break;
    case iptrack_action_subnet_metric:
        show_printf(text, n, "Subnet Metric Delta of %u", unsigned(action->metric_delta));
        break;
    case iptrack_action_tun_up:
        show_printf(text, n, "Enable Tunnel alias %s", action->label_or_alias);
        break;
    case iptrack_action_tun_dn:
        show_printf(text, n, "Disable Tunnel alias %s", action->label_or_alias);
        break;
    default:
        show_printf(text, n, "Unknown Action Type");
        break;
    }
    return 0;
}

int iptrack_show_mgrs(uint8 *buffer, uint32 size)
{
    bail_null(buffer);
    lc_byte_writer table(buffer, size);
    if (iptrack_g.mgrs.head == nullptr) {
        bail_require(put_ne<uint32>(table, iptrack_show_mgr_count_off, 0));
        return 0;
    }
    const uint32 now_ms = iptrack_now_ms();
    uint32 count = 0;
    for (iptrack_mgr *mgr = iptrack_g.mgrs.head; mgr != nullptr; mgr = mgr->link.next) {
        if (mgr->removed) continue; // deleted, waiting for the engine to let go
        // A table sized for fewer managers than there are (one was added
        // between the count and the dump) gets whole records only, and no
        // count: the reader sees a table it cannot mistake for complete.
        lc_byte_writer rec;
        if (!table.at(iptrack_show_mgr_table_size(count), iptrack_show_mgr_record_size, &rec)) {
            lc_log_basic(LCL_ERR, "%s: only partial mgr table dumped", __func__);
            return 0;
        }
        bail_error(write_mgr_record(rec, mgr, now_ms));
        ++count;
    }
    bail_require(put_ne<uint32>(table, iptrack_show_mgr_count_off, count));
    return 0;
}

int iptrack_show_summary(uint8 *record)
{
    bail_null(record);
    const lc_byte_writer rec(record, iptrack_show_summary_size);
    const char *state = show_na;
    switch (iptrack_g.state) {
    case iptrack_state_initializing:
        state = "Initializing";
        break;
    case iptrack_state_waiting:
        state = "Client Procs not Ready";
        break;
    case iptrack_state_active:
        state = "Active";
        break;
    default:
        break;
    }
    bail_require(put_text(rec, iptrack_show_sum_state_off, iptrack_show_sum_state_len, state));
    bail_require(put_ne<uint16>(rec, iptrack_show_sum_mgrs_off, iptrack_get_num_mgrs()));
    bail_require(put_ne<uint16>(rec, iptrack_show_sum_enabled_mgrs_off, iptrack_g.enabled_mgrs));
    bail_require(put_ne<uint16>(rec, iptrack_show_sum_opers_off, uint16(iptrack_g.opers.count)));
    bail_require(
        put_ne<uint16>(rec, iptrack_show_sum_actions_off, uint16(iptrack_g.actions.count)));
    bail_require(put_ne<uint32>(rec, iptrack_show_sum_results_off, iptrack_g.result_counter));
    return 0;
}
