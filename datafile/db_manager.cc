#include "datafile/db_manager.h"

#include <cstdlib>
#include <cstring>

#include "datafile/db_file.h"
#include "recman/backend_config.h"
#include "recman/manager_library.h"
#include "recman/recman.h"

namespace kel {
namespace {

// Answers every call when no record manager could be chosen: nothing is
// called in its place.
std::int16_t KEL_BTRCALL_CONVENTION Unavailable(std::int16_t, void*, void*, std::uint32_t*, void*,
                                                std::uint8_t, std::int8_t) {
  return kStatusRecordManagerInactive;
}

struct Choice {
  bool made = false;
  std::int16_t status = kStatusOk;
  RecordManagerEntry chosen = nullptr;
  bool own_engine = false;
  std::string problem;
  ManagerProblem detail;
  std::string library;  // as configured when the choice was made
  // A test's entry in front of the chosen one (SetRecordManagerEntry).
  RecordManagerEntry front = nullptr;
  bool exit_reset_registered = false;
};

Choice& TheChoice() {
  static Choice choice;
  return choice;
}

// The end of the process, for a loaded record manager: the files the program
// left open are given back to it with a Reset, as the program's own engine
// closes its files at exit. Registered after the library's first answer, so
// that it runs before the library's own exit handlers (they run in the
// reverse order of their registration).
void ResetAtExit() {
  Choice& c = TheChoice();
  if (!c.made || c.own_engine || c.chosen == nullptr) return;
  DataFileState& s = DataFiles();
  bool open = false;
  for (int i = 1; i <= kMaxOpenFiles; ++i) {
    open = open || s.OpenFileTable[static_cast<std::size_t>(i)].FileNumber != 0;
  }
  if (!open) return;
  std::uint8_t block[kPositionBlockSize];
  std::memset(block, ' ', sizeof block);
  std::uint8_t none[1] = {};
  std::uint32_t length = 0;
  (void)c.chosen(kOpReset, block, none, &length, none, 0, 0);
  for (int i = 1; i <= kMaxOpenFiles; ++i) FreeEntry(&s.OpenFileTable[static_cast<std::size_t>(i)]);
}

}  // namespace

std::int16_t UseConfiguredRecordManager() {
  Choice& c = TheChoice();
  if (c.made) return c.status;
  c.made = true;
  c.library = RecordManagerConfiguration().library;
  c.status = SelectRecordManager(RecordManagerConfiguration(), &c.chosen, &c.own_engine,
                                 &c.problem, &c.detail);
  if (c.status != kStatusOk) c.chosen = &Unavailable;
  return c.status;
}

const std::string& RecordManagerProblem() { return TheChoice().problem; }

const ManagerProblem& RecordManagerProblemDetail() { return TheChoice().detail; }

const std::string& RecordManagerLibrary() { return TheChoice().library; }

bool UsingOwnRecordManager() {
  const Choice& c = TheChoice();
  return c.made && c.own_engine;
}

void ResetRecordManagerChoice() {
  Choice& c = TheChoice();
  const bool registered = c.exit_reset_registered;
  c = Choice();
  c.exit_reset_registered = registered;
}

void NoteRecordManagerAnswered() {
  Choice& c = TheChoice();
  if (c.exit_reset_registered || !c.made || c.own_engine || c.status != kStatusOk) return;
  c.exit_reset_registered = std::atexit(&ResetAtExit) == 0;
}

RecordManagerEntry SetRecordManagerEntry(RecordManagerEntry entry) {
  const RecordManagerEntry previous = RecordManager();
  Choice& c = TheChoice();
  c.front = entry == nullptr || entry == c.chosen ? nullptr : entry;
  return previous;
}

RecordManagerEntry RecordManager() {
  Choice& c = TheChoice();
  if (c.front != nullptr) return c.front;
  if (!c.made) (void)UseConfiguredRecordManager();
  return c.chosen;
}

std::int16_t DbFlush() {
  const Choice& c = TheChoice();
  // Our engine bundles operations into transactions; an installed record
  // manager commits each operation itself and holds nothing for us.
  if (!c.made || !c.own_engine) return kStatusOk;
  return FlushRecordManager();
}

}  // namespace kel
