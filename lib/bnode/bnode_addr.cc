// Address values: parsing and printing through the C library's presentation
// forms, and the orderings used by attribute comparison.
#include "bnode/bnode_addr.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "log/logging.h"
#include "util/byte_cursor.h"

namespace
{

constexpr uint32 ipv4_len = 4;
constexpr uint32 ipv6_len = 16;
// Longest IPv6 presentation text we pass to inet_pton.
constexpr size_t addr_text_max = 63;

// Base-10 length of digits only, no sign, at most `max`; false otherwise.
bool parse_len(std::string_view s, uint32 max, uint32 *ret)
{
    if (s.empty() || s.size() > 3) return false;
    uint32 v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32(c - '0');
    }
    if (v > max) return false;
    *ret = v;
    return true;
}

// inet_pton on a part of a text (copied so it is terminated).
bool pton(int af, std::string_view s, uint8 *out)
{
    char tmp[addr_text_max + 1];
    if (s.size() > addr_text_max) return false;
    memcpy(tmp, s.data(), s.size());
    tmp[s.size()] = '\0';
    return inet_pton(af, tmp, out) == 1;
}

// Length of a contiguous netmask, or -1 when the mask has holes.
int mask_to_len(uint32 mask)
{
    int len = 0;
    while (len < 32 && (mask & (0x80000000u >> len))) ++len;
    uint32 expect = len == 0 ? 0 : ~uint32(0) << (32 - len);
    return mask == expect ? len : -1;
}

int print_to(char *buf, uint32 size, const char *addr_text, int len)
{
    int n = len < 0 ? snprintf(buf, size, "%s", addr_text)
                    : snprintf(buf, size, "%s/%d", addr_text, len);
    return n < 0 || uint32(n) >= size ? lc_err_no_buffer_space : 0;
}

} // namespace

int lc_ipaddr_from_str(const char *text, lc_ipaddr *ret)
{
    bail_null(ret);
    *ret = lc_ipaddr{};
    bail_null(text);
    std::string_view s(text);
    lc_ipaddr a{};
    if (s.find(':') != std::string_view::npos) {
        if (!pton(AF_INET6, s, a.addr)) return lc_err_bad_type;
        a.family = lc_ipf_ipv6;
    } else {
        if (!pton(AF_INET, s, a.addr)) return lc_err_bad_type;
        a.family = lc_ipf_ipv4;
    }
    *ret = a;
    return 0;
}

int lc_ipprefix_from_str(const char *text, lc_ipprefix *ret)
{
    bail_null(ret);
    *ret = lc_ipprefix{};
    bail_null(text);
    std::string_view s(text);
    size_t slash = s.find('/');
    if (slash == std::string_view::npos) return lc_err_bad_type;
    std::string_view addr = s.substr(0, slash), len = s.substr(slash + 1);
    lc_ipprefix p{};
    uint32 l = 0;
    if (addr.find(':') != std::string_view::npos) {
        if (!pton(AF_INET6, addr, p.addr)) return lc_err_bad_type;
        if (!parse_len(len, 128, &l)) return lc_err_bad_type;
        p.family = lc_ipf_ipv6;
    } else {
        if (!pton(AF_INET, addr, p.addr)) return lc_err_bad_type;
        uint8 mask[ipv4_len];
        if (len.find('.') != std::string_view::npos && pton(AF_INET, len, mask)) {
            int ml = mask_to_len(lc_bytes::load<lc_bytes::order::big, uint32>(mask));
            if (ml < 0) return lc_err_assertion_failed;
            l = uint32(ml);
        } else if (!parse_len(len, 32, &l)) {
            return lc_err_assertion_failed;
        }
        p.family = lc_ipf_ipv4;
    }
    p.mask_len = uint8(l);
    *ret = p;
    return 0;
}

int lc_ipv6addr_from_str(const char *text, lc_ipv6addr *ret)
{
    bail_null(ret);
    *ret = lc_ipv6addr{};
    bail_null(text);
    lc_ipv6addr a{};
    if (!pton(AF_INET6, text, a.addr)) return lc_err_bad_type;
    *ret = a;
    return 0;
}

int lc_ipv6prefix_from_str(const char *text, lc_ipv6prefix *ret)
{
    bail_null(ret);
    *ret = lc_ipv6prefix{};
    bail_null(text);
    lc_ipprefix p;
    if (lc_ipprefix_from_str(text, &p) != 0 || p.family != lc_ipf_ipv6) return lc_err_bad_type;
    memcpy(ret->addr.addr, p.addr, sizeof ret->addr.addr);
    ret->mask_len = p.mask_len;
    return 0;
}

int lc_ipaddr_to_buf(const lc_ipaddr *addr, char *buf, uint32 size)
{
    bail_null(addr);
    bail_null(buf);
    char tmp[INET6_ADDRSTRLEN] = "";
    if (addr->family == lc_ipf_ipv4) inet_ntop(AF_INET, addr->addr, tmp, sizeof tmp);
    if (addr->family == lc_ipf_ipv6) inet_ntop(AF_INET6, addr->addr, tmp, sizeof tmp);
    return print_to(buf, size, tmp, -1);
}

int lc_ipprefix_to_buf(const lc_ipprefix *prefix, char *buf, uint32 size)
{
    bail_null(prefix);
    bail_null(buf);
    char tmp[INET6_ADDRSTRLEN] = "";
    if (prefix->family == lc_ipf_ipv4)
        inet_ntop(AF_INET, prefix->addr, tmp, sizeof tmp);
    else if (prefix->family == lc_ipf_ipv6)
        inet_ntop(AF_INET6, prefix->addr, tmp, sizeof tmp);
    else
        return print_to(buf, size, "", -1);
    return print_to(buf, size, tmp, prefix->mask_len);
}

int lc_ipv6addr_to_buf(const lc_ipv6addr *addr, char *buf, uint32 size)
{
    bail_null(addr);
    bail_null(buf);
    char tmp[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, addr->addr, tmp, sizeof tmp);
    return print_to(buf, size, tmp, -1);
}

int lc_ipv6prefix_to_buf(const lc_ipv6prefix *prefix, char *buf, uint32 size)
{
    bail_null(prefix);
    bail_null(buf);
    char tmp[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, prefix->addr.addr, tmp, sizeof tmp);
    return print_to(buf, size, tmp, prefix->mask_len);
}

int lc_ipaddr_cmp(const lc_ipaddr *a, const lc_ipaddr *b)
{
    if (a->family != b->family) return int(a->family) - int(b->family);
    uint32 n = a->family == lc_ipf_ipv4 ? ipv4_len : ipv6_len;
    return memcmp(a->addr, b->addr, n);
}

int lc_ipprefix_cmp(const lc_ipprefix *a, const lc_ipprefix *b)
{
    if (a->family != b->family) return int(a->family) - int(b->family);
    uint32 n = a->family == lc_ipf_ipv4 ? ipv4_len : ipv6_len;
    if (int c = memcmp(a->addr, b->addr, n)) return c;
    return int(a->mask_len) - int(b->mask_len);
}
