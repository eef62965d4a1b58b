// The list of a server schema's data files.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Segment;
using testing::TempDir;

TEST(ServerCatalogueTest, ListsTheSchemasFilesByTheirServerNamesInOrder) {
  if (testing::TestServer().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  TempDir dir;
  testing::BackendScope scope(testing::Backend::kServer, dir.path());
  std::vector<std::string> names = {"left over"};
  // Nothing made in the schema yet: neither it nor its catalogue exists.
  EXPECT_EQ(ListServerDataFiles(&names), kStatusFileNotFound);
  EXPECT_TRUE(names.empty());
  CreateSpec s;
  s.record_length = 8;
  s.keys = {{Segment{1, 4, 0}}};
  for (const char* file : {"TAULES/UPaisos.dat", "Zeta.dat", "TAULES/Sub/A.DAT", "b.idx"}) {
    ASSERT_EQ(testing::CreateFile(dir.File(file), s), kStatusOk) << file;
  }
  ASSERT_EQ(ListServerDataFiles(&names), kStatusOk);
  EXPECT_EQ(names, (std::vector<std::string>{"b.idx", "taules/sub/a", "taules/upaisos", "zeta"}));
  // Another schema on the same server: its own (missing) catalogue.
  RecordManagerConfig other = RecordManagerConfiguration();
  other.schema = scope.schema() + "_none";
  ConfigureRecordManager(other);
  names = {"left over"};
  EXPECT_EQ(ListServerDataFiles(&names), kStatusFileNotFound);
  EXPECT_TRUE(names.empty());
}

TEST(ServerCatalogueTest, WithoutAServerOrWithAnUnreachableOneGivesAStatus) {
  TempDir dir;
  ResetRecordManagerConfig();
  std::vector<std::string> names = {"left over"};
  EXPECT_EQ(ListServerDataFiles(&names), kStatusInvalidOperation);
  EXPECT_TRUE(names.empty());
  RecordManagerConfig config;
  config.server = "host=" + dir.path() + " port=1 connect_timeout=2";
  config.install_root = dir.path() + "/";
  ConfigureRecordManager(config);
  names = {"left over"};
  EXPECT_EQ(ListServerDataFiles(&names), kStatusIoError);
  EXPECT_TRUE(names.empty());
  ResetRecordManagerConfig();
}

}  // namespace
}  // namespace kel
