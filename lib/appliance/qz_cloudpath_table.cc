// The cloud path probe table "saasmgr" and its free queue.
//
// The queue is a ring of slot numbers from head to tail (tail ipsla_q_empty
// when empty) with a count beside it, changed only under the block's
// process-shared robust mutex.  Every change stores its commit value last
// (the tail on a return, the head or the empty mark on a take), so that a
// holder killed between two stores leaves at worst a stale count or a lost
// returned slot, never a slot number listed twice or listed while someone
// holds it.  The next taker sees EOWNERDEAD and repairs: it walks the ring
// from head to tail, keeps each valid slot number once, rewrites the ring
// densely and recounts.
#include "appliance/qz_cloudpath_table.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "appliance/qz_shm_internal.h"
#include "log/logging.h"

static_assert(sizeof(pthread_mutex_t) == ipsla_mutex_size);
static_assert(ipsla_off_mutex % alignof(pthread_mutex_t) == 0);
static_assert(ipsla_off_slots == ipsla_off_mutex + ipsla_mutex_size);
static_assert(ipsla_off_q_head == ipsla_off_slots + ipsla_probes_max * ipsla_probe_slot_size);
static_assert(ipsla_off_q_tail == ipsla_off_q_head + 4);
static_assert(ipsla_off_q_ring == ipsla_off_q_tail + 4);
static_assert(ipsla_off_free_count == ipsla_off_q_ring + 2 * ipsla_probes_max);
static_assert(ipsla_off_synthetic_count == ipsla_off_free_count + 4);
static_assert(ipsla_block_size == ipsla_off_synthetic_count + 4 && ipsla_block_size == 1044688);
static_assert(ipsla_probe_slot_size == 3 * ipsla_probe_text_size);

namespace
{

uint8 *g_base = nullptr;

pthread_mutex_t *queue_mutex()
{
    // The one object of the block that is not plain bytes: the mutex lives
    // in place and is handed to pthreads as such.
    return reinterpret_cast<pthread_mutex_t *>(g_base + ipsla_off_mutex);
}

// Queue words, read and written under the mutex.
uint32 get32(uint32 off)
{
    uint32 v = 0;
    lc_byte_reader f;
    return lc_byte_reader(g_base, ipsla_block_size).at(off, 4, &f) && f.ne32(&v) ? v : 0;
}
void set32(uint32 off, uint32 v)
{
    lc_byte_writer f;
    if (lc_byte_writer(g_base, ipsla_block_size).at(off, 4, &f)) (void)f.ne32(v);
}
uint16 ring_get(uint32 i)
{
    uint16 v = 0;
    lc_byte_reader f;
    return lc_byte_reader(g_base, ipsla_block_size).at(ipsla_off_q_ring + 2 * i, 2, &f) &&
                   f.ne16(&v)
               ? v
               : 0;
}
void ring_set(uint32 i, uint16 v)
{
    lc_byte_writer f;
    if (lc_byte_writer(g_base, ipsla_block_size).at(ipsla_off_q_ring + 2 * i, 2, &f))
        (void)f.ne16(v);
}

bool queue_indices_valid()
{
    const uint32 tail = get32(ipsla_off_q_tail);
    return get32(ipsla_off_q_head) < ipsla_probes_max &&
           (tail == ipsla_q_empty || tail < ipsla_probes_max);
}

// Makes head, tail, ring and count agree again; returns the free count.
uint32 repair_queue()
{
    const uint32 head = get32(ipsla_off_q_head);
    const uint32 tail = get32(ipsla_off_q_tail);
    if (tail == ipsla_q_empty || head >= ipsla_probes_max || tail >= ipsla_probes_max) {
        // Nothing trustworthy is listed: an empty queue loses no slot that
        // someone else still holds.
        set32(ipsla_off_q_head, 0);
        set32(ipsla_off_q_tail, ipsla_q_empty);
        set32(ipsla_off_free_count, 0);
        return 0;
    }
    bool seen[ipsla_probes_max] = {};
    uint16 keep[ipsla_probes_max];
    uint32 kept = 0;
    const uint32 listed = (tail + ipsla_probes_max - head) % ipsla_probes_max + 1;
    for (uint32 i = 0; i < listed; ++i) {
        const uint16 slot = ring_get((head + i) % ipsla_probes_max);
        if (slot >= ipsla_probes_max || seen[slot]) continue;
        seen[slot] = true;
        keep[kept++] = slot;
    }
    for (uint32 i = 0; i < kept; ++i) ring_set((head + i) % ipsla_probes_max, keep[i]);
    set32(ipsla_off_q_tail, kept ? (head + kept - 1) % ipsla_probes_max : ipsla_q_empty);
    set32(ipsla_off_free_count, kept);
    return kept;
}

// Takes the queue's lock, recovering it from a holder that died.
int lock_queue(const char *fn)
{
    const int rc = pthread_mutex_lock(queue_mutex());
    if (rc == EOWNERDEAD) {
        const uint32 left = repair_queue();
        pthread_mutex_consistent(queue_mutex());
        lc_log_basic(LCL_WARNING, "%s: previous holder of the probe queue lock died; %u free", fn,
                     left);
        return 0;
    }
    if (rc != 0) {
        lc_log_basic(LCL_ERR, "%s: probe queue lock failed: %s", fn, strerror(rc));
        return lc_err_generic_error;
    }
    // Indices out of range would send the next access past the ring.
    if (!queue_indices_valid()) {
        const uint32 left = repair_queue();
        lc_log_basic(LCL_WARNING, "%s: probe queue indices out of range; %u free", fn, left);
    }
    return 0;
}

void unlock_queue()
{
    pthread_mutex_unlock(queue_mutex());
}

// The return of one slot number, under the lock (or before the mutex
// exists, during initialisation).
int push_slot(uint32 slot)
{
    const uint32 tail = get32(ipsla_off_q_tail);
    if (tail == ipsla_q_empty) {
        ring_set(0, uint16(slot));
        set32(ipsla_off_q_head, 0);
        set32(ipsla_off_q_tail, 0);
    } else {
        const uint32 next = (tail + 1) % ipsla_probes_max;
        if (next == get32(ipsla_off_q_head)) return lc_err_no_space;
        ring_set(next, uint16(slot));
        set32(ipsla_off_q_tail, next);
    }
    set32(ipsla_off_free_count, get32(ipsla_off_free_count) + 1);
    return 0;
}

int init_mutex(const char *fn)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) {
        lc_log_basic(LCL_ERR, "%s: mutex lock init failed", fn);
        return lc_err_generic_error;
    }
    const int rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) ||
                   pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) ||
                   pthread_mutex_init(queue_mutex(), &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc) {
        lc_log_basic(LCL_ERR, "%s: mutex lock init failed", fn);
        return lc_err_generic_error;
    }
    return 0;
}

} // namespace

int ipsla_probes_attach()
{
    if (g_base) return 0;
    cmem_block *b = nullptr;
    const int err = qz_shm_detail::attach(QZ_SHM_CLOUDPATH, true, true, __func__, &b);
    if (err) return err;
    g_base = b->base;
    return 0;
}

int ipsla_probes_create()
{
    if (g_base) return 0;
    char full[qz_shm_path_max];
    if (qz_shm_detail::full_name(QZ_SHM_CLOUDPATH, full) != 0) return lc_err_bad_name;
    const std::string tmp = std::string(full) + ".new." + std::to_string(getpid());
    shm_unlink(tmp.c_str()); // a leftover of an earlier process with our pid
    const int fd = shm_open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        lc_log_basic(LCL_ERR, "%s: cannot create shared memory block %s: %s", __func__, tmp.c_str(),
                     strerror(errno));
        return lc_err_io_error;
    }
    lc_scope_guard drop_tmp([&] { shm_unlink(tmp.c_str()); });
    lc_scope_guard close_fd([&] { close(fd); });
    if (ftruncate(fd, ipsla_block_size) != 0) {
        lc_log_basic(LCL_ERR, "%s: cannot size shared memory block %s: %s", __func__, tmp.c_str(),
                     strerror(errno));
        return lc_err_io_error;
    }
    void *map = mmap(nullptr, ipsla_block_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        lc_log_basic(LCL_ERR, "%s: cannot map shared memory block %s: %s", __func__, tmp.c_str(),
                     strerror(errno));
        return lc_err_io_error;
    }
    g_base = static_cast<uint8 *>(map);
    set32(ipsla_off_q_tail, ipsla_q_empty);
    int err = init_mutex(__func__);
    g_base = nullptr;
    const std::string from = std::string(qz_shm_detail::shm_dir) + tmp;
    const std::string to = std::string(qz_shm_detail::shm_dir) + full;
    const int link_errno = err == 0 && link(from.c_str(), to.c_str()) != 0 ? errno : 0;
    munmap(map, ipsla_block_size);
    if (err) return err;
    if (link_errno != 0 && link_errno != EEXIST) {
        lc_log_basic(LCL_ERR, "%s: cannot publish shared memory block %s: %s", __func__, full,
                     strerror(link_errno));
        return lc_err_io_error;
    }
    // Attach through the common path, which keeps the mapping for good.
    return ipsla_probes_attach();
}

bool ipsla_probes_attached()
{
    return g_base != nullptr;
}

void ipsla_probes_detach()
{
    g_base = nullptr;
}

int ipsla_probes_get_free_entry(uint32 *ret_slot)
{
    bail_null(ret_slot);
    *ret_slot = 0;
    if (!g_base) return lc_err_file_not_found;
    bail_error(lock_queue(__func__));
    const uint32 tail = get32(ipsla_off_q_tail);
    if (tail == ipsla_q_empty) {
        unlock_queue();
        lc_log_basic(LCL_ERR, "%s: q empty", __func__);
        return lc_err_no_space;
    }
    const uint32 head = get32(ipsla_off_q_head);
    const uint32 slot = ring_get(head);
    uint32 next = head;
    if (head == tail) {
        set32(ipsla_off_q_tail, ipsla_q_empty);
    } else {
        next = (head + 1) % ipsla_probes_max;
        set32(ipsla_off_q_head, next);
    }
    const uint32 count = get32(ipsla_off_free_count);
    set32(ipsla_off_free_count, count ? count - 1 : 0);
    unlock_queue();
    lc_log_basic(LCL_DEBUG, "%s: %u, next %u", __func__, slot, next);
    *ret_slot = slot;
    return 0;
}

int ipsla_probes_add_entry(uint32 slot)
{
    if (!g_base) return lc_err_file_not_found;
    bail_require(slot < ipsla_probes_max);
    bail_error(lock_queue(__func__));
    const int err = push_slot(slot);
    unlock_queue();
    if (err) {
        lc_log_basic(LCL_ERR, "%s: q full", __func__);
        return err;
    }
    return 0;
}

int ipsla_probes_queue_init()
{
    if (!g_base) return lc_err_file_not_found;
    set32(ipsla_off_q_head, 0);
    set32(ipsla_off_q_tail, ipsla_q_empty);
    set32(ipsla_off_free_count, 0);
    for (uint32 slot = 0; slot < ipsla_probes_max; ++slot) bail_error(push_slot(slot));
    return init_mutex(__func__);
}

char *ipsla_probes_slot_text(uint32 slot, uint32 text_off)
{
    if (!g_base || slot >= ipsla_probes_max) return nullptr;
    if (text_off != ipsla_slot_off_target && text_off != ipsla_slot_off_settings &&
        text_off != ipsla_slot_off_options)
        return nullptr;
    return reinterpret_cast<char *>(g_base + ipsla_off_slots + slot * ipsla_probe_slot_size +
                                    text_off);
}

uint32 ipsla_probes_synthetic_count()
{
    return g_base ? qz_shm_detail::load_relaxed(g_base + ipsla_off_synthetic_count) : 0;
}

void ipsla_probes_set_synthetic_count(uint32 n)
{
    if (g_base) qz_shm_detail::store_relaxed(g_base + ipsla_off_synthetic_count, n);
}

uint32 ipsla_probes_free_count()
{
    if (!g_base || lock_queue(__func__) != 0) return 0;
    const uint32 n = get32(ipsla_off_free_count);
    unlock_queue();
    return n;
}

int ipsla_probes_lock_for_tests()
{
    if (!g_base) return lc_err_file_not_found;
    return lock_queue(__func__);
}

void ipsla_probes_unlock_for_tests()
{
    if (g_base) unlock_queue();
}
