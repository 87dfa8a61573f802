// The publisher side of the shared tables: what the appliance's own daemons
// (here the simulated appliance) and tests use to create a table and keep
// its records up to date while readers in other processes look them up.
//
// A block is created once with a fixed capacity and is then only updated in
// place: it never shrinks and is never recreated while it has a name, so a
// reader's mapping stays valid for good.  A new block is built under a
// temporary name and linked into place whole, so a reader never sees a
// half-written header.  Opening a block that is already published (for
// example after the publisher restarted) reuses it in place when it has the
// same kind and at least the asked capacity, and empties it.
//
// Every change runs under the seqlocks of qz_shm_layout.h: a record is
// rewritten under its own sequence word; adding or removing a record also
// holds the header's sequence word while the index and the count change.
// One publisher per block: the calls on one handle are not thread-safe.
//
// Ownership: the handle owns its mapping (qz_shm_pub_close unmaps it); the
// block itself lives until qz_shm_pub_unlink removes its name and the last
// mapping goes.
#pragma once

#include "appliance/qz_shm_layout.h"
#include "appliance/qz_shm_tables.h"

struct qz_shm_publisher;

// Default capacities for the simulated appliance (route labels always have
// qz_max_route_labels records).
constexpr uint32 qz_shm_default_capacity = 1024;

// Creates the block `name` (null: the standard name of `kind`) for
// `capacity` records, or reopens and empties a published block of the same
// kind with at least that capacity.  A block of another kind, layout or a
// smaller capacity is lc_err_exists; a route-label table must have
// qz_max_route_labels records (else lc_err_bad_type).  Each failure logs one
// line; *ret is null on failure.
[[nodiscard]] int qz_shm_pub_open(qz_shm_kind kind, const char *name, uint32 capacity,
                                  qz_shm_publisher **ret);
// Unmaps the block (it stays published) and nulls *pub; null is accepted.
int qz_shm_pub_close(qz_shm_publisher **pub);
LC_OWNED_FREE(qz_shm_publisher, qz_shm_pub_close)
// Removes the name `name` (null is not accepted; no kind default here).
// Readers keep their mappings.  lc_err_file_not_found when absent.
[[nodiscard]] int qz_shm_pub_unlink(const char *name);

// The handle's block as a read-only table, for the lookups of
// qz_shm_tables.h (valid while the handle lives).
const cmem_block *qz_shm_pub_block(const qz_shm_publisher *pub);
uint32 qz_shm_pub_count(const qz_shm_publisher *pub);
uint32 qz_shm_pub_capacity(const qz_shm_publisher *pub);
// Removes every record.
[[nodiscard]] int qz_shm_pub_clear(qz_shm_publisher *pub);

// Adds a record or rewrites the one with the same key in place.  A call on
// a table of another kind is lc_err_bad_type; a full table lc_err_no_space;
// an empty key lc_err_bad_name.  Texts longer than their field are cut.
[[nodiscard]] int qz_shm_pub_put_l3if(qz_shm_publisher *pub, const qz_l3if_info *info);
[[nodiscard]] int qz_shm_pub_put_iflabel(qz_shm_publisher *pub, const char *label,
                                         const char *text);
// `id` must be below qz_max_route_labels (else lc_err_assertion_failed).
[[nodiscard]] int qz_shm_pub_put_rtlabel(qz_shm_publisher *pub, uint32 id, const char *name,
                                         bool and_mode);
[[nodiscard]] int qz_shm_pub_put_tunnel(qz_shm_publisher *pub, const qz_tunbin *tunnel);
// `num_levels` above qz_alm_max_levels is lc_err_assertion_failed.
[[nodiscard]] int qz_shm_pub_put_alarm_hier(qz_shm_publisher *pub, const qz_alm_hier *hier);

// Removes the record with that key; lc_err_not_found (not logged) when
// there is none.
[[nodiscard]] int qz_shm_pub_remove_l3if(qz_shm_publisher *pub, const char *name);
[[nodiscard]] int qz_shm_pub_remove_iflabel(qz_shm_publisher *pub, const char *label);
[[nodiscard]] int qz_shm_pub_remove_rtlabel(qz_shm_publisher *pub, uint32 id);
[[nodiscard]] int qz_shm_pub_remove_tunnel(qz_shm_publisher *pub, const char *name);
[[nodiscard]] int qz_shm_pub_remove_alarm_hier(qz_shm_publisher *pub, uint32 alarm_id);
