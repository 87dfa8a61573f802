// Attribute types and values: the typed value (`bn_attrib`) that carries all
// management data, its type codes and flags, its text forms, comparison, and
// the per-type family of setters, constructors and getters.
//
// An attribute is one heap record owned by whoever holds the pointer; a
// binding (bnode.h) owns the attributes in its attribute array.  Fixed-size
// values live inline in the record; text types own a `tstring` and the binary
// type owns a `tbuf` through the value area.  Every `_new`, `_dup`,
// `_takeover` and `_detach` result belongs to the caller.
//
// Conversions of text that does not parse return lc_err_bad_type (or the
// code documented at the type) WITHOUT logging: callers decide whether that
// is a failure (the `_autoinval` constructors turn it into an invalid-marked
// value).
#pragma once

#include <array>

#include "bnode/bnode_addr.h"
#include "bnode/bnode_type_codes.h"
#include "log/logging.h"
#include "util/typed_arrays.h"

struct tstring;
struct tstr_array;
struct tbuf;
struct bn_binding;

// Type names; drives printing and parsing of type names ("uint8" ...).
extern const lc_enum_string_map bn_type_name_map[];

// Name of `type`, or "ERROR-NO-MAP" for a code that has none (no log).
const char *bn_type_to_name(bn_type type);

// ---------------------------------------------------------------------------
// Type classes.  Each is false when btf_invalid or btf_no_value is set.

bool bn_type_allocs(bn_type type, uint32 flags);          // 101..135
bool bn_type_string(bn_type type, uint32 flags);          // owned tstring
bool bn_type_tbuf(bn_type type, uint32 flags);            // "binary"
bool bn_type_numeric(bn_type type, uint32 flags);         // integers, floats, durations
bool bn_type_ordered_numeric(bn_type type, uint32 flags); // compared by value

// Size of a fixed-size type's value (0 for "none").  `ret_numeric` is 1 for
// every fixed-size type but "macaddr802", whose bytes are raw.  Codes outside
// 1..100 or a flags word with btf_invalid/btf_no_value: lc_err_assertion_failed
// (logged); a code in range that is not fixed-size: lc_err_bad_type (quiet).
[[nodiscard]] int bn_type_fixed_size(bn_type type, uint32 flags, uint32 *ret_size,
                                     tbool *ret_numeric);

// ---------------------------------------------------------------------------
// Attribute ids

typedef uint32 bn_attribute_id;

enum bn_attribute_id_code : uint32 {
    ba_NONE = 0,
    ba_value = 1,
    ba_none = 4,
    ba_product_name = 65,
    ba_module_name = 66,
    ba_module_version = 67,
    ba_node_info = 68,
    ba_capability_mask = 69,
    ba_revision_id = 129,
    ba_node_count = 130,
};
constexpr bn_attribute_id ba_LAST = ba_node_count;

extern const lc_enum_string_map bn_attribute_id_name_map[];

// True for an id under which a value may be stored: 1..130 except "none".
bool bn_attribute_id_valid(bn_attribute_id id);

// ---------------------------------------------------------------------------
// The attribute record

struct bn_attrib {
    bn_type type;                 // bt_none when new
    uint32 type_flags;            // high 16 bits only
    bn_attribute_id attribute_id; // ba_none when new
    uint32 value_length;          // inline bytes, or the owned string/buffer length
    // Inline value (aligned at its start), or the owning pointer: `ts` when
    // bn_type_string(), `tb` when bn_type_tbuf().  Owns nothing otherwise.
    union {
        uint8 bytes[bn_attrib_value_area_size];
        uint64 align_;
        tstring *ts;
        tbuf *tb;
    } value;
};

// New attribute: type "none", id "none", no flags, value zeroed.
[[nodiscard]] int bn_attrib_new(bn_attrib **ret);
// Frees the owned value and the record; nulls *attrib (null accepted).
int bn_attrib_free(bn_attrib **attrib);
LC_OWNED_FREE(bn_attrib, bn_attrib_free)
// Frees the owned value and returns the header to the new state.
[[nodiscard]] int bn_attrib_free_value(bn_attrib *attrib);
// Deep copy.
[[nodiscard]] int bn_attrib_dup(const bn_attrib *src, bn_attrib **ret);

// Plain field access.  Changing the type between ownership classes (inline,
// string, buffer) requires an empty value area ("Required condition was not
// met" otherwise), so that a record never misreads what it owns.
[[nodiscard]] int bn_attrib_get_type(const bn_attrib *attrib, bn_type *ret_type, uint32 *ret_flags);
[[nodiscard]] int bn_attrib_set_type(bn_attrib *attrib, bn_type type);
[[nodiscard]] int bn_attrib_get_attribute_id(const bn_attrib *attrib, bn_attribute_id *ret_id);
[[nodiscard]] int bn_attrib_set_attribute_id(bn_attrib *attrib, bn_attribute_id id);
// bn_type_fixed_size of the attribute's own type and flags.
[[nodiscard]] int bn_attrib_fixed_size(const bn_attrib *attrib, uint32 *ret_size,
                                       tbool *ret_numeric);

// ---------------------------------------------------------------------------
// Text forms (parsed by bn_attrib_set_str, printed by the getters below)
//
//   integers        base 10, the whole text, range-checked; unsigned types
//                   refuse a leading "-"
//   bool            true TRUE t T on ON / false FALSE f F off OFF; prints
//                   "true" or "false"
//   float32/64      the whole text; print "%.9f" / "%.18g"
//   char            exactly one byte
//   ipaddr          IPv6 when the text holds ":", else IPv4; unparsable:
//                   lc_err_assertion_failed
//   ipprefix        address "/" length (IPv4 also "/" dotted netmask); a bad
//                   IPv4 length: lc_err_assertion_failed
//   ipv4addr        four base-10 octets; ipv4prefix: the same, "/", 0..32
//                   (a bad length: lc_err_assertion_failed); the mask length
//                   printed is 32 minus the trailing zero bits of the mask
//   macaddr802      hex groups split by ":" or "."; a group of one or two
//                   digits is one byte, of three or four (or above 255) two
//                   bytes; six bytes in all; prints "00:11:22:33:44:55"
//   ipv6addr        compressed form; ipv6prefix: address "/" 0..128
//   dates, times,   the forms of util/ttime.h; date-times in local time
//   date-times
//   durations       a base-10 unsigned number; with btf_text_form the
//                   "1.500000 seconds" form of util/ttime.h
//   btype           a name of bn_type_name_map ("none" and "any" included)
//   attribute       a name of bn_attribute_id_name_map
//   string types    stored as given; "hostname" takes letters, digits, "-"
//                   and "." and must not start with "-"; "secret" is stored
//                   encoded (bn_encrypt_encode_str) unless empty or encoded
//   binary          the bytes of the text; printed up to the first zero byte
//   none            stores nothing; prints ""
//   any             fails with lc_err_unexpected_case, logged as "Bail
//                   forced with error code %d (%s)"

// Parses `text` as `type` and stores it (the previous value is freed).  For
// scalar types nothing changes on failure; for string types the old value is
// already gone.  Unparsable text: lc_err_bad_type (or the type's documented
// code), not logged.
[[nodiscard]] int bn_attrib_set_str(bn_attrib *attrib, bn_attribute_id attribute_id, bn_type type,
                                    uint32 type_flags, const char *text);
[[nodiscard]] int bn_attrib_new_str(bn_attrib **ret, bn_attribute_id attribute_id, bn_type type,
                                    uint32 type_flags, const char *text);

// Prints the value into a new heap string (free with free()).  A non-zero
// `expected_type` that differs from the attribute's type fails with
// lc_err_assertion_failed, quietly.  A string type whose string is absent
// yields null and success.  Optional outputs may be null.
[[nodiscard]] int bn_attrib_get_str(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                                    bn_type expected_type, uint32 *ret_type_and_flags,
                                    char **ret_text);
// The same into a new tstring.
[[nodiscard]] int bn_attrib_get_tstr(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                                     bn_type expected_type, uint32 *ret_type_and_flags,
                                     tstring **ret);
// The same into `buf` of `buf_size` bytes; a text that does not fit fails
// with lc_err_assertion_failed ("Required condition was not met").  An
// absent string prints as the empty text.
[[nodiscard]] int bn_attrib_get_buf(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                                    bn_type expected_type, uint32 *ret_type_and_flags, char *buf,
                                    uint32 buf_size);

// Borrow the string of a string-type attribute (null when absent).
[[nodiscard]] int bn_attrib_get_tstring_const(const bn_attrib *attrib,
                                              bn_attribute_id *ret_attribute_id,
                                              bn_type expected_type, uint32 *ret_type_and_flags,
                                              const tstring **ret);
// Hands the string to the caller and frees the attribute, on failure too.
[[nodiscard]] int bn_attrib_get_tstring_takeover(bn_attrib **attrib,
                                                 bn_attribute_id *ret_attribute_id,
                                                 bn_type expected_type, uint32 *ret_type_and_flags,
                                                 tstring **ret);
// The same three for "binary".
[[nodiscard]] int bn_attrib_get_tbuf_const(const bn_attrib *attrib,
                                           bn_attribute_id *ret_attribute_id,
                                           uint32 *ret_type_and_flags, const tbuf **ret);
[[nodiscard]] int bn_attrib_get_tbuf_takeover(bn_attrib **attrib, bn_attribute_id *ret_attribute_id,
                                              uint32 *ret_type_and_flags, tbuf **ret);
// Borrowed bytes and length of a "binary" value (null and 0 when absent).
[[nodiscard]] int bn_attrib_get_buf_const(const bn_attrib *attrib,
                                          bn_attribute_id *ret_attribute_id,
                                          uint32 *ret_type_and_flags, const uint8 **ret_bytes,
                                          uint32 *ret_len);

// Splits an "oid" value at "." into at most `max_components` numbers
// (`components` zeroed first); *ret_count gets the full number of parts.
// `components` and `ret_count` are both given or both null.
[[nodiscard]] int bn_attrib_get_oid(const bn_attrib *attrib, bn_attribute_id *ret_attribute_id,
                                    uint32 *ret_type_and_flags, uint32 max_components,
                                    uint32 *components, uint32 *ret_count);

// Stores `*buf` as "binary", taking it over and clearing the caller's
// pointer (the buffer is freed on failure too).  The copying form is the
// family member bn_attrib_set_binary.
[[nodiscard]] int bn_attrib_set_binary_takeover(bn_attrib *attrib, bn_attribute_id attribute_id,
                                                uint32 type_flags, tbuf **buf);

// ---------------------------------------------------------------------------
// Per-type family.
//
// BN_ATTRIB_TYPES(X) lists every member once as
//     X(name, type code, value argument type, getter output type)
// and is the single place where the members are named.  From it come, here,
//     int bn_attrib_set_<name>(bn_attrib *, bn_attribute_id, uint32 type_flags, <arg>);
//     int bn_attrib_new_<name>(bn_attrib **, bn_attribute_id, uint32 type_flags, <arg>);
//     int bn_attrib_get_<name>(const bn_attrib *, bn_attribute_id *, uint32 *type_and_flags,
//                              <out>);
// and, in bnode.h, the binding-level members (bn_binding_set_/new_/new_parts_/
// get_<name>).  Code that is generic over the family can use the templates
// in bn_family below, indexed by type code.
//
// Setter rules: an id outside 1..130 or equal to 4 fails with
// lc_err_assertion_failed (quiet); the old value is freed, then id, type and
// the high 16 bits of the flags are stored, value_length becomes the fixed
// size and the value is stored.  For "macaddr802" and "ipv6prefix" a
// btf_no_value flag stores the type only.  "binary" copies the buffer (null:
// absent) and its getter returns a copy.  The getter requires the exact type
// (else logs "Tried to get a %s attribute as a %s", lc_err_assertion_failed);
// `ret` is set only on success.
#define BN_ATTRIB_TYPES(X)                                                                         \
    X(uint8, bt_uint8, uint8, uint8 *)                                                             \
    X(int8, bt_int8, int8, int8 *)                                                                 \
    X(uint16, bt_uint16, uint16, uint16 *)                                                         \
    X(int16, bt_int16, int16, int16 *)                                                             \
    X(uint32, bt_uint32, uint32, uint32 *)                                                         \
    X(int32, bt_int32, int32, int32 *)                                                             \
    X(uint64, bt_uint64, uint64, uint64 *)                                                         \
    X(int64, bt_int64, int64, int64 *)                                                             \
    X(tbool, bt_bool, tbool, tbool *)                                                              \
    X(float32, bt_float32, float32, float32 *)                                                     \
    X(float64, bt_float64, float64, float64 *)                                                     \
    X(char, bt_char, char, char *)                                                                 \
    X(ipaddr, bt_ipaddr, lc_ipaddr, lc_ipaddr *)                                                   \
    X(ipprefix, bt_ipprefix, lc_ipprefix, lc_ipprefix *)                                           \
    X(ipv4addr, bt_ipv4addr, uint32, uint32 *)                                                     \
    X(ipv4prefix, bt_ipv4prefix, uint64, uint64 *)                                                 \
    X(macaddr802, bt_macaddr802, const uint8 *, uint8 *)                                           \
    X(ipv6addr, bt_ipv6addr, lc_ipv6addr, lc_ipv6addr *)                                           \
    X(ipv6prefix, bt_ipv6prefix, lc_ipv6prefix, lc_ipv6prefix *)                                   \
    X(date, bt_date, int32, int32 *)                                                               \
    X(time_sec, bt_time_sec, int32, int32 *)                                                       \
    X(time_ms, bt_time_ms, int64, int64 *)                                                         \
    X(time_us, bt_time_us, int64, int64 *)                                                         \
    X(datetime_sec, bt_datetime_sec, int32, int32 *)                                               \
    X(datetime_ms, bt_datetime_ms, int64, int64 *)                                                 \
    X(datetime_us, bt_datetime_us, int64, int64 *)                                                 \
    X(duration_sec, bt_duration_sec, int32, int32 *)                                               \
    X(duration_ms, bt_duration_ms, int64, int64 *)                                                 \
    X(duration_us, bt_duration_us, int64, int64 *)                                                 \
    X(btype, bt_btype, bn_type, bn_type *)                                                         \
    X(attribute, bt_attribute, bn_attribute_id, bn_attribute_id *)                                 \
    X(binary, bt_binary, const tbuf *, tbuf **)

// A "macaddr802" value is 6 bytes, passed by pointer.
constexpr uint32 bn_macaddr802_size = 6;

#define BN_ATTRIB_FAMILY_DECLARE(name, code, arg_t, ret_t)                                         \
    [[nodiscard]] int bn_attrib_set_##name(bn_attrib *attrib, bn_attribute_id attribute_id,        \
                                           uint32 type_flags, arg_t value);                        \
    [[nodiscard]] int bn_attrib_new_##name(bn_attrib **ret, bn_attribute_id attribute_id,          \
                                           uint32 type_flags, arg_t value);                        \
    [[nodiscard]] int bn_attrib_get_##name(const bn_attrib *attrib,                                \
                                           bn_attribute_id *ret_attribute_id,                      \
                                           uint32 *ret_type_and_flags, ret_t ret);
BN_ATTRIB_TYPES(BN_ATTRIB_FAMILY_DECLARE)
#undef BN_ATTRIB_FAMILY_DECLARE

// Generic access to the family by type code, for code that stamps out
// families of its own over BN_ATTRIB_TYPES (the binding-level members):
//     bn_family<bt_uint32>::arg_type / ret_type
//     bn_family<bt_uint32>::set(attrib, id, flags, value)   == bn_attrib_set_uint32
//     bn_family<bt_uint32>::make(&ret, id, flags, value)    == bn_attrib_new_uint32
//     bn_family<bt_uint32>::get(attrib, &id, &taf, &value)  == bn_attrib_get_uint32
template <bn_type code> struct bn_family;

#define BN_ATTRIB_FAMILY_TRAITS(name, code_, arg_t, ret_t)                                         \
    template <> struct bn_family<code_> {                                                          \
        using arg_type = arg_t;                                                                    \
        using ret_type = ret_t;                                                                    \
        static constexpr bn_type code = code_;                                                     \
        static constexpr const char *member = #name;                                               \
        static int set(bn_attrib *a, bn_attribute_id id, uint32 f, arg_t v)                        \
        {                                                                                          \
            return bn_attrib_set_##name(a, id, f, v);                                              \
        }                                                                                          \
        static int make(bn_attrib **r, bn_attribute_id id, uint32 f, arg_t v)                      \
        {                                                                                          \
            return bn_attrib_new_##name(r, id, f, v);                                              \
        }                                                                                          \
        static int get(const bn_attrib *a, bn_attribute_id *id, uint32 *taf, ret_t r)              \
        {                                                                                          \
            return bn_attrib_get_##name(a, id, taf, r);                                            \
        }                                                                                          \
    };
BN_ATTRIB_TYPES(BN_ATTRIB_FAMILY_TRAITS)
#undef BN_ATTRIB_FAMILY_TRAITS

// ---------------------------------------------------------------------------
// Comparison

// Orders two attributes (either may be null): a missing attribute sorts
// after a present one, an invalid value after a valid one, different types
// by code difference, then by value (see bn_type_numeric_compare).  A type
// with no ordering fails with lc_err_bad_type (quiet).
[[nodiscard]] int bn_attrib_compare(const bn_attrib *a, const bn_attrib *b, int32 *ret_result);

// Operator codes of bn_type_numeric_compare.
enum bn_numeric_op : uint32 {
    bno_gt = 1,        // a > b  -> 1 or 0
    bno_ge = 2,        // a >= b
    bno_lt = 3,        // a < b
    bno_le = 4,        // a <= b
    bno_eq = 5,        // a == b
    bno_three_way = 6, // -1, 0, 1
};

// Compares two ordered-numeric attributes under `op`.  Both must be
// ordered-numeric ("Required condition was not met" otherwise); attributes
// of different types go to bn_type_numeric_compare_crosstype.  An unknown
// op: lc_err_unexpected_case.  "ipv6addr" orders as a 128-bit number whose
// first address byte is least significant.
[[nodiscard]] int bn_type_numeric_compare(const bn_attrib *a, const bn_attrib *b, uint32 op,
                                          int32 *ret_result);
// Compares values of two different ordered-numeric types: integers, bool,
// char, times, "btype" and "attribute" by their signed/unsigned value,
// floats numerically against anything of these; the address and MAC types
// only against their own type (else lc_err_bad_type, quiet).
[[nodiscard]] int bn_type_numeric_compare_crosstype(const bn_attrib *a, const bn_attrib *b,
                                                    uint32 op, int32 *ret_result);
// Compares one numeric attribute (integer, float or duration; else
// "Required condition was not met") with zero under `op`.
[[nodiscard]] int bn_type_numeric_compare_zero(const bn_attrib *a, uint32 op, int32 *ret_result);

// Operator codes of bn_type_numeric_arithmetic.
enum bn_arith_op : uint32 {
    bna_add = 1,
    bna_subtract = 2,
    bna_multiply = 3,
    bna_divide = 4, // integers truncate toward zero
};

// `a op b` for two numeric attributes of one type, as a new attribute of
// that type with the id and flags of `a`.  Integers wrap at the width of
// their type, as counters do; a zero divisor fails with
// lc_err_divide_by_zero; an unknown op with lc_err_unexpected_case.  Both
// must be numeric and of one type ("Required condition was not met").
[[nodiscard]] int bn_type_numeric_arithmetic(const bn_attrib *a, const bn_attrib *b, uint32 op,
                                             bn_attrib **ret);
// The signed type that holds the difference of two values of numeric
// `type`: 8-bit types "int16", 16-bit "int32", 32- and 64-bit "int64";
// floats keep their fraction in "float64".  lc_err_bad_type (quiet) for a
// type that is not numeric.
[[nodiscard]] int bn_type_numeric_delta_type(bn_type type, bn_type *ret_type);
// `a - b` for two numeric attributes of one type, as a new attribute of the
// delta type with the id of `a`.  The difference is exact except for 64-bit
// integers, where it wraps modulo 2^64 so that a counter that wrapped still
// gives its small forward step.  Attributes of different types log
// "Cannot compute delta of attributes of different types: %s and %s" and
// fail with lc_err_bad_type.
[[nodiscard]] int bn_type_numeric_delta(const bn_attrib *a, const bn_attrib *b, bn_attrib **ret);

// ---------------------------------------------------------------------------
// Type-name converter: a string map from the 43 type names other than
// "none" and "any" to their codes.  The converter is an `smap`.

[[nodiscard]] int bn_init_type_converter(void **ret);
// A name not in the map fails with the map's not-found code (quiet).
[[nodiscard]] int bn_get_type_for_str(const void *converter, const char *name, bn_type *ret_type);
int bn_deinit_type_converter(void **converter);

// ---------------------------------------------------------------------------
// Validation helpers for configuration checks

// True when `text` equals one of `choices`.
bool bn_str_limit_choices(const char *text, bool case_sensitive, const tstr_array *choices);
// True when every byte of `text` occurs in one of the `allowed` strings (if
// given) and in none of the `disallowed` ones (if given).  Empty text: true.
bool bn_str_limit_char_range(const char *text, bool case_sensitive, const tstr_array *allowed,
                             const tstr_array *disallowed);

// ---------------------------------------------------------------------------
// Attribute arrays: the typed array over owned bn_attrib pointers (element
// copy bn_attrib_dup, free bn_attrib_free, no comparison), used sparsely:
// slot i holds the attribute whose id is i, or null.

LC_TYPED_ARRAY_DECLARE_OWNED(bn_attrib_array, bn_attrib)

// Prints slot `attribute_id` into a new tstring (null for an empty slot or
// an absent string).
[[nodiscard]] int bn_attrib_array_get_attrib_tstr(const bn_attrib_array *array,
                                                  bn_attribute_id attribute_id,
                                                  uint32 *ret_type_and_flags, tstring **ret);

// ---------------------------------------------------------------------------
// Wire copy table.  Each row writes (copy-out) or reads (copy-in) one whole
// attribute record of the message encoding: encoding (4), attribute id (4),
// type (4), type flags (4), then the value, all integers big-endian.

// Encoding word of an attribute record.
enum bn_attrib_encoding : uint32 {
    bae_numeric = 1, // numeric or address value
    bae_raw = 2,     // raw fixed-size bytes (MAC address)
    bae_string = 4,  // string or binary buffer
};
constexpr uint32 bn_attrib_wire_header_size = 16;
// Where the type lies in a record: readers pick the copy function by it.
constexpr uint32 bn_attrib_wire_type_offset = 8;

// Appends the record of `attrib` to `buf`.
typedef int (*bn_attrib_copy_out_func)(const bn_attrib *attrib, tbuf *buf);
// Reads one record from `bytes` (`avail` bytes present) into `attrib`,
// replacing its value; *ret_used gets the bytes consumed (trailing bytes are
// the caller's).  Truncated input: lc_err_no_buffer_space; a record that
// contradicts its type (encoding, value length, family, prefix length) or
// carries an attribute id above 130: lc_err_parse_error.  Both are logged
// once, as "Bail forced with error code %d (%s)".  The value layouts are
// listed at the top of bnode_types_wire.cc.
typedef int (*bn_attrib_copy_in_func)(bn_attrib *attrib, const uint8 *bytes, uint32 avail,
                                      uint32 *ret_used);

struct bn_attrib_copy_func_pair {
    bn_attrib_copy_in_func copy_in;
    bn_attrib_copy_out_func copy_out;
};
// Indexed by type code; rows without functions are null.
extern const std::array<bn_attrib_copy_func_pair, bn_type_table_size> bn_attrib_copy_funcs;

// ---------------------------------------------------------------------------
// Secrets.  A "secret" value is stored encoded.  The coder is a reversible
// obfuscation (it keeps secrets out of dumps and logs in clear; it is not
// encryption): the encoded form is "$bns1$" followed by two lower-case hex
// digits per byte of the secret, each byte XOR-ed with a fixed key stream.

// Encodes `plain` into a new heap string.
[[nodiscard]] int bn_encrypt_encode_str(const char *plain, char **ret_encoded);
// Decodes an encoded text into a new heap string; the empty text decodes to
// itself; a text not in the encoded form fails with lc_err_bad_type (quiet).
[[nodiscard]] int bn_decode_decrypt_str(const char *encoded, char **ret_plain);
// True when `text` is in the encoded form.
bool is_encrypted_secret(const char *text);
