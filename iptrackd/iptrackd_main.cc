// `main` of iptrackd: bring up, run the loop, shut down, end the process.
//
// A failed start-up ends the process with the error code as its exit status
// (only its low eight bits reach the parent: the codes 14000 and up never
// come out as 0).  Once the loop has been entered the process always ends
// with 0: errors of the loop or of the shut-down are logged, not reported
// through the status.
#include <sys/stat.h>

#include <cstdlib>

#include "iptrackd_main.h"

namespace
{

// The failure idiom for main's own report of a step that already logged:
// a second line with main's function and line, quiet codes excepted.
#define iptrackd_report(err) lc_bail_report_error((err), __func__, __FILE__, __LINE__)

[[noreturn]] void iptrackd_exit_failed(int err)
{
    lc_log_basic(LCL_NOTICE, "IP Tracking daemon exiting with code %d", err);
    (void)lc_log_close();
    exit(err);
}

} // namespace

int main()
{
    int err = lc_init();
    if (err != 0) {
        iptrackd_report(err);
        iptrackd_exit_failed(err);
    }
    umask(0);

    err = iptrackd_init();
    if (err != 0) {
        iptrackd_report(err);
        iptrackd_exit_failed(err);
    }

    err = iptrackd_main_loop();
    if (err != 0) iptrackd_report(err);

    err = iptrackd_deinit();
    if (err != 0) iptrackd_report(err);

    exit(0);
}
