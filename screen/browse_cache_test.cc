#include "screen/browse_cache.h"

#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "screen/browse_cache_test_fixture.h"

namespace kel {
namespace {

using browse_cache_test::BrowseCacheTest;
using browse_cache_test::Check;
using browse_cache_test::Unreadable;

TEST_F(BrowseCacheTest, EntriesGoToTheFileAndReadBackByPosition) {
  BrowseCache cache;
  cache.Open(path_);
  const std::uint32_t a = cache.Append(101, "ONE");
  const std::uint32_t b = cache.Append(102, "TWO");
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 14u);
  EXPECT_FALSE(cache.in_memory());
  EXPECT_EQ(Check(cache, b, a, 102, "TWO") + Check(cache, a, 0, 101, "ONE"), "");
  EXPECT_EQ(Unreadable(cache, 0) + Unreadable(cache, 99), "");
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path_, &bytes));
  EXPECT_EQ(bytes, EncodeBrowseEntry({0, 101, "ONE"}) + EncodeBrowseEntry({1, 102, "TWO"}));
  cache.CloseAndDelete();
  EXPECT_FALSE(FileExists(path_));
}

}  // namespace
}  // namespace kel
