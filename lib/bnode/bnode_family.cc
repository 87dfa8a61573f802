// The per-type family at binding level, and the binding readers of any
// type.
//
// The members are stamped out from the attribute family's list macro
// (BN_ATTRIB_TYPES) over one template each, so a new attribute type gains
// its binding-level members without code here.  Every member looks the
// attribute up by id in the binding's sparse attribute array and leaves the
// typed work to the attribute-level member.
#include <cstdlib>

#include "bnode/bnode.h"
#include "bnode/bnode_internal.h"

namespace
{

using detail::binding_lookup_attrib;

// Logged when a reader is handed no binding.
int null_binding()
{
    lc_log_basic(LCL_ERR, "NULL binding passed");
    return lc_err_unexpected_null;
}

// The lookup of the readers: failures are logged with the attribute and
// binding names and returned.
int reader_lookup(const bn_binding *binding, bn_attribute_id id, bn_attrib **ret)
{
    const int err = binding_lookup_attrib(binding, id, ret);
    if (err != 0) {
        lc_log_basic(LCL_ERR, "Can't get attribute %s of binding %s",
                     lc_enum_to_string_quiet(bn_attribute_id_name_map, int32(id)),
                     ts_str_maybe_empty(binding->name));
    }
    return err;
}

// Takes `*attrib` into slot `id` of `binding`.
int store_attrib(bn_binding *binding, bn_attribute_id id, bn_attrib **attrib)
{
    bail_error(bn_binding_set_attrib_takeover(binding, id, attrib));
    return 0;
}

template <bn_type code>
int binding_set(bn_binding *binding, bn_attribute_id id, uint32 flags,
                typename bn_family<code>::arg_type value)
{
    bail_null(binding);
    owned<bn_attrib> attrib;
    // The attribute constructor logs its own failures and answers with
    // the quiet code.
    bail_error(bn_family<code>::make(attrib.out(), id, flags, value));
    bn_attrib *a = attrib.release();
    bail_error(store_attrib(binding, id, &a));
    return 0;
}

template <bn_type code>
int binding_new(bn_binding **ret, const char *name, bn_attribute_id id, uint32 flags,
                typename bn_family<code>::arg_type value)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    bail_error(binding_set<code>(binding.get(), id, flags, value));
    *ret = binding.release();
    return 0;
}

template <bn_type code>
int binding_new_parts(bn_binding **ret, const char *name, const tstr_array *name_parts,
                      bool is_absolute, bn_attribute_id id, uint32 flags,
                      typename bn_family<code>::arg_type value)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_binding> binding;
    bail_error(
        bn_binding_new_parts_components(binding.out(), name, name_parts, is_absolute, nullptr));
    bail_error(binding_set<code>(binding.get(), id, flags, value));
    *ret = binding.release();
    return 0;
}

template <bn_type code>
int binding_get(const bn_binding *binding, bn_attribute_id id, uint32 *ret_type_and_flags,
                typename bn_family<code>::ret_type ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    if (binding == nullptr) return null_binding();
    bn_attrib *attrib = nullptr;
    bail_error(binding_lookup_attrib(binding, id, &attrib));
    // An empty slot is not an error: the caller sees type 0 and keeps its
    // value.
    if (attrib == nullptr) return 0;
    bail_error(bn_family<code>::get(attrib, nullptr, ret_type_and_flags, ret));
    return 0;
}

} // namespace

#define BN_BINDING_FAMILY_DEFINE(name, code, arg_t, ret_t)                                         \
    int bn_binding_set_##name(bn_binding *binding, bn_attribute_id attribute_id,                   \
                              uint32 type_flags, arg_t value)                                      \
    {                                                                                              \
        return binding_set<code>(binding, attribute_id, type_flags, value);                        \
    }                                                                                              \
    int bn_binding_new_##name(bn_binding **ret, const char *binding_name,                          \
                              bn_attribute_id attribute_id, uint32 type_flags, arg_t value)        \
    {                                                                                              \
        return binding_new<code>(ret, binding_name, attribute_id, type_flags, value);              \
    }                                                                                              \
    int bn_binding_new_parts_##name(bn_binding **ret, const char *binding_name,                    \
                                    const tstr_array *name_parts, bool is_absolute,                \
                                    bn_attribute_id attribute_id, uint32 type_flags, arg_t value)  \
    {                                                                                              \
        return binding_new_parts<code>(ret, binding_name, name_parts, is_absolute, attribute_id,   \
                                       type_flags, value);                                         \
    }                                                                                              \
    int bn_binding_get_##name(const bn_binding *binding, bn_attribute_id attribute_id,             \
                              uint32 *ret_type_and_flags, ret_t ret)                               \
    {                                                                                              \
        return binding_get<code>(binding, attribute_id, ret_type_and_flags, ret);                  \
    }
BN_ATTRIB_TYPES(BN_BINDING_FAMILY_DEFINE)
#undef BN_BINDING_FAMILY_DEFINE

// ---------------------------------------------------------------------------
// Text forms

int bn_binding_set_str(bn_binding *binding, bn_attribute_id attribute_id, bn_type type,
                       uint32 type_flags, const char *text)
{
    bail_null(binding);
    owned<bn_attrib> attrib;
    bail_error(bn_attrib_new(attrib.out()));
    // A text that does not convert is the caller's to judge: pass its code
    // on unlogged.
    bail_error_quiet(bn_attrib_set_str(attrib.get(), attribute_id, type, type_flags, text));
    bn_attrib *a = attrib.release();
    bail_error(store_attrib(binding, attribute_id, &a));
    return 0;
}

int bn_binding_new_str(bn_binding **ret, const char *name, bn_attribute_id attribute_id,
                       bn_type type, uint32 type_flags, const char *text)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    bail_error_quiet(bn_binding_set_str(binding.get(), attribute_id, type, type_flags, text));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_parts_str(bn_binding **ret, const char *name, const tstr_array *name_parts,
                             bool is_absolute, bn_attribute_id attribute_id, bn_type type,
                             uint32 type_flags, const char *text)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_binding> binding;
    bail_error(
        bn_binding_new_parts_components(binding.out(), name, name_parts, is_absolute, nullptr));
    bail_error_quiet(bn_binding_set_str(binding.get(), attribute_id, type, type_flags, text));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_str_autoinval(bn_binding **ret, const char *name, bn_attribute_id attribute_id,
                                 bn_type type, uint32 type_flags, const char *text)
{
    int err = bn_binding_new_str(ret, name, attribute_id, type, type_flags, text);
    if (err == lc_err_bad_type) {
        err = bn_binding_new_str(ret, name, attribute_id, type, type_flags | btf_invalid, text);
    }
    bail_error(err);
    return 0;
}

int bn_binding_new_parts_str_autoinval(bn_binding **ret, const char *name,
                                       const tstr_array *name_parts, bool is_absolute,
                                       bn_attribute_id attribute_id, bn_type type,
                                       uint32 type_flags, const char *text)
{
    int err = bn_binding_new_parts_str(ret, name, name_parts, is_absolute, attribute_id, type,
                                       type_flags, text);
    if (err == lc_err_bad_type) {
        err = bn_binding_new_parts_str(ret, name, name_parts, is_absolute, attribute_id, type,
                                       type_flags | btf_invalid, text);
    }
    bail_error(err);
    return 0;
}

// ---------------------------------------------------------------------------
// Readers of any type

namespace
{

// The frame every reader shares: find the attribute (an empty slot is a
// null result, not an error) and let `read` do the typed work on it.
template <class Read>
int read_attrib(const bn_binding *binding, bn_attribute_id id, uint32 *ret_type_and_flags,
                Read &&read)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    if (binding == nullptr) return null_binding();
    bn_attrib *attrib = nullptr;
    bail_error_quiet(reader_lookup(binding, id, &attrib));
    if (attrib == nullptr) return 0;
    // The attribute functions log what they consider failures themselves.
    bail_error_quiet(read(attrib));
    return 0;
}

// The frame of the detach forms: `check` runs on the attribute while it is
// still in the binding, so that a type mismatch does not lose it; then the
// attribute is taken out and `take` consumes it.
template <class Check, class Take>
int detach_attrib(bn_binding *binding, bn_attribute_id id, uint32 *ret_type_and_flags,
                  Check &&check, Take &&take)
{
    bail_error_quiet(read_attrib(binding, id, nullptr, check));
    if (binding->attribs == nullptr || bn_attrib_array_get_quick(binding->attribs, id) == nullptr)
        return 0;
    bn_attrib *taken = nullptr;
    bail_error(bn_binding_get_attrib_detach(binding, id, &taken));
    bail_error(take(&taken, ret_type_and_flags));
    return 0;
}

} // namespace

int bn_binding_get_str(const bn_binding *binding, bn_attribute_id attribute_id,
                       bn_type expected_type, uint32 *ret_type_and_flags, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_str(a, nullptr, expected_type, ret_type_and_flags, ret);
    });
}

int bn_binding_get_tstr(const bn_binding *binding, bn_attribute_id attribute_id,
                        bn_type expected_type, uint32 *ret_type_and_flags, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_tstr(a, nullptr, expected_type, ret_type_and_flags, ret);
    });
}

int bn_binding_get_buf(const bn_binding *binding, bn_attribute_id attribute_id,
                       bn_type expected_type, uint32 *ret_type_and_flags, char *buf,
                       uint32 buf_size)
{
    bail_null(buf);
    bail_require(buf_size > 0);
    buf[0] = '\0';
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_buf(a, nullptr, expected_type, ret_type_and_flags, buf, buf_size);
    });
}

int bn_binding_get_tstring_const(const bn_binding *binding, bn_attribute_id attribute_id,
                                 bn_type expected_type, uint32 *ret_type_and_flags,
                                 const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_tstring_const(a, nullptr, expected_type, ret_type_and_flags, ret);
    });
}

int bn_binding_get_tbuf_const(const bn_binding *binding, bn_attribute_id attribute_id,
                              uint32 *ret_type_and_flags, const tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_tbuf_const(a, nullptr, ret_type_and_flags, ret);
    });
}

int bn_binding_get_buf_const(const bn_binding *binding, bn_attribute_id attribute_id,
                             uint32 *ret_type_and_flags, const uint8 **ret_bytes, uint32 *ret_len)
{
    if (ret_len) *ret_len = 0;
    bail_null(ret_bytes);
    *ret_bytes = nullptr;
    return read_attrib(binding, attribute_id, ret_type_and_flags, [&](const bn_attrib *a) {
        return bn_attrib_get_buf_const(a, nullptr, ret_type_and_flags, ret_bytes, ret_len);
    });
}

int bn_binding_get_tstring_detach(bn_binding *binding, bn_attribute_id attribute_id,
                                  bn_type expected_type, uint32 *ret_type_and_flags, tstring **ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    return detach_attrib(
        binding, attribute_id, ret_type_and_flags,
        [&](const bn_attrib *a) {
            const tstring *check = nullptr;
            return bn_attrib_get_tstring_const(a, nullptr, expected_type, nullptr, &check);
        },
        [&](bn_attrib **a, uint32 *taf) {
            return bn_attrib_get_tstring_takeover(a, nullptr, expected_type, taf, ret);
        });
}

int bn_binding_get_tbuf_detach(bn_binding *binding, bn_attribute_id attribute_id,
                               uint32 *ret_type_and_flags, tbuf **ret)
{
    if (ret_type_and_flags) *ret_type_and_flags = 0;
    bail_null(ret);
    *ret = nullptr;
    return detach_attrib(
        binding, attribute_id, ret_type_and_flags,
        [&](const bn_attrib *a) {
            const tbuf *check = nullptr;
            return bn_attrib_get_tbuf_const(a, nullptr, nullptr, &check);
        },
        [&](bn_attrib **a, uint32 *taf) {
            return bn_attrib_get_tbuf_takeover(a, nullptr, taf, ret);
        });
}

int bn_binding_get_secret(const bn_binding *binding, bn_attribute_id attribute_id, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    const tstring *stored = nullptr;
    bail_error_quiet(
        bn_binding_get_tstring_const(binding, attribute_id, bt_secret, nullptr, &stored));
    if (stored == nullptr) return 0;
    bail_error(bn_decode_decrypt_str(ts_str(stored), ret));
    return 0;
}
