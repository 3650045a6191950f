#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
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

void ignore_broken_pipes() { std::signal(SIGPIPE, SIG_IGN); }

std::FILE* open_descriptor_for_writing(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return nullptr;
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return nullptr;
  std::FILE* stream = fdopen(copy, "w");
  if (!stream) close(copy);
  return stream;
}

bool seek_file(std::FILE* file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool is_folder(const char* path) {
  struct stat info;
  return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// The temporaries an interrupt removes. The handler only reads these, with
// async-signal-safe calls; a slot is claimed atomically, so threads may track
// at once, and counts for the handler only once its path is complete.
enum : std::sig_atomic_t { kFree, kClaimed, kActive };
struct Tracked {
  std::atomic<std::sig_atomic_t> state = kFree;
  char path[4096];
};
Tracked g_tracked[8];
char g_interrupt_line[160] = "interrupted; temporary files removed.\n";

thread_local int t_deferred = 0;  // nesting depth of InterruptsDeferred in this thread
thread_local sigset_t t_mask_before;

sigset_t interrupt_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// A slot for `path`, or -1 when none is free or the path is too long (it is
// then left behind by an interrupt, as before).
int track(const std::string& path) {
  for (int slot = 0; slot < static_cast<int>(std::size(g_tracked)); ++slot) {
    Tracked& tracked = g_tracked[slot];
    std::sig_atomic_t expected = kFree;
    if (path.size() >= sizeof tracked.path || !tracked.state.compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(tracked.path, path.c_str(), path.size() + 1);
    tracked.state = kActive;
    return slot;
  }
  return -1;
}

void untrack(int slot) {
  if (slot >= 0) g_tracked[slot].state = kFree;
}

extern "C" void end_on_interrupt(int signal) {
  // Files first, so that the folders they were in are empty by the second pass.
  for (Tracked& tracked : g_tracked)
    if (tracked.state == kActive) unlink(tracked.path);
  for (Tracked& tracked : g_tracked)
    if (tracked.state == kActive) rmdir(tracked.path);
  if (write(STDERR_FILENO, g_interrupt_line, std::strlen(g_interrupt_line)) < 0) {
    // Nothing more can be said.
  }
  _exit(128 + signal);
}

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
  const InterruptsDeferred deferred;
  std::string probe;
  const int fd = create_unique(std::string(path) + "/.varnu-probe.", &probe);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool write_file_replacing(const char* path, const uint8_t* data, std::size_t count) {
  std::string temporary;
  int fd = -1, slot = -1;
  {
    const InterruptsDeferred deferred;
    fd = create_unique(std::string(path) + ".partial.", &temporary);
    if (fd < 0) return false;
    slot = track(temporary);
    // An installer's private file stays private once replaced.
    struct stat replaced;
    if (stat(path, &replaced) == 0 && S_ISREG(replaced.st_mode)) fchmod(fd, replaced.st_mode & 07777);
  }
  const bool written = write_all(fd, data, count);
  const InterruptsDeferred deferred;
  const bool replaced = close(fd) == 0 && written && std::rename(temporary.c_str(), path) == 0;
  if (!replaced) unlink(temporary.c_str());
  untrack(slot);
  return replaced;
}

bool file_size(std::FILE* file, uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

int lock_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return -2;
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

FileOpen open_regular_file(const char* path, std::FILE** file) {
  *file = nullptr;
  if (!path) return FileOpen::Missing;
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileOpen::Missing : FileOpen::Failed;
  struct stat info;
  const bool known = fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    close(fd);
    return known ? FileOpen::NotRegular : FileOpen::Failed;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return FileOpen::Failed;
  }
  *file = fdopen(fd, "rb");
  if (!*file) {
    close(fd);
    return FileOpen::Failed;
  }
  return FileOpen::Opened;
}

PathKind path_kind(const char* path) {
  struct stat info;
  if (!path || stat(path, &info) != 0) return PathKind::Missing;
  if (S_ISREG(info.st_mode)) return PathKind::Regular;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::Other;
}

std::optional<std::string> canonical_path(const char* path) {
  if (!path || !*path) return std::nullopt;
  if (char* resolved = realpath(path, nullptr)) {
    std::string out(resolved);
    std::free(resolved);
    return out;
  }
  const std::string text(path);
  const std::size_t cut = text.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : text.substr(0, cut);
  const std::string name = cut == std::string::npos ? text : text.substr(cut + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  char* resolved = realpath(folder.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string out(resolved);
  std::free(resolved);
  return (out == "/" ? out : out + "/") + name;
}

bool same_file(const char* a, const char* b) {
  struct stat first, second;
  return a && b && stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

void end_run_on_interrupt(const char* program) {
  std::snprintf(g_interrupt_line, sizeof g_interrupt_line, "%s: interrupted; temporary files removed.\n", program);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action = {};
    action.sa_handler = end_on_interrupt;
    action.sa_mask = interrupt_signals();
    sigaction(signal, &action, nullptr);
  }
}

InterruptsDeferred::InterruptsDeferred() {
  if (t_deferred++ > 0) return;
  const sigset_t signals = interrupt_signals();
  pthread_sigmask(SIG_BLOCK, &signals, &t_mask_before);
}

InterruptsDeferred::~InterruptsDeferred() {
  if (--t_deferred == 0) pthread_sigmask(SIG_SETMASK, &t_mask_before, nullptr);
}

RemovedOnInterrupt::RemovedOnInterrupt(const std::string& path) : slot_(track(path)) {}

RemovedOnInterrupt::~RemovedOnInterrupt() { untrack(slot_); }

}  // namespace platform
