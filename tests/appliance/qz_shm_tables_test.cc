// Shared tables: refused blocks, lookups against a publisher, updates in
// place, a reader racing a publisher in another process, the cloud path
// probe queue (shared by two processes, its lock holder killed inside it),
// pid files and addresses.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_publish.h"
#include "appliance/qz_shm_tables.h"
#include "support/log_capture.h"
#include "util/byte_cursor.h"

namespace
{

// Every test works under its own block-name prefix and removes what it
// made, so parallel runs never meet.
class ShmTables : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        prefix_ = "ipt-test-" + std::to_string(getpid()) + "-";
        cmem_set_name_prefix_for_tests(prefix_.c_str());
    }
    void TearDown() override
    {
        ipsla_probes_detach();
        for (const char *n : {QZ_SHM_L3IF, QZ_SHM_IFLABEL, QZ_SHM_RTLABEL, QZ_SHM_TUNNEL,
                              QZ_SHM_ALARM_HIER, QZ_SHM_CLOUDPATH})
            (void)qz_shm_pub_unlink(n);
        cmem_detach_all();
        cmem_set_name_prefix_for_tests(nullptr);
    }
    qz_shm_publisher *open_pub(qz_shm_kind kind, uint32 capacity = 0)
    {
        qz_shm_publisher *p = nullptr;
        EXPECT_EQ(0, qz_shm_pub_open(kind, nullptr, capacity, &p));
        pubs_.emplace_back(p);
        return p;
    }
    std::string prefix_;
    std::vector<owned<qz_shm_publisher>> pubs_;
};

// The block published under `name`, attached for reading.
const cmem_block *attached(const char *name)
{
    const cmem_block *b = nullptr;
    EXPECT_EQ(0, cmem_attach_block_read_only(name, &b)) << name;
    return b;
}

lc_ipaddr addr(const char *text)
{
    lc_ipaddr a{};
    EXPECT_EQ(0, lc_str_to_ipaddr_quiet(text, &a));
    return a;
}

qz_l3if_info l3if(const char *name, uint8 kind, const char *label, const char *address,
                  const char *member0 = "", const char *member1 = "")
{
    qz_l3if_info i{};
    snprintf(i.member_port[0], qz_ifname_size, "%s", member0);
    snprintf(i.member_port[1], qz_ifname_size, "%s", member1);
    snprintf(i.name, sizeof i.name, "%s", name);
    i.kind = kind;
    i.ip_version = strchr(address, ':') ? 6 : 4;
    snprintf(i.label, sizeof i.label, "%s", label);
    i.address = addr(address);
    return i;
}

qz_tunbin tunnel(const char *name, const char *alias, uint32 id, const char *source = nullptr)
{
    qz_tunbin t{};
    snprintf(t.name, sizeof t.name, "%s", name);
    snprintf(t.alias, sizeof t.alias, "%s", alias);
    t.id = id;
    if (source) t.source_address = addr(source);
    return t;
}

// A valid header for `kind` and `capacity`, as the publisher writes it.
std::vector<uint8> header_bytes(uint32 magic, uint32 version, qz_shm_kind kind, uint32 capacity)
{
    std::vector<uint8> b(qz_shm_hdr_size);
    lc_byte_writer w(b.data(), b.size());
    EXPECT_TRUE(w.ne32(magic) && w.ne32(version) && w.ne32(kind) &&
                w.ne32(qz_shm_block_size(kind, capacity)) && w.ne32(qz_shm_record_size(kind)) &&
                w.ne32(capacity) && w.ne32(0) && w.ne32(qz_shm_index_buckets(kind, capacity)));
    return b;
}

} // namespace

// ---------------------------------------------------------------------------
// Refused blocks: one code, one line, no signal

TEST_F(ShmTables, RefusedBlocksGiveOneCodeAndOneLineEach)
{
    std::vector<uint8> truncated =
        header_bytes(qz_shm_magic, qz_shm_layout_version, qz_shm_kind_l3if, 8);
    truncated.resize(qz_shm_hdr_size + 100); // the header promises more than is there
    const struct {
        std::vector<uint8> bytes; // empty: no block at all
        int code;
        const char *line;
    } cases[] = {
        {{}, lc_err_file_not_found, "is not published"},
        {std::vector<uint8>(10, 0xff), lc_err_bad_file, "is short: 10 bytes, no header"},
        {truncated, lc_err_bad_file, "is short: 164 bytes"},
        {std::vector<uint8>(4096, 0x5a), lc_err_bad_file, "is not a table (magic 0x5a5a5a5a)"},
        {header_bytes(qz_shm_magic, qz_shm_layout_version + 1, qz_shm_kind_l3if, 8),
         lc_err_bad_file, "has layout version 2, not 1"},
        {header_bytes(qz_shm_magic, qz_shm_layout_version, qz_shm_kind_tunnel, 8), lc_err_bad_file,
         "holds a table of kind 4, not 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        (void)qz_shm_pub_unlink(QZ_SHM_L3IF);
        if (!c.bytes.empty()) {
            std::ofstream f("/dev/shm/" + prefix_ + QZ_SHM_L3IF, std::ios::binary);
            ASSERT_TRUE(f.write(reinterpret_cast<const char *>(c.bytes.data()), c.bytes.size()));
        }
        LogCapture cap;
        const cmem_block *b = reinterpret_cast<const cmem_block *>(1);
        EXPECT_EQ(c.code, cmem_attach_block_read_only(QZ_SHM_L3IF, &b));
        EXPECT_EQ(nullptr, b);
        ASSERT_EQ(1u, cap.lines().size()) << cap.dump();
        EXPECT_NE(std::string::npos, cap.lines()[0].find(c.line)) << cap.dump();
        EXPECT_NE(std::string::npos, cap.lines()[0].find(prefix_ + QZ_SHM_L3IF)) << cap.dump();
    }
    // The same name attaches once a table is published there.
    (void)qz_shm_pub_unlink(QZ_SHM_L3IF);
    open_pub(qz_shm_kind_l3if, 8);
    const cmem_block *b = attached(QZ_SHM_L3IF);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(b, attached(QZ_SHM_L3IF)); // a second attach shares the mapping
    EXPECT_FALSE(b->writable);
    EXPECT_EQ(qz_shm_block_size(qz_shm_kind_l3if, 8), b->size);
}

// ---------------------------------------------------------------------------
// Lookups

TEST_F(ShmTables, InterfacesByNameBridgeMemberAddressAndLabel)
{
    qz_shm_publisher *p = open_pub(qz_shm_kind_l3if, 16);
    qz_l3if_info br = l3if("br0", qz_l3if_kind_bridge, "lan", "10.1.0.1", "lan0", "wan0");
    qz_l3if_info br4 = l3if("br4", qz_l3if_kind_bridge_alt, "lan", "2001:db8::1", "", "lan1");
    qz_l3if_info vti = l3if("vti3", qz_l3if_kind_vti, "", "10.9.0.1");
    snprintf(vti.tunnel_name, qz_tunnel_name_size, "tun-3");
    vti.incomplete = true;
    // A port that names a member of the bridge must not be taken for one.
    qz_l3if_info port = l3if("lan0", qz_l3if_kind_port, "lan", "10.2.0.1", "lan1");
    for (const auto *i : {&port, &br, &br4, &vti}) ASSERT_EQ(0, qz_shm_pub_put_l3if(p, i));
    const cmem_block *t = attached(QZ_SHM_L3IF);

    qz_l3if_info got{};
    ASSERT_EQ(0, qz_l3if_get_by_name(t, "vti3", &got));
    EXPECT_EQ(qz_l3if_kind_vti, got.kind);
    EXPECT_TRUE(got.incomplete);
    EXPECT_STREQ("tun-3", got.tunnel_name);
    EXPECT_EQ(4, got.ip_version);
    EXPECT_EQ(lc_err_not_found, qz_l3if_get_by_name(t, "vti", &got));
    EXPECT_STREQ("", got.name);

    ASSERT_EQ(0, qz_l3if_get_bridge_of_member(t, "wan0", &got));
    EXPECT_STREQ("br0", got.name);
    EXPECT_STREQ("lan0", got.member_port[0]);
    ASSERT_EQ(0, qz_l3if_get_bridge_of_member(t, "lan1", &got));
    EXPECT_STREQ("br4", got.name);
    EXPECT_EQ(lc_err_not_found, qz_l3if_get_bridge_of_member(t, "vti3", &got));
    EXPECT_EQ(lc_err_not_found, qz_l3if_get_bridge_of_member(t, "", &got));

    lc_ipaddr a = addr("2001:DB8:0:0::1");
    ASSERT_EQ(0, qz_l3if_get_by_addr(t, &a, &got));
    EXPECT_STREQ("br4", got.name);
    EXPECT_EQ(6, got.ip_version);
    a = addr("10.1.0.2");
    EXPECT_EQ(lc_err_not_found, qz_l3if_get_by_addr(t, &a, &got));

    std::vector<std::string> seen;
    auto collect = [](const qz_l3if_info *i, void *d) {
        static_cast<std::vector<std::string> *>(d)->push_back(i->name);
        return 0;
    };
    ASSERT_EQ(0, qz_l3if_foreach_with_label(t, "lan", collect, &seen));
    EXPECT_EQ((std::vector<std::string>{"lan0", "br0", "br4"}), seen);
    // A visitor's non-zero result ends the walk and comes back.
    auto stop = [](const qz_l3if_info *, void *) { return 42; };
    EXPECT_EQ(42, qz_l3if_foreach_with_label(t, "lan", stop, nullptr));
    EXPECT_EQ(0, qz_l3if_foreach_with_label(t, "none", stop, nullptr));
}

TEST_F(ShmTables, LabelsRouteLabelsTunnelsAndTheirLimits)
{
    qz_shm_publisher *lp = open_pub(qz_shm_kind_iflabel);
    ASSERT_EQ(0, qz_shm_pub_put_iflabel(lp, "lan", "Office LAN is long"));
    const cmem_block *lt = attached(QZ_SHM_IFLABEL);
    char text[qz_label_size];
    ASSERT_EQ(0, qz_iflabel_get_text(lt, "lan", text));
    EXPECT_STREQ("Office LAN is l", text); // 15 characters
    EXPECT_EQ(lc_err_not_found, qz_iflabel_get_text(lt, "wan", text));
    EXPECT_EQ(lc_err_bad_name, qz_shm_pub_put_iflabel(lp, "", "x"));
    {
        // A lookup or a write of another kind's record is refused.
        LogCapture cap;
        qz_l3if_info info{};
        EXPECT_EQ(lc_err_bad_type, qz_l3if_get_by_name(lt, "eth0", &info));
        EXPECT_EQ(lc_err_bad_type, qz_shm_pub_put_l3if(lp, &info));
    }

    qz_shm_publisher *rp = open_pub(qz_shm_kind_rtlabel);
    ASSERT_EQ(0, qz_shm_pub_put_rtlabel(rp, 5, "voice", true));
    ASSERT_EQ(0, qz_shm_pub_put_rtlabel(rp, qz_max_route_labels - 1, "last", false));
    const cmem_block *rt = attached(QZ_SHM_RTLABEL);
    char name[qz_rtlabel_name_size];
    bool and_mode = false;
    ASSERT_EQ(0, qz_rtlabel_get(rt, 5, name, &and_mode));
    EXPECT_STREQ("voice", name);
    EXPECT_TRUE(and_mode);
    ASSERT_EQ(0, qz_rtlabel_get(rt, get_max_route_labels() - 1, name, &and_mode));
    EXPECT_FALSE(and_mode);
    EXPECT_EQ(lc_err_not_found, qz_rtlabel_get(rt, 6, name, &and_mode));
    {
        LogCapture cap;
        EXPECT_EQ(lc_err_assertion_failed,
                  qz_rtlabel_get(rt, get_max_route_labels(), name, &and_mode));
    }
    ASSERT_EQ(0, qz_shm_pub_remove_rtlabel(rp, 5));
    EXPECT_EQ(lc_err_not_found, qz_rtlabel_get(rt, 5, name, &and_mode));
    EXPECT_EQ(1u, qz_shm_pub_count(rp));

    // Lookups that attach implicitly log a missing table once, and find it
    // once it is published.
    qz_tunbin got{};
    {
        LogCapture cap;
        EXPECT_EQ(lc_err_file_not_found, mgbin_get_tunbin_by_name_or_alias("backup", &got));
        EXPECT_EQ(lc_err_file_not_found, mgbin_get_tunbin_by_name_or_alias("backup", &got));
        EXPECT_EQ(1u, cap.count("is not published")) << cap.dump();
    }
    qz_shm_publisher *tp = open_pub(qz_shm_kind_tunnel);
    // An alias equal to another tunnel's name.
    const qz_tunbin a = tunnel("tun-1", "tun-2", 1),
                    b = tunnel("tun-2", "backup", 2, "2001:db8::2");
    for (const qz_tunbin *t : {&a, &b}) ASSERT_EQ(0, qz_shm_pub_put_tunnel(tp, t));
    const cmem_block *tt = attached(QZ_SHM_TUNNEL);
    ASSERT_EQ(0, qz_tunbin_get_by_name_or_alias(tt, "tun-2", &got));
    EXPECT_EQ(2u, got.id); // the name wins over an alias
    ASSERT_EQ(0, mgbin_get_tunbin_by_name_or_alias("backup", &got));
    EXPECT_STREQ("tun-2", got.name);
    EXPECT_EQ(0, lc_ipaddr_cmp(&b.source_address, &got.source_address));
    EXPECT_EQ(lc_err_not_found, mgbin_get_tunbin_by_name_or_alias("gone", &got));
    EXPECT_EQ(lc_err_not_found, mgbin_get_tunbin_by_name_or_alias("", &got));
}

TEST_F(ShmTables, AlarmHierarchyTextsFillTheirPlaceholders)
{
    qz_shm_publisher *p = open_pub(qz_shm_kind_alarm_hier);
    qz_alm_hier h{};
    h.alarm_id = 262189;
    h.num_levels = 3;
    snprintf(h.levels[0].tmpl, qz_alm_hier_str_size, "appliance/port-{port}");
    h.levels[1].kind = 1;
    snprintf(h.levels[1].tmpl, qz_alm_hier_str_size, "tunnel-{tunnel}/{entity} ({alarm}) {{x}");
    snprintf(h.levels[2].tmpl, qz_alm_hier_str_size, "bad {what}");
    ASSERT_EQ(0, qz_shm_pub_put_alarm_hier(p, &h));

    qz_alm_hier got{};
    EXPECT_EQ(lc_err_not_found, qz_alm_get_hier_for_alm(262249, &got));
    ASSERT_EQ(0, qz_alm_get_hier_for_alm(262189, &got));
    ASSERT_EQ(3u, got.num_levels);
    EXPECT_EQ(1, got.levels[1].kind);

    char out[qz_alm_hier_str_size];
    ASSERT_EQ(0, qz_alm_get_hier_str(&got, 0, 262189, 0, "eth1", "eth1", out, sizeof out));
    EXPECT_STREQ("appliance/port-eth1", out);
    ASSERT_EQ(0, qz_alm_get_hier_str(&got, 1, 262189, 12, "wan1", nullptr, out, sizeof out));
    EXPECT_STREQ("tunnel-12/wan1 (262189) {x}", out);
    EXPECT_EQ(lc_err_parse_error,
              qz_alm_get_hier_str(&got, 2, 262189, 0, "e", "p", out, sizeof out));
    EXPECT_STREQ("", out);
    EXPECT_EQ(lc_err_assertion_failed,
              qz_alm_get_hier_str(&got, 3, 262189, 0, "e", "p", out, sizeof out));
    char small[8];
    EXPECT_EQ(lc_err_no_buffer_space,
              qz_alm_get_hier_str(&got, 0, 262189, 0, "e", "eth1", small, sizeof small));
    EXPECT_STREQ("", small);
}

// ---------------------------------------------------------------------------
// Updates in place

TEST_F(ShmTables, RemovalsKeepEveryOtherInterfaceFindable)
{
    qz_shm_publisher *p = open_pub(qz_shm_kind_l3if, 64);
    for (int i = 0; i < 64; ++i) {
        const std::string n = "if" + std::to_string(i);
        const qz_l3if_info info = l3if(n.c_str(), qz_l3if_kind_port, "", "10.0.0.1");
        ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &info));
    }
    const qz_l3if_info extra = l3if("one-too-many", qz_l3if_kind_port, "", "10.0.0.1");
    {
        LogCapture cap;
        EXPECT_EQ(lc_err_no_space, qz_shm_pub_put_l3if(p, &extra));
    }
    const cmem_block *t = attached(QZ_SHM_L3IF);
    for (int i = 0; i < 64; i += 3)
        ASSERT_EQ(0, qz_shm_pub_remove_l3if(p, ("if" + std::to_string(i)).c_str()));
    EXPECT_EQ(lc_err_not_found, qz_shm_pub_remove_l3if(p, "if0"));
    EXPECT_EQ(42u, qz_shm_pub_count(p)); // 22 removed
    for (int i = 0; i < 64; ++i) {
        qz_l3if_info got{};
        const int want = i % 3 == 0 ? lc_err_not_found : 0;
        EXPECT_EQ(want, qz_l3if_get_by_name(t, ("if" + std::to_string(i)).c_str(), &got)) << i;
    }
    // A rewrite keeps the slot and the count.
    qz_l3if_info moved = l3if("if1", qz_l3if_kind_port, "wan", "10.0.0.9");
    ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &moved));
    EXPECT_EQ(42u, qz_shm_pub_count(p));
    qz_l3if_info got{};
    ASSERT_EQ(0, qz_l3if_get_by_name(t, "if1", &got));
    EXPECT_STREQ("wan", got.label);
}

TEST_F(ShmTables, AReopenedBlockIsReusedInPlaceNeverShrunk)
{
    qz_shm_publisher *first = open_pub(qz_shm_kind_l3if, 32);
    const qz_l3if_info a = l3if("eth0", qz_l3if_kind_port, "", "10.0.0.1");
    ASSERT_EQ(0, qz_shm_pub_put_l3if(first, &a));
    const cmem_block *t = attached(QZ_SHM_L3IF);

    // A restarted publisher finds the block, empties it and fills it again;
    // the reader's old mapping sees the new records.
    qz_shm_publisher *second = open_pub(qz_shm_kind_l3if, 16);
    EXPECT_EQ(32u, qz_shm_pub_capacity(second));
    qz_l3if_info got{};
    EXPECT_EQ(lc_err_not_found, qz_l3if_get_by_name(t, "eth0", &got));
    const qz_l3if_info b = l3if("eth1", qz_l3if_kind_port, "", "10.0.0.2");
    ASSERT_EQ(0, qz_shm_pub_put_l3if(second, &b));
    EXPECT_EQ(0, qz_l3if_get_by_name(t, "eth1", &got));

    LogCapture cap;
    qz_shm_publisher *bigger = nullptr;
    EXPECT_EQ(lc_err_exists, qz_shm_pub_open(qz_shm_kind_l3if, nullptr, 64, &bigger));
    EXPECT_EQ(lc_err_exists, qz_shm_pub_open(qz_shm_kind_tunnel, QZ_SHM_L3IF, 16, &bigger));
    EXPECT_EQ(nullptr, bigger);
    EXPECT_EQ(2u, cap.lines().size()) << cap.dump();
}

// ---------------------------------------------------------------------------
// Readers never accept a torn record

namespace
{

// Every field of interface `i` at generation `gen` derives from both, so a
// record mixed from two writes cannot pass for either.
qz_l3if_info generation(int i, uint32 gen)
{
    qz_l3if_info info{};
    snprintf(info.name, sizeof info.name, "if%03d", i);
    info.kind = gen % 2 ? qz_l3if_kind_bridge : qz_l3if_kind_port;
    info.ip_version = 4;
    info.incomplete = gen % 3 == 0;
    snprintf(info.member_port[0], qz_ifname_size, "a%u", gen);
    snprintf(info.member_port[1], qz_ifname_size, "b%u", gen);
    char tun[qz_tunnel_name_size];
    snprintf(tun, sizeof tun, "%010u-%010u-%010u-%010u-%010u", gen, gen, gen, gen, gen);
    memcpy(info.tunnel_name, tun, sizeof tun);
    snprintf(info.label, sizeof info.label, "l%u", gen);
    info.address.family = lc_ipf_ipv4;
    memcpy(info.address.addr, &gen, sizeof gen);
    return info;
}

bool same(const qz_l3if_info &a, const qz_l3if_info &b)
{
    return strcmp(a.name, b.name) == 0 && a.kind == b.kind && a.ip_version == b.ip_version &&
           a.incomplete == b.incomplete && strcmp(a.member_port[0], b.member_port[0]) == 0 &&
           strcmp(a.member_port[1], b.member_port[1]) == 0 &&
           strcmp(a.tunnel_name, b.tunnel_name) == 0 && strcmp(a.label, b.label) == 0 &&
           lc_ipaddr_cmp(&a.address, &b.address) == 0;
}

} // namespace

TEST_F(ShmTables, AReaderRacingAPublisherProcessNeverAcceptsATornRecord)
{
    constexpr int interfaces = 256;
    constexpr int lookups = 1000000;
    qz_shm_publisher *p = open_pub(qz_shm_kind_l3if, interfaces);
    for (int i = 0; i < interfaces; ++i) {
        const qz_l3if_info info = generation(i, 0);
        ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &info));
    }
    // The publisher process rewrites every interface, generation after
    // generation, until told to stop.
    auto *shared = static_cast<std::atomic<uint32> *>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void *>(shared));
    std::atomic<uint32> &stop = shared[0];
    std::atomic<uint32> &published = shared[1];
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (uint32 gen = 1; !stop.load(); ++gen) {
            for (int i = 0; i < interfaces; ++i) {
                const qz_l3if_info info = generation(i, gen);
                if (qz_shm_pub_put_l3if(p, &info) != 0) _exit(1);
            }
            published.store(gen);
        }
        _exit(0);
    }
    // Look only once the publisher is under way, so the two overlap.
    while (published.load() == 0 && waitpid(child, nullptr, WNOHANG) == 0) sched_yield();
    ASSERT_NE(0u, published.load());

    const cmem_block *t = attached(QZ_SHM_L3IF);
    int torn = 0, failed = 0;
    for (int n = 0; n < lookups; ++n) {
        const int i = n % interfaces;
        char name[qz_ifname_size];
        snprintf(name, sizeof name, "if%03d", i);
        qz_l3if_info got{};
        if (qz_l3if_get_by_name(t, name, &got) != 0) {
            ++failed;
            continue;
        }
        const uint32 gen = uint32(strtoul(got.member_port[0] + 1, nullptr, 10));
        if (!same(got, generation(i, gen))) ++torn;
    }
    stop.store(1);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(0, torn);
    EXPECT_EQ(0, failed);
    munmap(shared, 4096);
}

TEST_F(ShmTables, ARecordFailingItsCheckOrLeftMidWriteIsRefused)
{
    qz_shm_publisher *p = open_pub(qz_shm_kind_l3if, 4);
    const qz_l3if_info a = l3if("eth0", qz_l3if_kind_port, "lan", "10.0.0.1");
    ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &a));
    const cmem_block *t = attached(QZ_SHM_L3IF);
    uint8 *rec = const_cast<uint8 *>(qz_shm_pub_block(p)->base) + qz_shm_records_off;

    qz_l3if_info got{};
    LogCapture cap;

    // A byte changed behind the seqlock's back.
    rec[qz_l3if_off_label] = 'X';
    EXPECT_EQ(lc_err_bad_file, qz_l3if_get_by_name(t, "eth0", &got));
    ASSERT_EQ(1u, cap.lines().size()) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with("record 0 of " + prefix_ + "cl3mgr_mem fails its check"))
        << cap.dump();
    // A publisher that died inside a write leaves the sequence odd: the
    // reader gives up instead of spinning for ever, and the next write heals it.
    ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &a));
    rec[qz_shm_rec_off_seq] |= 1;
    cap.clear();
    EXPECT_EQ(lc_err_io_would_block, qz_l3if_get_by_name(t, "eth0", &got));
    EXPECT_EQ(1u, cap.lines().size()) << cap.dump();
    ASSERT_EQ(0, qz_shm_pub_put_l3if(p, &a));
    EXPECT_EQ(0, qz_l3if_get_by_name(t, "eth0", &got));
}

// ---------------------------------------------------------------------------
// The cloud path probe queue

namespace
{

class ProbeQueue : public ShmTables
{
  protected:
    void SetUp() override
    {
        ShmTables::SetUp();
        ASSERT_EQ(0, ipsla_probes_create());
        ASSERT_EQ(0, ipsla_probes_queue_init());
        cmem_block *b = nullptr;
        ASSERT_EQ(0, cmem_attach_block_read_write(QZ_SHM_CLOUDPATH, &b));
        base_ = b->base;
    }
    template <class T = uint32> T word(uint32 off) const
    {
        T v = 0;
        EXPECT_TRUE(
            lc_byte_reader(base_, ipsla_block_size).get_at<lc_bytes::order::native>(off, &v));
        return v;
    }
    // The queue as listed from head to tail: each number below 1024, none
    // twice, as many as the count says.
    ::testing::AssertionResult consistent(std::vector<uint16> *listed = nullptr) const
    {
        const uint32 head = word(ipsla_off_q_head), tail = word(ipsla_off_q_tail);
        const uint32 count = word(ipsla_off_free_count);
        std::vector<uint16> slots;
        if (tail != ipsla_q_empty) {
            if (head >= ipsla_probes_max || tail >= ipsla_probes_max)
                return ::testing::AssertionFailure() << "head " << head << " tail " << tail;
            for (uint32 i = head;; i = (i + 1) % ipsla_probes_max) {
                slots.push_back(word<uint16>(ipsla_off_q_ring + 2 * i));
                if (i == tail) break;
            }
        }
        std::vector<bool> seen(ipsla_probes_max);
        for (uint16 s : slots) {
            if (s >= ipsla_probes_max || seen[s])
                return ::testing::AssertionFailure() << "slot " << s << " bad or listed twice";
            seen[s] = true;
        }
        if (slots.size() != count)
            return ::testing::AssertionFailure() << slots.size() << " listed, count says " << count;
        if (listed) *listed = slots;
        return ::testing::AssertionSuccess();
    }
    uint8 *base_ = nullptr;
};

} // namespace

// ---------------------------------------------------------------------------
// Order, limits and lines

TEST_F(ProbeQueue, InitListsEverySlotInOrderAndTakesComeOutFirstInFirstOut)
{
    std::vector<uint16> listed;
    ASSERT_TRUE(consistent(&listed));
    ASSERT_EQ(ipsla_probes_max, listed.size());
    for (uint32 i = 0; i < ipsla_probes_max; ++i) EXPECT_EQ(i, listed[i]);

    LogCapture cap;
    uint32 a = 99, b = 99;
    ASSERT_EQ(0, ipsla_probes_get_free_entry(&a));
    ASSERT_EQ(0, ipsla_probes_get_free_entry(&b));
    EXPECT_EQ(0u, a);
    EXPECT_EQ(1u, b);
    ASSERT_EQ(2u, cap.lines().size()) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with(": ipsla_probes_get_free_entry: 0, next 1")) << cap.dump();
    EXPECT_EQ(LCL_DEBUG, cap.priorities()[0]);

    // Returned slots go to the back, after the wrap of the ring.
    ASSERT_EQ(0, ipsla_probes_add_entry(a));
    EXPECT_EQ(ipsla_probes_max - 1, ipsla_probes_free_count());
    ASSERT_TRUE(consistent(&listed));
    EXPECT_EQ(2u, listed.front());
    EXPECT_EQ(0u, listed.back());
    EXPECT_EQ(0u, word(ipsla_off_q_tail)); // wrapped
}

TEST_F(ProbeQueue, EmptyAndFullAreRefusedWithTheirLines)
{
    LogCapture cap(LCL_ERR);
    uint32 slot = 0;
    EXPECT_EQ(lc_err_no_space, ipsla_probes_add_entry(7));
    ASSERT_EQ(1u, cap.lines().size()) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with(": ipsla_probes_add_entry: q full")) << cap.dump();
    EXPECT_EQ(LCL_ERR, cap.priorities()[0]);
    ASSERT_TRUE(consistent());

    for (uint32 i = 0; i < ipsla_probes_max; ++i) ASSERT_EQ(0, ipsla_probes_get_free_entry(&slot));
    EXPECT_EQ(ipsla_q_empty, word(ipsla_off_q_tail));
    cap.clear();
    EXPECT_EQ(lc_err_no_space, ipsla_probes_get_free_entry(&slot));
    ASSERT_EQ(1u, cap.lines().size()) << cap.dump();
    EXPECT_TRUE(cap.lines()[0].ends_with(": ipsla_probes_get_free_entry: q empty")) << cap.dump();
    EXPECT_EQ(0u, ipsla_probes_free_count());

    // The first return into the empty queue starts it at the ring's head.
    ASSERT_EQ(0, ipsla_probes_add_entry(513));
    EXPECT_EQ(0u, word(ipsla_off_q_head));
    EXPECT_EQ(0u, word(ipsla_off_q_tail));
    ASSERT_EQ(0, ipsla_probes_get_free_entry(&slot));
    EXPECT_EQ(513u, slot);
}

TEST_F(ProbeQueue, WithoutTheBlockEveryCallFailsSoftly)
{
    ipsla_probes_detach();
    (void)qz_shm_pub_unlink(QZ_SHM_CLOUDPATH);
    cmem_detach_all();
    uint32 slot = 5;
    EXPECT_EQ(lc_err_file_not_found, ipsla_probes_get_free_entry(&slot));
    EXPECT_EQ(0u, slot);
    EXPECT_EQ(lc_err_file_not_found, ipsla_probes_add_entry(1));
    EXPECT_EQ(nullptr, ipsla_probes_slot_text(0, ipsla_slot_off_target));
    EXPECT_EQ(0u, ipsla_probes_synthetic_count());

    LogCapture cap;
    EXPECT_EQ(lc_err_file_not_found, ipsla_probes_attach());
    EXPECT_EQ(lc_err_file_not_found, ipsla_probes_attach());
    EXPECT_EQ(1u, cap.lines().size()) << cap.dump();
    EXPECT_FALSE(ipsla_probes_attached());
}

TEST_F(ProbeQueue, SlotTextsSitAtTheirOffsets)
{
    char *target = ipsla_probes_slot_text(3, ipsla_slot_off_target);
    char *options = ipsla_probes_slot_text(3, ipsla_slot_off_options);
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(base_ + ipsla_off_slots + 3 * ipsla_probe_slot_size,
              reinterpret_cast<uint8 *>(target));
    EXPECT_EQ(target + 512, options);
    EXPECT_EQ(nullptr, ipsla_probes_slot_text(ipsla_probes_max, ipsla_slot_off_target));
    EXPECT_EQ(nullptr, ipsla_probes_slot_text(0, 100));
    ipsla_probes_set_synthetic_count(12);
    EXPECT_EQ(12u, word(ipsla_off_synthetic_count));
}

// ---------------------------------------------------------------------------
// Two processes

TEST_F(ProbeQueue, TwoProcessesTakingAndReturningNeverHoldTheSameSlot)
{
    constexpr int rounds = 100000;
    constexpr uint32 keep = 8; // slots each side holds at a time
    // Who holds each slot: 0 nobody, 1 this process, 2 the other.
    struct shared_state {
        std::atomic<uint32> ready;
        std::atomic<uint8> owner[ipsla_probes_max];
    };
    auto *shared = static_cast<shared_state *>(mmap(
        nullptr, sizeof(shared_state), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void *>(shared));
    std::atomic<uint8> *owner = shared->owner;
    // Returns the number of ownership violations seen.
    auto run = [shared, owner](uint8 me) {
        // Both sides start together, so that their turns interleave.
        shared->ready.fetch_add(1);
        while (shared->ready.load() < 2) sched_yield();
        int violations = 0;
        uint32 held[keep];
        uint32 n = 0;
        auto give_back = [&] {
            const uint32 slot = held[--n];
            uint8 was = me;
            if (!owner[slot].compare_exchange_strong(was, 0)) ++violations;
            if (ipsla_probes_add_entry(slot) != 0) ++violations;
        };
        for (int r = 0; r < rounds; ++r) {
            if (n == keep || (n > 0 && (r * 7 + me) % 3 == 0)) give_back();
            uint32 slot = 0;
            if (ipsla_probes_get_free_entry(&slot) != 0) {
                ++violations;
                continue;
            }
            uint8 was = 0;
            if (!owner[slot].compare_exchange_strong(was, me)) ++violations;
            held[n++] = slot;
        }
        while (n > 0) give_back();
        return violations;
    };
    LogCapture quiet(LCL_ERR); // the debug lines of 4 * 10^5 takes are not the point
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(run(2) == 0 ? 0 : 1);
    EXPECT_EQ(0, run(1));
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    ASSERT_TRUE(consistent());
    EXPECT_EQ(ipsla_probes_max, ipsla_probes_free_count());
    for (uint32 i = 0; i < ipsla_probes_max; ++i) EXPECT_EQ(0, owner[i].load()) << i;
    EXPECT_TRUE(quiet.lines().empty()) << quiet.dump();
    munmap(shared, sizeof(shared_state));
}

// ---------------------------------------------------------------------------
// A holder killed inside the lock

namespace
{

template <class T> void put(uint8 *base, uint32 off, T v)
{
    (void)lc_byte_writer(base, ipsla_block_size).put_at<lc_bytes::order::native>(off, v);
}

// Forks a process that takes the queue's lock, runs `inside` while holding
// it, reports over a pipe, and waits to be killed; then kills it.
template <class F> void die_holding_the_lock(F inside)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (ipsla_probes_lock_for_tests() != 0) _exit(1);
        inside();
        const char c = 'x';
        if (write(fds[1], &c, 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(fds[1]);
    char c = 0;
    ASSERT_EQ(1, read(fds[0], &c, 1));
    close(fds[0]);
    ASSERT_EQ(0, kill(child, SIGKILL));
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

} // namespace

TEST_F(ProbeQueue, AHolderKilledInsideTheLockDoesNotBlockTheNextTaker)
{
    die_holding_the_lock([] {});
    LogCapture cap;
    uint32 slot = 99;
    ASSERT_EQ(0, ipsla_probes_get_free_entry(&slot));
    EXPECT_EQ(0u, slot);
    EXPECT_EQ(1u, cap.count("previous holder of the probe queue lock died; 1024 free"))
        << cap.dump();
    ASSERT_EQ(0, ipsla_probes_add_entry(slot));
    ASSERT_TRUE(consistent());
    EXPECT_EQ(ipsla_probes_max, ipsla_probes_free_count());
    // The lock is whole again: the next holder death is recovered as well.
    die_holding_the_lock([] {});
    EXPECT_EQ(ipsla_probes_max, ipsla_probes_free_count());
}

TEST_F(ProbeQueue, AQueueLeftHalfChangedIsRepairedWhenTheLockIsRecovered)
{
    uint8 *base = base_;
    // Killed in the middle of changes: a slot listed twice, a number past
    // the ring, and a count that matches neither.
    die_holding_the_lock([base] {
        put(base, ipsla_off_q_ring + 2 * 5, uint16(9));
        put(base, ipsla_off_q_ring + 2 * 6, uint16(4000));
        put(base, ipsla_off_free_count, uint32(17));
    });
    LogCapture cap;
    EXPECT_EQ(ipsla_probes_max - 2, ipsla_probes_free_count());
    EXPECT_EQ(1u, cap.count("previous holder of the probe queue lock died; 1022 free"))
        << cap.dump();
    std::vector<uint16> listed;
    ASSERT_TRUE(consistent(&listed));
    // Slots 5 and 6 are lost rather than doubled; everything else is kept.
    std::vector<bool> present(ipsla_probes_max);
    for (uint16 s : listed) present[s] = true;
    for (uint32 s = 0; s < ipsla_probes_max; ++s) EXPECT_EQ(s != 5 && s != 6, present[s]) << s;

    // Indices past the ring leave nothing trustworthy: the queue is emptied.
    die_holding_the_lock([base] { put(base, ipsla_off_q_head, uint32(5000)); });
    cap.clear();
    uint32 slot = 0;
    EXPECT_EQ(lc_err_no_space, ipsla_probes_get_free_entry(&slot));
    ASSERT_TRUE(consistent());
    EXPECT_EQ(1u, cap.count("q empty")) << cap.dump();
}

// ---------------------------------------------------------------------------
// Pid files and addresses

TEST(PidFile, ReadsTheFirstLineAndRefusesAnythingElse)
{
    char tmpl[] = "/tmp/ipt_pid.XXXXXX";
    const int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    struct {
        const char *text;
        int code;
        uint32 pid;
    } cases[] = {
        {"4242\n", 0, 4242},
        {"17", 0, 17},
        {"99 \nnoise\n", 0, 99},
        {"", lc_err_parse_error, 0},
        {"0\n", lc_err_parse_error, 0},
        {"-5\n", lc_err_parse_error, 0},
        {"12ab\n", lc_err_parse_error, 0},
        {"99999999999\n", lc_err_parse_error, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(tmpl) << c.text;
        LogCapture cap;
        uint32 pid = 1;
        EXPECT_EQ(c.code, lc_get_process_id("sysd", tmpl, &pid));
        EXPECT_EQ(c.pid, pid);
        EXPECT_EQ(c.code ? 1u : 0u, cap.lines().size()) << cap.dump();
    }
    unlink(tmpl);
    LogCapture cap;
    uint32 pid = 1;
    EXPECT_EQ(lc_err_file_not_found, lc_get_process_id("sysd", tmpl, &pid));
    EXPECT_EQ(0u, pid);
    EXPECT_EQ(lc_err_file_not_found, lc_get_process_id("sysd", "/", &pid)); // not a file
    ASSERT_EQ(2u, cap.lines().size()) << cap.dump();
    EXPECT_NE(std::string::npos, cap.lines()[0].find("pid file " + std::string(tmpl) + " of sysd"));
}

TEST(Addresses, ParseQuietlyAndPrintCanonically)
{
    LogCapture cap;
    struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"192.0.2.10", "192.0.2.10"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
        {"fe80:0:0:0:1:0:0:0", "fe80::1:0:0:0"},
        {"::", "::"},
        {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
    };
    for (const auto &c : cases) {
        lc_ipaddr a{};
        ASSERT_EQ(0, lc_str_to_ipaddr_quiet(c.in, &a)) << c.in;
        char out[lc_ip_str_max];
        ASSERT_EQ(0, get_addr_str(&a, out, sizeof out));
        EXPECT_STREQ(c.out, out);
    }
    for (const char *bad : {"", "10.0.0", "10.0.0.256", " 10.0.0.1", "1::2::3", "host"}) {
        lc_ipaddr a{};
        a.family = 9;
        EXPECT_EQ(lc_err_bad_type, lc_str_to_ipaddr_quiet(bad, &a)) << bad;
        EXPECT_EQ(lc_ipf_none, a.family);
    }
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}
