// A build without server support (the Windows build) on an installation
// that names a server: every open and create fails with status 2, nothing
// is made, and the refusal says why.
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "recman/backend_config.h"
#include "recman/network_fs.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel::testing {
namespace {

TEST(NoServerSupportTest, AConfiguredServerIsRefusedWithItsReason) {
  TempDir dir;
  RecordManagerConfig config;
  config.server = "host=oficina dbname=kel";
  config.install_root = dir.path() + "/";
  ConfigureRecordManager(config);
  CreateSpec s;
  s.record_length = 16;
  s.keys = {{Segment{1, 4, 0}}};
  EXPECT_EQ(CreateFile(dir.File("m.dat"), s), kStatusIoError);
  EXPECT_NE(LastFileSystemRefusal().find("no support for a PostgreSQL server"), std::string::npos)
      << LastFileSystemRefusal();
  Handle h;
  EXPECT_EQ(h.Open(dir.File("m.dat")), kStatusIoError);
  EXPECT_FALSE(std::filesystem::exists(dir.File("m.dat")));
  ResetRecordManagerConfig();
  // The SQLite files again once no server is named.
  EXPECT_EQ(CreateFile(dir.File("m.dat"), s), kStatusOk);
  EXPECT_EQ(h.Open(dir.File("m.dat")), kStatusOk);
}

}  // namespace
}  // namespace kel::testing
