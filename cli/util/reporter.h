// The one output path of a run: progress and results on standard output,
// complaints on standard error. Standard output is flushed before every
// standard-error line, here and nowhere else in the actions, so that the two
// keep their order on a shared console or file.
#pragma once

#include <cstdio>

struct Reporter {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// printf-style text on the reporter's standard output.
void report(const Reporter& reporter, const char* format, ...) __attribute__((format(printf, 2, 3)));
// printf-style text on its standard error, after standard output is flushed.
void report_error(const Reporter& reporter, const char* format, ...) __attribute__((format(printf, 2, 3)));
