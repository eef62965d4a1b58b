// PostgreSQL's own bulk load of a file's rows, with nothing of the engine
// around it: the rows of the file's table copied out, then loaded with one
// COPY in binary format into a table of the same columns, checks and
// indexes, in one transaction. It is the floor under any loading through
// the engine on that server, so a benchmark prints it beside its own.
#ifndef KEL_BENCH_SERVER_COPY_REFERENCE_H_
#define KEL_BENCH_SERVER_COPY_REFERENCE_H_

#include <string>

namespace kel {

// Microseconds a row for the COPY (and its commit) of every row of the file
// named `file_name` (its name in the schema's catalogue: "bench1400"); the
// copy is dropped afterwards. A negative value when it could not be
// measured, with `*why` saying why.
double ServerCopyMicrosPerRow(const std::string& conninfo, const std::string& schema,
                              const std::string& file_name, std::string* why);

}  // namespace kel

#endif  // KEL_BENCH_SERVER_COPY_REFERENCE_H_
