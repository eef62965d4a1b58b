#include "tools/recutil/sequential.h"

#include <cstdint>
#include <cstdio>

#include "util/cp850.h"

namespace kel {

bool ReadDictionary(std::string_view bytes, std::string* create_buffer, std::string* error) {
  if (bytes.size() < 2) {
    *error = "truncated dictionary: " + std::to_string(bytes.size()) + " bytes, no count";
    return false;
  }
  const int n = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[0]) |
                                          (static_cast<unsigned char>(bytes[1]) << 8));
  if (n <= 0) {
    *error = "bad dictionary: count " + std::to_string(n);
    return false;
  }
  if (bytes.size() - 2 < static_cast<std::size_t>(n)) {
    *error = "truncated dictionary: the count says " + std::to_string(n) + " bytes, " +
             std::to_string(bytes.size() - 2) + " follow";
    return false;
  }
  create_buffer->assign(bytes.substr(2, static_cast<std::size_t>(n)));
  return true;
}

void AppendSequentialRecord(std::string_view record, std::string* out) {
  *out += std::to_string(record.size());
  *out += ',';
  out->append(record);
  *out += "\r\n";
}

bool ParseSequential(std::string_view bytes, std::size_t record_length,
                     std::vector<std::string>* records, std::size_t* bad_record,
                     std::string* error) {
  records->clear();
  std::vector<std::string> out;
  std::size_t at = 0;
  auto fail = [&](const std::string& why) {
    *bad_record = out.size() + 1;
    *error = why;
    return false;
  };
  while (at < bytes.size() && bytes[at] != kEndOfFile) {
    std::size_t digits = 0;
    std::size_t count = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
      if (++digits > 6) return fail("byte count too long");
      count = count * 10 + static_cast<std::size_t>(bytes[at] - '0');
      ++at;
    }
    if (digits == 0) return fail("no byte count");
    if (at >= bytes.size() || (bytes[at] != ',' && bytes[at] != ' ')) {
      return fail("no comma after the byte count");
    }
    ++at;
    if (count != record_length) {
      return fail("length " + std::to_string(count) + ", the file's records are " +
                  std::to_string(record_length) + " bytes");
    }
    if (bytes.size() - at < count) return fail("the file ends inside the record");
    std::string record(bytes.substr(at, count));
    at += count;
    if (bytes.substr(at, 2) == "\r\n") {
      at += 2;
    } else if (at < bytes.size() && bytes[at] == '\n') {
      at += 1;
    } else {
      return fail("no line end after the record");
    }
    out.push_back(std::move(record));
  }
  *records = std::move(out);
  return true;
}

std::string ReadableText(std::string_view record) {
  std::string out;
  for (unsigned char c : record) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      AppendUtf8(Cp850ToUnicode(c), &out);
    }
  }
  return out;
}

std::string HexDump(std::string_view record) {
  std::string out;
  for (std::size_t line = 0; line < record.size(); line += 16) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "  %04zX ", line);
    out += buf;
    std::string text;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < record.size()) {
        unsigned char c = static_cast<unsigned char>(record[i]);
        std::snprintf(buf, sizeof buf, " %02X", c);
        out += buf;
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + text + "|\n";
  }
  return out;
}

}  // namespace kel
