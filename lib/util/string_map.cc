// The two-way id/name map over two hash tables.
#include "util/string_map.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "util/hash_table.h"
#include "util/tstring.h"

struct smap {
    ht *by_name; // name bytes (own copy) -> id in the value pointer
    ht *by_id;   // id as a direct key of length 8 -> own copy of the name
};

namespace
{

constexpr int32 id_key_len = 8;

void *id_key(uint32 id)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(id));
}

uint32 id_of(const void *p)
{
    return static_cast<uint32>(reinterpret_cast<uintptr_t>(p));
}

char *copy_text(const void *p, uint32 len)
{
    char *c = static_cast<char *>(std::malloc(size_t{len} + 1));
    if (!c) return nullptr;
    if (len) std::memcpy(c, p, len);
    c[len] = '\0';
    return c;
}

// Name table: copies the key, the value is the id itself.
int name_set(const void *key, uint32 key_len, void *value, void **ret_key, uint32 *ret_key_len,
             void **ret_value)
{
    *ret_key = copy_text(key, key_len);
    bail_null(*ret_key);
    *ret_key_len = key_len;
    *ret_value = value;
    return 0;
}

void name_free(void *key, uint32, void *)
{
    std::free(key);
}

// Id table: the key is the id itself, the value a copy of the name.
int id_set(const void *key, uint32 key_len, void *value, void **ret_key, uint32 *ret_key_len,
           void **ret_value)
{
    *ret_value = copy_text(value, static_cast<uint32>(std::strlen(static_cast<char *>(value))));
    bail_null(*ret_value);
    *ret_key = const_cast<void *>(key);
    *ret_key_len = key_len;
    return 0;
}

void id_free(void *, uint32, void *value)
{
    std::free(value);
}

int insert_bytes(smap *map, uint32 id, const char *name_in, uint32 len)
{
    bail_null(map);
    bail_null(name_in);
    // The caller may pass text this map lent out, which the updates free.
    lc_malloc_ptr<char> copy{copy_text(name_in, len)};
    bail_null(copy);
    const char *name = copy.get();
    // Keep the map one to one: forget the old partner of either side.
    tbool found = false;
    void *old = nullptr;
    bail_error(ht_lookup(map->by_id, id_key(id), id_key_len, &found, nullptr, nullptr, &old));
    if (found) {
        const char *old_name = static_cast<const char *>(old);
        (void)ht_delete(map->by_name, old_name, -1);
    }
    bail_error(
        ht_lookup(map->by_name, name, static_cast<int32>(len), &found, nullptr, nullptr, &old));
    if (found) (void)ht_delete(map->by_id, id_key(id_of(old)), id_key_len);

    bail_error(ht_insert(map->by_name, name, static_cast<int32>(len), id_key(id)));
    const int err = ht_insert(map->by_id, id_key(id), id_key_len, const_cast<char *>(name));
    if (err) (void)ht_delete(map->by_name, name, static_cast<int32>(len));
    bail_error(err);
    return 0;
}

int lookup_name(const smap *map, uint32 id, const char **ret)
{
    bail_null(map);
    tbool found = false;
    void *v = nullptr;
    bail_error(ht_lookup(map->by_id, id_key(id), id_key_len, &found, nullptr, nullptr, &v));
    if (!found) return lc_err_not_found;
    *ret = static_cast<const char *>(v);
    return 0;
}

int lookup_id(const smap *map, const char *name, uint32 len, uint32 *ret)
{
    bail_null(map);
    bail_null(name);
    tbool found = false;
    void *v = nullptr;
    bail_error(
        ht_lookup(map->by_name, name, static_cast<int32>(len), &found, nullptr, nullptr, &v));
    if (!found) return lc_err_not_found;
    *ret = id_of(v);
    return 0;
}

} // namespace

int smap_new(smap **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<smap> map{static_cast<smap *>(std::calloc(1, sizeof(smap)))};
    bail_null(map.get());
    ht_options o = ht_default_options;
    o.set = name_set;
    o.free = name_free;
    bail_error(ht_new(&map->by_name, &o));
    o.hash = ht_hash_direct_func;
    o.key_equal = ht_key_equal_direct_func;
    o.set = id_set;
    o.free = id_free;
    bail_error(ht_new(&map->by_id, &o));
    *ret = map.release();
    return 0;
}

int smap_free(smap **map)
{
    bail_null(map);
    if (!*map) return 0;
    (void)ht_free(&(*map)->by_name);
    (void)ht_free(&(*map)->by_id);
    std::free(*map);
    *map = nullptr;
    return 0;
}

int smap_insert(smap *map, uint32 id, const tstring *name)
{
    bail_null(name);
    // The id table stores text up to the terminator: no embedded zeros.
    bail_require(std::strlen(name->buf) == name->length);
    return insert_bytes(map, id, name->buf, name->length);
}

int smap_insert_str(smap *map, uint32 id, const char *name)
{
    bail_null(name);
    return insert_bytes(map, id, name, static_cast<uint32>(std::strlen(name)));
}

int smap_get_string(const smap *map, uint32 id, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    const char *s = nullptr;
    const int err = lookup_name(map, id, &s);
    if (err) return err;
    bail_error(ts_new_str(ret, s));
    return 0;
}

int smap_get_string_str(const smap *map, uint32 id, const char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return lookup_name(map, id, ret);
}

int smap_get_id(const smap *map, const tstring *name, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(name);
    return lookup_id(map, name->buf, name->length, ret);
}

int smap_get_id_str(const smap *map, const char *name, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(name);
    return lookup_id(map, name, static_cast<uint32>(std::strlen(name)), ret);
}
