// One attribute record: creation, release, deep copy, field access, and the
// per-type family of setters, constructors and getters, written once as
// templates over the type code and stamped out from BN_ATTRIB_TYPES.
#include <cstdlib>
#include <type_traits>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace detail
{

// Frees what the value area owns; the area is zeroed afterwards.
static void free_owned_value(bn_attrib *a)
{
    if (bn_type_string(a->type, a->type_flags))
        ts_free(&a->value.ts);
    else if (bn_type_tbuf(a->type, a->type_flags))
        tb_free(&a->value.tb);
    memset(a->value.bytes, 0, sizeof a->value.bytes);
    a->value_length = 0;
}

int attrib_reset_header(bn_attrib *a, bn_attribute_id id, bn_type type, uint32 flags)
{
    free_owned_value(a);
    a->attribute_id = id;
    a->type = type;
    a->type_flags = flags & btf_mask;
    return 0;
}

} // namespace detail

int bn_attrib_new(bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bn_attrib *a = static_cast<bn_attrib *>(calloc(1, sizeof(bn_attrib)));
    bail_null(a);
    a->type = bt_none;
    a->attribute_id = ba_none;
    *ret = a;
    return 0;
}

int bn_attrib_free(bn_attrib **attrib)
{
    if (attrib == nullptr || *attrib == nullptr) return 0;
    detail::free_owned_value(*attrib);
    free(*attrib);
    *attrib = nullptr;
    return 0;
}

int bn_attrib_free_value(bn_attrib *attrib)
{
    bail_null(attrib);
    return detail::attrib_reset_header(attrib, ba_none, bt_none, 0);
}

int bn_attrib_dup(const bn_attrib *src, bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);
    owned<bn_attrib> a;
    bail_error(bn_attrib_new(a.out()));
    a->type = src->type;
    a->type_flags = src->type_flags;
    a->attribute_id = src->attribute_id;
    if (bn_type_string(src->type, src->type_flags)) {
        if (src->value.ts) bail_error(ts_dup(src->value.ts, &a->value.ts));
    } else if (bn_type_tbuf(src->type, src->type_flags)) {
        if (src->value.tb) bail_error(tb_dup(src->value.tb, &a->value.tb));
    } else {
        bail_require(src->value_length <= bn_attrib_value_area_size);
        memcpy(a->value.bytes, src->value.bytes, src->value_length);
    }
    a->value_length = src->value_length;
    *ret = a.release();
    return 0;
}

int bn_attrib_get_type(const bn_attrib *attrib, bn_type *ret_type, uint32 *ret_flags)
{
    if (ret_type) *ret_type = bt_NONE;
    if (ret_flags) *ret_flags = 0;
    bail_null(attrib);
    if (ret_type) *ret_type = attrib->type;
    if (ret_flags) *ret_flags = attrib->type_flags;
    return 0;
}

int bn_attrib_set_type(bn_attrib *attrib, bn_type type)
{
    bail_null(attrib);
    // A change of type must not make the record misread what its value area
    // holds: across ownership classes the area has to be empty.
    const uint32 f = attrib->type_flags;
    const bool same_class = bn_type_string(attrib->type, f) == bn_type_string(type, f) &&
                            bn_type_tbuf(attrib->type, f) == bn_type_tbuf(type, f);
    if (!same_class) {
        static constexpr uint8 empty[bn_attrib_value_area_size] = {};
        bail_require(memcmp(attrib->value.bytes, empty, sizeof empty) == 0);
    }
    attrib->type = type;
    return 0;
}

int bn_attrib_get_attribute_id(const bn_attrib *attrib, bn_attribute_id *ret_id)
{
    bail_null(ret_id);
    *ret_id = ba_NONE;
    bail_null(attrib);
    *ret_id = attrib->attribute_id;
    return 0;
}

int bn_attrib_set_attribute_id(bn_attrib *attrib, bn_attribute_id id)
{
    bail_null(attrib);
    attrib->attribute_id = id;
    return 0;
}

int bn_attrib_fixed_size(const bn_attrib *attrib, uint32 *ret_size, tbool *ret_numeric)
{
    if (ret_size) *ret_size = 0;
    if (ret_numeric) *ret_numeric = 0;
    bail_null(attrib);
    return bn_type_fixed_size(attrib->type, attrib->type_flags, ret_size, ret_numeric);
}

int bn_attrib_set_binary_takeover(bn_attrib *attrib, bn_attribute_id attribute_id,
                                  uint32 type_flags, tbuf **buf)
{
    owned<tbuf> taken{buf ? *buf : nullptr};
    if (buf) *buf = nullptr;
    bail_null(attrib);
    if (!bn_attribute_id_valid(attribute_id)) return lc_err_assertion_failed;
    detail::attrib_reset_header(attrib, attribute_id, bt_binary, type_flags);
    attrib->value_length = taken ? tb_length(taken.get()) : 0;
    if (bn_type_tbuf(bt_binary, attrib->type_flags)) attrib->value.tb = taken.release();
    return 0;
}

// ---------------------------------------------------------------------------
// The per-type family

namespace detail
{
namespace
{

// How a member's value goes in and out of the value area.  The default
// handles values passed and returned by value.
template <bn_type code> struct family_value {
    using arg_type = typename bn_family<code>::arg_type;
    using ret_type = typename bn_family<code>::ret_type;
    static int store(bn_attrib *a, arg_type v)
    {
        static_assert(sizeof v == type_info(code).size || code == bt_ipaddr || code == bt_ipprefix);
        value_store(a, v);
        a->value_length = sizeof v;
        return 0;
    }
    static int load(const bn_attrib *a, ret_type ret)
    {
        *ret = value_as<std::remove_pointer_t<ret_type>>(a);
        return 0;
    }
};

template <> struct family_value<bt_macaddr802> {
    static int store(bn_attrib *a, const uint8 *mac)
    {
        bail_null(mac);
        memcpy(a->value.bytes, mac, bn_macaddr802_size);
        a->value_length = bn_macaddr802_size;
        return 0;
    }
    static int load(const bn_attrib *a, uint8 *ret)
    {
        memcpy(ret, a->value.bytes, bn_macaddr802_size);
        return 0;
    }
};

template <> struct family_value<bt_binary> {
    static int store(bn_attrib *a, const tbuf *buf)
    {
        if (buf == nullptr || !bn_type_tbuf(bt_binary, a->type_flags)) return 0;
        bail_error(tb_dup(buf, &a->value.tb));
        a->value_length = tb_length(buf);
        return 0;
    }
    static int load(const bn_attrib *a, tbuf **ret)
    {
        *ret = nullptr;
        if (bn_type_tbuf(a->type, a->type_flags) && a->value.tb)
            bail_error(tb_dup(a->value.tb, ret));
        return 0;
    }
};

// Types whose setter stores the type only when btf_no_value is given.
constexpr bool no_value_skips_store(bn_type code)
{
    return code == bt_macaddr802 || code == bt_ipv6prefix;
}

template <bn_type code>
int family_set(bn_attrib *a, bn_attribute_id id, uint32 flags, typename bn_family<code>::arg_type v)
{
    bail_null(a);
    if (!bn_attribute_id_valid(id)) return lc_err_assertion_failed;
    attrib_reset_header(a, id, code, flags);
    if (no_value_skips_store(code) && (flags & btf_no_value)) return 0;
    int err = family_value<code>::store(a, v);
    if (err) {
        attrib_reset_header(a, id, code, flags);
        return err;
    }
    return 0;
}

template <bn_type code>
int family_new(bn_attrib **ret, bn_attribute_id id, uint32 flags,
               typename bn_family<code>::arg_type v)
{
    if (ret == nullptr) {
        lc_log_basic(LCL_ERR, "Return attribute pointer was NULL");
        return lc_err_cancelled;
    }
    *ret = nullptr;
    owned<bn_attrib> a;
    if (bn_attrib_new(a.out()) != 0) {
        lc_log_basic(LCL_ERR, "Error creating attribute");
        return lc_err_cancelled;
    }
    if (family_set<code>(a.get(), id, flags, v) != 0) {
        lc_log_basic(LCL_ERR, "Error setting attribute");
        return lc_err_cancelled;
    }
    *ret = a.release();
    return 0;
}

template <bn_type code>
int family_get(const bn_attrib *a, bn_attribute_id *ret_id, uint32 *ret_taf,
               typename bn_family<code>::ret_type ret)
{
    if (ret_id) *ret_id = ba_NONE;
    if (ret_taf) *ret_taf = 0;
    bail_null(a);
    bail_null(ret);
    if (a->type != code) {
        lc_log_basic(LCL_ERR, "Tried to get a %s attribute as a %s", bn_type_to_name(a->type),
                     bn_type_to_name(code));
        return lc_err_assertion_failed;
    }
    bail_error(family_value<code>::load(a, ret));
    if (ret_id) *ret_id = a->attribute_id;
    if (ret_taf) *ret_taf = a->type | a->type_flags;
    return 0;
}

} // namespace
} // namespace detail

#define BN_ATTRIB_FAMILY_DEFINE(name, code, arg_t, ret_t)                                          \
    int bn_attrib_set_##name(bn_attrib *attrib, bn_attribute_id attribute_id, uint32 type_flags,   \
                             arg_t value)                                                          \
    {                                                                                              \
        return detail::family_set<code>(attrib, attribute_id, type_flags, value);                  \
    }                                                                                              \
    int bn_attrib_new_##name(bn_attrib **ret, bn_attribute_id attribute_id, uint32 type_flags,     \
                             arg_t value)                                                          \
    {                                                                                              \
        return detail::family_new<code>(ret, attribute_id, type_flags, value);                     \
    }                                                                                              \
    int bn_attrib_get_##name(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,           \
                             uint32 *ret_type_and_flags, ret_t ret)                                \
    {                                                                                              \
        return detail::family_get<code>(attrib, ret_attribute_id, ret_type_and_flags, ret);        \
    }
BN_ATTRIB_TYPES(BN_ATTRIB_FAMILY_DEFINE)
#undef BN_ATTRIB_FAMILY_DEFINE

LC_TYPED_ARRAY_DEFINE_OWNED(bn_attrib_array, bn_attrib, nullptr, bn_attrib_dup, bn_attrib_free)
