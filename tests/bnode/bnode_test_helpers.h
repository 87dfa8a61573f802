// Small conversions shared by the binding tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "util/tstr_array.h"

namespace bnode_test
{

using strings_t = std::vector<std::string>;

// The texts of a string array ("<null>" for an empty slot).
inline strings_t strings_of(const tstr_array *a)
{
    strings_t v;
    for (uint32 i = 0; i < tstr_array_length_quick(a); ++i) {
        const char *s = tstr_array_get_str_quick(a, i);
        v.push_back(s ? s : "<null>");
    }
    return v;
}

inline owned<tstr_array> tstrs(const strings_t &v)
{
    owned<tstr_array> a;
    EXPECT_EQ(tstr_array_new(a.out(), nullptr), 0);
    for (const std::string &s : v) EXPECT_EQ(tstr_array_append_str(a.get(), s.c_str()), 0);
    return a;
}

struct free_str {
    void operator()(char *p) const { free(p); }
};
// Holds a malloc()ed string.
using heap_str = std::unique_ptr<char, free_str>;

} // namespace bnode_test
