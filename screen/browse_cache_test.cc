#include "screen/browse_cache.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "screen/browse_list.h"

namespace kel {
namespace {

class BrowseCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kel_browse_cache_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
    path_ = dir_ + "/Browse.tmp";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

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
std::string Check(const BrowseCache& cache, std::uint32_t position, std::uint32_t previous,
                  std::int32_t record, const std::string& text) {
  BrowseEntry e;
  if (!cache.Read(position, &e)) return "entry " + std::to_string(position) + " unreadable\n";
  if (e.previous == previous && e.record == record && e.text == text) return "";
  return "entry " + std::to_string(position) + " holds " + std::to_string(e.previous) + "/" +
         std::to_string(e.record) + "/" + e.text + "\n";
}

std::string Unreadable(const BrowseCache& cache, std::uint32_t position) {
  BrowseEntry e;
  return cache.Read(position, &e) ? "entry " + std::to_string(position) + " read: " + e.text + "\n"
                                  : "";
}

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

// The cache file stops taking writes (here the file-size limit, as a full
// disk would) after another program has cut it short: the list goes on with
// a copy in memory of what the file still holds. A read of that copy at a
// position past its end used to throw and end the program; an entry whose
// bytes were cut off is now unreadable (a blank line, nothing to choose),
// and everything else reads back as written.
TEST_F(BrowseCacheTest, InMemoryCopyOfAShortenedCacheFileNeverEndsTheProgram) {
  const auto scenario = [this] {
    std::string report;
    BrowseCache cache;
    cache.Open(path_);
    const std::uint32_t a = cache.Append(101, "ONE");    // bytes 0..12
    const std::uint32_t b = cache.Append(102, "TWO");    // bytes 13..25
    const std::uint32_t c = cache.Append(103, "THREE");  // bytes 26..40
    ShortenFile(20);  // a whole, b cut in its text, c gone
    report += Check(cache, a, 0, 101, "ONE") + Unreadable(cache, b) + Unreadable(cache, c);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::uint32_t d = cache.Append(104, "FOUR");
    if (d != 42 || !cache.in_memory()) report += "the fourth entry did not go to memory\n";
    const std::uint32_t e = cache.Append(105, "FIVE");
    report += Check(cache, d, c, 104, "FOUR") + Check(cache, e, d, 105, "FIVE");
    report += Check(cache, a, 0, 101, "ONE") + Unreadable(cache, b) + Unreadable(cache, c);
    for (std::uint32_t p = 0; p < 80; ++p) {
      BrowseEntry any;
      (void)cache.Read(p, &any);  // every position: an answer, never an end
    }
    std::fputs(report.c_str(), stderr);
    std::_Exit(report.empty() ? 0 : 1);
  };
  EXPECT_EXIT(scenario(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kel
