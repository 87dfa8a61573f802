// The cloud path probe table "saasmgr": probe slots that the tracking engine
// writes and the block's owner (another process of the appliance) reads.
//
// The block has a fixed layout that both sides share (offsets below, no
// header of ours): a process-shared mutex, 1,024 slots of three 256-byte
// texts, and a ring of free slot numbers with its head, tail and count.  The
// mutex is robust: a holder that dies inside it leaves it to the next taker,
// which checks and repairs the free queue before going on.
//
// The engine attaches the block with ipsla_probes_attach once it goes
// active; until then every call fails softly with lc_err_file_not_found.
// Slot texts are written without the lock: a slot belongs to whoever took it
// until it is returned.
#pragma once

#include "log/common.h"

constexpr uint32 ipsla_probes_max = 1024;
constexpr uint32 ipsla_probe_text_size = 256;
constexpr uint32 ipsla_probe_slot_size = 768;
constexpr uint32 ipsla_off_mutex = 256152;
constexpr uint32 ipsla_mutex_size = 40;
constexpr uint32 ipsla_off_slots = 256192;
constexpr uint32 ipsla_off_q_head = 1042624;
constexpr uint32 ipsla_off_q_tail = 1042628;
constexpr uint32 ipsla_off_q_ring = 1042632;
constexpr uint32 ipsla_off_free_count = 1044680;
constexpr uint32 ipsla_off_synthetic_count = 1044684;
constexpr uint32 ipsla_block_size = 1044688;
constexpr uint32 ipsla_q_empty = 0xFFFFFFFF;
// Offsets of the three texts within a slot.
constexpr uint32 ipsla_slot_off_target = 0;
constexpr uint32 ipsla_slot_off_settings = 256;
constexpr uint32 ipsla_slot_off_options = 512;

// Attaches "saasmgr" read-write for the calls below (again on later calls:
// a no-op once attached).  lc_err_file_not_found when the block does not
// exist, lc_err_bad_file when it is short; logged once until it attaches.
[[nodiscard]] int ipsla_probes_attach();
// Creates the block (owner side), zero-filled, with its mutex initialised,
// and attaches it.  The block is built under a temporary name and linked
// into place, so no reader sees it before its mutex is set up.  A block
// that already exists is attached as it is.
[[nodiscard]] int ipsla_probes_create();
bool ipsla_probes_attached();
// Forgets the attachment (tests).
void ipsla_probes_detach();

// Takes a slot number from the free queue.  "%s: q empty" and
// lc_err_no_space when none is left.
[[nodiscard]] int ipsla_probes_get_free_entry(uint32 *ret_slot);
// Returns a slot number.  "%s: q full" and lc_err_no_space when the ring is
// full.
[[nodiscard]] int ipsla_probes_add_entry(uint32 slot);
// Owner side, before anyone else uses the queue: head 0, tail empty, count
// 0, then slots 0..1023 returned in order; then the mutex is initialised
// (process-shared and robust).  "%s: mutex lock init failed" and
// lc_err_generic_error when that fails.
[[nodiscard]] int ipsla_probes_queue_init();

// The text at `text_off` (one of ipsla_slot_off_*) of slot `slot`, for
// writing or reading (ipsla_probe_text_size bytes); null when not attached
// or the slot is out of range.
char *ipsla_probes_slot_text(uint32 slot, uint32 text_off);
// The number of synthetic probes kept by the owner; 0 when not attached.
uint32 ipsla_probes_synthetic_count();
// Owner side: sets that number.
void ipsla_probes_set_synthetic_count(uint32 n);
// The number of free slots (read under the lock); 0 when not attached.
uint32 ipsla_probes_free_count();

// Test seams: take the queue's lock and keep it (a test process then dies
// holding it), and release it again.
[[nodiscard]] int ipsla_probes_lock_for_tests();
void ipsla_probes_unlock_for_tests();
