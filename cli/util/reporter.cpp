#include "util/reporter.h"

#include <cstdarg>

void report(const Reporter& reporter, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(reporter.out, format, args);
  va_end(args);
}

void report_error(const Reporter& reporter, const char* format, ...) {
  std::fflush(reporter.out);
  va_list args;
  va_start(args, format);
  std::vfprintf(reporter.err, format, args);
  va_end(args);
}

void report_document(const Reporter& reporter, std::string_view json) {
  std::fflush(reporter.out);
  std::fwrite(json.data(), 1, json.size(), reporter.document);
}
