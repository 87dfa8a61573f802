// A management client of the in-process stand-in (support/
// mgmt_test_provider.h), for the tests of the client calls: queries are
// answered from the stand-in's database; set, action and event requests
// get the code, message and result bindings the test chose; the transport
// can be made to fail or to lose the response.  Every request is seen as
// the stand-in decoded it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "bnode/bnode_test_helpers.h"
#include "mgmt/mdc_main.h"
#include "mgmt/mdc_misc.h"
#include "support/mgmt_test_provider.h"

namespace mdc_test
{

// Appends a binding with the value given as text.
inline void add(bn_binding_array *a, const char *name, bn_type type, const char *value)
{
    owned<bn_binding> b;
    ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
    bn_binding *p = b.release();
    ASSERT_EQ(0, bn_binding_array_append_takeover(a, &p));
}

struct Responder {
    // What set, action and event requests get back.
    uint32 code = 0;
    std::string msg;
    owned<bn_binding_array> results;
    // Non-zero: the transport fails with it before anything is sent.
    int transport_error = 0;
    // The transport succeeds but hands back no response.
    bool lose_response = false;
    // Iterate queries are answered in reverse name order.
    bool reverse_iterate = false;

    TestMgmtd mgmtd;
    TestMgmtClient client;

    Responder()
    {
        EXPECT_EQ(0, bn_binding_array_new(results.out()));
        mgmtd.intercept = [this](gcl_session *s, const bn_request *req) {
            if (req->msg_type == bbmt_query_request)
                return reverse_iterate && answer_reversed(s, req) == 0;
            return answer_chosen(s, req) == 0;
        };
        EXPECT_TRUE(mgmtd.start());
        EXPECT_TRUE(client.open());
    }

    // Sets a node of the stand-in's database.
    void add(const char *name, bn_type type, const char *value)
    {
        owned<bn_binding> b;
        ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
        int err = -1;
        std::string why;
        mgmtd.run([&] {
            std::vector<mgmtd::db_change> changes;
            err = mgmtd.db()->apply({mgmtd::set_op{bsso_modify, b.get()}}, &changes, &why);
        });
        ASSERT_EQ(0, err) << why;
    }

    void add_result(const char *name, bn_type type, const char *value)
    {
        std::lock_guard lk(mu);
        mdc_test::add(results.get(), name, type, value);
    }

    // The requests the stand-in received, in order.
    std::vector<const bn_request *> seen() { return mgmtd.requests(); }
    const bn_request *last() { return mgmtd.num_requests() ? mgmtd.requests().back() : nullptr; }

    // Answers `req` with the bindings given, last first when `reversed`.
    static int answer(gcl_session *s, const bn_request *req, uint32 rc, const std::string &text,
                      const bn_binding_array *bindings, bool reversed)
    {
        owned<bn_response> resp;
        bail_error(bn_response_msg_create(resp.out(), bn_request_msg_response_msg_type(req),
                                          req->msg_id, rc, text.empty() ? nullptr : text.c_str()));
        bail_error(bn_response_fix_for_request(resp.get(), req));
        const uint32 m = bn_binding_array_length_quick(bindings);
        for (uint32 j = 0; j < m; ++j)
            bail_error(bn_response_msg_append_binding(
                resp.get(), bn_binding_array_get_quick(bindings, reversed ? m - 1 - j : j),
                nullptr));
        return bn_response_msg_send(s, resp.get());
    }

    int answer_chosen(gcl_session *s, const bn_request *req)
    {
        std::lock_guard lk(mu);
        return answer(s, req, code, msg, results.get(), false);
    }

    int answer_reversed(gcl_session *s, const bn_request *req)
    {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(req->nodes, 0);
        owned<bn_binding_array> found;
        bail_error(bn_binding_array_new(found.out()));
        bail_error(mgmtd.db()->iterate(ts_str(node->binding->name), node->node_flags & mdqf_subtree,
                                       found.get()));
        return answer(s, req, 0, "", found.get(), true);
    }

    static int transport(void *data, gcl_session *, bn_request *request, bn_response **ret)
    {
        *ret = nullptr;
        auto *self = static_cast<Responder *>(data);
        if (self->transport_error) return self->transport_error;
        bail_error(mdc_transport_request(self->client.transport(), request, ret));
        if (self->lose_response) bn_response_msg_free(ret);
        return 0;
    }

    std::mutex mu;
};

// A client bound to a responder.
struct Client : ::testing::Test {
    Responder r;
    owned<md_client_context> mcc;

    void SetUp() override
    {
        ASSERT_EQ(0, mdc_init(Responder::transport, &r, nullptr, nullptr, nullptr, mcc.out()));
    }
};

// The decoded nodes of a request, for checks.
inline const bn_request_per_node *node_of(const bn_request *req, uint32 i)
{
    return bn_request_per_node_array_get_quick(req->nodes, i);
}
inline uint32 node_count(const bn_request *req)
{
    return bn_request_per_node_array_length_quick(req->nodes);
}
using bnode_test::name_of;
using bnode_test::names_of;
using bnode_test::value_of;

} // namespace mdc_test
