// The deadline tree against a reference ordering, under random churn.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "event/deadline_tree.h"

using detail::deadline_node;
using detail::deadline_tree;

namespace
{

std::vector<deadline_node *> in_order(const deadline_tree &t)
{
    std::vector<deadline_node *> v;
    for (deadline_node *n = t.first(); n; n = deadline_tree::next(n)) v.push_back(n);
    return v;
}

TEST(DeadlineTree, RandomInsertEraseKeepsOrderAndBalance)
{
    std::mt19937 rng(42);
    std::vector<deadline_node> nodes(2000);
    std::vector<uint32> seq(nodes.size()); // insertion sequence, to check ties
    std::vector<bool> in(nodes.size(), false);
    deadline_tree t;
    uint32 counter = 0;
    for (int step = 0; step < 20000; ++step) {
        const size_t i = rng() % nodes.size();
        if (in[i]) {
            t.erase(&nodes[i]);
            in[i] = false;
        } else {
            nodes[i].key = static_cast<int64>(rng() % 60);
            seq[i] = counter++;
            t.insert(&nodes[i]);
            in[i] = true;
        }
        if (step % 97 == 0) {
            ASSERT_TRUE(t.valid()) << step;
        }
    }
    ASSERT_TRUE(t.valid());
    const auto v = in_order(t);
    ASSERT_EQ(v.size(), static_cast<size_t>(std::count(in.begin(), in.end(), true)));
    ASSERT_EQ(t.size(), v.size());
    for (size_t k = 1; k < v.size(); ++k) {
        ASSERT_LE(v[k - 1]->key, v[k]->key);
        if (v[k - 1]->key == v[k]->key) {
            EXPECT_LT(seq[v[k - 1] - nodes.data()], seq[v[k] - nodes.data()]) << "ties in order";
        }
    }
    // Drain from the front, as the loop does.
    while (deadline_node *n = t.first()) t.erase(n);
    EXPECT_TRUE(t.empty());
    EXPECT_TRUE(t.valid());
}

TEST(DeadlineTree, ShiftMovesEveryKeyAndKeepsTheMinimum)
{
    deadline_node a, b;
    a.key = 10900000;
    b.key = 12000100;
    deadline_tree t;
    t.insert(&b);
    t.insert(&a);
    t.shift_all(-1950000);
    EXPECT_EQ(t.first(), &a);
    EXPECT_EQ(a.key, 8950000);
    EXPECT_EQ(b.key, 10050100);
    t.erase(&a);
    EXPECT_EQ(t.first(), &b);
    EXPECT_TRUE(t.valid());
}

} // namespace
