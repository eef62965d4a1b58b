// The program's messages for administrators on the standard error: why a run
// stopped, or what it could not finish. Like every other program text each
// is a Catalan text of the language text file (language_text.h), shown in
// the session language; its values are put into the places "%1", "%2" ...
// after the translation, so that each language puts them where its sentence
// needs them. Words that come from elsewhere (a terminal's refusal, the form
// loader's detail, a converter's reason, a signal's name, a path) go in as
// they come. Code page 850, without the program's name in front.
//
// A missing language text file is not created by these (a program that
// stops before it has changed anything leaves the installation as it was).
//
// Reads: Session().SessionLanguage, InstallRoot, ProgramName (the language
// text file's name).
#ifndef KEL_CONVERT_RUN_MESSAGES_H_
#define KEL_CONVERT_RUN_MESSAGES_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "convert/converters.h"
#include "startup/form_file.h"

namespace kel {

// `text` with each "%n" (n from 1 to 9) replaced by values[n - 1] ("" when
// there is no such value); the values themselves are not searched again. A
// "%" followed by anything else stays.
std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values);

// The session language's version of the Catalan text `catalan` (the language
// text file is read but never created), with its places filled: the words
// of these messages, and of the reasons the converters give for a file.
std::string TranslatedMessage(const char* catalan, std::initializer_list<std::string_view> values);

// An unattended run on a terminal that cannot show the screen: `why` (the
// terminal's own words) and that the run goes on with plain output.
std::string PlainOutputNotice(std::string_view why);

// An interactive run without a terminal (exit code 66).
std::string NoTerminalMessage();

// The form file at `path` could not be used (exit code 65): it cannot be
// opened (kMissing), or it is damaged (kDamaged) as the loader's `detail`
// says; nothing was changed.
std::string FormFileStopMessage(FormFileStatus status, std::string_view path,
                                std::string_view detail);

// A termination signal (its name, "SIGTERM") stopped the run in order.
std::string SignalStopMessage(std::string_view signal_name);

// The conversion did not reach or rewrite every record (exit code 75): each
// file of `tally` with its counts and reason (or its first problem when no
// file is named), a failed closing of the data files (`close_status` not 0),
// the totals, and that a new run finishes the job.
std::string IncompleteConversionMessage(const ConversionTally& tally, std::int16_t close_status);

// The language could not be recorded in the configuration file `path`
// (IniWrite's result `error`, exit code 74).
std::string LanguageNotRecordedMessage(std::string_view path, int error);

}  // namespace kel

#endif  // KEL_CONVERT_RUN_MESSAGES_H_
