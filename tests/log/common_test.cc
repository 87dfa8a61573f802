// The ownership helpers every layer builds on: the descriptor guard and the
// container-growth wrapper that turns an allocation failure into a null.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <vector>

#include "log/common.h"

namespace
{

bool is_open(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, OwnsItsDescriptorUntilReleasedOrMoved)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        lc_unique_fd r(fds[0]);
        lc_unique_fd w(fds[1]);
        w.reset();
        EXPECT_FALSE(w);
        EXPECT_FALSE(is_open(fds[1]));
        EXPECT_TRUE(is_open(fds[0]));
    }
    EXPECT_FALSE(is_open(fds[0])); // closed on scope exit

    ASSERT_EQ(pipe(fds), 0);
    lc_unique_fd w(fds[1]);
    int kept;
    {
        lc_unique_fd r(fds[0]);
        kept = r.release();
        EXPECT_EQ(r.get(), -1);
    }
    EXPECT_TRUE(is_open(kept));

    // A move hands the descriptor over; the target's old one closes.
    lc_unique_fd a(kept);
    lc_unique_fd b(std::move(a));
    EXPECT_FALSE(a);
    w = std::move(b);
    EXPECT_FALSE(is_open(fds[1]));
    EXPECT_EQ(w.get(), kept);

    errno = ENOENT;
    w.reset();
    EXPECT_EQ(errno, ENOENT); // closing keeps errno
    EXPECT_FALSE(is_open(kept));
}

TEST(Grow, ReturnsTheObjectOrNullWhenAllocationFails)
{
    std::vector<int> v;
    EXPECT_EQ(lc_grow(&v, [&] { v.push_back(7); }), &v);
    EXPECT_EQ(v.size(), 1u);

    EXPECT_EQ(lc_grow(&v, [&] { v.reserve(v.max_size() + 1); }), nullptr); // length_error
    EXPECT_EQ(lc_grow(&v, [] { throw std::bad_alloc(); }), nullptr);
    EXPECT_EQ(v.size(), 1u);
}

} // namespace
