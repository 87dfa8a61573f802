// The binding record: construction, names and their cached parts, and
// attribute access by id.
//
// A binding owns its name, the cached parts of the name and a sparse
// attribute array indexed by attribute id.  The parts cache is filled when
// the binding is built from parts or when the parts are first asked for, and
// dropped whenever the name changes, so the two never disagree.
#include <cstdlib>
#include <cstring>

#include "bnode/bnode.h"
#include "bnode/bnode_internal.h"
#include "util/tbuffer.h"

using detail::binding_lookup_attrib;

namespace
{

// Fills an empty parts cache by parsing the name.  The cache is not part of
// the binding's value, so this is allowed on a binding the caller holds as
// const.
int cache_name_parts(const bn_binding *binding)
{
    if (binding->name_parts != nullptr) return 0;
    owned<tstr_array> parts;
    bool is_absolute = false;
    bail_error(bn_binding_name_to_parts(ts_str(binding->name), parts.out(), &is_absolute));
    bn_binding *mut = const_cast<bn_binding *>(binding);
    mut->name_parts = parts.release();
    mut->name_is_absolute = is_absolute;
    return 0;
}

} // namespace

int detail::binding_lookup_attrib(const bn_binding *binding, bn_attribute_id id, bn_attrib **ret)
{
    *ret = nullptr;
    if (binding->attribs == nullptr) return lc_err_unexpected_null;
    if (id >= bn_attrib_array_length_quick(binding->attribs)) return lc_err_not_found;
    *ret = bn_attrib_array_get_quick(binding->attribs, id);
    return 0;
}

// ---------------------------------------------------------------------------
// Construction and destruction

int bn_binding_new(bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;

    owned<bn_binding> binding{new (std::nothrow) bn_binding{}};
    bail_null(binding);
    bail_error(ts_new(&binding->name));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_named(bn_binding **ret, const char *name)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(name);

    owned<bn_binding> binding{new (std::nothrow) bn_binding{}};
    bail_null(binding);
    bail_error(ts_new_str(&binding->name, name));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_components(bn_binding **ret, const char *name, const bn_attrib_array *attribs)
{
    bail_null(ret);
    *ret = nullptr;

    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    if (attribs) bail_error(bn_attrib_array_duplicate(attribs, &binding->attribs));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_parts_components_takeover(bn_binding **ret, tstring **name,
                                             tstr_array **name_parts, bool is_absolute,
                                             bn_attrib_array **attribs)
{
    // Own what was passed before anything can fail, so that every exit
    // frees it.
    owned<tstring> own_name{name ? std::exchange(*name, nullptr) : nullptr};
    owned<tstr_array> own_parts{name_parts ? std::exchange(*name_parts, nullptr) : nullptr};
    owned<bn_attrib_array> own_attribs{attribs ? std::exchange(*attribs, nullptr) : nullptr};
    bail_null(ret);
    *ret = nullptr;

    owned<bn_binding> binding{new (std::nothrow) bn_binding{}};
    bail_null(binding);
    if (own_parts) {
        if (own_name) {
            binding->name = own_name.release();
        } else {
            bail_error(
                bn_binding_name_parts_to_name_tstr(own_parts.get(), is_absolute, &binding->name));
        }
        binding->name_parts = own_parts.release();
        binding->name_is_absolute = is_absolute;
    } else if (own_name) {
        binding->name = own_name.release();
        bail_error(cache_name_parts(binding.get()));
    } else {
        bail_error(ts_new(&binding->name));
    }
    binding->attribs = own_attribs.release();
    *ret = binding.release();
    return 0;
}

int bn_binding_new_parts_components(bn_binding **ret, const char *name,
                                    const tstr_array *name_parts, bool is_absolute,
                                    const bn_attrib_array *attribs)
{
    bail_null(ret);
    *ret = nullptr;

    owned<tstring> name_copy;
    owned<tstr_array> parts_copy;
    owned<bn_attrib_array> attribs_copy;
    if (name) bail_error(ts_new_str(name_copy.out(), name));
    if (name_parts) bail_error(tstr_array_duplicate(name_parts, parts_copy.out()));
    if (attribs) bail_error(bn_attrib_array_duplicate(attribs, attribs_copy.out()));

    tstring *n = name_copy.release();
    tstr_array *p = parts_copy.release();
    bn_attrib_array *a = attribs_copy.release();
    bail_error(bn_binding_new_parts_components_takeover(ret, &n, &p, is_absolute, &a));
    return 0;
}

int bn_binding_new_attrib(bn_binding **ret, const char *name, const bn_attrib *attrib)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(attrib);

    bn_attribute_id id = 0;
    bail_error(bn_attrib_get_attribute_id(attrib, &id));
    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    bail_error(bn_binding_set_attrib(binding.get(), id, attrib));
    *ret = binding.release();
    return 0;
}

int bn_binding_new_binary_takeover(bn_binding **ret, const char *name, bn_attribute_id attribute_id,
                                   uint32 type_flags, tbuf **buf)
{
    owned<tbuf> own_buf{buf ? std::exchange(*buf, nullptr) : nullptr};
    bail_null(ret);
    *ret = nullptr;

    owned<bn_binding> binding;
    bail_error(bn_binding_new_named(binding.out(), name));
    owned<bn_attrib> attrib;
    bail_error(bn_attrib_new(attrib.out()));
    tbuf *b = own_buf.release();
    bail_error(bn_attrib_set_binary_takeover(attrib.get(), attribute_id, type_flags, &b));
    bn_attrib *a = attrib.release();
    bail_error(bn_binding_set_attrib_takeover(binding.get(), attribute_id, &a));
    *ret = binding.release();
    return 0;
}

int bn_binding_dup(const bn_binding *src, bn_binding **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(src);

    owned<bn_binding> binding{new (std::nothrow) bn_binding{}};
    bail_null(binding);
    bail_error(ts_dup(src->name, &binding->name));
    if (src->name_parts) {
        bail_error(tstr_array_duplicate(src->name_parts, &binding->name_parts));
        binding->name_is_absolute = src->name_is_absolute;
    }
    if (src->attribs) bail_error(bn_attrib_array_duplicate(src->attribs, &binding->attribs));
    *ret = binding.release();
    return 0;
}

int bn_binding_free(bn_binding **binding)
{
    if (binding == nullptr || *binding == nullptr) return 0;
    bn_binding *b = std::exchange(*binding, nullptr);
    (void)bn_attrib_array_free(&b->attribs);
    (void)tstr_array_free(&b->name_parts);
    (void)ts_free(&b->name);
    delete b;
    return 0;
}

// ---------------------------------------------------------------------------
// Name access

int bn_binding_get_name(const bn_binding *binding, const tstring **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);
    *ret = binding->name;
    return 0;
}

const tstring *bn_binding_get_name_quick(const bn_binding *binding)
{
    return binding ? binding->name : nullptr;
}

int bn_binding_get_name_str(const bn_binding *binding, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);
    bail_error(ts_dup_str(binding->name, ret, nullptr));
    return 0;
}

int bn_binding_set_name(bn_binding *binding, const char *name)
{
    bail_null(binding);
    bail_null(name);

    owned<tstring> new_name;
    bail_error(ts_new_str(new_name.out(), name));
    (void)ts_free(&binding->name);
    binding->name = new_name.release();
    (void)tstr_array_free(&binding->name_parts);
    binding->name_is_absolute = false;
    return 0;
}

int bn_binding_set_name_parts(bn_binding *binding, const tstr_array *parts, bool is_absolute)
{
    bail_null(binding);
    bail_null(parts);
    if (binding->name_parts) return 0;

    bail_error(tstr_array_duplicate(parts, &binding->name_parts));
    binding->name_is_absolute = is_absolute;
    return 0;
}

int bn_binding_get_name_parts_const(const bn_binding *binding, const tstr_array **ret,
                                    bool *ret_is_absolute)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_is_absolute) *ret_is_absolute = false;
    bail_null(binding);

    *ret = binding->name_parts;
    if (ret_is_absolute && binding->name_parts) *ret_is_absolute = binding->name_is_absolute;
    return 0;
}

const tstr_array *bn_binding_get_name_parts_quick(const bn_binding *binding)
{
    return binding ? binding->name_parts : nullptr;
}

int bn_binding_get_name_and_name_parts_const(const bn_binding *binding, const tstring **ret_name,
                                             const tstr_array **ret_parts, bool *ret_is_absolute)
{
    if (ret_name) *ret_name = nullptr;
    if (ret_parts) *ret_parts = nullptr;
    if (ret_is_absolute) *ret_is_absolute = false;
    bail_null(binding);

    if (ret_name) *ret_name = binding->name;
    if (ret_parts) *ret_parts = binding->name_parts;
    if (ret_is_absolute && binding->name_parts) *ret_is_absolute = binding->name_is_absolute;
    return 0;
}

int bn_binding_get_name_parts(const bn_binding *binding, tstr_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);

    bail_error(cache_name_parts(binding));
    bail_require(binding->name_is_absolute);
    bail_error(tstr_array_duplicate(binding->name_parts, ret));
    return 0;
}

int bn_binding_get_name_last_part(const bn_binding *binding, char **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);

    bail_error(cache_name_parts(binding));
    const uint32 n = tstr_array_length_quick(binding->name_parts);
    if (n == 0) return 0;
    const char *last = tstr_array_get_str_quick(binding->name_parts, n - 1);
    if (last == nullptr) return 0;
    char *copy = strdup(last);
    bail_null(copy);
    *ret = copy;
    return 0;
}

// ---------------------------------------------------------------------------
// Attribute access

int bn_binding_get_attrib(const bn_binding *binding, bn_attribute_id attribute_id,
                          const bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);

    bn_attrib *attrib = nullptr;
    if (binding_lookup_attrib(binding, attribute_id, &attrib) == 0) *ret = attrib;
    return 0;
}

int bn_binding_get_attrib_copy(const bn_binding *binding, bn_attribute_id attribute_id,
                               bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);

    bn_attrib *attrib = nullptr;
    if (binding_lookup_attrib(binding, attribute_id, &attrib) != 0 || attrib == nullptr) return 0;
    bail_error(bn_attrib_dup(attrib, ret));
    return 0;
}

int bn_binding_get_attrib_detach(bn_binding *binding, bn_attribute_id attribute_id, bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);

    bn_attrib *attrib = nullptr;
    if (binding_lookup_attrib(binding, attribute_id, &attrib) != 0 || attrib == nullptr) return 0;
    bail_error(bn_attrib_array_remove_no_shift(binding->attribs, attribute_id, ret));
    return 0;
}

int bn_binding_get_attribs(const bn_binding *binding, const bn_attrib_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);
    *ret = binding->attribs;
    return 0;
}

int bn_binding_get_attribs_detach(bn_binding *binding, bn_attrib_array **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(binding);
    *ret = std::exchange(binding->attribs, nullptr);
    return 0;
}

int bn_binding_set_attrib_takeover(bn_binding *binding, bn_attribute_id attribute_id,
                                   bn_attrib **attrib)
{
    owned<bn_attrib> own{attrib ? std::exchange(*attrib, nullptr) : nullptr};
    bail_null(binding);
    bail_null(own.get());

    if (binding->attribs == nullptr) bail_error(bn_attrib_array_new(&binding->attribs));
    bn_attrib *a = own.release();
    bail_error(bn_attrib_array_set_takeover(binding->attribs, attribute_id, &a));
    return 0;
}

int bn_binding_set_attrib(bn_binding *binding, bn_attribute_id attribute_id,
                          const bn_attrib *attrib)
{
    bail_null(binding);
    bail_null(attrib);

    bn_attrib *copy = nullptr;
    bail_error(bn_attrib_dup(attrib, &copy));
    bail_error(bn_binding_set_attrib_takeover(binding, attribute_id, &copy));
    return 0;
}

int bn_binding_get_num_attribs(const bn_binding *binding, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(binding);

    const uint32 n = binding->attribs ? bn_attrib_array_length_quick(binding->attribs) : 0;
    uint32 present = 0;
    for (uint32 i = 0; i < n; ++i) {
        if (bn_attrib_array_get_quick(binding->attribs, i)) ++present;
    }
    *ret = present;
    return 0;
}

int bn_binding_get_type(const bn_binding *binding, bn_attribute_id attribute_id, bn_type *ret_type,
                        uint32 *ret_flags)
{
    if (ret_type) *ret_type = bn_type(0);
    if (ret_flags) *ret_flags = 0;
    bail_null(binding);

    bn_attrib *attrib = nullptr;
    bail_error(binding_lookup_attrib(binding, attribute_id, &attrib));
    if (attrib == nullptr) return 0;
    bn_type type = bn_type(0);
    uint32 flags = 0;
    bail_error(bn_attrib_get_type(attrib, &type, &flags));
    if (ret_type) *ret_type = type;
    if (ret_flags) *ret_flags = flags;
    return 0;
}

int bn_binding_compare_attribs(const bn_binding *a, const bn_binding *b,
                               bn_attribute_id attribute_id, int *ret_result)
{
    bail_null(ret_result);
    *ret_result = 0;
    bail_null(a);
    bail_null(b);

    bn_attrib *attrib_a = nullptr;
    bn_attrib *attrib_b = nullptr;
    (void)binding_lookup_attrib(a, attribute_id, &attrib_a);
    (void)binding_lookup_attrib(b, attribute_id, &attrib_b);
    bail_error(bn_attrib_compare(attrib_a, attrib_b, ret_result));
    return 0;
}
