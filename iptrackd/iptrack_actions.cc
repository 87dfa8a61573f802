// The four action senders: route label, tunnel, subnet and VRRP.
#include "iptrack_records.h"

int ip_track_mgr_send_label_action(uint32, bool)
{
    return 0;
}
int ip_track_mgr_send_tunnel_action(iptrack_action *, bool)
{
    return 0;
}
int ip_track_mgr_send_subnet_action(iptrack_mgr *, iptrack_action *, iptrack_oper *, uint32)
{
    return 0;
}
int ip_track_mgr_send_vrrp_action(iptrack_action *, uint32)
{
    return 0;
}
