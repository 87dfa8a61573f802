// Cloud path probes: every target of a ping or HTTP operation gets a slot
// in the shared "saasmgr" table, holding the target and the operation's
// settings as text for the table's owner.  The operation keeps its slot
// numbers in its probe-number field ("3,4,5"), which the monitors receive
// as "probe_num".
//
// The free queue lives in the block and is shared with its owner
// (qz_cloudpath_table.h takes and returns slots under the block's mutex);
// slot texts are written without the lock, as a taken slot belongs to the
// operation until it is returned.  Until the engine attaches the block
// every call fails softly with one line.
//
// Two choices where the text left room: the settings texts are rewritten
// whole at every parse, so a reparse that keeps its slots does not grow
// them; and returning the slots also empties the probe-number field, so a
// later delete can never return the same slot twice.
#include <cstdio>
#include <cstring>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "log/logging.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

bool attached(const char *func)
{
    if (ipsla_probes_attached()) return true;
    lc_log_basic(LCL_WARNING, "%s: shmem not attached yet", func);
    return false;
}

int split_list(const char *s, owned<tstr_array> *ret)
{
    char copy[iptrack_attribs_size];
    iptrack_copy_text(copy, sizeof copy, s);
    tstr_array *raw = nullptr;
    const int err = ts_tokenize_str(copy, ',', 0, 0,
                                    ts_tokenize_no_leading_empty | ts_tokenize_no_trailing_empty |
                                        ts_tokenize_null_if_empty,
                                    &raw);
    ret->reset(raw);
    return err;
}

uint32 list_length(const owned<tstr_array> &list)
{
    return list ? tstr_array_length_quick(list.get()) : 0;
}

const char *list_at(const owned<tstr_array> &list, uint32 i)
{
    const char *s = tstr_array_get_str_quick(list.get(), i);
    return s ? s : "";
}

// Appends to a NUL-terminated text of `size` bytes, cutting at the end.
void append_text(char *dst, uint32 size, const char *src)
{
    const size_t used = strnlen(dst, size - 1);
    iptrack_copy_text(dst + used, static_cast<uint32>(size - used), src);
}

bool is_probe_number(const char *s, int32 *ret)
{
    char *end = nullptr;
    const long v = strtol(s, &end, 10);
    *ret = static_cast<int32>(v);
    return end != s;
}

} // namespace

int iptrack_cloudpath_update_probes(iptrack_oper *oper)
{
    bail_null(oper);
    if (!attached(__func__)) return 1;
    if (oper->type != iptrack_oper_ip && oper->type != iptrack_oper_http) return 0;

    // A name of nothing but '_' has no token before the '_'.
    if (oper->name[strspn(oper->name, "_")] == '\0') {
        lc_log_basic(LCL_WARNING, "%s: Unknown name format %s", __func__, oper->name);
        return 1;
    }
    const char *underscore = strchr(oper->name, '_');
    const char *probe_name = underscore != nullptr ? underscore + 1 : "";

    owned<tstr_array> targets;
    if (split_list(oper->targets, &targets) != 0) {
        lc_log_basic(LCL_WARNING, "%s: Unknown iplist format %s", __func__, oper->targets);
        return 1;
    }
    oper->probe_num[0] = '\0';
    const uint32 n = list_length(targets);
    for (uint32 i = 0; i < n; ++i) {
        uint32 slot = 0;
        if (ipsla_probes_get_free_entry(&slot) != 0) {
            lc_log_basic(LCL_ERR, "%s: Unable to get free probe", __func__);
            return 1;
        }
        if (slot >= ipsla_probes_max) {
            lc_log_basic(LCL_ERR, "%s: invalid probe index obtained", __func__);
            return 1;
        }
        char number[16];
        snprintf(number, sizeof number, "%s%u", oper->probe_num[0] != '\0' ? "," : "", slot);
        if (strlen(oper->probe_num) + strlen(number) >= sizeof oper->probe_num) {
            // No room to remember it: give it back rather than lose it.
            (void)ipsla_probes_add_entry(slot);
            lc_log_basic(LCL_ERR, "%s: Unable to get free probe", __func__);
            return 1;
        }

        char address[ipsla_probe_text_size];
        uint32 len = 0;
        for (const char *c = list_at(targets, i); *c != '\0' && len + 1 < sizeof address; ++c)
            if (*c != ' ') address[len++] = *c;
        address[len] = '\0';
        lc_ipaddr addr{};
        char canonical[lc_ip_str_max];
        if (lc_str_to_ipaddr_quiet(address, &addr) == 0 &&
            get_addr_str(&addr, canonical, sizeof canonical) == 0)
            iptrack_copy_text(address, sizeof address, canonical);

        char *text = ipsla_probes_slot_text(slot, ipsla_slot_off_target);
        if (text != nullptr) {
            text[0] = '\0';
            append_text(text, ipsla_probe_text_size, probe_name);
            append_text(text, ipsla_probe_text_size, ",");
            append_text(text, ipsla_probe_text_size, address);
        }
        append_text(oper->probe_num, sizeof oper->probe_num, number);
        lc_log_basic(LCL_INFO, "%s: %u, %s, %s", __func__, slot, text ? text : "", oper->probe_num);
    }
    return 0;
}

int iptrack_cloudpath_update_attr(iptrack_oper *oper)
{
    bail_null(oper);
    if (!attached(__func__)) return 1;
    lc_log_basic(LCL_DEBUG, "%s: %s", __func__, oper->probe_num);
    owned<tstr_array> numbers;
    if (split_list(oper->probe_num, &numbers) != 0) {
        lc_log_basic(LCL_WARNING, "%s: Unknown probelist format %s", __func__, oper->probe_num);
        return 1;
    }
    const char *type = oper->type == iptrack_oper_ip     ? "ip-monitor"
                       : oper->type == iptrack_oper_http ? "http-monitor"
                                                         : "";
    char settings[2 * ipsla_probe_text_size]; // cut to the slot text when copied
    snprintf(settings, sizeof settings, "type=%s;tunnel-name=%s;src-port-label=%s", type,
             oper->tunnel_alias, oper->label);
    char options[2 * ipsla_probe_text_size];
    snprintf(options, sizeof options,
             "proxyAddress=%s;proxyPort=%d;user-agent=%s;ka=%d;http-timeout=%d;up-thresh=%d;"
             "down-thresh=%d;sample-int=%d;loss_up_thresh=%d;loss_down_thresh=%d;"
             "rtt_up_thresh=%d;rtt_down_thresh=%d;metric-combination=%s",
             oper->proxy_addr, oper->proxy_port, oper->user_agent, oper->ka, oper->http_timeout,
             oper->up_thresh, oper->dn_thresh, oper->sample_int, oper->loss_up_thresh,
             oper->loss_dn_thresh, static_cast<int>(oper->rtt_up_thresh),
             static_cast<int>(oper->rtt_dn_thresh), oper->metric_flags == 1 ? "or" : "and");

    const uint32 n = list_length(numbers);
    for (uint32 i = 0; i < n; ++i) {
        int32 num = -1;
        if (!is_probe_number(list_at(numbers, i), &num) || num < 0 ||
            num >= static_cast<int32>(ipsla_probes_max)) {
            lc_log_basic(LCL_ERR, "%s: Invalid probe num %d", __func__, static_cast<int>(num));
            continue;
        }
        const uint32 slot = static_cast<uint32>(num);
        if (char *t = ipsla_probes_slot_text(slot, ipsla_slot_off_settings))
            iptrack_copy_text(t, ipsla_probe_text_size, settings);
        if (char *t = ipsla_probes_slot_text(slot, ipsla_slot_off_options))
            iptrack_copy_text(t, ipsla_probe_text_size, options);
    }
    return 0;
}

int iptrack_cloudpath_delete_probes(iptrack_oper *oper)
{
    bail_null(oper);
    if (!attached(__func__)) return 1;
    owned<tstr_array> numbers;
    if (split_list(oper->probe_num, &numbers) != 0) {
        lc_log_basic(LCL_WARNING, "%s: Unknown probelist format %s", __func__, oper->probe_num);
        return 1;
    }
    const uint32 n = list_length(numbers);
    for (uint32 i = 0; i < n; ++i) {
        int32 num = -1;
        if (!is_probe_number(list_at(numbers, i), &num) || num < 0 ||
            num >= static_cast<int32>(ipsla_probes_max)) {
            lc_log_basic(LCL_ERR, "%s: invalid probe %d", __func__, static_cast<int>(num));
            continue;
        }
        const uint32 slot = static_cast<uint32>(num);
        (void)ipsla_probes_add_entry(slot);
        for (uint32 off : {ipsla_slot_off_target, ipsla_slot_off_settings, ipsla_slot_off_options})
            if (char *t = ipsla_probes_slot_text(slot, off)) t[0] = '\0';
    }
    oper->probe_num[0] = '\0';
    return 0;
}

uint32 iptrack_get_synthetic_probes()
{
    return ipsla_probes_synthetic_count();
}
