// Status evaluation of a manager, the choice and sending of its action, and
// route labels.
#include "iptrack_records.h"

void iptrack_mgr_evaluate(iptrack_mgr *) {}
iptrack_action *iptrack_mgr_set_action(iptrack_mgr *, uint32 *ret_code)
{
    if (ret_code) *ret_code = 0;
    return nullptr;
}
int iptrack_mgr_send_action_request(iptrack_mgr *, iptrack_oper *)
{
    return 0;
}
void iptrack_mgr_not_installed(iptrack_mgr *, iptrack_op_request *, iptrack_oper *) {}
int iptrack_mgr_determine_rtlabel_status(uint32, bool, iptrack_mgr *)
{
    return 0;
}
