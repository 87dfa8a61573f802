// The simulated appliance's tables and outcome as rows (see appliance.h),
// and rows as the bindings of a show answer.  The tables are read back
// from the published blocks, so a show reflects what a reader sees.
#include <cstring>

#include "appliance.h"
#include "appliance/qz_cloudpath_table.h"

namespace appliance
{

namespace
{

cell str(const std::string &s)
{
    return cell{bt_string, s};
}
cell num(uint32 n)
{
    return cell{bt_uint32, std::to_string(n)};
}
cell flag(bool b)
{
    return cell{bt_bool, b ? "true" : "false"};
}

int add_interface_row(const qz_l3if_info *i, void *data)
{
    auto *t = static_cast<shown_table *>(data);
    std::string members = i->member_port[0];
    if (i->member_port[1][0]) members += std::string(",") + i->member_port[1];
    t->rows.push_back({str(i->name), str(kind_name(i->kind)), num(i->ip_version),
                       str(address_text(i->address)), str(i->label), str(members),
                       str(i->tunnel_name), str(i->incomplete ? "incomplete" : "up")});
    return 0;
}

int add_tunnel_row(const qz_tunbin *tb, void *data)
{
    static_cast<shown_table *>(data)->rows.push_back(
        {str(tb->name), str(tb->alias), num(tb->id), str(address_text(tb->source_address))});
    return 0;
}

int add_alarm_rows(const qz_alm_hier *h, void *data)
{
    auto *t = static_cast<shown_table *>(data);
    for (uint32 k = 0; k < h->num_levels && k < qz_alm_max_levels; ++k)
        t->rows.push_back(
            {num(h->alarm_id), num(k), num(h->levels[k].kind), str(h->levels[k].tmpl)});
    return 0;
}

std::string slot_text(uint32 slot, uint32 off)
{
    const char *t = ipsla_probes_slot_text(slot, off);
    return t ? std::string(t, strnlen(t, ipsla_probe_text_size)) : "";
}

} // namespace

std::vector<shown_table> sim::tables_view()
{
    std::vector<shown_table> out;
    if (!published_) return out;

    shown_table ifs{"interfaces",
                    {"name", "kind", "version", "address", "label", "members", "tunnel", "state"},
                    {}};
    (void)qz_l3if_foreach(qz_shm_pub_block(l3if_.get()), add_interface_row, &ifs);
    // Withdrawn interfaces are not in the table; the appliance still knows them.
    for (const auto &row : model_.interfaces)
        if (!row.up) {
            add_interface_row(&row.info, &ifs);
            ifs.rows.back().back() = str("down");
        }
    out.push_back(std::move(ifs));

    shown_table labels{"labels", {"id", "name", "text"}, {}};
    for (const auto &l : model_.labels) {
        char text[qz_label_size] = "";
        (void)qz_iflabel_get_text(qz_shm_pub_block(iflabel_.get()), l.name.c_str(), text);
        labels.rows.push_back({num(l.id), str(l.name), str(text)});
    }
    out.push_back(std::move(labels));

    shown_table rtlabels{"route_labels", {"id", "name", "mode"}, {}};
    for (const auto &r : model_.rtlabels) {
        char name[qz_rtlabel_name_size] = "";
        bool and_mode = false;
        if (qz_rtlabel_get(qz_shm_pub_block(rtlabel_.get()), r.id, name, &and_mode) == 0)
            rtlabels.rows.push_back({num(r.id), str(name), str(and_mode ? "and" : "or")});
    }
    out.push_back(std::move(rtlabels));

    shown_table tunnels{"tunnels", {"name", "alias", "id", "source"}, {}};
    (void)qz_tunbin_foreach(qz_shm_pub_block(tunnel_.get()), add_tunnel_row, &tunnels);
    out.push_back(std::move(tunnels));

    shown_table alarms{"alarm_hierarchy", {"alarm", "level", "kind", "template"}, {}};
    (void)qz_alm_hier_foreach(qz_shm_pub_block(alarm_hier_.get()), add_alarm_rows, &alarms);
    out.push_back(std::move(alarms));

    // Slots in use are those with a target text; the engine writes them.
    shown_table probes{"probes", {"slot", "target", "settings", "options"}, {}};
    for (uint32 slot = 0; slot < ipsla_probes_max; ++slot) {
        std::string target = slot_text(slot, ipsla_slot_off_target);
        if (target.empty()) continue;
        probes.rows.push_back({num(slot), str(target),
                               str(slot_text(slot, ipsla_slot_off_settings)),
                               str(slot_text(slot, ipsla_slot_off_options))});
    }
    out.push_back(std::move(probes));

    out.push_back(
        shown_table{"cloudpath",
                    {"free", "synthetic"},
                    {{num(ipsla_probes_free_count()), num(ipsla_probes_synthetic_count())}}});

    shown_table peers{"peers", {"peer", "state", "pid"}, {}};
    for (const auto &[peer, state] : peers_)
        peers.rows.push_back({str(peer), str(state), num(peer == "sysd" ? sysd_pid_ : 0)});
    out.push_back(std::move(peers));
    return out;
}

std::vector<shown_table> sim::outcome_view() const
{
    std::vector<shown_table> out;
    shown_table vrrp{"vrrp", {"port", "configured", "priority", "last", "updates"}, {}};
    for (const auto &[port, v] : outcome_.vrrp)
        vrrp.rows.push_back(
            {str(port), num(v.configured), num(v.priority), str(v.last), num(v.updates)});
    out.push_back(std::move(vrrp));

    shown_table subnets{"subnets", {"port", "state", "metric", "updates"}, {}};
    for (const auto &[port, s] : outcome_.subnets)
        subnets.rows.push_back({str(port), str(s.state), num(s.metric), num(s.updates)});
    out.push_back(std::move(subnets));

    out.push_back(shown_table{"subnet_sharing", {"state"}, {{str(outcome_.sharing)}}});

    shown_table tunnels{"tunnel_states", {"tunnel", "up"}, {}};
    for (const auto &[name, up] : outcome_.tunnel_up) tunnels.rows.push_back({str(name), flag(up)});
    out.push_back(std::move(tunnels));

    shown_table labels{"route_label_states", {"id", "name", "up"}, {}};
    for (const auto &[id, up] : outcome_.rtlabel_up) {
        std::string name;
        for (const auto &r : model_.rtlabels)
            if (r.id == id) name = r.name;
        labels.rows.push_back({num(id), str(name), flag(up)});
    }
    out.push_back(std::move(labels));

    const char *const fields[] = {"alarm_type", "param_3",      "comment",  "note",
                                  "hierarchy",  "source_label", "source_ip"};
    shown_table alarms{"alarms", {}, {}};
    for (const char *f : fields) alarms.columns.push_back(f);
    for (const auto &a : outcome_.alarms) {
        std::vector<cell> row;
        for (const char *f : fields) {
            auto it = a.fields.find(f);
            row.push_back(str(it == a.fields.end() ? "" : it->second));
        }
        alarms.rows.push_back(std::move(row));
    }
    out.push_back(std::move(alarms));

    out.push_back(shown_table{
        "alarm_counts",
        {"raised", "cleared", "unmatched_clears"},
        {{num(outcome_.raised), num(outcome_.cleared), num(outcome_.unmatched_clears)}}});
    return out;
}

int tables_to_bindings(const std::vector<shown_table> &tables, bn_binding_array *out)
{
    for (const auto &t : tables) {
        const std::string root = APPLIANCE_SHOW_ACTION "/" + t.name;
        owned<bn_binding> b;
        bail_error(bn_binding_new_str(b.out(), root.c_str(), ba_value, bt_uint32, 0,
                                      std::to_string(t.rows.size()).c_str()));
        bn_binding *raw = b.release();
        bail_error(bn_binding_array_append_takeover(out, &raw));
        for (size_t r = 0; r < t.rows.size(); ++r)
            for (size_t c = 0; c < t.columns.size() && c < t.rows[r].size(); ++c) {
                const std::string name = root + "/" + std::to_string(r + 1) + "/" + t.columns[c];
                bail_error(bn_binding_new_str(b.out(), name.c_str(), ba_value, t.rows[r][c].type, 0,
                                              t.rows[r][c].text.c_str()));
                raw = b.release();
                bail_error(bn_binding_array_append_takeover(out, &raw));
            }
    }
    return 0;
}

} // namespace appliance
