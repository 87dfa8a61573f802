// The message encoding pinned by golden byte vectors written out by hand
// from the layout: decode and check the fields, encode again and compare;
// malformed vectors each give one code and one log line.  The vectors are
// also the seed corpus of the decoder fuzz targets (fuzz/corpus/bn_*).
#include <gtest/gtest.h>

#include <string>

#include "bnode/bnode_test_helpers.h"
#include "bnode_proto_test_helpers.h"
#include "mgmt/bnode_proto.h"
#include "util/byte_cursor.h"

namespace
{

using namespace proto_test;

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

// An attribute with id 1 ("value"): encoding, id, type, flags, then the
// value as its encoding lays it out.
bytes value_attr(uint32 encoding, uint32 type, uint32 flags, const bytes &value)
{
    return cat({be32(encoding), be32(1), be32(type), be32(flags), value});
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
    node(1000, true, {"a", "u"}),
    be32(1),
    value_attr(1, 5, 0, {0, 0, 0, 4, 0x01, 0x02, 0x03, 0x04}), // numeric uint32 16909060
    node(1001, false, {"s"}),
    be32(1),
    value_attr(4, 101, 0, str("hi")), // string
    node(1002, true, {"a", "b"}),
    be32(1),
    value_attr(1, 9, 0, {0, 0, 0, 4, 0, 0, 0, 1}), // bool true
    node(1003, true, {"a", "ip"}),
    be32(1),
    value_attr(1, 60, 0, {0, 0, 0, 4, 10, 1, 2, 3}), // ipv4addr 10.1.2.3
    str("/act"),                                     // action name
});

// Event "/ev": "/a/d" deleted (uint32 with no value, flags no_value and
// deleted), "/a/n" a string "v".
const bytes event_request = cat({
    {0x00, 0x02, 0x00, 0x07}, // service 2, type 7 (event)
    be32(118),                // length
    be32(3),                  // message id
    be32(0),                  // transaction id
    be32(0),                  // no audit user information
    be32(2),                  // 2 nodes
    node(1000, true, {"a", "d"}),
    be32(1),
    value_attr(1, 5, 0x00180000, be32(0)), // uint32, no value bytes
    node(1001, true, {"a", "n"}),
    be32(1),
    value_attr(4, 101, 0, str("v")), // string
    str("/ev"),                      // event name
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
    node(1000, true, {"qz", "a"}),
    be32(1),
    value_attr(1, 3, 0, {0, 0, 0, 2, 0x12, 0x34}), // uint16 0x1234
    node(1001, true, {"qz", "b"}),
    be32(1),
    value_attr(4, 101, 0, str("ok")), // string
    be32(42),                         // revision
});

using bnode_test::name_of;

// Re-encodes a decoded request and compares with the golden bytes, with no
// reserve and with the 32-byte frame reserve.
void expect_request_encodes_to(bn_request *msg, const bytes &golden)
{
    owned<tbuf> buf;
    ASSERT_EQ(bn_request_msg_serialize(msg, 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), golden) << "actual:\n" << hex(of(buf.get()));
    EXPECT_EQ(msg->length, golden.size());
    ASSERT_EQ(bn_request_msg_serialize(msg, bn_frame_header_reserve, buf.out()), 0);
    EXPECT_EQ(of(buf.get(), bn_frame_header_reserve), golden);
    EXPECT_EQ(bytes(tb_buf(buf.get()), tb_buf(buf.get()) + bn_frame_header_reserve),
              bytes(bn_frame_header_reserve, 0));
}

TEST(BnProtoGolden, QueryRequestWithTwoNodes)
{
    Lines log;
    owned<bn_request> msg;
    ASSERT_EQ(
        bn_request_msg_deserialize(query_request.data(), uint32(query_request.size()), msg.out()),
        0);
    EXPECT_EQ(msg->service_id, 2);
    EXPECT_EQ(msg->msg_type, bbmt_query_request);
    EXPECT_EQ(bn_request_get_msg_id(msg.get()), 7u);
    EXPECT_EQ(msg->transaction_id, 9u);
    EXPECT_EQ(msg->audit_user_info, nullptr);
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
    ASSERT_EQ(bn_binding_array_length_quick(bindings.get()), 2u);
    EXPECT_EQ(name_of(bn_binding_array_get_quick(bindings.get(), 0)), "/qz/iptrackd");
    EXPECT_EQ(name_of(bn_binding_array_get_quick(bindings.get(), 1)), "/qz/x");
    EXPECT_EQ(uint32_array_get_quick(ids.get(), 0), 1000u);
    EXPECT_EQ(uint32_array_get_quick(ids.get(), 1), 1001u);
    EXPECT_EQ(uint32_array_get_quick(subops.get(), 0), uint32(bqso_get));
    EXPECT_EQ(uint32_array_get_quick(subops.get(), 1), uint32(bqso_iterate));
    EXPECT_EQ(uint32_array_get_quick(node_flags.get(), 1), 0x1000u);
    EXPECT_EQ(msg->next_node_id, 1002u);
    expect_request_encodes_to(msg.get(), query_request);

    // The same message built through the constructors encodes alike.
    owned<bn_request> built;
    ASSERT_EQ(bn_query_request_msg_create(built.out(), 0x2000, "db"), 0);
    ASSERT_EQ(bn_request_set_service_id(built.get(), 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(built.get(), 7), 0);
    ASSERT_EQ(bn_request_set_transaction_id(built.get(), 9), 0);
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
    owned<bn_request> msg;
    ASSERT_EQ(
        bn_request_msg_deserialize(action_request.data(), uint32(action_request.size()), msg.out()),
        0);
    EXPECT_EQ(msg->msg_type, bbmt_action_request);
    EXPECT_EQ(msg->msg_id, 17u);
    EXPECT_EQ(msg->transaction_id, 34u);
    EXPECT_STREQ(ts_str(msg->audit_user_info), "admin");
    const tstring *name = nullptr;
    ASSERT_EQ(bn_action_request_msg_get_action_name(msg.get(), &name), 0);
    EXPECT_STREQ(ts_str(name), "/act");

    const bn_binding *b = nullptr;
    uint32 taf = 0;
    ASSERT_EQ(bn_request_get_param(msg.get(), "/a/u", &b), 0);
    uint32 u = 0;
    ASSERT_EQ(bn_binding_get_uint32(b, ba_value, &taf, &u), 0);
    EXPECT_EQ(u, 16909060u);
    ASSERT_EQ(bn_request_get_param(msg.get(), "s", &b), 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name_is_absolute, 0u);
    const tstring *s = nullptr;
    ASSERT_EQ(bn_binding_get_tstring_const(b, ba_value, bt_string, &taf, &s), 0);
    EXPECT_STREQ(ts_str(s), "hi");
    ASSERT_EQ(bn_request_get_param(msg.get(), "/a/b", &b), 0);
    tbool t = false;
    ASSERT_EQ(bn_binding_get_tbool(b, ba_value, &taf, &t), 0);
    EXPECT_TRUE(t);
    ASSERT_EQ(bn_request_get_param(msg.get(), "/a/ip", &b), 0);
    uint32 ip = 0;
    ASSERT_EQ(bn_binding_get_ipv4addr(b, ba_value, &taf, &ip), 0);
    EXPECT_EQ(ip, 0x0a010203u);
    expect_request_encodes_to(msg.get(), action_request);

    owned<bn_request> built;
    ASSERT_EQ(bn_action_request_msg_create(built.out(), "/act"), 0);
    ASSERT_EQ(bn_request_set_service_id(built.get(), 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(built.get(), 17), 0);
    ASSERT_EQ(bn_request_set_transaction_id(built.get(), 34), 0);
    ASSERT_EQ(bn_request_set_audit_user_info(built.get(), "admin"), 0);
    uint32 id = 0;
    ASSERT_EQ(bn_action_request_msg_append_new_binding(built.get(), 0, "/a/u", bt_uint32,
                                                       "16909060", &id),
              0);
    EXPECT_EQ(id, 1000u);
    ASSERT_EQ(bn_action_request_msg_append_new_binding(built.get(), 0, "s", bt_string, "hi", &id),
              0);
    EXPECT_EQ(id, 1001u);
    ASSERT_EQ(
        bn_action_request_msg_append_new_binding(built.get(), 0, "/a/b", bt_bool, "true", &id), 0);
    ASSERT_EQ(bn_action_request_msg_append_new_binding(built.get(), 0, "/a/ip", bt_ipv4addr,
                                                       "10.1.2.3", &id),
              0);
    EXPECT_EQ(id, 1003u);
    expect_request_encodes_to(built.get(), action_request);
    EXPECT_TRUE(log.bodies().empty()) << log.dump();
}

TEST(BnProtoGolden, EventWithADeletedNode)
{
    owned<bn_request> msg;
    ASSERT_EQ(
        bn_request_msg_deserialize(event_request.data(), uint32(event_request.size()), msg.out()),
        0);
    const tstring *name = nullptr;
    ASSERT_EQ(bn_event_request_msg_get_event_name(msg.get(), &name), 0);
    EXPECT_STREQ(ts_str(name), "/ev");
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_request_get_param(msg.get(), "/a/d", &b), 0);
    bn_type type = 0;
    uint32 flags = 0;
    ASSERT_EQ(bn_binding_get_type(b, ba_value, &type, &flags), 0);
    EXPECT_EQ(type, uint32(bt_uint32));
    EXPECT_EQ(flags, uint32(btf_no_value | btf_deleted));
    EXPECT_EQ(flags, 1572864u);
    expect_request_encodes_to(msg.get(), event_request);

    owned<bn_request> built;
    ASSERT_EQ(bn_event_request_msg_create(built.out(), "/ev"), 0);
    ASSERT_EQ(bn_request_set_service_id(built.get(), 2), 0);
    ASSERT_EQ(bn_request_set_msg_id(built.get(), 3), 0);
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
    uint32 req = 0, id = 0, code = 99, tid = 0;
    const tstring *text = nullptr;
    ASSERT_EQ(bn_response_get_msg_ids(msg.get(), &req, &id), 0);
    ASSERT_EQ(bn_response_get_return(msg.get(), &code, &text), 0);
    ASSERT_EQ(bn_response_get_transaction_id(msg.get(), &tid), 0);
    EXPECT_EQ(req, 7u);
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(tid, 9u);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(text, nullptr);
    int32 rev = 0;
    ASSERT_EQ(bn_response_get_db_revision_id(msg.get(), &rev), 0);
    EXPECT_EQ(rev, 42);
    const bn_binding *b = nullptr;
    ASSERT_EQ(bn_response_get_binding_by_name(msg.get(), "/qz/a", &b), 0);
    uint32 taf = 0;
    uint16 v = 0;
    ASSERT_EQ(bn_binding_get_uint16(b, ba_value, &taf, &v), 0);
    EXPECT_EQ(v, 0x1234);

    owned<tbuf> buf;
    ASSERT_EQ(bn_response_msg_serialize(msg.get(), 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), query_response) << "actual:\n" << hex(of(buf.get()));

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
    ASSERT_EQ(bn_response_msg_serialize(built.get(), 0, buf.out()), 0);
    EXPECT_EQ(of(buf.get()), query_response) << "actual:\n" << hex(of(buf.get()));
}

// ---------------------------------------------------------------------------
// Malformed vectors

bytes with(bytes v, size_t at, std::initializer_list<uint8> b)
{
    for (uint8 x : b) v[at++] = x;
    return v;
}

bytes cut(bytes v, size_t n)
{
    v.resize(v.size() - n);
    return v;
}

bytes plus(bytes v, std::initializer_list<uint8> b)
{
    v.insert(v.end(), b);
    return v;
}

struct malformed {
    const char *what;
    bool response;
    bytes wire;
    int code;
    const char *line; // the one line logged
};

// Offsets into the vectors above, counted by hand.
constexpr size_t qr_node_count = 20;       // query request: node count
constexpr size_t qr_first_part_count = 29; // query request: parts of node 1000
constexpr size_t qr_first_attr_count = 51; // query request: attributes of node 1000
constexpr size_t ar_audit = 16;            // action request: audit string length
constexpr size_t ar_first_abs = 33;        // action request: absolute flag of node 1000
constexpr size_t ar_first_type = 60;       // action request: type of the uint32 attribute
constexpr size_t rs_node_count = 28;       // query response: node count

const malformed malformed_cases[] = {
    {"truncated request", false, cut(query_request, 3), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"truncated header", true, cut(query_response, 120), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"response length one too long", true, with(query_response, 7, {0x81}), lc_err_parse_error,
     "total bytes: 129  used: 128"},
    {"request length one too short", false, with(query_request, 7, {0x6c}), lc_err_parse_error,
     "total bytes: 108  used: 109"},
    {"trailing byte", false, plus(event_request, {0}), lc_err_parse_error,
     "total bytes: 119  used: 118"},
    {"string length beyond the buffer", false,
     with(action_request, ar_audit, {0x7f, 0xff, 0xff, 0xff}), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"node count that cannot fit", false,
     with(query_request, qr_node_count, {0xff, 0xff, 0xff, 0xff}), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"response node count that cannot fit", true,
     with(query_response, rs_node_count, {0xff, 0xff, 0xff, 0xff}), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"part count that cannot fit", false,
     with(query_request, qr_first_part_count, {0x40, 0x00, 0x00, 0x00}), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"attribute count that cannot fit", false,
     with(query_request, qr_first_attr_count, {0x00, 0x00, 0x00, 0x04}), lc_err_no_buffer_space,
     "Bail forced with error code 14011 (buffer space exhausted)"},
    {"unknown request type", false, with(query_request, 3, {0x09}), lc_err_parse_error,
     "illegal messsage of type 9"},
    {"response type as a request", false, with(query_request, 3, {0x02}), lc_err_parse_error,
     "illegal messsage of type 2"},
    {"request type as a response", true, with(query_response, 3, {0x01}), lc_err_parse_error,
     "illegal messsage of type 1"},
    {"unknown attribute type", false, with(action_request, ar_first_type + 3, {0x0a}),
     lc_err_parse_error, "Couldn't get attrib copy in func for type 10"},
    {"attribute type beyond the table", false,
     with(action_request, ar_first_type, {0xff, 0xff, 0xff, 0xff}), lc_err_parse_error,
     "Couldn't get attrib copy in func for type 4294967295"},
    {"attribute type any", false, with(action_request, ar_first_type + 3, {0x5b}),
     lc_err_parse_error, "Couldn't get attrib copy in func for type 91"},
    {"absolute flag neither 0 nor 1", false, with(action_request, ar_first_abs, {0x02}),
     lc_err_parse_error, "Bail forced with error code 14012 (generic parser error)"},
};

TEST(BnProtoMalformed, EachIsRefusedWithOneCodeAndLine)
{
    for (const malformed &m : malformed_cases) {
        SCOPED_TRACE(m.what);
        Lines log;
        int err = 0;
        if (m.response) {
            owned<bn_response> msg;
            err = bn_response_msg_deserialize(m.wire.data(), uint32(m.wire.size()), msg.out());
            EXPECT_EQ(msg.get(), nullptr);
        } else {
            owned<bn_request> msg;
            err = bn_request_msg_deserialize(m.wire.data(), uint32(m.wire.size()), msg.out());
            EXPECT_EQ(msg.get(), nullptr);
        }
        EXPECT_EQ(err, m.code);
        const std::vector<std::string> lines = log.bodies();
        ASSERT_EQ(lines.size(), 1u) << log.dump();
        // Failure-macro lines carry function and source before the text.
        if (std::string(m.line).rfind("Bail forced", 0) == 0)
            EXPECT_NE(lines[0].find(m.line), std::string::npos) << lines[0];
        else
            EXPECT_EQ(lines[0], m.line);
    }
}

TEST(BnProtoMalformed, EveryTruncationOfEveryGoldenIsRefused)
{
    for (const bytes *v : {&query_request, &action_request, &event_request}) {
        for (size_t n = 0; n < v->size(); ++n) {
            Lines log;
            owned<bn_request> msg;
            EXPECT_NE(bn_request_msg_deserialize(v->data(), uint32(n), msg.out()), 0) << n;
            EXPECT_EQ(log.bodies().size(), 1u) << n << log.dump();
        }
    }
    for (size_t n = 0; n < query_response.size(); ++n) {
        owned<bn_response> msg;
        EXPECT_NE(bn_response_msg_deserialize(query_response.data(), uint32(n), msg.out()), 0);
    }
}

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

} // namespace
