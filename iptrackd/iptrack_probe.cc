// The four probe requests (ping, HTTP, port and VRRP monitors) and the run
// of one operation for a manager.
#include "iptrack_records.h"

int iptrack_mgr_send_operation_request(iptrack_oper *, iptrack_op_request *, iptrack_mgr *)
{
    return 0;
}
int iptrack_mgr_send_ip_mon_request(iptrack_oper *, uint16)
{
    return 0;
}
int iptrack_mgr_send_http_mon_request(iptrack_oper *, uint16)
{
    return 0;
}
int iptrack_mgr_send_mon_start_request(iptrack_oper *, uint8)
{
    return 0;
}
int iptrack_mgr_send_mon_delete_request(iptrack_oper *, uint8)
{
    return 0;
}
int iptrack_mgr_send_port_mon_request(iptrack_oper *)
{
    return 0;
}
int iptrack_mgr_send_vrrp_mon_request(iptrack_oper *)
{
    return 0;
}
int iptrack_send_oper_delete(iptrack_oper *)
{
    return 0;
}
