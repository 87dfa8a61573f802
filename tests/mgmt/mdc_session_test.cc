// The management client over a real session: a provider standing in for
// mgmtd and the client in one loop, over the real socket path in a private
// directory.  The client's calls go through a transport that sends on the
// session and runs the loop until the matching answer arrives, as a
// daemon's does; queries the provider forwards are answered by the
// dispatcher and the answer comes back over the socket.
#include <gtest/gtest.h>

#include <string>

#include "gcl_test_support.h"
#include "mdc_test_fixture.h"
#include "mgmt/gcl.h"
#include "session_pair_fixture.h"
#include "support/log_capture.h"

namespace
{

using gcl_test::Loop;
using Pair = gcl_test::SessionPair;
using namespace mdc_test;

// A synchronous transport with one pending-response slot.
struct Slot {
    Loop *loop = nullptr;
    bool pending = false;
    uint32 expect = 0;
    owned<bn_response> got;

    static int transport(void *data, gcl_session *s, bn_request *req, bn_response **ret)
    {
        *ret = nullptr;
        auto *self = static_cast<Slot *>(data);
        bail_error(bn_request_msg_send(s, req));
        self->pending = true;
        self->expect = bn_request_get_msg_id(req);
        if (!self->loop->run_until([&] { return !self->pending; })) return lc_err_io_timeout;
        *ret = self->got.release();
        return 0;
    }
    static int on_response(gcl_session *, bn_response *msg, void *data)
    {
        auto *self = static_cast<Slot *>(data);
        if (!self->pending || msg->req_msg_id != self->expect) return 0;
        self->pending = false;
        return bn_response_msg_dup(msg, self->got.out());
    }
};

// The provider answers queries from the responder's database and actions
// with its code and results.
int provider_answer(gcl_session *s, bn_request *req, void *data)
{
    auto *r = static_cast<Responder *>(data);
    owned<bn_response> resp;
    bail_error(bn_response_msg_create(resp.out(), bn_request_msg_response_msg_type(req),
                                      req->msg_id, 0, nullptr));
    bail_error(bn_response_fix_for_request(resp.get(), req));
    if (req->msg_type == bbmt_query_request)
        bail_error(r->answer_query(req, resp.get()));
    else
        bail_error(bn_response_msg_set_return_code_msg(resp.get(), r->code, nullptr));
    owned<bn_request> copy;
    bail_error(bn_request_msg_dup(req, copy.out()));
    r->seen.push_back(std::move(copy));
    return bn_response_msg_send(s, resp.get());
}

} // namespace

TEST(MdcOverSession, ClientCallsTravelTheSocketAndMatchTheirAnswers)
{
    Pair p;
    Responder r;
    r.add("/qz/tunneld/system/state/is_alive", bt_string, "Ready");
    Slot slot;
    slot.loop = &p.loop;
    ASSERT_EQ(0, bn_set_session_callback_query_request_msg(p.accepted, provider_answer, &r));
    ASSERT_EQ(0, bn_set_session_callback_action_request_msg(p.accepted, provider_answer, &r));
    ASSERT_EQ(0, bn_set_session_callback_query_response_msg(p.client, Slot::on_response, &slot));
    ASSERT_EQ(0, bn_set_session_callback_action_response_msg(p.client, Slot::on_response, &slot));

    owned<md_client_context> mcc;
    ASSERT_EQ(0, mdc_init(Slot::transport, &slot, nullptr, nullptr, p.client, mcc.out()));

    owned<tstring> state;
    tbool found = false;
    ASSERT_EQ(0, mdc_get_binding_tstr(mcc.get(), nullptr, nullptr, &found, state.out(),
                                      "/qz/tunneld/system/state/is_alive", nullptr));
    ASSERT_TRUE(found);
    EXPECT_STREQ("Ready", ts_str(state.get()));

    owned<bn_binding> none;
    ASSERT_EQ(0,
              mdc_get_binding(mcc.get(), nullptr, nullptr, 0, none.out(), "/qz/sysd/x", nullptr));
    EXPECT_EQ(nullptr, none.get());

    r.code = lc_err_not_found;
    uint32 code = 0;
    ASSERT_EQ(0, mdc_send_action_with_bindings_str_va(
                     mcc.get(), &code, nullptr, "/mgmtd/events/actions/interest/add", 1,
                     "event_name", bt_name, "/qz/tunneld/system/events/if_change"));
    EXPECT_EQ(uint32{lc_err_not_found}, code);
    ASSERT_EQ(3u, r.seen.size());
    EXPECT_EQ(bn_service_mgmt, r.seen[2]->service_id);
    EXPECT_EQ("/qz/tunneld/system/events/if_change",
              value_of(node_of(r.seen[2].get(), 0)->binding));
}

namespace
{

int mon_get(const char *name, const tstr_array *, void *, bn_binding_array *out)
{
    owned<bn_binding> b;
    bail_error(bn_binding_new_str(b.out(), name, ba_value, bt_string, 0, "Ready"));
    bn_binding *p = b.release();
    return bn_binding_array_append_takeover(out, &p);
}

int dispatch(gcl_session *s, bn_request *req, void *)
{
    return mdc_dispatch_mon_request(s, req, mon_get, nullptr, nullptr, nullptr);
}

int keep(gcl_session *, bn_response *msg, void *data)
{
    return bn_response_msg_dup(msg, static_cast<owned<bn_response> *>(data)->out());
}

} // namespace

TEST(MdcOverSession, ForwardedQueryIsAnsweredOverTheSession)
{
    Pair p;
    owned<bn_response> answer;
    ASSERT_EQ(0, bn_set_session_callback_query_request_msg(p.client, dispatch, nullptr));
    ASSERT_EQ(0, bn_set_session_callback_query_response_msg(p.accepted, keep, &answer));

    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    ASSERT_EQ(0,
              bn_query_request_msg_append_str(req.get(), 9, 0, "/qz/iptrackd/state/odd", nullptr));
    ASSERT_EQ(0, bn_query_request_msg_append_str(req.get(), bqso_get, 0,
                                                 "/qz/iptrackd/state/is_alive", nullptr));
    LogCapture cap;
    ASSERT_EQ(0, bn_request_msg_send(p.accepted, req.get()));
    ASSERT_TRUE(p.loop.run_until([&] { return answer.get() != nullptr; })) << cap.dump();

    EXPECT_TRUE(cap.contains(
        "Unexpected query subop 9; ignoring request for binding /qz/iptrackd/state/odd"));
    uint32 req_id = 0;
    ASSERT_EQ(0, bn_response_get_msg_ids(answer.get(), &req_id, nullptr));
    EXPECT_EQ(bn_request_get_msg_id(req.get()), req_id);
    owned<bn_binding_array> got;
    ASSERT_EQ(0, bn_response_get_bindings(answer.get(), true, got.out()));
    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/state/is_alive"}), names_of(got.get()));
}

TEST(MdcOverSession, DispatchRefusesANullSession)
{
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    LogCapture cap;
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_dispatch_mon_request(nullptr, req.get(), mon_get, nullptr, nullptr, nullptr));
}
