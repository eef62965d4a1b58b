#include "platform/file_system_kind.h"

#include <cstdlib>
#include <filesystem>

#include "gtest/gtest.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

TEST(FileSystemKindTest, NetworkFileSystemsByTheirIdentifier) {
  struct Case {
    std::int64_t magic;
    bool network;
    const char* name;
  };
  const Case cases[] = {
      {0x6969, true, "nfs"},        {0xFF534D42, true, "cifs"}, {0xFE534D42, true, "smb2"},
      {0x517B, true, "smb"},        {0x01021997, true, "9p"},   {0xEF53, false, "local"},  // ext4
      {0x58465342, false, "local"},                                                        // xfs
      {0x01021994, false, "local"},                                                        // tmpfs
      {0x65735546, false, "local"},  // fuse: could be anything, a local disk too
      {0, false, "local"},
  };
  for (const Case& c : cases) {
    const FileSystemKind kind = FileSystemKindForMagic(c.magic);
    EXPECT_EQ(kind.network, c.network) << std::hex << c.magic;
    EXPECT_EQ(kind.name, c.name) << std::hex << c.magic;
    EXPECT_EQ(kind.magic, c.magic);
  }
}

// A file about to be created is asked about through the folder that will
// hold it; this test's own folder is a local one.
TEST(FileSystemKindTest, PathsThatDoNotExistYetAskTheirFolder) {
  const std::string templ = MakeTestDirectory("kel-fskind");
  ASSERT_FALSE(templ.empty());
  const std::string dir = templ;
  for (const std::string& path :
       {dir, dir + "/", dir + "/new.dat", dir + "/TAULES/NEW/x.dat", std::string("no/such/x.dat"),
        std::string("x.dat"), std::string("")}) {
    FileSystemKind kind;
    kind.network = true;
    EXPECT_TRUE(FileSystemKindOf(path, &kind)) << path;
    EXPECT_FALSE(kind.network) << path;
  }
  std::filesystem::remove_all(dir);
}

bool Nfs(const std::string&, FileSystemKind* kind) {
  *kind = FileSystemKindForMagic(0x6969);
  return true;
}
bool Unknown(const std::string&, FileSystemKind* kind) {
  kind->network = true;  // a probe that fails leaves no half answer behind
  return false;
}

TEST(FileSystemKindTest, ProbeCanBeReplacedAndRestored) {
  FileSystemKind kind;
  const FileSystemProbe system = SetFileSystemProbe(&Nfs);
  EXPECT_TRUE(FileSystemKindOf("/anything", &kind));
  EXPECT_TRUE(kind.network);
  EXPECT_EQ(SetFileSystemProbe(&Unknown), &Nfs);
  EXPECT_FALSE(FileSystemKindOf("/anything", &kind));
  EXPECT_FALSE(kind.network);
  EXPECT_EQ(kind.name, "local");
  SetFileSystemProbe(nullptr);
  EXPECT_EQ(SetFileSystemProbe(system), system);
}

}  // namespace
}  // namespace kel
