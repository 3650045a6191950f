#include <cstdio>

#include "status/status.h"

int get_status(const char* ip) {
  if (!ip) {
    std::printf("Missing arguments for action get_status.");
    return 2;
  }
  std::fprintf(stderr, "get_status: not available yet\n");
  return 1;
}
