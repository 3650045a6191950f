// The one output path of a run: progress and results on standard output,
// complaints on standard error. Standard output is flushed before every
// standard-error line, here and nowhere else in the actions, so that the two
// keep their order on a shared console or file.
#pragma once

#include <cstdio>
#include <string_view>

struct EventLog;

struct Reporter {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // The machine-readable account of the run (--events); none when nullptr.
  EventLog* events = nullptr;
  // Where an action's one JSON document goes (--json); the human lines then
  // go to standard error, so that this stream holds the document alone.
  std::FILE* document = stdout;
};

// printf-style text on the reporter's standard output.
void report(const Reporter& reporter, const char* format, ...) __attribute__((format(printf, 2, 3)));
// printf-style text on its standard error, after standard output is flushed.
void report_error(const Reporter& reporter, const char* format, ...) __attribute__((format(printf, 2, 3)));
// An action's JSON document, written as it is (it ends with its line end).
void report_document(const Reporter& reporter, std::string_view json);
