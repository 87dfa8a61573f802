// Attaching named shared-memory blocks and the reader's seqlock primitives.
//
// A reader never touches a byte of a block before it knows the block is
// that long: it maps the size fstat reports, checks the header within it,
// and from then on reads only below the header's block size.  The attached
// blocks stay mapped until cmem_detach_all; a second attach of the same
// name and mode returns the same handle.
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_internal.h"
#include "log/logging.h"

namespace
{

std::mutex g_mu;
char g_prefix[qz_shm_path_max / 2] = "";

struct attached_block {
    std::string name;
    cmem_block block{};
    void *map = nullptr;
    size_t map_len = 0;
};
std::vector<std::unique_ptr<attached_block>> g_blocks;
// Names whose attach failure was logged and has not succeeded since.
std::set<std::string> g_failure_logged;

// Closes a descriptor on every path.
struct fd_closer {
    int fd;
    ~fd_closer()
    {
        if (fd >= 0) close(fd);
    }
};

} // namespace

namespace qz_shm_detail
{

int full_name(const char *name, char *ret)
{
    ret[0] = '\0';
    if (name == nullptr || name[0] == '\0' || strchr(name, '/')) return lc_err_bad_name;
    std::lock_guard<std::mutex> g(g_mu);
    const int n = snprintf(ret, qz_shm_path_max - sizeof shm_dir, "%s%s", g_prefix, name);
    if (n < 0 || size_t(n) >= qz_shm_path_max - sizeof shm_dir) {
        ret[0] = '\0';
        return lc_err_bad_name;
    }
    return 0;
}

qz_shm_kind kind_of_name(const char *name)
{
    static const struct {
        const char *name;
        qz_shm_kind kind;
    } names[] = {
        {QZ_SHM_L3IF, qz_shm_kind_l3if},
        {QZ_SHM_IFLABEL, qz_shm_kind_iflabel},
        {QZ_SHM_RTLABEL, qz_shm_kind_rtlabel},
        {QZ_SHM_TUNNEL, qz_shm_kind_tunnel},
        {QZ_SHM_ALARM_HIER, qz_shm_kind_alarm_hier},
    };
    for (const auto &n : names)
        if (strcmp(n.name, name) == 0) return n.kind;
    return qz_shm_kind_none;
}

void backoff(uint32 attempt)
{
    if (attempt < spin_attempts) {
        __builtin_ia32_pause();
    } else {
        sched_yield();
    }
}

int check_header(const uint8 *base, uint64 file_size, qz_shm_kind expected, const char *fn,
                 const char *name, bool quiet, header_info *ret)
{
    *ret = header_info{};
    if (file_size < qz_shm_hdr_size) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s is short: %llu bytes, no header", fn,
                         name, (unsigned long long)file_size);
        return lc_err_bad_file;
    }
    lc_byte_reader r(base, qz_shm_hdr_size);
    uint32 magic = 0, version = 0, kind = 0;
    header_info h{};
    if (!r.ne32(&magic) || !r.ne32(&version) || !r.ne32(&kind) || !r.ne32(&h.block_size) ||
        !r.ne32(&h.record_size) || !r.ne32(&h.capacity) || !r.skip(4) || !r.ne32(&h.buckets))
        return lc_err_bad_file; // cannot happen: the header is present
    static_assert(qz_shm_hdr_off_buckets == 28 && qz_shm_hdr_off_record_size == 16);
    if (magic != qz_shm_magic) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s is not a table (magic 0x%08x)", fn,
                         name, magic);
        return lc_err_bad_file;
    }
    if (version != qz_shm_layout_version) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s has layout version %u, not %u", fn,
                         name, version, qz_shm_layout_version);
        return lc_err_bad_file;
    }
    h.kind = qz_shm_kind(kind);
    if (qz_shm_record_size(h.kind) == 0 || (expected != qz_shm_kind_none && h.kind != expected)) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s holds a table of kind %u, not %u", fn,
                         name, kind, uint32(expected));
        return lc_err_bad_file;
    }
    if (h.record_size != qz_shm_record_size(h.kind) || h.capacity == 0 ||
        h.capacity > qz_shm_max_capacity || h.buckets != qz_shm_index_buckets(h.kind, h.capacity) ||
        h.block_size != qz_shm_block_size(h.kind, h.capacity)) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s has an inconsistent header", fn,
                         name);
        return lc_err_bad_file;
    }
    if (file_size < h.block_size) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s is short: %llu bytes, header says %u",
                         fn, name, (unsigned long long)file_size, h.block_size);
        return lc_err_bad_file;
    }
    *ret = h;
    return 0;
}

uint32 table_view::count() const
{
    const uint32 n = load_acquire(base + qz_shm_hdr_off_count);
    return n < hdr.capacity ? n : hdr.capacity;
}

int view_of(const cmem_block *table, qz_shm_kind kind, const char *fn, table_view *ret)
{
    *ret = table_view{};
    bail_null(table);
    bail_null(table->base);
    // The whole header was checked when the block was attached or created
    // and its fixed part never changes: only the kind is left to match.
    lc_byte_reader r(table->base, table->size);
    lc_byte_reader at;
    uint32 k = 0;
    header_info h{};
    if (!r.at(qz_shm_hdr_off_kind, 4, &at) || !at.ne32(&k) ||
        !r.at(qz_shm_hdr_off_block_size, 4 * 4, &at) || !at.ne32(&h.block_size) ||
        !at.ne32(&h.record_size) || !at.ne32(&h.capacity) || !at.skip(4) ||
        !r.at(qz_shm_hdr_off_buckets, 4, &at) || !at.ne32(&h.buckets))
        return lc_err_bad_type;
    static_assert(qz_shm_hdr_off_record_size == qz_shm_hdr_off_block_size + 4 &&
                  qz_shm_hdr_off_capacity == qz_shm_hdr_off_block_size + 8);
    h.kind = qz_shm_kind(k);
    if (h.kind != kind) {
        lc_log_basic(LCL_ERR, "%s: shared memory block %s holds a table of kind %u, not %u", fn,
                     table->name, k, uint32(kind));
        return lc_err_bad_type;
    }
    *ret = table_view{table->base, table->name, h};
    return 0;
}

int read_record(const table_view &t, uint32 i, uint8 *buf, const char *fn)
{
    const uint8 *rec = t.record(i);
    const uint32 size = t.hdr.record_size;
    uint32 bad_reads = 0;
    for (uint32 attempt = 0; attempt < read_attempts; backoff(attempt++)) {
        const uint32 s1 = load_acquire(rec + qz_shm_rec_off_seq);
        if (s1 & 1) continue;
        // Copy first, decode later: a copy that raced a write is thrown away
        // before any field of it is believed.
        memcpy(buf, rec, size);
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        if (load_relaxed(rec + qz_shm_rec_off_seq) != s1) continue;
        if (!record_used(buf)) return 0;
        uint32 check = 0;
        lc_byte_reader r(buf, size);
        lc_byte_reader at;
        if (!r.at(qz_shm_rec_off_check, 4, &at) || !at.ne32(&check)) return lc_err_bad_file;
        if (check == qz_shm_record_check(buf, size)) return 0;
        if (++bad_reads >= bad_check_reads) {
            lc_log_basic(LCL_ERR, "%s: record %u of %s fails its check", fn, i, t.name);
            return lc_err_bad_file;
        }
    }
    lc_log_basic(LCL_ERR, "%s: record %u of %s stayed under rewrite; gave up", fn, i, t.name);
    return lc_err_io_would_block;
}

int begin_structure_read(const table_view &t, const char *fn, uint32 *ret_seq)
{
    for (uint32 attempt = 0; attempt < read_attempts; backoff(attempt++)) {
        const uint32 s = load_acquire(t.base + qz_shm_hdr_off_seq);
        if ((s & 1) == 0) {
            *ret_seq = s;
            return 0;
        }
    }
    lc_log_basic(LCL_ERR, "%s: table %s stayed under rewrite; gave up", fn, t.name);
    return lc_err_io_would_block;
}

bool structure_unchanged(const table_view &t, uint32 seq)
{
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    return load_relaxed(t.base + qz_shm_hdr_off_seq) == seq;
}

bool text_equals(const uint8 *rec, uint32 off, uint32 size, const char *key)
{
    return strncmp(reinterpret_cast<const char *>(rec + off), key, size) == 0 &&
           strnlen(key, size) < size;
}

void copy_text(const uint8 *rec, uint32 rec_size, uint32 off, uint32 size, char *dst)
{
    lc_byte_reader r(rec, rec_size);
    lc_byte_reader field;
    if (!r.at(off, size, &field) || !field.bytes(dst, size)) {
        dst[0] = '\0';
        return;
    }
    dst[size - 1] = '\0';
}

int attach(const char *name, bool writable, bool quiet_repeats, const char *fn, cmem_block **ret)
{
    *ret = nullptr;
    bail_null(name);
    char full[qz_shm_path_max];
    if (full_name(name, full) != 0) {
        lc_log_basic(LCL_ERR, "%s: bad shared memory block name %s", fn, name);
        return lc_err_bad_name;
    }
    std::lock_guard<std::mutex> g(g_mu);
    for (auto &b : g_blocks)
        if (b->name == full && b->block.writable == writable) {
            *ret = &b->block;
            return 0;
        }
    const bool quiet = quiet_repeats && g_failure_logged.count(full) != 0;
    auto failed = [&](int err) {
        g_failure_logged.insert(full);
        return err;
    };

    fd_closer fd{shm_open(full, writable ? O_RDWR : O_RDONLY, 0)};
    if (fd.fd < 0) {
        const int e = errno;
        if (!quiet) {
            if (e == ENOENT)
                lc_log_basic(LCL_ERR, "%s: shared memory block %s is not published", fn, full);
            else
                lc_log_basic(LCL_ERR, "%s: cannot open shared memory block %s: %s", fn, full,
                             strerror(e));
        }
        return failed(lc_err_file_not_found);
    }
    struct stat st {
    };
    if (fstat(fd.fd, &st) != 0) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: cannot size shared memory block %s: %s", fn, full,
                         strerror(errno));
        return failed(lc_err_file_not_found);
    }
    const uint64 file_size = uint64(st.st_size);
    const bool cloudpath = strcmp(name, QZ_SHM_CLOUDPATH) == 0;
    if (cloudpath && file_size < ipsla_block_size) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: shared memory block %s is short: %llu bytes, %u needed", fn,
                         full, (unsigned long long)file_size, ipsla_block_size);
        return failed(lc_err_bad_file);
    }
    if (!cloudpath && file_size < qz_shm_hdr_size) {
        // Refused before anything is mapped; the header check says why.
        header_info h{};
        return failed(check_header(nullptr, file_size, kind_of_name(name), fn, full, quiet, &h));
    }
    const size_t map_len = cloudpath ? ipsla_block_size : size_t(file_size);
    void *map =
        mmap(nullptr, map_len, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd.fd, 0);
    if (map == MAP_FAILED) {
        if (!quiet)
            lc_log_basic(LCL_ERR, "%s: cannot map shared memory block %s: %s", fn, full,
                         strerror(errno));
        return failed(lc_err_file_not_found);
    }
    auto b = std::make_unique<attached_block>();
    b->name = full;
    b->map = map;
    b->map_len = map_len;
    uint32 size = uint32(map_len);
    if (!cloudpath) {
        header_info h{};
        const int err = check_header(static_cast<const uint8 *>(map), file_size, kind_of_name(name),
                                     fn, full, quiet, &h);
        if (err) {
            munmap(map, map_len);
            return failed(err);
        }
        size = h.block_size;
    }
    b->block = cmem_block{b->name.c_str(), static_cast<uint8 *>(map), size, writable};
    g_failure_logged.erase(full);
    *ret = &b->block;
    g_blocks.push_back(std::move(b));
    return 0;
}

} // namespace qz_shm_detail

uint32 qz_shm_record_check(const uint8 *record, uint32 size)
{
    // Four independent lanes keep the multiplies from waiting on each other.
    constexpr uint64 k = 0xff51afd7ed558ccdull;
    auto mix = [](uint64 h, uint64 w) {
        h = (h ^ w) * k;
        return h ^ (h >> 32);
    };
    auto word = [record](uint32 off) {
        return lc_bytes::load<lc_bytes::order::native, uint64>(record + off);
    };
    uint64 h0 = 0x9e3779b97f4a7c15ull ^ size, h1 = 0xc2b2ae3d27d4eb4full;
    uint64 h2 = 0x165667b19e3779f9ull, h3 = 0x27d4eb2f165667c5ull;
    uint32 off = qz_shm_rec_checked_from;
    for (; off + 32 <= size; off += 32) {
        h0 = mix(h0, word(off));
        h1 = mix(h1, word(off + 8));
        h2 = mix(h2, word(off + 16));
        h3 = mix(h3, word(off + 24));
    }
    for (; off + 8 <= size; off += 8) h0 = mix(h0, word(off));
    const uint64 h = mix(h0 ^ std::rotl(h1, 17) ^ std::rotl(h2, 31) ^ std::rotl(h3, 47), size);
    return uint32(h ^ (h >> 29));
}

int cmem_attach_block_read_only(const char *name, const cmem_block **ret)
{
    bail_null(ret);
    *ret = nullptr;
    cmem_block *b = nullptr;
    const int err = qz_shm_detail::attach(name, false, false, __func__, &b);
    if (err) return err;
    *ret = b;
    return 0;
}

int cmem_attach_block_read_write(const char *name, cmem_block **ret)
{
    bail_null(ret);
    return qz_shm_detail::attach(name, true, false, __func__, ret);
}

void cmem_detach_all()
{
    std::lock_guard<std::mutex> g(g_mu);
    for (auto &b : g_blocks) munmap(b->map, b->map_len);
    g_blocks.clear();
    g_failure_logged.clear();
}

void cmem_set_name_prefix_for_tests(const char *prefix)
{
    std::lock_guard<std::mutex> g(g_mu);
    snprintf(g_prefix, sizeof g_prefix, "%s", prefix ? prefix : "");
}
