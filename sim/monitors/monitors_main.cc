// monitors: the stand-in for the peer monitors behind the tracking daemon's
// probe actions.  It connects to mgmtd as the client "monitors", registers
// as the handler of "/qz/iptrackd/action/{ip,http,port,vrrp}_mon" and of
// its own control actions "/sim/monitors/*", and answers each probe as a
// peer monitor would (monitors_state.h).  It runs until SIGINT, SIGTERM or
// the loss of its session.
//
//   monitors [-v] [-l LEVEL]
//
// Control actions (parameters typed as noted; all optional):
//   /sim/monitors/script  monitor, target, port (string, "*" for any),
//                         version (uint8, 0 for any), up, dns_fail, fail
//                         (bool), delay_ms (uint32): adds a script rule
//   /sim/monitors/reset   forgets every rule and running monitor
//   /sim/monitors/list    answers "running/N" (string "kind name port
//                         version") for each running monitor
// e.g. `mgmtcli action /sim/monitors/script target string 10.0.0.1 up bool
// false` takes that target down on every port.
//
// Every request is logged at INFO; mgmtd's journal keeps the requests with
// their bindings.  A scripted delay holds the answer back on a timer, so
// the stand-in keeps answering others meanwhile.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/mdc_transport.h"
#include "monitors_state.h"
#include "standin_process.h"

namespace
{

constexpr uint32 monitors_component = 5;
constexpr const char *control_root = "/sim/monitors/";
constexpr const char *probe_root = "/qz/iptrackd/action/";
const char *const routes[] = {
    "/qz/iptrackd/action/ip_mon",
    "/qz/iptrackd/action/http_mon",
    "/qz/iptrackd/action/port_mon",
    "/qz/iptrackd/action/vrrp_mon",
    "/sim/monitors/*",
};

struct process;
// An answer held back; list nodes stay put, so the loop may keep the
// address of `timer`.
struct delayed {
    process *owner = nullptr;
    owned<bn_response> response;
    lew_event *timer = nullptr;
};

struct process {
    lew_context *loop = nullptr;
    owned<mdc_transport> transport;
    monitors::table table;
    std::list<delayed> held;
};

// The text of parameter `name`, or `dflt` when absent.
std::string param(const bn_request *request, const char *name, const char *dflt)
{
    const bn_binding *b = nullptr;
    if (bn_request_get_param(request, name, &b) != 0 || !b) return dflt;
    char *text = nullptr;
    if (bn_binding_get_str(b, ba_value, 0, nullptr, &text) != 0 || !text) return dflt;
    std::string out = text;
    free(text);
    return out;
}

bool param_bool(const bn_request *request, const char *name, bool dflt)
{
    const std::string v = param(request, name, dflt ? "true" : "false");
    return v == "true" || v == "1";
}

uint32 param_u32(const bn_request *request, const char *name, uint32 dflt)
{
    const std::string v = param(request, name, "");
    return v.empty() ? dflt : static_cast<uint32>(strtoul(v.c_str(), nullptr, 10));
}

int send_now(process *p, bn_response *response)
{
    return bn_response_msg_send(mdc_transport_get_session(p->transport.get()), response);
}

int on_delay_done(int, lew_event_type, void *data, lew_context *)
{
    auto *d = static_cast<delayed *>(data);
    process *p = d->owner;
    const int err = send_now(p, d->response.get());
    (void)lew_event_delete(p->loop, &d->timer);
    p->held.remove_if([d](const delayed &x) { return &x == d; });
    return err;
}

int answer_later(process *p, owned<bn_response> response, uint32 delay_ms)
{
    p->held.emplace_back();
    delayed &d = p->held.back();
    d.owner = p;
    d.response = std::move(response);
    bail_error(lew_event_reg_timer(p->loop, &d.timer, on_delay_done, &d, delay_ms));
    return 0;
}

int handle_probe(process *p, const bn_request *request, const std::string &kind,
                 bn_response *response, uint32 *ret_delay)
{
    monitors::request req;
    req.kind = kind;
    req.port = param(request, "port_name", "");
    if (kind == "ip_mon") {
        req.code = static_cast<uint16_t>(param_u32(request, "mon_action", 0));
        req.name = param(request, "ip_mon_name", "");
        req.target = param(request, "dst_ip", "");
        req.version = static_cast<uint8_t>(param_u32(request, "port_version", 4));
    } else if (kind == "http_mon") {
        req.code = static_cast<uint16_t>(param_u32(request, "http_mon_action", 0));
        req.name = param(request, "http_mon_name", "");
        req.target = param(request, "http_dst_url_str", "");
        req.version = static_cast<uint8_t>(param_u32(request, "port_version", 4));
    }
    const monitors::answer a = p->table.handle(req);
    lc_log_basic(LCL_INFO, "%s code %u name %s target %s port %s v%u: %s", kind.c_str(), req.code,
                 req.name.c_str(), req.target.c_str(), req.port.c_str(), req.version,
                 a.code ? a.message.c_str() : (a.has_state ? (a.up ? "up" : "down") : "ok"));
    *ret_delay = a.delay_ms;
    if (a.code != 0)
        return bn_response_msg_set_return_code_msg(response, a.code, a.message.c_str());
    if (!a.has_state) return 0;

    owned<bn_binding> state;
    if (kind == "ip_mon" || kind == "http_mon")
        bail_error(bn_binding_new_uint32(state.out(), kind == "ip_mon" ? "ip_state" : "http_state",
                                         ba_value, 0, a.family_state()));
    else
        bail_error(bn_binding_new_tbool(state.out(),
                                        kind == "port_mon" ? "port_state" : "vrrp_state", ba_value,
                                        0, a.up ? 1 : 0));
    return bn_action_response_msg_append_binding(response, state.get(), nullptr);
}

int handle_control(process *p, const bn_request *request, const std::string &what,
                   bn_response *response)
{
    if (what == "script") {
        monitors::rule r;
        r.kind = param(request, "monitor", "*");
        r.target = param(request, "target", "*");
        r.port = param(request, "port", "*");
        r.version = static_cast<uint8_t>(param_u32(request, "version", 0));
        r.what.up = param_bool(request, "up", true);
        r.what.dns_fail = param_bool(request, "dns_fail", false);
        r.what.fail = param_bool(request, "fail", false);
        r.what.delay_ms = param_u32(request, "delay_ms", 0);
        p->table.add_rule(r);
        lc_log_basic(LCL_INFO, "script %s %s %s v%u: %s%s%s delay %u", r.kind.c_str(),
                     r.target.c_str(), r.port.c_str(), r.version, r.what.up ? "up" : "down",
                     r.what.dns_fail ? " dns-fail" : "", r.what.fail ? " fail" : "",
                     r.what.delay_ms);
        return 0;
    }
    if (what == "reset") {
        p->table.clear();
        return 0;
    }
    if (what == "list") {
        uint32 i = 0;
        for (const auto &m : p->table.running()) {
            const std::string name = "running/" + std::to_string(++i);
            bail_error(bn_response_msg_append_new_binding(response, 0, name.c_str(), bt_string,
                                                          m.c_str(), nullptr));
        }
        return 0;
    }
    return bn_response_msg_set_return_code_msg(response, lc_err_not_found,
                                               ("unknown control action " + what).c_str());
}

int on_action(gcl_session *, bn_request *request, void *data)
{
    auto *p = static_cast<process *>(data);
    const std::string name = ts_str_maybe_empty(request->action_name);
    owned<bn_response> response;
    bail_error(bn_action_response_msg_create(response.out(), request->msg_id, 0, nullptr));
    uint32 delay = 0;
    int err = 0;
    if (name.rfind(probe_root, 0) == 0)
        err = handle_probe(p, request, name.substr(strlen(probe_root)), response.get(), &delay);
    else if (name.rfind(control_root, 0) == 0)
        err = handle_control(p, request, name.substr(strlen(control_root)), response.get());
    else
        err = bn_response_msg_set_return_code_msg(response.get(), lc_err_not_found,
                                                  ("not a monitor action: " + name).c_str());
    if (err != 0)
        bail_error(bn_response_msg_set_return_code_msg(response.get(), err, "monitor failed"));
    if (delay > 0) return answer_later(p, std::move(response), delay);
    return send_now(p, response.get());
}

int on_close(int, fdic_reason, void *, void *data)
{
    auto *p = static_cast<process *>(data);
    lc_log_basic(LCL_NOTICE, "Lost the session to mgmtd; exiting");
    mdc_transport_end_waits(p->transport.get());
    lew_escape_from_dispatch(p->loop);
    return 0;
}

int register_routes(process *p)
{
    owned<bn_request> req;
    bail_error(bn_action_request_msg_create(req.out(), "/sim/mgmtd/route/add"));
    uint32 i = 0;
    for (const char *r : routes) {
        const std::string name = "match/" + std::to_string(++i) + "/pattern";
        bail_error(bn_action_request_msg_append_new_binding(req.get(), 0, name.c_str(), bt_string,
                                                            r, nullptr));
    }
    uint32 code = 0;
    owned<bn_binding_array> out;
    bail_error(mdc_send_mgmt_msg(mdc_transport_get_client(p->transport.get()), req.get(), 0,
                                 out.out(), &code, nullptr));
    bail_require(code == 0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    standin_options o;
    int opt = 0;
    while ((opt = getopt(argc, argv, "vl:h")) != -1) {
        if (standin_option(opt, optarg, "monitors", &o) != 0) {
            if (opt != 'l') fprintf(stderr, "usage: monitors [-v] [-l LEVEL]\n");
            return 2;
        }
    }
    if (standin_start_logging("monitors", monitors_component, o) != 0) return 1;

    process p;
    standin_loop loop;
    if (loop.open() != 0) return 1;
    p.loop = loop.get();

    mdc_transport_params params;
    params.mtp_client_name = "monitors";
    params.mtp_loop = p.loop;
    params.mtp_action_request = on_action;
    params.mtp_callback_data = &p;
    params.mtp_close_handler = on_close;
    params.mtp_close_data = &p;
    int status = 0;
    if (mdc_transport_new(&params, p.transport.out()) != 0 ||
        mdc_transport_connect(p.transport.get()) != 0 || register_routes(&p) != 0) {
        lc_log_basic(LCL_ERR, "Cannot serve the monitor actions");
        status = 1;
    } else {
        lc_log_basic(LCL_NOTICE, "Monitor stand-in ready");
        status = loop.run();
    }
    for (auto &d : p.held) (void)lew_event_delete(p.loop, &d.timer);
    p.held.clear();
    (void)mdc_transport_shutdown(p.transport.get());
    p.transport.reset();
    lc_log_close();
    return status;
}
