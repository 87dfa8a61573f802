// mgmtcli's "show" commands (declared in mgmtcli_show.h).
//
// The records come from "/qz/iptrackd/state/mgr" and "/qz/iptrackd/state/
// summary" as binary values and are decoded with a bounded reader at the
// offsets of the daemon's layout header (host byte order: mgmtd and the
// daemon run on this machine).  A table whose size is not a whole number of
// records is refused; a table without its count (the daemon ran out of room
// while managers were added) is shown with the records it holds and marked
// incomplete.
//
// The list is built to answer "why did it fail over?" on the first screen:
// status and how long ago it last changed come first, then the counters and
// the actions that the change set off.
#include "mgmtcli_show.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include <nlohmann/json.hpp>

#include "../../iptrackd/iptrack_show_layout.h"
#include "mgmt/mdc_misc.h"
#include "util/byte_cursor.h"

namespace mgmtcli
{
namespace
{

constexpr int show_failed = 1;
constexpr int show_unreachable = 3;
constexpr const char *node_mgr = "/qz/iptrackd/state/mgr";
constexpr const char *node_summary = "/qz/iptrackd/state/summary";

using json = nlohmann::ordered_json;
using words_t = std::vector<std::string>;

struct summary_rec {
    std::string state;
    uint16 mgrs = 0, enabled = 0, opers = 0, actions = 0;
    uint32 results = 0;
};

struct action_rec {
    std::string name, desc;
};

struct mgr_rec {
    std::string name, desc, oper_name, oper_desc, rtlabel_name;
    action_rec up_action, dn_action;
    uint32 status_changes = 0, since_dn_ms = 0, since_up_ms = 0, interval_s = 0, runs = 0;
    uint32 rtlabel_id = 0;
    uint16 failures = 0, ka = 0, up_thresh = 0, dn_thresh = 0;
    bool is_up = false, enabled = false;
};

struct mgr_table {
    std::vector<mgr_rec> mgrs;
    bool complete = true;
};

// ---------------------------------------------------------------------------
// Decoding

std::string read_text(const lc_byte_reader &rec, uint32 off, uint32 len)
{
    lc_byte_reader field;
    const uint8 *p = nullptr;
    if (!rec.at(off, len, &field) || !field.view(len, &p)) return {};
    return std::string(reinterpret_cast<const char *>(p),
                       strnlen(reinterpret_cast<const char *>(p), len));
}

template <class T> T read_ne(const lc_byte_reader &rec, uint32 off)
{
    lc_byte_reader field;
    T v = 0;
    if (!rec.at(off, sizeof v, &field) || !field.get<lc_bytes::order::native>(&v)) return 0;
    return v;
}

mgr_rec decode_mgr(const lc_byte_reader &rec)
{
    mgr_rec m;
    m.name = read_text(rec, iptrack_show_mgr_name_off, iptrack_show_mgr_name_len);
    m.desc = read_text(rec, iptrack_show_mgr_desc_off, iptrack_show_mgr_desc_len);
    m.oper_name = read_text(rec, iptrack_show_mgr_oper_name_off, iptrack_show_mgr_oper_name_len);
    m.oper_desc = read_text(rec, iptrack_show_mgr_oper_desc_off, iptrack_show_desc_len);
    m.up_action.name = read_text(rec, iptrack_show_mgr_up_name_off, iptrack_show_mgr_up_name_len);
    m.up_action.desc = read_text(rec, iptrack_show_mgr_up_desc_off, iptrack_show_desc_len);
    m.dn_action.name = read_text(rec, iptrack_show_mgr_dn_name_off, iptrack_show_mgr_dn_name_len);
    m.dn_action.desc = read_text(rec, iptrack_show_mgr_dn_desc_off, iptrack_show_desc_len);
    m.rtlabel_name =
        read_text(rec, iptrack_show_mgr_rtlabel_name_off, iptrack_show_mgr_rtlabel_name_len);
    m.status_changes = read_ne<uint32>(rec, iptrack_show_mgr_status_changes_off);
    m.failures = read_ne<uint16>(rec, iptrack_show_mgr_failures_off);
    m.is_up = read_ne<uint8>(rec, iptrack_show_mgr_status_off) == 1;
    m.since_dn_ms = read_ne<uint32>(rec, iptrack_show_mgr_since_down_ms_off);
    m.since_up_ms = read_ne<uint32>(rec, iptrack_show_mgr_since_up_ms_off);
    m.interval_s = read_ne<uint32>(rec, iptrack_show_mgr_interval_off);
    m.ka = read_ne<uint16>(rec, iptrack_show_mgr_ka_off);
    m.up_thresh = read_ne<uint16>(rec, iptrack_show_mgr_up_thresh_off);
    m.dn_thresh = read_ne<uint16>(rec, iptrack_show_mgr_dn_thresh_off);
    m.runs = read_ne<uint32>(rec, iptrack_show_mgr_runs_off);
    m.rtlabel_id = read_ne<uint32>(rec, iptrack_show_mgr_rtlabel_id_off);
    m.enabled = read_ne<uint8>(rec, iptrack_show_mgr_flags_off) & iptrack_show_mgr_flag_enabled;
    return m;
}

bool decode_table(const uint8 *bytes, uint32 len, mgr_table *out, std::string *why)
{
    lc_byte_reader r(bytes, len);
    uint32 count = 0;
    if (!r.ne32(&count) || r.remaining() % iptrack_show_mgr_record_size != 0) {
        *why = "malformed manager table (" + std::to_string(len) + " bytes)";
        return false;
    }
    const size_t present = r.remaining() / iptrack_show_mgr_record_size;
    // Without its count the table holds as many whole records as fitted;
    // the unused ones are zero and have no name.
    out->complete = count == present;
    if (count > present) {
        *why = "manager table claims " + std::to_string(count) + " records but holds " +
               std::to_string(present);
        return false;
    }
    for (size_t i = 0; i < present; ++i) {
        lc_byte_reader rec;
        if (!r.sub(iptrack_show_mgr_record_size, &rec)) break;
        mgr_rec m = decode_mgr(rec);
        if (!out->complete && m.name.empty()) break;
        out->mgrs.push_back(std::move(m));
    }
    return true;
}

bool decode_summary(const uint8 *bytes, uint32 len, summary_rec *out, std::string *why)
{
    if (len != iptrack_show_summary_size) {
        *why = "malformed summary record (" + std::to_string(len) + " bytes)";
        return false;
    }
    const lc_byte_reader rec(bytes, len);
    out->state = read_text(rec, iptrack_show_sum_state_off, iptrack_show_sum_state_len);
    out->mgrs = read_ne<uint16>(rec, iptrack_show_sum_mgrs_off);
    out->enabled = read_ne<uint16>(rec, iptrack_show_sum_enabled_mgrs_off);
    out->opers = read_ne<uint16>(rec, iptrack_show_sum_opers_off);
    out->actions = read_ne<uint16>(rec, iptrack_show_sum_actions_off);
    out->results = read_ne<uint32>(rec, iptrack_show_sum_results_off);
    return true;
}

// The binary value of a state node.  0, or an exit status with `*why`.
int fetch(session &s, const char *node, std::vector<uint8> *out, std::string *why)
{
    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding> b;
    const int err = mdc_get_binding(s.mcc(), &code, msg.out(), 0, b.out(), node, nullptr);
    if (err != 0) {
        *why = std::string("request failed: ") +
               lc_enum_to_string_quiet(lc_error_code_map, static_cast<int32>(err));
        return err == lc_err_io_closed ? show_unreachable : show_failed;
    }
    if (code != 0) {
        *why = "mgmtd refused " + std::string(node) + ": " + ts_str_maybe_empty(msg.get()) + " (" +
               std::to_string(code) + ")";
        return show_failed;
    }
    const uint8 *p = nullptr;
    uint32 len = 0;
    if (!b || bn_binding_get_buf_const(b.get(), ba_value, nullptr, &p, &len) != 0) {
        *why = std::string("no answer for ") + node + " (is iptrackd running and ready?)";
        return show_failed;
    }
    out->assign(p, p + len);
    return 0;
}

// ---------------------------------------------------------------------------
// Text output

// "45s", "12m05s", "3h07m", "2d04h": enough precision to read at a glance.
std::string ago(uint32 ms)
{
    const uint32 s = ms / 1000;
    char buf[32];
    if (s < 60)
        snprintf(buf, sizeof buf, "%us", s);
    else if (s < 3600)
        snprintf(buf, sizeof buf, "%um%02us", s / 60, s % 60);
    else if (s < 86400)
        snprintf(buf, sizeof buf, "%uh%02um", s / 3600, s % 3600 / 60);
    else
        snprintf(buf, sizeof buf, "%ud%02uh", s / 86400, s % 86400 / 3600);
    return buf;
}

// The records pad empty label parts with blanks; a screen has no use for them.
std::string trimmed(const std::string &s)
{
    const size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? "" : s.substr(0, end + 1);
}

std::string with_desc(const action_rec &a)
{
    const std::string desc = trimmed(a.desc);
    return desc.empty() ? a.name : a.name + ": " + desc;
}

std::string status_text(const mgr_rec &m)
{
    if (!m.enabled) return "disabled";
    return m.is_up ? "UP" : "DOWN";
}

// How long the manager has been in its status.  A down manager that never
// changed to down has had no result yet (or its monitor is not installed).
std::string since_text(const mgr_rec &m)
{
    if (m.is_up) return ago(m.since_up_ms);
    return m.since_dn_ms ? ago(m.since_dn_ms) : "-";
}

std::string label_text(const mgr_rec &m)
{
    if (m.rtlabel_id == 0) return "-";
    const std::string name = m.rtlabel_name.empty() ? "?" : m.rtlabel_name;
    return name + " (" + std::to_string(m.rtlabel_id) + ")";
}

std::string summary_line(const summary_rec &s)
{
    return "Engine " + s.state + ": " + std::to_string(s.mgrs) + " managers (" +
           std::to_string(s.enabled) + " enabled), " + std::to_string(s.opers) + " operations, " +
           std::to_string(s.actions) + " actions, result counter " + std::to_string(s.results);
}

void print_table(const std::vector<std::vector<std::string>> &rows)
{
    std::vector<size_t> width;
    for (const auto &row : rows) {
        width.resize(std::max(width.size(), row.size()), 0);
        for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
        }
        printf("%s\n", line.c_str());
    }
}

void print_managers(const summary_rec &sum, const mgr_table &t)
{
    printf("%s\n", summary_line(sum).c_str());
    const auto down = std::count_if(t.mgrs.begin(), t.mgrs.end(),
                                    [](const mgr_rec &m) { return m.enabled && !m.is_up; });
    if (down) printf("%ld manager%s DOWN\n", long(down), down == 1 ? "" : "s");
    if (!t.complete) printf("(incomplete: managers were added while the table was read)\n");
    printf("\n");
    if (t.mgrs.empty()) {
        printf("No managers configured.\n");
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"MANAGER", "STATUS", "FOR", "CHANGES", "RUNS",
                                                   "FAILS", "OPERATION", "UP ACTION", "DOWN ACTION",
                                                   "ROUTE LABEL"}};
    for (const mgr_rec &m : t.mgrs) {
        rows.push_back({m.name, status_text(m), since_text(m), std::to_string(m.status_changes),
                        std::to_string(m.runs), std::to_string(m.failures),
                        m.oper_name.empty() ? "-" : m.oper_name, m.up_action.name, m.dn_action.name,
                        label_text(m)});
    }
    print_table(rows);
}

void print_manager(const mgr_rec &m)
{
    std::vector<std::vector<std::string>> rows;
    auto row = [&](const std::string &k, const std::string &v) { rows.push_back({k, v}); };
    std::string status = status_text(m);
    if (m.is_up)
        status += " for " + ago(m.since_up_ms);
    else if (m.since_dn_ms)
        status += " for " + ago(m.since_dn_ms);
    else
        status += " (no down change yet)";
    row("Manager", m.name + (m.desc.empty() ? "" : "  (" + m.desc + ")"));
    row("Status", status + ", " + std::to_string(m.status_changes) +
                      (m.status_changes == 1 ? " status change" : " status changes"));
    row("Last down", m.since_dn_ms ? ago(m.since_dn_ms) + " ago" : "never");
    row("Last up or reset", ago(m.since_up_ms) + " ago");
    row("Interval", std::to_string(m.interval_s) + " s");
    if (m.oper_name.empty()) {
        row("Operation", "none");
    } else {
        row("Operation", m.oper_name + ": " + trimmed(m.oper_desc));
        row("Results",
            std::to_string(m.runs) + " runs, " + std::to_string(m.failures) + " failures");
        if (m.ka || m.up_thresh || m.dn_thresh)
            row("Thresholds", "ka " + std::to_string(m.ka) + ", up " + std::to_string(m.up_thresh) +
                                  ", down " + std::to_string(m.dn_thresh));
    }
    row("Up action", with_desc(m.up_action));
    row("Down action", with_desc(m.dn_action));
    row("Route label", label_text(m));
    print_table(rows);
}

// ---------------------------------------------------------------------------
// JSON output

json to_json(const summary_rec &s)
{
    return json{{"state", s.state},      {"managers", s.mgrs},   {"enabled_managers", s.enabled},
                {"operations", s.opers}, {"actions", s.actions}, {"result_counter", s.results}};
}

json to_json(const mgr_rec &m)
{
    json j;
    j["name"] = m.name;
    j["description"] = m.desc;
    j["status"] = m.is_up ? "up" : "down";
    j["enabled"] = m.enabled;
    j["status_changes"] = m.status_changes;
    j["ms_since_down"] = m.since_dn_ms ? json(m.since_dn_ms) : json(nullptr);
    j["ms_since_up_or_reset"] = m.since_up_ms;
    j["interval_s"] = m.interval_s;
    if (m.oper_name.empty()) {
        j["operation"] = nullptr;
    } else {
        j["operation"] = {{"name", m.oper_name},
                          {"description", m.oper_desc},
                          {"runs", m.runs},
                          {"failures", m.failures},
                          {"ka", m.ka},
                          {"up_threshold", m.up_thresh},
                          {"down_threshold", m.dn_thresh}};
    }
    j["up_action"] = {{"name", m.up_action.name}, {"description", m.up_action.desc}};
    j["down_action"] = {{"name", m.dn_action.name}, {"description", m.dn_action.desc}};
    j["route_label"] = {{"id", m.rtlabel_id}, {"name", m.rtlabel_name}};
    return j;
}

void print_json(const json &j)
{
    printf("%s\n", j.dump(2).c_str());
}

bool json_flag(const words_t &w)
{
    return std::find(w.begin(), w.end(), "--json") != w.end();
}

words_t without_flags(const words_t &w)
{
    words_t out;
    for (const auto &x : w)
        if (x != "--json") out.push_back(x);
    return out;
}

int fetch_summary(session &s, summary_rec *sum, std::string *why)
{
    std::vector<uint8> bytes;
    if (int st = fetch(s, node_summary, &bytes, why)) return st;
    return decode_summary(bytes.data(), uint32(bytes.size()), sum, why) ? 0 : show_failed;
}

int fetch_table(session &s, mgr_table *t, std::string *why)
{
    std::vector<uint8> bytes;
    if (int st = fetch(s, node_mgr, &bytes, why)) return st;
    return decode_table(bytes.data(), uint32(bytes.size()), t, why) ? 0 : show_failed;
}

} // namespace

bool show_check(const words_t &words, std::string *why)
{
    const words_t w = without_flags(words);
    const bool ok = (w.size() == 2 && (w[1] == "managers" || w[1] == "summary")) ||
                    (w.size() == 3 && w[1] == "manager");
    if (!ok) *why = "usage: show managers | show manager NAME | show summary  [--json]";
    return ok;
}

int show_run(session &s, const words_t &words, std::string *why)
{
    const bool as_json = json_flag(words);
    const words_t w = without_flags(words);
    summary_rec sum;
    if (w[1] == "summary") {
        if (int st = fetch_summary(s, &sum, why)) return st;
        if (as_json)
            print_json(to_json(sum));
        else
            printf("%s\n", summary_line(sum).c_str());
        fflush(stdout);
        return 0;
    }
    mgr_table t;
    if (w[1] == "managers") {
        if (int st = fetch_summary(s, &sum, why)) return st;
        if (int st = fetch_table(s, &t, why)) return st;
        if (as_json) {
            json list = json::array();
            for (const mgr_rec &m : t.mgrs) list.push_back(to_json(m));
            print_json(
                json{{"summary", to_json(sum)}, {"complete", t.complete}, {"managers", list}});
        } else {
            print_managers(sum, t);
        }
        fflush(stdout);
        return 0;
    }
    if (int st = fetch_table(s, &t, why)) return st;
    for (const mgr_rec &m : t.mgrs) {
        if (m.name != w[2]) continue;
        if (as_json)
            print_json(to_json(m));
        else
            print_manager(m);
        fflush(stdout);
        return 0;
    }
    *why = "no manager " + w[2];
    return show_failed;
}

} // namespace mgmtcli
