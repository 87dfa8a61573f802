// Publisher side of the shared tables (bodies follow).
#include "appliance/qz_shm_publish.h"

#include "log/logging.h"

int qz_shm_pub_open(qz_shm_kind, const char *, uint32, qz_shm_publisher **ret)
{
    if (ret) *ret = nullptr;
    return lc_err_not_implemented;
}
int qz_shm_pub_close(qz_shm_publisher **pub)
{
    if (pub) *pub = nullptr;
    return 0;
}
int qz_shm_pub_unlink(const char *)
{
    return lc_err_not_implemented;
}
const cmem_block *qz_shm_pub_block(const qz_shm_publisher *)
{
    return nullptr;
}
uint32 qz_shm_pub_count(const qz_shm_publisher *)
{
    return 0;
}
uint32 qz_shm_pub_capacity(const qz_shm_publisher *)
{
    return 0;
}
int qz_shm_pub_clear(qz_shm_publisher *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_put_l3if(qz_shm_publisher *, const qz_l3if_info *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_put_iflabel(qz_shm_publisher *, const char *, const char *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_put_rtlabel(qz_shm_publisher *, uint32, const char *, bool)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_put_tunnel(qz_shm_publisher *, const qz_tunbin *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_put_alarm_hier(qz_shm_publisher *, const qz_alm_hier *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_remove_l3if(qz_shm_publisher *, const char *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_remove_iflabel(qz_shm_publisher *, const char *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_remove_rtlabel(qz_shm_publisher *, uint32)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_remove_tunnel(qz_shm_publisher *, const char *)
{
    return lc_err_not_implemented;
}
int qz_shm_pub_remove_alarm_hier(qz_shm_publisher *, uint32)
{
    return lc_err_not_implemented;
}
