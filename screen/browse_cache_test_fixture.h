// The fixture of the browse-list cache tests, shared by the tests of every
// system and the POSIX-only ones.
#ifndef KEL_SCREEN_BROWSE_CACHE_TEST_FIXTURE_H_
#define KEL_SCREEN_BROWSE_CACHE_TEST_FIXTURE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "screen/browse_cache.h"
#include "screen/browse_list.h"
#include "tests/support/test_dir.h"

namespace kel::browse_cache_test {

class BrowseCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDirectory("kel_browse_cache");
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ + "/Browse.tmp";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Another program cuts the cache file to `length` bytes.
  void ShortenFile(std::int64_t length) const {
    File other;
    ASSERT_EQ(OpenFile(path_, FileAccess::kReadWrite, FileShare::kShared, &other), FileResult::kOk);
    ASSERT_TRUE(other.Truncate(length));
  }

  std::string dir_, path_;
};

// "" when the entry at `position` reads back as (previous, record, text);
// otherwise what was wrong.
inline std::string Check(const BrowseCache& cache, std::uint32_t position,
                         std::uint32_t previous, std::int32_t record, const std::string& text) {
  BrowseEntry e;
  if (!cache.Read(position, &e)) return "entry " + std::to_string(position) + " unreadable\n";
  if (e.previous == previous && e.record == record && e.text == text) return "";
  return "entry " + std::to_string(position) + " holds " + std::to_string(e.previous) + "/" +
         std::to_string(e.record) + "/" + e.text + "\n";
}

inline std::string Unreadable(const BrowseCache& cache, std::uint32_t position) {
  BrowseEntry e;
  return cache.Read(position, &e) ? "entry " + std::to_string(position) + " read: " + e.text + "\n"
                                  : "";
}

}  // namespace kel::browse_cache_test

#endif  // KEL_SCREEN_BROWSE_CACHE_TEST_FIXTURE_H_
