// Attribute values to and from text: bn_attrib_set_str with its fixed order
// of checks, the printing getters, and the borrowing and takeover getters
// of string and binary values.
#include <cstdlib>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"
#include "util/tbuffer.h"
#include "util/tstring.h"

namespace
{

bool hostname_ok(const char *text)
{
    if (text[0] == '-') return false;
    for (const char *p = text; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// The string to store for a string type, or lc_err_bad_type.
int string_value(bn_type type, const char *text, tstring **ret)
{
    *ret = nullptr;
    owned<tstring> ts;
    switch (type) {
    case bt_hostname:
        if (!hostname_ok(text)) return lc_err_bad_type;
        break;
    case bt_secret:
        if (text[0] != '\0' && !is_encrypted_secret(text)) {
            char *raw_enc = nullptr;
            bail_error(bn_encrypt_encode_str(text, &raw_enc));
            const lc_malloc_ptr<char> enc{raw_enc};
            bail_error(ts_new_str(ts.out(), enc.get()));
            *ret = ts.release();
            return 0;
        }
        break;
    default:
        break;
    }
    bail_error(ts_new_str(ts.out(), text));
    if (type == bt_utf8_string) bail_error(ts_set_utf8(ts.get(), true));
    *ret = ts.release();
    return 0;
}

// Common front of the getters: checks and the optional id / type outputs.
int getter_front(const bn_attrib *a, bn_attribute_id *ret_id, bn_type expected, uint32 *ret_taf)
{
    if (ret_id) *ret_id = ba_NONE;
    if (ret_taf) *ret_taf = 0;
    bail_null(a);
    if (expected != bt_NONE && a->type != expected) return lc_err_assertion_failed;
    if (ret_id) *ret_id = a->attribute_id;
    if (ret_taf) *ret_taf = a->type | a->type_flags;
    return 0;
}

int print_checked(const bn_attrib *a, detail::printed *out)
{
    int err = detail::print_attrib(a, out);
    if (err == lc_err_unexpected_case) bail_force(err);
    return err;
}

} // namespace

int bn_attrib_set_str(bn_attrib *attrib, bn_attribute_id attribute_id, bn_type type,
                      uint32 type_flags, const char *text)
{
    bail_null(attrib);
    if (!bn_attribute_id_valid(attribute_id)) return lc_err_assertion_failed;
    const uint32 flags = type_flags & btf_mask;
    if (flags & (btf_no_value | btf_invalid) || type == bt_none) {
        if (!detail::type_valid(type)) bail_force(lc_err_unexpected_case);
        detail::attrib_reset_header(attrib, attribute_id, type, flags);
        if ((flags & btf_invalid) && !(flags & btf_no_value) &&
            detail::type_has(type, detail::btc_fixed))
            attrib->value_length = detail::type_info(type).size;
        return 0;
    }
    if (text == nullptr) return lc_err_unexpected_null;
    if (text[0] == '\0' && type < bt_string) return lc_err_bad_type;

    if (detail::type_has(type, detail::btc_string)) {
        detail::attrib_reset_header(attrib, attribute_id, type, flags);
        owned<tstring> ts;
        bail_error_quiet(string_value(type, text, ts.out()));
        attrib->value_length = ts_length(ts.get());
        attrib->value.ts = ts.release();
        return 0;
    }
    if (type == bt_binary) {
        detail::attrib_reset_header(attrib, attribute_id, type, flags);
        owned<tbuf> tb;
        bail_error(tb_new_buf(tb.out(), text, int32(strlen(text))));
        attrib->value_length = tb_length(tb.get());
        attrib->value.tb = tb.release();
        return 0;
    }

    // Scalars convert first so that a bad text leaves the attribute as it was.
    alignas(8) uint8 value[bn_attrib_value_area_size] = {};
    uint32 len = 0;
    int err = detail::parse_inline(type, flags, text, value, &len);
    if (err == lc_err_unexpected_case) bail_force(err);
    if (err) return err;
    detail::attrib_reset_header(attrib, attribute_id, type, flags);
    memcpy(attrib->value.bytes, value, sizeof value);
    attrib->value_length = len;
    return 0;
}

int bn_attrib_new_str(bn_attrib **ret, bn_attribute_id attribute_id, bn_type type,
                      uint32 type_flags, const char *text)
{
    bail_null(ret);
    *ret = nullptr;
    owned<bn_attrib> a;
    bail_error(bn_attrib_new(a.out()));
    bail_error_quiet(bn_attrib_set_str(a.get(), attribute_id, type, type_flags, text));
    *ret = a.release();
    return 0;
}

int bn_attrib_get_str(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                      bn_type expected_type, uint32 *ret_type_and_flags, char **ret_text)
{
    bail_null(ret_text);
    *ret_text = nullptr;
    bail_error_quiet(getter_front(attrib, ret_attribute_id, expected_type, ret_type_and_flags));
    detail::printed p;
    bail_error_quiet(print_checked(attrib, &p));
    if (p.text == nullptr) return 0;
    char *s = static_cast<char *>(malloc(p.len + 1));
    bail_null(s);
    memcpy(s, p.text, p.len);
    s[p.len] = '\0';
    *ret_text = s;
    return 0;
}

int bn_attrib_get_tstr(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                       bn_type expected_type, uint32 *ret_type_and_flags, tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(getter_front(attrib, ret_attribute_id, expected_type, ret_type_and_flags));
    if (bn_type_string(attrib->type, attrib->type_flags)) {
        if (attrib->value.ts) bail_error(ts_dup(attrib->value.ts, ret));
        return 0;
    }
    detail::printed p;
    bail_error_quiet(print_checked(attrib, &p));
    if (p.text == nullptr) return 0;
    owned<tstring> ts;
    bail_error(ts_new_size(ts.out(), p.len + 1));
    bail_error(ts_append_buffer(ts.get(), p.text, p.len));
    *ret = ts.release();
    return 0;
}

int bn_attrib_get_buf(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                      bn_type expected_type, uint32 *ret_type_and_flags, char *buf, uint32 buf_size)
{
    bail_null(buf);
    bail_require(buf_size > 0);
    buf[0] = '\0';
    bail_error_quiet(getter_front(attrib, ret_attribute_id, expected_type, ret_type_and_flags));
    detail::printed p;
    bail_error_quiet(print_checked(attrib, &p));
    bail_require(p.len < buf_size);
    if (p.text) memcpy(buf, p.text, p.len);
    buf[p.len] = '\0';
    return 0;
}

int bn_attrib_get_tstring_const(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                                bn_type expected_type, uint32 *ret_type_and_flags,
                                const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(getter_front(attrib, ret_attribute_id, expected_type, ret_type_and_flags));
    if (!detail::type_has(attrib->type, detail::btc_string)) return lc_err_assertion_failed;
    if (bn_type_string(attrib->type, attrib->type_flags)) *ret = attrib->value.ts;
    return 0;
}

int bn_attrib_get_tstring_takeover(bn_attrib **attrib, bn_attribute_id *ret_attribute_id,
                                   bn_type expected_type, uint32 *ret_type_and_flags, tstring **ret)
{
    bail_null(attrib);
    owned<bn_attrib> a{*attrib};
    *attrib = nullptr;
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(getter_front(a.get(), ret_attribute_id, expected_type, ret_type_and_flags));
    if (!detail::type_has(a->type, detail::btc_string)) return lc_err_assertion_failed;
    if (bn_type_string(a->type, a->type_flags)) *ret = std::exchange(a->value.ts, nullptr);
    return 0;
}

int bn_attrib_get_tbuf_const(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                             uint32 *ret_type_and_flags, const tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(getter_front(attrib, ret_attribute_id, bt_binary, ret_type_and_flags));
    if (bn_type_tbuf(attrib->type, attrib->type_flags)) *ret = attrib->value.tb;
    return 0;
}

int bn_attrib_get_tbuf_takeover(bn_attrib **attrib, bn_attribute_id *ret_attribute_id,
                                uint32 *ret_type_and_flags, tbuf **ret)
{
    bail_null(attrib);
    owned<bn_attrib> a{*attrib};
    *attrib = nullptr;
    bail_null(ret);
    *ret = nullptr;
    bail_error_quiet(getter_front(a.get(), ret_attribute_id, bt_binary, ret_type_and_flags));
    if (bn_type_tbuf(a->type, a->type_flags)) *ret = std::exchange(a->value.tb, nullptr);
    return 0;
}

int bn_attrib_get_buf_const(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                            uint32 *ret_type_and_flags, const uint8 **ret_bytes, uint32 *ret_len)
{
    bail_null(ret_bytes);
    *ret_bytes = nullptr;
    if (ret_len) *ret_len = 0;
    bail_error_quiet(getter_front(attrib, ret_attribute_id, bt_binary, ret_type_and_flags));
    if (bn_type_tbuf(attrib->type, attrib->type_flags) && attrib->value.tb) {
        *ret_bytes = tb_buf(attrib->value.tb);
        if (ret_len) *ret_len = tb_length(attrib->value.tb);
    }
    return 0;
}

int bn_attrib_get_oid(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                      uint32 *ret_type_and_flags, uint32 max_components, uint32 *components,
                      uint32 *ret_count)
{
    if (ret_count) *ret_count = 0;
    if ((components == nullptr) != (ret_count == nullptr)) return lc_err_assertion_failed;
    if (components) memset(components, 0, size_t(max_components) * sizeof *components);
    bail_error_quiet(getter_front(attrib, ret_attribute_id, bt_oid, ret_type_and_flags));
    if (!components || !bn_type_string(attrib->type, attrib->type_flags) || !attrib->value.ts)
        return 0;
    const char *p = ts_str(attrib->value.ts);
    if (*p == '\0') return 0; // no parts at all
    uint32 count = 0;
    for (;;) {
        // Each part converts like strtoul: digits up to the first non-digit.
        char *end = nullptr;
        unsigned long v = strtoul(p, &end, 10);
        if (count < max_components) components[count] = uint32(v);
        ++count;
        const char *dot = strchr(p, '.');
        if (dot == nullptr) break;
        p = dot + 1;
    }
    *ret_count = count;
    return 0;
}
