// The four action senders: route label, tunnel, subnet and VRRP changes,
// each one action to the peer that carries it out.
//
// The senders only build and send; which action and code a manager's
// status calls for is decided in iptrack_status.cc.  The subnet metric is
// the one sender with state of its own: the running total of the deltas in
// force (iptrack_g.metric_total), which it moves before the send and never
// rolls back, so a failed send is not applied twice when retried.
#include <cstdio>
#include <cstring>

#include "appliance/qz_shm_tables.h"
#include "iptrack_records.h"
#include "iptrack_send.h"
#include "log/logging.h"

namespace
{

constexpr const char *action_route_label = "/qz/iptrackd/action/update_route_label";
constexpr const char *action_tunnel = "/qz/iptrackd/action/update_tunnel";
constexpr const char *action_subnets = "/qz/iptrackd/action/update_subnets";
constexpr const char *action_vrrp = "/qz/iptrackd/action/update_vrrp";

// "sub_action" values.
enum subnet_sub_action : uint16 {
    sub_adv = 1,
    sub_rmv = 2,
    sub_share_on = 3,
    sub_share_off = 4,
    sub_metric = 5,
};

const char *sub_action_name(uint16 sub)
{
    switch (sub) {
    case sub_adv:
        return "Adv";
    case sub_rmv:
        return "Rmv";
    case sub_share_on:
        return "Enable Sharing";
    case sub_share_off:
        return "Disable Sharing";
    case sub_metric:
        return "Metric";
    default:
        return "Unknown";
    }
}

// The port a subnet action works on: the action's own, else the operation's.
const char *subnet_port(const iptrack_action *action, const iptrack_oper *oper)
{
    const char *port = action ? iptrack_first_port(&action->ports) : nullptr;
    if (!port && oper) port = iptrack_first_port(&oper->ports);
    return port;
}

// One "update_vrrp" request.  The peer takes the three values as texts of
// their types; typed bindings carry exactly that on the wire.
int send_vrrp_one(const char *word, const char *port, uint16 prio)
{
    iptrack_bindings b;
    b.add_str("action", word).add_str("port_name", port).add_u16("vrrp_priority", prio);
    bail_error(iptrack_send_action(action_vrrp, b, nullptr));
    lc_log_basic(LCL_NOTICE, "%s: action to %s VRRP prio %u on port %s successfully sent",
                 "ip_track_mgr_send_vrrp_action", word, prio, port);
    return 0;
}

struct vrrp_walk {
    const char *word;
    uint16 prio;
};

int vrrp_visit(const qz_l3if_info *info, void *data)
{
    const auto *w = static_cast<const vrrp_walk *>(data);
    char port[qz_ifname_size];
    iptrack_copy_text(port, sizeof(port), info->name);
    return send_vrrp_one(w->word, port, w->prio);
}

} // namespace

int ip_track_mgr_send_label_action(uint32 label_id, bool up)
{
    iptrack_bindings b;
    b.add_u32("route_label_id", label_id).add_bool("route_label_state", up);
    bail_error(iptrack_send_action(action_route_label, b, nullptr));
    lc_log_basic(LCL_NOTICE,
                 "%s: successfully sent route label update action %s for route label %u", __func__,
                 up ? "Up" : "Down", label_id);
    return 0;
}

int ip_track_mgr_send_tunnel_action(iptrack_action *action, bool up)
{
    bail_null(action);
    qz_tunbin tunnel{};
    const int err = mgbin_get_tunbin_by_name_or_alias(action->label_or_alias, &tunnel);
    if (err != 0) {
        lc_log_basic(LCL_NOTICE, "%s: no tunnel found for alias %s", __func__,
                     action->label_or_alias);
        return err;
    }
    iptrack_bindings b;
    b.add_str("tun_name", tunnel.name).add_bool("tun_state", up);
    bail_error(iptrack_send_action(action_tunnel, b, nullptr));
    lc_log_basic(LCL_NOTICE, "%s: successfully sent tunnel update action %s for tunnel %s",
                 __func__, up ? "Up" : "Down", tunnel.name);
    return 0;
}

int ip_track_mgr_send_subnet_action(iptrack_mgr *mgr, iptrack_action *action, iptrack_oper *oper,
                                    uint32 code)
{
    bail_null(mgr);
    const char *port = nullptr;
    uint16 sub = 0;
    uint32 delta = 0;
    switch (code) {
    case iptrack_action_subnet_adv:
    case iptrack_action_subnet_rmv:
        port = subnet_port(action, oper);
        if (!port) {
            lc_log_basic(LCL_ERR, "%s: port not found for subnet action - aborting", __func__);
            return 1;
        }
        sub = code == iptrack_action_subnet_adv ? sub_adv : sub_rmv;
        break;
    case iptrack_action_subnet_share:
        port = "";
        sub = mgr->status ? sub_share_on : sub_share_off;
        break;
    case iptrack_action_subnet_metric: {
        port = subnet_port(action, oper);
        if (!port) {
            lc_log_basic(LCL_ERR, "%s: port not found for subnet action - aborting", __func__);
            return 1;
        }
        lc_log_basic(LCL_INFO, "%s Metric delta for port %s", __func__, port);
        if (!action) {
            if (mgr->status)
                lc_log_basic(LCL_ERR, "%s: action not defined for sub metric delta revert action",
                             __func__);
            else
                lc_log_basic(LCL_ERR, "%s: action not defined for sub metric delta action",
                             __func__);
            return 1;
        }
        const uint32 cur = iptrack_g.metric_total;
        if (mgr->status) {
            lc_log_basic(LCL_DEBUG, "%s %d cur value %d, minus delta %d\n", __func__, __LINE__,
                         static_cast<int>(cur), static_cast<int>(action->metric_delta));
            iptrack_g.metric_total = cur > action->metric_delta ? cur - action->metric_delta : 0;
        } else {
            lc_log_basic(LCL_DEBUG, "%s %d cur value %d, plus delta %d\n", __func__, __LINE__,
                         static_cast<int>(cur), static_cast<int>(action->metric_delta));
            iptrack_g.metric_total = cur + action->metric_delta;
        }
        sub = sub_metric;
        delta = iptrack_g.metric_total;
        break;
    }
    default:
        lc_log_basic(LCL_ERR, "%s: unknown action type %u", __func__, code);
        return 1;
    }

    iptrack_bindings b;
    b.add_str("port_name", port).add_u16("sub_action", sub).add_u32("sub_delta", delta);
    bail_error(iptrack_send_action(action_subnets, b, nullptr));
    lc_log_basic(LCL_NOTICE, "%s: successfully sent subnet action %s for port %s", __func__,
                 sub_action_name(sub), port[0] ? port : "N/A");
    return 0;
}

int ip_track_mgr_send_vrrp_action(iptrack_action *action, uint32 code)
{
    bail_null(action);
    vrrp_walk walk{};
    if (code == iptrack_action_vrrp_prio) {
        walk.word = (action->flags & iptrack_af_prio_dec) ? "decrement" : "increment";
        walk.prio = action->prio_delta;
    } else if (code == iptrack_action_vrrp_cfg) {
        walk.word = "config";
        walk.prio = 0;
    } else {
        lc_log_basic(LCL_ERR, "%s: unknown action type %u", __func__, code);
        return 1;
    }

    if (action->flags & iptrack_af_label_based) {
        // Every interface with the label, stopping at the first failure;
        // without the interface table there is no such interface.
        if (!iptrack_g.l3if_table) return 0;
        char label[iptrack_label_size];
        iptrack_copy_text(label, sizeof(label), action->label_or_alias);
        return qz_l3if_foreach_with_label(iptrack_g.l3if_table, label, vrrp_visit, &walk);
    }
    const char *first = iptrack_first_port(&action->ports);
    if (!first) {
        lc_log_basic(LCL_ERR, "%s: port not found for VRRP action - aborting", __func__);
        return 1;
    }
    char port[iptrack_ifname_size];
    iptrack_copy_text(port, sizeof(port), first);
    return send_vrrp_one(walk.word, port, walk.prio);
}
