// The message layer: messages in memory (node ids, appenders, the type
// checks of the typed accessors, readers and response helpers, dumps), the
// encoding pinned by golden byte vectors written out by hand from the
// layout, malformed vectors, messages over real sessions, and the replay of
// the decoder fuzz targets' seed corpora (fuzz/corpus/bn_*, which start
// from the golden and malformed vectors).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bnode/bnode_test_helpers.h"
#include "gcl_test_support.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"
#include "support/log_capture.h"
#include "util/tbuffer.h"

namespace
{

using namespace bnode_test;
using namespace gcl_test;

using bytes = std::vector<uint8>;

// Concatenates pieces of a vector written out by hand.
inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A string as the layout writes it: a 32-bit big-endian length, then the
// bytes (lengths used here stay below 256).
inline bytes str(const std::string &s)
{
    bytes b(4 + s.size(), 0);
    b[3] = uint8(s.size());
    for (size_t i = 0; i < s.size(); ++i) b[4 + i] = uint8(s[i]);
    return b;
}

inline bytes of(const tbuf *buf, uint32 from = 0)
{
    return bytes(tb_buf(buf) + from, tb_buf(buf) + tb_length(buf));
}

// Captured lines without the logger's header (learned from a reference
// line logged first at `ref_level`, the level of the lines compared).
class Lines
{
  public:
    explicit Lines(int ref_level = LCL_ERR) : cap_(LCL_DEBUG) { lc_log_basic(ref_level, "REF"); }
    std::vector<std::string> bodies() const
    {
        std::vector<std::string> all = cap_.lines();
        std::vector<std::string> out;
        if (all.empty()) return out;
        const std::string head = all[0].substr(0, all[0].size() - 3);
        for (size_t i = 1; i < all.size(); ++i)
            out.push_back(all[i].compare(0, head.size(), head) == 0 ? all[i].substr(head.size())
                                                                    : all[i]);
        return out;
    }
    size_t count(std::string_view needle) const { return cap_.count(needle); }
    std::string dump() const { return cap_.dump(); }

  private:
    LogCapture cap_;
};

// An action request, the kind most of these tests use.
owned<bn_request> new_action(const char *name)
{
    owned<bn_request> msg;
    EXPECT_EQ(bn_action_request_msg_create(msg.out(), name), 0);
    return msg;
}

// Service 2 and the ids, through the setters.
void set_header(bn_request *msg, uint32 msg_id, uint32 tid)
{
    ASSERT_EQ(bn_request_set_service_id(msg, 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(msg, msg_id), 0);
    ASSERT_EQ(bn_request_set_transaction_id(msg, tid), 0);
}

strings_t names_in(const bn_request *msg)
{
    strings_t out;
    for (uint32 i = 0; i < bn_request_per_node_array_length_quick(msg->nodes); ++i)
        out.push_back(name_of(bn_request_per_node_array_get_quick(msg->nodes, i)->binding));
    return out;
}

owned<bn_request> round_trip(bn_request *msg)
{
    owned<tbuf> buf;
    EXPECT_EQ(bn_request_msg_serialize(msg, 0, buf.out()), 0);
    owned<bn_request> back;
    EXPECT_EQ(bn_request_msg_deserialize(tb_buf(buf.get()), tb_length(buf.get()), back.out()), 0);
    return back;
}

TEST(BnProtoRequest, NodesTakeIdsFromOneThousandInOrderAndCopiesAreDeep)
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
    EXPECT_EQ((std::vector<uint32>(ids, ids + 3)), (std::vector<uint32>{1000, 1001, 1002}));

    // The reparent strings and sub-operations survive the encoding, and a
    // copy is deep: it outlives what it was made from.
    owned<bn_request> back = round_trip(msg.get());
    ASSERT_TRUE(back);
    owned<bn_request> copy;
    ASSERT_EQ(bn_request_msg_dup(back.get(), copy.out()), 0);
    back.reset();
    const bn_request_per_node *n = bn_request_per_node_array_get_quick(copy->nodes, 2);
    EXPECT_EQ(n->subop, uint32(bsso_reparent));
    EXPECT_STREQ(ts_str(n->reparent_parent), "/c");
    EXPECT_STREQ(ts_str(n->reparent_name), "d");
    EXPECT_EQ(names_in(copy.get()), (strings_t{"/a", "/m/n/2", "/a/b"}));
    EXPECT_EQ(copy->next_node_id, 1003u);
}

TEST(BnProtoRequest, UnparsableValuesAndOtherTypesAreRefusedQuietly)
{
    Lines log;
    owned<bn_request> action = new_action("/act");
    // A value that does not parse appends nothing and takes no id.
    uint32 id = 77;
    EXPECT_EQ(bn_action_request_msg_append_new_binding(action.get(), 0, "/a", bt_uint8, "256", &id),
              lc_err_bad_type);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(bn_request_per_node_array_length_quick(action->nodes), 0u);
    EXPECT_EQ(action->next_node_id, bn_first_node_id);
    ASSERT_EQ(bn_action_request_msg_append_new_binding(action.get(), 0, "/a", bt_uint8, "255", &id),
              0);
    EXPECT_EQ(id, 1000u);
    // The typed accessors refuse the other message types.
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

TEST(BnProtoRequest, RemovesAndStripsByName)
{
    owned<bn_request> msg = new_action("/act");
    for (const char *n : {"/act/x", "/act/y", "/other", "/act/x", "/actz"})
        ASSERT_EQ(
            bn_action_request_msg_append_new_binding(msg.get(), 0, n, bt_string, "v", nullptr), 0);
    ASSERT_EQ(bn_request_msg_remove_binding(msg.get(), "/act/x"), 0);
    ASSERT_EQ(bn_request_msg_strip_binding_prefix(msg.get(), "/act"), 0);
    EXPECT_EQ(names_in(msg.get()), (strings_t{"y", "/other", "/actz"}));
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_request_get_param(msg.get(), "y", &b), 0);
    EXPECT_NE(b, nullptr);
    ASSERT_EQ(bn_request_get_param(msg.get(), "absent", &b), 0);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(bn_request_msg_remove_binding_prefix(msg.get(), "/"), 0);
    EXPECT_EQ(names_in(msg.get()), strings_t{"y"});
}

TEST(BnProtoRequest, NodesWithoutABindingAndEmptyAuditStringsAreNotEncoded)
{
    owned<bn_request> msg;
    ASSERT_EQ(bn_event_request_msg_create(msg.out(), nullptr), 0);
    ASSERT_EQ(bn_event_request_msg_append_new_binding(msg.get(), 0, "/a", bt_bool, "t", nullptr),
              0);
    owned<tbuf> buf;
    (void)bn_binding_free(&bn_request_per_node_array_get_quick(msg->nodes, 0)->binding);
    ASSERT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), 0);
    // header, empty audit string, zero node count, empty event name
    const bytes empty = {0, 0, 0, 7, 0, 0, 0, 28, 0, 0, 0, 0, 0, 0,
                         0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0};
    EXPECT_EQ(of(buf.get()), empty);
    // An empty audit string encodes as an absent one.
    ASSERT_EQ(bn_request_set_audit_user_info(msg.get(), ""), 0);
    ASSERT_EQ(bn_request_msg_serialize(msg.get(), 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), empty);
}

TEST(BnProtoRequest, AttributesWithoutACopyFunctionFailTheEncoding)
{
    owned<bn_request> msg = new_action("/act");
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
        EXPECT_EQ(of(t.get()), of(q.get()));
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

std::pair<bn_type, uint32> type_of(const bn_binding *b)
{
    std::pair<bn_type, uint32> tf{0, 0};
    EXPECT_EQ(bn_binding_get_type(b, ba_value, &tf.first, &tf.second), 0);
    return tf;
}

TEST(BnProtoRoundTrip, EveryAttributeTypeInRequestsAndResponses)
{
    owned<bn_request> req = new_action("/act");
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
            EXPECT_EQ(type_of(g), type_of(want)); // the flags too
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
    owned<bn_request> req = new_action("/act");
    set_header(req.get(), 40, 41);

    owned<bn_response> resp;
    ASSERT_EQ(bn_response_msg_create(resp.out(), bbmt_query_response, 0, 0, nullptr), 0);
    ASSERT_EQ(bn_response_fix_for_request(resp.get(), req.get()), 0);
    uint16 type = 0;
    uint32 req_id = 0, tid = 0;
    ASSERT_EQ(bn_response_get_msg_type(resp.get(), &type), 0);
    ASSERT_EQ(bn_response_get_msg_ids(resp.get(), &req_id, nullptr), 0);
    ASSERT_EQ(bn_response_get_transaction_id(resp.get(), &tid), 0);
    EXPECT_EQ(std::make_tuple(type, req_id, tid),
              std::make_tuple(uint16(bbmt_action_response), 40u, 41u));

    for (const char *n : {"a", "b/c", "b/d", "e"})
        ASSERT_EQ(bn_response_msg_append_new_binding(resp.get(), 0, n, bt_string, n, nullptr), 0);
    ASSERT_EQ(bn_action_response_set_param(resp.get(), "e", bt_uint32, "5"), 0);
    ASSERT_EQ(bn_action_response_set_param(resp.get(), "f", bt_uint32, "6"), 0);
    ASSERT_EQ(bn_response_msg_append_binding_prefix(resp.get(), "/r"), 0);
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_response_get_binding_by_name(resp.get(), "/r/e", &b), 0);
    EXPECT_EQ(value_of(b), "5");

    std::vector<std::string> seen;
    EXPECT_EQ(bn_response_foreach_matching_binding(resp.get(), "/r/b/*", collect, &seen), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1/r/b/c", "2/r/b/d"}));
    seen.clear();
    EXPECT_EQ(bn_response_foreach_matching_binding_rev(resp.get(), nullptr, collect, &seen),
              lc_err_foreach_halt);
    EXPECT_EQ(seen, (std::vector<std::string>{"4/r/f", "3/r/e", "2/r/b/d"}));

    owned<bn_binding_array> by_id;
    ASSERT_EQ(bn_response_get_bindings_by_node_id(resp.get(), 1004, by_id.out()), 0);
    EXPECT_EQ(names_of(by_id.get()), strings_t{"/r/f"});

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
    set_header(msg.get(), 12, 0);
    for (uint32 i = 0; i < nodes; ++i) {
        const std::string name = "/n/" + std::to_string(i);
        EXPECT_EQ(bn_query_request_msg_append_str(msg.get(), bqso_get, 0x10, name.c_str(), nullptr),
                  0);
    }
    return msg;
}

TEST(BnProtoDump, RequestAndResponseLinesAreExact)
{
    owned<bn_request> msg = new_action("/act");
    set_header(msg.get(), 9, 0);
    ASSERT_EQ(bn_request_set_audit_user_info(msg.get(), "admin"), 0);
    ASSERT_EQ(
        bn_action_request_msg_append_new_binding(msg.get(), 0, "/a/b", bt_uint32, "7", nullptr), 0);
    ASSERT_EQ(
        bn_action_request_msg_append_new_binding(msg.get(), 0, "/a/c", bt_string, "x y", nullptr),
        0);
    owned<bn_request> q = query_with(1);
    owned<bn_response> r;
    ASSERT_EQ(bn_query_response_msg_create(r.out(), 12, 14001, "bad"), 0);
    ASSERT_EQ(bn_response_set_msg_id(r.get(), 13), 0);
    Lines log(LCL_DEBUG);
    ASSERT_EQ(bn_request_msg_dump(nullptr, msg.get(), LCL_DEBUG, "SEND REQ"), 0);
    ASSERT_EQ(bn_request_msg_dump(nullptr, q.get(), LCL_DEBUG, "P"), 0);
    ASSERT_EQ(bn_response_msg_dump(nullptr, r.get(), LCL_DEBUG, "RECV RESP"), 0);
    const std::vector<std::string> want = {
        "SEND REQ: service 2 type 5 (action_request) msg id 9",
        "SEND REQ: action name: /act",
        "SEND REQ: audit userinfo string - admin",
        "SEND REQ: num nodes: 2",
        "SEND REQ: rn[0]: id 1000 /a/b",
        "SEND REQ: rn[0]: attrib 1(value) type 5(uint32) value \"7\"",
        "SEND REQ: rn[1]: id 1001 /a/c",
        "SEND REQ: rn[1]: attrib 1(value) type 101(string) value \"x y\"",
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

// ---------------------------------------------------------------------------
// Golden vectors

// A 32-bit big-endian field.
bytes be32(uint32 v)
{
    return {uint8(v >> 24), uint8(v >> 16), uint8(v >> 8), uint8(v)};
}

// The head of a node: id, absolute flag, part count and parts.
bytes node(uint32 id, bool absolute, std::initializer_list<const char *> parts)
{
    bytes b = cat({be32(id), {uint8(absolute)}, be32(uint32(parts.size()))});
    for (const char *p : parts) b = cat({b, str(p)});
    return b;
}

// A node with one attribute, id 1 ("value"): encoding, id, type, flags,
// then the value as its encoding lays it out.
bytes valued(uint32 id, bool absolute, std::initializer_list<const char *> parts, uint32 encoding,
             uint32 type, uint32 flags, const bytes &value)
{
    return cat({node(id, absolute, parts), be32(1), be32(encoding), be32(1), be32(type),
                be32(flags), value});
}

// Query request, two nodes: "/qz/iptrackd" get, "/qz/x" iterate with flags
// 0x1000; query flags 0x2000, database "db", condition -1.
const bytes query_request = cat({
    {0x00, 0x02, 0x00, 0x01}, // service 2, type 1 (query_request)
    be32(109),                // length
    be32(7),                  // message id
    be32(9),                  // transaction id
    be32(0),                  // no audit user information
    be32(2),                  // 2 nodes
    node(1000, true, {"qz", "iptrackd"}),
    be32(0), // no attributes
    be32(1), // subop get
    be32(0), // node flags
    node(1001, true, {"qz", "x"}),
    be32(0),          // no attributes
    be32(2),          // subop iterate
    be32(0x1000),     // node flags
    be32(0x2000),     // query flags
    str("db"),        // database name
    be32(0xffffffff), // conditional revision -1
});

// Action request "/act" from user "admin" with a uint32, a string (under a
// relative name), a bool and an ipv4addr; one attribute each.
const bytes action_request = cat({
    {0x00, 0x02, 0x00, 0x05}, // service 2, type 5 (action_request)
    be32(219),                // length
    be32(17),                 // message id
    be32(34),                 // transaction id
    str("admin"),             // audit user information
    be32(4),                  // 4 nodes
    valued(1000, true, {"a", "u"}, 1, 5, 0, {0, 0, 0, 4, 1, 2, 3, 4}),    // uint32 16909060
    valued(1001, false, {"s"}, 4, 101, 0, str("hi")),                     // string
    valued(1002, true, {"a", "b"}, 1, 9, 0, {0, 0, 0, 4, 0, 0, 0, 1}),    // bool true
    valued(1003, true, {"a", "ip"}, 1, 60, 0, {0, 0, 0, 4, 10, 1, 2, 3}), // ipv4addr 10.1.2.3
    str("/act"),                                                          // action name
});

// Event "/ev": "/a/d" deleted (uint32 with no value, flags no_value and
// deleted), "/a/n" a string "v".
const bytes event_request = cat({
    {0x00, 0x02, 0x00, 0x07},                                  // service 2, type 7 (event)
    be32(118),                                                 // length
    be32(3),                                                   // message id
    be32(0),                                                   // transaction id
    be32(0),                                                   // no audit user information
    be32(2),                                                   // 2 nodes
    valued(1000, true, {"a", "d"}, 1, 5, 0x00180000, be32(0)), // uint32, no value bytes
    valued(1001, true, {"a", "n"}, 4, 101, 0, str("v")),       // string
    str("/ev"),                                                // event name
});

// Query response to request 7: "/qz/a" uint16 0x1234, "/qz/b" string "ok",
// revision 42.
const bytes query_response = cat({
    {0x00, 0x02, 0x00, 0x02}, // service 2, type 2 (query_response)
    be32(128),                // length
    be32(5),                  // message id
    be32(9),                  // transaction id
    be32(7),                  // answers request 7
    be32(0),                  // return code 0
    be32(0),                  // no return message
    be32(2),                  // 2 nodes
    valued(1000, true, {"qz", "a"}, 1, 3, 0, {0, 0, 0, 2, 0x12, 0x34}), // uint16 0x1234
    valued(1001, true, {"qz", "b"}, 4, 101, 0, str("ok")),              // string
    be32(42),                                                           // revision
});

owned<bn_request> decode(const bytes &v)
{
    owned<bn_request> msg;
    EXPECT_EQ(bn_request_msg_deserialize(v.data(), uint32(v.size()), msg.out()), 0);
    return msg;
}

// Encodes and compares with the golden bytes, with no reserve and with the
// 32-byte frame reserve.
void expect_request_encodes_to(bn_request *msg, const bytes &golden)
{
    owned<tbuf> buf;
    ASSERT_EQ(bn_request_msg_serialize(msg, 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), golden);
    EXPECT_EQ(msg->length, golden.size());
    ASSERT_EQ(bn_request_msg_serialize(msg, bn_frame_header_reserve, buf.out()), 0);
    EXPECT_EQ(of(buf.get(), bn_frame_header_reserve), golden);
    EXPECT_EQ(bytes(tb_buf(buf.get()), tb_buf(buf.get()) + bn_frame_header_reserve),
              bytes(bn_frame_header_reserve, 0));
}

// Each vector decodes (spot checks of the fields that are not plain
// header values), encodes back to itself, and is what the constructors
// build for the same message.
TEST(BnProtoGolden, QueryRequestWithTwoNodes)
{
    Lines log;
    owned<bn_request> msg = decode(query_request);
    ASSERT_TRUE(msg);
    uint32 flags = 0;
    int32 cond = 0;
    const tstring *db = nullptr;
    ASSERT_EQ(bn_query_request_msg_get_flags(msg.get(), &flags), 0);
    ASSERT_EQ(bn_query_request_msg_get_option_cond_db_revision_id(msg.get(), &cond), 0);
    ASSERT_EQ(bn_query_request_msg_get_db_name(msg.get(), &db), 0);
    EXPECT_EQ(flags, 0x2000u);
    EXPECT_EQ(cond, -1);
    EXPECT_STREQ(ts_str(db), "db");
    owned<bn_binding_array> bindings;
    owned<uint32_array> ids, subops, node_flags;
    uint16 type = 0;
    ASSERT_EQ(bn_request_get(msg.get(), &type, nullptr, bindings.out(), ids.out(), subops.out(),
                             node_flags.out()),
              0);
    EXPECT_EQ(type, bbmt_query_request);
    EXPECT_EQ(names_of(bindings.get()), (strings_t{"/qz/iptrackd", "/qz/x"}));
    EXPECT_EQ(uint32_array_get_quick(ids.get(), 1), 1001u);
    EXPECT_EQ(uint32_array_get_quick(subops.get(), 1), uint32(bqso_iterate));
    EXPECT_EQ(uint32_array_get_quick(node_flags.get(), 1), 0x1000u);
    EXPECT_EQ(msg->next_node_id, 1002u);
    expect_request_encodes_to(msg.get(), query_request);

    owned<bn_request> built;
    ASSERT_EQ(bn_query_request_msg_create(built.out(), 0x2000, "db"), 0);
    set_header(built.get(), 7, 9);
    ASSERT_EQ(bn_query_request_msg_set_option_cond_db_revision_id(built.get(), -1), 0);
    ASSERT_EQ(bn_query_request_msg_append_str(built.get(), bqso_get, 0, "/qz/iptrackd", nullptr),
              0);
    ASSERT_EQ(bn_query_request_msg_append_str(built.get(), bqso_iterate, 0x1000, "/qz/x", nullptr),
              0);
    expect_request_encodes_to(built.get(), query_request);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();
}

TEST(BnProtoGolden, ActionRequestWithTypedBindings)
{
    Lines log;
    owned<bn_request> msg = decode(action_request);
    ASSERT_TRUE(msg);
    EXPECT_STREQ(ts_str(msg->audit_user_info), "admin");
    const bn_binding *b = nullptr;
    const std::pair<const char *, const char *> values[] = {
        {"/a/u", "16909060"}, {"s", "hi"}, {"/a/b", "true"}, {"/a/ip", "10.1.2.3"}};
    for (const auto &[name, value] : values) {
        ASSERT_EQ(bn_request_get_param(msg.get(), name, &b), 0);
        EXPECT_EQ(value_of(b), value) << name;
    }
    ASSERT_EQ(bn_request_get_param(msg.get(), "s", &b), 0);
    EXPECT_EQ(b->name_is_absolute, 0u);
    expect_request_encodes_to(msg.get(), action_request);

    owned<bn_request> built = new_action("/act");
    set_header(built.get(), 17, 34);
    ASSERT_EQ(bn_request_set_audit_user_info(built.get(), "admin"), 0);
    const bn_type types[] = {bt_uint32, bt_string, bt_bool, bt_ipv4addr};
    for (size_t i = 0; i < 4; ++i)
        ASSERT_EQ(0, bn_action_request_msg_append_new_binding(built.get(), 0, values[i].first,
                                                              types[i], values[i].second, nullptr));
    expect_request_encodes_to(built.get(), action_request);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();
}

TEST(BnProtoGolden, EventWithADeletedNode)
{
    owned<bn_request> msg = decode(event_request);
    ASSERT_TRUE(msg);
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_request_get_param(msg.get(), "/a/d", &b), 0);
    EXPECT_EQ(type_of(b), (std::pair<bn_type, uint32>{bt_uint32, btf_no_value | btf_deleted}));
    expect_request_encodes_to(msg.get(), event_request);

    owned<bn_request> built;
    ASSERT_EQ(bn_event_request_msg_create(built.out(), "/ev"), 0);
    set_header(built.get(), 3, 0);
    ASSERT_EQ(bn_event_request_msg_append_new_binding(built.get(), btf_no_value | btf_deleted,
                                                      "/a/d", bt_uint32, "", nullptr),
              0);
    ASSERT_EQ(
        bn_event_request_msg_append_new_binding(built.get(), 0, "/a/n", bt_string, "v", nullptr),
        0);
    expect_request_encodes_to(built.get(), event_request);
}

TEST(BnProtoGolden, QueryResponse)
{
    owned<bn_response> msg;
    ASSERT_EQ(bn_response_msg_deserialize(query_response.data(), uint32(query_response.size()),
                                          msg.out()),
              0);
    uint32 req = 0, id = 0, code = 99;
    const tstring *text = nullptr;
    int32 rev = 0;
    ASSERT_EQ(bn_response_get_msg_ids(msg.get(), &req, &id), 0);
    ASSERT_EQ(bn_response_get_return(msg.get(), &code, &text), 0);
    ASSERT_EQ(bn_response_get_db_revision_id(msg.get(), &rev), 0);
    EXPECT_EQ(std::make_tuple(req, id, code, rev), std::make_tuple(7u, 5u, 0u, 42));
    EXPECT_EQ(text, nullptr);
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_response_get_binding_by_name(msg.get(), "/qz/a", &b), 0);
    EXPECT_EQ(value_of(b), "4660");

    owned<bn_response> built;
    ASSERT_EQ(bn_query_response_msg_create(built.out(), 7, 0, nullptr), 0);
    built->service_id = 2;
    ASSERT_EQ(bn_response_set_msg_id(built.get(), 5), 0);
    built->transaction_id = 9;
    ASSERT_EQ(bn_response_set_db_revision_id(built.get(), 42), 0);
    ASSERT_EQ(
        bn_response_msg_append_new_binding(built.get(), 0, "/qz/a", bt_uint16, "4660", nullptr), 0);
    ASSERT_EQ(bn_response_msg_append_new_binding(built.get(), 0, "/qz/b", bt_string, "ok", nullptr),
              0);
    for (bn_response *r : {msg.get(), built.get()}) {
        owned<tbuf> buf;
        ASSERT_EQ(bn_response_msg_serialize(r, 0, buf.out()), 0);
        EXPECT_EQ(of(buf.get()), query_response);
    }
}

// ---------------------------------------------------------------------------
// Malformed vectors

// The malformed seeds of the decoder fuzz targets (fuzz/corpus/bn_*/bad_*)
// are the golden vectors above with one field broken, as each name says;
// each must be refused with its code and its one line (replayed below).
struct refusal {
    int code;
    const char *line;
};

const char *const no_space = "Bail forced with error code 14011 (buffer space exhausted)";

const std::map<std::string, refusal> refusals = {
    {"bad_truncated_request", {lc_err_no_buffer_space, no_space}},
    {"bad_truncated_header", {lc_err_no_buffer_space, no_space}},
    {"bad_response_length_one_too_long", {lc_err_parse_error, "total bytes: 129  used: 128"}},
    {"bad_request_length_one_too_short", {lc_err_parse_error, "total bytes: 108  used: 109"}},
    {"bad_trailing_byte", {lc_err_parse_error, "total bytes: 119  used: 118"}},
    {"bad_string_length_beyond_the_buffer", {lc_err_no_buffer_space, no_space}},
    {"bad_node_count_that_cannot_fit", {lc_err_no_buffer_space, no_space}},
    {"bad_response_node_count_that_cannot_fit", {lc_err_no_buffer_space, no_space}},
    {"bad_part_count_that_cannot_fit", {lc_err_no_buffer_space, no_space}},
    {"bad_attribute_count_that_cannot_fit", {lc_err_no_buffer_space, no_space}},
    {"bad_unknown_request_type", {lc_err_parse_error, "illegal messsage of type 9"}},
    {"bad_response_type_as_a_request", {lc_err_parse_error, "illegal messsage of type 2"}},
    {"bad_request_type_as_a_response", {lc_err_parse_error, "illegal messsage of type 1"}},
    {"bad_unknown_attribute_type",
     {lc_err_parse_error, "Couldn't get attrib copy in func for type 10"}},
    {"bad_attribute_type_beyond_the_table",
     {lc_err_parse_error, "Couldn't get attrib copy in func for type 4294967295"}},
    {"bad_attribute_type_any",
     {lc_err_parse_error, "Couldn't get attrib copy in func for type 91"}},
    {"bad_absolute_flag_neither_0_nor_1",
     {lc_err_parse_error, "Bail forced with error code 14012 (generic parser error)"}},
};

TEST(BnProtoMalformed, DuplicateAttributeIdIsRefused)
{
    // Node 1000 of the action request carrying its uint32 twice.
    const bytes attr(action_request.begin() + 52, action_request.begin() + 76);
    bytes v = action_request;
    v.insert(v.begin() + 76, attr.begin(), attr.end());
    v[51] = 2;              // attribute count
    v[7] = uint8(v.size()); // length
    Lines log;
    owned<bn_request> msg;
    EXPECT_EQ(bn_request_msg_deserialize(v.data(), uint32(v.size()), msg.out()),
              lc_err_parse_error);
    EXPECT_EQ(log.count("Bail forced with error code 14012"), 1u) << log.dump();
}

// ---------------------------------------------------------------------------
// Over real sessions

// A provider "mgmtd" and a client "iptrackd" in one loop over the real
// socket path, in a private directory, with the management service open.
struct Pair {
    SocketDir dir;
    Loop loop;
    gcl_session *provider = nullptr;
    gcl_session *accepted = nullptr; // the provider's side of the client's session
    gcl_session *client = nullptr;

    Pair()
    {
        EXPECT_EQ(0, gcl_bn_init(loop.gcl));
        provider = listen_as(loop.gcl, "mgmtd", &accepted);
        EXPECT_NE(nullptr, provider);
        EXPECT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &client));
        EXPECT_EQ(0, gcl_session_client_connect_by_provider(client, "mgmtd", false));
        EXPECT_EQ(0, gcl_session_client_open_service(client, bn_service_mgmt, 2, nullptr, 0));
        EXPECT_TRUE(
            loop.run_until([&] { return service_open(client, bn_service_mgmt) && accepted; }));
    }
    ~Pair()
    {
        gcl_session_free(&client);
        gcl_session_free(&provider);
    }
};

struct Seen {
    int calls = 0;
    owned<bn_request> request;
    owned<bn_response> response;
    gcl_session *session = nullptr;
};

int keep_response(gcl_session *s, bn_response *msg, void *data)
{
    auto *seen = static_cast<Seen *>(data);
    ++seen->calls;
    seen->session = s;
    return bn_response_msg_dup(msg, seen->response.out());
}

// The provider keeps each action and answers it with one result binding.
int answer_action(gcl_session *s, bn_request *msg, void *data)
{
    auto *seen = static_cast<Seen *>(data);
    ++seen->calls;
    seen->session = s;
    bail_error(bn_request_msg_dup(msg, seen->request.out()));
    owned<bn_response> resp;
    bail_error(bn_action_response_msg_create(resp.out(), msg->msg_id, 0, nullptr));
    bail_error(bn_action_response_set_param(resp.get(), "result", bt_string, "done"));
    return bn_response_msg_send(s, resp.get());
}

TEST(BnProtoSession, ActionRoundTripWithSessionIdsAfterAnUndecodableMessage)
{
    Pair p;
    Seen at_provider, at_client, global_client;
    ASSERT_EQ(0,
              bn_set_global_callback_action_request_msg(p.loop.gcl, answer_action, &at_provider));
    ASSERT_EQ(
        0, bn_set_global_callback_action_response_msg(p.loop.gcl, keep_response, &global_client));
    ASSERT_EQ(0, bn_set_session_callback_action_response_msg(p.client, keep_response, &at_client));
    ASSERT_EQ(0, bn_session_set_audit_user_info(p.client, "admin"));

    Lines log(LCL_DEBUG);
    // First a message that does not decode (service 2, type 5, then a header
    // cut short): dropped with its line, and the session goes on.
    const uint8 bad[] = {0x00, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00};
    ASSERT_EQ(0, gcl_session_send_frame_components(p.client, gcl_body_proto_bnode,
                                                   bbmt_action_request, sizeof bad, bad));
    ASSERT_TRUE(p.loop.run_until([&] {
        return log.count("Bail forced with error code 14011") == 1;
    })) << log.dump();
    EXPECT_EQ(at_provider.calls, 0);
    for (uint32 round = 0; round < 2; ++round) {
        owned<bn_request> req = new_action("/qz/iptrackd/action/ip_mon");
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

    EXPECT_EQ(at_client.response->req_msg_id, 2u);
    const bn_binding *result = nullptr;
    ASSERT_EQ(0, bn_response_get_binding_by_name(at_client.response.get(), "result", &result));
    EXPECT_NE(result, nullptr);
    EXPECT_EQ(global_client.calls, 0); // the session's callback came first
    EXPECT_EQ(at_provider.calls, 2);
    EXPECT_EQ(log.count("Error code"), 0u) << log.dump();
}

TEST(BnProtoSession, UnansweredTypesAndClosedServicesAreDroppedWithALine)
{
    Pair p;
    Lines log(LCL_WARNING);
    auto dropped = [&](gcl_session *at, const std::string &line) {
        const std::string want = session_line(at, line);
        EXPECT_TRUE(p.loop.run_until([&] { return log.count(want) == 1; })) << log.dump();
    };
    owned<bn_request> ev;
    ASSERT_EQ(0, bn_event_request_msg_create(ev.out(), "/e"));
    ASSERT_EQ(0, bn_request_msg_send(p.client, ev.get()));
    dropped(p.accepted, "proto bnode: no event request callback");

    owned<bn_response> resp;
    ASSERT_EQ(0, bn_query_response_msg_create(resp.out(), 9, 14001, "bad"));
    ASSERT_EQ(0, bn_response_msg_send(p.accepted, resp.get()));
    dropped(p.client, "proto bnode: no query response callback: code = 14001 msg = bad");

    ASSERT_EQ(0, bn_request_set_service_id(ev.get(), 3));
    ASSERT_EQ(0, bn_request_msg_send(p.client, ev.get()));
    dropped(p.accepted, "service 3 not open: 2");
}

TEST(BnProtoSession, NotConnectedDropsWithSuccess)
{
    Loop loop;
    ASSERT_EQ(0, gcl_bn_init(loop.gcl));
    EXPECT_EQ(lc_err_exists, gcl_bn_init(loop.gcl));
    gcl_session *s = nullptr;
    ASSERT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &s));
    Lines log(LCL_INFO);
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

// ---------------------------------------------------------------------------
// The seed corpora of the message fuzz targets, replayed so that every
// build checks them, with or without a fuzzer.  Seeds named "bad_*" must be
// refused; "regress_*" (inputs that once crashed a fuzzer) only have to be
// handled, either way; the others must decode and encode back to the same
// bytes, and every truncation of them must be refused.

namespace fs = std::filesystem;

bytes read_file(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

template <class Msg>
void replay(const char *dir, int (*decode)(const uint8 *, uint32, Msg **),
            int (*encode)(Msg *, uint32, tbuf **), int (*release)(Msg **), size_t *refused)
{
    const fs::path root = fs::path(IPT_SOURCE_DIR) / "fuzz" / "corpus" / dir;
    ASSERT_TRUE(fs::is_directory(root)) << root;
    size_t seen = 0;
    for (const auto &entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const bytes in = read_file(entry.path());
        Lines log;
        Msg *msg = nullptr;
        const int err = decode(in.data(), uint32(in.size()), &msg);
        if (name.rfind("regress_", 0) == 0) {
            if (err == 0) {
                tbuf *out = nullptr;
                EXPECT_EQ(encode(msg, 0, &out), 0);
                (void)tb_free(&out);
            }
        } else if (name.rfind("bad_", 0) == 0) {
            EXPECT_EQ(msg, nullptr);
            const auto it = refusals.find(name);
            ASSERT_NE(it, refusals.end()) << "a malformed seed without its refusal";
            EXPECT_EQ(err, it->second.code);
            const std::vector<std::string> lines = log.bodies();
            ASSERT_EQ(lines.size(), 1u) << log.dump();
            // Failure-macro lines carry function and source before the text.
            if (std::string(it->second.line).rfind("Bail forced", 0) == 0)
                EXPECT_NE(lines[0].find(it->second.line), std::string::npos) << lines[0];
            else
                EXPECT_EQ(lines[0], it->second.line);
            ++*refused;
        } else {
            ASSERT_EQ(err, 0) << log.dump();
            tbuf *out = nullptr;
            ASSERT_EQ(encode(msg, 0, &out), 0);
            EXPECT_EQ(bytes(tb_buf(out), tb_buf(out) + tb_length(out)), in);
            (void)tb_free(&out);
            // Every truncation of it is refused, with one line.
            for (size_t n = 0; n < in.size(); ++n) {
                Msg *part = nullptr;
                const size_t lines = log.count("");
                EXPECT_NE(decode(in.data(), uint32(n), &part), 0) << n;
                EXPECT_EQ(log.count(""), lines + 1) << n;
                (void)release(&part);
            }
        }
        (void)release(&msg);
        ++seen;
    }
    EXPECT_GT(seen, 0u);
}

TEST(FuzzCorpusReplay, EverySeed)
{
    size_t refused = 0;
    // The management client's target starts from whole requests too.
    for (const char *dir : {"bn_request", "mdc_request"})
        replay<bn_request>(dir, bn_request_msg_deserialize, bn_request_msg_serialize,
                           bn_request_msg_free, &refused);
    replay<bn_response>("bn_response", bn_response_msg_deserialize, bn_response_msg_serialize,
                        bn_response_msg_free, &refused);
    EXPECT_EQ(refused, refusals.size()); // every refusal has its seed
}

} // namespace
