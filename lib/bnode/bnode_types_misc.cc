// The type-name converter, the validation helpers of configuration checks,
// and the attribute array.
#include <strings.h>

#include <cstring>

#include "bnode/bnode_types.h"
#include "util/string_map.h"
#include "util/tstr_array.h"

int bn_init_type_converter(void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    owned<smap> map;
    bail_error(smap_new(map.out()));
    for (const lc_enum_string_map *e = bn_type_name_map; e->lesm_name; ++e) {
        // "none" and "any" are not types a value can be given in.
        if (e->lesm_value == bt_none || e->lesm_value == bt_any) continue;
        bail_error(smap_insert_str(map.get(), uint32(e->lesm_value), e->lesm_name));
    }
    *ret = map.release();
    return 0;
}

int bn_get_type_for_str(const void *converter, const char *name, bn_type *ret_type)
{
    bail_null(ret_type);
    *ret_type = bt_NONE;
    bail_null(converter);
    bail_null(name);
    uint32 code = 0;
    bail_error_quiet(smap_get_id_str(static_cast<const smap *>(converter), name, &code));
    *ret_type = code;
    return 0;
}

int bn_deinit_type_converter(void **converter)
{
    if (converter == nullptr) return 0;
    smap *map = static_cast<smap *>(*converter);
    *converter = nullptr;
    return smap_free(&map);
}

namespace
{

char fold(char c, bool case_sensitive)
{
    return case_sensitive || c < 'A' || c > 'Z' ? c : char(c - 'A' + 'a');
}

// True when byte `c` occurs in any string of `set`.
bool in_char_set(char c, bool case_sensitive, const tstr_array *set)
{
    const uint32 n = tstr_array_length_quick(set);
    for (uint32 i = 0; i < n; ++i) {
        const char *s = tstr_array_get_str_quick(set, i);
        for (; s && *s; ++s)
            if (fold(*s, case_sensitive) == fold(c, case_sensitive)) return true;
    }
    return false;
}

} // namespace

bool bn_str_limit_choices(const char *text, bool case_sensitive, const tstr_array *choices)
{
    if (text == nullptr || choices == nullptr) return false;
    const uint32 n = tstr_array_length_quick(choices);
    for (uint32 i = 0; i < n; ++i) {
        const char *c = tstr_array_get_str_quick(choices, i);
        if (c && (case_sensitive ? strcmp(c, text) : strcasecmp(c, text)) == 0) return true;
    }
    return false;
}

bool bn_str_limit_char_range(const char *text, bool case_sensitive, const tstr_array *allowed,
                             const tstr_array *disallowed)
{
    if (text == nullptr) return false;
    for (const char *p = text; *p; ++p) {
        if (allowed && !in_char_set(*p, case_sensitive, allowed)) return false;
        if (disallowed && in_char_set(*p, case_sensitive, disallowed)) return false;
    }
    return true;
}

int bn_attrib_array_get_attrib_tstr(const bn_attrib_array *array, bn_attribute_id attribute_id,
                                    uint32 *ret_type_and_flags, tstring **ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    bail_null(array);
    const bn_attrib *a = bn_attrib_array_get_quick(array, attribute_id);
    if (a == nullptr) return 0;
    bail_error_quiet(bn_attrib_get_tstr(a, nullptr, bt_NONE, ret_type_and_flags, ret));
    return 0;
}
