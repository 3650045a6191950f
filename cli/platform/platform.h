// The console tool's only door to the operating system: everything that
// differs between Windows and POSIX goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

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
// beside it and renamed. Links are never followed. False on failure.
bool write_file_replacing(const char* path, const uint8_t* data, std::size_t count);
// Size in bytes of an open file; false when it cannot be told.
bool file_size(std::FILE* file, uint64_t* size);

}  // namespace platform
