#include "tools/mkinstall/installer.h"

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "recman/recman.h"
#include "tools/mkinstall/field_codec.h"
#include "tools/mkinstall/layout.h"
#include "tools/mkinstall/sample_data.h"
#include "tools/mkinstall/sample_sources.h"
#include "tools/mkinstall/scale.h"
#include "tools/mkinstall/text_files.h"
#include "util/cp850.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTreePrefix = "tree/";

struct TreeFile {
  std::string relative;  // "TERM01/Sessio.ini"
  std::string bytes;     // as installed
};

// "TERM01/Sessio.ini" -> "TERM01\Sessio.ini": the system's own separator.
std::string SystemRelative(std::string_view relative) {
  std::string out(relative);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string StatusMessage(std::int16_t status) {
  return "status " + std::to_string(status) + " (" + StatusText(status) + ")";
}

bool WriteWholeFile(const std::string& system_path, std::string_view bytes, std::string* error) {
  File file;
  if (OpenFile(system_path, FileAccess::kWriteTruncate, FileShare::kShared, &file) !=
          FileResult::kOk ||
      !file.WriteAt(0, bytes.data(), bytes.size())) {
    *error = "cannot write " + Cp850ToUtf8(system_path);
    return false;
  }
  file.Close();
  return true;
}

// The directory's state before anything is written.
InstallStatus CheckTarget(const fs::path& root, bool force, std::string* error) {
  std::error_code ec;
  fs::file_status status = fs::status(root, ec);
  if (!fs::exists(status)) return InstallStatus::kOk;
  if (!fs::is_directory(status)) {
    *error = root.string() + " exists and is not a directory";
    return InstallStatus::kRefused;
  }
  if (fs::is_empty(root, ec) && !ec) return InstallStatus::kOk;
  if (!force) {
    *error = root.string() +
             " is not empty; give --force to overwrite an installation that mkinstall wrote";
    return InstallStatus::kRefused;
  }
  if (!fs::exists(root / kMarkerFile, ec)) {
    *error = root.string() + " holds files that mkinstall did not write (no " + kMarkerFile +
             "); it is left alone";
    return InstallStatus::kRefused;
  }
  return InstallStatus::kOk;
}

std::string MarkerText(const InstallOptions& options) {
  std::string records = options.records > 0 ? std::to_string(options.records) + " per data file"
                                            : std::string("the real rows of each data file");
  return "Sample KEL installation written by mkinstall.\r\n"
         "Records: " +
         records + "\r\nSeed: " + std::to_string(options.seed) +
         "\r\nmkinstall --force may overwrite this directory.\r\n";
}

// Creates one data file from its Create buffer and inserts `count` records.
bool WriteDataFile(const FileLayout& layout, const std::vector<std::string>& base,
                   const InstallOptions& options, const std::string& system_path,
                   std::int64_t count, std::string* error) {
  char position[kPositionBlockSize] = {};
  std::string path = system_path;
  std::string key(kMaxKeyLength + 1, '\0');
  std::string create = CreateBuffer(layout);
  auto fail = [&](const std::string& what, std::int16_t status) {
    *error = layout.logical_path + ": " + what + ": " + StatusMessage(status);
    return false;
  };
  // The path travels in the key buffer, ended by a zero byte; a length of
  // 0 tells the record manager to read up to that byte.
  std::string path_key = path + '\0';
  auto path_length = static_cast<std::uint8_t>(path.size() <= kMaxKeyLength ? path.size() : 0);
  std::uint32_t length = static_cast<std::uint32_t>(create.size());
  std::int16_t status = BTRCALL(kOpCreate, position, create.data(), &length, path_key.data(),
                                path_length, options.force ? kCreateReplace : kCreateNoReplace);
  if (status != kStatusOk) return fail("create", status);
  char owner[1] = {'\0'};
  length = 0;
  status = BTRCALL(kOpOpen, position, owner, &length, path_key.data(), path_length, kOpenNormal);
  if (status != kStatusOk) return fail("open", status);

  RecordScaler scaler(layout, base, count, options.seed);
  std::string record;
  std::int64_t written = 0;
  while (scaler.Next(&record)) {
    length = static_cast<std::uint32_t>(record.size());
    status = BTRCALL(kOpInsert, position, record.data(), &length, key.data(),
                     static_cast<std::uint8_t>(kMaxKeyLength), 0);
    if (status != kStatusOk) {
      length = 0;
      std::int16_t ignored = BTRCALL(kOpClose, position, owner, &length, owner, 0, 0);
      (void)ignored;  // the insert's status is the one to report
      return fail("record " + std::to_string(written + 1), status);
    }
    ++written;
  }
  length = 0;
  status = BTRCALL(kOpClose, position, owner, &length, owner, 0, 0);
  if (status != kStatusOk) return fail("close", status);
  return true;
}

}  // namespace

InstallStatus WriteInstallation(const InstallOptions& options, InstallReport* report,
                                std::string* error) {
  std::error_code ec;
  fs::path root = fs::absolute(fs::path(options.directory), ec).lexically_normal();
  if (ec || options.directory.empty()) {
    *error = "cannot make a path of \"" + options.directory + "\"";
    return InstallStatus::kRefused;
  }
  if (!root.has_filename()) root = root.parent_path();  // "dir/" names "dir"
  InstallStatus target = CheckTarget(root, options.force, error);
  if (target != InstallStatus::kOk) return target;

  report->root = root.string() + "/";
  report->terminal_dir = report->root + kTerminalDirName;
  std::string system_root;
  std::string why;
  if (!StrictUtf8ToCp850(report->root, &system_root, &why)) {
    *error = "the directory's name cannot be written in code page 850: " + why;
    return InstallStatus::kRefused;
  }

  // Everything is read and checked before the first byte is written.
  SampleData data;
  if (!LoadSampleData(&data, &why)) {
    *error = "sample sources: " + why;
    return InstallStatus::kFailed;
  }
  std::vector<std::int64_t> counts;
  for (std::size_t i = 0; i < data.layouts.size(); ++i) {
    std::int64_t count =
        options.records > 0 ? options.records : static_cast<std::int64_t>(data.records[i].size());
    if (!CheckScale(data.layouts[i], data.records[i], count, &why)) {
      *error = why;
      return InstallStatus::kRefused;
    }
    counts.push_back(count);
  }
  std::vector<TreeFile> tree;
  for (const SampleFile& file : SampleFiles()) {
    if (!file.path.starts_with(kTreePrefix)) continue;
    TreeFile converted{std::string(file.path.substr(kTreePrefix.size())), {}};
    if (!ConvertTreeFile(converted.relative, file.bytes, report->root, &converted.bytes, &why)) {
      *error = "sample sources: " + why;
      return InstallStatus::kFailed;
    }
    tree.push_back(std::move(converted));
  }

  // Directories: the root, then every directory a file will land in.
  fs::create_directories(root, ec);
  if (ec) {
    *error = "cannot create " + root.string() + ": " + ec.message();
    return InstallStatus::kFailed;
  }
  if (!WriteWholeFile(system_root + kMarkerFile, MarkerText(options), error)) {
    return InstallStatus::kFailed;
  }
  std::vector<std::string> directories = {"ddf", "LOCKS", kTerminalDirName};
  auto add_directory_of = [&](std::string_view relative, char separator) {
    std::size_t cut = relative.find_last_of(separator);
    if (cut != std::string_view::npos) directories.emplace_back(relative.substr(0, cut));
  };
  for (const TreeFile& file : tree) add_directory_of(file.relative, '/');
  for (const FileLayout& layout : data.layouts) add_directory_of(layout.logical_path, '\\');
  for (const std::string& directory : directories) {
    if (!MakeDirectory(system_root + SystemRelative(directory))) {
      *error = "cannot create " + report->root + directory;
      return InstallStatus::kFailed;
    }
  }

  for (const TreeFile& file : tree) {
    if (!WriteWholeFile(system_root + SystemRelative(file.relative), file.bytes, error)) {
      return InstallStatus::kFailed;
    }
  }
  for (const FileLayout& layout : data.layouts) {
    std::string path = system_root + "ddf\\" + layout.name + ".xdf";
    if (!WriteWholeFile(path, DictionaryBytes(layout), error)) return InstallStatus::kFailed;
  }
  for (std::size_t i = 0; i < data.layouts.size(); ++i) {
    const FileLayout& layout = data.layouts[i];
    std::string path = system_root + layout.logical_path + ".dat";
    if (!WriteDataFile(layout, data.records[i], options, path, counts[i], error)) {
      return InstallStatus::kFailed;
    }
    ++report->data_files;
    report->records += counts[i];
  }
  return InstallStatus::kOk;
}

}  // namespace kel
