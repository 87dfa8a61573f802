// Address values carried by attributes: a family-tagged address
// (`lc_ipaddr`), a family-tagged prefix (`lc_ipprefix`), and the plain IPv6
// address and prefix records of the "ipv6addr" and "ipv6prefix" types.
//
// All records are plain values (no owned memory) with fixed layouts: an
// attribute copies them bytewise.  Addresses are kept in network byte order.
// The text forms are the standard presentation forms of the C library
// (dotted quad, compressed IPv6) with "/" and a decimal length for prefixes.
#pragma once

#include "log/common.h"

// Address families as stored in the family byte.
enum lc_ip_family : uint8 {
    lc_ipf_none = 0,
    lc_ipf_ipv4 = 4,
    lc_ipf_ipv6 = 6,
};

// Family byte, then at offset 16 the 16-byte address (IPv4 uses the first
// 4 bytes, the rest zero).  32 bytes.
struct lc_ipaddr {
    uint8 family;
    uint8 reserved[15];
    uint8 addr[16];
};
static_assert(sizeof(lc_ipaddr) == 32);

// Family byte, prefix length, then at offset 16 the 16-byte address.
struct lc_ipprefix {
    uint8 family;
    uint8 mask_len;
    uint8 reserved[14];
    uint8 addr[16];
};
static_assert(sizeof(lc_ipprefix) == 32);

// 16 bytes in network order.
struct lc_ipv6addr {
    uint8 addr[16];
};
static_assert(sizeof(lc_ipv6addr) == 16);

// Address then the prefix length (0..128).  17 bytes.
struct lc_ipv6prefix {
    lc_ipv6addr addr;
    uint8 mask_len;
};
static_assert(sizeof(lc_ipv6prefix) == 17);

// Longest text of any address or prefix printed here, with the terminator.
constexpr uint32 lc_ip_str_max = 64;

// Parsing: a text containing ":" is IPv6, otherwise IPv4.  Failures return
// lc_err_bad_type without logging; *ret is zeroed first.
[[nodiscard]] int lc_ipaddr_from_str(const char *text, lc_ipaddr *ret);
// "addr/len"; an IPv4 prefix also takes a dotted netmask after "/".  The
// host bits are kept as given.  A bad IPv4 length is lc_err_assertion_failed,
// anything else unparsable lc_err_bad_type; neither is logged.
[[nodiscard]] int lc_ipprefix_from_str(const char *text, lc_ipprefix *ret);
[[nodiscard]] int lc_ipv6addr_from_str(const char *text, lc_ipv6addr *ret);
// "addr/len" with len 0..128.
[[nodiscard]] int lc_ipv6prefix_from_str(const char *text, lc_ipv6prefix *ret);

// Printing into `buf` of `size` bytes (lc_ip_str_max always suffices); a
// record with no family prints as the empty text.  lc_err_no_buffer_space
// when the text does not fit (not logged).
[[nodiscard]] int lc_ipaddr_to_buf(const lc_ipaddr *addr, char *buf, uint32 size);
[[nodiscard]] int lc_ipprefix_to_buf(const lc_ipprefix *prefix, char *buf, uint32 size);
[[nodiscard]] int lc_ipv6addr_to_buf(const lc_ipv6addr *addr, char *buf, uint32 size);
[[nodiscard]] int lc_ipv6prefix_to_buf(const lc_ipv6prefix *prefix, char *buf, uint32 size);

// Orderings (negative, zero, positive): family, then the address bytes in
// network order, then (prefixes) the length.
int lc_ipaddr_cmp(const lc_ipaddr *a, const lc_ipaddr *b);
int lc_ipprefix_cmp(const lc_ipprefix *a, const lc_ipprefix *b);
