// Appliance tables for engine tests, published under a name prefix of this
// process so that parallel runs never share a block, and an engine that is
// active with them attached (as after the tick's going-active step).
//
// Interfaces: eth1..eth3 (IPv4) and eth4 (IPv6) carry label "wan"; eth1
// holds 10.0.0.1, the source address of tunnel "tunA" (alias "branchA", id
// 7); lan0 and lan1 are the members of bridge br0; eth9 is incomplete; vti1
// is the VTI of tunA.
#pragma once

#include <arpa/inet.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_publish.h"
#include "iptrack_records.h"
#include "iptrackd_main.h"
#include "support/log_capture.h"

// The daemon's own logging identity, so that captured lines carry no
// fallback prefix.
inline void init_engine_logging()
{
    ASSERT_EQ(lc_log_init(iptrackd_program_name, nullptr, 0,
                          lc_log_component_word(lc_log_component_iptrackd), LCL_DEBUG, LOG_LOCAL1,
                          lc_log_output_syslog),
              0);
}

inline qz_l3if_info test_if(const char *name, uint8 version, const char *label = "")
{
    qz_l3if_info i{};
    snprintf(i.name, sizeof i.name, "%s", name);
    i.kind = qz_l3if_kind_port;
    i.ip_version = version;
    snprintf(i.label, sizeof i.label, "%s", label);
    return i;
}

inline lc_ipaddr test_v4(const char *text)
{
    lc_ipaddr a{};
    EXPECT_EQ(lc_str_to_ipaddr_quiet(text, &a), 0);
    return a;
}

// Log bodies without the thread and level prefix.
inline std::vector<std::string> bodies(const LogCapture &cap)
{
    std::vector<std::string> out;
    for (const std::string &l : cap.lines()) out.push_back(l.substr(l.find("]: ") + 3));
    return out;
}

inline bool has_line(const LogCapture &cap, const std::string &body)
{
    for (const std::string &l : cap.lines())
        if (l.ends_with("]: " + body)) return true;
    return false;
}

// A port list as "name/version,...".
inline std::string ports(const iptrack_list<iptrack_port> &l)
{
    std::string s;
    for (const iptrack_port *p = l.head; p; p = p->link.next)
        s += std::string(s.empty() ? "" : ",") + p->name + "/" + std::to_string(p->ip_version);
    return s;
}

class EngineTables : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        prefix_ = "ipt_eng_" + std::to_string(getpid()) + "_";
        cmem_set_name_prefix_for_tests(prefix_.c_str());
        init_engine_logging();
        ASSERT_EQ(qz_shm_pub_open(qz_shm_kind_l3if, nullptr, 64, l3if_.out()), 0);
        ASSERT_EQ(qz_shm_pub_open(qz_shm_kind_iflabel, nullptr, 64, iflabel_.out()), 0);
        ASSERT_EQ(qz_shm_pub_open(qz_shm_kind_tunnel, nullptr, 64, tunnel_.out()), 0);

        put(test_if("eth1", 4, "wan"), "10.0.0.1");
        put(test_if("eth2", 4, "wan"));
        put(test_if("eth3", 4, "wan"));
        put(test_if("eth4", 6, "wan"));
        put(test_if("lan0", 4));
        qz_l3if_info br = test_if("br0", 4);
        br.kind = qz_l3if_kind_bridge;
        snprintf(br.member_port[0], qz_ifname_size, "lan0");
        snprintf(br.member_port[1], qz_ifname_size, "lan1");
        put(br);
        qz_l3if_info inc = test_if("eth9", 4);
        inc.incomplete = true;
        put(inc);
        qz_l3if_info vti = test_if("vti1", 4);
        vti.kind = qz_l3if_kind_vti;
        snprintf(vti.tunnel_name, sizeof vti.tunnel_name, "tunA");
        put(vti);
        ASSERT_EQ(qz_shm_pub_put_iflabel(iflabel_.get(), "wan", "Internet"), 0);
        qz_tunbin t{};
        snprintf(t.name, sizeof t.name, "tunA");
        snprintf(t.alias, sizeof t.alias, "branchA");
        t.id = 7;
        t.source_address = test_v4("10.0.0.1");
        ASSERT_EQ(qz_shm_pub_put_tunnel(tunnel_.get(), &t), 0);

        ASSERT_EQ(iptrack_init(), 0);
        iptrack_g.state = iptrack_state_active;
        ASSERT_EQ(cmem_attach_block_read_only(QZ_SHM_L3IF, &iptrack_g.l3if_table), 0);
        ASSERT_EQ(cmem_attach_block_read_only(QZ_SHM_IFLABEL, &iptrack_g.iflabel_table), 0);
    }

    void TearDown() override
    {
        iptrack_deinit();
        ipsla_probes_detach();
        cmem_detach_all();
        for (auto *p : {&l3if_, &iflabel_, &tunnel_}) p->reset();
        for (const char *n : {QZ_SHM_L3IF, QZ_SHM_IFLABEL, QZ_SHM_TUNNEL, QZ_SHM_CLOUDPATH})
            (void)qz_shm_pub_unlink(n);
        cmem_set_name_prefix_for_tests(nullptr);
    }

    void put(qz_l3if_info info, const char *addr = nullptr)
    {
        if (addr) info.address = test_v4(addr);
        ASSERT_EQ(qz_shm_pub_put_l3if(l3if_.get(), &info), 0);
    }

    // Parses `attribs` into operation `name` as the tick would.
    iptrack_oper *oper(const char *name, const char *attribs)
    {
        iptrack_oper *o = iptrack_get_oper_entry(name);
        iptrack_oper_set_new_attribs(o, attribs);
        EXPECT_EQ(iptrack_set_oper_attribs(o), 0);
        o->state_flags &= static_cast<uint8>(~iptrack_os_cfg_pending);
        return o;
    }
    iptrack_action *action(const char *name, const char *attribs)
    {
        iptrack_action *a = iptrack_get_action_entry(name);
        iptrack_action_set_attribs(a, attribs);
        EXPECT_EQ(iptrack_set_action_attribs(a), 0);
        a->flags &= static_cast<uint8>(~iptrack_af_label_pending);
        return a;
    }

    static iptrack_mgr *mgr(const char *name, const char *attribs)
    {
        iptrack_mgr *m = iptrack_get_mgr_entry(name);
        iptrack_mgr_set_attribs(m, attribs);
        (void)iptrack_set_mgr_attribs(m);
        m->flags &= static_cast<uint8>(~iptrack_mf_attribs_changed);
        return m;
    }

    std::string prefix_;
    owned<qz_shm_publisher> l3if_;
    owned<qz_shm_publisher> iflabel_;
    owned<qz_shm_publisher> tunnel_;
};
