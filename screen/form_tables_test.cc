#include "screen/form_tables.h"

#include "gtest/gtest.h"

namespace kel {
namespace {

class FormTablesTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearFormTables(); }
};

TEST_F(FormTablesTest, EntriesOnlyInsideTheirRangesAndReadsOutsideSeeNothing) {
  ResetFormTables(2, 9);
  ResetMenuEntries(3);
  struct Case {
    std::int16_t form, field;
    bool writable;
  };
  const Case cases[] = {{1, 1, true},      {2, 9, true},           {0, 1, false},  {3, 1, false},
                        {-1, 1, false},    {1, 0, false},          {1, 10, false}, {1, -5, false},
                        {2, 32767, false}, {-32768, -32768, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(MutableField(c.form, c.field) != nullptr, c.writable)
        << "form " << c.form << " field " << c.field;
  }
  // Entry 0 of the lists exists for reading but is never handed out.
  const std::int16_t entries[] = {-1, 0, 1, 3, 4};
  const bool writable[] = {false, false, true, true, false};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(MutableMenuEntry(entries[i]) != nullptr, writable[i]) << "entry " << entries[i];
  }
  MutableField(1, 9)->FieldValue = "CAT";
  MutableMenuEntry(1)->MenuText = "LLISTA";
  EXPECT_EQ(FieldAt(1, 9).FieldValue, "CAT");
  EXPECT_EQ(FieldAt(1, 8).FieldValue, "");  // below a written field: empty
  EXPECT_EQ(FieldAt(3, 1).FieldValue, "");
  EXPECT_EQ(FieldAt(1, 10).FieldValue, "");
  EXPECT_EQ(MenuEntryAt(1).MenuText, "LLISTA");
  EXPECT_EQ(MenuEntryAt(99).MenuText, "");
  EXPECT_EQ(FormAt(-7).FormWindow[1], 0);

  const std::int16_t declared[] = {0, 5, 9, 10, 32767, -3};
  const std::int16_t usable[] = {0, 5, 9, 9, 9, 0};
  for (int i = 0; i < 6; ++i) {
    MutableForm(1)->FormFieldCount = declared[i];
    EXPECT_EQ(UsableFieldCount(1), usable[i]) << "declared " << declared[i];
  }
}

TEST_F(FormTablesTest, DamagedSizesAreSafe) {
  ResetFormTables(-4, -1);
  ResetMenuEntries(-2);
  EXPECT_EQ(FormTables().FormCount + FormTables().MaxFields + FormTables().MenuEntryCount, 0);
  EXPECT_EQ(MutableField(1, 1), nullptr);
  // The largest sizes a file can declare allocate nothing for fields until
  // they are written.
  ResetFormTables(32767, 32767);
  ASSERT_NE(MutableField(32767, 1), nullptr);
  EXPECT_EQ(FormAt(32767).fields.size(), 2u);
  // Sizing again starts afresh.
  ResetFormTables(1, 1);
  EXPECT_EQ(FieldAt(32767, 1).FieldLength, 0);
  EXPECT_EQ(MutableField(1, 2), nullptr);
}

}  // namespace
}  // namespace kel
