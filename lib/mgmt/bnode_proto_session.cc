// Messages over a session of the session layer.
#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"

namespace detail
{

void proto_session_describe(const gcl_session *, uint32 *ret_id, const char **ret_peer)
{
    // Until the session layer is linked in, sessions are not described.
    *ret_id = 0;
    *ret_peer = nullptr;
}

} // namespace detail
