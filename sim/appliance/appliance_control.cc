// The simulated appliance's management side (see appliance.h): start-up,
// the nodes and events it keeps in mgmtd, and its own actions.
//
// Actions under /sim/appliance (parameters are strings unless said):
//   interface/down, interface/up, interface/incomplete   ifname
//       withdraw the interface from the table, publish it whole again, or
//       publish it marked incomplete; then send the interface-change event
//   label/move   label, to, [from]
//       the label leaves `from` (default: every interface carrying it) for
//       `to`; the interfaces' label nodes follow
//   tunnel/add   name, alias, id (uint32), source (an address)
//   tunnel/remove   name
//       the tunnel table first, then /tun/config/<name>
//   sysd/restart   [ready_after_ms] (uint32, 1000 by default)
//       sysd's liveness goes to "Initializing", a new pid is written, and
//       the liveness returns to "Ready" after the delay
//   peer/state   peer (tunneld, sysd or redd), state
//       sets the peer's liveness node, e.g. to play a peer going down
//   synthetic   count (uint32): the synthetic probe count
//   show   [what] ("tables", "outcome", a table name; default everything)
// Each answers once the tables, the nodes and the events are all done, so a
// client that waited for the answer sees the change everywhere.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "appliance.h"
#include "appliance/qz_cloudpath_table.h"
#include "mgmt/mdc_misc.h"

namespace appliance
{

namespace
{

struct peer_node {
    const char *peer;
    const char *node;
};
const peer_node peer_nodes[] = {
    {"tunneld", "/qz/tunneld/system/state/is_alive"},
    {"sysd", "/qz/sysd/system/state/is_alive"},
    {"redd", "/qz/redd/state/is_alive"},
};
constexpr const char *ready = "Ready";
constexpr const char *not_ready = "Initializing";
constexpr uint32 default_ready_after_ms = 1000;

// The daemon's actions this appliance carries out.
const char *const routed_actions[] = {
    "/qz/iptrackd/action/update_vrrp",
    "/qz/iptrackd/action/update_subnets",
    "/qz/iptrackd/action/update_tunnel",
    "/qz/iptrackd/action/update_route_label",
    APPLIANCE_ROOT "/**",
};
const char *const alarm_events[] = {
    "/qz/alarms/events/raise_alarm",
    "/qz/alarms/events/clear_alarm",
};

std::string escape(const std::string &part)
{
    char *raw = nullptr;
    if (bn_binding_name_escape_str(part.c_str(), &raw) != 0 || !raw) return part;
    std::string s = raw;
    free(raw);
    return s;
}

// The text of parameter `name` (any type); false when absent.
bool param(const bn_request *request, const char *name, std::string *ret)
{
    const bn_binding *b = nullptr;
    if (bn_request_get_param(request, name, &b) != 0 || !b) return false;
    char *value = nullptr;
    if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) != 0 || !value) return false;
    *ret = value;
    free(value);
    return true;
}

bool param_u32(const bn_request *request, const char *name, uint32 *ret)
{
    std::string text;
    if (!param(request, name, &text)) return false;
    char *end = nullptr;
    const unsigned long v = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || v > UINT32_MAX) return false;
    *ret = static_cast<uint32>(v);
    return true;
}

// A request's answer code and message as a failure.
int checked(int err, uint32 code, const tstring *msg, const char *what)
{
    if (err != 0) return err;
    if (code == 0) return 0;
    lc_log_basic(LCL_ERR, "mgmtd refused %s: %s", what, msg ? ts_str_maybe_empty(msg) : "");
    return static_cast<int>(code);
}

int sysd_timer_cb(int, lew_event_type, void *data, lew_context *)
{
    return static_cast<sim *>(data)->on_sysd_ready_timer();
}

} // namespace

// ---------------------------------------------------------------------------
// Start and stop

sim::~sim()
{
    if (sysd_timer_) (void)lew_event_delete(loop_, &sysd_timer_);
}

int sim::start(const std::string &client_name, std::string *error)
{
    const int err = session_.open(
        client_name, [this](session &s, const bn_request *r) { return on_request(s, r); }, error);
    if (err != 0) return err;
    md_client_context *mcc = session_.mcc();

    // Not ready until everything is in place, whatever mgmtd started with.
    for (const auto &p : peer_nodes) bail_error(set_peer(p.peer, not_ready));

    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding_array> params;
    bail_error(bn_binding_array_new(params.out()));
    uint32 n = 0;
    for (const char *pattern : routed_actions) {
        owned<bn_binding> b;
        const std::string bname = "match/" + std::to_string(++n) + "/pattern";
        bail_error(bn_binding_new_str(b.out(), bname.c_str(), ba_value, bt_string, 0, pattern));
        bn_binding *raw = b.release();
        bail_error(bn_binding_array_append_takeover(params.get(), &raw));
    }
    owned<bn_binding_array> results;
    bail_error(checked(mdc_send_action_with_bindings_and_results(mcc, &code, msg.out(),
                                                                 "/sim/mgmtd/route/add",
                                                                 params.get(), results.out()),
                       code, msg.get(), "the action routes"));
    for (const char *event : alarm_events)
        bail_error(checked(mdc_send_action_with_bindings_str_va(
                               mcc, &code, msg.out(), "/mgmtd/events/actions/interest/add", 1,
                               "event_name", bt_name, event),
                           code, msg.get(), "the alarm interest"));

    if (const int perr = publish_all(); perr != 0) {
        *error = "cannot publish the shared tables";
        return perr;
    }
    sysd_pid_ = static_cast<uint32>(getpid());
    bail_error(write_pid_file());
    bail_error(sync_config_all());
    for (const auto &p : peer_nodes) bail_error(set_peer(p.peer, ready));
    lc_log_basic(LCL_NOTICE, "Appliance ready as %s", client_name.c_str());
    return 0;
}

void sim::stop()
{
    // The blocks stay: a restarted appliance reopens them in place, and a
    // daemon that still maps them keeps reading.  The pid file goes with
    // the system daemon.
    if (published_) unlink(APPLIANCE_SYSD_PID_FILE);
}

// ---------------------------------------------------------------------------
// Nodes and events in mgmtd

int sim::set_nodes(const std::vector<node_op> &ops)
{
    if (ops.empty()) return 0;
    owned<bn_request> req;
    bail_error(bn_set_request_msg_create(req.out(), 0));
    for (const auto &op : ops)
        bail_error(bn_set_request_msg_append_new_binding(
            req.get(), op.subop, 0, op.name.c_str(), op.type,
            op.subop == bsso_delete ? nullptr : op.value.c_str(), nullptr));
    uint32 code = 0;
    owned<tstring> msg;
    return checked(mdc_send_mgmt_msg(session_.mcc(), req.get(), 0, nullptr, &code, msg.out()), code,
                   msg.get(), "a set request");
}

std::string sim::interface_label_node(const qz_l3if_info &info) const
{
    const std::string name = escape(info.name);
    if (info.kind == qz_l3if_kind_vti) return "/net/if2/config/virtual/vti/" + name + "/label";
    if (strncmp(info.name, "lo", 2) == 0)
        return "/net/if2/config/virtual/loopback/" + name + "/label";
    return "/net/interface/config/" + name + "/label";
}

std::string sim::tunnel_config_text(const qz_tunbin &t)
{
    return "alias=" + std::string(t.alias) + ";id=" + std::to_string(t.id) +
           ";source=" + address_text(t.source_address);
}

int sim::sync_config_all()
{
    std::vector<node_op> ops;
    for (const auto &l : model_.labels) {
        const std::string root = "/qz/iflabels/config/" + std::to_string(l.id);
        ops.push_back({bsso_modify, root + "/name", bt_string, l.name});
        ops.push_back({bsso_modify, root + "/text", bt_string, l.text});
    }
    for (const auto &row : model_.interfaces)
        if (row.info.label[0])
            ops.push_back({bsso_modify, interface_label_node(row.info), bt_string, row.info.label});
    for (const auto &r : model_.rtlabels) {
        const std::string root = "/qz/rtlabels/config/" + std::to_string(r.id);
        ops.push_back({bsso_modify, root + "/name", bt_string, r.name});
        ops.push_back(
            {bsso_modify, root + "/is_down_condition_any", bt_bool, r.and_mode ? "true" : "false"});
    }
    for (const auto &t : model_.tunnels)
        ops.push_back({bsso_modify, "/tun/config/" + escape(t.name) + "/config_bin", bt_string,
                       tunnel_config_text(t)});
    return set_nodes(ops);
}

int sim::set_peer(const std::string &peer, const std::string &state)
{
    for (const auto &p : peer_nodes) {
        if (peer != p.peer) continue;
        bail_error(set_nodes({{bsso_modify, p.node, bt_string, state}}));
        peers_[peer] = state;
        lc_log_basic(LCL_NOTICE, "Peer %s is %s", peer.c_str(), state.c_str());
        return 0;
    }
    return lc_err_not_found;
}

int sim::send_if_change(const std::string &ifname)
{
    uint32 code = 0;
    owned<tstring> msg;
    return checked(mdc_send_event_with_bindings_str_va(session_.mcc(), &code, msg.out(),
                                                       APPLIANCE_IF_CHANGE_EVENT, 1, "ifname",
                                                       bt_string, ifname.c_str()),
                   code, msg.get(), "the interface-change event");
}

int sim::write_pid_file()
{
    // Written aside and renamed, so that a reader never sees half a file.
    const std::string tmp = std::string(APPLIANCE_SYSD_PID_FILE) + ".new";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) {
        lc_log_basic(LCL_ERR, "Cannot write %s: %s", tmp.c_str(), strerror(errno));
        return lc_err_io_error;
    }
    fprintf(f, "%u\n", sysd_pid_);
    const bool ok = fclose(f) == 0 && rename(tmp.c_str(), APPLIANCE_SYSD_PID_FILE) == 0;
    if (!ok) {
        lc_log_basic(LCL_ERR, "Cannot write %s: %s", APPLIANCE_SYSD_PID_FILE, strerror(errno));
        return lc_err_io_error;
    }
    return 0;
}

int sim::on_sysd_ready_timer()
{
    return set_peer("sysd", ready);
}

// ---------------------------------------------------------------------------
// Requests from mgmtd

int sim::on_request(session &s, const bn_request *request)
{
    if (request->msg_type == bbmt_event_request) {
        handle_alarm(ts_str_maybe_empty(request->event_name), request);
        return 0;
    }
    if (request->msg_type == bbmt_query_request) {
        // Nothing here is queried; an empty answer keeps the asker going.
        owned<bn_response> empty;
        bail_error(bn_query_response_msg_create(empty.out(), request->msg_id, 0, nullptr));
        bail_error(bn_response_fix_for_request(empty.get(), request));
        return bn_response_msg_send(mdc_get_session(s.mcc()), empty.get());
    }
    if (request->msg_type != bbmt_action_request) return 0;
    const std::string name = ts_str_maybe_empty(request->action_name);
    std::string error;
    owned<bn_binding_array> results;
    bail_error(bn_binding_array_new(results.out()));
    int err = 0;
    if (bn_binding_name_pattern_match(name.c_str(), APPLIANCE_ROOT "/**"))
        err = handle_control(request, &error, results.get());
    else
        err = handle_update(name, request, &error);
    if (err != 0 && error.empty()) error = "failed with code " + std::to_string(err);
    if (err != 0) lc_log_basic(LCL_WARNING, "%s: %s", name.c_str(), error.c_str());
    return s.answer_action(request, static_cast<uint32>(err), err ? error.c_str() : nullptr,
                           results.get());
}

int sim::handle_control(const bn_request *request, std::string *error, bn_binding_array *results)
{
    const std::string name = ts_str_maybe_empty(request->action_name);
    const std::string what = name.substr(strlen(APPLIANCE_ROOT "/"));
    std::string ifname;
    if (what == "interface/down" || what == "interface/up" || what == "interface/incomplete") {
        if (!param(request, "ifname", &ifname)) return *error = "no ifname", lc_err_not_found;
        interface_row *row = find_interface(ifname);
        if (!row) return *error = "no interface " + ifname, lc_err_not_found;
        row->up = what != "interface/down";
        row->info.incomplete = what == "interface/incomplete";
        bail_error(publish_interface(*row));
        lc_log_basic(LCL_NOTICE, "Interface %s is %s", ifname.c_str(), what.c_str() + 10);
        return send_if_change(ifname);
    }
    if (what == "label/move") {
        std::string label, to, from;
        if (!param(request, "label", &label) || !param(request, "to", &to))
            return *error = "label/move takes label and to", lc_err_not_found;
        const bool one_source = param(request, "from", &from);
        interface_row *target = find_interface(to);
        if (!target) return *error = "no interface " + to, lc_err_not_found;
        if (label.size() >= qz_label_size) return *error = "label too long", lc_err_bad_name;
        std::vector<node_op> ops;
        for (auto &row : model_.interfaces) {
            if (&row == target || label != row.info.label) continue;
            if (one_source && from != row.info.name) continue;
            row.info.label[0] = '\0';
            bail_error(publish_interface(row));
            ops.push_back({bsso_modify, interface_label_node(row.info), bt_string, ""});
        }
        snprintf(target->info.label, sizeof(target->info.label), "%s", label.c_str());
        bail_error(publish_interface(*target));
        ops.push_back({bsso_modify, interface_label_node(target->info), bt_string, label});
        lc_log_basic(LCL_NOTICE, "Label %s moved to %s", label.c_str(), to.c_str());
        return set_nodes(ops);
    }
    if (what == "tunnel/add") {
        std::string tname, alias, source;
        qz_tunbin t{};
        if (!param(request, "name", &tname) || !param(request, "alias", &alias) ||
            !param_u32(request, "id", &t.id) || !param(request, "source", &source))
            return *error = "tunnel/add takes name, alias, id and source", lc_err_not_found;
        if (tname.empty() || tname.size() >= qz_tunnel_name_size ||
            alias.size() >= qz_tunnel_name_size)
            return *error = "bad tunnel name or alias", lc_err_bad_name;
        if (lc_ipaddr_from_str(source.c_str(), &t.source_address) != 0)
            return *error = "bad source address " + source, lc_err_bad_type;
        snprintf(t.name, sizeof(t.name), "%s", tname.c_str());
        snprintf(t.alias, sizeof(t.alias), "%s", alias.c_str());
        bail_error(qz_shm_pub_put_tunnel(tunnel_.get(), &t));
        bool replaced = false;
        for (auto &old : model_.tunnels)
            if (tname == old.name) old = t, replaced = true;
        if (!replaced) model_.tunnels.push_back(t);
        lc_log_basic(LCL_NOTICE, "Tunnel %s (%s) added", t.name, t.alias);
        return set_nodes({{bsso_modify, "/tun/config/" + escape(tname) + "/config_bin", bt_string,
                           tunnel_config_text(t)}});
    }
    if (what == "tunnel/remove") {
        std::string tname;
        if (!param(request, "name", &tname)) return *error = "no name", lc_err_not_found;
        if (!find_tunnel(tname)) return *error = "no tunnel " + tname, lc_err_not_found;
        bail_error(qz_shm_pub_remove_tunnel(tunnel_.get(), tname.c_str()));
        std::erase_if(model_.tunnels, [&](const qz_tunbin &t) { return tname == t.name; });
        lc_log_basic(LCL_NOTICE, "Tunnel %s removed", tname.c_str());
        return set_nodes({{bsso_delete, "/tun/config/" + escape(tname), bt_none, ""}});
    }
    if (what == "sysd/restart") {
        uint32 after = default_ready_after_ms;
        if (param(request, "ready_after_ms", &ifname) &&
            !param_u32(request, "ready_after_ms", &after))
            return *error = "ready_after_ms must be a number", lc_err_bad_type;
        bail_error(set_peer("sysd", not_ready));
        ++sysd_pid_;
        bail_error(write_pid_file());
        lc_log_basic(LCL_NOTICE, "System daemon restarted with pid %u", sysd_pid_);
        return lew_event_reg_timer(loop_, &sysd_timer_, sysd_timer_cb, this, after);
    }
    if (what == "peer/state") {
        std::string peer, state;
        if (!param(request, "peer", &peer) || !param(request, "state", &state))
            return *error = "peer/state takes peer and state", lc_err_not_found;
        const int err = set_peer(peer, state);
        if (err == lc_err_not_found) *error = "no peer " + peer + " (tunneld, sysd or redd)";
        return err;
    }
    if (what == "synthetic") {
        if (!param_u32(request, "count", &model_.synthetic))
            return *error = "synthetic takes count", lc_err_not_found;
        ipsla_probes_set_synthetic_count(model_.synthetic);
        return 0;
    }
    if (what == "show") {
        std::string which;
        const bool some = param(request, "what", &which);
        std::vector<shown_table> tables;
        if (!some || which != "outcome") tables = tables_view();
        if (!some || which != "tables")
            for (auto &t : outcome_view()) tables.push_back(std::move(t));
        if (some && which != "tables" && which != "outcome") {
            std::erase_if(tables, [&](const shown_table &t) { return t.name != which; });
            if (tables.empty()) return *error = "no table " + which, lc_err_not_found;
        }
        return tables_to_bindings(tables, results);
    }
    *error = "No handler for action " + name;
    return lc_err_not_found;
}

} // namespace appliance
