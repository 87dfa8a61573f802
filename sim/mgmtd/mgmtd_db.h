// The node database of the management stand-in: bindings kept in name order
// (the byte order of their names, the order binding arrays sort by), read
// from a file of `set NAME TYPE VALUE` lines at start, queried by name or by
// subtree, and changed by the sub-operations of set requests.
//
// A set request is all or nothing: its nodes are applied to a copy, and the
// copy replaces the database only when every node succeeded.  The changes it
// made come back as a list, in the order they happened, for the change
// notifications.
//
// Ownership: the database owns its bindings; query results and change
// records are copies owned by the caller.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bnode/bnode.h"

namespace mgmtd
{

enum class change_kind { add, modify, del };

// "add", "modify", "delete": the change_type texts of a change notification.
const char *change_kind_name(change_kind kind);

struct db_change {
    change_kind kind;
    std::string name;
    owned<bn_binding> prev; // null for add
    owned<bn_binding> next; // null for delete
};

// One node of a set request (the binding is borrowed).
struct set_op {
    uint32 subop;
    const bn_binding *binding;
};

class node_db
{
  public:
    using map_t = std::map<std::string, owned<bn_binding>>;

    // Replaces the database with the `set` lines of `path` ("#" comments and
    // blank lines allowed).  The values loaded are also the ones a reset
    // returns to.  On failure nothing changes; `*error` says which line and why.
    [[nodiscard]] int load_file(const std::string &path, std::string *error);

    // A copy of the node named `name` (null with success when absent).
    [[nodiscard]] int get(const char *name, bn_binding **ret) const;
    // Appends copies of the nodes below `name`, in name order: every node
    // of the subtree with `subtree`, else the direct children.  A direct
    // child that exists only as the parent of deeper nodes is reported as a
    // `string` node holding its own last name part, as instance nodes are.
    [[nodiscard]] int iterate(const char *name, bool subtree, bn_binding_array *out) const;

    // Applies the nodes of one set request: create (refused for a node that
    // exists), modify (sets the value; creates an absent node; the type of
    // an existing node may not change), delete (the node and everything
    // below it; something must exist), reset (back to the loaded value, or
    // deleted when the file had none).  On failure nothing changes and
    // `*error` names the node.
    [[nodiscard]] int apply(const std::vector<set_op> &ops, std::vector<db_change> *changes,
                            std::string *error);

    size_t size() const { return nodes_.size(); }

  private:
    map_t nodes_;
    map_t loaded_;
};

// The canonical spelling of an absolute node name (parts joined again), so
// that "/a//b/" and "/a/b" are one node.  False for a name that is empty,
// relative, or has no parts.
bool canonical_name(const char *name, std::string *ret);

} // namespace mgmtd
