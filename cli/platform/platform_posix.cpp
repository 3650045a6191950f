#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace platform {

void enable_virtual_terminal() {}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

void sleep_ms(unsigned milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

bool local_time(std::time_t when, std::tm* out) { return localtime_r(&when, out) != nullptr; }

char path_separator() { return '/'; }

std::FILE* open_file(const char* path, const char* mode) { return std::fopen(path, mode); }

bool seek_file(std::FILE* file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool is_folder(const char* path) {
  struct stat info;
  return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Creates a new file "<prefix>XXXXXX" that did not exist before (O_CREAT|O_EXCL),
// so that no link or file planted under a guessable name is followed or
// overwritten. The descriptor, or -1; `name` receives the name.
int create_unique(const std::string& prefix, std::string* name) {
  *name = prefix + "XXXXXX";
  const int fd = mkostemp(name->data(), O_CLOEXEC);
  if (fd < 0) return -1;
  // mkostemp makes the file private; a backup is an ordinary file of the user's.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return fd;
}

bool write_all(int fd, const uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, data, count);
    if (n < 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool is_writable_folder(const char* path) {
  struct stat info;
  if (!path || stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  // Permission bits do not tell (a read-only mount, /proc): only creating a file does.
  std::string probe;
  const int fd = create_unique(std::string(path) + "/.varnu-probe.", &probe);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool write_file_replacing(const char* path, const uint8_t* data, std::size_t count) {
  std::string temporary;
  const int fd = create_unique(std::string(path) + ".partial.", &temporary);
  if (fd < 0) return false;
  const bool written = write_all(fd, data, count);
  if (close(fd) != 0 || !written || std::rename(temporary.c_str(), path) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool file_size(std::FILE* file, uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

int lock_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void unlock_file(int handle) {
  if (handle >= 0) close(handle);
}

std::string make_temporary_folder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnu-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::FILE* open_null_output() { return std::fopen("/dev/null", "w"); }

std::string executable_path() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 && static_cast<std::size_t>(length) < sizeof path ? std::string(path, static_cast<std::size_t>(length))
                                                                       : std::string();
}

int run_command(const std::string& command, const std::vector<std::string>& environment) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
