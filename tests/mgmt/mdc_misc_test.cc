// Notifications, answers to forwarded queries, the registration tree and
// the name utilities of the management client.
#include "mdc_test_fixture.h"
#include "support/log_capture.h"
#include <gtest/gtest.h>

using namespace mdc_test;

namespace
{

owned<bn_binding_array> new_array()
{
    owned<bn_binding_array> a;
    EXPECT_EQ(0, bn_binding_array_new(a.out()));
    return a;
}

void add(bn_binding_array *a, const char *name, bn_type type, const char *value)
{
    owned<bn_binding> b;
    ASSERT_EQ(0, bn_binding_new_str(b.out(), name, ba_value, type, 0, value));
    bn_binding *p = b.release();
    ASSERT_EQ(0, bn_binding_array_append_takeover(a, &p));
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

} // namespace

// ---------------------------------------------------------------------------
// Configuration-change notifications

TEST(ConfigChangeNotif, AddModifyDeleteSplitIntoPreviousAndNew)
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

    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/config/action/a1/attributes",
                                        "/qz/iptrackd/config/manager/m1/enable"}),
              names_of(prev.get()));
    EXPECT_EQ("old", value_of(bn_binding_array_get_quick(prev.get(), 0)));
    EXPECT_EQ("true", value_of(bn_binding_array_get_quick(prev.get(), 1)));

    ASSERT_EQ((std::vector<std::string>{"/qz/iptrackd/config/oper/o1/attributes",
                                        "/qz/iptrackd/config/action/a1/attributes",
                                        "/qz/iptrackd/config/manager/m1/enable"}),
              names_of(next.get()));
    EXPECT_EQ("type=ping", value_of(bn_binding_array_get_quick(next.get(), 0)));
    EXPECT_EQ("new", value_of(bn_binding_array_get_quick(next.get(), 1)));
    EXPECT_EQ(0u, type_of(bn_binding_array_get_quick(next.get(), 1)).second);

    // The deleted node: the previous type, no value, both flags.
    EXPECT_EQ((std::pair<bn_type, uint32>{bt_bool, btf_no_value | btf_deleted}),
              type_of(bn_binding_array_get_quick(next.get(), 2)));
}

TEST(ConfigChangeNotif, BadEntriesFailWithNothingReturned)
{
    {
        owned<bn_binding_array> ev = new_array();
        add_change(ev.get(), "1", "rename", "/x", "a", "b");
        LogCapture cap;
        bn_binding_array *prev = reinterpret_cast<bn_binding_array *>(1);
        bn_binding_array *next = reinterpret_cast<bn_binding_array *>(1);
        EXPECT_EQ(lc_err_unexpected_case,
                  mdc_event_config_change_notif_extract(ev.get(), &prev, &next));
        EXPECT_EQ(nullptr, prev);
        EXPECT_EQ(nullptr, next);
        EXPECT_TRUE(cap.contains(
            "Unexpected change type rename under binding /mgmtd/notification/dbchange/1"))
            << cap.dump();
    }
    {
        // "add" without its new value.
        owned<bn_binding_array> ev = new_array();
        add_change(ev.get(), "1", "add", "/x", nullptr, nullptr);
        LogCapture cap;
        owned<bn_binding_array> prev, next;
        EXPECT_EQ(lc_err_unexpected_null,
                  mdc_event_config_change_notif_extract(ev.get(), prev.out(), next.out()));
        EXPECT_TRUE(cap.contains("Unexpected NULL")) << cap.dump();
    }
    {
        // No entries at all: two empty arrays.
        owned<bn_binding_array> ev = new_array();
        owned<bn_binding_array> prev, next;
        ASSERT_EQ(0, mdc_event_config_change_notif_extract(ev.get(), prev.out(), next.out()));
        EXPECT_EQ(0u, bn_binding_array_length_quick(prev.get()));
        EXPECT_EQ(0u, bn_binding_array_length_quick(next.get()));
    }
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
    EXPECT_EQ((std::vector<std::string>{"port", "prio/delta"}), names_of(params.get()));
    EXPECT_EQ("5", value_of(bn_binding_array_get_quick(params.get(), 1)));

    owned<bn_binding_array> empty = new_array();
    EXPECT_EQ(lc_err_not_found,
              mdc_event_action_notif_extract(empty.get(), name.out(), params.out()));
    EXPECT_EQ(nullptr, name.get());
}

// ---------------------------------------------------------------------------
// Answers to forwarded queries

namespace
{

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

} // namespace

TEST(MonDispatch, AnswersEachNodeBySubOperation)
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
    EXPECT_EQ((std::vector<std::string>{
                  "get /qz/iptrackd/state/is_alive parts 4", "iterate /qz/iptrackd/state",
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
    uint16 type = 0;
    ASSERT_EQ(0, bn_response_get_msg_type(back.get(), &type));
    EXPECT_EQ(bbmt_query_response, type);
    uint32 req_id = 0, code = 9;
    ASSERT_EQ(0, bn_response_get_msg_ids(back.get(), &req_id, nullptr));
    EXPECT_EQ(321u, req_id);
    ASSERT_EQ(0, bn_response_get_return(back.get(), &code, nullptr));
    EXPECT_EQ(0u, code);
    // Nothing for the odd node or the value-less one.
    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/state/is_alive", "/qz/iptrackd/state/mgr"}),
              response_names(back.get()));
}

TEST(MonDispatch, HandlerFailureEndsTheWalkAndIsTheReturnCode)
{
    owned<bn_request> req =
        forwarded({{bqso_get, "/qz/a"}, {bqso_get, "/qz/b"}, {bqso_get, "/qz/c"}});
    for (int code : {int{lc_err_not_found}, int{lc_err_cancelled}}) {
        Handlers h;
        h.fail_on_node = 1;
        h.fail_code = code;
        LogCapture cap;
        owned<bn_response> resp;
        ASSERT_EQ(0,
                  mdc_mon_build_response(req.get(), get_handler, &h, nullptr, nullptr, resp.out()));
        EXPECT_EQ(2u, h.calls.size());
        EXPECT_EQ((std::vector<std::string>{"/qz/a"}), response_names(resp.get()));
        uint32 rc = 0;
        ASSERT_EQ(0, bn_response_get_return(resp.get(), &rc, nullptr));
        EXPECT_EQ(static_cast<uint32>(code), rc);
        // The quiet code is not logged.
        EXPECT_EQ(code == lc_err_not_found, cap.contains("Error code 14004 (")) << cap.dump();
        EXPECT_EQ(0u, cap.count("Error code 14120"));
    }

    // Only query requests are answered here.
    owned<bn_request> action;
    ASSERT_EQ(0, bn_action_request_msg_create(action.out(), "/a"));
    owned<bn_response> resp;
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

    static void reg(const char *name, uint32 mask)
    {
        owned<mdc_remote_reg_node> n;
        ASSERT_EQ(0, mdc_remote_reg_new_node(n.out(), name, mask));
        mdc_remote_reg_node *p = n.release();
        ASSERT_EQ(0, mdc_remote_reg_add_node(&p));
        EXPECT_EQ(nullptr, p);
    }
};

TEST_F(RemoteReg, NodesNestByNameWhateverTheOrderAdded)
{
    reg("/qz/iptrackd/state/mgr", 2);
    reg("/qz/iptrackd/state/is_alive", 1);
    reg("/qz/iptrackd", 4); // adopts both
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
    ASSERT_EQ(2u, mdc_remote_reg_get_num_children(top));
    ASSERT_EQ(0, mdc_remote_reg_get_name(mdc_remote_reg_get_child(top, 0), &name));
    EXPECT_STREQ("/qz/iptrackd/state/is_alive", ts_str(name));

    owned<mdc_remote_reg_node> dup;
    ASSERT_EQ(0, mdc_remote_reg_new_node(dup.out(), "/qz/other", 0));
    mdc_remote_reg_node *p = dup.release();
    EXPECT_EQ(lc_err_exists, mdc_remote_reg_add_node(&p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(RemoteReg, RegistrationInfoQueriesReportTheSubtreeAndCheckTheAttribute)
{
    reg("/qz/iptrackd", 4);
    reg("/qz/iptrackd/state", 1);
    reg("/qz/iptrackd/state/mgr", 2);
    reg("/qz/other", 1);

    owned<bn_attrib> mask;
    ASSERT_EQ(0, bn_attrib_new_uint32(mask.out(), ba_capability_mask, 0, 3));
    owned<bn_request> req = forwarded({{bqso_registration_info, "/qz/iptrackd"}}, mask.get());
    owned<bn_response> resp;
    ASSERT_EQ(0, mdc_mon_build_response(req.get(), nullptr, nullptr, nullptr, nullptr, resp.out()));
    owned<bn_response> back = over_wire(resp.get());
    EXPECT_EQ((std::vector<std::string>{"/qz/iptrackd/state", "/qz/iptrackd/state/mgr"}),
              response_names(back.get()));
    const bn_binding *mgr = nullptr;
    ASSERT_EQ(0, bn_response_get_binding_by_name(back.get(), "/qz/iptrackd/state/mgr", &mgr));
    uint32 cap_mask = 0, taf = 0;
    ASSERT_EQ(0, bn_binding_get_uint32(mgr, ba_capability_mask, &taf, &cap_mask));
    EXPECT_EQ(2u, cap_mask);

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
    ASSERT_EQ(0, mdc_get_sequence_among_peers(mcc.get(), nullptr, nullptr, &seq, "/users/carol"));
    EXPECT_EQ(3u, seq);
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
