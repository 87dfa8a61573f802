// Allocation-free walking of node names and wildcard matching of their parts.
//
// Internal to the bnode library (and its tests and benchmarks).  A node name
// is read part by part straight from its text, with the same rules as the
// name tokeniser (separator "/", escape backslash, every separator ends a
// part, a leading "/" makes the name absolute and produces no part, an empty
// remainder produces no parts), so that matching a name against a pattern
// costs no allocation.  Parts come in two forms: raw (still escaped, as cut
// out of a name's text) and plain (already unescaped, as held in a
// tstr_array); comparisons always compare the unescaped texts.
#pragma once

#include <string_view>

#include "log/common.h"

namespace detail
{

// One part: its text, and whether that text is still escaped.  `plain`
// says the text holds no escape, so it reads the same either way.
struct name_part {
    std::string_view text;
    bool raw;
    bool plain;
};

// Reads the next unescaped byte of a raw part at `*pos`; a backslash before
// "/" or a backslash stands for that character, any other backslash for
// itself.
inline char raw_part_next_char(std::string_view raw, size_t *pos)
{
    char c = raw[*pos];
    if (c == '\\' && *pos + 1 < raw.size() && (raw[*pos + 1] == '/' || raw[*pos + 1] == '\\')) {
        c = raw[*pos + 1];
        *pos += 2;
        return c;
    }
    *pos += 1;
    return c;
}

// Equality of the unescaped texts of two parts.
inline bool name_part_equal(name_part a, name_part b)
{
    if (a.plain && b.plain) return a.text == b.text;
    if (a.text == b.text && a.raw == b.raw) return true;
    size_t i = 0;
    size_t j = 0;
    while (i < a.text.size() && j < b.text.size()) {
        const char ca = a.raw ? raw_part_next_char(a.text, &i) : a.text[i++];
        const char cb = b.raw ? raw_part_next_char(b.text, &j) : b.text[j++];
        if (ca != cb) return false;
    }
    return i == a.text.size() && j == b.text.size();
}

// An escaped "*" is not a wildcard, and no escape sequence unescapes to "*",
// so the raw and the plain forms are checked alike.
inline bool name_part_is_star(name_part p)
{
    return p.text == "*";
}
inline bool name_part_is_double_star(name_part p)
{
    return p.text == "**";
}

// Parts of a name's text, cut out without copying.
class raw_name_parts
{
  public:
    explicit raw_name_parts(std::string_view name)
    {
        absolute_ = !name.empty() && name[0] == '/';
        rest_ = absolute_ ? name.substr(1) : name;
        // An empty remainder is "no parts" rather than one empty part.
        at_end_ = rest_.empty();
    }
    bool absolute() const { return absolute_; }
    bool at_end() const { return at_end_; }

    // Cuts the next part; only valid while !at_end().
    name_part next()
    {
        size_t i = 0;
        bool plain = true;
        while (i < rest_.size() && rest_[i] != '/') {
            if (rest_[i] == '\\') {
                plain = false;
                // An escape takes the next character with it, whatever it is.
                if (i + 1 < rest_.size()) ++i;
            }
            ++i;
        }
        const name_part part{rest_.substr(0, i), true, plain};
        if (i == rest_.size()) {
            at_end_ = true;
            rest_ = {};
        } else {
            // The separator ends this part; what follows it (even nothing)
            // is one more part.
            rest_ = rest_.substr(i + 1);
        }
        return part;
    }

    // Number of parts not yet cut.
    uint32 remaining() const
    {
        if (at_end_) return 0;
        uint32 n = 1;
        for (size_t i = 0; i < rest_.size(); ++i) {
            if (rest_[i] == '\\' && i + 1 < rest_.size())
                ++i;
            else if (rest_[i] == '/')
                ++n;
        }
        return n;
    }

  private:
    std::string_view rest_;
    bool absolute_ = false;
    bool at_end_ = true;
};

// Parts already split, read from any indexable source of plain texts
// (`get(i)` returns a `const char *`, null for an empty slot).
template <class Get> class plain_name_parts
{
  public:
    plain_name_parts(Get get, uint32 start, uint32 length) : get_(get), i_(start), n_(length) {}
    bool at_end() const { return i_ >= n_; }
    uint32 remaining() const { return at_end() ? 0 : n_ - i_; }
    // A null slot reads as `valid() == false` afterwards, which fails the match.
    name_part next()
    {
        const char *s = get_(i_++);
        if (s == nullptr) {
            valid_ = false;
            return {std::string_view{}, false, true};
        }
        return {std::string_view{s}, false, true};
    }
    bool valid() const { return valid_; }

  private:
    Get get_;
    uint32 i_;
    uint32 n_;
    bool valid_ = true;
};

template <class P> inline bool parts_valid(const P &)
{
    return true;
}
template <class Get> inline bool parts_valid(const plain_name_parts<Get> &p)
{
    return p.valid();
}

// The wildcard rule, walked in step over both sequences (absoluteness is
// the caller's business): a pattern part equal to the name part, or "*",
// goes on; "**" matches at once provided the pattern has no more parts than
// the name; anything else fails; when the pattern runs out the name must
// run out too.  A pattern longer than the name fails in every branch, so the
// lengths are only counted when a "**" is reached, and the usual miss stops
// at the first differing part.
template <class Names, class Patterns> bool wildcard_match_parts(Names names, Patterns patterns)
{
    while (!patterns.at_end()) {
        if (names.at_end()) return false;
        const name_part q = patterns.next();
        const name_part n = names.next();
        if (!parts_valid(patterns) || !parts_valid(names)) return false;
        if (name_part_is_double_star(q)) return patterns.remaining() <= names.remaining();
        if (!name_part_is_star(q) && !name_part_equal(q, n)) return false;
    }
    return names.at_end();
}

// Number of parts after the part that ends at `end` (which points at the
// separator after it, or at the terminating NUL).
inline uint32 text_parts_after(const char *end)
{
    if (*end == '\0') return 0;
    uint32 n = 1;
    for (const char *c = end + 1; *c != '\0'; ++c) {
        if (*c == '\\' && c[1] != '\0')
            ++c;
        else if (*c == '/')
            ++n;
    }
    return n;
}

// Moves past the part starting at `c` (escapes taken whole) to the
// separator after it or the terminating NUL.
inline const char *text_skip_part(const char *c)
{
    while (*c != '/' && *c != '\0') c += (*c == '\\' && c[1] != '\0') ? 2 : 1;
    return c;
}

// Outcome of text_wildcard_match.
enum text_match_result { text_no_match = 0, text_match = 1, text_needs_unescaping = 2 };

// The wildcard rule (absoluteness included) over two name texts in one
// pass, comparing parts byte for byte in place.  Meeting an escape where
// parts are compared gives up with text_needs_unescaping, for the caller to
// decide through the part walker; the rule is the same as there.
inline text_match_result text_wildcard_match(const char *name, const char *pattern)
{
    const bool name_abs = *name == '/';
    if (name_abs != (*pattern == '/')) return text_no_match;
    const char *n = name + name_abs;
    const char *p = pattern + name_abs;
    // A part exists wherever a separator was passed, even before the end;
    // an empty text after the leading "/" has none.
    bool n_done = *n == '\0';
    bool p_done = *p == '\0';
    while (!p_done) {
        if (n_done) return text_no_match;
        if (p[0] == '*' && (p[1] == '/' || p[1] == '\0')) {
            ++p;
            n = text_skip_part(n);
        } else if (p[0] == '*' && p[1] == '*' && (p[2] == '/' || p[2] == '\0')) {
            n = text_skip_part(n);
            return text_parts_after(p + 2) <= text_parts_after(n) ? text_match : text_no_match;
        } else {
            while (*p == *n && *p != '/' && *p != '\0' && *p != '\\') {
                ++p;
                ++n;
            }
            if (*p == '\\' || *n == '\\') return text_needs_unescaping;
            if ((*p != '/' && *p != '\0') || (*n != '/' && *n != '\0')) return text_no_match;
        }
        p_done = *p == '\0';
        n_done = *n == '\0';
        p += !p_done;
        n += !n_done;
    }
    return n_done ? text_match : text_no_match;
}

} // namespace detail
