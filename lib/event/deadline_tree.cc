// Red-black tree with null leaves and parent links; the classic algorithm,
// with the erase fix-up tracking the parent of a possibly null child.
#include "event/deadline_tree.h"

namespace detail
{

namespace
{
bool is_red(const deadline_node *n)
{
    return n != nullptr && n->red;
}
deadline_node *leftmost(deadline_node *n)
{
    while (n->left) n = n->left;
    return n;
}
deadline_node *rightmost(deadline_node *n)
{
    while (n->right) n = n->right;
    return n;
}
} // namespace

deadline_node *deadline_tree::next(deadline_node *n)
{
    if (n->right) return leftmost(n->right);
    deadline_node *p = n->parent;
    while (p && n == p->right) {
        n = p;
        p = p->parent;
    }
    return p;
}

deadline_node *deadline_tree::prev(deadline_node *n)
{
    if (n->left) return rightmost(n->left);
    deadline_node *p = n->parent;
    while (p && n == p->left) {
        n = p;
        p = p->parent;
    }
    return p;
}

void deadline_tree::rotate_left(deadline_node *x)
{
    deadline_node *y = x->right;
    x->right = y->left;
    if (y->left) y->left->parent = x;
    y->parent = x->parent;
    if (!x->parent)
        root_ = y;
    else if (x == x->parent->left)
        x->parent->left = y;
    else
        x->parent->right = y;
    y->left = x;
    x->parent = y;
}

void deadline_tree::rotate_right(deadline_node *x)
{
    deadline_node *y = x->left;
    x->left = y->right;
    if (y->right) y->right->parent = x;
    y->parent = x->parent;
    if (!x->parent)
        root_ = y;
    else if (x == x->parent->right)
        x->parent->right = y;
    else
        x->parent->left = y;
    y->right = x;
    x->parent = y;
}

void deadline_tree::transplant(deadline_node *u, deadline_node *v)
{
    if (!u->parent)
        root_ = v;
    else if (u == u->parent->left)
        u->parent->left = v;
    else
        u->parent->right = v;
    if (v) v->parent = u->parent;
}

void deadline_tree::insert(deadline_node *z)
{
    deadline_node *y = nullptr;
    deadline_node *x = root_;
    bool is_leftmost = true;
    // Not before the latest deadline: it goes right of it, no descent needed.
    if (last_ && !(z->key < last_->key)) {
        y = last_;
        x = nullptr;
        is_leftmost = false;
    }
    while (x) {
        y = x;
        if (z->key < x->key) {
            x = x->left;
        } else {
            x = x->right;
            is_leftmost = false;
        }
    }
    z->parent = y;
    z->left = z->right = nullptr;
    z->red = true;
    if (!y)
        root_ = z;
    else if (z->key < y->key)
        y->left = z;
    else
        y->right = z;
    if (is_leftmost) first_ = z;
    if (!last_ || !(z->key < last_->key)) last_ = z;
    insert_fixup(z);
    ++count_;
}

void deadline_tree::insert_fixup(deadline_node *z)
{
    while (is_red(z->parent)) {
        deadline_node *g = z->parent->parent;
        if (z->parent == g->left) {
            deadline_node *u = g->right;
            if (is_red(u)) {
                z->parent->red = false;
                u->red = false;
                g->red = true;
                z = g;
            } else {
                if (z == z->parent->right) {
                    z = z->parent;
                    rotate_left(z);
                }
                z->parent->red = false;
                g->red = true;
                rotate_right(g);
            }
        } else {
            deadline_node *u = g->left;
            if (is_red(u)) {
                z->parent->red = false;
                u->red = false;
                g->red = true;
                z = g;
            } else {
                if (z == z->parent->left) {
                    z = z->parent;
                    rotate_right(z);
                }
                z->parent->red = false;
                g->red = true;
                rotate_left(g);
            }
        }
    }
    root_->red = false;
}

void deadline_tree::erase(deadline_node *z)
{
    if (first_ == z) first_ = next(z);
    if (last_ == z) last_ = prev(z);
    deadline_node *y = z;
    bool y_was_red = y->red;
    deadline_node *x;
    deadline_node *xp;
    if (!z->left) {
        x = z->right;
        xp = z->parent;
        transplant(z, z->right);
    } else if (!z->right) {
        x = z->left;
        xp = z->parent;
        transplant(z, z->left);
    } else {
        y = leftmost(z->right);
        y_was_red = y->red;
        x = y->right;
        if (y->parent == z) {
            xp = y;
        } else {
            xp = y->parent;
            transplant(y, y->right);
            y->right = z->right;
            y->right->parent = y;
        }
        transplant(z, y);
        y->left = z->left;
        y->left->parent = y;
        y->red = z->red;
    }
    if (!y_was_red) erase_fixup(x, xp);
    z->left = z->right = z->parent = nullptr;
    --count_;
}

void deadline_tree::erase_fixup(deadline_node *x, deadline_node *xp)
{
    while (x != root_ && !is_red(x)) {
        if (x == xp->left) {
            deadline_node *w = xp->right;
            if (is_red(w)) {
                w->red = false;
                xp->red = true;
                rotate_left(xp);
                w = xp->right;
            }
            if (!is_red(w->left) && !is_red(w->right)) {
                w->red = true;
                x = xp;
                xp = x->parent;
            } else {
                if (!is_red(w->right)) {
                    w->left->red = false;
                    w->red = true;
                    rotate_right(w);
                    w = xp->right;
                }
                w->red = xp->red;
                xp->red = false;
                if (w->right) w->right->red = false;
                rotate_left(xp);
                x = root_;
                xp = nullptr;
            }
        } else {
            deadline_node *w = xp->left;
            if (is_red(w)) {
                w->red = false;
                xp->red = true;
                rotate_right(xp);
                w = xp->left;
            }
            if (!is_red(w->right) && !is_red(w->left)) {
                w->red = true;
                x = xp;
                xp = x->parent;
            } else {
                if (!is_red(w->left)) {
                    w->right->red = false;
                    w->red = true;
                    rotate_left(w);
                    w = xp->left;
                }
                w->red = xp->red;
                xp->red = false;
                if (w->left) w->left->red = false;
                rotate_right(xp);
                x = root_;
                xp = nullptr;
            }
        }
    }
    if (x) x->red = false;
}

void deadline_tree::shift_all(int64 us)
{
    for (deadline_node *n = first_; n; n = next(n)) n->key += us;
}

namespace
{
// Black height of the subtree, or -1 when an invariant fails below it.
int check_subtree(const deadline_node *n, const deadline_node *parent)
{
    if (!n) return 1;
    if (n->parent != parent) return -1;
    if (n->red && (is_red(n->left) || is_red(n->right))) return -1;
    if (n->left && n->key < n->left->key) return -1;
    if (n->right && n->right->key < n->key) return -1;
    int l = check_subtree(n->left, n);
    int r = check_subtree(n->right, n);
    if (l < 0 || r < 0 || l != r) return -1;
    return l + (n->red ? 0 : 1);
}

uint32 count_subtree(const deadline_node *n)
{
    return n ? 1 + count_subtree(n->left) + count_subtree(n->right) : 0;
}
} // namespace

bool deadline_tree::valid() const
{
    if (is_red(root_)) return false;
    if (check_subtree(root_, nullptr) < 0) return false;
    if (count_subtree(root_) != count_) return false;
    if (!root_) return first_ == nullptr && last_ == nullptr;
    return first_ == leftmost(root_) && last_ == rightmost(root_);
}

} // namespace detail
