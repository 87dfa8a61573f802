// The command-line client's session to mgmtd: a client session of the
// session layer run by blocking I/O (no event loop), a management client
// context whose transport sends a request and reads frames until the
// response with its id arrives, and the queues of the requests that mgmtd
// sends on its own (events, forwarded queries).
#pragma once

#include <deque>
#include <string>

#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"

namespace mgmtcli
{

class session
{
  public:
    session() = default;
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Connects as `client_name` to the provider "mgmtd" and opens the
    // management service.  With `wait`, retries while mgmtd is not yet
    // listening.  `*error` says why on failure.
    [[nodiscard]] int open(const std::string &client_name, bool wait, int32 timeout_ms,
                           std::string *error);

    md_client_context *mcc() { return mcc_; }
    gcl_session *gcl_session_quick() { return session_; }

    // Reads frames until a request from mgmtd is queued or `timeout_ms`
    // passes (-1: no limit); the oldest one in `*ret` (null on time-out).
    [[nodiscard]] int next_request(int32 timeout_ms, bn_request **ret);

    // Callback targets.
    int on_response(bn_response *response);
    int on_request(bn_request *request);
    [[nodiscard]] int transport(bn_request *request, bn_response **ret_response);

  private:
    gcl_handle *gcl_ = nullptr;
    gcl_session *session_ = nullptr;
    md_client_context *mcc_ = nullptr;
    int32 timeout_ms_ = -1;
    bool waiting_ = false;
    uint32 waiting_id_ = 0;
    bn_response *answer_ = nullptr;
    std::deque<bn_request *> requests_;
};

} // namespace mgmtcli
