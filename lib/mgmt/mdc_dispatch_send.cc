// Management client: sending the answer to a forwarded monitoring query.
// Kept apart from the building (mdc_dispatch.cc) so that the answer can be
// made and checked without a session.
#include "mgmt/mdc_misc.h"

int mdc_dispatch_mon_request(gcl_session *session, const bn_request *request,
                             mdc_mon_get_func get_func, void *get_data,
                             mdc_mon_iterate_func iterate_func, void *iterate_data)
{
    bail_null(session);
    owned<bn_response> response;
    bail_error(mdc_mon_build_response(request, get_func, get_data, iterate_func, iterate_data,
                                      response.out()));
    bail_error(bn_response_msg_send(session, response.get()));
    uint32 code = 0;
    bail_error(bn_response_get_return(response.get(), &code, nullptr));
    return static_cast<int>(code);
}
