// Helpers shared by the files of the message module (not a public header).
#pragma once

#include "mgmt/bnode_proto.h"

namespace detail
{

// Sets `*ts` to a copy of `s`, or frees it for a null `s`.
int proto_set_str(tstring **ts, const char *s);

// Appends a request node around `binding` (owned from the call on) with the
// message's next node id.
int request_append_node(bn_request *msg, owned<bn_binding> binding, uint32 subop, uint32 node_flags,
                        uint32 *ret_node_id);
// The same for a response.
int response_append_node(bn_response *msg, owned<bn_binding> binding, uint32 *ret_node_id);

// A binding named `name` whose "value" is `value` parsed as `type`.  A text
// that does not parse returns the converter's code quietly.
int proto_new_value_binding(bn_binding **ret, const char *name, bn_type type, uint32 type_flags,
                            const char *value);

} // namespace detail

namespace detail
{

// The id and peer name of a session, for dumps (the peer may be null).
// Implemented over the session layer.
void proto_session_describe(const gcl_session *session, uint32 *ret_id, const char **ret_peer);

} // namespace detail
