// How the engine talks to the peers: building a request's bindings and
// sending it on the daemon's management session (`iptrackd_mcc`).
//
// Every engine request is an action with typed bindings in a fixed order,
// or an alarm event sent one-way.  The builder collects the bindings and
// remembers the first failure, so that a request is written as a straight
// list of adds followed by one send; the send fails with that failure
// before anything leaves the process.
//
// A peer that answers with a non-zero return code has refused the request:
// the send logs the code and message and fails, so that callers treat it
// exactly like a transport failure.  Reply bindings belong to the caller.
#pragma once

#include "bnode/bnode.h"
#include "log/common.h"

// An ordered list of bindings under construction.
class iptrack_bindings
{
  public:
    iptrack_bindings();
    iptrack_bindings(const iptrack_bindings &) = delete;
    iptrack_bindings &operator=(const iptrack_bindings &) = delete;

    iptrack_bindings &add_u8(const char *name, uint8 value);
    iptrack_bindings &add_u16(const char *name, uint16 value);
    iptrack_bindings &add_u32(const char *name, uint32 value);
    iptrack_bindings &add_bool(const char *name, bool value);
    iptrack_bindings &add_str(const char *name, const char *value);

    // The first failure of the adds (0 when all went in).
    int error() const { return err_; }
    const bn_binding_array *get() const { return arr_.get(); }

  private:
    iptrack_bindings &append(int err, bn_binding *binding);
    owned<bn_binding_array> arr_;
    int err_ = 0;
};

// Sends action `action_name` with `bindings`.  0 when the peer accepted it
// (its return code is 0); lc_err_generic_error when it answered with
// another code (logged with the code and message); the builder's or the
// transport's error otherwise.  `*ret_results` (may be null) gets the
// reply's bindings when the send succeeded, else stays null.
[[nodiscard]] int iptrack_send_action(const char *action_name, const iptrack_bindings &bindings,
                                      bn_binding_array **ret_results);
// Sends event `event_name` with `bindings` without waiting for an answer.
[[nodiscard]] int iptrack_send_event_oneway(const char *event_name,
                                            const iptrack_bindings &bindings);
