// The command-line client's session to mgmtd: the management client
// transport run by blocking I/O (no event loop), and the queue of the
// requests that mgmtd sends on its own (events, forwarded queries).
#pragma once

#include <deque>
#include <string>

#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "mgmt/mdc_main.h"
#include "mgmt/mdc_transport.h"

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
    // listening.  `timeout_ms` (-1: none) bounds the opening and each
    // request.  `*error` says why on failure.
    [[nodiscard]] int open(const std::string &client_name, bool wait, int32 timeout_ms,
                           std::string *error);

    md_client_context *mcc() { return mdc_transport_get_client(transport_.get()); }
    gcl_session *gcl_session_quick() { return mdc_transport_get_session(transport_.get()); }

    // Reads frames until a request from mgmtd is queued or `timeout_ms`
    // passes (-1: no limit); the oldest one in `*ret` (null on time-out).
    [[nodiscard]] int next_request(int32 timeout_ms, bn_request **ret);

    // Callback target.
    int on_request(bn_request *request);

  private:
    owned<mdc_transport> transport_;
    std::deque<owned<bn_request>> requests_;
};

} // namespace mgmtcli
