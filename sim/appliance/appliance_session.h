// The simulated appliance's session to mgmtd: a management client on the
// appliance's event loop.  Its own requests (sets, actions, events) are
// synchronous: sent, then single passes of the loop until the answer comes.
// Requests that mgmtd sends (actions routed here, events, queries) are
// queued and handed to the handler one at a time, never inside a wait, so
// the handler may send requests of its own and never sees the appliance
// half-changed by another request.
//
// Losing the session escapes the loop: the appliance has nothing to do
// without mgmtd.
//
// Ownership: the session borrows the loop; it owns the session layer, the
// client context and the queued requests.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"

namespace appliance
{

class session
{
  public:
    // Called for every request mgmtd sends, outside any wait.
    using request_handler = std::function<int(session &s, const bn_request *request)>;

    explicit session(lew_context *loop) : loop_(loop) {}
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Connects as `client_name` to the provider "mgmtd" (retrying while it
    // is not yet listening) and opens the management service.
    [[nodiscard]] int open(const std::string &client_name, request_handler handler,
                           std::string *error);
    md_client_context *mcc() { return mcc_; }
    bool lost() const { return lost_; }

    // Answers an action request with `code` and `msg` (may be null) and the
    // bindings of `results` (may be null).
    [[nodiscard]] int answer_action(const bn_request *request, uint32 code, const char *msg,
                                    const bn_binding_array *results);

    // Callback targets.
    int on_response(bn_response *response);
    int on_request(bn_request *request);
    int on_close();
    int drain();
    [[nodiscard]] int transport(bn_request *request, bn_response **ret_response);

  private:
    struct wait {
        uint32 expected_id = 0;
        bool pending = true;
        owned<bn_response> response;
        wait *outer = nullptr;
    };
    int schedule_drain();

    lew_context *loop_;
    fdic_libevent_context *adapter_ = nullptr;
    fdic_context *fdic_ = nullptr;
    gcl_handle *gcl_ = nullptr;
    gcl_session *session_ = nullptr;
    md_client_context *mcc_ = nullptr;
    request_handler handler_;
    wait *innermost_ = nullptr;
    bool lost_ = false;
    bool draining_ = false;
    bool drain_pending_ = false;
    lew_event *drain_event_ = nullptr;
    std::deque<owned<bn_request>> queue_;
};

} // namespace appliance
