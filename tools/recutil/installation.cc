#include "tools/recutil/installation.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kel {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool HasSqliteHeader(const fs::path& path) {
  static constexpr char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                       'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  char head[16] = {};
  std::ifstream in(path, std::ios::binary);
  return in.read(head, sizeof head) && std::equal(head, head + 16, kHeader);
}

// The regular files under `root` that `keep` accepts, sorted.
template <typename Keep>
std::vector<std::string> FilesUnder(const std::string& root, Keep keep) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    if (keep(it->path())) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '\\', '/');
  std::error_code ec;
  fs::path absolute = fs::absolute(text.empty() ? fs::path(".") : fs::path(text), ec);
  if (ec) return text;
  std::string out = absolute.lexically_normal().string();
  return out;
}

std::string RootFolder(const std::string& root) {
  std::string folder = AbsolutePath(root);
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

bool UnderRoot(const std::string& path, const std::string& root) {
  if (path.size() <= root.size()) return false;
  for (std::size_t i = 0; i < root.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) !=
        std::tolower(static_cast<unsigned char>(root[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> SqliteFilesUnder(const std::string& root) {
  return FilesUnder(root, [](const fs::path& path) {
    const std::string name = path.string();
    if (EndsWith(name, "-wal") || EndsWith(name, "-shm") || EndsWith(name, "-journal") ||
        EndsWith(name, "-locks")) {
      return false;
    }
    return HasSqliteHeader(path);
  });
}

bool IsSqliteFile(const std::string& path) { return HasSqliteHeader(path); }

std::vector<std::string> DatFilesUnder(const std::string& root) {
  return FilesUnder(root, [](const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".dat";
  });
}

}  // namespace kel
