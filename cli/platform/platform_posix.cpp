#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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
// async-signal-safe calls; they are filled while interrupts are deferred.
struct Tracked {
  volatile std::sig_atomic_t active = 0;
  char path[4096];
};
Tracked g_tracked[4];

int g_deferred = 0;  // nesting depth of InterruptsDeferred
sigset_t g_mask_before;

sigset_t interrupt_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// A slot for `path`, or -1 when none is free or the path is too long (it is
// then left behind by an interrupt, as before). Call with interrupts deferred.
int track(const std::string& path) {
  for (int slot = 0; slot < static_cast<int>(std::size(g_tracked)); ++slot) {
    Tracked& tracked = g_tracked[slot];
    if (tracked.active || path.size() >= sizeof tracked.path) continue;
    std::memcpy(tracked.path, path.c_str(), path.size() + 1);
    tracked.active = 1;
    return slot;
  }
  return -1;
}

void untrack(int slot) {
  if (slot >= 0) g_tracked[slot].active = 0;
}

extern "C" void end_on_interrupt(int signal) {
  for (Tracked& tracked : g_tracked)
    if (tracked.active) unlink(tracked.path);
  static const char kLine[] = "varnu-cli: interrupted; temporary files removed.\n";
  if (write(STDERR_FILENO, kLine, sizeof kLine - 1) < 0) {
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

void end_run_on_interrupt() {
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
  if (g_deferred++ > 0) return;
  const sigset_t signals = interrupt_signals();
  sigprocmask(SIG_BLOCK, &signals, &g_mask_before);
}

InterruptsDeferred::~InterruptsDeferred() {
  if (--g_deferred == 0) sigprocmask(SIG_SETMASK, &g_mask_before, nullptr);
}

}  // namespace platform
