#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <ctime>

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

bool seek_file(std::FILE* file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool is_folder(const char* path) {
  struct stat info;
  return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_writable_folder(const char* path) {
  struct stat info;
  return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, W_OK | X_OK) == 0;
}

bool write_file_replacing(const char* path, const uint8_t* data, std::size_t count) {
  const std::string temporary = std::string(path) + ".partial";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const bool written = (count == 0 || std::fwrite(data, 1, count, file) == count);
  if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), path) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool file_size(std::FILE* file, uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

}  // namespace platform
