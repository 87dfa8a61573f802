// The stand-in's node database (see mgmtd_db.h).
#include "mgmtd_db.h"

#include <cstdlib>
#include <fstream>

#include "bnode/bnode.h"
#include "mgmt/bnode_proto.h"
#include "script_words.h"
#include "util/tstr_array.h"

namespace mgmtd
{

const char *change_kind_name(change_kind kind)
{
    switch (kind) {
    case change_kind::add:
        return "add";
    case change_kind::modify:
        return "modify";
    case change_kind::del:
        return "delete";
    }
    return "?";
}

bool canonical_name(const char *name, std::string *ret)
{
    ret->clear();
    if (!name || name[0] != '/') return false;
    owned<tstr_array> parts;
    bool absolute = false;
    if (bn_binding_name_to_parts(name, parts.out(), &absolute) != 0 || !parts ||
        tstr_array_length_quick(parts.get()) == 0)
        return false;
    char *raw = nullptr;
    if (bn_binding_name_parts_to_name(parts.get(), true, &raw) != 0 || !raw) return false;
    const lc_malloc_ptr<char> joined{raw};
    *ret = joined.get();
    return true;
}

namespace
{

int dup_named(const bn_binding *src, const std::string &name, bn_binding **ret)
{
    *ret = nullptr;
    owned<bn_binding> b;
    bail_error(bn_binding_dup(src, b.out()));
    bail_error(bn_binding_set_name(b.get(), name.c_str()));
    *ret = b.release();
    return 0;
}

int dup_map(const node_db::map_t &src, node_db::map_t *ret)
{
    ret->clear();
    for (const auto &[name, b] : src) {
        owned<bn_binding> copy;
        bail_error(bn_binding_dup(b.get(), copy.out()));
        ret->emplace(name, std::move(copy));
    }
    return 0;
}

// The value's type of a binding (bt_NONE when it has no value).
bn_type value_type(const bn_binding *b)
{
    const bn_attrib *a = nullptr;
    if (bn_binding_get_attrib(b, ba_value, &a) != 0 || !a) return bt_NONE;
    return a->type;
}

bool has_value(const bn_binding *b)
{
    const bn_attrib *a = nullptr;
    return bn_binding_get_attrib(b, ba_value, &a) == 0 && a &&
           !(a->type_flags & (btf_no_value | btf_deleted));
}

// The names that start with "<name>/" form one run in byte order.
std::string subtree_prefix(const std::string &name)
{
    return name + "/";
}

bool in_subtree(const std::string &candidate, const std::string &prefix)
{
    return candidate.compare(0, prefix.size(), prefix) == 0;
}

// The first name part of `rest` (the text after "<parent>/"), escapes kept.
std::string first_part(const std::string &rest)
{
    size_t i = 0;
    while (i < rest.size()) {
        if (rest[i] == '\\' && i + 1 < rest.size()) {
            i += 2;
            continue;
        }
        if (rest[i] == '/') break;
        ++i;
    }
    return rest.substr(0, i);
}

struct staged {
    node_db::map_t nodes;
    std::vector<db_change> changes;
};

int record(staged *s, change_kind kind, const std::string &name, const bn_binding *prev,
           const bn_binding *next)
{
    db_change c{kind, name, {}, {}};
    if (prev) bail_error(dup_named(prev, name, c.prev.out()));
    if (next) bail_error(dup_named(next, name, c.next.out()));
    s->changes.push_back(std::move(c));
    return 0;
}

int put(staged *s, const std::string &name, const bn_binding *value)
{
    owned<bn_binding> copy;
    bail_error(dup_named(value, name, copy.out()));
    auto it = s->nodes.find(name);
    if (it == s->nodes.end()) {
        bail_error(record(s, change_kind::add, name, nullptr, copy.get()));
        s->nodes.emplace(name, std::move(copy));
    } else {
        bail_error(record(s, change_kind::modify, name, it->second.get(), copy.get()));
        it->second = std::move(copy);
    }
    return 0;
}

// Removes `name` and its subtree; the number removed in `*ret_count`.
int remove_tree(staged *s, const std::string &name, uint32 *ret_count)
{
    *ret_count = 0;
    auto self = s->nodes.find(name);
    if (self != s->nodes.end()) {
        bail_error(record(s, change_kind::del, name, self->second.get(), nullptr));
        s->nodes.erase(self);
        ++*ret_count;
    }
    const std::string prefix = subtree_prefix(name);
    auto it = s->nodes.lower_bound(prefix);
    while (it != s->nodes.end() && in_subtree(it->first, prefix)) {
        bail_error(record(s, change_kind::del, it->first, it->second.get(), nullptr));
        it = s->nodes.erase(it);
        ++*ret_count;
    }
    return 0;
}

int apply_one(staged *s, const node_db::map_t &loaded, const set_op &op, std::string *error)
{
    const tstring *raw = bn_binding_get_name_quick(op.binding);
    const char *raw_name = raw ? ts_str_maybe_empty(raw) : "";
    std::string name;
    if (!canonical_name(raw_name, &name)) {
        *error = std::string("invalid node name \"") + raw_name + "\"";
        return lc_err_bad_name;
    }
    const bool exists = s->nodes.count(name) != 0;
    switch (op.subop) {
    case bsso_create:
        if (exists) {
            *error = "node " + name + " exists already";
            return lc_err_exists;
        }
        [[fallthrough]];
    case bsso_modify:
        if (!has_value(op.binding)) {
            *error = "no value given for " + name;
            return lc_err_parse_error;
        }
        if (exists && value_type(s->nodes[name].get()) != value_type(op.binding)) {
            *error = "node " + name + " is of type " +
                     bn_type_to_name(value_type(s->nodes[name].get())) + ", not " +
                     bn_type_to_name(value_type(op.binding));
            return lc_err_bad_type;
        }
        return put(s, name, op.binding);
    case bsso_delete: {
        uint32 removed = 0;
        bail_error(remove_tree(s, name, &removed));
        if (removed == 0) {
            *error = "no node " + name;
            return lc_err_not_found;
        }
        return 0;
    }
    case bsso_reset: {
        auto def = loaded.find(name);
        if (def != loaded.end()) return put(s, name, def->second.get());
        if (!exists) return 0;
        auto it = s->nodes.find(name);
        bail_error(record(s, change_kind::del, name, it->second.get(), nullptr));
        s->nodes.erase(it);
        return 0;
    }
    default:
        *error = std::string("set sub-operation ") +
                 lc_enum_to_string_quiet(bn_set_subop_map, static_cast<int32>(op.subop)) +
                 " is not supported on " + name;
        return lc_err_not_implemented;
    }
}

} // namespace

int node_db::load_file(const std::string &path, std::string *error)
{
    error->clear();
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open " + path;
        return lc_err_file_not_found;
    }
    staged s;
    std::string line;
    std::vector<std::string> words;
    for (uint32 lineno = 1; std::getline(in, line); ++lineno) {
        std::string why;
        const std::string where = path + ":" + std::to_string(lineno) + ": ";
        if (!script::split_words(line, &words, &why)) {
            *error = where + why;
            return lc_err_parse_error;
        }
        if (words.empty()) continue;
        if (words[0] != "set" || words.size() != 4) {
            *error = where + "expected: set NAME TYPE VALUE";
            return lc_err_parse_error;
        }
        owned<bn_binding> b;
        if (!script::make_binding(words[1], words[2], words[3], b.out(), &why)) {
            *error = where + why;
            return lc_err_bad_type;
        }
        const int err = apply_one(&s, {}, set_op{bsso_modify, b.get()}, &why);
        if (err != 0) {
            *error = where + why;
            return err;
        }
    }
    map_t defaults;
    bail_error(dup_map(s.nodes, &defaults));
    nodes_ = std::move(s.nodes);
    loaded_ = std::move(defaults);
    return 0;
}

int node_db::get(const char *name, bn_binding **ret) const
{
    bail_null(ret);
    *ret = nullptr;
    std::string key;
    if (!canonical_name(name, &key)) return 0;
    auto it = nodes_.find(key);
    if (it == nodes_.end()) return 0;
    return bn_binding_dup(it->second.get(), ret);
}

int node_db::iterate(const char *name, bool subtree, bn_binding_array *out) const
{
    bail_null(out);
    std::string key;
    // The root ("/") has no parts; every node is below it.
    const bool root = name && std::string(name).find_first_not_of('/') == std::string::npos;
    if (!root && !canonical_name(name, &key)) return 0;
    const std::string prefix = root ? "/" : subtree_prefix(key);
    std::string last_child;
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && in_subtree(it->first, prefix);
         ++it) {
        if (subtree) {
            owned<bn_binding> copy;
            bail_error(bn_binding_dup(it->second.get(), copy.out()));
            bn_binding *c = copy.release();
            bail_error(bn_binding_array_append_takeover(out, &c));
            continue;
        }
        const std::string part = first_part(it->first.substr(prefix.size()));
        if (part == last_child) continue;
        last_child = part;
        const std::string child = prefix + part;
        owned<bn_binding> copy;
        if (child == it->first) {
            bail_error(bn_binding_dup(it->second.get(), copy.out()));
        } else {
            // Only deeper nodes exist: report the instance node itself.
            char *raw = nullptr;
            bail_error(bn_binding_name_get_last_part(child.c_str(), &raw));
            const lc_malloc_ptr<char> plain{raw};
            bail_error(bn_binding_new_str(copy.out(), child.c_str(), ba_value, bt_string, 0,
                                          plain ? plain.get() : ""));
        }
        bn_binding *c = copy.release();
        bail_error(bn_binding_array_append_takeover(out, &c));
    }
    return 0;
}

int node_db::apply(const std::vector<set_op> &ops, std::vector<db_change> *changes,
                   std::string *error)
{
    bail_null(changes);
    changes->clear();
    error->clear();
    staged s;
    bail_error(dup_map(nodes_, &s.nodes));
    for (const auto &op : ops) {
        if (!op.binding) continue;
        const int err = apply_one(&s, loaded_, op, error);
        if (err != 0) return err;
    }
    nodes_ = std::move(s.nodes);
    *changes = std::move(s.changes);
    return 0;
}

} // namespace mgmtd
