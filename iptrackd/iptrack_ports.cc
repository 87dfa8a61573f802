// The ports an operation or an action works on: management ports, bridge
// members, VTIs and their tunnels, interface labels, and the tunnel of an
// operation.
//
// Everything here reads the appliance's interface, label and tunnel tables
// through their lookups (qz_shm_tables.h) and copies what it needs into the
// entry: a port node owns only its name and IP version.  While the engine is
// not active or the interface table is not attached, a lookup fails and
// sets the label change flag, so the tick resolves labels and ports again
// once the tables are there.
#include <cstring>
#include <new>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "log/logging.h"

namespace
{

bool tables_ready()
{
    return iptrack_g.state == iptrack_state_active && iptrack_g.l3if_table != nullptr;
}

bool starts_with(const char *s, const char *prefix)
{
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

int append_port(iptrack_list<iptrack_port> *ports, const char *name, uint8 version)
{
    auto *port = new (std::nothrow) iptrack_port{};
    if (port == nullptr) return lc_err_no_buffer_space;
    iptrack_copy_text(port->name, sizeof port->name, name);
    port->ip_version = version;
    iptrack_list_append(ports, port);
    return 0;
}

// The interface a port name stands for: the text before a ':' is the
// interface; a bridge that lists it as a member replaces it.  `*ret_active`
// is true when that interface is present and complete.  A bridge member is
// resolved whether or not the member has an entry of its own.
int iptrackd_get_br_ifname_from_port(const char *port, char *ret_name, bool *ret_active,
                                     uint8 *ret_version)
{
    iptrack_copy_text(ret_name, iptrack_ifname_size, port);
    *ret_active = false;
    *ret_version = 0;
    if (!tables_ready()) {
        iptrack_notify_label_chg();
        lc_log_basic(LCL_NOTICE, "%s port %s not found or is incomplete", __func__, port);
        return lc_err_not_found;
    }
    char ifname[iptrack_ifname_size];
    iptrack_copy_text(ifname, sizeof ifname, port);
    if (char *colon = strchr(ifname, ':')) *colon = '\0';

    qz_l3if_info info{};
    if (qz_l3if_get_bridge_of_member(iptrack_g.l3if_table, ifname, &info) == 0) {
        iptrack_copy_text(ret_name, iptrack_ifname_size, info.name);
        lc_log_basic(LCL_INFO, "%s, Bridge interface name is %s", __func__, info.name);
    } else if (qz_l3if_get_by_name(iptrack_g.l3if_table, ifname, &info) != 0) {
        lc_log_basic(LCL_NOTICE, "%s port %s not found or is incomplete", __func__, port);
        return lc_err_not_found;
    }
    *ret_version = info.ip_version;
    if (info.incomplete) {
        lc_log_basic(LCL_NOTICE, "%s port %s is incomplete", __func__, port);
        return lc_err_not_found;
    }
    *ret_active = true;
    return 0;
}

} // namespace

int iptrack_add_oper_port(iptrack_oper *oper, const char *name, uint8 version)
{
    bail_null(oper);
    bail_null(name);
    lc_log_basic(LCL_INFO, "%s: adding port %s to oper %s", __func__, name, oper->name);

    char port[iptrack_ifname_size];
    iptrack_copy_text(port, sizeof port, name);
    uint8 table_version = 0;
    if (starts_with(name, "mgmt")) {
        oper->state_flags |= iptrack_os_port_active | iptrack_os_cfg_pending;
        lc_log_basic(LCL_NOTICE, "%s: setting pend cfg change for %s to true (mgmt_intf)", __func__,
                     oper->name);
    } else {
        bool active = false;
        (void)iptrackd_get_br_ifname_from_port(name, port, &active, &table_version);
        oper->state_flags |= iptrack_os_cfg_pending;
        if (active)
            oper->state_flags |= iptrack_os_port_active;
        else
            oper->state_flags &= static_cast<uint8>(~iptrack_os_port_active);
        lc_log_basic(LCL_NOTICE, "%s: setting pend cfg change for %s to true, port active %d",
                     __func__, oper->name, active ? 1 : 0);
        if (!active) return 0;

        if (starts_with(name, "vti")) {
            qz_l3if_info vti{};
            if (qz_l3if_get_by_name(iptrack_g.l3if_table, port, &vti) == 0 &&
                vti.kind == qz_l3if_kind_vti) {
                lc_log_basic(LCL_INFO, "%s tunnel name is %s, port name is %s", __func__,
                             vti.tunnel_name, port);
                iptrack_copy_name(oper->tunnel_name, vti.tunnel_name);
                qz_tunbin tun{};
                if (mgbin_get_tunbin_by_name_or_alias(vti.tunnel_name, &tun) != 0) {
                    oper->state_flags &= static_cast<uint8>(~iptrack_os_port_active);
                    lc_log_basic(LCL_NOTICE, "%s: no tunnel found for alias %s", __func__,
                                 vti.tunnel_name);
                    return 0;
                }
                oper->tunnel_id = tun.id;
                iptrack_copy_name(oper->tunnel_name, tun.name);
                iptrack_copy_name(oper->tunnel_alias, tun.alias);
            }
        }
    }
    const uint8 v = version != 0 ? version : table_version != 0 ? table_version : 4;
    bail_error(append_port(&oper->ports, port, v));
    return 0;
}

int iptrack_add_action_port(iptrack_action *action, const char *name)
{
    bail_null(action);
    bail_null(name);
    lc_log_basic(LCL_INFO, "%s: adding port %s to action %s", __func__, name, action->name);
    char port[iptrack_ifname_size];
    bool active = false;
    uint8 version = 0;
    (void)iptrackd_get_br_ifname_from_port(name, port, &active, &version);
    bail_error(append_port(&action->ports, port, version != 0 ? version : 4));
    return 0;
}

int iptrack_add_oper_tunnel(iptrack_oper *oper, const char *alias)
{
    bail_null(oper);
    bail_null(alias);
    iptrack_copy_name(oper->tunnel_alias, alias);
    // The source port belongs to the tunnel found now, not to an earlier one.
    oper->tunnel_src_port[0] = '\0';
    oper->state_flags |= iptrack_os_cfg_pending;

    qz_tunbin tun{};
    if (mgbin_get_tunbin_by_name_or_alias(alias, &tun) != 0) {
        oper->state_flags &= static_cast<uint8>(~iptrack_os_tunnel_active);
        lc_log_basic(LCL_NOTICE, "%s: no tunnel found for alias %s oper entry name %s", __func__,
                     alias, oper->name);
        return 1;
    }
    iptrack_copy_name(oper->tunnel_name, tun.name);
    oper->tunnel_id = tun.id;
    oper->state_flags |= iptrack_os_tunnel_active;
    qz_l3if_info src{};
    if (iptrack_g.l3if_table != nullptr &&
        qz_l3if_get_by_addr(iptrack_g.l3if_table, &tun.source_address, &src) == 0)
        iptrack_copy_text(oper->tunnel_src_port, sizeof oper->tunnel_src_port, src.name);
    return 0;
}

namespace
{

struct oper_label_walk {
    iptrack_oper *oper;
    uint32 matched = 0;
    bool have_v4 = false;
    bool have_v6 = false;
};

int oper_label_visit(const qz_l3if_info *info, void *data)
{
    auto *w = static_cast<oper_label_walk *>(data);
    ++w->matched;
    lc_log_basic(LCL_INFO, "%s: mapping label %s to ifc %s, version %d",
                 "ip_track_add_ports_from_oper_label", w->oper->label, info->name,
                 static_cast<int>(info->ip_version));
    bool *have = info->ip_version == 6 ? &w->have_v6 : &w->have_v4;
    if (!*have) {
        *have = true;
        (void)iptrack_add_oper_port(w->oper, info->name, info->ip_version == 6 ? 6 : 4);
    }
    return 0;
}

struct action_label_walk {
    iptrack_action *action;
    uint32 matched = 0;
};

int action_label_visit(const qz_l3if_info *info, void *data)
{
    auto *w = static_cast<action_label_walk *>(data);
    ++w->matched;
    if (w->matched == 1) {
        lc_log_basic(LCL_INFO, "%s: mapping label %s to ifc %s",
                     "ip_track_add_ports_from_action_label", w->action->label_or_alias, info->name);
        (void)iptrack_add_action_port(w->action, info->name);
    }
    return 0;
}

} // namespace

int ip_track_add_ports_from_oper_label(iptrack_oper *oper)
{
    bail_null(oper);
    oper_label_walk w{oper};
    if (tables_ready())
        (void)qz_l3if_foreach_with_label(iptrack_g.l3if_table, oper->label, oper_label_visit, &w);
    else
        iptrack_notify_label_chg();
    lc_log_basic(LCL_INFO, "%s: mapped %u interfaces to oper %s", __func__, w.matched, oper->name);
    if (w.matched == 0) {
        oper->state_flags &= static_cast<uint8>(~iptrack_os_port_active);
        oper->probe_state |= iptrack_ps_result;
        lc_log_basic(LCL_ERR, "%s: label %s not mapped to any ifc", __func__, oper->label);
        return 1;
    }
    return 0;
}

int ip_track_add_ports_from_action_label(iptrack_action *action)
{
    bail_null(action);
    action_label_walk w{action};
    char label[iptrack_label_size];
    iptrack_copy_text(label, sizeof label, action->label_or_alias);
    if (tables_ready())
        (void)qz_l3if_foreach_with_label(iptrack_g.l3if_table, label, action_label_visit, &w);
    else
        iptrack_notify_label_chg();
    lc_log_basic(LCL_INFO, "%s: mapped %u interfaces to action %s", __func__, w.matched,
                 action->name);
    return w.matched == 0 ? 1 : 0;
}

void iptrack_free_ports(iptrack_list<iptrack_port> *ports)
{
    iptrack_list_clear(ports);
}

const char *iptrack_first_port(const iptrack_list<iptrack_port> *ports)
{
    return ports->head != nullptr ? ports->head->name : nullptr;
}

void iptrack_label_display_text(const char *label, char *ret)
{
    char cut[iptrack_label_size];
    iptrack_copy_text(cut, sizeof cut, label);
    if (iptrack_g.iflabel_table == nullptr ||
        qz_iflabel_get_text(iptrack_g.iflabel_table, cut, ret) != 0)
        iptrack_copy_text(ret, iptrack_label_size, cut);
}
