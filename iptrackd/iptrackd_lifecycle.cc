// Start-up, signal handling and exit of the daemon (declared in
// iptrackd_main.h).  The sequence is fixed; the steps that belong to the
// management session, the alarm thread and the tracking engine are marked
// where they slot in.
#include "iptrackd_main.h"

#include <signal.h>

#include "appliance/qz_log_facility.h"
#include "appliance/qz_mgmt_alarm.h"
#include "iptrack.h"
#include "iptrackd_config.h"
#include "iptrackd_mgmt.h"

const lc_enum_string_map iptrackd_daemon_status_map[] = {
    {iptrackd_status_initializing, "Initializing"},
    {iptrackd_status_ready, "Ready"},
    {iptrackd_status_failed_partial, "Failed-Partial"},
    {iptrackd_status_failed_initialization, "Failed-Initialization"},
    {iptrackd_status_failed_db_loading, "Failed-DB Loading"},
    {iptrackd_status_failed_memory_initialization, "Failed-Memory Initialization"},
    {iptrackd_status_failed_thread_initialization, "Failed-Thread Initialization"},
    {iptrackd_status_shutdown, "Shutdown"},
    {iptrackd_status_deinitialization, "DeInitialization"},
    {0, nullptr},
};

// Registration order matters only for the order of deletion at exit.
const int iptrackd_signals[iptrackd_num_signals] = {SIGHUP,  SIGINT,  SIGPIPE,
                                                    SIGTERM, SIGUSR1, SIGUSR2};

const char *const iptrackd_program_name = "iptrackd";
lew_context *iptrackd_lwc = nullptr;
int32 m_daemon_status = iptrackd_status_initializing;
int32 iptrackd_exiting = 0;
lew_event *iptrackd_signal_events[iptrackd_num_signals] = {};

namespace
{

// Runs on the daemon's loop when the alarm thread has lost its session.
int exit_on_alarm_session_loss()
{
    if (iptrackd_exiting) return 0;
    bail_error(iptrackd_initiate_exit());
    return 0;
}

} // namespace

int iptrackd_init()
{
    bail_error(lc_log_init(iptrackd_program_name, nullptr, 0,
                           lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG,
                           lc_log_get_facility(0, iptrackd_program_name), lc_log_output_syslog));
    lc_log_basic(LCL_NOTICE, "IP Tracking daemon launched");

    bail_error(lew_init(&iptrackd_lwc));
    bail_null(iptrackd_lwc);

    // Signals become loop events from here on; a failure leaves the ones
    // registered before it in place (the process is about to end anyway).
    for (int i = 0; i < iptrackd_num_signals; ++i) {
        bail_error(lew_event_reg_signal(iptrackd_lwc, &iptrackd_signal_events[i],
                                        iptrackd_signals[i], iptrackd_handle_signal, nullptr));
    }

    // From here on, synchronous requests run nested passes of the loop, so
    // signals are served while the status is still "Initializing".
    bail_error_quiet(iptrackd_mgmt_init());
    // Losing the alarm session ends the daemon as losing its own does.
    bail_error(qz_alm_mgmt_set_exit_notify(iptrackd_lwc, exit_on_alarm_session_loss));
    bail_error(qz_alm_mgmt_init(iptrackd_program_name));
    bail_error(iptrack_init());
    bail_error(iptrackd_config_query());

    m_daemon_status = iptrackd_status_ready;
    lc_log_basic(LCL_NOTICE, "IP Tracking daemon ready");

    // Without its timer the engine never runs, but the daemon still answers.
    (void)iptrack_post_init();
    return 0;
}

int iptrackd_main_loop()
{
    bail_error(lew_dispatch(iptrackd_lwc, nullptr, nullptr));
    return 0;
}

int iptrackd_deinit()
{
    // The loop has returned: no engine call is running, so everything goes.
    iptrack_deinit();
    bail_error(iptrackd_mgmt_deinit());
    bail_error(qz_alm_mgmt_deinit());
    bail_error(lew_deinit(&iptrackd_lwc));
    return 0;
}

int iptrackd_handle_signal(int fd, lew_event_type, void *, lew_context *)
{
    const int signum = fd;
    lc_log_basic(LCL_NOTICE, "%s: Received %s", __func__, lc_signal_num_to_name(signum));
    switch (signum) {
    case SIGUSR1:
    case SIGUSR2:
    case SIGPIPE:
        return 0;
    case SIGHUP:
    case SIGINT:
    case SIGTERM:
        bail_error(iptrackd_initiate_exit());
        return 0;
    default:
        lc_log_basic(LCL_WARNING, "Got unexpected signal %s", lc_signal_num_to_name(signum));
        return 0;
    }
}

int iptrackd_initiate_exit()
{
    iptrackd_exiting = 1;
    lc_log_basic(LCL_NOTICE, "IP Tracking daemon exiting. daemon state: %s",
                 m_daemon_status == iptrackd_status_ready ? "ready" : "init");

    if (const int err = qz_initiate_exit(); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);

    // No signal reaches the handler once the exit has begun.
    for (lew_event *&ev : iptrackd_signal_events) bail_error(lew_event_delete(iptrackd_lwc, &ev));

    bail_error(iptrackd_mgmt_shutdown());

    bail_error(lew_escape_from_dispatch(iptrackd_lwc));
    return 0;
}

bool iptrackd_is_daemon_ready()
{
    return m_daemon_status == iptrackd_status_ready;
}
