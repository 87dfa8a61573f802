// Shared by the tests: "the call succeeded" and "its out-parameter now
// holds X" as one check, and setup objects made in one line.
#pragma once

#include <gtest/gtest.h>

#include <source_location>
#include <utility>

#include "log/common.h"

// The out-parameter a call filled, once the call has returned success.
// `out` is taken by reference so it is read after the call has run.
template <class T>
const T &ok(int rc, const T &out, std::source_location at = std::source_location::current())
{
    EXPECT_EQ(rc, 0) << "call at line " << at.line();
    return out;
}
template <class T>
const T &ok(bool done, const T &out, std::source_location at = std::source_location::current())
{
    EXPECT_TRUE(done) << "call at line " << at.line();
    return out;
}

// A new object from a `_new(&ret, ...)` style constructor, checked to succeed.
template <class T, class... P, class... A> owned<T> create(int (*ctor)(T **, P...), A &&...args)
{
    owned<T> o;
    EXPECT_EQ(ctor(o.out(), std::forward<A>(args)...), 0);
    return o;
}
