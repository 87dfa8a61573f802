// Shared by the util tests: folds "the call succeeded" and "its
// out-parameter holds X" into one check.
#pragma once

#include <gtest/gtest.h>

#include <source_location>

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
