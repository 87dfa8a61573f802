// `mgmtcli appliance ...`: the simulated appliance for people.  Shows its
// tables and the outcome of the daemon's actions as aligned tables (or JSON
// with --json), and changes it while it runs, through the appliance's own
// actions under /sim/appliance, which mgmtd routes to it.
//
//   appliance [show] [--json] [TABLE|tables|outcome]
//   appliance interface down|up|incomplete IFNAME
//   appliance label move LABEL TO [FROM]
//   appliance tunnel add NAME ALIAS ID SOURCE
//   appliance tunnel remove NAME
//   appliance sysd restart [READY_AFTER_MS]
//   appliance peer PEER STATE
//   appliance synthetic COUNT
//
// Exit status as for every mgmtcli command: 1 when the appliance refused,
// 2 for a bad command line, 3 when mgmtd cannot be reached.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mgmtcli_appliance.h"
#include "mgmtcli_session.h"

namespace
{

constexpr const char *appliance_root = "/sim/appliance";
constexpr const char *show_root = "/sim/appliance/show";

struct table {
    std::string name;
    std::vector<std::string> columns;
    // Row number -> column -> (type, text).
    std::map<uint32, std::map<std::string, std::pair<bn_type, std::string>>> rows;
};

// A shorthand: the words it takes and the action parameters they fill.
struct shorthand {
    std::vector<std::string> words; // fixed words after "appliance"
    const char *action;
    std::vector<std::pair<const char *, const char *>> params; // name, type
    size_t optional;                                           // trailing optional params
};
const shorthand shorthands[] = {
    {{"interface", "down"}, "interface/down", {{"ifname", "string"}}, 0},
    {{"interface", "up"}, "interface/up", {{"ifname", "string"}}, 0},
    {{"interface", "incomplete"}, "interface/incomplete", {{"ifname", "string"}}, 0},
    {{"label", "move"},
     "label/move",
     {{"label", "string"}, {"to", "string"}, {"from", "string"}},
     1},
    {{"tunnel", "add"},
     "tunnel/add",
     {{"name", "string"}, {"alias", "string"}, {"id", "uint32"}, {"source", "string"}},
     0},
    {{"tunnel", "remove"}, "tunnel/remove", {{"name", "string"}}, 0},
    {{"sysd", "restart"}, "sysd/restart", {{"ready_after_ms", "uint32"}}, 1},
    {{"peer"}, "peer/state", {{"peer", "string"}, {"state", "string"}}, 0},
    {{"synthetic"}, "synthetic", {{"count", "uint32"}}, 0},
};

int fail(int status, const std::string &why)
{
    fprintf(stderr, "mgmtcli: %s\n", why.c_str());
    return status;
}

std::string text_of(const bn_binding *b, bn_type *type)
{
    const bn_attrib *a = nullptr;
    *type = bt_string;
    if (bn_binding_get_attrib(b, ba_value, &a) == 0 && a) *type = a->type;
    char *value = nullptr;
    std::string text;
    if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) == 0 && value) text = value;
    free(value);
    return text;
}

// The show bindings back into tables, in the order they came.
std::vector<table> to_tables(const bn_binding_array *bindings)
{
    std::vector<table> out;
    const uint32 n = bn_binding_array_length_quick(bindings);
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings, i);
        owned<tstr_array> parts;
        bool absolute = false;
        if (bn_binding_name_to_parts(ts_str_maybe_empty(bn_binding_get_name_quick(b)), parts.out(),
                                     &absolute) != 0)
            continue;
        const uint32 np = tstr_array_length_quick(parts.get());
        if (np != 4 && np != 6) continue; // sim appliance show TABLE [ROW COLUMN]
        const std::string name = tstr_array_get_str_quick(parts.get(), 3);
        if (np == 4) {
            out.push_back(table{name, {}, {}});
            continue;
        }
        if (out.empty() || out.back().name != name) continue;
        table &t = out.back();
        const uint32 row = static_cast<uint32>(atoi(tstr_array_get_str_quick(parts.get(), 4)));
        const std::string column = tstr_array_get_str_quick(parts.get(), 5);
        if (row == 1) t.columns.push_back(column);
        bn_type type = bt_string;
        std::string text = text_of(b, &type);
        t.rows[row][column] = {type, text};
    }
    return out;
}

void print_tables(const std::vector<table> &tables)
{
    bool first = true;
    for (const auto &t : tables) {
        if (!first) printf("\n");
        first = false;
        printf("%s (%zu)\n", t.name.c_str(), t.rows.size());
        if (t.rows.empty()) continue;
        std::vector<size_t> width;
        for (const auto &c : t.columns) width.push_back(c.size());
        for (const auto &[r, cells] : t.rows)
            for (size_t c = 0; c < t.columns.size(); ++c) {
                auto it = cells.find(t.columns[c]);
                const size_t w =
                    it == cells.end() || it->second.second.empty() ? 1 : it->second.second.size();
                width[c] = std::max(width[c], w);
            }
        for (size_t c = 0; c < t.columns.size(); ++c)
            printf(c + 1 < t.columns.size() ? "%-*s  " : "%-*s\n",
                   static_cast<int>(c + 1 < t.columns.size() ? width[c] : 0), t.columns[c].c_str());
        for (const auto &[r, cells] : t.rows)
            for (size_t c = 0; c < t.columns.size(); ++c) {
                auto it = cells.find(t.columns[c]);
                std::string v = it == cells.end() ? "" : it->second.second;
                if (v.empty()) v = "-";
                printf(c + 1 < t.columns.size() ? "%-*s  " : "%-*s\n",
                       static_cast<int>(c + 1 < t.columns.size() ? width[c] : 0), v.c_str());
            }
    }
    fflush(stdout);
}

void print_json(const std::vector<table> &tables)
{
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    for (const auto &t : tables) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const auto &[r, cells] : t.rows) {
            nlohmann::ordered_json row = nlohmann::ordered_json::object();
            for (const auto &c : t.columns) {
                auto it = cells.find(c);
                if (it == cells.end()) continue;
                const auto &[type, text] = it->second;
                if (type == bt_bool)
                    row[c] = text == "true";
                else if ((type == bt_uint32 || type == bt_uint16 || type == bt_uint64) &&
                         !text.empty())
                    row[c] = std::stoull(text);
                else
                    row[c] = text;
            }
            rows.push_back(std::move(row));
        }
        doc[t.name] = std::move(rows);
    }
    printf("%s\n", doc.dump(2).c_str());
    fflush(stdout);
}

int send(mgmtcli::session &s, const std::string &action, const bn_binding_array *params,
         bn_binding_array **results)
{
    uint32 code = 0;
    owned<tstring> msg;
    const int err = mdc_send_action_with_bindings_and_results(s.mcc(), &code, msg.out(),
                                                              action.c_str(), params, results);
    if (err != 0)
        return fail(err == lc_err_io_closed ? 3 : 1,
                    std::string("request failed: ") +
                        lc_enum_to_string_quiet(lc_error_code_map, static_cast<int32>(err)));
    if (code != 0)
        return fail(1,
                    "appliance refused: " + std::string(msg ? ts_str_maybe_empty(msg.get()) : ""));
    return 0;
}

int add_param(bn_binding_array *params, const char *name, const char *type, const std::string &v)
{
    bn_type t = bt_string;
    if (std::string(type) == "uint32") t = bt_uint32;
    owned<bn_binding> b;
    bail_error(bn_binding_new_str(b.out(), name, ba_value, t, 0, v.c_str()));
    bn_binding *raw = b.release();
    return bn_binding_array_append_takeover(params, &raw);
}

} // namespace

int mgmtcli_appliance(const std::string &client, bool wait, int32 timeout_ms,
                      const std::vector<std::string> &words)
{
    owned<bn_binding_array> params;
    if (bn_binding_array_new(params.out()) != 0) return fail(1, "no memory");
    std::string action;
    bool json = false;
    std::vector<std::string> w = words;
    bool change = false;
    for (const auto &sh : shorthands) change = change || (!w.empty() && w[0] == sh.words[0]);
    if (!change) {
        if (!w.empty() && w[0] == "show") w.erase(w.begin());
        std::vector<std::string> rest;
        for (const auto &x : w)
            if (x == "--json")
                json = true;
            else
                rest.push_back(x);
        if (rest.size() > 1) return fail(2, "usage: appliance [show] [--json] [TABLE]");
        action = show_root;
        if (rest.size() == 1 && add_param(params.get(), "what", "string", rest[0]) != 0)
            return fail(1, "no memory");
    } else {
        const shorthand *found = nullptr;
        for (const auto &sh : shorthands) {
            if (w.size() < sh.words.size()) continue;
            bool same = true;
            for (size_t k = 0; k < sh.words.size(); ++k) same = same && w[k] == sh.words[k];
            if (same) found = &sh;
        }
        if (!found) return fail(2, "unknown appliance command \"" + w[0] + "\"");
        const size_t given = w.size() - found->words.size();
        if (given > found->params.size() || given < found->params.size() - found->optional) {
            std::string usage = "usage: appliance";
            for (const auto &x : found->words) usage += " " + x;
            for (size_t k = 0; k < found->params.size(); ++k)
                usage += k < found->params.size() - found->optional
                             ? std::string(" ") + found->params[k].first
                             : std::string(" [") + found->params[k].first + "]";
            return fail(2, usage);
        }
        for (size_t k = 0; k < given; ++k)
            if (add_param(params.get(), found->params[k].first, found->params[k].second,
                          w[found->words.size() + k]) != 0)
                return fail(2, "bad value \"" + w[found->words.size() + k] + "\" for " +
                                   found->params[k].first);
        action = std::string(appliance_root) + "/" + found->action;
    }

    mgmtcli::session s;
    std::string why;
    if (s.open(client, wait, timeout_ms, &why) != 0) return fail(3, why);
    owned<bn_binding_array> results;
    if (int st = send(s, action, params.get(), results.out())) return st;
    if (action != show_root) return 0;
    const std::vector<table> tables = to_tables(results.get());
    if (json)
        print_json(tables);
    else
        print_tables(tables);
    return 0;
}
