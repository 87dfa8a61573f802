// The secret coder of "secret" attributes.
//
// This is an obfuscation, not encryption: it keeps secrets from showing in
// clear in dumps and logs of bindings and nothing more.  The encoded form
// is the marker "$bns1$" followed by lower-case hex, two digits per byte of
// the secret, each byte XOR-ed with a fixed key stream (a repeating key
// mixed with the byte's position).  is_encrypted_secret recognises exactly
// that form, so encoding an already encoded text never happens twice.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bnode/bnode_types.h"

namespace
{

constexpr std::string_view secret_marker = "$bns1$";
constexpr uint8 secret_key[] = {0x5a, 0xc3, 0x17, 0x8e, 0x2b, 0xf4, 0x61, 0x9d};

uint8 key_at(size_t i)
{
    return uint8(secret_key[i % sizeof secret_key] ^ (i * 0x25));
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

bool is_encrypted_secret(const char *text)
{
    if (text == nullptr) return false;
    std::string_view s(text);
    if (s.substr(0, secret_marker.size()) != secret_marker) return false;
    s.remove_prefix(secret_marker.size());
    if (s.size() % 2 != 0) return false;
    for (char c : s)
        if (hex_value(c) < 0) return false;
    return true;
}

int bn_encrypt_encode_str(const char *plain, char **ret_encoded)
{
    bail_null(ret_encoded);
    *ret_encoded = nullptr;
    bail_null(plain);
    static constexpr char digits[] = "0123456789abcdef";
    const size_t n = strlen(plain);
    char *out = static_cast<char *>(malloc(secret_marker.size() + 2 * n + 1));
    bail_null(out);
    memcpy(out, secret_marker.data(), secret_marker.size());
    char *p = out + secret_marker.size();
    for (size_t i = 0; i < n; ++i) {
        uint8 b = uint8(plain[i]) ^ key_at(i);
        *p++ = digits[b >> 4];
        *p++ = digits[b & 0xF];
    }
    *p = '\0';
    *ret_encoded = out;
    return 0;
}

int bn_decode_decrypt_str(const char *encoded, char **ret_plain)
{
    bail_null(ret_plain);
    *ret_plain = nullptr;
    bail_null(encoded);
    if (encoded[0] != '\0' && !is_encrypted_secret(encoded)) return lc_err_bad_type;
    const char *hex = encoded[0] ? encoded + secret_marker.size() : encoded;
    const size_t n = strlen(hex) / 2;
    char *out = static_cast<char *>(malloc(n + 1));
    bail_null(out);
    for (size_t i = 0; i < n; ++i)
        out[i] = char(uint8(hex_value(hex[2 * i]) << 4 | hex_value(hex[2 * i + 1])) ^ key_at(i));
    out[n] = '\0';
    *ret_plain = out;
    return 0;
}
