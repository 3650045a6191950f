#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "server_loop.h"

namespace httpserver {

Descriptor::~Descriptor() {
  if (fd_ >= 0) close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int Descriptor::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

namespace {

const std::string rotated_name = std::string(access_log_name) + ".1";

// Owned by us and closed to everyone else; an existing folder or file of ours is tightened.
bool private_to_us(int fd, mode_t mode, std::string& error) {
  struct stat info{};
  if (fstat(fd, &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (info.st_uid != geteuid()) {
    error = "it belongs to another account";
    return false;
  }
  if ((info.st_mode & 07777) != mode && fchmod(fd, mode) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

// Creates the missing folders of `path` 0700 (like mkdir -p), then opens its
// last one without following a link there.
Descriptor open_private_folder(const std::string& path, std::string& error) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  for (std::size_t slash = trimmed.find('/', 1); slash != std::string::npos; slash = trimmed.find('/', slash + 1)) {
    mkdir(trimmed.substr(0, slash).c_str(), 0700);
  }
  std::size_t last = trimmed.rfind('/');
  std::string parent = last == std::string::npos ? "." : last == 0 ? "/" : trimmed.substr(0, last);
  std::string name = last == std::string::npos ? trimmed : trimmed.substr(last + 1);
  Descriptor parent_fd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent_fd) {
    error = std::strerror(errno);
    return Descriptor();
  }
  if (mkdirat(parent_fd.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
    error = std::strerror(errno);
    return Descriptor();
  }
  Descriptor folder(openat(parent_fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    error = errno == ELOOP || errno == ENOTDIR ? "it is not a folder (a symbolic link or a file)" : std::strerror(errno);
    return Descriptor();
  }
  if (!private_to_us(folder.get(), 0700, error)) return Descriptor();
  return folder;
}

}  // namespace

bool AccessLog::open(const std::string& folder, std::size_t max_size, std::string& error) {
  max_size_ = max_size;
  folder_ = open_private_folder(folder, error);
  return folder_ && open_file(error);
}

bool AccessLog::open_file(std::string& error) {
  file_ = Descriptor(openat(folder_.get(), access_log_name, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file_) {
    error = errno == ELOOP ? std::string(access_log_name) + " is a symbolic link" : std::strerror(errno);
    return false;
  }
  struct stat info{};
  if (fstat(file_.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = std::string(access_log_name) + " is not a regular file";
    file_ = Descriptor();
    return false;
  }
  if (!private_to_us(file_.get(), 0600, error)) {
    file_ = Descriptor();
    return false;
  }
  size_ = static_cast<std::size_t>(info.st_size);
  return true;
}

void AccessLog::write(const std::string& line) {
  if (file_ && size_ > 0 && size_ + line.size() > max_size_) {
    std::string error;
    // The rename replaces the older file (or a link someone left in its place) and follows nothing.
    if (renameat(folder_.get(), access_log_name, folder_.get(), rotated_name.c_str()) != 0 || !open_file(error)) {
      std::fprintf(stderr, "varnkit-http-server: access log stopped: %s\n", error.empty() ? std::strerror(errno) : error.c_str());
      file_ = Descriptor();
    }
  }
  // One write per line keeps each line whole.
  if (!file_) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    return;
  }
  ssize_t written = ::write(file_.get(), line.data(), line.size());
  if (written > 0) size_ += static_cast<std::size_t>(written);
}

}  // namespace httpserver
