// The engine's alarms: monitor down, not installed and name resolution.
#include "iptrack_records.h"

void iptrack_mgr_fill_alarm_text(iptrack_mgr *, iptrack_oper *) {}
void iptrack_mgr_fill_dns_alarm_text(iptrack_mgr *, iptrack_oper *) {}
int iptrackd_fill_hier(iptrack_mgr *, iptrack_oper *, bool)
{
    return 0;
}
int iptrack_send_not_installed_alarm(iptrack_mgr *, bool)
{
    return 0;
}
int iptrack_send_dns_alarm(iptrack_mgr *, bool)
{
    return 0;
}
