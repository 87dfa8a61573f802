// The chained hash table: lookup2 hashing, head-of-chain insertion and the
// fourfold resize rule.
#include "util/hash_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{

struct ht_node {
    void *key;
    uint32 key_len;
    uint32 hash; // kept so that a resize and a chain walk need not rehash
    void *value;
    ht_node *next;
};

} // namespace

struct ht {
    uint32 num_buckets;
    uint32 num_nodes;
    ht_node **buckets;
    tbool fail_on_existing;
    ht_hash_func hash;
    ht_key_equal_func key_equal;
    ht_key_value_set_func set;
    ht_key_value_dup_func dup;
    ht_key_value_free_func free;
};

const ht_options ht_default_options = {
    ht_hash_string_func,           ht_key_equal_string_func,       ht_key_value_set_default_func,
    ht_key_value_dup_default_func, ht_key_value_free_default_func, false};

// ---------------------------------------------------------------------------
// Hashing

namespace
{

constexpr uint32 bjh_golden_ratio = 0x9E3779B9;
constexpr uint32 ht_string_hash_initval = 0x12345678;

// clang-format off
inline void bjh_mix(uint32 &a, uint32 &b, uint32 &c)
{
    a -= b; a -= c; a ^= (c >> 13);
    b -= c; b -= a; b ^= (a << 8);
    c -= a; c -= b; c ^= (b >> 13);
    a -= b; a -= c; a ^= (c >> 12);
    b -= c; b -= a; b ^= (a << 16);
    c -= a; c -= b; c ^= (b >> 5);
    a -= b; a -= c; a ^= (c >> 3);
    b -= c; b -= a; b ^= (a << 10);
    c -= a; c -= b; c ^= (b >> 15);
}
// clang-format on

inline uint32 le32(const uint8 *k)
{
    return uint32{k[0]} | (uint32{k[1]} << 8) | (uint32{k[2]} << 16) | (uint32{k[3]} << 24);
}

} // namespace

uint32 ht_bjh_hash(const void *key, uint32 len, uint32 initval)
{
    const uint8 *k = static_cast<const uint8 *>(key);
    uint32 a = bjh_golden_ratio, b = bjh_golden_ratio, c = initval;
    uint32 left = len;
    while (left >= 12) {
        a += le32(k);
        b += le32(k + 4);
        c += le32(k + 8);
        bjh_mix(a, b, c);
        k += 12;
        left -= 12;
    }
    c += len;
    // The last block: the first byte of c is reserved for the length.
    switch (left) {
    case 11:
        c += uint32{k[10]} << 24;
        [[fallthrough]];
    case 10:
        c += uint32{k[9]} << 16;
        [[fallthrough]];
    case 9:
        c += uint32{k[8]} << 8;
        [[fallthrough]];
    case 8:
        b += uint32{k[7]} << 24;
        [[fallthrough]];
    case 7:
        b += uint32{k[6]} << 16;
        [[fallthrough]];
    case 6:
        b += uint32{k[5]} << 8;
        [[fallthrough]];
    case 5:
        b += k[4];
        [[fallthrough]];
    case 4:
        a += uint32{k[3]} << 24;
        [[fallthrough]];
    case 3:
        a += uint32{k[2]} << 16;
        [[fallthrough]];
    case 2:
        a += uint32{k[1]} << 8;
        [[fallthrough]];
    case 1:
        a += k[0];
        break;
    default:
        break;
    }
    bjh_mix(a, b, c);
    return c;
}

uint32 ht_hash_string_func(const void *key, uint32 key_len)
{
    return ht_bjh_hash(key, key_len, ht_string_hash_initval);
}

tbool ht_key_equal_string_func(const void *key_a, uint32 key_a_len, const void *key_b,
                               uint32 key_b_len)
{
    return key_a_len == key_b_len && (key_a_len == 0 || std::memcmp(key_a, key_b, key_a_len) == 0);
}

uint32 ht_hash_direct_func(const void *key, uint32 /*key_len*/)
{
    const uint64 v = reinterpret_cast<uintptr_t>(key);
    return static_cast<uint32>(v ^ (v >> 32));
}

tbool ht_key_equal_direct_func(const void *key_a, uint32 key_a_len, const void *key_b,
                               uint32 key_b_len)
{
    return key_a_len == key_b_len && key_a == key_b;
}

// ---------------------------------------------------------------------------
// String callbacks

namespace
{

char *copy_bytes(const void *p, uint32 len)
{
    char *c = static_cast<char *>(std::malloc(size_t{len} + 1));
    if (!c) return nullptr;
    if (len) std::memcpy(c, p, len);
    c[len] = '\0';
    return c;
}

int copy_string_pair(const void *key, uint32 key_len, const void *value, void **ret_key,
                     uint32 *ret_key_len, void **ret_value)
{
    bail_null(ret_key);
    bail_null(ret_key_len);
    bail_null(ret_value);
    *ret_key = nullptr;
    *ret_key_len = 0;
    *ret_value = nullptr;
    bail_require(key || key_len == 0);
    lc_malloc_ptr<char> k{copy_bytes(key, key_len)};
    bail_null(k);
    if (value) {
        lc_malloc_ptr<char> v{
            copy_bytes(value, static_cast<uint32>(std::strlen(static_cast<const char *>(value))))};
        bail_null(v);
        *ret_value = v.release();
    }
    *ret_key = k.release();
    *ret_key_len = key_len;
    return 0;
}

} // namespace

int ht_string_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                       uint32 *ret_key_len, void **ret_value)
{
    return copy_string_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

int ht_string_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                       uint32 *ret_key_len, void **ret_value)
{
    return copy_string_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

void ht_string_free_func(void *key, uint32 /*key_len*/, void *value)
{
    std::free(key);
    std::free(value);
}

// ---------------------------------------------------------------------------
// The table

namespace
{

ht_node **alloc_buckets(uint32 n)
{
    return static_cast<ht_node **>(std::calloc(n, sizeof(ht_node *)));
}

void release_node(const ht *t, ht_node *n)
{
    if (t->free) t->free(n->key, n->key_len, n->value);
    std::free(n);
}

void release_all(ht *t)
{
    for (uint32 b = 0; b < t->num_buckets; ++b) {
        ht_node *n = t->buckets[b];
        while (n) {
            ht_node *next = n->next;
            release_node(t, n);
            n = next;
        }
        t->buckets[b] = nullptr;
    }
    t->num_nodes = 0;
}

int resolve_len(const void *key, int32 key_len, uint32 *ret)
{
    *ret = 0;
    if (key_len == -1) {
        bail_null(key);
        *ret = static_cast<uint32>(std::strlen(static_cast<const char *>(key)));
        return 0;
    }
    bail_require(key_len >= 0);
    *ret = static_cast<uint32>(key_len);
    return 0;
}

// The link that points at the node of `key`, or the null link ending its
// chain.
ht_node **find_link(const ht *t, const void *key, uint32 key_len, uint32 hash)
{
    ht_node **link = &t->buckets[hash % t->num_buckets];
    while (*link) {
        const ht_node *n = *link;
        if (n->hash == hash && t->key_equal(n->key, n->key_len, key, key_len)) break;
        link = &(*link)->next;
    }
    return link;
}

int rebucket(ht *t, uint32 new_size)
{
    ht_node **fresh = alloc_buckets(new_size);
    bail_null(fresh);
    lc_log_basic(LCL_DEBUG, "resize ht from %d to %d", static_cast<int>(t->num_buckets),
                 static_cast<int>(new_size));
    for (uint32 b = 0; b < t->num_buckets; ++b) {
        ht_node *n = t->buckets[b];
        while (n) {
            ht_node *next = n->next;
            ht_node **head = &fresh[n->hash % new_size];
            n->next = *head;
            *head = n;
            n = next;
        }
    }
    std::free(t->buckets);
    t->buckets = fresh;
    t->num_buckets = new_size;
    return 0;
}

// Grows fourfold past three nodes per bucket; shrinks by fourfold steps when
// the buckets outnumber six times the nodes.  A failed resize is logged and
// the table goes on at its old size.
void maybe_resize(ht *t)
{
    const uint64 nodes = t->num_nodes;
    const uint64 buckets = t->num_buckets;
    uint64 size = buckets;
    if (nodes > ht_table_resize_growth_load_factor * buckets) {
        if (buckets >= ht_table_size_max) return;
        size = std::min<uint64>(buckets * ht_table_resize_factor, ht_table_size_max);
    } else if (buckets > std::max<uint64>(ht_table_size_initial,
                                          ht_table_resize_shrink_load_factor * nodes)) {
        do {
            size /= ht_table_resize_factor;
        } while (size > ht_table_resize_shrink_load_factor * nodes && size >= 128);
        size = std::max<uint64>(size, ht_table_size_initial);
    }
    if (size != buckets) (void)rebucket(t, static_cast<uint32>(size));
}

int unlink_key(ht *t, const void *key, int32 key_len, ht_node **ret)
{
    *ret = nullptr;
    bail_null(t);
    uint32 len = 0;
    bail_error(resolve_len(key, key_len, &len));
    ht_node **link = find_link(t, key, len, t->hash(key, len));
    if (!*link) return lc_err_not_found;
    *ret = *link;
    *link = (*link)->next;
    --t->num_nodes;
    maybe_resize(t);
    return 0;
}

int foreach_impl(ht *t, ht_foreach_func callback, void *data, int unlink_code)
{
    bail_null(t);
    bail_null(callback);
    int result = 0;
    bool stop = false, changed = false;
    for (uint32 b = 0; b < t->num_buckets && !stop; ++b) {
        ht_node **link = &t->buckets[b];
        while (*link && !stop) {
            ht_node *n = *link;
            const int r = callback(n->key, n->key_len, n->value, data);
            switch (r) {
            case 0:
                link = &n->next;
                break;
            case lc_err_foreach_delete:
            case lc_err_foreach_remove:
                if (r != unlink_code) {
                    lc_bail_report_require(__func__, __FILE__, __LINE__);
                    result = lc_err_assertion_failed;
                    stop = true;
                    break;
                }
                *link = n->next;
                --t->num_nodes;
                changed = true;
                if (r == lc_err_foreach_delete)
                    release_node(t, n);
                else
                    std::free(n); // the callback took key and value
                break;
            case lc_err_foreach_halt_error:
                result = lc_err_generic_error;
                stop = true;
                break;
            case lc_err_foreach_halt:
                stop = true;
                break;
            case lc_err_cancelled:
                result = lc_err_cancelled;
                stop = true;
                break;
            default:
                result = lc_err_generic_error;
                link = &n->next;
                break;
            }
        }
    }
    // Resizing inside the loop would move the nodes under it.
    if (changed) maybe_resize(t);
    return result;
}

} // namespace

int ht_new(ht **ret, const ht_options *opts)
{
    bail_null(ret);
    *ret = nullptr;
    if (!opts) opts = &ht_default_options;
    owned<ht> t{static_cast<ht *>(std::calloc(1, sizeof(ht)))};
    bail_null(t.get());
    t->buckets = alloc_buckets(ht_table_size_initial);
    bail_null(t->buckets);
    t->num_buckets = ht_table_size_initial;
    t->fail_on_existing = opts->fail_on_existing;
    t->hash = opts->hash ? opts->hash : ht_hash_default_func;
    t->key_equal = opts->key_equal ? opts->key_equal : ht_key_equal_default_func;
    t->set = opts->set;
    t->dup = opts->dup;
    t->free = opts->free;
    *ret = t.release();
    return 0;
}

int ht_free(ht **t)
{
    bail_null(t);
    if (!*t) return 0;
    if ((*t)->buckets) release_all(*t);
    std::free((*t)->buckets);
    std::free(*t);
    *t = nullptr;
    return 0;
}

int ht_empty(ht *t)
{
    bail_null(t);
    release_all(t);
    if (t->num_buckets != ht_table_size_initial) {
        ht_node **fresh = alloc_buckets(ht_table_size_initial);
        if (fresh) { // otherwise keep the larger, already empty vector
            std::free(t->buckets);
            t->buckets = fresh;
            t->num_buckets = ht_table_size_initial;
        }
    }
    return 0;
}

int ht_duplicate(const ht *src, ht **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    // Shared pointers under a releasing table would be freed twice.
    bail_require(src->dup || !src->free);
    const ht_options opts{src->hash, src->key_equal, src->set,
                          src->dup,  src->free,      src->fail_on_existing};
    owned<ht> d;
    bail_error(ht_new(d.out(), &opts));
    if (src->num_buckets != d->num_buckets) {
        ht_node **fresh = alloc_buckets(src->num_buckets);
        bail_null(fresh);
        std::free(d->buckets);
        d->buckets = fresh;
        d->num_buckets = src->num_buckets;
    }
    // Same bucket count: each chain is copied in its own order.
    for (uint32 b = 0; b < src->num_buckets; ++b) {
        ht_node **tail = &d->buckets[b];
        for (const ht_node *n = src->buckets[b]; n; n = n->next) {
            lc_malloc_ptr<ht_node> c{static_cast<ht_node *>(std::calloc(1, sizeof(ht_node)))};
            bail_null(c);
            c->hash = n->hash;
            if (src->dup) {
                bail_error(src->dup(n->key, n->key_len, n->value, &c->key, &c->key_len, &c->value));
            } else {
                c->key = n->key;
                c->key_len = n->key_len;
                c->value = n->value;
            }
            *tail = c.release();
            tail = &(*tail)->next;
            ++d->num_nodes;
        }
    }
    *ret = d.release();
    return 0;
}

int ht_insert(ht *t, const void *key, int32 key_len, void *value)
{
    bail_null(t);
    uint32 len = 0;
    bail_error(resolve_len(key, key_len, &len));
    const uint32 hash = t->hash(key, len);
    ht_node **link = find_link(t, key, len, hash);
    if (*link) {
        if (t->fail_on_existing) return lc_err_exists;
        ht_node *old = *link;
        *link = old->next;
        --t->num_nodes;
        release_node(t, old);
    }
    lc_malloc_ptr<ht_node> n{static_cast<ht_node *>(std::calloc(1, sizeof(ht_node)))};
    bail_null(n);
    if (t->set) {
        bail_error(t->set(key, len, value, &n->key, &n->key_len, &n->value));
    } else {
        n->key = const_cast<void *>(key);
        n->key_len = len;
        n->value = value;
    }
    n->hash = hash;
    ht_node **head = &t->buckets[hash % t->num_buckets];
    n->next = *head;
    *head = n.release();
    ++t->num_nodes;
    maybe_resize(t);
    return 0;
}

int ht_lookup(const ht *t, const void *key, int32 key_len, tbool *ret_found, const void **ret_key,
              uint32 *ret_key_len, void **ret_value)
{
    if (ret_found) *ret_found = false;
    if (ret_key) *ret_key = nullptr;
    if (ret_key_len) *ret_key_len = 0xFFFFFFFF;
    if (ret_value) *ret_value = nullptr;
    bail_null(t);
    uint32 len = 0;
    bail_error(resolve_len(key, key_len, &len));
    const ht_node *n = *find_link(t, key, len, t->hash(key, len));
    if (!n) return 0;
    if (ret_found) *ret_found = true;
    if (ret_key) *ret_key = n->key;
    if (ret_key_len) *ret_key_len = n->key_len;
    if (ret_value) *ret_value = n->value;
    return 0;
}

int ht_delete(ht *t, const void *key, int32 key_len)
{
    ht_node *n = nullptr;
    const int err = unlink_key(t, key, key_len, &n);
    if (err) return err;
    release_node(t, n);
    return 0;
}

int ht_remove(ht *t, const void *key, int32 key_len, void **ret_key, void **ret_value)
{
    if (ret_key) *ret_key = nullptr;
    if (ret_value) *ret_value = nullptr;
    ht_node *n = nullptr;
    const int err = unlink_key(t, key, key_len, &n);
    if (err) return err;
    if (ret_key) *ret_key = n->key;
    if (ret_value) *ret_value = n->value;
    std::free(n);
    return 0;
}

int ht_get_size(const ht *t, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(t);
    *ret = t->num_nodes;
    return 0;
}

uint32 ht_get_num_nodes_quick(const ht *t)
{
    return t ? t->num_nodes : 0;
}

uint32 ht_get_num_buckets_quick(const ht *t)
{
    return t ? t->num_buckets : 0;
}

int ht_foreach(const ht *t, ht_foreach_func callback, void *data)
{
    // Nothing is unlinked in the plain loop (an unlink request is refused
    // before anything changes), so the table is not modified.
    return foreach_impl(const_cast<ht *>(t), callback, data, 0);
}

int ht_foreach_delete(ht *t, ht_foreach_func callback, void *data)
{
    return foreach_impl(t, callback, data, lc_err_foreach_delete);
}

int ht_foreach_remove(ht *t, ht_foreach_func callback, void *data)
{
    return foreach_impl(t, callback, data, lc_err_foreach_remove);
}
