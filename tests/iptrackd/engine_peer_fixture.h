// Fixture for the engine's sending modules: the daemon's real management
// session to an in-process provider that plays the peers.  The provider
// answers the monitor actions with the states a test scripts per port and
// records every request, so tests read back each action and alarm event
// with its bindings (name, type, value) in order.
//
// Entries are made through the tables; ports use management interface names
// ("mgmt…"), which the engine takes without the shared interface table.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "iptrackd_mgmt.h"
#include "support/log_capture.h"
#include "support/mgmt_test_provider.h"
#include "util/ttime.h"

// One request the provider received (action or event): its name and its
// bindings as "name type value".
struct SentRequest {
    std::string name;
    std::vector<std::string> bindings;
};

inline std::string value_of(const bn_binding *b)
{
    owned<tstring> v;
    if (!b || bn_binding_get_tstr(b, ba_value, 0, nullptr, v.out()) != 0 || !v) return "";
    return ts_str(v.get());
}

// Expected bindings written as one text, "|" between them.
inline std::vector<std::string> split(const std::string &text)
{
    std::vector<std::string> out;
    for (size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 1) {
        bar = text.find('|', at);
        out.push_back(text.substr(at, bar == std::string::npos ? bar : bar - at));
    }
    return out;
}

// An action or event request as its name and bindings.
inline SentRequest describe(const bn_request *r)
{
    SentRequest s;
    const tstring *n = nullptr;
    if (r->msg_type == bbmt_action_request)
        EXPECT_EQ(0, bn_action_request_msg_get_action_name(r, &n));
    else
        EXPECT_EQ(0, bn_event_request_msg_get_event_name(r, &n));
    s.name = n ? ts_str(n) : "";
    const uint32 count = bn_request_per_node_array_length_quick(r->nodes);
    for (uint32 j = 0; j < count; ++j) {
        const bn_binding *b = bn_request_per_node_array_get_quick(r->nodes, j)->binding;
        bn_type type = bt_none;
        uint32 flags = 0;
        EXPECT_EQ(0, bn_binding_get_type(b, ba_value, &type, &flags));
        s.bindings.push_back(std::string(ts_str(b->name)) + " " + bn_type_to_name(type) + " " +
                             value_of(b));
    }
    return s;
}

// The daemon's event loop and management session against the in-process
// provider, in a private socket directory; torn down as the daemon's exit.
class MgmtHarness : public ::testing::Test
{
  protected:
    TestMgmtd mgmtd;
    char dir[64] = "/tmp/ipt-engine-test-XXXXXX";

    void SetUp() override
    {
        ASSERT_NE(nullptr, mkdtemp(dir));
        gcl_set_socket_dir_for_tests(dir, 0);
        ASSERT_EQ(0, lc_log_init("iptrackd", nullptr, 0, lc_log_component_word(269), LCL_DEBUG, 136,
                                 lc_log_output_syslog));
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        ASSERT_EQ(0, lew_init(&iptrackd_lwc));
        m_daemon_status = iptrackd_status_initializing;
        iptrackd_exiting = 0;
    }

    void TearDown() override
    {
        iptrackd_exiting = 1; // the close below is part of the exit
        (void)iptrackd_mgmt_shutdown();
        (void)iptrackd_mgmt_deinit();
        mgmtd.stop();
        (void)lew_deinit(&iptrackd_lwc);
        m_daemon_status = iptrackd_status_initializing;
        iptrackd_exiting = 0;
        (void)lc_log_set_daemon_log_level(lc_log_daemon_level_unset);
        gcl_set_socket_dir_for_tests(nullptr, -1);
        std::string cmd = std::string("rm -rf ") + dir;
        (void)!system(cmd.c_str());
    }
};

class EnginePeers : public MgmtHarness
{
  protected:
    size_t first_ = 0;

    // Scripted answers (read on the provider thread).
    std::mutex mu;
    std::map<std::string, uint32> ip_state;    // port -> "ip_state"/"http_state"
    std::map<std::string, bool> bool_state;    // port -> "port_state"/"vrrp_state"
    std::map<std::string, uint32> refuse_code; // action name -> return code

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(MgmtHarness::SetUp());
        mgmtd.intercept = [this](gcl_session *s, const bn_request *req) { return answer(s, req); };
        ASSERT_TRUE(mgmtd.start());
        ASSERT_EQ(0, iptrackd_mgmt_init());
        first_ = mgmtd.num_requests();
        lt_clock_set_manual_for_tests(1000000000, 500000);
        ASSERT_EQ(0, iptrack_init());
    }

    void TearDown() override
    {
        iptrack_deinit();
        lt_clock_restore_for_tests();
        MgmtHarness::TearDown();
    }

    bool answer(gcl_session *s, const bn_request *req)
    {
        if (req->msg_type != bbmt_action_request) return false;
        const tstring *tname = nullptr;
        if (bn_action_request_msg_get_action_name(req, &tname) != 0 || !tname) return false;
        const std::string name = ts_str(tname);
        const std::string port = param(req, "port_name");
        owned<bn_response> resp;
        EXPECT_EQ(0, bn_action_response_msg_create(resp.out(), req->msg_id, 0, nullptr));
        EXPECT_EQ(0, bn_response_fix_for_request(resp.get(), req));
        std::lock_guard lk(mu);
        // Monitor action "<m>_mon" answers binding "<m>_state" for the port.
        const std::string act = "/qz/iptrackd/action/";
        auto reply = [&](bn_type type, const std::string &value) {
            const std::string m = name.substr(act.size(), name.size() - act.size() - 4);
            EXPECT_EQ(0, bn_response_msg_append_new_binding(resp.get(), 0, (m + "_state").c_str(),
                                                            type, value.c_str(), nullptr));
        };
        if (auto it = refuse_code.find(name); it != refuse_code.end()) {
            EXPECT_EQ(0, bn_response_msg_set_return_code_msg(resp.get(), it->second, "refused"));
        } else if (name == act + "ip_mon" || name == act + "http_mon") {
            if (auto st = ip_state.find(port); st != ip_state.end())
                reply(bt_uint32, std::to_string(st->second));
        } else if (name == act + "port_mon" || name == act + "vrrp_mon") {
            if (auto st = bool_state.find(port); st != bool_state.end())
                reply(bt_bool, st->second ? "true" : "false");
        }
        EXPECT_EQ(0, bn_response_msg_send(s, resp.get()));
        return true;
    }

    static std::string param(const bn_request *req, const char *name)
    {
        const bn_binding *b = nullptr;
        if (bn_request_get_param(req, name, &b) != 0 || !b) return "";
        return value_of(b);
    }

    void set_ip_state(const std::string &port, bool up, bool dns_ok = true)
    {
        std::lock_guard lk(mu);
        ip_state[port] = (up ? 1u : 0u) | (dns_ok ? 0u : 1u << 16);
    }
    void set_bool_state(const std::string &port, bool up)
    {
        std::lock_guard lk(mu);
        bool_state[port] = up;
    }
    void refuse(const std::string &action, uint32 code)
    {
        std::lock_guard lk(mu);
        refuse_code[action] = code;
    }

    // Everything sent since the last call (one-way events included: the
    // provider is waited for until nothing more arrives on a sync probe).
    std::vector<SentRequest> take_sent()
    {
        // Events are one-way: a round trip behind them proves they arrived.
        uint32 code = 0;
        EXPECT_EQ(0, mdc_send_action(iptrackd_mcc, &code, nullptr, "/test/sync"));
        std::vector<SentRequest> out;
        const auto reqs = mgmtd.requests();
        for (size_t i = first_; i < reqs.size(); ++i)
            if (SentRequest s = describe(reqs[i]); s.name != "/test/sync") out.push_back(s);
        first_ = reqs.size();
        return out;
    }

    // Entries.
    iptrack_oper *ping_oper(const char *name, const char *targets,
                            std::vector<std::pair<const char *, uint8>> ports)
    {
        iptrack_oper *oper = iptrack_get_oper_entry(name);
        EXPECT_NE(nullptr, oper);
        oper->type = iptrack_oper_ip;
        oper->subtype = iptrack_subtype_ip;
        iptrack_copy_text(oper->targets, sizeof(oper->targets), targets);
        for (const auto &[port, version] : ports)
            EXPECT_EQ(0, iptrack_add_oper_port(oper, port, version));
        oper->state_flags |= iptrack_os_port_active | iptrack_os_tunnel_active;
        return oper;
    }

    // A VRRP priority action on mgmt1.
    iptrack_action *prio_action(const char *name, bool dec, uint16 delta)
    {
        iptrack_action *a = iptrack_get_action_entry(name);
        EXPECT_NE(nullptr, a);
        a->type = iptrack_action_vrrp_prio;
        EXPECT_EQ(0, iptrack_add_action_port(a, "mgmt1"));
        a->flags |= dec ? iptrack_af_prio_dec : iptrack_af_prio_inc;
        a->prio_delta = delta;
        return a;
    }

    // A manager running `oper`, with the actions named bound (null: none),
    // through the manager grammar as the intake would have it parsed.
    iptrack_mgr *manager(const char *name, const iptrack_oper *oper, const char *up, const char *dn)
    {
        iptrack_mgr *mgr = iptrack_get_mgr_entry(name);
        EXPECT_NE(nullptr, mgr);
        std::string attribs = std::string("operation=") + oper->name + ";interval=1";
        if (up) attribs += std::string(";up-action=") + up;
        if (dn) attribs += std::string(";dn-action=") + dn;
        iptrack_mgr_set_attribs(mgr, attribs.c_str());
        EXPECT_EQ(0, iptrack_set_mgr_attribs(mgr));
        mgr->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
        return mgr;
    }

    // Hands a result to the manager's first request and evaluates.
    void apply(iptrack_mgr *mgr, bool up, bool dns_ok = true)
    {
        iptrack_op_request *req = mgr->requests.head;
        req->result = up ? 1 : 0;
        req->dns_ok = dns_ok ? 1 : 0;
        ++req->runs;
        req->flags |= iptrack_rf_new_result;
        iptrack_mgr_evaluate(mgr);
    }
};
