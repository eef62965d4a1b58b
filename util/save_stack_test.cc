#include "util/save_stack.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

class SaveStackTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSaveStack(); }
  void TearDown() override { ResetSaveStack(); }
  std::string& Stack() { return SaveStackGlobals().SaveStack; }
};

TEST_F(SaveStackTest, LayoutAndNesting) {
  SavePush("A");
  SavePush("");
  std::int32_t number = 0x00FF0100;  // a number image holding zero bytes
  SavePush(std::string(reinterpret_cast<const char*>(&number), 4));
  EXPECT_EQ(Stack(), std::string("A\x01\x00\x00\x00\x00\x01\xFF\x00\x04\x00", 11));
  std::string image = SavePop();
  ASSERT_EQ(image.size(), 4u);
  EXPECT_EQ(std::memcmp(image.data(), &number, 4), 0);
  EXPECT_EQ(SavePop(), "");
  EXPECT_EQ(SavePop(), "A");
  EXPECT_EQ(Stack(), "");
}

TEST_F(SaveStackTest, EmptyDamagedAndOverlong) {
  EXPECT_EQ(SavePop(), "");  // empty stack: empty text, no change
  EXPECT_EQ(Stack(), "");
  Stack() = std::string("abc\xFF\x00", 5);  // claims 255 bytes
  EXPECT_EQ(SavePop(), "abc");
  EXPECT_EQ(Stack(), "");
  SavePush("below");
  std::string big(kMaxSaveEntry + 10, 'z');
  SavePush(big);
  EXPECT_EQ(SavePop(), big.substr(0, kMaxSaveEntry));
  EXPECT_EQ(SavePop(), "below");
}

}  // namespace
}  // namespace kel
