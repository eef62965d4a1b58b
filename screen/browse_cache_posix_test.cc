// The browse-list cache where POSIX lets a test stop a file from growing
// (the file-size limit, in a child process).
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "screen/browse_cache.h"
#include "screen/browse_cache_test_fixture.h"

namespace kel {
namespace {

using browse_cache_test::BrowseCacheTest;
using browse_cache_test::Check;
using browse_cache_test::Unreadable;

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
