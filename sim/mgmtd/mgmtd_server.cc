// The management stand-in's provider (see mgmtd_server.h).
#include "mgmtd_server.h"

#include <cstring>

#include "event/event_fdintrcb.h"
#include "util/tstr_array.h"

namespace mgmtd
{

namespace
{

constexpr const char *provider_name = "mgmtd";
constexpr uint32 query_flag_subtree = 0x1000;

int action_interest_add(server *srv, gcl_session *session, const bn_request *request,
                        bn_response *response)
{
    std::string error;
    const int err = srv->add_interest(session, request, &error);
    if (err != 0) bail_error(bn_response_msg_set_return_code_msg(response, err, error.c_str()));
    return 0;
}

int action_route_add(server *srv, gcl_session *session, const bn_request *request,
                     bn_response *response)
{
    std::string error;
    const int err = srv->add_routes(session, request, &error);
    if (err != 0) bail_error(bn_response_msg_set_return_code_msg(response, err, error.c_str()));
    return 0;
}

int action_journal(server *srv, gcl_session *, const bn_request *request, bn_response *response)
{
    uint32 since = 0;
    tbool clear = 0;
    const bn_binding *b = nullptr;
    bail_error(bn_request_get_param(request, "since", &b));
    if (b) {
        uint32 taf = 0;
        if (bn_binding_get_uint32(b, ba_value, &taf, &since) != 0)
            return bn_response_msg_set_return_code_msg(response, lc_err_bad_type,
                                                       "\"since\" must be a uint32");
    }
    bail_error(bn_request_get_param(request, "clear", &b));
    if (b) {
        uint32 taf = 0;
        if (bn_binding_get_tbool(b, ba_value, &taf, &clear) != 0)
            return bn_response_msg_set_return_code_msg(response, lc_err_bad_type,
                                                       "\"clear\" must be a bool");
    }
    return srv->journal_to_response(since, clear != 0, response);
}

// The peer monitors behind the probe actions: each reply carries one state
// binding, whose type and value are taken from the database so that a test
// or a developer can drive a probe up and down with a `set`:
//   /sim/mgmtd/monitor/<action>/port/<port_name>/<state>  for one port,
//   /sim/mgmtd/monitor/<action>/<state>                   for every port.
// With neither node the reply has no bindings.
struct monitor_row {
    const char *action;
    const char *state;
};
const monitor_row monitors[] = {
    {"ip_mon", "ip_state"},
    {"http_mon", "http_state"},
    {"port_mon", "port_state"},
    {"vrrp_mon", "vrrp_state"},
};

int action_monitor(server *srv, gcl_session *, const bn_request *request, bn_response *response)
{
    owned<tstr_array> parts;
    bool absolute = false;
    bail_error(bn_binding_name_to_parts(ts_str(request->action_name), parts.out(), &absolute));
    const uint32 n = tstr_array_length_quick(parts.get());
    const char *action = n ? tstr_array_get_str_quick(parts.get(), n - 1) : nullptr;
    const monitor_row *row = nullptr;
    for (const auto &m : monitors)
        if (action && strcmp(action, m.action) == 0) row = &m;
    bail_null(row);

    const std::string root = std::string(MGMTD_MONITOR_ROOT "/") + row->action;
    std::vector<std::string> candidates;
    const bn_binding *port = nullptr;
    bail_error(bn_request_get_param(request, "port_name", &port));
    char *port_name = nullptr;
    if (port) bail_error(bn_binding_get_str(port, ba_value, 0, nullptr, &port_name));
    if (port_name) {
        char *escaped = nullptr;
        const int err = bn_binding_name_escape_str(port_name, &escaped);
        free(port_name);
        bail_error(err);
        candidates.push_back(root + "/port/" + escaped + "/" + row->state);
        free(escaped);
    }
    candidates.push_back(root + "/" + row->state);
    for (const auto &name : candidates) {
        owned<bn_binding> value;
        bail_error(srv->db()->get(name.c_str(), value.out()));
        if (!value) continue;
        bail_error(bn_binding_set_name(value.get(), row->state));
        return bn_action_response_msg_append_binding(response, value.get(), nullptr);
    }
    return 0;
}

// Sends the connected client named "client" a response of "type"
// ("action_response", the default, or "query_response") to "request_id",
// a request the client never made, so that a test can watch how a client
// treats a stray response.  Answers the injecting client with success.
int action_inject_response(server *srv, gcl_session *, const bn_request *request,
                           bn_response *response)
{
    const bn_binding *b = nullptr;
    char *text = nullptr;
    bail_error(bn_request_get_param(request, "client", &b));
    if (b) bail_error(bn_binding_get_str(b, ba_value, 0, nullptr, &text));
    const std::string client = text ? text : "";
    free(text);
    text = nullptr;
    uint32 request_id = 0;
    bail_error(bn_request_get_param(request, "request_id", &b));
    uint32 taf = 0;
    if (!b || bn_binding_get_uint32(b, ba_value, &taf, &request_id) != 0)
        return bn_response_msg_set_return_code_msg(response, lc_err_bad_type,
                                                   "\"request_id\" must be a uint32");
    bail_error(bn_request_get_param(request, "type", &b));
    if (b) bail_error(bn_binding_get_str(b, ba_value, 0, nullptr, &text));
    const std::string type = text ? text : "action_response";
    free(text);
    uint16 msg_type = 0;
    if (type == "action_response")
        msg_type = bbmt_action_response;
    else if (type == "query_response")
        msg_type = bbmt_query_response;
    else
        return bn_response_msg_set_return_code_msg(
            response, lc_err_bad_type, "\"type\" must be action_response or query_response");

    gcl_session *target = srv->session_named(client, nullptr);
    if (!target) {
        const std::string error = "no connected client named \"" + client + "\"";
        return bn_response_msg_set_return_code_msg(response, lc_err_not_found, error.c_str());
    }
    owned<bn_response> stray;
    bail_error(bn_response_msg_create(stray.out(), msg_type, request_id, 0, nullptr));
    bail_error(bn_response_msg_send(target, stray.get()));
    lc_log_basic(LCL_INFO, "Injected %s to request %u into session of %s", type.c_str(), request_id,
                 client.c_str());
    return 0;
}

// Closes the "index"-th session (uint32 from 1, in the order they
// connected; default 1) of the connected client named "client", so that a
// test can take one of a daemon's sessions away and leave the others.
int action_close_session(server *srv, gcl_session *, const bn_request *request,
                         bn_response *response)
{
    const bn_binding *b = nullptr;
    char *raw = nullptr;
    bail_error(bn_request_get_param(request, "client", &b));
    if (b) bail_error(bn_binding_get_str(b, ba_value, 0, nullptr, &raw));
    const lc_malloc_ptr<char> text{raw};
    const std::string client = text ? text.get() : "";
    uint32 index = 1;
    bail_error(bn_request_get_param(request, "index", &b));
    uint32 taf = 0;
    if (b && bn_binding_get_uint32(b, ba_value, &taf, &index) != 0)
        return bn_response_msg_set_return_code_msg(response, lc_err_bad_type,
                                                   "\"index\" must be a uint32");
    gcl_session *target = srv->session_named_nth(client, index);
    if (!target) {
        const std::string error =
            "no session " + std::to_string(index) + " of a client named \"" + client + "\"";
        return bn_response_msg_set_return_code_msg(response, lc_err_not_found, error.c_str());
    }
    lc_log_basic(LCL_INFO, "Closing session %u of %s", index, client.c_str());
    bail_error(gcl_session_close(target));
    return 0;
}

const action_row action_table[] = {
    {MGMTD_INTEREST_ADD_ACTION, action_interest_add},
    {MGMTD_JOURNAL_ACTION, action_journal},
    {MGMTD_INJECT_RESPONSE_ACTION, action_inject_response},
    {MGMTD_CLOSE_SESSION_ACTION, action_close_session},
    {MGMTD_ROUTE_ADD_ACTION, action_route_add},
    {"/qz/iptrackd/action/ip_mon", action_monitor, true},
    {"/qz/iptrackd/action/http_mon", action_monitor, true},
    {"/qz/iptrackd/action/port_mon", action_monitor, true},
    {"/qz/iptrackd/action/vrrp_mon", action_monitor, true},
};

const char *request_name(const bn_request *request)
{
    const tstring *name = nullptr;
    if (request->msg_type == bbmt_action_request)
        name = request->action_name;
    else if (request->msg_type == bbmt_event_request)
        name = request->event_name;
    return name ? ts_str_maybe_empty(name) : "";
}

int32 session_id(const gcl_session *session)
{
    int32 id = 0;
    if (gcl_session_get_id(session, &id) != 0) return -1;
    return id;
}

} // namespace

// ---------------------------------------------------------------------------
// Answers, and holding them back

bool server::held(gcl_session *session)
{
    const std::string name = client_name(session);
    if (name.empty()) return false;
    char *escaped = nullptr;
    if (bn_binding_name_escape_str(name.c_str(), &escaped) != 0) return false;
    const std::string node = std::string(MGMTD_HOLD_ROOT "/") + escaped;
    free(escaped);
    owned<bn_binding> value;
    tbool on = 0;
    uint32 taf = 0;
    if (db_->get(node.c_str(), value.out()) != 0 || !value ||
        bn_binding_get_tbool(value.get(), ba_value, &taf, &on) != 0)
        return false;
    return on != 0;
}

int server::send_response(gcl_session *session, const bn_request *request,
                          owned<bn_response> &response)
{
    bail_error(bn_response_fix_for_request(response.get(), request));
    const int32 id = session_id(session);
    // Behind an answer already held, an answer waits too, so that the
    // client sees its answers in order.
    bool queued = false;
    for (const auto &h : held_) queued = queued || h.session_id == id;
    if (queued || held(session)) {
        lc_log_basic(LCL_INFO, "Holding the response to request %u of %s", request->msg_id,
                     client_name(session).c_str());
        held_.push_back(held_response{id, std::move(response)});
        return 0;
    }
    return bn_response_msg_send(session, response.get());
}

int server::release_held()
{
    for (auto h = held_.begin(); h != held_.end();) {
        auto c = clients_.find(h->session_id);
        if (c == clients_.end()) { // the client went away meanwhile
            h = held_.erase(h);
            continue;
        }
        if (held(c->second.session)) {
            ++h;
            continue;
        }
        lc_log_basic(LCL_INFO, "Releasing the response to request %u of %s",
                     h->response->req_msg_id, client_name(c->second.session).c_str());
        const int err = bn_response_msg_send(c->second.session, h->response.get());
        if (err != 0) lc_log_basic(LCL_WARNING, "Could not answer session %d", h->session_id);
        h = held_.erase(h);
    }
    return 0;
}

std::string state_owner(const char *name)
{
    owned<tstr_array> parts;
    bool absolute = false;
    if (!name || bn_binding_name_to_parts(name, parts.out(), &absolute) != 0 || !parts || !absolute)
        return {};
    if (tstr_array_length_quick(parts.get()) < 3) return {};
    const char *p0 = tstr_array_get_str_quick(parts.get(), 0);
    const char *p2 = tstr_array_get_str_quick(parts.get(), 2);
    if (!p0 || !p2 || strcmp(p0, "qz") != 0 || strcmp(p2, "state") != 0) return {};
    const char *owner = tstr_array_get_str_quick(parts.get(), 1);
    return owner ? owner : "";
}

server::~server()
{
    stop();
}

std::string server::client_name(gcl_session *session) const
{
    const char *name = gcl_session_get_peer_name_quick(session);
    return name ? name : "";
}

server::client *server::find_client(gcl_session *session)
{
    const int32 id = session_id(session);
    auto it = clients_.find(id);
    if (it == clients_.end()) it = clients_.emplace(id, client{session, {}}).first;
    return &it->second;
}

gcl_session *server::session_named(const std::string &name, gcl_session *except)
{
    if (name.empty()) return nullptr;
    for (auto &[id, c] : clients_) {
        if (c.session == except) continue;
        gcl_session_state state = gss_none;
        if (gcl_session_get_state(c.session, &state) != 0 || state != gss_connected) continue;
        if (client_name(c.session) == name) return c.session;
    }
    return nullptr;
}

gcl_session *server::session_named_nth(const std::string &name, uint32 nth)
{
    if (name.empty() || nth == 0) return nullptr;
    for (auto &[id, c] : clients_) {
        gcl_session_state state = gss_none;
        if (gcl_session_get_state(c.session, &state) != 0 || state != gss_connected) continue;
        if (client_name(c.session) == name && --nth == 0) return c.session;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Queries

int server::answer_query_locally(gcl_session *session, const bn_request *request)
{
    owned<bn_binding_array> bindings;
    owned<uint32_array> subops;
    owned<uint32_array> node_flags;
    uint32 msg_flags = 0;
    bail_error(bn_request_get(request, nullptr, &msg_flags, bindings.out(), nullptr, subops.out(),
                              node_flags.out()));
    owned<bn_response> response;
    bail_error(bn_query_response_msg_create(response.out(), request->msg_id, 0, nullptr));
    owned<bn_binding_array> found;
    bail_error(bn_binding_array_new(found.out()));
    const uint32 n = bn_binding_array_length_quick(bindings.get());
    for (uint32 i = 0; i < n; ++i) {
        const bn_binding *b = bn_binding_array_get_quick(bindings.get(), i);
        const char *name = ts_str_maybe_empty(bn_binding_get_name_quick(b));
        const uint32 subop = uint32_array_get_quick(subops.get(), i);
        const uint32 flags = uint32_array_get_quick(node_flags.get(), i) | msg_flags;
        if (subop == bqso_get) {
            owned<bn_binding> value;
            bail_error(db_->get(name, value.out()));
            if (value) {
                bn_binding *v = value.release();
                bail_error(bn_binding_array_append_takeover(found.get(), &v));
            }
        } else if (subop == bqso_iterate) {
            bail_error(db_->iterate(name, (flags & query_flag_subtree) != 0, found.get()));
        } else {
            lc_log_basic(LCL_INFO, "Query subop %u on %s answered with nothing", subop, name);
        }
    }
    const uint32 nf = bn_binding_array_length_quick(found.get());
    for (uint32 i = 0; i < nf; ++i)
        bail_error(bn_response_msg_append_binding(
            response.get(), bn_binding_array_get_quick(found.get(), i), nullptr));
    return send_response(session, request, response);
}

int server::forward_query(gcl_session *requester, gcl_session *owner, const bn_request *request)
{
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(request, copy.out()));
    // The owner numbers the forwarded request on its own session.
    copy->msg_id = 0;
    copy->transaction_id = 0;
    bail_error(bn_request_msg_send(owner, copy.get()));
    const uint32 fwd_id = bn_request_get_msg_id(copy.get());
    forwarded_[{session_id(owner), fwd_id}] = forwarded{
        session_id(requester), request->msg_id, request->service_id, request->transaction_id};
    lc_log_basic(LCL_INFO, "Forwarded query %u from %s to %s as %u", request->msg_id,
                 client_name(requester).c_str(), client_name(owner).c_str(), fwd_id);
    return 0;
}

int server::on_query_request(gcl_session *session, const bn_request *request)
{
    find_client(session);
    // A query goes to the owner of its first node's state; the others of
    // the same query travel with it.
    const bn_request_per_node *first = bn_request_per_node_array_length_quick(request->nodes)
                                           ? bn_request_per_node_array_get_quick(request->nodes, 0)
                                           : nullptr;
    if (first && first->binding) {
        const std::string owner =
            state_owner(ts_str_maybe_empty(bn_binding_get_name_quick(first->binding)));
        gcl_session *owner_session = session_named(owner, session);
        if (owner_session) return forward_query(session, owner_session, request);
    }
    return answer_query_locally(session, request);
}

int server::on_query_response(gcl_session *session, const bn_response *response)
{
    auto it = forwarded_.find({session_id(session), response->req_msg_id});
    if (it == forwarded_.end()) {
        lc_log_basic(LCL_WARNING, "Dropping query response %u from %s: nothing was forwarded",
                     response->req_msg_id, client_name(session).c_str());
        return 0;
    }
    const forwarded f = it->second;
    forwarded_.erase(it);
    gcl_session *requester = nullptr;
    auto c = clients_.find(f.requester_id);
    if (c != clients_.end()) requester = c->second.session;
    if (!requester) return 0; // the asker went away meanwhile
    owned<bn_response> relay;
    bail_error(bn_response_msg_dup(response, relay.out()));
    bail_error(bn_response_fix_for_request_by_params(relay.get(), bbmt_query_request,
                                                     f.requester_msg_id, f.requester_service_id,
                                                     f.requester_transaction_id));
    relay->msg_id = 0;
    return bn_response_msg_send(requester, relay.get());
}

// ---------------------------------------------------------------------------
// Set requests and change notifications

int server::on_set_request(gcl_session *session, const bn_request *request)
{
    find_client(session);
    std::vector<set_op> ops;
    const uint32 n = bn_request_per_node_array_length_quick(request->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(request->nodes, i);
        if (node && node->binding) ops.push_back(set_op{node->subop, node->binding});
    }
    std::vector<db_change> changes;
    std::string error;
    const int err = db_->apply(ops, &changes, &error);
    owned<bn_response> response;
    bail_error(bn_set_response_msg_create(response.out(), request->msg_id, err,
                                          err ? error.c_str() : nullptr));
    if (err != 0)
        lc_log_basic(LCL_NOTICE, "Refused set request from %s: %s", client_name(session).c_str(),
                     error.c_str());
    bail_error(send_response(session, request, response));
    if (err == 0) bail_error(notify_changes(changes));
    for (const auto &c : changes)
        if (bn_binding_name_pattern_match(c.name.c_str(), MGMTD_HOLD_ROOT "/*"))
            return release_held();
    return 0;
}

namespace
{

int append_change(bn_request *event, uint32 index, const db_change &c)
{
    char root[64];
    snprintf(root, sizeof(root), MGMTD_DBCHANGE_ROOT "/%u", index);
    owned<bn_binding> b;
    bail_error(bn_binding_new_uint32(b.out(), root, ba_value, 0, index));
    bail_error(bn_request_msg_append_binding(event, b.get(), nullptr));
    const std::string r = root;
    bail_error(bn_binding_new_str(b.out(), (r + "/change_type").c_str(), ba_value, bt_string, 0,
                                  change_kind_name(c.kind)));
    bail_error(bn_request_msg_append_binding(event, b.get(), nullptr));
    bail_error(
        bn_binding_new_str(b.out(), (r + "/name").c_str(), ba_value, bt_name, 0, c.name.c_str()));
    bail_error(bn_request_msg_append_binding(event, b.get(), nullptr));
    if (c.next) {
        bail_error(bn_binding_dup(c.next.get(), b.out()));
        bail_error(bn_binding_set_name(b.get(), (r + "/new_attribs/value").c_str()));
        bail_error(bn_request_msg_append_binding(event, b.get(), nullptr));
    }
    if (c.prev) {
        bail_error(bn_binding_dup(c.prev.get(), b.out()));
        bail_error(bn_binding_set_name(b.get(), (r + "/prev_attribs/value").c_str()));
        bail_error(bn_request_msg_append_binding(event, b.get(), nullptr));
    }
    return 0;
}

// The logging configuration concerns every daemon on the appliance: its
// changes go to every session that registered for configuration changes,
// whatever its patterns, which is how a daemon's log level follows the
// configuration without an interest of its own.
constexpr const char *logging_subtree = "/logging/**";

// A pattern names a subtree of interest: it matches a change when it
// matches the changed node or any of its ancestors.
bool matches_any(const std::string &name, const std::vector<std::string> &patterns)
{
    if (patterns.empty()) return true;
    if (bn_binding_name_pattern_match(name.c_str(), logging_subtree)) return true;
    owned<tstr_array> parts;
    bool absolute = false;
    if (bn_binding_name_to_parts(name.c_str(), parts.out(), &absolute) != 0 || !parts) return false;
    for (uint32 n = tstr_array_length_quick(parts.get()); n > 0; --n) {
        char *raw = nullptr;
        if (bn_binding_name_parts_partial_to_name(parts.get(), 0, static_cast<int32>(n), absolute,
                                                  &raw) != 0)
            return false;
        const lc_malloc_ptr<char> node{raw};
        if (!node) return false;
        for (const auto &p : patterns)
            if (bn_binding_name_pattern_match(node.get(), p.c_str())) return true;
    }
    return false;
}

} // namespace

int server::notify_changes(const std::vector<db_change> &changes)
{
    if (changes.empty()) return 0;
    for (auto &[id, c] : clients_) {
        auto interest = c.interests.find(MGMTD_DBCHANGE_EVENT);
        if (interest == c.interests.end()) continue;
        owned<bn_request> event;
        bail_error(bn_event_request_msg_create(event.out(), MGMTD_DBCHANGE_EVENT));
        uint32 count = 0;
        for (const auto &change : changes)
            if (matches_any(change.name, interest->second))
                bail_error(append_change(event.get(), ++count, change));
        if (count == 0) continue;
        const int err = bn_request_msg_send(c.session, event.get());
        if (err != 0) lc_log_basic(LCL_WARNING, "Could not notify session %d of changes", id);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Actions, events, interests, journal

namespace
{

// The values of the `match/N/pattern` parameters, in request order.
int request_patterns(const bn_request *request, std::vector<std::string> *ret)
{
    const uint32 n = bn_request_per_node_array_length_quick(request->nodes);
    for (uint32 i = 0; i < n; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(request->nodes, i);
        if (!node || !node->binding) continue;
        const char *bname = ts_str_maybe_empty(bn_binding_get_name_quick(node->binding));
        if (!bn_binding_name_pattern_match(bname, "match/*/pattern")) continue;
        char *raw = nullptr;
        bail_error(bn_binding_get_str(node->binding, ba_value, 0, nullptr, &raw));
        const lc_malloc_ptr<char> pattern{raw};
        if (pattern) ret->emplace_back(pattern.get());
    }
    return 0;
}

} // namespace

int server::add_interest(gcl_session *session, const bn_request *request, std::string *error)
{
    const bn_binding *event_name = nullptr;
    bail_error(bn_request_get_param(request, "event_name", &event_name));
    char *name = nullptr;
    if (event_name) bail_error(bn_binding_get_str(event_name, ba_value, 0, nullptr, &name));
    if (!name || !*name) {
        free(name);
        *error = "interest without \"event_name\"";
        return lc_err_not_found;
    }
    std::string event = name;
    free(name);
    std::vector<std::string> patterns;
    bail_error(request_patterns(request, &patterns));
    client *c = find_client(session);
    auto &list = c->interests[event];
    list.insert(list.end(), patterns.begin(), patterns.end());
    lc_log_basic(LCL_INFO, "Session %d (%s) registered for %s with %zu patterns",
                 session_id(session), client_name(session).c_str(), event.c_str(), patterns.size());
    return 0;
}

int server::record(gcl_session *from, const char *kind, const bn_request *request)
{
    const char *name = request_name(request);
    if (bn_binding_name_pattern_match(name, MGMTD_SIM_ROOT "/**")) return 0;
    journal_entry e{++journal_seq_, kind, name, client_name(from), {}};
    bail_error(
        bn_request_get(request, nullptr, nullptr, e.params.out(), nullptr, nullptr, nullptr));
    journal_.push_back(std::move(e));
    while (journal_.size() > journal_max_entries) journal_.pop_front();
    return 0;
}

int server::journal_to_response(uint32 since, bool clear, bn_response *response)
{
    for (const auto &e : journal_) {
        if (e.seq <= since) continue;
        const std::string root = MGMTD_JOURNAL_ACTION "/" + std::to_string(e.seq);
        bail_error(bn_response_msg_append_new_binding(response, 0, (root + "/kind").c_str(),
                                                      bt_string, e.kind.c_str(), nullptr));
        bail_error(bn_response_msg_append_new_binding(response, 0, (root + "/name").c_str(),
                                                      bt_string, e.name.c_str(), nullptr));
        bail_error(bn_response_msg_append_new_binding(response, 0, (root + "/from").c_str(),
                                                      bt_string, e.from.c_str(), nullptr));
        const uint32 n = bn_binding_array_length_quick(e.params.get());
        for (uint32 i = 0; i < n; ++i) {
            const bn_binding *p = bn_binding_array_get_quick(e.params.get(), i);
            const std::string proot = root + "/param/" + std::to_string(i + 1);
            bail_error(bn_response_msg_append_new_binding(
                response, 0, (proot + "/name").c_str(), bt_string,
                ts_str_maybe_empty(bn_binding_get_name_quick(p)), nullptr));
            owned<bn_binding> v;
            bail_error(bn_binding_dup(p, v.out()));
            bail_error(bn_binding_set_name(v.get(), (proot + "/value").c_str()));
            bail_error(bn_response_msg_append_binding(response, v.get(), nullptr));
        }
    }
    if (clear) journal_.clear();
    return 0;
}

int server::on_action_request(gcl_session *session, const bn_request *request)
{
    find_client(session);
    const char *name = request_name(request);
    bail_error(record(session, "action", request));
    owned<bn_response> response;
    bail_error(bn_action_response_msg_create(response.out(), request->msg_id, 0, nullptr));
    const action_row *row = nullptr;
    for (const auto &r : action_table)
        if (bn_binding_name_pattern_match(name, r.pattern)) {
            row = &r;
            break;
        }
    if (!row || row->fallback)
        if (gcl_session *owner = route_owner(name)) return forward_action(session, owner, request);
    if (row) {
        const int err = row->handler(this, session, request, response.get());
        if (err != 0)
            bail_error(
                bn_response_msg_set_return_code_msg(response.get(), err, "action handler failed"));
    } else {
        const std::string text = std::string("No handler for action ") + name;
        lc_log_basic(LCL_NOTICE, "%s", text.c_str());
        bail_error(
            bn_response_msg_set_return_code_msg(response.get(), lc_err_not_found, text.c_str()));
    }
    return send_response(session, request, response);
}

int server::deliver_event(gcl_session *from, const bn_request *request)
{
    const char *name = request_name(request);
    for (auto &[id, c] : clients_) {
        if (c.session == from || !c.interests.count(name)) continue;
        owned<bn_request> copy;
        bail_error(bn_request_msg_dup(request, copy.out()));
        copy->msg_id = 0;
        copy->transaction_id = 0;
        const int err = bn_request_msg_send(c.session, copy.get());
        if (err != 0) lc_log_basic(LCL_WARNING, "Could not deliver %s to session %d", name, id);
    }
    return 0;
}

int server::on_event_request(gcl_session *session, const bn_request *request)
{
    find_client(session);
    bail_error(record(session, "event", request));
    // Senders that wait for the acknowledgement get it; the others ignore it.
    owned<bn_response> ack;
    bail_error(bn_event_response_msg_create(ack.out(), request->msg_id, 0, nullptr));
    bail_error(send_response(session, request, ack));
    return deliver_event(session, request);
}

// ---------------------------------------------------------------------------
// Actions routed to the client that handles them

int server::add_routes(gcl_session *session, const bn_request *request, std::string *error)
{
    std::vector<std::string> patterns;
    bail_error(request_patterns(request, &patterns));
    if (patterns.empty()) {
        *error = "route without \"match/N/pattern\"";
        return lc_err_not_found;
    }
    const int32 id = session_id(session);
    for (const auto &p : patterns) {
        routes_.push_back(route{p, id});
        lc_log_basic(LCL_INFO, "Session %d (%s) handles actions %s", id,
                     client_name(session).c_str(), p.c_str());
    }
    return 0;
}

gcl_session *server::route_owner(const char *action)
{
    for (auto r = routes_.rbegin(); r != routes_.rend(); ++r) {
        if (!bn_binding_name_pattern_match(action, r->pattern.c_str())) continue;
        auto c = clients_.find(r->session_id);
        if (c == clients_.end()) continue;
        gcl_session_state state = gss_none;
        if (gcl_session_get_state(c->second.session, &state) == 0 && state == gss_connected)
            return c->second.session;
    }
    return nullptr;
}

int server::forward_action(gcl_session *requester, gcl_session *owner, const bn_request *request)
{
    owned<bn_request> original;
    bail_error(bn_request_msg_dup(request, original.out()));
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(request, copy.out()));
    // The handler numbers the forwarded action on its own session.
    copy->msg_id = 0;
    copy->transaction_id = 0;
    bail_error(bn_request_msg_send(owner, copy.get()));
    const uint32 fwd_id = bn_request_get_msg_id(copy.get());
    forwarded_actions_[{session_id(owner), fwd_id}] =
        forwarded_action{session_id(requester), std::move(original)};
    lc_log_basic(LCL_INFO, "Forwarded action %s %u from %s to %s as %u", request_name(request),
                 request->msg_id, client_name(requester).c_str(), client_name(owner).c_str(),
                 fwd_id);
    return 0;
}

int server::on_action_response(gcl_session *session, const bn_response *response)
{
    auto it = forwarded_actions_.find({session_id(session), response->req_msg_id});
    if (it == forwarded_actions_.end()) {
        lc_log_basic(LCL_WARNING, "Dropping action response %u from %s: nothing was forwarded",
                     response->req_msg_id, client_name(session).c_str());
        return 0;
    }
    forwarded_action f = std::move(it->second);
    forwarded_actions_.erase(it);
    auto c = clients_.find(f.requester_id);
    if (c == clients_.end()) return 0; // the asker went away meanwhile
    owned<bn_response> relay;
    bail_error(bn_response_msg_dup(response, relay.out()));
    relay->msg_id = 0;
    return send_response(c->second.session, f.request.get(), relay);
}

int server::drop_routes(int32 closed_id)
{
    std::erase_if(routes_, [closed_id](const route &r) { return r.session_id == closed_id; });
    for (auto f = forwarded_actions_.begin(); f != forwarded_actions_.end();) {
        if (f->first.first != closed_id && f->second.requester_id != closed_id) {
            ++f;
            continue;
        }
        auto r = clients_.find(f->second.requester_id);
        if (f->first.first == closed_id && r != clients_.end()) {
            owned<bn_response> fail;
            bail_error(bn_action_response_msg_create(fail.out(), f->second.request->msg_id,
                                                     lc_err_io_closed,
                                                     "the handler of the action went away"));
            bail_error(send_response(r->second.session, f->second.request.get(), fail));
        }
        f = forwarded_actions_.erase(f);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Sessions

int server::on_session_accepted(gcl_session *session)
{
    // Known from the start, so that a client that only answers (a daemon
    // serving its state nodes) can be found by name.
    find_client(session);
    lc_log_basic(LCL_INFO, "Session %d accepted", session_id(session));
    return 0;
}

int server::on_session_closed(gcl_session *session)
{
    if (session == listener_) return 0;
    const int32 id = session_id(session);
    auto it = clients_.find(id);
    if (it == clients_.end()) return 0;
    lc_log_basic(LCL_INFO, "Session %d (%s) closed", id, client_name(session).c_str());
    clients_.erase(it);
    for (auto h = held_.begin(); h != held_.end();)
        h = h->session_id == id ? held_.erase(h) : std::next(h);
    bail_error(drop_routes(id));
    // Queries this session was asked to answer are answered with a failure;
    // those it asked for are dropped.
    for (auto f = forwarded_.begin(); f != forwarded_.end();) {
        if (f->first.first == id) {
            auto r = clients_.find(f->second.requester_id);
            if (r != clients_.end()) {
                owned<bn_response> fail;
                bail_error(bn_query_response_msg_create(fail.out(), f->second.requester_msg_id,
                                                        lc_err_io_closed,
                                                        "the owner of the node went away"));
                bail_error(bn_response_fix_for_request_by_params(
                    fail.get(), bbmt_query_request, f->second.requester_msg_id,
                    f->second.requester_service_id, f->second.requester_transaction_id));
                const int err = bn_response_msg_send(r->second.session, fail.get());
                if (err != 0) lc_log_basic(LCL_WARNING, "Could not answer session %d", r->first);
            }
            f = forwarded_.erase(f);
        } else if (f->second.requester_id == id) {
            f = forwarded_.erase(f);
        } else {
            ++f;
        }
    }
    return schedule_reap();
}

int server::schedule_reap()
{
    return lew_event_reg_timer(loop_, &reap_event_, reap_timer, this, 0);
}

int server::reap_timer(int, lew_event_type, void *data, lew_context *)
{
    auto *self = static_cast<server *>(data);
    return gcl_session_free_closed(self->gcl_);
}

// ---------------------------------------------------------------------------
// Start and stop

namespace
{

#define MGMTD_TRAMPOLINE(kind, msg_t, method)                                                      \
    int kind##_cb(gcl_session *session, msg_t *msg, void *data)                                    \
    {                                                                                              \
        auto *srv = static_cast<server *>(data);                                                   \
        return srv->tapped(session, msg) ? 0 : srv->method(session, msg);                          \
    }
MGMTD_TRAMPOLINE(query_request, bn_request, on_query_request)
MGMTD_TRAMPOLINE(query_response, bn_response, on_query_response)
MGMTD_TRAMPOLINE(set_request, bn_request, on_set_request)
MGMTD_TRAMPOLINE(action_request, bn_request, on_action_request)
MGMTD_TRAMPOLINE(action_response, bn_response, on_action_response)
MGMTD_TRAMPOLINE(event_request, bn_request, on_event_request)
#undef MGMTD_TRAMPOLINE

// Responses to the events the stand-in sends, and to nothing else it asks.
int ignore_response(gcl_session *, bn_response *, void *)
{
    return 0;
}

int closed_cb(int, fdic_reason, void *owner_data, void *handler_data)
{
    if (!owner_data) return 0;
    return static_cast<server *>(handler_data)
        ->on_session_closed(static_cast<gcl_session *>(owner_data));
}

int accept_cb(gcl_session *, gcl_session *accepted, void *data)
{
    return static_cast<server *>(data)->on_session_accepted(accepted);
}

} // namespace

int server::start()
{
    evc_base *base = nullptr;
    bail_error(lew_get_event_context(loop_, &base));
    bail_error(fdic_libevent_init(base, &adapter_));
    bail_error(fdic_init(&fdic_, fdic_libevent_callback, adapter_));
    fdic_libevent_set_fd_close_handler(adapter_, closed_cb, this);
    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(&gcl_, &options, fdic_));
    bail_error(gcl_bn_init(gcl_));
    bail_error(bn_set_global_callback_query_request_msg(gcl_, query_request_cb, this));
    bail_error(bn_set_global_callback_query_response_msg(gcl_, query_response_cb, this));
    bail_error(bn_set_global_callback_set_request_msg(gcl_, set_request_cb, this));
    bail_error(bn_set_global_callback_action_request_msg(gcl_, action_request_cb, this));
    bail_error(bn_set_global_callback_event_request_msg(gcl_, event_request_cb, this));
    bail_error(bn_set_global_callback_set_response_msg(gcl_, ignore_response, this));
    bail_error(bn_set_global_callback_action_response_msg(gcl_, action_response_cb, this));
    bail_error(bn_set_global_callback_event_response_msg(gcl_, ignore_response, this));

    gcl_provider_params params;
    params.gpp_provider_name = provider_name;
    params.gpp_accept_func = accept_cb;
    params.gpp_accept_data = this;
    bail_error(gcl_session_provider_full_new(gcl_, &params, &listener_));
    bail_error(gcl_session_provider_enable(listener_));
    return 0;
}

int server::stop()
{
    if (reap_event_) (void)lew_event_delete(loop_, &reap_event_);
    held_.clear();
    routes_.clear();
    forwarded_actions_.clear();
    clients_.clear();
    forwarded_.clear();
    listener_ = nullptr; // the context frees it
    if (gcl_) {
        gcl_shutdown(gcl_);
        gcl_deinit(&gcl_);
    }
    fdic_deinit(&fdic_);
    fdic_libevent_deinit(&adapter_);
    return 0;
}

} // namespace mgmtd
