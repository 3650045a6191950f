// The console tool's only door to the operating system: everything that
// differs between Windows and POSIX goes through here.
#pragma once

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

}  // namespace platform
