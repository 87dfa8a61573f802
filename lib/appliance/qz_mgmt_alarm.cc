// The alarm session thread (declared in qz_mgmt_alarm.h).
#include "appliance/qz_mgmt_alarm.h"

#include <pthread.h>
#include <semaphore.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "mgmt/mdc_transport.h"

lew_context *qz_alm_lwc = nullptr;
gcl_session *qz_alm_mgmt_session = nullptr;
md_client_context *qz_alm_mcc = nullptr;
int32 qz_exiting = 0;

namespace
{

// Created by the alarm thread, released by qz_alm_mgmt_deinit.
mdc_transport *s_transport = nullptr;

pthread_t s_thread{};
bool s_thread_held = false;
std::string s_client_name;

sem_t s_startup_sem;
bool s_sem_ok = false;

// Who hears that the alarm session was lost: a loop of the daemon, woken
// through a pipe (a write takes no lock that the daemon's thread could
// hold while it joins this thread), and the function run there.
lew_context *s_exit_loop = nullptr;
lew_event *s_exit_event = nullptr;
lc_unique_fd s_exit_read;
lc_unique_fd s_exit_write;
qz_alm_exit_func s_exit_func = nullptr;

bool alm_exiting()
{
    return __atomic_load_n(&qz_exiting, __ATOMIC_ACQUIRE) != 0;
}

bool on_alarm_thread()
{
    return s_thread_held && pthread_equal(pthread_self(), s_thread);
}

void alm_post_startup(bool *posted)
{
    if (*posted) return;
    *posted = true;
    if (s_sem_ok) (void)sem_post(&s_startup_sem);
}

// Cancellation clean-up: a cancelled thread must not leave its starter
// blocked on the semaphore.
void alm_thread_cleanup(void *posted)
{
    alm_post_startup(static_cast<bool *>(posted));
}

// Runs on the daemon's loop once the alarm thread has lost its session.
int alm_exit_wake(int fd, lew_event_type, void *, lew_context *)
{
    char buf[16];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    if (s_exit_func) bail_error(s_exit_func());
    return 0;
}

int alm_thread_setup()
{
    bail_error(lew_init(&qz_alm_lwc));

    mdc_transport_params params;
    params.mtp_client_name = s_client_name.c_str();
    params.mtp_loop = qz_alm_lwc;
    params.mtp_log_tag = "qz_alm_mgmt_handle_response";
    params.mtp_close_handler = qz_alm_mgmt_handle_session_close;
    params.mtp_send_func = qz_alm_mgmt_msg_handler;
    params.mtp_query_response = qz_alm_mgmt_handle_response;
    params.mtp_action_response = qz_alm_mgmt_handle_response;
    params.mtp_event_response = qz_alm_mgmt_handle_event_response;
    bail_error(mdc_transport_new(&params, &s_transport));

    const int err = mdc_transport_connect(s_transport);
    qz_alm_mgmt_session = mdc_transport_get_session(s_transport);
    if (err != 0) return err; // reported by the transport
    qz_alm_mcc = mdc_transport_get_client(s_transport);
    return 0;
}

void *alm_thread_main(void *)
{
    lc_log_init_tls();
    bool posted = false;
    pthread_cleanup_push(alm_thread_cleanup, &posted);
    if (alm_thread_setup() != 0) {
        // Logged before the starter is released, so that the start-up log
        // reads in the order things happened.
        lc_log_basic(LCL_ERR, "qz_alm_thread: failed to initialize alarm session");
        alm_post_startup(&posted);
    } else {
        alm_post_startup(&posted);
        const int err = lew_dispatch(qz_alm_lwc, nullptr, nullptr);
        if (err != 0) lc_bail_report_error(err, "qz_alm_thread", __FILE__, __LINE__);
        lc_log_basic(LCL_INFO, "qz_alm_thread: out of main loop, exiting...");
    }
    pthread_cleanup_pop(0);
    return nullptr;
}

} // namespace

int qz_alm_mgmt_init(const char *client_name)
{
    bail_null(client_name);
    bail_null(lc_grow(&s_client_name, [&] { s_client_name = client_name; }));

    s_sem_ok = sem_init(&s_startup_sem, 0, 0) == 0;
    if (!s_sem_ok)
        lc_log_basic(LCL_ERR, "Failed to init alm semaphore (%s), proceeding without it...",
                     strerror(errno));

    const int err = pthread_create(&s_thread, nullptr, alm_thread_main, nullptr);
    if (err != 0) {
        lc_log_basic(LCL_ERR, "Failed to create alarm thread : %s ", strerror(err));
        s_thread = pthread_t{};
        s_thread_held = false;
    } else {
        s_thread_held = true;
        if (s_sem_ok) {
            while (sem_wait(&s_startup_sem) != 0 && errno == EINTR) {
            }
        }
    }
    if (s_sem_ok) {
        (void)sem_destroy(&s_startup_sem);
        s_sem_ok = false;
    }
    return err;
}

int qz_alm_mgmt_shutdown()
{
    lc_log_basic(LCL_INFO, "qz_alm_mgmt_shutdown: cancel alm thread");
    if (qz_alm_lwc != nullptr) (void)lew_escape_from_dispatch(qz_alm_lwc);
    // On the alarm thread itself (its session was lost) there is nothing to
    // join: the escaped loop returns and the thread ends after this call;
    // the daemon's own exit joins it later.
    if (s_thread_held && !on_alarm_thread()) {
        const int err = pthread_join(s_thread, nullptr);
        if (err != 0 && err != ESRCH) {
            lc_log_basic(LCL_ERR, "qz_alm_mgmt_shutdown: failed to join thread : %s ",
                         strerror(err));
            return err;
        }
        s_thread = pthread_t{};
        s_thread_held = false;
    }
    lc_log_basic(LCL_INFO, "qz_alm_mgmt_shutdown: alm thread exited");
    (void)mdc_transport_shutdown(s_transport);
    return 0;
}

int qz_alm_mgmt_deinit()
{
    qz_alm_mgmt_session = nullptr;
    qz_alm_mcc = nullptr;
    // Logs each failing step and runs the next.
    (void)mdc_transport_free(&s_transport);
    if (const int err = lew_deinit(&qz_alm_lwc); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (s_exit_loop != nullptr) {
        if (const int err = lew_event_delete(s_exit_loop, &s_exit_event); err != 0)
            lc_bail_report_error(err, __func__, __FILE__, __LINE__);
        s_exit_loop = nullptr;
    }
    s_exit_read.reset();
    s_exit_write.reset();
    s_exit_func = nullptr;
    return 0;
}

int qz_alm_mgmt_set_exit_notify(lew_context *lwc, qz_alm_exit_func begin_exit)
{
    bail_null(lwc);
    bail_null(begin_exit);
    bail_require(s_exit_loop == nullptr);
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        lc_log_basic(LCL_ERR, "pipe: %m");
        return lc_err_io_error;
    }
    lc_unique_fd r{fds[0]};
    lc_unique_fd w{fds[1]};
    bail_error(
        lew_event_reg_fd(lwc, &s_exit_event, r.get(), lew_event_read, 1, alm_exit_wake, nullptr));
    s_exit_loop = lwc;
    s_exit_read = std::move(r);
    s_exit_write = std::move(w);
    s_exit_func = begin_exit;
    return 0;
}

int qz_initiate_exit()
{
    __atomic_store_n(&qz_exiting, 1, __ATOMIC_RELEASE);
    const bool lost_here = on_alarm_thread();
    bail_error(qz_alm_mgmt_shutdown());
    if (qz_alm_lwc != nullptr) (void)lew_escape_from_dispatch(qz_alm_lwc);
    // On the alarm thread the exit began here, with the loss of the alarm
    // session: the daemon's own loop carries it on.
    if (lost_here && s_exit_write) {
        const char b = 1;
        (void)!write(s_exit_write.get(), &b, 1);
    }
    return 0;
}

int qz_alm_mgmt_msg_handler(void *, gcl_session *, bn_request *request, bn_response **ret_response)
{
    return mdc_transport_request(s_transport, request, ret_response);
}

int qz_alm_mgmt_handle_response(gcl_session *, bn_response *response, void *)
{
    return mdc_transport_handle_response(s_transport, response);
}

int qz_alm_mgmt_handle_event_response(gcl_session *, bn_response *response, void *)
{
    // Alarms go one way: their acknowledgements are dropped without a line.
    return mdc_transport_handle_response_quiet(s_transport, response);
}

int qz_alm_mgmt_handle_session_close(int, fdic_reason, void *, void *)
{
    if (alm_exiting()) return 0;
    mdc_transport_end_waits(s_transport);
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    bail_error(qz_initiate_exit());
    return 0;
}

bool qz_alm_thread_running_for_tests()
{
    return s_thread_held;
}
