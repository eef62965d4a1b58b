#include "datafile/db_open.h"

#include <cstring>
#include <string>
#include <vector>

#include "datafile/db_file.h"
#include "datafile/db_open_test_fixture.h"
#include "datafile/notices.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "platform/console.h"
#include "platform/file_system_kind.h"
#include "recman/backend_config.h"
#include "recman/network_fs.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"

namespace kel::testing {
namespace {

TEST_F(DbOpenTest, LogicalNamesSplitIntoDirectoryBaseAndExtension) {
  struct Case {
    const char* name;
    const char* directory;
    const char* base;
    const char* extension;
  } cases[] = {
      {"C:\\DATA\\X", "C:\\DATA\\", "X", ".dat"},
      {"TAULES\\A.B.C", "TAULES\\", "A", ".B.C"},
      {"HConcept.dat", "", "HConcept", ".dat"},
      {"menu", "", "menu", ".dat"},
      {"C:X", "C:", "X", ".dat"},
      {"a.b/c\\d", "a.b/c\\", "d", ".dat"},
      {"/srv/kel/DADES/H.", "/srv/kel/DADES/", "H", "."},
      {"", "", "", ".dat"},
  };
  Session().InstallRoot = "K:\\KEL\\";
  for (const Case& c : cases) {
    const PhysicalName p = SplitLogicalName(c.name);
    EXPECT_EQ(p.directory, c.directory) << c.name;
    EXPECT_EQ(p.base, c.base) << c.name;
    EXPECT_EQ(p.extension, c.extension) << c.name;
    EXPECT_EQ(PhysicalPath(c.name), std::string(c.directory) + c.base + c.extension);
    EXPECT_EQ(DictionaryPath(c.name), std::string("K:\\KEL\\ddf\\") + c.base + ".xdf") << c.name;
  }
}

TEST_F(DbOpenTest, OpenPassesTheOwnerNameAndThePathAndZeroesKeyZero) {
  ASSERT_EQ(CreateFile(root() + "T.dat", SampleSpec()), kStatusOk);
  Recorder rec;
  std::int16_t st = -1;
  DbOpen(4, root() + "T", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  ASSERT_EQ(rec.Operations(), (std::vector<int>{0, 15, 15}));
  const RecordedCall& open = rec.calls()[0];
  const std::string path = root() + "T.dat";
  EXPECT_EQ(open.data_length_in, 5u);
  EXPECT_EQ(open.data_in, OwnerName() + std::string(1, '\0'));
  EXPECT_EQ(OwnerName().size(), 4u);
  EXPECT_EQ(open.key_in.substr(0, path.size() + 1), path + std::string(1, '\0'));
  EXPECT_EQ(open.key_length, path.size());
  EXPECT_EQ(open.key_number, 0);
  const OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(4))];
  EXPECT_EQ(e.RecordLength, 12);
  EXPECT_EQ(e.KeyValue, std::string(3, '\0'));
  EXPECT_EQ(e.LockMode, 0);
}

TEST_F(DbOpenTest, AMissingFileIsCreatedFromItsDictionaryUnderTheInstallation) {
  ASSERT_TRUE(MakeDirectory(root() + "DADES"));
  const std::string dictionary = SampleSpec(20).Bytes();
  WriteDictionary("HConcept",
                  std::string(1, static_cast<char>(dictionary.size())) + '\0' + dictionary);
  Recorder rec;
  std::int16_t st = -1;
  DbOpen(1, root() + "DADES\\HConcept", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(rec.Operations(), (std::vector<int>{0, 14, 0, 15, 15}));
  const RecordedCall& create = rec.calls()[1];
  EXPECT_EQ(create.key_number, -1) << "an existing file is never replaced";
  EXPECT_EQ(create.data_length_in, 1536u);
  EXPECT_EQ(create.data_in, dictionary + std::string(1536 - dictionary.size(), ' '));
  EXPECT_TRUE(FileExists(root() + "DADES\\HConcept.dat"));
  EXPECT_EQ(DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(1))].RecordLength, 20);
}

// A dictionary with file flag 0x400 whose key numbers were given by hand
// (not 0..n-1, one of them beyond a signed byte): the file made from it is
// used by the order of its keys, as the layer counts them.
TEST_F(DbOpenTest, ADictionaryWithManualKeyNumbersGivesKeysNumberedByOrder) {
  std::string dictionary = TestFileSpec{12, 4096, {{{1, 3, 0x3}}, {{4, 2, 0x3}}}, ""}.Bytes();
  dictionary[10] = 0x00;
  dictionary[11] = 0x04;  // file flag 0x400
  dictionary[16 + 14] = 7;
  dictionary[32 + 14] = static_cast<char>(200);
  WriteDictionary("M", std::string(1, static_cast<char>(dictionary.size())) + '\0' + dictionary);
  std::int16_t st = -1;
  DbOpen(1, root() + "M", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  DbClose(1, &st);
  Insert(root() + "M.dat", {Rec("BBB11", 12), Rec("AAA22", 12)});
  DbOpen(1, root() + "M", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  DbFind(1, 0, "", 1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area_, 5), "AAA22");
  DbFind(1, 1, "", 1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area_, 5), "BBB11");
  DbFind(1, 2, "", 1, &st);
  EXPECT_EQ(st, kStatusNoSuchKey);
}

// Every way the open can fail ends the same way: message, beep, the data
// files released, a key, exit code 3.
TEST_F(DbOpenTest, AnOpenThatCannotCompleteShowsWhyReleasesEverythingAndExitsNonZero) {
  struct Case {
    const char* what;
    std::string dictionary;  // raw bytes; "-" for none
    std::int16_t status;     // -1: whatever the Create of blanks gives
    bool creates;
  } cases[] = {
      {"no dictionary", "-", -1, true},
      {"negative count", std::string("\xFF\xFF", 2) + SampleSpec().Bytes(), 22, false},
      {"count beyond the file", std::string("\x40\x00", 2) + SampleSpec().Bytes(), 22, false},
      {"count beyond the buffer", std::string("\x01\x07", 2) + std::string(0x701, ' '), 22, false},
      {"one byte", "\x05", 22, false},
      {"records longer than the buffer",
       std::string("\x20\x00", 2) + SampleSpec(1600).Bytes().substr(0, 32), 28, true},
  };
  ASSERT_EQ(CreateFile(root() + "OTHER.dat", SampleSpec()), kStatusOk);
  ASSERT_TRUE(MakeDirectory(root() + "ddf"));
  for (const Case& c : cases) {
    std::int16_t st = -1;
    DbOpen(2, root() + "OTHER", area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk);
    if (c.dictionary != "-") WriteDictionary("X", c.dictionary);
    const int beeps = con().beeps();
    const int waits = con().exhausted_waits();
    ExitCodes().clear();
    released_before_key_ = false;
    Recorder rec;
    DbOpen(1, root() + "X", area_, sizeof area_, &st);
    const std::int16_t expected = c.status >= 0 ? c.status : rec.calls()[1].status;
    EXPECT_EQ(st, expected) << c.what;
    EXPECT_EQ(rec.Count(kOpCreate), c.creates ? 1 : 0) << c.what;
    EXPECT_EQ(ExitCodes(), std::vector<int>{kExitOpenFailure}) << c.what;
    ASSERT_FALSE(con().transcript().empty());
    EXPECT_EQ(con().transcript().back(),
              "NO ES POT ACCEDIR AL FITXER " + root() + "X (" + DecimalText(expected) + ")")
        << c.what;
    EXPECT_EQ(con().beeps(), beeps + 1) << c.what;
    EXPECT_EQ(con().exhausted_waits(), waits + 1) << c.what << ": one key waited for";
    EXPECT_EQ(rec.Count(kOpReset), 1) << c.what;
    EXPECT_TRUE(released_before_key_) << c.what << ": every file released before the wait";
    EXPECT_LT(DbSlot(1), 1) << c.what << ": no half-open entry";
    EXPECT_EQ(Screen().WindowDepth, 0) << c.what;
    if (c.dictionary == "-") {
      EXPECT_TRUE(FileExists(root() + "ddf\\X.xdf")) << "left behind empty";
    }
    (void)DeleteFile(root() + "X.dat");
    (void)DeleteFile(root() + "ddf\\X.xdf");
  }
}


bool OnNfs(const std::string&, FileSystemKind* kind) {
  *kind = FileSystemKindForMagic(0x6969);
  return true;
}

// Every file lies on NFS while it lives.
class ScopedNfs {
 public:
  ScopedNfs() : previous_(SetFileSystemProbe(&OnNfs)) {}
  ~ScopedNfs() { SetFileSystemProbe(previous_); }
  ScopedNfs(const ScopedNfs&) = delete;
  ScopedNfs& operator=(const ScopedNfs&) = delete;

 private:
  FileSystemProbe previous_;
};

std::string Dictionary(const std::string& create_buffer) {
  return std::string(1, static_cast<char>(create_buffer.size())) + '\0' + create_buffer;
}

// A file refused because it lies on a network file system: the message
// keeps its words, and the reason follows on the lines under it, in the
// session's language, with the file system's name.
TEST_F(DbOpenTest, ARefusedFileSystemIsNamedUnderTheMessageInTheSessionLanguage) {
  // Our engine's refusal of a network file system (a loaded library keeps
  // its own).
  if (testing::ThroughLoadedRecordManager()) GTEST_SKIP();
  const struct {
    const char* language;
    const char* reason_start;
    const char* reason_end;
  } cases[] = {
      {"CAT", "El fitxer \x82s en un sistema de fitxers de xarxa (nfs), on els fitxers SQLite",
       "[Dades] XarxaLocal=1."},
      {"SPA", "El fichero est\xA0 en un sistema de ficheros de red (nfs), donde los ficheros",
       "[Dades] XarxaLocal=1."},
      {"GLG", "O ficheiro est\xA0 num sistema de ficheiros de rede (nfs), onde os ficheiros",
       "[Dades] XarxaLocal=1."},
      {"OCI", "Eth fich\x8Ar ei en un sist\x8Ama de fich\x8Ars de ret (nfs), a on es fich\x8Ars",
       "[Dades] XarxaLocal=1."},
  };
  WriteDictionary("X", Dictionary(SampleSpec().Bytes()));
  ScopedNfs nfs;
  for (const auto& c : cases) {
    SetSessionLanguage(c.language);
    ExitCodes().clear();
    const std::size_t logged = con().transcript().size();
    std::vector<std::string> rows;
    con().SetExhaustedHandler([&rows](MemoryConsole& m) {
      for (int r = 1; r <= 25; ++r) rows.push_back(Row(r));
      m.QueueKey(keys::kEnter);
      return true;
    });
    std::int16_t st = 0;
    DbOpen(1, root() + "X", area_, sizeof area_, &st);
    EXPECT_EQ(st, kStatusNetworkFileSystem) << c.language;
    EXPECT_EQ(ExitCodes(), std::vector<int>{kExitOpenFailure}) << c.language;
    ASSERT_EQ(con().transcript().size(), logged + 2) << c.language;
    const std::string message = OpenFailurePrefix() + root() + "X (46)";
    const std::string& reason = con().transcript().back();
    EXPECT_EQ(con().transcript()[logged], message);
    EXPECT_EQ(reason.rfind(c.reason_start, 0), 0u) << reason;
    EXPECT_EQ(reason.substr(reason.size() - std::strlen(c.reason_end)), c.reason_end) << reason;
    EXPECT_EQ(LastOpenFailure(), message + "\n" + reason);
    // On the screen: the message on its line, the reason from the next one.
    std::size_t message_row = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].find(message) != std::string::npos) message_row = r;
    }
    ASSERT_NE(message_row, 0u) << c.language;
    EXPECT_NE(rows[message_row + 1].find(std::string(c.reason_start).substr(0, 30)),
              std::string::npos)
        << rows[message_row + 1];
  }
}

#ifdef KEL_HAVE_LIBPQ
// A server that cannot be reached: the server library's words follow ours,
// a line each, and the connection string's password appears nowhere.
TEST_F(DbOpenTest, AnUnreachableServerSaysWhyAndNeverShowsItsPassword) {
  RecordManagerConfig config;
  config.server = "host=127.0.0.1 port=1 dbname=kel user=kel password=hunter22";
  config.install_root = MapPath(root());
  ConfigureRecordManager(config);
  SetSessionLanguage("SPA");
  std::string screen;
  con().SetExhaustedHandler([&screen](MemoryConsole& m) {
    screen = Screenful();
    m.QueueKey(keys::kEnter);
    return true;
  });
  const std::size_t logged = con().transcript().size();
  std::int16_t st = 0;
  DbOpen(1, root() + "X", area_, sizeof area_, &st);
  ResetRecordManagerConfig();
  EXPECT_EQ(st, kStatusIoError);
  const std::vector<std::string> log(con().transcript().begin() + static_cast<long>(logged),
                                     con().transcript().end());
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "NO SE PUEDE ACCEDER AL FICHERO " + root() + "X (2)");
  EXPECT_EQ(log[1].rfind("No se puede conectar con el servidor: connection to server at", 0), 0u)
      << log[1];
  EXPECT_EQ(log[2].rfind("Is the server running", 0), 0u) << log[2];
  EXPECT_EQ(screen.find("hunter22"), std::string::npos);
  EXPECT_EQ(LastOpenFailure().find("hunter22"), std::string::npos);
}
#endif

// An open after another one the caller survived (a second look at a file)
// does not borrow that open's reason: a folder where the file should be is
// refused with the same status (46), for a reason of its own.
TEST_F(DbOpenTest, AnEarlierRefusalIsNotTheReasonOfALaterFailure) {
  // Our engine's refusal of a network file system (a loaded library keeps
  // its own).
  if (testing::ThroughLoadedRecordManager()) GTEST_SKIP();
  WriteDictionary("X", Dictionary(SampleSpec().Bytes()));
  std::int16_t st = 0;
  {
    ScopedNfs nfs;
    DbOpenIfPossible(1, root() + "X", area_, sizeof area_, &st);
  }
  EXPECT_EQ(st, kStatusNetworkFileSystem);
  ASSERT_TRUE(MakeDirectory(root() + "FOLDER.dat"));
  const std::size_t logged = con().transcript().size();
  DbOpen(1, root() + "FOLDER", area_, sizeof area_, &st);
  EXPECT_EQ(st, kStatusNetworkFileSystem);
  ASSERT_EQ(con().transcript().size(), logged + 1);
  EXPECT_EQ(con().transcript().back(), LastOpenFailure());
  EXPECT_EQ(LastOpenFailure().find('\n'), std::string::npos);
}

// The record manager closes the file also when Close or Reset reports a
// failed commit: the entry goes, and the number can be opened again and
// used (no dead entry answering 1002 to the open and 3 to the rest).
TEST_F(DbOpenTest, AFailingCloseOrResetFreesTheEntryForANewOpen) {
  ASSERT_EQ(CreateFile(root() + "T.dat", SampleSpec()), kStatusOk);
  for (std::int16_t failure : {kStatusIoError, kStatusDiskFull, kStatusOk}) {
    std::int16_t st = -1;
    DbOpen(1, root() + "T", area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk);
    {
      Recorder rec;
      // Answered as the record manager answers after a failed commit.
      if (failure != kStatusOk) rec.FailNext(kOpClose, failure);
      DbClose(1, &st);
    }
    EXPECT_EQ(st, failure);
    EXPECT_LT(DbSlot(1), 1) << failure;
    DbOpen(1, root() + "T", area_, sizeof area_, &st);
    EXPECT_EQ(st, kStatusOk) << failure;
    DbFind(1, 0, "", 1, &st);
    EXPECT_NE(st, kStatusFileNotOpen) << failure;
    DbOpen(2, root() + "T", area_, sizeof area_, &st);
    {
      Recorder rec;
      if (failure != kStatusOk) rec.FailNext(kOpReset, failure);
      DbResetAll(&st);
    }
    EXPECT_EQ(st, failure);
    EXPECT_LT(DbSlot(1), 1) << failure;
    EXPECT_LT(DbSlot(2), 1) << failure;
  }
}

// A program that only reads must leave the installation as it found it: a
// missing file (with or without a dictionary) is reported, not created, and
// no empty dictionary appears; an existing file opens read-only, so even a
// stray Update cannot reach it.
TEST_F(DbOpenTest, AnOpenOfAnExistingFileCreatesNothingAndWritesNothing) {
  const std::string dictionary = SampleSpec(20).Bytes();
  WriteDictionary("WithDictionary",
                  std::string(1, static_cast<char>(dictionary.size())) + '\0' + dictionary);
  struct Case {
    const char* name;
    std::int16_t status;
  } cases[] = {{"WithDictionary", kStatusFileNotFound}, {"NoDictionary", kStatusFileNotFound}};
  for (const Case& c : cases) {
    Recorder rec;
    std::int16_t st = -1;
    DbOpenExisting(3, root() + c.name, area_, sizeof area_, &st);
    EXPECT_EQ(st, c.status) << c.name;
    EXPECT_EQ(rec.Operations(), (std::vector<int>{0})) << c.name << ": no Create";
    EXPECT_LT(DbSlot(3), 1) << c.name << ": the entry is free again";
    EXPECT_FALSE(FileExists(root() + c.name + ".dat")) << c.name;
  }
  EXPECT_FALSE(FileExists(root() + "ddf\\NoDictionary.xdf")) << "no empty dictionary left behind";
  EXPECT_TRUE(ExitCodes().empty()) << "no open failure";

  ASSERT_EQ(CreateFile(root() + "T.dat", SampleSpec()), kStatusOk);
  Insert(root() + "T.dat", {Rec("AAA", 12)});
  Recorder rec;
  std::int16_t st = -1;
  DbOpenExisting(4, root() + "T", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(rec.calls()[0].key_number, kOpenReadOnly);
  DbFind(4, 0, "", 1, &st);
  ASSERT_EQ(st, kStatusOk);
  area_[5] = 'X';
  DbUpdate(4, &st);
  EXPECT_EQ(st, kStatusAccessDenied);
  DbClose(4, &st);
  EXPECT_EQ(st, kStatusOk);
}

TEST_F(DbOpenTest, MessagesInFourLanguagesAreCodePage850Bytes) {
  struct Case {
    const char* language;
    const char* open_failure;
    const char* record_notice;
    const char* lock_notice;
    const char* esc_text;
  } cases[] = {
      {"CAT", "NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT.",
       "FITXER BLOQUEJAT. ESPEREU UN MOMENT", " O POLSEU [ESC] PER A EIXIR"},
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO ", "FICHERO BLOQUEADO. ESPERE UN MOMENTO.",
       "FICHERO BLOQUEADO. ESPERE UN MOMENTO", " O PULSE [ESC] PARA SALIR"},
      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO ", "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.",
       "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO", " OU PULSE [ESC] PARA SAIR"},
      {"OCI", "NON SE P\xD2T ACCEDIR ATH FICH\xC8R ", "FICH\xC8R BLOQUEJAT. ESPERATZ UN MOMENT.",
       "FICH\xC8R BLOQUEJAT. ESPERATZ UN MOMENT", " O POSSATZ [ESC] ENT\xC0 G\xC8SSER"},
      {"   ", "NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT.",
       "FITXER BLOQUEJAT. ESPEREU UN MOMENT", " O POLSEU [ESC] PER A EIXIR"},
  };
  for (const Case& c : cases) {
    SetSessionLanguage(c.language);
    EXPECT_EQ(OpenFailurePrefix(), c.open_failure) << c.language;
    EXPECT_EQ(LockedRecordNotice(), c.record_notice) << c.language;
    EXPECT_EQ(LockFileNotice(), c.lock_notice) << c.language;
    EXPECT_EQ(LockFileEscText(), c.esc_text) << c.language;
  }
}

}  // namespace
}  // namespace kel::testing
