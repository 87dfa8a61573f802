// Management client: the registration tree reported to "registration_info"
// queries.  Nodes are kept by name parts; each node's children are in name
// order.  One tree per process, behind one lock.
#include <mutex>
#include <new>
#include <vector>

#include "mgmt/mdc_internal.h"
#include "mgmt/mdc_misc.h"

struct mdc_remote_reg_node {
    tstring *name = nullptr;
    tstr_array *parts = nullptr;
    uint32 cap_mask = 0;
    std::vector<mdc_remote_reg_node *> children; // owned, by name
};

namespace
{

std::mutex reg_lock;
mdc_remote_reg_node *reg_root = nullptr; // created on first use, under reg_lock

int root_locked(mdc_remote_reg_node **ret)
{
    if (!reg_root) bail_error(mdc_remote_reg_new_node(&reg_root, "/", 0));
    *ret = reg_root;
    return 0;
}

// True when `prefix` is `parts` or a leading part of it.
bool parts_prefix(const tstr_array *prefix, const tstr_array *parts)
{
    const uint32 n = tstr_array_length_quick(prefix);
    if (n > tstr_array_length_quick(parts)) return false;
    for (uint32 i = 0; i < n; ++i)
        if (ts_cmp(tstr_array_get_quick(prefix, i), tstr_array_get_quick(parts, i))) return false;
    return true;
}

bool same_parts(const tstr_array *a, const tstr_array *b)
{
    return tstr_array_length_quick(a) == tstr_array_length_quick(b) && parts_prefix(a, b);
}

void insert_child(mdc_remote_reg_node *parent, mdc_remote_reg_node *child)
{
    auto it = parent->children.begin();
    while (it != parent->children.end() && ts_cmp((*it)->name, child->name) < 0) ++it;
    parent->children.insert(it, child);
}

int append_subtree(const mdc_remote_reg_node *node, const tstr_array *below, uint32 mask,
                   bn_binding_array *out)
{
    if (node != reg_root && parts_prefix(below, node->parts) &&
        (mask == 0 || (node->cap_mask & mask) != 0)) {
        owned<bn_binding> b;
        bail_error(bn_binding_new_uint32(b.out(), ts_str(node->name), ba_capability_mask, 0,
                                         node->cap_mask));
        bn_binding *p = b.release();
        bail_error(bn_binding_array_append_takeover(out, &p));
    }
    for (const mdc_remote_reg_node *c : node->children)
        bail_error(append_subtree(c, below, mask, out));
    return 0;
}

} // namespace

int mdc_remote_reg_new_node(mdc_remote_reg_node **ret_node, const char *name, uint32 cap_mask)
{
    bail_null(ret_node);
    *ret_node = nullptr;
    bail_null(name);

    owned<mdc_remote_reg_node> node{new (std::nothrow) mdc_remote_reg_node{}};
    bail_null(node.get());
    bail_error(ts_new_str(&node->name, name));
    bool absolute = false;
    bail_error(bn_binding_name_to_parts(name, &node->parts, &absolute));
    if (!node->parts) bail_error(tstr_array_new(&node->parts, nullptr));
    node->cap_mask = cap_mask;
    *ret_node = node.release();
    return 0;
}

int mdc_remote_reg_free(mdc_remote_reg_node **node)
{
    bail_null(node);
    if (!*node) return 0;
    for (mdc_remote_reg_node *c : (*node)->children) (void)mdc_remote_reg_free(&c);
    (void)ts_free(&(*node)->name);
    (void)tstr_array_free(&(*node)->parts);
    delete *node;
    *node = nullptr;
    return 0;
}

int mdc_remote_reg_add_node(mdc_remote_reg_node **node)
{
    bail_null(node);
    owned<mdc_remote_reg_node> adding{*node};
    *node = nullptr;
    bail_null(adding.get());

    std::lock_guard<std::mutex> guard(reg_lock);
    mdc_remote_reg_node *at = nullptr;
    bail_error(root_locked(&at));
    // Down to the deepest node that is an ancestor of the new one.
    for (bool descended = true; descended;) {
        descended = false;
        for (mdc_remote_reg_node *c : at->children) {
            if (same_parts(c->parts, adding->parts)) return lc_err_exists;
            if (parts_prefix(c->parts, adding->parts)) {
                at = c;
                descended = true;
                break;
            }
        }
    }
    // Nodes already there that belong below the new one move under it.
    std::vector<mdc_remote_reg_node *> keep;
    for (mdc_remote_reg_node *c : at->children) {
        if (parts_prefix(adding->parts, c->parts))
            insert_child(adding.get(), c);
        else
            keep.push_back(c);
    }
    at->children.swap(keep);
    insert_child(at, adding.release());
    return 0;
}

int mdc_remote_reg_get_node_tree(const mdc_remote_reg_node **ret_root)
{
    bail_null(ret_root);
    *ret_root = nullptr;
    std::lock_guard<std::mutex> guard(reg_lock);
    mdc_remote_reg_node *root = nullptr;
    bail_error(root_locked(&root));
    *ret_root = root;
    return 0;
}

int mdc_remote_reg_get_name(const mdc_remote_reg_node *node, const tstring **ret_name)
{
    bail_null(ret_name);
    *ret_name = nullptr;
    bail_null(node);
    *ret_name = node->name;
    return 0;
}

int mdc_remote_reg_get_cap_mask(const mdc_remote_reg_node *node, uint32 *ret_mask)
{
    bail_null(ret_mask);
    *ret_mask = 0;
    bail_null(node);
    *ret_mask = node->cap_mask;
    return 0;
}

uint32 mdc_remote_reg_get_num_children(const mdc_remote_reg_node *node)
{
    return node ? static_cast<uint32>(node->children.size()) : 0;
}

const mdc_remote_reg_node *mdc_remote_reg_get_child(const mdc_remote_reg_node *node, uint32 index)
{
    return node && index < node->children.size() ? node->children[index] : nullptr;
}

int mdc_remote_reg_clear()
{
    std::lock_guard<std::mutex> guard(reg_lock);
    return mdc_remote_reg_free(&reg_root);
}

int mdc_remote_reg_append_bindings(const char *node_name, uint32 cap_mask,
                                   bn_binding_array *ret_bindings)
{
    bail_null(ret_bindings);
    owned<tstr_array> below;
    bool absolute = false;
    if (node_name) bail_error(bn_binding_name_to_parts(node_name, below.out(), &absolute));
    if (!below) bail_error(tstr_array_new(below.out(), nullptr));

    std::lock_guard<std::mutex> guard(reg_lock);
    mdc_remote_reg_node *root = nullptr;
    bail_error(root_locked(&root));
    return append_subtree(root, below.get(), cap_mask, ret_bindings);
}
