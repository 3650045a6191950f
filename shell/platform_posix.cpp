#include "platform.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

extern char** environ;

namespace shell_platform {

namespace {

// Target of a symbolic link such as /proc/PID/exe; empty when unreadable.
std::string read_link(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = readlink(path.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
  target.resize(static_cast<std::size_t>(n));
  return target;
}

std::string proc_path(uint32_t pid, const char* entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

bool parse_pid(const char* text, uint32_t* pid) {
  if (*text == '\0') return false;
  unsigned long value = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
    if (value > UINT32_MAX) return false;
  }
  *pid = static_cast<uint32_t>(value);
  return true;
}

// A process counts as gone once it has exited, even while it waits to be reaped
// by a parent other than us; our own children are reaped here.
bool process_gone(uint32_t pid) {
  waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
  std::ifstream stat(proc_path(pid, "stat"));
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos || name_end + 2 >= line.size()) return true;
  const char state = line[name_end + 2];
  return state == 'Z' || state == 'X';
}

timespec monotonic_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

long elapsed_ms(const timespec& since) {
  const timespec now = monotonic_now();
  return (now.tv_sec - since.tv_sec) * 1000L + (now.tv_nsec - since.tv_nsec) / 1000000L;
}

void nap_ms(long milliseconds) {
  timespec ts{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool wait_until_gone(uint32_t pid, unsigned wait_ms) {
  const timespec start = monotonic_now();
  while (!process_gone(pid)) {
    if (elapsed_ms(start) >= static_cast<long>(wait_ms)) return false;
    nap_ms(10);
  }
  return true;
}

bool accepts_connection(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

int signal_pipe[2] = {-1, -1};

void on_termination_signal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

std::string executable_path() { return read_link("/proc/self/exe"); }

std::vector<ProcessEntry> process_snapshot() {
  std::vector<ProcessEntry> processes;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return processes;
  while (const dirent* entry = readdir(proc.get())) {
    uint32_t pid = 0;
    if (!parse_pid(entry->d_name, &pid)) continue;
    const std::string exe = read_link(proc_path(pid, "exe"));
    if (exe.empty()) continue;
    processes.push_back({pid, exe.substr(exe.rfind('/') + 1)});
  }
  std::sort(processes.begin(), processes.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return processes;
}

bool start_hidden(const std::string& program, const std::string& folder,
                  const std::vector<std::string>& extra_environment) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // The server must not inherit the shell's signal mask or ignored signals.
  sigset_t empty, all;
  sigemptyset(&empty);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &empty);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string argument0 = program;
  char* argv[] = {argument0.data(), nullptr};
  std::vector<std::string> entries = extra_environment;
  std::vector<char*> environment;
  for (std::string& entry : entries) environment.push_back(entry.data());
  for (char** entry = environ; *entry; ++entry) environment.push_back(*entry);
  environment.push_back(nullptr);
  pid_t pid = 0;
  const int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environment.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result == 0;
}

bool same_user(uint32_t pid) {
  struct stat info;
  return stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0 && info.st_uid == geteuid();
}

bool terminate_process(uint32_t pid, unsigned wait_ms) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return false;
  if (kill(static_cast<pid_t>(pid), SIGTERM) != 0) return process_gone(pid);
  if (wait_until_gone(pid, wait_ms)) return true;
  kill(static_cast<pid_t>(pid), SIGKILL);
  return wait_until_gone(pid, 1000);
}

namespace {

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

bool wait_for_loopback_port(uint16_t port, unsigned timeout_ms) {
  const timespec start = monotonic_now();
  while (!accepts_connection(port)) {
    if (elapsed_ms(start) >= static_cast<long>(timeout_ms)) return false;
    nap_ms(20);
  }
  return true;
}

std::optional<std::string> loopback_http_get(uint16_t port, const std::string& target, unsigned timeout_ms) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  const std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) { close(*f); });
  timeval limit{static_cast<time_t>(timeout_ms / 1000), static_cast<suseconds_t>(timeout_ms % 1000 * 1000)};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return std::nullopt;
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    return std::nullopt;
  // An answer bigger than this is not the small one we ask for.
  constexpr std::size_t kMaxAnswer = 65536;
  std::string answer;
  char buffer[4096];
  const timespec start = monotonic_now();
  while (answer.size() <= kMaxAnswer && elapsed_ms(start) < static_cast<long>(timeout_ms)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t head_end = answer.find("\r\n\r\n");
  if (head_end == std::string::npos || answer.compare(0, 13, "HTTP/1.1 200 ") != 0) return std::nullopt;
  return answer.substr(head_end + 4);
}

std::string random_hex(std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t n = getrandom(bytes.data() + filled, count - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    filled += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (char c : bytes) {
    hex += kHex[static_cast<unsigned char>(c) >> 4];
    hex += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return hex;
}

bool write_private_file(const std::string& path, const std::string& text) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool written = fchmod(fd, 0600) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool open_in_system_browser(const std::string& url) {
  const char* chosen = std::getenv("VARNKIT_SYSTEM_BROWSER");
  std::string program = chosen && *chosen ? chosen : "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  pid_t pid = 0;
  const int result = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  // The opener hands the URL over and ends; a thread reaps it so that no zombie stays.
  if (result == 0) std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return result == 0;
}

bool running_as_root() { return geteuid() == 0; }

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
