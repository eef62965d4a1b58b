#include "convert/driver.h"

#include <string>
#include <vector>

#include "convert/converters.h"
#include "convert/language_text.h"
#include "convert/test_support.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "gtest/gtest.h"
#include "screen/form_dialog.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "startup/form_file.h"
#include "startup/ini_file.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

using testing::FieldOffset;
using testing::FileBytes;
using testing::InstallationTest;
using testing::ReadRecords;
using testing::SampleLayout;

TEST(SwitchesTest, FoundAnywhereInAnyCase) {
  struct Case {
    std::string line;
    bool automatic;
    bool tables_only;
  };
  const Case cases[] = {
      {"", false, false},
      {"/AUTO", true, false},
      {"/auto", true, false},
      {"/Auto /taules", true, true},
      {"/TAULES/AUTO", true, true},
      {"x/autoMATIC", true, false},
      {"/AUT O", false, false},
      {"/TAULES", false, true},
      {"AUTO TAULES", false, false},
      {"--/aUtO--", true, false},
  };
  for (const Case& c : cases) {
    ReadSwitches(c.line);
    EXPECT_EQ(Driver().AutoMode, c.automatic) << c.line;
    EXPECT_EQ(Driver().TablesOnly, c.tables_only) << c.line;
  }
  ResetDriver();
}

// What the screen showed at the first rewrite of the run.
std::vector<std::string> g_rows_at_first_update;
std::vector<std::string> g_attrs_at_first_update;
RecordManagerEntry g_real_entry = nullptr;

std::int16_t SnapshotEntry(std::int16_t op, void* block, void* data, std::uint32_t* length,
                           void* key, std::uint8_t key_length, std::int8_t key_number) {
  if (op == 3 && g_rows_at_first_update.empty()) {
    for (std::int16_t r = 1; r <= 25; ++r) {
      g_rows_at_first_update.push_back(ScreenRowText(r));
      g_attrs_at_first_update.push_back(ScreenRowAttrs(r));
    }
  }
  return g_real_entry(op, block, data, length, key, key_length, key_number);
}

class DriverTest : public InstallationTest {
 protected:
  void SetUp() override {
    InstallationTest::SetUp();
    g_rows_at_first_update.clear();
    g_attrs_at_first_update.clear();
    g_real_entry = SetRecordManagerEntry(&SnapshotEntry);
  }

  std::string Ini(const char* file, const char* section) {
    const std::string path =
        std::string(file) == "Nuri.ini" ? Native("Nuri.ini") : terminal_ + "/NuriTerm.ini";
    return IniRead(path, section, "Idioma");
  }

  // The closing message's key: queued only once the program waits for it
  // (typed-ahead keys are discarded first); the screen is kept as it was.
  void AnswerTheMessage() {
    con().SetExhaustedHandler([this](MemoryConsole& c) {
      message_screen_ = Screenful();
      c.QueueKey(keys::kEnter);
      return true;
    });
  }

  // Every record of every converted file holds the column of `language`.
  void ExpectConverted(const std::string& language, bool data_files) {
    for (const ConverterRow& row : ConverterTable()) {
      const bool converted = row.code_table || row.file_number == kMenuFileNumber || data_files;
      const FileLayout& layout = SampleLayout(row.path);
      int source = FieldOffset(layout, "TextOther");
      if (language == "CAT") source = FieldOffset(layout, "TextCAT");
      if (language == "GLG") source = FieldOffset(layout, "TextGLG");
      if (language == "OCI" && FieldOffset(layout, "TextOCI") >= 0) {
        source = FieldOffset(layout, "TextOCI");
      }
      if (!converted) source = FieldOffset(layout, "TextCAT");  // as installed
      for (const std::string& r : ReadRecords(DataPath(row.path))) {
        ASSERT_EQ(
            r.substr(static_cast<std::size_t>(row.current), static_cast<std::size_t>(row.width)),
            r.substr(static_cast<std::size_t>(source), static_cast<std::size_t>(row.width)))
            << row.path << " [" << language << "]";
      }
    }
  }

  std::string message_screen_;
};

TEST_F(DriverTest, InteractiveChangeConvertsRecordsAndConfirmsInTheNewLanguage) {
  ASSERT_TRUE(StartProgram());
  ASSERT_EQ(Session().SessionLanguage, "CAT");
  con().QueueKey(keys::kRight);  // Català -> Castellà
  con().QueueKey(keys::kEnter);
  AnswerTheMessage();

  EXPECT_EQ(RunDriver(), DriverOutcome::kConfirmed);

  ExpectConverted("SPA", true);
  EXPECT_EQ(Ini("Nuri.ini", "Usuari"), "SPA");
  EXPECT_EQ(Ini("NuriTerm.ini", "Sistema"), "SPA");
  EXPECT_EQ(Session().SessionLanguage, "SPA");
  EXPECT_EQ(Session().SessionTitle, " Localizaci\xA2n aplicaciones KEL ");

  // The progress window at the first rewrite: a frame over rows 23 to 25 in
  // reverse video, the menu file's label and its first key inside.
  ASSERT_EQ(g_rows_at_first_update.size(), 25u);
  EXPECT_EQ(g_rows_at_first_update[22], "\xDA" + std::string(78, '\xC4') + "\xBF");
  const std::string first_key = ReadRecords(DataPath("menu"))[0].substr(0, 12);
  EXPECT_EQ(g_rows_at_first_update[23],
            "\xB3 MENU     " + ProgressText(first_key, KeyShown::kAsIs) + " \xB3");
  EXPECT_EQ(g_rows_at_first_update[24], "\xC0" + std::string(78, '\xC4') + "\xD9");
  const auto attr = [](int mode) {
    return static_cast<char>(Session().ColourTable[mode][0] + 16 * Session().ColourTable[mode][1]);
  };
  EXPECT_EQ(g_attrs_at_first_update[22][0], attr(2));   // frame: "r"
  EXPECT_EQ(g_attrs_at_first_update[23][2], attr(1));   // label: "n"
  EXPECT_EQ(g_attrs_at_first_update[15][24], attr(0));  // the selector's value: "h"

  // The message, in Spanish now, over the form painted again with the new
  // title; then the key, and the message is gone.
  EXPECT_NE(message_screen_.find("\xB3 SE HA CAMBIADO EL IDIOMA POR DEFECTO A SPA \xB3"),
            std::string::npos)
      << message_screen_;
  EXPECT_NE(message_screen_.find(" Localizaci\xA2n aplicaciones KEL "), std::string::npos);
  EXPECT_EQ(Row(1).find(" Localizaci\xA2n aplicaciones KEL "),
            static_cast<std::size_t>(TitleColumn(31) - 1));  // centred
  EXPECT_EQ(Screenful().find("SE HA CAMBIADO"), std::string::npos);
  EXPECT_EQ(con().exhausted_waits(), 1);
  EXPECT_GE(con().beeps(), 1);
}

// A configuration file that cannot be rewritten: the administrator's message
// names it in the language the session has after the change.
TEST_F(DriverTest, TheLanguageNotRecordedIsToldInTheNewLanguage) {
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(DeleteFile(Native("Nuri.ini")));
  ASSERT_TRUE(MakeDirectory(Native("Nuri.ini")));
  con().QueueKey(keys::kRight);  // Catalan -> Spanish
  con().QueueKey(keys::kEnter);
  AnswerTheMessage();
  EXPECT_EQ(RunDriver(), DriverOutcome::kConfirmed);
  EXPECT_EQ(Ini("NuriTerm.ini", "Sistema"), "SPA");
  const std::string expected =
      "no se ha podido guardar el idioma en " + Session().InstallRoot + "Nuri.ini (error ";
  EXPECT_EQ(Driver().ConfigurationProblem.substr(0, expected.size()), expected)
      << Driver().ConfigurationProblem;
  EXPECT_EQ(Driver().ConfigurationProblem.back(), '.');
}

TEST_F(DriverTest, EscapeAndTheSameLanguageChangeNothing) {
  const std::vector<std::int16_t> escape = {keys::kRight, keys::kRight, keys::kEsc};
  const std::vector<std::int16_t> same = {keys::kRight, keys::kLeft, keys::kEnter};
  for (const auto& script : {escape, same}) {
    ASSERT_TRUE(StartProgram());
    const std::string nuri = FileBytes(Native("Nuri.ini"));
    const std::string term = FileBytes(terminal_ + "/NuriTerm.ini");
    const auto menu = ReadRecords(DataPath("menu"));
    for (std::int16_t key : script) con().QueueKey(key);

    EXPECT_EQ(RunDriver(), DriverOutcome::kNothingChanged);
    EXPECT_EQ(FileBytes(Native("Nuri.ini")), nuri);
    EXPECT_EQ(FileBytes(terminal_ + "/NuriTerm.ini"), term);
    EXPECT_EQ(ReadRecords(DataPath("menu")), menu);
    EXPECT_FALSE(FileExists(Native("db.log")));
    EXPECT_EQ(Session().SessionLanguage, "CAT");
    EXPECT_TRUE(g_rows_at_first_update.empty());
    EXPECT_EQ(con().beeps(), 0);
    std::int16_t status = 0;
    DbResetAll(&status);
  }
}

TEST_F(DriverTest, UnattendedRunPrintsTheBannerAndAppliesTheSessionLanguage) {
  SetTerminalLanguage("OCI");
  ASSERT_TRUE(StartProgram("/auto"));
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);

  EXPECT_EQ(con().output(),
            "\r\nTAVIRENO version 1.01\r\nLocalizacion aplicacions KEL\r\nInstallacion: " +
                Session().InstallRoot + "\r\nLenga que s'aplique: OCI\r\n\r\n");
  ExpectConverted("OCI", true);
  EXPECT_EQ(Ini("Nuri.ini", "Usuari"), "OCI");
  EXPECT_EQ(Ini("NuriTerm.ini", "Sistema"), "OCI");
  // The banner from row 2 down; the borderless window around row 7 holds
  // the progress line.
  ASSERT_EQ(g_rows_at_first_update.size(), 25u);
  EXPECT_EQ(TrimRight(g_rows_at_first_update[1]), "TAVIRENO version 1.01");
  EXPECT_EQ(g_rows_at_first_update[6].substr(0, 11), "  MENU     ");  // window column 2
  EXPECT_EQ(con().exhausted_waits(), 0);                              // never waited for a key
  EXPECT_EQ(con().beeps(), 0);
}

TEST_F(DriverTest, TablesOnlyWithTheBannerOnTheLastRow) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO/TAULES"));
  MoveCursor(25, 1);
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  // No window could be opened: the labels went to row 1 of the screen, the
  // last one (NTipConc) is still there, and no stranger's window was closed.
  EXPECT_EQ(Row(1).substr(0, 10), " NTIPCONC ");
  EXPECT_EQ(Screen().WindowDepth, 0);
  EXPECT_EQ(TrimRight(Row(24)), "");  // the banner's last, empty line
  ExpectConverted("SPA", false);
  EXPECT_EQ(Ini("Nuri.ini", "Usuari"), "SPA");  // recorded all the same
  EXPECT_EQ(Ini("NuriTerm.ini", "Sistema"), "SPA");
  EXPECT_FALSE(FileExists(Native("LOCKS/HConcept.lck")));
}

TEST_F(DriverTest, WholeLanguageValueIsComparedAndWritten) {
  // A form file whose language field is 4 characters long: "CAT " is none
  // of the codes, so every file takes its Spanish column, and "CAT " is what
  // the configuration records.
  std::string form = FileBytes(Native("FORMS/TAVIRENO.JPN"));
  const std::size_t at = form.find("\",3,0,0,0,0,0,\"|CAT");
  ASSERT_NE(at, std::string::npos);
  form[at + 2] = '4';
  File f;
  ASSERT_EQ(
      OpenFile(Native("FORMS/TAVIRENO.JPN"), FileAccess::kWriteTruncate, FileShare::kShared, &f),
      FileResult::kOk);
  ASSERT_TRUE(f.WriteAt(0, form.data(), form.size()));
  f.Close();

  ASSERT_TRUE(StartProgram("/AUTO"));
  EXPECT_EQ(LanguageFieldValue(), "CAT ");
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  ExpectConverted("CAT ", true);
  EXPECT_EQ(Ini("Nuri.ini", "Usuari"), "CAT ");
  EXPECT_EQ(Ini("NuriTerm.ini", "Sistema"), "CAT ");
  EXPECT_EQ(Session().SessionLanguage, "CAT");
}

TEST_F(DriverTest, TitleComesFromTheLastRecordReadWhenNoEntryMatches) {
  ASSERT_EQ(IniWrite(terminal_ + "/Sessio.ini", "Menu", "NomMenu", "NOSUCH"), IniWriteResult::kOk);
  ASSERT_TRUE(StartProgram());
  con().QueueKey(keys::kRight);
  con().QueueKey(keys::kEnter);
  AnswerTheMessage();
  EXPECT_EQ(RunDriver(), DriverOutcome::kConfirmed);
  const std::string last = ReadRecords(DataPath("menu")).back();
  EXPECT_EQ(Session().SessionTitle, " " + std::string(TrimRight(last.substr(20, 40))) + " ");
  EXPECT_NE(Session().SessionTitle, " Localizaci\xA2n aplicaciones KEL ");
}

}  // namespace
}  // namespace kel
