// The alarm session thread (declared in qz_mgmt_alarm.h).
#include "appliance/qz_mgmt_alarm.h"

#include <pthread.h>
#include <semaphore.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

lew_context *qz_alm_lwc = nullptr;
gcl_session *qz_alm_mgmt_session = nullptr;
md_client_context *qz_alm_mcc = nullptr;
int32 qz_exiting = 0;

namespace
{

constexpr const char *alm_provider_name = "mgmtd";

// Created by the alarm thread, released by qz_alm_mgmt_deinit.
fdic_libevent_context *s_fdic_adapter = nullptr;
fdic_context *s_fdic = nullptr;
gcl_handle *s_gcl = nullptr;

pthread_t s_thread{};
bool s_thread_held = false;
std::string s_client_name;

sem_t s_startup_sem;
bool s_sem_ok = false;

// The one pending-response slot.  The response handler runs on the alarm
// thread and a sender may run on another, hence the lock.
std::mutex s_slot_lock;
bool s_pending = false;
uint32 s_expected_id = 0;
owned<bn_response> s_slot_response;

bool alm_exiting()
{
    return __atomic_load_n(&qz_exiting, __ATOMIC_ACQUIRE) != 0;
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

int alm_unable_to_connect(int err, bool unreachable_codes_quiet, int line)
{
    if (!(unreachable_codes_quiet && (err == lc_err_io_error || err == lc_err_io_closed)))
        lc_bail_report_error(err, "qz_alm_thread_setup", __FILE__, line);
    lc_log_basic(LCL_ERR, "Unable to connect to the management daemon");
    return err;
}

int alm_thread_setup()
{
    bail_error(lew_init(&qz_alm_lwc));
    evc_base *base = nullptr;
    bail_error(lew_get_event_context(qz_alm_lwc, &base));
    bail_null(base);

    bail_error(fdic_libevent_init(base, &s_fdic_adapter));
    bail_error(fdic_init(&s_fdic, fdic_libevent_callback, s_fdic_adapter));
    bail_error(fdic_libevent_set_fd_close_handler(s_fdic_adapter, qz_alm_mgmt_handle_session_close,
                                                  nullptr));

    gcl_options options;
    bail_error(gcl_options_get_defaults(&options));
    bail_error(gcl_init(&s_gcl, &options, s_fdic));
    bail_error(gcl_bn_init(s_gcl));
    bail_error(
        bn_set_global_callback_query_response_msg(s_gcl, qz_alm_mgmt_handle_response, nullptr));
    bail_error(
        bn_set_global_callback_action_response_msg(s_gcl, qz_alm_mgmt_handle_response, nullptr));
    bail_error(bn_set_global_callback_event_response_msg(s_gcl, qz_alm_mgmt_handle_event_response,
                                                         nullptr));

    int err =
        gcl_session_client_new(s_gcl, s_client_name.c_str(), nullptr, 0, &qz_alm_mgmt_session);
    if (err != 0) return alm_unable_to_connect(err, false, __LINE__);
    err = gcl_session_client_connect_by_provider(qz_alm_mgmt_session, alm_provider_name, 1);
    if (err != 0) return alm_unable_to_connect(err, true, __LINE__);
    err = gcl_session_client_open_service_blocking(qz_alm_mgmt_session, gcl_service_mgmt, 2,
                                                   nullptr, 0, -1);
    if (err != 0) return alm_unable_to_connect(err, false, __LINE__);

    bail_error(mdc_init(qz_alm_mgmt_msg_handler, nullptr, nullptr, nullptr, qz_alm_mgmt_session,
                        &qz_alm_mcc));
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
    s_client_name = client_name;

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
    if (s_thread_held && !pthread_equal(pthread_self(), s_thread)) {
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
    if (s_gcl != nullptr) (void)gcl_shutdown(s_gcl);
    return 0;
}

int qz_alm_mgmt_deinit()
{
    if (const int err = gcl_deinit(&s_gcl); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    qz_alm_mgmt_session = nullptr; // freed with the session layer
    if (const int err = fdic_libevent_deinit(&s_fdic_adapter); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (const int err = fdic_deinit(&s_fdic); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (const int err = mdc_deinit(&qz_alm_mcc); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    if (const int err = lew_deinit(&qz_alm_lwc); err != 0)
        lc_bail_report_error(err, __func__, __FILE__, __LINE__);
    return 0;
}

int qz_initiate_exit()
{
    __atomic_store_n(&qz_exiting, 1, __ATOMIC_RELEASE);
    bail_error(qz_alm_mgmt_shutdown());
    if (qz_alm_lwc != nullptr) (void)lew_escape_from_dispatch(qz_alm_lwc);
    return 0;
}

int qz_alm_mgmt_msg_handler(void *, gcl_session *, bn_request *request, bn_response **ret_response)
{
    bail_null(ret_response);
    *ret_response = nullptr;
    bail_null(request);
    if (qz_alm_mgmt_session == nullptr) return lc_err_generic_error;

    bail_error(bn_request_msg_send(qz_alm_mgmt_session, request));
    {
        std::lock_guard lock(s_slot_lock);
        if (s_pending) lc_bail_report_require(__func__, __FILE__, __LINE__);
        s_pending = true;
        s_expected_id = bn_request_get_msg_id(request);
        s_slot_response.reset();
    }

    int err = 0;
    for (;;) {
        {
            std::lock_guard lock(s_slot_lock);
            if (!s_pending) break;
        }
        tbool no_events = 0;
        tbool escaped = 0;
        err = lew_dispatch_once(qz_alm_lwc, &no_events, &escaped);
        if (err != 0 || escaped) break;
    }
    std::lock_guard lock(s_slot_lock);
    *ret_response = s_slot_response.release();
    s_pending = false;
    s_expected_id = 0;
    return err;
}

int qz_alm_mgmt_handle_response(gcl_session *, bn_response *response, void *)
{
    uint32 req_id = 0;
    bail_error(bn_response_get_msg_ids(response, &req_id, nullptr));
    std::lock_guard lock(s_slot_lock);
    if (!s_pending) {
        lc_log_basic(LCL_WARNING,
                     "%s :Got response to request %d when no response was expected; ignoring",
                     __func__, static_cast<int>(req_id));
        return 0;
    }
    if (req_id != s_expected_id) {
        lc_log_basic(LCL_WARNING,
                     "%s :Got response to request %d, but was expecting response to request %d; "
                     "ignoring",
                     __func__, static_cast<int>(req_id), static_cast<int>(s_expected_id));
        return 0;
    }
    bn_response *copy = nullptr;
    bail_error(bn_response_msg_dup(response, &copy));
    s_slot_response.reset(copy);
    s_pending = false;
    s_expected_id = 0;
    return 0;
}

int qz_alm_mgmt_handle_event_response(gcl_session *, bn_response *, void *)
{
    return 0;
}

int qz_alm_mgmt_handle_session_close(int, fdic_reason, void *, void *)
{
    if (alm_exiting()) return 0;
    {
        std::lock_guard lock(s_slot_lock);
        s_pending = false;
    }
    lc_log_basic(LCL_ERR, "Lost connection to mgmtd; exiting");
    bail_error(qz_initiate_exit());
    return 0;
}

bool qz_alm_thread_running_for_tests()
{
    return s_thread_held;
}
