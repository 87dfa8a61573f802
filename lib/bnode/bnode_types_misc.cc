// The type-name converter, the validation helpers of configuration checks,
// and the attribute array.
#include "bnode/bnode_types.h"

int bn_init_type_converter(void **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return lc_err_not_implemented;
}

int bn_get_type_for_str(const void *, const char *, bn_type *ret_type)
{
    bail_null(ret_type);
    *ret_type = bt_NONE;
    return lc_err_not_implemented;
}

int bn_deinit_type_converter(void **converter)
{
    if (converter) *converter = nullptr;
    return 0;
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
