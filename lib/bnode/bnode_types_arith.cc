// Arithmetic on numeric attributes: the four operations within one type and
// the delta of two values in a wider signed type.  The numeric members
// (integers, floats, durations) are listed once, and each operation is
// written once over the value type of the member.
#include <type_traits>

#include "bnode/bnode_types.h"
#include "bnode/bnode_types_internal.h"

namespace
{

#define BN_NUMERIC_CODES(X)                                                                        \
    X(bt_uint8)                                                                                    \
    X(bt_int8)                                                                                     \
    X(bt_uint16)                                                                                   \
    X(bt_int16)                                                                                    \
    X(bt_uint32)                                                                                   \
    X(bt_int32)                                                                                    \
    X(bt_uint64)                                                                                   \
    X(bt_int64)                                                                                    \
    X(bt_float32)                                                                                  \
    X(bt_float64)                                                                                  \
    X(bt_duration_sec)                                                                             \
    X(bt_duration_ms)                                                                              \
    X(bt_duration_us)

template <bn_type code> using value_t = std::remove_pointer_t<typename bn_family<code>::ret_type>;

// Calls `f` with the type code as a compile-time constant; lc_err_bad_type
// for a type outside the list.
template <class F> int with_numeric(bn_type type, F &&f)
{
    switch (type) {
#define X(code)                                                                                    \
    case code:                                                                                     \
        return f(std::integral_constant<bn_type, code>{});
        BN_NUMERIC_CODES(X)
#undef X
    default:
        return lc_err_bad_type;
    }
}

template <bn_type code> constexpr bn_type delta_type_of()
{
    using T = value_t<code>;
    if constexpr (std::is_floating_point_v<T>)
        return bt_float64;
    else if constexpr (sizeof(T) == 1)
        return bt_int16;
    else if constexpr (sizeof(T) == 2)
        return bt_int32;
    else
        return bt_int64;
}

template <class T> int apply(T x, T y, uint32 op, T *ret)
{
    // Integers are computed exactly in 128 bits and then cut to the type's
    // width: the wrap of a counter, without signed overflow.  Floats stay in
    // their own type.
    constexpr bool is_float = std::is_floating_point_v<T>;
    using W = std::conditional_t<is_float, T, __int128>;
    const W a = x, b = y;
    W r{};
    switch (op) {
    case bna_add:
        r = a + b;
        break;
    case bna_subtract:
        r = a - b;
        break;
    case bna_multiply:
        if constexpr (is_float)
            r = a * b;
        else // two 64-bit values may pass the signed 128-bit range
            r = W(static_cast<unsigned __int128>(a) * static_cast<unsigned __int128>(b));
        break;
    case bna_divide:
        if (b == 0) return lc_err_divide_by_zero;
        r = a / b;
        break;
    default:
        return lc_err_unexpected_case;
    }
    *ret = T(r);
    return 0;
}

} // namespace

int bn_type_numeric_arithmetic(const bn_attrib *a, const bn_attrib *b, uint32 op, bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    bail_null(b);
    bail_require(bn_type_numeric(a->type, a->type_flags) &&
                 bn_type_numeric(b->type, b->type_flags) && a->type == b->type);
    return with_numeric(a->type, [&](auto code) -> int {
        using T = value_t<code()>;
        T result{};
        const int err = apply(detail::value_as<T>(a), detail::value_as<T>(b), op, &result);
        if (err == lc_err_unexpected_case) bail_force(err);
        if (err != 0) return err;
        bail_error(bn_family<code()>::make(ret, a->attribute_id, a->type_flags, result));
        return 0;
    });
}

int bn_type_numeric_delta_type(bn_type type, bn_type *ret_type)
{
    bail_null(ret_type);
    *ret_type = bt_none;
    return with_numeric(type, [&](auto code) -> int {
        *ret_type = delta_type_of<code()>();
        return 0;
    });
}

int bn_type_numeric_delta(const bn_attrib *a, const bn_attrib *b, bn_attrib **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(a);
    bail_null(b);
    bail_require(bn_type_numeric(a->type, a->type_flags) &&
                 bn_type_numeric(b->type, b->type_flags));
    if (a->type != b->type) {
        lc_log_basic(LCL_ERR, "Cannot compute delta of attributes of different types: %s and %s",
                     bn_type_to_name(a->type), bn_type_to_name(b->type));
        return lc_err_bad_type;
    }
    return with_numeric(a->type, [&](auto code) -> int {
        using T = value_t<code()>;
        constexpr bn_type out = delta_type_of<code()>();
        using D = value_t<out>;
        const T x = detail::value_as<T>(a), y = detail::value_as<T>(b);
        D d;
        if constexpr (std::is_floating_point_v<T>)
            d = D(x) - D(y);
        else
            d = D(__int128(x) - __int128(y)); // exact below 64 bits, modulo 2^64 at 64
        bail_error(bn_family<out>::make(ret, a->attribute_id, 0, d));
        return 0;
    });
}
