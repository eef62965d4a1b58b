// The record utility's sequential load format. The first two input bytes
// give the record length the file must have (1..4096); the rest is the
// file. Accepted records are written out again and must read back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/recutil/sequential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  const std::size_t record_length = 1 + in.Word() % 4096;
  std::vector<std::string> records;
  std::size_t bad = 0;
  std::string error;
  if (!ParseSequential(in.Rest(), record_length, &records, &bad, &error)) {
    Require(records.empty() && bad > 0 && !error.empty(), "a refusal without its record");
    return 0;
  }
  std::string out;
  for (const std::string& record : records) {
    Require(record.size() == record_length, "a record of the wrong length was accepted");
    AppendSequentialRecord(record, &out);
  }
  out.push_back(kEndOfFile);
  std::vector<std::string> again;
  Require(ParseSequential(out, record_length, &again, &bad, &error) && again == records,
          "written records do not read back");
  if (!records.empty()) {
    (void)ReadableText(records.front());
    (void)HexDump(records.front());
  }
  return 0;
}
