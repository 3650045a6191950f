#include "app/platform.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace shell_platform {

namespace {

int signal_pipe[2] = {-1, -1};

void on_termination_signal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved;
}

// $`variable` when it is an absolute path, else the home folder + `fallback`; empty without a home folder.
std::string xdg_home(const char* variable, const char* fallback) {
  const char* xdg = std::getenv(variable);
  if (xdg && xdg[0] == '/') return xdg;
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    home = env;
  } else {
    std::string buffer(16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
      home = found->pw_dir;
  }
  if (home.empty()) return {};
  return home + fallback;
}

}  // namespace

std::string user_data_home() { return xdg_home("XDG_DATA_HOME", "/.local/share"); }

std::string user_state_home() { return xdg_home("XDG_STATE_HOME", "/.local/state"); }

bool make_private_folder(const std::string& parent, const std::string& name) {
  if (parent.empty() || parent[0] != '/' || name.empty() || name.find('/') != std::string::npos) return false;
  for (std::size_t slash = parent.find('/', 1);; slash = parent.find('/', slash + 1)) {
    if (mkdir(parent.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  const std::string path = parent + "/" + name;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  // Opened without following a link, so the checks and the mode apply to the folder itself.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  const bool ours = fstat(fd, &info) == 0 && info.st_uid == geteuid() && fchmod(fd, 0700) == 0;
  close(fd);
  return ours;
}

int create_private_file(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0 && fchmod(fd, 0600) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void detach_child() {
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) signal(signal_number, SIG_DFL);
}

bool running_as_root() { return geteuid() == 0; }

bool make_events_pipe(int& read_fd, int& write_fd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
  read_fd = ends[0];
  write_fd = ends[1];
  return true;
}

void keep_open_in_child(int fd) { fcntl(fd, F_SETFD, 0); }

std::string read_available(int fd, bool& ended) {
  std::string data;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      data.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      ended = got == 0 || errno != EAGAIN;
      return data;
    }
  }
}

void close_descriptor(int fd) {
  if (fd >= 0) close(fd);
}

int termination_signal_fd() {
  if (signal_pipe[0] >= 0) return signal_pipe[0];
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  struct sigaction action{};
  action.sa_handler = on_termination_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  return signal_pipe[0];
}

}  // namespace shell_platform
