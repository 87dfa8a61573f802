// A management client wired to an in-process responder over the real byte
// path: the transport encodes each request with the message codec, the
// responder decodes it, records it, answers from a small node database and
// encodes the answer, and the transport decodes that.  Nothing is mocked
// between the client and the bytes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mgmt/mdc_main.h"
#include "mgmt/mdc_misc.h"
#include "util/tbuffer.h"

namespace mdc_test
{

struct Responder {
    // The node database answered from: "get" returns the binding of that
    // name, "iterate" the immediate children, or the whole subtree when the
    // node flags carry mdqf_subtree.
    owned<bn_binding_array> db;
    // What set, action and event requests get back.
    uint32 code = 0;
    std::string msg;
    owned<bn_binding_array> results;
    // Non-zero: the transport fails with it before anything is encoded.
    int transport_error = 0;
    // The transport succeeds but hands back no response.
    bool lose_response = false;
    // Every request as the responder decoded it.
    std::vector<owned<bn_request>> seen;
    uint32 next_msg_id = 500;

    Responder()
    {
        EXPECT_EQ(0, bn_binding_array_new(db.out()));
        EXPECT_EQ(0, bn_binding_array_new(results.out()));
    }

    void add(const char *name, bn_type type, const char *value)
    {
        owned<bn_binding> b;
        ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
        bn_binding *p = b.release();
        ASSERT_EQ(0, bn_binding_array_append_takeover(db.get(), &p));
    }

    void add_result(const char *name, bn_type type, const char *value)
    {
        owned<bn_binding> b;
        ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
        bn_binding *p = b.release();
        ASSERT_EQ(0, bn_binding_array_append_takeover(results.get(), &p));
    }

    const bn_request *last() const { return seen.empty() ? nullptr : seen.back().get(); }

    static bool below(const tstr_array *parent, const tstr_array *parts, bool subtree)
    {
        const uint32 n = tstr_array_length_quick(parent);
        const uint32 m = tstr_array_length_quick(parts);
        if (m <= n || (!subtree && m != n + 1)) return false;
        for (uint32 i = 0; i < n; ++i)
            if (ts_cmp(tstr_array_get_quick(parent, i), tstr_array_get_quick(parts, i)))
                return false;
        return true;
    }

    int answer_query(const bn_request *req, bn_response *resp)
    {
        const uint32 n = bn_request_per_node_array_length_quick(req->nodes);
        for (uint32 i = 0; i < n; ++i) {
            const bn_request_per_node *node = bn_request_per_node_array_get_quick(req->nodes, i);
            const char *name = ts_str(node->binding->name);
            owned<tstr_array> parent;
            bool abs = false;
            bail_error(bn_binding_name_to_parts(name, parent.out(), &abs));
            if (!parent) bail_error(tstr_array_new(parent.out(), nullptr));
            const uint32 m = bn_binding_array_length_quick(db.get());
            for (uint32 j = 0; j < m; ++j) {
                const bn_binding *b = bn_binding_array_get_quick(db.get(), j);
                bool take = false;
                if (node->subop == bqso_get) {
                    take = ts_cmp_str(b->name, name, false) == 0;
                } else {
                    owned<tstr_array> parts;
                    bail_error(bn_binding_get_name_parts(b, parts.out()));
                    take = below(parent.get(), parts.get(), node->node_flags & mdqf_subtree);
                }
                if (take) bail_error(bn_response_msg_append_binding(resp, b, nullptr));
            }
        }
        return 0;
    }

    // The responder's side: bytes in, bytes out.
    int serve(const uint8 *bytes, uint32 len, tbuf **ret)
    {
        owned<bn_request> req;
        bail_error(bn_request_msg_deserialize(bytes, len, req.out()));
        owned<bn_response> resp;
        bail_error(bn_response_msg_create(resp.out(), bn_request_msg_response_msg_type(req.get()),
                                          req->msg_id, 0, nullptr));
        bail_error(bn_response_fix_for_request(resp.get(), req.get()));
        if (req->msg_type == bbmt_query_request) {
            bail_error(answer_query(req.get(), resp.get()));
        } else {
            bail_error(bn_response_msg_set_return_code_msg(resp.get(), code,
                                                           msg.empty() ? nullptr : msg.c_str()));
            const uint32 m = bn_binding_array_length_quick(results.get());
            for (uint32 j = 0; j < m; ++j)
                bail_error(bn_response_msg_append_binding(
                    resp.get(), bn_binding_array_get_quick(results.get(), j), nullptr));
        }
        seen.push_back(std::move(req));
        return bn_response_msg_serialize(resp.get(), 0, ret);
    }

    static int transport(void *data, gcl_session *, bn_request *request, bn_response **ret)
    {
        *ret = nullptr;
        auto *self = static_cast<Responder *>(data);
        if (self->transport_error) return self->transport_error;
        bail_error(bn_request_set_msg_id(request, self->next_msg_id++));
        owned<tbuf> wire;
        bail_error(bn_request_msg_serialize(request, 0, wire.out()));
        owned<tbuf> answer;
        bail_error(self->serve(wire->bytes, wire->length, answer.out()));
        if (self->lose_response) return 0;
        return bn_response_msg_deserialize(answer->bytes, answer->length, ret);
    }
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
inline std::string name_of(const bn_binding *b)
{
    return b ? ts_str(b->name) : "(null)";
}
inline std::string value_of(const bn_binding *b)
{
    owned<tstring> v;
    if (!b || bn_binding_get_tstr(b, ba_value, 0, nullptr, v.out()) != 0 || !v) return "(none)";
    return ts_str(v.get());
}
inline std::vector<std::string> names_of(const bn_binding_array *a)
{
    std::vector<std::string> out;
    for (uint32 i = 0; i < bn_binding_array_length_quick(a); ++i)
        out.push_back(name_of(bn_binding_array_get_quick(a, i)));
    return out;
}

} // namespace mdc_test
