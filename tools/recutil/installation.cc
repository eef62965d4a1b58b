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
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().string();
    if (EndsWith(name, "-wal") || EndsWith(name, "-shm") || EndsWith(name, "-journal") ||
        EndsWith(name, "-locks")) {
      continue;
    }
    if (HasSqliteHeader(it->path())) files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace kel
