// Lookups in the appliance's shared tables (layouts in qz_shm_layout.h).
//
// Every lookup copies a record out under its seqlock and decodes the copy.
// A lookup by key goes through the block's index; a miss is believed only
// when the structure sequence did not move meanwhile, since a concurrent
// add or removal rebuilds the index.  A hit needs no such check: the record
// itself was read whole and carries the key.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "appliance/qz_shm_internal.h"
#include "log/logging.h"

using namespace qz_shm_detail;

static_assert(qz_ifname_size == 16 && qz_label_size == 16 && qz_rtlabel_name_size == 16);
static_assert(qz_tunnel_name_size == 64 && qz_alm_max_levels == qz_almh_max_levels);
static_assert(qz_alm_hier_str_size == qz_almh_tmpl_size);

namespace
{

void decode_addr(const uint8 *rec, uint32 size, uint32 family_off, uint32 addr_off, lc_ipaddr *ret)
{
    *ret = lc_ipaddr{};
    lc_byte_reader r(rec, size);
    lc_byte_reader f, a;
    if (r.at(family_off, 1, &f) && r.at(addr_off, 16, &a) && f.u8(&ret->family) &&
        a.bytes(ret->addr, 16))
        return;
    *ret = lc_ipaddr{};
}

uint8 byte_at(const uint8 *rec, uint32 size, uint32 off)
{
    lc_byte_reader r(rec, size);
    lc_byte_reader b;
    uint8 v = 0;
    if (r.at(off, 1, &b) && b.u8(&v)) return v;
    return 0;
}

uint32 u32_at(const uint8 *rec, uint32 size, uint32 off)
{
    lc_byte_reader r(rec, size);
    lc_byte_reader b;
    uint32 v = 0;
    if (r.at(off, 4, &b) && b.ne32(&v)) return v;
    return 0;
}

void decode_l3if(const uint8 *rec, qz_l3if_info *ret)
{
    const uint32 n = qz_l3if_record_size;
    *ret = qz_l3if_info{};
    ret->kind = byte_at(rec, n, qz_l3if_off_kind);
    ret->ip_version = byte_at(rec, n, qz_l3if_off_ip_version);
    ret->incomplete = byte_at(rec, n, qz_l3if_off_incomplete) != 0;
    copy_text(rec, n, qz_l3if_off_name, qz_ifname_size, ret->name);
    copy_text(rec, n, qz_l3if_off_member0, qz_ifname_size, ret->member_port[0]);
    copy_text(rec, n, qz_l3if_off_member1, qz_ifname_size, ret->member_port[1]);
    copy_text(rec, n, qz_l3if_off_tunnel, qz_tunnel_name_size, ret->tunnel_name);
    copy_text(rec, n, qz_l3if_off_label, qz_label_size, ret->label);
    decode_addr(rec, n, qz_l3if_off_addr_family, qz_l3if_off_addr, &ret->address);
}

void decode_tunnel(const uint8 *rec, qz_tunbin *ret)
{
    const uint32 n = qz_tunnel_record_size;
    *ret = qz_tunbin{};
    copy_text(rec, n, qz_tunnel_off_name, qz_tunnel_name_size, ret->name);
    copy_text(rec, n, qz_tunnel_off_alias, qz_tunnel_name_size, ret->alias);
    ret->id = u32_at(rec, n, qz_tunnel_off_id);
    decode_addr(rec, n, qz_tunnel_off_src_family, qz_tunnel_off_src_addr, &ret->source_address);
}

void decode_alarm_hier(const uint8 *rec, qz_alm_hier *ret)
{
    const uint32 n = qz_almh_record_size;
    *ret = qz_alm_hier{};
    ret->alarm_id = u32_at(rec, n, qz_almh_off_alarm_id);
    const uint32 levels = byte_at(rec, n, qz_almh_off_num_levels);
    ret->num_levels = levels < qz_alm_max_levels ? levels : qz_alm_max_levels;
    for (uint32 i = 0; i < ret->num_levels; ++i) {
        const uint32 off = qz_almh_off_levels + i * qz_almh_level_size;
        ret->levels[i].kind = byte_at(rec, n, off + qz_almh_level_off_kind);
        copy_text(rec, n, off + qz_almh_level_off_tmpl, qz_almh_tmpl_size, ret->levels[i].tmpl);
    }
}

int restructured_too_often(const table_view &t, const char *fn)
{
    lc_log_basic(LCL_ERR, "%s: table %s kept changing under the lookup; gave up", fn, t.name);
    return lc_err_io_would_block;
}

// Finds the record whose key text is `key` through the index; `*found`
// false when there is none.  The record is left in `buf`.
int find_by_key(const table_view &t, const char *key, uint8 *buf, const char *fn, bool *found)
{
    *found = false;
    const uint32 key_off = qz_shm_key_off(t.hdr.kind);
    const uint32 key_size = qz_shm_key_size(t.hdr.kind);
    if (strnlen(key, key_size) >= key_size) return 0; // longer than any stored key
    const uint32 mask = t.hdr.buckets - 1;
    const uint32 home = qz_shm_key_hash(key, key_size) & mask;
    for (uint32 attempt = 0; attempt < read_attempts; backoff(attempt++)) {
        uint32 seq = 0;
        const int err = begin_structure_read(t, fn, &seq);
        if (err) return err;
        for (uint32 probe = 0; probe < t.hdr.buckets; ++probe) {
            const uint32 v = load_relaxed(t.bucket((home + probe) & mask));
            if (v == 0 || v > t.hdr.capacity) break;
            const int rerr = read_record(t, v - 1, buf, fn);
            if (rerr) return rerr;
            if (record_used(buf) && text_equals(buf, key_off, key_size, key)) {
                *found = true;
                return 0;
            }
        }
        if (structure_unchanged(t, seq)) return 0;
    }
    return restructured_too_often(t, fn);
}

// Finds the first record in table order for which `match(buf)` holds.
template <class Match>
int find_first(const table_view &t, uint8 *buf, const char *fn, bool *found, Match match)
{
    *found = false;
    for (uint32 attempt = 0; attempt < read_attempts; backoff(attempt++)) {
        uint32 seq = 0;
        const int err = begin_structure_read(t, fn, &seq);
        if (err) return err;
        const uint32 n = t.hdr.kind == qz_shm_kind_rtlabel ? t.hdr.capacity : t.count();
        for (uint32 i = 0; i < n; ++i) {
            const int rerr = read_record(t, i, buf, fn);
            if (rerr) return rerr;
            if (record_used(buf) && match(buf)) {
                *found = true;
                return 0;
            }
        }
        if (structure_unchanged(t, seq)) return 0;
    }
    return restructured_too_often(t, fn);
}

// Calls `visit(buf)` for each record in use, in table order, until it
// returns non-zero.
template <class Visit> int walk(const table_view &t, const char *fn, Visit visit)
{
    uint8 buf[max_record_size];
    const uint32 n = t.hdr.kind == qz_shm_kind_rtlabel ? t.hdr.capacity : t.count();
    for (uint32 i = 0; i < n; ++i) {
        const int err = read_record(t, i, buf, fn);
        if (err) return err;
        if (!record_used(buf)) continue;
        const int r = visit(buf);
        if (r) return r;
    }
    return 0;
}

const cmem_block *tunnel_table(const char *fn, int *err)
{
    cmem_block *b = nullptr;
    *err = attach(QZ_SHM_TUNNEL, false, true, fn, &b);
    return b;
}

} // namespace

// ---------------------------------------------------------------------------
// Interfaces

int qz_l3if_get_by_name(const cmem_block *table, const char *name, qz_l3if_info *ret)
{
    bail_null(ret);
    *ret = qz_l3if_info{};
    bail_null(name);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_l3if, __func__, &t));
    uint8 buf[max_record_size];
    bool found = false;
    const int err = find_by_key(t, name, buf, __func__, &found);
    if (err) return err;
    if (!found) return lc_err_not_found;
    decode_l3if(buf, ret);
    return 0;
}

int qz_l3if_get_bridge_of_member(const cmem_block *table, const char *port, qz_l3if_info *ret)
{
    bail_null(ret);
    *ret = qz_l3if_info{};
    bail_null(port);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_l3if, __func__, &t));
    if (port[0] == '\0') return lc_err_not_found;
    uint8 buf[max_record_size];
    bool found = false;
    const int err = find_first(t, buf, __func__, &found, [port](const uint8 *rec) {
        const uint8 kind = byte_at(rec, qz_l3if_record_size, qz_l3if_off_kind);
        if (kind != qz_l3if_kind_bridge && kind != qz_l3if_kind_bridge_alt) return false;
        return text_equals(rec, qz_l3if_off_member0, qz_ifname_size, port) ||
               text_equals(rec, qz_l3if_off_member1, qz_ifname_size, port);
    });
    if (err) return err;
    if (!found) return lc_err_not_found;
    decode_l3if(buf, ret);
    return 0;
}

int qz_l3if_get_by_addr(const cmem_block *table, const lc_ipaddr *addr, qz_l3if_info *ret)
{
    bail_null(ret);
    *ret = qz_l3if_info{};
    bail_null(addr);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_l3if, __func__, &t));
    if (addr->family == lc_ipf_none) return lc_err_not_found;
    uint8 buf[max_record_size];
    bool found = false;
    const int err = find_first(t, buf, __func__, &found, [addr](const uint8 *rec) {
        lc_ipaddr a;
        decode_addr(rec, qz_l3if_record_size, qz_l3if_off_addr_family, qz_l3if_off_addr, &a);
        return lc_ipaddr_cmp(&a, addr) == 0;
    });
    if (err) return err;
    if (!found) return lc_err_not_found;
    decode_l3if(buf, ret);
    return 0;
}

int qz_l3if_foreach_with_label(const cmem_block *table, const char *label, qz_l3if_visit_fn fn,
                               void *data)
{
    bail_null(label);
    bail_null(fn);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_l3if, __func__, &t));
    return walk(t, __func__, [&](const uint8 *rec) {
        if (!text_equals(rec, qz_l3if_off_label, qz_label_size, label)) return 0;
        qz_l3if_info info;
        decode_l3if(rec, &info);
        return fn(&info, data);
    });
}

int qz_l3if_foreach(const cmem_block *table, qz_l3if_visit_fn fn, void *data)
{
    bail_null(fn);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_l3if, __func__, &t));
    return walk(t, __func__, [&](const uint8 *rec) {
        qz_l3if_info info;
        decode_l3if(rec, &info);
        return fn(&info, data);
    });
}

// ---------------------------------------------------------------------------
// Interface labels and route labels

int qz_iflabel_get_text(const cmem_block *table, const char *label, char *ret)
{
    bail_null(ret);
    ret[0] = '\0';
    bail_null(label);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_iflabel, __func__, &t));
    uint8 buf[max_record_size];
    bool found = false;
    const int err = find_by_key(t, label, buf, __func__, &found);
    if (err) return err;
    if (!found) return lc_err_not_found;
    copy_text(buf, qz_iflabel_record_size, qz_iflabel_off_text, qz_label_size, ret);
    return 0;
}

int qz_iflabel_foreach(const cmem_block *table, qz_iflabel_visit_fn fn, void *data)
{
    bail_null(fn);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_iflabel, __func__, &t));
    return walk(t, __func__, [&](const uint8 *rec) {
        char label[qz_label_size], text[qz_label_size];
        copy_text(rec, qz_iflabel_record_size, qz_iflabel_off_name, qz_label_size, label);
        copy_text(rec, qz_iflabel_record_size, qz_iflabel_off_text, qz_label_size, text);
        return fn(label, text, data);
    });
}

int qz_rtlabel_get(const cmem_block *table, uint32 id, char *ret_name, bool *ret_and_mode)
{
    bail_null(ret_name);
    bail_null(ret_and_mode);
    ret_name[0] = '\0';
    *ret_and_mode = false;
    bail_require(id < get_max_route_labels());
    table_view t;
    bail_error(view_of(table, qz_shm_kind_rtlabel, __func__, &t));
    if (id >= t.hdr.capacity) return lc_err_not_found;
    uint8 buf[max_record_size];
    const int err = read_record(t, id, buf, __func__);
    if (err) return err;
    if (!record_used(buf)) return lc_err_not_found;
    copy_text(buf, qz_rtlabel_record_size, qz_rtlabel_off_name, qz_rtlabel_name_size, ret_name);
    *ret_and_mode = byte_at(buf, qz_rtlabel_record_size, qz_rtlabel_off_and_mode) != 0;
    return 0;
}

uint32 get_max_route_labels()
{
    return qz_max_route_labels;
}

// ---------------------------------------------------------------------------
// Tunnels

int qz_tunbin_get_by_name_or_alias(const cmem_block *table, const char *name_or_alias,
                                   qz_tunbin *ret)
{
    bail_null(ret);
    *ret = qz_tunbin{};
    bail_null(name_or_alias);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_tunnel, __func__, &t));
    if (name_or_alias[0] == '\0') return lc_err_not_found;
    uint8 buf[max_record_size];
    bool found = false;
    int err = find_by_key(t, name_or_alias, buf, __func__, &found);
    if (err) return err;
    if (!found) {
        err = find_first(t, buf, __func__, &found, [name_or_alias](const uint8 *rec) {
            return text_equals(rec, qz_tunnel_off_alias, qz_tunnel_name_size, name_or_alias);
        });
        if (err) return err;
    }
    if (!found) return lc_err_not_found;
    decode_tunnel(buf, ret);
    return 0;
}

int qz_tunbin_foreach(const cmem_block *table, qz_tunbin_visit_fn fn, void *data)
{
    bail_null(fn);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_tunnel, __func__, &t));
    return walk(t, __func__, [&](const uint8 *rec) {
        qz_tunbin tun;
        decode_tunnel(rec, &tun);
        return fn(&tun, data);
    });
}

int mgbin_get_tunbin_by_name_or_alias(const char *name_or_alias, qz_tunbin *ret)
{
    bail_null(ret);
    *ret = qz_tunbin{};
    int err = 0;
    const cmem_block *table = tunnel_table(__func__, &err);
    if (err) return err;
    return qz_tunbin_get_by_name_or_alias(table, name_or_alias, ret);
}

// ---------------------------------------------------------------------------
// Alarm hierarchy

int qz_alm_hier_get(const cmem_block *table, uint32 alarm_id, qz_alm_hier *ret)
{
    bail_null(ret);
    *ret = qz_alm_hier{};
    table_view t;
    bail_error(view_of(table, qz_shm_kind_alarm_hier, __func__, &t));
    uint8 buf[max_record_size];
    bool found = false;
    const int err = find_first(t, buf, __func__, &found, [alarm_id](const uint8 *rec) {
        return u32_at(rec, qz_almh_record_size, qz_almh_off_alarm_id) == alarm_id;
    });
    if (err) return err;
    if (!found) return lc_err_not_found;
    decode_alarm_hier(buf, ret);
    return 0;
}

int qz_alm_hier_foreach(const cmem_block *table, qz_alm_hier_visit_fn fn, void *data)
{
    bail_null(fn);
    table_view t;
    bail_error(view_of(table, qz_shm_kind_alarm_hier, __func__, &t));
    return walk(t, __func__, [&](const uint8 *rec) {
        qz_alm_hier h;
        decode_alarm_hier(rec, &h);
        return fn(&h, data);
    });
}

int qz_alm_get_hier_for_alm(uint32 alarm_id, qz_alm_hier *ret)
{
    bail_null(ret);
    *ret = qz_alm_hier{};
    cmem_block *table = nullptr;
    const int err = attach(QZ_SHM_ALARM_HIER, false, true, __func__, &table);
    if (err) return err;
    return qz_alm_hier_get(table, alarm_id, ret);
}

int qz_alm_get_hier_str(const qz_alm_hier *hier, uint32 level, uint32 alarm_id, uint32 tunnel_id,
                        const char *entity, const char *port, char *ret, uint32 size)
{
    bail_null(ret);
    bail_require(size > 0);
    ret[0] = '\0';
    bail_null(hier);
    if (level >= hier->num_levels || level >= qz_alm_max_levels) return lc_err_assertion_failed;
    char alarm_text[16], tunnel_text[16];
    snprintf(alarm_text, sizeof alarm_text, "%u", alarm_id);
    snprintf(tunnel_text, sizeof tunnel_text, "%u", tunnel_id);
    const struct {
        const char *name;
        const char *value;
    } places[] = {
        {"{alarm}", alarm_text},
        {"{tunnel}", tunnel_text},
        {"{entity}", entity ? entity : ""},
        {"{port}", port ? port : ""},
    };
    const char *tmpl = hier->levels[level].tmpl;
    const size_t tmpl_len = strnlen(tmpl, qz_alm_hier_str_size);
    uint32 out = 0;
    auto put = [&](const char *s, size_t n) {
        if (n >= size - out) return false;
        memcpy(ret + out, s, n);
        out += uint32(n);
        return true;
    };
    for (size_t i = 0; i < tmpl_len;) {
        if (tmpl[i] != '{') {
            const char *brace = static_cast<const char *>(memchr(tmpl + i, '{', tmpl_len - i));
            const size_t n = brace ? size_t(brace - (tmpl + i)) : tmpl_len - i;
            if (!put(tmpl + i, n)) {
                ret[0] = '\0';
                return lc_err_no_buffer_space;
            }
            i += n;
            continue;
        }
        if (i + 1 < tmpl_len && tmpl[i + 1] == '{') {
            if (!put("{", 1)) {
                ret[0] = '\0';
                return lc_err_no_buffer_space;
            }
            i += 2;
            continue;
        }
        bool known = false;
        for (const auto &p : places) {
            const size_t n = strlen(p.name);
            if (tmpl_len - i < n || memcmp(tmpl + i, p.name, n) != 0) continue;
            if (!put(p.value, strlen(p.value))) {
                ret[0] = '\0';
                return lc_err_no_buffer_space;
            }
            i += n;
            known = true;
            break;
        }
        if (!known) {
            ret[0] = '\0';
            return lc_err_parse_error;
        }
    }
    ret[out] = '\0';
    return 0;
}

// ---------------------------------------------------------------------------
// Pid files and addresses

int lc_get_process_id(const char *process_name, const char *pid_file, uint32 *ret_pid)
{
    bail_null(ret_pid);
    *ret_pid = 0;
    bail_null(process_name);
    bail_null(pid_file);
    FILE *f = fopen(pid_file, "re");
    if (f == nullptr) {
        lc_log_basic(LCL_WARNING, "%s: cannot read pid file %s of %s: %s", __func__, pid_file,
                     process_name, strerror(errno));
        return lc_err_file_not_found;
    }
    char line[32];
    const bool got = fgets(line, sizeof line, f) != nullptr;
    const bool read_error = ferror(f) != 0;
    fclose(f);
    if (read_error) {
        lc_log_basic(LCL_WARNING, "%s: cannot read pid file %s of %s", __func__, pid_file,
                     process_name);
        return lc_err_file_not_found;
    }
    // Digits, then only white space up to the end of the line.
    char *end = nullptr;
    errno = 0;
    const unsigned long v = got && line[0] >= '0' && line[0] <= '9' ? strtoul(line, &end, 10) : 0;
    bool ok = v > 0 && v <= 0x7fffffffUL && errno == 0;
    if (ok)
        for (const char *p = end; *p; ++p)
            if (*p != '\n' && *p != ' ' && *p != '\t' && *p != '\r') ok = false;
    if (!ok) {
        lc_log_basic(LCL_WARNING, "%s: pid file %s of %s holds no process id", __func__, pid_file,
                     process_name);
        return lc_err_parse_error;
    }
    *ret_pid = uint32(v);
    return 0;
}

int lc_str_to_ipaddr_quiet(const char *text, lc_ipaddr *ret)
{
    if (ret == nullptr || text == nullptr) {
        if (ret) *ret = lc_ipaddr{};
        return lc_err_bad_type;
    }
    return lc_ipaddr_from_str(text, ret);
}

int get_addr_str(const lc_ipaddr *addr, char *ret, uint32 size)
{
    bail_null(ret);
    bail_require(size > 0);
    ret[0] = '\0';
    bail_null(addr);
    return lc_ipaddr_to_buf(addr, ret, size);
}
