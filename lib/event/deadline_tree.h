// Intrusive red-black tree of deadlines for the event core.
//
// The tree links caller-provided `deadline_node`s and never allocates, so
// linking and unlinking is O(log n) and cannot fail.  Nodes with equal
// deadlines keep insertion order (a new node goes to the right of its
// equals), which gives timers that expire together their arming order.
// The tree does not own its nodes.  Keys are monotonic microseconds.
#pragma once

#include "log/common.h"

namespace detail
{

struct deadline_node {
    deadline_node *left = nullptr;
    deadline_node *right = nullptr;
    deadline_node *parent = nullptr;
    int64 key = 0; // monotonic microseconds
    bool red = false;
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
    static deadline_node *prev(deadline_node *n);
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
    deadline_node *last_ = nullptr; // latest deadline: arming in order appends here
    uint32 count_ = 0;
};

} // namespace detail
