#include "screen/form_tables.h"

#include "gtest/gtest.h"

namespace kel {
namespace {

class FormTablesTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearFormTables(); }
};

TEST_F(FormTablesTest, SizedTablesHandOutEntriesOnlyInsideTheirRanges) {
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
    // Reading never fails; outside it is the empty entry.
    EXPECT_EQ(FieldAt(c.form, c.field).FieldLength, 0);
  }
  const std::int16_t entries[] = {-1, 0, 1, 3, 4};
  const bool writable[] = {false, false, true, true, false};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(MutableMenuEntry(entries[i]) != nullptr, writable[i]) << "entry " << entries[i];
  }
  EXPECT_EQ(MutableForm(0), nullptr);
  EXPECT_EQ(MutableForm(3), nullptr);
  EXPECT_EQ(FormAt(7).FormFieldCount, 0);
  EXPECT_EQ(MenuEntryAt(99).MenuText, "");
}

TEST_F(FormTablesTest, WrittenValuesReadBackAndReadsOutsideSeeNothing) {
  ResetFormTables(1, 9);
  ResetMenuEntries(1);
  Form* form = MutableForm(1);
  ASSERT_NE(form, nullptr);
  form->FormKeys = "d,1b";
  form->FormFieldCount = 9;
  form->FormWindow = {0, 2, 3, 20, 70};
  FormField* field = MutableField(1, 9);
  ASSERT_NE(field, nullptr);
  field->FieldLabel = "Idioma: ";
  field->FieldLength = 3;
  field->FieldValue = "CAT";
  MutableMenuEntry(1)->MenuEntry[7] = 2;
  MutableMenuEntry(1)->MenuText = "LLISTA";

  EXPECT_EQ(FormAt(1).FormKeys, "d,1b");
  EXPECT_EQ(FormAt(1).FormWindow[0], 0);
  EXPECT_EQ(FormAt(1).FormWindow[4], 70);
  EXPECT_EQ(FieldAt(1, 9).FieldValue, "CAT");
  EXPECT_EQ(FieldAt(1, 9).FieldLabel, "Idioma: ");
  // Fields never written read as empty, also those below a written one.
  EXPECT_EQ(FieldAt(1, 8).FieldLength, 0);
  EXPECT_EQ(FieldAt(1, 8).FieldValue, "");
  EXPECT_EQ(MenuEntryAt(1).MenuEntry[7], 2);
  EXPECT_EQ(MenuEntryAt(1).MenuText, "LLISTA");
  EXPECT_EQ(MenuEntryAt(0).MenuText, "");
}

TEST_F(FormTablesTest, UsableFieldCountStaysWithinMaxFields) {
  ResetFormTables(1, 9);
  const std::int16_t declared[] = {0, 5, 9, 10, 32767, -3};
  const std::int16_t usable[] = {0, 5, 9, 9, 9, 0};
  for (int i = 0; i < 6; ++i) {
    MutableForm(1)->FormFieldCount = declared[i];
    EXPECT_EQ(UsableFieldCount(1), usable[i]) << "declared " << declared[i];
  }
  EXPECT_EQ(UsableFieldCount(2), 0);
}

TEST_F(FormTablesTest, NegativeAndHugeSizesAreSafe) {
  ResetFormTables(-4, -1);
  ResetMenuEntries(-2);
  EXPECT_EQ(FormTables().FormCount, 0);
  EXPECT_EQ(FormTables().MaxFields, 0);
  EXPECT_EQ(FormTables().MenuEntryCount, 0);
  EXPECT_EQ(MutableField(1, 1), nullptr);
  EXPECT_EQ(MenuEntryAt(0).MenuEntry[0], 0);

  // A damaged file may declare the largest sizes: nothing is allocated for
  // fields until they are written.
  ResetFormTables(32767, 32767);
  FormField* last = MutableField(32767, 1);
  ASSERT_NE(last, nullptr);
  last->FieldLength = 4;
  EXPECT_EQ(FieldAt(32767, 1).FieldLength, 4);
  EXPECT_EQ(FormAt(32767).fields.size(), 2u);
}

TEST_F(FormTablesTest, ResizingStartsAfresh) {
  ResetFormTables(1, 2);
  MutableField(1, 2)->FieldValue = "OLD";
  ResetFormTables(1, 2);
  EXPECT_EQ(FieldAt(1, 2).FieldValue, "");
  ResetFormTables(1, 1);
  EXPECT_EQ(MutableField(1, 2), nullptr);
}

}  // namespace
}  // namespace kel
