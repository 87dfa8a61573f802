// The type-name converter, the validation helpers of configuration checks,
// and the attribute array.
#include "bnode/bnode_types.h"
#include "util/string_map.h"

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

bool bn_str_limit_choices(const char *, bool, const tstr_array *)
{
    return false;
}

bool bn_str_limit_char_range(const char *, bool, const tstr_array *, const tstr_array *)
{
    return false;
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
