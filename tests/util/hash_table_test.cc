#include "util/hash_table.h"
#include "util/string_map.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>

#include "support/call_ok.h"
#include "support/log_capture.h"
#include "util/tstring.h"

namespace
{

TEST(HtHash, MatchesTheReferenceValues)
{
    struct {
        std::string key;
        uint32 hash;
    } const golden[] = {
        {"", 0x3df641a9},
        {"a", 0xdf462a3e},
        {"hello", 0xdf9be133},
        {"/qz/iptrackd/config/manager", 0x557b6d4b},
        {"abcdefghijklmnopqrstuvwxyz0123456789", 0x9cee659d},
        {std::string("\xff\x80\x7f", 3), 0xd00ccffc}, // bytes are unsigned
    };
    for (const auto &g : golden) {
        const uint32 h = ht_hash_string_func(g.key.data(), static_cast<uint32>(g.key.size()));
        EXPECT_EQ(h, g.hash) << '"' << g.key << "\" gave 0x" << std::hex << h;
        EXPECT_EQ(ht_bjh_hash(g.key.data(), static_cast<uint32>(g.key.size()), 0x12345678), h);
    }
}

// A table that copies string keys and values, so the test keeps nothing alive.
owned<ht> string_table(bool fail_on_existing = false)
{
    ht_options o = ht_default_options;
    o.set = ht_string_set_func;
    o.dup = ht_string_dup_func;
    o.free = ht_string_free_func;
    o.fail_on_existing = fail_on_existing;
    return create(ht_new, &o);
}

std::string key(int i)
{
    return "node-" + std::to_string(i);
}

TEST(Ht, GrowsOnThe94thNodeAndShrinksBackAt20)
{
    owned<ht> t = string_table();
    LogCapture cap;
    for (int i = 0; i < 93; ++i) ASSERT_EQ(ht_insert(t.get(), key(i).c_str(), -1, nullptr), 0);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 31u);
    EXPECT_EQ(cap.count("resize ht"), 0u);
    ASSERT_EQ(ht_insert(t.get(), key(93).c_str(), -1, nullptr), 0);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 124u);
    EXPECT_TRUE(cap.contains("resize ht from 31 to 124")) << cap.dump();

    // Every key is still found after the move.
    for (int i = 0; i < 94; ++i) {
        tbool found = false;
        EXPECT_TRUE(
            ok(ht_lookup(t.get(), key(i).c_str(), -1, &found, nullptr, nullptr, nullptr), found))
            << key(i);
    }

    for (int i = 93; i > 20; --i) ASSERT_EQ(ht_delete(t.get(), key(i).c_str(), -1), 0);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 21u);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 124u);
    ASSERT_EQ(ht_delete(t.get(), key(20).c_str(), -1), 0);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 31u);
    EXPECT_TRUE(cap.contains("resize ht from 124 to 31")) << cap.dump();
    EXPECT_EQ(cap.count("resize ht"), 2u);
}

TEST(Ht, LargeTableShrinksInFourfoldSteps)
{
    owned<ht> t = string_table();
    for (int i = 0; i < 1500; ++i) ASSERT_EQ(ht_insert(t.get(), key(i).c_str(), -1, nullptr), 0);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 1984u); // 31, 124, 496, 1984
    LogCapture cap;
    ASSERT_EQ(ht_foreach_delete(
                  t.get(),
                  [](const void *, uint32, void *, void *) { return int{lc_err_foreach_delete}; },
                  nullptr),
              0);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 0u);
    // One resize after the loop, dividing by 4 until below 128.
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), 124u);
    EXPECT_EQ(cap.count("resize ht"), 1u) << cap.dump();
    EXPECT_TRUE(cap.contains("resize ht from 1984 to 124")) << cap.dump();
}

TEST(Ht, InsertReplacesOrRefusesExistingKeys)
{
    owned<ht> t = string_table();
    char v1[] = "one", v2[] = "two";
    ASSERT_EQ(ht_insert(t.get(), "k", -1, v1), 0);
    ASSERT_EQ(ht_insert(t.get(), "k", 1, v2), 0);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 1u);
    tbool found = false;
    const void *k = nullptr;
    uint32 klen = 0;
    void *v = nullptr;
    EXPECT_TRUE(ok(ht_lookup(t.get(), "k", -1, &found, &k, &klen, &v), found));
    EXPECT_EQ(klen, 1u);
    EXPECT_STREQ(static_cast<const char *>(v), "two");
    EXPECT_NE(v, v2); // the table's own copy

    owned<ht> strict = string_table(true);
    ASSERT_EQ(ht_insert(strict.get(), "k", -1, v1), 0);
    EXPECT_EQ(ht_insert(strict.get(), "k", -1, v2), lc_err_exists);
    ASSERT_EQ(ht_lookup(strict.get(), "k", -1, &found, nullptr, nullptr, &v), 0);
    EXPECT_STREQ(static_cast<const char *>(v), "one");
}

TEST(Ht, LookupClearsItsOutputsAndMissesAreNotErrors)
{
    owned<ht> t = string_table();
    ASSERT_EQ(ht_insert(t.get(), "present", -1, nullptr), 0);
    tbool found = true;
    const void *k = "junk";
    uint32 klen = 7;
    void *v = &klen;
    EXPECT_FALSE(ok(ht_lookup(t.get(), "absent", -1, &found, &k, &klen, &v), found));
    EXPECT_EQ(k, nullptr);
    EXPECT_EQ(klen, 0xFFFFFFFFu);
    EXPECT_EQ(v, nullptr);
    // Same bytes but a different length is a different key.
    EXPECT_FALSE(ok(ht_lookup(t.get(), "present", 3, &found, nullptr, nullptr, nullptr), found));
    EXPECT_EQ(ht_delete(t.get(), "absent", -1), lc_err_not_found);

    LogCapture cap;
    EXPECT_EQ(ht_insert(t.get(), nullptr, -1, nullptr), lc_err_unexpected_null);
    EXPECT_EQ(ht_lookup(t.get(), nullptr, -1, &found, nullptr, nullptr, nullptr),
              lc_err_unexpected_null);
    EXPECT_EQ(ht_insert(nullptr, "k", -1, nullptr), lc_err_unexpected_null);
    EXPECT_EQ(ht_insert(t.get(), "k", -2, nullptr), lc_err_assertion_failed);
    EXPECT_EQ(cap.count("Unexpected NULL"), 3u) << cap.dump();
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 1u);
}

TEST(Ht, RemoveHandsOverAndEmptyReleases)
{
    owned<ht> t = string_table();
    char val[] = "v";
    ASSERT_EQ(ht_insert(t.get(), "k", -1, val), 0);
    void *k = nullptr, *v = nullptr;
    EXPECT_STREQ(static_cast<char *>(ok(ht_remove(t.get(), "k", -1, &k, &v), k)), "k");
    EXPECT_STREQ(static_cast<char *>(v), "v");
    std::free(k);
    std::free(v);
    EXPECT_EQ(ht_remove(t.get(), "k", -1, &k, &v), lc_err_not_found);
    EXPECT_EQ(k, nullptr);

    t = string_table();
    for (int i = 0; i < 500; ++i) ASSERT_EQ(ht_insert(t.get(), key(i).c_str(), -1, nullptr), 0);
    ASSERT_EQ(ht_empty(t.get()), 0);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 0u);
    EXPECT_EQ(ht_get_num_buckets_quick(t.get()), ht_table_size_initial);
    ASSERT_EQ(ht_insert(t.get(), "again", -1, nullptr), 0);
}

TEST(Ht, DirectKeysCompareByValue)
{
    ht_options o = ht_default_options;
    o.hash = ht_hash_direct_func;
    o.key_equal = ht_key_equal_direct_func;
    auto t = create(ht_new, &o);
    for (uintptr_t id = 0; id < 200; ++id)
        ASSERT_EQ(ht_insert(t.get(), reinterpret_cast<void *>(id << 33), 8,
                            reinterpret_cast<void *>(id + 1)),
                  0);
    void *v = nullptr;
    tbool found = false;
    const void *k77 = reinterpret_cast<void *>(uintptr_t{77} << 33);
    EXPECT_EQ(ok(ht_lookup(t.get(), k77, 8, &found, nullptr, nullptr, &v), v), (void *)78);
    // Key 0 is a key like any other.
    EXPECT_TRUE(ok(ht_lookup(t.get(), nullptr, 8, &found, nullptr, nullptr, &v), found));
}

TEST(Ht, DuplicateCopiesEveryEntry)
{
    owned<ht> t = string_table();
    std::map<std::string, std::string> want;
    for (int i = 0; i < 300; ++i) {
        std::string v = "value-" + std::to_string(i * 7);
        want[key(i)] = v;
        ASSERT_EQ(ht_insert(t.get(), key(i).c_str(), -1, v.data()), 0);
    }
    owned<ht> d;
    {
        LogCapture cap;
        ASSERT_EQ(ht_duplicate(t.get(), d.out()), 0);
        EXPECT_EQ(cap.count("resize ht"), 0u); // born at the source's size
    }
    EXPECT_EQ(ht_get_num_buckets_quick(d.get()), ht_get_num_buckets_quick(t.get()));
    t.reset(); // the copy must not share anything with the original
    std::map<std::string, std::string> got;
    ASSERT_EQ(ht_foreach(
                  d.get(),
                  [](const void *k, uint32 len, void *v, void *data) {
                      (*static_cast<std::map<std::string, std::string> *>(
                          data))[std::string(static_cast<const char *>(k), len)] =
                          static_cast<const char *>(v);
                      return 0;
                  },
                  &got),
              0);
    EXPECT_EQ(got, want);

    // Without dup, a table that frees its entries cannot be copied.
    ht_options o = ht_default_options;
    o.free = ht_string_free_func;
    auto shallow = create(ht_new, &o);
    LogCapture cap;
    EXPECT_EQ(ht_duplicate(shallow.get(), d.out()), lc_err_assertion_failed);
    EXPECT_EQ(d.get(), nullptr);
}

TEST(Ht, ForeachReturnCodes)
{
    owned<ht> t = string_table();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(ht_insert(t.get(), key(i).c_str(), -1, nullptr), 0);
    struct Case {
        int code;
        int want;
        int calls;
    } const cases[] = {
        {0, 0, 10},
        {lc_err_foreach_halt, 0, 1},
        {lc_err_foreach_halt_error, lc_err_generic_error, 1},
        {lc_err_cancelled, lc_err_cancelled, 1},
        {lc_err_not_found, lc_err_generic_error, 10}, // noted, loop goes on
    };
    for (const Case &c : cases) {
        std::pair<int, int> st{c.code, 0};
        EXPECT_EQ(ht_foreach(
                      t.get(),
                      [](const void *, uint32, void *, void *d) {
                          auto *s = static_cast<std::pair<int, int> *>(d);
                          ++s->second;
                          return s->first;
                      },
                      &st),
                  c.want)
            << c.code;
        EXPECT_EQ(st.second, c.calls) << c.code;
    }
    LogCapture cap;
    EXPECT_EQ(ht_foreach(
                  t.get(),
                  [](const void *, uint32, void *, void *) { return int{lc_err_foreach_delete}; },
                  nullptr),
              lc_err_assertion_failed);
    EXPECT_EQ(ht_foreach_delete(
                  t.get(),
                  [](const void *, uint32, void *, void *) { return int{lc_err_foreach_remove}; },
                  nullptr),
              lc_err_assertion_failed);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 10u);

    // Remove: the callback takes key and value over.
    int freed = 0;
    ASSERT_EQ(ht_foreach_remove(
                  t.get(),
                  [](const void *k, uint32, void *v, void *d) {
                      std::free(const_cast<void *>(k));
                      std::free(v);
                      ++*static_cast<int *>(d);
                      return int{lc_err_foreach_remove};
                  },
                  &freed),
              0);
    EXPECT_EQ(freed, 10);
    EXPECT_EQ(ht_get_num_nodes_quick(t.get()), 0u);
}

// ---------------------------------------------------------------------------
// The id <-> string map built on it

TEST(Smap, MapsBothWaysWithItsOwnCopiesAndStaysOneToOne)
{
    auto m = create(smap_new);
    char name[] = "uint32";
    ASSERT_EQ(smap_insert_str(m.get(), 6, name), 0);
    name[0] = 'X'; // the map must not have kept the caller's buffer
    auto ts = create(ts_new_str, "string");
    ASSERT_EQ(smap_insert(m.get(), 12, ts.get()), 0);

    const char *s = nullptr;
    EXPECT_STREQ(ok(smap_get_string_str(m.get(), 6, &s), s), "uint32");
    uint32 id = 0;
    EXPECT_EQ(ok(smap_get_id(m.get(), ts.get(), &id), id), 12u);
    EXPECT_EQ(ok(smap_get_id_str(m.get(), "uint32", &id), id), 6u);
    owned<tstring> got;
    EXPECT_STREQ(ok(smap_get_string(m.get(), 12, got.out()), got)->buf, "string");

    // Missing entries are not found, with neutral outputs.
    EXPECT_EQ(smap_get_string_str(m.get(), 1, &s), lc_err_not_found);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(smap_get_id_str(m.get(), "none", &id), lc_err_not_found);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(smap_get_string(m.get(), 1, got.out()), lc_err_not_found);
    EXPECT_EQ(got.get(), nullptr);

    m = create(smap_new);
    ASSERT_EQ(smap_insert_str(m.get(), 1, "a"), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 2, "b"), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 1, "b"), 0); // "a" and id 2 are forgotten
    EXPECT_EQ(smap_get_id_str(m.get(), "a", &id), lc_err_not_found);
    EXPECT_EQ(smap_get_string_str(m.get(), 2, &s), lc_err_not_found);
    EXPECT_EQ(ok(smap_get_id_str(m.get(), "b", &id), id), 1u);

    // Re-inserting text the map lent out is safe.
    ASSERT_EQ(smap_get_string_str(m.get(), 1, &s), 0);
    ASSERT_EQ(smap_insert_str(m.get(), 1, s), 0);
    EXPECT_STREQ(ok(smap_get_string_str(m.get(), 1, &s), s), "b");
}

} // namespace
