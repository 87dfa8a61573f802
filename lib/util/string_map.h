// `smap`: a two-way map between numeric ids and names, built from two hash
// tables (name to id, id to name).  The map keeps its own copies of the
// names; what it lends out (smap_get_string_str) stays valid until the entry
// is replaced or the map freed.  A missing entry is lc_err_not_found,
// returned unlogged.
#pragma once

#include "log/logging.h"

struct smap;
struct tstring;

[[nodiscard]] int smap_new(smap **ret);
int smap_free(smap **map);
LC_OWNED_FREE(smap, smap_free)

// Maps `id` and `name` to each other.  An earlier entry of the same id or
// the same name is dropped in both directions, so the map stays one to one.
[[nodiscard]] int smap_insert(smap *map, uint32 id, const tstring *name);
[[nodiscard]] int smap_insert_str(smap *map, uint32 id, const char *name);

// The name of `id`: a new string owned by the caller, or borrowed text.
[[nodiscard]] int smap_get_string(const smap *map, uint32 id, tstring **ret);
[[nodiscard]] int smap_get_string_str(const smap *map, uint32 id, const char **ret);

// The id of `name`.
[[nodiscard]] int smap_get_id(const smap *map, const tstring *name, uint32 *ret);
[[nodiscard]] int smap_get_id_str(const smap *map, const char *name, uint32 *ret);
