// The management stand-in's provider: it listens as "mgmtd" on the session
// layer's socket path, keeps a record per client session (its registered
// event interests), and answers the management service: queries from the
// node database, set requests with change notifications, actions through a
// table of handlers, and events delivered to the sessions registered for
// them.  Queries for a daemon's state nodes (/qz/<daemon>/state/...) go to
// the session of the client named <daemon> when one is connected, and its
// answer is relayed without the loop ever waiting for it.  The owner of a
// query's first node decides for the whole query (daemons ask one node at a
// time); with no such client the database answers, which is where the
// peers' liveness nodes live.
//
// For tests of how a client treats its answers, the stand-in can hold them
// back and make them up: while the database node /sim/mgmtd/hold/<client>
// is a bool true, every answer to the client named <client> is kept (in
// order) and sent when a set makes the node false or deletes it; the
// action "/sim/mgmtd/inject/response" sends a client a response to a
// request it never made, and "/sim/mgmtd/close/session" closes one session
// of a client (a daemon has more than one, all under its own name).
//
// Actions go to their owning daemon, as on the appliance: a client names
// the actions it handles with "/sim/mgmtd/route/add" (parameters
// `match/N/pattern`, string, wildcards as in node names), and each action
// that matches one of its patterns is forwarded to it and its answer
// relayed, without the loop ever waiting for it.  The latest registration
// wins; a client's routes go with its session, and an action it was asked
// to handle and did not answer before it left is answered with a failure.
// Actions nobody handles are refused with "No handler for action ...",
// except the probe actions, which fall back to states kept in the database.
//
// Configuration changes reach a session when one of its patterns matches
// the changed node or one of the node's ancestors: a pattern names a
// subtree of interest, as on the appliance, so "/tun/config/*" hears about
// "/tun/config/t1/config_bin".
//
// Actions and events that clients send to the rest of the appliance are kept
// in a bounded journal that the stand-in's own action "/sim/mgmtd/journal"
// returns.
//
// Ownership: the server borrows the loop and the database; it owns the
// session layer context, the listening session and every accepted session.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmtd_db.h"

namespace mgmtd
{

// Control actions of the stand-in itself (never journalled).
#define MGMTD_SIM_ROOT "/sim/mgmtd"
#define MGMTD_JOURNAL_ACTION MGMTD_SIM_ROOT "/journal"
#define MGMTD_INJECT_RESPONSE_ACTION MGMTD_SIM_ROOT "/inject/response"
#define MGMTD_ROUTE_ADD_ACTION MGMTD_SIM_ROOT "/route/add"
#define MGMTD_CLOSE_SESSION_ACTION MGMTD_SIM_ROOT "/close/session"
// bool nodes /sim/mgmtd/hold/<client>: hold the client's answers back.
#define MGMTD_HOLD_ROOT MGMTD_SIM_ROOT "/hold"
// Database nodes that hold the states the probe actions report.
#define MGMTD_MONITOR_ROOT MGMTD_SIM_ROOT "/monitor"
#define MGMTD_INTEREST_ADD_ACTION "/mgmtd/events/actions/interest/add"
#define MGMTD_DBCHANGE_EVENT "/mgmtd/notify/dbchange"
#define MGMTD_DBCHANGE_ROOT "/mgmtd/notification/dbchange"

// Entries the journal keeps; older ones are dropped first.
constexpr size_t journal_max_entries = 10000;

struct journal_entry {
    uint32 seq;
    std::string kind; // "action" or "event"
    std::string name;
    std::string from; // the sender's client name
    owned<bn_binding_array> params;
};

class server;

// One row of the action table: actions whose name matches `pattern` go to
// `handler`, which fills the response (return code 0 and no bindings unless
// it says otherwise).  The first matching row wins; a `fallback` row
// answers only when no client registered a route for the action.
typedef int (*action_handler)(server *srv, gcl_session *session, const bn_request *request,
                              bn_response *response);
struct action_row {
    const char *pattern;
    action_handler handler;
    bool fallback = false;
};

class server
{
  public:
    server(lew_context *loop, node_db *db) : loop_(loop), db_(db) {}
    ~server();
    server(const server &) = delete;
    server &operator=(const server &) = delete;

    // Creates the session layer on the loop and starts listening as "mgmtd".
    [[nodiscard]] int start();
    // Closes every session and the listener.
    int stop();

    // For the action handlers.
    node_db *db() { return db_; }
    [[nodiscard]] int add_interest(gcl_session *session, const bn_request *request,
                                   std::string *error);
    [[nodiscard]] int journal_to_response(uint32 since, bool clear, bn_response *response);
    // Makes `session` the handler of the actions matching the request's
    // `match/N/pattern` parameters.
    [[nodiscard]] int add_routes(gcl_session *session, const bn_request *request,
                                 std::string *error);
    // The connected session of the client named `client_name` other than
    // `except`, or null.
    gcl_session *session_named(const std::string &client_name, gcl_session *except);
    // The `nth` (from 1, in the order they connected) connected session of
    // the client named `client_name`, or null.
    gcl_session *session_named_nth(const std::string &client_name, uint32 nth);

    // A tap for tests that play the stand-in in-process: it sees every
    // request before the stand-in does, on the loop thread, and returns
    // true when it has dealt with the request itself.
    typedef bool (*request_tap)(void *data, gcl_session *session, const bn_request *request);
    void set_request_tap(request_tap tap, void *data)
    {
        tap_ = tap;
        tap_data_ = data;
    }
    bool tapped(gcl_session *session, const bn_request *request)
    {
        return tap_ && tap_(tap_data_, session, request);
    }
    bool tapped(gcl_session *, const bn_response *) { return false; }

    // Message handlers (installed on the session layer).
    int on_query_request(gcl_session *session, const bn_request *request);
    int on_query_response(gcl_session *session, const bn_response *response);
    int on_set_request(gcl_session *session, const bn_request *request);
    int on_action_request(gcl_session *session, const bn_request *request);
    int on_action_response(gcl_session *session, const bn_response *response);
    int on_event_request(gcl_session *session, const bn_request *request);
    int on_session_accepted(gcl_session *session);
    int on_session_closed(gcl_session *session);

  private:
    struct client {
        gcl_session *session;
        // Event name -> match patterns registered for it (none: every node).
        std::map<std::string, std::vector<std::string>> interests;
    };
    // A query relayed to the session that owns the nodes.
    struct forwarded {
        int32 requester_id;
        uint32 requester_msg_id;
        uint16 requester_service_id;
        uint32 requester_transaction_id;
    };

    // An action handed to the client that handles it; `request` is the
    // original, which the relayed answer is fixed for.
    struct forwarded_action {
        int32 requester_id;
        owned<bn_request> request;
    };
    struct route {
        std::string pattern;
        int32 session_id;
    };

    // An answer held back from a client (see MGMTD_HOLD_ROOT).
    struct held_response {
        int32 session_id;
        owned<bn_response> response;
    };

    client *find_client(gcl_session *session);
    bool held(gcl_session *session);
    // Sends `response` as the answer to `request`, or holds it back.
    int send_response(gcl_session *session, const bn_request *request,
                      owned<bn_response> &response);
    // Sends the held answers of the clients no longer held.
    int release_held();
    std::string client_name(gcl_session *session) const;
    int answer_query_locally(gcl_session *session, const bn_request *request);
    int forward_query(gcl_session *requester, gcl_session *owner, const bn_request *request);
    int notify_changes(const std::vector<db_change> &changes);
    int deliver_event(gcl_session *from, const bn_request *request);
    // The connected session that registered a route matching `action`, or null.
    gcl_session *route_owner(const char *action);
    int forward_action(gcl_session *requester, gcl_session *owner, const bn_request *request);
    // Forgets the routes of a closed session and fails what it still had to
    // answer; forgets what it asked.
    int drop_routes(int32 closed_id);
    int record(gcl_session *from, const char *kind, const bn_request *request);
    int schedule_reap();
    static int reap_timer(int fd, lew_event_type kinds, void *data, lew_context *ctx);

    lew_context *loop_;
    node_db *db_;
    request_tap tap_ = nullptr;
    void *tap_data_ = nullptr;
    fdic_libevent_context *adapter_ = nullptr;
    fdic_context *fdic_ = nullptr;
    gcl_handle *gcl_ = nullptr;
    gcl_session *listener_ = nullptr;
    lew_event *reap_event_ = nullptr;
    std::map<int32, client> clients_;
    // By (owner session id, message id of the forwarded request).
    std::map<std::pair<int32, uint32>, forwarded> forwarded_;
    std::deque<held_response> held_;
    std::vector<route> routes_; // in registration order
    // By (handler session id, message id of the forwarded action).
    std::map<std::pair<int32, uint32>, forwarded_action> forwarded_actions_;
    std::deque<journal_entry> journal_;
    uint32 journal_seq_ = 0;
};

// The owner of a state node: "<daemon>" for /qz/<daemon>/state and below,
// else empty.
std::string state_owner(const char *name);

} // namespace mgmtd
