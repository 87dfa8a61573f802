// Scenario files of the simulated appliance (see appliance_scenario.h).
#include "appliance_scenario.h"

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "../mgmtd/script_words.h"

namespace appliance
{

namespace
{

using words_t = std::vector<std::string>;

// A failed line: its reason (the caller adds the line number).
struct bad {
    std::string why;
};

bool parse_u32(const std::string &text, uint32 *ret)
{
    if (text.empty() || text.size() > 10) return false;
    uint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *ret = static_cast<uint32>(v);
    return true;
}

// Copies `text` into a fixed field of `size` bytes; false when it does not
// fit (the scenario says exactly what the tables hold).
bool put_text(char *field, uint32 size, const std::string &text)
{
    if (text.size() >= size) return false;
    memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

std::string too_long(const char *what, const std::string &text, uint32 size)
{
    return std::string(what) + " \"" + text + "\" is longer than " + std::to_string(size - 1) +
           " characters";
}

bool parse_kind(const std::string &word, uint8 *ret)
{
    if (word == "port")
        *ret = qz_l3if_kind_port;
    else if (word == "bridge")
        *ret = qz_l3if_kind_bridge;
    else if (word == "vti")
        *ret = qz_l3if_kind_vti;
    else {
        uint32 n = 0;
        if (!parse_u32(word, &n) || n > 255) return false;
        *ret = static_cast<uint8>(n);
    }
    return true;
}

bad interface_line(const words_t &w, scenario *s)
{
    if (w.size() < 4) return {"usage: interface NAME KIND ADDRESS [OPTION...]"};
    interface_row row;
    qz_l3if_info &i = row.info;
    if (!put_text(i.name, sizeof(i.name), w[1]))
        return {too_long("interface", w[1], qz_ifname_size)};
    if (!parse_kind(w[2], &i.kind)) return {"unknown interface kind \"" + w[2] + "\""};
    if (w[3] != "-" && lc_ipaddr_from_str(w[3].c_str(), &i.address) != 0)
        return {"bad address \"" + w[3] + "\""};
    i.ip_version = i.address.family == lc_ipf_ipv6 ? 6 : 4;
    for (size_t k = 4; k < w.size(); ++k) {
        const std::string &o = w[k];
        const size_t eq = o.find('=');
        const std::string key = o.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : o.substr(eq + 1);
        if (o == "incomplete") {
            i.incomplete = true;
        } else if (o == "down") {
            row.up = false;
        } else if (key == "label" && eq != std::string::npos) {
            if (!put_text(i.label, sizeof(i.label), value))
                return {too_long("label", value, qz_label_size)};
        } else if (key == "tunnel" && eq != std::string::npos) {
            if (!put_text(i.tunnel_name, sizeof(i.tunnel_name), value))
                return {too_long("tunnel", value, qz_tunnel_name_size)};
        } else if (key == "members" && eq != std::string::npos) {
            const size_t comma = value.find(',');
            const std::string a = value.substr(0, comma);
            const std::string b = comma == std::string::npos ? "" : value.substr(comma + 1);
            if (b.find(',') != std::string::npos) return {"a bridge has at most two members"};
            if (!put_text(i.member_port[0], qz_ifname_size, a) ||
                !put_text(i.member_port[1], qz_ifname_size, b))
                return {too_long("member", a.size() >= qz_ifname_size ? a : b, qz_ifname_size)};
        } else if (key == "version" && (value == "4" || value == "6")) {
            i.ip_version = static_cast<uint8>(value[0] - '0');
        } else {
            return {"unknown interface option \"" + o + "\""};
        }
    }
    for (const auto &other : s->interfaces)
        if (strcmp(other.info.name, i.name) == 0) return {"interface " + w[1] + " defined twice"};
    s->interfaces.push_back(row);
    return {};
}

bad label_line(const words_t &w, scenario *s)
{
    if (w.size() != 4) return {"usage: label ID NAME TEXT"};
    label_row row;
    if (!parse_u32(w[1], &row.id)) return {"bad label id \"" + w[1] + "\""};
    if (w[2].empty() || w[2].size() >= qz_label_size)
        return {too_long("label", w[2], qz_label_size)};
    if (w[3].size() >= qz_label_size) return {too_long("label text", w[3], qz_label_size)};
    row.name = w[2];
    row.text = w[3];
    for (const auto &other : s->labels)
        if (other.id == row.id || other.name == row.name)
            return {"label " + w[1] + " " + w[2] + " defined twice"};
    s->labels.push_back(row);
    return {};
}

bad rtlabel_line(const words_t &w, scenario *s)
{
    if (w.size() != 4 || (w[3] != "and" && w[3] != "or")) return {"usage: rtlabel ID NAME and|or"};
    rtlabel_row row;
    if (!parse_u32(w[1], &row.id) || row.id == 0 || row.id >= get_max_route_labels())
        return {"route label id must run from 1 to " + std::to_string(get_max_route_labels() - 1)};
    if (w[2].empty() || w[2].size() >= qz_rtlabel_name_size)
        return {too_long("route label", w[2], qz_rtlabel_name_size)};
    row.name = w[2];
    row.and_mode = w[3] == "and";
    for (const auto &other : s->rtlabels)
        if (other.id == row.id) return {"route label " + w[1] + " defined twice"};
    s->rtlabels.push_back(row);
    return {};
}

bad tunnel_line(const words_t &w, scenario *s)
{
    if (w.size() != 5) return {"usage: tunnel NAME ALIAS ID SOURCE"};
    qz_tunbin t{};
    if (!put_text(t.name, sizeof(t.name), w[1]))
        return {too_long("tunnel", w[1], qz_tunnel_name_size)};
    if (!put_text(t.alias, sizeof(t.alias), w[2]))
        return {too_long("alias", w[2], qz_tunnel_name_size)};
    if (!parse_u32(w[3], &t.id)) return {"bad tunnel id \"" + w[3] + "\""};
    if (lc_ipaddr_from_str(w[4].c_str(), &t.source_address) != 0)
        return {"bad source address \"" + w[4] + "\""};
    for (const auto &other : s->tunnels)
        if (strcmp(other.name, t.name) == 0) return {"tunnel " + w[1] + " defined twice"};
    s->tunnels.push_back(t);
    return {};
}

bad alarm_line(const words_t &w, scenario *s)
{
    if (w.size() < 4 || w.size() % 2 != 0)
        return {"usage: alarm ID KIND TEMPLATE [KIND TEMPLATE]..."};
    qz_alm_hier h{};
    if (!parse_u32(w[1], &h.alarm_id)) return {"bad alarm id \"" + w[1] + "\""};
    for (size_t k = 2; k < w.size(); k += 2) {
        if (h.num_levels == qz_alm_max_levels)
            return {"at most " + std::to_string(qz_alm_max_levels) + " levels"};
        qz_alm_hier_level &level = h.levels[h.num_levels++];
        uint32 kind = 0;
        if (!parse_u32(w[k], &kind) || kind > 255) return {"bad level kind \"" + w[k] + "\""};
        level.kind = static_cast<uint8>(kind);
        if (!put_text(level.tmpl, sizeof(level.tmpl), w[k + 1]))
            return {too_long("template", w[k + 1], qz_alm_hier_str_size)};
    }
    for (const auto &other : s->alarms)
        if (other.alarm_id == h.alarm_id) return {"alarm " + w[1] + " defined twice"};
    s->alarms.push_back(h);
    return {};
}

bad vrrp_line(const words_t &w, scenario *s)
{
    uint32 prio = 0;
    if (w.size() != 3 || !parse_u32(w[2], &prio) || prio > 255)
        return {"usage: vrrp PORT PRIORITY (0 to 255)"};
    s->vrrp[w[1]] = prio;
    return {};
}

bad synthetic_line(const words_t &w, scenario *s)
{
    if (w.size() != 2 || !parse_u32(w[1], &s->synthetic)) return {"usage: synthetic COUNT"};
    return {};
}

bad parse_words(const words_t &w, scenario *s)
{
    const std::string &c = w[0];
    if (c == "interface") return interface_line(w, s);
    if (c == "label") return label_line(w, s);
    if (c == "rtlabel") return rtlabel_line(w, s);
    if (c == "tunnel") return tunnel_line(w, s);
    if (c == "alarm") return alarm_line(w, s);
    if (c == "vrrp") return vrrp_line(w, s);
    if (c == "synthetic") return synthetic_line(w, s);
    return {"unknown item \"" + c + "\""};
}

} // namespace

int scenario_parse(const std::string &text, scenario *ret, std::string *error)
{
    scenario s;
    std::istringstream in(text);
    std::string line;
    std::vector<uint32> interface_lines;
    for (uint32 lineno = 1; std::getline(in, line); ++lineno) {
        words_t w;
        std::string why;
        bad b;
        if (!script::split_words(line, &w, &why))
            b.why = why;
        else if (!w.empty())
            b = parse_words(w, &s);
        if (!b.why.empty()) {
            *error = "line " + std::to_string(lineno) + ": " + b.why;
            return lc_err_parse_error;
        }
        while (interface_lines.size() < s.interfaces.size()) interface_lines.push_back(lineno);
    }
    // Labels may be defined after the interfaces that carry them.
    std::set<std::string> defined;
    for (const auto &l : s.labels) defined.insert(l.name);
    for (size_t k = 0; k < s.interfaces.size(); ++k) {
        const qz_l3if_info &i = s.interfaces[k].info;
        if (i.label[0] && !defined.count(i.label)) {
            *error = "line " + std::to_string(interface_lines[k]) + ": label " + i.label +
                     " of interface " + i.name + " has no label line";
            return lc_err_parse_error;
        }
    }
    *ret = std::move(s);
    return 0;
}

int scenario_load(const std::string &path, scenario *ret, std::string *error)
{
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read " + path;
        return lc_err_file_not_found;
    }
    std::stringstream text;
    text << file.rdbuf();
    const int err = scenario_parse(text.str(), ret, error);
    if (err != 0) *error = path + ": " + *error;
    return err;
}

std::string kind_name(uint8 kind)
{
    switch (kind) {
    case qz_l3if_kind_port:
        return "port";
    case qz_l3if_kind_bridge:
        return "bridge";
    case qz_l3if_kind_vti:
        return "vti";
    default:
        return std::to_string(kind);
    }
}

std::string address_text(const lc_ipaddr &addr)
{
    char buf[lc_ip_str_max] = "";
    if (lc_ipaddr_to_buf(&addr, buf, sizeof(buf)) != 0) return "";
    return buf;
}

} // namespace appliance
