#include "tools/mkinstall/rows.h"

#include <cstring>

#include "tools/mkinstall/field_codec.h"

namespace kel {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void SplitCells(std::string_view line, std::vector<std::string>* cells) {
  while (true) {
    std::size_t bar = line.find('|');
    cells->emplace_back(TrimBlanks(line.substr(0, bar)));
    if (bar == std::string_view::npos) return;
    line.remove_prefix(bar + 1);
  }
}

struct Row {
  int line = 0;
  std::vector<std::string> cells;
};

std::string AtLine(int line) { return "line " + std::to_string(line) + ": "; }

bool Encode(const FileLayout& layout, const std::vector<int>& column_field, const Row& row,
            std::string* record, std::string* error) {
  record->assign(layout.record_length, '\0');
  std::vector<const std::string*> value_of(layout.fields.size(), nullptr);
  for (std::size_t c = 0; c < column_field.size(); ++c) {
    if (!row.cells[c].empty()) value_of[column_field[c]] = &row.cells[c];
  }
  // Plain fields first, copies afterwards, so a copy sees its source's bytes.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      const LayoutField& field = layout.fields[f];
      bool copies = !field.copy_of.empty() && value_of[f] == nullptr;
      if (copies != (pass == 1)) continue;
      char* out = record->data() + field.offset;
      if (copies) {
        const LayoutField& source = layout.fields[layout.FieldIndex(field.copy_of)];
        std::memcpy(out, record->data() + source.offset, field.width);
        continue;
      }
      std::string why;
      std::string_view value =
          value_of[f] ? std::string_view(*value_of[f]) : std::string_view(field.default_value);
      if (!EncodeField(field, value, out, &why)) {
        *error = AtLine(row.line) + field.name + ": " + why;
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool BuildRecords(const FileLayout& layout, std::string_view text,
                  std::vector<std::string>* records, std::string* error) {
  records->clear();
  std::vector<std::string> header;
  int header_line = 0;
  std::vector<Row> rows;
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#') continue;
    if (header.empty()) {
      SplitCells(content, &header);
      header_line = number;
    } else if (content.front() == '|') {
      if (rows.empty()) {
        *error = AtLine(number) + "a continuation line stands before the first row";
        return false;
      }
      SplitCells(content.substr(1), &rows.back().cells);
    } else {
      rows.push_back(Row{number, {}});
      SplitCells(content, &rows.back().cells);
    }
  }
  if (header.empty() || rows.empty()) {
    *error = "no header and rows";
    return false;
  }
  std::vector<int> column_field;
  for (const std::string& name : header) {
    int field = layout.FieldIndex(name);
    if (field < 0) {
      *error = AtLine(header_line) + "no field " + name + " in " + layout.name;
      return false;
    }
    for (int earlier : column_field) {
      if (earlier == field) {
        *error = AtLine(header_line) + "column " + name + " twice";
        return false;
      }
    }
    column_field.push_back(field);
  }
  records->reserve(rows.size());
  for (const Row& row : rows) {
    if (row.cells.size() != header.size()) {
      *error = AtLine(row.line) + "the row has " + std::to_string(row.cells.size()) +
               " cells; the header names " + std::to_string(header.size());
      return false;
    }
    std::string record;
    if (!Encode(layout, column_field, row, &record, error)) return false;
    records->push_back(std::move(record));
  }
  return true;
}

}  // namespace kel
