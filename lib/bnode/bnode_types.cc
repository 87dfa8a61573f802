// The type tables (names, classes, sizes), attribute ids, and the plain
// operations on one attribute record: creation, release, copy and field
// access.
#include "bnode/bnode_types.h"

#include "bnode/bnode_types_internal.h"

// ---------------------------------------------------------------------------
// Names

const lc_enum_string_map bn_type_name_map[] = {
    {bt_uint8, "uint8"},
    {bt_int8, "int8"},
    {bt_uint16, "uint16"},
    {bt_int16, "int16"},
    {bt_uint32, "uint32"},
    {bt_int32, "int32"},
    {bt_uint64, "uint64"},
    {bt_int64, "int64"},
    {bt_bool, "bool"},
    {bt_float32, "float32"},
    {bt_float64, "float64"},
    {bt_char, "char"},
    {bt_ipaddr, "ipaddr"},
    {bt_ipprefix, "ipprefix"},
    {bt_ipv4addr, "ipv4addr"},
    {bt_ipv4prefix, "ipv4prefix"},
    {bt_macaddr802, "macaddr802"},
    {bt_ipv6addr, "ipv6addr"},
    {bt_ipv6prefix, "ipv6prefix"},
    {bt_date, "date"},
    {bt_time_sec, "time_sec"},
    {bt_time_ms, "time_ms"},
    {bt_time_us, "time_us"},
    {bt_datetime_sec, "datetime_sec"},
    {bt_datetime_ms, "datetime_ms"},
    {bt_datetime_us, "datetime_us"},
    {bt_duration_sec, "duration_sec"},
    {bt_duration_ms, "duration_ms"},
    {bt_duration_us, "duration_us"},
    {bt_none, "none"},
    {bt_any, "any"},
    {bt_btype, "btype"},
    {bt_attribute, "attribute"},
    {bt_string, "string"},
    {bt_utf8_string, "utf8_string"},
    {bt_binary, "binary"},
    {bt_oid, "oid"},
    {bt_link, "link"},
    {bt_name, "name"},
    {bt_hostname, "hostname"},
    {bt_uri, "uri"},
    {bt_charlist, "charlist"},
    {bt_regex, "regex"},
    {bt_globpattern, "globpattern"},
    {bt_secret, "secret"},
    {0, nullptr},
};

const lc_enum_string_map bn_attribute_id_name_map[] = {
    {ba_value, "value"},
    {ba_none, "none"},
    {ba_product_name, "product_name"},
    {ba_module_name, "module_name"},
    {ba_module_version, "module_version"},
    {ba_node_info, "node_info"},
    {ba_capability_mask, "capability_mask"},
    {ba_revision_id, "revision_id"},
    {ba_node_count, "node_count"},
    {0, nullptr},
};

const char *bn_type_to_name(bn_type type)
{
    return lc_enum_to_string_quiet(bn_type_name_map, int32(type));
}

bool bn_attribute_id_valid(bn_attribute_id id)
{
    return id >= ba_value && id <= ba_LAST && id != ba_none;
}

// ---------------------------------------------------------------------------
// Type classes

namespace
{

bool class_holds(bn_type type, uint32 flags, uint8 bits)
{
    if (flags & (btf_invalid | btf_no_value)) return false;
    return (detail::type_info(type).classes & bits) != 0;
}

} // namespace

bool bn_type_allocs(bn_type type, uint32 flags)
{
    return class_holds(type, flags, detail::btc_allocs);
}
bool bn_type_string(bn_type type, uint32 flags)
{
    return class_holds(type, flags, detail::btc_string);
}
bool bn_type_tbuf(bn_type type, uint32 flags)
{
    return class_holds(type, flags, detail::btc_tbuf);
}
bool bn_type_numeric(bn_type type, uint32 flags)
{
    return class_holds(type, flags, detail::btc_numeric);
}
bool bn_type_ordered_numeric(bn_type type, uint32 flags)
{
    return class_holds(type, flags, detail::btc_ordered);
}

int bn_type_fixed_size(bn_type type, uint32 flags, uint32 *ret_size, tbool *ret_numeric)
{
    if (ret_size) *ret_size = 0;
    if (ret_numeric) *ret_numeric = 0;
    bail_require(type >= 1 && type <= bn_type_fixed_limit);
    bail_require((flags & (btf_invalid | btf_no_value)) == 0);
    const detail::bn_type_info &info = detail::type_info(type);
    if (!(info.classes & detail::btc_fixed)) return lc_err_bad_type;
    if (ret_size) *ret_size = info.size;
    if (ret_numeric) *ret_numeric = type != bt_macaddr802;
    return 0;
}
