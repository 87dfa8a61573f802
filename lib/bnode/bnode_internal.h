// Helpers shared by the binding files; not part of the library's interface.
#pragma once

#include "bnode/bnode.h"

namespace detail
{

// Looks attribute slot `id` of `binding` up without logging:
// lc_err_unexpected_null when the binding has no attribute array,
// lc_err_not_found when the id lies beyond it; an empty slot is success and
// null.
int binding_lookup_attrib(const bn_binding *binding, bn_attribute_id id, bn_attrib **ret);

} // namespace detail
