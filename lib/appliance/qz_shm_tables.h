// The appliance's shared tables, as the tracking engine reads them.
//
// Other daemons of the appliance publish their tables in named POSIX
// shared-memory blocks (under /dev/shm): the interface table "cl3mgr_mem",
// the interface-label table "iflabel_shmem", the route-label table
// "route_label_shmem", the tunnel table "tunmgr" and the alarm hierarchy
// "shmem_alarm_hierarchy".  This module attaches them read-only and answers
// the lookups the engine makes; the publisher side (used by the simulated
// appliance and by tests) creates and rewrites them in place.
//
// Layout rules (the byte layouts themselves live in qz_shm_layout.h): every
// table starts with one header (magic, layout version, block size, record
// capacity, record count, sequence counter) and holds a fixed number of
// fixed-size records.  The publisher never shrinks or recreates a block that
// readers have mapped; it rewrites records in place under the sequence
// counter (a seqlock: odd while a write is in progress), and a reader
// retries a record until it read it between two equal even counts.  A
// reader checks the block's real size against its header before it reads
// anything: a missing, short, foreign or wrong-version block is an error
// code with one log line, never a signal.
//
// Ownership: attached blocks stay mapped for the life of the process (the
// engine attaches each once); the handles returned here are owned by this
// module.  Lookups copy what they find into the caller's record.
#pragma once

#include "bnode/bnode_addr.h"
#include "log/common.h"

// Block names.
#define QZ_SHM_L3IF "cl3mgr_mem"
#define QZ_SHM_IFLABEL "iflabel_shmem"
#define QZ_SHM_RTLABEL "route_label_shmem"
#define QZ_SHM_TUNNEL "tunmgr"
#define QZ_SHM_ALARM_HIER "shmem_alarm_hierarchy"
#define QZ_SHM_CLOUDPATH "saasmgr"

// Limits seen by every user of the tables.
constexpr uint32 qz_ifname_size = 16;      // interface names, 15 characters
constexpr uint32 qz_label_size = 16;       // interface label names and display texts
constexpr uint32 qz_tunnel_name_size = 64; // tunnel names and aliases
constexpr uint32 qz_rtlabel_name_size = 16;
// The appliance model's number of route labels: ids 0 .. N-1 are valid (0
// meaning "none"); a compile-time property of the model, so it is known
// before any table is mapped.
constexpr uint32 qz_max_route_labels = 256;

// Interface kinds of the interface table.
enum qz_l3if_kind : uint8 {
    qz_l3if_kind_port = 0,
    qz_l3if_kind_bridge = 1,
    qz_l3if_kind_bridge_alt = 4,
    qz_l3if_kind_vti = 11,
};

// A mapped block.  `base` and `size` are the whole mapping.
struct cmem_block {
    const char *name;
    uint8 *base;
    uint32 size;
    bool writable;
};

// Attaches the named block read-only (a block already attached by this
// process is returned again).  lc_err_file_not_found when the block does
// not exist; lc_err_bad_file when it is short, foreign or of another layout
// version; each failure logs one line.  *ret is null on failure.
[[nodiscard]] int cmem_attach_block_read_only(const char *name, const cmem_block **ret);
// Attaches the named block read-write (used for "saasmgr").
[[nodiscard]] int cmem_attach_block_read_write(const char *name, cmem_block **ret);
// Unmaps every block this process attached (tests and clean exits).  The
// handles handed out before are invalid afterwards.
void cmem_detach_all();
// Test seam: every block name used by this module, the publisher and the
// cloud path table is prefixed with `prefix` (null or "" restores the plain
// names), so that parallel test runs never share a block.
void cmem_set_name_prefix_for_tests(const char *prefix);
// The name under which `name` is opened ("/dev/shm/" + prefix + name must
// fit qz_shm_path_max).
constexpr uint32 qz_shm_path_max = 128;

// Every lookup below reads each record between two equal even values of
// its sequence word and verifies its check word.  A record that stays under
// rewrite for about a million attempts is lc_err_io_would_block; a record
// that is stable but fails its check is lc_err_bad_file; each logs one line.

// One interface of the interface table.
struct qz_l3if_info {
    char name[qz_ifname_size];
    uint8 kind;       // qz_l3if_kind
    uint8 ip_version; // 4 or 6
    bool incomplete;
    char member_port[2][qz_ifname_size];   // bridges: the two member ports
    char tunnel_name[qz_tunnel_name_size]; // VTIs: the tunnel they carry
    char label[qz_label_size];
    lc_ipaddr address;
};

// The interface called `name`; lc_err_not_found (not logged) when absent.
[[nodiscard]] int qz_l3if_get_by_name(const cmem_block *table, const char *name, qz_l3if_info *ret);
// The bridge (kind 1 or 4) that lists `port` as a member; lc_err_not_found.
[[nodiscard]] int qz_l3if_get_bridge_of_member(const cmem_block *table, const char *port,
                                               qz_l3if_info *ret);
// The interface whose address equals `addr`; lc_err_not_found.
[[nodiscard]] int qz_l3if_get_by_addr(const cmem_block *table, const lc_ipaddr *addr,
                                      qz_l3if_info *ret);
// Calls `fn` for each interface carrying `label`, in table order, until it
// returns non-zero (that value is returned).  0 when the walk ended.
typedef int (*qz_l3if_visit_fn)(const qz_l3if_info *info, void *data);
[[nodiscard]] int qz_l3if_foreach_with_label(const cmem_block *table, const char *label,
                                             qz_l3if_visit_fn fn, void *data);
// The same over every interface.  A walk that races a removal may see a
// moved record twice or miss it; each record it sees is whole.
[[nodiscard]] int qz_l3if_foreach(const cmem_block *table, qz_l3if_visit_fn fn, void *data);

// The display text of interface label `label` (at most 15 characters, into
// `ret` of qz_label_size bytes); lc_err_not_found when the table has no
// such label.
[[nodiscard]] int qz_iflabel_get_text(const cmem_block *table, const char *label, char *ret);
// Calls `fn` with each label and its display text, in table order, until it
// returns non-zero (that value is returned).
typedef int (*qz_iflabel_visit_fn)(const char *label, const char *text, void *data);
[[nodiscard]] int qz_iflabel_foreach(const cmem_block *table, qz_iflabel_visit_fn fn, void *data);

// The route label number `id`: its name and its AND flag.  lc_err_not_found
// for an id that is not configured; lc_err_assertion_failed for an id not
// below get_max_route_labels().
[[nodiscard]] int qz_rtlabel_get(const cmem_block *table, uint32 id, char *ret_name,
                                 bool *ret_and_mode);
// The model's number of route labels (qz_max_route_labels).
uint32 get_max_route_labels();

// A tunnel record of the tunnel table.
struct qz_tunbin {
    char name[qz_tunnel_name_size];
    char alias[qz_tunnel_name_size];
    uint32 id;
    lc_ipaddr source_address;
};
// The tunnel whose name or alias is `name_or_alias`, from the "tunmgr"
// table (attached on first use).  lc_err_not_found when there is none,
// lc_err_file_not_found when the table is not published.
[[nodiscard]] int mgbin_get_tunbin_by_name_or_alias(const char *name_or_alias, qz_tunbin *ret);
// The same in a given tunnel table: a name match first, else the first
// alias match in table order.
[[nodiscard]] int qz_tunbin_get_by_name_or_alias(const cmem_block *table, const char *name_or_alias,
                                                 qz_tunbin *ret);
typedef int (*qz_tunbin_visit_fn)(const qz_tunbin *tunnel, void *data);
[[nodiscard]] int qz_tunbin_foreach(const cmem_block *table, qz_tunbin_visit_fn fn, void *data);

// The alarm hierarchy of the appliance's alarm table.  A definition lists
// the levels of an alarm's hierarchy; each level has a kind (0 a port-level
// entity, others tunnel or appliance levels) and a text template in which
// "{alarm}", "{tunnel}", "{entity}" and "{port}" stand for the alarm id, the
// tunnel id (decimal), the entity and the port, and "{{" for "{".
constexpr uint32 qz_alm_max_levels = 4;
constexpr uint32 qz_alm_hier_str_size = 128;
struct qz_alm_hier_level {
    uint8 kind;
    char tmpl[qz_alm_hier_str_size];
};
struct qz_alm_hier {
    uint32 alarm_id;
    uint32 num_levels;
    qz_alm_hier_level levels[qz_alm_max_levels];
};
// The hierarchy definition of `alarm_id` from "shmem_alarm_hierarchy"
// (attached on first use); lc_err_not_found when the table has none.
[[nodiscard]] int qz_alm_get_hier_for_alm(uint32 alarm_id, qz_alm_hier *ret);
// The same in a given hierarchy table.
[[nodiscard]] int qz_alm_hier_get(const cmem_block *table, uint32 alarm_id, qz_alm_hier *ret);
typedef int (*qz_alm_hier_visit_fn)(const qz_alm_hier *hier, void *data);
[[nodiscard]] int qz_alm_hier_foreach(const cmem_block *table, qz_alm_hier_visit_fn fn, void *data);
// The hierarchy text of one level, built from its template with the alarm
// id, tunnel id, entity and port (null is empty); into `ret` of `size`
// bytes.  A level not below num_levels is lc_err_assertion_failed, an
// unknown placeholder lc_err_parse_error, a text that does not fit
// lc_err_no_buffer_space; on failure `ret` is empty.  Not logged.
[[nodiscard]] int qz_alm_get_hier_str(const qz_alm_hier *hier, uint32 level, uint32 alarm_id,
                                      uint32 tunnel_id, const char *entity, const char *port,
                                      char *ret, uint32 size);

// The process id in `pid_file` (a decimal number on the first line).  A
// missing, unreadable or malformed file is lc_err_file_not_found or
// lc_err_parse_error, logged once with `process_name`; *ret_pid is 0.
[[nodiscard]] int lc_get_process_id(const char *process_name, const char *pid_file,
                                    uint32 *ret_pid);

// Address helpers on the binding model's address record.  Parsing does not
// log; lc_err_bad_type when `text` is not an IPv4 or IPv6 address.
[[nodiscard]] int lc_str_to_ipaddr_quiet(const char *text, lc_ipaddr *ret);
// The canonical text form of `addr` into `ret` (lc_ip_str_max bytes).
[[nodiscard]] int get_addr_str(const lc_ipaddr *addr, char *ret, uint32 size);
