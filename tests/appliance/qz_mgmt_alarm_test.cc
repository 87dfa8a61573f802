// The alarm thread against the in-process stand-in over a real socket:
// start-up hand-shake, its transport and response matching, one-way alarms,
// session loss, and start-up without a provider.
#include "appliance/qz_mgmt_alarm.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/mgmt_test_provider.h"
#include "util/ttime.h"

namespace
{

class AlarmThread : public ::testing::Test
{
  protected:
    TestMgmtd mgmtd;
    char dir[64] = "/tmp/ipt-alarm-test-XXXXXX";

    void SetUp() override
    {
        ASSERT_NE(nullptr, mkdtemp(dir));
        gcl_set_socket_dir_for_tests(dir, 0);
        ASSERT_EQ(0, lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(269), LCL_DEBUG, 136,
                                 lc_log_output_syslog));
        qz_exiting = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(0, qz_initiate_exit());
        EXPECT_FALSE(qz_alm_thread_running_for_tests());
        EXPECT_EQ(0, qz_alm_mgmt_deinit());
        EXPECT_EQ(nullptr, qz_alm_lwc);
        EXPECT_EQ(nullptr, qz_alm_mgmt_session);
        mgmtd.stop();
        qz_exiting = 0;
        gcl_set_socket_dir_for_tests(nullptr, -1);
        std::string cmd = std::string("rm -rf ") + dir;
        (void)!system(cmd.c_str());
    }

    // Runs `fn` on the alarm thread (from a timer of its loop) and waits.
    void on_alarm_thread(std::function<void()> fn)
    {
        struct call {
            std::function<void()> fn;
            std::mutex mu;
            std::condition_variable cv;
            bool done = false;
        } c;
        c.fn = std::move(fn);
        auto fire = [](int, lew_event_type, void *data, lew_context *) {
            auto *self = static_cast<call *>(data);
            self->fn();
            std::lock_guard lk(self->mu);
            self->done = true;
            self->cv.notify_all();
            return 0;
        };
        lew_event *timer = nullptr;
        ASSERT_EQ(0, lew_event_reg_timer(qz_alm_lwc, &timer, fire, &c, 0));
        std::unique_lock lk(c.mu);
        ASSERT_TRUE(c.cv.wait_for(lk, std::chrono::seconds(30), [&] { return c.done; }));
        lk.unlock();
        // The loop remembers the handle's address: drop it before it goes.
        EXPECT_EQ(0, lew_event_delete(qz_alm_lwc, &timer));
    }

    bool wait_for(const LogCapture &cap, const char *text)
    {
        for (int i = 0; i < 30000 && !cap.contains(text); ++i) usleep(1000);
        return cap.contains(text);
    }
};

TEST_F(AlarmThread, StartsItsSessionAndCarriesRequests)
{
    ASSERT_TRUE(mgmtd.start("set /alarm/x string on\n"));
    ASSERT_EQ(0, qz_alm_mgmt_init("iptrackd"));
    ASSERT_TRUE(qz_alm_thread_running_for_tests());
    ASSERT_NE(nullptr, qz_alm_mcc);
    ASSERT_NE(nullptr, qz_alm_mgmt_session);

    // First a stray answer with a wrong id, then the right one.
    bool strayed = false;
    mgmtd.intercept = [&](gcl_session *s, const bn_request *req) {
        if (req->msg_type != bbmt_query_request || std::exchange(strayed, true)) return false;
        EXPECT_EQ(0, mgmtd.send_response(s, bbmt_query_response, req->msg_id + 7));
        EXPECT_EQ(0, mgmtd.answer(s, req));
        return true;
    };
    LogCapture cap;
    int err = -1;
    std::string value;
    on_alarm_thread([&] {
        tbool found = 0;
        owned<tstring> v;
        err = mdc_get_binding_tstr(qz_alm_mcc, nullptr, nullptr, &found, v.out(), "/alarm/x",
                                   nullptr);
        if (v) value = ts_str(v.get());
    });
    EXPECT_EQ(0, err);
    EXPECT_EQ("on", value);
    const uint32 id = mgmtd.requests().back()->msg_id;
    const std::string mismatch =
        "qz_alm_mgmt_handle_response :Got response to request " + std::to_string(id + 7) +
        ", but was expecting response to request " + std::to_string(id) + "; ignoring";
    EXPECT_EQ(1u, cap.count(mismatch)) << cap.dump();

    // An answer nobody waits for.
    mgmtd.run([&] {
        ASSERT_EQ(0, mgmtd.send_response(mgmtd.session("iptrackd"), bbmt_action_response, 31337));
    });
    ASSERT_TRUE(wait_for(cap, "31337 when no response"));
    EXPECT_EQ(1u, cap.count("qz_alm_mgmt_handle_response :Got response to request 31337 when no "
                            "response was expected; ignoring"));

    // Alarms go one way from the daemon's thread: the call returns once the
    // event is written, and mgmtd's acknowledgement is dropped quietly.
    owned<bn_binding_array> params;
    bn_binding *b = nullptr;
    ASSERT_EQ(0, bn_binding_array_new(params.out()));
    ASSERT_EQ(0, bn_binding_new_str(&b, "alarm_id", ba_value, bt_uint32, 0, "12"));
    ASSERT_EQ(0, bn_binding_array_append_takeover(params.get(), &b));
    const size_t before = mgmtd.num_requests();
    cap.clear();
    ASSERT_EQ(0, mdc_send_event_with_bindings_oneway(qz_alm_mcc, "/qz/alarms/events/raise_alarm",
                                                     params.get()));
    ASSERT_TRUE(mgmtd.wait_requests(before + 1));
    const bn_request *alarm = mgmtd.requests().back();
    EXPECT_EQ(bbmt_event_request, alarm->msg_type);
    EXPECT_EQ(1u, bn_request_per_node_array_length_quick(alarm->nodes));
    // A query after it is answered in order, so the acknowledgement was
    // handled before its answer.
    on_alarm_thread([&] {
        owned<bn_binding> x;
        EXPECT_EQ(0,
                  mdc_get_binding(qz_alm_mcc, nullptr, nullptr, 0, x.out(), "/alarm/x", nullptr));
    });
    EXPECT_FALSE(cap.contains("Got response")) << cap.dump();

    // The daemon's exit stops the thread quietly.
    cap.clear();
    ASSERT_EQ(0, qz_initiate_exit());
    EXPECT_FALSE(qz_alm_thread_running_for_tests());
    EXPECT_TRUE(cap.contains("qz_alm_mgmt_shutdown: cancel alm thread"));
    EXPECT_TRUE(cap.contains("qz_alm_thread: out of main loop, exiting..."));
    EXPECT_TRUE(cap.contains("qz_alm_mgmt_shutdown: alm thread exited"));
    EXPECT_FALSE(cap.contains("Lost connection")) << cap.dump();
}

int g_exit_calls = 0;

TEST_F(AlarmThread, LosingTheSessionEndsTheThreadAndWakesTheDaemonsLoop)
{
    owned<lew_context> main_loop;
    ASSERT_EQ(0, lew_init(main_loop.out()));
    g_exit_calls = 0;
    ASSERT_EQ(0, qz_alm_mgmt_set_exit_notify(main_loop.get(), [] { return ++g_exit_calls, 0; }));
    ASSERT_TRUE(mgmtd.start());
    ASSERT_EQ(0, qz_alm_mgmt_init("iptrackd"));
    LogCapture cap;
    mgmtd.run([&] { (void)gcl_session_close(mgmtd.session("iptrackd")); });
    // The daemon's loop wakes and runs its exit on its own thread.
    while (g_exit_calls == 0) ASSERT_EQ(0, lew_dispatch_once(main_loop.get(), nullptr, nullptr));
    EXPECT_EQ(1, g_exit_calls);
    ASSERT_TRUE(wait_for(cap, "qz_alm_thread: out of main loop, exiting...")) << cap.dump();
    EXPECT_EQ(1u, cap.count("Lost connection to mgmtd; exiting"));
    EXPECT_EQ(1, qz_exiting);
    // The thread could not join itself; the handle is still held until the
    // daemon's own exit joins it; the release drops the wake-up from the
    // daemon's loop before that loop goes.
    EXPECT_TRUE(qz_alm_thread_running_for_tests());
    EXPECT_EQ(0, qz_initiate_exit());
    EXPECT_FALSE(qz_alm_thread_running_for_tests());
    EXPECT_EQ(0, qz_alm_mgmt_deinit());
}

TEST_F(AlarmThread, WithoutASessionTheTransportFailsSilently)
{
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    bn_response *resp = reinterpret_cast<bn_response *>(1);
    LogCapture cap;
    EXPECT_EQ(lc_err_generic_error, qz_alm_mgmt_msg_handler(nullptr, nullptr, req.get(), &resp));
    EXPECT_EQ(nullptr, resp);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST_F(AlarmThread, NoProviderReleasesTheStarterAndTheDaemonGoesOn)
{
    LogCapture cap;
    // The connection attempts pause on a manual clock.
    lt_clock_set_manual_for_tests(0, 0);
    gcl_set_retry_pause_for_tests([](uint32 ms) { lt_clock_advance_for_tests(ms); });
    ASSERT_EQ(0, qz_alm_mgmt_init("iptrackd"));
    gcl_set_retry_pause_for_tests(nullptr);
    lt_clock_restore_for_tests();
    EXPECT_EQ(1u, cap.count("Unable to connect to the management daemon")) << cap.dump();
    EXPECT_EQ(1u, cap.count("qz_alm_thread: failed to initialize alarm session"));
    EXPECT_FALSE(cap.contains("Error code"));
    EXPECT_EQ(nullptr, qz_alm_mcc);
}

} // namespace
