// The attribute strings of operations, actions and managers.
//
// One tokeniser set-up for all three grammars: terms are separated by ';';
// a backslash makes the next ';', '"' or backslash literal (before any
// other character it stays, with that character); text between double
// quotes keeps its ';' and loses the quotes, so a user agent such as
// "Mozilla/5.0 (X11; Linux)" can be written whole; runs of ';' and ';' at
// either end make no empty terms, and a string of separators has no terms.
// Each term is then read as key, separator and value with the documented
// scanf formats, every field bounded by the buffer it lands in, so no input
// overflows anything: operation keys 31 characters and values 255; action
// keys and values 255; manager operands 255.  Names taken from values are
// cut to 63 characters, labels to 15, texts to their field.
//
// Numbers are decimal and truncated to the field's width; text that is not
// a number reads as 0 (leading blanks are skipped, the digits that follow
// count, the first other character ends the number; no sign).
//
// A term that the scan leaves without a separator is logged with a blank
// in the separator's place.  A parse works on a copy of the attribute
// string: sends made while parsing run nested loop passes in which the
// intake may store a new string into the same entry.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "iptrack_records.h"
#include "log/logging.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

constexpr char term_sep = ';';
constexpr char term_esc = '\\';
constexpr char term_quote = '"';
constexpr uint32 term_options =
    ts_tokenize_no_leading_empty | ts_tokenize_no_trailing_empty | ts_tokenize_null_if_empty;

constexpr uint32 oper_key_size = iptrack_key_max;       // %31[^=]
constexpr uint32 oper_val_size = iptrack_targets_size;  // %255[^\n]
constexpr uint32 wide_size = iptrack_action_label_size; // %255[...]
constexpr const char *oper_term_format = "%31[^=]%c%255[^\n]";
constexpr const char *action_term_format = "%255[^=]%c%255[^\n]";
constexpr const char *mgr_term_format = "%255[^|&=]%c%255[^\n]";

uint64 read_decimal(const char *s)
{
    while (*s == ' ' || *s == '\t') ++s;
    uint64 v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) v = v * 10 + static_cast<uint64>(*s - '0');
    return v;
}
uint16 read_u16(const char *s)
{
    return static_cast<uint16>(read_decimal(s));
}
uint32 read_u32(const char *s)
{
    return static_cast<uint32>(read_decimal(s));
}

bool key_is(const char *key, const char *name)
{
    return strncasecmp(key, name, iptrack_key_max) == 0;
}

// Empty, or beginning or ending with ',' or ':'.
bool rejected(const char *s)
{
    const size_t n = strlen(s);
    if (n == 0) return true;
    const char first = s[0];
    const char last = s[n - 1];
    return first == ',' || first == ':' || last == ',' || last == ':';
}

char shown(char c)
{
    return c == '\0' ? ' ' : c;
}

// The terms of `attribs` (a copy is split); null when there are none.
int split_terms(const char *attribs, owned<tstr_array> *ret)
{
    char copy[iptrack_attribs_size];
    iptrack_copy_text(copy, sizeof copy, attribs);
    tstr_array *raw = nullptr;
    const int err = ts_tokenize_str(copy, term_sep, term_esc, term_quote, term_options, &raw);
    ret->reset(raw);
    return err;
}

uint32 term_count(const owned<tstr_array> &terms)
{
    return terms ? tstr_array_length_quick(terms.get()) : 0;
}

const char *term_at(const owned<tstr_array> &terms, uint32 i)
{
    const char *t = tstr_array_get_str_quick(terms.get(), i);
    return t ? t : "";
}

[[gnu::format(printf, 2, 3)]] void oper_msg(const iptrack_oper *oper, const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    lc_log_basic(LCL_NOTICE, "%s: %s for operation %s", "iptrack_set_oper_attribs", text,
                 oper->name);
}

[[gnu::format(printf, 2, 3)]] void action_msg(const iptrack_action *action, const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    lc_log_basic(LCL_INFO, "%s: %s for action %s", "iptrack_set_action_attribs", text,
                 action->name);
}

[[gnu::format(printf, 1, 2)]] void mgr_msg(const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    lc_log_basic(LCL_NOTICE, "%s: %s", "iptrack_set_mgr_attribs", text);
}

// The parsed fields go back to their empty values.  The type, the tunnel
// id and source port, the probe numbers and the proxy port are not parsed
// state of this kind and stay.
void oper_reset(iptrack_oper *oper)
{
    oper->label[0] = '\0';
    oper->tunnel_name[0] = '\0';
    oper->tunnel_alias[0] = '\0';
    oper->ka = 0;
    oper->up_thresh = 0;
    oper->dn_thresh = 0;
    oper->sample_int = 0;
    oper->loss_up_thresh = 0;
    oper->loss_dn_thresh = 0;
    oper->rtt_up_thresh = 0;
    oper->rtt_dn_thresh = 0;
    oper->subtype = 0;
    oper->targets[0] = '\0';
    oper->proxy_addr[0] = '\0';
    oper->user_agent[0] = '\0';
    oper->http_timeout = 0;
    oper->metric_flags = iptrack_metric_or;
    oper->state_flags =
        static_cast<uint8>((oper->state_flags & (iptrack_os_reparsed | iptrack_os_cfg_pending |
                                                 iptrack_os_tunnel_changed)) |
                           iptrack_os_tunnel_active);
    lc_log_basic(LCL_NOTICE, "%s: cleaning the port list for oper %s", "iptrack_set_oper_attribs",
                 oper->name);
    iptrack_free_ports(&oper->ports);
}

// Stops the running monitor before its settings change.
void oper_stop_monitor(iptrack_oper *oper)
{
    if (!(oper->state_flags & iptrack_os_requested) || oper->stop_sent) return;
    if (oper->type == iptrack_oper_ip && strstr(oper->attribs, "ip-monitor") != nullptr) {
        if (iptrack_mgr_send_ip_mon_request(oper, iptrack_mon_delete) == 0)
            oper->stop_sent = 1;
        else
            lc_log_basic(LCL_WARNING, "%s: Ping monitor Stop request for monitor %s failed",
                         "iptrack_set_oper_attribs", oper->name);
    } else if (oper->type == iptrack_oper_http &&
               strstr(oper->attribs, "http-monitor") != nullptr) {
        if (iptrack_mgr_send_http_mon_request(oper, iptrack_mon_delete) == 0)
            oper->stop_sent = 1;
        else
            lc_log_basic(LCL_WARNING, "%s: HTTP monitor Stop request for monitor %s failed",
                         "iptrack_set_oper_attribs", oper->name);
    }
}

void oper_set_targets(iptrack_oper *oper, uint16 subtype, const char *val)
{
    oper->subtype = subtype;
    iptrack_copy_text(oper->targets, sizeof oper->targets, val);
    (void)iptrack_cloudpath_delete_probes(oper);
    (void)iptrack_cloudpath_update_probes(oper);
}

struct oper_term_state {
    bool tunnel_given = false;
    bool src_port_given = false;
};

void oper_apply(iptrack_oper *oper, const char *key, const char *val, oper_term_state *st)
{
    if (key_is(key, "type")) {
        static constexpr struct {
            const char *value;
            uint16 type;
            const char *msg;
        } types[] = {
            {"port-monitor", iptrack_oper_port, "Set type to interface monitor"},
            {"ip-monitor", iptrack_oper_ip, "Set type to IP SLA monitor"},
            {"vrrp-monitor", iptrack_oper_vrrp, "Set type to VRRP state monitor"},
            {"http-monitor", iptrack_oper_http, "Set type to HTTP monitor"},
        };
        for (const auto &t : types) {
            if (strcmp(val, t.value) == 0) {
                oper->type = t.type;
                oper_msg(oper, "%s", t.msg);
                return;
            }
        }
        lc_log_basic(LCL_WARNING, "%s: invalid operation type %s - ignore",
                     "iptrack_set_oper_attribs", val);
    } else if (key_is(key, "port-name")) {
        (void)iptrack_add_oper_port(oper, val, 0);
        oper_msg(oper, "Managing port %s", val);
    } else if (key_is(key, "src-port-name")) {
        (void)iptrack_add_oper_port(oper, val, 0);
        st->src_port_given = true;
        oper_msg(oper, "Tunnel source port %s", val);
    } else if (key_is(key, "tunnel-name")) {
        (void)iptrack_add_oper_tunnel(oper, val);
        st->tunnel_given = true;
        oper_msg(oper, "Managing tunnel %s", val);
    } else if (key_is(key, "port-label") || key_is(key, "src-port-label")) {
        iptrack_copy_text(oper->label, sizeof oper->label, val);
        oper->state_flags |= iptrack_os_label_based;
        (void)ip_track_add_ports_from_oper_label(oper);
        if (key_is(key, "src-port-label")) st->src_port_given = true;
        oper_msg(oper, "Managing label %s", val);
    } else if (key_is(key, "port-ip")) {
        oper_msg(oper, "Command ignored");
    } else if (key_is(key, "ka")) {
        oper->ka = read_u16(val);
        oper_msg(oper, "KA interval %u", oper->ka);
    } else if (key_is(key, "up-thresh")) {
        oper->up_thresh = read_u16(val);
        oper_msg(oper, "Added Up threshold %u", oper->up_thresh);
    } else if (key_is(key, "dn-thresh")) {
        oper->dn_thresh = read_u16(val);
        oper_msg(oper, "Added Dn threshold %u", oper->dn_thresh);
    } else if (key_is(key, "sample-int")) {
        oper->sample_int = read_u16(val);
        oper_msg(oper, "Added Sampling Interval %u", oper->sample_int);
    } else if (key_is(key, "loss-up-thresh")) {
        oper->loss_up_thresh = read_u16(val);
        oper_msg(oper, "Added Loss Up Threshold %u", oper->loss_up_thresh);
    } else if (key_is(key, "loss-dn-thresh")) {
        oper->loss_dn_thresh = read_u16(val);
        oper_msg(oper, "Added Loss Down Threshold %u", oper->loss_dn_thresh);
    } else if (key_is(key, "rtt-up-thresh")) {
        oper->rtt_up_thresh = read_u32(val);
        oper_msg(oper, "Added Avg Latency (rtt) Up Threshold %u", oper->rtt_up_thresh);
    } else if (key_is(key, "rtt-dn-thresh")) {
        oper->rtt_dn_thresh = read_u32(val);
        oper_msg(oper, "Added Avg Latency (rtt) Dn Threshold %u", oper->rtt_dn_thresh);
    } else if (key_is(key, "metric-combination")) {
        if (strcmp(val, "metric-or") == 0) {
            oper->metric_flags =
                static_cast<uint8>((oper->metric_flags & ~iptrack_metric_and) | iptrack_metric_or);
            oper_msg(oper, "Set metric combination to OR");
        } else if (strcmp(val, "metric-and") == 0) {
            oper->metric_flags =
                static_cast<uint8>((oper->metric_flags & ~iptrack_metric_or) | iptrack_metric_and);
            oper_msg(oper, "Set metric combination to AND");
        } else {
            oper_msg(oper, "Metric comb %s", val);
        }
    } else if (key_is(key, "force-dns")) {
        if (strncasecmp(val, "true", 4) == 0) oper->metric_flags |= iptrack_metric_force_dns;
    } else if (key_is(key, "ip-monitor-ip")) {
        oper_set_targets(oper, iptrack_subtype_ip, val);
        oper_msg(oper, "Managing IP addresses %s reachability", val);
    } else if (key_is(key, "http-monitor-url")) {
        oper_set_targets(oper, iptrack_subtype_http, val);
        oper_msg(oper, "Managing URL %s reachability", val);
    } else if (key_is(key, "ip-monitor-http")) {
        oper->subtype = iptrack_subtype_http;
        oper_msg(oper, "Managing IP subtype HTTP");
    } else if (key_is(key, "proxyAddress")) {
        iptrack_copy_text(oper->proxy_addr, sizeof oper->proxy_addr, val);
        oper_msg(oper, "Added proxy as %s ", oper->proxy_addr);
    } else if (key_is(key, "proxyPort")) {
        oper->proxy_port = read_u16(val);
        oper_msg(oper, "Added proxy port as %u ", oper->proxy_port);
    } else if (key_is(key, "user-agent")) {
        iptrack_copy_text(oper->user_agent, sizeof oper->user_agent, val);
        oper_msg(oper, "Added User-Agent as %s ", oper->user_agent);
    } else if (key_is(key, "http-timeout")) {
        if (val[0] == '\0') {
            oper_msg(oper, "Command ignored");
        } else {
            oper->http_timeout = read_u16(val);
            oper_msg(oper, "Added HTTP timeout %u", oper->http_timeout);
        }
    } else {
        lc_log_basic(LCL_WARNING, "%s: op type %s and val %s not supported - ignore",
                     "iptrack_set_oper_attribs", key, val);
    }
}

} // namespace

int iptrack_set_oper_attribs(iptrack_oper *oper)
{
    if (oper == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return 1;
    }
    oper_stop_monitor(oper);
    oper_reset(oper);
    iptrack_copy_text(oper->attribs, sizeof oper->attribs, oper->new_attribs);
    if (rejected(oper->attribs)) return 1;

    owned<tstr_array> terms;
    bail_error(split_terms(oper->attribs, &terms));
    const uint32 count = term_count(terms);
    lc_log_basic(LCL_INFO, "%s: attributes after tokenize=%s, count = %u", __func__, oper->attribs,
                 count);

    oper_term_state st;
    for (uint32 i = 0; i < count; ++i) {
        const char *term = term_at(terms, i);
        if (strlen(term) > iptrack_term_max) {
            lc_log_basic(LCL_WARNING, "%s: key/value string %s length exceeded max supported",
                         __func__, term);
            oper_reset(oper);
            return 1;
        }
        char key[oper_key_size] = "";
        char sep = '\0';
        char val[oper_val_size] = "";
        (void)sscanf(term, oper_term_format, key, &sep, val);
        lc_log_basic(LCL_INFO, "%s: curr key/c/val = %s/%c/%s, i %d, count %d", __func__, key,
                     shown(sep), val, static_cast<int>(i), static_cast<int>(count));
        oper_apply(oper, key, val, &st);
    }
    if (st.tunnel_given && !st.src_port_given && oper->tunnel_src_port[0] != '\0') {
        char port[iptrack_ifname_size];
        iptrack_copy_text(port, sizeof port, oper->tunnel_src_port);
        (void)iptrack_add_oper_port(oper, port, 0);
    }
    oper->state_flags |= iptrack_os_reparsed;
    (void)iptrack_cloudpath_update_attr(oper);
    return 0;
}

int iptrack_set_action_attribs(iptrack_action *action)
{
    if (action == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return 1;
    }
    if (action->flags & iptrack_af_applied) (void)iptrack_revert_action(action);
    action->flags &= iptrack_af_label_pending;
    action->metric_delta = 0;
    action->prio_delta = 0;
    lc_log_basic(LCL_NOTICE, "%s: cleaning the port list for action %s", __func__, action->name);
    iptrack_free_ports(&action->ports);
    if (rejected(action->attribs)) return 1;

    owned<tstr_array> terms;
    bail_error(split_terms(action->attribs, &terms));
    const uint32 count = term_count(terms);
    for (uint32 i = 0; i < count; ++i) {
        char key[wide_size] = "";
        char sep = '\0';
        char val[wide_size] = "";
        (void)sscanf(term_at(terms, i), action_term_format, key, &sep, val);
        lc_log_basic(LCL_NOTICE, "%s: curr key/c/val = %s/%c/%s", __func__, key, shown(sep), val);

        if (key_is(key, "type")) {
            static constexpr struct {
                const char *value;
                uint32 type;
                const char *msg;
            } types[] = {
                {"vrrp-prio", iptrack_action_vrrp_prio, "Set type to VRRP priority"},
                {"subnet-adv", iptrack_action_subnet_adv, "Set type to Subnet advertise"},
                {"subnet-rmv", iptrack_action_subnet_rmv, "Set type to Subnet removal"},
                {"tun-up", iptrack_action_tun_up, "Set type to Tunnel mod"},
                {"tun-dn", iptrack_action_tun_dn, "Set type to Tunnel mod"},
                {"subnet-share", iptrack_action_subnet_share, "Set type to Subnet Share"},
                {"subnet-metric", iptrack_action_subnet_metric, "Set type to Sub Share metric"},
            };
            bool known = false;
            for (const auto &t : types) {
                if (strcmp(val, t.value) == 0) {
                    action->type = t.type;
                    action_msg(action, "%s", t.msg);
                    known = true;
                    break;
                }
            }
            if (!known)
                lc_log_basic(LCL_WARNING, "%s: invalid action type %s - ignore", __func__, val);
        } else if (key_is(key, "port-name")) {
            (void)iptrack_add_action_port(action, val);
            action_msg(action, "Managing port %s", val);
        } else if (key_is(key, "port-label")) {
            iptrack_copy_text(action->label_or_alias, sizeof action->label_or_alias, val);
            action->flags |= iptrack_af_label_based;
            (void)ip_track_add_ports_from_action_label(action);
            action_msg(action, "Managing label %s", val);
        } else if (key_is(key, "tun-alias")) {
            iptrack_copy_text(action->label_or_alias, sizeof action->label_or_alias, val);
            action_msg(action, "Managing tunnel alias %s", val);
        } else if (key_is(key, "inc")) {
            action->flags |= iptrack_af_prio_inc;
            action->prio_delta = read_u16(val);
            action_msg(action, "Set priority increment to %u", action->prio_delta);
        } else if (key_is(key, "dec")) {
            action->flags |= iptrack_af_prio_dec;
            action->prio_delta = read_u16(val);
            action_msg(action, "Set priority decrement to %u", action->prio_delta);
        } else if (key_is(key, "delta")) {
            action->metric_delta = read_u32(val);
            action_msg(action, "Set subnet metric delta to %u", action->metric_delta);
        } else {
            lc_log_basic(LCL_WARNING, "%s: action type %s and val %s not supported - ignore",
                         __func__, key, val);
        }
    }
    return 0;
}

// Appends one operation request to the manager; false when out of memory.
static bool iptrack_new_op_request(iptrack_mgr *mgr, const char *oper_name)
{
    auto *req = new (std::nothrow) iptrack_op_request{};
    if (req == nullptr) return false;
    iptrack_copy_name(req->oper_name, oper_name);
    req->dns_ok = 1;
    req->due_s = iptrack_now_s() + iptrack_default_due_s;
    req->flags = iptrack_rf_not_sent;
    iptrack_list_append(&mgr->requests, req);
    lc_log_basic(LCL_NOTICE, "%s: successfully added operation request %s to mgr %s", __func__,
                 req->oper_name, mgr->name);
    return true;
}

int iptrack_set_mgr_attribs(iptrack_mgr *mgr)
{
    if (mgr == nullptr) {
        lc_bail_report_null(__func__, __FILE__, __LINE__);
        return 1;
    }
    (void)iptrack_mgr_clean(mgr);
    if (rejected(mgr->attribs)) return 1;

    owned<tstr_array> terms;
    bail_error(split_terms(mgr->attribs, &terms));
    const uint32 count = term_count(terms);
    for (uint32 i = 0; i < count; ++i) {
        char op1[wide_size] = "";
        char op = '\0';
        char op2[wide_size] = "";
        const int n = sscanf(term_at(terms, i), mgr_term_format, op1, &op, op2);
        lc_log_basic(LCL_NOTICE, "%s: curr operand1/c/operand2 = %s/%c/%s", __func__, op1,
                     shown(op), op2);
        if (n < 2) {
            lc_log_basic(LCL_WARNING, "%s: invalid keyword %s - ignoring for manager %s", __func__,
                         op1, mgr->name);
            continue;
        }
        if (op != '=') {
            lc_log_basic(LCL_WARNING, "%s: invalid command operator %c - ignore for mgr %s",
                         __func__, op, mgr->name);
            continue;
        }
        if (key_is(op1, "operation")) {
            if (!iptrack_new_op_request(mgr, op2)) {
                lc_log_basic(LCL_ERR, "%s: out of memory allocating operation for mgr %s", __func__,
                             mgr->name);
                return 1;
            }
            mgr_msg("Added Operation %s", op2);
        } else if (key_is(op1, "up-action") || key_is(op1, "dn-action")) {
            const bool up = key_is(op1, "up-action");
            if (iptrack_mgr_add_action(mgr, op2, up) == 0)
                mgr_msg("Added %s Action %s", up ? "Up" : "Dn", op2);
            else
                mgr_msg("%s Action %s was not found in the Action table", up ? "Up" : "Dn", op2);
        } else if (key_is(op1, "interval")) {
            mgr->interval_s = read_u32(op2);
            mgr_msg("Set Interval to %u", mgr->interval_s);
        } else {
            lc_log_basic(LCL_WARNING, "%s: invalid keyword %s - ignoring for manager %s", __func__,
                         op1, mgr->name);
        }
    }
    return 0;
}
