// The publisher side of the shared tables; see qz_shm_publish.h.
//
// Writes follow the seqlock protocol of qz_shm_layout.h: the sequence word
// goes odd, a release fence orders it before the data, the data is copied,
// and a release store makes the word even again.  A word found odd when the
// publisher starts (a predecessor died inside a write) is simply completed
// by the next write.
#include "appliance/qz_shm_publish.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "appliance/qz_shm_internal.h"
#include "log/logging.h"

using namespace qz_shm_detail;

struct qz_shm_publisher {
    std::string name;
    cmem_block block{};
    uint8 *base = nullptr;
    header_info hdr{};
    uint32 struct_seq = 0; // odd value while a structure change is open
};

namespace
{

constexpr const char *standard_name(qz_shm_kind kind)
{
    switch (kind) {
    case qz_shm_kind_l3if:
        return QZ_SHM_L3IF;
    case qz_shm_kind_iflabel:
        return QZ_SHM_IFLABEL;
    case qz_shm_kind_rtlabel:
        return QZ_SHM_RTLABEL;
    case qz_shm_kind_tunnel:
        return QZ_SHM_TUNNEL;
    case qz_shm_kind_alarm_hier:
        return QZ_SHM_ALARM_HIER;
    default:
        return nullptr;
    }
}

// Field writers at named offsets of a record buffer; false only when the
// layout constants are wrong.
bool put_u8(uint8 *rec, uint32 size, uint32 off, uint8 v)
{
    lc_byte_writer f;
    return lc_byte_writer(rec, size).at(off, 1, &f) && f.u8(v);
}
bool put_u32(uint8 *rec, uint32 size, uint32 off, uint32 v)
{
    lc_byte_writer f;
    return lc_byte_writer(rec, size).at(off, 4, &f) && f.ne32(v);
}
bool put_text(uint8 *rec, uint32 size, uint32 off, uint32 field, const char *text)
{
    lc_byte_writer f;
    return lc_byte_writer(rec, size).at(off, field, &f) && f.text(text, field);
}
bool put_addr(uint8 *rec, uint32 size, uint32 family_off, uint32 addr_off, const lc_ipaddr &a)
{
    lc_byte_writer f;
    return put_u8(rec, size, family_off, a.family) &&
           lc_byte_writer(rec, size).at(addr_off, 16, &f) && f.bytes(a.addr, 16);
}

uint8 *record(qz_shm_publisher *p, uint32 i)
{
    return p->base + qz_shm_records_off + size_t(i) * p->hdr.record_size;
}

bool slot_used(qz_shm_publisher *p, uint32 i)
{
    return record(p, i)[qz_shm_rec_off_used] != 0;
}

uint32 count_of(qz_shm_publisher *p)
{
    return load_relaxed(p->base + qz_shm_hdr_off_count);
}

// Rewrites slot `i` with `buf` (its check word is filled in here).
void write_record(qz_shm_publisher *p, uint32 i, uint8 *buf)
{
    const uint32 size = p->hdr.record_size;
    (void)put_u32(buf, size, qz_shm_rec_off_check, qz_shm_record_check(buf, size));
    uint8 *rec = record(p, i);
    const uint32 odd = load_relaxed(rec + qz_shm_rec_off_seq) | 1;
    store_relaxed(rec + qz_shm_rec_off_seq, odd);
    __atomic_thread_fence(__ATOMIC_RELEASE);
    memcpy(rec + qz_shm_rec_off_check, buf + qz_shm_rec_off_check, size - qz_shm_rec_off_check);
    store_release(rec + qz_shm_rec_off_seq, odd + 1);
}

void clear_record(qz_shm_publisher *p, uint32 i)
{
    uint8 zero[max_record_size] = {};
    write_record(p, i, zero);
}

void structure_begin(qz_shm_publisher *p)
{
    p->struct_seq = load_relaxed(p->base + qz_shm_hdr_off_seq) | 1;
    store_relaxed(p->base + qz_shm_hdr_off_seq, p->struct_seq);
    __atomic_thread_fence(__ATOMIC_RELEASE);
}

void structure_end(qz_shm_publisher *p)
{
    store_release(p->base + qz_shm_hdr_off_seq, p->struct_seq + 1);
}

uint8 *bucket(qz_shm_publisher *p, uint32 b)
{
    return p->base + qz_shm_index_off(p->hdr.kind, p->hdr.capacity) + size_t(b) * 4;
}

void index_insert(qz_shm_publisher *p, uint32 i)
{
    const qz_shm_kind kind = p->hdr.kind;
    const char *key = reinterpret_cast<const char *>(record(p, i) + qz_shm_key_off(kind));
    const uint32 mask = p->hdr.buckets - 1;
    uint32 b = qz_shm_key_hash(key, qz_shm_key_size(kind)) & mask;
    while (load_relaxed(bucket(p, b)) != 0) b = (b + 1) & mask;
    store_relaxed(bucket(p, b), i + 1);
}

// Inside a structure change: the index again from the dense records.
void rebuild_index(qz_shm_publisher *p)
{
    if (p->hdr.buckets == 0) return;
    for (uint32 b = 0; b < p->hdr.buckets; ++b) store_relaxed(bucket(p, b), 0);
    const uint32 n = count_of(p);
    for (uint32 i = 0; i < n; ++i) index_insert(p, i);
}

// The slot holding the record that `same_key` recognises, or -1.  The
// publisher reads its own records directly: nobody else writes them.
template <class Same> int64 find_slot(qz_shm_publisher *p, Same same_key)
{
    const uint32 n = count_of(p);
    for (uint32 i = 0; i < n; ++i)
        if (slot_used(p, i) && same_key(record(p, i))) return i;
    return -1;
}

int64 find_text_key(qz_shm_publisher *p, const char *key)
{
    const uint32 off = qz_shm_key_off(p->hdr.kind);
    const uint32 size = qz_shm_key_size(p->hdr.kind);
    if (p->hdr.buckets == 0) return -1;
    const uint32 mask = p->hdr.buckets - 1;
    uint32 b = qz_shm_key_hash(key, size) & mask;
    for (uint32 probe = 0; probe < p->hdr.buckets; ++probe, b = (b + 1) & mask) {
        const uint32 v = load_relaxed(bucket(p, b));
        if (v == 0) return -1;
        if (text_equals(record(p, v - 1), off, size, key)) return v - 1;
    }
    return -1;
}

// Adds `buf` in a new slot at the end, or rewrites slot `slot` in place.
int put_dense(qz_shm_publisher *p, int64 slot, uint8 *buf, const char *fn)
{
    if (slot >= 0) {
        write_record(p, uint32(slot), buf);
        return 0;
    }
    const uint32 n = count_of(p);
    if (n >= p->hdr.capacity) {
        lc_log_basic(LCL_ERR, "%s: table %s is full (%u records)", fn, p->name.c_str(),
                     p->hdr.capacity);
        return lc_err_no_space;
    }
    structure_begin(p);
    write_record(p, n, buf);
    store_release(p->base + qz_shm_hdr_off_count, n + 1);
    if (p->hdr.buckets) index_insert(p, n);
    structure_end(p);
    return 0;
}

// Removes slot `slot`, moving the last record into the hole.
int remove_dense(qz_shm_publisher *p, int64 slot)
{
    if (slot < 0) return lc_err_not_found;
    const uint32 last = count_of(p) - 1;
    structure_begin(p);
    if (uint32(slot) != last) {
        uint8 buf[max_record_size];
        memcpy(buf, record(p, last), p->hdr.record_size);
        write_record(p, uint32(slot), buf);
    }
    clear_record(p, last);
    store_release(p->base + qz_shm_hdr_off_count, last);
    rebuild_index(p);
    structure_end(p);
    return 0;
}

int require_kind(const qz_shm_publisher *p, qz_shm_kind kind, const char *fn)
{
    bail_null(p);
    if (p->hdr.kind != kind) {
        lc_log_basic(LCL_ERR, "%s: table %s holds kind %u, not %u", fn, p->name.c_str(),
                     uint32(p->hdr.kind), uint32(kind));
        return lc_err_bad_type;
    }
    return 0;
}

int key_ok(const char *key, uint32 size)
{
    bail_null(key);
    if (key[0] == '\0' || strnlen(key, size) >= size) return lc_err_bad_name;
    return 0;
}

// Maps `fd` read-write into `p` for a block of `size` bytes.
int map_block(qz_shm_publisher *p, int fd, uint32 size)
{
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        lc_log_basic(LCL_ERR, "%s: cannot map shared memory block %s: %s", "qz_shm_pub_open",
                     p->name.c_str(), strerror(errno));
        return lc_err_io_error;
    }
    p->base = static_cast<uint8 *>(map);
    p->block = cmem_block{p->name.c_str(), p->base, size, true};
    return 0;
}

// Builds a new block under a temporary name and links it into place.
// lc_err_exists (not logged) when another publisher got there first.
int create_block(qz_shm_publisher *p, qz_shm_kind kind, uint32 capacity)
{
    const uint32 size = qz_shm_block_size(kind, capacity);
    const std::string tmp = p->name + ".new." + std::to_string(getpid());
    // A leftover of an earlier process that had our pid is nobody's now.
    shm_unlink(tmp.c_str());
    const int fd = shm_open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        lc_log_basic(LCL_ERR, "%s: cannot create shared memory block %s: %s", "qz_shm_pub_open",
                     tmp.c_str(), strerror(errno));
        return lc_err_io_error;
    }
    lc_scope_guard drop_tmp([&] { shm_unlink(tmp.c_str()); });
    lc_scope_guard close_fd([&] { close(fd); });
    if (ftruncate(fd, off_t(size)) != 0) {
        lc_log_basic(LCL_ERR, "%s: cannot size shared memory block %s: %s", "qz_shm_pub_open",
                     tmp.c_str(), strerror(errno));
        return lc_err_io_error;
    }
    const int err = map_block(p, fd, size);
    if (err) return err;
    lc_byte_writer w(p->base, qz_shm_hdr_size);
    if (!w.skip(qz_shm_hdr_off_version) || !w.ne32(qz_shm_layout_version) ||
        !w.ne32(uint32(kind)) || !w.ne32(size) || !w.ne32(qz_shm_record_size(kind)) ||
        !w.ne32(capacity) || !w.ne32(0) || !w.ne32(qz_shm_index_buckets(kind, capacity)))
        return lc_err_assertion_failed;
    static_assert(qz_shm_hdr_off_buckets == 28);
    // The magic last: a block is a table only once everything else is set.
    store_release(p->base + qz_shm_hdr_off_magic, qz_shm_magic);
    p->hdr = header_info{kind, size, qz_shm_record_size(kind), capacity,
                         qz_shm_index_buckets(kind, capacity)};
    const std::string from = std::string(shm_dir) + tmp;
    const std::string to = std::string(shm_dir) + p->name;
    if (link(from.c_str(), to.c_str()) != 0) {
        const int e = errno;
        munmap(p->base, size);
        p->base = nullptr; // the block under the temporary name goes with it
        if (e == EEXIST) return lc_err_exists;
        lc_log_basic(LCL_ERR, "%s: cannot publish shared memory block %s: %s", "qz_shm_pub_open",
                     p->name.c_str(), strerror(e));
        return lc_err_io_error;
    }
    return 0;
}

// Takes over a published block of the right kind and capacity, emptied.
int reopen_block(qz_shm_publisher *p, qz_shm_kind kind, uint32 capacity)
{
    const char *fn = "qz_shm_pub_open";
    const int fd = shm_open(p->name.c_str(), O_RDWR, 0);
    if (fd < 0) {
        lc_log_basic(LCL_ERR, "%s: cannot open shared memory block %s: %s", fn, p->name.c_str(),
                     strerror(errno));
        return lc_err_io_error;
    }
    lc_scope_guard close_fd([&] { close(fd); });
    struct stat st {
    };
    if (fstat(fd, &st) != 0 || st.st_size < off_t(qz_shm_hdr_size) ||
        uint64(st.st_size) > UINT32_MAX) {
        lc_log_basic(LCL_ERR, "%s: shared memory block %s exists and is not a table", fn,
                     p->name.c_str());
        return lc_err_exists;
    }
    // Map only what fstat vouches for, then believe the header.
    int err = map_block(p, fd, uint32(st.st_size));
    if (err) return err;
    header_info h{};
    err = check_header(p->base, uint64(st.st_size), kind, fn, p->name.c_str(), false, &h);
    if (err == 0 && h.capacity < capacity) {
        lc_log_basic(LCL_ERR, "%s: shared memory block %s exists with %u records, %u asked", fn,
                     p->name.c_str(), h.capacity, capacity);
        err = lc_err_exists;
    }
    munmap(p->base, size_t(st.st_size));
    p->base = nullptr;
    if (err) return lc_err_exists;
    err = map_block(p, fd, h.block_size);
    if (err) return err;
    p->hdr = h;
    return qz_shm_pub_clear(p);
}

} // namespace

int qz_shm_pub_open(qz_shm_kind kind, const char *name, uint32 capacity, qz_shm_publisher **ret)
{
    bail_null(ret);
    *ret = nullptr;
    if (qz_shm_record_size(kind) == 0) {
        lc_log_basic(LCL_ERR, "%s: no table kind %u", __func__, uint32(kind));
        return lc_err_bad_type;
    }
    if (capacity == 0)
        capacity = kind == qz_shm_kind_rtlabel ? qz_max_route_labels : qz_shm_default_capacity;
    if ((kind == qz_shm_kind_rtlabel && capacity != qz_max_route_labels) ||
        capacity > qz_shm_max_capacity) {
        lc_log_basic(LCL_ERR, "%s: a table of kind %u cannot hold %u records", __func__,
                     uint32(kind), capacity);
        return lc_err_bad_type;
    }
    if (name == nullptr) name = standard_name(kind);
    char full[qz_shm_path_max];
    if (full_name(name, full) != 0) {
        lc_log_basic(LCL_ERR, "%s: bad shared memory block name %s", __func__, name);
        return lc_err_bad_name;
    }
    owned<qz_shm_publisher> p{new qz_shm_publisher{}};
    p->name = full;
    int err = create_block(p.get(), kind, capacity);
    if (err == lc_err_exists) err = reopen_block(p.get(), kind, capacity);
    if (err) return err;
    *ret = p.release();
    return 0;
}

int qz_shm_pub_close(qz_shm_publisher **pub)
{
    if (pub == nullptr || *pub == nullptr) return 0;
    if ((*pub)->base) munmap((*pub)->base, (*pub)->block.size);
    delete *pub;
    *pub = nullptr;
    return 0;
}

int qz_shm_pub_unlink(const char *name)
{
    char full[qz_shm_path_max];
    if (full_name(name, full) != 0) return lc_err_bad_name;
    if (shm_unlink(full) == 0) return 0;
    if (errno == ENOENT) return lc_err_file_not_found;
    lc_log_basic(LCL_ERR, "%s: cannot remove shared memory block %s: %s", __func__, full,
                 strerror(errno));
    return lc_err_io_error;
}

const cmem_block *qz_shm_pub_block(const qz_shm_publisher *pub)
{
    return pub ? &pub->block : nullptr;
}

uint32 qz_shm_pub_count(const qz_shm_publisher *pub)
{
    return pub ? load_relaxed(pub->base + qz_shm_hdr_off_count) : 0;
}

uint32 qz_shm_pub_capacity(const qz_shm_publisher *pub)
{
    return pub ? pub->hdr.capacity : 0;
}

int qz_shm_pub_clear(qz_shm_publisher *pub)
{
    bail_null(pub);
    structure_begin(pub);
    for (uint32 i = 0; i < pub->hdr.capacity; ++i)
        if (slot_used(pub, i) || (load_relaxed(record(pub, i) + qz_shm_rec_off_seq) & 1))
            clear_record(pub, i);
    store_release(pub->base + qz_shm_hdr_off_count, 0);
    rebuild_index(pub);
    structure_end(pub);
    return 0;
}

// ---------------------------------------------------------------------------
// Records

int qz_shm_pub_put_l3if(qz_shm_publisher *pub, const qz_l3if_info *info)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_l3if, __func__));
    bail_null(info);
    bail_error_quiet(key_ok(info->name, qz_ifname_size));
    constexpr uint32 n = qz_l3if_record_size;
    uint8 buf[n] = {};
    bail_require(put_u8(buf, n, qz_shm_rec_off_used, 1) &&
                 put_u8(buf, n, qz_l3if_off_kind, info->kind) &&
                 put_u8(buf, n, qz_l3if_off_ip_version, info->ip_version) &&
                 put_u8(buf, n, qz_l3if_off_incomplete, info->incomplete ? 1 : 0) &&
                 put_text(buf, n, qz_l3if_off_name, qz_ifname_size, info->name) &&
                 put_text(buf, n, qz_l3if_off_member0, qz_ifname_size, info->member_port[0]) &&
                 put_text(buf, n, qz_l3if_off_member1, qz_ifname_size, info->member_port[1]) &&
                 put_text(buf, n, qz_l3if_off_tunnel, qz_tunnel_name_size, info->tunnel_name) &&
                 put_text(buf, n, qz_l3if_off_label, qz_label_size, info->label) &&
                 put_addr(buf, n, qz_l3if_off_addr_family, qz_l3if_off_addr, info->address));
    return put_dense(pub, find_text_key(pub, info->name), buf, __func__);
}

int qz_shm_pub_put_iflabel(qz_shm_publisher *pub, const char *label, const char *text)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_iflabel, __func__));
    bail_error_quiet(key_ok(label, qz_label_size));
    constexpr uint32 n = qz_iflabel_record_size;
    uint8 buf[n] = {};
    bail_require(put_u8(buf, n, qz_shm_rec_off_used, 1) &&
                 put_text(buf, n, qz_iflabel_off_name, qz_label_size, label) &&
                 put_text(buf, n, qz_iflabel_off_text, qz_label_size, text ? text : ""));
    return put_dense(pub, find_text_key(pub, label), buf, __func__);
}

int qz_shm_pub_put_rtlabel(qz_shm_publisher *pub, uint32 id, const char *name, bool and_mode)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_rtlabel, __func__));
    bail_require(id < qz_max_route_labels);
    constexpr uint32 n = qz_rtlabel_record_size;
    uint8 buf[n] = {};
    bail_require(put_u8(buf, n, qz_shm_rec_off_used, 1) &&
                 put_u8(buf, n, qz_rtlabel_off_and_mode, and_mode ? 1 : 0) &&
                 put_text(buf, n, qz_rtlabel_off_name, qz_rtlabel_name_size, name ? name : ""));
    if (slot_used(pub, id)) {
        write_record(pub, id, buf);
        return 0;
    }
    structure_begin(pub);
    write_record(pub, id, buf);
    store_release(pub->base + qz_shm_hdr_off_count, count_of(pub) + 1);
    structure_end(pub);
    return 0;
}

int qz_shm_pub_put_tunnel(qz_shm_publisher *pub, const qz_tunbin *tunnel)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_tunnel, __func__));
    bail_null(tunnel);
    bail_error_quiet(key_ok(tunnel->name, qz_tunnel_name_size));
    constexpr uint32 n = qz_tunnel_record_size;
    uint8 buf[n] = {};
    bail_require(
        put_u8(buf, n, qz_shm_rec_off_used, 1) && put_u32(buf, n, qz_tunnel_off_id, tunnel->id) &&
        put_text(buf, n, qz_tunnel_off_name, qz_tunnel_name_size, tunnel->name) &&
        put_text(buf, n, qz_tunnel_off_alias, qz_tunnel_name_size, tunnel->alias) &&
        put_addr(buf, n, qz_tunnel_off_src_family, qz_tunnel_off_src_addr, tunnel->source_address));
    return put_dense(pub, find_text_key(pub, tunnel->name), buf, __func__);
}

int qz_shm_pub_put_alarm_hier(qz_shm_publisher *pub, const qz_alm_hier *hier)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_alarm_hier, __func__));
    bail_null(hier);
    bail_require(hier->num_levels <= qz_alm_max_levels);
    constexpr uint32 n = qz_almh_record_size;
    uint8 buf[n] = {};
    bool ok = put_u8(buf, n, qz_shm_rec_off_used, 1) &&
              put_u8(buf, n, qz_almh_off_num_levels, uint8(hier->num_levels)) &&
              put_u32(buf, n, qz_almh_off_alarm_id, hier->alarm_id);
    for (uint32 i = 0; ok && i < hier->num_levels; ++i) {
        const uint32 off = qz_almh_off_levels + i * qz_almh_level_size;
        ok =
            put_u8(buf, n, off + qz_almh_level_off_kind, hier->levels[i].kind) &&
            put_text(buf, n, off + qz_almh_level_off_tmpl, qz_almh_tmpl_size, hier->levels[i].tmpl);
    }
    bail_require(ok);
    const uint32 id = hier->alarm_id;
    return put_dense(pub,
                     find_slot(pub,
                               [id](const uint8 *rec) {
                                   uint32 v = 0;
                                   lc_byte_reader f;
                                   return lc_byte_reader(rec, n).at(qz_almh_off_alarm_id, 4, &f) &&
                                          f.ne32(&v) && v == id;
                               }),
                     buf, __func__);
}

int qz_shm_pub_remove_l3if(qz_shm_publisher *pub, const char *name)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_l3if, __func__));
    bail_null(name);
    return remove_dense(pub, find_text_key(pub, name));
}

int qz_shm_pub_remove_iflabel(qz_shm_publisher *pub, const char *label)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_iflabel, __func__));
    bail_null(label);
    return remove_dense(pub, find_text_key(pub, label));
}

int qz_shm_pub_remove_rtlabel(qz_shm_publisher *pub, uint32 id)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_rtlabel, __func__));
    if (id >= qz_max_route_labels || !slot_used(pub, id)) return lc_err_not_found;
    structure_begin(pub);
    clear_record(pub, id);
    store_release(pub->base + qz_shm_hdr_off_count, count_of(pub) - 1);
    structure_end(pub);
    return 0;
}

int qz_shm_pub_remove_tunnel(qz_shm_publisher *pub, const char *name)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_tunnel, __func__));
    bail_null(name);
    return remove_dense(pub, find_text_key(pub, name));
}

int qz_shm_pub_remove_alarm_hier(qz_shm_publisher *pub, uint32 alarm_id)
{
    bail_error_quiet(require_kind(pub, qz_shm_kind_alarm_hier, __func__));
    return remove_dense(
        pub, find_slot(pub, [alarm_id](const uint8 *rec) {
            uint32 v = 0;
            lc_byte_reader f;
            return lc_byte_reader(rec, qz_almh_record_size).at(qz_almh_off_alarm_id, 4, &f) &&
                   f.ne32(&v) && v == alarm_id;
        }));
}
