#include "recman/backend_config.h"

#include "gtest/gtest.h"

namespace kel {
namespace {

// Every station must reach the same table whatever its mount point, its
// separators or its letter case.
TEST(ServerFileNameTest, SameTableFromEverySpelling) {
  struct Case {
    const char* path;
    const char* root;
    const char* name;
  };
  const Case cases[] = {
      {"/srv/kel/TAULES/UPaisos.dat", "/srv/kel/", "taules/upaisos"},
      {"/srv/kel/TAULES/UPaisos.dat", "/srv/kel", "taules/upaisos"},
      {"/mnt/KEL/taules/upaisos.DAT", "/mnt/kel/", "taules/upaisos"},
      {"/srv/kel/taules\\UPaisos.dat", "\\srv\\kel\\", "taules/upaisos"},
      {"/srv/kel//TAULES//UPaisos.dat", "/srv/kel/", "taules/upaisos"},
      {"/srv/kel/menu.dat", "/srv/kel/", "menu"},
      {"/srv/kel/HOperaci", "/srv/kel/", "hoperaci"},
      {"/srv/kel/DADES/X.btr", "/srv/kel/", "dades/x.btr"},
      {"/srv/kel/.dat", "/srv/kel/", ".dat"},
      {"TAULES/UPaisos.dat", "", "taules/upaisos"},
      {"/srv/kel/TAULES/UPaisos.dat", "", "srv/kel/taules/upaisos"},
      // Outside the root: the whole path, so two roots never meet by chance.
      {"/srv/other/UPaisos.dat", "/srv/kel/", "srv/other/upaisos"},
      // A root that is only a prefix of a directory name is not that directory.
      {"/srv/kelx/menu.dat", "/srv/kel", "srv/kelx/menu"},
      // The letters of code page 850 fold as the family's file systems fold
      // them: "Ñ" and "ñ" name one table.
      {"/srv/kel/DADES/ÑANDÚ.dat", "/srv/kel/", "dades/ñandú"},
      {"/srv/kel/dades/ñandú.DAT", "/srv/kel/", "dades/ñandú"},
      {"/srv/kel/ÇÉÀ.dat", "/srv/kel/", "çéà"},
      {"/srv/KÈL/menu.dat", "/srv/kèl/", "menu"},
      // Characters the code page lacks, and bytes that are no UTF-8, stay.
      {"/srv/kel/A€Ł.dat", "/srv/kel/", "a€Ł"},
      {"/srv/kel/A\xFF" "B.dat", "/srv/kel/", "a\xFF" "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ServerFileName(c.path, c.root), c.name) << c.path << " under " << c.root;
  }
}

// A name given when only a-z were folded folds to the name every spelling
// of the file gives now.
TEST(ServerFileNameTest, OldNamesFoldToTheNewOnes) {
  EXPECT_EQ(FoldServerName("dades/ÑandÚ"), "dades/ñandú");
  EXPECT_EQ(FoldServerName("dades/ÑandÚ"), ServerFileName("/srv/kel/DADES/ÑANDÚ.dat", "/srv/kel/"));
  EXPECT_EQ(FoldServerName("taules/upaisos"), "taules/upaisos");
}

TEST(BackendConfigTest, ConfigurationIsProcessWideUntilReset) {
  RecordManagerConfig config;
  config.server = "host=db1";
  config.schema = "of2";
  config.install_root = "/srv/kel/";
  config.allow_network_fs = true;
  ConfigureRecordManager(config);
  EXPECT_EQ(RecordManagerConfiguration().server, "host=db1");
  EXPECT_EQ(RecordManagerConfiguration().schema, "of2");
  EXPECT_TRUE(RecordManagerConfiguration().allow_network_fs);
  ResetRecordManagerConfig();
  EXPECT_EQ(RecordManagerConfiguration().server, "");
  EXPECT_EQ(RecordManagerConfiguration().schema, "kel");
  EXPECT_EQ(RecordManagerConfiguration().install_root, "");
  EXPECT_FALSE(RecordManagerConfiguration().allow_network_fs);
}

}  // namespace
}  // namespace kel
