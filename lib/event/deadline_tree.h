// Intrusive red-black tree of deadlines for the event core.
//
// Each timed event embeds one `deadline_node`; the tree links the nodes and
// never allocates, so arming and disarming a timer is O(log n) and cannot
// fail.  Nodes with equal deadlines keep insertion order (a new node goes to
// the right of its equals), which gives timers that expire together their
// registration order.  The tree does not own its nodes.
#pragma once

#include <sys/time.h>

#include "log/common.h"

namespace detail
{

// Monotonic point in time, seconds and microseconds (0..999999).
struct deadline {
    int64 sec = 0;
    int64 usec = 0;
};

constexpr bool deadline_less(const deadline &a, const deadline &b)
{
    return a.sec < b.sec || (a.sec == b.sec && a.usec < b.usec);
}
constexpr bool deadline_le(const deadline &a, const deadline &b)
{
    return !deadline_less(b, a);
}
// a - b in microseconds.
constexpr int64 deadline_diff_us(const deadline &a, const deadline &b)
{
    return (a.sec - b.sec) * 1000000 + (a.usec - b.usec);
}
deadline deadline_add_us(const deadline &a, int64 us);

struct deadline_node {
    deadline_node *left = nullptr;
    deadline_node *right = nullptr;
    deadline_node *parent = nullptr;
    bool red = false;
    deadline key;
};

class deadline_tree
{
  public:
    deadline_tree() = default;
    deadline_tree(const deadline_tree &) = delete;
    deadline_tree &operator=(const deadline_tree &) = delete;

    // Links `n` (not in any tree) by n->key.
    void insert(deadline_node *n);
    // Unlinks `n`, which must be in this tree.
    void erase(deadline_node *n);
    // Earliest node, or null when empty.
    deadline_node *first() const { return first_; }
    static deadline_node *next(deadline_node *n);
    uint32 size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Moves every deadline by `us` microseconds; order is unchanged.
    void shift_all(int64 us);
    // Checks the red-black invariants and the cached minimum (for tests).
    bool valid() const;

  private:
    void rotate_left(deadline_node *x);
    void rotate_right(deadline_node *x);
    void transplant(deadline_node *u, deadline_node *v);
    void insert_fixup(deadline_node *z);
    void erase_fixup(deadline_node *x, deadline_node *xp);

    deadline_node *root_ = nullptr;
    deadline_node *first_ = nullptr;
    uint32 count_ = 0;
};

} // namespace detail
