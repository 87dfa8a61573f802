// Messages over real sessions: a provider and a client in one loop, over
// the real socket path in a private directory.  Requests get their ids from
// the session, answers reach the session's callback before the global
// one, messages without a callback or for a service that is not open are
// dropped with their lines.
#include <gtest/gtest.h>

#include <string>

#include "bnode_proto_test_helpers.h"
#include "gcl_test_support.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "session_pair_fixture.h"

namespace
{

using gcl_test::Loop;
using Pair = gcl_test::SessionPair;

struct Seen {
    int calls = 0;
    owned<bn_request> request;
    owned<bn_response> response;
    gcl_session *session = nullptr;
};

int keep_request(gcl_session *s, bn_request *msg, void *data)
{
    auto *seen = static_cast<Seen *>(data);
    ++seen->calls;
    seen->session = s;
    return bn_request_msg_dup(msg, seen->request.out());
}

int keep_response(gcl_session *s, bn_response *msg, void *data)
{
    auto *seen = static_cast<Seen *>(data);
    ++seen->calls;
    seen->session = s;
    return bn_response_msg_dup(msg, seen->response.out());
}

// The provider answers each action with one result binding.
int answer_action(gcl_session *s, bn_request *msg, void *data)
{
    (void)keep_request(s, msg, data);
    owned<bn_response> resp;
    bail_error(bn_action_response_msg_create(resp.out(), msg->msg_id, 0, nullptr));
    bail_error(bn_action_response_set_param(resp.get(), "result", bt_string, "done"));
    return bn_response_msg_send(s, resp.get());
}

TEST(BnProtoSession, ActionRoundTripWithSessionIds)
{
    Pair p;
    Seen at_provider, at_client, global_client;
    ASSERT_EQ(0,
              bn_set_global_callback_action_request_msg(p.loop.gcl, answer_action, &at_provider));
    ASSERT_EQ(
        0, bn_set_global_callback_action_response_msg(p.loop.gcl, keep_response, &global_client));
    ASSERT_EQ(0, bn_set_session_callback_action_response_msg(p.client, keep_response, &at_client));
    ASSERT_EQ(0, bn_session_set_audit_user_info(p.client, "admin"));

    proto_test::Lines log(LCL_DEBUG);
    for (uint32 round = 0; round < 2; ++round) {
        owned<bn_request> req;
        ASSERT_EQ(0, bn_action_request_msg_create(req.out(), "/qz/iptrackd/action/ip_mon"));
        ASSERT_EQ(0, bn_action_request_msg_append_new_binding(req.get(), 0, "op_name", bt_string,
                                                              "op1", nullptr));
        ASSERT_EQ(0, bn_request_msg_send(p.client, req.get()));
        // Ids come from the session's counter: message n, transaction n+1.
        EXPECT_EQ(bn_request_get_msg_id(req.get()), 1 + round);
        EXPECT_EQ(req->transaction_id, 2 + round);
        EXPECT_EQ(req->service_id, bn_service_mgmt);
        ASSERT_TRUE(p.loop.run_until([&] { return at_client.calls == int(round) + 1; }));
    }
    // Sent messages are dumped with the session they go out on.
    int32 cid = 0;
    ASSERT_EQ(0, gcl_session_get_id(p.client, &cid));
    EXPECT_EQ(log.count("SEND REQ: session " + std::to_string(cid) +
                        " (mgmtd) service 2 type 5 (action_request) msg id 2"),
              1u)
        << log.dump();
    EXPECT_EQ(log.count("SEND RESP: session "), 2u);
    ASSERT_TRUE(at_provider.request);
    EXPECT_EQ(at_provider.session, p.accepted);
    EXPECT_STREQ(ts_str(at_provider.request->audit_user_info), "admin");
    const bn_binding *param = nullptr;
    ASSERT_EQ(0, bn_request_get_param(at_provider.request.get(), "op_name", &param));
    ASSERT_NE(param, nullptr);

    uint32 req_id = 0;
    ASSERT_EQ(0, bn_response_get_msg_ids(at_client.response.get(), &req_id, nullptr));
    EXPECT_EQ(req_id, 2u);
    const bn_binding *result = nullptr;
    ASSERT_EQ(0, bn_response_get_binding_by_name(at_client.response.get(), "result", &result));
    EXPECT_NE(result, nullptr);
    EXPECT_EQ(global_client.calls, 0); // the session's callback came first
}

TEST(BnProtoSession, UnansweredTypesAndClosedServicesAreDroppedWithALine)
{
    Pair p;
    proto_test::Lines log(LCL_WARNING);
    owned<bn_request> ev;
    ASSERT_EQ(0, bn_event_request_msg_create(ev.out(), "/e"));
    ASSERT_EQ(0, bn_request_msg_send(p.client, ev.get()));
    const std::string no_cb =
        gcl_test::session_line(p.accepted, "proto bnode: no event request callback");
    ASSERT_TRUE(p.loop.run_until([&] { return log.count(no_cb) == 1; })) << log.dump();

    owned<bn_response> resp;
    ASSERT_EQ(0, bn_query_response_msg_create(resp.out(), 9, 14001, "bad"));
    ASSERT_EQ(0, bn_response_msg_send(p.accepted, resp.get()));
    const std::string no_resp_cb = gcl_test::session_line(
        p.client, "proto bnode: no query response callback: code = 14001 msg = bad");
    ASSERT_TRUE(p.loop.run_until([&] { return log.count(no_resp_cb) == 1; })) << log.dump();

    owned<bn_request> other;
    ASSERT_EQ(0, bn_event_request_msg_create(other.out(), "/e"));
    ASSERT_EQ(0, bn_request_set_service_id(other.get(), 3));
    ASSERT_EQ(0, bn_request_msg_send(p.client, other.get()));
    const std::string not_open = gcl_test::session_line(p.accepted, "service 3 not open: 2");
    ASSERT_TRUE(p.loop.run_until([&] { return log.count(not_open) == 1; })) << log.dump();
}

TEST(BnProtoSession, AMessageThatDoesNotDecodeIsDroppedAndTheSessionGoesOn)
{
    Pair p;
    Seen at_provider, at_client;
    ASSERT_EQ(0,
              bn_set_global_callback_action_request_msg(p.loop.gcl, answer_action, &at_provider));
    ASSERT_EQ(0, bn_set_session_callback_action_response_msg(p.client, keep_response, &at_client));
    proto_test::Lines log;
    // Service 2, type 5, then a header cut short.
    const uint8 bad[] = {0x00, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00};
    ASSERT_EQ(0, gcl_session_send_frame_components(p.client, gcl_body_proto_bnode,
                                                   bbmt_action_request, sizeof bad, bad));
    ASSERT_TRUE(p.loop.run_until([&] {
        return log.count("Bail forced with error code 14011") == 1;
    })) << log.dump();
    EXPECT_EQ(at_provider.calls, 0);

    owned<bn_request> req;
    ASSERT_EQ(0, bn_action_request_msg_create(req.out(), "/a"));
    ASSERT_EQ(0, bn_request_msg_send(p.client, req.get()));
    ASSERT_TRUE(p.loop.run_until([&] { return at_client.calls == 1; }));
    EXPECT_EQ(log.count("Error code"), 0u) << log.dump();
}

TEST(BnProtoSession, NotConnectedDropsWithSuccess)
{
    Loop loop;
    ASSERT_EQ(0, gcl_bn_init(loop.gcl));
    EXPECT_EQ(lc_err_exists, gcl_bn_init(loop.gcl));
    gcl_session *s = nullptr;
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
    proto_test::Lines log(LCL_INFO);
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    EXPECT_EQ(0, bn_request_msg_send(s, req.get()));
    int32 id = 0;
    ASSERT_EQ(0, gcl_session_get_id(s, &id));
    EXPECT_EQ(log.count("Dropping request to non-connected session " + std::to_string(id)), 1u)
        << log.dump();
    EXPECT_EQ(0, bn_response_msg_create_send(s, bbmt_query_response, 1, 0, nullptr));
    EXPECT_EQ(log.count("Dropping response to non-connected session " + std::to_string(id)), 1u);
    gcl_session_free(&s);
}

} // namespace
