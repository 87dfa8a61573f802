// The client transport against the in-process stand-in over real sockets:
// bring-up, the blocking wait and its limit, answers matched by request id,
// and queries that mgmtd forwards to the client.
#include "mgmt/mdc_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "mdc_test_fixture.h"
#include "support/log_capture.h"
#include "support/mgmt_test_provider.h"

namespace
{

using namespace mdc_test;

TEST(MdcTransport, ClientCallsTravelTheSocketAndMatchTheirAnswers)
{
    TestMgmtd mgmtd;
    ASSERT_TRUE(mgmtd.start("set /qz/tunneld/system/state/is_alive string Ready\n"));
    TestMgmtClient client;
    ASSERT_TRUE(client.open());
    EXPECT_EQ(mts_ready, mdc_transport_get_stage(client.transport()));

    // A stray answer first: logged, and the wait goes on to its own.
    bool strayed = false;
    mgmtd.intercept = [&](gcl_session *s, const bn_request *req) {
        if (!std::exchange(strayed, true)) {
            EXPECT_EQ(0, mgmtd.send_response(s, bbmt_query_response, req->msg_id + 5));
        }
        return false;
    };
    LogCapture cap;
    owned<tstring> state;
    tbool found = false;
    ASSERT_EQ(0, mdc_get_binding_tstr(client.mcc(), nullptr, nullptr, &found, state.out(),
                                      "/qz/tunneld/system/state/is_alive", nullptr));
    ASSERT_TRUE(found);
    EXPECT_STREQ("Ready", ts_str(state.get()));
    const uint32 id = mgmtd.requests().back()->msg_id;
    EXPECT_EQ(1u, cap.count("Got response to request " + std::to_string(id + 5) +
                            ", but was expecting response to request " + std::to_string(id) +
                            "; ignoring"))
        << cap.dump();

    owned<bn_binding> none;
    ASSERT_EQ(
        0, mdc_get_binding(client.mcc(), nullptr, nullptr, 0, none.out(), "/qz/sysd/x", nullptr));
    EXPECT_EQ(nullptr, none.get());

    // A refused action is a code in the answer, not a failure.
    uint32 code = 0;
    ASSERT_EQ(0, mdc_send_action_with_bindings_str_va(client.mcc(), &code, nullptr,
                                                      "/mgmtd/events/actions/interest/add", 0));
    EXPECT_NE(0u, code);
    EXPECT_EQ(bn_service_mgmt, mgmtd.requests().back()->service_id);
    EXPECT_EQ(0u, mdc_transport_waiting_requests(client.transport()));
}

TEST(MdcTransport, UnansweredRequestEndsAtTheLimitAndTheSessionGoesOn)
{
    TestMgmtd mgmtd;
    ASSERT_TRUE(mgmtd.start("set /a string 1\n"));
    mdc_transport_params params;
    params.mtp_client_name = "mdc-test";
    params.mtp_connect_retry = mdc_connect_once;
    params.mtp_timeout_ms = 100;
    owned<mdc_transport> t;
    ASSERT_EQ(0, mdc_transport_new(&params, t.out()));
    ASSERT_EQ(0, mdc_transport_connect(t.get()));

    bool swallow = true;
    mgmtd.intercept = [&](gcl_session *, const bn_request *) {
        return std::exchange(swallow, false);
    };
    owned<bn_binding> b;
    EXPECT_EQ(lc_err_io_timeout, mdc_get_binding(mdc_transport_get_client(t.get()), nullptr,
                                                 nullptr, 0, b.out(), "/a", nullptr));
    EXPECT_EQ(0u, mdc_transport_waiting_requests(t.get()));
    ASSERT_EQ(0, mdc_get_binding(mdc_transport_get_client(t.get()), nullptr, nullptr, 0, b.out(),
                                 "/a", nullptr));
    EXPECT_NE(nullptr, b.get());
}

TEST(MdcTransport, WithoutAProviderOnlyTheOperatorsLineIsLogged)
{
    TestMgmtd mgmtd; // a private socket directory with nobody listening
    ASSERT_TRUE(mgmtd.start());
    mdc_transport_params params;
    params.mtp_client_name = "mdc-test";
    params.mtp_provider_name = "nobody";
    params.mtp_connect_retry = mdc_connect_once;
    owned<mdc_transport> t;
    ASSERT_EQ(0, mdc_transport_new(&params, t.out()));
    LogCapture cap;
    EXPECT_EQ(lc_err_io_error, mdc_transport_connect(t.get()));
    EXPECT_EQ(mts_session, mdc_transport_get_stage(t.get()));
    EXPECT_EQ(1u, cap.count("Unable to connect to the management daemon")) << cap.dump();
    EXPECT_FALSE(cap.contains("Error code"));

    // Without a session nothing is sent and nothing is logged.
    owned<bn_request> req;
    ASSERT_EQ(0, bn_event_request_msg_create(req.out(), "/e"));
    cap.clear();
    EXPECT_EQ(lc_err_generic_error, mdc_transport_send_oneway(nullptr, req.get()));
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}

int mon_get(const char *name, const tstr_array *, void *, bn_binding_array *out)
{
    owned<bn_binding> b;
    bail_error(bn_binding_new_str(b.out(), name, ba_value, bt_string, 0, "Ready"));
    bn_binding *p = b.release();
    return bn_binding_array_append_takeover(out, &p);
}

bool g_dispatched = false;
int dispatch(gcl_session *s, bn_request *req, void *)
{
    g_dispatched = true;
    return mdc_dispatch_mon_request(s, req, mon_get, nullptr, nullptr, nullptr);
}

int keep(gcl_session *, bn_response *msg, void *data)
{
    return bn_response_msg_dup(msg, static_cast<owned<bn_response> *>(data)->out());
}

TEST(MdcTransport, ForwardedQueryIsAnsweredOverTheSession)
{
    TestMgmtd mgmtd;
    ASSERT_TRUE(mgmtd.start());
    mdc_transport_params params;
    params.mtp_client_name = "iptrackd";
    params.mtp_connect_retry = mdc_connect_once;
    params.mtp_query_request = dispatch;
    owned<mdc_transport> t;
    ASSERT_EQ(0, mdc_transport_new(&params, t.out()));
    ASSERT_EQ(0, mdc_transport_connect(t.get()));

    owned<bn_response> answer;
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    ASSERT_EQ(0,
              bn_query_request_msg_append_str(req.get(), 9, 0, "/qz/iptrackd/state/odd", nullptr));
    ASSERT_EQ(0, bn_query_request_msg_append_str(req.get(), bqso_get, 0,
                                                 "/qz/iptrackd/state/is_alive", nullptr));
    LogCapture cap;
    mgmtd.run([&] {
        gcl_session *s = mgmtd.session("iptrackd");
        ASSERT_EQ(0, bn_set_session_callback_query_response_msg(s, keep, &answer));
        ASSERT_EQ(0, bn_request_msg_send(s, req.get()));
    });
    g_dispatched = false;
    while (!g_dispatched) ASSERT_EQ(0, mdc_transport_pump(t.get(), 20000));
    bool got = false;
    for (int i = 0; i < 20000 && !got; ++i) {
        mgmtd.run([&] { got = answer.get() != nullptr; });
        if (!got) usleep(1000);
    }
    ASSERT_TRUE(got);
    EXPECT_TRUE(cap.contains(
        "Unexpected query subop 9; ignoring request for binding /qz/iptrackd/state/odd"));
    mgmtd.run([&] {
        uint32 req_id = 0;
        ASSERT_EQ(0, bn_response_get_msg_ids(answer.get(), &req_id, nullptr));
        EXPECT_EQ(bn_request_get_msg_id(req.get()), req_id);
        owned<bn_binding_array> bindings;
        ASSERT_EQ(0, bn_response_get_bindings(answer.get(), true, bindings.out()));
        EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/state/is_alive"}),
                  names_of(bindings.get()));
    });
}

} // namespace
