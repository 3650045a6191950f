#include "http_server.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace httpserver {

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

bool inside(const std::string& root, const std::string& real) {
  if (real.compare(0, root.size(), root) != 0) return false;
  // "/srv/http-other" shares the prefix of "/srv/http" but is not inside it.
  return real.size() == root.size() || real[root.size()] == '/' || root == "/";
}

}  // namespace

int resolve_request_path(const std::string& root, const std::string& path, std::string& file) {
  if (path.empty() || path[0] != '/') return path_malformed;
  if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) return path_malformed;

  // Browsers remove dot segments before they send a path; only hand-made requests keep them.
  std::string candidate = root;
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return path_malformed;
    if (!segment.empty()) candidate += "/" + segment;
    start = end + 1;
  }
  if (path.back() == '/') candidate += "/index.html";

  std::unique_ptr<char, FreeDeleter> real(realpath(candidate.c_str(), nullptr));
  if (!real || !inside(root, real.get())) return path_not_found;
  struct stat info{};
  // Only regular files: a directory is never listed, and a FIFO or device would block or leak.
  if (stat(real.get(), &info) != 0 || !S_ISREG(info.st_mode)) return path_not_found;
  file = real.get();
  return path_file;
}

}  // namespace httpserver
