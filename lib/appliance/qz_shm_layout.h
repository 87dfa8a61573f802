// Byte layouts of the shared-memory tables this appliance publishes itself
// (interfaces, interface labels, route labels, tunnels, alarm hierarchy).
//
// A block is one header, `capacity` fixed-size records, then (for the tables
// looked up by name) an open-addressed index of record numbers.  All values
// are in host order (the blocks never leave the machine) and are read and
// written through the byte cursor at the offsets below; the sequence words
// are the exception: they are loaded and stored atomically in place.
//
// Concurrency: one publisher per block, any number of readers in other
// processes.  Each record has its own sequence word (a seqlock: odd while
// the publisher rewrites the record) and a check word over the rest of the
// record, so that a reader can prove it copied one whole version.  The
// header's sequence word guards the structure instead: which slot holds
// which key, the index and the record count.  Records are kept dense: slots
// 0 .. count-1 are in use, a removal moves the last record into the hole.
// Route labels are the exception: record n is route label n, and the count
// is the number of labels configured.
//
// The alarm hierarchy texts are templates in which "{alarm}", "{tunnel}",
// "{entity}" and "{port}" stand for the alarm id, the tunnel id (both
// decimal), the entity name and the port name; "{{" is a literal "{".
#pragma once

#include "log/common.h"

// Kinds of table, stored in the header so that a block published under the
// wrong name is refused.
enum qz_shm_kind : uint32 {
    qz_shm_kind_none = 0,
    qz_shm_kind_l3if = 1,
    qz_shm_kind_iflabel = 2,
    qz_shm_kind_rtlabel = 3,
    qz_shm_kind_tunnel = 4,
    qz_shm_kind_alarm_hier = 5,
};

// "QZTB" as the first four bytes.
constexpr uint32 qz_shm_magic = 0x42545a51;
// Bumped whenever any offset below changes.
constexpr uint32 qz_shm_layout_version = 1;

// ---------------------------------------------------------------------------
// Header

constexpr uint32 qz_shm_hdr_off_magic = 0;
constexpr uint32 qz_shm_hdr_off_version = 4;
constexpr uint32 qz_shm_hdr_off_kind = 8;
constexpr uint32 qz_shm_hdr_off_block_size = 12;
constexpr uint32 qz_shm_hdr_off_record_size = 16;
constexpr uint32 qz_shm_hdr_off_capacity = 20;
constexpr uint32 qz_shm_hdr_off_count = 24;   // records in use
constexpr uint32 qz_shm_hdr_off_buckets = 28; // index buckets, 0 without index
constexpr uint32 qz_shm_hdr_off_seq = 32;     // structure seqlock
constexpr uint32 qz_shm_hdr_size = 64;        // the rest is zero
constexpr uint32 qz_shm_records_off = qz_shm_hdr_size;

// ---------------------------------------------------------------------------
// Record prefix, common to every kind

constexpr uint32 qz_shm_rec_off_seq = 0;   // record seqlock
constexpr uint32 qz_shm_rec_off_check = 4; // qz_shm_record_check of the bytes after it
constexpr uint32 qz_shm_rec_off_used = 8;  // u8, 1 while the slot holds a record
constexpr uint32 qz_shm_rec_checked_from = 8;

// Interface ("cl3mgr_mem"), keyed by name.
constexpr uint32 qz_l3if_off_kind = 9;          // u8 qz_l3if_kind
constexpr uint32 qz_l3if_off_ip_version = 10;   // u8 4 or 6
constexpr uint32 qz_l3if_off_incomplete = 11;   // u8 0 or 1
constexpr uint32 qz_l3if_off_name = 12;         // char[16]
constexpr uint32 qz_l3if_off_member0 = 28;      // char[16]
constexpr uint32 qz_l3if_off_member1 = 44;      // char[16]
constexpr uint32 qz_l3if_off_tunnel = 60;       // char[64]
constexpr uint32 qz_l3if_off_label = 124;       // char[16]
constexpr uint32 qz_l3if_off_addr_family = 140; // u8, then three zero bytes
constexpr uint32 qz_l3if_off_addr = 144;        // 16 bytes, network order
constexpr uint32 qz_l3if_record_size = 160;

// Interface label ("iflabel_shmem"), keyed by label name.
constexpr uint32 qz_iflabel_off_name = 12; // char[16]
constexpr uint32 qz_iflabel_off_text = 28; // char[16], display text
constexpr uint32 qz_iflabel_record_size = 48;

// Route label ("route_label_shmem"): record number = route label id.
constexpr uint32 qz_rtlabel_off_and_mode = 9; // u8 0 or 1
constexpr uint32 qz_rtlabel_off_name = 12;    // char[16]
constexpr uint32 qz_rtlabel_record_size = 32;

// Tunnel ("tunmgr"), keyed by name.
constexpr uint32 qz_tunnel_off_id = 12;          // u32
constexpr uint32 qz_tunnel_off_name = 16;        // char[64]
constexpr uint32 qz_tunnel_off_alias = 80;       // char[64]
constexpr uint32 qz_tunnel_off_src_family = 144; // u8, then three zero bytes
constexpr uint32 qz_tunnel_off_src_addr = 148;   // 16 bytes, network order
constexpr uint32 qz_tunnel_record_size = 168;

// Alarm hierarchy ("shmem_alarm_hierarchy"), one record per alarm id.
constexpr uint32 qz_almh_off_num_levels = 9; // u8
constexpr uint32 qz_almh_off_alarm_id = 12;  // u32
constexpr uint32 qz_almh_off_levels = 16;    // qz_alm_max_levels levels
constexpr uint32 qz_almh_level_off_kind = 0; // u8, then three zero bytes
constexpr uint32 qz_almh_level_off_tmpl = 4; // char[128]
constexpr uint32 qz_almh_level_size = 132;
constexpr uint32 qz_almh_max_levels = 4;
constexpr uint32 qz_almh_tmpl_size = 128;
constexpr uint32 qz_almh_record_size = qz_almh_off_levels + qz_almh_max_levels * qz_almh_level_size;

static_assert(qz_l3if_off_addr + 16 == qz_l3if_record_size);
static_assert(qz_iflabel_off_text + 16 <= qz_iflabel_record_size);
static_assert(qz_rtlabel_off_name + 16 <= qz_rtlabel_record_size);
static_assert(qz_tunnel_off_src_addr + 16 <= qz_tunnel_record_size);
static_assert(qz_almh_record_size == 544);
// The check word is computed over 8-byte words.
static_assert(qz_l3if_record_size % 8 == 0 && qz_iflabel_record_size % 8 == 0 &&
              qz_rtlabel_record_size % 8 == 0 && qz_tunnel_record_size % 8 == 0 &&
              qz_almh_record_size % 8 == 0);

// ---------------------------------------------------------------------------
// Index: `buckets` u32 words after the records; 0 is an empty bucket, n a
// record number n-1.  Linear probing from qz_shm_key_hash(key) & (buckets-1).

// Record size of `kind`, 0 for an unknown kind.
constexpr uint32 qz_shm_record_size(qz_shm_kind kind)
{
    switch (kind) {
    case qz_shm_kind_l3if:
        return qz_l3if_record_size;
    case qz_shm_kind_iflabel:
        return qz_iflabel_record_size;
    case qz_shm_kind_rtlabel:
        return qz_rtlabel_record_size;
    case qz_shm_kind_tunnel:
        return qz_tunnel_record_size;
    case qz_shm_kind_alarm_hier:
        return qz_almh_record_size;
    default:
        return 0;
    }
}

// Offset and size of the key text of a keyed kind; size 0 for kinds without
// an index.
constexpr uint32 qz_shm_key_off(qz_shm_kind kind)
{
    switch (kind) {
    case qz_shm_kind_l3if:
        return qz_l3if_off_name;
    case qz_shm_kind_iflabel:
        return qz_iflabel_off_name;
    case qz_shm_kind_tunnel:
        return qz_tunnel_off_name;
    default:
        return 0;
    }
}
constexpr uint32 qz_shm_key_size(qz_shm_kind kind)
{
    switch (kind) {
    case qz_shm_kind_l3if:
        return 16;
    case qz_shm_kind_iflabel:
        return 16;
    case qz_shm_kind_tunnel:
        return 64;
    default:
        return 0;
    }
}

// Index buckets for `capacity` records: a power of two at least twice the
// capacity, so that probes stay short; 0 for kinds without an index.
constexpr uint32 qz_shm_index_buckets(qz_shm_kind kind, uint32 capacity)
{
    if (qz_shm_key_size(kind) == 0) return 0;
    uint32 n = 16;
    while (n < 2 * capacity) n *= 2;
    return n;
}

constexpr uint32 qz_shm_index_off(qz_shm_kind kind, uint32 capacity)
{
    return qz_shm_records_off + capacity * qz_shm_record_size(kind);
}

// Whole block size; the largest capacity keeps it well below 4 GiB.
constexpr uint32 qz_shm_max_capacity = 65536;
constexpr uint32 qz_shm_block_size(qz_shm_kind kind, uint32 capacity)
{
    return qz_shm_index_off(kind, capacity) + 4 * qz_shm_index_buckets(kind, capacity);
}
static_assert(uint64(qz_shm_block_size(qz_shm_kind_alarm_hier, qz_shm_max_capacity)) < (1u << 31));

// FNV-1a of a key text (up to its NUL or `max` bytes).
constexpr uint32 qz_shm_key_hash(const char *key, uint32 max)
{
    uint32 h = 2166136261u;
    for (uint32 i = 0; i < max && key[i]; ++i) h = (h ^ uint8(key[i])) * 16777619u;
    return h;
}

// The check word of a record: a mix of its bytes from
// qz_shm_rec_checked_from to `size`, read as host-order 64-bit words.
uint32 qz_shm_record_check(const uint8 *record, uint32 size);
