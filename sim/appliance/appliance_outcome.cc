// What the simulated appliance does with the daemon's actions and alarms
// (see appliance.h), playing redd (VRRP), the routing side (subnets),
// tunneld (tunnels, route labels) and the alarm manager.
//
// VRRP: "increment" and "decrement" move the port's priority from where it
// stands (clamped to 0..255), "config" puts the configured one back.
// Subnets: "sub_action" 1 advertises and 2 withdraws the port's subnet, 3
// and 4 turn subnet sharing on and off, 5 applies "sub_delta" as the
// metric delta total of the port.  Tunnels and route labels must exist:
// an unknown one fails the action, as on the appliance.  A raised alarm is
// kept with its bindings until a clear of the same type and `param_3`.
#include <algorithm>
#include <cstring>

#include "appliance.h"

namespace appliance
{

namespace
{

constexpr const char *action_root = "/qz/iptrackd/action/";

bool text_param(const bn_request *request, const char *name, std::string *ret)
{
    const bn_binding *b = nullptr;
    if (bn_request_get_param(request, name, &b) != 0 || !b) return false;
    char *value = nullptr;
    if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) != 0 || !value) return false;
    *ret = value;
    free(value);
    return true;
}

bool number_param(const bn_request *request, const char *name, uint32 *ret)
{
    std::string text;
    if (!text_param(request, name, &text) || text.empty()) return false;
    char *end = nullptr;
    const unsigned long v = strtoul(text.c_str(), &end, 10);
    if (*end || v > UINT32_MAX) return false;
    *ret = static_cast<uint32>(v);
    return true;
}

bool bool_param(const bn_request *request, const char *name, bool *ret)
{
    std::string text;
    if (!text_param(request, name, &text)) return false;
    if (text != "true" && text != "false") return false;
    *ret = text == "true";
    return true;
}

int missing(std::string *error, const std::string &action, const char *what)
{
    *error = action + " without " + what;
    return lc_err_not_found;
}

} // namespace

int sim::handle_update(const std::string &name, const bn_request *request, std::string *error)
{
    const std::string action =
        name.rfind(action_root, 0) == 0 ? name.substr(strlen(action_root)) : name;
    if (action == "update_vrrp") {
        std::string how, port;
        uint32 delta = 0;
        if (!text_param(request, "action", &how)) return missing(error, action, "action");
        if (!text_param(request, "port_name", &port)) return missing(error, action, "port_name");
        if (!number_param(request, "vrrp_priority", &delta))
            return missing(error, action, "vrrp_priority");
        auto [it, added] = outcome_.vrrp.try_emplace(port);
        outcome::vrrp_port &v = it->second;
        if (added) {
            auto configured = model_.vrrp.find(port);
            v.configured =
                configured == model_.vrrp.end() ? default_vrrp_priority : configured->second;
            v.priority = v.configured;
        }
        if (how == "increment") {
            v.priority = std::min<uint32>(255, v.priority + delta);
        } else if (how == "decrement") {
            v.priority = v.priority > delta ? v.priority - delta : 0;
        } else if (how == "config") {
            v.priority = v.configured;
        } else {
            *error = "unknown VRRP action " + how;
            return lc_err_bad_type;
        }
        v.last = how == "config" ? how : how + " " + std::to_string(delta);
        ++v.updates;
        lc_log_basic(LCL_NOTICE, "VRRP %s on %s: priority %u", v.last.c_str(), port.c_str(),
                     v.priority);
        return 0;
    }
    if (action == "update_subnets") {
        std::string port;
        uint32 sub = 0, delta = 0;
        if (!text_param(request, "port_name", &port)) return missing(error, action, "port_name");
        if (!number_param(request, "sub_action", &sub)) return missing(error, action, "sub_action");
        if (!number_param(request, "sub_delta", &delta)) return missing(error, action, "sub_delta");
        if (sub == 3 || sub == 4) {
            outcome_.sharing = sub == 3 ? "enabled" : "disabled";
            lc_log_basic(LCL_NOTICE, "Subnet sharing %s", outcome_.sharing.c_str());
            return 0;
        }
        if (sub < 1 || sub > 5) {
            *error = "unknown subnet action " + std::to_string(sub);
            return lc_err_bad_type;
        }
        outcome::subnet &s = outcome_.subnets[port];
        if (sub == 1) s.state = "advertised";
        if (sub == 2) s.state = "withdrawn";
        if (sub == 5) s.metric = delta;
        ++s.updates;
        lc_log_basic(LCL_NOTICE, "Subnet of %s: %s, metric delta %u", port.c_str(),
                     s.state.empty() ? "-" : s.state.c_str(), s.metric);
        return 0;
    }
    if (action == "update_tunnel") {
        std::string tname;
        bool up = false;
        if (!text_param(request, "tun_name", &tname)) return missing(error, action, "tun_name");
        if (!bool_param(request, "tun_state", &up)) return missing(error, action, "tun_state");
        if (!find_tunnel(tname)) {
            *error = "no tunnel " + tname;
            return lc_err_not_found;
        }
        outcome_.tunnel_up[tname] = up;
        lc_log_basic(LCL_NOTICE, "Tunnel %s %s", tname.c_str(), up ? "up" : "down");
        return 0;
    }
    if (action == "update_route_label") {
        uint32 id = 0;
        bool up = false;
        if (!number_param(request, "route_label_id", &id))
            return missing(error, action, "route_label_id");
        if (!bool_param(request, "route_label_state", &up))
            return missing(error, action, "route_label_state");
        const bool known = std::any_of(model_.rtlabels.begin(), model_.rtlabels.end(),
                                       [id](const rtlabel_row &r) { return r.id == id; });
        if (!known) {
            *error = "no route label " + std::to_string(id);
            return lc_err_not_found;
        }
        outcome_.rtlabel_up[id] = up;
        lc_log_basic(LCL_NOTICE, "Route label %u %s", id, up ? "up" : "down");
        return 0;
    }
    *error = "No handler for action " + name;
    return lc_err_not_found;
}

void sim::handle_alarm(const std::string &event, const bn_request *request)
{
    owned<bn_binding_array> bindings;
    if (bn_request_get(request, nullptr, nullptr, bindings.out(), nullptr, nullptr, nullptr) != 0)
        return;
    outcome::alarm a;
    const uint32 n = bn_binding_array_length_quick(bindings.get());
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings.get(), i);
        char *value = nullptr;
        std::string text;
        if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) == 0 && value) text = value;
        free(value);
        a.fields[ts_str_maybe_empty(bn_binding_get_name_quick(b))] = text;
    }
    const std::string type = a.fields["alarm_type"];
    const std::string text = a.fields["param_3"];
    auto same = [&](const outcome::alarm &r) {
        return r.fields.at("alarm_type") == type && r.fields.at("param_3") == text;
    };
    if (event == "/qz/alarms/events/raise_alarm") {
        std::erase_if(outcome_.alarms, same); // raised again: the newer one counts
        outcome_.alarms.push_back(std::move(a));
        ++outcome_.raised;
        lc_log_basic(LCL_NOTICE, "Alarm %s raised: %s", type.c_str(), text.c_str());
    } else if (event == "/qz/alarms/events/clear_alarm") {
        ++outcome_.cleared;
        if (std::erase_if(outcome_.alarms, same) == 0) ++outcome_.unmatched_clears;
        lc_log_basic(LCL_NOTICE, "Alarm %s cleared: %s", type.c_str(), text.c_str());
    } else {
        lc_log_basic(LCL_INFO, "Ignoring event %s", event.c_str());
    }
}

} // namespace appliance
