// Hash-table callbacks for tstring keys and values and for tstr_array values
// (declared in util/hash_table.h, defined here beside the string types).
//
// tstring keys are `const tstring *`, hashed and compared by their bytes; the
// key length the table passes is ignored.  The tstr_array callbacks take
// character-string keys of the given length, copied as the string callbacks
// copy them.  A failing set or dup leaves nothing allocated; own_set then
// leaves the value with the caller.
#include <cstdlib>
#include <cstring>

#include "log/logging.h"
#include "util/hash_table.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

const tstring *as_tstring(const void *p)
{
    return static_cast<const tstring *>(p);
}

char *copy_key(const void *key, uint32 key_len)
{
    char *c = static_cast<char *>(malloc(size_t{key_len} + 1));
    if (c == nullptr) return nullptr;
    if (key_len > 0) memcpy(c, key, key_len);
    c[key_len] = '\0';
    return c;
}

int clear_outputs(void **ret_key, uint32 *ret_key_len, void **ret_value)
{
    bail_null(ret_key);
    bail_null(ret_key_len);
    bail_null(ret_value);
    *ret_key = nullptr;
    *ret_key_len = 0;
    *ret_value = nullptr;
    return 0;
}

int copy_tstring_pair(const void *key, uint32 key_len, const void *value, void **ret_key,
                      uint32 *ret_key_len, void **ret_value)
{
    bail_error(clear_outputs(ret_key, ret_key_len, ret_value));
    owned<tstring> k;
    bail_error(ts_dup_maybe(as_tstring(key), k.out()));
    owned<tstring> v;
    bail_error(ts_dup_maybe(as_tstring(value), v.out()));
    *ret_key = k.release();
    *ret_key_len = key_len;
    *ret_value = v.release();
    return 0;
}

// Copies a character-string key and stores `value` as given.
int key_with_value(const void *key, uint32 key_len, tstr_array *value, void **ret_key,
                   uint32 *ret_key_len, void **ret_value)
{
    bail_require(key != nullptr || key_len == 0);
    char *k = copy_key(key, key_len);
    bail_null(k);
    *ret_key = k;
    *ret_key_len = key_len;
    *ret_value = value;
    return 0;
}

int copy_tstr_array_pair(const void *key, uint32 key_len, const void *value, void **ret_key,
                         uint32 *ret_key_len, void **ret_value)
{
    bail_error(clear_outputs(ret_key, ret_key_len, ret_value));
    owned<tstr_array> v;
    if (value) bail_error(tstr_array_duplicate(static_cast<const tstr_array *>(value), v.out()));
    bail_error(key_with_value(key, key_len, v.get(), ret_key, ret_key_len, ret_value));
    v.release();
    return 0;
}

} // namespace

uint32 ht_hash_tstring_func(const void *key, uint32 /*key_len*/)
{
    const tstring *ts = as_tstring(key);
    return ts ? ht_hash_string_func(ts->buf, ts->length) : ht_hash_string_func("", 0);
}

tbool ht_key_equal_tstring_func(const void *key_a, uint32 /*key_a_len*/, const void *key_b,
                                uint32 /*key_b_len*/)
{
    const tstring *a = as_tstring(key_a);
    const tstring *b = as_tstring(key_b);
    if (a == nullptr || b == nullptr) return a == b;
    return a->length == b->length && memcmp(a->buf, b->buf, a->length) == 0;
}

int ht_tstring_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                        uint32 *ret_key_len, void **ret_value)
{
    return copy_tstring_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

int ht_tstring_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                        uint32 *ret_key_len, void **ret_value)
{
    return copy_tstring_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

void ht_tstring_free_func(void *key, uint32 /*key_len*/, void *value)
{
    tstring *k = static_cast<tstring *>(key);
    tstring *v = static_cast<tstring *>(value);
    (void)ts_free(&k);
    (void)ts_free(&v);
}

int ht_tstr_array_dup_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                               uint32 *ret_key_len, void **ret_value)
{
    return copy_tstr_array_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

int ht_tstr_array_own_set_func(const void *key, uint32 key_len, void *value, void **ret_key,
                               uint32 *ret_key_len, void **ret_value)
{
    bail_error(clear_outputs(ret_key, ret_key_len, ret_value));
    return key_with_value(key, key_len, static_cast<tstr_array *>(value), ret_key, ret_key_len,
                          ret_value);
}

int ht_tstr_array_dup_func(const void *key, uint32 key_len, const void *value, void **ret_key,
                           uint32 *ret_key_len, void **ret_value)
{
    return copy_tstr_array_pair(key, key_len, value, ret_key, ret_key_len, ret_value);
}

void ht_tstr_array_free_func(void *key, uint32 /*key_len*/, void *value)
{
    free(key);
    tstr_array *v = static_cast<tstr_array *>(value);
    (void)tstr_array_free(&v);
}
