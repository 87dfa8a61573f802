// Pieces shared by the shared-table reader, the publisher and the cloud path
// table: block names, header checks, the seqlock primitives and the record
// copy.  Not for use outside lib/appliance.
#pragma once

#include <sys/types.h>

#include "appliance/qz_shm_layout.h"
#include "appliance/qz_shm_tables.h"
#include "util/byte_cursor.h"

namespace qz_shm_detail
{

// Directory in which POSIX shared memory lives, for link/unlink.
constexpr const char shm_dir[] = "/dev/shm/";

// Attempts at a record or the header before a reader gives up: the first
// few spin, the rest yield the CPU, so that a publisher preempted inside a
// write gets to finish it even on a loaded machine.
constexpr uint32 read_attempts = 1000000;
constexpr uint32 spin_attempts = 64;
// Stable reads that fail the check word before the record is called bad.
constexpr uint32 bad_check_reads = 3;
// Largest record of any kind (the copy buffer of a reader).
constexpr uint32 max_record_size = qz_almh_record_size;

// `prefix` + `name` into `ret` (qz_shm_path_max bytes).  lc_err_bad_name for
// a name that is empty, holds '/' or does not fit.
[[nodiscard]] int full_name(const char *name, char *ret);
// The kind that the standard name `name` holds (the name without the test
// prefix); qz_shm_kind_none for another name.
qz_shm_kind kind_of_name(const char *name);

// Sequence words are loaded and stored atomically in place.
inline uint32 load_acquire(const uint8 *p)
{
    return __atomic_load_n(reinterpret_cast<const uint32 *>(p), __ATOMIC_ACQUIRE);
}
inline uint32 load_relaxed(const uint8 *p)
{
    return __atomic_load_n(reinterpret_cast<const uint32 *>(p), __ATOMIC_RELAXED);
}
inline void store_relaxed(uint8 *p, uint32 v)
{
    __atomic_store_n(reinterpret_cast<uint32 *>(p), v, __ATOMIC_RELAXED);
}
inline void store_release(uint8 *p, uint32 v)
{
    __atomic_store_n(reinterpret_cast<uint32 *>(p), v, __ATOMIC_RELEASE);
}
// Waits a little before attempt `attempt` + 1.
void backoff(uint32 attempt);

// The fixed part of a header, as checked.
struct header_info {
    qz_shm_kind kind;
    uint32 block_size;
    uint32 record_size;
    uint32 capacity;
    uint32 buckets;
};

// Checks the header of a block of `file_size` bytes mapped at `base`
// (nothing is read past file_size).  `expected` qz_shm_kind_none accepts any
// kind of ours.  0, or lc_err_bad_file with one line naming `fn` and `name`
// (none when `quiet`).
[[nodiscard]] int check_header(const uint8 *base, uint64 file_size, qz_shm_kind expected,
                               const char *fn, const char *name, bool quiet, header_info *ret);

// A table as the lookups see it.
struct table_view {
    const uint8 *base;
    const char *name;
    header_info hdr;
    const uint8 *record(uint32 i) const
    {
        return base + qz_shm_records_off + size_t(i) * hdr.record_size;
    }
    const uint8 *bucket(uint32 b) const
    {
        return base + qz_shm_index_off(hdr.kind, hdr.capacity) + size_t(b) * 4;
    }
    uint32 count() const;
};

// The view of `table`, which must hold a table of `kind`: lc_err_bad_type
// (logged) otherwise; null is lc_err_unexpected_null.
[[nodiscard]] int view_of(const cmem_block *table, qz_shm_kind kind, const char *fn,
                          table_view *ret);

// Copies record `i` into `buf` (record_size bytes) between two equal even
// sequence values and verifies its check word.  See qz_shm_tables.h for the
// failures.
[[nodiscard]] int read_record(const table_view &t, uint32 i, uint8 *buf, const char *fn);
// Waits for an even structure sequence value and returns it; 0 or
// lc_err_io_would_block.
[[nodiscard]] int begin_structure_read(const table_view &t, const char *fn, uint32 *ret_seq);
// Whether the structure is still at `seq` (after a fence).
bool structure_unchanged(const table_view &t, uint32 seq);

// Whether a copied record is in use.
inline bool record_used(const uint8 *rec)
{
    return rec[qz_shm_rec_off_used] != 0;
}
// Whether the text field at `off` of `size` bytes equals `key`.
bool text_equals(const uint8 *rec, uint32 off, uint32 size, const char *key);
// Copies the text field at `off` of `size` bytes into `dst` (size bytes),
// always terminated.
void copy_text(const uint8 *rec, uint32 rec_size, uint32 off, uint32 size, char *dst);

// Attaches `name` (test prefix added here) read-only or read-write.  With
// `quiet_repeats`, a failure already logged for this name since its last
// success is not logged again.
[[nodiscard]] int attach(const char *name, bool writable, bool quiet_repeats, const char *fn,
                         cmem_block **ret);

} // namespace qz_shm_detail
