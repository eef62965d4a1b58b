// The fixture of the configuration-file tests: a scratch folder with one
// "Nuri.ini" in it and the helpers that read and write it.
#ifndef KEL_STARTUP_INI_FILE_TEST_SUPPORT_H_
#define KEL_STARTUP_INI_FILE_TEST_SUPPORT_H_

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "startup/ini_file.h"
#include "tests/support/test_dir.h"

namespace kel {

namespace fs = std::filesystem;
inline const std::string kCat = "[Usuari]\r\nIdioma=CAT\r\n";

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-ini");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name = "Nuri.ini") const { return dir_ + "\\" + name; }
  std::string Contents() const {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(Path(), &bytes)) << "file missing";
    return bytes;
  }
  void Put(const std::string& bytes, const std::string& name = "Nuri.ini") const {
    File f;
    ASSERT_EQ(OpenFile(Path(name), FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }
  int Temporaries() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) n += entry.path().extension() == ".tmp";
    return n;
  }
  IniWriteResult Set(const std::string& value, const std::string& key = "Idioma") {
    return IniWrite(Path(), "Usuari", key, value);
  }

  std::string dir_;
};

}  // namespace kel

#endif  // KEL_STARTUP_INI_FILE_TEST_SUPPORT_H_
