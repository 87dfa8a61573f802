#include "util/string_map.h"

#include <gtest/gtest.h>

#include "util/tstring.h"

namespace
{

TEST(Smap, MapsBothWaysWithItsOwnCopies)
{
    owned<smap> m;
    ASSERT_EQ(smap_new(m.out()), 0);
    char name[] = "uint32";
    ASSERT_EQ(smap_insert_str(m.get(), 6, name), 0);
    name[0] = 'X'; // the map must not have kept the caller's buffer
    owned<tstring> ts;
    ASSERT_EQ(ts_new_str(ts.out(), "string"), 0);
    ASSERT_EQ(smap_insert(m.get(), 12, ts.get()), 0);

    const char *s = nullptr;
    ASSERT_EQ(smap_get_string_str(m.get(), 6, &s), 0);
    EXPECT_STREQ(s, "uint32");
    uint32 id = 0;
    ASSERT_EQ(smap_get_id(m.get(), ts.get(), &id), 0);
    EXPECT_EQ(id, 12u);
    ASSERT_EQ(smap_get_id_str(m.get(), "uint32", &id), 0);
    EXPECT_EQ(id, 6u);
    owned<tstring> got;
    ASSERT_EQ(smap_get_string(m.get(), 12, got.out()), 0);
    EXPECT_STREQ(got->buf, "string");
}

TEST(Smap, MissingEntriesAreNotFoundWithNeutralOutputs)
{
    owned<smap> m;
    ASSERT_EQ(smap_new(m.out()), 0);
    const char *s = "junk";
    EXPECT_EQ(smap_get_string_str(m.get(), 1, &s), lc_err_not_found);
    EXPECT_EQ(s, nullptr);
    uint32 id = 7;
    EXPECT_EQ(smap_get_id_str(m.get(), "none", &id), lc_err_not_found);
    EXPECT_EQ(id, 0u);
    owned<tstring> got;
    EXPECT_EQ(smap_get_string(m.get(), 1, got.out()), lc_err_not_found);
    EXPECT_EQ(got.get(), nullptr);
}

TEST(Smap, ReinsertingKeepsTheMapOneToOne)
{
    owned<smap> m;
    ASSERT_EQ(smap_new(m.out()), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 1, "a"), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 2, "b"), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 1, "b"), 0); // "a" and id 2 are forgotten
    uint32 id = 0;
    EXPECT_EQ(smap_get_id_str(m.get(), "a", &id), lc_err_not_found);
    const char *s = nullptr;
    EXPECT_EQ(smap_get_string_str(m.get(), 2, &s), lc_err_not_found);
    ASSERT_EQ(smap_get_id_str(m.get(), "b", &id), 0);
    EXPECT_EQ(id, 1u);

    // Re-inserting text the map lent out is safe.
    ASSERT_EQ(smap_get_string_str(m.get(), 1, &s), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 1, s), 0);
    ASSERT_EQ(smap_get_string_str(m.get(), 1, &s), 0);
    EXPECT_STREQ(s, "b");
}

} // namespace
