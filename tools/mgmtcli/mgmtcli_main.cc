// mgmtcli: the command-line client of mgmtd (the appliance's or the
// stand-in in sim/mgmtd).  It is a management client like any daemon: it
// opens a session as "mgmtcli" (or -n NAME) and sends queries, set
// requests, actions and events.
//
//   mgmtcli [-n NAME] [-w] [-t MS] COMMAND [ARGS...]
//   mgmtcli [-n NAME] [-w] [-t MS] -f FILE      (FILE "-" is stdin)
//
// Commands (one per line in a script; words split as in script_words.h):
//   get NAME                      the node's value
//   iterate NAME [subtree]        its children, or its whole subtree
//   set NAME TYPE VALUE           modify (creates an absent node)
//   create NAME TYPE VALUE        create; refused when the node exists
//   delete NAME                   the node and everything below it
//   reset NAME                    back to the value mgmtd started with
//   action NAME [PARAM TYPE VALUE]...   prints the result bindings
//   event NAME [PARAM TYPE VALUE]...
//   journal [SINCE]               actions and events mgmtd has seen
//   watch [-c COUNT] EVENT [PATTERN...]  register and print what arrives
//   serve [-c COUNT] NAME TYPE VALUE...  answer queries for these nodes
//   show managers | show manager NAME | show summary  [--json]
//                                 the tracking daemon's state (mgmtcli_show.h)
//
// A binding prints as "NAME = VALUE (TYPE)", a deleted node as "NAME
// deleted (TYPE, flags 0x...)".  Errors go to stderr as "mgmtcli: ..." and
// the exit status is 1 for a failed command, 2 for a bad command line and
// 3 when mgmtd cannot be reached.  A script stops at its first failure.
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "../../sim/mgmtd/script_words.h"
#include "mgmt/mdc_misc.h"
#include "mgmtcli_appliance.h"
#include "mgmtcli_session.h"
#include "mgmtcli_show.h"

namespace
{

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_unreachable = 3;
constexpr const char *journal_action = "/sim/mgmtd/journal";

using words_t = std::vector<std::string>;

struct options {
    std::string name = "mgmtcli";
    bool wait = false;
    int32 timeout_ms = 10000;
};

// A failed command: its message, and whether it was the command line.
struct failure {
    int status = 0;
    std::string message;
};

failure fail(int status, std::string message)
{
    return failure{status, std::move(message)};
}

std::string binding_text(const bn_binding *b)
{
    const char *name = ts_str_maybe_empty(bn_binding_get_name_quick(b));
    const bn_attrib *a = nullptr;
    if (bn_binding_get_attrib(b, ba_value, &a) != 0 || !a) return std::string(name) + " (no value)";
    char flags[16];
    snprintf(flags, sizeof(flags), "0x%x", a->type_flags);
    if (a->type_flags & btf_deleted)
        return std::string(name) + " deleted (" + bn_type_to_name(a->type) + ", flags " + flags +
               ")";
    char *value = nullptr;
    std::string text = "?";
    if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) == 0 && value) text = value;
    free(value);
    return std::string(name) + " = " + text + " (" + bn_type_to_name(a->type) + ")";
}

void print_bindings(const bn_binding_array *array)
{
    const uint32 n = bn_binding_array_length_quick(array);
    for (uint32 i = 0; i < n; ++i)
        printf("%s\n", binding_text(bn_binding_array_get_quick(array, i)).c_str());
    fflush(stdout);
}

// The return code and message of a response as a failure (none for 0).
failure from_return(uint32 code, const tstring *msg)
{
    if (code == 0) return {};
    std::string text = msg ? ts_str_maybe_empty(msg) : "";
    if (text.empty()) text = lc_enum_to_string_quiet(lc_error_code_map, static_cast<int32>(code));
    return fail(exit_failed, "mgmtd refused: " + text + " (" + std::to_string(code) + ")");
}

failure from_call(int err)
{
    return fail(err == lc_err_io_closed ? exit_unreachable : exit_failed,
                std::string("request failed: ") +
                    lc_enum_to_string_quiet(lc_error_code_map, static_cast<int32>(err)));
}

// PARAM TYPE VALUE triples from words[first...] as bindings.
failure params_from(const words_t &w, size_t first, bn_binding_array *out)
{
    if ((w.size() - first) % 3 != 0)
        return fail(exit_usage, "parameters come as PARAM TYPE VALUE triples");
    for (size_t i = first; i < w.size(); i += 3) {
        owned<bn_binding> b;
        std::string why;
        if (!script::make_binding(w[i], w[i + 1], w[i + 2], b.out(), &why))
            return fail(exit_usage, why);
        bn_binding *raw = b.release();
        if (bn_binding_array_append_takeover(out, &raw) != 0) return fail(exit_failed, "no memory");
    }
    return {};
}

// Takes "-c COUNT" off the front of the arguments (0: until the time limit).
failure take_count(const words_t &w, size_t *first, uint32 *count)
{
    *first = 1;
    *count = 0;
    if (w.size() > 2 && w[1] == "-c") {
        if (sscanf(w[2].c_str(), "%u", count) != 1) return fail(exit_usage, "-c takes a number");
        *first = 3;
    }
    return {};
}

// Checks the shape of a command before anything is sent.
failure check(const words_t &w)
{
    const std::string &c = w[0];
    const size_t n = w.size();
    if (c == "get" || c == "delete" || c == "reset") {
        if (n != 2) return fail(exit_usage, c + " takes one node name");
    } else if (c == "iterate") {
        if (n != 2 && !(n == 3 && w[2] == "subtree"))
            return fail(exit_usage, "usage: iterate NAME [subtree]");
    } else if (c == "set" || c == "create") {
        if (n != 4) return fail(exit_usage, "usage: " + c + " NAME TYPE VALUE");
        owned<bn_binding> b;
        std::string why;
        if (!script::make_binding(w[1], w[2], w[3], b.out(), &why)) return fail(exit_usage, why);
    } else if (c == "action" || c == "event") {
        if (n < 2) return fail(exit_usage, "usage: " + c + " NAME [PARAM TYPE VALUE]...");
        owned<bn_binding_array> params;
        if (bn_binding_array_new(params.out()) != 0) return fail(exit_failed, "no memory");
        return params_from(w, 2, params.get());
    } else if (c == "journal") {
        if (n > 2) return fail(exit_usage, "usage: journal [SINCE]");
        uint32 since = 0;
        if (n == 2 && sscanf(w[1].c_str(), "%u", &since) != 1)
            return fail(exit_usage, "journal: SINCE must be a number");
    } else if (c == "watch" || c == "serve") {
        size_t first = 1;
        uint32 count = 0;
        failure f = take_count(w, &first, &count);
        if (f.status) return f;
        if (c == "watch" && first >= n)
            return fail(exit_usage, "usage: watch [-c COUNT] EVENT [PATTERN...]");
        if (c == "serve") {
            owned<bn_binding_array> nodes;
            if (bn_binding_array_new(nodes.out()) != 0) return fail(exit_failed, "no memory");
            return params_from(w, first, nodes.get());
        }
    } else if (std::string why; c == "show") {
        if (!mgmtcli::show_check(w, &why)) return fail(exit_usage, why);
    } else {
        return fail(exit_usage, "unknown command \"" + c + "\"");
    }
    return {};
}

failure cmd_get(mgmtcli::session &s, const words_t &w)
{
    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding> b;
    const int err = mdc_get_binding(s.mcc(), &code, msg.out(), 0, b.out(), w[1].c_str(), nullptr);
    if (err != 0) return from_call(err);
    if (code != 0) return from_return(code, msg.get());
    if (!b) return fail(exit_failed, "no node " + w[1]);
    printf("%s\n", binding_text(b.get()).c_str());
    return {};
}

failure cmd_iterate(mgmtcli::session &s, const words_t &w)
{
    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding_array> bindings;
    const int err = mdc_get_binding_children(s.mcc(), &code, msg.out(), 0, bindings.out(), 0,
                                             w.size() == 3, w[1].c_str());
    if (err != 0) return from_call(err);
    if (code != 0) return from_return(code, msg.get());
    print_bindings(bindings.get());
    return {};
}

failure cmd_set(mgmtcli::session &s, const words_t &w, uint32 subop)
{
    uint32 code = 0;
    owned<tstring> msg;
    int err = 0;
    if (subop == bsso_create || subop == bsso_modify) {
        bn_type type = bt_none;
        std::string why;
        if (!script::parse_type(w[2], &type, &why)) return fail(exit_usage, why);
        err = mdc_set_binding(s.mcc(), &code, msg.out(), subop, type, w[3].c_str(), w[1].c_str());
    } else {
        err = mdc_set_binding(s.mcc(), &code, msg.out(), subop, bt_none, nullptr, w[1].c_str());
    }
    if (err != 0) return from_call(err);
    return from_return(code, msg.get());
}

failure cmd_action(mgmtcli::session &s, const words_t &w)
{
    owned<bn_binding_array> params;
    if (bn_binding_array_new(params.out()) != 0) return fail(exit_failed, "no memory");
    failure f = params_from(w, 2, params.get());
    if (f.status) return f;
    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding_array> results;
    const int err = mdc_send_action_with_bindings_and_results(
        s.mcc(), &code, msg.out(), w[1].c_str(), params.get(), results.out());
    if (err != 0) return from_call(err);
    if (code != 0) return from_return(code, msg.get());
    print_bindings(results.get());
    return {};
}

failure cmd_event(mgmtcli::session &s, const words_t &w)
{
    owned<bn_binding_array> params;
    if (bn_binding_array_new(params.out()) != 0) return fail(exit_failed, "no memory");
    failure f = params_from(w, 2, params.get());
    if (f.status) return f;
    owned<bn_request> req;
    if (bn_event_request_msg_create(req.out(), w[1].c_str()) != 0)
        return fail(exit_failed, "no memory");
    const uint32 n = bn_binding_array_length_quick(params.get());
    for (uint32 i = 0; i < n; ++i)
        if (bn_request_msg_append_binding(req.get(), bn_binding_array_get_quick(params.get(), i),
                                          nullptr) != 0)
            return fail(exit_failed, "no memory");
    owned<bn_response> resp;
    const int err = mdc_send_mgmt_msg_raw(s.mcc(), req.get(), resp.out());
    if (err != 0) return from_call(err);
    uint32 code = 0;
    const tstring *msg = nullptr;
    if (bn_response_get_return(resp.get(), &code, &msg) != 0) return fail(exit_failed, "bad ack");
    return from_return(code, msg);
}

// The journal bindings, one entry "#SEQ KIND NAME from CLIENT" with its
// parameters indented below.
failure cmd_journal(mgmtcli::session &s, const words_t &w)
{
    owned<bn_binding_array> params;
    if (bn_binding_array_new(params.out()) != 0) return fail(exit_failed, "no memory");
    words_t triple = {"", "", "since", "uint32", w.size() == 2 ? w[1] : "0"};
    failure f = params_from(triple, 2, params.get());
    if (f.status) return f;
    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding_array> results;
    const int err = mdc_send_action_with_bindings_and_results(
        s.mcc(), &code, msg.out(), journal_action, params.get(), results.out());
    if (err != 0) return from_call(err);
    if (code != 0) return from_return(code, msg.get());
    const std::string root = std::string(journal_action) + "/";
    const uint32 n = bn_binding_array_length_quick(results.get());
    std::string seq, kind, name, param_name;
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(results.get(), i);
        std::string full = ts_str_maybe_empty(bn_binding_get_name_quick(b));
        if (full.compare(0, root.size(), root) != 0) continue;
        const std::string rest = full.substr(root.size());
        const size_t slash = rest.find('/');
        const std::string field = slash == std::string::npos ? "" : rest.substr(slash + 1);
        char *value = nullptr;
        std::string text;
        if (bn_binding_get_str(b, ba_value, 0, nullptr, &value) == 0 && value) text = value;
        free(value);
        if (field == "kind") {
            seq = rest.substr(0, slash);
            kind = text;
        } else if (field == "name") {
            name = text;
        } else if (field == "from") {
            printf("#%s %s %s from %s\n", seq.c_str(), kind.c_str(), name.c_str(), text.c_str());
        } else if (field.size() > 5 && field.compare(field.size() - 5, 5, "/name") == 0) {
            param_name = text;
        } else if (field.size() > 6 && field.compare(field.size() - 6, 6, "/value") == 0) {
            owned<bn_binding> shown;
            if (bn_binding_dup(b, shown.out()) == 0 &&
                bn_binding_set_name(shown.get(), param_name.c_str()) == 0)
                printf("    %s\n", binding_text(shown.get()).c_str());
        }
    }
    fflush(stdout);
    return {};
}

void print_event(bn_request *event)
{
    const char *name = ts_str_maybe_empty(event->event_name);
    printf("event %s\n", name);
    owned<bn_binding_array> bindings;
    if (bn_request_get(event, nullptr, nullptr, bindings.out(), nullptr, nullptr, nullptr) != 0)
        return;
    if (strcmp(name, MDC_DBCHANGE_EVENT) == 0) {
        owned<bn_binding_array> old_b;
        owned<bn_binding_array> new_b;
        if (mdc_event_config_change_notif_extract(bindings.get(), old_b.out(), new_b.out()) == 0) {
            const uint32 n = bn_binding_array_length_quick(new_b.get());
            for (uint32 i = 0; i < n; ++i)
                printf("  %s\n", binding_text(bn_binding_array_get_quick(new_b.get(), i)).c_str());
        }
    } else {
        const uint32 n = bn_binding_array_length_quick(bindings.get());
        for (uint32 i = 0; i < n; ++i)
            printf("  %s\n", binding_text(bn_binding_array_get_quick(bindings.get(), i)).c_str());
    }
    fflush(stdout);
}

failure cmd_watch(mgmtcli::session &s, const words_t &w, int32 timeout_ms)
{
    size_t first = 1;
    uint32 count = 0;
    failure f = take_count(w, &first, &count);
    if (f.status) return f;
    if (first >= w.size()) return fail(exit_usage, "usage: watch [-c COUNT] EVENT [PATTERN...]");
    words_t triples = {"", "", "event_name", "name", w[first]};
    for (size_t i = first + 1; i < w.size(); ++i) {
        triples.push_back("match/" + std::to_string(i - first) + "/pattern");
        triples.push_back("string");
        triples.push_back(w[i]);
    }
    f = cmd_action(s, [&] {
        words_t a = {"action", "/mgmtd/events/actions/interest/add"};
        a.insert(a.end(), triples.begin() + 2, triples.end());
        return a;
    }());
    if (f.status) return f;
    // Without a count, run until interrupted.
    if (count == 0) timeout_ms = -1;
    printf("watching %s\n", w[first].c_str());
    fflush(stdout);
    for (uint32 seen = 0; count == 0 || seen < count;) {
        owned<bn_request> req;
        const int err = s.next_request(timeout_ms, req.out());
        if (err != 0) return from_call(err);
        if (!req) return count ? fail(exit_failed, "timed out waiting for events") : failure{};
        if (req->msg_type != bbmt_event_request) continue;
        print_event(req.get());
        ++seen;
    }
    return {};
}

// Answers "get" and "iterate" queries from the nodes given on the command
// line, as the daemon that owns them would.
struct served {
    owned<bn_binding_array> nodes;
};

int serve_get(const char *name, const tstr_array *, void *data, bn_binding_array *out)
{
    auto *sv = static_cast<served *>(data);
    const bn_binding *b = nullptr;
    bail_error(bn_binding_array_get_binding_by_name(sv->nodes.get(), name, &b));
    if (!b) return 0;
    owned<bn_binding> copy;
    bail_error(bn_binding_dup(b, copy.out()));
    bn_binding *c = copy.release();
    return bn_binding_array_append_takeover(out, &c);
}

int serve_iterate(const char *name, const tstr_array *, void *data, bn_binding_array *out)
{
    auto *sv = static_cast<served *>(data);
    const std::string pattern = std::string(name) + "/**";
    const uint32 n = bn_binding_array_length_quick(sv->nodes.get());
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(sv->nodes.get(), i);
        if (!bn_binding_name_pattern_match(ts_str_maybe_empty(bn_binding_get_name_quick(b)),
                                           pattern.c_str()))
            continue;
        owned<bn_binding> copy;
        bail_error(bn_binding_dup(b, copy.out()));
        bn_binding *c = copy.release();
        bail_error(bn_binding_array_append_takeover(out, &c));
    }
    return 0;
}

failure cmd_serve(mgmtcli::session &s, const words_t &w, int32 timeout_ms)
{
    size_t first = 1;
    uint32 count = 0;
    failure f = take_count(w, &first, &count);
    if (f.status) return f;
    served sv;
    if (bn_binding_array_new(sv.nodes.out()) != 0) return fail(exit_failed, "no memory");
    f = params_from(w, first, sv.nodes.get());
    if (f.status) return f;
    if (count == 0) timeout_ms = -1;
    printf("serving %u nodes\n", bn_binding_array_length_quick(sv.nodes.get()));
    fflush(stdout);
    for (uint32 seen = 0; count == 0 || seen < count;) {
        owned<bn_request> req;
        const int err = s.next_request(timeout_ms, req.out());
        if (err != 0) return from_call(err);
        if (!req) return count ? fail(exit_failed, "timed out waiting for queries") : failure{};
        if (req->msg_type != bbmt_query_request) continue;
        const bn_request_per_node *node = bn_request_per_node_array_length_quick(req->nodes)
                                              ? bn_request_per_node_array_get_quick(req->nodes, 0)
                                              : nullptr;
        printf("query %s\n", node && node->binding
                                 ? ts_str_maybe_empty(bn_binding_get_name_quick(node->binding))
                                 : "");
        fflush(stdout);
        owned<bn_response> answer;
        int derr =
            mdc_mon_build_response(req.get(), serve_get, &sv, serve_iterate, &sv, answer.out());
        if (derr == 0) derr = bn_response_msg_send(s.gcl_session_quick(), answer.get());
        if (derr != 0) return from_call(derr);
        ++seen;
    }
    return {};
}

failure run(mgmtcli::session &s, const words_t &w, const options &o)
{
    const std::string &c = w[0];
    if (c == "get") return cmd_get(s, w);
    if (c == "iterate") return cmd_iterate(s, w);
    if (c == "set") return cmd_set(s, w, bsso_modify);
    if (c == "create") return cmd_set(s, w, bsso_create);
    if (c == "delete") return cmd_set(s, w, bsso_delete);
    if (c == "reset") return cmd_set(s, w, bsso_reset);
    if (c == "action") return cmd_action(s, w);
    if (c == "event") return cmd_event(s, w);
    if (c == "journal") return cmd_journal(s, w);
    if (c == "watch") return cmd_watch(s, w, o.timeout_ms);
    if (c == "serve") return cmd_serve(s, w, o.timeout_ms);
    if (std::string why; c == "show") {
        const int status = mgmtcli::show_run(s, w, &why);
        return status ? fail(status, why) : failure{};
    }
    return fail(exit_usage, "unknown command \"" + c + "\"");
}

void usage()
{
    fprintf(stderr,
            "usage: mgmtcli [-n NAME] [-w] [-t MS] COMMAND [ARGS...]\n"
            "       mgmtcli [-n NAME] [-w] [-t MS] -f FILE   (FILE - reads stdin)\n"
            "commands: get NAME | iterate NAME [subtree] | set NAME TYPE VALUE |\n"
            "          create NAME TYPE VALUE | delete NAME | reset NAME |\n"
            "          action NAME [PARAM TYPE VALUE]... | event NAME [PARAM TYPE VALUE]... |\n"
            "          journal [SINCE] | watch [-c COUNT] EVENT [PATTERN...] |\n"
            "          serve [-c COUNT] NAME TYPE VALUE... |\n"
            "          show managers | show manager NAME | show summary  [--json]\n");
}

int report(const failure &f, const std::string &where)
{
    if (f.status == 0) return 0;
    fprintf(stderr, "mgmtcli: %s%s\n", where.c_str(), f.message.c_str());
    return f.status;
}

} // namespace

int main(int argc, char **argv)
{
    options o;
    std::string script_path;
    bool script = false;
    int opt = 0;
    while ((opt = getopt(argc, argv, "+n:wt:f:h")) != -1) {
        switch (opt) {
        case 'n':
            o.name = optarg;
            break;
        case 'w':
            o.wait = true;
            break;
        case 't':
            o.timeout_ms = atoi(optarg);
            break;
        case 'f':
            script = true;
            script_path = optarg;
            break;
        default:
            usage();
            return exit_usage;
        }
    }
    // The library logs its failures to syslog (component "cli"), not the
    // terminal.
    if (lc_log_init("mgmtcli", nullptr, lc_log_flag_none, lc_log_component_word(1), LCL_WARNING,
                    LOG_USER, lc_log_output_syslog) != 0)
        return exit_failed;

    if (!script && optind < argc && std::string(argv[optind]) == "appliance")
        return mgmtcli_appliance(o.name, o.wait, o.timeout_ms, {argv + optind + 1, argv + argc});
    std::vector<std::pair<uint32, words_t>> commands;
    if (script) {
        if (optind != argc) {
            usage();
            return exit_usage;
        }
        std::ifstream file;
        if (script_path != "-") {
            file.open(script_path);
            if (!file) return report(fail(exit_usage, "cannot read " + script_path), "");
        }
        std::istream &in = script_path == "-" ? std::cin : file;
        std::string line;
        for (uint32 lineno = 1; std::getline(in, line); ++lineno) {
            words_t w;
            std::string why;
            if (!script::split_words(line, &w, &why))
                return report(fail(exit_usage, why), "line " + std::to_string(lineno) + ": ");
            if (!w.empty()) commands.emplace_back(lineno, std::move(w));
        }
    } else {
        if (optind >= argc) {
            usage();
            return exit_usage;
        }
        commands.emplace_back(0, words_t(argv + optind, argv + argc));
    }
    // Every command is checked before the first one is sent.
    for (const auto &[lineno, w] : commands) {
        const std::string where = lineno ? "line " + std::to_string(lineno) + ": " : "";
        if (int st = report(check(w), where)) return st;
    }
    if (commands.empty()) return 0;

    mgmtcli::session s;
    std::string why;
    if (s.open(o.name, o.wait, o.timeout_ms, &why) != 0)
        return report(fail(exit_unreachable, why), "");
    for (const auto &[lineno, w] : commands) {
        const std::string where = lineno ? "line " + std::to_string(lineno) + ": " : "";
        if (int st = report(run(s, w, o), where)) return st;
    }
    return 0;
}
