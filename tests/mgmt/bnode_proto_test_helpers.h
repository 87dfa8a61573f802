// Byte-vector and log helpers shared by the message tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/tbuffer.h"

namespace proto_test
{

using bytes = std::vector<uint8>;

// Concatenates pieces of a vector written out by hand.
inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A string as the layout writes it: a 32-bit big-endian length, then the
// bytes (lengths used here stay below 256).
inline bytes str(const std::string &s)
{
    bytes b(4 + s.size(), 0);
    b[3] = uint8(s.size());
    for (size_t i = 0; i < s.size(); ++i) b[4 + i] = uint8(s[i]);
    return b;
}

inline bytes of(const tbuf *buf, uint32 from = 0)
{
    return bytes(tb_buf(buf) + from, tb_buf(buf) + tb_length(buf));
}

// The bytes as C initialiser text, ready to paste into a table.
inline std::string hex(const bytes &b)
{
    std::string s;
    char t[8];
    for (size_t i = 0; i < b.size(); ++i) {
        snprintf(t, sizeof t, "0x%02x,", b[i]);
        s += t;
        s += (i % 16 == 15) ? "\n" : " ";
    }
    return s;
}

// Captured lines without the logger's header (learned from a reference
// line logged first at `ref_level`, the level of the lines compared).
class Lines
{
  public:
    explicit Lines(int ref_level = LCL_ERR) : cap_(LCL_DEBUG) { lc_log_basic(ref_level, "REF"); }
    std::vector<std::string> bodies() const
    {
        std::vector<std::string> all = cap_.lines();
        std::vector<std::string> out;
        if (all.empty()) return out;
        const std::string head = all[0].substr(0, all[0].size() - 3);
        for (size_t i = 1; i < all.size(); ++i)
            out.push_back(all[i].compare(0, head.size(), head) == 0 ? all[i].substr(head.size())
                                                                    : all[i]);
        return out;
    }
    size_t count(std::string_view needle) const { return cap_.count(needle); }
    std::string dump() const { return cap_.dump(); }

  private:
    LogCapture cap_;
};

} // namespace proto_test
