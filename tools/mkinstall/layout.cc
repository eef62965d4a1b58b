#include "tools/mkinstall/layout.h"

#include <charconv>

#include "tools/mkinstall/field_codec.h"

namespace kel {
namespace {

constexpr int kMaxRecordLength = 1536;  // the data-file layer's transfer buffer
constexpr int kMaxKeyLength = 255;

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool ParseInt(std::string_view text, int* value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Reads the description line by line; every failure names its line.
class LayoutReader {
 public:
  LayoutReader(std::vector<FileLayout>* files, std::string* error) : files_(files), error_(error) {}

  bool Line(int number, std::string_view line) {
    line_number_ = number;
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0][0] == '#') return true;
    if (words[0] == "file") return FileLine(words);
    if (current_ == nullptr) return Fail("a field, key or end stands outside a file block");
    if (words[0] == "end") return EndLine(words);
    if (words[0] == "key") return KeyLine(words);
    return FieldLine(words);
  }

  bool Finish() {
    if (current_ != nullptr) return Fail("the last file block has no \"end\"");
    if (files_->empty()) return Fail("no file is described");
    return true;
  }

 private:
  bool Fail(const std::string& message) {
    *error_ = "line " + std::to_string(line_number_) + ": " + message;
    return false;
  }

  bool FileLine(const std::vector<std::string_view>& w) {
    if (current_ != nullptr) return Fail("a file block starts before the previous one ended");
    FileLayout layout;
    if (w.size() != 6 || w[2] != "record" || w[4] != "page" ||
        !ParseInt(w[3], &layout.record_length) || !ParseInt(w[5], &layout.page_size)) {
      return Fail("expected: file <logical path> record <length> page <page size>");
    }
    layout.logical_path = std::string(w[1]);
    std::size_t cut = layout.logical_path.find_last_of('\\');
    layout.name =
        cut == std::string::npos ? layout.logical_path : layout.logical_path.substr(cut + 1);
    if (layout.name.empty() || layout.name.find('.') != std::string::npos) {
      return Fail("the logical path must end in a name without extension");
    }
    if (layout.record_length < 1 || layout.record_length > kMaxRecordLength) {
      return Fail("record length must be 1 to " + std::to_string(kMaxRecordLength));
    }
    if (layout.page_size < 512 || layout.page_size > 4096 || layout.page_size % 512 != 0 ||
        layout.page_size < layout.record_length) {
      return Fail("page size must be a multiple of 512 from 512 to 4096, not below the record");
    }
    for (const FileLayout& other : *files_) {
      if (other.name == layout.name) return Fail("file " + layout.name + " is described twice");
    }
    files_->push_back(std::move(layout));
    current_ = &files_->back();  // stays valid: nothing is added until "end"
    return true;
  }

  bool FieldLine(const std::vector<std::string_view>& w) {
    LayoutField field;
    if (w.size() < 4 || !ParseInt(w[1], &field.offset) || !ParseInt(w[2], &field.width) ||
        !FieldTypeFromName(w[3], &field.type)) {
      return Fail("expected: <field> <offset> <width> <type> [default=...] [copy=...]");
    }
    field.name = std::string(w[0]);
    for (std::size_t i = 4; i < w.size(); ++i) {
      if (w[i].starts_with("default=")) {
        field.default_value = std::string(w[i].substr(8));
      } else if (w[i].starts_with("copy=")) {
        field.copy_of = std::string(w[i].substr(5));
      } else {
        return Fail("unknown option \"" + std::string(w[i]) + "\"");
      }
    }
    if (current_->FieldIndex(field.name) >= 0) return Fail("field " + field.name + " twice");
    int expected_offset = current_->fields.empty()
                              ? 0
                              : current_->fields.back().offset + current_->fields.back().width;
    if (field.offset != expected_offset) {
      return Fail("field " + field.name + " starts at " + std::to_string(field.offset) +
                  "; the previous field ends at " + std::to_string(expected_offset));
    }
    if (!WidthSuitsType(field)) {
      return Fail("a " + std::string(FieldTypeName(field.type)) + " field cannot be " +
                  std::to_string(field.width) + " bytes wide");
    }
    if (field.offset + field.width > current_->record_length) {
      return Fail("field " + field.name + " ends beyond the record");
    }
    std::string bytes(field.width, '\0'), why;
    if (!EncodeField(field, field.default_value, bytes.data(), &why)) {
      return Fail("default of " + field.name + ": " + why);
    }
    current_->fields.push_back(std::move(field));
    return true;
  }

  static bool WidthSuitsType(const LayoutField& field) {
    switch (field.type) {
      case FieldType::kDate:
        return field.width == 4;
      case FieldType::kFlag:
        return field.width == 2;
      case FieldType::kInt:
      case FieldType::kAmount:
        return field.width == 1 || field.width == 2 || field.width == 4 || field.width == 8;
      default:
        return field.width >= 1;
    }
  }

  bool KeyLine(const std::vector<std::string_view>& w) {
    LayoutKey key;
    std::size_t i = 1;
    bool have_uniqueness = false;
    for (; i < w.size() && w[i] != "="; ++i) {
      if (w[i] == "unique" || w[i] == "dup") {
        key.unique = w[i] == "unique";
        have_uniqueness = true;
      } else if (w[i] == "modifiable") {
        key.modifiable = true;
      } else if (w[i] == "nocase") {
        key.no_case = true;
      } else if (w[i] == "desc") {
        key.descending = true;
      } else {
        return Fail("unknown key attribute \"" + std::string(w[i]) + "\"");
      }
    }
    if (!have_uniqueness) return Fail("a key must say unique or dup");
    if (i == w.size() || i + 1 == w.size()) return Fail("expected: key <attributes> = <segments>");
    int length = 0;
    for (++i; i < w.size(); ++i) {
      std::string_view name = w[i];
      LayoutSegment segment;
      std::size_t colon = name.find(':');
      std::string_view field_name = name.substr(0, colon);
      segment.field = current_->FieldIndex(field_name);
      if (segment.field < 0) return Fail("key segment names no field: " + std::string(name));
      const LayoutField& field = current_->fields[segment.field];
      segment.length = field.width;
      if (colon != std::string_view::npos &&
          (!ParseInt(name.substr(colon + 1), &segment.length) || segment.length < 1 ||
           segment.length > field.width || field.type != FieldType::kText)) {
        return Fail("a partial segment takes 1 to the width of a text field: " + std::string(name));
      }
      length += segment.length;
      key.segments.push_back(segment);
    }
    if (length > kMaxKeyLength) return Fail("key longer than 255 bytes");
    current_->keys.push_back(std::move(key));
    return true;
  }

  bool EndLine(const std::vector<std::string_view>& w) {
    if (w.size() != 1) return Fail("\"end\" stands alone");
    const FileLayout& file = *current_;
    int covered = file.fields.empty() ? 0 : file.fields.back().offset + file.fields.back().width;
    if (covered != file.record_length) {
      return Fail("the fields of " + file.name + " cover " + std::to_string(covered) +
                  " bytes of a " + std::to_string(file.record_length) + "-byte record");
    }
    if (file.keys.empty()) return Fail(file.name + " has no key");
    for (const LayoutField& field : file.fields) {
      if (field.copy_of.empty()) continue;
      int source = file.FieldIndex(field.copy_of);
      if (source < 0 || file.fields[source].width != field.width ||
          !file.fields[source].copy_of.empty()) {
        return Fail(field.name + " copies " + field.copy_of +
                    ", which must be a field of the same width that is not a copy itself");
      }
    }
    current_ = nullptr;
    return true;
  }

  std::vector<FileLayout>* files_;
  std::string* error_;
  FileLayout* current_ = nullptr;
  int line_number_ = 0;
};

void Put16(std::string* out, std::size_t at, int value) {
  (*out)[at] = static_cast<char>(value & 0xFF);
  (*out)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

bool IsIntegerType(FieldType type) {
  return type == FieldType::kInt || type == FieldType::kAmount || type == FieldType::kFlag;
}

}  // namespace

int FileLayout::FieldIndex(std::string_view field_name) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == field_name) return static_cast<int>(i);
  }
  return -1;
}

int FileLayout::KeyLength(int k) const {
  int length = 0;
  for (const LayoutSegment& segment : keys[k].segments) length += segment.length;
  return length;
}

bool ParseLayouts(std::string_view text, std::vector<FileLayout>* files, std::string* error) {
  files->clear();
  LayoutReader reader(files, error);
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (files->size() == 64 && line.starts_with("file")) {
      *error = "line " + std::to_string(number + 1) + ": more than 64 files";
      return false;
    }
    if (!reader.Line(++number, line)) return false;
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return reader.Finish();
}

// File specification (16 bytes), then one 16-byte specification per segment:
//   file:    0 record length, 2 page size, 4 number of keys, 6..9 reserved,
//            10 file flags, 12 duplicate pointers, 13 reserved, 14 preallocation
//   segment: 0 position (1-based), 2 length, 4 key flags, 6..9 reserved,
//            10 extended type, 11 null value, 12..13 reserved,
//            14 manual key number, 15 collating sequence number
std::string CreateBuffer(const FileLayout& layout) {
  std::size_t segments = 0;
  for (const LayoutKey& key : layout.keys) segments += key.segments.size();
  std::string buffer(16 + 16 * segments, '\0');
  Put16(&buffer, 0, layout.record_length);
  Put16(&buffer, 2, layout.page_size);
  Put16(&buffer, 4, static_cast<int>(layout.keys.size()));
  std::size_t at = 16;
  for (const LayoutKey& key : layout.keys) {
    for (std::size_t s = 0; s < key.segments.size(); ++s) {
      const LayoutSegment& segment = key.segments[s];
      const LayoutField& field = layout.fields[segment.field];
      int flags = 0;
      if (!key.unique) flags |= kKeyDuplicates;
      if (key.modifiable) flags |= kKeyModifiable;
      if (s + 1 < key.segments.size()) flags |= kKeySegmented;
      if (key.descending) flags |= kKeyDescending;
      if (key.no_case && field.type == FieldType::kText) flags |= kKeyNoCase;
      if (IsIntegerType(field.type)) {
        flags |= kKeyExtendedType;
        buffer[at + 10] = static_cast<char>(kExtendedInteger);
      }
      Put16(&buffer, at, field.offset + 1);
      Put16(&buffer, at + 2, segment.length);
      Put16(&buffer, at + 4, flags);
      at += 16;
    }
  }
  return buffer;
}

std::string DictionaryBytes(const FileLayout& layout) {
  std::string buffer = CreateBuffer(layout);
  std::string bytes(2, '\0');
  Put16(&bytes, 0, static_cast<int>(buffer.size()));
  return bytes + buffer;
}

}  // namespace kel
