// The console tool's only door to the operating system: everything that
// differs between Windows and POSIX goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Lets the console interpret ANSI colour sequences (Windows needs a mode bit; POSIX terminals already do).
void enable_virtual_terminal();
// True when standard output is an interactive terminal.
bool stdout_is_terminal();
void sleep_ms(unsigned milliseconds);
// Local broken-down time of `when`; false when it cannot be converted.
bool local_time(std::time_t when, std::tm* out);
// The platform's folder separator.
char path_separator();

// Opens a file with a C stdio mode ("rb", "wb", "ab"); nullptr when it cannot.
std::FILE* open_file(const char* path, const char* mode);
// A stream writing to a copy of the open descriptor `fd` (the caller's stays
// open); nullptr when `fd` is not open for writing.
std::FILE* open_descriptor_for_writing(int fd);
// A write to a pipe nobody reads fails instead of ending the process.
void ignore_broken_pipes();
// Moves an open file to an absolute byte offset; false when it cannot.
bool seek_file(std::FILE* file, uint64_t position);
// True when `path` names an existing folder.
bool is_folder(const char* path);
// True when `path` is an existing folder in which a file could just be created.
bool is_writable_folder(const char* path);
// Writes `count` bytes as the file `path`, replacing an existing one only once
// every byte is written: a new temporary of a name nobody could plant is made
// beside it and renamed. Links are never followed. A file replaced keeps its
// permissions. False on failure.
bool write_file_replacing(const char* path, const uint8_t* data, std::size_t count);
// Size in bytes of an open file; false when it cannot be told.
bool file_size(std::FILE* file, uint64_t* size);
// Takes an exclusive lock on the file `path` (created when missing), held
// until unlock_file or the end of the process, whichever comes first, so a
// crashed run leaves no lock behind. A handle, -1 when another process
// holds it, or -2 when the file cannot be made.
int lock_file(const std::string& path);
void unlock_file(int handle);
// A new empty folder of an unguessable name among the temporary files; empty when none could be made.
std::string make_temporary_folder();
// A stream that takes any output and keeps none; nullptr when it cannot be opened.
std::FILE* open_null_output();
// The full path of the running program; empty when it cannot be told.
std::string executable_path();
// Runs `command` through the system's command interpreter with `environment`
// ("NAME=value" each) added to the program's own; its exit status, or -1.
int run_command(const std::string& command, const std::vector<std::string>& environment);

// ---- Files taken from the user --------------------------------------------

enum class FileOpen {
  Opened,
  Missing,     // nothing of that name
  NotRegular,  // a folder, FIFO, device or socket: refused without waiting for it
  Failed,      // it exists but cannot be opened
};
// Opens an existing regular file for reading ("rb"). A FIFO or device is never
// waited on: it is opened without blocking and refused on what it is.
FileOpen open_regular_file(const char* path, std::FILE** file);

// What is at a path, the last link followed.
enum class PathKind { Missing, Regular, Folder, Other };
PathKind path_kind(const char* path);
// The path made absolute with every link, "." and ".." resolved; for a
// missing last part, its folder resolved and the name appended. None when
// the folder cannot be resolved.
std::optional<std::string> canonical_path(const char* path);
// True when both paths exist and name the same file (device and inode).
bool same_file(const char* a, const char* b);

// From now on an interrupt (SIGINT, SIGTERM) ends the run at once with status
// 128 + signal and the line "<program>: interrupted; temporary files
// removed.", after removing the temporaries write_file_replacing has open and
// those marked RemovedOnInterrupt. An interrupt that was ignored when the run
// started stays ignored.
void end_run_on_interrupt(const char* program);

// While one exists, interrupts wait and take effect when the last one ends:
// for steps that make and remove temporaries of names nobody else knows.
// It holds for the calling thread and the threads it starts meanwhile, which
// then never take an interrupt themselves (the thread that started them does).
class InterruptsDeferred {
 public:
  InterruptsDeferred();
  ~InterruptsDeferred();
  InterruptsDeferred(const InterruptsDeferred&) = delete;
  InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;
};

// While it exists, an interrupt that ends the run also removes `path`: a
// file, or a folder once the files in it are gone. Removing it in the
// ordinary way stays its owner's job. Make the temporary and mark it under one
// InterruptsDeferred, or an interrupt between the two leaves it behind.
class RemovedOnInterrupt {
 public:
  explicit RemovedOnInterrupt(const std::string& path);
  ~RemovedOnInterrupt();
  RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
  RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;

 private:
  int slot_;
};

}  // namespace platform
