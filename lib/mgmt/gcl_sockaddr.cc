// The socket path rule of the session layer.
//
// Providers listen in one directory under a file named after their role
// and name.  On a production system (effective user root: the appliance
// runs its daemons as root) the name is "uds-<role>-<name>"; elsewhere the
// effective user id is part of it, "uds-<role>-UID-<euid>-<name>", so that
// developers sharing a machine do not take each other's sockets.  Tests
// move the directory with gcl_set_socket_dir_for_tests; end-to-end tests
// instead run in a mount namespace with a private /tmp/gcl-socks.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/un.h>
#include <unistd.h>

#include "mgmt/gcl_internal.h"

namespace
{

std::mutex dir_lock;
std::string test_dir;     // empty: GCL_SOCKET_DIR
int test_production = -1; // -1: decided by the effective user

} // namespace

void gcl_set_socket_dir_for_tests(const char *dir, int production)
{
    std::lock_guard g(dir_lock);
    test_dir = dir ? dir : "";
    test_production = production;
}

int gcl_sockaddr_for_provider(const char *provider_name, const char *role,
                              struct sockaddr_storage *ret_addr, socklen_t *ret_len)
{
    bail_null(ret_addr);
    bail_null(ret_len);
    memset(ret_addr, 0, sizeof *ret_addr);
    *ret_len = 0;
    bail_null(provider_name);
    bail_null(role);
    const char *problem = nullptr;
    if (!detail::gcl_name_valid(provider_name, &problem)) {
        lc_log_basic(LCL_ERR, "Invalid provider name: %s", provider_name);
        return lc_err_bad_name;
    }
    std::string dir;
    bool production;
    {
        std::lock_guard g(dir_lock);
        dir = test_dir.empty() ? GCL_SOCKET_DIR : test_dir;
        production = test_production >= 0 ? test_production != 0 : geteuid() == 0;
    }
    char file[128];
    if (production) {
        snprintf(file, sizeof file, "uds-%s-%s", role, provider_name);
    } else {
        snprintf(file, sizeof file, "uds-%s-UID-%d-%s", role, int(geteuid()), provider_name);
    }
    const std::string path = dir + "/" + file;
    auto *un = reinterpret_cast<sockaddr_un *>(ret_addr);
    if (path.size() >= sizeof un->sun_path) {
        lc_log_basic(LCL_ERR, "Socket path too long: %s", path.c_str());
        return lc_err_bad_path;
    }
    un->sun_family = AF_UNIX;
    memcpy(un->sun_path, path.c_str(), path.size() + 1);
    // The family field, the path and its terminating zero.
    *ret_len = socklen_t(path.size() + 3);
    return 0;
}
