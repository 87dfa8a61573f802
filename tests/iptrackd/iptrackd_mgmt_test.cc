// The daemon's management session against the in-process stand-in over a
// real socket: the synchronous transport and its nesting, dispatch of
// responses, events, queries and actions, and the exit's own close.  Set-up
// registrations, log levels and session loss are seen end to end.
#include "iptrackd_mgmt.h"

#include <string>

#include "engine_peer_fixture.h"
#include "mgmt/mdc_misc.h"

namespace
{

class MgmtSession : public MgmtHarness
{
  protected:
    void start(const std::string &db = "")
    {
        ASSERT_TRUE(mgmtd.start(db));
        ASSERT_EQ(0, iptrackd_mgmt_init());
        ASSERT_NE(nullptr, iptrackd_mgmt_session);
        ASSERT_NE(nullptr, iptrackd_mcc);
    }

    // Runs passes of the daemon loop until `pred` holds (false after 30 s).
    template <class P> bool pump_until(P pred)
    {
        for (int i = 0; i < 30000 && !pred(); ++i) {
            (void)lew_dispatch_nonblocking(iptrackd_lwc, nullptr, nullptr);
            if (!pred()) usleep(1000);
        }
        return pred();
    }

    // Sends an event from the provider to the daemon.
    void send_event(const char *name,
                    const std::vector<std::tuple<std::string, bn_type, std::string>> &bindings)
    {
        mgmtd.run([&] {
            owned<bn_request> ev;
            ASSERT_EQ(0, bn_event_request_msg_create(ev.out(), name));
            for (const auto &[n, t, v] : bindings)
                ASSERT_EQ(0, bn_event_request_msg_append_new_binding(ev.get(), 0, n.c_str(), t,
                                                                     v.c_str(), nullptr));
            ASSERT_EQ(0, bn_request_msg_send(mgmtd.session("iptrackd"), ev.get()));
        });
    }

    // Sends a request from the provider to the daemon; its id.
    uint32 send_request(bn_request *req)
    {
        mgmtd.run([&] { ASSERT_EQ(0, bn_request_msg_send(mgmtd.session("iptrackd"), req)); });
        return req->msg_id;
    }
};

TEST_F(MgmtSession, NoProviderIsReportedOnlyAsUnableToConnect)
{
    // Nothing listens in the private socket directory: six refused attempts,
    // paused on a manual clock.
    LogCapture cap;
    lt_clock_set_manual_for_tests(0, 0);
    gcl_set_retry_pause_for_tests([](uint32 ms) { lt_clock_advance_for_tests(ms); });
    EXPECT_EQ(lc_err_io_error, iptrackd_mgmt_init());
    gcl_set_retry_pause_for_tests(nullptr);
    lt_clock_restore_for_tests();
    EXPECT_EQ(1u, cap.count("Unable to connect to the management daemon")) << cap.dump();
    EXPECT_EQ(5u, cap.count("Could not connect to provider; delaying and retrying."));
    EXPECT_FALSE(cap.contains("Error code")) << cap.dump();
}

TEST_F(MgmtSession, TransportWithoutSessionFailsSilently)
{
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    bn_response *resp = reinterpret_cast<bn_response *>(1);
    LogCapture cap;
    EXPECT_EQ(lc_err_generic_error, iptrackd_mgmt_msg_handler(nullptr, nullptr, req.get(), &resp));
    EXPECT_EQ(nullptr, resp);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

TEST_F(MgmtSession, StrayResponsesAreLoggedAndDropped)
{
    ASSERT_NO_FATAL_FAILURE(start("set /a/x string 1\n"));
    LogCapture cap;
    mgmtd.run([&] {
        ASSERT_EQ(0, mgmtd.send_response(mgmtd.session("iptrackd"), bbmt_action_response, 4242));
    });
    ASSERT_TRUE(pump_until([&] { return cap.contains("when no response was expected"); }))
        << cap.dump();
    EXPECT_EQ(1u,
              cap.count("Got response to request 4242 when no response was expected; ignoring"));

    // While a query waits, the provider answers first with a stray id, then
    // properly: the wait stays pending through the stray one.
    mgmtd.intercept = [&](gcl_session *s, const bn_request *req) {
        EXPECT_EQ(0, mgmtd.send_response(s, bbmt_query_response, req->msg_id + 100));
        EXPECT_EQ(0, mgmtd.answer(s, req));
        return true;
    };
    owned<bn_binding> b;
    ASSERT_EQ(0, mdc_get_binding(iptrackd_mcc, nullptr, nullptr, 0, b.out(), "/a/x", nullptr));
    EXPECT_EQ("1", value_of(b.get()));
    const uint32 id = mgmtd.requests().back()->msg_id;
    const std::string line = "Got response to request " + std::to_string(id + 100) +
                             ", but was expecting response to request " + std::to_string(id) +
                             "; ignoring";
    EXPECT_EQ(1u, cap.count(line)) << cap.dump();
}

// A timer that fires while a request waits sends a request of its own.
struct NestedRequest {
    lew_event *timer = nullptr;
    owned<bn_binding> result;
    int err = -1;
    static int fire(int, lew_event_type, void *data, lew_context *)
    {
        auto *self = static_cast<NestedRequest *>(data);
        self->err = mdc_get_binding(iptrackd_mcc, nullptr, nullptr, 0, self->result.out(),
                                    "/inner/x", nullptr);
        return 0;
    }
};

TEST_F(MgmtSession, NestedRequestsEachGetTheirOwnResponse)
{
    ASSERT_NO_FATAL_FAILURE(start("set /outer/x string outer\nset /inner/x string inner\n"));
    // The outer query is held until the inner one arrives; then the outer
    // answer goes out first, while the inner request is the one waiting.
    const bn_request *held = nullptr;
    gcl_session *held_session = nullptr;
    owned<bn_request> held_copy;
    mgmtd.intercept = [&](gcl_session *s, const bn_request *req) {
        const std::string name =
            ts_str(bn_request_per_node_array_get_quick(req->nodes, 0)->binding->name);
        if (name == "/outer/x") {
            EXPECT_EQ(0, bn_request_msg_dup(req, held_copy.out()));
            held = held_copy.get();
            held_session = s;
            return true;
        }
        EXPECT_NE(nullptr, held);
        EXPECT_EQ(0, mgmtd.answer(held_session, held));
        EXPECT_EQ(0, mgmtd.answer(s, req));
        return true;
    };
    NestedRequest nested;
    ASSERT_EQ(0,
              lew_event_reg_timer(iptrackd_lwc, &nested.timer, NestedRequest::fire, &nested, 20));

    LogCapture cap;
    owned<bn_binding> outer;
    ASSERT_EQ(0,
              mdc_get_binding(iptrackd_mcc, nullptr, nullptr, 0, outer.out(), "/outer/x", nullptr));
    EXPECT_EQ("outer", value_of(outer.get()));
    EXPECT_EQ(0, nested.err);
    EXPECT_EQ("inner", value_of(nested.result.get()));
    EXPECT_EQ(1u, cap.count("Required condition was not met")) << cap.dump();
    EXPECT_FALSE(cap.contains("Got response to request")) << cap.dump();
    EXPECT_EQ(0u, iptrackd_mgmt_waiting_requests_for_tests());
}

TEST_F(MgmtSession, OtherEventsGoToTheirHandlers)
{
    ASSERT_NO_FATAL_FAILURE(start());
    LogCapture cap;
    send_event("/time/notify/zonechange", {});
    send_event("/qz/tunneld/system/events/if_change", {{"ifname", bt_string, "eth0"}});
    send_event("/some/other/event", {});
    ASSERT_TRUE(pump_until([&] { return cap.contains("Received unexpected event"); }))
        << cap.dump();
    EXPECT_EQ(1u, cap.count("Time zone change handled OK"));
    EXPECT_TRUE(cap.contains("Received event: /qz/tunneld/system/events/if_change"));
    EXPECT_EQ(1u, cap.count("iptrackd_mgmt_handle_event_request: Received unexpected event "
                            "/some/other/event"));
    EXPECT_FALSE(cap.contains("Unsupported binding"));
    EXPECT_FALSE(cap.contains("IPTRACK Modify config complete"));
}

TEST_F(MgmtSession, QueriesAndActionsWaitForReadiness)
{
    ASSERT_NO_FATAL_FAILURE(start());
    std::vector<std::pair<uint16, uint32>> answers; // type, request id
    auto record = [](gcl_session *, bn_response *r, void *d) {
        static_cast<decltype(answers) *>(d)->push_back({r->msg_type, r->req_msg_id});
        return 0;
    };
    mgmtd.run([&] {
        gcl_session *s = mgmtd.session("iptrackd");
        ASSERT_EQ(0, bn_set_session_callback_query_response_msg(s, record, &answers));
        ASSERT_EQ(0, bn_set_session_callback_action_response_msg(s, record, &answers));
    });
    auto query = [&] {
        owned<bn_request> q;
        EXPECT_EQ(0, bn_query_request_msg_create(q.out(), 0, nullptr));
        EXPECT_EQ(0, bn_query_request_msg_append_str(q.get(), bqso_get, 0,
                                                     "/qz/iptrackd/state/unknown", nullptr));
        return send_request(q.get());
    };
    auto action = [&] {
        owned<bn_request> a;
        EXPECT_EQ(0, bn_action_request_msg_create(a.out(), "/qz/iptrackd/action/nothing"));
        return send_request(a.get());
    };
    auto answered = [&] {
        size_t n = 0;
        mgmtd.run([&] { n = answers.size(); });
        return n;
    };

    LogCapture cap;
    query();
    action();
    ASSERT_TRUE(pump_until([&] { return cap.contains("Discard action req"); })) << cap.dump();
    EXPECT_TRUE(cap.contains("Received action /qz/iptrackd/action/nothing"));
    EXPECT_EQ(1u, cap.count("Discard action req - Iptrackd daemon is not ready"));
    EXPECT_EQ(1u, cap.count("iptrackd_mgmt_handle_query_request: initialization not finished"));
    EXPECT_EQ(0u, answered());

    m_daemon_status = iptrackd_status_ready;
    const uint32 qid = query();
    const uint32 aid = action();
    ASSERT_TRUE(pump_until([&] { return answered() == 2; })) << cap.dump();
    mgmtd.run([&] {
        EXPECT_EQ((std::pair<uint16, uint32>{bbmt_query_response, qid}), answers[0]);
        EXPECT_EQ((std::pair<uint16, uint32>{bbmt_action_response, aid}), answers[1]);
    });
}

TEST_F(MgmtSession, ClosingDuringTheExitIsSilent)
{
    ASSERT_NO_FATAL_FAILURE(start());
    LogCapture cap;
    iptrackd_exiting = 1;
    mgmtd.run([&] { (void)gcl_session_close(mgmtd.session("iptrackd")); });
    ASSERT_TRUE(pump_until([&] { return cap.contains("detected socket close"); })) << cap.dump();
    EXPECT_FALSE(cap.contains("Lost connection")) << cap.dump();
}

} // namespace
