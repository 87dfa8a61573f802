// The management client: requests over the real message encoding (see
// mdc_test_fixture.h), notifications, answers to forwarded queries, the
// registration tree, the name utilities, and the transport against the
// in-process stand-in over real sockets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "mdc_test_fixture.h"
#include "mgmt/mdc_transport.h"
#include "support/log_capture.h"
#include "support/mgmt_test_provider.h"

namespace
{

using namespace mdc_test;
using bnode_test::strings_t;

owned<bn_binding_array> new_array()
{
    owned<bn_binding_array> a;
    EXPECT_EQ(0, bn_binding_array_new(a.out()));
    return a;
}

// One change entry of a dbchange notification, as mgmtd lays it out.
void add_change(bn_binding_array *a, const char *n, const char *type, const char *node,
                const char *prev, const char *next, bn_type vtype = bt_string)
{
    const std::string e = std::string(MDC_DBCHANGE_ROOT "/") + n;
    add(a, e.c_str(), bt_uint32, n);
    add(a, (e + "/change_type").c_str(), bt_string, type);
    add(a, (e + "/name").c_str(), bt_name, node);
    if (prev) add(a, (e + "/prev_attribs/value").c_str(), vtype, prev);
    if (next) add(a, (e + "/new_attribs/value").c_str(), vtype, next);
}

// The type and flags of the value.
std::pair<bn_type, uint32> type_of(const bn_binding *b)
{
    bn_type t = 0;
    uint32 f = 0;
    EXPECT_EQ(0, bn_binding_get_type(b, ba_value, &t, &f));
    return {t, f};
}

// The nodes of a request as "subop name[ -> parent new-name]".
strings_t ops_of(const bn_request *req)
{
    strings_t out;
    for (uint32 i = 0; i < node_count(req); ++i) {
        const bn_request_per_node *n = node_of(req, i);
        std::string s = std::to_string(n->subop) + " " + name_of(n->binding);
        if (n->subop == bsso_reparent)
            s += std::string(" -> ") + ts_str(n->reparent_parent) + " " + ts_str(n->reparent_name);
        out.push_back(s);
    }
    return out;
}

// ---------------------------------------------------------------------------
// One node

TEST_F(Client, GetBindingDetachesTheExactNameOrGivesNull)
{
    r.add("/a/b", bt_uint32, "7");
    r.add("/a/b/c", bt_string, "deeper");
    uint32 code = 99;
    tstring *msg = reinterpret_cast<tstring *>(1);
    bn_binding *none = reinterpret_cast<bn_binding *>(1);
    ASSERT_EQ(0, mdc_get_binding(mcc.get(), &code, &msg, 0, &none, "/a/missing", nullptr));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(nullptr, msg);
    // On the wire: a query, one "get" node, node and message flags 0.
    const bn_request *req = r.last();
    ASSERT_NE(nullptr, req);
    EXPECT_EQ(bbmt_query_request, req->msg_type);
    EXPECT_EQ(0u, req->flags);
    EXPECT_EQ((strings_t{std::to_string(bqso_get) + " /a/missing"}), ops_of(req));
    EXPECT_EQ(0u, node_of(req, 0)->node_flags);

    owned<bn_binding> b;
    for (uint32 flags : {0u, 1u}) {
        ASSERT_EQ(0, mdc_get_binding(mcc.get(), nullptr, nullptr, flags, b.out(), "/a/b", "db"));
        EXPECT_EQ("/a/b", name_of(b.get()));
        EXPECT_EQ("7", value_of(b.get()));
        const tstr_array *parts = nullptr;
        ASSERT_EQ(0, bn_binding_get_name_parts_const(b.get(), &parts, nullptr));
        // Name parts travel with the binding only when asked for.
        EXPECT_EQ(flags == 1, parts != nullptr);
    }
    const tstring *db = nullptr;
    ASSERT_EQ(0, bn_query_request_msg_get_db_name(r.last(), &db));
    EXPECT_STREQ("db", ts_str(db));

    ASSERT_EQ(
        0, mdc_get_binding_fmt(mcc.get(), nullptr, nullptr, 0, b.out(), nullptr, "/a/%s/c", "b"));
    EXPECT_EQ("deeper", value_of(b.get()));
}

TEST_F(Client, TypedReadsConvertAndLeaveAbsentValuesUntouched)
{
    r.add("/n/u32", bt_uint32, "4000000000");
    r.add("/n/text42", bt_string, "42");
    r.add("/n/big", bt_uint64, "18000000000000000000");
    r.add("/n/flag", bt_bool, "true");
    r.add("/n/state", bt_string, "Ready");

    tbool found = false;
    uint32 u = 5;
    auto u32 = [&](const char *name) {
        return mdc_get_binding_uint32(mcc.get(), nullptr, nullptr, &found, &u, name, nullptr);
    };
    ASSERT_EQ(0, u32("/n/none"));
    EXPECT_FALSE(found);
    EXPECT_EQ(5u, u);
    ASSERT_EQ(0, u32("/n/u32"));
    EXPECT_TRUE(found);
    EXPECT_EQ(4000000000u, u);
    ASSERT_EQ(0, u32("/n/text42"));
    EXPECT_EQ(42u, u);
    // Text that is no number is the converter's failure.
    EXPECT_EQ(lc_err_bad_type, u32("/n/state"));

    uint64 big = 0;
    ASSERT_EQ(0,
              mdc_get_binding_uint64(mcc.get(), nullptr, nullptr, &found, &big, "/n/big", nullptr));
    EXPECT_EQ(18000000000000000000ull, big);
    tbool flag = false;
    ASSERT_EQ(
        0, mdc_get_binding_tbool(mcc.get(), nullptr, nullptr, &found, &flag, "/n/flag", nullptr));
    EXPECT_TRUE(flag);

    tstring *text = nullptr;
    ASSERT_EQ(
        0, mdc_get_binding_tstr(mcc.get(), nullptr, nullptr, &found, &text, "/n/state", nullptr));
    ASSERT_TRUE(found);
    EXPECT_STREQ("Ready", ts_str(text));
    ts_free(&text);
    ASSERT_EQ(0, mdc_get_binding_tstr_fmt(mcc.get(), nullptr, nullptr, &found, &text, nullptr,
                                          "/n/%s", "absent"));
    EXPECT_FALSE(found);
    EXPECT_EQ(nullptr, text);
}

// ---------------------------------------------------------------------------
// Children

TEST_F(Client, ChildrenQueriesCarryTheFlagsAndFindNthNextAndCount)
{
    r.add("/c/m1", bt_string, "");
    r.add("/c/m1/enable", bt_bool, "true");
    r.add("/c/m2", bt_string, "");
    r.add("/other", bt_string, "");

    struct Case {
        tbool option, subtree;
        uint32 flags;
        std::vector<std::string> names;
    } cases[] = {
        {0, 1, 0x1000, {"/c/m1", "/c/m1/enable", "/c/m2"}},
        {1, 1, 0x3000, {"/c/m1", "/c/m1/enable", "/c/m2"}},
        {0, 0, 0, {"/c/m1", "/c/m2"}},
        {1, 0, 0x2000, {"/c/m1", "/c/m2"}},
    };
    for (const Case &c : cases) {
        owned<bn_binding_array> out;
        ASSERT_EQ(0, mdc_get_binding_children(mcc.get(), nullptr, nullptr, 1, out.out(), c.option,
                                              c.subtree, "/c"));
        EXPECT_EQ(c.names, names_of(out.get()));
        EXPECT_EQ((strings_t{std::to_string(bqso_iterate) + " /c"}), ops_of(r.last()));
        EXPECT_EQ(c.flags, node_of(r.last(), 0)->node_flags);
    }

    // No children: an empty array, not null.
    owned<bn_binding_array> none;
    ASSERT_EQ(0, mdc_get_binding_children(mcc.get(), nullptr, nullptr, 0, none.out(), 0, 1, "/x"));
    ASSERT_NE(nullptr, none.get());
    EXPECT_EQ(0u, bn_binding_array_length_quick(none.get()));

    owned<bn_binding_array> ex;
    ASSERT_EQ(0, mdc_get_binding_children_ex(mcc.get(), nullptr, nullptr, 0, ex.out(), 0x1000, 77,
                                             "candidate", "/c"));
    int32 rev = 0;
    ASSERT_EQ(0, bn_query_request_msg_get_option_cond_db_revision_id(r.last(), &rev));
    EXPECT_EQ(77, rev);

    // Child names, the nth and the next child, and counts.
    owned<tstr_array> names;
    ASSERT_EQ(0,
              mdc_get_binding_children_tstr_array(mcc.get(), nullptr, nullptr, names.out(), "/c"));
    EXPECT_EQ((strings_t{"m1", "m2"}), bnode_test::strings_of(names.get()));
    owned<bn_binding> b;
    ASSERT_EQ(0, mdc_get_nth_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/c", 1));
    EXPECT_EQ("/c/m2", name_of(b.get()));
    ASSERT_EQ(0, mdc_get_nth_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/c", 2));
    EXPECT_EQ(nullptr, b.get());
    const char *next[][2] = {{nullptr, "/c/m1"}, {"m1", "/c/m2"}, {"m2", "(null)"}};
    for (const auto &[after, want] : next) {
        ASSERT_EQ(0,
                  mdc_get_next_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/c", after));
        EXPECT_EQ(want, name_of(b.get()));
    }
    uint32 count = 0;
    for (uint32 subtree : {0, 1}) {
        ASSERT_EQ(0, mdc_count_bindings(mcc.get(), nullptr, nullptr, &count, subtree, "/c"));
        EXPECT_EQ(2 + subtree, count);
    }
}

TEST_F(Client, PatternWalksQueryTheFixedRootAndStopOnHalt)
{
    r.add("/p/m1/comment", bt_string, "c");
    r.add("/p/m1/enable", bt_bool, "false");
    r.add("/p/m2/enable", bt_bool, "true");

    // Answered out of order: the plain walk keeps the response's order, the
    // sorted one does not.
    r.reverse_iterate = true;
    std::vector<std::string> seen;
    auto collect = [](const bn_binding_array *, uint32, const bn_binding *b, void *d) {
        static_cast<std::vector<std::string> *>(d)->push_back(ts_str(b->name));
        return 0;
    };
    ASSERT_EQ(
        0, mdc_foreach_binding_pattern(mcc.get(), nullptr, nullptr, "/p/*/enable", collect, &seen));
    EXPECT_EQ((strings_t{"/p/m2/enable", "/p/m1/enable"}), seen);
    EXPECT_EQ("/p", name_of(node_of(r.last(), 0)->binding));
    EXPECT_EQ(uint32{mdqf_subtree}, node_of(r.last(), 0)->node_flags);

    seen.clear();
    ASSERT_EQ(0, mdc_foreach_binding_pattern_sorted(mcc.get(), nullptr, nullptr, "/p/*/enable",
                                                    collect, &seen));
    EXPECT_EQ((strings_t{"/p/m1/enable", "/p/m2/enable"}), seen);

    // Halt is a clean stop; any other code stops and comes back.
    int calls = 0;
    auto halt = [](const bn_binding_array *, uint32, const bn_binding *, void *d) {
        ++*static_cast<int *>(d);
        return int{lc_err_foreach_halt};
    };
    ASSERT_EQ(0, mdc_foreach_binding(mcc.get(), nullptr, nullptr, "/p", halt, &calls));
    EXPECT_EQ(1, calls);
    auto fail = [](const bn_binding_array *, uint32, const bn_binding *, void *) {
        return int{lc_err_not_found};
    };
    EXPECT_EQ(lc_err_not_found,
              mdc_foreach_binding(mcc.get(), nullptr, nullptr, "/p", fail, nullptr));

    owned<bn_binding_array> matching;
    ASSERT_EQ(0,
              mdc_get_pattern_bindings(mcc.get(), nullptr, nullptr, 0, matching.out(), "/p/m1/*"));
    EXPECT_EQ((strings_t{"/p/m1/enable", "/p/m1/comment"}), names_of(matching.get()));
}

// ---------------------------------------------------------------------------
// Actions and events

TEST_F(Client, ActionsAndEventsWithoutOrWithNodes)
{
    r.code = 14004;
    r.msg = "no such action";
    uint32 code = 0;
    owned<tstring> msg;
    ASSERT_EQ(0, mdc_send_action_with_bindings_str_va(mcc.get(), &code, msg.out(), "/act/x", 0));
    // The response's code is reported, not turned into a failure.
    EXPECT_EQ(14004u, code);
    EXPECT_STREQ("no such action", ts_str(msg.get()));
    const bn_request *req = r.last();
    EXPECT_EQ(bbmt_action_request, req->msg_type);
    EXPECT_STREQ("/act/x", ts_str(req->action_name));
    EXPECT_EQ(0u, node_count(req));

    ASSERT_EQ(0, mdc_send_action(mcc.get(), nullptr, nullptr, "/act/y"));
    EXPECT_EQ(0u, node_count(r.last()));

    // Events carry their name and bindings alike.
    ASSERT_EQ(0, mdc_send_event(mcc.get(), nullptr, nullptr, "/qz/alarms/events/clear_alarm"));
    EXPECT_EQ(bbmt_event_request, r.last()->msg_type);
    EXPECT_STREQ("/qz/alarms/events/clear_alarm", ts_str(r.last()->event_name));
    ASSERT_EQ(0, mdc_send_event_with_bindings_str_va(mcc.get(), nullptr, nullptr, "/ev", 2,
                                                     "alarm_type", bt_string, "262196", "param_1",
                                                     bt_string, "0"));
    ASSERT_EQ(2u, node_count(r.last()));
    EXPECT_EQ("262196", value_of(node_of(r.last(), 0)->binding));
}

TEST_F(Client, ActionTriplesBecomeTypedNodesInOrder)
{
    ASSERT_EQ(0, mdc_send_action_with_bindings_str_va(
                     mcc.get(), nullptr, nullptr, "/mgmtd/events/actions/interest/add", 3,
                     "event_name", bt_name, "/mgmtd/notify/dbchange", "match/1/pattern", bt_string,
                     "/qz/iptrackd/**", "count", bt_uint32, "12"));
    const bn_request *req = r.last();
    ASSERT_EQ(3u, node_count(req));
    const bn_type types[] = {bt_name, bt_string, bt_uint32};
    const char *names[] = {"event_name", "match/1/pattern", "count"};
    const char *values[] = {"/mgmtd/notify/dbchange", "/qz/iptrackd/**", "12"};
    for (uint32 i = 0; i < 3; ++i) {
        const bn_binding *b = node_of(req, i)->binding;
        EXPECT_EQ(names[i], name_of(b));
        EXPECT_EQ(values[i], value_of(b));
        EXPECT_EQ(types[i], type_of(b).first);
    }

    // A value that does not parse sends nothing.
    const size_t before = r.seen().size();
    LogCapture cap;
    EXPECT_EQ(lc_err_bad_type, mdc_send_action_with_bindings_str_va(
                                   mcc.get(), nullptr, nullptr, "/act", 1, "n", bt_uint32, "abc"));
    EXPECT_EQ(before, r.seen().size());
    EXPECT_TRUE(cap.contains("Error code 14020 (")) << cap.dump();
}

TEST_F(Client, ActionWithResultsCopiesBindingsAndReturnsTheReply)
{
    r.add_result("ip_state", bt_uint32, "1");
    r.add_result("handle", bt_string, "h7");
    owned<bn_binding_array> in = new_array();
    for (const char *n : {"oper", "target"}) add(in.get(), n, bt_string, n);
    owned<bn_binding_array> out;
    uint32 code = 1;
    ASSERT_EQ(0, mdc_send_action_with_bindings_and_results(
                     mcc.get(), &code, nullptr, "/qz/iptrackd/action/ip_mon", in.get(), out.out()));
    EXPECT_EQ(0u, code);
    EXPECT_EQ((strings_t{"ip_state", "handle"}), names_of(out.get()));
    ASSERT_EQ(2u, node_count(r.last()));
    EXPECT_EQ("target", value_of(node_of(r.last(), 1)->binding));
    // The caller's bindings are copied, not taken.
    EXPECT_EQ(2u, bn_binding_array_length_quick(in.get()));

    ASSERT_EQ(0, mdc_send_action_with_bindings_and_results(mcc.get(), nullptr, nullptr, "/a",
                                                           nullptr, out.out()));
    EXPECT_EQ(0u, node_count(r.last()));
    EXPECT_EQ(lc_err_unexpected_null, mdc_send_action_with_bindings_and_results(
                                          mcc.get(), nullptr, nullptr, "/a", nullptr, nullptr));

    ASSERT_EQ(0, mdc_send_action_with_bindings_and_results_va(mcc.get(), nullptr, nullptr, "/a",
                                                              out.out(), 1, "x", bt_string, "y"));
    EXPECT_EQ(2u, bn_binding_array_length_quick(out.get()));
    EXPECT_EQ("y", value_of(node_of(r.last(), 0)->binding));
}

// ---------------------------------------------------------------------------
// Failures of the transport

TEST_F(Client, TransportFailureIsLoggedAndReturnedWithOutputsEmpty)
{
    r.transport_error = lc_err_io_closed;
    LogCapture cap;
    uint32 code = 5;
    tstring *msg = reinterpret_cast<tstring *>(1);
    bn_binding *b = reinterpret_cast<bn_binding *>(1);
    EXPECT_EQ(lc_err_io_closed, mdc_get_binding(mcc.get(), &code, &msg, 0, &b, "/a", nullptr));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(nullptr, msg);
    EXPECT_EQ(nullptr, b);
    EXPECT_TRUE(cap.contains("Error code 14016 (")) << cap.dump();

    owned<bn_binding_array> out;
    EXPECT_EQ(lc_err_io_closed, mdc_send_action_with_bindings_and_results(
                                    mcc.get(), nullptr, nullptr, "/a", nullptr, out.out()));
    EXPECT_EQ(nullptr, out.get());

    // Success without a response is no success.
    r.transport_error = 0;
    r.lose_response = true;
    cap.clear();
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_send_action_with_bindings_str_va(mcc.get(), nullptr, nullptr, "/a", 0));
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
}

TEST(ClientContext, InitRefusesNullsAndDeinitTwiceIsHarmless)
{
    md_client_context *mcc = reinterpret_cast<md_client_context *>(1);
    EXPECT_EQ(lc_err_unexpected_null, mdc_init(nullptr, nullptr, nullptr, nullptr, nullptr, &mcc));
    EXPECT_EQ(nullptr, mcc);
    auto t = [](void *, gcl_session *, bn_request *, bn_response **) { return 0; };
    ASSERT_EQ(0, mdc_init(t, nullptr, nullptr, nullptr, nullptr, &mcc));
    EXPECT_EQ(0, mdc_deinit(&mcc));
    EXPECT_EQ(nullptr, mcc);
    EXPECT_EQ(0, mdc_deinit(&mcc));

    bn_binding *b = nullptr;
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_get_binding(nullptr, nullptr, nullptr, 0, &b, "/a", nullptr));
}

// ---------------------------------------------------------------------------
// Set requests and numbered lists

TEST_F(Client, SetFamilySendsItsSubOperations)
{
    ASSERT_EQ(0, mdc_modify_binding(mcc.get(), nullptr, nullptr, bt_uint32, "3", "/s/a"));
    ASSERT_EQ(0, mdc_create_binding(mcc.get(), nullptr, nullptr, bt_string, "v", "/s/b"));
    ASSERT_EQ(0, mdc_delete_binding(mcc.get(), nullptr, nullptr, "/s/c"));
    ASSERT_EQ(0, mdc_reset_binding(mcc.get(), nullptr, nullptr, "/s/d"));
    ASSERT_EQ(4u, r.seen().size());
    const strings_t want[] = {{"4 /s/a"}, {"1 /s/b"}, {"2 /s/c"}, {"3 /s/d"}};
    for (uint32 i = 0; i < 4; ++i) {
        EXPECT_EQ(bbmt_set_request, r.seen()[i]->msg_type);
        EXPECT_EQ(want[i], ops_of(r.seen()[i]));
    }
    EXPECT_EQ("3", value_of(node_of(r.seen()[0], 0)->binding));
    EXPECT_EQ("(none)", value_of(node_of(r.seen()[2], 0)->binding));

    ASSERT_EQ(0, mdc_reparent_binding(mcc.get(), nullptr, nullptr, "/s/a", "/t", "z"));
    EXPECT_EQ((strings_t{"5 /s/a -> /t z"}), ops_of(r.last()));

    r.add("/k/1", bt_string, "");
    r.add("/k/2", bt_string, "");
    r.add("/k/2/x", bt_string, "");
    ASSERT_EQ(0, mdc_delete_binding_children(mcc.get(), nullptr, nullptr, "/k"));
    EXPECT_EQ((strings_t{"2 /k/1", "2 /k/2"}), ops_of(r.last()));
    const size_t before = r.seen().size();
    ASSERT_EQ(0, mdc_delete_binding_children(mcc.get(), nullptr, nullptr, "/empty"));
    EXPECT_EQ(before + 1, r.seen().size()); // the query only
}

TEST_F(Client, NumberedListsRenumberWithReparents)
{
    r.add("/m/1", bt_string, "");
    r.add("/m/2", bt_string, "");
    r.add("/m/10", bt_string, "");
    r.add("/m/name", bt_string, "");

    owned<uint32_array> idx;
    ASSERT_EQ(0, mdc_array_get_indices(mcc.get(), nullptr, nullptr, "/m", idx.out()));
    ASSERT_EQ(3u, uint32_array_length_quick(idx.get()));
    EXPECT_EQ(10u, uint32_array_get_quick(idx.get(), 2));

    owned<bn_binding_array> item = new_array();
    add(item.get(), "pattern", bt_string, "/x/**");
    uint32 at = 0;
    ASSERT_EQ(0, mdc_array_append(mcc.get(), nullptr, nullptr, "/m", item.get(), &at));
    EXPECT_EQ(11u, at);
    EXPECT_EQ((strings_t{"1 /m/11", "1 /m/11/pattern"}), ops_of(r.last()));
    EXPECT_EQ("/x/**", value_of(node_of(r.last(), 1)->binding));

    // Insert at 2: 10 -> 11, then 2 -> 3 (highest first), then the new item.
    ASSERT_EQ(0, mdc_array_insert(mcc.get(), nullptr, nullptr, "/m", 2, nullptr));
    EXPECT_EQ((strings_t{"5 /m/10 -> /m 11", "5 /m/2 -> /m 3", "1 /m/2"}), ops_of(r.last()));

    // Delete 1: the items above move down by one, lowest first.
    ASSERT_EQ(0, mdc_array_delete(mcc.get(), nullptr, nullptr, "/m", 1));
    EXPECT_EQ((strings_t{"2 /m/1", "5 /m/2 -> /m 1", "5 /m/10 -> /m 9"}), ops_of(r.last()));

    // Move 1 to 10: through the scratch slot, the items between shift down.
    ASSERT_EQ(0, mdc_array_move(mcc.get(), nullptr, nullptr, "/m", 1, 10));
    EXPECT_EQ((strings_t{"5 /m/1 -> /m 0", "5 /m/2 -> /m 1", "5 /m/10 -> /m 9", "5 /m/0 -> /m 10"}),
              ops_of(r.last()));
}

// ---------------------------------------------------------------------------
// Configuration-change notifications

TEST(ConfigChangeNotif, AddModifyDeleteSplitIntoPreviousAndNewBadEntriesFail)
{
    owned<bn_binding_array> ev = new_array();
    // Appended out of order: the extraction sorts by name first.
    add_change(ev.get(), "3", "delete", "/qz/iptrackd/config/manager/m1/enable", "true", nullptr,
               bt_bool);
    add_change(ev.get(), "1", "add", "/qz/iptrackd/config/oper/o1/attributes", nullptr,
               "type=ping");
    add_change(ev.get(), "2", "modify", "/qz/iptrackd/config/action/a1/attributes", "old", "new");
    add(ev.get(), "/mgmtd/notification/other", bt_string, "ignored");

    owned<bn_binding_array> prev, next;
    ASSERT_EQ(0, mdc_event_config_change_notif_extract(ev.get(), prev.out(), next.out()));

    EXPECT_EQ((strings_t{"/qz/iptrackd/config/action/a1/attributes",
                         "/qz/iptrackd/config/manager/m1/enable"}),
              names_of(prev.get()));
    EXPECT_EQ("old", value_of(bn_binding_array_get_quick(prev.get(), 0)));
    EXPECT_EQ("true", value_of(bn_binding_array_get_quick(prev.get(), 1)));

    ASSERT_EQ((strings_t{"/qz/iptrackd/config/oper/o1/attributes",
                         "/qz/iptrackd/config/action/a1/attributes",
                         "/qz/iptrackd/config/manager/m1/enable"}),
              names_of(next.get()));
    EXPECT_EQ("type=ping", value_of(bn_binding_array_get_quick(next.get(), 0)));
    EXPECT_EQ("new", value_of(bn_binding_array_get_quick(next.get(), 1)));
    EXPECT_EQ(0u, type_of(bn_binding_array_get_quick(next.get(), 1)).second);

    // The deleted node: the previous type, no value, both flags.
    EXPECT_EQ((std::pair<bn_type, uint32>{bt_bool, btf_no_value | btf_deleted}),
              type_of(bn_binding_array_get_quick(next.get(), 2)));

    // Bad entries fail with nothing returned.
    LogCapture cap;
    ev = new_array();
    add_change(ev.get(), "1", "rename", "/x", "a", "b");
    bn_binding_array *p = reinterpret_cast<bn_binding_array *>(1), *n = p;
    EXPECT_EQ(lc_err_unexpected_case, mdc_event_config_change_notif_extract(ev.get(), &p, &n));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(nullptr, n);
    EXPECT_TRUE(
        cap.contains("Unexpected change type rename under binding /mgmtd/notification/dbchange/1"))
        << cap.dump();
    // "add" without its new value.
    ev = new_array();
    add_change(ev.get(), "1", "add", "/x", nullptr, nullptr);
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_event_config_change_notif_extract(ev.get(), prev.out(), next.out()));
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
    // No entries at all: two empty arrays.
    ev = new_array();
    ASSERT_EQ(0, mdc_event_config_change_notif_extract(ev.get(), prev.out(), next.out()));
    EXPECT_EQ(0u, bn_binding_array_length_quick(prev.get()));
    EXPECT_EQ(0u, bn_binding_array_length_quick(next.get()));
}

TEST(ActionNotif, NameAndRelativeParameters)
{
    owned<bn_binding_array> ev = new_array();
    add(ev.get(), MDC_ACTION_NOTIF_ROOT "/action_name", bt_name, "/qz/x/action/do");
    add(ev.get(), MDC_ACTION_NOTIF_ROOT "/bindings/port", bt_string, "lan0");
    add(ev.get(), MDC_ACTION_NOTIF_ROOT "/bindings/prio/delta", bt_uint16, "5");
    add(ev.get(), MDC_ACTION_NOTIF_ROOT "/other", bt_string, "skip");

    owned<tstring> name;
    owned<bn_binding_array> params;
    ASSERT_EQ(0, mdc_event_action_notif_extract(ev.get(), name.out(), params.out()));
    EXPECT_STREQ("/qz/x/action/do", ts_str(name.get()));
    EXPECT_EQ((strings_t{"port", "prio/delta"}), names_of(params.get()));
    EXPECT_EQ("5", value_of(bn_binding_array_get_quick(params.get(), 1)));

    owned<bn_binding_array> empty = new_array();
    EXPECT_EQ(lc_err_not_found,
              mdc_event_action_notif_extract(empty.get(), name.out(), params.out()));
    EXPECT_EQ(nullptr, name.get());
}

// ---------------------------------------------------------------------------
// Answers to forwarded queries

struct Handlers {
    std::vector<std::string> calls;
    int fail_on_node = -1; // index of the call that fails
    int fail_code = lc_err_not_found;
};

int get_handler(const char *name, const tstr_array *parts, void *data, bn_binding_array *out)
{
    auto *h = static_cast<Handlers *>(data);
    h->calls.push_back(std::string("get ") + name + " parts " +
                       std::to_string(tstr_array_length_quick(parts)));
    if (static_cast<int>(h->calls.size()) - 1 == h->fail_on_node) {
        add(out, "/partial", bt_string, "dropped");
        return h->fail_code;
    }
    if (strstr(name, "unknown")) {
        bn_binding *none = nullptr;
        return bn_binding_array_append_takeover(out, &none); // "no value"
    }
    add(out, name, bt_string, "Ready");
    return 0;
}

int iterate_handler(const char *name, const tstr_array *, void *data, bn_binding_array *)
{
    static_cast<Handlers *>(data)->calls.push_back(std::string("iterate ") + name);
    return 0;
}

// A query request as mgmtd forwards it: through the encoding and back.
owned<bn_request> forwarded(const std::vector<std::pair<uint32, std::string>> &nodes,
                            const bn_attrib *extra = nullptr)
{
    owned<bn_request> req;
    EXPECT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    EXPECT_EQ(0, bn_request_set_msg_id(req.get(), 321));
    for (const auto &[subop, name] : nodes) {
        owned<bn_binding> b;
        EXPECT_EQ(0, bn_binding_new_named(b.out(), name.c_str()));
        if (extra) {
            EXPECT_EQ(0, bn_binding_set_attrib(b.get(), extra->attribute_id, extra));
        }
        EXPECT_EQ(0, bn_query_request_msg_append_binding(req.get(), subop, 0, b.get(), nullptr));
    }
    owned<tbuf> wire;
    EXPECT_EQ(0, bn_request_msg_serialize(req.get(), 0, wire.out()));
    owned<bn_request> back;
    EXPECT_EQ(0, bn_request_msg_deserialize(wire->bytes, wire->length, back.out()));
    return back;
}

// The response after a trip through the encoding.
owned<bn_response> over_wire(bn_response *resp)
{
    owned<tbuf> wire;
    EXPECT_EQ(0, bn_response_msg_serialize(resp, 0, wire.out()));
    owned<bn_response> back;
    EXPECT_EQ(0, bn_response_msg_deserialize(wire->bytes, wire->length, back.out()));
    return back;
}

std::vector<std::string> response_names(const bn_response *resp)
{
    owned<bn_binding_array> b;
    EXPECT_EQ(0, bn_response_get_bindings(resp, true, b.out()));
    return names_of(b.get());
}

TEST(MonDispatch, AnswersEachNodeBySubOperationUntilAHandlerFails)
{
    owned<bn_request> req = forwarded({{bqso_get, "/qz/iptrackd/state/is_alive"},
                                       {bqso_iterate, "/qz/iptrackd/state"},
                                       {7, "/qz/iptrackd/state/odd"},
                                       {bqso_none, "/qz/iptrackd/state/none"},
                                       {bqso_get, "/qz/iptrackd/state/unknown"},
                                       {bqso_get, "/qz/iptrackd/state/mgr"}});
    Handlers h;
    LogCapture cap;
    owned<bn_response> resp;
    ASSERT_EQ(0,
              mdc_mon_build_response(req.get(), get_handler, &h, iterate_handler, &h, resp.out()));
    EXPECT_EQ(
        (strings_t{"get /qz/iptrackd/state/is_alive parts 4", "iterate /qz/iptrackd/state",
                   "get /qz/iptrackd/state/unknown parts 4", "get /qz/iptrackd/state/mgr parts 4"}),
        h.calls);
    EXPECT_TRUE(cap.contains(
        "Unexpected query subop 7; ignoring request for binding /qz/iptrackd/state/odd"))
        << cap.dump();
    EXPECT_TRUE(cap.contains(
        "Unexpected query subop 0; ignoring request for binding /qz/iptrackd/state/none"));
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_dispatch_mon_request(nullptr, req.get(), get_handler, &h, nullptr, nullptr));

    owned<bn_response> back = over_wire(resp.get());
    EXPECT_EQ(std::make_tuple(uint16(bbmt_query_response), 321u, 0u),
              std::make_tuple(back->msg_type, back->req_msg_id, back->return_code));
    // Nothing for the odd node or the value-less one.
    EXPECT_EQ((strings_t{"/qz/iptrackd/state/is_alive", "/qz/iptrackd/state/mgr"}),
              response_names(back.get()));

    // A handler failure ends the walk and is the return code.
    req = forwarded({{bqso_get, "/qz/a"}, {bqso_get, "/qz/b"}, {bqso_get, "/qz/c"}});
    for (int fail : {int{lc_err_not_found}, int{lc_err_cancelled}}) {
        Handlers failing;
        failing.fail_on_node = 1;
        failing.fail_code = fail;
        cap.clear();
        ASSERT_EQ(0, mdc_mon_build_response(req.get(), get_handler, &failing, nullptr, nullptr,
                                            resp.out()));
        EXPECT_EQ(2u, failing.calls.size());
        EXPECT_EQ((strings_t{"/qz/a"}), response_names(resp.get()));
        EXPECT_EQ(static_cast<uint32>(fail), resp->return_code);
        // The quiet code is not logged.
        EXPECT_EQ(fail == lc_err_not_found, cap.contains("Error code 14004 (")) << cap.dump();
        EXPECT_EQ(0u, cap.count("Error code 14120"));
    }

    // Only query requests are answered here.
    owned<bn_request> action;
    ASSERT_EQ(0, bn_action_request_msg_create(action.out(), "/a"));
    EXPECT_EQ(lc_err_assertion_failed, mdc_mon_build_response(action.get(), get_handler, nullptr,
                                                              nullptr, nullptr, resp.out()));
    EXPECT_EQ(nullptr, resp.get());
}

// ---------------------------------------------------------------------------
// Registration tree

class RemoteReg : public ::testing::Test
{
  protected:
    void TearDown() override { (void)mdc_remote_reg_clear(); }

    // Adds a node, which is taken over whether or not the add succeeds.
    static void reg(const char *name, uint32 mask, int want = 0)
    {
        owned<mdc_remote_reg_node> n;
        ASSERT_EQ(0, mdc_remote_reg_new_node(n.out(), name, mask));
        mdc_remote_reg_node *p = n.release();
        ASSERT_EQ(want, mdc_remote_reg_add_node(&p));
        EXPECT_EQ(nullptr, p);
    }
};

TEST_F(RemoteReg, NodesNestByNameAndRegistrationInfoReportsTheSubtree)
{
    reg("/qz/iptrackd/state/mgr", 2);
    reg("/qz/iptrackd/state/is_alive", 1);
    reg("/qz/iptrackd", 4);       // adopts both
    reg("/qz/iptrackd/state", 1); // takes both over, in between
    reg("/qz/other", 1);

    const mdc_remote_reg_node *root = nullptr;
    ASSERT_EQ(0, mdc_remote_reg_get_node_tree(&root));
    ASSERT_EQ(2u, mdc_remote_reg_get_num_children(root));
    const mdc_remote_reg_node *top = mdc_remote_reg_get_child(root, 0);
    const tstring *name = nullptr;
    ASSERT_EQ(0, mdc_remote_reg_get_name(top, &name));
    EXPECT_STREQ("/qz/iptrackd", ts_str(name));
    uint32 mask = 0;
    ASSERT_EQ(0, mdc_remote_reg_get_cap_mask(top, &mask));
    EXPECT_EQ(4u, mask);
    ASSERT_EQ(1u, mdc_remote_reg_get_num_children(top));
    const mdc_remote_reg_node *state = mdc_remote_reg_get_child(top, 0);
    ASSERT_EQ(2u, mdc_remote_reg_get_num_children(state));
    ASSERT_EQ(0, mdc_remote_reg_get_name(mdc_remote_reg_get_child(state, 0), &name));
    EXPECT_STREQ("/qz/iptrackd/state/is_alive", ts_str(name));

    reg("/qz/other", 0, lc_err_exists);

    // A registration-info query reports the subtree below the name.
    owned<bn_attrib> cap_attr;
    ASSERT_EQ(0, bn_attrib_new_uint32(cap_attr.out(), ba_capability_mask, 0, 3));
    owned<bn_request> req = forwarded({{bqso_registration_info, "/qz/iptrackd"}}, cap_attr.get());
    owned<bn_response> resp;
    ASSERT_EQ(0, mdc_mon_build_response(req.get(), nullptr, nullptr, nullptr, nullptr, resp.out()));
    owned<bn_response> back = over_wire(resp.get());
    EXPECT_EQ(
        (strings_t{"/qz/iptrackd/state", "/qz/iptrackd/state/is_alive", "/qz/iptrackd/state/mgr"}),
        response_names(back.get()));
    const bn_binding *mgr = nullptr;
    ASSERT_EQ(0, bn_response_get_binding_by_name(back.get(), "/qz/iptrackd/state/mgr", &mgr));
    uint32 cap_mask = 0, taf = 0;
    ASSERT_EQ(0, bn_binding_get_uint32(mgr, ba_capability_mask, &taf, &cap_mask));
    EXPECT_EQ(2u, cap_mask);

    // The query's attribute must be the capability mask.
    owned<bn_attrib> value;
    ASSERT_EQ(0, bn_attrib_new_uint32(value.out(), ba_value, 0, 3));
    req = forwarded({{bqso_registration_info, "/qz"}}, value.get());
    LogCapture cap;
    ASSERT_EQ(0, mdc_mon_build_response(req.get(), nullptr, nullptr, nullptr, nullptr, resp.out()));
    EXPECT_TRUE(cap.contains("Expected cap_mask attribute got 1")) << cap.dump();
    EXPECT_EQ(0u, response_names(resp.get()).size());
}

// ---------------------------------------------------------------------------
// Name and text utilities

TEST(MdcNames, RootSynthesisAndSubstitution)
{
    owned<tstring> out;
    ASSERT_EQ(0, mdc_get_root_name("/qz/iptrackd/state", out.out()));
    EXPECT_STREQ("/qz", ts_str(out.get()));
    ASSERT_EQ(0, mdc_get_root_name("/", out.out()));
    EXPECT_STREQ("/", ts_str(out.get()));

    owned<bn_binding_array> params = new_array();
    add(params.get(), "name", bt_string, "m1");
    add(params.get(), "path", bt_string, "/var/log");
    owned<tstr_array> which;
    ASSERT_EQ(0, tstr_array_new_va_str(which.out(), nullptr, 2, "name", "path"));
    ASSERT_EQ(0, mdc_path_synth_from_bindings(params.get(), "/qz/x", which.get(), out.out()));
    EXPECT_STREQ("/qz/x/m1/\\/var\\/log", ts_str(out.get()));

    ASSERT_EQ(0, mdc_subst_params("mgr $name$ costs $$5 $open", params.get(), out.out()));
    EXPECT_STREQ("mgr m1 costs $5 $open", ts_str(out.get()));
    EXPECT_EQ(lc_err_not_found, mdc_subst_params("$nope$", params.get(), out.out()));
    EXPECT_EQ(nullptr, out.get());
}

TEST_F(Client, SequenceAmongPeersCountsTheParentsChildrenInNameOrder)
{
    r.add("/users/carol/uid", bt_uint32, "3");
    r.add("/users/alice/uid", bt_uint32, "1");
    r.add("/users/bob/uid", bt_uint32, "2");
    r.add("/top", bt_string, "t");
    uint32 seq = 9;
    ASSERT_EQ(0, mdc_get_sequence_among_peers(mcc.get(), nullptr, nullptr, &seq, "/users/bob"));
    EXPECT_EQ(2u, seq);
    EXPECT_EQ("/users", name_of(node_of(r.last(), 0)->binding));
    EXPECT_EQ(bqso_iterate, node_of(r.last(), 0)->subop);
    ASSERT_EQ(0, mdc_get_sequence_among_peers(mcc.get(), nullptr, nullptr, &seq, "/users/dave"));
    EXPECT_EQ(0u, seq);
    // A top-level node counts among the root's children ("/top", "/users").
    ASSERT_EQ(0, mdc_get_sequence_among_peers(mcc.get(), nullptr, nullptr, &seq, "/users"));
    EXPECT_EQ(2u, seq);
    EXPECT_EQ(lc_err_bad_name,
              mdc_get_sequence_among_peers(mcc.get(), nullptr, nullptr, &seq, "/"));
    EXPECT_EQ(0u, seq);
}

TEST_F(Client, SmprintfReadsEachNamedNodeOnce)
{
    r.add("/sys/hostname", bt_hostname, "edge1");
    r.add("/sys/uptime", bt_uint32, "12");
    owned<tstring> text;
    ASSERT_EQ(0, mdc_smprintf_query(mcc.get(), nullptr, nullptr, text.out(),
                                    "%s $/sys/hostname$ up $/sys/uptime$s", "host"));
    EXPECT_STREQ("host edge1 up 12s", ts_str(text.get()));
    EXPECT_EQ(2u, r.seen().size());
    EXPECT_EQ(lc_err_not_found,
              mdc_smprintf_query(mcc.get(), nullptr, nullptr, text.out(), "$/sys/none$"));
    EXPECT_EQ(nullptr, text.get());

    owned<bn_binding_array> pre = new_array();
    add(pre.get(), "/a", bt_string, "x");
    ASSERT_EQ(0, mdc_smprintf_prequeried(pre.get(), text.out(), "%d$/a$", 4));
    EXPECT_STREQ("4x", ts_str(text.get()));
}

// ---------------------------------------------------------------------------
// Transport

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

// A request left unanswered ends at the limit and the session goes on; a
// query that mgmtd forwards is answered over the same session.
TEST(MdcTransport, UnansweredRequestEndsAtTheLimitAndForwardedQueriesAreAnswered)
{
    TestMgmtd mgmtd;
    ASSERT_TRUE(mgmtd.start("set /a string 1\n"));
    mdc_transport_params params;
    params.mtp_client_name = "iptrackd";
    params.mtp_query_request = dispatch;
    params.mtp_connect_retry = mdc_connect_once;
    params.mtp_timeout_ms = 100;
    owned<mdc_transport> t;
    ASSERT_EQ(0, mdc_transport_new(&params, t.out()));
    ASSERT_EQ(0, mdc_transport_connect(t.get()));
    EXPECT_EQ(mts_ready, mdc_transport_get_stage(t.get()));

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
    EXPECT_EQ(bn_service_mgmt, mgmtd.requests().back()->service_id);

    owned<bn_response> answer;
    owned<bn_request> req;
    ASSERT_EQ(0, bn_query_request_msg_create(req.out(), 0, nullptr));
    ASSERT_EQ(0, bn_query_request_msg_append_str(req.get(), bqso_get, 0,
                                                 "/qz/iptrackd/state/is_alive", nullptr));
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
    mgmtd.run([&] {
        EXPECT_EQ(bn_request_get_msg_id(req.get()), answer->req_msg_id);
        owned<bn_binding_array> bindings;
        ASSERT_EQ(0, bn_response_get_bindings(answer.get(), true, bindings.out()));
        EXPECT_EQ((strings_t{"/qz/iptrackd/state/is_alive"}), names_of(bindings.get()));
    });
}
} // namespace
