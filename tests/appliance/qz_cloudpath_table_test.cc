// The cloud path probe table: the free queue's order and limits with their
// log lines, two processes sharing it, and a lock holder killed inside it.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "appliance/qz_cloudpath_table.h"
#include "appliance/qz_shm_publish.h"
#include "appliance/qz_shm_tables.h"
#include "support/log_capture.h"
#include "util/byte_cursor.h"

namespace
{

class ProbeQueue : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        cmem_set_name_prefix_for_tests(("ipt-test-" + std::to_string(getpid()) + "-").c_str());
        ASSERT_EQ(0, ipsla_probes_create());
        ASSERT_EQ(0, ipsla_probes_queue_init());
        cmem_block *b = nullptr;
        ASSERT_EQ(0, cmem_attach_block_read_write(QZ_SHM_CLOUDPATH, &b));
        base_ = b->base;
    }
    void TearDown() override
    {
        ipsla_probes_detach();
        (void)qz_shm_pub_unlink(QZ_SHM_CLOUDPATH);
        cmem_detach_all();
        cmem_set_name_prefix_for_tests(nullptr);
    }
    template <class T = uint32> T word(uint32 off) const
    {
        T v = 0;
        EXPECT_TRUE(
            lc_byte_reader(base_, ipsla_block_size).get_at<lc_bytes::order::native>(off, &v));
        return v;
    }
    uint16 ring(uint32 i) const { return word<uint16>(ipsla_off_q_ring + 2 * i); }
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
                slots.push_back(ring(i));
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
    EXPECT_EQ(ipsla_probes_max, ipsla_probes_free_count());

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
