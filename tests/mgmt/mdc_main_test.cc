// Management client requests, over the real message encoding (see
// mdc_test_fixture.h).
#include <gtest/gtest.h>

#include "mdc_test_fixture.h"
#include "support/log_capture.h"

using namespace mdc_test;

// ---------------------------------------------------------------------------
// One node

TEST_F(Client, GetBindingOfMissingNodeSucceedsWithNull)
{
    r.add("/a/b", bt_string, "x");
    uint32 code = 99;
    tstring *msg = reinterpret_cast<tstring *>(1);
    bn_binding *b = reinterpret_cast<bn_binding *>(1);
    ASSERT_EQ(0, mdc_get_binding(mcc.get(), &code, &msg, 0, &b, "/a/missing", nullptr));
    EXPECT_EQ(nullptr, b);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(nullptr, msg);

    // On the wire: a query, one "get" node, node and message flags 0.
    const bn_request *req = r.last();
    ASSERT_NE(nullptr, req);
    EXPECT_EQ(bbmt_query_request, req->msg_type);
    EXPECT_EQ(0u, req->flags);
    ASSERT_EQ(1u, node_count(req));
    EXPECT_EQ(bqso_get, node_of(req, 0)->subop);
    EXPECT_EQ(0u, node_of(req, 0)->node_flags);
    EXPECT_EQ("/a/missing", name_of(node_of(req, 0)->binding));
}

TEST_F(Client, GetBindingDetachesTheExactName)
{
    r.add("/a/b", bt_uint32, "7");
    r.add("/a/b/c", bt_string, "deeper");
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
    uint32 u = 0;
    ASSERT_EQ(0,
              mdc_get_binding_uint32(mcc.get(), nullptr, nullptr, &found, &u, "/n/u32", nullptr));
    EXPECT_TRUE(found);
    EXPECT_EQ(4000000000u, u);
    ASSERT_EQ(
        0, mdc_get_binding_uint32(mcc.get(), nullptr, nullptr, &found, &u, "/n/text42", nullptr));
    EXPECT_EQ(42u, u);
    u = 5;
    ASSERT_EQ(0,
              mdc_get_binding_uint32(mcc.get(), nullptr, nullptr, &found, &u, "/n/none", nullptr));
    EXPECT_FALSE(found);
    EXPECT_EQ(5u, u);
    // Text that is no number is the converter's failure.
    EXPECT_EQ(lc_err_bad_type,
              mdc_get_binding_uint32(mcc.get(), nullptr, nullptr, &found, &u, "/n/state", nullptr));

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

TEST_F(Client, ChildrenQueryCarriesTheFlagsAndReturnsEverythingInOrder)
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
        ASSERT_EQ(1u, node_count(r.last()));
        EXPECT_EQ(bqso_iterate, node_of(r.last(), 0)->subop);
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
}

TEST_F(Client, ChildNamesNthNextAndCount)
{
    r.add("/l/a", bt_string, "1");
    r.add("/l/a/x", bt_string, "deep");
    r.add("/l/b", bt_string, "2");
    r.add("/l/c", bt_string, "3");

    owned<tstr_array> names;
    ASSERT_EQ(0,
              mdc_get_binding_children_tstr_array(mcc.get(), nullptr, nullptr, names.out(), "/l"));
    ASSERT_EQ(3u, tstr_array_length_quick(names.get()));
    EXPECT_STREQ("c", tstr_array_get_str_quick(names.get(), 2));

    owned<bn_binding> b;
    ASSERT_EQ(0, mdc_get_nth_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/l", 1));
    EXPECT_EQ("/l/b", name_of(b.get()));
    ASSERT_EQ(0, mdc_get_nth_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/l", 3));
    EXPECT_EQ(nullptr, b.get());

    ASSERT_EQ(0,
              mdc_get_next_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/l", nullptr));
    EXPECT_EQ("/l/a", name_of(b.get()));
    ASSERT_EQ(0, mdc_get_next_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/l", "b"));
    EXPECT_EQ("/l/c", name_of(b.get()));
    ASSERT_EQ(0, mdc_get_next_binding_child(mcc.get(), nullptr, nullptr, 0, b.out(), "/l", "c"));
    EXPECT_EQ(nullptr, b.get());

    uint32 count = 0;
    ASSERT_EQ(0, mdc_count_bindings(mcc.get(), nullptr, nullptr, &count, false, "/l"));
    EXPECT_EQ(3u, count);
    ASSERT_EQ(0, mdc_count_bindings(mcc.get(), nullptr, nullptr, &count, true, "/l"));
    EXPECT_EQ(4u, count);
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
    EXPECT_EQ((std::vector<std::string>{"/p/m2/enable", "/p/m1/enable"}), seen);
    EXPECT_EQ("/p", name_of(node_of(r.last(), 0)->binding));
    EXPECT_EQ(uint32{mdqf_subtree}, node_of(r.last(), 0)->node_flags);

    seen.clear();
    ASSERT_EQ(0, mdc_foreach_binding_pattern_sorted(mcc.get(), nullptr, nullptr, "/p/*/enable",
                                                    collect, &seen));
    EXPECT_EQ((std::vector<std::string>{"/p/m1/enable", "/p/m2/enable"}), seen);

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
    EXPECT_EQ((std::vector<std::string>{"/p/m1/enable", "/p/m1/comment"}),
              names_of(matching.get()));
    r.reverse_iterate = false;
}

// ---------------------------------------------------------------------------
// Actions and events

TEST_F(Client, ActionWithCountZeroSendsNoNodes)
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
        EXPECT_EQ(1000 + i, node_of(req, i)->node_id);
        EXPECT_EQ(names[i], name_of(b));
        EXPECT_EQ(values[i], value_of(b));
        bn_type t = 0;
        uint32 f = 0;
        ASSERT_EQ(0, bn_binding_get_type(b, ba_value, &t, &f));
        EXPECT_EQ(types[i], t);
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
    owned<bn_binding_array> in;
    ASSERT_EQ(0, bn_binding_array_new(in.out()));
    for (const char *n : {"oper", "target"}) {
        owned<bn_binding> b;
        ASSERT_EQ(0, bn_binding_new_str(b.out(), n, ba_value, bt_string, 0, n));
        ASSERT_EQ(0, bn_binding_array_append(in.get(), b.get()));
    }
    owned<bn_binding_array> out;
    uint32 code = 1;
    ASSERT_EQ(0, mdc_send_action_with_bindings_and_results(
                     mcc.get(), &code, nullptr, "/qz/iptrackd/action/ip_mon", in.get(), out.out()));
    EXPECT_EQ(0u, code);
    EXPECT_EQ((std::vector<std::string>{"ip_state", "handle"}), names_of(out.get()));
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

TEST_F(Client, EventsCarryTheirNameAndBindings)
{
    ASSERT_EQ(0, mdc_send_event(mcc.get(), nullptr, nullptr, "/qz/alarms/events/clear_alarm"));
    EXPECT_EQ(bbmt_event_request, r.last()->msg_type);
    EXPECT_STREQ("/qz/alarms/events/clear_alarm", ts_str(r.last()->event_name));
    ASSERT_EQ(0, mdc_send_event_with_bindings_str_va(mcc.get(), nullptr, nullptr, "/ev", 2,
                                                     "alarm_type", bt_string, "262196", "param_1",
                                                     bt_string, "0"));
    ASSERT_EQ(2u, node_count(r.last()));
    EXPECT_EQ("262196", value_of(node_of(r.last(), 0)->binding));
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
    EXPECT_EQ(lc_err_io_closed,
              mdc_send_action_with_bindings_str_va(mcc.get(), nullptr, nullptr, "/a", 0));

    // Success without a response is no success.
    r.transport_error = 0;
    r.lose_response = true;
    cap.clear();
    EXPECT_EQ(lc_err_unexpected_null,
              mdc_send_action_with_bindings_str_va(mcc.get(), nullptr, nullptr, "/a", 0));
    EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
}

TEST(ClientContext, InitKeepsItsValuesAndRefusesNulls)
{
    md_client_context *mcc = reinterpret_cast<md_client_context *>(1);
    EXPECT_EQ(lc_err_unexpected_null, mdc_init(nullptr, nullptr, nullptr, nullptr, nullptr, &mcc));
    EXPECT_EQ(nullptr, mcc);
    int owner = 0, extra = 0;
    auto t = [](void *, gcl_session *, bn_request *, bn_response **) { return 0; };
    ASSERT_EQ(0, mdc_init(t, nullptr, &owner, &extra, nullptr, &mcc));
    EXPECT_EQ(&owner, mdc_get_owner_data(mcc));
    EXPECT_EQ(&extra, mdc_get_owner_extra(mcc));
    EXPECT_EQ(nullptr, mdc_get_session(mcc));
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
    const uint32 subops[] = {bsso_modify, bsso_create, bsso_delete, bsso_reset};
    ASSERT_EQ(4u, r.seen().size());
    for (uint32 i = 0; i < 4; ++i) {
        EXPECT_EQ(bbmt_set_request, r.seen()[i]->msg_type);
        ASSERT_EQ(1u, node_count(r.seen()[i]));
        EXPECT_EQ(subops[i], node_of(r.seen()[i], 0)->subop);
    }
    EXPECT_EQ("3", value_of(node_of(r.seen()[0], 0)->binding));
    EXPECT_EQ("(none)", value_of(node_of(r.seen()[2], 0)->binding));

    ASSERT_EQ(0, mdc_reparent_binding(mcc.get(), nullptr, nullptr, "/s/a", "/t", "z"));
    const bn_request_per_node *n = node_of(r.last(), 0);
    EXPECT_EQ(bsso_reparent, n->subop);
    EXPECT_STREQ("/t", ts_str(n->reparent_parent));
    EXPECT_STREQ("z", ts_str(n->reparent_name));

    r.add("/k/1", bt_string, "");
    r.add("/k/2", bt_string, "");
    r.add("/k/2/x", bt_string, "");
    ASSERT_EQ(0, mdc_delete_binding_children(mcc.get(), nullptr, nullptr, "/k"));
    ASSERT_EQ(2u, node_count(r.last()));
    EXPECT_EQ("/k/2", name_of(node_of(r.last(), 1)->binding));
    EXPECT_EQ(bsso_delete, node_of(r.last(), 1)->subop);
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

    owned<bn_binding_array> item;
    ASSERT_EQ(0, bn_binding_array_new(item.out()));
    owned<bn_binding> p;
    ASSERT_EQ(0, bn_binding_new_str(p.out(), "pattern", ba_value, bt_string, 0, "/x/**"));
    ASSERT_EQ(0, bn_binding_array_append(item.get(), p.get()));
    uint32 at = 0;
    ASSERT_EQ(0, mdc_array_append(mcc.get(), nullptr, nullptr, "/m", item.get(), &at));
    EXPECT_EQ(11u, at);
    ASSERT_EQ(2u, node_count(r.last()));
    EXPECT_EQ("/m/11", name_of(node_of(r.last(), 0)->binding));
    EXPECT_EQ("/m/11/pattern", name_of(node_of(r.last(), 1)->binding));
    EXPECT_EQ("/x/**", value_of(node_of(r.last(), 1)->binding));

    // Insert at 2: 10 -> 11, then 2 -> 3 (highest first), then the new item.
    ASSERT_EQ(0, mdc_array_insert(mcc.get(), nullptr, nullptr, "/m", 2, nullptr));
    ASSERT_EQ(3u, node_count(r.last()));
    EXPECT_EQ("/m/10", name_of(node_of(r.last(), 0)->binding));
    EXPECT_STREQ("11", ts_str(node_of(r.last(), 0)->reparent_name));
    EXPECT_EQ("/m/2", name_of(node_of(r.last(), 1)->binding));
    EXPECT_EQ("/m/2", name_of(node_of(r.last(), 2)->binding));
    EXPECT_EQ(bsso_create, node_of(r.last(), 2)->subop);

    // Delete 1: the items above move down by one, lowest first.
    ASSERT_EQ(0, mdc_array_delete(mcc.get(), nullptr, nullptr, "/m", 1));
    ASSERT_EQ(3u, node_count(r.last()));
    EXPECT_EQ(bsso_delete, node_of(r.last(), 0)->subop);
    EXPECT_EQ("/m/2", name_of(node_of(r.last(), 1)->binding));
    EXPECT_STREQ("1", ts_str(node_of(r.last(), 1)->reparent_name));
    EXPECT_EQ("/m/10", name_of(node_of(r.last(), 2)->binding));
    EXPECT_STREQ("9", ts_str(node_of(r.last(), 2)->reparent_name));

    // Move 1 to 10: through the scratch slot, the items between shift down.
    ASSERT_EQ(0, mdc_array_move(mcc.get(), nullptr, nullptr, "/m", 1, 10));
    ASSERT_EQ(4u, node_count(r.last()));
    EXPECT_STREQ("0", ts_str(node_of(r.last(), 0)->reparent_name));
    EXPECT_STREQ("1", ts_str(node_of(r.last(), 1)->reparent_name));
    EXPECT_STREQ("9", ts_str(node_of(r.last(), 2)->reparent_name));
    EXPECT_EQ("/m/0", name_of(node_of(r.last(), 3)->binding));
    EXPECT_STREQ("10", ts_str(node_of(r.last(), 3)->reparent_name));
}
