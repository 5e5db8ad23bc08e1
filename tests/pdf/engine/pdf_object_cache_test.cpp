// The object cache far past its primary slots (every generated file looks objects up in it).
#include <gtest/gtest.h>

#include "pdf/engine/object_cache.h"

namespace ferretta::pdf {
namespace {

TEST(ObjectCache, ManyObjectsAndReset) {
    ObjectCache cache;
    // Far beyond the 40,000 primary slots: overflow lookups must stay correct (and fast).
    for (int n = 1; n <= 120000; ++n)
        ASSERT_GT(cache.p2tAddObjCache(1, n, 0, n * 10), 0);
    for (int n = 1; n <= 120000; n += 997)
        EXPECT_EQ(cache.entry(cache.p2tSearchObjCache(1, n, 0)).address, n * 10);
    EXPECT_EQ(cache.count(), 120000);
    cache.p2tObjCacheInit();
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(cache.p2tSearchObjCache(1, 5, 0), -1);
}

}  // namespace
}  // namespace ferretta::pdf
