#include "recman/network_fs.h"

#include <string>

#include "gtest/gtest.h"
#include "platform/file_system_kind.h"
#include "recman/backend_config.h"
#include "recman/recman.h"

namespace kel {
namespace {

// The fake file system: everything under /net/ is an NFS mount, under /smb/
// an SMB3 one, and nothing can be asked about under /gone/.
std::string g_asked;
bool FakeProbe(const std::string& native_path, FileSystemKind* kind) {
  g_asked = native_path;
  if (native_path.rfind("/gone/", 0) == 0) return false;
  if (native_path.rfind("/net/", 0) == 0) *kind = FileSystemKindForMagic(0x6969);
  if (native_path.rfind("/smb/", 0) == 0) *kind = FileSystemKindForMagic(0xFE534D42);
  return true;
}

class NetworkFsTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetFileSystemProbe(&FakeProbe); }
  void TearDown() override {
    SetFileSystemProbe(previous_);
    ResetRecordManagerConfig();
  }
  FileSystemProbe previous_ = nullptr;
};

TEST_F(NetworkFsTest, NetworkFileSystemsAreRefusedWithTheirName) {
  struct Case {
    const char* path;
    bool allow;
    std::int16_t status;
    const char* named;  // in the refusal
  };
  const Case cases[] = {
      {"/local/kel/menu.dat", false, kStatusOk, nullptr},
      {"/net/kel/menu.dat", false, kStatusNetworkFileSystem, "(nfs)"},
      {"/smb/kel/TAULES/UPaisos.dat", false, kStatusNetworkFileSystem, "(smb2)"},
      {"/net/kel/menu.dat", true, kStatusOk, nullptr},
      {"/smb/kel/menu.dat", true, kStatusOk, nullptr},
      // Nothing to ask: the open goes on and fails or succeeds by itself.
      {"/gone/kel/menu.dat", false, kStatusOk, nullptr},
  };
  for (const Case& c : cases) {
    RecordManagerConfig config;
    config.allow_network_fs = c.allow;
    ConfigureRecordManager(config);
    std::string refusal = "stale";
    EXPECT_EQ(CheckFileSystemForSqlite(c.path, &refusal), c.status) << c.path;
    if (c.named == nullptr) {
      EXPECT_EQ(refusal, "") << c.path;
      continue;
    }
    EXPECT_EQ(LastFileSystemRefusal(), refusal);
    for (const char* part : {c.path, c.named, "[Dades] Servidor", "Nuri.ini", "XarxaLocal=1"}) {
      EXPECT_NE(refusal.find(part), std::string::npos) << part << " in: " << refusal;
    }
  }
  // A null refusal pointer is allowed; the last refusal still says why.
  EXPECT_EQ(CheckFileSystemForSqlite("/net/x.dat", nullptr), kStatusNetworkFileSystem);
  EXPECT_NE(LastFileSystemRefusal().find("/net/x.dat"), std::string::npos);
  EXPECT_EQ(g_asked, "/net/x.dat");
}

// The refusal must not be a status that the data-file layer answers by
// waiting (85, 84) or by creating the file (12): it has to end the open.
TEST(NetworkFsStatusTest, RefusalIsNotAStatusTheCallerRetries) {
  for (std::int16_t retried :
       {kStatusFileInUse, kStatusRecordLocked, kStatusFileNotFound, kStatusOk, kStatusEndOfFile}) {
    EXPECT_NE(kStatusNetworkFileSystem, retried);
  }
}

}  // namespace
}  // namespace kel
