// Messages in memory: node ids, appenders, the type checks of the typed
// accessors, readers and response helpers, round trips of every attribute
// type through the encoding, and the dump lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bnode/bnode_test_helpers.h"
#include "bnode_proto_test_helpers.h"
#include "mgmt/bnode_proto.h"

namespace
{

using namespace proto_test;

std::string name_at(const bn_request *msg, uint32 i)
{
    const bn_request_per_node *n = bn_request_per_node_array_get_quick(msg->nodes, i);
    return n && n->binding ? ts_str(n->binding->name) : "<none>";
}

owned<bn_request> round_trip(bn_request *msg)
{
    owned<tbuf> buf;
    EXPECT_EQ(bn_request_msg_serialize(msg, 0, buf.out()), 0);
    owned<bn_request> back;
    EXPECT_EQ(bn_request_msg_deserialize(tb_buf(buf.get()), tb_length(buf.get()), back.out()), 0);
    return back;
}

TEST(BnProtoRequest, NodesTakeIdsFromOneThousandInOrder)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_set_request_msg_create(msg.out(), 0), 0);
    uint32 ids[3] = {};
    ASSERT_EQ(bn_set_request_msg_append_new_binding(msg.get(), bsso_modify, 0, "/a", bt_uint8, "1",
                                                    &ids[0]),
              0);
    ASSERT_EQ(bn_set_request_msg_append_new_binding_fmt(msg.get(), bsso_create, 0, bt_string, "x",
                                                        &ids[1], "/m/%s/%d", "n", 2),
              0);
    ASSERT_EQ(bn_set_request_msg_append_reparent(msg.get(), 0, "/a/b", "/c", "d", &ids[2]), 0);
    EXPECT_EQ(ids[0], 1000u);
    EXPECT_EQ(ids[1], 1001u);
    EXPECT_EQ(ids[2], 1002u);
    EXPECT_EQ(name_at(msg.get(), 1), "/m/n/2");

    // The reparent strings and sub-operations survive the encoding.
    owned<bn_request> back = round_trip(msg.get());
    ASSERT_TRUE(back);
    const bn_request_per_node *n = bn_request_per_node_array_get_quick(back->nodes, 2);
    EXPECT_EQ(n->subop, uint32(bsso_reparent));
    EXPECT_STREQ(ts_str(n->reparent_parent), "/c");
    EXPECT_STREQ(ts_str(n->reparent_name), "d");
    EXPECT_EQ(back->next_node_id, 1003u);
}

TEST(BnProtoRequest, UnparsableValueAppendsNothingAndLogsNothing)
{
    Lines log;
    owned<bn_request> msg;
    ASSERT_EQ(bn_action_request_msg_create(msg.out(), "/act"), 0);
    uint32 id = 77;
    EXPECT_EQ(bn_action_request_msg_append_new_binding(msg.get(), 0, "/a", bt_uint8, "256", &id),
              lc_err_bad_type);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(bn_request_per_node_array_length_quick(msg->nodes), 0u);
    EXPECT_EQ(msg->next_node_id, bn_first_node_id);
    ASSERT_EQ(bn_action_request_msg_append_new_binding(msg.get(), 0, "/a", bt_uint8, "255", &id),
              0);
    EXPECT_EQ(id, 1000u);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();
}

TEST(BnProtoRequest, TypedAccessorsRefuseOtherTypesQuietly)
{
    Lines log;
    owned<bn_request> action;
    ASSERT_EQ(bn_action_request_msg_create(action.out(), "/act"), 0);
    uint32 flags = 5;
    const tstring *name = nullptr;
    int32 cond = 3;
    EXPECT_EQ(bn_query_request_msg_get_flags(action.get(), &flags), lc_err_assertion_failed);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(bn_set_request_msg_get_option_cond_db_revision_id(action.get(), &cond),
              lc_err_assertion_failed);
    EXPECT_EQ(cond, 0);
    EXPECT_EQ(bn_event_request_msg_get_event_name(action.get(), &name), lc_err_assertion_failed);
    EXPECT_EQ(bn_event_request_msg_set_event_name(action.get(), "/e"), lc_err_assertion_failed);
    EXPECT_EQ(bn_query_request_msg_append_str(action.get(), bqso_get, 0, "/a", nullptr),
              lc_err_assertion_failed);
    EXPECT_EQ(bn_set_request_msg_append_reparent(action.get(), 0, "/a", "/b", "c", nullptr),
              lc_err_assertion_failed);
    // And so do the response accessors of one type.
    owned<bn_response> query, event;
    ASSERT_EQ(bn_query_response_msg_create(query.out(), 1, 0, nullptr), 0);
    EXPECT_EQ(bn_action_response_set_param(query.get(), "a", bt_uint32, "1"),
              lc_err_assertion_failed);
    ASSERT_EQ(bn_event_response_msg_create(event.out(), 1, 0, nullptr), 0);
    EXPECT_EQ(bn_response_get_db_revision_id(event.get(), &cond), lc_err_assertion_failed);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();

    // The general ones check their own arguments, loudly.
    EXPECT_EQ(bn_request_set_service_id(action.get(), 5), lc_err_assertion_failed);
    EXPECT_EQ(bn_request_msg_create(action.out(), bbmt_query_response), lc_err_assertion_failed);
    EXPECT_EQ(action.get(), nullptr);
    EXPECT_EQ(bn_request_get_msg_id(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(log.count("Required condition was not met"), 2u) << log.dump();
}

TEST(BnProtoRequest, AnswerTypes)
{
    const uint16 answers[][2] = {{bbmt_query_request, bbmt_query_response},
                                 {bbmt_set_request, bbmt_set_response},
                                 {bbmt_action_request, bbmt_action_response},
                                 {bbmt_event_request, bbmt_event_response}};
    for (const auto &a : answers) {
        owned<bn_request> msg;
        ASSERT_EQ(bn_request_msg_create(msg.out(), a[0]), 0);
        EXPECT_EQ(bn_request_msg_response_msg_type(msg.get()), a[1]);
    }
    EXPECT_EQ(bn_request_msg_response_msg_type(nullptr), bbmt_none);
}

TEST(BnProtoRequest, RemovesAndStripsByName)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_action_request_msg_create(msg.out(), "/act"), 0);
    for (const char *n : {"/act/x", "/act/y", "/other", "/act/x", "/actz"})
        ASSERT_EQ(
            bn_action_request_msg_append_new_binding(msg.get(), 0, n, bt_string, "v", nullptr), 0);
    ASSERT_EQ(bn_request_msg_remove_binding(msg.get(), "/act/x"), 0);
    ASSERT_EQ(bn_request_per_node_array_length_quick(msg->nodes), 3u);
    ASSERT_EQ(bn_request_msg_strip_binding_prefix(msg.get(), "/act"), 0);
    EXPECT_EQ(name_at(msg.get(), 0), "y");
    EXPECT_EQ(name_at(msg.get(), 1), "/other");
    EXPECT_EQ(name_at(msg.get(), 2), "/actz");
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_request_get_param(msg.get(), "y", &b), 0);
    EXPECT_NE(b, nullptr);
    ASSERT_EQ(bn_request_get_param(msg.get(), "absent", &b), 0);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(bn_request_msg_remove_binding_prefix(msg.get(), "/"), 0);
    EXPECT_EQ(bn_request_per_node_array_length_quick(msg->nodes), 1u);
    // A relative name encodes with its flag and decodes unchanged.
    owned<bn_request> back = round_trip(msg.get());
    ASSERT_TRUE(back);
    EXPECT_EQ(name_at(back.get(), 0), "y");
}

TEST(BnProtoRequest, DupIsDeep)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_query_request_msg_create(msg.out(), 1, "db"), 0);
    ASSERT_EQ(bn_query_request_msg_append_str(msg.get(), bqso_get, 2, "/a", nullptr), 0);
    owned<bn_request> copy;
    ASSERT_EQ(bn_request_msg_dup(msg.get(), copy.out()), 0);
    msg.reset();
    EXPECT_EQ(name_at(copy.get(), 0), "/a");
    EXPECT_STREQ(ts_str(copy->db_name), "db");
    EXPECT_EQ(copy->next_node_id, 1001u);
}

TEST(BnProtoRequest, NodesWithoutABindingAndEmptyAuditStringsAreNotEncoded)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_event_request_msg_create(msg.out(), nullptr), 0);
    ASSERT_EQ(bn_event_request_msg_append_new_binding(msg.get(), 0, "/a", bt_bool, "t", nullptr),
              0);
    owned<tbuf> buf;
    ASSERT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), 0);
    const uint32 with_node = tb_length(buf.get());
    (void)bn_binding_free(&bn_request_per_node_array_get_quick(msg->nodes, 0)->binding);
    ASSERT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), 0);
    // header, empty audit string, zero node count, empty event name
    const bytes empty = {0, 0, 0, 7, 0, 0, 0, 28, 0, 0, 0, 0, 0, 0,
                         0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0};
    EXPECT_EQ(of(buf.get()), empty) << hex(of(buf.get()));
    EXPECT_GT(with_node, tb_length(buf.get()));
    // An empty audit string encodes as an absent one.
    ASSERT_EQ(bn_request_set_audit_user_info(msg.get(), ""), 0);
    ASSERT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), empty);
}

TEST(BnProtoRequest, AttributesWithoutACopyFunctionFailTheEncoding)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_action_request_msg_create(msg.out(), "/act"), 0);
    ASSERT_EQ(bn_action_request_msg_append_new_binding(msg.get(), 0, "/a", bt_uint8, "1", nullptr),
              0);
    bn_binding *b = bn_request_per_node_array_get_quick(msg->nodes, 0)->binding;
    bn_attrib *a = bn_attrib_array_get_quick(b->attribs, ba_value);
    owned<tbuf> buf;
    {
        Lines log;
        a->type = bt_any;
        EXPECT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), lc_err_bad_type);
        EXPECT_EQ(log.bodies(),
                  std::vector<std::string>{"Couldn't get attrib copy out func for type any"});
    }
    {
        Lines log;
        a->type = bt_LAST + 1;
        EXPECT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), lc_err_assertion_failed);
        EXPECT_EQ(log.count("Required condition was not met"), 1u) << log.dump();
    }
    EXPECT_EQ(buf.get(), nullptr);
    a->type = bt_uint8;
    {
        Lines log;
        msg->msg_type = bbmt_set_response;
        EXPECT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), lc_err_unexpected_case);
        EXPECT_EQ(log.bodies(), std::vector<std::string>{"illegal messsage of type 4"});
        msg->msg_type = bbmt_action_request;
    }
}

// Names held only as text are split while encoding; they must encode as
// the parts the binding splitter gives.
TEST(BnProtoRequest, NamesEncodeAsTheirSplitParts)
{
    // Every text of up to six characters over "/", "\\" and "a".
    std::vector<std::string> names{""};
    for (size_t from = 0, len = 0; len < 6; ++len) {
        const size_t to = names.size();
        for (size_t i = from; i < to; ++i)
            for (char c : {'/', '\\', 'a'}) names.push_back(names[i] + c);
        from = to;
    }
    names.push_back("/qz/iptrackd/config/manager/m1");
    for (const std::string &text : names) {
        const char *name = text.c_str();
        SCOPED_TRACE(text);
        owned<bn_request> by_text, by_parts;
        ASSERT_EQ(bn_event_request_msg_create(by_text.out(), "/e"), 0);
        ASSERT_EQ(bn_event_request_msg_create(by_parts.out(), "/e"), 0);
        owned<bn_binding> b;
        ASSERT_EQ(bn_binding_new_named(b.out(), name), 0);
        ASSERT_EQ(bn_request_msg_append_binding(by_text.get(), b.get(), nullptr), 0);
        owned<tstr_array> parts;
        bool abs = false;
        ASSERT_EQ(bn_binding_name_to_parts(name, parts.out(), &abs), 0);
        ASSERT_EQ(bn_binding_set_name_parts(b.get(), parts.get(), abs), 0);
        ASSERT_EQ(bn_request_msg_append_binding(by_parts.get(), b.get(), nullptr), 0);
        owned<tbuf> t, q;
        ASSERT_EQ(bn_request_msg_serialize(by_text.get(), 0, t.out()), 0);
        ASSERT_EQ(bn_request_msg_serialize(by_parts.get(), 0, q.out()), 0);
        EXPECT_EQ(of(t.get()), of(q.get())) << hex(of(t.get()));
    }
}

// ---------------------------------------------------------------------------
// Every attribute type through the encoding

// Every type's tabled text, a secret, and the flags that carry no value.
std::vector<bnode_test::text_case> every_type()
{
    std::vector<bnode_test::text_case> v(std::begin(bnode_test::text_cases),
                                         std::end(bnode_test::text_cases));
    v.push_back({bt_secret, 0, "hush", nullptr});
    v.push_back({bt_uint32, btf_invalid, "", nullptr});
    v.push_back({bt_string, btf_no_value | btf_deleted, "", nullptr});
    return v;
}

TEST(BnProtoRoundTrip, EveryAttributeTypeInRequestsAndResponses)
{
    owned<bn_request> req;
    ASSERT_EQ(bn_action_request_msg_create(req.out(), "/act"), 0);
    owned<bn_response> resp;
    ASSERT_EQ(bn_action_response_msg_create(resp.out(), 1, 0, "fine"), 0);
    uint32 i = 0;
    for (const bnode_test::text_case &v : every_type()) {
        SCOPED_TRACE(bn_type_to_name(v.type));
        const std::string name = "/t/" + std::to_string(i++);
        ASSERT_EQ(bn_action_request_msg_append_new_binding(req.get(), v.flags, name.c_str(), v.type,
                                                           v.text, nullptr),
                  0);
        ASSERT_EQ(bn_response_msg_append_new_binding(resp.get(), v.flags, name.c_str(), v.type,
                                                     v.text, nullptr),
                  0);
    }
    // A second attribute beside the value, and an absent slot between.
    bn_request_per_node *first = bn_request_per_node_array_get_quick(req->nodes, 0);
    ASSERT_EQ(bn_binding_set_uint32(first->binding, ba_node_count, 0, 3), 0);

    owned<bn_request> back = round_trip(req.get());
    ASSERT_TRUE(back);
    owned<tbuf> buf;
    ASSERT_EQ(bn_response_msg_serialize(resp.get(), 0, buf.out()), 0);
    owned<bn_response> rback;
    ASSERT_EQ(bn_response_msg_deserialize(tb_buf(buf.get()), tb_length(buf.get()), rback.out()), 0);
    for (uint32 k = 0; k < i; ++k) {
        SCOPED_TRACE(k);
        const bn_binding *want = bn_request_per_node_array_get_quick(req->nodes, k)->binding;
        const bn_binding *got = bn_request_per_node_array_get_quick(back->nodes, k)->binding;
        const bn_binding *rgot = bn_response_per_node_array_get_quick(rback->nodes, k)->binding;
        EXPECT_STREQ(ts_str(got->name), ts_str(want->name));
        for (const bn_binding *g : {got, rgot}) {
            int cmp = 99;
            ASSERT_EQ(bn_binding_compare_attribs(g, want, ba_value, &cmp), 0);
            EXPECT_EQ(cmp, 0);
            bn_type t1 = 0, t2 = 0;
            uint32 f1 = 0, f2 = 0;
            ASSERT_EQ(bn_binding_get_type(g, ba_value, &t1, &f1), 0);
            ASSERT_EQ(bn_binding_get_type(want, ba_value, &t2, &f2), 0);
            EXPECT_EQ(t1, t2);
            EXPECT_EQ(f1, f2);
        }
    }
    uint32 taf = 0, count = 0;
    ASSERT_EQ(bn_binding_get_uint32(bn_request_per_node_array_get_quick(back->nodes, 0)->binding,
                                    ba_node_count, &taf, &count),
              0);
    EXPECT_EQ(count, 3u);
}

// ---------------------------------------------------------------------------
// Responses

int collect(const bn_response *, uint32 index, const bn_binding *b, void *data)
{
    auto *seen = static_cast<std::vector<std::string> *>(data);
    seen->push_back(std::to_string(index) + ts_str(b->name));
    return seen->size() == 3 ? lc_err_foreach_halt : 0;
}

TEST(BnProtoResponse, ReadersAndHelpers)
{
    owned<bn_request> req;
    ASSERT_EQ(bn_action_request_msg_create(req.out(), "/act"), 0);
    ASSERT_EQ(bn_request_set_service_id(req.get(), 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(req.get(), 40), 0);
    ASSERT_EQ(bn_request_set_transaction_id(req.get(), 41), 0);

    owned<bn_response> resp;
    ASSERT_EQ(bn_response_msg_create(resp.out(), bbmt_query_response, 0, 0, nullptr), 0);
    ASSERT_EQ(bn_response_fix_for_request(resp.get(), req.get()), 0);
    uint16 type = 0;
    uint32 req_id = 0, tid = 0;
    ASSERT_EQ(bn_response_get_msg_type(resp.get(), &type), 0);
    ASSERT_EQ(bn_response_get_msg_ids(resp.get(), &req_id, nullptr), 0);
    ASSERT_EQ(bn_response_get_transaction_id(resp.get(), &tid), 0);
    EXPECT_EQ(type, bbmt_action_response);
    EXPECT_EQ(req_id, 40u);
    EXPECT_EQ(tid, 41u);

    for (const char *n : {"a", "b/c", "b/d", "e"})
        ASSERT_EQ(bn_response_msg_append_new_binding(resp.get(), 0, n, bt_string, n, nullptr), 0);
    ASSERT_EQ(bn_action_response_set_param(resp.get(), "e", bt_uint32, "5"), 0);
    ASSERT_EQ(bn_action_response_set_param(resp.get(), "f", bt_uint32, "6"), 0);
    ASSERT_EQ(bn_response_msg_append_binding_prefix(resp.get(), "/r"), 0);
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_response_get_binding_by_name(resp.get(), "/r/e", &b), 0);
    ASSERT_NE(b, nullptr);
    uint32 taf = 0, v = 0;
    ASSERT_EQ(bn_binding_get_uint32(b, ba_value, &taf, &v), 0);
    EXPECT_EQ(v, 5u);

    std::vector<std::string> seen;
    EXPECT_EQ(bn_response_foreach_matching_binding(resp.get(), "/r/b/*", collect, &seen), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1/r/b/c", "2/r/b/d"}));
    seen.clear();
    EXPECT_EQ(bn_response_foreach_matching_binding_rev(resp.get(), nullptr, collect, &seen),
              lc_err_foreach_halt);
    EXPECT_EQ(seen, (std::vector<std::string>{"4/r/f", "3/r/e", "2/r/b/d"}));

    owned<bn_binding_array> by_id;
    ASSERT_EQ(bn_response_get_bindings_by_node_id(resp.get(), 1004, by_id.out()), 0);
    ASSERT_EQ(bn_binding_array_length_quick(by_id.get()), 1u);

    owned<bn_binding_array> named, taken;
    ASSERT_EQ(bn_response_get_bindings(resp.get(), false, named.out()), 0);
    EXPECT_EQ(bn_binding_array_get_quick(named.get(), 0)->name_parts, nullptr);
    ASSERT_EQ(bn_response_get_bindings_takeover(resp.get(), true, taken.out()), 0);
    EXPECT_EQ(bn_binding_array_length_quick(taken.get()), 5u);
    owned<bn_binding_array> rest;
    ASSERT_EQ(bn_response_get_bindings(resp.get(), true, rest.out()), 0);
    EXPECT_EQ(bn_binding_array_length_quick(rest.get()), 0u);

    // Return code and message, and the copies of a response.
    ASSERT_EQ(bn_response_msg_set_return_code_msg(resp.get(), 14000, "no"), 0);
    owned<bn_response> copy;
    ASSERT_EQ(bn_response_msg_dup(resp.get(), copy.out()), 0);
    uint32 code = 0;
    const tstring *text = nullptr;
    ASSERT_EQ(bn_response_get_return(copy.get(), &code, &text), 0);
    EXPECT_EQ(code, 14000u);
    EXPECT_STREQ(ts_str(text), "no");
    EXPECT_EQ(bn_action_response_msg_append_binding(copy.get(), nullptr, nullptr),
              lc_err_unexpected_null);
}

// ---------------------------------------------------------------------------
// Dumps

owned<bn_request> query_with(uint32 nodes)
{
    owned<bn_request> msg;
    EXPECT_EQ(bn_query_request_msg_create(msg.out(), 0, nullptr), 0);
    EXPECT_EQ(bn_request_set_service_id(msg.get(), 2), 0);
    EXPECT_EQ(bn_request_set_msg_id(msg.get(), 12), 0);
    for (uint32 i = 0; i < nodes; ++i) {
        const std::string name = "/n/" + std::to_string(i);
        EXPECT_EQ(bn_query_request_msg_append_str(msg.get(), bqso_get, 0x10, name.c_str(), nullptr),
                  0);
    }
    return msg;
}

TEST(BnProtoDump, RequestLinesAreExact)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_action_request_msg_create(msg.out(), "/act"), 0);
    ASSERT_EQ(bn_request_set_service_id(msg.get(), 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(msg.get(), 9), 0);
    ASSERT_EQ(bn_request_set_audit_user_info(msg.get(), "admin"), 0);
    ASSERT_EQ(
        bn_action_request_msg_append_new_binding(msg.get(), 0, "/a/b", bt_uint32, "7", nullptr), 0);
    ASSERT_EQ(
        bn_action_request_msg_append_new_binding(msg.get(), 0, "/a/c", bt_string, "x y", nullptr),
        0);
    Lines log(LCL_DEBUG);
    ASSERT_EQ(bn_request_msg_dump(nullptr, msg.get(), LCL_DEBUG, "SEND REQ"), 0);
    const std::vector<std::string> want = {
        "SEND REQ: service 2 type 5 (action_request) msg id 9",
        "SEND REQ: action name: /act",
        "SEND REQ: audit userinfo string - admin",
        "SEND REQ: num nodes: 2",
        "SEND REQ: rn[0]: id 1000 /a/b",
        "SEND REQ: rn[0]: attrib 1(value) type 5(uint32) value \"7\"",
        "SEND REQ: rn[1]: id 1001 /a/c",
        "SEND REQ: rn[1]: attrib 1(value) type 101(string) value \"x y\"",
    };
    EXPECT_EQ(log.bodies(), want) << log.dump();
}

TEST(BnProtoDump, QueryAndResponseLines)
{
    owned<bn_request> q = query_with(1);
    owned<bn_response> r;
    ASSERT_EQ(bn_query_response_msg_create(r.out(), 12, 14001, "bad"), 0);
    ASSERT_EQ(bn_response_set_msg_id(r.get(), 13), 0);
    Lines log(LCL_DEBUG);
    ASSERT_EQ(bn_request_msg_dump(nullptr, q.get(), LCL_DEBUG, "P"), 0);
    ASSERT_EQ(bn_response_msg_dump(nullptr, r.get(), LCL_DEBUG, "RECV RESP"), 0);
    const std::vector<std::string> want = {
        "P: service 2 type 1 (query_request) msg id 12",
        "P: audit userinfo string - ",
        "P: num nodes: 1",
        "P: rn[0]: id 1000 /n/0",
        "P: rn[0]: query subop: get flags: 00000010",
        "RECV RESP: service 0 type 2 (query_response) msg id 13 to 12",
        "RECV RESP: ret code: 14001 ret msg: \"bad\"",
        "RECV RESP: num nodes: 0",
    };
    EXPECT_EQ(log.bodies(), want) << log.dump();
}

TEST(BnProtoDump, FiftyOneNodesDumpTheFirstFifty)
{
    owned<bn_request> msg = query_with(51);
    Lines log(LCL_DEBUG);
    ASSERT_EQ(bn_request_msg_dump(nullptr, msg.get(), LCL_DEBUG, "D"), 0);
    const std::vector<std::string> lines = log.bodies();
    ASSERT_EQ(lines.size(), 3u + 50 * 2) << log.dump();
    EXPECT_EQ(lines[2], "D: num nodes: 51 (but only logging the first 50)");
    EXPECT_EQ(lines.back(), "D: rn[49]: query subop: get flags: 00000010");
    EXPECT_EQ(log.count("/n/50"), 0u);
}

TEST(BnProtoDump, DisabledOrNegativeLevelsLogNothing)
{
    owned<bn_request> msg = query_with(2);
    Lines log;
    ASSERT_EQ(bn_request_msg_dump(nullptr, msg.get(), bn_dump_level_none, "RECV REQ"), 0);
    lc_log_set_effective_level_for_tests(LCL_INFO);
    ASSERT_EQ(bn_request_msg_dump(nullptr, msg.get(), LCL_DEBUG, "SEND REQ"), 0);
    lc_log_set_effective_level_for_tests(LCL_DEBUG);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();
}

} // namespace
