// The statistics report of a data file, in the manner of the classic
// record-file utility: file figures, then one line per key segment.
#ifndef KEL_TOOLS_RECUTIL_REPORT_H_
#define KEL_TOOLS_RECUTIL_REPORT_H_

#include <string>

namespace kel {

// The report for the Stat buffer `stat` of the file named `file_name`.
// An empty string when the buffer is not a valid specification.
std::string StatReport(const std::string& file_name, const std::string& stat);

// What a check's report (one problem a line, CheckDataFile) says is
// damaged, in a few words: "the index of key 1, the keys of 2 records, the
// counts". Empty for an empty report.
std::string DamageSummary(const std::string& report);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_REPORT_H_
