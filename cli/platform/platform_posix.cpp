#include <unistd.h>

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

}  // namespace platform
