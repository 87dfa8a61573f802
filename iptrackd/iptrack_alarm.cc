// The engine's alarms about its monitors: monitor down (per port or per
// tunnel), not installed, and name resolution failing.
//
// Alarms are events sent one-way on the daemon's management session: the
// engine never waits for them.  Each alarm has a flag in the manager that
// follows the attempt, not the delivery: it is set after a raise and
// cleared after a clear whether or not the send went out, so that a lost
// raise is not repeated on every tick.  The texts that describe the monitor
// are written into the manager (monitor text, DNS alarm text) before a
// raise and sent again with the clear.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrack_send.h"
#include "log/logging.h"

namespace
{

// The alarm texts are cut to their fields by design.
[[gnu::format(printf, 3, 4)]] void format_cut(char *dst, size_t size, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    (void)vsnprintf(dst, size, format, ap);
    va_end(ap);
}

constexpr const char *event_raise = "/qz/alarms/events/raise_alarm";
constexpr const char *event_clear = "/qz/alarms/events/clear_alarm";
constexpr const char *comment_not_installed = "An IP SLA monitor is not installed";
constexpr const char *comment_dns = "DNS resolution failed for IPSLA target";
constexpr const char *comment_down = "An IP SLA monitor is in Down state";
// The component name the monitor-down alarm logs under.
constexpr const char *alarm_aggr = "ALARM_AGGR";

// The "label <text>" part of the texts, or two empty strings.
struct label_part {
    const char *word = "";
    char text[iptrack_label_size] = {};
};

label_part make_label_part(const iptrack_oper *oper)
{
    label_part part;
    if (oper->state_flags & iptrack_os_label_based) {
        part.word = "label";
        iptrack_label_display_text(oper->label, part.text);
    }
    return part;
}

const char *first_port_or_na(const iptrack_oper *oper)
{
    const char *port = iptrack_first_port(&oper->ports);
    return port ? port : "N/A";
}

const char *alias_or_na(const iptrack_oper *oper)
{
    return oper->tunnel_alias[0] ? oper->tunnel_alias : "N/A";
}

// Sends one alarm event; the caller sets or clears the flag either way.
int send_alarm(bool raise, const iptrack_bindings &bindings)
{
    const int err = iptrack_send_event_oneway(raise ? event_raise : event_clear, bindings);
    if (err != 0) lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    return err;
}

void alarm_head(iptrack_bindings *b, uint32 alarm_id, const char *text, const char *comment)
{
    char id[12];
    format_cut(id, sizeof(id), "%u", alarm_id);
    b->add_str("alarm_type", id)
        .add_str("param_1", "0")
        .add_str("param_2", "0")
        .add_str("param_3", text)
        .add_str("comment", comment);
}

// Raise or clear of the two alarms without hierarchy.
int send_plain_alarm(iptrack_mgr *mgr, bool raise, uint32 alarm_id, const char *text,
                     const char *comment, uint8 flag)
{
    iptrack_bindings b;
    alarm_head(&b, alarm_id, text, comment);
    if (raise)
        b.add_str("note", mgr->note)
            .add_str("hierarchy", "")
            .add_str("source_label", "")
            .add_str("source_ip", "");
    const int err = send_alarm(raise, b);
    if (raise)
        mgr->alarm_flags |= flag;
    else
        mgr->alarm_flags &= static_cast<uint8>(~flag);
    return err;
}

// What a port-level hierarchy adds: the port's address and label text.
void port_source(const char *func, const char *port, uint32 alarm_id, char *source_ip,
                 uint32 ip_size, char *source_label)
{
    qz_l3if_info info{};
    if (!iptrack_g.l3if_table || qz_l3if_get_by_name(iptrack_g.l3if_table, port, &info) != 0) {
        lc_log_basic(LCL_ERR, "%s Failed to get l3if info for port %s", func, port);
        return;
    }
    if (get_addr_str(&info.address, source_ip, ip_size) != 0) source_ip[0] = '\0';
    if (alarm_id != iptrack_alarm_port_down) return;
    if (!iptrack_g.iflabel_table &&
        cmem_attach_block_read_only(QZ_SHM_IFLABEL, &iptrack_g.iflabel_table) != 0) {
        lc_log_basic(LCL_ERR, "%s Failed to attach iflabel shmem", func);
        return;
    }
    if (info.label[0] &&
        qz_iflabel_get_text(iptrack_g.iflabel_table, info.label, source_label) != 0)
        source_label[0] = '\0';
}

} // namespace

void iptrack_mgr_fill_alarm_text(iptrack_mgr *mgr, iptrack_oper *oper)
{
    if (!mgr || !oper) return;
    const label_part label = make_label_part(oper);
    const char *port = first_port_or_na(oper);
    const char *tunnel = alias_or_na(oper);

    char port_missing[iptrack_ifname_size + 16] = "";
    char tunnel_missing[iptrack_name_size + 16] = "";
    if (!(oper->state_flags & iptrack_os_port_active)) {
        const char *first = iptrack_first_port(&oper->ports);
        format_cut(port_missing, sizeof(port_missing), "Port %s not found", first ? first : "");
    }
    if (!(oper->state_flags & iptrack_os_tunnel_active))
        format_cut(tunnel_missing, sizeof(tunnel_missing), "Tunnel %s not found",
                   oper->tunnel_alias);

    char *text = mgr->monitor_text;
    const size_t size = sizeof(mgr->monitor_text);
    switch (oper->type) {
    case iptrack_oper_port:
        format_cut(text, size, "Interface for Port %s %s %s %s", port, label.word, label.text,
                   port_missing);
        break;
    case iptrack_oper_ip:
        format_cut(text, size, "Ping for %s on Port %s tunnel %s %s %s %s %s", oper->targets, port,
                   tunnel, label.word, label.text, tunnel_missing, port_missing);
        break;
    case iptrack_oper_vrrp:
        format_cut(text, size, "VRRP state for Interface %s %s %s %s", port, label.word, label.text,
                   port_missing);
        break;
    case iptrack_oper_http:
        format_cut(text, size, "HTTP GET for %s on Port %s tunnel %s %s %s %s %s", oper->targets,
                   port, tunnel, label.word, label.text, tunnel_missing, port_missing);
        break;
    default:
        text[0] = '\0';
        break;
    }
}

void iptrack_mgr_fill_dns_alarm_text(iptrack_mgr *mgr, iptrack_oper *oper)
{
    if (!mgr || !oper) return;
    const label_part label = make_label_part(oper);
    format_cut(mgr->dns_alarm_text, sizeof(mgr->dns_alarm_text),
               "DNS resolution failed for at least one of the IPSLA targets in %s on Port %s "
               "tunnel %s %s %s ",
               oper->targets, first_port_or_na(oper), alias_or_na(oper), label.word, label.text);
}

int iptrackd_fill_hier(iptrack_mgr *mgr, iptrack_oper *oper, bool raise)
{
    bail_null(mgr);
    bail_null(oper);

    char port[iptrack_ifname_size] = "";
    if (const char *first = iptrack_first_port(&oper->ports))
        iptrack_copy_text(port, sizeof(port), first);
    else
        lc_log_basic(LCL_NOTICE, "%s No port associated with the monitor %s", alarm_aggr,
                     oper->name);
    const bool tunnel = oper->tunnel_alias[0] != '\0';
    const uint32 alarm_id = tunnel ? iptrack_alarm_tunnel_down : iptrack_alarm_port_down;
    const char *entity = tunnel ? oper->tunnel_alias : port;

    // The hierarchy text is the levels' texts from the top down, joined by
    // "/"; a level that cannot be built leaves the whole text empty.  A
    // port-level entity also names the port's address and label.
    qz_alm_hier hier{};
    const bool have_hier = qz_alm_get_hier_for_alm(alarm_id, &hier) == 0;
    char hierarchy[qz_alm_max_levels * qz_alm_hier_str_size] = "";
    bool broken = false;
    char source_ip[lc_ip_str_max] = "";
    char source_label[qz_label_size] = "";
    for (uint32 level = 0; have_hier && level < hier.num_levels && level < qz_alm_max_levels;
         ++level) {
        char text[qz_alm_hier_str_size] = "";
        if (qz_alm_get_hier_str(&hier, level, alarm_id, oper->tunnel_id, entity, port, text,
                                sizeof(text)) != 0)
            broken = true;
        if (!broken) {
            const size_t used = strlen(hierarchy);
            format_cut(hierarchy + used, sizeof(hierarchy) - used, "%s%s", used ? "/" : "", text);
        }
        if (hier.levels[level].kind == 0 && port[0])
            port_source(alarm_aggr, port, alarm_id, source_ip, sizeof(source_ip), source_label);
    }
    if (broken) hierarchy[0] = '\0';
    lc_log_basic(LCL_NOTICE,
                 "%s IPSLA Alarm. hierarchy %s  is_raised %u alarm_id %u entry %p tunid %u "
                 "ipsla_name %s port_name %s",
                 alarm_aggr, hierarchy, raise ? 1u : 0u, alarm_id, static_cast<void *>(mgr),
                 oper->tunnel_id, oper->name, port);

    iptrack_bindings b;
    alarm_head(&b, alarm_id, mgr->monitor_text, comment_down);
    if (raise)
        b.add_str("note", mgr->note)
            .add_str("hierarchy", hierarchy)
            .add_str("source_label", source_label)
            .add_str("source_ip", source_ip);
    else
        b.add_str("hierarchy", hierarchy);
    const int err = send_alarm(raise, b);

    const uint8 flag = tunnel ? iptrack_mf_tunnel_alarm : iptrack_mf_port_alarm;
    if (raise)
        mgr->flags |= flag;
    else
        mgr->flags &= static_cast<uint8>(~flag);
    return err;
}

int iptrack_send_not_installed_alarm(iptrack_mgr *mgr, bool raise)
{
    bail_null(mgr);
    return send_plain_alarm(mgr, raise, iptrack_alarm_not_installed, mgr->monitor_text,
                            comment_not_installed, iptrack_maf_not_installed);
}

int iptrack_send_dns_alarm(iptrack_mgr *mgr, bool raise)
{
    bail_null(mgr);
    return send_plain_alarm(mgr, raise, iptrack_alarm_dns, mgr->dns_alarm_text, comment_dns,
                            iptrack_maf_dns);
}
