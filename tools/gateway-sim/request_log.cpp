#include <cstdarg>

#include "gateway.h"

namespace sim {

bool RequestLog::open(const std::string& path) {
  if (path.empty()) return true;
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return false;
  file_ = file;
  return true;
}

void RequestLog::write(const char* format, ...) {
  std::lock_guard<std::mutex> lock(mutex_);
  va_list args;
  va_start(args, format);
  std::vfprintf(file_, format, args);
  va_end(args);
  std::fputc('\n', file_);
  // Tests read the log while the stand-in runs.
  std::fflush(file_);
}

RequestLog::~RequestLog() {
  if (file_ != stderr) std::fclose(file_);
}

}  // namespace sim
